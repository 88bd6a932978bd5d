// Shared by the lexer tests: loading text through load_source, and a compact text of a loaded value that
// shows its cell fields. Datatypes that can mold themselves are molded; for the others (blocks, strings,
// dates ...) the text below is the tests' own notation, close to the source syntax but not a mold.
#pragma once
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "interpreter/lexer/lexer.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/dtoa.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "tests/support.h"

namespace zol::test {

inline std::string number_text(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    return dtoa_form_float(d, 0, false);
}

// Text of a string-family buffer from the cell's head, with '"', '^' and control characters escaped.
inline std::string text_of(const Cell* str) {
    std::string raw = string_to_utf8(str);
    std::string out;
    for (unsigned char c : raw) {
        if (c == '"' || c == '^') {
            out += '^';
            out += char(c);
        } else if (c < 32 || c == 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "^(%02X)", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

inline std::string show(const Cell* v);

inline std::string show_items(const Cell* list, const char* separator) {
    std::string out;
    Series* s = cell_series(list);
    for (uint32_t i = series_index(list); i < s->used(); i++) {
        if (i > series_index(list)) out += separator;
        out += show(cell_series(list)->cells() + i);
    }
    return out;
}

inline std::string show(const Cell* v) {
    switch (cell_type(v)) {
        case TYPE_BLOCK: return "[" + show_items(v, " ") + "]";
        case TYPE_PAREN: return "(" + show_items(v, " ") + ")";
        case TYPE_PATH: return show_items(v, "/");
        case TYPE_LIT_PATH: return "'" + show_items(v, "/");
        case TYPE_GET_PATH: return ":" + show_items(v, "/");
        case TYPE_SET_PATH: return show_items(v, "/") + ":";
        case TYPE_MAP: {
            Cell pairs;
            set_series(&pairs, TYPE_BLOCK, v->w2);
            return "#[" + show_items(&pairs, " ") + "] count " + std::to_string(hashtable_count(v->w3));
        }
        case TYPE_STRING: return "\"" + text_of(v) + "\"" + (cell_series(v)->unit() > 1 ? "/u" + std::to_string(cell_series(v)->unit()) : "");
        case TYPE_FILE: return "%\"" + text_of(v) + "\"";
        case TYPE_URL: return "url " + text_of(v);
        case TYPE_EMAIL: return "email " + text_of(v);
        case TYPE_TAG: return "<" + text_of(v) + ">";
        case TYPE_REF: return "@" + text_of(v);
        case TYPE_ISSUE: return std::string("#") + symbol_c_string(word_symbol(v));
        case TYPE_BINARY: {
            uint32_t n;
            const uint8_t* b = binary_head(v, &n);
            std::string out = "#{";
            char buf[4];
            for (uint32_t i = 0; i < n; i++) {
                std::snprintf(buf, sizeof buf, "%02X", b[i]);
                out += buf;
            }
            return out + "}";
        }
        case TYPE_PERCENT: return number_text(cell_float(v) * 100) + "%";
        case TYPE_FLOAT: return "float " + number_text(cell_float(v));
        case TYPE_TIME: return "time " + number_text(cell_float(v));
        case TYPE_PAIR: return std::to_string(pair_x(v)) + "x" + std::to_string(pair_y(v));
        case TYPE_TUPLE: {
            std::string out;
            for (uint32_t i = 0; i < tuple_length(v); i++) out += (i ? "." : "") + std::to_string(tuple_byte(v, i));
            return out;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            std::string out = "(";
            for (uint32_t i = 0; i < (cell_is(v, TYPE_POINT3D) ? 3u : 2u); i++) {
                out += (i ? ", " : "") + number_text(point_coordinate(v, i));
            }
            return out + ")";
        }
        case TYPE_DATE: {
            std::string out = "date " + std::to_string(date_year(v)) + "-" + std::to_string(date_month(v)) + "-" +
                              std::to_string(date_day(v));
            if (date_has_time(v)) {
                out += " utc " + number_text(date_time(v));
                if (date_zone(v)) out += " zone " + std::to_string(date_zone_minutes(date_zone(v)));
            }
            return out;
        }
        case TYPE_MONEY: {
            std::string out = money_negative_flag(v) ? "-" : "";
            if (const char* code = currency_code(money_currency(v))) out += code;
            out += "$";
            int n = 1;
            while (n < MONEY_INTEGER_DIGITS && money_digit(v, n) == 0) n++;
            for (; n <= MONEY_DIGITS; n++) {
                if (n == MONEY_INTEGER_DIGITS + 1) out += ".";
                out += char('0' + money_digit(v, n));
            }
            return out;
        }
        case TYPE_UNSET: return "unset";
        default:
            if (g_types.action(cell_type(v), ACT_MOLD)) return mold_text(v);
            return std::string("?") + type_name(cell_type(v));
    }
}

// The outcome of loading a text: the values shown, or the error raised.
struct Lexed {
    ErrorId error = ERR_COUNT;
    std::string text;  // the shown value, or "<id> <arg2> near <near> <line>" for an error
    uint32_t consumed = 0;
    int32_t type = 0;
};

// "<id> [<datatype or missing character>] near <near text> <(line N)>".
inline std::string error_text(const Cell* error) {
    std::string out = error_info(error_id(error)).word;
    const Cell* near = error_field(error, ERROR_FIELD_ARG1);
    const Cell* second = error_field(error, ERROR_FIELD_ARG2);
    const Cell* third = error_field(error, ERROR_FIELD_ARG3);
    if (!cell_is(third, TYPE_NONE)) out += " " + show(second);
    if (cell_is(near, TYPE_STRING)) out += " near \"" + text_of(near) + "\"";
    const Cell* line = cell_is(third, TYPE_NONE) ? second : third;
    if (cell_is(line, TYPE_STRING)) out += " \"" + text_of(line) + "\"";
    return out;
}

// A new string! holding UTF-8 text, kept in the root.
inline void make_source(GcRoot& root, const std::string& text) {
    string_make(root.get(), uint32_t(text.size()) + 1);
    string_append_utf8(root.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The lexer's options, and how many characters of the source to read (-1 for all).
struct LexRequest {
    bool one = false, prescan = false, scan = false, wrap = false;
    int32_t length = -1;
    const Cell* callback = nullptr;
    const Cell* output = nullptr;

    LexOptions options(uint32_t* consumed) const {
        return LexOptions{.one = one, .prescan = prescan, .scan = scan, .wrap = wrap, .consumed = consumed,
                          .callback = callback, .output = output};
    }
};

// Runs one lexer call, body(dst, &out), and shows what it gave or the error it raised.
template <typename Body>
Lexed lex_with(Body body) {
    Lexed out;
    GcRoot dst;
    Cell error;
    out.error = catch_error([&] { body(dst.get(), out); }, &error);
    out.text = out.error == ERR_COUNT ? show(dst.get()) : error_text(&error);
    stack_reset();
    return out;
}

inline Lexed lex(const std::string& text, const LexRequest& o = {}) {
    GcRoot source;
    make_source(source, text);
    return lex_with([&](Cell* dst, Lexed& out) {
        out.type = load_source(dst, source.get(), o.length, o.options(&out.consumed));
    });
}

// The same over raw bytes, which a string could not hold (invalid UTF-8): lexer_scan reads them in place.
inline Lexed lex_bytes(const std::string& bytes, const LexRequest& o = {}) {
    return lex_with([&](Cell* dst, Lexed& out) {
        out.type = lexer_scan(dst, reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                              o.options(&out.consumed));
    });
}

// The block a text loads as, shown, or the error it raises.
inline std::string load(const std::string& text) { return lex(text).text; }
inline std::string load_bytes(const std::string& bytes) { return lex_bytes(bytes).text; }

// A source text and what it loads as (shown), or the error it raises.
struct LoadCase {
    const char* text;
    const char* expected;
};

// The fixture of the tests that are tables of load cases.
class LexerTest : public RuntimeTest {
protected:
    void check(std::initializer_list<LoadCase> cases) {
        for (const LoadCase& c : cases) EXPECT_EQ(load(c.text), c.expected) << "source: " << c.text;
    }
};

}  // namespace zol::test
