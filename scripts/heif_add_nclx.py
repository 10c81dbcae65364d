#!/usr/bin/env python3
"""Inserts a 'colr' box of type nclx (colour primaries, transfer characteristics,
matrix coefficients, full range) as a property of the only item of a small HEIC
written by libheif (boxes ftyp, meta, mdat; 'ipma' version 0), shifting the
item data offsets of 'iloc'. libheif 1.15 writes no such box itself. Made
tests/data/heif/good/made_p3.heic and questionable/made_pq.heic:
    python3 scripts/heif_add_nclx.py in.heic made_p3.heic 12 13 6
    python3 scripts/heif_add_nclx.py in.heic made_pq.heic 9 16 9
"""
import struct, sys
src, dst, prim, trc, mat = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:6])
b = bytearray(open(src, 'rb').read())
def boxes(start, end):
    out = []
    while start < end:
        size, kind = struct.unpack('>I4s', b[start:start+8]); out.append((start, size, kind)); start += size
    return out
top = {k: (s, z) for s, z, k in boxes(0, len(b))}
ms, mz = top[b'meta']
meta = {k: (s, z) for s, z, k in boxes(ms + 12, ms + mz)}
ps, pz = meta[b'iprp']
iprp = {k: (s, z) for s, z, k in boxes(ps + 8, ps + pz)}
cs, cz = iprp[b'ipco']; ts, tz = iprp[b'ipma']
count = len(boxes(cs + 8, cs + cz))
colr = struct.pack('>I4s4sHHHB', 19, b'colr', b'nclx', prim, trc, mat, 0x80)
# ipma: version 0, flags 0, one entry for item 1: add one 1-byte association.
version, flags = b[ts + 8], int.from_bytes(b[ts + 9:ts + 12], 'big')
assert version == 0 and flags & 1 == 0 and struct.unpack('>I', b[ts+12:ts+16])[0] == 1
n = b[ts + 18]
b[ts + 18] = n + 1
b[ts + 19 + n:ts + 19 + n] = bytes([count + 1])
struct.pack_into('>I', b, ts, tz + 1)
b[cs + cz:cs + cz] = colr
struct.pack_into('>I', b, cs, cz + 19)
struct.pack_into('>I', b, ps, pz + 20)
struct.pack_into('>I', b, ms, mz + 20)
# iloc (before iprp, so unmoved): shift every extent offset by 20.
ls, lz = meta[b'iloc']
v = b[ls + 8]; p = ls + 12
osz, lsz = b[p] >> 4, b[p] & 15; bsz, isz = b[p + 1] >> 4, b[p + 1] & 15; p += 2
items = struct.unpack('>H', b[p:p+2])[0] if v < 2 else struct.unpack('>I', b[p:p+4])[0]; p += 2 if v < 2 else 4
for _ in range(items):
    p += 2 if v < 2 else 4
    if v in (1, 2): p += 2
    p += 2
    base = int.from_bytes(b[p:p+bsz], 'big') if bsz else 0
    if bsz: b[p:p+bsz] = (base + 20).to_bytes(bsz, 'big')
    p += bsz
    extents = struct.unpack('>H', b[p:p+2])[0]; p += 2
    for _ in range(extents):
        if v in (1, 2) and isz: p += isz
        if not bsz:
            off = int.from_bytes(b[p:p+osz], 'big'); b[p:p+osz] = (off + 20).to_bytes(osz, 'big')
        p += osz + lsz
open(dst, 'wb').write(b)
