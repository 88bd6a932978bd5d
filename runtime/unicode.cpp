// Unicode code points and their encodings.
#include "unicode.h"

#include <array>
#include <bit>
#include <cstring>

#include "exits.h"
#include "gc.h"
#include "system.h"

namespace zol {

static_assert(std::endian::native == std::endian::little, "4-byte units are copied as host integers");

namespace {

// The UTF-8 decoding automaton of Bjoern Hoehrmann: a class for each byte, then the transitions of the states,
// which are multiples of 12 (0 accepts, 12 rejects). Indexed as classes[byte] and transitions[state + class].
struct Utf8Automaton {
    std::array<uint8_t, 256> classes;
    std::array<uint8_t, 108> transitions;
};

constexpr uint32_t UTF8_ACCEPT = 0;
constexpr uint32_t UTF8_REJECT = 12;

constexpr Utf8Automaton make_automaton() {
    Utf8Automaton a{};
    struct Range {
        uint32_t first, last;
        uint8_t cls;
    };
    const Range ranges[] = {
        {0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9},  {0xA0, 0xBF, 7}, {0xC0, 0xC1, 8},
        {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3}, {0xED, 0xED, 4}, {0xEE, 0xEF, 3},
        {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6}, {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
    };
    for (const Range& r : ranges) {
        for (uint32_t b = r.first; b <= r.last; b++) a.classes[b] = r.cls;
    }
    a.transitions = {
        0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,  // 0: start
        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 12: rejected
        12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12,  // 24: one continuation byte left
        12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36: two left
        12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: after E0 (A0-BF only: no over-long form)
        12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: after ED (80-9F only: no surrogate)
        12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: after F0 (90-BF only)
        12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84: after F1-F3
        12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: after F4 (80-8F only: up to U+10FFFF)
    };
    return a;
}

constexpr Utf8Automaton kUtf8 = make_automaton();

[[noreturn]] void fire_invalid_char(uint32_t cp) {
    Cell arg;
    set_integer(&arg, int32_t(cp));
    fire(ERR_SCRIPT_INVALID_CHAR, &arg);
}

// The argument is a binary! of the bytes at the bad sequence. They are copied first: p may lie in a buffer
// that the caller cannot keep valid across the allocation.
[[noreturn]] void fire_invalid_utf8(const uint8_t* p, uint32_t available) {
    uint8_t bytes[4];
    uint32_t n = available < 4 ? available : 4;
    std::memcpy(bytes, p, n);
    uint32_t node = series_alloc_bytes(n);
    Series* s = node_series(node);
    std::memcpy(s->head_ptr(), bytes, n);
    s->tail = s->head + n;
    Cell arg;
    set_series(&arg, TYPE_BINARY, node);
    fire(ERR_ACCESS_INVALID_UTF8, &arg);  // roots its arguments before it allocates
}

// The caller has checked cp <= 0x10FFFF.
int encode_checked(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

inline uint32_t utf16_unit(const uint8_t* src, uint32_t i) { return uint32_t(src[2 * i]) | uint32_t(src[2 * i + 1]) << 8; }

void check_unit(uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) runtime_error(101, 0);  // string buffers never hold another
}

// The characters to convert: the length from the head, or fewer when a smaller count is asked for.
uint32_t chars_to_convert(const Cell* str, int64_t wanted) {
    uint32_t used = cell_series(str)->used();
    uint32_t length = series_index(str) < used ? used - series_index(str) : 0;
    return wanted >= 0 && wanted < int64_t(length) ? uint32_t(wanted) : length;
}

const uint8_t* head_units(const Cell* str) {
    Series* s = cell_series(str);
    return s->head_ptr() + uint64_t(series_index(str)) * s->unit();
}

// Widens every unit of the buffer from `from` to `to` bytes, from the last unit back: unit i moves to i x to,
// which lies past the end of every unit not yet moved, so no second buffer is needed. The room asked for also
// holds one more unit, the one whose arrival caused the widening.
Series* widen(uint32_t node, uint32_t from, uint32_t to) {
    Series* s = node_series(node);
    uint64_t units = (s->tail - s->head) / from;
    uint64_t need = units * to + to;
    if (s->head + need > s->size) s = series_expand(node, need);
    uint8_t* base = s->head_ptr();
    for (uint64_t i = units; i-- > 0;) string_put_unit(base + i * to, to, string_get_char(base + i * from, from));
    s->tail = s->head + uint32_t(units * to);
    s->flags = (s->flags & ~SER_UNIT_MASK) | to;
    return s;
}

// Stores one decoded code point at the tail of a buffer being loaded, widening or growing it first.
Series* load_store(uint32_t node, uint32_t cp, uint32_t source_length) {
    Series* s = node_series(node);
    uint32_t unit = s->unit();
    if (unit == 1 && cp > 0xFF) {
        s = cp > 0xFFFF ? unicode_latin1_to_ucs4(node) : unicode_latin1_to_ucs2(node);
    } else if (unit == 2 && cp > 0xFFFF) {
        s = unicode_ucs2_to_ucs4(node);
    }
    unit = s->unit();
    if (uint64_t(s->tail) + unit > s->size) {
        // Wider units need more room than the byte count promised; grow in steps of the source's size.
        uint64_t step = unit == 4 ? source_length : source_length / 4;
        if (step < unit) step = unit;
        s = series_expand(node, uint64_t(s->size) + step);
    }
    string_put_unit(s->tail_ptr(), unit, cp);
    s->tail += unit;
    return s;
}

}  // namespace

// --- UTF-8 scanning

const uint8_t* utf8_decode_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    if (p >= end) {
        *cp = UTF8_INCOMPLETE;
        return p;
    }
    uint32_t cls = kUtf8.classes[*p];
    uint32_t code = (0xFFu >> cls) & *p;
    uint32_t state = kUtf8.transitions[cls];
    p++;
    while (state != UTF8_ACCEPT && state != UTF8_REJECT) {
        if (p == end) break;
        state = kUtf8.transitions[state + kUtf8.classes[*p]];
        if (state == UTF8_REJECT) break;
        code = (code << 6) | (*p & 0x3Fu);
        p++;
    }
    *cp = state == UTF8_ACCEPT ? int32_t(code) : UTF8_INCOMPLETE;
    return p;
}

uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    for (const uint8_t* p = start; p < end; n++) p = utf8_decode_char(p, end, &cp);
    return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    for (; n > 0 && p < end; n--) p = utf8_decode_char(p, end, &cp);
    return p;
}

int utf8_lead_length(uint8_t byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

// --- UTF-8 sizing and encoding

int utf8_char_length(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    fire_invalid_char(cp);
}

uint64_t utf8_string_length(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    check_unit(unit);
    uint64_t total = 0;
    for (const uint8_t* p = start; p < end; p += unit) total += uint64_t(utf8_char_length(string_get_char(p, unit)));
    return total;
}

int utf8_encode_char(uint32_t cp, uint8_t* out) {
    if (cp > 0x10FFFF) fire_invalid_char(cp);
    return encode_checked(cp, out);
}

int utf8_encode_char_bounded(uint32_t cp, uint8_t* out, int room) {
    uint8_t bytes[4];
    int n = utf8_encode_char(cp, bytes);
    if (room < n) n = room > 0 ? room : 0;
    std::memcpy(out, bytes, size_t(n));
    return n;
}

int utf8_encode_char_replacing(uint32_t cp, uint8_t* out) { return encode_checked(cp > 0x10FFFF ? 0xFFFD : cp, out); }

// --- strings to UTF-8

const uint8_t* string_encode_utf8(Cell* str, int32_t* length, bool crlf) {
    uint32_t count = chars_to_convert(str, *length);
    uint32_t unit = cell_series(str)->unit();
    // Room for the widest character the unit can hold (a CR LF pair fits in it too) and the terminator.
    uint64_t size = (uint64_t(count) + 1) * (unit == 4 ? 4 : unit + 1);
    uint8_t* out = unicode_cache_buffer(str, size);
    const uint8_t* p = head_units(str);  // after the allocation
    uint8_t* w = out;
    for (uint32_t i = 0; i < count; i++, p += unit) {
        uint32_t cp = string_get_char(p, unit);
        if (crlf && cp == '\n') *w++ = '\r';
        w += utf8_encode_char(cp, w);
    }
    *w = 0;
    *length = int32_t(w - out);
    return out;
}

const uint8_t* string_to_utf8(Cell* str, int32_t* length) { return string_encode_utf8(str, length, false); }

const uint8_t* string_to_utf8_eol(Cell* str, int32_t* length, bool crlf) { return string_encode_utf8(str, length, crlf); }

uint32_t unicode_to_utf8(const Cell* str, uint8_t* dest, int32_t max_chars, bool terminate) {
    uint32_t count = chars_to_convert(str, max_chars);
    uint32_t unit = cell_series(str)->unit();
    const uint8_t* p = head_units(str);
    uint8_t* w = dest;
    for (uint32_t i = 0; i < count; i++, p += unit) w += utf8_encode_char(string_get_char(p, unit), w);
    if (terminate) *w = 0;
    return uint32_t(w - dest);
}

uint32_t unicode_to_utf8_sized(const Cell* str, uint8_t* dest, uint32_t room, int32_t max_chars, bool terminate) {
    uint32_t count = chars_to_convert(str, max_chars > 0 ? max_chars : -1);
    uint32_t unit = cell_series(str)->unit();
    const uint8_t* p = head_units(str);
    uint32_t used = 0;
    for (uint32_t i = 0; i < count && used < room; i++, p += unit) {
        used += uint32_t(utf8_encode_char_bounded(string_get_char(p, unit), dest + used, int(room - used)));
    }
    if (terminate) dest[used] = 0;
    return used;
}

// --- widening

Series* unicode_latin1_to_ucs2(uint32_t node) { return widen(node, 1, 2); }
Series* unicode_latin1_to_ucs4(uint32_t node) { return widen(node, 1, 4); }
Series* unicode_ucs2_to_ucs4(uint32_t node) { return widen(node, 2, 4); }

// --- UTF-8 into strings

int32_t unicode_decode_utf8_char(const uint8_t* p, uint32_t* count) {
    uint32_t available = *count;
    if (available == 0) return UTF8_INCOMPLETE;
    uint32_t b = p[0];
    if (b < 0x80) {
        *count = 1;
        return int32_t(b);
    }
    if (b < 0xC0 || b >= 0xF8) fire_invalid_utf8(p, available);
    uint32_t length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (available < length) return UTF8_INCOMPLETE;
    uint32_t cp = b - (length == 2 ? 0xC0 : length == 3 ? 0xE0 : 0xF0);
    for (uint32_t k = 1; k < length; k++) {
        uint32_t c = p[k];
        if (c < 0x80 || c > 0xBF) fire_invalid_utf8(p, available);
        cp = (cp << 6) | (c - 0x80);
    }
    // U+FFFE stands for "invalid" inside the decoder, so a text holding it is refused as a whole.
    if ((length == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE || cp > 0x10FFFF) fire_invalid_utf8(p, available);
    *count = length;
    return int32_t(cp);
}

uint32_t unicode_load_utf8(const uint8_t* src, uint32_t length, uint32_t target, uint32_t* undecoded, bool cr) {
    uint64_t n = length ? length : 1;  // one unit per byte is enough until the text needs a wider unit
    uint32_t node = target;
    if (node) {
        Series* s = node_series(node);
        if ((s->size - s->head) / s->unit() < n) series_grow_buffer(node, n * s->unit());  // content is replaced
    } else {
        node = series_alloc(n, 1);
    }
    GcRoot keep;  // a new buffer is reached by nothing else until the caller takes it
    set_series(keep.get(), TYPE_STRING, node);
    if (length == 0) return node;

    const uint8_t* p = src;
    const uint8_t* end = src + length;
    if (length > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;  // byte order mark
    Series* s = node_series(node);
    s->tail = s->head;
    if (p == end && undecoded) *undecoded = 0;
    while (p < end) {
        uint32_t count = uint32_t(end - p);
        int32_t cp = unicode_decode_utf8_char(p, &count);
        if (cp == UTF8_INCOMPLETE) {
            if (undecoded) *undecoded = uint32_t(end - p);
            break;
        }
        p += count;
        if (cr && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        load_store(node, uint32_t(cp), length);
    }
    return node;
}

uint32_t unicode_load_utf8_into(const uint8_t* src, uint32_t length, Cell* str, uint32_t* undecoded) {
    return unicode_load_utf8(src, length, series_node(str), undecoded, false);
}

uint32_t unicode_load_utf8_new(const uint8_t* src, uint32_t length) {
    return unicode_load_utf8(src, length, 0, nullptr, false);
}

// --- UTF-16LE

uint32_t utf16_scan_unit(const uint8_t* src, uint32_t count) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t high = src[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) unit = 2;
    }
    return unit;
}

uint32_t unicode_load_utf16(const uint8_t* src, uint32_t count, Cell* target, bool drop_cr) {
    if (!src) src = node_series(string_cache_node(target))->data();
    uint32_t unit = utf16_scan_unit(src, count);
    uint32_t node;
    if (target) {
        node = series_node(target);
        uint64_t need = round_up(uint64_t(count) * unit, 16);  // whole units of the old and the new size
        if (node_series(node)->size - node_series(node)->head < need) series_grow_buffer(node, need);
        Series* s = node_series(node);
        s->flags = (s->flags & ~SER_UNIT_MASK) | unit;
    } else {
        node = count ? series_alloc(count, unit) : series_alloc(1, 2);
        unit = node_series(node)->unit();
    }
    Series* s = node_series(node);
    uint8_t* out = s->head_ptr();
    uint32_t stored = 0;
    if (unit == 2 && !drop_cr) {
        std::memcpy(out, src, size_t(count) * 2);
        stored = count;
    } else {
        for (uint32_t i = 0; i < count; i++) {
            uint32_t c = utf16_unit(src, i);
            if (drop_cr && c == '\r') continue;
            if (c >= 0xD800 && c <= 0xDBFF) {
                uint32_t low = i + 1 < count ? utf16_unit(src, i + 1) : 0;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + (((c & 0x3FF) << 10) | (low & 0x3FF));
                    i++;
                } else {
                    c = 0xFFFD;  // broken input text must not end the process
                }
            }
            string_put_unit(out + uint64_t(stored) * unit, unit, c);
            stored++;
        }
    }
    s->tail = s->head + stored * unit;
    return node;
}

uint32_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    check_unit(unit);
    uint32_t extra = 0;
    for (const uint8_t* p = start; p < end; p += unit) {
        uint32_t cp = string_get_char(p, unit);
        if (cp == '\n' || cp >= 0x10000) extra += 2;
    }
    return extra;
}

const uint16_t* unicode_to_utf16_sized(Cell* str, int32_t* count, bool crlf) {
    uint32_t n = chars_to_convert(str, *count);
    uint32_t unit = cell_series(str)->unit();
    const uint8_t* p = head_units(str);
    uint64_t size = uint64_t(n) * 2 + 2 + utf16_extra_size(p, p + uint64_t(n) * unit, unit);
    auto* out = reinterpret_cast<uint16_t*>(unicode_cache_buffer(str, size));
    p = head_units(str);  // after the allocation
    uint16_t* w = out;
    if (unit == 2 && !crlf) {
        std::memcpy(w, p, size_t(n) * 2);
        w += n;
    } else {
        for (uint32_t i = 0; i < n; i++, p += unit) {
            uint32_t cp = string_get_char(p, unit);
            if (cp > 0x10FFFF) {
                *count = 0;
                return nullptr;
            }
            if (crlf && cp == '\n') *w++ = '\r';
            if (cp >= 0x10000) {
                *w++ = uint16_t(0xD800 | ((cp - 0x10000) >> 10));
                *w++ = uint16_t(0xDC00 | ((cp - 0x10000) & 0x3FF));
            } else {
                *w++ = uint16_t(cp);
            }
        }
    }
    *w = 0;
    *count = int32_t(w - out);
    return out;
}

const uint16_t* unicode_to_utf16(Cell* str) {
    int32_t count = -1;
    return unicode_to_utf16_sized(str, &count, true);
}

void unicode_ascii_to_utf16(const char* text, uint16_t* dest) {
    while (*text) *dest++ = uint8_t(*text++);
    *dest = 0;
}

uint8_t* unicode_cache_buffer(Cell* str, uint64_t size) {
    uint32_t node = string_cache_node(str);
    if (!node) {
        node = series_alloc_bytes(size);
        string_set_cache_node(str, node);
        return node_series(node)->data();
    }
    Series* s = node_series(node);
    if (s->size >= size) return s->data();
    return series_expand(node, size)->data();
}

}  // namespace zol
