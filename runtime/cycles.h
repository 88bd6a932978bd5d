// The visited-series stack: the series (and object contexts) that a walk over nested values is inside,
// so that molding, copying or comparing a value that contains itself stops instead of recursing forever.
#pragma once
#include <cstdint>

namespace zol {

constexpr uint32_t CYCLES_CAPACITY = 1000;

// Pushes a node; when the stack then holds CYCLES_CAPACITY entries it is emptied and internal error
// too-deep is raised.
void cycles_push(uint32_t node);
void cycles_pop();
void cycles_drop(uint32_t n);
void cycles_reset();
bool cycles_find(uint32_t node);
uint32_t cycles_depth();
// Marks every node on the stack as live (the collector calls it while marking roots).
void cycles_mark();

}  // namespace zol
