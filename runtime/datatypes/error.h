// error! values: an error is an object of ten fields made from a catalog entry and up to three
// arguments; the raiser (fire) builds one and throws it, try keeps it as a value.
#pragma once
#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zol {

enum ErrorField : uint32_t {
    ERROR_FIELD_CODE,
    ERROR_FIELD_TYPE,
    ERROR_FIELD_ID,
    ERROR_FIELD_ARG1,
    ERROR_FIELD_ARG2,
    ERROR_FIELD_ARG3,
    ERROR_FIELD_NEAR,
    ERROR_FIELD_WHERE,
    ERROR_FIELD_STACK,
    ERROR_FIELD_FILES,
    ERROR_FIELD_COUNT
};

// Pushes a new error of the catalog entry (arguments may be null) and returns its cell.
Cell* error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
Cell* error_field(const Cell* error, ErrorField field);
// The catalog entry of an error (from its code field); ERR_COUNT when the code names none.
ErrorId error_id(const Cell* error);
// Stores the word into the where field when that field is still none.
void error_set_where(Cell* error, const Cell* word);
// The report printed for an error: "*** <type>: <message>", then its Where and Near lines.
std::string error_form_text(const Cell* error);

}  // namespace zol
