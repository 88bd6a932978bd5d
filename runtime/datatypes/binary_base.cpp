// The base-2, base-16, base-58 and base-64 encoders and decoders. Decoders never read past the count they
// are given, and a decoder's output buffer is allocated before it reads, so nothing moves while it writes.
#include "binary_base.h"

#include <cstring>
#include <vector>

#include "binary.h"
#include "series.h"
#include "string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zol {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
const char kHex[] = "0123456789ABCDEF";

constexpr uint8_t BLANK = 64;
constexpr uint8_t INVALID = 128;

// Digit values of the characters below 128, BLANK for the characters to skip, INVALID for the others.
struct DigitTable {
    uint8_t value[128];
    constexpr explicit DigitTable(const char* alphabet) : value{} {
        for (uint8_t& v : value) v = INVALID;
        for (int i = 0; alphabet[i]; i++) value[uint8_t(alphabet[i])] = uint8_t(i);
        for (int c : {8, 9, 10, 12, 13, 32, 39}) value[c] = BLANK;
    }
};
constexpr DigitTable kBase64Digits(kBase64);
constexpr DigitTable kBase58Digits(kBase58);

int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Reads the code points of the text in order, passing over the comments (";" to the next line feed).
class Reader {
public:
    Reader(const uint8_t* units, uint32_t count, uint32_t unit) : p_(units), count_(count), unit_(unit) {}
    // False at the end of the text.
    bool next(uint32_t* cp) {
        while (i_ < count_) {
            uint32_t c = string_get_char(p_ + uint64_t(i_++) * unit_, unit_);
            if (c != ';') {
                *cp = c;
                return true;
            }
            while (i_ < count_ && string_get_char(p_ + uint64_t(i_) * unit_, unit_) != '\n') i_++;
        }
        return false;
    }

private:
    const uint8_t* p_;
    uint32_t count_, unit_, i_ = 0;
};

// An empty binary! in a scratch cell with room for capacity bytes; the decoders fill it and hand it over
// only when the whole text was valid.
uint8_t* make_output(Cell* scratch, uint64_t capacity) {
    if (capacity > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    return binary_make_at(scratch, uint32_t(capacity));
}

bool finish(Cell* scratch, uint64_t length, Cell* out) {
    binary_set_length(scratch, uint32_t(length));
    *out = *scratch;
    return true;
}

}  // namespace

bool binary_base_supported(int base) { return base == 2 || base == 16 || base == 58 || base == 64; }

uint64_t binary_base_encoded_size(int base, size_t length) {
    switch (base) {
        case 2: return uint64_t(length) * 8;
        case 16: return uint64_t(length) * 2;
        case 58: return uint64_t(length) * 2;  // a byte takes log(256)/log(58) < 1.37 digits; a zero byte one
        default: return (uint64_t(length) + 2) / 3 * 4;
    }
}

uint8_t* binary_encode_base2(uint8_t* out, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; i++) {
        for (int bit = 7; bit >= 0; bit--) *out++ = uint8_t('0' + ((bytes[i] >> bit) & 1));
    }
    return out;
}

uint8_t* binary_encode_base16(uint8_t* out, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; i++) {
        *out++ = uint8_t(kHex[bytes[i] >> 4]);
        *out++ = uint8_t(kHex[bytes[i] & 15]);
    }
    return out;
}

uint8_t* binary_encode_base64(uint8_t* out, const uint8_t* bytes, size_t length) {
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int k = 18; k >= 0; k -= 6) *out++ = uint8_t(kBase64[(v >> k) & 63]);
    }
    size_t rest = length - i;
    if (rest > 0) {
        uint32_t v = uint32_t(bytes[i]) << 16 | (rest == 2 ? uint32_t(bytes[i + 1]) << 8 : 0);
        *out++ = uint8_t(kBase64[(v >> 18) & 63]);
        *out++ = uint8_t(kBase64[(v >> 12) & 63]);
        *out++ = rest == 2 ? uint8_t(kBase64[(v >> 6) & 63]) : uint8_t('=');
        *out++ = '=';
    }
    return out;
}

// The bytes as one big-endian number, divided by 58 again and again: each remainder is the next digit from
// the right. Quadratic in the length, as base 58 is meant for short keys and hashes.
uint8_t* binary_encode_base58(uint8_t* out, const uint8_t* bytes, size_t length) {
    size_t zeros = 0;
    while (zeros < length && bytes[zeros] == 0) zeros++;
    std::vector<uint8_t> number(bytes + zeros, bytes + length);
    std::vector<uint8_t> digits;
    size_t start = 0;  // the number's leading zero bytes, dropped as the division empties them
    while (start < number.size()) {
        uint32_t remainder = 0;
        for (size_t i = start; i < number.size(); i++) {
            uint32_t v = remainder << 8 | number[i];
            number[i] = uint8_t(v / 58);
            remainder = v % 58;
        }
        digits.push_back(uint8_t(kBase58[remainder]));
        while (start < number.size() && number[start] == 0) start++;
    }
    for (size_t i = 0; i < zeros; i++) *out++ = '1';
    for (size_t i = digits.size(); i > 0; i--) *out++ = digits[i - 1];
    return out;
}

uint8_t* binary_encode_base(int base, uint8_t* out, const uint8_t* bytes, size_t length) {
    switch (base) {
        case 2: return binary_encode_base2(out, bytes, length);
        case 16: return binary_encode_base16(out, bytes, length);
        case 58: return binary_encode_base58(out, bytes, length);
        default: return binary_encode_base64(out, bytes, length);
    }
}

bool binary_decode_base2(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out) {
    GcRoot scratch;
    uint8_t* bytes = make_output(scratch.get(), count / 8);
    Reader in(units, count, unit);
    uint64_t n = 0;
    uint32_t bits = 0, acc = 0, c;
    while (in.next(&c)) {
        if (c <= 32) continue;
        if (c != '0' && c != '1') return false;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            bytes[n++] = uint8_t(acc);
            bits = acc = 0;
        }
    }
    if (bits != 0) return false;
    return finish(scratch.get(), n, out);
}

// Characters above 127 are not hexadecimal digits: reading only their low 7 bits would take "Á" for "A".
bool binary_decode_base16(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out) {
    GcRoot scratch;
    uint8_t* bytes = make_output(scratch.get(), count / 2);
    Reader in(units, count, unit);
    uint64_t n = 0;
    int high = -1;
    uint32_t c;
    while (in.next(&c)) {
        if (c <= 32) continue;
        int d = hex_digit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            bytes[n++] = uint8_t(high << 4 | d);
            high = -1;
        }
    }
    return finish(scratch.get(), n, out);  // a final odd digit is dropped
}

bool binary_decode_base64(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out) {
    GcRoot scratch;
    uint8_t* bytes = make_output(scratch.get(), (uint64_t(count) * 3 + 9) / 4);
    Reader in(units, count, unit);
    uint64_t n = 0;
    uint32_t group = 0, chars = 0, c;
    while (in.next(&c)) {
        if (c > 127) return false;
        if (c == '=') {
            if (chars == 3) {
                bytes[n++] = uint8_t(group >> 10);
                bytes[n++] = uint8_t(group >> 2);
            } else if (chars == 2) {
                bytes[n++] = uint8_t(group >> 4);
            } else {
                return false;
            }
            chars = 0;
            break;  // what follows the padding is not read
        }
        uint8_t d = kBase64Digits.value[c];
        if (d == BLANK) continue;
        if (d == INVALID) return false;
        group = group << 6 | d;
        if (++chars == 4) {
            bytes[n++] = uint8_t(group >> 16);
            bytes[n++] = uint8_t(group >> 8);
            bytes[n++] = uint8_t(group);
            group = chars = 0;
        }
    }
    return finish(scratch.get(), n, out);  // an incomplete last group without padding is dropped
}

// The digits multiplied out as one big-endian number (times 58 plus the digit for each); each leading "1"
// is a leading zero byte. Characters above 127 make the text invalid, as in the other bases.
bool binary_decode_base58(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out) {
    Reader in(units, count, unit);
    std::vector<uint8_t> number;  // big-endian, without leading zeros
    uint64_t zeros = 0;
    bool leading = true;
    uint32_t c;
    while (in.next(&c)) {
        if (c > 127) return false;
        uint8_t d = kBase58Digits.value[c];
        if (d == BLANK) continue;
        if (d == INVALID) return false;
        if (leading && d == 0) {
            zeros++;
            continue;
        }
        leading = false;
        uint32_t carry = d;
        for (size_t i = number.size(); i > 0; i--) {
            carry += uint32_t(number[i - 1]) * 58;
            number[i - 1] = uint8_t(carry);
            carry >>= 8;
        }
        while (carry) {
            number.insert(number.begin(), uint8_t(carry));
            carry >>= 8;
        }
    }
    GcRoot scratch;
    uint8_t* bytes = make_output(scratch.get(), zeros + number.size());
    std::memset(bytes, 0, zeros);
    if (!number.empty()) std::memcpy(bytes + zeros, number.data(), number.size());
    return finish(scratch.get(), zeros + number.size(), out);
}

bool binary_decode_base(int base, const uint8_t* units, uint32_t count, uint32_t unit, Cell* out) {
    switch (base) {
        case 2: return binary_decode_base2(units, count, unit, out);
        case 16: return binary_decode_base16(units, count, unit, out);
        case 58: return binary_decode_base58(units, count, unit, out);
        default: return binary_decode_base64(units, count, unit, out);
    }
}

void binary_enbase_string(Cell* out, int base, const Cell* binary) {
    uint32_t length;
    binary_head(binary, &length);
    uint64_t size = binary_base_encoded_size(base, length);
    if (size > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    GcRoot text;
    string_make(text.get(), uint32_t(size));
    // Read after the allocation: the binary's buffer does not move, and the caller keeps it alive.
    const uint8_t* bytes = binary_head(binary, &length);
    Series* s = cell_series(text.get());
    uint8_t* end = binary_encode_base(base, s->head_ptr(), bytes, length);
    s->tail = s->head + uint32_t(end - s->head_ptr());
    *out = *text;
}

bool binary_debase_string(Cell* out, int base, const Cell* text) {
    Series* s = cell_series(text);
    uint32_t head = series_clamped_head(text);
    return binary_decode_base(base, s->head_ptr() + uint64_t(head) * s->unit(), s->used() - head, s->unit(), out);
}

}  // namespace zol
