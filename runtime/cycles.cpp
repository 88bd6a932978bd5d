// The visited-series stack.
#include "cycles.h"

#include "exits.h"
#include "gc.h"

namespace zol {

namespace {
uint32_t g_visited[CYCLES_CAPACITY];
uint32_t g_top = 0;
}  // namespace

void cycles_push(uint32_t node) {
    g_visited[g_top++] = node;
    if (g_top == CYCLES_CAPACITY) {
        g_top = 0;
        fire(ERR_INTERNAL_TOO_DEEP);
    }
}

void cycles_pop() {
    if (g_top > 0) g_top--;
}

void cycles_drop(uint32_t n) { g_top = n > g_top ? 0 : g_top - n; }

void cycles_reset() { g_top = 0; }

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
