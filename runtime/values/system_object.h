// The system object as the runtime reads it. The object itself is Zol, made by a built-in library script
// (library/system.zol); start-up attaches it here and puts into it the values only the runtime holds (the
// global context as an object, the error catalog and prototype, the lexer's token names, the build date).
// From then on the datatypes, the lexer and the raiser read their settings through these readers. Until it
// is attached, and wherever a field holds a value of the wrong kind, a reader gives its default.
//
// None of the readers allocates. A cell returned points into an object's values: use it before anything
// allocates.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The fields the runtime reads, below the system object.
enum SystemPath : uint32_t {
    SYS_LOCALE_MONTHS,       // locale/months: 12 month names
    SYS_LOCALE_DAYS,         // locale/days: 7 day names, Monday first
    SYS_CURRENCY_LIST,       // locale/currencies/list: currency code words
    SYS_MONEY_DIGITS,        // options/money-digits
    SYS_DECIMAL_DIGITS,      // options/decimal-digits
    SYS_BINARY_BASE,         // options/binary-base
    SYS_CATALOG_ERRORS,      // catalog/errors: the error catalog
    SYS_STACK_TRACE,         // state/stack-trace
    SYS_SOURCE_FILES,        // state/source-files
    SYS_CALLBACK_BITS,       // state/callbacks/bits
    SYS_LEXER_EXIT_STATES,   // lexer/exit-states: the names of the lexer's structural tokens
    SYS_SCHEMES,             // schemes: the scheme objects by name
    SYS_STANDARD_PORT,       // standard/port: the prototype of every port
    SYS_STANDARD_PORT_SPEC,  // standard/port-spec: the prototype of a port's spec
    SYS_PATH_COUNT
};

// Start-up: attaches the object (an object! the caller keeps reachable until this returns) and makes the
// names of the paths above. Allocates.
void system_object_set(const Cell* object);
// The attached object!, or null before.
const Cell* system_object();

// The value at one of the paths, or null when the object is not attached or a step finds no field (or no
// object to look in).
const Cell* system_get(SystemPath path);
// The value cell at a path of field names written out ("options/float/pretty?"), for start-up code that
// fills fields; null as above. Allocates (it makes the names).
Cell* system_field(const char* path);

// locale/months and locale/days: the blocks, or null.
const Cell* system_locale_months();
const Cell* system_locale_days();

// locale/currencies/list: the block of currency code words, or null.
const Cell* system_currencies();
// The 1-based index of a three-letter code (letters of any case) in that list, -1 when absent.
int32_t system_currency_index(const uint8_t* code, size_t length);
// The code at a 1-based index as NUL-terminated text; false for 0, an index past the list or an entry that
// is no word of three characters.
bool system_currency_code(uint32_t index, char code[4]);

// An integer option: its value when the field holds an integer!, else the fallback.
int32_t system_integer(SystemPath path, int32_t fallback);
// options/money-digits: the number of fraction digits money! writes; 2 unless it holds an integer!.
inline int32_t system_money_digits() { return system_integer(SYS_MONEY_DIGITS, 2); }

// catalog/errors: the catalog object error reports and make error! read, or null.
const Cell* system_error_catalog();

// state/stack-trace and state/source-files, as error reports read and tests set them: the object's own
// cells while it is attached and the field is there, else cells of the runtime's own (none at start).
Cell* system_stack_trace_cell();
Cell* system_source_files_cell();

}  // namespace zol
