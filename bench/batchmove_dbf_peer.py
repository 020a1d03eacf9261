#!/usr/bin/python3
# The peer of a copy into a dBASE table: CSV on standard input (as psql \copy writes it)
# into a new table made by python3-dbf with the fields of an existing table, code page 932.
# Usage: batchmove_dbf_peer.py TEMPLATE.DBF OUT.DBF < rows.csv
import csv
import datetime
import sys

import dbf
import dbfread

template, out = sys.argv[1], sys.argv[2]
specs, kinds = [], []
for f in dbfread.DBF(template, encoding="cp932").fields:
    if f.type in "NF":
        specs.append("%s N(%d,%d)" % (f.name, f.length, f.decimal_count))
    elif f.type == "D":
        specs.append("%s D" % f.name)
    elif f.type == "L":
        specs.append("%s L" % f.name)
    else:
        specs.append("%s C(%d)" % (f.name, f.length))
    kinds.append(f.type)
table = dbf.Table(out, "; ".join(specs), codepage="cp932")
table.open(dbf.READ_WRITE)
for row in csv.reader(sys.stdin):
    values = []
    for kind, text in zip(kinds, row):
        if text == "":
            values.append(None)
        elif kind in "NF":
            values.append(float(text) if "." in text else int(text))
        elif kind == "D":
            values.append(datetime.date.fromisoformat(text))
        elif kind == "L":
            values.append(text in ("t", "true", "1"))
        else:
            values.append(text)
    table.append(tuple(values))
table.close()
