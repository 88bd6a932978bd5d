// The local HTTP server of the HTTP tests (tests/http/server.py): started on 127.0.0.1 on a port it picks
// itself, stopped by its owner's destructor. Its standard input is a pipe from this process, so it also ends
// when this process does, however that happens.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

namespace zol::test {

class LocalHttpServer {
public:
    // Starts the server and waits for its port; port() is 0 when it could not be started.
    LocalHttpServer() {
        int to_server[2], from_server[2];
        if (pipe2(to_server, O_CLOEXEC) != 0) return;
        if (pipe2(from_server, O_CLOEXEC) != 0) {
            close(to_server[0]);
            close(to_server[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to_server[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from_server[1], 1);
        std::string script = std::string(ZOL_SOURCE_DIR) + "/tests/http/server.py";
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(script.c_str()), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(to_server[0]);
        close(from_server[1]);
        input_ = to_server[1];
        if (pid_ > 0) port_ = read_port(from_server[0]);
        close(from_server[0]);
    }
    ~LocalHttpServer() {
        if (input_ >= 0) close(input_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    // The first line the server prints. A loaded machine may take seconds to start python.
    static int read_port(int fd) {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        char c;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{fd, POLLIN, 0};
            if (left.count() <= 0) break;
            int polled = poll(&ready, 1, int(left.count()));
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) break;
            ssize_t n = read(fd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (c == '\n') return std::atoi(line.c_str());
            line += c;
        }
        return 0;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens: bound for a moment to learn a free one, then let go.
inline int unused_local_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace zol::test
