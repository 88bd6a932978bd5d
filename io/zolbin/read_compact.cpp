// The compact encoding's reader: the body with its symbol table, and each record from its prefix and lead
// bytes (datatype and flag bit, small integers, logic values, references, "set" marks, new-line markers).
#include "io/zolbin/reader.h"

#include <bit>
#include <cstring>

#include "io/zolbin/format.h"
#include "io/zolbin/zolbin.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::zolbin {

namespace {

// The 64-bit float's raw bytes, low word first.
double read_double(Reader& r) {
    uint32_t low = r.u32();
    uint32_t high = r.u32();
    Cell c{TYPE_FLOAT, 0, low, high};
    return cell_float(&c);
}

// A path: a count from 1 to 65,536 (no more than the bytes left) and that many indices.
Cell read_path(Reader& r) {
    const uint8_t* at = r.p;
    uint32_t count = r.varint();
    if (count < 1 || count > 65536 || count > r.remaining()) r.fail(at);
    return resolve_path(r, count, at, [&] { return r.varint(); });
}

// The words of a context part (after its lead byte): flags, count, symbol references. The values, when they
// follow, are read by the caller once the context has its owner.
ContextHeader read_context_header(Reader& r, const uint8_t* at) {
    uint8_t flags = r.byte();
    ContextHeader h;
    h.kind = flags & CP_CONTEXT_KIND;
    h.stack = flags & CP_CONTEXT_STACK;
    h.flag = flags & CP_CONTEXT_FLAG;
    h.values = (flags & CP_CONTEXT_VALUES) && !h.stack;
    h.count = r.claim_cells(r.varint(), at);
    return h;
}

uint32_t read_context_words(Reader& r, const ContextHeader& h, const uint8_t* at, Cell* holder) {
    return make_context(r, h, at, holder, [&] { return r.symbol(r.varint(), at); });
}

void read_context_values(Reader& r, uint32_t context, const ContextHeader& h) {
    if (!h.values) return;
    Depth depth(r, r.p);
    for (uint32_t i = 0; i < h.count; i++) read_compact(r, context_value_slot(context, i));
}

// A context part inside an object! or function! record starts with a lead byte of its own.
void read_context_lead(Reader& r) {
    const uint8_t* at = r.p;
    if ((r.byte() & 0x3F) != TYPE_CONTEXT) r.fail(at);
}

// object!: class id, [event slots], context part. The slot receives the object, or the word it owns.
void read_object(Reader& r, Slot slot, const OwnerOf& owner, bool events, const uint8_t* at) {
    int32_t class_id = r.svarint();
    if (events) {
        r.svarint();  // the handlers' numbers: found again from the fields once the values are read
        r.svarint();
    }
    read_context_lead(r);
    ContextHeader h = read_context_header(r, at);
    if (h.stack) r.fail(at);
    GcRoot holder;
    uint32_t context = read_context_words(r, h, at, holder.get());
    attach_object(r, slot, owner, context, r.codec ? 0xFFFFFFFF : uint32_t(class_id), at);
    read_context_values(r, context, h);
    finish_object(r, slot, owner, events, at);
}

// A function's spec or body: a block! record, in full or by reference.
void read_function_block(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, bool body, uint32_t node) {
    const uint8_t* at = r.p;
    bool ref = false;
    uint8_t lead;
    for (;;) {
        lead = r.byte();
        if (lead == CP_REFERENCE) {
            ref = true;
        } else if (lead != CP_NEW_LINE) {
            break;
        }
    }
    if (lead >= 0x80 || (lead & 0x3F) != TYPE_BLOCK) r.fail(at);
    if (lead & CP_FLAG) r.varint();  // a head index: the function keeps its blocks from their start
    if (ref) {
        Cell block = reference_block(r, read_path(r), at);
        function_take_block(slot, owner, context, body, &block);
        return;
    }
    uint32_t count = r.claim_cells(r.varint(), at);
    Series* s = node_series(node);
    if (uint64_t(count) * sizeof(Cell) > s->size) s = series_grow_buffer(node, uint64_t(count) * sizeof(Cell));
    for (uint32_t i = 0; i < count; i++) s->cells()[i] = g_unset_value;
    s->tail = s->head + count * uint32_t(sizeof(Cell));
    Depth depth(r, at);
    for (uint32_t i = 0; i < count; i++) read_compact(r, slot_at(node, i));
}

// function!: spec and body capacities, context part, spec block, body block.
void read_function(Reader& r, Slot slot, const OwnerOf& owner, const uint8_t* at) {
    uint32_t spec_capacity = r.check_count(r.varint(), at);
    uint32_t body_capacity = r.check_count(r.varint(), at);
    read_context_lead(r);
    ContextHeader h = read_context_header(r, at);
    if (!h.stack) r.fail(at);
    GcRoot holder;
    uint32_t context = read_context_words(r, h, at, holder.get());
    uint32_t spec_node, body_node;
    attach_function(r, slot, owner, context, spec_capacity, body_capacity, &spec_node, &body_node, at);
    read_function_block(r, slot, owner, context, false, spec_node);
    read_function_block(r, slot, owner, context, true, body_node);
    check_function_words(r, context, context_owner(context)->w2, at);
}

bool word_kind(uint32_t id) { return id >= TYPE_WORD && id <= TYPE_REFINEMENT; }

void read_word(Reader& r, Slot slot, uint32_t id, bool bound, bool ref, bool set, const uint8_t* at) {
    uint32_t symbol_index = r.varint();
    if (!bound) {
        if (ref) r.fail(at);
        make_global_word(r, slot, id, symbol_index, at);
    } else if (!r.codec) {
        uint32_t sym = r.symbol(symbol_index, at);
        uint32_t context = root_context(r, r.varint(), at);
        int32_t index = r.svarint();
        if (index == -1) index = context_find_word(context, sym, true);
        make_bound_word(r, slot, id, sym, context, index, at);
    } else {
        OwnerOf owner;
        owner.word = true;
        owner.type = id;
        owner.symbol = r.symbol(symbol_index, at);
        owner.index = r.svarint();
        if (ref) {
            uint32_t context = reference_context(r, read_path(r), at);
            make_bound_word(r, slot, id, owner.symbol, context, owner.index, at);
        } else {
            // The owner of the word's context follows: an object or a function, in full.
            const uint8_t* lead_at = r.p;
            uint8_t lead = r.byte();
            if (lead < 0x80 && (lead & 0x3F) == TYPE_OBJECT) {
                read_object(r, slot, owner, lead & CP_FLAG, lead_at);
            } else if (lead == TYPE_FUNCTION) {
                read_function(r, slot, owner, lead_at);
            } else {
                r.fail(lead_at);
            }
        }
    }
    if (set) {
        Depth depth(r, at);  // a set record's value may be another set record
        read_compact(r, slot_append(slot.node));
        finish_set(slot);
    }
}

}  // namespace

void read_compact(Reader& r, Slot slot) {
    *slot.cell() = g_unset_value;  // no stale payload words: whole cells compare bitwise
    uint8_t lead = r.byte();
    // The records met most, first: small integers and words bound to the global context, without prefixes.
    if (lead >= CP_SMALL_INT && lead < CP_NEW_LINE) {
        set_integer(slot.cell(), lead & 0x3F);
        return;
    }
    if (lead >= TYPE_WORD && lead <= TYPE_REFINEMENT) {
        const uint8_t* at = r.p - 1;
        make_global_word(r, slot, lead, r.varint(), at);
        return;
    }
    bool new_line = false, ref = false, set = false;
    for (;;) {
        if (lead == CP_NEW_LINE) {
            new_line = true;
        } else if (lead == CP_REFERENCE) {
            ref = true;
        } else if (lead == CP_SET) {
            if (r.codec) r.fail(r.p - 1);
            set = true;
        } else {
            break;
        }
        lead = r.byte();
    }
    const uint8_t* at = r.p - 1;
    if (lead >= 0x80) {
        if (ref || set) r.fail(at);
        if (lead < CP_TRUE) {
            set_integer(slot.cell(), lead & 0x3F);
        } else if (lead == CP_TRUE || lead == CP_FALSE) {
            set_logic(slot.cell(), lead == CP_TRUE);
        } else if (lead == CP_PATH) {
            Cell reached = read_path(r);
            *slot.cell() = reached;
            cell_clear_new_line(slot.cell());
        } else {
            r.fail(at);
        }
        if (new_line) slot.cell()->header |= HDR_NEW_LINE;
        return;
    }
    uint32_t id = lead & 0x3F;
    bool flag = lead & CP_FLAG;
    if (id == CP_ID_FOLLOWS) id = r.varint();
    IdInfo info = ids(id);
    if (info.no_codec) fire_no_codec(id);
    // logic! has no lead of its own (0xC2, 0xC3); only the datatypes whose records carry it have a flag bit.
    if (!info.record || id == TYPE_LOGIC || (set && (!info.settable || !slot.appended)) || (ref && !info.referable) ||
        (flag && !info.flag)) {
        r.fail(at);
    }

    uint32_t type = family_case(family_case(id, FAMILY_ANY_BLOCK, TYPE_BLOCK), FAMILY_ANY_STRING, TYPE_STRING);
    if (word_kind(id)) type = TYPE_WORD;
    switch (type) {
        case TYPE_DATATYPE: make_datatype(r, slot, r.varint(), at); break;
        case TYPE_UNSET: set_unset(slot.cell()); break;
        case TYPE_NONE: set_none(slot.cell()); break;
        case TYPE_CHAR: set_char(slot.cell(), r.varint()); break;
        case TYPE_INTEGER: set_integer(slot.cell(), r.svarint()); break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double v = flag ? (id == TYPE_PERCENT ? r.svarint() / 100.0 : double(r.svarint())) : read_double(r);
            set_float(slot.cell(), v, TypeId(id));
            break;
        }
        case TYPE_PAIR: {
            int32_t x = r.svarint();
            int32_t y = r.svarint();
            pair_make_at(slot.cell(), x, y);
            break;
        }
        case TYPE_POINT2D: {
            uint32_t x = r.u32(), y = r.u32();
            point2d_make_at(slot.cell(), std::bit_cast<float>(x), std::bit_cast<float>(y));
            break;
        }
        case TYPE_POINT3D: {
            uint32_t x = r.u32(), y = r.u32(), z = r.u32();
            point3d_make_at(slot.cell(), std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z));
            break;
        }
        case TYPE_DATE: {
            uint32_t packed = r.u32();
            bool has_time = packed & DATE_TIME_FLAG;
            if (has_time != flag) r.fail(at);
            uint32_t low = has_time ? r.u32() : 0;
            uint32_t high = has_time ? r.u32() : 0;
            make_date(r, slot, packed, low, high, at);
            break;
        }
        case TYPE_TYPESET: {
            uint8_t n = r.byte();
            if (n > 12) r.fail(at);
            uint8_t bits[12] = {};
            std::memcpy(bits, r.take(n), n);
            Cell t{TYPE_TYPESET, 0, 0, 0};
            std::memcpy(&t.w1, bits, 12);
            *slot.cell() = t;
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = flag ? r.byte() : 3;
            if (n < 1 || n > TUPLE_MAX) r.fail(at);
            tuple_make_at(slot.cell(), r.take(n), n);
            break;
        }
        case TYPE_MONEY: {
            const uint8_t* payload = r.take(12);
            make_money(r, slot, flag, payload, at);
            break;
        }
        case TYPE_ISSUE: make_global_word(r, slot, TYPE_ISSUE, r.varint(), at); break;
        case TYPE_WORD:
            read_word(r, slot, id, flag, ref, set, at);
            if (set) return;  // a "set" record leaves no cell
            break;
        case TYPE_CONTEXT: {
            ContextHeader h = read_context_header(r, at);
            if (h.stack) r.fail(at);
            GcRoot holder;
            uint32_t context = read_context_words(r, h, at, holder.get());
            attach_object(r, slot, OwnerOf{}, context, 0xFFFFFFFF, at);
            read_context_values(r, context, h);
            break;
        }
        case TYPE_BLOCK: {
            uint32_t head = flag ? r.varint() : 0;
            check_head(r, head, 16, at);
            if (ref) {
                take_reference(r, slot, id, head, read_path(r), at);
                break;
            }
            uint32_t count = r.claim_cells(r.varint(), at);
            uint32_t node = new_filled_cells(count);
            set_series(slot.cell(), TypeId(id), node, head, 0);
            Depth depth(r, at);
            for (uint32_t i = 0; i < count; i++) read_compact(r, slot_at(node, i));
            if (id == TYPE_HASH) finish_hash(slot);
            break;
        }
        case TYPE_MAP: {
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            uint32_t count = r.claim_cells(r.varint(), at);
            if (count & 1) r.fail(at);
            begin_map(slot, count);
            uint32_t node = slot.cell()->w2;
            Depth depth(r, at);
            for (uint32_t i = 0; i < count; i++) read_compact(r, slot_at(node, i));
            finish_map(r, slot, at);
            break;
        }
        case TYPE_STRING:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_IMAGE: {
            uint32_t head = flag ? r.varint() : 0;
            if (ref) {
                check_head(r, head, 4, at);
                take_reference(r, slot, id, head, read_path(r), at);
                break;
            }
            uint32_t unit = 1, count, element = 0;
            if (id == TYPE_VECTOR) {
                uint8_t shape = r.byte();
                unit = 1u << (shape & 3);
                element = shape >> 2;
                if (!vector_shape_valid(element, unit)) r.fail(at);
                count = r.varint();
            } else if (id == TYPE_IMAGE) {
                uint32_t width = r.varint(), height = r.varint();
                if (width > 65535 || height > 65535) r.fail(at);
                r.check_count(uint64_t(width) * height, at, 4);
                fire_no_codec(TYPE_IMAGE);  // image! values cannot be made yet
            } else if (id == TYPE_BINARY) {
                count = r.varint();
            } else {
                uint32_t v = r.varint();
                if ((v & 3) == 3) r.fail(at);
                unit = 1u << (v & 3);
                count = v >> 2;
            }
            r.check_count(count, at, unit);
            check_head(r, head, unit, at);
            make_bytes(slot, id, head, unit, r.take(size_t(count) * unit), count, element);
            break;
        }
        case TYPE_BITSET: {
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            uint32_t count = r.check_count(r.varint(), at);
            make_bitset(slot, flag, r.take(count), count);
            break;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            uint32_t index = r.varint();
            GcRoot holder;
            Slot spec = native_spec_slot(r, slot, holder.get());
            Depth depth(r, at);
            read_compact(r, spec);
            Cell spec_cell = *spec.cell();
            GcRoot keep(spec_cell);
            make_native(r, slot, id, index, keep.get(), at);
            break;
        }
        case TYPE_OP: {
            Depth depth(r, at);
            read_compact(r, Slot{slot.node, slot.index, false});
            make_op(r, slot, at);
            break;
        }
        case TYPE_FUNCTION:
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            read_function(r, slot, OwnerOf{}, at);
            break;
        case TYPE_OBJECT:
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            read_object(r, slot, OwnerOf{}, flag, at);
            break;
        case TYPE_ERROR: {
            make_error(r, slot, r.varint(), at);
            Depth depth(r, at);
            for (uint32_t f = ERROR_FIELD_ARG1; f <= ERROR_FIELD_STACK; f++) read_compact(r, error_field_slot(slot, f));
            break;
        }
        default: r.fail(at);
    }
    if (new_line) slot.cell()->header |= HDR_NEW_LINE;
}

void read_compact_body(Reader& r) {
    // The root count and the records size lie within the body's first 20 bytes, the symbol count and the
    // strings size within the 20 bytes after those.
    const uint8_t* end = r.end;
    auto within_20 = [&] {
        if (r.end - r.p > 20) r.end = r.p + 20;
    };
    within_20();
    r.varint();
    uint32_t records = r.varint();
    r.end = end;
    if (r.has_symbols) {
        within_20();
        uint32_t count = r.varint();
        uint32_t strings = r.varint();
        r.end = end;
        const uint8_t* at = r.p;
        r.check_count(count, at, 4);
        r.offsets = r.take(size_t(count) * 4);
        r.strings = r.take(strings);
        r.strings_size = strings;
        if (strings && r.strings[strings - 1] != 0) r.fail(at);
        r.start_symbols(count);
    }
    const uint8_t* at = r.p;
    if (records > r.remaining()) r.fail(at);
    r.end = r.p + records;
    r.cell_budget = records;
    while (r.p < r.end) read_compact(r, slot_append(r.root));
}

}  // namespace zol::zolbin
