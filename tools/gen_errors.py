#!/usr/bin/env python3
"""Writes runtime/errors.def, the runtime's table of error classes and ids, from boot/errors.zol.

usage: gen_errors.py [--catalog FILE] [--output FILE]   (FILE '-' writes to standard output)

The catalog keeps one class per block and one id per line (see its header); the table lists the same
classes and ids in the same order as X-macro rows whose templates are the catalog's Zol source verbatim.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

HEADER = """\
// The error catalog as the runtime's table. Generated from boot/errors.zol by tools/gen_errors.py; do not
// edit: change the catalog and run the tool.
//
// This is an X-macro list, not a header: it has no include guard and is meant to be included several
// times, each time with its own definitions of
//     ZOL_ERROR_CLASS(C_NAME, "class-word", "Type Text")
//     ZOL_ERROR(CLASS_C_NAME, ID_C_NAME, "id-word", TEMPLATE)
// to produce the enum of error ids, the table of error classes and the catalog texts (the class objects of
// system/catalog/errors). Classes come in class-index order, each followed by its ids; an error's code is
// class index x 100 + the id's position within its class, counted from 0. TEMPLATE is the catalog's Zol
// source of the message template in a C++ raw string.
"""

CLASS = re.compile(r'^([a-z0-9-]+): \[code: (\d+) type: "([^"]*)"$')
ENTRY = re.compile(r'^    ([a-z0-9-]+): (.+?)(?:  ; (.*))?$')


def fail(message):
    sys.exit("gen_errors: " + message)


def c_name(word):
    return word.upper().replace("-", "_")


def generate(catalog_path):
    out = [HEADER]
    current = None
    index = 0
    for number, raw in enumerate(open(catalog_path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if current is None:
            m = CLASS.match(line)
            if m:
                word, code, text = m.groups()
                if int(code) != index * 100:
                    fail(f"line {number}: class {word} must have code {index * 100}")
                current = word
                out.append(f'\nZOL_ERROR_CLASS({c_name(word)}, "{word}", "{text}")\n')
                index += 1
            elif line and not line.startswith(";") and not line.startswith("Zol [") and not line.startswith("    ") \
                    and line != "]":
                fail(f"line {number}: expected a class block")
            continue
        if line == "]":
            current = None
            continue
        m = ENTRY.match(line)
        if not m:
            fail(f"line {number}: expected an id and its template on one line")
        word, template, comment = m.groups()
        delimiter = "zol" if ')"' in template else ""
        row = f'ZOL_ERROR({c_name(current)}, {c_name(word)}, "{word}", R"{delimiter}({template}){delimiter}")'
        if comment:
            row += f"  // {comment}"
        out.append(row + "\n")
    if current is not None:
        fail(f"class {current} is not closed")
    return "".join(out)


def main(argv):
    catalog = os.path.join(ROOT, "boot", "errors.zol")
    output = os.path.join(ROOT, "runtime", "errors.def")
    args = list(argv)
    while args:
        flag = args.pop(0)
        if flag == "--catalog" and args:
            catalog = args.pop(0)
        elif flag == "--output" and args:
            output = args.pop(0)
        else:
            fail(__doc__.strip().splitlines()[2])
    text = generate(catalog)
    if output == "-":
        sys.stdout.write(text)
    else:
        with open(output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1:])
