// A block built by hand in C++ tests, held in a root: B().w("a").i(1).b(B().sw("x")); and natives bound to
// their words with parameters given by name, for the tests that evaluate blocks before the boot code defines them.
#pragma once
#include <initializer_list>

#include "runtime/cell.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "tests/support.h"

namespace zol::test {

struct B {
    GcRoot block;
    B() { block_make_at(block.get(), 4); }
    B& add(const Cell& c) {
        *block_alloc_tail(block.get()) = c;
        return *this;
    }
    B& word(const char* name, TypeId t) {
        Cell w = word_load(name);
        cell_set_type(&w, t);
        return add(w);
    }
    B& w(const char* name) { return word(name, TYPE_WORD); }
    B& sw(const char* name) { return word(name, TYPE_SET_WORD); }
    B& lw(const char* name) { return word(name, TYPE_LIT_WORD); }
    B& gw(const char* name) { return word(name, TYPE_GET_WORD); }
    B& ref(const char* name) { return add(refinement_load(name)); }
    B& i(int32_t v) { return add(integer(v)); }
    B& ch(uint32_t cp) { return add(chr(cp)); }
    B& b(B& inner) { return add(*inner.get()); }
    B& b(B&& inner) { return add(*inner.get()); }
    B& paren(B&& inner) {
        Cell p = *inner.get();
        cell_set_type(&p, TYPE_PAREN);
        return add(p);
    }
    // A path of words: o/a, :o/a (get) or o/a: (set).
    B& path(TypeId t, std::initializer_list<const char*> names) {
        B p;
        for (const char* n : names) p.w(n);
        Cell c = *p.get();
        cell_set_type(&c, t);
        return add(c);
    }
    B& path(std::initializer_list<const char*> names) { return path(TYPE_PATH, names); }
    Cell* get() { return block.get(); }
};

// Binds the global word name to the native or action index of the given type, made from its parameters:
// "/name" is a refinement, "*name" takes any type (unset! included), any other a plain word.
inline void define_native(const char* name, uint32_t index, TypeId type, std::initializer_list<const char*> params) {
    Cell any_type;
    typeset_make_any(&any_type);
    typeset_set(&any_type, TYPE_UNSET);
    B spec;
    for (const char* p : params) {
        if (p[0] == '/') {
            spec.ref(p + 1);
        } else if (p[0] == '*') {
            spec.w(p + 1).b(B().add(any_type));
        } else {
            spec.w(p);
        }
    }
    native_make(spec.get(), index, type);
    Cell w = word_load(name);
    word_set_value(&w, stack_top());
    stack_pop(1);
}

}  // namespace zol::test
