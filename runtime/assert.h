// Internal invariants, checked in the sanitizer and collector-stress builds (built with ZOL_ASSERTS): an
// accessor used on a cell of the wrong type, or a stack or collector invariant broken, stops the process
// there with the condition's text, instead of corrupting the heap for a later crash to find.
#pragma once

namespace zol {

[[noreturn]] void assert_failed(const char* condition, const char* file, int line);

}  // namespace zol

#if defined(ZOL_ASSERTS)
#define ZOL_ASSERT(condition) \
    (__builtin_expect(static_cast<bool>(condition), 1) ? void(0) : ::zol::assert_failed(#condition, __FILE__, __LINE__))
#else
#define ZOL_ASSERT(condition) ((void)0)
#endif
