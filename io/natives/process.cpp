// call and browse: a command text becomes the arguments of a program (or a /bin/sh -c command line), its
// standard streams are taken from the call's refinements, and what it printed is added to the values given
// to keep it. The child itself is run by platform/process.
#include "io/natives/process.h"

#include <string>
#include <vector>

#include "interpreter/dispatch.h"
#include "interpreter/natives/natives.h"
#include "io/natives.h"
#include "platform/process.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::io {

namespace {

using natives::arg;
using natives::present;
using natives::ref_arg;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A command line for /bin/sh -c that runs one program by its path, whatever characters the path holds.
std::string shell_quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::vector<std::string> shell_command(const std::string& text) { return {"/bin/sh", "-c", text}; }

// The standard stream of the child that one of /input, /output or /error names: a file! is the file
// itself; other values give the bytes to send (input) or ask for what the child writes (output, error).
// Without the refinement the child reads the caller's input and its output and error are discarded.
platform::ChildStream stream_of(const Cell* value, bool input) {
    platform::ChildStream s;
    if (!value) {
        s.kind = input ? platform::StreamKind::parent : platform::StreamKind::null;
    } else if (cell_is(value, TYPE_FILE)) {
        s.kind = platform::StreamKind::file;
        s.path = file_local_path(value);
    } else if (!input) {
        s.kind = platform::StreamKind::capture;
    } else {
        s.kind = platform::StreamKind::data;
        if (cell_is(value, TYPE_BINARY)) {
            uint32_t length;
            const uint8_t* bytes = binary_head(value, &length);
            s.bytes.assign(reinterpret_cast<const char*>(bytes), length);
        } else {
            s.bytes = string_to_utf8(value);
        }
    }
    return s;
}

// Adds what the child wrote to the value that asked for it, through the value's own action so that its
// owner hears of the change: a binary! gets the bytes inserted at its position, a string! the text
// appended.
void deliver(const Cell* target, const std::string& bytes) {
    if (bytes.empty()) return;
    GcRoot piece;
    bool binary = cell_is(target, TYPE_BINARY);
    if (binary) {
        binary_load_at(piece.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } else {
        std::string text = normalize_line_ends(bytes);
        string_make(piece.get(), uint32_t(text.size()));
        string_append_utf8(piece.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    Cell* series = stack_push(target);
    if (binary) {
        action_of<ACT_INSERT>(series)(series, piece.get(), -1, false, 1, false);
    } else {
        action_of<ACT_APPEND>(series)(series, piece.get(), -1, false, 1, true);
    }
    stack_pop(1);
}

}  // namespace

std::vector<std::string> split_command(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool in_argument = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            in_argument = true;  // "" is an empty argument
        } else if (is_blank(c) && !quoted) {
            if (in_argument) args.push_back(current);
            current.clear();
            in_argument = false;
        } else {
            current += c;
            in_argument = true;
        }
    }
    if (in_argument) args.push_back(current);
    return args;
}

bool needs_shell(const std::string& text) { return text.find_first_of("|&;<>()$`*?~'\\\n") != std::string::npos; }

std::string normalize_line_ends(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); i++) {
        if (bytes[i] != '\r') {
            out += bytes[i];
        } else {
            out += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') i++;
        }
    }
    return out;
}

std::string command_line_text(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        if (quote) line += '"';
        line += a;
        if (quote) line += '"';
    }
    return line;
}

// call cmd /wait /show /console /shell /input in /output out /error err
// The result: the exit status once the child ended (waiting), its process id (not waiting), or -1 when
// it could not be started. /show asks for a window the child does not have here, and is ignored.
uint32_t native_call(const int32_t* refs) {
    const Cell* cmd = arg(0);
    std::string text = cell_is(cmd, TYPE_FILE) ? file_local_path(cmd) : string_to_utf8(cmd);
    int32_t result = 0;
    if (!text.empty()) {
        if (present(refs, 2)) fire(ERR_INTERNAL_NOT_DONE);
        const Cell* in = ref_arg(refs, 4);
        const Cell* out = ref_arg(refs, 5);
        const Cell* err = ref_arg(refs, 6);
        platform::ChildStream streams[3] = {stream_of(in, true), stream_of(out, false), stream_of(err, false)};
        // Any redirection makes the call wait for the child.
        bool wait = present(refs, 0) || in || out || err;

        // A file! names one program; a text is split into its arguments unless it is written for the shell.
        bool file = cell_is(cmd, TYPE_FILE);
        bool shell = !file && (present(refs, 3) || needs_shell(text));
        std::vector<std::string> argv = file    ? std::vector<std::string>{text}
                                        : shell ? shell_command(text)
                                                : split_command(text);
        if (!argv.empty()) {
            result = -1;
            platform::ChildStart started = platform::run_child(argv, streams, wait, &result);
            // A program that is not there may be what the shell knows: a built-in, a function, a script
            // without the header of a program.
            if (started == platform::ChildStart::not_found && !shell) {
                started = platform::run_child(shell_command(file ? shell_quoted(text) : text), streams, wait, &result);
            }
            if (started != platform::ChildStart::started) result = -1;
            if (out && streams[1].kind == platform::StreamKind::capture) deliver(out, streams[1].bytes);
            if (err && streams[2].kind == platform::StreamKind::capture) deliver(err, streams[2].bytes);
        }
    }
    set_integer(g_args.base, result);
    stack_keep_result();
    return 0;
}

// browse url: the desktop's handler for it opens it; nothing waits for it.
uint32_t native_browse(const int32_t*) {
    const Cell* target = arg(0);
    platform::ChildStream streams[3];
    for (platform::ChildStream& s : streams) s.kind = platform::StreamKind::null;
    int32_t pid;
    platform::ChildStart started = platform::run_child({"xdg-open", string_to_utf8(target)}, streams, false, &pid);
    if (started != platform::ChildStart::started) fire(ERR_ACCESS_CANNOT_OPEN, target);
    natives::result_unset();
    return 0;
}

}  // namespace zol::io
