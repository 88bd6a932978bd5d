// Linux child processes: posix_spawnp with the standard streams set up by dup2 actions, one poll loop that
// feeds the input pipe and drains the output and error pipes together (so a child that writes much while it
// reads, or fills one pipe while the other is read, never blocks), and uname and os-release for os-info.
#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace zol::platform {

namespace {

// A file descriptor that closes itself, so every way out of a run (an error raised while output is kept
// included) leaves no descriptor open.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Children started without waiting, until they are reaped.
std::vector<pid_t> g_unwaited;
bool g_reap_at_exit = false;

void remember_unwaited(pid_t pid) {
    g_unwaited.push_back(pid);  // room reserved before the child started: this cannot allocate
    if (!g_reap_at_exit) {
        g_reap_at_exit = true;
        std::atexit(reap_children);
    }
}

// A descriptor moved above the three standard ones (close-on-exec kept): a dup2 onto 0, 1 or 2 in the child
// then never has the same number on both sides, which would leave close-on-exec set, nor overwrites a
// descriptor that a later dup2 still reads.
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int open_fd(const char* path, int flags) { return above_standard(open(path, flags | O_CLOEXEC, 0666)); }

// A pipe of close-on-exec descriptors: ends[0] to read, ends[1] to write.
bool open_pipe(Fd ends[2]) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    ends[0].reset(above_standard(fds[0]));
    ends[1].reset(above_standard(fds[1]));
    return ends[0] && ends[1];
}

// The child's end and the parent's end of each standard stream. A stream taken from the parent has neither.
struct Plumbing {
    Fd child[3];
    Fd parent[3];
};

bool set_up(ChildStream streams[3], Plumbing* p) {
    for (int i = 0; i < 3; i++) {
        ChildStream& s = streams[i];
        bool input = i == 0;
        switch (s.kind) {
            case StreamKind::parent: continue;
            case StreamKind::null: p->child[i].reset(open_fd("/dev/null", input ? O_RDONLY : O_WRONLY)); break;
            case StreamKind::file:
                p->child[i].reset(open_fd(s.path.c_str(), input ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND));
                break;
            case StreamKind::data:
            case StreamKind::capture: {
                // The child reads its input from the pipe, and writes its output into it.
                Fd ends[2];
                if (!open_pipe(ends)) return false;
                p->child[i].reset(ends[input ? 0 : 1].release());
                p->parent[i].reset(ends[input ? 1 : 0].release());
                fcntl(p->parent[i].get(), F_SETFL, fcntl(p->parent[i].get(), F_GETFL) | O_NONBLOCK);
                break;
            }
        }
        if (!p->child[i]) return false;
    }
    return true;
}

// posix_spawnp's answer: 0, or the error that kept the program from starting.
int spawn(const std::vector<std::string>& argv, const Plumbing& p, pid_t* pid) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; i++) {
        if (p.child[i]) posix_spawn_file_actions_adddup2(&actions, p.child[i].get(), i);
    }
    // The parent ignores SIGPIPE so that a closed reader ends its own writes with an error; an ignored
    // signal survives exec, and a child must die of it as programs expect. Nothing stays blocked either.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attr, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &signals);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    int error = posix_spawnp(pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Writes the input and reads the output and error as each pipe is ready, until every pipe is closed: the
// input once written (or refused: a child that stops reading loses the rest), a capture at its end or on
// a read error.
void pump(ChildStream streams[3], Fd parent[3]) {
    const std::string& input = streams[0].bytes;
    size_t sent = 0;
    if (parent[0] && input.empty()) parent[0].reset();
    char buffer[65536];
    for (;;) {
        pollfd polled[3];
        int which[3];
        nfds_t n = 0;
        for (int i = 0; i < 3; i++) {
            if (!parent[i]) continue;
            polled[n] = {parent[i].get(), short(i == 0 ? POLLOUT : POLLIN), 0};
            which[n++] = i;
        }
        if (n == 0) return;
        if (poll(polled, n, -1) < 0) {
            if (errno == EINTR) continue;
            return;  // closing the pipes below ends the child's part of the exchange
        }
        for (nfds_t k = 0; k < n; k++) {
            if (polled[k].revents == 0) continue;
            int i = which[k];
            Fd& fd = parent[i];
            if (i == 0) {
                size_t chunk = std::min(input.size() - sent, sizeof buffer);
                ssize_t w = write(fd.get(), input.data() + sent, chunk);
                if (w > 0) sent += size_t(w);
                if (sent == input.size() || (w < 0 && errno != EAGAIN && errno != EINTR)) fd.reset();
            } else {
                ssize_t r = read(fd.get(), buffer, sizeof buffer);
                if (r > 0) {
                    streams[i].bytes.append(buffer, size_t(r));
                } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                    fd.reset();
                }
            }
        }
    }
}

int32_t wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An os-release value: the text after "=", its quotes taken off and, inside double quotes, the backslash
// escapes of the shell resolved.
std::string release_value(const std::string& raw) {
    if (raw.size() < 2 || (raw[0] != '"' && raw[0] != '\'')) return raw;
    char quote = raw[0];
    std::string out;
    for (size_t i = 1; i < raw.size() && raw[i] != quote; i++) {
        if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) i++;
        out += raw[i];
    }
    return out;
}

}  // namespace

ChildStart run_child(const std::vector<std::string>& argv, ChildStream streams[3], bool wait, int32_t* result) {
    reap_children();
    if (argv.empty() || argv[0].empty()) return ChildStart::not_found;
    Plumbing plumbing;
    if (!set_up(streams, &plumbing)) return ChildStart::failed;
    bool pipes = false;
    for (int i = 0; i < 3; i++) pipes = pipes || plumbing.parent[i];
    g_unwaited.reserve(g_unwaited.size() + 1);

    pid_t pid;
    int error = spawn(argv, plumbing, &pid);
    // ENOEXEC: a file without the header of a program (a script without #!), which the shell still runs.
    if (error == ENOENT || error == ENOEXEC) return ChildStart::not_found;
    if (error != 0) return ChildStart::failed;
    for (Fd& fd : plumbing.child) fd.reset();

    if (!wait && !pipes) {
        remember_unwaited(pid);
        *result = int32_t(pid);
        return ChildStart::started;
    }
    // Should keeping the output raise (no memory), the pipes close as the error passes and the child is
    // reaped later instead of waited for.
    struct Unwaited {
        pid_t pid;
        bool waited = false;
        ~Unwaited() {
            if (!waited) remember_unwaited(pid);
        }
    } guard{pid};
    pump(streams, plumbing.parent);
    guard.waited = true;
    *result = wait_for(pid);
    return ChildStart::started;
}

void reap_children() {
    std::erase_if(g_unwaited, [](pid_t pid) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

SystemDescription describe_system() {
    SystemDescription d;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("PRETTY_NAME=", 0) == 0) d.pretty_name = release_value(line.substr(12));
        }
        break;
    }
    utsname u;
    if (uname(&u) == 0) {
        d.machine = u.machine;
        d.release = u.release;
    }
    return d;
}

}  // namespace zol::platform
