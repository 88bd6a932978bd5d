// The layer between the runtime and the operating system. It is the only place that includes OS headers;
// everything the runtime needs of Linux (output streams, time and zone, environment, current directory,
// sleeping, secure random bytes, threads with a large stack, fault signals) goes through here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zol::platform {

// Process-wide start: called once by the runtime initialisation.
void init();

// Standard streams. A write either takes all the bytes or fails: closed when the reading end of a pipe has
// gone (the write signal is ignored, so the process lives on to say so), failed for any other reason
// (a full disk, an I/O error, a stream that was never open).
enum class WriteStatus { ok, closed, failed };
bool stdout_is_terminal();
WriteStatus write_stdout(const char* bytes, size_t length);
WriteStatus write_stderr(const char* bytes, size_t length);
// Reads one line from standard input without its line break; false at the end of input.
bool read_stdin_line(std::string* line);
// Reads a whole file; false when it cannot be opened or read.
bool read_whole_file(const std::string& path, std::string* content);
[[noreturn]] void exit_process(int status);

// Time. get_time: UTC seconds since midnight (with the fraction of the second when precise).
// get_date: today packed as year << 17 | month << 12 | day << 7 | zone (zone 0 with utc).
double get_time(bool precise);
uint32_t get_date(bool utc);
// Both from one reading of the clock, so that they never straddle a midnight: the packed date as get_date
// gives it, and the time of day on that date's clock (local, or UTC with utc) in seconds, with the fraction
// of the second when precise.
void get_now(bool utc, bool precise, uint32_t* date, double* time_of_day);
// The 7-bit zone field of a packed date for an offset from UTC in minutes: hours (magnitude with sign
// bit 0x10) << 2 | quarter hours.
uint32_t zone_pack(int offset_minutes);
// Sleeps the given seconds; anything under a millisecond sleeps one millisecond.
void sleep_seconds(double seconds);
// The number of whole milliseconds a sleep of this many seconds lasts.
uint32_t sleep_milliseconds(double seconds);
// A clock that only moves forward, for measuring how long something took.
uint64_t monotonic_nanoseconds();

// Environment and current directory.
std::optional<std::string> get_env(const std::string& name);
bool set_env(const std::string& name, const std::string* value);  // null value removes the variable
// The process's environment as name and value pairs, in the order the environment holds them.
std::vector<std::pair<std::string, std::string>> environment();
std::string get_current_dir();
bool set_current_dir(const std::string& path);

// Files and directories (files.cpp). Paths are the bytes the system takes; a path holding a NUL byte names
// no file, and every call below fails for it rather than act on the shorter path the system would see.
enum class OpenMode { read, write_new, write_keep };  // write_new empties the file, write_keep leaves it
// A descriptor, or -1. A directory opened for reading counts as a failure: its bytes cannot be read.
int file_open(const std::string& path, OpenMode mode);
// The size the system reports (0 for pipes and for files such as those of /proc), or -1.
int64_t file_size(int fd);
bool file_seek(int fd, int64_t offset);
bool file_seek_end(int fd);
// Reads until count bytes are in or the file ends; the bytes read, or -1.
int64_t file_read(int fd, void* buffer, size_t count);
// Writes all the bytes; false when the system refuses some (a full disk, an I/O error).
bool file_write(int fd, const void* bytes, size_t count);
bool file_close(int fd);

struct PathInfo {
    bool directory = false;
    int64_t size = 0;
    int64_t modified_seconds = 0;      // since 1970-01-01 UTC
    int32_t modified_nanoseconds = 0;
};
// What the system tells of a path (following symbolic links); false when it tells nothing.
bool path_info(const std::string& path, PathInfo* info);
bool make_directory(const std::string& path);
bool remove_file(const std::string& path);
bool remove_directory(const std::string& path);
// Renames, never replacing what the new path names already.
bool rename_no_replace(const std::string& from, const std::string& to);
struct DirEntry {
    std::string name;
    bool directory;
};
// The entries of a directory but "." and "..", in the order the system gives them; false when it cannot be
// read. An entry that is a symbolic link counts as a directory when it leads to one.
bool list_directory(const std::string& path, std::vector<DirEntry>* entries);

// Address space straight from the system, outside the C allocator: null when the system has none left.
// Releasing it gives the room back to every kind of allocation at once.
void* map_pages(size_t bytes);
void unmap_pages(void* pages, size_t bytes);
// As map_pages, aligned to align (a power of two that divides bytes), and backed by large pages where the
// system can: touching such memory for the first time then costs one fault per large page, not one per
// page, but the whole large page counts as used from its first touch.
void* map_aligned_pages(size_t bytes, size_t align);
// Gives the memory behind part of a mapping back to the system; the range stays mapped and reads as zeros.
void discard_pages(void* pages, size_t bytes);

// Cryptographically secure random bytes.
void secure_random_bytes(void* buffer, size_t length);

// Runs fn(arg) on a machine stack of the given size and returns when it ends: the calling thread switches to
// a stack mapped for it (a new thread would cost a start-up more than everything else it does), or, in
// sanitizer builds, which follow only threads' stacks, a new thread runs it. Either records the stack's
// bounds (native_stack_low) before calling fn.
void run_with_stack(size_t stack_bytes, void (*fn)(void*), void* arg);
// Lowest address of the calling thread's machine stack (0 when unknown).
uintptr_t native_stack_low();

// Installs handlers that report processor faults (segmentation fault, bus error, illegal instruction,
// arithmetic traps) through the callback with the runtime error code and the faulting address.
void install_fault_handlers(void (*report)(int code, uintptr_t address));

}  // namespace zol::platform
