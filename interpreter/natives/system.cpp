// System natives: wait, and the environment (get-env, set-env, list-env). Variable names are
// case-sensitive, as the system's are.
#include <string>

#include "interpreter/natives/natives.h"
#include "platform/platform.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol::natives {

namespace {

// A variable's name: a string's text or a word's; raises invalid-arg for a name the environment cannot
// hold (empty, or with "=" or a NUL in it).
std::string env_name(const Cell* var) {
    std::string name = is_any_word(var) ? std::string(symbol_c_string(word_symbol(var))) : string_to_utf8(var);
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos) {
        fire(ERR_SCRIPT_INVALID_ARG, var);
    }
    return name;
}

void push_text(const std::string& text) {
    Cell* s = stack_push_cell();
    set_none(s);
    string_make(s, uint32_t(text.size()));
    string_append_utf8(s, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

// Seconds as a number or a time!; the process sleeps at least a millisecond.
uint32_t native_wait(const int32_t*) {
    const Cell* v = arg(0);
    double seconds;
    if (cell_is(v, TYPE_INTEGER)) {
        seconds = cell_int(v);
    } else if (cell_is(v, TYPE_FLOAT) || cell_is(v, TYPE_TIME)) {
        seconds = cell_float(v);
    } else {
        fire(ERR_SCRIPT_INVALID_ARG, v);
    }
    platform::sleep_seconds(seconds);
    result_none();
    return 0;
}

// A none value removes the variable. The result is the value.
uint32_t native_set_env(const int32_t*) {
    std::string name = env_name(arg(0));
    bool removing = cell_is(arg(1), TYPE_NONE);
    std::string value = removing ? std::string() : string_to_utf8(arg(1));
    if (value.find('\0') != std::string::npos) fire(ERR_SCRIPT_INVALID_ARG, arg(1));
    if (!platform::set_env(name, removing ? nullptr : &value)) fire(ERR_SCRIPT_INVALID_ARG, arg(0));
    *g_args.base = *arg(1);
    stack_keep_result();
    return 0;
}

// none for a variable that is not set or is empty.
uint32_t native_get_env(const int32_t*) {
    std::optional<std::string> value = platform::get_env(env_name(arg(0)));
    if (!value || value->empty()) {
        result_none();
        return 0;
    }
    push_text(*value);
    stack_set_only_result(g_args.top - 1);
    return 0;
}

uint32_t native_list_env(const int32_t*) {
    auto variables = platform::environment();
    stack_reset();
    Cell* first = g_args.top;
    for (const auto& [name, value] : variables) {
        push_text(name);
        push_text(value);
    }
    GcRoot map;
    map_make_at(map.get(), first, uint32_t(g_args.top - first), true);
    stack_set_only_result(map.get());
    return 0;
}

}  // namespace zol::natives
