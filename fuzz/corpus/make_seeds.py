#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: tiny hand-made WAVE headers (each followed
by the 96 control bytes that fuzz_wave reads from an input's end) and INI files."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CONTROLS = bytes((i * 37 + 11) % 256 for i in range(96))


def chunk(cid, body, size=None):
    return cid + struct.pack("<I", len(body) if size is None else size) + body


def fmt(channels=2, bits=16, rate=44100, tag=1, extra=b""):
    align = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra)


def wave(*chunks, riff=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if riff is None else riff) + body


def frames(n, channels=2, bits=16):
    out = b""
    for i in range(n):
        for c in range(channels):
            v = ((i * 997 + c * 331) % 2000) - 1000
            out += struct.pack("<h", v * 16) if bits == 16 else bytes([(v // 8 + 128) & 0xFF])
    return out


WAVES = {
    "stereo16": wave(fmt(), chunk(b"data", frames(40))),
    "mono8": wave(fmt(1, 8), chunk(b"data", frames(60, 1, 8))),
    "mono16": wave(fmt(1, 16), chunk(b"data", frames(50, 1))),
    "stereo8": wave(fmt(2, 8), chunk(b"data", frames(50, 2, 8))),
    "list_before_data": wave(fmt(), chunk(b"LIST", b"INFOISFT\x05\x00\x00\x00tand\x00"), chunk(b"data", frames(30))),
    "odd_chunk_padded": wave(fmt(), chunk(b"junk", b"abc") + b"\x00", chunk(b"data", frames(30))),
    "odd_chunk_unpadded": wave(fmt(), chunk(b"junk", b"abc"), chunk(b"data", frames(30))),
    "fmt18": wave(fmt(extra=b"\x00\x00"), chunk(b"data", frames(30))),
    "truncated_data": wave(fmt(), chunk(b"data", frames(20), size=0x7FFFFFF0)),
    "riff_size_zero": wave(fmt(), chunk(b"data", frames(20)), riff=0),
    "rate48000": wave(fmt(rate=48000), chunk(b"data", frames(20))),
    "data_before_fmt": wave(chunk(b"data", frames(10)), fmt()),
}

INIS = {
    "plain.ini": b"[TandemEnv]\nMASTER=/rec/a.wav\nMODE=1\nItems=2\nMASTER0=/rec/a.wav\n\n[a.wav]\nCount=3\nDP0=0\nDP1=44100\nDP2=88200\n",
    "crlf_comments.ini": b"; comment\r\n[SpecialList]\r\nItems=1\r\nItem0=b.wav\r\n# other\r\n[/x/y.wav]\r\nPeak = 123 \r\n",
    "broken.ini": b"\xef\xbb\xbf[open\nk=v\n[dup]\na=1\n[dup]\na=2\nb=x\xff\xfe\n=novalue\nnoequals\n[x]y]\nz=1",
    # An empty file, then operations (strings end at a backslash followed by another byte).
    "ops.ini": b"\x01\\ATandemEnv\\AMODE\\A2\\A\x00\x00\x00\x00/rec/[1].wav\\ADP0\\A-5\\A\x01\x00\x00\x00",
}


def main():
    for name, data in WAVES.items():
        with open(os.path.join(HERE, "wave", name + ".wav"), "wb") as f:
            f.write(data + CONTROLS)
    for name, data in INIS.items():
        with open(os.path.join(HERE, "ini", name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
