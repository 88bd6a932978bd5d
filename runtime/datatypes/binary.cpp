// binary! values: the byte routines of binary.h and the actions binary! has of its own (to, form, mold,
// compare, the bitwise actions, append, insert, change and trim); everything else comes from string!.
#include "binary.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "binary_base.h"
#include "bitset.h"
#include "error.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "tuple.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"

namespace zol {

namespace {

// Room for extra more bytes at the tail: the buffer grows to what is needed when that is at least twice its
// size, else it doubles, so repeated appends cost amortised constant time.
Series* reserve_bytes(uint32_t node, uint64_t extra) {
    Series* s = node_series(node);
    uint64_t needed = uint64_t(s->tail - s->head) + extra;
    if (needed > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (s->head + needed <= s->size) return s;
    uint64_t size = needed >= 2 * uint64_t(s->size) ? needed : 2 * uint64_t(s->size);
    if (size > MAX_BUFFER_SIZE) size = MAX_BUFFER_SIZE;
    return series_expand(node, size);
}

uint32_t clamp_head(Cell* binary) {
    uint32_t used = cell_series(binary)->used();
    if (series_index(binary) > used) binary->w1 = used;
    return series_index(binary);
}

// Opens a gap of count bytes at a byte index counted from the buffer's first used byte, writes the bytes
// there `times` times over and returns the bytes written. The bytes must not lie in this buffer.
uint64_t put_bytes(uint32_t node, uint32_t at, const uint8_t* bytes, uint64_t count, uint64_t times, bool open) {
    uint64_t total = count * times;
    if (total == 0) return 0;
    Series* s = reserve_bytes(node, open ? total : 0);
    uint32_t used = s->used();
    if (at > used) at = used;
    if (!open && at + total > used) s = reserve_bytes(node, at + total - used);
    uint8_t* p = s->head_ptr() + at;
    if (open) std::memmove(p + total, p, used - at);
    std::memcpy(p, bytes, count);
    if (times > 1) memory_replicate(p, uint32_t(count), uint32_t(times));
    uint64_t end = open ? uint64_t(used) + total : std::max<uint64_t>(used, at + total);
    s->tail = s->head + uint32_t(end);
    return total;
}

// --- the bytes a value gives to append, insert, change and to

enum class Purpose { append, change, to };

void utf8_of(const Cell* value, std::vector<uint8_t>* out) {
    std::string text = string_to_utf8(value);
    out->insert(out->end(), text.begin(), text.end());
}

// Appends the value's bytes to out. part limits the elements of a block, or the bytes of any other value
// (-1: no limit). A value of another type raises bad-to-arg, or is formed as text for change.
void bytes_of(const Cell* value, int part, Purpose purpose, std::vector<uint8_t>* out) {
    size_t start = out->size();
    uint32_t t = cell_type(value);
    switch (family_case(family_case(t, FAMILY_ANY_STRING, TYPE_STRING), FAMILY_ANY_LIST, TYPE_BLOCK)) {
        case TYPE_CHAR: {
            uint8_t buffer[4];
            int n = utf8_encode_char(cell_char(value), buffer);
            out->insert(out->end(), buffer, buffer + n);
            break;
        }
        case TYPE_INTEGER: {
            int32_t v = cell_int(value);
            if (v < -128 || v > 255) fire(ERR_SCRIPT_INVALID_ARG, value);
            out->push_back(uint8_t(v));
            break;
        }
        case TYPE_BINARY: {
            uint32_t n;
            const uint8_t* p = binary_head(value, &n);
            out->insert(out->end(), p, p + n);
            break;
        }
        case TYPE_TUPLE:
            for (uint32_t i = 0; i < tuple_length(value); i++) out->push_back(tuple_byte(value, i));
            break;
        case TYPE_STRING: utf8_of(value, out); break;  // any-string!
        case TYPE_BLOCK: {                              // any-list!
            stack_check_native();
            if (cycles_find(series_node(value))) fire(ERR_INTERNAL_NO_CYCLE);
            VisitGuard guard(series_node(value));
            uint32_t head = series_clamped_head(value);
            uint32_t n = series_buffer_length(value) - head;
            if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
            // Nothing here runs language code or grows the block, so its cells stay where they are.
            for (uint32_t i = 0; i < n; i++) bytes_of(cell_series(value)->cells() + head + i, -1, purpose, out);
            return;
        }
        default: {
            if (purpose != Purpose::change) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_BINARY, value);
            GcRoot text;
            string_make(text.get());
            MoldArgs args;
            form_value(value, text.get(), args, INT_MAX);
            utf8_of(text.get(), out);
            break;
        }
    }
    if (part >= 0 && out->size() - start > size_t(part)) out->resize(start + size_t(part));
}

uint64_t times_of(int dup) { return dup < 2 ? 1 : uint64_t(dup); }

uint64_t checked_total(size_t count, uint64_t times) {
    uint64_t total = uint64_t(count) * times;
    if (count > 0xFFFFFFFFu || total > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    return total;
}

// --- to

void put_big_endian(std::vector<uint8_t>* out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; i--) out->push_back(uint8_t(v >> (8 * i)));
}

const Cell* binary_to(Cell* proto, Cell* spec, TypeId) {
    GcRoot result;
    std::vector<uint8_t> bytes;
    switch (cell_type(spec)) {
        case TYPE_INTEGER: put_big_endian(&bytes, uint32_t(cell_int(spec)), 4); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = cell_float(spec);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            put_big_endian(&bytes, bits, 8);
            break;
        }
        case TYPE_ISSUE:
            issue_to_binary(spec, result.get());
            *proto = *result;
            return proto;
        case TYPE_BITSET: {
            Series* s = cell_series(spec);
            bytes.assign(s->head_ptr(), s->tail_ptr());
            break;
        }
        default: bytes_of(spec, -1, Purpose::to, &bytes); break;
    }
    binary_load_at(result.get(), bytes.data(), bytes.size());
    *proto = *result;
    return proto;
}

// --- form and mold

int binary_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    uint32_t n;
    const uint8_t* bytes = binary_head(value, &n);
    std::string text;
    if (!args.only) {
        text += "#{";
        budget -= 2;
    }
    bool lines = !args.flat && n > 30;
    auto line_break = [&](int level) {
        text += '\n';
        text.append(size_t(level > 0 ? level : 0) * 4, ' ');
        budget -= 1 + 4 * (level > 0 ? level : 0);
    };
    if (lines) line_break(args.indent + 1);
    uint32_t written = 0;
    for (; written < n; written++) {
        if (args.part && budget < 3) break;
        text += string_byte_to_hex(bytes[written]);
        budget -= 2;
        uint32_t count = written + 1;
        if (!lines) continue;
        if (count == n) {
            line_break(args.indent);  // the closing brace lines up with the value
        } else if (count % 32 == 0) {
            line_break(args.indent + 1);
        }
    }
    if (!args.only) {
        text += "}";
        budget--;
    }
    string_append_ascii(out, text.data(), text.size());
    return budget;
}

int binary_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    MoldArgs plain;
    plain.part = args.part;
    return binary_mold(value, out, plain, budget);
}

// --- compare

int binary_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_BINARY)) return COMPARE_INCOMPARABLE;
    return binary_compare_bytes(value, other, op, false);
}

// --- bitwise actions: and~, or~ and xor~ make a new binary as long as the longer operand

void combine(int op) {
    Cell* a = g_args.base;
    const Cell* b = a + 1;
    if (!cell_is(b, TYPE_BINARY)) fire(ERR_SCRIPT_INVALID_ARG, b);
    uint32_t la, lb;
    binary_head(a, &la);
    binary_head(b, &lb);
    uint32_t n = la > lb ? la : lb;
    GcRoot result;
    binary_make_at(result.get(), n);
    // Read after the allocation; the operands are argument cells, so their buffers are alive.
    const uint8_t* pa = binary_head(a, &la);
    const uint8_t* pb = binary_head(b, &lb);
    uint8_t* r = cell_series(result.get())->head_ptr();
    for (uint32_t i = 0; i < n; i++) {
        bool in_a = i < la, in_b = i < lb;
        uint8_t x = in_a ? pa[i] : 0, y = in_b ? pb[i] : 0;
        switch (op) {
            case 0: r[i] = in_a && in_b ? uint8_t(x & y) : 0; break;
            case 1: r[i] = uint8_t(x | y); break;
            default: r[i] = uint8_t(x ^ y); break;
        }
    }
    binary_set_length(result.get(), n);
    stack_set_only_result(result.get());
}

void binary_and() { combine(0); }
void binary_or() { combine(1); }
void binary_xor() { combine(2); }

const Cell* binary_complement(Cell* value) {
    uint32_t n;
    uint8_t* p = const_cast<uint8_t*>(binary_head(value, &n));
    for (uint32_t i = 0; i < n; i++) p[i] = uint8_t(~p[i]);
    return value;
}

// --- append, insert and change

void binary_append_action(Cell* series, Cell* value, int part, bool, int dup, bool append) {
    std::vector<uint8_t> bytes;
    bytes_of(value, part, Purpose::append, &bytes);
    uint64_t times = times_of(dup);
    uint64_t total = checked_total(bytes.size(), times);
    uint32_t head = clamp_head(series);
    uint32_t at = append ? cell_series(series)->used() : head;
    OwnershipReport report(series, append ? W_APPEND : W_INSERT, append ? W_APPENDED : W_INSERTED, int32_t(at),
                           int32_t(total > INT_MAX ? INT_MAX : total));
    if (report.told()) {
        // The owner's handler may have changed the binary.
        head = clamp_head(series);
        at = append ? cell_series(series)->used() : head;
    }
    if (cell_series(series)->used() + total > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    put_bytes(series_node(series), at, bytes.data(), bytes.size(), times, true);
    report.done();
    series->w1 = append ? 0 : at + uint32_t(total);
}

void binary_change(Cell* series, Cell* value, int part, bool, int dup) {
    std::vector<uint8_t> bytes;
    bytes_of(value, -1, Purpose::change, &bytes);
    uint64_t times = times_of(dup);
    uint64_t total = checked_total(bytes.size(), times);
    uint32_t head = clamp_head(series);
    auto replaced_of = [&] {
        uint64_t room = cell_series(series)->used() - head;
        uint64_t wanted = part >= 0 ? uint64_t(part) : total;
        return uint32_t(wanted < room ? wanted : room);
    };
    uint32_t replaced = replaced_of();
    OwnershipReport report(series, W_CHANGE, W_CHANGED, int32_t(head), int32_t(total > INT_MAX ? INT_MAX : total));
    if (report.told()) {
        head = clamp_head(series);
        replaced = replaced_of();
    }
    uint32_t node = series_node(series);
    if (cell_series(series)->used() - replaced + total > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (total > replaced) {
        // The replaced bytes are overwritten; the rest of the new ones go into a gap opened after them.
        uint64_t grow = total - replaced;
        Series* s = reserve_bytes(node, grow);
        uint8_t* p = s->head_ptr() + head + replaced;
        std::memmove(p + grow, p, s->used() - head - replaced);
        s->tail += uint32_t(grow);
    } else if (total < replaced) {
        series_remove_units(node, head + uint32_t(total), replaced - uint32_t(total));
    }
    if (total > 0) {
        uint8_t* p = node_series(node)->head_ptr() + head;
        std::memcpy(p, bytes.data(), bytes.size());
        if (times > 1) memory_replicate(p, uint32_t(bytes.size()), uint32_t(times));
    }
    report.done();
    uint32_t used = node_series(node)->used();
    series->w1 = uint64_t(head) + total > used ? used : head + uint32_t(total);
}

// --- trim

void binary_trim(Cell* series, const TrimArgs& args) {
    if (args.automatic || args.lines) fire(ERR_INTERNAL_NOT_DONE);
    bool drop[256] = {};
    if (args.with) {
        switch (cell_type(args.with)) {
            case TYPE_CHAR:
            case TYPE_INTEGER:
                if (cell_char(args.with) < 256) drop[cell_char(args.with)] = true;
                break;
            case TYPE_STRING:
            case TYPE_BINARY:
                for (uint32_t i = series_clamped_head(args.with), n = series_buffer_length(args.with); i < n; i++) {
                    uint32_t c = string_char_at(args.with, i);
                    if (c < 256) drop[c] = true;
                }
                break;
            default: fire(ERR_SCRIPT_INVALID_ARG, args.with);
        }
    } else {
        drop[0] = true;
    }
    uint32_t head = clamp_head(series);
    OwnershipReport report(series, W_TRIM, W_TRIMMED, int32_t(head), int32_t(cell_series(series)->used() - head));
    head = clamp_head(series);  // the owner's handler may have shortened the binary
    Series* s = cell_series(series);
    uint8_t* p = s->head_ptr();
    uint32_t used = s->used();
    uint32_t end;
    if (args.all || args.with) {
        end = head;
        for (uint32_t r = head; r < used; r++) {
            if (!drop[p[r]]) p[end++] = p[r];
        }
    } else {
        bool neither = !args.head && !args.tail;
        uint32_t first = head, last = used;
        if (args.head || neither) {
            while (first < last && p[first] == 0) first++;
        }
        if (args.tail || neither) {
            while (last > first && p[last - 1] == 0) last--;
        }
        std::memmove(p + head, p + first, last - first);
        end = head + (last - first);
    }
    s->tail = s->head + end;
    report.done();
}

}  // namespace

// --- routines

uint8_t* binary_make_at(Cell* cell, uint32_t capacity) {
    uint32_t node = series_alloc_bytes(capacity);
    set_series(cell, TYPE_BINARY, node);
    return node_series(node)->data();
}

void binary_set_length(Cell* binary, uint32_t length) {
    Series* s = cell_series(binary);
    s->tail = s->head + length;
}

const uint8_t* binary_head(const Cell* binary, uint32_t* length) {
    Series* s = cell_series(binary);
    uint32_t used = s->tail - s->head;
    uint32_t at = series_index(binary) < used ? series_index(binary) : used;
    *length = used - at;
    return s->head_ptr() + at;
}

Cell* binary_load_at(Cell* cell, const uint8_t* bytes, size_t length) {
    if (length > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint8_t* p = binary_make_at(cell, uint32_t(length));
    if (length) std::memcpy(p, bytes, length);
    binary_set_length(cell, uint32_t(length));
    return cell;
}

Cell* binary_load(const uint8_t* bytes, size_t length) {
    GcRoot made;
    binary_load_at(made.get(), bytes, length);
    return stack_push(made.get());
}

Cell* binary_load_in(const Cell* block, const uint8_t* bytes, size_t length) {
    GcRoot made;
    binary_load_at(made.get(), bytes, length);
    Cell* cell = block_alloc_tail(block);
    *cell = *made;
    return cell;
}

void binary_append(const Cell* binary, const uint8_t* bytes, size_t length) {
    if (length > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    put_bytes(series_node(binary), cell_series(binary)->used(), bytes, length, 1, true);
}

void binary_insert(const Cell* binary, uint32_t offset, const uint8_t* bytes, size_t length) {
    if (length > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint64_t at = uint64_t(series_clamped_head(binary)) + offset;
    uint32_t used = cell_series(binary)->used();
    put_bytes(series_node(binary), at > used ? used : uint32_t(at), bytes, length, 1, true);
}

void binary_write(const Cell* binary, uint32_t offset, const uint8_t* bytes, size_t length) {
    if (length > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint64_t at = uint64_t(series_clamped_head(binary)) + offset;
    uint32_t used = cell_series(binary)->used();
    put_bytes(series_node(binary), at > used ? used : uint32_t(at), bytes, length, 1, false);
}

void binary_append_int32(const Cell* binary, int32_t value) {
    uint32_t v = uint32_t(value);
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    binary_append(binary, bytes, 4);
}

void binary_clear_at_head(const Cell* binary) {
    Series* s = cell_series(binary);
    if (series_index(binary) < s->used()) s->tail = s->head + series_index(binary);
}

uint8_t binary_byte_of(const Cell* value) {
    if (!cell_is(value, TYPE_INTEGER) && !cell_is(value, TYPE_CHAR)) fire(ERR_SCRIPT_INVALID_ARG, value);
    return uint8_t(value->w2);
}

int binary_compare_bytes(const Cell* left, const Cell* right, CompareOp op, bool prefix) {
    uint32_t rt = cell_type(right);
    if (rt != TYPE_BINARY && !type_in(FAMILY_ANY_STRING, rt)) return COMPARE_INCOMPARABLE;
    if (op == CMP_SAME) return series_node(left) == series_node(right) && series_index(left) == series_index(right) ? 0 : -1;
    uint32_t la = series_buffer_length(left) - series_clamped_head(left);
    uint32_t lb = series_buffer_length(right) - series_clamped_head(right);
    uint32_t n;
    if (prefix) {
        if (lb == 0) return op == CMP_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND ? 0 : 1;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && series_equality_op(op)) return 1;
        n = la < lb ? la : lb;
    }
    Series* sa = cell_series(left);
    Series* sb = cell_series(right);
    const uint8_t* pa = sa->head_ptr() + series_clamped_head(left);
    uint32_t ub = sb->unit();
    const uint8_t* pb = sb->head_ptr() + uint64_t(series_clamped_head(right)) * ub;
    if (ub == 1) {
        int r = std::memcmp(pa, pb, n);
        if (r != 0) return prefix ? 1 : r < 0 ? -1 : 1;
    } else {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t cb = string_get_char(pb + uint64_t(i) * ub, ub);
            if (pa[i] != cb) return prefix ? 1 : pa[i] < cb ? -1 : 1;
        }
    }
    if (prefix) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

bool binary_match_bitset(const Cell* binary, const Cell* bitset) {
    uint32_t n;
    const uint8_t* p = binary_head(binary, &n);
    if (n == 0) return false;
    return bitset_has(bitset, p[0]);
}

bool binary_match_value(const Cell* binary, const Cell* value, CompareOp op) {
    uint32_t n;
    const uint8_t* p = binary_head(binary, &n);
    switch (cell_type(value)) {
        case TYPE_CHAR:
        case TYPE_INTEGER: return n > 0 && uint32_t(p[0]) == value->w2;
        default: return binary_compare_bytes(binary, value, op == CMP_SAME ? CMP_STRICT_EQUAL : op, true) == 0;
    }
}

Cell* issue_to_binary(const Cell* issue, Cell* result) {
    uint32_t length;
    const uint8_t* name = symbol_bytes(word_symbol(issue), &length);
    GcRoot keep(*issue);
    // The name bytes are ASCII where they are hexadecimal; any other byte makes the text invalid anyway.
    std::vector<uint8_t> text(name, name + length);
    if (!binary_decode_base16(text.data(), uint32_t(text.size()), 1, result)) fire(ERR_SCRIPT_INVALID_DATA, keep.get());
    return result;
}

void binary_init(DatatypeRegistry& registry) {
    Registration r(TYPE_BINARY, true);
    r.own<ACT_TO>(binary_to).own<ACT_FORM>(binary_form).own<ACT_MOLD>(binary_mold).own<ACT_COMPARE>(binary_compare);
    r.own<ACT_AND_T>(binary_and).own<ACT_OR_T>(binary_or).own<ACT_XOR_T>(binary_xor);
    r.own<ACT_COMPLEMENT>(binary_complement);
    r.own<ACT_APPEND>(binary_append_action).own<ACT_INSERT>(binary_append_action).own<ACT_CHANGE>(binary_change);
    r.own<ACT_TRIM>(binary_trim);
    for (Action a : {ACT_SET_PATH, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY, ACT_NEGATE, ACT_POWER,
                     ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q, ACT_PUT, ACT_CREATE, ACT_CLOSE,
                     ACT_DELETE, ACT_OPEN, ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME, ACT_UPDATE, ACT_WRITE}) {
        r.unsupported(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
