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

// Runs the program on a script with the given text, or (console) on the console with the text as its
// typed input; the shell records the exit status.
Outcome run_script(const std::string& name, const std::string& text, bool console = false) {
    std::filesystem::path dir = unique_temporary_path("zol-script-test-" + name);
    std::filesystem::create_directories(dir);
    std::filesystem::path script = dir / "script.zol", out = dir / "out", err = dir / "err", status = dir / "status";
    std::ofstream(script, std::ios::binary) << text;
    std::string args = console ? " --cli <'" + script.string() + "'" : " '" + script.string() + "'";
    std::string command = "'" + std::string(ZOL_EXE) + "'" + args + " >'" + out.string() + "' 2>'" +
                          err.string() + "'; echo $? >'" + status.string() + "'";
    int shell = std::system(command.c_str());
    EXPECT_EQ(shell, 0) << command;
    Outcome o{std::atoi(read_whole(status).c_str()), read_whole(out), read_whole(err)};
    std::filesystem::remove_all(dir);
    return o;
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

}  // namespace
}  // namespace zol::test
