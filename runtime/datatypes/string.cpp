// string! values: their representation in 1-, 2- or 4-byte units, the routines that store, join and load text,
// and the actions make, to, form, mold, compare and eval-path. Searching is in string_search.cpp, editing in
// string_edit.cpp; string_init registers the actions of all three.
#include "string.h"

#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "registry.h"
#include "series.h"
#include "symbol.h"
#include "runtime/casefold.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace zol {

// 4-byte units are copied as host integers.
static_assert(std::endian::native == std::endian::little);

namespace {

// Budgets only go down; a huge text must not wrap one around to a positive value.
int spend(int budget, uint64_t n) {
    int64_t left = int64_t(budget) - int64_t(n > uint64_t(INT_MAX) ? uint64_t(INT_MAX) : n);
    return left < INT_MIN ? INT_MIN : int(left);
}

// Copies n units of size su into units of size du, which hold every code point copied.
void copy_units(uint8_t* dst, uint32_t du, const uint8_t* src, uint32_t su, uint32_t n) {
    if (du == su) {
        std::memcpy(dst, src, uint64_t(n) * du);
        return;
    }
    for (uint32_t i = 0; i < n; i++) string_put_unit(dst + uint64_t(i) * du, du, string_get_char(src + uint64_t(i) * su, su));
}

// Room for `extra` more units. The buffer grows to what is needed when that is at least twice its size, else
// it doubles, so repeated appends cost amortised constant time. A text beyond the 32-bit sizes raises no-memory.
Series* reserve_units(uint32_t node, uint64_t extra) {
    Series* s = node_series(node);
    uint64_t needed = uint64_t(s->tail - s->head) + extra * s->unit();
    if (needed > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (s->head + needed <= s->size) return s;
    uint64_t size = needed >= 2 * uint64_t(s->size) ? needed : 2 * uint64_t(s->size);
    if (size > MAX_BUFFER_SIZE) size = MAX_BUFFER_SIZE;
    return series_expand(node, size);
}

// A run of units to write: in a series buffer (read again after every allocation) or in C++ memory.
struct Run {
    uint32_t node = 0;  // 0: the units lie at `local`
    uint32_t start = 0;  // first unit, counted from the buffer's first used unit
    uint32_t count = 0;
    uint32_t unit = 1;
    const uint8_t* local = nullptr;
    const uint8_t* data() const { return node ? node_series(node)->head_ptr() + uint64_t(start) * unit : local; }
};

// Writes the run `times` times at unit index `at` of the target buffer. The target is widened to `wanted`
// first. Returns the units written.
uint32_t write_run(uint32_t target, uint32_t at, const Run& run, uint32_t times, JoinMode mode, uint32_t wanted) {
    uint64_t total = uint64_t(run.count) * times;
    if (total == 0) return 0;
    {
        // Refuse a text that can never fit before the target is touched (widening would change it).
        Series* t = node_series(target);
        uint64_t unit = t->unit() > wanted ? t->unit() : wanted;
        if ((uint64_t(t->used()) + total) * unit > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    }
    Series* s = string_widen_to(target, wanted);
    uint32_t used = s->used();
    if (at > used || mode == JoinMode::append) at = used;
    uint64_t end = uint64_t(at) + total;
    uint64_t grow = mode == JoinMode::overwrite ? (end > used ? end - used : 0) : total;
    s = reserve_units(target, grow);
    uint32_t unit = s->unit();
    uint8_t* base = s->head_ptr();
    if (mode == JoinMode::insert) std::memmove(base + end * unit, base + uint64_t(at) * unit, uint64_t(used - at) * unit);
    uint8_t* first = base + uint64_t(at) * unit;
    copy_units(first, unit, run.data(), run.unit, run.count);
    if (times > 1) memory_replicate(first, run.count * unit, times);
    uint64_t new_used = mode == JoinMode::overwrite ? (end > used ? end : used) : uint64_t(used) + total;
    s->tail = s->head + uint32_t(new_used * unit);
    return uint32_t(total);
}

}  // namespace

// --- representation

void string_make(Cell* out, uint32_t capacity) { set_series(out, TYPE_STRING, series_alloc_units(capacity, 1)); }

void string_make_unit(Cell* out, uint32_t capacity, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) runtime_error(101, 0);  // a string buffer never has another unit
    set_series(out, TYPE_STRING, series_alloc(capacity ? capacity : 1, unit, 0));
}

Cell* string_reset(Cell* str) {
    Series* s = cell_series(str);
    s->tail = s->head;
    s->flags = (s->flags & ~SER_UNIT_MASK) | 1;
    str->w1 = 0;
    return str;
}

void string_append_ascii(Cell* str, const char* text, size_t length) {
    uint32_t node = series_node(str);
    uint32_t unit = node_series(node)->unit();
    uint8_t* at = series_reserve_tail(node, uint64_t(length) * unit);
    switch (unit) {
        case 1: std::memcpy(at, text, length); break;
        case 2:
            for (size_t i = 0; i < length; i++) {
                uint16_t u = uint8_t(text[i]);
                std::memcpy(at + 2 * i, &u, 2);
            }
            break;
        default:
            for (size_t i = 0; i < length; i++) {
                uint32_t u = uint8_t(text[i]);
                std::memcpy(at + 4 * i, &u, 4);
            }
            break;
    }
}

void string_append_bytes(Cell* str, const uint8_t* bytes, size_t count) {
    if (count > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    std::vector<uint8_t> copy(bytes, bytes + count);  // the bytes may lie in a buffer that the widening moves
    Run run;
    run.count = uint32_t(count);
    run.local = copy.data();
    uint32_t wanted = 1;
    for (uint8_t b : copy) {
        if (b > 0x7F) wanted = 2;
    }
    write_run(series_node(str), 0, run, 1, JoinMode::append, wanted);
}

uint32_t string_length(const Cell* str) {
    Series* s = cell_series(str);
    uint32_t used = s->used();
    return series_index(str) < used ? used - series_index(str) : 0;
}

void string_truncate(Cell* str, uint32_t n) {
    Series* s = cell_series(str);
    if (string_length(str) > n) s->tail = s->head + (series_index(str) + n) * s->unit();
}

std::string string_to_utf8(const Cell* str) {
    Series* s = cell_series(str);
    uint32_t unit = s->unit();
    std::string out;
    uint8_t buf[4];
    const uint8_t* p = s->head_ptr() + uint64_t(series_index(str)) * unit;
    const uint8_t* end = s->tail_ptr();
    if (p < end) out.reserve(size_t(end - p) / unit);
    for (; p < end; p += unit) {
        if (unit == 1 && *p < 0x80) {
            // A run of ASCII goes over in one piece.
            const uint8_t* run = p;
            while (p < end && *p < 0x80) p++;
            out.append(reinterpret_cast<const char*>(run), size_t(p - run));
            if (p == end) break;
        }
        int n = utf8_encode_char_replacing(string_get_char(p, unit), buf);
        out.append(reinterpret_cast<char*>(buf), size_t(n));
    }
    return out;
}

const uint8_t* string_units(const Cell* str, uint32_t* length) {
    Series* s = cell_series(str);
    uint64_t start = uint64_t(series_index(str)) * s->unit();
    uint32_t used = s->tail - s->head;
    *length = start < used ? uint32_t(used - start) : 0;
    return s->head_ptr() + (start < used ? start : used);
}

bool string_is_ascii(const Cell* str) {
    if (cell_series(str)->unit() != 1) return false;
    uint32_t length;
    const uint8_t* p = string_units(str, &length);
    uint8_t any = 0;
    for (uint32_t i = 0; i < length; i++) any |= p[i];
    return !(any & 0x80);
}

uint32_t string_char_at(const Cell* str, uint32_t index) {
    Series* s = cell_series(str);
    return string_get_char(s->head_ptr() + uint64_t(index) * s->unit(), s->unit());
}

Series* string_widen_to(uint32_t node, uint32_t unit) {
    Series* s = node_series(node);
    uint32_t have = s->unit();
    if (unit <= have) return s;
    if (have == 1) return unit == 4 ? unicode_latin1_to_ucs4(node) : unicode_latin1_to_ucs2(node);
    return unicode_ucs2_to_ucs4(node);
}

Series* string_append_char(uint32_t node, uint32_t cp) {
    Series* s = string_widen_to(node, string_unit_for_append(cp));
    uint32_t unit = s->unit();
    string_put_unit(series_reserve_tail(node, unit), unit, cp);
    return node_series(node);
}

uint32_t string_append_utf8(Cell* str, const uint8_t* text, size_t length) {
    uint32_t node = series_node(str);
    size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) ascii++;
    if (ascii == length) {
        string_append_ascii(str, reinterpret_cast<const char*>(text), length);
        return uint32_t(length);
    }
    uint32_t count = 0;
    for (const uint8_t *p = text, *end = text + length; p < end; count++) {
        int32_t cp;
        const uint8_t* next = utf8_decode_char(p, end, &cp);
        if (cp < 0) {
            cp = 0xFFFD;
            if (next == p) next = p + 1;
        }
        string_append_char(node, uint32_t(cp));
        p = next;
    }
    return count;
}

Series* string_put_char(uint32_t node, uint32_t index, uint32_t cp) {
    Series* s = string_widen_to(node, string_unit_for_put(cp));
    string_put_unit(s->head_ptr() + uint64_t(index) * s->unit(), s->unit(), cp);
    return s;
}

Series* string_poke_char(uint32_t node, uint32_t index, uint32_t cp) {
    Series* s = string_widen_to(node, string_unit_for_put(cp));
    if (index >= s->used()) s = reserve_units(node, 1);  // at the tail: the tail grows by the new unit
    uint32_t unit = s->unit();
    if (index >= s->used()) {
        index = s->used();
        s->tail += unit;
    }
    string_put_unit(s->head_ptr() + uint64_t(index) * unit, unit, cp);
    return s;
}

Series* string_insert_char(uint32_t node, uint32_t index, uint32_t cp) {
    string_widen_to(node, string_unit_for_append(cp));
    Series* s = series_open_gap(node, index, 1);
    string_put_unit(s->head_ptr() + uint64_t(index) * s->unit(), s->unit(), cp);
    return s;
}

void string_append_code_points(Cell* str, const uint32_t* cps, size_t n) {
    if (n > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t wanted = 1;
    for (size_t i = 0; i < n; i++) {
        uint32_t u = string_unit_for_append(cps[i]);
        if (u > wanted) wanted = u;
    }
    Run run;
    run.count = uint32_t(n);
    run.unit = 4;
    run.local = reinterpret_cast<const uint8_t*>(cps);
    write_run(series_node(str), 0, run, 1, JoinMode::append, wanted);
}

bool string_text_view(const Cell* value, Cell* out) {
    uint32_t t = cell_type(value);
    if (type_in(FAMILY_ANY_STRING, t)) {
        *out = *value;
        return true;
    }
    uint32_t symbol = 0;
    if (is_any_word(value)) {
        symbol = word_symbol(value);
    } else if (t == TYPE_SYMBOL) {
        // symbol! cells are the entries of the symbol block; their position there is their id.
        auto first = reinterpret_cast<uintptr_t>(symbol_cell(1));
        auto at = reinterpret_cast<uintptr_t>(value);
        if (at < first || (at - first) % sizeof(Cell) != 0 || (at - first) / sizeof(Cell) >= symbol_count()) return false;
        symbol = uint32_t((at - first) / sizeof(Cell)) + 1;
    } else {
        return false;
    }
    set_series(out, TYPE_STRING, symbol_get(symbol)->w2);
    return true;
}

// --- joining text

uint32_t string_concatenate(Cell* target, const Cell* source, int32_t count, uint32_t offset, bool by_code_point,
                            JoinMode mode, uint32_t times) {
    uint32_t node = series_node(target);
    uint32_t at = series_clamped_head(target);
    at = uint64_t(at) + offset > cell_series(target)->used() ? cell_series(target)->used() : at + offset;
    Run run;
    uint32_t cp_local;
    GcRoot copy;
    if (cell_is(source, TYPE_CHAR)) {
        if (count == 0) return 0;
        cp_local = cell_char(source);
        run.count = 1;
        run.unit = 4;
        run.local = reinterpret_cast<const uint8_t*>(&cp_local);
        return write_run(node, at, run, times, mode, string_unit_for_append(cp_local));
    }
    Cell text;
    if (!string_text_view(source, &text)) fire(ERR_SCRIPT_INVALID_ARG, source);
    uint32_t length = string_length(&text);
    uint32_t n = count < 0 || uint32_t(count) > length ? length : uint32_t(count);
    if (n == 0) return 0;
    run.node = series_node(&text);
    run.start = series_clamped_head(&text);
    if (run.node == node) {
        // Writing a buffer into itself would read units that the write has moved: copy the text out first.
        set_series(copy.get(), TYPE_STRING, series_copy_range(run.node, run.start, n));
        run.node = series_node(copy.get());
        run.start = 0;
    }
    run.count = n;
    run.unit = node_series(run.node)->unit();
    uint32_t wanted = run.unit;
    if (by_code_point) {
        wanted = 1;
        const uint8_t* p = run.data();
        for (uint32_t i = 0; i < n && wanted < 4; i++) {
            uint32_t u = string_unit_for_append(string_get_char(p + uint64_t(i) * run.unit, run.unit));
            if (u > wanted) wanted = u;
        }
    }
    return write_run(node, at, run, times, mode, wanted);
}

// --- loading and converting

Cell* string_load(const uint8_t* source, uint32_t length, Cell* target, int encoding) {
    if (encoding != STRING_UTF8 && encoding != STRING_UTF16LE) {
        console_write_cstr("*** Loading Error: input encoding unsupported\n");
        runtime_exit(0);
    }
    Cell* cell = target;
    if (!cell) {
        cell = stack_push_cell();
        set_none(cell);
    }
    uint32_t node;
    if (encoding == STRING_UTF8) {
        node = unicode_load_utf8(source, length, target ? series_node(target) : 0, nullptr, false);
    } else {
        node = unicode_load_utf16(source, length, target, false);
    }
    if (!target) set_series(cell, TYPE_STRING, node);
    return cell;
}

Cell* string_load_in(const Cell* block, const uint8_t* source, uint32_t length, int encoding) {
    Cell* str = string_load_push(source, length, encoding);
    Cell* slot = block_alloc_tail(block);
    *slot = *str;
    stack_pop(1);
    return slot;
}

Cell* string_load_push(const uint8_t* source, uint32_t length, int encoding) {
    return string_load(source, length, nullptr, encoding);
}

namespace {

// Where the first invalid UTF-8 sequence starts, by the rules of unicode_decode_utf8_char (over-long forms
// accepted; DC00-DCFF, U+FFFE and beyond U+10FFFF refused); `length` when there is none. A sequence cut by the
// end is not invalid: the loader stops before it.
uint32_t first_invalid_utf8(const uint8_t* p, uint32_t length) {
    uint32_t i = length > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
    while (i < length) {
        uint32_t b = p[i];
        if (b < 0x80) {
            i++;
            continue;
        }
        if (b < 0xC0 || b >= 0xF8) return i;
        uint32_t n = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (length - i < n) return length;
        uint32_t cp = b - (n == 2 ? 0xC0 : n == 3 ? 0xE0 : 0xF0);
        for (uint32_t k = 1; k < n; k++) {
            uint32_t c = p[i + k];
            if (c < 0x80 || c > 0xBF) return i;
            cp = (cp << 6) | (c - 0x80);
        }
        if ((n == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE || cp > 0x10FFFF) return i;
        i += n;
    }
    return length;
}

}  // namespace

Cell* binary_to_string(const uint8_t* bytes, uint32_t length, Cell* out) {
    uint32_t bad = first_invalid_utf8(bytes, length);
    if (bad < length) {
        std::vector<uint8_t> rest(bytes + bad, bytes + length);
        Cell arg;
        set_series(&arg, TYPE_BINARY, series_alloc_bytes(rest.size()));
        Series* s = cell_series(&arg);
        std::memcpy(s->head_ptr(), rest.data(), rest.size());
        s->tail = s->head + uint32_t(rest.size());
        fire(ERR_ACCESS_INVALID_UTF8, &arg);  // fire roots its arguments before it allocates
    }
    set_series(out, TYPE_STRING, unicode_load_utf8_new(bytes, length));
    return out;
}

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
char g_hex_buffer[9];
char g_byte_hex_buffer[3];
}  // namespace

const char* string_int_to_hex(int32_t value, bool short_form) {
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) g_hex_buffer[i] = kHexDigits[v & 0xF];
    g_hex_buffer[8] = 0;
    if (!short_form) return g_hex_buffer;
    if (value == 0) return "00";
    const char* p = g_hex_buffer;
    while (*p == '0') p++;
    return p;
}

const char* string_byte_to_hex(uint8_t byte) {
    g_byte_hex_buffer[0] = kHexDigits[byte >> 4];
    g_byte_hex_buffer[1] = kHexDigits[byte & 0xF];
    g_byte_hex_buffer[2] = 0;
    return g_byte_hex_buffer;
}

// --- mold

namespace {

// Collects code points and writes them to a string in batches, so that molding a long text widens and grows
// the output once per batch instead of once per character.
class TextSink {
public:
    explicit TextSink(Cell* out) : out_(out) {}
    void put(uint32_t cp) {
        if (n_ == kSize) flush();
        buffer_[n_++] = cp;
    }
    void ascii(const char* text) {
        while (*text) put(uint8_t(*text++));
    }
    void flush() {
        string_append_code_points(out_, buffer_, n_);
        n_ = 0;
    }

private:
    static constexpr uint32_t kSize = 256;
    Cell* out_;
    uint32_t buffer_[kSize];
    uint32_t n_ = 0;
};

// The text after the caret for code points below 95 that mold escapes, or 0. Code point 30 ("^") is in the
// table but molds as ^(1E) before the table is looked at.
char escape_of(uint32_t c) {
    switch (c) {
        case 9: return '-';
        case 10: return '/';
        case 34: return '"';
        case 94: return '^';
        default: return c <= 31 ? char('@' + c) : 0;  // 0 "@", 1 "A" ... 27 "[", 28 "\", 29 "]", 31 "_"
    }
}

void mold_char_into(TextSink& sink, uint32_t c, bool all) {
    if (c == 30 || (c >= 128 && c <= 159) || (all && c > 127)) {
        sink.ascii("^(");
        sink.ascii(string_int_to_hex(int32_t(c), true));
        sink.put(')');
    } else if (c < 95 && escape_of(c)) {
        sink.put('^');
        sink.put(uint8_t(escape_of(c)));
    } else if (c == 127) {
        sink.ascii("^~");
    } else {
        sink.put(c);
    }
}

// The unit index (from the range start) of the first "{" that no later "}" closes, or `count` when every one
// is closed. A "{" is closed when counting from it (+1 for "{", -1 for "}") comes back to zero, which is exactly
// when bracket matching from the left pairs it; so one pass with a stack of open positions finds them all.
uint32_t first_unclosed_brace(const uint8_t* p, uint32_t unit, uint32_t count) {
    std::vector<uint32_t> open;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string_get_char(p + uint64_t(i) * unit, unit);
        if (c == '{') {
            open.push_back(i);
        } else if (c == '}' && !open.empty()) {
            open.pop_back();
        }
    }
    return open.empty() ? count : open.front();
}

}  // namespace

void string_mold_char(Cell* out, uint32_t cp, bool all) {
    TextSink sink(out);
    mold_char_into(sink, cp, all);
    sink.flush();
}

int string_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    uint32_t length = string_length(value);
    int32_t count = -1;
    if (args.part && int64_t(budget) < int64_t(length)) count = budget < 0 ? 0 : budget;
    string_concatenate(out, value, count, 0, false, JoinMode::append);
    return spend(budget, length);
}

int string_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    GcRoot text(*value);
    uint32_t start = series_clamped_head(value);
    uint32_t total = string_length(value);
    uint32_t count = total;
    if (args.part && int64_t(budget) < int64_t(total)) count = budget < 0 ? 0 : uint32_t(budget);
    if (series_node(value) == series_node(out)) {
        // Molding a string into itself: read a copy, as the output grows the buffer being read.
        set_series(text.get(), TYPE_STRING, series_copy_range(series_node(value), start, count));
        start = 0;
    }
    uint32_t quotes = 0, lines = 0;
    {
        Series* s = cell_series(text.get());
        const uint8_t* p = s->head_ptr() + uint64_t(start) * s->unit();
        for (uint32_t i = 0; i < count; i++) {
            uint32_t c = string_get_char(p + uint64_t(i) * s->unit(), s->unit());
            quotes += c == '"';
            lines += c == '\n';
        }
    }
    bool braces = lines >= 3 || quotes > 0 || total >= 50;
    uint32_t unclosed = count;
    if (braces) {
        Series* s = cell_series(text.get());
        unclosed = first_unclosed_brace(s->head_ptr() + uint64_t(start) * s->unit(), s->unit(), count);
    }
    TextSink sink(out);
    sink.put(braces ? '{' : '"');
    uint32_t open = 0;
    for (uint32_t i = 0; i < count; i++) {
        // Read through the node each time: flushing the sink may grow the output, never this buffer.
        uint32_t c = string_char_at(text.get(), start + i);
        if (!braces) {
            mold_char_into(sink, c, args.all);
            continue;
        }
        switch (c) {
            case '{':
                if (i < unclosed) {
                    sink.put('{');
                    open++;
                } else {
                    sink.ascii("^{");
                }
                break;
            case '}':
                if (open > 0) {
                    sink.put('}');
                    open--;
                } else {
                    sink.ascii("^}");
                }
                break;
            case '"': sink.put('"'); break;
            default: mold_char_into(sink, c, args.all); break;
        }
    }
    sink.put(braces ? '}' : '"');
    sink.flush();
    return spend(budget, uint64_t(count) + 2);
}

// --- comparison

int string_compare_op(const Cell* left, const Cell* right, CompareOp op, bool prefix) {
    bool both_strings = type_in(FAMILY_ANY_STRING, cell_type(left)) && type_in(FAMILY_ANY_STRING, cell_type(right));
    bool same = both_strings && series_node(left) == series_node(right) && series_index(left) == series_index(right);
    if (op == CMP_SAME) return same ? 0 : -1;
    if (same && series_equality_op(op)) return 0;
    Cell a, b;
    if (!string_text_view(left, &a) || !string_text_view(right, &b)) return COMPARE_INCOMPARABLE;
    uint32_t la = string_length(&a), lb = string_length(&b);
    uint32_t n;
    if (prefix) {
        if (lb == 0) return op == CMP_FIND ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else if (la != lb) {
        if (series_equality_op(op) || lb == 0) return 1;
        n = la < lb ? la : lb;
    } else {
        if (la == 0) return 0;
        n = la;
    }
    bool fold = !(op == CMP_STRICT_EQUAL || op == CMP_CASE_SORT || op == CMP_FIND_WORD_STRICT);
    Series* sa = cell_series(&a);
    Series* sb = cell_series(&b);
    uint32_t ua = sa->unit(), ub = sb->unit();
    const uint8_t* pa = sa->head_ptr() + uint64_t(series_clamped_head(&a)) * ua;
    const uint8_t* pb = sb->head_ptr() + uint64_t(series_clamped_head(&b)) * ub;
    if (!fold && ua == 1 && ub == 1) {
        int r = std::memcmp(pa, pb, n);  // bytes order as their code points do
        if (r != 0) return r < 0 ? -1 : 1;
    } else {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t ca = string_get_char(pa + uint64_t(i) * ua, ua);
            uint32_t cb = string_get_char(pb + uint64_t(i) * ub, ub);
            if (fold && ca != cb) {
                ca = case_convert_char(ca, true);
                cb = case_convert_char(cb, true);
            }
            if (ca != cb) return ca < cb ? -1 : 1;
        }
    }
    if (prefix) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

int string_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (cell_type(other) != cell_type(value)) {
        if (!type_in(FAMILY_ANY_STRING, cell_type(other)) || (op != CMP_EQUAL && op != CMP_NOT_EQUAL)) return COMPARE_INCOMPARABLE;
    }
    return string_compare_op(value, other, op, false);
}

// --- make and to

const Cell* string_make_value(Cell* proto, Cell* source, TypeId type) {
    if (cell_is(source, TYPE_INTEGER) || cell_is(source, TYPE_FLOAT)) {
        int64_t n;
        if (cell_is(source, TYPE_INTEGER)) {
            n = cell_int(source);
        } else {
            double d = cell_float(source);
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, source);
            n = int64_t(d);
        }
        if (n < 0) fire(ERR_SCRIPT_OUT_OF_RANGE, source);
        set_series(proto, type, series_alloc_units(uint64_t(n), 1));  // a capacity of 0 still gets 16 bytes
        return proto;
    }
    if (type == TYPE_BINARY) {
        if (cell_is(source, TYPE_MONEY)) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_BINARY, source);
        auto to = g_types.get<ACT_TO>(TYPE_BINARY);
        if (!to || to == string_to) fire(ERR_INTERNAL_NOT_DONE);  // binary! converts into bytes itself
        return to(proto, source, type);
    }
    return string_to(proto, source, type);
}

const Cell* string_to(Cell* proto, Cell* source, TypeId type) {
    // binary! and vector! inherit from string! but convert into their own units.
    if (!type_in(FAMILY_ANY_STRING, type)) fire(ERR_INTERNAL_NOT_DONE);
    GcRoot out;
    MoldArgs args;
    uint32_t t = family_case(cell_type(source), FAMILY_ANY_STRING, TYPE_STRING);
    switch (family_case(t, FAMILY_ANY_LIST, TYPE_BLOCK)) {
        case TYPE_NONE: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_STRING, source);
        case TYPE_BLOCK:  // any-list!
            string_make(out.get());
            string_append(out.get(), source, -1, false, 1, true);
            break;
        case TYPE_STRING:  // any-string!
            set_series(out.get(), TYPE_STRING, series_copy_range(series_node(source), series_clamped_head(source), string_length(source)));
            break;
        case TYPE_REFINEMENT:
            string_make(out.get(), 16);
            if (type == TYPE_STRING) {
                form_value(source, out.get(), args, INT_MAX);
            } else {
                mold_value(source, out.get(), args, INT_MAX);
            }
            break;
        case TYPE_BINARY: {
            Series* s = cell_series(source);
            uint32_t head = series_clamped_head(source);
            binary_to_string(s->head_ptr() + head, s->used() - head, out.get());
            break;
        }
        default:
            string_make(out.get(), 16);
            form_value(source, out.get(), args, INT_MAX);
            break;
    }
    cell_set_type(out.get(), type);
    *proto = *out;
    return proto;
}

// --- eval-path

namespace {

// The value's own pick and poke, or series!'s for a member of the family that has not registered them.
ActionFn<ACT_PICK> pick_of(const Cell* value) {
    auto fn = g_types.get<ACT_PICK>(cell_type(value));
    return fn ? fn : g_types.get<ACT_PICK>(TYPE_SERIES);
}
ActionFn<ACT_POKE> poke_of(const Cell* value) {
    auto fn = g_types.get<ACT_POKE>(cell_type(value));
    return fn ? fn : g_types.get<ACT_POKE>(TYPE_SERIES);
}

}  // namespace

const Cell* string_eval_path(Cell* value, const PathStep& step) {
    Cell* key = step.element;
    if (cell_is(key, TYPE_INTEGER)) {
        if (step.set_value) return poke_of(value)(value, cell_int(key), step.set_value, key);
        return pick_of(value)(value, cell_int(key), key);
    }
    if (cell_is(key, TYPE_WORD)) fire(ERR_SCRIPT_INVALID_PATH, step.path, key);
    FindArgs args;
    args.case_sensitive = step.case_sensitive;
    Cell* slot = stack_push(value);  // find and select leave their answer in the series cell they are given
    if (!step.set_value) return string_select(slot, key, args);
    args.tail = true;
    if (cell_is(string_find(slot, key, args), TYPE_NONE)) fire(ERR_SCRIPT_BAD_PATH_SET, step.path, key);
    Cell index;
    set_integer(&index, 1);
    return poke_of(slot)(slot, 1, step.set_value, &index);
}

// --- registration

void string_init(DatatypeRegistry& registry) {
    Registration r(TYPE_STRING);
    r.own<ACT_MAKE>(string_make_value).own<ACT_TO>(string_to).own<ACT_FORM>(string_form).own<ACT_MOLD>(string_mold);
    r.own<ACT_EVAL_PATH>(string_eval_path).own<ACT_COMPARE>(string_compare);
    r.own<ACT_APPEND>(string_append).own<ACT_INSERT>(string_append).own<ACT_CHANGE>(string_change);
    r.own<ACT_FIND>(string_find).own<ACT_SELECT>(string_select).own<ACT_SORT>(string_sort);
    r.own<ACT_SWAP>(string_swap).own<ACT_TRIM>(string_trim);
    // series! take already answers a char! for one unit taken without /part.
    for (Action a : {ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q,
                     ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SKIP, ACT_TAIL,
                     ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
