// The Zolbin loader: the header, the compressed body, the entry points of the codec and of the boot load,
// and the builders that both encodings' records are made with (values, contexts, objects, functions,
// natives, errors, references). Every count and length is checked against the end of the body before
// anything is allocated for it, and every malformed record raises zb-invalid-record with its offset.
#include "io/zolbin/reader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "interpreter/dispatch.h"
#include "io/zolbin/zolbin.h"
#include "platform/platform.h"
#include "runtime/bitlz.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/predefined.h"

namespace zol {

bool g_zolbin_codec = false;

namespace zolbin {

// --- the cursor

void Reader::fail(const uint8_t* at) const {
    // Offsets count from the start of the data; a decompressed body counts as if it followed the header.
    uint64_t offset = uint64_t(at - body) + body_offset + 1;
    Cell where;
    set_integer(&where, offset > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(offset));
    fire(ERR_SCRIPT_ZB_INVALID_RECORD, &where);
}

void Reader::too_deep(const uint8_t* at) {
    depth--;
    fail(at);
}

void Reader::start_symbols(uint32_t count) {
    symbol_count = count;
    symbols.assign(count, 0);
    global_slots.assign(count, 0);
    if (!codec) {
        symbol_reserve(count);
        context_reserve(g_global_context, count);
    }
}

uint32_t Reader::make_symbol(uint32_t index, const uint8_t* at) {
    if (!has_symbols || index >= symbol_count) fail(at);
    const uint8_t* o = offsets + size_t(index) * 4;
    uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (offset >= strings_size) fail(at);
    const uint8_t* name = strings + offset;
    const void* nul = std::memchr(name, 0, strings_size - offset);
    if (!nul) fail(at);
    uint32_t length = uint32_t(static_cast<const uint8_t*>(nul) - name);
    // A name is a word's text: never empty, always UTF-8.
    if (length == 0) fail(at);
    for (const uint8_t *c = name, *e = name + length; c < e;) {
        if (*c < 0x80) {
            c++;
            continue;
        }
        int32_t cp;
        c = utf8_decode_char(c, e, &cp);
        if (cp < 0) fail(at);
    }
    symbols[index] = symbol_make_len(name, length, true);
    return symbols[index];
}

// --- slots and plain values

Slot slot_append(uint32_t node) {
    *series_alloc_tail(node) = g_unset_value;
    return Slot{node, node_series(node)->used() - 1, true};
}

uint32_t new_filled_cells(uint32_t count) {
    uint32_t node = series_alloc_cells(count ? count : 1);
    Series* s = node_series(node);
    Cell* c = s->cells();
    for (uint32_t i = 0; i < count; i++) c[i] = g_unset_value;
    s->tail = s->head + count * uint32_t(sizeof(Cell));
    return node;
}

void fire_no_codec(uint32_t id) {
    Cell type;
    set_datatype(&type, id);
    fire(ERR_ACCESS_NO_CODEC, &type);
}

void check_head(Reader& r, uint64_t head, uint32_t unit, const uint8_t* at) {
    if (head * unit > MAX_BUFFER_SIZE) r.fail(at);
}

uint32_t new_cells(uint32_t count) { return series_alloc_cells(count ? count : 1); }

void make_bytes(Slot slot, uint32_t type, uint32_t head, uint32_t unit, const uint8_t* bytes, uint32_t count, uint32_t w3) {
    uint64_t size = uint64_t(count) * unit;
    uint32_t node = series_alloc(count ? count : 1, unit, 0);
    Series* s = node_series(node);
    if (size) std::memcpy(s->data(), bytes, size);
    s->tail = s->head + uint32_t(size);
    set_series(slot.cell(), TypeId(type), node, head, w3);
}

void make_bitset(Slot slot, bool negated, const uint8_t* bytes, uint32_t count) {
    make_bytes(slot, TYPE_BITSET, 0, 1, bytes, count, 0);
    if (negated) series_set_flags(series_node(slot.cell()), SER_BITSET_NOT);
}

bool vector_shape_valid(uint32_t element_type, uint32_t unit) {
    switch (element_type) {
        case TYPE_CHAR:
        case TYPE_INTEGER: return unit == 1 || unit == 2 || unit == 4;
        case TYPE_FLOAT: return unit == 4 || unit == 8;
        case TYPE_PERCENT: return unit == 8;
        default: return false;
    }
}

void finish_hash(Slot slot) {
    uint32_t node = series_node(slot.cell());
    uint32_t table = hashtable_make(node_series(node)->used(), node, HASH_BLOCK, 1);
    slot.cell()->w3 = table;
}

void begin_map(Slot slot, uint32_t count) {
    // The index is made over the empty block; the keys join it once the records have filled the cells in.
    uint32_t node = series_alloc_cells(count ? count : 1);
    *slot.cell() = Cell{TYPE_MAP, 0, node, 0};
    uint32_t table = hashtable_make(count / 2, node, HASH_MAP, 1);
    slot.cell()->w3 = table;
    Series* s = node_series(node);
    for (uint32_t i = 0; i < count; i++) s->cells()[i] = g_unset_value;
    s->tail = s->head + count * uint32_t(sizeof(Cell));
}

void finish_map(Reader& r, Slot slot, const uint8_t* at) {
    uint32_t node = slot.cell()->w2;
    for (uint32_t i = 0; i < node_series(node)->used(); i += 2) {
        Cell* key = node_series(node)->cells() + i;
        uint32_t t = cell_type(key);
        if (!map_key_type_q(t)) r.fail(at);
        if (t >= TYPE_WORD && t <= TYPE_GET_WORD) cell_set_type(key, TYPE_SET_WORD);
        cell_clear_new_line(key);
        // Keys are distinct, exactly: a map made with put/case may hold keys that differ in case only.
        if (!hashtable_put(slot.cell()->w3, i, CMP_STRICT_EQUAL)) r.fail(at);
    }
}

void make_date(Reader& r, Slot slot, uint32_t packed, uint32_t time_low, uint32_t time_high, const uint8_t* at) {
    Cell d{TYPE_DATE, packed, time_low, time_high};
    int32_t month = date_month(&d), day = date_day(&d);
    if (month < 1 || month > 12 || day < 1 || day > date_days_in_month(date_year(&d), month)) r.fail(at);
    if (!date_has_time(&d) && (time_low || time_high)) r.fail(at);
    *slot.cell() = d;
}

void make_money(Reader& r, Slot slot, bool negative, const uint8_t* payload, const uint8_t* at) {
    // The currency must be one of the list, and every digit a decimal digit.
    if (payload[0] && !currency_code(payload[0])) r.fail(at);
    for (int i = 1; i < 12; i++) {
        if ((payload[i] >> 4) > 9 || (payload[i] & 15) > 9) r.fail(at);
    }
    Cell m{TYPE_MONEY | (negative ? HDR_MONEY_SIGN : 0), 0, 0, 0};
    std::memcpy(&m.w1, payload, 12);
    *slot.cell() = m;
}

void make_datatype(Reader& r, Slot slot, uint32_t id, const uint8_t* at) {
    if (id < 1 || id > TYPE_MAX || !g_types.registered(id)) r.fail(at);
    set_datatype(slot.cell(), id);
}

// --- words

void make_issue(Reader& r, Slot slot, uint32_t symbol_index, const uint8_t* at) {
    uint32_t sym = r.symbol(symbol_index, at);
    issue_make_at(slot.cell(), sym);
}

uint32_t global_slot(Reader& r, uint32_t symbol_index, const uint8_t* at) {
    uint32_t sym = r.symbol(symbol_index, at);
    r.global_slots[symbol_index] = context_add_word(g_global_context, sym) + 1;
    return r.global_slots[symbol_index];
}

void make_bound_word(Reader& r, Slot slot, uint32_t type, uint32_t symbol, uint32_t context, int32_t index,
                     const uint8_t* at) {
    if (index < -1 || (index >= 0 && uint32_t(index) >= context_word_count(context))) r.fail(at);
    set_word(slot.cell(), TypeId(type), context, symbol, index < 0 ? WORD_UNRESOLVED : uint32_t(index));
}

uint32_t root_context(Reader& r, uint32_t root_index, const uint8_t* at) {
    Series* root = node_series(r.root);
    if (uint64_t(r.root_base) + root_index >= root->used()) r.fail(at);
    const Cell* holder = root->cells() + r.root_base + root_index;
    if (!cell_is(holder, TYPE_OBJECT)) r.fail(at);
    return holder->w1;
}

void finish_set(Slot word_slot) {
    Series* s = node_series(word_slot.node);
    Cell word = s->cells()[word_slot.index];
    Cell value = s->cells()[word_slot.index + 1];
    word_set_value(&word, &value);
    s = node_series(word_slot.node);
    s->tail = s->head + word_slot.index * uint32_t(sizeof(Cell));
}

// --- contexts, objects and functions

uint32_t context_begin(const ContextHeader& h) {
    return context_make(h.count, h.stack, h.flag, 0, h.kind);
}

void context_add(Reader& r, uint32_t context, uint32_t symbol, uint32_t position, const uint8_t* at) {
    // Values are placed by position: a name twice (in any case) would shift every later one.
    if (context_add_word(context, symbol) != position) r.fail(at);
}

Slot context_value_slot(uint32_t context, uint32_t index) {
    return Slot{context_cell(context)->w2, index, false};
}

namespace {

Cell bound_word_cell(const OwnerOf& owner, uint32_t context) {
    Cell w;
    set_word(&w, TypeId(owner.type), context, owner.symbol, owner.index < 0 ? WORD_UNRESOLVED : uint32_t(owner.index));
    return w;
}

void check_word_index(Reader& r, const OwnerOf& owner, uint32_t context, const uint8_t* at) {
    if (owner.index < -1 || (owner.index >= 0 && uint32_t(owner.index) >= context_word_count(context))) r.fail(at);
}

bool is_handler_field(uint32_t symbol) {
    uint32_t s = symbol_resolve(symbol);
    return s == symbol_resolve(word_symbol(&g_word[W_ON_CHANGE])) ||
           s == symbol_resolve(word_symbol(&g_word[W_ON_DEEP_CHANGE]));
}

}  // namespace

void attach_object(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, uint32_t class_id, const uint8_t* at) {
    Cell object{TYPE_OBJECT, context, class_id, 0};
    *context_owner(context) = object;
    if (owner.word) {
        check_word_index(r, owner, context, at);
        *slot.cell() = bound_word_cell(owner, context);
    } else {
        *slot.cell() = object;
    }
}

void finish_object(Reader& r, Slot slot, const OwnerOf& owner, bool events, const uint8_t* at) {
    if (!events) return;
    uint32_t context = owner.word ? word_context(slot.cell()) : slot.cell()->w1;
    // The handlers are found again from the fields: an image's own handler numbers are not trusted.
    for (uint32_t i = 0; i < context_word_count(context); i++) {
        if (!is_handler_field(word_symbol(context_word_at(context, i)))) continue;
        const Cell* fn = context_values_at(context, i);
        if (!cell_is(fn, TYPE_FUNCTION)) r.fail(at);
    }
    GcRoot object(*context_owner(context));
    object_refresh_events(object.get());
    if (!owner.word) *slot.cell() = *object;
}

Cell function_of_context(uint32_t context) { return *context_owner(context); }

void attach_function(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, uint32_t spec_capacity,
                     uint32_t body_capacity, uint32_t* spec_node, uint32_t* body_node, const uint8_t* at) {
    GcRoot keep(context_holder(context));
    GcRoot spec, body, info;
    // The capacities are only room asked for: the blocks grow to what their records hold, and a block
    // shared by reference has no records here, so a few cells are made up front whatever they say.
    constexpr uint32_t ROOM = 16;
    set_series(spec.get(), TYPE_BLOCK, new_cells(std::min(spec_capacity, ROOM)));
    set_series(body.get(), TYPE_BLOCK, new_cells(std::min(body_capacity, ROOM)));
    set_series(info.get(), TYPE_BLOCK, series_alloc_cells_unset(FN_INFO_COUNT));
    Series* s = cell_series(info.get());
    s->tail = s->head + FN_INFO_COUNT * uint32_t(sizeof(Cell));
    s->cells()[FN_INFO_BODY] = *body;
    Cell fn{TYPE_FUNCTION, context, series_node(spec.get()), series_node(info.get())};
    *context_owner(context) = fn;
    if (owner.word) {
        check_word_index(r, owner, context, at);
        *slot.cell() = bound_word_cell(owner, context);
    } else {
        *slot.cell() = fn;
    }
    *spec_node = series_node(spec.get());
    *body_node = series_node(body.get());
}

void function_take_block(Slot slot, const OwnerOf& owner, uint32_t context, bool body, const Cell* block) {
    Cell* fn = context_owner(context);
    if (body) {
        Cell b = *block;
        b.w1 = 0;
        cell_set_type(&b, TYPE_BLOCK);
        *function_info(fn, FN_INFO_BODY) = b;
    } else {
        fn->w2 = series_node(block);
        if (!owner.word) slot.cell()->w2 = fn->w2;
    }
}

void check_function_words(Reader& r, uint32_t context, uint32_t spec_node, const uint8_t* at) {
    // A call puts its arguments where the spec says and the body's words read them where the context
    // says: the two must agree, as they do for every function the language makes.
    std::vector<uint32_t> names;
    std::unordered_set<uint32_t> seen;
    Series* s = node_series(spec_node);
    for (uint32_t i = 0; i < s->used(); i++) {
        const Cell* c = s->cells() + i;
        uint32_t t = cell_type(c);
        if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT) continue;
        uint32_t canonical = symbol_resolve(word_symbol(c));
        if (seen.insert(canonical).second) names.push_back(canonical);
    }
    if (names.size() != context_word_count(context)) r.fail(at);
    for (uint32_t i = 0; i < names.size(); i++) {
        if (symbol_resolve(word_symbol(context_word_at(context, i))) != names[i]) r.fail(at);
    }
}

// --- natives, operators, errors

void make_native(Reader& r, Slot slot, uint32_t type, uint32_t index, const Cell* spec, const uint8_t* at) {
    uint32_t limit = type == TYPE_NATIVE ? g_native_count : ACTION_COUNT;
    if (index < 1 || index > limit || !cell_is(spec, TYPE_BLOCK)) r.fail(at);
    native_make(spec, index, TypeId(type));
    *slot.cell() = *stack_top();
    stack_pop(1);
}

Slot native_spec_slot(Reader& r, Slot native_slot, Cell* holder) {
    // In boot mode a native's spec follows it as a root value of its own.
    if (!r.codec && native_slot.appended && native_slot.node == r.root) {
        Slot spec = slot_append(r.root);
        spec.appended = false;
        return spec;
    }
    set_series(holder, TYPE_BLOCK, new_cells(1));
    Slot spec = slot_append(series_node(holder));
    spec.appended = false;
    return spec;
}

void make_op(Reader& r, Slot slot, const uint8_t* at) {
    Cell* v = slot.cell();
    uint32_t t = cell_type(v);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION) r.fail(at);
    Cell spec;
    set_series(&spec, TYPE_BLOCK, v->w2);
    if (!op_spec_valid(&spec)) r.fail(at);
    if (t == TYPE_FUNCTION) *function_info(v, FN_INFO_OP) = *v;
    v = slot.cell();
    v->header = (v->header & ~(HDR_TYPE_MASK | HDR_OP_SOURCE_MASK)) | TYPE_OP | (t << HDR_OP_SOURCE_SHIFT);
}

void make_error(Reader& r, Slot slot, uint32_t code, const uint8_t* at) {
    ErrorId id = code > 0x7FFFFFFF ? ERR_COUNT : error_from_code(int32_t(code));
    if (id == ERR_COUNT) r.fail(at);
    error_create(id, nullptr, nullptr, nullptr);
    *slot.cell() = *stack_top();
    stack_pop(1);
}

Slot error_field_slot(Slot error_slot, uint32_t field) {
    return context_value_slot(object_context(error_slot.cell()), field);
}

// --- references

Cell path_step(Reader& r, const Cell& current, uint32_t index, bool first, const uint8_t* at) {
    if (first) {
        Series* root = node_series(r.root);
        if (uint64_t(r.root_base) + index >= root->used()) r.fail(at);
        return root->cells()[r.root_base + index];
    }
    auto cell_in = [&](uint32_t node, uint32_t from) -> Cell {
        Series* s = node_series(node);
        if (uint64_t(from) + index >= s->used()) r.fail(at);
        return s->cells()[from + index];
    };
    auto into_function = [&](const Cell& fn) -> Cell {
        uint32_t source = cell_is(&fn, TYPE_OP) ? op_source_type(&fn) : cell_type(&fn);
        if (index == 0) {
            Cell spec;
            set_series(&spec, TYPE_BLOCK, fn.w2);
            return spec;
        }
        if (index != 1 || source != TYPE_FUNCTION) r.fail(at);
        return *function_body(&fn);
    };
    uint32_t t = cell_type(&current);
    if (type_in(FAMILY_ANY_BLOCK, t) || t == TYPE_MAP) return cell_in(current.w2, 0);
    if (type_in(FAMILY_ANY_WORD, t) || t == TYPE_REFINEMENT) {
        uint32_t context = word_context(&current);
        if (!context) r.fail(at);
        if (context_is_stack(context)) {
            Cell fn = function_of_context(context);
            if (!cell_is(&fn, TYPE_FUNCTION)) r.fail(at);
            return into_function(fn);
        }
        return cell_in(context_cell(context)->w2, 0);
    }
    switch (t) {
        case TYPE_NATIVE:
        case TYPE_ACTION: return cell_in(current.w2, 0);
        case TYPE_FUNCTION: return into_function(current);
        case TYPE_OP: return into_function(current);
        case TYPE_OBJECT: return cell_in(context_cell(current.w1)->w2, 0);
        case TYPE_ERROR: return cell_in(context_cell(current.w1)->w2, ERROR_FIELD_ARG1);
        default: r.fail(at);
    }
}

namespace {

// The object or function a reference stands for: a word reached stands for its context's owner.
Cell owner_of_reached(const Cell& reached) {
    if (is_any_word(&reached) && word_context(&reached) && !cell_is(&reached, TYPE_ISSUE)) {
        return *context_owner(word_context(&reached));
    }
    return reached;
}

}  // namespace

void take_reference(Reader& r, Slot slot, uint32_t type, uint32_t head, const Cell& reached, const uint8_t* at) {
    uint32_t t = cell_type(&reached);
    Cell out = reached;
    if (type_in(FAMILY_ANY_BLOCK, type) && type != TYPE_HASH) {
        // Blocks share cell buffers with blocks, or stand for the spec of a function value.
        bool cells = (type_in(FAMILY_ANY_BLOCK, t) && t != TYPE_HASH) || type_in(FAMILY_ANY_FUNCTION, t);
        if (!cells) r.fail(at);
        set_series(&out, TypeId(type), reached.w2, head, 0);
    } else if (type_in(FAMILY_ANY_STRING, type)) {
        if (!type_in(FAMILY_ANY_STRING, t)) r.fail(at);
        set_series(&out, TypeId(type), reached.w2, head, 0);
    } else {
        switch (type) {
            case TYPE_HASH:
            case TYPE_BINARY:
            case TYPE_VECTOR:
            case TYPE_IMAGE:
                // These buffers are only ever shared with values of their own type (their index, element
                // type or unit size go with the buffer).
                if (t != type) r.fail(at);
                out.w1 = head;
                break;
            case TYPE_MAP:
            case TYPE_BITSET:
                if (t != type) r.fail(at);
                break;
            case TYPE_OBJECT:
                out = owner_of_reached(reached);
                if (!cell_is(&out, TYPE_OBJECT)) r.fail(at);
                break;
            case TYPE_FUNCTION:
                out = owner_of_reached(reached);
                if (cell_is(&out, TYPE_OP) && op_source_type(&out) == TYPE_FUNCTION) {
                    out.header = (out.header & ~(HDR_TYPE_MASK | HDR_OP_SOURCE_MASK)) | TYPE_FUNCTION;
                }
                if (!cell_is(&out, TYPE_FUNCTION)) r.fail(at);
                break;
            default: r.fail(at);
        }
    }
    check_head(r, head, type_in(FAMILY_ANY_BLOCK, type) || type == TYPE_MAP ? 16 : 4, at);
    cell_clear_new_line(&out);
    *slot.cell() = out;
}

Cell reference_block(Reader& r, const Cell& reached, const uint8_t* at) {
    uint32_t t = cell_type(&reached);
    bool cells = (type_in(FAMILY_ANY_BLOCK, t) && t != TYPE_HASH) || type_in(FAMILY_ANY_FUNCTION, t);
    if (!cells) r.fail(at);
    Cell block;
    set_series(&block, TYPE_BLOCK, reached.w2);
    return block;
}

uint32_t reference_context(Reader& r, const Cell& reached, const uint8_t* at) {
    uint32_t t = cell_type(&reached);
    if (is_any_word(&reached) && t != TYPE_ISSUE && word_context(&reached)) return word_context(&reached);
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION) return reached.w1;
    if (t == TYPE_OP && op_source_type(&reached) == TYPE_FUNCTION) return reached.w1;
    r.fail(at);
}

}  // namespace zolbin

namespace {

using zolbin::Reader;

uint32_t g_literal_base = 0;

// Start-up cannot report a bad boot image as an error: the process ends with the message instead.
[[noreturn]] void fatal(const char* message) {
    platform::write_stderr(message, std::strlen(message));
    runtime_exit(1);
}

// Reads the image's root values into the block, in the mode given. A wrong magic or corrupt compressed data
// raise invalid-data with the payload, or end the process when loading the program's own boot image.
uint32_t read_image(const uint8_t* data, size_t length, uint32_t block, bool codec, const Cell* payload, bool fatal_faults) {
    if (length < 8 || std::memcmp(data, "ZOLBIN", 6) != 0) {
        if (fatal_faults) fatal("Error: Not a Zolbin file!\n");
        fire(ERR_SCRIPT_INVALID_DATA, payload);
    }
    uint8_t flags = data[7];
    Reader r;
    r.data = data;
    r.codec = codec;
    r.payload = payload;
    r.root = block;
    r.root_base = node_series(block)->used();
    r.has_symbols = flags & ZOLBIN_SYMBOLS;
    r.body = data + 8;
    r.p = r.body;
    r.end = data + length;
    struct Unpacked {
        uint8_t* buffer = nullptr;
        ~Unpacked() { bitlz_free(buffer); }
    } unpacked;
    if (flags & ZOLBIN_COMPRESSED) {
        uint32_t produced = 0;
        unpacked.buffer = bitlz_decompress(r.body, length - 8, &produced);
        if (!unpacked.buffer) {
            if (fatal_faults) fatal("Error: Zolbin compressed data corrupted!\n");
            fire(ERR_SCRIPT_INVALID_DATA, payload);
        }
        r.body = unpacked.buffer;
        r.p = r.body;
        r.end = r.body + produced;
    }
    if (flags & ZOLBIN_COMPACT) {
        zolbin::read_compact_body(r);
    } else {
        zolbin::read_standard_body(r);
    }
    return r.root_base;
}

}  // namespace

void zolbin_decode(const uint8_t* data, size_t length, const Cell* block, const Cell* payload) {
    g_zolbin_codec = true;
    read_image(data, length, series_node(block), true, payload, false);
}

uint32_t zolbin_decode_boot(const uint8_t* data, size_t length, const Cell* block) {
    return read_image(data, length, series_node(block), false, &g_none_value, false);
}

uint32_t zolbin_load_boot(const uint8_t* image, size_t length, bool keep_base) {
    g_zolbin_codec = false;
    struct CollectorOff {
        bool was = g_gc_enabled;
        CollectorOff() { g_gc_enabled = false; }
        ~CollectorOff() { g_gc_enabled = was; }
    } off;
    uint32_t base = read_image(image, length, g_root_block, false, &g_none_value, true);
    if (!keep_base) g_literal_base = base;
    return base;
}

Cell* literal_cell(uint32_t n) { return node_series(g_root_block)->cells() + g_literal_base + n; }
uint32_t literal_base() { return g_literal_base; }

void zolbin_decode_value(const Cell* payload_in, Cell* out) {
    GcRoot payload(*payload_in);
    if (cell_is(payload.get(), TYPE_FILE) || cell_is(payload.get(), TYPE_URL)) {
        IoArgs args;
        args.binary = true;
        GcRoot bytes(*action_of<ACT_READ>(payload.get())(payload.get(), args));
        *payload = *bytes;
    }
    if (!cell_is(payload.get(), TYPE_BINARY)) fire(ERR_SCRIPT_INVALID_DATA, payload.get());
    uint32_t length;
    binary_head(payload.get(), &length);
    if (length <= 10) fire(ERR_SCRIPT_INVALID_DATA, payload.get());
    GcRoot block;
    block_make_at(block.get(), 4);
    // The payload's bytes do not move while they are read: nothing writes to it, and it stays rooted.
    const uint8_t* bytes = binary_head(payload.get(), &length);
    zolbin_decode(bytes, length, block.get(), payload.get());
    *out = block_rs_length(block.get()) == 1 ? *block_rs_head(block.get()) : *block;
}

}  // namespace zol
