// Ownership tracking: objects that hear about changes made deep inside the series they hold. Every
// modifying series action reports its change twice, with the action's word before and its past
// participle after; the "after" report is made only when the "before" one found an owner.
#pragma once
#include <cstdint>

#include "cell.h"
#include "predefined.h"

namespace zol {

// Reports a change of a value to its owner; true when an owner with a change handler was told.
bool ownership_check(const Cell* value, PredefinedWord action, int32_t index, int32_t part, const Cell* extra = nullptr);

// The before/after pair of reports around one change.
class OwnershipReport {
public:
    OwnershipReport(const Cell* value, PredefinedWord before, PredefinedWord after, int32_t index, int32_t part)
        : value_(*value), after_(after), index_(index), part_(part) {
        owned_ = ownership_check(&value_, before, index, part);
    }
    // Call once the change is made.
    void done() {
        if (owned_) ownership_check(&value_, after_, index_, part_);
    }

private:
    Cell value_;
    PredefinedWord after_;
    int32_t index_, part_;
    bool owned_;
};

}  // namespace zol
