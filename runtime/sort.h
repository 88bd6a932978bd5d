// The sorting engine: two sorts of fixed-width records in one contiguous buffer, driven by a compare
// callback. sort_quick is an in-place quicksort that exploits existing order (not stable); sort_merge is a
// stable natural merge sort with the Powersort merge policy. block! and string! sort through them.
//
// The callback may raise an error or leave a pending unwind (as PendingUnwind): both sorts only ever
// exchange records or hold them in the merge buffer, and an unwinding merge puts its buffer back, so the
// items stay a permutation of the input whatever the callback does.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol {

// A non-owning reference to any callable int(const uint8_t* a, const uint8_t* b): negative when a sorts
// before b, 0 when they are equal, positive when a sorts after b. The callable must outlive the sort.
class SortCompare {
public:
    template <class F>
    SortCompare(const F& f)  // NOLINT: implicit by design, so lambdas pass straight in
        : object_(&f), call_([](const void* o, const uint8_t* a, const uint8_t* b) {
              return (*static_cast<const F*>(o))(a, b);
          }) {}
    int operator()(const uint8_t* a, const uint8_t* b) const { return call_(object_, a, b); }

private:
    const void* object_;
    int (*call_)(const void*, const uint8_t*, const uint8_t*);
};

// Exchanges two byte ranges of equal length: 32-bit word by word (wider when the length allows), or byte by
// byte when bytewise is set.
void sort_swap(uint8_t* a, uint8_t* b, size_t bytes, bool bytewise);

// Sorts n records of w bytes from base in place. Not stable; allocates nothing.
void sort_quick(uint8_t* base, size_t n, size_t w, SortCompare cmp);

// Sorts n records of w bytes from base in place, keeping equal records in their input order. Takes a
// temporary buffer of (n / 2) x w bytes, freed on every path: script error too-long when that size does not
// fit in 32 bits, internal error no-memory when it cannot be had. Returns n.
size_t sort_merge(uint8_t* base, size_t n, size_t w, SortCompare cmp);

}  // namespace zol
