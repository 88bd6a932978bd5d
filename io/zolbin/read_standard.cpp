// The standard encoding's reader: a body of little-endian 32-bit words, each record a header word (datatype,
// flags, new-line marker) and the fields its datatype takes; byte contents are padded to whole words.
#include "io/zolbin/reader.h"

#include <bit>
#include <cstring>

#include "io/zolbin/format.h"
#include "io/zolbin/zolbin.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::zolbin {

namespace {

// Bytes padded with zeros to a whole number of words.
const uint8_t* take_padded(Reader& r, uint64_t n, const uint8_t* at) {
    uint64_t padded = (n + 3) & ~uint64_t(3);
    if (padded > r.remaining()) r.fail(at);
    const uint8_t* bytes = r.p;
    r.p += padded;
    return bytes;
}

// After a record's leading fields, a reference is the word 0xFF, a count and the indices.
Cell read_path(Reader& r) {
    const uint8_t* at = r.p;
    if (r.u32() != STD_PATH) r.fail(at);
    uint32_t count = r.u32();
    if (count < 1 || count > 65536 || count > r.remaining() / 4) r.fail(at);
    return resolve_path(r, count, at, [&] { return r.u32(); });
}

// The next record's header word, past any padding words.
uint32_t header_word(Reader& r, const uint8_t** at) {
    for (;;) {
        *at = r.p;
        uint32_t hdr = r.u32();
        if (hdr & STD_TYPE) return hdr;
    }
}

ContextHeader read_context_header(Reader& r, const uint8_t* at) {
    uint32_t word = r.u32();
    if ((word & STD_TYPE) != TYPE_CONTEXT) r.fail(at);
    ContextHeader h;
    h.kind = (word >> STD_CONTEXT_KIND_SHIFT) & 3;
    h.flag = word & STD_CONTEXT_FLAG;
    h.stack = word & STD_CONTEXT_STACK;
    h.values = (word & STD_CONTEXT_VALUES) && !h.stack;
    h.count = r.claim_cells(r.u32(), at, 4);
    return h;
}

uint32_t read_context_words(Reader& r, const ContextHeader& h, const uint8_t* at, Cell* holder) {
    return make_context(r, h, at, holder, [&] { return r.symbol(r.u32(), at); });
}

void read_context_values(Reader& r, uint32_t context, const ContextHeader& h) {
    if (!h.values) return;
    for (uint32_t i = 0; i < h.count; i++) read_standard(r, context_value_slot(context, i));
}

void read_object(Reader& r, Slot slot, const OwnerOf& owner, uint32_t hdr, const uint8_t* at) {
    uint32_t class_id = r.u32();
    bool events = hdr & STD_EVENTS;
    if (events) {
        r.u32();  // the handlers' numbers: found again from the fields once the values are read
        r.u32();
    }
    ContextHeader h = read_context_header(r, at);
    if (h.stack) r.fail(at);
    GcRoot holder;
    uint32_t context = read_context_words(r, h, at, holder.get());
    attach_object(r, slot, owner, context, r.codec ? 0xFFFFFFFF : class_id, at);
    read_context_values(r, context, h);
    finish_object(r, slot, owner, events, at);
}

void read_function_block(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, bool body, uint32_t node) {
    const uint8_t* at;
    uint32_t hdr = header_word(r, &at);
    if ((hdr & STD_TYPE) != TYPE_BLOCK) r.fail(at);
    r.u32();  // a head index: the function keeps its blocks from their start
    if (hdr & STD_REFERENCE) {
        Cell block = reference_block(r, read_path(r), at);
        function_take_block(slot, owner, context, body, &block);
        return;
    }
    uint32_t count = r.claim_cells(r.u32(), at, 4);
    for (uint32_t i = 0; i < count; i++) read_standard(r, slot_append(node));
}

void read_function(Reader& r, Slot slot, const OwnerOf& owner, const uint8_t* at) {
    uint32_t spec_capacity = r.check_count(r.u32(), at, 4);
    uint32_t body_capacity = r.check_count(r.u32(), at, 4);
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

void read_word(Reader& r, Slot slot, uint32_t id, uint32_t hdr, const uint8_t* at) {
    uint32_t symbol_index = r.u32();
    if (!r.codec) {
        int32_t root_index = int32_t(r.u32());
        int32_t index = int32_t(r.u32());
        if (root_index == -1) {
            make_global_word(r, slot, id, symbol_index, at);
        } else {
            uint32_t sym = r.symbol(symbol_index, at);
            uint32_t context = root_context(r, uint32_t(root_index), at);
            if (index == -1) index = context_find_word(context, sym, true);
            make_bound_word(r, slot, id, sym, context, index, at);
        }
        if (hdr & STD_SET) {
            if (!slot.appended) r.fail(at);
            read_standard(r, slot_append(slot.node));
            finish_set(slot);
        }
        return;
    }
    int32_t index = int32_t(r.u32());
    if (hdr & STD_SET) {
        make_global_word(r, slot, id, symbol_index, at);
        return;
    }
    OwnerOf owner;
    owner.word = true;
    owner.type = id;
    owner.symbol = r.symbol(symbol_index, at);
    owner.index = index;
    if (hdr & STD_REFERENCE) {
        uint32_t context = reference_context(r, read_path(r), at);
        make_bound_word(r, slot, id, owner.symbol, context, index, at);
        return;
    }
    // The owner of the word's context follows: an object or a function, in full.
    const uint8_t* owner_at;
    uint32_t owner_hdr = header_word(r, &owner_at);
    if ((owner_hdr & STD_TYPE) == TYPE_OBJECT && !(owner_hdr & STD_REFERENCE)) {
        read_object(r, slot, owner, owner_hdr, owner_at);
    } else if ((owner_hdr & STD_TYPE) == TYPE_FUNCTION && !(owner_hdr & STD_REFERENCE)) {
        read_function(r, slot, owner, owner_at);
    } else {
        r.fail(owner_at);
    }
}

}  // namespace

void read_standard(Reader& r, Slot slot) {
    Depth depth(r, r.p);
    *slot.cell() = g_unset_value;  // no stale payload words: whole cells compare bitwise
    const uint8_t* at;
    uint32_t hdr = header_word(r, &at);
    uint32_t id = hdr & STD_TYPE;
    bool new_line = hdr & STD_NEW_LINE;
    if (id == STD_PATH) {
        r.p = at;  // the 0xFF word is the path's own mark
        *slot.cell() = read_path(r);
        cell_clear_new_line(slot.cell());
        return;
    }
    IdInfo info = ids(id);
    if (info.no_codec) fire_no_codec(id);
    if (!info.record) r.fail(at);
    // Bit 19 is a reference mark only for the kinds written so; an op!'s header keeps a datatype there.
    bool ref = info.referable && (hdr & STD_REFERENCE);
    if ((hdr & STD_SET) && !r.codec && !info.settable) r.fail(at);

    uint32_t type = family_case(family_case(id, FAMILY_ANY_BLOCK, TYPE_BLOCK), FAMILY_ANY_STRING, TYPE_STRING);
    switch (word_kind(id) ? uint32_t(TYPE_WORD) : type) {
        case TYPE_DATATYPE: make_datatype(r, slot, r.u32(), at); break;
        case TYPE_LOGIC: {
            uint32_t v = r.u32();
            if (v > 1) r.fail(at);
            set_logic(slot.cell(), v == 1);
            break;
        }
        case TYPE_UNSET: set_unset(slot.cell()); break;
        case TYPE_NONE: set_none(slot.cell()); break;
        case TYPE_CHAR: set_char(slot.cell(), r.u32()); break;
        case TYPE_INTEGER: set_integer(slot.cell(), int32_t(r.u32())); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            uint32_t high = r.u32();
            uint32_t low = r.u32();
            Cell f{id, 0, low, high};
            *slot.cell() = f;
            break;
        }
        case TYPE_PAIR: {
            int32_t x = int32_t(r.u32());
            int32_t y = int32_t(r.u32());
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
        case TYPE_TYPESET: {
            const uint8_t* bits = r.take(12);
            Cell t{TYPE_TYPESET, 0, 0, 0};
            std::memcpy(&t.w1, bits, 12);
            *slot.cell() = t;
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = (hdr >> STD_UNIT_SHIFT) & 0xFF;
            if (n < 1 || n > TUPLE_MAX) r.fail(at);
            tuple_make_at(slot.cell(), r.take(12), n);
            break;
        }
        case TYPE_MONEY: {
            const uint8_t* payload = r.take(12);
            make_money(r, slot, hdr & STD_MONEY_NEGATIVE, payload, at);
            break;
        }
        case TYPE_DATE: {
            uint32_t packed = r.u32();
            uint32_t high = r.u32();
            uint32_t low = r.u32();
            if (!(packed & DATE_TIME_FLAG)) high = low = 0;
            make_date(r, slot, packed, low, high, at);
            break;
        }
        case TYPE_ISSUE: make_global_word(r, slot, TYPE_ISSUE, r.u32(), at); break;
        case TYPE_WORD:
            read_word(r, slot, id, hdr, at);
            if (!r.codec && (hdr & STD_SET)) return;  // a "set" record leaves no cell
            break;
        case TYPE_CONTEXT: {
            r.p = at;  // the record's header word is its context header
            ContextHeader h = read_context_header(r, at);
            if (h.stack) r.fail(at);
            GcRoot holder;
            uint32_t context = read_context_words(r, h, at, holder.get());
            attach_object(r, slot, OwnerOf{}, context, 0xFFFFFFFF, at);
            read_context_values(r, context, h);
            break;
        }
        case TYPE_BLOCK: {
            uint32_t head = r.u32();
            check_head(r, head, 16, at);
            if (ref) {
                take_reference(r, slot, id, head, read_path(r), at);
                break;
            }
            uint32_t count = r.claim_cells(r.u32(), at, 4);
            uint32_t node = new_filled_cells(count);
            set_series(slot.cell(), TypeId(id), node, head, 0);
            for (uint32_t i = 0; i < count; i++) read_standard(r, slot_at(node, i));
            if (id == TYPE_HASH) finish_hash(slot);
            break;
        }
        case TYPE_MAP: {
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            uint32_t count = r.claim_cells(r.u32(), at, 4);
            if (count & 1) r.fail(at);
            begin_map(slot, count);
            uint32_t node = slot.cell()->w2;
            for (uint32_t i = 0; i < count; i++) read_standard(r, slot_at(node, i));
            finish_map(r, slot, at);
            break;
        }
        case TYPE_STRING:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_IMAGE: {
            uint32_t unit = (hdr >> STD_UNIT_SHIFT) & 0xFF;
            uint32_t head = r.u32();
            if (ref) {
                check_head(r, head, 4, at);
                take_reference(r, slot, id, head, read_path(r), at);
                break;
            }
            if (id == TYPE_IMAGE) {
                uint32_t size = r.u32();
                r.check_count(uint64_t(size & 0xFFFF) * (size >> 16), at, 4);
                fire_no_codec(TYPE_IMAGE);  // image! values cannot be made yet
            }
            uint32_t count = r.u32();
            uint32_t element = id == TYPE_VECTOR ? r.u32() : 0;
            bool unit_ok = id == TYPE_VECTOR ? vector_shape_valid(element, unit)
                           : id == TYPE_BINARY ? unit == 1
                                               : unit == 1 || unit == 2 || unit == 4;
            if (!unit_ok) r.fail(at);
            r.check_count(count, at, unit);
            check_head(r, head, unit, at);
            make_bytes(slot, id, head, unit, take_padded(r, uint64_t(count) * unit, at), count, element);
            break;
        }
        case TYPE_BITSET: {
            if (ref) {
                take_reference(r, slot, id, 0, read_path(r), at);
                break;
            }
            uint32_t count = r.check_count(r.u32(), at);
            make_bitset(slot, hdr & STD_BITSET_NEGATED, take_padded(r, count, at), count);
            break;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            uint32_t index = r.u32();
            GcRoot holder;
            Slot spec = native_spec_slot(r, slot, holder.get());
            read_standard(r, spec);
            GcRoot keep(*spec.cell());
            make_native(r, slot, id, index, keep.get(), at);
            break;
        }
        case TYPE_OP: {
            uint32_t wrapped = (hdr >> STD_OP_SHIFT) & 0xFF;
            read_standard(r, Slot{slot.node, slot.index, false});
            if (cell_type(slot.cell()) != wrapped) r.fail(at);
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
            read_object(r, slot, OwnerOf{}, hdr, at);
            break;
        case TYPE_ERROR: {
            make_error(r, slot, r.u32(), at);
            for (uint32_t f = ERROR_FIELD_ARG1; f <= ERROR_FIELD_STACK; f++) read_standard(r, error_field_slot(slot, f));
            break;
        }
        default: r.fail(at);
    }
    if (new_line) slot.cell()->header |= HDR_NEW_LINE;
}

void read_standard_body(Reader& r) {
    if (r.remaining() < 8) fire(ERR_SCRIPT_INVALID_DATA, r.payload);
    r.u32();  // the root count: the records say how many there are
    uint32_t records = r.u32();
    if (r.has_symbols) {
        const uint8_t* at = r.p;
        uint32_t count = r.u32();
        uint32_t strings = r.u32();
        r.check_count(count, at, 4);
        r.offsets = r.take(size_t(count) * 4);
        r.strings = r.take(strings);
        r.strings_size = strings;
        r.start_symbols(count);
    }
    const uint8_t* at = r.p;
    if (records > r.remaining()) r.fail(at);
    r.end = r.p + records;
    r.cell_budget = records;
    while (r.p < r.end) read_standard(r, slot_append(r.root));
}

}  // namespace zol::zolbin
