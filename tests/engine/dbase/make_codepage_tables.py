"""Writes DBF tables in several code pages with python3-dbf, an independent writer, into the
directory argv[1], and prints what python3-dbfread reads back from each (file|value|value...)."""
import sys

import dbf
from dbfread import DBF

out = sys.argv[1]

TEXT = {
    "cp437": ["Über straße", "café ñandú", "½ ° ±"],
    "cp850": ["Ærøskøbing", "Ångström", "façade ÿ"],
    "cp1251": ["Привет мир", "Ёжик в тумане", "щука, №5"],
    "cp1252": ["naïve café", "€ 12,50", "Œuvre — “quoted”"],
}

for codepage, rows in TEXT.items():
    name = f"{out}/CP{codepage[2:]}.DBF"
    t = dbf.Table(name, "NAME C(30); QTY N(5,0); NOTE M", dbf_type="db3", codepage=codepage)
    t.open(mode=dbf.READ_WRITE)
    for i, r in enumerate(rows):
        t.append((r, i + 1, r + " / memo"))
    t.close()

# FoxPro 2 with an .FPT memo.
t = dbf.Table(f"{out}/FOX1252.DBF", "NAME C(20); NOTE M", dbf_type="fp", codepage="cp1252")
t.open(mode=dbf.READ_WRITE)
t.append(("Zürich", "See " * 40))
t.append(("Genève", "lac"))
t.close()

# Visual FoxPro without memo fields: version byte 0x30, table flags 0 (a 'B' field is a
# double there, not a memo).
t = dbf.Table(f"{out}/V7.DBF", "NAME C(10); PRICE B; QTY I", dbf_type="vfp", codepage="cp1252")
t.open(mode=dbf.READ_WRITE)
t.append(("widget", 2.5, 7))
t.append(("gadget", -1.25, -3))
t.close()

for name in sys.argv[2:]:
    table = DBF(f"{out}/{name}", char_decode_errors="strict", ignore_missing_memofile=True)
    for rec in table:
        print(name + "|" + "|".join("<null>" if v is None else str(v) for v in rec.values()))
