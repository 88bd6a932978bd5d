// Scripts run by the program: an error that nothing catches prints the formed error on standard error and
// ends the process with status 254 (-2 as a byte); the same script with its error caught ends with 0. Also
// the Stack line of a formed error, which needs the stack-trace setting that no script can reach yet.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "runtime/datatypes/error.h"
#include "runtime/gc.h"
#include "tests/support.h"

namespace zol::test {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

void replace_all(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
}

// Runs a shell command around the program, given the text of a script: in the command, {zol} stands for
// the program, {script} for the script's file, {out}, {err} and {status} for files that receive its
// output, its errors and (written by the command) its exit status.
Outcome run_shell(const std::string& name, const std::string& text, std::string command) {
    std::filesystem::path dir = unique_temporary_path("zol-script-test-" + name);
    std::filesystem::create_directories(dir);
    std::filesystem::path script = dir / "script.zol", out = dir / "out", err = dir / "err", status = dir / "status";
    std::ofstream(script, std::ios::binary) << text;
    replace_all(command, "{zol}", "'" + std::string(ZOL_EXE) + "'");
    replace_all(command, "{script}", "'" + script.string() + "'");
    replace_all(command, "{out}", "'" + out.string() + "'");
    replace_all(command, "{err}", "'" + err.string() + "'");
    replace_all(command, "{status}", "'" + status.string() + "'");
    int shell = std::system(command.c_str());
    EXPECT_EQ(shell, 0) << command;
    Outcome o{std::atoi(read_whole(status).c_str()), read_whole(out), read_whole(err)};
    std::filesystem::remove_all(dir);
    return o;
}

// Runs the program on a script with the given text, or (console) on the console with the text as its
// typed input.
Outcome run_script(const std::string& name, const std::string& text, bool console = false) {
    return run_shell(name, text,
                     console ? "{zol} --cli <{script} >{out} 2>{err}; echo $? >{status}"
                             : "{zol} {script} >{out} 2>{err}; echo $? >{status}");
}

TEST(ScriptExit, AnUncaughtErrorIsPrintedOnStandardErrorAndEndsWithStatus254) {
    Outcome o = run_script("uncaught",
                           "Zol [title: \"fails\"]\n"
                           "f: func [x] [x / 0]\n"
                           "print \"before\"\n"
                           "f 1\n"
                           "print \"after\"\n");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "before\n") << "nothing runs after the error";
    EXPECT_EQ(o.err, "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0\n*** Stack: f \n");
}

TEST(ScriptExit, AnErrorRaisedAtTheTopOfTheScriptNamesItsCode) {
    Outcome o = run_script("top", "Zol []\nx: 1\nappend x 2\n");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err,
              "*** Script Error: append does not allow integer! for its series argument\n*** Where: append\n"
              "*** Near : append x 2\n*** Stack: \n");
}

TEST(ScriptExit, ACaughtErrorLetsTheScriptEndWithStatus0) {
    Outcome o = run_script("caught", "Zol []\ne: try [1 / 0]\nprint e/id\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "zero-divide\n");
    EXPECT_EQ(o.err, "");
}

TEST(ScriptExit, ASyntaxErrorInTheScriptEndsWithStatus254) {
    Outcome o = run_script("syntax", "Zol []\nprint [1\n");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "") << "nothing of a script that does not load runs";
    EXPECT_EQ(o.err.rfind("*** Syntax Error: missing ] at [", 0), 0u) << o.err;
}

// Output to a pipe whose reader has gone raises cannot-write; nothing catches it, so the process ends at
// once, quietly (the reader asked for no more) and with a status that says it did not finish.
TEST(ScriptExit, OutputToAClosedPipeEndsTheScriptQuietly) {
    Outcome o = run_shell("closed-pipe", "Zol []\nforever [prin \"x\"]\n",
                          "{ {zol} {script} 2>{err}; echo $? >{status}; } | head -c 10 >{out}");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "xxxxxxxxxx");
    EXPECT_EQ(o.err, "");
}

// The error can be caught: the loop stops at the first refused line (the caught error then leads to a
// division by zero, whose report shows that it was caught).
TEST(ScriptExit, OutputToAClosedPipeRaisesACatchableError) {
    Outcome o = run_shell("closed-pipe-caught",
                          "Zol []\nn: 0\nr: try [loop 1000000 [n: n + 1 print n]]\n"
                          "if all [r/id = 'cannot-write  n < 1000000] [1 / 0]\n",
                          "{ {zol} {script} 2>{err}; echo $? >{status}; } | head -n 1 >{out}");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "1\n");
    EXPECT_EQ(o.err.rfind("*** Math Error: attempt to divide by zero\n", 0), 0u) << o.err;
}

// Output that cannot be written for another reason (a full device) is reported as an access error.
TEST(ScriptExit, OutputToAFullDeviceIsAnAccessError) {
    Outcome o = run_shell("full", "Zol []\nprint \"hi\"\nprint \"after\"\n",
                          "{zol} {script} >/dev/full 2>{err}; echo $? >{status}");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.err,
              "*** Access Error: cannot write: %/dev/stdout\n*** Where: print\n"
              "*** Near : print \"hi\" print \"after\"\n*** Stack: \n");
    o = run_shell("full-caught", "Zol []\nr: try [print \"hi\"]\nif r/id = 'cannot-write [1 / 0]\n",
                  "{zol} {script} >/dev/full 2>{err}; echo $? >{status}");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.err.rfind("*** Math Error: attempt to divide by zero\n", 0), 0u) << o.err;
    o = run_shell("full-console", "1 + 1\n", "{zol} --cli <{script} >/dev/full 2>{err}; echo $? >{status}");
    EXPECT_EQ(o.status, 254) << "the console cannot show its results";
    EXPECT_EQ(o.err.rfind("*** Access Error: cannot write: ", 0), 0u) << o.err;
}

// Memory running out inside a try, under a limit on the address space: the try gets no-memory at once, the
// script goes on, and a second exhaustion, with the first block still held and the node table to grow, is
// caught as well. Where the memory runs out depends on the limit, so two limits are tried.
TEST(ScriptExit, RunningOutOfMemoryInsideTryIsCaught) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under a limit on the address space";
#endif
    Outcome o = run_shell("no-memory",
                          "Zol []\n"
                          "r: try [b: copy [] loop 100000000 [append b 1.5]]\nprint r/id\n"
                          "r: try [s: copy [] loop 10000000 [append s copy \"abcdefghij\"]]\nprint r/id\n",
                          "unset ZOL_GC_STRESS; status=0; for limit in 500000 700000; do "
                          "(ulimit -v $limit; {zol} {script}) >>{out} 2>>{err} || status=$?; done; "
                          "echo $status >{status}");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "no-memory\nno-memory\nno-memory\nno-memory\n");
    EXPECT_EQ(o.err, "");
}

class FormedStack : public RuntimeTest {};

// With the stack-trace setting, a report ends with the functions that were running when the error was
// raised, as try/keep kept them.
TEST_F(FormedStack, TheStackLineNamesTheCallsOfTheRaise) {
    static const char code[] = "g: func [] [f 1] f: func [x] [x / 0] try/keep [g]";
    GcRoot block, error;
    load_global(reinterpret_cast<const uint8_t*>(code), sizeof code - 1, block.get());
    eval_block(block.get(), false);
    *error = *stack_top();
    ASSERT_TRUE(cell_is(error.get(), TYPE_ERROR));
    Cell saved = *error_state_stack_trace();
    set_none(error_state_stack_trace());
    std::string plain = error_form_text(error.get());
    set_integer(error_state_stack_trace(), 1);
    std::string report = error_form_text(error.get());
    *error_state_stack_trace() = saved;
    EXPECT_EQ(plain, "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0") << "no setting, no line";
    EXPECT_EQ(report, plain + "\n*** Stack: g f");
}

TEST(Console, ErrorsWhileRunningMoldingOrFormingAreReportedAndTheSessionGoesOn) {
    Outcome o = run_script("console",
                           "[1\n2]\n"               // unfinished input waits for the next line
                           "do \"[1\"\n"            // a load error while running is an error, not more input
                           "o: make object! [a: 1]\n"
                           "b: [] loop 100000 [b: reduce [b]] ()\n"
                           "b\n"                    // a result that cannot be molded
                           "1 + 1\n",
                           true);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    std::istringstream lines(o.out);
    std::string line;
    std::vector<std::string> got;
    while (std::getline(lines, line))
        if (line.rfind("*** Where", 0) != 0 && line.rfind("*** Near", 0) != 0 && line.rfind("*** Stack", 0) != 0) {
            got.push_back(line);
        }
    std::vector<std::string> want = {"== [1", "2]", "*** Syntax Error: missing ] at [1 (line 1)",
                                     "== make object! [", "    a: 1", "]",
                                     "*** Internal Error: block or paren series is too deep to process", "== 2"};
    EXPECT_EQ(got, want) << o.out;
}

// Input that ends inside an open block is the syntax error a script would report, not silence.
TEST(Console, UnfinishedInputAtTheEndIsASyntaxError) {
    Outcome o = run_shell("console-unfinished", "", "printf 'x: [1 2' | {zol} --cli >{out} 2>{err}; echo $? >{status}");
    EXPECT_EQ(o.status, 254);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("*** Syntax Error: missing ] at [1 2", 0), 0u) << o.err;
    o = run_script("console-finished", "x: [1\n2]\n", true);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "== [1\n2]\n");
}

}  // namespace
}  // namespace zol::test
