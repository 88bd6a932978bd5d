#!/usr/bin/env python3
"""Writes interpreter/lexer/lexer_tables.inc from tools/lexer_grammar.txt: the byte-class table with its flag
bits, the transition table of the lexer's state machine, the datatype of every state, and the path-end and
point-start tables.

Every row of the machine must name each class at most once and every next state must exist; the generator
refuses the grammar otherwise, since a slip in a table would go unnoticed by the lexer.

usage: gen_lexer_tables.py [--grammar FILE] [--output FILE]   (FILE '-' writes to standard output)
"""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_GRAMMAR = os.path.join(HERE, "lexer_grammar.txt")
DEFAULT_OUTPUT = os.path.join(HERE, "..", "interpreter", "lexer", "lexer_tables.inc")

CLASS_COUNT = 40
WORKING_STATES = 65  # 0 to 64; 65 is never entered
STATE_COUNT = 104    # working states, the unused 65, and the final states 66 to 103


def fail(message):
    sys.exit("gen_lexer_tables: " + message)


def sections(path):
    """The grammar file's sections: name -> list of lines, comments and blank lines dropped."""
    out = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            m = re.fullmatch(r"\[([a-z-]+)\]", line.strip())
            if m:
                current = m.group(1)
                out[current] = []
            elif current is None:
                fail("text before the first section: " + line)
            else:
                out[current].append(line)
    return out


def items(text):
    """Splits a list of names: words, or characters between backquotes (`` ` `` is the backquote)."""
    result = []
    i = 0
    while i < len(text):
        c = text[i]
        if c.isspace():
            i += 1
        elif text.startswith("`` ` ``", i):
            result.append("`")
            i += 7
        elif c == "`":
            end = text.index("`", i + 1)
            item = "`" + text[i + 1:end] + "`"
            i = end + 1
            if text.startswith("-`", i):  # a range of characters: `a`-`z`
                end = text.index("`", i + 2)
                item += "-`" + text[i + 2:end] + "`"
                i = end + 1
            result.append(item)
        else:
            end = i
            while end < len(text) and not text[end].isspace():
                end += 1
            result.append(text[i:end])
            i = end
    return result


def byte_values(text):
    """Bytes named by a list of items: decimal numbers, ranges a-b, quoted characters or ranges of them."""
    values = []
    for item in items(text):
        if item == "`":
            values.append(ord("`"))
            continue
        m = re.fullmatch(r"`(.)`-`(.)`", item)
        if m:
            values.extend(range(ord(m.group(1)), ord(m.group(2)) + 1))
            continue
        m = re.fullmatch(r"`(.)`", item)
        if m:
            values.append(ord(m.group(1)))
            continue
        m = re.fullmatch(r"(\d+)-(\d+)", item)
        if m:
            values.extend(range(int(m.group(1)), int(m.group(2)) + 1))
            continue
        if item.isdigit():
            values.append(int(item))
            continue
        fail("not a byte: " + item)
    return values


def read_classes(lines):
    names = [None] * CLASS_COUNT
    of_byte = [None] * 256
    for line in lines:
        parts = line.split(None, 2)
        number, name = int(parts[0]), parts[1]
        if names[number] is not None:
            fail("class %d given twice" % number)
        names[number] = name
        for b in byte_values(parts[2]):
            if of_byte[b] is not None:
                fail("byte %d is in classes %d and %d" % (b, of_byte[b], number))
            of_byte[b] = number
    missing = [b for b in range(256) if of_byte[b] is None]
    if missing:
        fail("bytes without a class: %s" % missing)
    if None in names:
        fail("class %d has no name" % names.index(None))
    return names, of_byte


def class_number(names, item):
    if item not in names:
        fail("unknown class " + item)
    return names.index(item)


def read_machine(lines, names):
    rows = [None] * WORKING_STATES
    roles = [None] * WORKING_STATES
    types = [0] * STATE_COUNT
    for line in lines:
        cells = [c.strip() for c in line.strip().strip("|").split(" | ")]
        if len(cells) != 5:
            fail("a machine row needs five columns: " + line)
        state, role, failing_type, otherwise, exceptions = cells
        state = int(state)
        if rows[state] is not None:
            fail("state %d given twice" % state)
        row = [int(otherwise)] * CLASS_COUNT
        seen = set()
        for group in split_groups(exceptions):
            m = re.fullmatch(r"(.*) -> (\d+)", group)
            if not m:
                fail("state %d: cannot read '%s'" % (state, group))
            target = int(m.group(2))
            for item in items(m.group(1)):
                c = class_number(names, item)
                if c in seen:
                    fail("state %d names class %s twice" % (state, item))
                seen.add(c)
                row[c] = target
        for target in row:
            if target == WORKING_STATES or target >= STATE_COUNT:
                fail("state %d leads to the state %d, which does not exist" % (state, target))
        rows[state] = row
        roles[state] = role
        types[state] = int(failing_type)
    if None in rows:
        fail("state %d has no row" % rows.index(None))
    return rows, roles, types


def split_groups(text):
    """Splits 'a b -> 1; `;` -> 2' at the semicolons that are not between backquotes."""
    groups, current, quoted = [], "", False
    for c in text:
        if c == "`":
            quoted = not quoted
        if c == ";" and not quoted:
            groups.append(current.strip())
            current = ""
        else:
            current += c
    if current.strip():
        groups.append(current.strip())
    return groups


def generate(grammar):
    s = sections(grammar)
    names, of_byte = read_classes(s["classes"])
    entries = list(of_byte)
    for line in s["flags"]:
        bit, named = line.split(None, 1)
        for b in byte_values(named):
            entries[b] |= 1 << int(bit)
    rows, roles, types = read_machine(s["machine"], names)
    final_names = {}
    for line in s["finals"]:
        state, type_id, name = line.split()
        state = int(state)
        if state <= WORKING_STATES or state >= STATE_COUNT:
            fail("%d is not a final state" % state)
        types[state] = int(type_id)
        final_names[state] = name
    path_end = [0] * CLASS_COUNT
    for item in items(" ".join(s["path-end"])):
        path_end[class_number(names, item)] = 1
    point_start = [0] * 256
    for b in byte_values(" ".join(s["point-start"])):
        point_start[b] = 1

    out = []
    w = out.append
    w("// Generated from tools/lexer_grammar.txt by tools/gen_lexer_tables.py; do not edit.")
    w("// The lexer's byte classes, state machine and side tables; included by lexer_tables.cpp.")
    w("")
    w("// Class of each byte in the low 8 bits, flag bits above.")
    w("const uint32_t kCharClass[256] = {")
    for base in range(0, 256, 8):
        w("    " + " ".join("0x%08X," % entries[b] for b in range(base, base + 8)) + "  // %d-%d" % (base, base + 7))
    w("};")
    w("")
    w("// Next state by (state, class). Columns: " + " ".join(strip_quotes(n) for n in names) + ".")
    w("const uint8_t kTransitions[%d][%d] = {" % (WORKING_STATES, CLASS_COUNT))
    for state, row in enumerate(rows):
        w("    {" + ", ".join("%d" % t for t in row) + "},  // %d %s" % (state, strip_quotes(roles[state])))
    w("};")
    w("")
    w("// Datatype id of a token that ends (final states) or fails (working states) in each state.")
    w("const uint8_t kStateType[%d] = {" % STATE_COUNT)
    for base in range(0, STATE_COUNT, 16):
        w("    " + " ".join("%d," % types[i] for i in range(base, min(base + 16, STATE_COUNT))) + "  // %d-" % base)
    w("};")
    w("")
    w("// 1 for the classes after which a path element ends the path.")
    w("const uint8_t kPathEnd[%d] = {" % CLASS_COUNT)
    w("    " + " ".join("%d," % v for v in path_end))
    w("};")
    w("")
    w("// 1 for the bytes that may stand between a '(' and the ',' of a point literal.")
    w("const uint8_t kPointStart[256] = {")
    for base in range(0, 256, 32):
        w("    " + " ".join("%d," % point_start[b] for b in range(base, base + 32)))
    w("};")
    return "\n".join(out) + "\n"


def strip_quotes(text):
    # Keeps the generated comments free of backquotes and of the sequences that end a C++ comment.
    return text.replace("`", "").replace("*/", "* /").replace("\\", "backslash")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--grammar", default=DEFAULT_GRAMMAR)
    ap.add_argument("--output", default=DEFAULT_OUTPUT)
    args = ap.parse_args()
    text = generate(args.grammar)
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
