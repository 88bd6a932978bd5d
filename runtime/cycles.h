// The visited-series stack: the series (and object contexts) that a walk over nested values is inside,
// so that molding, copying or comparing a value that contains itself stops instead of recursing forever.
#pragma once
#include <cstdint>

namespace zol {

// The deepest nesting a walk may reach. A comparison walks two values at once: each of its levels holds
// both nodes and still counts as one level.
constexpr uint32_t CYCLES_CAPACITY = 1000;

// Pushes a node (or the pair of nodes a comparison is inside) as one level; when the walk then holds
// CYCLES_CAPACITY levels the stack is emptied and internal error too-deep is raised.
void cycles_push(uint32_t node);
void cycles_push_pair(uint32_t a, uint32_t b);
// Pops the latest level, one node or a pair.
void cycles_pop();
void cycles_reset();
bool cycles_find(uint32_t node);
// The nodes on the stack.
uint32_t cycles_depth();
// Marks every node on the stack as live (the collector calls it while marking roots).
void cycles_mark();

}  // namespace zol
