#!/usr/bin/env python3
"""Writes the seed corpus of setup_reader_fuzz: one small setup file of every layout
the reader knows (old versions, the sound folder's length forms, the UTF-16 form, the
groove trailer).
Run it again after changing the format; the files are checked in."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "setup_reader_fuzz")


def header(version, color=0x00336699, bpm=126.0):
    b = struct.pack("<fhdihhii", version, 0, bpm, 0, 1, 2, 0, color)
    if version < 2.0:
        b += struct.pack("<ii", color, 0)
    return b


def loops(version):
    b = b""
    for i in range(8):
        if version < 2.0:
            b += struct.pack("<i", 0)
        if version < 1.003:
            b += struct.pack("<h", 0)
        else:
            b += struct.pack("<hh", (i + 1) % 8, 2)
        for j in range(16):
            b += struct.pack("<hhhh", j - 4, j, 110, 64)
            if version < 2.0:
                b += struct.pack("<ii", j % 2, 1 if j % 3 else 0)
            else:
                b += struct.pack("<hh", 64, j % 2)
    return b


def trailer(version, folder=b"\x00", right=692, steps=16):
    if version < 2.0:
        b = struct.pack("<iiii", 10, 20, right, 200)
        if version >= 1.5:
            b += struct.pack("<i", 0)
        return b
    b = struct.pack("<iiii", 100, 50, steps, 1)
    if version != 2.0:
        b += struct.pack("<hh", 80, 0)
    if version >= 9001.0:
        b += folder
    return b


def setup(version, folder=b"\x00", bpm=126.0, right=692, steps=16):
    return header(version, bpm=bpm) + loops(version) + trailer(version, folder, right, steps)


def ansi(text):
    n = len(text)
    if n < 255:
        return bytes([n]) + text
    if n < 0xFFFE:
        return b"\xff" + struct.pack("<H", n) + text
    return b"\xff\xff\xff" + struct.pack("<I", n) + text


def utf16(text):
    units = text.encode("utf-16-le")
    n = len(units) // 2
    if n < 255:
        length = bytes([n])
    elif n < 0xFFFE:
        length = b"\xff" + struct.pack("<H", n)
    else:
        length = b"\xff\xff\xff" + struct.pack("<I", n)
    return b"\xff\xfe\xff" + length + units


def chunk(tag, payload):
    return tag + struct.pack("<I", len(payload)) + payload


GROOVE = (
    chunk(b"SWNG", struct.pack("<8h", 50, 66, 75, 50, 50, 60, 50, 50))
    + chunk(b"DIAL", struct.pack("<hh", 1, 1))
    + chunk(b"SEED", struct.pack("<I", 0xDEADBEEF))
    + chunk(b"COND", struct.pack("<128h", *[(0, 1, 2, 3, 4, 5, 6, 16, 17, 71)[k % 10] for k in range(128)]))
    + chunk(b"XTRA", b"\x01\x02\x03")
)

SEEDS = {
    "v1_0": setup(1.0),
    "v1_1": setup(1.1),
    "v1_5": setup(1.5),
    "v2_0": setup(2.0),
    "v2_5": setup(2.5),
    "v9001_empty_folder": setup(9001.0),
    "v9001_ansi_folder": setup(9001.0, ansi("C:\\Beats\\Kit \xe9\x80".encode("latin-1"))),
    "v9001_long_folder": setup(9001.0, ansi(b"/k" * 150)),
    "v9001_utf16_folder": setup(9001.0, utf16("/home/me/\u97f3/\U0001F941 kit")),
    "v9001_truncated_folder": setup(9001.0, b"\xff\x2c\x01/short"),
    "v9001_double_utf16_marker": setup(9001.0, b"\xff\xfe\xff\xff\xfe\xff\x00"),
    "v9001_huge_length": setup(9001.0, b"\xff\xff\xff\xff\xff\xff\x7f/kit"),
    "nan_version": struct.pack("<f", float("nan")) + setup(2.5)[4:],
    "nan_tempo": setup(9001.0, bpm=float("nan")),
    "huge_tempo": setup(1.0, bpm=1e300),
    "v1_1_wide_window": setup(1.1, right=2**31 - 1),
    "step_count_40": setup(2.0, steps=40),
    "v9001_groove": setup(9001.0) + GROOVE,
    "v9001_groove_cut_short": setup(9001.0) + GROOVE[:-5],
    "wave_header": b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
    + b"\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00data\x00\x00\x00\x00",
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
