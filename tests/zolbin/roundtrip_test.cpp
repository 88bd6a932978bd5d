// Round trips through both encoders and the decoder: every datatype that has a record, in generated trees
// where series are shared, blocks contain themselves, words are bound to objects and functions, and the
// decoded tree must have the same shape: the same values, and the same sharing (one decoded series for each
// series written, wherever it was met).
#include <functional>
#include <random>

#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "tests/zolbin/support.h"

namespace zol::test {
namespace {

class RoundTrip : public ZolbinTest {
protected:
    Cell leaf(const char* code) {
        std::string text = code[0] == '[' ? code : std::string("reduce [") + code + "]";
        Cell b = eval(text.c_str());
        EXPECT_TRUE(cell_is(&b, TYPE_BLOCK)) << code;
        return cell_series(&b)->cells()[0];
    }
    // Encodes in both encodings, decodes each, and checks the shape.
    void check(const Cell& v, const std::string& what) {
        for (bool compact : {true, false}) {
            Cell back = decode(encode(v, compact));
            Shape shape;
            EXPECT_TRUE(shape.same(&v, &back)) << what << (compact ? " (compact): " : " (standard): ") << shape.problem;
        }
    }
};

// Leaves of every datatype that has a record, as Zol code: the value of the code, or for code in brackets
// the value the brackets hold.
const char* const kLeaves[] = {
    "none", "true", "false", "integer!", "0", "63", "64", "-1", "2147483647", "-2147483648", "#\"a\"", "#\"^(10FFFF)\"",
    "1.5", "-0.0", "1e300", "2.0", "50%", "0.5%", "-3%", "1:30", "1:30:00.5", "-0:00:01", "3x4", "-2147483648x7",
    "(1.5, -2.25)", "(1, 2, 3)", "1.2.3", "1.2.3.4.5.6.7.8.9.10.11.12", "$12.34", "-EUR$1.5", "$0", "1-Jan-2020",
    "29-Feb-2024/10:00:00+2:00", "31-Dec-9999/23:59:59", "number!", "any-type!", "[#abc]", "['lit]", "[:get]", "[/ref]",
    "[word]", "[set-word:]", "\"text\"", "\"t\u00E9xt\"", "\"\u20AC\"", "\"\U0001F600\"", "%file.txt", "http://example.com/x",
    "<tag a=1>", "a@b.c", "@ref", "#{}", "#{00FF10}", "make bitset! [1 2 3 200]",
    "complement make bitset! [#\"a\" - #\"z\"]", ":if", ":append", ":+", ":and", "func [a /b c][a + c]",
    "has [x][x: 1]", "make object! [a: 1 b: \"two\" c: [a b]]", "try [1 / 0]", "make error! \"boom\"",
    "to path! [a b c]", "to lit-path! [a b]", "to set-path! [a b]", "to get-path! [a b]", "to paren! [1 2]",
    "skip [1 2 3] 2", "skip \"abc\" 1", "next #{0102}",
};

TEST_F(RoundTrip, EveryLeafDatatypeComesBackAsItWas) {
    for (const char* code : kLeaves) check(leaf(code), code);
}

TEST_F(RoundTrip, ObjectsAndFunctionsKeepTheirWordsBound) {
    const char* cases[] = {
        "o: make object! [x: 1 y: [x x]] reduce [o o/y]",
        "o: make object! [x: 1 y: [x x]] reduce [o/y o]",  // the words come before their object
        "f: func [a b][a + b] reduce [:f reflect :f 'body]",
        "f: func [a b][reduce [a b]] reduce [reflect :f 'body :f]",
        "o: make object! [n: 0 f: func [x][n: n + x]] reduce [o]",
        "o: make object! [self-ref: none] o/self-ref: o reduce [o]",
        "make op! func [a b][a * b]",
        "g: func [a b][a] reduce [make op! :g :g]",
        "e: try [1 / 0] reduce [e e]",
        "m: #[k: [1 2] n: \"v\"] reduce [m m]",
    };
    for (const char* code : cases) check(eval(code), code);
}

TEST_F(RoundTrip, ABlockThatContainsItselfComesBackContainingItself) {
    Cell b = eval("b: [1 2] append/only b b b");
    Bytes image = encode(b, true);
    // The inner occurrence is 0xC1, the block's lead byte and the path (0).
    Bytes tail(image.end() - 4, image.end());
    EXPECT_EQ(tail, bytes_of({0xC1, 0x05, 0x01, 0x00}));
    check(b, "self");
    Cell back = decode(image);
    EXPECT_EQ(cell_series(&back)->cells()[2].w2, back.w2);
}

TEST_F(RoundTrip, ASeriesMetTwiceIsOneSeriesWithTwoHeads) {
    Cell v = eval("s: \"abcdef\" b: [1 2 3] reduce [s skip s 2 b skip b 1]");
    check(v, "shared");
    for (bool compact : {true, false}) {
        Cell back = decode(encode(v, compact));
        Cell* c = cell_series(&back)->cells();
        EXPECT_EQ(c[0].w2, c[1].w2);
        EXPECT_EQ(series_index(&c[1]), 2u);
        EXPECT_EQ(c[2].w2, c[3].w2);
        EXPECT_EQ(series_index(&c[3]), 1u);
    }
}

// Trees made at random from the leaves, nested blocks, parens, paths and maps, with some series shared and
// some blocks holding one of their ancestors.
TEST_F(RoundTrip, GeneratedTreesKeepTheirValuesAndTheirSharing) {
    std::mt19937 random(20);
    GcRoot pool;
    block_make_at(pool.get(), 64);
    for (const char* code : kLeaves) *block_alloc_tail(pool.get()) = leaf(code);
    auto leaf = [&] {
        Series* s = cell_series(pool.get());
        return s->cells()[random() % s->used()];
    };
    for (int tree = 0; tree < 60; tree++) {
        GcRoot containers;
        block_make_at(containers.get(), 16);
        std::function<Cell(int)> make = [&](int depth) -> Cell {
            GcRoot b;
            block_make_at(b.get(), 4);
            static const TypeId kinds[] = {TYPE_BLOCK, TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_SET_PATH};
            cell_set_type(b.get(), kinds[random() % 5]);
            *block_alloc_tail(containers.get()) = *b;
            int n = int(random() % 6);
            for (int i = 0; i < n; i++) {
                uint32_t pick = random() % 10;
                Cell item;
                if (pick < 5 || depth > 4) {
                    item = leaf();
                } else if (pick < 8) {
                    item = make(depth + 1);
                } else {
                    // A container made before (maybe an ancestor of this one): shared, or a cycle.
                    Series* s = cell_series(containers.get());
                    item = s->cells()[random() % s->used()];
                }
                if (random() % 4 == 0) item.header |= HDR_NEW_LINE;
                *block_alloc_tail(b.get()) = item;
            }
            if (random() % 5 == 0 && n > 0) b->w1 = random() % uint32_t(n);
            return *b;
        };
        GcRoot root(make(0));
        check(*root, "tree " + std::to_string(tree));
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace zol::test
