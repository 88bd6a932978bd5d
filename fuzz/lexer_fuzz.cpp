// libFuzzer target for the lexer: arbitrary bytes in every mode (load, one, scan, prescan, wrap, an output
// block, a callback that answers and moves the input as the bytes say), as raw bytes and through a string.
// Each run must end in values or a syntax error without reading out of bounds; the values must hold no open
// marker and survive a collection; a scan must agree with a load on the first value's type and length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interpreter/lexer/lexer.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "boot/startup.h"

namespace {

using namespace zol;

void check(bool ok) {
    if (!ok) std::abort();
}

// Every value reachable from a cell is a value: no open marker of the lexer escapes into a result.
void check_value(const Cell* c, int depth) {
    check(cell_type(c) != TYPE_TRIPLE);
    if (!type_in(FAMILY_ANY_BLOCK, cell_type(c)) && !cell_is(c, TYPE_MAP)) return;
    if (depth > 200) return;
    Series* s = node_series(c->w2);
    for (uint32_t i = 0; i < s->used(); i++) check_value(s->cells() + i, depth + 1);
}

struct Outcome {
    bool raised = false;
    int32_t type = 0;
    uint32_t consumed = 0;
};

// Runs the lexer inside a try frame, as the try native does.
template <typename Body>
Outcome attempt(Body body) {
    Outcome out;
    stack_init();
    g_system.pending = UNWIND_NONE;
    stack_mark_try(&g_word[W_TRY]);
    try {
        out.type = body(&out.consumed);
    } catch (const ErrorUnwind&) {
        out.raised = true;
    } catch (const PendingUnwind&) {
        out.raised = true;
    }
    g_system.pending = UNWIND_NONE;
    stack_init();
    return out;
}

// The callback: answers and moves of the input come from the fuzzed bytes.
const uint8_t* g_script = nullptr;
size_t g_script_size = 0;
size_t g_step = 0;
int g_moves = 0;

bool scripted_callback(const Cell*, Cell* args) {
    uint8_t b = g_script_size ? g_script[g_step++ % g_script_size] : 0;
    if ((b & 0x30) == 0x30 && g_moves < 4 && !cell_is(&args[1], TYPE_NONE)) {
        g_moves++;
        args[1].w1 = (b & 0x40) ? args[1].w1 + (b & 7) : uint32_t(b & 15);
    }
    if ((b & 0x3F) == 0x0F) gc_collect();
    return (b & 0x81) != 0x81;
}

// A callback written in Zol, run through the evaluator's invocation entry: it answers true to loads and
// errors.
Cell g_zol_callback;

void load_text(Cell* out, const char* text) {
    GcRoot source;
    string_make(source.get(), 64);
    string_append_utf8(source.get(), reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    load_source(out, source.get(), -1, LexOptions{});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    runtime_start(*argc, *argv);
    run_global_code();
    GcRoot params, body;
    load_text(params.get(), "event input type line token");
    load_text(body.get(), "[load error] #(true)");
    function_build(params.get(), body.get(), 0, 0, 0, function_check_spec(params.get()));
    g_zol_callback = *stack_top();
    gc_register_root(&g_zol_callback);
    stack_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);  // exactly the input: any read past it is caught
    static const uint8_t nothing = 0;
    const uint8_t* input = size ? bytes.data() : &nothing;
    uint32_t length = uint32_t(size);
    GcRoot dst, out;

    // Load mode, whole input; the values survive a collection.
    Outcome all = attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.consumed = consumed});
    });
    // A collection now and then checks that every value reached is a live series: it costs the whole heap.
    static uint32_t runs = 0;
    bool collect = (runs++ & 15) == 0;
    if (!all.raised) {
        check(cell_is(dst.get(), TYPE_BLOCK));
        check(all.consumed == length);
        check_value(dst.get(), 0);
        if (collect) gc_collect();
        check_value(dst.get(), 0);
    }

    // One value: a scan agrees with the load on its type and on where it ends.
    Outcome one = attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.one = true, .consumed = consumed});
    });
    Outcome scan = attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.one = true, .scan = true, .consumed = consumed});
    });
    check(!scan.raised && scan.consumed <= length);
    if (!one.raised) {
        check(one.consumed <= length);
        check_value(dst.get(), 0);
        if (one.type != 0) {
            check(scan.type == one.type);
            check(scan.consumed == one.consumed);
        }
    }
    Outcome prescan = attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.one = true, .prescan = true, .consumed = consumed});
    });
    check(!prescan.raised && prescan.consumed <= length);
    attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.prescan = true, .scan = true, .wrap = true, .consumed = consumed});
    });

    // An output block receives what was loaded, also before an error.
    set_series(out.get(), TYPE_BLOCK, series_alloc_cells(4));
    attempt([&](uint32_t* consumed) {
        return lexer_scan(dst.get(), input, length, LexOptions{.wrap = true, .consumed = consumed, .output = out.get()});
    });
    check_value(out.get(), 0);

    // Through a string (invalid UTF-8 becomes U+FFFD), with a callback steered by the bytes.
    GcRoot source;
    string_make(source.get(), length + 1);
    string_append_utf8(source.get(), input, length);
    g_script = input;
    g_script_size = size;
    g_step = 0;
    g_moves = 0;
    LexerCallbackInvoke interpreted = g_lexer_invoke;
    g_lexer_invoke = scripted_callback;
    GcRoot callback;
    // Any function value will do for the hook; a datatype cell stands in as a callback with every event.
    set_datatype(callback.get(), TYPE_FUNCTION);
    for (bool one_value : {false, true}) {
        set_series(out.get(), TYPE_BLOCK, series_alloc_cells(4));
        attempt([&](uint32_t* consumed) {
            return load_source(dst.get(), source.get(), -1, LexOptions{.one = one_value, .consumed = consumed, .callback = callback.get(), .output = out.get()});
        });
        check_value(out.get(), 0);
    }
    g_lexer_invoke = interpreted;
    attempt([&](uint32_t* consumed) {
        return load_source(dst.get(), source.get(), -1, LexOptions{.consumed = consumed, .callback = &g_zol_callback});
    });
    return 0;
}
