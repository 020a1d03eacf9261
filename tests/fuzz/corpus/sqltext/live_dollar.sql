SELECT $$x$$, a FROM t /* c */ -- d
