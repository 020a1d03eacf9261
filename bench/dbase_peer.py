"""The same operations as bench_dbase_ops, done by python3-dbfread, timed inside the process.
Usage: /usr/bin/python3 dbase_peer.py DIR open|last|count|filter|export [OUT.csv]"""
import csv
import resource
import sys
import time

from dbfread import DBF

path, op = sys.argv[1] + "/BENCH.DBF", sys.argv[2]
start = time.perf_counter()
table = DBF(path, load=False)
result = 0
if op == "open":
    for rec in table:
        result += 1
        if result == 50:
            break
elif op == "last":
    for rec in table:  # no random access: the last record is at the end of a full scan
        result = rec["ID"]
elif op == "count":
    result = len(table)
elif op == "filter":
    result = sum(1 for rec in table if rec["AGE"] == 42)
elif op == "export":
    with open(sys.argv[3], "w", newline="", encoding="utf-8") as out:
        w = csv.writer(out, lineterminator="\r\n")
        for rec in table:
            w.writerow(rec.values())
            result += 1
ms = (time.perf_counter() - start) * 1000
rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(f"{op} {ms:.1f} ms, max RSS {rss} KiB, result {result}")
