// Shared by the string! tests: rooted test values (strings of a chosen unit size, blocks, binaries, bitsets)
// and the error a call raised, if any.
#pragma once
#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/unicode.h"
#include "tests/outcome.h"

namespace zol::test {

class StringTest : public RuntimeTest {
protected:
    // The held values live in one rooted block made big enough never to grow, so their cells never move.
    static constexpr uint32_t kCapacity = 4096;

    void SetUp() override {
        RuntimeTest::SetUp();
        set_series(store_.get(), TYPE_BLOCK, series_alloc_cells(kCapacity));
    }
    // Keeps a value rooted for the rest of the test; the cell stays where it is.
    Cell* hold(const Cell& c) {
        Cell copy = c;
        if (cell_series(store_.get())->used() + 1 >= kCapacity) {
            ADD_FAILURE() << "too many held values";
            cell_series(store_.get())->tail = cell_series(store_.get())->head;
        }
        Cell* slot = block_alloc_tail(store_.get());
        *slot = copy;
        return slot;
    }
    // A string of the UTF-8 text in the narrowest units the loader gives (Latin-1 stays in 1-byte units),
    // widened to at least `unit`.
    Cell* text(const std::string& utf8, uint32_t index = 0, TypeId type = TYPE_STRING, uint32_t unit = 1) {
        Cell c;
        set_series(&c, type, unicode_load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size())));
        c.w1 = index;
        Cell* held = hold(c);
        string_widen_to(series_node(held), unit);
        return held;
    }
    Cell* wide(const std::string& utf8, uint32_t unit) { return text(utf8, 0, TYPE_STRING, unit); }
    Cell* bytes(const std::vector<uint8_t>& b, uint32_t index = 0) {
        Cell c;
        set_series(&c, TYPE_BINARY, series_alloc_bytes(b.size()));
        Cell* held = hold(c);
        Series* s = cell_series(held);
        if (!b.empty()) std::memcpy(s->head_ptr(), b.data(), b.size());
        s->tail = s->head + uint32_t(b.size());
        held->w1 = index;
        return held;
    }
    // A bitset! of the listed code points (all below 256) or, complemented, of every code point but them: its
    // stored bits are inverted and its complement flag answers for the code points beyond them.
    Cell* bitset(const std::vector<uint32_t>& listed, bool complement = false) {
        Cell* b = bytes(std::vector<uint8_t>(32, complement ? 0xFF : 0));
        cell_set_type(b, TYPE_BITSET);
        Series* s = cell_series(b);
        for (uint32_t m : listed) s->head_ptr()[m >> 3] ^= uint8_t(0x80 >> (m & 7));
        if (complement) s->flags |= 0x80000;
        return b;
    }
    Cell* block(std::initializer_list<Cell> items) {
        Cell c;
        set_series(&c, TYPE_BLOCK, series_alloc_cells(items.size() + 1));
        Cell* held = hold(c);
        for (const Cell& item : items) *block_alloc_tail(held) = item;
        return held;
    }
    static Cell word(const char* name) { return word_load(name); }
    static uint32_t unit(const Cell* s) { return cell_series(s)->unit(); }
    // The whole buffer's text, ignoring the head.
    static std::string all_text(const Cell* s) {
        Cell head = *s;
        head.w1 = 0;
        return string_to_utf8(&head);
    }

    ErrorId error_of(const std::function<void()>& body) { return attempt(body).error; }

private:
    GcRoot store_;
};

}  // namespace zol::test
