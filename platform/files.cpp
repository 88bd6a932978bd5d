// Files and directories on Linux: descriptors, status, directory listings, renaming without replacing.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform.h"

namespace zol::platform {

namespace {

// A path the system would cut at its first NUL byte names another file than the one asked for.
bool usable(const std::string& path) { return path.find('\0') == std::string::npos; }

}  // namespace

int file_open(const std::string& path, OpenMode mode) {
    if (!usable(path)) return -1;
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::read: flags |= O_RDONLY; break;
        case OpenMode::write_new: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case OpenMode::write_keep: flags |= O_WRONLY | O_CREAT; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 || mode != OpenMode::read) return fd;
    // Linux opens a directory for reading; its reads would fail with EISDIR.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

int64_t file_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;
}

bool file_seek(int fd, int64_t offset) { return offset >= 0 && ::lseek(fd, off_t(offset), SEEK_SET) == off_t(offset); }

bool file_seek_end(int fd) { return ::lseek(fd, 0, SEEK_END) >= 0; }

int64_t file_read(int fd, void* buffer, size_t count) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

bool file_write(int fd, const void* bytes, size_t count) {
    auto* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        ssize_t n = ::write(fd, p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= size_t(n);
    }
    return true;
}

// A close interrupted by a signal has still released the descriptor on Linux: it must not be retried.
bool file_close(int fd) { return ::close(fd) == 0 || errno == EINTR; }

bool path_info(const std::string& path, PathInfo* info) {
    struct stat st;
    if (!usable(path) || ::stat(path.c_str(), &st) != 0) return false;
    info->directory = S_ISDIR(st.st_mode);
    info->size = int64_t(st.st_size);
    info->modified_seconds = int64_t(st.st_mtim.tv_sec);
    info->modified_nanoseconds = int32_t(st.st_mtim.tv_nsec);
    return true;
}

bool make_directory(const std::string& path) { return usable(path) && ::mkdir(path.c_str(), 0777) == 0; }

bool remove_file(const std::string& path) { return usable(path) && ::unlink(path.c_str()) == 0; }

bool remove_directory(const std::string& path) { return usable(path) && ::rmdir(path.c_str()) == 0; }

bool rename_no_replace(const std::string& from, const std::string& to) {
    if (!usable(from) || !usable(to)) return false;
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u /* RENAME_NOREPLACE */) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot rename atomically without replacing: look first. Another process could
    // still make the target between the look and the rename.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool list_directory(const std::string& path, std::vector<DirEntry>* entries) {
    if (!usable(path)) return false;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    std::string base = path;
    if (!base.empty() && base.back() != '/') base += '/';
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e) break;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            directory = ::stat((base + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries->push_back({e->d_name, directory});
    }
    bool complete = errno == 0;
    ::closedir(dir);
    return complete;
}

}  // namespace zol::platform
