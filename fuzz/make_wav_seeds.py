#!/usr/bin/env python3
"""Writes the WAV reader fuzzer's seed corpus: small files in every supported format and
the broken shapes the reader must refuse. Run from the repository root."""
import math
import os
import struct

OUT = "fuzz/corpus/wav_reader_fuzz"


def chunk(cid, body):
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(tag, channels, rate, bits, extra=None):
    align = channels * bits // 8
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)
    if extra is not None:
        body += struct.pack("<H", len(extra)) + extra
    return chunk(b"fmt ", body)


def wave(frames, channels):
    return [math.sin(2 * math.pi * i / 16) * 0.8 for i in range(frames * channels)]


def pcm(samples, bits):
    if bits == 8:
        return bytes(int(128 + s * 127) for s in samples)
    scale = (1 << (bits - 1)) - 1
    out = b""
    for s in samples:
        out += int(s * scale).to_bytes(bits // 8, "little", signed=True)
    return out


def floats(samples, bits):
    return b"".join(struct.pack("<f" if bits == 32 else "<d", s) for s in samples)


def extensible(channels, rate, bits, sub_tag):
    guid_tail = bytes.fromhex("000000001000800000aa00389b71")
    extra = struct.pack("<HIH", bits, 3 if channels == 2 else 4, sub_tag) + guid_tail
    return fmt(0xFFFE, channels, rate, bits, extra)


seeds = {
    "pcm8_stereo": riff(fmt(1, 2, 22050, 8), chunk(b"data", pcm(wave(32, 2), 8))),
    "pcm24_mono": riff(fmt(1, 1, 44100, 24), chunk(b"data", pcm(wave(32, 1), 24))),
    "pcm32_stereo": riff(fmt(1, 2, 48000, 32), chunk(b"data", pcm(wave(32, 2), 32))),
    "float32_mono": riff(fmt(3, 1, 44100, 32, b""), chunk(b"data", floats(wave(32, 1), 32))),
    "float64_stereo": riff(fmt(3, 2, 96000, 64, b""), chunk(b"data", floats(wave(16, 2), 64))),
    "extensible_pcm": riff(extensible(2, 44100, 16, 1), chunk(b"data", pcm(wave(32, 2), 16))),
    "extensible_float": riff(extensible(1, 44100, 32, 3), chunk(b"data", floats(wave(32, 1), 32))),
    "list_between": riff(fmt(1, 1, 44100, 16), chunk(b"LIST", b"INFOISFT\x04\0\0\0mb\0\0"),
                         chunk(b"data", pcm(wave(32, 1), 16))),
    "fmt_14_bytes": riff(chunk(b"fmt ", struct.pack("<HHIIH", 1, 1, 44100, 88200, 2)),
                         chunk(b"data", pcm(wave(8, 1), 16))),
    "no_data": riff(fmt(1, 1, 44100, 16)),
    "truncated_data": riff(fmt(1, 1, 44100, 16), chunk(b"data", pcm(wave(32, 1), 16)))[:-20],
    "unknown_tag": riff(fmt(2, 1, 44100, 4, b"\0\0"), chunk(b"data", bytes(32))),
    "not_wave": b"RIFF\x04\0\0\0AVI ",
}

os.makedirs(OUT, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
