// url! values: loading from text, percent-encoding, the actions.
#include "url.h"

#include <climits>
#include <string>

#include "context.h"
#include "port.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/values/mold.h"

namespace zol {

namespace {

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of a %XX escape at p, or -1.
int escape_at(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3 || p[0] != '%') return -1;
    int hi = hex_value(p[1]), lo = hex_value(p[2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Walks the text and hands each decoded code point to emit; false for text that is not valid UTF-8.
template <typename Emit>
bool dehex(const uint8_t* p, const uint8_t* end, Emit emit) {
    while (p < end) {
        int byte = escape_at(p, end);
        if (byte >= 0x80) {
            // A lead byte: the sequence's other bytes must be escapes too.
            uint8_t seq[4] = {uint8_t(byte)};
            int n = utf8_lead_length(uint8_t(byte));
            const uint8_t* q = p + 3;
            int k = 1;
            for (; k < n; k++, q += 3) {
                int next = escape_at(q, end);
                if (next < 0) break;
                seq[k] = uint8_t(next);
            }
            int32_t cp = -1;
            if (n >= 2 && k == n && utf8_decode_char(seq, seq + n, &cp) == seq + n && cp >= 0) {
                emit(uint32_t(cp));
                p = q;
            } else {
                emit('%');  // no complete sequence: the escape stays as it was written
                p++;
            }
        } else if (byte >= 0) {
            emit(uint32_t(byte));
            p += 3;
        } else if (*p < 0x80) {
            emit(*p++);
        } else {
            int32_t cp;
            const uint8_t* next = utf8_decode_char(p, end, &cp);
            if (cp < 0) return false;
            emit(uint32_t(cp));
            p = next;
        }
    }
    return true;
}

bool plain_in_url(uint8_t c, bool strict) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (c == '-' || c == '.' || c == '_' || c == '~') return true;
    if (strict) return false;
    for (const char* p = "!#$&'()*+,/:=?@"; *p; p++) {
        if (c == uint8_t(*p)) return true;
    }
    return false;
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

HttpRequestFn g_http_request = nullptr;

void url_enhex_string(const Cell* value, Cell* out, bool strict) {
    std::string text = string_to_utf8(value);
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x80 && plain_in_url(c, strict)) {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    string_append_ascii(out, encoded.data(), encoded.size());
}

bool url_load_at(Cell* cell, const uint8_t* text, size_t length, TypeId type) {
    const uint8_t* end = text + length;
    uint32_t count = 0, widest = 0;
    if (!dehex(text, end, [&](uint32_t cp) {
            count++;
            if (cp > widest) widest = cp;
        })) {
        return false;
    }
    uint32_t unit = widest < 0x80 ? 1 : widest <= 0xFFFF ? 2 : 4;
    uint32_t node = series_alloc_units(count ? count : 1, unit);
    Series* s = node_series(node);
    uint8_t* at = s->data();
    dehex(text, end, [&](uint32_t cp) {
        string_put_unit(at, unit, cp);
        at += unit;
    });
    s->tail = s->head + count * unit;
    set_series(cell, type, node);
    return true;
}

// --- make and to

namespace {

bool is_list(const Cell* v) { return cell_is(v, TYPE_BLOCK) || cell_is(v, TYPE_PAREN) || cell_is(v, TYPE_HASH); }

void append_formed(Cell* out, const Cell* value) {
    GcRoot keep(*value);
    form_value(keep.get(), out, MoldArgs{}, INT_MAX);
}

// scheme "://" host [":" port] then "/" and the other parts, an issue! after "#" instead of "/".
void url_from_parts(const Cell* parts, Cell* out) {
    uint32_t head = series_clamped_head(parts);
    uint32_t n = cell_series(parts)->used() - head;
    if (n == 0) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_URL, parts);
    // Each part is read through the node again: forming allocates.
    auto part = [&](uint32_t i) { return cell_series(parts)->cells()[head + i]; };
    string_make(out, 16);
    Cell p = part(0);
    append_formed(out, &p);
    string_append_ascii(out, "://");
    uint32_t i = 1;
    if (n > 1) {
        p = part(1);
        append_formed(out, &p);
        i = 2;
        if (n > 2 && cell_is((p = part(2), &p), TYPE_INTEGER)) {
            string_append_ascii(out, ":");
            append_formed(out, &p);
            i = 3;
        }
    }
    for (uint32_t first = i; i < n; i++) {
        p = part(i);
        string_append_ascii(out, i == first ? "/" : cell_is(&p, TYPE_ISSUE) ? "#" : "/");
        append_formed(out, &p);
    }
    cell_set_type(out, TYPE_URL);
}

}  // namespace

const Cell* url_to(Cell* proto, Cell* spec, TypeId type) {
    if (type != TYPE_URL || !is_list(spec)) return string_to(proto, spec, type);
    GcRoot parts(*spec), out;
    url_from_parts(parts.get(), out.get());
    *proto = *out;
    return proto;
}

const Cell* url_make(Cell* proto, Cell* spec, TypeId type) {
    if (type == TYPE_URL && is_list(spec)) return url_to(proto, spec, type);
    return string_make_value(proto, spec, type);
}

// --- mold

namespace {

// The UTF-8 bytes from the head, each plain one as it is and any other as %XX; /part stops after that many
// characters written.
int url_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    std::string text = string_to_utf8(value);
    std::string encoded;
    encoded.reserve(text.size());
    int64_t written = 0;
    for (unsigned char c : text) {
        if (args.part && written >= budget) break;
        if (c < 0x80 && plain_in_url(c, false)) {
            encoded += char(c);
            written += 1;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
            written += 3;
        }
    }
    string_append_ascii(out, encoded.data(), encoded.size());
    return int(int64_t(budget) - written < INT_MIN ? INT_MIN : int64_t(budget) - written);
}

}  // namespace

// --- eval-path: a new value of the URL's own type, its text joined to the element's with one "/" between.
// The URL read is left as it is.

const Cell* url_eval_path(Cell* url, const PathStep& step) {
    if (step.set_value) fire(ERR_SCRIPT_BAD_PATH_SET, step.element, step.set_value);
    GcRoot element(*step.element), text;
    if (cell_is(element.get(), TYPE_GET_WORD)) *element = *word_value_cell(element.get());
    string_make(text.get(), 16);
    form_value(element.get(), text.get(), MoldArgs{}, INT_MAX);
    Cell* result = stack_push_cell();
    uint32_t length = string_length(url);
    set_series(result, TYPE_STRING, series_copy_range(series_node(url), series_clamped_head(url), length));
    bool ends = length > 0 && string_char_at(result, length - 1) == '/';
    bool begins = string_length(text.get()) > 0 && string_char_at(text.get(), 0) == '/';
    if (ends && begins) {
        text->w1 = 1;
    } else if (!ends && !begins) {
        string_append_ascii(result, "/");
    }
    string_concatenate(result, text.get(), -1, 0, true, JoinMode::append);
    cell_set_type(result, cell_type(url));
    return result;
}

// --- I/O: http and https through the HTTP client, other schemes through a port

namespace {

bool is_http(const Cell* url) {
    if (string_length(url) < 4) return false;
    uint32_t head = series_clamped_head(url);
    for (uint32_t i = 0; i < 4; i++) {
        uint32_t c = string_char_at(url, head + i);
        if ((c | 0x20) != uint32_t("http"[i])) return false;
    }
    return true;
}

const Cell* http(const HttpRequest& request) {
    Cell* out = stack_push_cell();
    if (!g_http_request || !g_http_request(request, out)) fire(ERR_ACCESS_NO_CONNECT, request.url);
    return out;
}

// A port for the URL, from the spec that the library's parse-url makes of a copy of it, in out (reachable).
void url_to_port(Cell* url, Cell* out) {
    Cell name = word_load("parse-url");
    const Cell* parser = context_global_value_cell(word_symbol(&name));
    if (!parser || !cell_is(parser, TYPE_FUNCTION)) fire(ERR_SCRIPT_INVALID_ARG, url);
    GcRoot fn(*parser), copy, spec;
    set_series(copy.get(), cell_type(url), series_copy_range(series_node(url), series_clamped_head(url), string_length(url)));
    port_call_function(fn.get(), &name, copy.get(), 1, spec.get());
    if (!cell_is(spec.get(), TYPE_OBJECT)) fire(ERR_SCRIPT_INVALID_ARG, url);
    *out = *port_make(nullptr, spec.get(), TYPE_PORT);
}

const Cell* url_open(Cell* url, const OpenArgs& args) {
    Cell* port = stack_push_cell();
    url_to_port(url, port);
    port_open(port, args);
    return port;
}

const Cell* url_read(Cell* url, const IoArgs& args) {
    if (is_http(url)) {
        if (args.part || args.seek || args.as) fire(ERR_INTERNAL_NOT_DONE);
        Cell method = word_load("get");
        return http({&method, url, &g_none_value, &g_none_value, args.binary, args.lines, args.info});
    }
    Cell* port = stack_push_cell();
    url_to_port(url, port);
    return port_read(port, args);
}

// An HTTP write: a block gives the method, the headers and the body; any other value is the body of a POST.
const Cell* url_write(Cell* url, Cell* data, const IoArgs& args) {
    if (!is_http(url)) {
        Cell* port = stack_push_cell();
        url_to_port(url, port);
        return port_write(port, data, args);
    }
    if (args.seek || args.allow || args.as) fire(ERR_INTERNAL_NOT_DONE);
    Cell method = word_load("post");
    const Cell* headers = &g_none_value;
    const Cell* body = data;
    if (cell_is(data, TYPE_BLOCK)) {
        uint32_t head = series_clamped_head(data);
        uint32_t n = cell_series(data)->used() - head;
        const Cell* items = cell_series(data)->cells() + head;
        method = word_load("get");
        body = &g_none_value;
        if (n > 0) {
            if (!cell_is(&items[0], TYPE_WORD)) fire(ERR_SCRIPT_INVALID_ARG, &items[0]);
            method = items[0];
            if (n > 1) {
                if (!cell_is(&items[1], TYPE_BLOCK)) fire(ERR_SCRIPT_INVALID_ARG, &items[1]);
                headers = &items[1];
            }
            if (n > 2) body = &items[2];
        }
    }
    uint32_t t = cell_type(body);
    if (t != TYPE_NONE && t != TYPE_BLOCK && t != TYPE_STRING && t != TYPE_BINARY) fire(ERR_SCRIPT_INVALID_ARG, body);
    return http({&method, url, headers, body, args.binary, args.lines, args.info});
}

}  // namespace

void url_init(DatatypeRegistry& registry) {
    Registration r(TYPE_URL);
    r.own<ACT_MAKE>(url_make).own<ACT_TO>(url_to).own<ACT_MOLD>(url_mold).own<ACT_EVAL_PATH>(url_eval_path);
    r.own<ACT_OPEN>(url_open).own<ACT_READ>(url_read).own<ACT_WRITE>(url_write);
    for (Action a : {ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND,
                     ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                     ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
