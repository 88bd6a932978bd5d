// Whether this build runs under AddressSanitizer: GCC says so with __SANITIZE_ADDRESS__, clang (the fuzz
// build) only through __has_feature. Such builds keep every buffer in the C allocator, whose blocks the
// leak checker scans, and leave the machine stack to threads, which it follows.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define ZOL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOL_ADDRESS_SANITIZER 1
#endif
#endif
