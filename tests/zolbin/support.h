// Shared by the tests of the binary value format: values made from Zol source, images as byte vectors,
// and round trips through both encoders and the codec's decoder.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "io/zolbin/zolbin.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
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
