// Runs the case tables of tests/cases: each *.zol file there is one test, and each of its cases is Zol code,
// a marker and what the code must give:
//   code ==> text     the result, molded
//   code >>> text     what the code printed (a line break written as \n; the trailing one left out)
//   code !!> type id  the type and id of the error the code raises
//   code ~~> text     the formed text of the error the code raises (line breaks as \n; the spaces that end
//                     its last line left out)
// A line without a marker continues onto the next one; lines starting with ;; are comments. The cases of a
// file run in order in the global context, so a case may use what an earlier one defined. A failure names
// the file and line of its case.
// The table http.zol talks to the local HTTP server of tests/http, started for it: the word test-server holds
// the server's address as a url!, and refused-server one where nothing listens.
// Each table also runs with the evaluator's fast paths stepped aside (under a trace that reports no events),
// with blocks decoded on their first run and with no block decoded, which must all give the same answers;
// and with the n-th allocation failing, for every n a case reaches, where every failure must end as a clean
// no-memory error.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "interpreter/code.h"
#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "interpreter/trace.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "tests/http_server.h"
#include "tests/support.h"

namespace zol::test {
namespace {

enum class Expect { result, output, error, error_text };

struct Case {
    int line;
    std::string code;
    Expect kind;
    std::string expected;
};

struct Marker {
    const char* text;
    Expect kind;
};
const Marker MARKERS[] = {
    {" ==> ", Expect::result}, {" >>> ", Expect::output}, {" !!> ", Expect::error}, {" ~~> ", Expect::error_text},
};

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

std::string unescape_newlines(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += '\n';
            i++;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Case> read_cases(const std::string& path, std::string* problem) {
    std::ifstream in(path);
    std::vector<Case> cases;
    std::string line, pending;
    int number = 0, start = 0;
    while (std::getline(in, line)) {
        number++;
        std::string t = trim(line);
        if (t.empty() || t.rfind(";;", 0) == 0) continue;
        if (pending.empty()) start = number;
        size_t at = std::string::npos;
        const Marker* found = nullptr;
        for (const Marker& m : MARKERS) {
            size_t p = line.find(m.text);
            if (p != std::string::npos && p < at) {
                at = p;
                found = &m;
            }
        }
        if (!found) {
            pending += line + "\n";
            continue;
        }
        std::string expected = trim(line.substr(at + 5));
        if (found->kind == Expect::output || found->kind == Expect::error_text) expected = unescape_newlines(expected);
        cases.push_back({start, pending + line.substr(0, at), found->kind, expected});
        pending.clear();
    }
    if (!pending.empty()) *problem = "code without a marker from line " + std::to_string(start);
    return cases;
}

std::string g_printed;

void capture_print(const Cell* text, bool newline) {
    g_printed += string_to_utf8(text);
    if (newline) g_printed += '\n';
}

std::string word_text(const Cell* w) { return cell_is(w, TYPE_WORD) ? mold_text(w) : "?"; }

// The formed text of an error; an error raised while forming it (an argument that cannot be molded) is
// reported instead of ending the run.
std::string formed_error(const Cell* error) {
    std::string text;
    GcRoot keep(*error), inner;
    if (catch_error([&] { text = error_form_text(keep.get()); }, inner.get()) != ERR_COUNT) {
        g_system.pending = UNWIND_NONE;
        return "(forming the error raised " + word_text(error_field(inner.get(), ERROR_FIELD_ID)) + ")";
    }
    return text;
}

// The molded result; an error raised while molding it (a datatype without its mold yet) is reported
// instead of ending the run.
std::string molded_result(const Cell* value) {
    std::string text;
    GcRoot keep(*value), inner;
    if (catch_error([&] { text = mold_text(keep.get()); }, inner.get()) != ERR_COUNT) {
        g_system.pending = UNWIND_NONE;
        return "(molding the result raised " + word_text(error_field(inner.get(), ERROR_FIELD_ID)) + ")";
    }
    return text;
}

// Loads and evaluates a case's code; answers whether it loaded, and whether it raised (the error then in
// error, else the value in result).
bool evaluate(const Case& c, Cell* result, Cell* error, bool* raised) {
    g_printed.clear();
    stack_reset();
    GcRoot block;
    bool loaded = false;
    catch_error([&] {
        load_global(reinterpret_cast<const uint8_t*>(c.code.data()), c.code.size(), block.get());
        loaded = true;
    }, error);
    if (!loaded) return false;
    *raised = catch_error([&] {
        eval_block(block.get(), false);
        *result = *stack_top();
    }, error) != ERR_COUNT;
    g_system.pending = UNWIND_NONE;
    return true;
}

// Runs one case; returns an empty string when it gives what it should, else what went wrong.
std::string run_case(const Case& c) {
    GcRoot result, error;
    bool failed = false;
    if (!evaluate(c, result.get(), error.get(), &failed)) {
        bool known = cell_is(error.get(), TYPE_ERROR);
        return "does not load: " + (known ? formed_error(error.get()) : std::string("?"));
    }
    std::string printed = g_printed;
    if (!printed.empty() && printed.back() == '\n') printed.pop_back();
    std::string error_text = failed ? formed_error(error.get()) : "";
    switch (c.kind) {
        case Expect::result: {
            if (failed) return "raised " + error_text;
            std::string got = molded_result(result.get());
            return got == c.expected ? "" : "gave " + got;
        }
        case Expect::output:
            if (failed) return "raised " + error_text;
            return printed == c.expected ? "" : "printed \"" + printed + "\"";
        case Expect::error: {
            if (!failed) return "gave " + molded_result(result.get());
            std::string got = word_text(error_field(error.get(), ERROR_FIELD_TYPE)) + " " +
                              word_text(error_field(error.get(), ERROR_FIELD_ID));
            return got == c.expected ? "" : "raised " + got + ": " + error_text;
        }
        case Expect::error_text: {
            if (!failed) return "gave " + molded_result(result.get());
            // The Stack line ends with a space after each name, which the case's line cannot keep.
            std::string text = error_text;
            while (!text.empty() && text.back() == ' ') text.pop_back();
            return text == c.expected ? "" : "raised \"" + error_text + "\"";
        }
    }
    return "";
}

std::vector<std::string> case_files() {
    std::vector<std::string> files;
    if (DIR* dir = opendir(ZOL_TEST_DIR)) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zol") == 0) files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Starts the local HTTP server (once for the process) and sets the words that name it.
void start_http_server() {
    static LocalHttpServer* server = new LocalHttpServer();
    ASSERT_NE(server->port(), 0) << "the local HTTP server did not start";
    std::string code = "test-server: " + server->url("") +
                       " refused-server: http://127.0.0.1:" + std::to_string(unused_local_port());
    GcRoot block;
    load_global(reinterpret_cast<const uint8_t*>(code.data()), code.size(), block.get());
    eval_block(block.get(), false);
    stack_reset();
}

class CaseFile : public RuntimeTest, public ::testing::WithParamInterface<std::string> {
protected:
    std::vector<Case> cases_of_param() {
        if (GetParam() == "http.zol") start_http_server();
        std::string path = std::string(ZOL_TEST_DIR) + "/" + GetParam();
        std::string problem;
        std::vector<Case> cases = read_cases(path, &problem);
        EXPECT_TRUE(problem.empty()) << path << ": " << problem;
        EXPECT_FALSE(cases.empty()) << path << ": no cases";
        return cases;
    }
    void run_all() {
        std::string path = std::string(ZOL_TEST_DIR) + "/" + GetParam();
        std::vector<Case> cases = cases_of_param();
        output_hooks_register(capture_print, nullptr);
        for (const Case& c : cases) {
            std::string outcome = run_case(c);
            EXPECT_TRUE(outcome.empty()) << path << ":" << c.line << ": " << trim(c.code) << "\n    expected "
                                         << c.expected << "\n    " << outcome;
        }
        output_hooks_unregister(capture_print, nullptr);
    }
};

TEST_P(CaseFile, GivesWhatEachCaseExpects) { run_all(); }

// The fast paths (simple expressions computed in place, calls with plain arguments, frameless blocks) stand
// aside while a trace is in force; one whose callback asks for no events changes nothing else.
TEST_P(CaseFile, GivesTheSameWithoutTheFastPaths) {
    GcRoot block, callback;
    const char quiet[] = "func [] [[]]";
    load_global(reinterpret_cast<const uint8_t*>(quiet), sizeof quiet - 1, block.get());
    eval_block(block.get(), false);
    *callback = *stack_top();
    stack_reset();
    ASSERT_TRUE(trace_start(callback.get()));
    run_all();
    trace_stop();
}

// Decoded forms (code.h) taken from the first run of every block, or never: the table gives the same answers.
class CodePolicyScope {
public:
    explicit CodePolicyScope(CodePolicy policy) : saved_(g_code_policy) { g_code_policy = policy; }
    ~CodePolicyScope() { g_code_policy = saved_; }

private:
    CodePolicy saved_;
};

TEST_P(CaseFile, GivesTheSameWithBlocksDecodedOnTheirFirstRun) {
    CodePolicyScope always(CodePolicy::always);
    run_all();
}

TEST_P(CaseFile, GivesTheSameWithNoBlockDecoded) {
    CodePolicyScope never(CodePolicy::never);
    run_all();
}

// Walks the failing allocation over every allocation each case makes (the first ones one by one, then
// further apart): a failure must raise no-memory, caught like any error, unwind every frame it crossed and
// leave a heap that a collection finds whole. (A case run in part and again changes the table's state, so
// the answers after a walk are not compared.)
TEST_P(CaseFile, EndsCleanlyWhereverAnAllocationFails) {
    CodePolicyScope always(CodePolicy::always);  // decoding allocates too
    std::vector<Case> cases = cases_of_param();
    std::string path = std::string(ZOL_TEST_DIR) + "/" + GetParam();
    output_hooks_register(capture_print, nullptr);
    CallFrame* frames = g_frames.top;
    for (const Case& c : cases) {
        GcRoot result, error;
        bool raised = false;
        uint64_t before = memory_stats().allocations;
        evaluate(c, result.get(), error.get(), &raised);
        uint64_t count = memory_stats().allocations - before;
        // Under collector stress every allocation collects: a coarser walk keeps the run short.
        uint64_t dense = gc_stress() ? 8 : 64, step = gc_stress() ? 1 : 4;
        for (uint64_t n = 1; n <= count; n += n < dense ? 1 : n / step) {
            uint64_t injected = memory_injected_failures();
            memory_fail_allocation(n);
            bool loaded = evaluate(c, result.get(), error.get(), &raised);
            memory_fail_allocation(0);
            if (memory_injected_failures() == injected) continue;  // this run allocated less
            std::string where = path + ":" + std::to_string(c.line) + ": allocation " + std::to_string(n) + " of " +
                                std::to_string(count) + " failing ";
            EXPECT_EQ(g_frames.top, frames) << where << "left frames behind";
            if (!loaded || raised) {
                bool no_memory = cell_is(error.get(), TYPE_ERROR) && error_id(error.get()) == ERR_INTERNAL_NO_MEMORY;
                // A case that expects an error may meet it before the failing allocation.
                bool expected = c.kind == Expect::error || c.kind == Expect::error_text;
                EXPECT_TRUE(no_memory || expected) << where << "raised " << formed_error(error.get());
            }
            // A second collection right after a first finds nothing more to free.
            gc_collect();
            uint64_t live = memory_stats().live_bytes;
            gc_collect();
            EXPECT_EQ(memory_stats().live_bytes, live) << where << "left the heap unsettled";
        }
    }
    output_hooks_unregister(capture_print, nullptr);
}

std::string file_label(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(0, info.param.size() - 4);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Zol, CaseFile, ::testing::ValuesIn(case_files()), file_label);

}  // namespace
}  // namespace zol::test
