# The block workloads of series.cpp on a python3 list of 1,000,000 ints: append, insert at the head, find
# an absent value, sort (python's sort is stable), then sort again. Prints the same checksum lines.
import time

N = 1000000
INSERTS = 1000
FINDS = 100

seed = 42


def next_char():
    global seed
    seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
    return 32 + seed % 50000


def checksum(values):
    return sum(v * (i + 1) for i, v in enumerate(values)) & 0xFFFFFFFF


def ms_since(t):
    return (time.perf_counter() - t) * 1000


block = []
t = time.perf_counter()
for i in range(N):
    block.append(next_char())
print("append %d: %.1f ms" % (N, ms_since(t)))
print("checksum after append: %d" % checksum(block))
fresh = list(block)

t = time.perf_counter()
for i in range(INSERTS):
    block.insert(0, i)
print("insert at head x%d on %d: %.1f ms" % (INSERTS, N, ms_since(t)))
print("checksum after insert: %d" % checksum(block))

absent = 0x10FFFF
found = 0
t = time.perf_counter()
for i in range(FINDS):
    found += absent in block
print("find (absent) x%d on %d: %.1f ms, found %d" % (FINDS, N + INSERTS, ms_since(t), found))

for label in ("", "/stable"):
    work = list(fresh)
    t = time.perf_counter()
    work.sort()
    print("sort%s %d: %.1f ms" % (label, N, ms_since(t)))
    print("checksum after sort: %d" % checksum(work))
    t = time.perf_counter()
    work.sort()
    print("sort%s %d (already sorted): %.1f ms" % (label, N, ms_since(t)))
