#!/usr/bin/env python3
"""Writes a generated library of Zol code, as many lines as asked, for the start-up benchmark: functions with
doc strings, typed arguments, refinements and locals, bodies of control flow over words, paths, strings and
numbers, and objects holding values and functions, the mix a base library has. Nothing of it is run but the
definitions themselves. The same count gives the same text.

Usage: gen_library.py LINES > library.zol
"""
import random
import sys

rng = random.Random(10000)
WORDS = ["value", "series", "index", "count", "result", "item", "text", "data", "size", "part", "key", "port",
         "target", "source", "block", "word", "name", "spec", "body", "pos", "limit", "mark", "state", "node"]
TYPES = ["integer!", "string!", "block!", "any-type!", "series!", "word!", "logic!", "number!", "file!", "object!"]
CALLS = ["append", "insert", "copy", "find", "select", "pick", "length?", "head", "tail", "next", "skip", "form",
         "mold", "reduce", "compose", "to-integer", "either", "if", "unless", "all", "any", "foreach", "while"]


def word():
    return rng.choice(WORDS) + ("-" + rng.choice(WORDS) if rng.random() < 0.3 else "")


def atom():
    r = rng.random()
    if r < 0.35:
        return word()
    if r < 0.5:
        return str(rng.randint(0, 1000))
    if r < 0.62:
        return '"' + " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4))) + '"'
    if r < 0.72:
        return word() + "/" + word()
    if r < 0.8:
        return ":" + word()
    if r < 0.86:
        return "'" + word()
    if r < 0.9:
        return "#" + word()
    if r < 0.94:
        return "%" + word() + ".zol"
    return rng.choice(["none", "true", "false", "1.5", "10%", "1x2", "#\"a\"", "0:00:01"])


def literal():
    """A value an object's field can be set to as the object is made: nothing to look up."""
    r = rng.random()
    if r < 0.3:
        return "[" + " ".join(atom() for _ in range(rng.randint(0, 4))) + "]"
    if r < 0.45:
        return "'" + word()
    a = atom()
    while a[0].isalpha() and a not in ("none", "true", "false") or a[0] == ":":
        a = atom()
    return a


def expression(depth):
    call = rng.choice(CALLS)
    args = " ".join(atom() for _ in range(rng.randint(1, 3)))
    if call in ("either", "if", "unless", "while", "foreach") and depth < 2:
        return f"{call} {args} [{expression(depth + 1)}]"
    if call in ("all", "any", "reduce", "compose"):
        return f"{call} [{args}]"
    return f"{call} {args}"


def function(lines):
    name = word() + "-" + str(rng.randint(0, 99999))
    # Each name once in a spec: numbered.
    args = []
    for i in range(rng.randint(0, 3)):
        args.append(f"{word()}-arg{i} [{' '.join(rng.sample(TYPES, rng.randint(1, 2)))}]")
    if rng.random() < 0.4:
        args.append(f"/{word()}-ref {word()}-val [{rng.choice(TYPES)}]")
    if rng.random() < 0.5:
        args.append(f"/local {' '.join(word() + '-loc' + str(i) for i in range(rng.randint(1, 3)))}")
    out = [f'{name}: func [', f'    "{" ".join(rng.choice(WORDS) for _ in range(5))}"']
    out += ["    " + a for a in args]
    out.append("][")
    for _ in range(rng.randint(1, max(1, lines - len(out) - 1))):
        if rng.random() < 0.3:
            out.append(f"    {word()}: {expression(0)}")
        else:
            out.append(f"    {expression(0)}")
    out.append("]")
    return out


def obj(lines):
    out = [f"{word()}-obj-{rng.randint(0, 99999)}: make object! ["]
    while len(out) < lines - 1:
        if rng.random() < 0.3:
            out.append(f"    {word()}-fn: does [{expression(0)}]")
        else:
            out.append(f"    {word()}: {literal()}")
    out.append("]")
    return out


def main():
    total = int(sys.argv[1])
    lines = ['Zol [title: "Generated library for the start-up benchmark"]', ""]
    while len(lines) < total:
        room = total - len(lines)
        made = obj(rng.randint(4, 18)) if rng.random() < 0.15 else function(rng.randint(4, 18))
        lines += made if len(made) <= room else ["; end"] * room
    print("\n".join(lines))


main()
