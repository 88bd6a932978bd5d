#!/usr/bin/env python3
"""Writes runtime/casefold_tables.inc: the case-mapping pair lists of Unicode 11.0.

Reads UnicodeData.txt, SpecialCasing.txt and DerivedAge.txt from a Unicode data directory (Debian's
unicode-data package puts them in /usr/share/unicode). The data may be of a later Unicode version: a pair is
kept only when its source and its target both existed in 11.0, so the tables stay those of 11.0.

Each mapping is the first code point of the full mapping: UnicodeData's simple mapping, replaced by the
unconditional mapping of SpecialCasing where one exists (U+00DF upper gives U+0053).

usage: gen_casefold.py [--data DIR] [--output FILE]   (FILE '-' writes to standard output)
"""
import argparse
import os
import sys

VERSION = (11, 0)
DEFAULT_DATA = "/usr/share/unicode"
DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runtime", "casefold_tables.inc")


def data_lines(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield line


def code_points_of(version, data):
    """The code points assigned in the given Unicode version or earlier."""
    known = set()
    for line in data_lines(os.path.join(data, "DerivedAge.txt")):
        cps, age = (field.strip() for field in line.split(";")[:2])
        if tuple(int(n) for n in age.split(".")) > version:
            continue
        first, _, last = cps.partition("..")
        known.update(range(int(first, 16), int(last or first, 16) + 1))
    return known


def mappings(data):
    """Code point -> (upper, lower) first code points, from UnicodeData then SpecialCasing."""
    upper, lower = {}, {}
    for line in data_lines(os.path.join(data, "UnicodeData.txt")):
        fields = line.split(";")
        cp = int(fields[0], 16)
        if fields[12]:
            upper[cp] = int(fields[12], 16)
        if fields[13]:
            lower[cp] = int(fields[13], 16)
    for line in data_lines(os.path.join(data, "SpecialCasing.txt")):
        fields = [field.strip() for field in line.split(";")]
        if len(fields) > 4 and fields[4]:
            continue  # conditional (language or context): not part of the tables
        cp = int(fields[0], 16)
        upper[cp] = int(fields[3].split()[0], 16)
        lower[cp] = int(fields[1].split()[0], 16)
    return upper, lower


def pairs(mapping, known):
    return sorted((cp, to) for cp, to in mapping.items() if to != cp and cp in known and to in known)


def table(name, rows):
    out = [f"constexpr CasePair {name}[] = {{"]
    for i in range(0, len(rows), 4):
        out.append("    " + " ".join(f"{{0x{a:04X}, 0x{b:04X}}}," for a, b in rows[i:i + 4]))
    out.append("};")
    return out


def generate(data):
    known = code_points_of(VERSION, data)
    upper, lower = mappings(data)
    up, low = pairs(upper, known), pairs(lower, known)
    lists = [
        ("kUpperBmp", [p for p in up if p[0] <= 0xFFFF]),
        ("kLowerBmp", [p for p in low if p[0] <= 0xFFFF]),
        ("kUpperSupplementary", [p for p in up if p[0] > 0xFFFF]),
        ("kLowerSupplementary", [p for p in low if p[0] > 0xFFFF]),
    ]
    out = [
        "// Generated from UnicodeData.txt, SpecialCasing.txt and DerivedAge.txt, kept to Unicode 11.0, by "
        "tools/gen_casefold.py; do not edit.",
        "// Pairs (code point, first code point of its full mapping), sorted by code point; included by casefold.cpp.",
    ]
    for name, rows in lists:
        out.append("")
        out.extend(table(name, rows))
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", default=DEFAULT_DATA, help="directory holding the Unicode data files")
    parser.add_argument("--output", default=DEFAULT_OUTPUT, help="file to write, '-' for standard output")
    args = parser.parse_args()
    text = generate(args.data)
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
