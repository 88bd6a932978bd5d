// call with files for its streams, and what a child writes when nothing asks for it: the case tables can
// neither make the files nor see the process's own standard output.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <chrono>
#include <string>
#include <thread>

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "io/natives/process.h"
#include "runtime/gc.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class CallTest : public RuntimeTest {
protected:
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        RuntimeTest::TearDown();
    }

    // The integer Zol code gives; a failure when it raises an error or gives another value.
    int32_t run(const std::string& code) {
        stack_reset();
        GcRoot block;
        Cell result;
        set_none(&result);
        ErrorId id = catch_error([&] {
            load_global(reinterpret_cast<const uint8_t*>(code.data()), code.size(), block.get());
            eval_block(block.get(), false);
            result = *stack_top();
        });
        g_system.pending = UNWIND_NONE;
        stack_reset();
        EXPECT_EQ(id, ERR_COUNT) << code;
        EXPECT_TRUE(cell_is(&result, TYPE_INTEGER)) << code;
        return cell_is(&result, TYPE_INTEGER) ? cell_int(&result) : -1000;
    }

    std::string path(const char* name) {
        std::filesystem::create_directories(dir_);
        return (dir_ / name).string();
    }

    std::filesystem::path dir_ = unique_temporary_path("zol-call");
};

TEST_F(CallTest, ReadsItsInputFromAFile) {
    std::string in = path("in.txt");
    std::ofstream(in, std::ios::binary) << std::string("line 1\r\nline\0 2", 15);
    EXPECT_EQ(run("out: copy #{} call/input/output {cat} %" + in + " out length? out"), 15);
    std::string same = " out either out = #{6C696E6520310D0A6C696E65002032} [1] [0]";
    EXPECT_EQ(run("out: copy #{} call/input/output {cat} %" + in + same), 1);
}

TEST_F(CallTest, AppendsOutputAndErrorToFilesItCreates) {
    std::string out = path("out.txt"), err = path("err.txt");
    std::string code = "call/output/error {sh -c 'echo out; echo err >&2; exit 2'} %" + out + " %" + err;
    EXPECT_EQ(run(code), 2);
    EXPECT_EQ(read_whole(out), "out\n");
    EXPECT_EQ(read_whole(err), "err\n");
    EXPECT_EQ(run(code), 2);
    EXPECT_EQ(read_whole(out), "out\nout\n") << "a second call appends";
    EXPECT_EQ(read_whole(err), "err\nerr\n");
}

TEST_F(CallTest, OneFileTakesBothStreamsInOrder) {
    std::string both = path("both.txt");
    EXPECT_EQ(run("call/output/error {sh -c 'echo 1; echo 2 >&2; echo 3'} %" + both + " %" + both), 0);
    EXPECT_EQ(read_whole(both), "1\n2\n3\n");
}

TEST_F(CallTest, AFileProgramWithBlanksInItsPathRuns) {
    std::string program = path("a program");
    std::ofstream(program) << "#!/bin/sh\necho \"[$1]\"\nexit 7\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    EXPECT_EQ(run("out: copy {} call/output %" + std::string("\"") + program + "\" out"), 7);
    EXPECT_EQ(run("out: copy {} call/output %\"" + program + "\" out either out = {[]^/} [1] [0]"), 1);
    // A script without the header of a program is run by the shell.
    std::string script = path("plain script");
    std::ofstream(script) << "exit 8\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    EXPECT_EQ(run("call/wait %\"" + script + "\""), 8);
}

// Without /output and /error, what the child writes goes nowhere: not to the caller's own streams.
TEST_F(CallTest, DiscardsWhatNothingAsksFor) {
    std::string sink = path("sink.txt");
    int saved_out = dup(1), saved_err = dup(2);
    int fd = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
    int32_t status = run("call/wait {sh -c 'echo lost; echo lost >&2; exit 1'}");
    int32_t missing = run("call/wait {no-such-program-anywhere-zol}");
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(missing, 127);
    EXPECT_EQ(read_whole(sink), "");
}

// browse hands the URL, as one argument, to the desktop's opener found on the path, and does not wait.
TEST_F(CallTest, BrowseHandsTheUrlToTheOpener) {
    std::string opener = path("xdg-open"), seen = path("seen.txt");
    // The file appears whole (written aside, then renamed), so the test reads it only once it is complete.
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << seen << ".part'\n"
                          << "mv '" << seen << ".part' '" << seen << "'\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir_.string() + ":" + saved_path).c_str(), 1);
    Cell result;
    ErrorId id = catch_error([&] {
        std::string code = "browse http://example.com/a?b=c&d=$HOME";
        GcRoot block;
        load_global(reinterpret_cast<const uint8_t*>(code.data()), code.size(), block.get());
        eval_block(block.get(), false);
        result = *stack_top();
    });
    for (int i = 0; i < 500 && !std::filesystem::exists(seen); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::filesystem::remove(opener);
    setenv("PATH", dir_.c_str(), 1);
    ErrorId missing = catch_error([&] {
        std::string code = "browse %/some/file.html";
        GcRoot block;
        load_global(reinterpret_cast<const uint8_t*>(code.data()), code.size(), block.get());
        eval_block(block.get(), false);
    });
    setenv("PATH", saved_path.c_str(), 1);
    stack_reset();
    EXPECT_EQ(id, ERR_COUNT);
    EXPECT_TRUE(cell_is(&result, TYPE_UNSET));
    EXPECT_EQ(read_whole(seen), "1|http://example.com/a?b=c&d=$HOME");
    EXPECT_EQ(missing, ERR_ACCESS_CANNOT_OPEN) << "no opener on the path";
}

TEST(CommandText, SplitsAtBlanksOutsideDoubleQuotes) {
    struct Case {
        const char* text;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"ls -l", {"ls", "-l"}},
        {"  ls \t -l  ", {"ls", "-l"}},
        {"", {}},
        {" \t ", {}},
        {"a \"b c\" d", {"a", "b c", "d"}},
        {"a\"b c\"d", {"ab cd"}},
        {"a \"\" b", {"a", "", "b"}},
        {"\"unclosed quote", {"unclosed quote"}},
    };
    for (const Case& c : cases) EXPECT_EQ(io::split_command(c.text), c.args) << c.text;
}

TEST(CommandText, SendsShellTextToTheShell) {
    for (const char* text : {"a | b", "a > f", "a; b", "a && b", "echo $HOME", "ls *.txt", "echo `x`", "cd ~",
                             "echo 'a b'", "a\nb", "(a)", "a\\ b"}) {
        EXPECT_TRUE(io::needs_shell(text)) << text;
    }
    for (const char* text : {"ls -l", "printf [%s] \"a b\"", "git log --oneline", "a=b c"}) {
        EXPECT_FALSE(io::needs_shell(text)) << text;
    }
}

TEST(CommandText, TurnsEveryLineEndIntoLineFeed) {
    EXPECT_EQ(io::normalize_line_ends("a\r\nb\rc\n\r\r\n"), "a\nb\nc\n\n\n");
    EXPECT_EQ(io::normalize_line_ends("\r"), "\n");
    EXPECT_EQ(io::normalize_line_ends(""), "");
}

TEST(CommandText, RebuildsTheCommandLineQuotingBlanks) {
    EXPECT_EQ(io::command_line_text({"zol", "script.zol", "a b", "", "c\td", "e"}),
              "zol script.zol \"a b\" \"\" \"c\td\" e");
    EXPECT_EQ(io::command_line_text({}), "");
}

}  // namespace
}  // namespace zol::test
