// Child processes and facts about the running system: starting a program with its standard streams taken
// from the parent, the null device, a file or a pipe; feeding and draining those pipes together; waiting
// for it; and the description of the system that os-info gives.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zol::platform {

// Where one of a child's standard streams comes from or goes to.
enum class StreamKind : uint8_t {
    parent,   // the parent's own stream
    null,     // the null device
    file,     // path: read from (input), or appended to and created when missing (output, error)
    data,     // input only: the child reads bytes, then the end
    capture,  // output, error: what the child writes is kept in bytes
};

struct ChildStream {
    StreamKind kind = StreamKind::parent;
    std::string path;
    std::string bytes;
};

enum class ChildStart : uint8_t { started, not_found, failed };

// Starts argv[0] (found on PATH when it holds no slash) with the arguments, in the parent's environment and
// directory, with standard input, output and error set up as the streams say. A program that is not there
// is not_found, and nothing has run; any other failure (a file that cannot be opened, no pipe, no process)
// is failed.
// When it starts: with wait, the input is written and the captures read together until the child closes
// them, and *result is its exit status (128 + the signal's number when a signal ended it); without wait,
// *result is its process id and it is reaped once it ends (see reap_children).
ChildStart run_child(const std::vector<std::string>& argv, ChildStream streams[3], bool wait, int32_t* result);

// Collects the children started without waiting that have ended since, so none lingers as a zombie. Each
// run_child does it first, and so does the process's exit.
void reap_children();

// What the system says about itself: the PRETTY_NAME of os-release (empty when there is none), and the
// machine and kernel release from uname.
struct SystemDescription {
    std::string pretty_name;
    std::string machine;
    std::string release;
};
SystemDescription describe_system();

}  // namespace zol::platform
