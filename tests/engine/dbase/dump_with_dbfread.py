"""Prints every record of a DBF as python3-dbfread, an independent reader, sees it:
one line per record, values separated by '|', None as <null>."""
import sys

from dbfread import DBF

table = DBF(sys.argv[1], char_decode_errors="strict", ignore_missing_memofile=False)
print("FIELDS", "|".join(f"{f.name}:{f.type}:{f.length}:{f.decimal_count}" for f in table.fields))
for rec in table:
    out = []
    for v in rec.values():
        if v is None:
            out.append("<null>")
        elif isinstance(v, str):
            out.append(v.replace("\r\n", "\\n"))
        else:
            out.append(repr(v) if isinstance(v, float) else str(v))
    print("|".join(out))
print("DELETED", len(list(table.deleted)))
