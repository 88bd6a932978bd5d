// string! editing: append, insert and change (all through string_concatenate), swap, trim, sort and case
// conversion. Every code point is stored through the widening routines of string.cpp, and every change is
// reported to the series' owner before and after.
#include <climits>
#include <cstring>
#include <vector>

#include "integer.h"
#include "series.h"
#include "string.h"
#include "vector.h"
#include "runtime/values/language.h"
#include "runtime/casefold.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/sort.h"

namespace zol {

namespace {

// --- append, insert and change

// The value whose text is added: the value itself for a char!, a text or a word (its name); otherwise its
// formed text, made in temp (a tag! with its brackets, a block each element formed, joined without a separator).
// /part counts code points, except for a block, where it counts elements. *count receives the code points to
// take (-1 for all).
const Cell* added_text(const Cell* value, int part, Cell* temp, int32_t* count) {
    *count = part < 0 ? -1 : part;
    uint32_t t = cell_type(value);
    if (t == TYPE_CHAR || (type_in(FAMILY_ANY_STRING, t) && t != TYPE_TAG) || is_any_word(value)) return value;
    string_make(temp, 16);
    MoldArgs args;
    if (t == TYPE_TAG) {
        string_append_ascii(temp, "<");
        string_concatenate(temp, value, -1, 0, false, JoinMode::append);
        string_append_ascii(temp, ">");
    } else if (type_in(FAMILY_ANY_LIST, t)) {
        uint32_t head = series_clamped_head(value);
        uint32_t n = series_buffer_length(value) - head;
        if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
        for (uint32_t i = 0; i < n; i++) {
            // Read the element through the node each time: nothing here grows the block, but forming allocates.
            form_value(cell_series(value)->cells() + head + i, temp, args, INT_MAX);
        }
        *count = -1;
    } else {
        form_value(value, temp, args, INT_MAX);
    }
    return temp;
}

// The code points the text adds, once: what the owner is told before the change.
int32_t added_length(const Cell* text, int32_t count, uint32_t times) {
    uint64_t n = 1;
    Cell view;
    if (!cell_is(text, TYPE_CHAR)) n = string_text_view(text, &view) ? string_length(&view) : 0;
    if (count >= 0 && uint64_t(count) < n) n = uint64_t(count);
    n *= times;
    return n > uint64_t(INT_MAX) ? INT_MAX : int32_t(n);
}

}  // namespace

void string_append(Cell* series, Cell* value, int part, bool, int dup, bool append) {
    if (append && cell_is(value, TYPE_INTEGER) && part < 0 && dup < 2) {
        // An integer's digits go straight in, without a formed string to hold them.
        char digits[16];
        size_t n = std::strlen(std::strcpy(digits, integer_to_decimal(cell_int(value))));
        OwnershipReport report(series, W_APPEND, W_APPENDED, int32_t(cell_series(series)->used()), int32_t(n), value);
        string_append_ascii(series, digits, n);
        report.done();
        series->w1 = 0;
        return;
    }
    GcRoot temp;
    int32_t count;
    const Cell* text = added_text(value, part, temp.get(), &count);
    uint32_t times = dup < 2 ? 1 : uint32_t(dup);
    uint32_t head = series_clamped_head(series);
    uint32_t at = append ? cell_series(series)->used() : head;
    OwnershipReport report(series, append ? W_APPEND : W_INSERT, append ? W_APPENDED : W_INSERTED, int32_t(at),
                           added_length(text, count, times), value);
    if (report.told()) head = series_clamped_head(series);  // the owner's handler may have shortened the text
    uint32_t written = string_concatenate(series, text, count, 0, false, append ? JoinMode::append : JoinMode::insert, times);
    report.done();
    series->w1 = append ? 0 : head + written;
}

void string_change(Cell* series, Cell* value, int part, bool, int dup) {
    GcRoot temp, own;
    int32_t count;
    const Cell* text = added_text(value, -1, temp.get(), &count);
    uint32_t times = dup < 2 ? 1 : uint32_t(dup);
    uint32_t head = series_clamped_head(series);
    uint32_t node = series_node(series);
    uint32_t replaced = 0;
    if (part >= 0) {
        replaced = string_length(series) < uint32_t(part) ? string_length(series) : uint32_t(part);
        if (type_in(FAMILY_ANY_STRING, cell_type(text)) && series_node(text) == node) {
            // The new text may lie in the units about to be removed: take it out first.
            set_series(own.get(), TYPE_STRING, series_copy_range(node, series_clamped_head(text), string_length(text)));
            text = own.get();
        }
    }
    OwnershipReport report(series, W_CHANGE, W_CHANGED, int32_t(head),
                           part >= 0 ? int32_t(replaced) : added_length(text, count, times), value);
    if (report.told()) {
        // The owner's handler may have shortened the text.
        head = series_clamped_head(series);
        if (part >= 0 && replaced > string_length(series)) replaced = string_length(series);
    }
    uint32_t written;
    if (part < 0) {
        written = string_concatenate(series, text, count, 0, false, JoinMode::overwrite, times);
    } else {
        series_remove_units(node, head, replaced);
        written = string_concatenate(series, text, count, 0, false, JoinMode::insert, times);
    }
    report.done();
    uint32_t used = cell_series(series)->used();
    series->w1 = uint64_t(head) + written > used ? used : head + written;
}

// --- swap

void string_swap(Cell* series1, Cell* series2) {
    uint32_t t = cell_type(series2);
    if (!type_in(FAMILY_ANY_STRING, t) && t != TYPE_BINARY) fire(ERR_SCRIPT_INVALID_ARG, series2);
    if (string_length(series1) == 0 || string_length(series2) == 0) return;
    uint32_t h1 = series_index(series1), h2 = series_index(series2);
    uint32_t c1 = string_char_at(series1, h1), c2 = string_char_at(series2, h2);
    // A binary! holds bytes: a wider code point would widen it into something that is no longer a binary.
    if ((cell_is(series1, TYPE_BINARY) && c2 > 0xFF) || (t == TYPE_BINARY && c1 > 0xFF)) {
        Cell wide;
        set_char(&wide, c2 > 0xFF ? c2 : c1);
        fire(ERR_SCRIPT_OUT_OF_RANGE, &wide);
    }
    OwnershipReport first(series1, W_SWAP, W_SWAPED, int32_t(h1), 1);
    OwnershipReport second(series2, W_SWAP, W_SWAPED, int32_t(h2), 1);
    // Handlers may have shortened either text: swap only what is still there.
    if (h1 < cell_series(series1)->used() && h2 < cell_series(series2)->used()) {
        string_put_char(series_node(series1), h1, c2);
        string_put_char(series_node(series2), h2, c1);
    }
    first.done();
    second.done();
}

// --- trim

namespace {

// The whitespace of trim /head, /tail, /lines and the default trim.
bool is_trim_space(uint32_t c) {
    if (c >= 1 && c <= 32) return true;
    switch (c) {
        case 133:
        case 160:
        case 5760:
        case 6158:
        case 8232:
        case 8233:
        case 8239:
        case 8287:
        case 12288: return true;
        default: return c >= 8192 && c <= 8202;
    }
}

// Inside lines only tabs, spaces and the wide whitespace count, never a line break.
bool is_line_space(uint32_t c) { return c == 9 || c == 32 || (c > 127 && is_trim_space(c)); }

// The units of one buffer read and rewritten in place: trim only ever writes at or before where it reads.
struct Units {
    uint8_t* base;
    uint32_t unit;
    uint32_t get(uint32_t i) const { return string_get_char(base + uint64_t(i) * unit, unit); }
    void put(uint32_t i, uint32_t cp) const { string_put_unit(base + uint64_t(i) * unit, unit, cp); }
};

// The code points /with names, or the default set of /all.
std::vector<uint32_t> trim_set(const Cell* with) {
    if (!with) return {9, 10, 13, 32};
    switch (cell_type(with)) {
        case TYPE_CHAR: return {cell_char(with)};
        case TYPE_INTEGER: return {uint32_t(cell_int(with))};
        case TYPE_STRING:
        case TYPE_BINARY: {
            std::vector<uint32_t> set;
            for (uint32_t i = series_clamped_head(with), n = cell_series(with)->used(); i < n; i++) set.push_back(string_char_at(with, i));
            return set;
        }
        default: fire(ERR_SCRIPT_INVALID_ARG, with);
    }
}

uint32_t trim_all(const Units& u, uint32_t head, uint32_t used, const std::vector<uint32_t>& set) {
    uint32_t w = head;
    for (uint32_t r = head; r < used; r++) {
        uint32_t c = u.get(r);
        bool drop = false;
        for (uint32_t s : set) drop |= s == c;
        if (!drop) u.put(w++, c);
    }
    return w;
}

uint32_t trim_lines(const Units& u, uint32_t head, uint32_t used) {
    uint32_t w = head;
    bool text = false, gap = false;
    for (uint32_t r = head; r < used; r++) {
        uint32_t c = u.get(r);
        if (is_trim_space(c)) {
            gap = text;
            continue;
        }
        if (gap) u.put(w++, ' ');  // the run just read had at least one unit: w stays at or before r
        gap = false;
        u.put(w++, c);
        text = true;
    }
    return w;
}

// Strips the whitespace at the start and at the end of the text; with lines (the default trim) every line inside
// also loses the spaces at its two ends, and a line break removed with the end is put back once.
uint32_t trim_ends(const Units& u, uint32_t head, uint32_t used, bool start, bool finish, bool lines) {
    uint32_t h = head, t = used;
    if (start) {
        while (h < t && is_trim_space(u.get(h))) h++;
    }
    bool tail_break = false;
    if (finish) {
        while (t > h && is_trim_space(u.get(t - 1))) tail_break |= u.get(--t) == '\n';
    }
    uint32_t w = head;
    if (!lines) {
        for (uint32_t r = h; r < t; r++) u.put(w++, u.get(r));
        return w;
    }
    // Every line also loses the spaces at its two ends.
    for (uint32_t r = h; r < t;) {
        while (r < t && is_line_space(u.get(r))) r++;
        uint32_t e = r;
        while (e < t && u.get(e) != '\n') e++;
        uint32_t end = e;
        while (end > r && is_line_space(u.get(end - 1))) end--;
        for (uint32_t i = r; i < end; i++) u.put(w++, u.get(i));
        if (e < t) u.put(w++, '\n');
        r = e + 1;
    }
    if (tail_break) u.put(w++, '\n');  // the removed tail held it, so there is room
    return w;
}

}  // namespace

void string_trim(Cell* series, const TrimArgs& args) {
    if (args.automatic) fire(ERR_INTERNAL_NOT_DONE);
    std::vector<uint32_t> set;
    if (args.all || args.with) set = trim_set(args.with);
    uint32_t head = series_clamped_head(series);
    OwnershipReport report(series, W_TRIM, W_TRIMMED, int32_t(head), int32_t(string_length(series)));
    head = series_clamped_head(series);  // the owner's handler may have shortened the text
    Series* s = cell_series(series);
    Units u{s->head_ptr(), s->unit()};
    uint32_t used = s->used();
    uint32_t end;
    if (args.all || args.with) {
        end = trim_all(u, head, used, set);
    } else if (args.lines) {
        end = trim_lines(u, head, used);
    } else {
        bool neither = !args.head && !args.tail;
        end = trim_ends(u, head, used, args.head || neither, args.tail || neither, neither);
    }
    s->tail = s->head + end * s->unit();
    report.done();
}

// --- sort

namespace {

// A function! comparator receives char! values (text of whole records with /all): it runs language code,
// which may change the string, so the code points are sorted in a copy and written back afterwards, as
// far as the string still reaches.
void sort_with_function(Cell* series, uint32_t head, uint32_t count, uint32_t size, const SortArgs& args) {
    std::vector<uint32_t> points(count);
    for (uint32_t i = 0; i < count; i++) points[i] = string_char_at(series, head + i);
    GcRoot fn(*args.comparator), left, right;
    bool whole = args.all && size > 1;
    if (whole) {
        string_make(left.get(), size);
        string_make(right.get(), size);
    }
    bool reverse = args.reverse;
    auto order = [&](const uint8_t* a, const uint8_t* b) {
        const uint32_t* x = reinterpret_cast<const uint32_t*>(a);
        const uint32_t* y = reinterpret_cast<const uint32_t*>(b);
        int r;
        if (whole) {
            string_reset(left.get());
            string_reset(right.get());
            string_append_code_points(left.get(), x, size);
            string_append_code_points(right.get(), y, size);
            r = g_language.sort_compare(fn.get(), left.get(), right.get());
        } else {
            Cell first, second;
            set_char(&first, *x);
            set_char(&second, *y);
            r = g_language.sort_compare(fn.get(), &first, &second);
        }
        return reverse ? -r : r;
    };
    uint8_t* base = reinterpret_cast<uint8_t*>(points.data());
    if (args.stable) {
        sort_merge(base, count / size, size_t(size) * 4, order);
    } else {
        sort_quick(base, count / size, size_t(size) * 4, order);
    }
    uint32_t node = series_node(series);
    uint32_t length = series_buffer_length(series);
    for (uint32_t i = 0; i < count && head + i < length; i++) string_put_char(node, head + i, points[i]);
}

}  // namespace

const Cell* string_sort(Cell* series, const SortArgs& args) {
    if (cell_is(series, TYPE_VECTOR)) return vector_sort(series, args);  // by element value, not by unit
    SortSpan span = sort_span(series, string_length(series), args);
    uint32_t head = span.head;
    int64_t count = span.count;
    uint32_t size = span.record;
    uint32_t offset = 0;
    if (args.comparator) {
        switch (cell_type(args.comparator)) {
            case TYPE_FUNCTION: break;
            case TYPE_INTEGER: {
                if (!args.skip || args.all) fire(ERR_SCRIPT_BAD_REFINES);
                int64_t at = cell_int(args.comparator);
                if (at < 1 || at > size) fire(ERR_SCRIPT_OUT_OF_RANGE, args.comparator);
                offset = uint32_t(at - 1);
                break;
            }
            default: fire_bad_refinement("compare", args.comparator);
        }
    }
    if (count < 2 * int64_t(size)) return series;
    OwnershipReport report(series, W_SORT, W_SORTED, int32_t(head), int32_t(count));
    if (report.told()) {
        // Without /part the sort covers every record the handler left, however many.
        count = series_units_left(series, head, args.part ? count : INT64_MAX, size);
        report.recount(int32_t(count));
    }
    if (args.comparator && cell_is(args.comparator, TYPE_FUNCTION)) {
        sort_with_function(series, head, uint32_t(count), size, args);
        report.done();
        return series;
    }
    Series* s = cell_series(series);  // after the report, whose handlers may have run
    uint32_t unit = s->unit();
    bool fold = type_in(FAMILY_ANY_STRING, cell_type(series)) && !args.case_sensitive;
    int sign = args.reverse ? -1 : 1;
    uint32_t first = args.all ? 0 : offset;
    uint32_t last = args.all ? size : offset + 1;
    auto compare = [=](const uint8_t* a, const uint8_t* b) {
        for (uint32_t i = first; i < last; i++) {
            uint32_t ca = string_get_char(a + uint64_t(i) * unit, unit);
            uint32_t cb = string_get_char(b + uint64_t(i) * unit, unit);
            if (fold && ca != cb) {
                ca = case_convert_char(ca, true);
                cb = case_convert_char(cb, true);
            }
            if (ca != cb) return ca < cb ? -sign : sign;
        }
        return 0;
    };
    uint8_t* base = s->head_ptr() + uint64_t(head) * unit;
    if (args.stable)
        sort_merge(base, size_t(count / size), size_t(size) * unit, compare);
    else
        sort_quick(base, size_t(count / size), size_t(size) * unit, compare);
    report.done();
    return series;
}

// --- case conversion

Cell* case_convert_value(Cell* value, const Cell* part, bool upper) {
    if (cell_is(value, TYPE_CHAR)) {
        value->w2 = case_convert_char(cell_char(value), upper);
        return value;
    }
    if (!type_in(FAMILY_ANY_STRING, cell_type(value))) fire(ERR_SCRIPT_INVALID_ARG, value);
    uint32_t used = cell_series(value)->used();
    if (series_index(value) > used) value->w1 = used;
    uint32_t head = series_index(value);
    int64_t count = used - head;
    if (part) {
        int64_t n = series_part_count(value, part);
        if (n < 0) n = 0;
        if (n < count) count = n;
    }
    uint32_t node = series_node(value);
    for (uint32_t i = head; i < head + count; i++) {
        Series* s = node_series(node);  // a mapping may have widened the buffer
        uint32_t c = string_get_char(s->head_ptr() + uint64_t(i) * s->unit(), s->unit());
        uint32_t mapped = case_convert_char(c, upper);
        if (mapped != c) string_put_char(node, i, mapped);
    }
    ownership_check(value, upper ? W_UPPERCASE : W_LOWERCASE, int32_t(head), int32_t(count));
    return value;
}

}  // namespace zol
