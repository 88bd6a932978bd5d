#!/usr/bin/env python3
"""Writes the reference streams of tests/io/deflate/: the test inputs compressed by Python's zlib and gzip
modules (the system zlib), which the decoder tests inflate and compare with the inputs.

usage: gen_deflate_refs.py [--output DIR]   (default tests/io/deflate)

Run once and commit the files: another zlib version may pick other blocks, which is fine (any valid
stream must decode), so no test compares the files with a fresh run. The inputs are made here and again
by tests/io/deflate_inputs.h from the same generator; the streams decode to them or the tests fail.

Formats: z0 z1 z6 z9 (zlib at that level: stored, then fixed and dynamic blocks), zf (zlib with fixed
codes only), zh (zlib with Huffman codes only, no matches), raw (raw deflate at level 6), gz (gzip at level 9, no name), gzn (gzip with a name and a time).
"""
import gzip
import io
import os
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class XorShift:
    """xorshift32, seeded per input; the C++ tests use the same."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x


WORDS = [b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"lorem", b"ipsum",
         b"dolor", b"sit", b"amet", b"zlib", b"deflate", b"stream", b"block", b"code", b"length",
         b"distance", b"window", b"match", b"literal", b"huffman", b"tree", b"bit", b"byte", b"value",
         b"a", b"of", b"and", b"to"]


def text(length, seed):
    """Words from WORDS, a space after each and a line break after every twelfth, cut to length."""
    r = XorShift(seed)
    out = bytearray()
    n = 0
    while len(out) < length:
        out += WORDS[r.next() % len(WORDS)]
        n += 1
        out += b"\n" if n % 12 == 0 else b" "
    return bytes(out[:length])


def random_bytes(length, seed):
    r = XorShift(seed)
    return bytes(r.next() & 0xFF for _ in range(length))


def fibonacci(seed):
    """Symbol i (0..17) appears fib(i + 2) times, shuffled: with the end-of-block code's count of 1 the
    literals' Huffman tree is a chain 19 levels deep, so the encoder has to limit it and the longest codes
    have 15 bits (format zh)."""
    counts = [1, 2]
    while len(counts) < 18:
        counts.append(counts[-1] + counts[-2])
    out = bytearray()
    for symbol, count in enumerate(counts):
        out += bytes([symbol * 11]) * count
    r = XorShift(seed)
    for i in range(len(out) - 1, 0, -1):
        j = r.next() % (i + 1)
        out[i], out[j] = out[j], out[i]
    return bytes(out)


INPUTS = {
    "empty": b"",
    "one": b"a",
    "run": b"x" * 100000,
    "text": text(50000, 1),
    "random": random_bytes(4096, 2),
    "fibonacci": fibonacci(3),
    "large": text(1 << 20, 4),
}


def zlib_fixed(data):
    c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, zlib.Z_FIXED)
    return c.compress(data) + c.flush()


def zlib_huffman_only(data):
    c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, zlib.Z_HUFFMAN_ONLY)
    return c.compress(data) + c.flush()


def raw(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def gzip_named(data):
    out = io.BytesIO()
    with gzip.GzipFile(filename="data.txt", mode="wb", fileobj=out, mtime=1700000000) as f:
        f.write(data)
    return out.getvalue()


FORMATS = {
    "z0": lambda d: zlib.compress(d, 0),
    "z1": lambda d: zlib.compress(d, 1),
    "z6": lambda d: zlib.compress(d, 6),
    "z9": lambda d: zlib.compress(d, 9),
    "zf": zlib_fixed,
    "zh": zlib_huffman_only,
    "raw": raw,
    "gz": lambda d: gzip.compress(d, 9, mtime=0),
    "gzn": gzip_named,
}
# The megabyte takes the two most common forms only, to keep the committed files small.
LARGE_FORMATS = ["z6", "gz"]


def main():
    out_dir = os.path.join(ROOT, "tests", "io", "deflate")
    if "--output" in sys.argv:
        out_dir = sys.argv[sys.argv.index("--output") + 1]
    os.makedirs(out_dir, exist_ok=True)
    for name, data in INPUTS.items():
        for fmt in LARGE_FORMATS if name == "large" else FORMATS:
            packed = FORMATS[fmt](data)
            assert (gzip.decompress(packed) if fmt.startswith("gz") else
                    zlib.decompress(packed, -15 if fmt == "raw" else 15)) == data
            with open(os.path.join(out_dir, f"{name}.{fmt}"), "wb") as f:
                f.write(packed)


if __name__ == "__main__":
    main()
