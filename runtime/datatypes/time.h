// time! values: a duration or time of day in seconds, a double in words 2 and 3 of the cell (the float!
// payload), negative for negative times. time! is a child of float!: it keeps float!'s comparison, random,
// absolute, negate and remainder, and has its own text, fields and the arithmetic rules of durations.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

Cell* time_make_at(Cell* cell, double seconds);
// A new time at the block's tail from the double's two halves (allocates).
Cell* time_make_in(const Cell* block, uint32_t low, uint32_t high);
Cell* time_push(double seconds);

// Whole hours, truncated toward zero (negative for a negative time).
double time_hours(double seconds);
// Minutes within the hour of the magnitude, 0 to 59.
int32_t time_minutes(double seconds);
// 1, 2 or 3 for the words hour, minute and second (any case); -1 for another word, except that a time!
// value raises cannot-use (the word, the value) then.
int time_field_index(const Cell* word, const Cell* value);
// Field 1 to 3 of a number of seconds into the cell: the hours and minutes as integer!, the seconds as
// float! (fmod by 60, keeping the sign).
Cell* time_get_field(Cell* out, double seconds, int field);
// The seconds with field 1 to 3 set to the value (an integer, or for the seconds an integer or float).
// The minute and second of a negative time are set on its magnitude and the sign kept; the hour gives
// the time its sign (that of the time when the hour is 0), so each field reads back as it was set.
double time_set_field(double seconds, int field, double value);
// Appends [-]h:mm:ss[.ffffff] to the string; returns the budget less what was written.
int time_to_text(double seconds, Cell* out, int budget);

}  // namespace zol
