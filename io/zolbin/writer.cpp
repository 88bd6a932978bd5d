// The Zolbin writers: the standard and compact encoders of the codec, and the boot image writer. Both
// encodings walk a value the same way: each value has a path of indices from the root (its index in each
// enclosing container); a series, context or function met a second time is written as a reference to the
// path where it was first written; words and issues name their symbol by its index in the image's table.
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "io/zolbin/format.h"
#include "io/zolbin/zolbin.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace zol {

namespace {

using namespace zolbin;

// What the walk over a value keeps while it writes: the output, the path of the value being written, the
// places where shared series and contexts were first written, and the image's symbol table.
struct Writer {
    bool compact;
    bool boot;  // the boot image: nothing shared, global words written unbound
    std::vector<uint8_t> out;

    uint32_t current = 0;            // the index of the value being written in its container
    std::vector<uint32_t> path;      // the indices of the enclosing containers
    std::vector<uint32_t> store;     // recorded paths: a count, then the indices
    std::unordered_map<uint32_t, uint32_t> written;  // node -> its path's position in the store
    uint32_t depth = 0;

    std::vector<uint32_t> symbols;                    // symbol ids in order of first use
    std::unordered_map<uint32_t, uint32_t> symbol_at;  // symbol id -> index in the table
    std::vector<uint8_t> strings;
    std::vector<uint32_t> offsets;

    void u8(uint8_t b) { out.push_back(b); }
    void u32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        out.insert(out.end(), b, b + 4);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    }
    void svarint(int32_t v) { varint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    void bytes(const uint8_t* b, size_t n) { out.insert(out.end(), b, b + n); }
    // Standard encoding: byte contents are padded to whole words.
    void bytes_padded(const uint8_t* b, size_t n) {
        bytes(b, n);
        out.resize((out.size() + 3) & ~size_t(3), 0);
    }

    // The symbol's index in the image's table, entering it (its UTF-8 name and the NUL) on first use.
    uint32_t symbol(uint32_t id) {
        auto found = symbol_at.find(id);
        if (found != symbol_at.end()) return found->second;
        uint32_t index = uint32_t(symbols.size());
        symbols.push_back(id);
        symbol_at.emplace(id, index);
        offsets.push_back(uint32_t(strings.size()));
        uint32_t length;
        const uint8_t* name = symbol_bytes(id, &length);
        strings.insert(strings.end(), name, name + length);
        strings.push_back(0);
        // The standard encoding keeps each name's start on an 8-byte boundary.
        if (!compact) strings.resize((strings.size() + 7) & ~size_t(7), 0);
        return index;
    }
};

[[noreturn]] void no_codec(const Cell* value) { fire(ERR_ACCESS_NO_CODEC, value); }

// The node under which a value that may be shared is recorded (a series, or the context of an object,
// function or bound word), or 0 for a value written in full every time.
uint32_t reference_key(const Writer& w, const Cell* v) {
    if (w.boot) return 0;
    uint32_t t = cell_type(v);
    if (type_in(SERIES_PAYLOAD, t)) return v->w2;
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION) return v->w1;
    return 0;
}

// The object or function whose context a word is written with, or null for a word written unbound: one of
// the global context, of none, or of a context no record can carry (an error's, a native spec's), which
// reads back as global.
const Cell* word_owner(const Writer& w, const Cell* word) {
    uint32_t context = word_context(word);
    if (cell_is(word, TYPE_ISSUE) || !context || context == g_global_context) return nullptr;
    const Cell* owner = context_owner(context);
    switch (cell_type(owner)) {
        case TYPE_OBJECT:
        case TYPE_FUNCTION:
            if (w.boot) fire(ERR_INTERNAL_NOT_DONE);  // built-in scripts are written as read: globally bound
            return owner;
        case TYPE_ROUTINE: no_codec(owner);
        default: return nullptr;
    }
}

void write_value(Writer& w, const Cell* v);
void write_record(Writer& w, const Cell* v);

// The path a reference writes: where the node's value was first written.
void write_path(Writer& w, uint32_t at) {
    uint32_t count = w.store[at];
    if (w.compact) {
        w.varint(count);
        for (uint32_t i = 1; i <= count; i++) w.varint(w.store[at + i]);
    } else {
        w.u32(STD_PATH);
        w.u32(count);
        for (uint32_t i = 1; i <= count; i++) w.u32(w.store[at + i]);
    }
}

// Enters a container: its own index joins the path and its values count from 0; the node is recorded with
// that path unless it already was (an error's context is recorded, but an error is never referred to).
struct Container {
    Writer& w;
    uint32_t saved;
    Container(Writer& writer, uint32_t node) : w(writer), saved(writer.current) {
        w.path.push_back(w.current);
        w.current = 0;
        if (node && !w.boot && !w.written.count(node)) {
            w.written.emplace(node, uint32_t(w.store.size()));
            w.store.push_back(uint32_t(w.path.size()));
            w.store.insert(w.store.end(), w.path.begin(), w.path.end());
        }
    }
    ~Container() {
        w.path.pop_back();
        w.current = saved;
    }
};

// --- contexts

struct ContextInfo {
    uint32_t kind;
    bool stack;
    bool flag;
    bool values;
    uint32_t count;
};

ContextInfo context_info(uint32_t context) {
    const Cell* c = context_cell(context);
    ContextInfo info;
    info.kind = (c->header & HDR_CONTEXT_KIND_MASK) >> HDR_CONTEXT_KIND_SHIFT;
    info.stack = c->header & HDR_STACK_CONTEXT;
    info.flag = c->header & HDR_CONTEXT_FLAG;
    info.count = context_word_count(context);
    info.values = false;
    if (!info.stack) {
        for (uint32_t i = 0; i < info.count && !info.values; i++) info.values = !cell_is(context_values_at(context, i), TYPE_UNSET);
    }
    return info;
}

// The context part: its header (lead byte and flags, or header word), the words, then the values.
void write_context(Writer& w, uint32_t context) {
    ContextInfo info = context_info(context);
    if (w.compact) {
        w.u8(TYPE_CONTEXT);
        w.u8(uint8_t(info.kind | (info.stack ? CP_CONTEXT_STACK : 0) | (info.flag ? CP_CONTEXT_FLAG : 0) |
                     (info.values ? CP_CONTEXT_VALUES : 0)));
        w.varint(info.count);
        for (uint32_t i = 0; i < info.count; i++) w.varint(w.symbol(word_symbol(context_word_at(context, i))));
    } else {
        w.u32(TYPE_CONTEXT | info.kind << STD_CONTEXT_KIND_SHIFT | (info.flag ? STD_CONTEXT_FLAG : 0) |
              (info.stack ? STD_CONTEXT_STACK : 0) | (info.values ? STD_CONTEXT_VALUES : 0));
        w.u32(info.count);
        for (uint32_t i = 0; i < info.count; i++) w.u32(w.symbol(word_symbol(context_word_at(context, i))));
    }
    if (!info.values) return;
    for (uint32_t i = 0; i < info.count; i++) {
        Cell value = *context_values_at(context, i);
        write_value(w, &value);
    }
}

// --- the contents of containers (written inside their Container)

// The body of an object record after its lead or header: class id, the event slots, the context part.
void write_object_body(Writer& w, const Cell* object) {
    int32_t class_id = int32_t(object->w2);
    Cell events[2] = {};
    if (object->w3) std::memcpy(events, node_series(object->w3)->cells(), sizeof events);
    if (w.compact) {
        w.svarint(class_id);
        if (object->w3) {
            w.svarint(pair_x(&events[0]));
            w.svarint(pair_x(&events[1]));
        }
    } else {
        w.u32(uint32_t(class_id));
        if (object->w3) {
            w.u32(uint32_t(pair_x(&events[0])));
            w.u32(uint32_t(pair_x(&events[1])));
        }
    }
    write_context(w, object->w1);
}

void write_function_body(Writer& w, const Cell* fn) {
    Cell spec;
    set_series(&spec, TYPE_BLOCK, function_spec_node(fn));
    Cell body = *function_body(fn);
    if (!cell_is(&body, TYPE_BLOCK)) no_codec(fn);
    cell_clear_new_line(&body);
    uint32_t spec_count = node_series(spec.w2)->used();
    uint32_t body_used = node_series(body.w2)->used();
    uint32_t body_count = series_index(&body) < body_used ? body_used - series_index(&body) : 0;
    if (w.compact) {
        w.varint(spec_count);
        w.varint(body_count);
    } else {
        w.u32(spec_count);
        w.u32(body_count);
    }
    write_context(w, fn->w1);
    write_value(w, &spec);
    write_value(w, &body);
}

// Cells of a block, from the start of its buffer.
void write_cells(Writer& w, uint32_t node, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        Cell c = node_series(node)->cells()[i];
        write_value(w, &c);
    }
}

// A map's live pairs (a removed pair's value cell has header 0).
uint32_t map_live_cells(uint32_t node) {
    uint32_t n = 0;
    Series* s = node_series(node);
    for (uint32_t i = 0; i + 1 < s->used(); i += 2) n += s->cells()[i + 1].header != 0 ? 2 : 0;
    return n;
}
void write_map_cells(Writer& w, uint32_t node) {
    for (uint32_t i = 0; i + 1 < node_series(node)->used(); i += 2) {
        Cell key = node_series(node)->cells()[i], value = node_series(node)->cells()[i + 1];
        if (value.header == 0) continue;
        write_value(w, &key);
        write_value(w, &value);
    }
}

void write_error_fields(Writer& w, const Cell* error) {
    for (uint32_t f = ERROR_FIELD_ARG1; f <= ERROR_FIELD_STACK; f++) {
        Cell field = *error_field(error, ErrorField(f));
        write_value(w, &field);
    }
}

uint32_t error_code_of(const Cell* error) {
    const Cell* code = error_field(error, ERROR_FIELD_CODE);
    return cell_is(code, TYPE_INTEGER) ? uint32_t(cell_int(code)) : 0;
}

uint32_t log2_unit(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

// --- the compact encoding

bool float_integer_form(double v, int32_t* n) {
    if (!(v >= -2147483000.0 && v <= 2147483000.0) || v != double(int32_t(v))) return false;
    if (v == 0 && std::signbit(v)) return false;  // -0.0 keeps its sign in the raw form
    *n = int32_t(v);
    return true;
}

bool percent_integer_form(double v, int32_t* n) {
    if (!(v >= -21474836.0 && v <= 21474836.0)) return false;
    double scaled = v * 100;
    int32_t rounded = int32_t(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    if (rounded / 100.0 != v) return false;
    if (v == 0 && std::signbit(v)) return false;
    *n = rounded;
    return true;
}

void compact_raw_double(Writer& w, const Cell* v) {
    w.u32(v->w2);
    w.u32(v->w3);
}

void compact_record(Writer& w, const Cell* v, uint32_t key) {
    uint32_t t = cell_type(v);
    auto written = key ? w.written.find(key) : w.written.end();
    bool ref = written != w.written.end();
    if (cell_new_line(v)) w.u8(CP_NEW_LINE);
    auto lead = [&](uint32_t id, bool flag) {
        if (id >= CP_ID_FOLLOWS) {
            w.u8(uint8_t(CP_ID_FOLLOWS | (flag ? CP_FLAG : 0)));
            w.varint(id);
        } else {
            w.u8(uint8_t(id | (flag ? CP_FLAG : 0)));
        }
    };
    if (ref && !is_any_word(v)) {
        // A reference: the lead byte, the head index for the kinds that have one, the path.
        w.u8(CP_REFERENCE);
        bool head = type_in(FAMILY_SERIES, t) && t != TYPE_BITSET && t != TYPE_MAP;
        lead(t, head && series_index(v) != 0);
        if (head && series_index(v) != 0) w.varint(series_index(v));
        write_path(w, written->second);
        return;
    }
    switch (family_case(family_case(t, FAMILY_ANY_BLOCK, TYPE_BLOCK), FAMILY_ANY_STRING, TYPE_STRING)) {
        case TYPE_UNSET:
        case TYPE_NONE: lead(t, false); break;
        case TYPE_DATATYPE:
            lead(t, false);
            w.varint(datatype_id(v));
            break;
        case TYPE_LOGIC: w.u8(logic_get(v) ? CP_TRUE : CP_FALSE); break;
        case TYPE_INTEGER: {
            int32_t n = cell_int(v);
            if (n >= 0 && n <= 63) {
                w.u8(uint8_t(CP_SMALL_INT + n));
            } else {
                lead(t, false);
                w.svarint(n);
            }
            break;
        }
        case TYPE_CHAR:
            lead(t, false);
            w.varint(cell_char(v));
            break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            int32_t n;
            bool integer = t == TYPE_PERCENT ? percent_integer_form(cell_float(v), &n) : float_integer_form(cell_float(v), &n);
            lead(t, integer);
            if (integer) {
                w.svarint(n);
            } else {
                compact_raw_double(w, v);
            }
            break;
        }
        case TYPE_PAIR:
            lead(t, false);
            w.svarint(pair_x(v));
            w.svarint(pair_y(v));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            lead(t, false);
            for (uint32_t i = 0; i < (t == TYPE_POINT2D ? 2u : 3u); i++) w.u32(std::bit_cast<uint32_t>(point_coordinate(v, i)));
            break;
        case TYPE_DATE: {
            bool time = date_has_time(v);
            lead(t, time);
            w.u32(v->w1);
            if (time) compact_raw_double(w, v);
            break;
        }
        case TYPE_TYPESET: {
            uint8_t bits[12];
            std::memcpy(bits, &v->w1, 12);
            uint8_t n = 12;
            while (n > 0 && bits[n - 1] == 0) n--;
            lead(t, false);
            w.u8(n);
            w.bytes(bits, n);
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = tuple_length(v);
            lead(t, n != 3);
            if (n != 3) w.u8(uint8_t(n));
            for (uint32_t i = 0; i < n; i++) w.u8(tuple_byte(v, i));
            break;
        }
        case TYPE_MONEY:
            lead(t, money_negative_flag(v));
            w.bytes(reinterpret_cast<const uint8_t*>(&v->w1), 12);
            break;
        case TYPE_ISSUE:
            lead(t, false);
            w.varint(w.symbol(word_symbol(v)));
            break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            const Cell* owner = word_owner(w, v);
            if (!owner) {
                lead(t, false);
                w.varint(w.symbol(word_symbol(v)));
                break;
            }
            auto found = w.written.find(word_context(v));
            if (found != w.written.end()) w.u8(CP_REFERENCE);
            lead(t, true);
            w.varint(w.symbol(word_symbol(v)));
            w.svarint(int32_t(word_index(v)));
            if (found != w.written.end()) {
                write_path(w, found->second);
                break;
            }
            // The owner of the context, written in full inside the word.
            Container inner(w, word_context(v));
            Cell o = *owner;
            if (cell_is(&o, TYPE_OBJECT)) {
                w.u8(uint8_t(TYPE_OBJECT | (o.w3 ? CP_FLAG : 0)));
                write_object_body(w, &o);
            } else {
                w.u8(TYPE_FUNCTION);
                write_function_body(w, &o);
            }
            break;
        }
        case TYPE_BLOCK: {
            uint32_t head = series_index(v);
            lead(t, head != 0);
            if (head) w.varint(head);
            uint32_t count = node_series(v->w2)->used();
            w.varint(count);
            Container inner(w, key);
            write_cells(w, v->w2, count);
            break;
        }
        case TYPE_MAP: {
            lead(t, false);
            w.varint(map_live_cells(v->w2));
            Container inner(w, key);
            write_map_cells(w, v->w2);
            break;
        }
        case TYPE_STRING:
        case TYPE_BINARY:
        case TYPE_VECTOR: {
            uint32_t head = series_index(v);
            lead(t, head != 0);
            if (head) w.varint(head);
            Series* s = node_series(v->w2);
            uint32_t unit = s->unit(), count = s->used();
            if (t == TYPE_VECTOR) {
                w.u8(uint8_t(log2_unit(unit) | v->w3 << 2));
                w.varint(count);
            } else if (t == TYPE_BINARY) {
                w.varint(count);
            } else {
                w.varint(count << 2 | log2_unit(unit));
            }
            Container inner(w, key);
            w.bytes(node_series(v->w2)->head_ptr(), size_t(count) * unit);
            break;
        }
        case TYPE_BITSET: {
            lead(t, bitset_not(v));
            uint32_t n = bitset_size(v);
            w.varint(n);
            Container inner(w, key);
            w.bytes(bitset_data(v), n);
            break;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            lead(t, false);
            w.varint(v->w1);
            Cell spec;
            set_series(&spec, TYPE_BLOCK, v->w2);
            write_record(w, &spec);  // the spec stands at the native's own place
            break;
        }
        case TYPE_OBJECT: {
            lead(t, v->w3 != 0);
            Container inner(w, key);
            write_object_body(w, v);
            break;
        }
        case TYPE_FUNCTION: {
            lead(t, false);
            Container inner(w, key);
            write_function_body(w, v);
            break;
        }
        case TYPE_ERROR: {
            lead(t, false);
            w.varint(error_code_of(v));
            Container inner(w, v->w1);
            write_error_fields(w, v);
            break;
        }
        default: no_codec(v);
    }
}

// --- the standard encoding

void standard_record(Writer& w, const Cell* v, uint32_t key) {
    uint32_t t = cell_type(v);
    auto written = key ? w.written.find(key) : w.written.end();
    bool ref = written != w.written.end();
    uint32_t nl = cell_new_line(v) ? STD_NEW_LINE : 0;
    uint32_t hdr = t | nl;
    auto unit_bits = [&](uint32_t unit) { return unit << STD_UNIT_SHIFT; };
    if (ref && !is_any_word(v)) {
        // A reference: the header with its mark, the head index for the kinds that have one, the path.
        bool head = type_in(FAMILY_SERIES, t) && t != TYPE_BITSET && t != TYPE_MAP;
        uint32_t unit = type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY || t == TYPE_VECTOR ? node_series(v->w2)->unit() : 0;
        w.u32(hdr | STD_REFERENCE | unit_bits(unit));
        if (head) w.u32(series_index(v));
        write_path(w, written->second);
        return;
    }
    switch (family_case(family_case(t, FAMILY_ANY_BLOCK, TYPE_BLOCK), FAMILY_ANY_STRING, TYPE_STRING)) {
        case TYPE_UNSET:
        case TYPE_NONE: w.u32(hdr); break;
        case TYPE_DATATYPE:
            w.u32(hdr);
            w.u32(datatype_id(v));
            break;
        case TYPE_LOGIC:
            w.u32(hdr);
            w.u32(logic_get(v) ? 1 : 0);
            break;
        case TYPE_INTEGER:
        case TYPE_CHAR:
            w.u32(hdr);
            w.u32(v->w2);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            // A 64-bit float starts on an 8-byte boundary of the record area.
            while (w.out.size() % 8) w.u32(0);
            w.u32(hdr);
            w.u32(v->w3);
            w.u32(v->w2);
            break;
        case TYPE_PAIR:
            w.u32(hdr);
            w.u32(uint32_t(pair_x(v)));
            w.u32(uint32_t(pair_y(v)));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            w.u32(hdr);
            for (uint32_t i = 0; i < (t == TYPE_POINT2D ? 2u : 3u); i++) w.u32(std::bit_cast<uint32_t>(point_coordinate(v, i)));
            break;
        case TYPE_TYPESET:
            w.u32(hdr);
            w.u32(v->w1);
            w.u32(v->w2);
            w.u32(v->w3);
            break;
        case TYPE_TUPLE: {
            uint32_t n = tuple_length(v);
            uint8_t bytes[12] = {};
            for (uint32_t i = 0; i < n; i++) bytes[i] = tuple_byte(v, i);
            w.u32(hdr | unit_bits(n));
            w.bytes(bytes, 12);
            break;
        }
        case TYPE_MONEY:
            w.u32(hdr | (money_negative_flag(v) ? STD_MONEY_NEGATIVE : 0));
            w.bytes(reinterpret_cast<const uint8_t*>(&v->w1), 12);
            break;
        case TYPE_DATE:
            w.u32(hdr);
            w.u32(v->w1);
            w.u32(v->w3);
            w.u32(v->w2);
            break;
        case TYPE_ISSUE:
            w.u32(hdr);
            w.u32(w.symbol(word_symbol(v)));
            break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            const Cell* owner = word_owner(w, v);
            if (!owner) {
                // Read back bound to the global context, whatever its index here.
                w.u32(hdr | STD_SET);
                w.u32(w.symbol(word_symbol(v)));
                w.u32(WORD_UNRESOLVED);
                break;
            }
            auto found = w.written.find(word_context(v));
            bool seen = found != w.written.end();
            w.u32(hdr | (seen ? STD_REFERENCE : 0));
            w.u32(w.symbol(word_symbol(v)));
            w.u32(word_index(v));
            if (seen) {
                write_path(w, found->second);
                break;
            }
            Container inner(w, word_context(v));
            Cell o = *owner;
            if (cell_is(&o, TYPE_OBJECT)) {
                w.u32(TYPE_OBJECT | (o.w3 ? STD_EVENTS : 0));
                write_object_body(w, &o);
            } else {
                w.u32(TYPE_FUNCTION);
                write_function_body(w, &o);
            }
            break;
        }
        case TYPE_BLOCK: {
            w.u32(hdr);
            w.u32(series_index(v));
            uint32_t count = node_series(v->w2)->used();
            w.u32(count);
            Container inner(w, key);
            write_cells(w, v->w2, count);
            break;
        }
        case TYPE_MAP: {
            w.u32(hdr);
            w.u32(map_live_cells(v->w2));
            Container inner(w, key);
            write_map_cells(w, v->w2);
            break;
        }
        case TYPE_STRING:
        case TYPE_BINARY:
        case TYPE_VECTOR: {
            Series* s = node_series(v->w2);
            uint32_t unit = s->unit(), count = s->used();
            w.u32(hdr | unit_bits(unit));
            w.u32(series_index(v));
            w.u32(count);
            if (t == TYPE_VECTOR) w.u32(v->w3);
            Container inner(w, key);
            w.bytes_padded(node_series(v->w2)->head_ptr(), size_t(count) * unit);
            break;
        }
        case TYPE_BITSET: {
            w.u32(hdr | (bitset_not(v) ? STD_BITSET_NEGATED : 0));
            uint32_t n = bitset_size(v);
            w.u32(n);
            Container inner(w, key);
            w.bytes_padded(bitset_data(v), n);
            break;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            w.u32(hdr);
            w.u32(v->w1);
            Cell spec;
            set_series(&spec, TYPE_BLOCK, v->w2);
            write_record(w, &spec);
            break;
        }
        case TYPE_OBJECT: {
            w.u32(hdr | (v->w3 ? STD_EVENTS : 0));
            Container inner(w, key);
            write_object_body(w, v);
            break;
        }
        case TYPE_FUNCTION: {
            w.u32(hdr);
            Container inner(w, key);
            write_function_body(w, v);
            break;
        }
        case TYPE_ERROR: {
            w.u32(hdr);
            w.u32(error_code_of(v));
            Container inner(w, v->w1);
            write_error_fields(w, v);
            break;
        }
        default: no_codec(v);
    }
}

// One value, at the current index of its container.
void write_record(Writer& w, const Cell* v) {
    if (++w.depth > ZOLBIN_MAX_DEPTH) fire(ERR_INTERNAL_STACK_OVERFLOW);
    stack_check_native();
    uint32_t t = cell_type(v);
    if (t == TYPE_OP) {
        // An operator is the record of the function value it wraps, behind its own lead.
        uint32_t source = op_source_type(v);
        if (source == TYPE_ROUTINE) no_codec(v);
        Cell wrapped = *v;
        wrapped.header = (v->header & ~(HDR_TYPE_MASK | HDR_OP_SOURCE_MASK | HDR_NEW_LINE)) | source;
        if (w.compact) {
            if (cell_new_line(v)) w.u8(CP_NEW_LINE);
            w.u8(TYPE_OP);
        } else {
            w.u32(TYPE_OP | source << STD_OP_SHIFT | (cell_new_line(v) ? STD_NEW_LINE : 0));
        }
        write_record(w, &wrapped);
    } else if (t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT ||
               t == TYPE_IMAGE) {
        no_codec(v);
    } else if (w.compact) {
        compact_record(w, v, reference_key(w, v));
    } else {
        standard_record(w, v, reference_key(w, v));
    }
    w.depth--;
}

void write_value(Writer& w, const Cell* v) {
    write_record(w, v);
    w.current++;
}

// The whole image: header, body head, symbol table, records.
void encode(const Cell* value, Cell* out, bool compact) {
    g_zolbin_codec = true;
    GcRoot keep(*value);
    Writer w;
    w.compact = compact;
    w.boot = false;
    write_value(w, keep.get());
    bool symbols = !w.symbols.empty();
    std::vector<uint8_t> image(MAGIC, MAGIC + 6);
    image.push_back(VERSION_CODEC);
    Writer head;
    head.compact = compact;
    if (compact) {
        image.push_back(uint8_t(ZOLBIN_COMPACT | (symbols ? ZOLBIN_SYMBOLS : 0)));
        head.varint(1);
        head.varint(uint32_t(w.out.size()));
        if (symbols) {
            head.varint(uint32_t(w.symbols.size()));
            head.varint(uint32_t(w.strings.size()));
        }
    } else {
        image.push_back(symbols ? ZOLBIN_SYMBOLS : 0);
        head.u32(1);
        head.u32(uint32_t(w.out.size()));
        if (symbols) {
            head.u32(uint32_t(w.symbols.size()));
            head.u32(uint32_t(w.strings.size()));
        }
    }
    if (symbols) {
        for (uint32_t offset : w.offsets) head.u32(offset);
        head.bytes(w.strings.data(), w.strings.size());
    }
    image.insert(image.end(), head.out.begin(), head.out.end());
    image.insert(image.end(), w.out.begin(), w.out.end());
    if (image.size() > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    binary_load_at(out, image.data(), image.size());
}

}  // namespace

void zolbin_encode(const Cell* value, Cell* out) { encode(value, out, false); }
void zolbin_encode_compact(const Cell* value, Cell* out) { encode(value, out, true); }

// --- the boot image

struct BootImageWriter::State {
    Writer w;
    uint32_t roots = 0;
};

BootImageWriter::BootImageWriter() : state_(new State) {
    state_->w.compact = true;
    state_->w.boot = true;
}

BootImageWriter::~BootImageWriter() { delete state_; }

void BootImageWriter::add_set(uint32_t symbol, const Cell* value) {
    Writer& w = state_->w;
    w.u8(CP_SET);
    w.u8(TYPE_SET_WORD);
    w.varint(w.symbol(symbol));
    write_record(w, value);
}

void BootImageWriter::add_root(const Cell* value) {
    write_value(state_->w, value);
    state_->roots++;
}

std::vector<uint8_t> BootImageWriter::finish() {
    Writer& w = state_->w;
    std::vector<uint8_t> image(MAGIC, MAGIC + 6);
    image.push_back(VERSION_BOOT);
    image.push_back(ZOLBIN_COMPACT | ZOLBIN_SYMBOLS);
    Writer head;
    head.compact = true;
    head.varint(state_->roots);
    head.varint(uint32_t(w.out.size()));
    head.varint(uint32_t(w.symbols.size()));
    head.varint(uint32_t(w.strings.size()));
    for (uint32_t offset : w.offsets) head.u32(offset);
    head.bytes(w.strings.data(), w.strings.size());
    image.insert(image.end(), head.out.begin(), head.out.end());
    image.insert(image.end(), w.out.begin(), w.out.end());
    return image;
}

}  // namespace zol
