// Lexer events: which ones a callback receives (its event mask), their arguments, and how the callback's
// answers and its moves of the input steer the lexer. Most tests install their own invocation hook, which
// records each event and answers for the callback; the last ones run callbacks written in Zol.
#include <functional>
#include <vector>

#include "runtime/datatypes/function.h"
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

struct Event {
    std::string name;
    int64_t index;  // of the input series, -1 without one
    std::string type;
    int32_t line;
    std::string token;
};

std::vector<Event> g_events;
// Answers for the callback; may change the argument cells (the input's index).
std::function<bool(const Event&, Cell* args)> g_answer;

bool record_event(const Cell*, Cell* args) {
    Event e;
    e.name = symbol_c_string(word_symbol(&args[0]));
    e.index = cell_is(&args[1], TYPE_NONE) ? -1 : int64_t(series_index(&args[1]));
    e.type = show(&args[2]);
    e.line = cell_int(&args[3]);
    e.token = show(&args[4]);
    g_events.push_back(e);
    return g_answer ? g_answer(e, args) : true;
}

std::string events_text() {
    std::string out;
    for (const Event& e : g_events) {
        out += e.name + " " + e.type + " " + e.token + " @" + std::to_string(e.index) + "\n";
    }
    return out;
}

class LexerEvents : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        g_events.clear();
        g_answer = nullptr;
        interpreted_ = g_lexer_invoke;
        g_lexer_invoke = record_event;
    }
    void TearDown() override {
        g_lexer_invoke = interpreted_;
        g_answer = nullptr;
        RuntimeTest::TearDown();
    }
    LexerCallbackInvoke interpreted_ = nullptr;
    // A function! whose body is the text: its first block, when it has one, lists the events it wants.
    void make_callback(GcRoot& out, const char* body_text) {
        GcRoot params, body, source;
        make_source(source, "event input type line token");
        load_source(params.get(), source.get(), -1, LexOptions{});
        make_source(source, body_text);
        load_source(body.get(), source.get(), -1, LexOptions{});
        function_build(params.get(), body.get(), 0, 0, 0, function_check_spec(params.get()));
        *out = *stack_top();
        stack_reset();
    }
};

TEST_F(LexerEvents, TheMaskComesFromTheFirstBlockOfTheBody) {
    GcRoot cb;
    make_callback(cb, "[load] true");
    Lexed r = lex("a 1", {.callback = cb.get()});
    EXPECT_EQ(r.text, "[a 1]");
    EXPECT_EQ(events_text(), "load word! a @1\nload integer! 1 @3\n");

    g_events.clear();
    make_callback(cb, "[open close] true");
    lex("[x (y)]", {.callback = cb.get()});
    EXPECT_EQ(events_text(),
              "open block! 1x2 @0\nopen paren! 4x5 @3\nclose paren! 4x6 @5\nclose block! 1x7 @6\n");

    g_events.clear();
    make_callback(cb, "[] true");
    lex("[x]", {.callback = cb.get()});
    EXPECT_TRUE(g_events.empty()) << "an empty list asks for no event";
}

TEST_F(LexerEvents, EveryEventInOrder) {
    GcRoot cb;
    make_callback(cb, "true");  // no block first: every event
    Lexed r = lex("[a] ;c\n\"s\"", {.callback = cb.get()});
    EXPECT_EQ(r.text, "[[a] \"s\"]");
    EXPECT_EQ(events_text(),
              "prescan block! 1x1 @0\n"      // a structural token is named by the token-name block
              "open block! 1x2 @0\n"
              "prescan word! 2x3 @2\n"
              "scan word! 2x3 @2\n"
              "load word! a @2\n"
              "prescan block! 3x3 @2\n"
              "close block! 1x3 @2\n"
              "prescan comment 5x7 @4\n"
              "scan comment 5x7 @6\n"
              "prescan string! 8x10 @9\n"  // a value's events put the input at its end (before the closing quote)
              "scan string! 8x10 @9\n"
              "load string! \"s\" @9\n");
    EXPECT_EQ(g_events.back().line, 2);

    // A point literal's '(' is not reported (the point token is, from its '('); a comma has no name of its own.
    g_events.clear();
    make_callback(cb, "[prescan] true");
    EXPECT_EQ(lex("(1, 2) (3'0, 4)", {.callback = cb.get()}).text, "[(1, 2) (30, 4)]");
    EXPECT_EQ(events_text(),
              "prescan point2D! 1x6 @5\n"
              "prescan paren! 8x8 @7\n"
              "prescan integer! 9x12 @11\n"
              "prescan none 12x12 @11\n"
              "prescan integer! 14x15 @14\n"
              "prescan paren! 15x15 @14\n");
}

// A pre-scan with a callback reports every token, the structural ones it runs at once included.
TEST_F(LexerEvents, PrescanReportsEveryToken) {
    GcRoot cb;
    make_callback(cb, "[prescan] true");
    Lexed r = lex("[a \"s\"] b", {.prescan = true, .callback = cb.get()});
    EXPECT_EQ(r.type, TYPE_BLOCK);
    EXPECT_EQ(events_text(),
              "prescan block! 1x1 @0\n"
              "prescan word! 2x3 @2\n"
              "prescan string! 4x6 @5\n"
              "prescan block! 7x7 @6\n");
}

TEST_F(LexerEvents, AnswersSteerTheLexer) {
    GcRoot cb;
    make_callback(cb, "true");
    // false to load drops the value
    g_answer = [](const Event& e, Cell*) { return !(e.name == "load" && e.token == "b"); };
    EXPECT_EQ(lex("a b c", {.callback = cb.get()}).text, "[a c]");
    // false to prescan skips the token, its closing character included
    g_answer = [](const Event& e, Cell*) { return !(e.name == "prescan" && e.type == "tag!"); };
    EXPECT_EQ(lex("a <t> c", {.callback = cb.get()}).text, "[a c]");
    // false to scan leaves the token unloaded
    g_answer = [](const Event& e, Cell*) { return !(e.name == "scan" && e.type == "integer!"); };
    EXPECT_EQ(lex("1 x 2", {.callback = cb.get()}).text, "[x]");
    // false to open and close: the brackets are read but no block is made
    g_answer = [](const Event& e, Cell*) { return e.name != "open" && e.name != "close"; };
    EXPECT_EQ(lex("[a] b", {.callback = cb.get()}).text, "[a b]");
}

TEST_F(LexerEvents, ErrorEvents) {
    GcRoot cb;
    make_callback(cb, "[error] true");
    // true lets the error be raised, false stops the lexer quietly with what it loaded
    Lexed r = lex("a 1.2.300 b", {.callback = cb.get()});
    EXPECT_EQ(r.error, ERR_SYNTAX_INVALID);
    EXPECT_EQ(events_text(), "error tuple! 3x10 @9\n");
    g_answer = [](const Event&, Cell*) { return false; };
    r = lex("a 1.2.300 b", {.callback = cb.get()});
    EXPECT_EQ(r.error, ERR_COUNT);
    EXPECT_EQ(r.text, "[a]");
    r = lex("[a a/b", {.callback = cb.get()});
    EXPECT_EQ(r.error, ERR_COUNT);
    EXPECT_EQ(r.text, "[[a a/b]]") << "an open block is closed at the quiet end";
    // In scan mode a malformed token is reported as an error event with error!.
    g_events.clear();
    g_answer = nullptr;
    r = lex("1.2.300", {.one = true, .scan = true, .callback = cb.get()});
    EXPECT_EQ(r.type, TYPE_ERROR);
    EXPECT_EQ(events_text(), "error error! 1x8 @7\n");
}

TEST_F(LexerEvents, TheCallbackMovesTheInput) {
    GcRoot cb;
    make_callback(cb, "[load] true");
    // After loading 2, go on from the 4 (character index 6).
    g_answer = [](const Event& e, Cell* args) {
        if (e.token == "2") args[1].w1 = 6;
        return true;
    };
    EXPECT_EQ(lex("1 2 3 4", {.callback = cb.get()}).text, "[1 2 4]");
    // Never outside the input: far past it is its end, before it is its start.
    g_answer = [](const Event& e, Cell* args) {
        if (e.token == "1") args[1].w1 = 1000;
        return true;
    };
    EXPECT_EQ(lex("1 2 3", {.callback = cb.get()}).text, "[1]");
    int moves = 0;
    g_answer = [&moves](const Event& e, Cell* args) {
        if (e.token == "3" && moves++ == 0) args[1].w1 = 0;  // once back to the start (index 0 < the input's 2)
        return true;
    };
    g_events.clear();
    GcRoot source, dst, output;
    make_source(source, "x 1 2 3");
    source->w1 = 2;
    set_series(output.get(), TYPE_BLOCK, series_alloc_cells(8));
    load_source(dst.get(), source.get(), -1, LexOptions{.callback = cb.get(), .output = output.get()});
    EXPECT_EQ(show(output.get()), "[1 2 3 1 2 3]");
    EXPECT_EQ(g_events[0].index, 3) << "indexes count from the string's head, not the input's start";
}

TEST_F(LexerEvents, NestedLexersAndCollections) {
    GcRoot cb, inner;
    make_callback(cb, "[load] true");
    set_series(inner.get(), TYPE_BLOCK, series_alloc_cells(4));
    // A callback that itself loads text, and collects, in the middle of an outer block.
    g_answer = [&inner](const Event& e, Cell*) {
        if (e.token == "b") {
            LexerCallbackInvoke saved = g_lexer_invoke;
            g_lexer_invoke = nullptr;
            std::string big(120000, ' ');  // larger than what is left of the scratch buffer
            big += "[nested \"text\"] 7";
            Lexed r = lex(big, {.output = inner.get()});
            EXPECT_EQ(r.error, ERR_COUNT);
            g_lexer_invoke = saved;
            gc_collect();
        }
        return true;
    };
    Lexed r = lex("[a \"s1\" b [\"s2\" c] é \"€\"] d", {.callback = cb.get()});
    EXPECT_EQ(r.text, "[[a \"s1\" b [\"s2\" c] é \"€\"/u2] d]");
    EXPECT_EQ(show(inner.get()), "[[nested \"text\"] 7]");
}

TEST_F(LexerEvents, ExitsPassThrough) {
    GcRoot cb;
    make_callback(cb, "[load] true");
    g_answer = [](const Event& e, Cell*) -> bool {
        if (e.token == "boom") fire(ERR_SCRIPT_INVALID_ARG);
        return true;
    };
    GcRoot out;
    set_series(out.get(), TYPE_BLOCK, series_alloc_cells(4));
    Lexed r = lex("a [b boom c", {.callback = cb.get(), .output = out.get()});
    EXPECT_EQ(r.error, ERR_SCRIPT_INVALID_ARG);
    EXPECT_EQ(show(out.get()), "[a [b boom]]") << "the output block gets what was loaded";
    g_answer = nullptr;
    EXPECT_EQ(lex("after", {.callback = cb.get()}).text, "[after]") << "the failed lexer is no longer active";
}

// Callbacks written in Zol, run by the evaluator: their answer steers the lexer, their errors pass through.
TEST_F(LexerEvents, InterpretedCallbacks) {
    g_lexer_invoke = interpreted_;
    GcRoot cb;
    make_callback(cb, "[load] #(false)");
    EXPECT_EQ(lex("a [b] c", {.callback = cb.get()}).text, "[[]]") << "a block is closed, not loaded";
    make_callback(cb, "[load] #(true)");
    EXPECT_EQ(lex("a [b] c", {.callback = cb.get()}).text, "[a [b] c]");
    make_callback(cb, "[error] #(false)");
    EXPECT_EQ(lex("a 1.2.300", {.callback = cb.get()}).text, "[a]");
    make_callback(cb, "[load] no-such-word-here");
    EXPECT_EQ(lex("a", {.callback = cb.get()}).error, ERR_SCRIPT_NO_VALUE);
    EXPECT_EQ(g_frames.top, g_frames.start);
}

}  // namespace
}  // namespace zol::test
