#!/usr/bin/env python3
"""Writes tests/datatypes/money_oracle.inc: money! arithmetic and rounding worked out by Python's decimal
module, which the money! tests hold the runtime to.

Amounts have 17 integer and 5 fraction digits. Sums and differences are exact; products and quotients keep
five fraction digits, truncated toward zero; a remainder has the dividend's sign. A result of 10^17 or more,
or a product or quotient that truncates to zero from a non-zero value, is out of range ("limit"); a zero
divisor gives "zero". Rounding goes to a multiple of the scale in each of the seven modes of round.

Rows: {a, b, sum, difference, product, quotient, remainder, order of a and b}, amounts as mold/all writes them,
and {value, scale, default, down, floor, ceiling, even, half-down, half-ceiling}.

usage: gen_money_oracle.py [--output FILE]   (FILE '-' writes to standard output)
"""
import argparse
import decimal
import os
import random
import sys
from decimal import Decimal

DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "datatypes", "money_oracle.inc")
decimal.getcontext().prec = 100
PLACES = Decimal("0.00001")
LIMIT = Decimal(10) ** 17
EDGES = ["0", "0.00001", "1", "2.5", "0.5", "3", "99999999999999999.99999", "10000000000000000", "316227766.01683",
         "99999.99999", "0.99999", "2147483647", "2147483648"]


def text(v):
    """An amount as mold/all writes it, or the out-of-range mark."""
    if v is None:
        return "limit"
    if isinstance(v, str):
        return v
    s = "{:.5f}".format(abs(v))
    return ("-" if v < 0 else "") + "$" + s


def fits(v):
    return abs(v) < LIMIT


def truncated(v):
    return v.quantize(PLACES, rounding=decimal.ROUND_DOWN)


def operations(a, b):
    s, d = a + b, a - b
    p = truncated(a * b)
    product = p if fits(p) and not (p == 0 and a * b != 0) else None
    if b == 0:
        quotient = remainder = "zero"
    else:
        q = truncated(a / b)
        quotient = q if fits(q) and not (q == 0 and a != 0) else None
        remainder = a % b
    order = (a > b) - (a < b)
    return [s if fits(s) else None, d if fits(d) else None, product, quotient, remainder, order]


def rounded(v, scale, mode):
    q = v / scale
    if mode == "half-ceiling":
        whole = q.to_integral_value(rounding=decimal.ROUND_FLOOR)
        q = whole + 1 if q - whole >= Decimal("0.5") else whole
    else:
        q = q.to_integral_value(rounding=mode)
    r = q * scale
    return r if fits(r) else None


MODES = [decimal.ROUND_HALF_UP, decimal.ROUND_DOWN, decimal.ROUND_FLOOR, decimal.ROUND_CEILING,
         decimal.ROUND_HALF_EVEN, decimal.ROUND_HALF_DOWN, "half-ceiling"]


def amount(rng, integer_digits, fraction_digits):
    i = rng.randint(0, 10 ** integer_digits - 1) if integer_digits else 0
    f = rng.randint(0, 10 ** fraction_digits - 1) if fraction_digits else 0
    v = Decimal(i) + Decimal(f).scaleb(-fraction_digits)
    return -v if rng.random() < 0.3 else v


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    args = parser.parse_args()
    rng = random.Random(1234567)
    values = [Decimal(e) for e in EDGES] + [-Decimal(e) for e in EDGES[1:]]
    pairs = [(a, b) for a in values for b in values]
    for _ in range(1500):
        a = amount(rng, rng.randint(0, 17), rng.randint(0, 5))
        b = amount(rng, rng.randint(0, 17), rng.randint(0, 5))
        pairs.append((a, b))
    lines = [
        "// Generated with Python's decimal module by tools/gen_money_oracle.py; do not edit.",
        "#ifdef MONEY_ARITHMETIC",
        "// {a, b, a + b, a - b, a * b, a / b, a // b, order}: %d pairs." % len(pairs),
    ]
    for a, b in pairs:
        row = [text(a), text(b)] + [text(v) for v in operations(a, b)[:5]]
        lines.append("{%s, %d}," % (", ".join('"%s"' % t for t in row), operations(a, b)[5]))
    lines.append("#endif")
    rounds = []
    scales = [Decimal(s) for s in ["1", "0.01", "3", "0.5", "0.00001", "0.25", "100", "7.5", "0.00003"]]
    for v in values + [Decimal(s) for s in ["1.225", "5.5", "-5.5", "2.5", "-2.5", "0.125", "-0.375", "1.237"]]:
        for s in scales:
            rounds.append((v, s))
    for _ in range(600):
        rounds.append((amount(rng, rng.randint(0, 17), rng.randint(0, 5)), abs(amount(rng, rng.randint(0, 4), rng.randint(0, 5))) or Decimal(1)))
    lines.append("#ifdef MONEY_ROUNDING")
    lines.append("// {value, scale, default, /down, /floor, /ceiling, /even, /half-down, /half-ceiling}: %d cases." % len(rounds))
    for v, s in rounds:
        row = [text(v), text(s)] + [text(rounded(v, s, m)) for m in MODES]
        lines.append("{%s}," % ", ".join('"%s"' % t for t in row))
    lines.append("#endif")
    out = "\n".join(lines) + "\n"
    if args.output == "-":
        sys.stdout.write(out)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(out)


if __name__ == "__main__":
    main()
