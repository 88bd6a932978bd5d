#!/usr/bin/env python3
"""The reference point of bench_lexer: python3's own parsers on the same generated structure, about 5 MB.

The Zol source of lexer.cpp is written here as Python source (for ast.parse) and as JSON (for json.loads),
one definition per item with the same fields, so the inputs hold comparable tokens: names, numbers,
strings, nested lists, paths and comments. Prints MB/s of each parser, best of five.
"""
import ast
import json
import time

TARGET = 5 << 20


def python_source():
    parts, size, i = [], 0, 0
    while size < TARGET:
        n = str(i)
        item = (
            "item_%s = make_object(\n" % n
            + "    id=%s, ratio=%d.25, name=\"name %s\",\n" % (n, i % 1000, n)
            + "    tags=[alpha, beta.gamma, 'delta', epsilon], when=(12, 30), day=(1, 1, 2000), cost=1.50,\n"
            + "    path='dir/file-%s.txt', link='http://example.com/%s',  # a comment\n" % (n, n)
            + "    calc=(x + y * 2), ok=True\n)\n"
        )
        parts.append(item)
        size += len(item)
        i += 1
    return "".join(parts)


def json_source():
    items, size, i = [], 0, 0
    while size < TARGET:
        n = str(i)
        item = json.dumps({
            "id": i, "ratio": (i % 1000) + 0.25, "name": "name " + n,
            "tags": ["alpha", ["beta", "gamma"], "delta", "epsilon"], "when": [12, 30], "day": [1, 1, 2000],
            "cost": 1.5, "path": "dir/file-%s.txt" % n, "link": "http://example.com/" + n,
            "calc": ["x", "+", "y", "*", 2], "ok": True})
        items.append(item)
        size += len(item) + 2
        i += 1
    return "[\n" + ",\n".join(items) + "\n]"


def best(run, rounds=5):
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        run()
        times.append(time.perf_counter() - t0)
    return min(times)


def main():
    py = python_source()
    js = json_source()
    mb_py = len(py.encode()) / (1 << 20)
    mb_js = len(js.encode()) / (1 << 20)
    print("ast.parse:  %7.1f MB/s (%.2f MB)" % (mb_py / best(lambda: ast.parse(py)), mb_py))
    print("json.loads: %7.1f MB/s (%.2f MB)" % (mb_js / best(lambda: json.loads(js)), mb_js))


if __name__ == "__main__":
    main()
