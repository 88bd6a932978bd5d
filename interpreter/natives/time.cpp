// The clock native: now, the current date and time with its zone, or one field of it.
#include "interpreter/natives/natives.h"
#include "platform/platform.h"
#include "runtime/datatypes/date.h"
#include "runtime/exits.h"

namespace zol::natives {

namespace {

// The positions of now's refinements in its spec.
enum NowRefinement { N_YEAR, N_MONTH, N_DAY, N_TIME, N_ZONE, N_DATE, N_WEEKDAY, N_YEARDAY, N_PRECISE, N_UTC };

}  // namespace

uint32_t native_now(const int32_t* refs) {
    int fields = 0;
    for (int r = N_YEAR; r <= N_PRECISE; r++) fields += present(refs, r);
    // One field at a time; /precise goes with /time.
    if (fields > 1 && !(fields == 2 && present(refs, N_TIME) && present(refs, N_PRECISE))) fire(ERR_SCRIPT_BAD_REFINES);
    uint32_t packed;
    double local;
    platform::get_now(present(refs, N_UTC), present(refs, N_PRECISE), &packed, &local);
    Cell date{TYPE_DATE, packed & ~(DATE_ZONE_MASK | DATE_TIME_FLAG), 0, 0};
    if (!present(refs, N_DATE)) {
        // The time kept is the UTC time counted from the start of the local date.
        date.w1 = packed | DATE_TIME_FLAG;
        cell_set_float_payload(&date, local - 60.0 * date_zone_minutes(packed & DATE_ZONE_MASK));
    }
    static const struct {
        NowRefinement refinement;
        int field;
    } kFields[] = {{N_YEAR, 2}, {N_MONTH, 3}, {N_DAY, 4}, {N_ZONE, 5}, {N_TIME, 6}, {N_WEEKDAY, 10}, {N_YEARDAY, 11}};
    Cell* out = stack_push_cell();
    *out = date;
    for (const auto& f : kFields) {
        if (present(refs, f.refinement)) date_get_field(out, &date, f.field);
    }
    stack_set_only_result(stack_top());
    return 0;
}

}  // namespace zol::natives
