// Shared by the tests of the binary value format: values made from Zol source, images as byte vectors,
// and round trips through both encoders and the codec's decoder.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include <unordered_map>

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "io/zolbin/zolbin.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "tests/support.h"

namespace zol::test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(std::initializer_list<int> list) {
    Bytes out;
    for (int b : list) out.push_back(uint8_t(b));
    return out;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes text_bytes(const char* s) { return Bytes(s, s + std::strlen(s)); }

// Whether two values have the same shape: a series or context of the first tree always stands for the same
// one of the second, and the other way round.
class Shape {
public:
    bool same(const Cell* a, const Cell* b) {
        if (cell_type(a) != cell_type(b)) return fail("type", a, b);
        if (cell_new_line(a) != cell_new_line(b)) return fail("new-line", a, b);
        uint32_t t = cell_type(a);
        switch (family_case(family_case(t, FAMILY_ANY_BLOCK, TYPE_BLOCK), FAMILY_ANY_STRING, TYPE_STRING)) {
            case TYPE_UNSET:
            case TYPE_NONE: return true;
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT: return same_word(a, b);
            case TYPE_ISSUE: return word_symbol(a) == word_symbol(b) || fail("issue", a, b);
            case TYPE_BLOCK:
            case TYPE_MAP:
                if (series_index(a) != series_index(b)) return fail("head", a, b);
                return same_cells(a->w2, b->w2);
            case TYPE_STRING:
            case TYPE_BINARY:
            case TYPE_VECTOR:
            case TYPE_BITSET:
                if (t != TYPE_BITSET && series_index(a) != series_index(b)) return fail("head", a, b);
                if (t == TYPE_VECTOR && a->w3 != b->w3) return fail("element type", a, b);
                return same_bytes(a->w2, b->w2);
            case TYPE_OBJECT: return same_context(a->w1, b->w1) && (b->w3 != 0) == (a->w3 != 0);
            case TYPE_ERROR:
                // An error is written in full wherever it is met: two decoded errors for one written twice.
                if (error_id(a) != error_id(b)) return fail("error id", a, b);
                for (uint32_t f = ERROR_FIELD_ARG1; f <= ERROR_FIELD_STACK; f++) {
                    Cell x = *error_field(a, ErrorField(f)), y = *error_field(b, ErrorField(f));
                    if (!same(&x, &y)) return false;
                }
                return true;
            case TYPE_FUNCTION: return same_context(a->w1, b->w1);
            case TYPE_OP:
                if (op_source_type(a) != op_source_type(b)) return fail("op source", a, b);
                if (op_source_type(a) == TYPE_FUNCTION) return same_context(a->w1, b->w1);
                [[fallthrough]];
            case TYPE_NATIVE:
            case TYPE_ACTION: {
                if (a->w1 != b->w1) return fail("table index", a, b);
                Cell sa, sb;
                set_series(&sa, TYPE_BLOCK, a->w2);
                set_series(&sb, TYPE_BLOCK, b->w2);
                return same_cells(sa.w2, sb.w2);
            }
            case TYPE_INTEGER:
            case TYPE_CHAR: return a->w2 == b->w2 || fail("payload", a, b);
            case TYPE_LOGIC:
            case TYPE_DATATYPE: return a->w1 == b->w1 || fail("payload", a, b);
            case TYPE_FLOAT:
            case TYPE_PERCENT:
            case TYPE_TIME: return (a->w2 == b->w2 && a->w3 == b->w3) || fail("payload", a, b);
            default:
                // Other scalars: the whole cell.
                if (a->w1 != b->w1 || a->w2 != b->w2 || a->w3 != b->w3 || a->header != b->header) return fail("payload", a, b);
                return true;
        }
    }
    std::string problem;

private:
    std::unordered_map<uint32_t, uint32_t> forward_, backward_;

    bool fail(const char* what, const Cell* a, const Cell* b) {
        if (problem.empty()) {
            char words[120];
            std::snprintf(words, sizeof words, " (%08x %08x %08x %08x / %08x %08x %08x %08x)", a->header, a->w1, a->w2,
                          a->w3, b->header, b->w1, b->w2, b->w3);
            problem = std::string(what) + ": types " + type_name(cell_type(a)) + " and " + type_name(cell_type(b)) + words;
        }
        return false;
    }
    // True with *fresh when the pair is new (its contents must be compared), false when the nodes map to
    // other nodes already.
    bool pair(uint32_t a, uint32_t b, bool* fresh) {
        auto f = forward_.find(a);
        auto r = backward_.find(b);
        if (f == forward_.end() && r == backward_.end()) {
            forward_.emplace(a, b);
            backward_.emplace(b, a);
            *fresh = true;
            return true;
        }
        *fresh = false;
        return f != forward_.end() && f->second == b && r != backward_.end() && r->second == a;
    }
    bool same_cells(uint32_t a, uint32_t b) {
        bool fresh;
        if (!pair(a, b, &fresh)) return problem.empty() ? (problem = "sharing of blocks", false) : false;
        if (!fresh) return true;
        Series *sa = node_series(a), *sb = node_series(b);
        if (sa->used() != sb->used()) return problem.empty() ? (problem = "cell count", false) : false;
        for (uint32_t i = 0; i < sa->used(); i++) {
            Cell x = node_series(a)->cells()[i], y = node_series(b)->cells()[i];
            if (!same(&x, &y)) return false;
        }
        return true;
    }
    bool same_bytes(uint32_t a, uint32_t b) {
        bool fresh;
        if (!pair(a, b, &fresh)) return problem.empty() ? (problem = "sharing of byte series", false) : false;
        if (!fresh) return true;
        Series *sa = node_series(a), *sb = node_series(b);
        bool ok = sa->unit() == sb->unit() && sa->used() == sb->used() &&
                  std::memcmp(sa->head_ptr(), sb->head_ptr(), sa->tail - sa->head) == 0 &&
                  (sa->flags & SER_BITSET_NOT) == (sb->flags & SER_BITSET_NOT);
        return ok || (problem.empty() ? (problem = "bytes", false) : false);
    }
    bool same_context(uint32_t a, uint32_t b) {
        bool fresh;
        if (!pair(a, b, &fresh)) return problem.empty() ? (problem = "sharing of contexts", false) : false;
        if (!fresh) return true;
        if (context_word_count(a) != context_word_count(b)) return problem.empty() ? (problem = "word count", false) : false;
        for (uint32_t i = 0; i < context_word_count(a); i++) {
            if (word_symbol(context_word_at(a, i)) != word_symbol(context_word_at(b, i))) {
                return problem.empty() ? (problem = "context words", false) : false;
            }
        }
        if (context_is_stack(a) != context_is_stack(b)) return problem.empty() ? (problem = "stack context", false) : false;
        Cell oa = *context_owner(a), ob = *context_owner(b);
        if (cell_type(&oa) != cell_type(&ob)) return problem.empty() ? (problem = "context owner", false) : false;
        if (cell_is(&oa, TYPE_FUNCTION)) {
            Cell sa, sb;
            set_series(&sa, TYPE_BLOCK, oa.w2);
            set_series(&sb, TYPE_BLOCK, ob.w2);
            Cell ba = *function_body(&oa), bb = *function_body(&ob);
            return same_cells(sa.w2, sb.w2) && same_cells(ba.w2, bb.w2);
        }
        if (context_is_stack(a)) return true;
        for (uint32_t i = 0; i < context_word_count(a); i++) {
            Cell x = *context_values_at(a, i), y = *context_values_at(b, i);
            if (!same(&x, &y)) return false;
        }
        return true;
    }
    bool same_word(const Cell* a, const Cell* b) {
        if (word_symbol(a) != word_symbol(b)) return fail("symbol", a, b);
        uint32_t ca = word_context(a), cb = word_context(b);
        // Global words, unbound ones and words of contexts no record carries all read back global.
        Cell owner = ca ? *context_owner(ca) : g_none_value;
        bool global_a = !ca || ca == g_global_context || (!cell_is(&owner, TYPE_OBJECT) && !cell_is(&owner, TYPE_FUNCTION));
        // (A word of the first tree can also be the very word of the second: an error's own fields, which
        // the decoder makes afresh, hold the same words.)
        if (global_a) return cb == g_global_context || (ca == cb && word_index(a) == word_index(b)) || fail("global word", a, b);
        if (word_index(a) != word_index(b)) return fail("word index", a, b);
        return same_context(ca, cb);
    }
};

class ZolbinTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        block_make_at(keep_.get(), 16);
    }

    // Keeps a value alive for the rest of the test.
    Cell keep(const Cell& v) {
        *block_alloc_tail(keep_.get()) = v;
        return v;
    }
    // The value of Zol code, evaluated in the global context.
    Cell eval(const char* code) {
        GcRoot block;
        load_global(reinterpret_cast<const uint8_t*>(code), std::strlen(code), block.get());
        stack_reset();
        eval_block(block.get(), false);
        EXPECT_EQ(g_system.pending, UNWIND_NONE);
        Cell v = keep(*stack_top());
        stack_reset();
        return v;
    }
    static std::string mold(const Cell& v) { return mold_text(&v, true); }

    Bytes encode(const Cell& v, bool compact) {
        GcRoot value(v), out;
        if (compact) {
            zolbin_encode_compact(value.get(), out.get());
        } else {
            zolbin_encode(value.get(), out.get());
        }
        uint32_t length;
        const uint8_t* b = binary_head(out.get(), &length);
        return Bytes(b, b + length);
    }
    // The codec's decode of the bytes: the one root value, or a block of them.
    Cell decode(const Bytes& image) {
        GcRoot payload, out;
        binary_load_at(payload.get(), image.data(), image.size());
        zolbin_decode_value(payload.get(), out.get());
        return keep(*out);
    }
    // The error a decode raises (ERR_COUNT for none); its first argument in *arg.
    ErrorId decode_error(const Bytes& image, Cell* arg = nullptr) {
        Cell error;
        stack_reset();
        ErrorId id = catch_error([&] { decode(image); }, &error);
        if (arg && id != ERR_COUNT) *arg = *error_field(&error, ERROR_FIELD_ARG1);
        stack_reset();
        return id;
    }
    ErrorId encode_error(const Cell& v, bool compact, Cell* arg = nullptr) {
        Cell error;
        stack_reset();
        ErrorId id = catch_error([&] { encode(v, compact); }, &error);
        if (arg && id != ERR_COUNT) *arg = *error_field(&error, ERROR_FIELD_ARG1);
        stack_reset();
        return id;
    }

    GcRoot keep_;
};

}  // namespace zol::test
