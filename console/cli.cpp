// The command-line front-end.
#include "cli.h"

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "platform/platform.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"

namespace zol {

namespace {

void print_to_stdout(const Cell* text, bool newline) {
    Series* s = cell_series(text);
    console_write(s->head_ptr() + uint64_t(series_index(text)) * s->unit(), s->used() - series_index(text), s->unit(),
                  newline);
}

void write_line(const std::string& text) {
    std::string line = text + "\n";
    console_write_utf8(line.data(), line.size());
}

// Standard output refused a write: the reader has gone or the disk is full. The error can be caught; left
// uncaught it ends the process (quietly when the reader has gone, see report_uncaught).
[[noreturn]] void raise_cannot_write(platform::WriteStatus) {
    static const char name[] = "/dev/stdout";
    GcRoot file;
    string_make(file.get());
    string_append_utf8(file.get(), reinterpret_cast<const uint8_t*>(name), sizeof name - 1);
    cell_set_type(file.get(), TYPE_FILE);
    fire(ERR_ACCESS_CANNOT_WRITE, file.get());
}

int run_script(const std::string& path) {
    std::string source;
    if (!platform::read_whole_file(path, &source)) {
        std::string message = "*** Access Error: cannot open: " + path + "\n";
        platform::write_stderr(message.data(), message.size());
        return 254;
    }
    GcRoot code, file;
    string_make(file.get());
    string_append_utf8(file.get(), reinterpret_cast<const uint8_t*>(path.data()), path.size());
    cell_set_type(file.get(), TYPE_FILE);
    load_script(reinterpret_cast<const uint8_t*>(source.data()), source.size(), code.get(), nullptr, file.get());
    // No try frame: an error that the script does not catch is reported and ends the process.
    eval_block(code.get(), true);
    if (unwind_pending()) g_system.pending = UNWIND_NONE;
    return 0;
}

// Whether an error says that the input stops inside an open block, paren or string.
bool incomplete(const Cell* error) { return error_id(error) == ERR_SYNTAX_MISSING; }

// Runs `step` inside a try frame: false, with the error in `error`, when it raised one.
template <class Step>
bool guarded(Step step, Cell* error) {
    stack_mark_try(&g_word[W_TRY]);
    try {
        step();
        unwind_frame_drop();
        return true;
    } catch (const ErrorUnwind&) {
        *error = *stack_top();
        try_set_error_result();
        g_system.pending = UNWIND_NONE;
        return false;
    }
}

// Molding a result or forming an error runs user code (handlers, bad values) and can raise in turn.
std::string error_text(const Cell* error) {
    std::string text;
    GcRoot again;
    if (guarded([&] { text = error_form_text(error); }, again.get())) return text;
    return "*** Error: the error could not be formed";
}

// Reads and runs lines until the end of input; returns the process's status.
int run_console() {
    std::string input, line;
    for (;;) {
        if (platform::stdout_is_terminal()) {
            const char* prompt = input.empty() ? ">> " : "   ";
            console_write_utf8(prompt, 3);
        }
        bool more = platform::read_stdin_line(&line);
        if (more) input += line + "\n";
        if (!more && input.empty()) return 0;
        GcRoot code, result, error;
        stack_reset();
        bool loaded = guarded(
            [&] { load_global(reinterpret_cast<const uint8_t*>(input.data()), input.size(), code.get()); },
            error.get());
        // Only the typed text itself being unfinished waits for more lines; at the end of input it is the
        // syntax error a script would report.
        if (!loaded && incomplete(error.get())) {
            if (more) continue;
            std::string text = error_text(error.get()) + "\n";
            platform::write_stderr(text.data(), text.size());
            return 254;
        }
        input.clear();
        std::string text;
        if (loaded && guarded([&] { eval_block(code.get(), false); *result = *stack_top(); }, error.get())) {
            if (unwind_pending()) {
                g_system.pending = UNWIND_NONE;
                continue;
            }
            if (cell_is(result.get(), TYPE_UNSET)) continue;
            if (!guarded([&] { text = "== " + mold_text(result.get()); }, error.get())) text = error_text(error.get());
        } else {
            text = error_text(error.get());
        }
        write_line(text);
    }
}

}  // namespace

int front_end_run(const std::vector<std::string>& args) {
    output_hooks_register(print_to_stdout, nullptr);
    output_set_failure_hook(raise_cannot_write);
    size_t i = 0;
    if (i < args.size() && args[i] == "--cli") i++;
    if (i < args.size()) return run_script(args[i]);
    return run_console();
}

}  // namespace zol
