"""Loads every DBF of a folder, as python3-dbfread (an independent reader) sees it, into a
native SQLite database: one table per file, named by the file's stem, each column declared
with the type its field has (so that SQLite compares as it would on a native table). Dates
become ISO text, logicals 1/0, memos their text; a blank character field is NULL, which is
how the engine reads a field that dBASE cannot mark as null."""
import datetime
import pathlib
import sqlite3
import sys

from dbfread import DBF

folder, out = pathlib.Path(sys.argv[1]), sys.argv[2]
db = sqlite3.connect(out)
for path in sorted(folder.iterdir()):
    if path.suffix.upper() != ".DBF":
        continue
    table = DBF(str(path), encoding="cp932", char_decode_errors="strict", ignore_missing_memofile=False)
    name = path.stem.upper()
    cols = [f.name for f in table.fields]
    db.execute(f'DROP TABLE IF EXISTS "{name}"')
    kinds = {"C": "TEXT", "M": "TEXT", "D": "DATE", "L": "BOOLEAN", "F": "REAL", "B": "REAL", "I": "INTEGER"}
    def kind(f):
        if f.type == "N":
            return "INTEGER" if f.decimal_count == 0 else "REAL"
        return kinds.get(f.type, "")
    db.execute(f'CREATE TABLE "{name}" (' + ", ".join(f'"{f.name}" {kind(f)}' for f in table.fields) + ")")
    for rec in table:
        vals = []
        for v in rec.values():
            if isinstance(v, bool):
                v = int(v)
            elif isinstance(v, (datetime.date, datetime.datetime)):
                v = v.isoformat()
            elif v == "":
                v = None
            vals.append(v)
        db.execute(f'INSERT INTO "{name}" VALUES (' + ",".join("?" * len(cols)) + ")", vals)
    db.commit()
db.close()
