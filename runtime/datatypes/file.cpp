// file! values: mold, the local form of a path, and the I/O actions handed to the file services.
#include "file.h"

#include "registry.h"
#include "series.h"
#include "string.h"
#include "url.h"
#include "platform/platform.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol {

FileServices g_file_services{};

namespace {

// The characters below 127 a file name shows as they are; from 127 up every character counts as plain.
bool plain_file_char(uint32_t c) {
    if (c >= 127) return true;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    for (const char* p = "!#$&'()*+,-./:=?@_~"; *p; p++) {
        if (c == uint8_t(*p)) return true;
    }
    return false;
}

// A plain name is written as it is, any other between double quotes, unescaped. A quoted name could not
// hold a double quote, a caret or a control character and load back, so such a name is written unquoted
// with every character that is not plain as a %XX escape, which the lexer decodes.
int file_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    uint32_t start = series_clamped_head(value);
    uint32_t count = string_length(value);
    if (args.part && int64_t(budget) < int64_t(count)) count = budget < 0 ? 0 : uint32_t(budget);
    string_append_ascii(out, "%");
    if (count == 0) {
        string_append_ascii(out, "\"\"");
        return budget - 3;
    }
    bool plain = true, quotable = true;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string_char_at(value, start + i);
        if (!plain_file_char(c)) plain = false;
        if (c == '"' || c == '^' || c < 32) quotable = false;
    }
    if (plain || quotable) {
        if (!plain) string_append_ascii(out, "\"");
        string_concatenate(out, value, int32_t(count), 0, false, JoinMode::append);
        if (!plain) string_append_ascii(out, "\"");
        return budget - int(count) - 1;
    }
    GcRoot encoded;
    string_make(encoded.get(), count);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string_char_at(value, start + i);
        if (plain_file_char(c)) {
            string_append_char(series_node(encoded.get()), c);
        } else {
            string_append_ascii(encoded.get(), "%");
            string_append_ascii(encoded.get(), string_byte_to_hex(uint8_t(c)));
        }
    }
    string_concatenate(out, encoded.get(), -1, 0, false, JoinMode::append);
    return budget - int(count) - 1;
}

FileServices& services() {
    if (!g_file_services.read) fire(ERR_INTERNAL_NOT_DONE);  // the io layer has not started
    return g_file_services;
}

const Cell* file_read(Cell* file, const IoArgs& args) {
    if (args.as) fire(ERR_INTERNAL_NOT_DONE);
    return services().read(file, args);
}

const Cell* file_write(Cell* file, Cell* data, const IoArgs& args) {
    if (args.allow || args.as) fire(ERR_INTERNAL_NOT_DONE);
    return services().write(file, data, args);
}

const Cell* file_query(Cell* file) { return services().query(file); }

const Cell* file_delete(Cell* file) { return services().remove(file) ? &g_true_value : &g_false_value; }

const Cell* file_rename(Cell* from, Cell* to) {
    if (!cell_is(to, TYPE_FILE)) fire(ERR_SCRIPT_INVALID_ARG, to);
    return services().rename(from, to) ? &g_true_value : &g_false_value;
}

}  // namespace

std::string file_local_path(const Cell* file, bool full) {
    std::string path = string_to_utf8(file);
    if (!full || (!path.empty() && path[0] == '/')) return path;
    std::string dir = platform::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + path;
}

bool file_dir_path_q(const Cell* file) {
    uint32_t n = string_length(file);
    uint32_t head = series_clamped_head(file);
    auto at = [&](uint32_t i) { return string_char_at(file, head + i); };
    if (n == 0) return false;
    if (at(n - 1) == '/') return true;
    // "." or "..", alone or after a "/".
    uint32_t dots = 0;
    while (dots < n && dots < 3 && at(n - 1 - dots) == '.') dots++;
    if (dots == 0 || dots > 2) return false;
    return dots == n || at(n - 1 - dots) == '/';
}

void file_init(DatatypeRegistry& registry) {
    Registration r(TYPE_FILE);
    r.own<ACT_MOLD>(file_mold).own<ACT_DELETE>(file_delete).own<ACT_QUERY>(file_query).own<ACT_READ>(file_read);
    r.own<ACT_RENAME>(file_rename).own<ACT_WRITE>(file_write);
    for (Action a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE,
                     ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE,
                     ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL,
                     ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
