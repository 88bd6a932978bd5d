// libFuzzer target for Parse: the bytes choose a grammar (keywords, counts, literals, charsets, nested and
// recursive sub-rules, marks, parens that change the input or the rules, nested parses) and an input (text,
// a block of values or raw bytes), and the grammar runs over the input under /trace with a callback that
// stops it after a bounded number of events or once its input has grown past a bound, so that loops that
// never end by themselves (while, growing input) end too. Each run must end in a result or an error without a
// fault, leave the work stacks as it found them and leave values that survive a collection.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "boot/startup.h"
#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "interpreter/parse/engine.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"

namespace {

using namespace zol;

void check(bool ok) {
    if (!ok) std::abort();
}

// The words of the grammar, chosen by byte. Brackets are balanced when the grammar is written out.
const char* const kTokens[] = {
    "any", "some", "opt", "while", "skip", "to", "thru", "end", "none", "fail", "break", "reject", "not", "ahead",
    "copy x", "set x", "collect", "collect set y", "collect into buf", "collect after buf", "keep", "keep pick",
    "keep (1)", "keep pick ([1 2])", "into", "remove", "insert \"z\"", "insert only [q]", "change", "\"Z\"",
    "quote", "if (n < 3)", "case true", "case false", "|", "|", "0", "1", "2", "3", "\"a\"", "\"ab\"", "\"\"",
    "#\"a\"", "#\"b\"", "#\"^(E9)\"", "cs", "ncs", "r1", "r2", "r3", "[", "]", "[", "]", "(n: n + 1)", "m:",
    ":m", "remove m", "insert m \"k\"", "change m \"w\"", "integer!", "word!", "string!", "block!", "char!",
    "any-word!", "'a", "quote a", "<t>", "(clear inp)", "(append inp \"ab\")", "(clear r3)", "(append r2 'skip)",
    "(parse/trace \"ab\" r1 :cb)", "(1 / 0)", "to end", "thru end", "#{61}", "1 2", "x:", ":x", "(m: inp)",
    "(remove r1)", "(insert inp 1)", "(take inp)", "r1/a", "end skip",
};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

// Values of a block input, chosen by byte.
const char* const kValues[] = {
    "1", "2", "a", "'a", "\"a\"", "\"ab\"", "#\"a\"", "[a 1]", "[]", "[[1]]", "b:", ":b", "(1)", "x/y", "1.5",
    "none", "#{6162}", "<t>",
};
constexpr size_t kValueCount = sizeof kValues / sizeof kValues[0];

// Writes a rule block from the bytes up to a separator (0xFE) or the end; returns where it stopped.
size_t write_rules(const uint8_t* data, size_t size, size_t at, std::string* out) {
    int depth = 0;
    *out += '[';
    for (; at < size && data[at] != 0xFE && data[at] != 0xFF; at++) {
        std::string token = kTokens[data[at] % kTokenCount];
        if (token == "]") {
            if (depth == 0) continue;
            depth--;
        } else if (token == "[") {
            if (depth > 30) continue;
            depth++;
        }
        *out += token;
        *out += ' ';
    }
    while (depth-- > 0) *out += "] ";
    *out += ']';
    return at;
}

std::string hex(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[b >> 4], digits[b & 15]};
}

// The input: text over a small alphabet, a block of values, or bytes.
std::string write_input(const uint8_t* data, size_t size, size_t at) {
    if (at >= size) return "\"\"";
    uint8_t kind = data[at++] % 3;
    std::string out;
    switch (kind) {
        case 0: {
            static const char* const chars[] = {"a", "b", "Z", "<", ">", "t", "1", "^(E9)", " ", "k"};
            out = "\"";
            for (; at < size && at < 4096; at++) out += chars[data[at] % 10];
            return out + "\"";
        }
        case 1:
            out = "[";
            for (; at < size && at < 1024; at++) out += std::string(kValues[data[at] % kValueCount]) + " ";
            return out + "]";
        default:
            out = "#{";
            for (; at < size && at < 4096; at++) out += hex(data[at]);
            return out + "}";
    }
}

void run_source(const std::string& text) {
    stack_init();
    g_system.pending = UNWIND_NONE;
    stack_mark_try(&g_word[W_TRY]);
    try {
        GcRoot code;
        load_global(reinterpret_cast<const uint8_t*>(text.data()), text.size(), code.get());
        eval_block(code.get(), false);
    } catch (const ErrorUnwind&) {
    } catch (const PendingUnwind&) {
    }
    g_system.pending = UNWIND_NONE;
    stack_init();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    runtime_start(*argc, *argv);
    run_global_code();
    // The callback counts events and stops every parse of a run after a thousand, or once the series it
    // parses has grown past a bound: a change whose value is the input itself doubles it at every step.
    run_source(
        "steps: 0 cb: func [e m r i s] [steps: steps + 1 all [steps < 1000 100000 > length? head i]] "
        "cs: make bitset! \"ab^(E9)\" ncs: complement cs");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string program = "steps: 0 n: 0 x: y: m: none buf: ";
    static const char* const buffers[] = {"copy []", "copy \"\"", "copy #{}", "5"};
    program += buffers[data[0] & 3];
    size_t at = 1;
    for (const char* name : {" r1: ", " r2: ", " r3: ", " top: "}) {
        program += name;
        at = write_rules(data, size, at, &program);
        if (at < size && data[at] == 0xFE) at++;
    }
    if (at < size && data[at] == 0xFF) at++;
    program += " inp: " + write_input(data, size, at);
    static const char* const calls[] = {"parse/trace inp top :cb", "parse/trace/case inp top :cb",
                                        "parse/trace/part inp top :cb 3", "parse/trace inp r1 :cb"};
    program += " result: ";
    program += calls[data[0] >> 2 & 3];

    uint32_t series = node_series(parse::g_series_stack)->cell_count();
    uint32_t rules = node_series(parse::g_rule_stack)->cell_count();
    run_source(program);
    // Whatever happened, the work stacks are as this run found them.
    check(node_series(parse::g_series_stack)->cell_count() == series);
    check(node_series(parse::g_rule_stack)->cell_count() == rules);
    static uint32_t runs = 0;
    if ((runs++ & 15) == 0) gc_collect();
    return 0;
}
