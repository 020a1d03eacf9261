"""The peer of bench_dbase_index posts: sqlite3 on the same data with the same three indexes,
one insert, one key-changing edit and one delete per transaction (autocommit), median ms.
Usage: dbase_index_peer.py DB POSTS [nosync]"""
import sqlite3
import sys
import time

path, posts = sys.argv[1], int(sys.argv[2])
con = sqlite3.connect(path, isolation_level=None)
if len(sys.argv) > 3 and sys.argv[3] == "nosync":
    con.execute("PRAGMA synchronous=OFF")
count = con.execute("SELECT count(*) FROM bench").fetchone()[0]
# Keys no earlier run has used: above the largest one in the table.
base = max(10000000, (con.execute("SELECT max(ID) FROM bench").fetchone()[0] or 0) + 1)


def median(v):
    v = sorted(v)
    return v[len(v) // 2]


ins, edit, dele = [], [], []
for i in range(posts):
    t = time.perf_counter()
    con.execute("INSERT INTO bench VALUES (?,?,?,?,?,?,?,?,?,?)",
                (base + i, "山田%d" % i, "ｶﾅ", "東京都", "港区", 30, 1.5, "2001-02-03", 1, "C0001"))
    ins.append((time.perf_counter() - t) * 1000)
    rowid = con.execute("SELECT rowid FROM bench LIMIT 1 OFFSET ?", ((i * 7919) % count,)).fetchone()[0]
    t = time.perf_counter()
    con.execute("UPDATE bench SET NAME=? WHERE rowid=?", ("変更%d" % i, rowid))
    edit.append((time.perf_counter() - t) * 1000)
    rowid = con.execute("SELECT rowid FROM bench LIMIT 1 OFFSET ?", ((i * 104729) % count,)).fetchone()[0]
    t = time.perf_counter()
    con.execute("DELETE FROM bench WHERE rowid=?", (rowid,))
    dele.append((time.perf_counter() - t) * 1000)
print("records %d: insert %.3f ms, key edit %.3f ms, delete %.3f ms (median of %d)"
      % (count, median(ins), median(edit), median(dele), posts))
