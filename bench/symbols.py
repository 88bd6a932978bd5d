# The workloads of bench/symbols.cpp in python3 (dict and sys.intern): the same checksum lines on stdout,
# timings on stderr.
import sys
import time

NAMES = 200000
ROUNDS = 5


def report(name, start):
    print("%-12s %8.3f s" % (name, time.perf_counter() - start), file=sys.stderr)


def names(prefix):
    return [prefix + str(i * 7919 % 1000003) for i in range(NAMES)]


def symbols():
    lower, upper = names("word-"), names("WORD-")
    table = {}
    start = time.perf_counter()
    ids = []
    for n in lower:
        ids.append(table.setdefault(sys.intern(n.lower()), len(table) + 1))
    report("intern-new", start)
    hits = 0
    start = time.perf_counter()
    for _ in range(ROUNDS):
        for i, n in enumerate(lower):
            hits += table.setdefault(n.lower(), len(table) + 1) == ids[i]
    report("intern-hit", start)
    folded = 0
    start = time.perf_counter()
    for i, n in enumerate(upper):
        folded += table.setdefault(n.lower(), len(table) + 1) == ids[i]
    report("intern-case", start)
    print("symbols %d %d %d" % (len(table), hits, folded))


def context_words():
    syms = names("field-")
    context = {}
    start = time.perf_counter()
    for s in syms:
        context.setdefault(s.lower(), len(context))
    report("bind-add", start)
    total = 0
    start = time.perf_counter()
    for _ in range(ROUNDS):
        for s in syms:
            total += context.get(s.lower(), -1)
    report("bind-find", start)
    print("context %d %d" % (NAMES, total % 1000003))


def string_keys():
    # Probes are other string objects of the same text, as on the Zol side.
    keys, probes, misses = names("key-"), [k.encode().decode() for k in names("key-")], names("nokey-")
    start = time.perf_counter()
    table = {}
    for i, k in enumerate(keys):
        table.setdefault(k, i)
    report("map-build", start)
    total = 0
    missed = 0
    start = time.perf_counter()
    for r in range(ROUNDS):
        for i in range(NAMES):
            at = table.get(misses[i] if r % 2 else probes[i])
            if at is None:
                missed += 1
            else:
                total += at
    report("map-get", start)
    print("map %d %d" % (missed, total % 1000003))


symbols()
context_words()
string_keys()
