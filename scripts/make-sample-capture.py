#!/usr/bin/env python3
"""Writes res/sample/sample-capture.bin: three minutes of MUX status frames as captured raw
from the serial line, with alarms at both ends, tributary troubles, error bursts and a
damaged stretch. Deterministic, so the replay tests can rely on its content."""
import os
import random

rng = random.Random(34)


def frame(local=0, near=0, ltribs=(0, 0, 0, 0), remote=0, far=0, rtribs=(0, 0, 0, 0)):
    lt = "".join("%02x/" % b for b in ltribs)
    rt = "".join("%02x\\" % b for b in rtribs)
    return ("%02x:%04d;%sR%02x:%04d;%s01|" % (local, near, lt, remote, far, rt)).encode() + b"\x1a"


out = bytearray()
for _ in range(40):  # quiet line, now and then a few errors
    out += frame(near=rng.choice([0, 0, 0, 1, 2]), far=rng.choice([0, 0, 1]))
for status in (0x08, 0x20, 0x40, 0x10):  # local alarms, five seconds each
    for _ in range(5):
        out += frame(local=status, near=rng.randint(0, 50), remote=0x08, far=3)
for status in (0x08, 0x20, 0x40, 0x10):  # the same at the remote end
    for _ in range(5):
        out += frame(remote=status, far=rng.randint(0, 20))
for t in range(16):  # tributaries losing signal and showing code errors, one after another
    byte, shift = 3 - t // 4, 2 * (t % 4)
    lt = [0, 0, 0, 0]
    lt[byte] = 1 << shift
    rt = [0, 0, 0, 0]
    rt[byte] = 2 << shift
    out += frame(ltribs=tuple(lt), rtribs=tuple(rt))
# A damaged stretch: a frame cut short, line noise, a frame with a broken separator.
good = frame(near=5, far=5)
out += good[:30] + b"\x00\xff#noise on the line#" + good[:10] + b"X" + good[11:]
for _ in range(10):
    out += frame(near=rng.randint(100, 999), far=rng.randint(0, 99))
for _ in range(60):
    out += frame(near=rng.choice([0, 0, 1]), far=rng.choice([0, 0, 1]))

path = os.path.join(os.path.dirname(__file__), "..", "res", "sample", "sample-capture.bin")
with open(path, "wb") as f:
    f.write(out)
print("wrote %d bytes to %s" % (len(out), os.path.normpath(path)))
