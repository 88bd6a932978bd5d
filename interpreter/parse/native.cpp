// The parse native: its refinements become the engine's case flag, /part limit and event callback.
#include "interpreter/natives/natives.h"
#include "interpreter/parse/parse.h"
#include "runtime/datatypes/series.h"
#include "runtime/gc.h"

namespace zol::natives {

uint32_t native_parse(const int32_t* refs) {
    GcRoot input(*arg(0)), rules(*arg(1)), callback;
    uint32_t limit = 0;
    if (present(refs, 1)) {
        // An absolute index of the input's buffer: a count from the head, or a position in the same series.
        int64_t at = int64_t(series_clamped_head(input.get())) + series_part_count(input.get(), ref_arg(refs, 1));
        if (at < 1) {
            Cell empty;
            set_logic(&empty, series_at_tail(input.get()));
            stack_set_only_result(&empty);
            return 0;
        }
        limit = at > 0x7FFFFFFF ? 0x7FFFFFFF : uint32_t(at);
    }
    if (present(refs, 2)) *callback = *ref_arg(refs, 2);
    GcRoot result;
    parse_rules(result.get(), input.get(), rules.get(), present(refs, 0), limit,
                present(refs, 2) ? callback.get() : nullptr);
    stack_set_only_result(result.get());
    return 0;
}

}  // namespace zol::natives
