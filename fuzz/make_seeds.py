#!/usr/bin/env python3
"""Writes the binary seed files of the fuzz corpora (WAV, asset pack, tracker modules): small,
valid files of each format, so the fuzzers start from inputs that reach deep into the parsers.
The text seeds (sequence, settings, command line, synth track, manifest) are kept as written.
Usage: fuzz/make_seeds.py (from anywhere; writes into fuzz/corpus/)."""
import math
import os
import struct

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data)


def wav(channels, rate, bits, frames, extra_chunk=b""):
    step = bits // 8
    samples = []
    for i in range(frames * channels):
        v = int(12000 * math.sin(i * 0.21))
        samples.append(struct.pack("<h", v) if bits == 16 else bytes([(v >> 8) + 128 & 0xFF]))
    body = b"".join(samples)
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * channels * step, channels * step, bits)
    chunks = b"fmt " + struct.pack("<I", len(fmt)) + fmt + extra_chunk
    chunks += b"data" + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks


def pack(entries):
    directory = b""
    offset = 12 + sum(20 + len(name) for name, _ in entries)
    for name, data in entries:
        directory += struct.pack("<IQQ", len(name), offset, len(data)) + name
        offset += len(data)
    return b"ZWPAK001" + struct.pack("<I", len(entries)) + directory + b"".join(d for _, d in entries)


def xm(channels, rows, notes, with_sample):
    header = b"Extended Module: " + b"seed".ljust(20, b"\0") + b"\x1a" + b"kestrel seed".ljust(20, b"\0")
    header += struct.pack("<H", 0x0104)
    orders = bytes([0, 0]).ljust(256, b"\0")
    header += struct.pack("<IHHHHHHHH", 276, 2, 0, channels, 1, 1, 1, 6, 125) + orders
    # One pattern, packed: each cell a note byte with the high bit of a mask byte.
    cells = b""
    for r in range(rows):
        for c in range(channels):
            note = notes[(r + c) % len(notes)] if r % 4 == 0 and c == 0 else 0
            cells += bytes([0x83, note, 1]) if note else b"\x80"
    pattern = struct.pack("<IBHH", 9, 0, rows, len(cells)) + cells
    instrument_name = b"seed".ljust(22, b"\0")
    if not with_sample:
        instrument = struct.pack("<I", 29) + instrument_name + struct.pack("<BH", 0, 0)
        return header + pattern + instrument
    envelopes = bytes(96)
    extra = bytes([0] * 10 + [0, 0, 0, 0]) + struct.pack("<HH", 256, 0)
    instrument = struct.pack("<I", 243) + instrument_name + struct.pack("<BH", 0, 1)
    instrument += struct.pack("<I", 40) + bytes(96) + envelopes + extra
    data = [int(40 * math.sin(i * 0.4)) for i in range(64)]
    delta = bytes((data[i] - (data[i - 1] if i else 0)) & 0xFF for i in range(len(data)))
    sample = struct.pack("<IIIBbBBbB", len(delta), 0, len(delta), 64, 0, 1, 128, 0, 0) + b"seed".ljust(22, b"\0")
    return header + pattern + instrument + sample + delta


def mod():
    title = b"seed mod".ljust(20, b"\0")
    samples = b""
    for i in range(31):
        length = 32 if i == 0 else 0  # in words
        samples += b"s".ljust(22, b"\0") + struct.pack(">HBBHH", length, 0, 64, 0, 1 if i else length)
    header = title + samples + bytes([1, 127]) + bytes(128) + b"M.K."
    pattern = bytearray(64 * 4 * 4)
    for row in range(0, 64, 8):
        at = row * 16
        pattern[at:at + 4] = bytes([0x01, 0xAC, 0x10, 0x00])  # sample 1, period 428 (C-2)
    data = bytes((int(60 * math.sin(i * 0.5))) & 0xFF for i in range(64))
    return header + bytes(pattern) + data


write("fuzz_oracle_wav", "mono_48k.wav", wav(1, 48000, 16, 120))
write("fuzz_oracle_wav", "stereo_22k.wav", wav(2, 22050, 16, 60, b"LIST" + struct.pack("<I", 3) + b"abc\0"))
write("fuzz_oracle_wav", "mono_8bit.wav", wav(1, 8000, 8, 33))
write("fuzz_asset_pack", "two_entries.pack",
      pack([(b"data/kestrel/kestrel_sequence.txt", b"section = 0 16 scene=1\n"),
            (b".\\data\\modules\\a.xm", b"XM"), (b"./data/x", b"")]))
write("fuzz_asset_pack", "empty.pack", pack([]))
write("fuzz_module", "one_sample.xm", xm(2, 16, [49, 53, 56], True))
write("fuzz_module", "no_samples.xm", xm(4, 8, [61], False))
write("fuzz_module", "four_channel.mod", mod())
