// Comparison of two values.
#include "compare.h"

#include "runtime/datatypes/registry.h"
#include "runtime/exits.h"

namespace zol {

namespace {

int sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int compare_order(const Cell* a, const Cell* b, CompareOp op) {
    switch (cell_type(a)) {
        case TYPE_LOGIC:
            if (!cell_is(b, TYPE_LOGIC)) return COMPARE_INCOMPARABLE;
            return int(logic_get(a)) - int(logic_get(b));
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_OP:
            // Entries are table indices: order by index.
            if (cell_type(a) != cell_type(b)) return COMPARE_INCOMPARABLE;
            return sign(int64_t(a->w1) - int64_t(b->w1));
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            if (cell_type(a) != cell_type(b)) return COMPARE_INCOMPARABLE;
            return sign(int64_t(a->w3) - int64_t(b->w3));
        default: break;
    }
    auto fn = g_types.get<ACT_COMPARE>(cell_type(a));
    if (!fn) return COMPARE_INCOMPARABLE;
    return fn(a, b, op);
}

bool compare_values(const Cell* a, const Cell* b, CompareOp op) {
    auto fn = g_types.get<ACT_COMPARE>(cell_type(a));
    int r = fn ? fn(a, b, op) : COMPARE_INCOMPARABLE;
    if (r == COMPARE_INCOMPARABLE) {
        switch (op) {
            case CMP_EQUAL:
            case CMP_STRICT_EQUAL:
            case CMP_SAME:
            case CMP_FIND_WORD:
            case CMP_FIND_WORD_STRICT:
            case CMP_FIND: return false;
            case CMP_NOT_EQUAL: return true;
            default: fire(ERR_SCRIPT_INVALID_COMPARE, a, b);
        }
    }
    switch (op) {
        case CMP_NOT_EQUAL: return r != 0;
        case CMP_LESSER: return r < 0;
        case CMP_LESSER_OR_EQUAL: return r <= 0;
        case CMP_GREATER: return r > 0;
        case CMP_GREATER_OR_EQUAL: return r >= 0;
        default: return r == 0;
    }
}

}  // namespace zol
