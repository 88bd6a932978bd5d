// The value store: a block that keeps alive the values native code holds outside any language structure.
// A value put in the store lives until its slot is freed; the holder keeps only the 1-based index.
#pragma once
#include <cstdint>

#include "cell.h"

namespace zol {

void valuestore_init();
uint32_t valuestore_put(const Cell* value);  // may allocate (the store grows by doubling)
// The cell of a 1-based index; good until the next put.
Cell* valuestore_get(uint32_t index);
void valuestore_free(uint32_t index);  // index 0 is ignored
uint32_t valuestore_capacity();
void valuestore_mark();

}  // namespace zol
