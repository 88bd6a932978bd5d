// File and directory I/O over the platform layer's descriptors and listings.
#include "io/files.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/platform.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/values/mold.h"

namespace zol::io {

namespace {

// Closes a descriptor however the scope ends (an error raised while reading unwinds through here).
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) platform::file_close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; false when the system reports that data may not have reached the file.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return platform::file_close(fd);
    }

private:
    int fd_;
};

// A /part or /seek argument as a count: an integer, or a number truncated toward zero. A negative count, or
// one that is no number, raises out-of-range.
int64_t count_of(const Cell* value) {
    if (cell_is(value, TYPE_INTEGER)) {
        if (cell_int(value) < 0) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
        return cell_int(value);
    }
    double d = cell_float(value);
    if (!(d >= 0 && d < 9007199254740992.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
    return int64_t(d);
}

// Bytes of a file from an offset, at most limit of them (-1 for all), into a new binary! in out (rooted).
// A file whose size the system reports is read with that size as the bound; one that reports none (a pipe,
// the files of /proc) is read to its end.
void read_bytes(const Cell* file, int64_t offset, int64_t limit, Cell* out) {
    Descriptor fd(platform::file_open(file_local_path(file), platform::OpenMode::read));
    if (fd.get() < 0) fire(ERR_ACCESS_CANNOT_OPEN, file);
    int64_t size = platform::file_size(fd.get());
    if (size < 0) fire(ERR_ACCESS_CANNOT_OPEN, file);
    if (size == 0) {
        std::vector<uint8_t> all;
        std::vector<uint8_t> piece(65536);
        uint64_t wanted = limit < 0 ? UINT64_MAX : uint64_t(offset) + uint64_t(limit);
        while (all.size() < wanted) {
            int64_t n = platform::file_read(fd.get(), piece.data(), piece.size());
            if (n < 0) fire(ERR_ACCESS_CANNOT_OPEN, file);
            if (n == 0) break;
            if (all.size() + uint64_t(n) > MAX_BUFFER_SIZE + uint64_t(offset)) fire(ERR_INTERNAL_NO_MEMORY);
            all.insert(all.end(), piece.begin(), piece.begin() + n);
        }
        uint64_t start = std::min<uint64_t>(uint64_t(offset), all.size());
        uint64_t n = std::min<uint64_t>(all.size() - start, limit < 0 ? UINT64_MAX : uint64_t(limit));
        binary_load_at(out, all.data() + start, size_t(n));
        return;
    }
    int64_t n = offset >= size ? 0 : size - offset;
    if (limit >= 0 && limit < n) n = limit;
    if (uint64_t(n) > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (n > 0 && !platform::file_seek(fd.get(), offset)) fire(ERR_ACCESS_CANNOT_OPEN, file);
    uint8_t* at = binary_make_at(out, uint32_t(n));
    // The file may have shrunk since its size was taken: what was read is what there is.
    int64_t got = n > 0 ? platform::file_read(fd.get(), at, size_t(n)) : 0;
    if (got < 0) fire(ERR_ACCESS_CANNOT_OPEN, file);
    binary_set_length(out, uint32_t(got));
}

// UTF-8 text into a new string! in out (rooted). A sequence cut by the end of the file is invalid; one cut
// by a /part limit is left out.
void decode_text(const Cell* bytes, bool limited, Cell* out) {
    uint32_t length;
    const uint8_t* p = binary_head(bytes, &length);
    uint32_t undecoded = 0;
    uint32_t node = unicode_load_utf8(p, length, 0, &undecoded, true);
    set_series(out, TYPE_STRING, node);
    if (undecoded > 0 && !limited) {
        GcRoot rest;
        p = binary_head(bytes, &length);
        binary_load_at(rest.get(), p + length - undecoded, undecoded);
        fire(ERR_ACCESS_INVALID_UTF8, rest.get());
    }
}

// A block of the text's lines as strings; a last line without LF counts when it is not empty.
void text_to_lines(const Cell* text, Cell* out) {
    block_make_at(out, 16);
    uint32_t node = series_node(text);
    uint32_t used = cell_series(text)->used();
    uint32_t start = 0;
    GcRoot line;
    for (uint32_t i = 0; i <= used; i++) {
        bool end = i == used;
        if (!end && string_char_at(text, i) != '\n') continue;
        if (end && i == start) break;
        set_series(line.get(), TYPE_STRING, series_copy_range(node, start, i - start));
        block_rs_append(out, line.get());
        start = i + 1;
    }
}

// A directory's entries as file! values, sorted by name, a subdirectory's with "/" after it.
void dir_list(const Cell* dir, Cell* out) {
    std::string path = file_local_path(dir);
    if (!path.empty() && path.back() == '.') path += '/';
    std::vector<platform::DirEntry> entries;
    if (!platform::list_directory(path, &entries)) fire(ERR_ACCESS_CANNOT_OPEN, dir);
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    block_make_at(out, int64_t(entries.size()));
    GcRoot name;
    for (const platform::DirEntry& e : entries) {
        string_make(name.get(), uint32_t(e.name.size() + 1));
        string_append_utf8(name.get(), reinterpret_cast<const uint8_t*>(e.name.data()), e.name.size());
        if (e.directory) string_append_ascii(name.get(), "/");
        cell_set_type(name.get(), TYPE_FILE);
        block_rs_append(out, name.get());
    }
}

const Cell* io_read(Cell* file, const IoArgs& args) {
    Cell* out = stack_push_cell();
    if (file_dir_path_q(file)) {
        dir_list(file, out);
        return out;
    }
    int64_t offset = args.seek ? count_of(args.seek) : 0;
    int64_t limit = args.part ? count_of(args.part) : -1;
    GcRoot bytes, text;
    read_bytes(file, offset, limit, bytes.get());
    if (args.binary) {
        *out = *bytes;
        return out;
    }
    decode_text(bytes.get(), limit >= 0, text.get());
    if (args.lines) {
        text_to_lines(text.get(), out);
    } else {
        *out = *text;
    }
    return out;
}

const Cell* io_write(Cell* file, Cell* data, const IoArgs& args) {
    int64_t limit = args.part ? count_of(args.part) : -1;
    int64_t offset = args.seek ? count_of(args.seek) : -1;
    // The bytes are made first: a value that cannot be written leaves the file as it was.
    std::string bytes = value_to_write_bytes(data, limit, args.lines);
    auto mode = args.append || offset >= 0 ? platform::OpenMode::write_keep : platform::OpenMode::write_new;
    Descriptor fd(platform::file_open(file_local_path(file), mode));
    if (fd.get() < 0) fire(ERR_ACCESS_CANNOT_OPEN, file);
    bool moved = true;
    if (args.append) {
        moved = platform::file_seek_end(fd.get());
    } else if (offset > 0) {
        moved = platform::file_seek(fd.get(), offset);
    }
    if (!moved || !platform::file_write(fd.get(), bytes.data(), bytes.size()) || !fd.close()) {
        fire(ERR_ACCESS_CANNOT_WRITE, file);
    }
    return &g_unset_value;
}

// The modification time as a UTC date!, to the millisecond; none for a path that does not exist, or that
// ends in "/" and names no directory.
const Cell* io_query(Cell* file) {
    Cell* out = stack_push_cell();
    platform::PathInfo info;
    std::string path = file_local_path(file);
    if (!platform::path_info(path, &info)) return out;
    if (!path.empty() && path.back() == '/' && !info.directory) return out;
    int64_t seconds = info.modified_seconds;
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t in_day = seconds - days * 86400;
    int32_t year, month, day;
    date_from_days(int32_t(days + date_to_days(1970, 1, 1)), &year, &month, &day);
    if (year < -16384 || year > 16383) return out;
    double time = double(in_day) + double(info.modified_nanoseconds / 1000000) / 1000.0;
    date_make_at(out, year, month, day, time, 0, true);
    return out;
}

bool io_delete(const Cell* file) {
    std::string path = file_local_path(file);
    return file_dir_path_q(file) ? platform::remove_directory(path) : platform::remove_file(path);
}

bool io_rename(const Cell* from, const Cell* to) {
    return platform::rename_no_replace(file_local_path(from), file_local_path(to));
}

void append_utf8(std::string& out, const Cell* text, int64_t limit) {
    uint32_t head = series_clamped_head(text);
    uint32_t n = string_length(text);
    if (limit >= 0 && limit < n) n = uint32_t(limit);
    uint8_t buf[4];
    for (uint32_t i = 0; i < n; i++) {
        int k = utf8_encode_char_replacing(string_char_at(text, head + i), buf);
        out.append(reinterpret_cast<char*>(buf), size_t(k));
    }
}

void append_value_bytes(std::string& out, const Cell* value, int64_t limit) {
    if (cell_is(value, TYPE_STRING)) {
        append_utf8(out, value, limit);
    } else if (cell_is(value, TYPE_BINARY)) {
        uint32_t length;
        const uint8_t* p = binary_head(value, &length);
        if (limit >= 0 && limit < length) length = uint32_t(limit);
        out.append(reinterpret_cast<const char*>(p), length);
    } else {
        GcRoot keep(*value), molded;
        string_make(molded.get(), 16);
        mold_value(keep.get(), molded.get(), MoldArgs{}, 0x7FFFFFFF);
        append_utf8(out, molded.get(), limit);
    }
}

}  // namespace

std::string value_to_write_bytes(const Cell* value, int64_t part, bool lines) {
    std::string out;
    if (!lines) {
        append_value_bytes(out, value, part);
        return out;
    }
    if (!cell_is(value, TYPE_BLOCK)) {
        append_value_bytes(out, value, -1);
        out += '\n';
        return out;
    }
    GcRoot block(*value);
    uint32_t head = series_clamped_head(block.get());
    uint32_t n = block_rs_length(block.get());
    if (part >= 0 && part < n) n = uint32_t(part);
    for (uint32_t i = 0; i < n && head + i < cell_series(block.get())->used(); i++) {
        Cell item = cell_series(block.get())->cells()[head + i];  // molding allocates: read through the node
        GcRoot keep(item);
        append_value_bytes(out, keep.get(), -1);
        out += '\n';
    }
    return out;
}

void read_file_bytes(const Cell* file, Cell* out) { read_bytes(file, 0, -1, out); }

int64_t file_size_of(const Cell* file) {
    if (file_dir_path_q(file)) return -1;
    Descriptor fd(platform::file_open(file_local_path(file), platform::OpenMode::read));
    return fd.get() < 0 ? -1 : platform::file_size(fd.get());
}

void io_files_init() { g_file_services = FileServices{io_read, io_write, io_query, io_delete, io_rename}; }

}  // namespace zol::io
