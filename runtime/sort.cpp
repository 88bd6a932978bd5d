// The sorting engine.
#include "sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "exits.h"

namespace zol {

void sort_swap(uint8_t* a, uint8_t* b, size_t bytes, bool bytewise) {
    size_t i = 0;
    if (!bytewise) {
        for (; i + 8 <= bytes; i += 8) {
            uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            std::memcpy(a + i, &y, 8);
            std::memcpy(b + i, &x, 8);
        }
        for (; i + 4 <= bytes; i += 4) {
            uint32_t x, y;
            std::memcpy(&x, a + i, 4);
            std::memcpy(&y, b + i, 4);
            std::memcpy(a + i, &y, 4);
            std::memcpy(b + i, &x, 4);
        }
    }
    for (; i < bytes; i++) {
        uint8_t t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

namespace {

inline int sign(int v) { return (v > 0) - (v < 0); }

// The records being sorted, addressed by index.
class Records {
public:
    Records(uint8_t* base, size_t w, SortCompare cmp) : base_(base), w_(w), cmp_(cmp), bytewise_(w % 4 != 0) {}

    uint8_t* at(size_t i) const { return base_ + i * w_; }
    size_t width() const { return w_; }
    int cmp(size_t i, size_t j) const { return cmp_(at(i), at(j)); }
    int cmp_ptr(const uint8_t* a, const uint8_t* b) const { return cmp_(a, b); }
    void swap(size_t i, size_t j) const {
        if (i != j) sort_swap(at(i), at(j), w_, bytewise_);
    }
    void reverse(size_t lo, size_t hi) const {  // [lo, hi)
        while (hi > lo + 1) swap(lo++, --hi);
    }
    // Brings count records from src to dst by exchanges, record by record in the direction that never
    // overwrites a record still to be moved (the ranges may overlap); the displaced records end up in the
    // places the moved ones left.
    void move_down(size_t dst, size_t src, size_t count) const {  // dst < src
        for (size_t t = 0; t < count; t++) swap(dst + t, src + t);
    }
    void move_up(size_t dst, size_t src, size_t count) const {  // dst > src
        for (size_t t = count; t-- > 0;) swap(src + t, dst + t);
    }
    // Insertion sort of [lo, hi) where [lo, from) is already sorted; equal records keep their order.
    void insert(size_t lo, size_t from, size_t hi) const {
        for (size_t i = from; i < hi; i++) {
            for (size_t j = i; j > lo && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
        }
    }

private:
    uint8_t* base_;
    size_t w_;
    SortCompare cmp_;
    bool bytewise_;
};

// --- quicksort

// Grows the sorted prefix [0, e] (in direction d) with the ordered stretches that probes every ten
// records find further on. A stretch joins only when some record pair (prefix[e-k], stretch[k]) with k up
// to a small bound is in order: the prefix is cut after e-k and the stretch from k on is exchanged into
// the places after it, so the prefix stays sorted. Returns the new last index of the prefix.
size_t extend_prefix(const Records& r, size_t n, size_t e, int d) {
    for (size_t hi = e + 11; hi < n; hi += 10) {
        size_t lo = hi - 1;
        while (hi < n && d * sign(r.cmp(hi - 1, hi)) <= 0) hi++;
        while (lo > e + 1 && d * sign(r.cmp(lo - 1, lo)) <= 0) lo--;
        size_t length = hi - lo;
        if (length < 4) continue;
        size_t kmax = std::min(length / 2, e / 4);
        for (size_t k = 0;; k++) {
            if (d * sign(r.cmp(e - k, lo + k)) <= 0) {
                size_t dst = e - k + 1, src = lo + k;
                if (dst != src) r.move_down(dst, src, hi - src);
                e = dst + (hi - src) - 1;
                break;
            }
            if (k == kmax) break;  // too far out of order: leave the stretch where it is
        }
    }
    return e;
}

// Sorts the n records from lo. s > 0: the first s records are a sorted sample; s < 0: the last -s are.
void sample_sort(const Records& r, size_t lo, int64_t s, size_t n) {
    while (n > 7) {
        size_t k = size_t(s < 0 ? -s : s);
        size_t m = n;  // records partitioned in this pass: a prefix of the range while the sample is small
        size_t left, right;  // sample records known to lie left of the pivot, and at the end of the m records
        if (k < 3) {
            if (n > 511) m = 63;
            r.swap(lo + 1, lo + m / 2);
            if (r.cmp(lo, lo + 1) > 0) r.swap(lo, lo + 1);
            if (r.cmp(lo + 1, lo + m - 1) > 0) {
                r.swap(lo + 1, lo + m - 1);
                if (r.cmp(lo, lo + 1) > 0) r.swap(lo, lo + 1);
            }
            left = right = 1;
        } else {
            if (k <= n / 256) m = 16 * k - 1;
            if (s < 0) {
                if (m < n) {
                    r.move_down(lo, lo + n - k, k);
                    s = int64_t(k);
                } else {
                    r.move_down(lo, lo + n - k, (k + 1) / 2);
                }
            }
            if (s > 0) {
                if (m < n) {
                    // Spread the partitioned prefix over the whole input so its split is representative.
                    size_t stride = n / m;
                    for (size_t p = k; p < m; p++) r.swap(lo + p, lo + p * stride);
                }
                r.move_up(lo + m - k / 2, lo + k - k / 2, k / 2);
            }
            left = (k - 1) / 2;
            right = k / 2;
        }

        // Fat-pivot partition of [lo, lo + m): the pivot stays put, records equal to it gather right after
        // it, smaller ones follow, larger ones go right.
        size_t p = lo + left;
        size_t equal_end = p + 1;
        size_t i = p + 1;
        size_t j = lo + m - right - 1;
        for (;;) {
            while (i <= j) {
                int c = r.cmp(i, p);
                if (c > 0) break;
                if (c == 0) r.swap(i, equal_end++);
                i++;
            }
            int cj = 1;
            while (j >= i) {
                cj = r.cmp(j, p);
                if (cj <= 0) break;
                j--;
            }
            if (j < i) break;
            r.swap(i, j);
            if (cj == 0) r.swap(i, equal_end++);
            i++;
            j--;
        }
        size_t equal = equal_end - p;
        size_t smaller = i - equal_end;
        size_t moved = std::min(equal, smaller);
        for (size_t t = 0; t < moved; t++) r.swap(p + t, i - moved + t);

        size_t left_count = i - equal - lo;
        size_t right_count = lo + m - i;
        if (m < n) {
            if (right_count > right) sample_sort(r, i, -int64_t(right), right_count);
            if (left_count > left) sample_sort(r, lo, int64_t(left), left_count);
            s = int64_t(m);  // the first m records are now sorted: a larger sample for the next pass
            continue;
        }
        bool left_open = left_count > left, right_open = right_count > right;
        // Recurse into the smaller open part and loop on the other, so the depth stays logarithmic.
        if (left_open && right_open) {
            if (right_count < left_count) {
                sample_sort(r, i, -int64_t(right), right_count);
                right_open = false;
            } else {
                sample_sort(r, lo, int64_t(left), left_count);
                left_open = false;
            }
        }
        if (left_open) {
            s = int64_t(left);
            n = left_count;
        } else if (right_open) {
            s = -int64_t(right);
            lo = i;
            n = right_count;
        } else {
            return;
        }
    }
    r.insert(lo, lo + 1, lo + n);
}

// --- merge sort

// The longest non-descending run from start (a strictly descending one is reversed in place), extended to
// at least 24 records by insertion. Returns its end.
size_t find_run(const Records& r, size_t start, size_t n) {
    size_t end = start + 1;
    if (end < n) {
        if (r.cmp(start, end) > 0) {
            for (end++; end < n && r.cmp(end - 1, end) > 0;) end++;
            r.reverse(start, end);
        } else {
            for (end++; end < n && r.cmp(end - 1, end) <= 0;) end++;
        }
    }
    size_t want = std::min(start + 24, n);
    if (end < want) {
        r.insert(start, end, want);
        end = want;
    }
    return end;
}

// Powersort's node power of the boundary between runs [a1, a2) and [a2, b2) of n records: one more than
// the number of leading bits that the two runs' midpoints, as fractions of n, share.
int node_power(size_t a1, size_t a2, size_t b2, size_t n) {
    uint64_t l = uint64_t(a1) + a2, r = uint64_t(a2) + b2;
    int power = 0;
    for (;;) {
        bool lb = l >= n, rb = r >= n;
        if (lb != rb) break;
        power++;
        if (lb) {
            l -= n;
            r -= n;
        }
        l *= 2;
        r *= 2;
    }
    return power + 1;
}

// Merges the runs [lo, mid) and [mid, hi), the shorter one held in the buffer. The records still in the
// buffer always fit exactly in the hole between the output and the unread part of the other run; the
// destructor copies them back, so a comparison that unwinds out of run() leaves every record in place.
class Merge {
public:
    Merge(const Records& r, uint8_t* temp, size_t lo, size_t mid, size_t hi)
        : r_(r), temp_(temp), w_(r.width()), lo_(lo), hi_(hi), from_back_(hi - mid < mid - lo) {
        held_ = from_back_ ? hi - mid : mid - lo;
        std::memcpy(temp_, r_.at(from_back_ ? mid : lo), held_ * w_);
        other_ = mid;
        out_ = from_back_ ? hi : lo;
    }
    ~Merge() {
        if (from_back_) {
            std::memcpy(r_.at(other_), temp_, held_ * w_);  // the hole is [other_, out_)
        } else {
            std::memcpy(r_.at(out_), temp_ + first_ * w_, (held_ - first_) * w_);  // the hole is [out_, other_)
        }
    }
    Merge(const Merge&) = delete;
    Merge& operator=(const Merge&) = delete;

    void run() {
        if (from_back_) {
            // Right run in the buffer: fill from hi down, taking the left record only when it sorts after.
            while (held_ > 0 && other_ > lo_) {
                const uint8_t* right = temp_ + (held_ - 1) * w_;
                if (r_.cmp_ptr(r_.at(other_ - 1), right) > 0) {
                    std::memcpy(r_.at(out_ - 1), r_.at(other_ - 1), w_);
                    other_--;
                } else {
                    std::memcpy(r_.at(out_ - 1), right, w_);
                    held_--;
                }
                out_--;
            }
        } else {
            // Left run in the buffer: fill from lo up, taking the right record only when it sorts before.
            while (first_ < held_ && other_ < hi_) {
                const uint8_t* left = temp_ + first_ * w_;
                if (r_.cmp_ptr(left, r_.at(other_)) > 0) {
                    std::memcpy(r_.at(out_), r_.at(other_), w_);
                    other_++;
                } else {
                    std::memcpy(r_.at(out_), left, w_);
                    first_++;
                }
                out_++;
            }
        }
    }

private:
    const Records& r_;
    uint8_t* temp_;
    size_t w_;
    size_t lo_, hi_;
    bool from_back_;
    size_t held_;       // back merge: records still in the buffer; front merge: records copied there
    size_t first_ = 0;  // front merge: first record of the buffer not yet written out
    size_t other_;      // back merge: end of the unread left run; front merge: next unread right record
    size_t out_;
};

struct FreeBuffer {
    void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

void sort_quick(uint8_t* base, size_t n, size_t w, SortCompare cmp) {
    if (n < 2) return;
    Records r(base, w, cmp);
    // The leading run fixes a direction; a sparse sample of the rest tells whether the input is mostly in
    // that order (or its reverse), in which case ordered stretches further on are pulled into the prefix.
    int d = 0;
    size_t i = 1;
    for (; i < n; i++) {
        int c = r.cmp(i - 1, i);
        if (c == 0) continue;
        int dir = c < 0 ? 1 : -1;
        if (d == 0) {
            d = dir;
        } else if (dir != d) {
            break;
        }
    }
    if (d == 0) d = 1;
    size_t e = i - 1;
    if (i < n) {
        int64_t score = d * int64_t(i);
        for (size_t j = i + 1; j < n; j += 97) {
            int c = r.cmp(j - 1, j);
            score += (c < 0) - (c > 0);
        }
        if ((score < 0 ? -score : score) > int64_t(n / 512)) {
            if (d * score < 0) {
                e = 0;
                d = -d;
            }
            e = extend_prefix(r, n, e, d);
        }
    }
    if (d < 0) r.reverse(0, e + 1);
    if (e + 1 < n) sample_sort(r, 0, int64_t(e + 1), n);
}

size_t sort_merge(uint8_t* base, size_t n, size_t w, SortCompare cmp) {
    if (n < 2) return n;
    uint64_t bytes = uint64_t(n / 2) * w;
    if (bytes > UINT32_MAX) fire(ERR_SCRIPT_TOO_LONG);
    std::unique_ptr<uint8_t, FreeBuffer> temp(static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1)));
    if (!temp) fire(ERR_INTERNAL_NO_MEMORY);
    Records r(base, w, cmp);

    struct Pending {
        size_t start;
        int power;
    };
    Pending stack[80];  // powers only grow up the stack and never pass 66
    int top = 0;
    auto merge = [&](size_t lo, size_t mid, size_t hi) {
        Merge m(r, temp.get(), lo, mid, hi);
        m.run();
    };

    size_t a1 = 0, a2 = find_run(r, 0, n);
    while (a2 < n) {
        size_t b2 = find_run(r, a2, n);
        int power = node_power(a1, a2, b2, n);
        while (top > 0 && stack[top - 1].power >= power) {
            merge(stack[top - 1].start, a1, a2);
            a1 = stack[--top].start;
        }
        stack[top++] = {a1, power};
        a1 = a2;
        a2 = b2;
    }
    while (top > 0) {
        merge(stack[top - 1].start, a1, a2);
        a1 = stack[--top].start;
    }
    return n;
}

}  // namespace zol
