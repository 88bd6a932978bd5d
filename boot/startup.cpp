// Start-up: the entry sequence, the runtime initialisation and the hand-over to the global code.
#include "boot/startup.h"

#include <cfenv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "boot/boot_image.h"
#include "interpreter/eval.h"
#include "interpreter/lexer/lexer.h"
#include "interpreter/load.h"
#include "interpreter/parse/parse.h"
#include "io/natives.h"
#include "io/natives/process.h"
#include "io/zolbin/zolbin.h"
#include "library/routines.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/externals.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/values/ownership.h"
#include "platform/platform.h"
#include "runtime/values/predefined.h"
#include "runtime/values/system_object.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/valuestore.h"

namespace zol {

namespace {

void set_root_building() { g_root_building = true; }
void start_memory() {
    memory_init();
    gc_init();
}
void start_root_block() {
    root_block_init();
    symbol_block_init();
}
void start_ownership_and_errors() {
    ownership_init();
    errors_init();
}
void register_datatypes() {
    if (g_types.highest()) g_types = DatatypeRegistry();  // a second start-up (tests) starts from empty
    register_all_datatypes(g_types);
}

// Where the built-in scripts come from: the boot image the program carries, or, when ZOL_BOOT_SOURCES names
// a source tree, the scripts there as they are now (to work on them without building the image again).
std::string g_sources_root;
bool g_image_loaded = false;

void load_boot_image() {
    if (auto root = platform::get_env("ZOL_BOOT_SOURCES")) {
        g_sources_root = *root;
        return;
    }
    if (!g_boot_image_size) return;  // the stage-0 program, which makes the image
    zolbin_load_boot(g_boot_image, g_boot_image_size, false);
    g_system.boot_image = 1;
    g_image_loaded = true;
}

// In this order, always. Steps without a routine belong to parts of the system not built yet.
const InitStep kSteps[] = {
    {"root-building flag", set_root_building},
    {"output hooks", output_hooks_init},
    {"platform", platform::init},
    {"random generator and hash seed", init_random},
    {"memory manager: node table and collector", start_memory},
    {"external-resource table", externals_init},
    {"datatypes, in registration order, with the type-name and action tables", register_datatypes},
    {"actions table", register_actions},
    {"root block, with the symbol block", start_root_block},
    {"global context", global_context_init},
    {"symbol hash table", symbol_index_init},
    {"datatype-name words", datatype_words_init},
    {"predefined words, refinements and issue", predefined_words_init},
    {"natives table", register_natives},
    {"library routines", library_routines_init},
    {"Parse engine", parse_init},
    {"ownership table, and the error catalog and prototype until the boot image carries them",
     start_ownership_and_errors},
    {"checksum, compression and call set-up", io::io_natives_init},
    {"argument stack and call frames", stack_init},
    {"lexer tables", lexer_init},
    {"boot image load", load_boot_image},
    {"interpreter", interp_init},
    {"value store", valuestore_init},
    {"compression state", nullptr},
};

void report_fault(int code, uintptr_t address) {
    // Runs in a signal handler: format by hand and write once.
    static const char hex[] = "0123456789ABCDEF";
    char text[160];
    size_t n = 0;
    auto put = [&](const char* s) {
        while (*s && n < sizeof text) text[n++] = *s++;
    };
    put("*** Runtime Error ");
    char digits[12];
    int d = 0;
    for (int v = code; v > 0 || d == 0; v /= 10) digits[d++] = char('0' + v % 10);
    while (d > 0 && n < sizeof text) text[n++] = digits[--d];
    put(": ");
    put(runtime_error_text(code));
    put("\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) text[n++] = hex[(address >> shift) & 0xF];
    put("h\n");
    platform::write_stderr(text, n);
}

// operator new's handler: C++ containers (texts, temporary copies) get back what the runtime holds for its
// own use first, and operator new tries again; with nothing left they raise no-memory as the runtime's own
// allocations do. Before errors can be made, and inside a collection (which must run to its end), the
// process ends as out of memory.
void out_of_memory() {
    if (memory_release_reserve()) return;
    if (g_error_hooks.make && !gc_running()) fire(ERR_INTERNAL_NO_MEMORY);
    runtime_error(94, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

// The built-in script that makes the system object; start-up attaches the object once it has run.
constexpr const char* kSystemScript = "library/system.zol";

// Puts a value the runtime holds into a field of the system object; a field the script did not make is a
// fault of the program itself.
void put_system_field(const char* path, const Cell* value) {
    Cell* field = system_field(path);
    if (!field) runtime_error(98, 0);
    *field = *value;
}

// The build stamp ("10-Nov-2026/19:42:09") as a date!, or none when it does not read as one.
void build_date(Cell* out) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    set_none(out);
    int day, year, hour, minute, second;
    char month[4] = {};
    if (std::sscanf(build_stamp(), "%d-%3s-%d/%d:%d:%d", &day, month, &year, &hour, &minute, &second) != 6) return;
    for (int m = 0; m < 12; m++) {
        if (std::strcmp(month, kMonths[m]) == 0 && day >= 1 && day <= date_days_in_month(year, m + 1)) {
            date_make_at(out, year, m + 1, day, hour * 3600.0 + minute * 60 + second, 0, true);
        }
    }
}

void attach_system_object() {
    Cell word = word_load("system");
    GcRoot object(*word_value_cell(&word));
    if (!cell_is(object.get(), TYPE_OBJECT)) runtime_error(98, 0);
    system_object_set(object.get());
    put_system_field("words", &g_global_object);
    put_system_field("catalog/errors", error_catalog());
    put_system_field("standard/error", error_prototype());
    Cell date;
    build_date(&date);
    put_system_field("build/date", &date);
    // The process's whole command line, as the library splits it into the script and its arguments.
    std::string line = io::command_line_text(g_system.args);
    GcRoot args;
    string_make(args.get(), uint32_t(line.size()));
    string_append_utf8(args.get(), reinterpret_cast<const uint8_t*>(line.data()), line.size());
    put_system_field("script/args", args.get());
}

struct MainArgs {
    int argc;
    char** argv;
    FrontEnd front_end;
};

void interpreter_thread(void* raw) {
    auto* args = static_cast<MainArgs*>(raw);
    int status = 0;
    try {
        runtime_start(args->argc, args->argv);
        run_global_code();
        status = args->front_end(std::vector<std::string>(args->argv + 1, args->argv + args->argc));
    } catch (const ErrorUnwind&) {
        runtime_error(95, 0);  // an exit that nothing caught
    } catch (const PendingUnwind&) {
        runtime_error(95, 0);
    }
    if (unwind_pending()) runtime_error(95, 0);
    runtime_exit(status);
}

}  // namespace

const InitStep* init_steps(size_t* count) {
    *count = sizeof kSteps / sizeof kSteps[0];
    return kSteps;
}

void runtime_start(int argc, char** argv) {
    // Entry sequence: a known floating-point state (round to nearest, every exception masked), the
    // process set-up, the stacks ready for errors, then the runtime initialisation.
    std::fesetenv(FE_DFL_ENV);
    g_system.pending = UNWIND_NONE;
    g_system.boot_image = 0;
    g_system.args.assign(argv, argv + argc);
    std::set_new_handler(out_of_memory);
#if !defined(__SANITIZE_ADDRESS__)
    platform::install_fault_handlers(report_fault);
#endif
    stack_init();
    for (const InitStep& step : kSteps) {
        if (step.run) step.run();
    }
}

void run_global_code() {
    // The boot image is loaded by now, so collection may start.
    g_gc_enabled = true;
    // Each script's code is a literal of the image, in order.
    if (g_image_loaded && node_series(g_root_block)->used() - literal_base() != g_boot_script_count) {
        static const char message[] = "Error: the boot image does not hold the built-in scripts\n";
        platform::write_stderr(message, sizeof message - 1);
        runtime_exit(1);
    }
    // The first script makes the typesets through make, and then every native and action (the image's
    // "set" records make all but make), so make itself comes first, with a bare spec.
    {
        static const char spec_text[] = "type spec";
        GcRoot spec;
        load_global(reinterpret_cast<const uint8_t*>(spec_text), sizeof spec_text - 1, spec.get());
        GcRoot make(*native_make(spec.get(), ACT_MAKE, TYPE_ACTION));
        stack_reset();
        Cell word = word_load("make");
        word_set_value(&word, make.get());
    }
    // The built-in scripts, in order; functions they make are built-in (tracing does not enter them).
    BuiltinScope builtin;
    for (size_t i = 0; i < g_boot_script_count; i++) {
        GcRoot code;
        if (g_image_loaded) {
            *code = *literal_cell(uint32_t(i));
        } else {
            std::string path = g_sources_root + "/" + g_boot_scripts[i], text;
            if (!platform::read_whole_file(path, &text)) {
                std::string message = "Error: cannot read the built-in script " + path + "\n";
                platform::write_stderr(message.data(), message.size());
                runtime_exit(1);
            }
            load_script(reinterpret_cast<const uint8_t*>(text.data()), text.size(), code.get(), nullptr);
        }
        eval_block(code.get(), false);
        stack_reset();
        if (std::strcmp(g_boot_scripts[i], kSystemScript) == 0) attach_system_object();
    }
}

void zol_main(int argc, char** argv, FrontEnd front_end) {
    MainArgs args{argc, argv, front_end};
    platform::run_with_stack(INTERPRETER_STACK_BYTES, interpreter_thread, &args);
    runtime_error(0, 0);
}

}  // namespace zol
