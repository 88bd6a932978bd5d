// url! values: loading from text.
#include "url.h"

#include <string>

#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "string.h"

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

}  // namespace

void url_enhex_string(const Cell* value, Cell* out, bool strict) {
    static const char kHex[] = "0123456789ABCDEF";
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

}  // namespace zol
