// The visited-series stack.
#include "cycles.h"

#include "exits.h"
#include "gc.h"

namespace zol {

namespace {
uint32_t g_visited[2 * CYCLES_CAPACITY];
bool g_paired[CYCLES_CAPACITY];  // per level: whether it holds two nodes
uint32_t g_top = 0;              // nodes
uint32_t g_levels = 0;

void push_level(bool pair) {
    g_paired[g_levels++] = pair;
    if (g_levels == CYCLES_CAPACITY) {
        cycles_reset();
        fire(ERR_INTERNAL_TOO_DEEP);
    }
}
}  // namespace

void cycles_push(uint32_t node) {
    g_visited[g_top++] = node;
    push_level(false);
}

void cycles_push_pair(uint32_t a, uint32_t b) {
    g_visited[g_top++] = a;
    g_visited[g_top++] = b;
    push_level(true);
}

void cycles_pop() {
    if (g_levels == 0) return;
    g_top -= g_paired[--g_levels] ? 2 : 1;
}

void cycles_reset() { g_top = g_levels = 0; }

bool cycles_find(uint32_t node) {
    for (uint32_t i = 0; i < g_top; i++) {
        if (g_visited[i] == node) return true;
    }
    return false;
}

uint32_t cycles_depth() { return g_top; }

void cycles_mark() {
    for (uint32_t i = 0; i < g_top; i++) gc_mark_node(g_visited[i]);
}

}  // namespace zol
