#!/usr/bin/env python3
"""Writes tests/datatypes/date_oracle.inc: calendar facts from Python's datetime and calendar modules, which
the date! tests hold the runtime's own calendar routines to.

Each row is a day: year, month, day, its day number (days since 1 March of year 0), weekday (1 Monday to
7 Sunday), day of the year, week of the year (weeks start on Sunday, week 1 holds 1 January), ISO week and
whether the year is a leap year. The days are every day of years where the rules change (centuries, leap
years, years whose 1 January falls on each weekday) (each weekday among them) and a fixed pseudo-random sample over years 1 to 9999.
Years before 1 and after 9999, which datetime does not reach, come from the 400-year cycle of the Gregorian calendar
(146097 days): a day 400k years later, k cycles of days back.

usage: gen_date_oracle.py [--output FILE]   (FILE '-' writes to standard output)
"""
import argparse
import calendar
import datetime
import os
import random
import sys

DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "datatypes", "date_oracle.inc")
CYCLE_DAYS = 146097
WHOLE_YEARS = [1, 4, 100, 400, 1600, 1900, 1969, 2000, 2019, 2021, 2023, 2024, 2100, 9999]


def facts(year, month, day):
    """The row of a day of year 1 to 9999."""
    d = datetime.date(year, month, day)
    number = d.toordinal() + 305  # 1-Jan-0001 is ordinal 1 and day number 306
    jan1 = datetime.date(year, 1, 1)
    yearday = d.timetuple().tm_yday
    sunday_based = jan1.isoweekday() % 7  # 0 when 1 January is a Sunday
    week = (yearday - 1 + sunday_based) // 7 + 1
    return [year, month, day, number, d.isoweekday(), yearday, week, d.isocalendar()[1], int(calendar.isleap(year))]


def shifted(year, month, day):
    """The row of a day of any year, through the 400-year cycle."""
    cycles = 0
    while year + 400 * cycles < 1:
        cycles += 1
    while year + 400 * cycles > 9999:
        cycles -= 1
    row = facts(year + 400 * cycles, month, day)
    row[0] = year
    row[3] -= CYCLE_DAYS * cycles
    return row


def days_of(year):
    for month in range(1, 13):
        for day in range(1, calendar.monthrange(year, month)[1] + 1):
            yield year, month, day


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    args = parser.parse_args()
    rows = []
    for year in WHOLE_YEARS:
        rows.extend(facts(*d) for d in days_of(year))
    for year in [0, -1, -4, -100, -401, -16384, 16383]:
        template = year % 400 or 400
        rows.extend(shifted(year, m, d) for (_, m, d) in days_of(template))
    rng = random.Random(20240315)
    for _ in range(3000):
        year = rng.randint(1, 9999)
        month = rng.randint(1, 12)
        day = rng.randint(1, calendar.monthrange(year, month)[1])
        rows.append(facts(year, month, day))
    lines = [
        "// Generated from Python's datetime and calendar modules by tools/gen_date_oracle.py; do not edit.",
        "// {year, month, day, day number, weekday, yearday, week, isoweek, leap}: %d days." % len(rows),
    ]
    lines.extend("{%s}," % ",".join(str(v) for v in row) for row in rows)
    text = "\n".join(lines) + "\n"
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
