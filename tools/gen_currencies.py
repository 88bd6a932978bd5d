#!/usr/bin/env python3
"""Writes runtime/values/currencies.inc: the built-in list of currency codes that money! values name.

Reads the ISO 4217 list of Debian's iso-codes package (/usr/share/iso-codes/json/iso_4217.json) and keeps
the codes of currencies: it leaves out the precious metals (XAG XAU XPD XPT), the codes reserved for testing
and for no currency (XTS XXX), and the funds and units of account that ISO lists beside the currencies
(the bond market units XBA to XBD, XDR, XSU, XUA, and the fund codes BOV CHE CHW CLF COU MXV USN UYI UYW).
The circulating X.. currencies (XAF XCD XOF XPF) stay. BTC, which ISO does not list, is added. The codes are
sorted; a code's 1-based position is the currency index that money! values keep.

The same codes, in the same order, are the list that the system object starts with (library/system.zol's
locale/currencies/list), so that money made before the system object exists keeps its currency: with
--system the list block there is rewritten as well.

usage: gen_currencies.py [--data FILE] [--output FILE] [--system FILE]   (FILE '-' writes to standard output)
"""
import argparse
import json
import os
import sys

DEFAULT_DATA = "/usr/share/iso-codes/json/iso_4217.json"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DEFAULT_OUTPUT = os.path.join(ROOT, "runtime", "values", "currencies.inc")
SYSTEM_SCRIPT = os.path.join(ROOT, "library", "system.zol")

LEFT_OUT = {
    "XAG", "XAU", "XPD", "XPT",                       # precious metals
    "XTS", "XXX",                                     # testing, no currency
    "XBA", "XBB", "XBC", "XBD", "XDR", "XSU", "XUA",  # units of account
    "BOV", "CHE", "CHW", "CLF", "COU", "MXV", "USN", "UYI", "UYW",  # funds
}
ADDED = {"BTC"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", default=DEFAULT_DATA)
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--system", nargs="?", const=SYSTEM_SCRIPT, default=None)
    args = parser.parse_args()
    with open(args.data, encoding="utf-8") as f:
        listed = {entry["alpha_3"] for entry in json.load(f)["4217"]}
    codes = sorted((listed - LEFT_OUT) | ADDED)
    lines = [
        "// Generated from Debian's iso-codes ISO 4217 list (iso_4217.json) by tools/gen_currencies.py; do not edit.",
        "// The built-in currency codes, sorted: a code's 1-based position is its currency index. %d codes." % len(codes),
        "",
    ]
    for i in range(0, len(codes), 16):
        lines.append("    " + " ".join('"%s",' % c for c in codes[i:i + 16]))
    text = "\n".join(lines) + "\n"
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    if args.system:
        rewrite_system_list(args.system, codes)


def rewrite_system_list(path, codes):
    """Replaces the words of the `list: [...]` block of the system script by the codes."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.strip() == "list: [")
    end = next(i for i in range(start + 1, len(lines)) if lines[i].strip() == "]")
    indent = lines[start][: len(lines[start]) - len(lines[start].lstrip())] + "    "
    body = [indent + " ".join(codes[i:i + 20]) for i in range(0, len(codes), 20)]
    lines[start + 1:end] = body
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
