// The catalog tables built from errors.def.
#include "errors.h"

#include <array>

namespace zol {

namespace {

constexpr ErrorClassInfo kClasses[] = {
#define ZOL_ERROR_CLASS(name, word, text) {word, text},
#define ZOL_ERROR(cls, name, word, tmpl)
#include "errors.def"
#undef ZOL_ERROR_CLASS
#undef ZOL_ERROR
};
static_assert(sizeof kClasses / sizeof kClasses[0] == ERRC_COUNT);

struct RawEntry {
    ErrorClass cls;
    const char* word;
    const char* message;
};

constexpr RawEntry kRaw[] = {
#define ZOL_ERROR_CLASS(name, word, text)
#define ZOL_ERROR(cls, name, word, tmpl) {ERRC_##cls, word, tmpl},
#include "errors.def"
#undef ZOL_ERROR_CLASS
#undef ZOL_ERROR
};
static_assert(sizeof kRaw / sizeof kRaw[0] == ERR_COUNT);

// Positions count from 0 within each class, in file order.
constexpr std::array<ErrorInfo, ERR_COUNT> build_entries() {
    std::array<ErrorInfo, ERR_COUNT> out{};
    uint32_t next[ERRC_COUNT] = {};
    for (uint32_t i = 0; i < ERR_COUNT; i++) {
        out[i] = ErrorInfo{kRaw[i].cls, next[kRaw[i].cls]++, kRaw[i].word, kRaw[i].message};
    }
    return out;
}

constexpr std::array<ErrorInfo, ERR_COUNT> kEntries = build_entries();

}  // namespace

const ErrorClassInfo& error_class_info(ErrorClass c) { return kClasses[c]; }
const ErrorInfo& error_info(ErrorId id) { return kEntries[id]; }

ErrorId error_from_code(int code) {
    if (code < 0) return ERR_COUNT;
    for (uint32_t i = 0; i < ERR_COUNT; i++) {
        if (error_code(ErrorId(i)) == code) return ErrorId(i);
    }
    return ERR_COUNT;
}

}  // namespace zol
