// Text, encoding and coercion natives: dehex, enhex, debase, enbase, uppercase, lowercase, to-local-file,
// as-pair, as-point2D, as-point3D, as-money and as.
#include <cmath>
#include <cstdint>
#include <string>

#include "interpreter/natives/natives.h"
#include "platform/platform.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/binary_base.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::natives {

namespace {

enum class Coercion { none, list, text };

Coercion coercion_class(uint32_t type) {
    switch (type) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH: return Coercion::list;
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF: return Coercion::text;
        default: return Coercion::none;
    }
}

// A number as a pair coordinate: an integer as it is, a float truncated toward zero; a float that is no
// number or lies outside the integer range raises invalid-arg.
int32_t pair_coordinate(const Cell* c) {
    if (cell_is(c, TYPE_INTEGER)) return cell_int(c);
    double d = cell_float(c);
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT_INVALID_ARG, c);
    return int32_t(d);
}

float point_coordinate_of(const Cell* c) { return cell_is(c, TYPE_INTEGER) ? float(cell_int(c)) : float(cell_float(c)); }

void case_native(const int32_t* refs, bool upper) {
    case_convert_value(arg(0), ref_arg(refs, 0), upper);
    stack_keep_result();
}

// The base of /base (64 without it): 2, 16, 58 or 64, else invalid-arg.
int base_of(const int32_t* refs, int index) {
    const Cell* base = ref_arg(refs, index);
    if (!base) return 64;
    if (!binary_base_supported(cell_int(base))) fire(ERR_SCRIPT_INVALID_ARG, base);
    return cell_int(base);
}

// The room an encoding of n bytes is given, as signed 32-bit arithmetic would count it; text that would
// need more than 2^31 - 1 bytes is too long.
uint32_t encoding_room(int base, int64_t n) {
    int64_t room;
    switch (base) {
        case 64: room = 4 * (n / 3) + (4 * (n % 3)) / 3 + 2 * (n / 32) + 5; break;
        case 58: room = 2 * n; break;
        case 16: room = 2 * n + n / 32 + 32; break;
        default: room = 8 * n + 2 * (n / 8) + 4; break;
    }
    if (room > INT32_MAX) fire(ERR_SCRIPT_TOO_LONG);
    return uint32_t(room);
}

}  // namespace

uint32_t native_debase(const int32_t* refs) {
    int base = base_of(refs, 0);
    GcRoot result;
    if (!binary_debase_string(result.get(), base, arg(0))) set_none(result.get());
    stack_set_only_result(result.get());
    return 0;
}

// A string is encoded as its UTF-8 bytes, a binary from its head; no line breaks are written.
uint32_t native_enbase(const int32_t* refs) {
    int base = base_of(refs, 0);
    GcRoot result;
    if (cell_is(arg(0), TYPE_BINARY)) {
        encoding_room(base, int64_t(series_buffer_length(arg(0))) - series_clamped_head(arg(0)));
        binary_enbase_string(result.get(), base, arg(0));
    } else {
        std::string bytes = string_to_utf8(arg(0));
        std::string text(encoding_room(base, int64_t(bytes.size())), '\0');
        auto* out = reinterpret_cast<uint8_t*>(text.data());
        uint8_t* end = binary_encode_base(base, out, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        string_make(result.get(), uint32_t(end - out));
        string_append_ascii(result.get(), text.data(), size_t(end - out));
    }
    stack_set_only_result(result.get());
    return 0;
}

uint32_t native_dehex(const int32_t*) {
    GcRoot result;
    std::string text = string_to_utf8(arg(0));
    if (!url_load_at(result.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), TYPE_STRING)) {
        fire(ERR_SCRIPT_INVALID_ARG, arg(0));
    }
    stack_set_only_result(result.get());
    return 0;
}

// A string! is encoded strictly (a slash or a colon too); the other kinds keep what a URL may hold.
uint32_t native_enhex(const int32_t*) {
    GcRoot result;
    string_make(result.get(), string_length(arg(0)));
    url_enhex_string(arg(0), result.get(), cell_is(arg(0), TYPE_STRING));
    stack_set_only_result(result.get());
    return 0;
}

uint32_t native_uppercase(const int32_t* refs) {
    case_native(refs, true);
    return 0;
}

uint32_t native_lowercase(const int32_t* refs) {
    case_native(refs, false);
    return 0;
}

// The local form of a file path is the path itself; /full puts the current directory before a relative one.
uint32_t native_to_local_file(const int32_t* refs) {
    std::string path = string_to_utf8(arg(0));
    if (present(refs, 0) && (path.empty() || path[0] != '/')) {
        std::string dir = platform::get_current_dir();
        if (dir.empty() || dir.back() != '/') dir += '/';
        path = dir + path;
    }
    GcRoot result;
    string_make(result.get(), uint32_t(path.size()));
    string_append_utf8(result.get(), reinterpret_cast<const uint8_t*>(path.data()), path.size());
    stack_set_only_result(result.get());
    return 0;
}

uint32_t native_as_pair(const int32_t*) {
    int32_t x = pair_coordinate(arg(0)), y = pair_coordinate(arg(1));
    pair_make_at(g_args.base, x, y);
    stack_keep_result();
    return 0;
}

uint32_t native_as_point2d(const int32_t*) {
    point2d_make_at(g_args.base, point_coordinate_of(arg(0)), point_coordinate_of(arg(1)));
    stack_keep_result();
    return 0;
}

uint32_t native_as_point3d(const int32_t*) {
    point3d_make_at(g_args.base, point_coordinate_of(arg(0)), point_coordinate_of(arg(1)), point_coordinate_of(arg(2)));
    stack_keep_result();
    return 0;
}

// The amount as money in the currency, which must be in the currency list.
uint32_t native_as_money(const int32_t*) {
    int32_t currency = currency_index_of_symbol(word_symbol(arg(0)));
    if (currency < 0) fire(ERR_SCRIPT_BAD_DENOM, arg(0));
    Cell m;
    if (cell_is(arg(1), TYPE_INTEGER)) {
        money_make_integer(&m, cell_int(arg(1)));
    } else {
        money_make_float(&m, cell_float(arg(1)), true);
    }
    money_set_currency(&m, uint32_t(currency));
    *g_args.base = m;
    stack_keep_result();
    return 0;
}

// The spec series seen as another type of its class: the same buffer, index and values, nothing copied.
uint32_t native_as(const int32_t*) {
    const Cell* type = arg(0);
    Cell* spec = arg(1);
    uint32_t target = cell_is(type, TYPE_DATATYPE) ? datatype_id(type) : cell_type(type);
    Coercion c = coercion_class(target);
    if (c == Coercion::none || c != coercion_class(cell_type(spec))) {
        Cell from;
        set_datatype(&from, cell_type(spec));
        fire_with_type(ERR_SCRIPT_NOT_SAME_CLASS, target, &from);
    }
    cell_set_type(spec, TypeId(target));
    *g_args.base = *spec;
    stack_keep_result();
    return 0;
}

}  // namespace zol::natives
