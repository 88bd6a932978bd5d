// Linux implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/random.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "sanitizer.h"

namespace zol::platform {

namespace {

WriteStatus write_all(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A stream left non-blocking by whoever shares it: wait until it takes more.
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return errno == EPIPE ? WriteStatus::closed : WriteStatus::failed;
        }
        bytes += n;
        length -= size_t(n);
    }
    return WriteStatus::ok;
}

thread_local uintptr_t t_stack_low = 0;

}  // namespace

namespace {

// Address space below the C allocator's huge-page part, taken once and never touched.
void* g_heap_filler = nullptr;

// The C allocator's heap in huge pages. Start-up fills a megabyte or two of tables and buffers, and each
// 4 KiB page of it would cost a page fault of its own: on a virtual machine the larger part of running an
// empty script. The heap is made to grow in steps of 8 MiB, a block reaching up to the next 2 MiB boundary
// is allocated and left untouched (address space only), and the heap above it is marked for huge pages,
// which the system gives when it has them. Sanitizer builds have an allocator of their own.
void heap_in_huge_pages() {
#if !defined(ZOL_ADDRESS_SANITIZER)
    if (g_heap_filler) return;
    constexpr uintptr_t HUGE_PAGE = uintptr_t(2) << 20;
    mallopt(M_TOP_PAD, int(4 * HUGE_PAGE));
    void* probe = malloc(16);  // where the next block of the heap starts
    uintptr_t start = reinterpret_cast<uintptr_t>(probe);
    free(probe);
    uintptr_t boundary = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (boundary - start < 4096) boundary += HUGE_PAGE;
    // The filler must come from the heap, not from a mapping of its own.
    mallopt(M_MMAP_THRESHOLD, int(4 * HUGE_PAGE));
    g_heap_filler = malloc(boundary - start - 64);
    mallopt(M_MMAP_THRESHOLD, 128 << 10);  // the allocator's usual threshold
    uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
    if (g_heap_filler && end > boundary) madvise(reinterpret_cast<void*>(boundary), end - boundary, MADV_HUGEPAGE);
#endif
}

}  // namespace

void init() {
    // A closed reader must end writes with an error, not kill the process.
    signal(SIGPIPE, SIG_IGN);
    heap_in_huge_pages();
}

bool stdout_is_terminal() { return isatty(1) == 1; }
WriteStatus write_stdout(const char* bytes, size_t length) { return write_all(1, bytes, length); }
WriteStatus write_stderr(const char* bytes, size_t length) { return write_all(2, bytes, length); }
void exit_process(int status) { std::exit(status); }

bool read_stdin_line(std::string* line) {
    line->clear();
    char c;
    for (;;) {
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line->empty();
        if (c == '\n') return true;
        *line += c;
    }
}

bool read_whole_file(const std::string& path, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    content->clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        content->append(buffer, size_t(n));
    }
    close(fd);
    return true;
}

double get_time(bool precise) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    tm utc;
    gmtime_r(&secs, &utc);
    double t = utc.tm_hour * 3600.0 + utc.tm_min * 60.0 + utc.tm_sec;
    // 100 ns resolution, like the clock the date and time values were designed around.
    if (precise) t += double(ts.tv_nsec / 100) / 1e7;
    return t;
}

uint32_t zone_pack(int offset_minutes) {
    // The sign comes from the offset itself: -0:30 has no whole hours but is still west of UTC.
    uint32_t sign = offset_minutes < 0 ? 0x10 : 0;
    uint32_t magnitude = uint32_t(offset_minutes < 0 ? -offset_minutes : offset_minutes);
    uint32_t hours = (magnitude / 60) & 0x0F;
    uint32_t quarters = (magnitude % 60) / 15;
    return ((sign | hours) << 2) | quarters;
}

uint64_t monotonic_nanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

void get_now(bool utc, bool precise, uint32_t* date, double* time_of_day) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t now = ts.tv_sec;
    tm t;
    uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &t);
    } else {
        localtime_r(&now, &t);
        zone = zone_pack(int(t.tm_gmtoff / 60));
    }
    *date = (uint32_t(t.tm_year + 1900) << 17) | (uint32_t(t.tm_mon + 1) << 12) | (uint32_t(t.tm_mday) << 7) | zone;
    *time_of_day = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
    if (precise) *time_of_day += double(ts.tv_nsec / 100) / 1e7;
}

uint32_t get_date(bool utc) {
    uint32_t date;
    double time_of_day;
    get_now(utc, false, &date, &time_of_day);
    return date;
}

uint32_t sleep_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // also catches NaN and negative values
    if (ms > 4294967295.0) return 0xFFFFFFFFu;
    return uint32_t(ms);
}

void sleep_seconds(double seconds) {
    uint32_t ms = sleep_milliseconds(seconds);
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::optional<std::string> get_env(const std::string& name) {
    const char* v = ::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

bool set_env(const std::string& name, const std::string* value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    if (!value) return ::unsetenv(name.c_str()) == 0;
    return ::setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> out;
    for (char** e = environ; e && *e; e++) {
        const char* eq = std::strchr(*e, '=');
        if (!eq || eq == *e) continue;  // no name: nothing a map could key it by
        out.emplace_back(std::string(*e, size_t(eq - *e)), std::string(eq + 1));
    }
    return out;
}

std::string get_current_dir() {
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            buf.resize(std::strlen(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
}

bool set_current_dir(const std::string& path) {
    return path.find('\0') == std::string::npos && ::chdir(path.c_str()) == 0;
}

void* map_pages(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void unmap_pages(void* pages, size_t bytes) {
    if (pages) munmap(pages, bytes);
}

void* map_aligned_pages(size_t bytes, size_t align) {
    // Map align more than asked, then give back what lies before the aligned start and after its end.
    auto* p = static_cast<uint8_t*>(map_pages(bytes + align));
    if (!p) return nullptr;
    auto start = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + align - 1) & ~uintptr_t(align - 1));
    if (start > p) munmap(p, size_t(start - p));
    size_t after = size_t(p + bytes + align - (start + bytes));
    if (after) munmap(start + bytes, after);
#ifdef MADV_HUGEPAGE
    madvise(start, bytes, MADV_HUGEPAGE);  // a hint: without large pages the memory works the same
#endif
    return start;
}

void discard_pages(void* pages, size_t bytes) { madvise(pages, bytes, MADV_DONTNEED); }

void secure_random_bytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t n = ::getrandom(p, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::abort();  // the kernel's random source never fails on supported systems
        }
        p += n;
        length -= size_t(n);
    }
}

namespace {

struct ThreadStart {
    void (*fn)(void*);
    void* arg;
};

uintptr_t query_stack_low() {
    uintptr_t low = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0) low = reinterpret_cast<uintptr_t>(addr);
        pthread_attr_destroy(&attr);
    }
    return low;
}

void* thread_main(void* raw) {
    auto* start = static_cast<ThreadStart*>(raw);
    t_stack_low = query_stack_low();
    start->fn(start->arg);
    return nullptr;
}

#if !defined(ZOL_ADDRESS_SANITIZER)
// The stack switch: the context that runs fn on the mapped stack, and the one it returns to.
ucontext_t g_caller_context;
ucontext_t g_stack_context;
ThreadStart g_stack_start;
uintptr_t g_switched_low = 0;
uintptr_t g_saved_low = 0;

void stack_entry() {
    t_stack_low = g_switched_low;
    g_stack_start.fn(g_stack_start.arg);
}

// Runs fn on a stack of its own mapped here, on this thread; false when the system gives no such stack.
// What must survive the switch lives in globals, not in locals that getcontext could leave stale.
void* g_stack_region = nullptr;
size_t g_stack_region_bytes = 0;

bool run_on_mapped_stack(size_t stack_bytes, void (*fn)(void*), void* arg) {
    if (g_stack_region) return false;  // one switched stack at a time: a nested run takes a thread
    size_t guard = size_t(sysconf(_SC_PAGESIZE));
    g_stack_region_bytes = ((stack_bytes + guard - 1) & ~(guard - 1)) + guard;
    g_stack_region = mmap(nullptr, g_stack_region_bytes, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (g_stack_region == MAP_FAILED) {
        g_stack_region = nullptr;
        return false;
    }
    // The lowest page is the guard: running past the bottom faults there instead of writing below.
    mprotect(g_stack_region, guard, PROT_NONE);
    g_switched_low = reinterpret_cast<uintptr_t>(g_stack_region) + guard;
    g_stack_start = ThreadStart{fn, arg};
    if (getcontext(&g_stack_context) != 0) {
        munmap(g_stack_region, g_stack_region_bytes);
        g_stack_region = nullptr;
        return false;
    }
    g_stack_context.uc_stack.ss_sp = reinterpret_cast<void*>(g_switched_low);
    g_stack_context.uc_stack.ss_size = g_stack_region_bytes - guard;
    g_stack_context.uc_link = &g_caller_context;
    makecontext(&g_stack_context, stack_entry, 0);
    g_saved_low = t_stack_low;
    swapcontext(&g_caller_context, &g_stack_context);
    t_stack_low = g_saved_low;
    munmap(g_stack_region, g_stack_region_bytes);
    g_stack_region = nullptr;
    return true;
}
#endif

}  // namespace

void run_with_stack(size_t stack_bytes, void (*fn)(void*), void* arg) {
    // One thread allocates, so one arena serves: the C allocator then keeps no reserve of address space per
    // thread, which a limit on the address space (ulimit -v) would feel.
    mallopt(M_ARENA_MAX, 1);
    // Under such a limit a stack of this size would leave the heap little or nothing: it takes at most a
    // quarter of the limit instead (the depth guard measures whatever stack the thread has).
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && stack_bytes > limit.rlim_cur / 4) {
        stack_bytes = size_t(limit.rlim_cur / 4);
    }
#if !defined(ZOL_ADDRESS_SANITIZER)
    if (run_on_mapped_stack(stack_bytes, fn, arg)) return;
#endif
    ThreadStart start{fn, arg};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_bytes);
    pthread_t thread;
    if (pthread_create(&thread, &attr, thread_main, &start) != 0) {
        // Without a thread of our own, run here: the stack guard still knows this stack's bounds.
        pthread_attr_destroy(&attr);
        thread_main(&start);
        return;
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
}

uintptr_t native_stack_low() {
    if (t_stack_low == 0) t_stack_low = query_stack_low();
    return t_stack_low;
}

namespace {

void (*g_fault_report)(int, uintptr_t) = nullptr;

int fault_code(int sig, int si_code) {
    switch (sig) {
        case SIGSEGV: return 32;  // "segmentation fault"
        case SIGBUS: return 34;   // "Bus error"
        case SIGILL: return 17;   // "illegal instruction"
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                default: return 33;  // "FPU error"
            }
        default: return 99;
    }
}

void on_fault(int sig, siginfo_t* info, void*) {
    int code = fault_code(sig, info->si_code);
    if (g_fault_report) g_fault_report(code, reinterpret_cast<uintptr_t>(info->si_addr));
    _exit(code);
}

}  // namespace

void install_fault_handlers(void (*report)(int code, uintptr_t address)) {
    g_fault_report = report;
    // The handler runs on a stack of its own so that a machine-stack overflow can still be reported. A
    // thread that has one already keeps it: a sanitizer gives each thread its own and frees it as the
    // thread ends, which fails on any other.
    static char alt_stack[64 * 1024];
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE)) {
        stack_t ss{};
        ss.ss_sp = alt_stack;
        ss.ss_size = sizeof alt_stack;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa{};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &sa, nullptr);
}

}  // namespace zol::platform
