// Ownership tracking: objects that hear about changes made deep inside the series they hold. An object
// with an on-deep-change* handler becomes the owner of its series (and of the series and objects nested
// in them); the ownership table records, per owned series, the owner and the field that holds it. Every
// modifying series action reports its change twice, with the action's word before and its past
// participle after; the "after" report is made only when the "before" one found an owner.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "predefined.h"

namespace zol {

// Header bit of an owner object's context! cell: the object owns its series.
constexpr uint32_t CONTEXT_OWNING = 0x10000;

// Start-up: the table (node-keyed, three cells per entry: the owned value, the owner, the field word),
// marked by the collector as a root.
void ownership_init();
uint32_t ownership_table();

// Records the owner and field of a series value and, for blocks, paren, paths and hash!, of everything
// nested in it; for an object, of its values (each with the object's own field word). A series already
// owned keeps its first owner. Allocates.
void ownership_bind(const Cell* value, const Cell* owner, const Cell* word);
// The same, then marks the owner as owning.
void ownership_bind_owner(const Cell* value, const Cell* owner, const Cell* word);
// Removes the records of the value and of everything nested in it; a value with none is left alone.
void ownership_unbind(const Cell* value);
void ownership_unbind_range(const Cell* block, uint32_t index, uint32_t count);
// The owner cell (the entry's second cell) of a node's record, or null.
Cell* ownership_get(uint32_t node);

// Reports a change of a value to its owner; true when an owner with a change handler was told.
bool ownership_check(const Cell* value, PredefinedWord action, int32_t index, int32_t part, const Cell* extra = nullptr);

// The before/after pair of reports around one change. Positions and counts used after the "before" report
// are taken from the series as it is then (see told()). brought is the value the change brings in (what
// the handler receives as new), null for none; the caller keeps it reachable. A block's decoded form is
// dropped on both sides of the change and on the way out, since the reports run code that may decode it again.
class OwnershipReport {
public:
    OwnershipReport(const Cell* value, PredefinedWord before, PredefinedWord after, int32_t index, int32_t part,
                    const Cell* brought = nullptr)
        : value_(*value), after_(after), index_(index), part_(part), brought_(brought) {
        owned_ = ownership_check(&value_, before, index, part, brought_);
        changed();
    }
    ~OwnershipReport() { changed(); }
    OwnershipReport(const OwnershipReport&) = delete;
    OwnershipReport& operator=(const OwnershipReport&) = delete;
    // Whether the "before" report ran an owner's handler: that language code may have changed the series,
    // so what the action worked out before the report must be checked again against the series as it is.
    bool told() const { return owned_; }
    // The count the "after" report gives, once the action has measured the series as the handler left it.
    void recount(int32_t part) { part_ = part; }
    // Call once the change is made.
    void done() {
        changed();
        if (owned_) ownership_check(&value_, after_, index_, part_, brought_);
    }

private:
    void changed() {
        if (type_in(FAMILY_ANY_BLOCK, cell_type(&value_))) series_changed(cell_series(&value_));
    }

    Cell value_;
    PredefinedWord after_;
    int32_t index_, part_;
    const Cell* brought_;
    bool owned_;
};

}  // namespace zol
