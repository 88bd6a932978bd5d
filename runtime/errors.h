// The error catalog: classes and ids in their fixed order, from errors.def (the table generated from the
// catalog's source, boot/errors.zol). An error's code is its class index x 100 + its position within the
// class.
#pragma once
#include <cstdint>

namespace zol {

enum ErrorClass : uint32_t {
#define ZOL_ERROR_CLASS(name, word, text) ERRC_##name,
#define ZOL_ERROR(cls, name, word, tmpl)
#include "errors.def"
#undef ZOL_ERROR_CLASS
#undef ZOL_ERROR
    ERRC_COUNT
};

// Catalog entries in catalog order (not their codes: use error_code for that).
enum ErrorId : uint32_t {
#define ZOL_ERROR_CLASS(name, word, text)
#define ZOL_ERROR(cls, name, word, tmpl) ERR_##cls##_##name,
#include "errors.def"
#undef ZOL_ERROR_CLASS
#undef ZOL_ERROR
    ERR_COUNT
};

struct ErrorClassInfo {
    const char* word;  // "script"
    const char* text;  // "Script Error"
};

struct ErrorInfo {
    ErrorClass cls;
    uint32_t position;  // within the class, from 0
    const char* word;   // "no-value"
    const char* message;  // the template, as Zol source: a string or a block of strings and :argN
};

const ErrorClassInfo& error_class_info(ErrorClass c);
const ErrorInfo& error_info(ErrorId id);
inline int error_code(ErrorId id) {
    const ErrorInfo& e = error_info(id);
    return int(e.cls) * 100 + int(e.position);
}
// The entry with the given code, or ERR_COUNT when the code names none.
ErrorId error_from_code(int code);

}  // namespace zol
