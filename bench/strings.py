# The string workloads of bench/strings.cpp in python3: the same checksum lines on stdout, timings on stderr.
import re
import sys
import time

APPENDS = 1000000
INSERTS = 100000
HAYSTACK = 1000000
FINDS = 100
RECORDS = 1000000


def report(name, start):
    print("%-12s %8.3f s" % (name, time.perf_counter() - start), file=sys.stderr)


def fnv(text):
    h = 2166136261
    for c in text:
        h = ((h ^ ord(c)) * 16777619) & 0xFFFFFFFF
    return h


def form(value):
    return "true" if value is True else str(value)


def append_items():
    items = ["alpha", "x", True, "text"]
    out = ""
    start = time.perf_counter()
    for i in range(APPENDS):
        out += form(items[i % 4])
    report("append", start)
    print("append %d %d" % (len(out), fnv(out)))


def insert_at_head():
    out = ""
    start = time.perf_counter()
    for i in range(INSERTS):
        out = chr(ord("a") + i % 26) + out
    report("insert", start)
    print("insert %d %d" % (len(out), fnv(out)))


def find_text():
    phrase = "the quick brown fox jumps over the lazy dog "
    hay = phrase * ((HAYSTACK + len(phrase) - 1) // len(phrase)) + "Needle"
    start = time.perf_counter()
    for _ in range(FINDS):
        exact = hay.find("Needle")
    report("find/case", start)
    pattern = re.compile("NEEDLE", re.IGNORECASE)
    start = time.perf_counter()
    for _ in range(FINDS):
        folded = pattern.search(hay).start()
    report("find", start)
    print("find %d %d" % (exact, folded))


def letters():
    state = 1
    out = []
    for _ in range(RECORDS):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        r = (state >> 16) % 52
        out.append(chr(ord("a") + r) if r < 26 else chr(ord("A") + r - 26))
    return "".join(out)


def sort_records():
    text = letters()
    start = time.perf_counter()
    exact = "".join(sorted(text))
    report("sort/case", start)
    print("sort-case %d" % fnv(exact))
    start = time.perf_counter()
    folded = "".join(sorted(text, key=str.upper))
    report("sort/stable", start)
    print("sort-fold %d" % fnv(folded))


append_items()
insert_at_head()
find_text()
sort_records()
