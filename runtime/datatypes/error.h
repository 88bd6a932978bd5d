// error! values: an error is an object (class 1) of ten fields made from a catalog entry and up to three
// arguments; the raiser (fire) builds one and throws it, try keeps it as a value, the console forms it.
//
// The catalog (system/catalog/errors): an object whose fields are the classes in class-index order, each
// class an object of the fields code, type (its text, "Script Error") and then its ids, each holding its
// message template. It is built at start-up from errors.def, as is the error prototype
// (system/standard/error) every new error starts as a copy of.
#pragma once
#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/exits.h"

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

// Start-up: the catalog objects and the error prototype, kept in rooted globals.
void errors_init();
const Cell* error_catalog();
const Cell* error_prototype();
// The settings of the system state that errors read: stack-trace (a positive integer! asks for traces of
// that depth) and the block of files being evaluated. They live here until the system object holds them.
Cell* error_state_stack_trace();
Cell* error_state_files();

// Reads a message template of errors.def (a string with ^ escapes, a word, or a block of strings, words
// and get-words) into the cell, which must stay reachable; false for text outside that grammar. The catalog
// is built early in start-up, before the lexer's tables, so that start-up itself can raise errors: this
// small reader covers the only forms templates use.
bool error_read_template(const char* text, Cell* out);

// Pushes a new error of the catalog entry (arguments may be null) and returns its cell.
Cell* error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
Cell* error_field(const Cell* error, ErrorField field);
// The catalog entry of an error (from its code field); ERR_COUNT when the code names none.
ErrorId error_id(const Cell* error);
// The symbols of the type and id fields (0 when they hold no word).
uint32_t error_type_symbol(const Cell* error);
uint32_t error_id_symbol(const Cell* error);
// Stores the word into the where field when that field is still none.
void error_set_where(Cell* error, const Cell* word);
// For an error whose stack field still holds the frame mark of its raise: makes it the block of the names
// of the call frames up to the mark, and copies the files being evaluated into the files field. Other
// values are left alone. The value must stay reachable. Allocates.
void error_fill_stack(Cell* value);
// For an error whose stack field still holds the frame mark of its raise, once those frames are gone:
// makes the field none, so that a report formed later does not name the calls running then.
void error_drop_frame_mark(Cell* value);
// The report printed for an error: "*** <type>: <message>", then its Where and Near lines (and Stack and
// Files when there are).
std::string error_form_text(const Cell* error);
// Raises not-related, which names the operation first, as its message reads: "incompatible operation and
// datatype:".
[[noreturn]] void fire_not_related(Action act, uint32_t type);
// Reports an error without raising it, as print would show it: for code that runs outside any evaluation
// that could catch it (drawing, window events).
void error_print(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);

}  // namespace zol
