// The base library's routine entries, each reading its arguments at the current argument base as its spec
// shaped them and leaving its result in the base cell.
#include "library/routines.h"

#include <string>

#include "interpreter/routines.h"
#include "io/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"

namespace zol {

namespace {

inline Cell* arg(int i) { return g_args.base + i; }
inline int32_t routine_data(const Cell* routine) { return cell_int(function_info(routine, FN_INFO_OWNER)); }

// The value of the word that follows the entry's name in the routine's body, or null.
const Cell* body_word_value(const Cell* routine) {
    const Cell* body = function_info(routine, FN_INFO_BODY);
    if (!cell_is(body, TYPE_BLOCK)) return nullptr;
    uint32_t at = series_index(body) + 1;
    if (at >= cell_series(body)->used()) return nullptr;
    const Cell* word = cell_series(body)->cells() + at;
    return cell_is(word, TYPE_WORD) && word_context(word) ? word_value_cell(word) : nullptr;
}

// --- type predicates

// The datatype id is the routine's data: one comparison, no parent type counts.
void datatype_predicate(const Cell* routine) { logic_set_result(cell_type(arg(0)) == uint32_t(routine_data(routine))); }

// The typeset is the current value of the word in the body; a word that holds no typeset answers false.
void typeset_predicate(const Cell* routine) {
    const Cell* set = body_word_value(routine);
    logic_set_result(set && cell_is(set, TYPE_TYPESET) && typeset_has(set, cell_type(arg(0))));
}

// --- setters that tell no owner

void set_quiet(const Cell*) {
    if (!is_any_word(arg(0))) fire_expect_arg(arg(0), 0);
    if (!word_context(arg(0))) fire(ERR_SCRIPT_NOT_DEFINED, arg(0));
    context_set_word_value(arg(0), arg(1), word_context(arg(0)), false);
    *arg(0) = *arg(1);
}

void set_slot_quiet(const Cell*) {
    Cell* series = arg(0);
    if (!type_in(FAMILY_ANY_BLOCK, cell_type(series)) || cell_is(series, TYPE_HASH)) fire_expect_arg(series, 0);
    Series* s = cell_series(series);
    if (series_index(series) < s->used()) s->cells()[series_index(series)] = *arg(1);
    set_none(arg(0));
}

// --- the process's current directory (the local form of a path is the path itself)

void get_current_dir(const Cell*) {
    std::string dir = platform::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    string_make(arg(0), uint32_t(dir.size()));
    string_append_utf8(arg(0), reinterpret_cast<const uint8_t*>(dir.data()), dir.size());
}

void set_current_dir(const Cell*) {
    std::string path = file_local_path(arg(0));
    if (path.empty() || !platform::set_current_dir(path)) fire(ERR_ACCESS_CANNOT_OPEN, arg(0));
    set_none(arg(0));
}

// --- files and standard output

void exists_q(const Cell*) {
    platform::PathInfo info;
    logic_set_result(platform::path_info(file_local_path(arg(0)), &info));
}

// One directory, its parent already there.
void create_dir(const Cell*) {
    if (!platform::make_directory(file_local_path(arg(0)))) fire(ERR_ACCESS_NO_CREATE, arg(0));
    set_none(arg(0));
}

// The value's bytes as write gives them to a file: a string's text, a binary's bytes, any other value molded.
void write_stdout(const Cell*) {
    std::string bytes = io::value_to_write_bytes(arg(0), -1, false);
    console_write_utf8(bytes.data(), bytes.size());
    set_none(arg(0));
}

// --- state of the runtime that the system object shows

// Whether the interpreter reached this call: its own frame, or one below it, is an interpreter frame (a
// caller of C++ code alone pushes none).
void interpreted_q(const Cell*) {
    bool found = false;
    for (CallFrame* f = g_frames.top; f > g_frames.start && !found;) {
        --f;
        found = (f->header & FRAME_INTERP) != 0;
    }
    logic_set_result(found);
}

void gc_active_q(const Cell*) { logic_set_result(g_gc_enabled); }
// One collection sweeps series and nodes together: both counts are its cycles.
void gc_cycles(const Cell*) { set_integer(arg(0), int32_t(gc_stats().collections)); }

// on-change* of system/options/float: the switches float! text reads.
uint32_t g_sym_pretty = 0, g_sym_full = 0;
void float_options_on_change(const Cell*) {
    if (!is_any_word(arg(0))) return;
    uint32_t field = symbol_resolve(word_symbol(arg(0)));
    bool on = cell_true(arg(2));
    if (field == symbol_resolve(g_sym_pretty)) g_float_pretty = on;
    if (field == symbol_resolve(g_sym_full)) g_float_full = on;
    set_none(arg(0));
}

// --- the running system

// The processor family as its word: the kernel's machine names (x86_64, aarch64, i686...) in the names the
// language uses.
const char* arch_name(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return "x86-32";
    if (machine.rfind("arm", 0) == 0) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

// The leading numbers of a kernel release ("6.1.0-18-amd64" gives 6, 1, 0, then 18 as the build).
void release_numbers(const std::string& release, int numbers[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; i++) {
        numbers[i] = 0;
        if (at >= release.size() || release[at] < '0' || release[at] > '9') continue;
        while (at < release.size() && release[at] >= '0' && release[at] <= '9') {
            numbers[i] = numbers[i] > 100000000 ? numbers[i] : numbers[i] * 10 + (release[at] - '0');
            at++;
        }
        if (at < release.size() && (release[at] == '.' || release[at] == '-')) at++;
    }
}

// os-info: an object with name ("Linux " and the distribution's name), arch (a word), version (the
// kernel's major.minor.patch, each kept to a byte) and build (the number after them, or 0).
void os_info(const Cell*) {
    platform::SystemDescription d = platform::describe_system();
    int numbers[4];
    release_numbers(d.release, numbers);
    GcRoot object, field;
    object_make_at(object.get(), 4);
    object->w2 = object_new_class_id();
    *context_owner(object->w1) = *object;
    uint32_t context = object->w1;
    std::string name = d.pretty_name.empty() ? "Linux" : "Linux " + d.pretty_name;
    string_make(field.get(), uint32_t(name.size()));
    string_append_utf8(field.get(), reinterpret_cast<const uint8_t*>(name.data()), name.size());
    context_put_word(context, symbol_make("name"), field.get());
    word_make_at(symbol_make(arch_name(d.machine)), field.get());
    context_put_word(context, symbol_make("arch"), field.get());
    uint8_t version[3];
    for (int i = 0; i < 3; i++) version[i] = uint8_t(numbers[i] > 255 ? 255 : numbers[i]);
    tuple_make_at(field.get(), version, 3);
    context_put_word(context, symbol_make("version"), field.get());
    set_integer(field.get(), numbers[3]);
    context_put_word(context, symbol_make("build"), field.get());
    *arg(0) = *object;
}

struct Entry {
    const char* name;
    RoutineFn fn;
};
const Entry kEntries[] = {
    {"datatype-predicate", datatype_predicate},
    {"typeset-predicate", typeset_predicate},
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"get-current-dir", get_current_dir},
    {"set-current-dir", set_current_dir},
    {"exists?", exists_q},
    {"create-dir", create_dir},
    {"write-stdout", write_stdout},
    {"interpreted?", interpreted_q},
    {"gc-active?", gc_active_q},
    {"gc-cycles", gc_cycles},
    {"float-options-on-change", float_options_on_change},
    {"os-info", os_info},
};

}  // namespace

void library_routines_init() {
    g_sym_pretty = symbol_make("pretty?");
    g_sym_full = symbol_make("full?");
    for (const Entry& e : kEntries) routine_register(e.name, e.fn);
}

}  // namespace zol
