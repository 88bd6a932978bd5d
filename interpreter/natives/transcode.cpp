// transcode: the lexer over a string! or binary!, as load, one value, a scan or a prescan of the first
// value, with the rest of the input, into a block, or with a callback that hears the lexer's events.
#include "interpreter/lexer/lexer.h"
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::natives {

namespace {

enum TranscodeRefinement { T_NEXT, T_ONE, T_PRESCAN, T_SCAN, T_PART, T_INTO, T_TRACE };

// How many units (bytes of a binary!, characters of a string!) of src to read: all it holds from its index,
// or what /part says; never below 0.
int64_t input_count(const Cell* src, const Cell* part) {
    int64_t available = int64_t(series_buffer_length(src)) - series_index(src);
    if (!part) return available;
    int64_t count;
    if (cell_is(part, TYPE_INTEGER)) {
        count = cell_int(part);
    } else {
        if (!cell_is(src, TYPE_BINARY)) fire(ERR_SCRIPT_NOT_SAME_TYPE);
        count = int64_t(series_clamped_head(part)) - series_index(src);
    }
    return count < 0 ? 0 : count;
}

bool starts_with_bom(const Cell* binary) {
    const uint8_t* p = series_unit_at(binary, series_index(binary));
    return p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
}

}  // namespace

uint32_t native_transcode(const int32_t* refs) {
    bool next = present(refs, T_NEXT), one = present(refs, T_ONE);
    bool prescan = present(refs, T_PRESCAN), scan = present(refs, T_SCAN);
    Cell* src = arg(0);
    const Cell* into = ref_arg(refs, T_INTO);
    const Cell* trace = ref_arg(refs, T_TRACE);

    // The outcome goes to the result, or to the first of the two values /next gives (outcome and rest).
    GcRoot result(g_unset_value);
    bool pair = next && !(one && !scan);
    if (pair) {
        block_make_at(result.get(), 2);
        set_unset(block_alloc_tail(result.get()));
        set_unset(block_alloc_tail(result.get()));
    }
    clamp_head(src);
    int64_t count = input_count(src, ref_arg(refs, T_PART));
    if (cell_is(src, TYPE_BINARY)) {
        int64_t available = int64_t(series_buffer_length(src)) - series_index(src);
        if (count > available) count = available;
        if (count >= 3 && starts_with_bom(src)) {
            // Read as if the mark were not there: the rest and the callback's input start after it.
            src->w1 += 3;
            count -= 3;
        }
    }

    uint32_t consumed = 0;
    LexOptions options;
    options.one = next || one || scan;
    options.prescan = prescan;
    options.scan = scan;
    options.consumed = &consumed;
    options.callback = trace;
    options.output = into;
    Cell* destination = pair ? cell_series(result.get())->cells() : result.get();
    int32_t type = load_source(destination, src, int32_t(count > INT32_MAX ? INT32_MAX : count), options);

    if (prescan || scan) {
        // Empty input has no first value, and no rest to speak of.
        if (count == 0) {
            result_none();
            return 0;
        }
        destination = pair ? cell_series(result.get())->cells() : result.get();
        if (type == 0) {
            set_none(destination);
        } else {
            set_datatype(destination, type < 0 ? TYPE_ERROR : uint32_t(type));
        }
    }
    if (pair) {
        Cell rest = *src;
        rest.w1 += consumed;
        cell_series(result.get())->cells()[1] = rest;
    }
    stack_set_only_result(into ? into : result.get());
    return 0;
}

}  // namespace zol::natives
