#!/usr/bin/env python3
"""The reference point of bench_lexer: python3's own parsers on the same items, about 5 MB each.

The items of lexer.cpp's Zol source are written here as Python source (for ast.parse) and as JSON (for
json.loads), with the same fields, so the inputs hold comparable tokens: names, numbers, strings, nested
lists, paths and comments. Prints the checksum line of lexer.cpp (the number of items read) on stdout and the
speed of each parser, best of eight, on stderr.
"""
import ast
import json
import sys
import time

ITEMS = 20500
ROUNDS = 8


def python_source():
    parts = []
    for i in range(ITEMS):
        n = str(i)
        parts.append(
            "item_%s = make_object(\n" % n
            + "    id=%s, ratio=%d.25, name=\"name %s\",\n" % (n, i % 1000, n)
            + "    tags=[alpha, beta.gamma, 'delta', epsilon], when=(12, 30), day=(1, 1, 2000), cost=1.50,\n"
            + "    path='dir/file-%s.txt', link='http://example.com/%s',  # a comment\n" % (n, n)
            + "    calc=(x + y * 2), ok=True\n)\n")
    return "".join(parts)


def json_source():
    items = []
    for i in range(ITEMS):
        n = str(i)
        items.append(json.dumps({
            "id": i, "ratio": (i % 1000) + 0.25, "name": "name " + n,
            "tags": ["alpha", ["beta", "gamma"], "delta", "epsilon"], "when": [12, 30], "day": [1, 1, 2000],
            "cost": 1.5, "path": "dir/file-%s.txt" % n, "link": "http://example.com/" + n,
            "calc": ["x", "+", "y", "*", 2], "ok": True}))
    return "[\n" + ",\n".join(items) + "\n]"


def best(run):
    times = []
    for _ in range(ROUNDS):
        t0 = time.perf_counter()
        run()
        times.append(time.perf_counter() - t0)
    return min(times)


def main():
    py = python_source()
    js = json_source()
    items = len(ast.parse(py).body)
    assert items == len(json.loads(js))
    print("items %d" % items)
    mb_py = len(py.encode()) / (1 << 20)
    mb_js = len(js.encode()) / (1 << 20)
    sys.stderr.write("ast.parse   %7.1f MB/s (%.2f MB)\n" % (mb_py / best(lambda: ast.parse(py)), mb_py))
    sys.stderr.write("json.loads  %7.1f MB/s (%.2f MB)\n" % (mb_js / best(lambda: json.loads(js)), mb_js))


if __name__ == "__main__":
    main()
