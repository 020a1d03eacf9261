"""Writes DBF tables with python3-dbf, an independent writer, into the directory argv[1]."""
import datetime
import sys

import dbf

out = sys.argv[1]

ROWS = [
    ("山田太郎", 42, 1234.5, datetime.date(2024, 2, 29), True, "メモ：一行目\r\n二行目"),
    ("ｻﾄｳ ﾊﾅｺ", -7, -0.25, datetime.date(1999, 12, 31), False, ""),
    ("Smith", 0, 0.0, None, None, "plain memo " + "x" * 700),
]


def fill(table, rows):
    table.open(mode=dbf.READ_WRITE)
    for r in rows:
        table.append(r)
    table.close()


# dBASE III with a .DBT memo, Japanese code page.
t = dbf.Table(f"{out}/DB3MEMO.DBF", "NAME C(20); QTY N(5,0); PRICE N(10,2); DAY D; OK L; NOTE M",
              dbf_type="db3", codepage="cp932")
fill(t, ROWS)

# FoxPro 2 with an .FPT memo.
t = dbf.Table(f"{out}/FOXMEMO.DBF", "NAME C(20); QTY N(5,0); PRICE N(10,2); DAY D; OK L; NOTE M",
              dbf_type="fp", codepage="cp932")
fill(t, ROWS)

# Visual FoxPro with nullable fields and binary types.
t = dbf.Table(f"{out}/VFPNULL.DBF",
              "NAME C(20) NULL; QTY I NULL; AMT Y; RATE B; STAMP T NULL; NOTE M NULL",
              dbf_type="vfp", codepage="cp932")
t.open(mode=dbf.READ_WRITE)
t.append(("漢字", 5, 12.3456, 2.5, datetime.datetime(2023, 5, 6, 7, 8, 9), "vfp メモ"))
t.append((None, None, 0, -1.0, None, None))
t.close()

# A table with deleted records.
t = dbf.Table(f"{out}/DELETED.DBF", "N N(6,0)", dbf_type="db3")
t.open(mode=dbf.READ_WRITE)
for i in range(1, 11):
    t.append((i,))
for rec in t:
    if rec.n % 3 == 0:
        dbf.delete(rec)
t.close()
