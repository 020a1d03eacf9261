"""Prints the record numbers (1-based) of the live records of a DBF sorted by the given
fields, read by python3-dbfread and sorted here: an order computed without the engine.
Character fields compare as their space-padded code page bytes, as dBASE indexes do."""
import sys

from dbfread import DBF

path, fields = sys.argv[1], sys.argv[2].split("+")
descending = len(sys.argv) > 3 and sys.argv[3] == "desc"
table = DBF(path, load=False)
info = {f.name: f for f in table.fields}
encoding = table.encoding
# dbfread yields live records only, in file order; pair them with their record numbers
# from the deletion flags.
with open(path, "rb") as raw:
    head = raw.read(32)
    count = int.from_bytes(head[4:8], "little")
    header_length = int.from_bytes(head[8:10], "little")
    record_length = int.from_bytes(head[10:12], "little")
    live_recnos = []
    for i in range(count):
        raw.seek(header_length + i * record_length)
        if raw.read(1) != b"*":
            live_recnos.append(i + 1)
keys = []
for recno, rec in zip(live_recnos, table):
    key = []
    for name in fields:
        f = info[name]
        v = rec[name]
        if f.type == "C":
            key.append((v or "").encode(encoding).ljust(f.length, b" "))
        elif f.type == "D":
            key.append(v.toordinal() if v else -1)
        else:
            key.append(v if v is not None else 0)
    keys.append((tuple(key), recno))
keys.sort(key=lambda k: k[0], reverse=descending)
for k, recno in keys:
    print(recno)
