// error! values.
#include "error.h"

#include "registry.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "string.h"

namespace zol {

Cell* error_field(const Cell* error, ErrorField field) { return node_series(object_context(error))->cells() + field; }

Cell* error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    // The arguments may live anywhere; keep them alive across the allocation below.
    GcRoot a1(arg1 ? *arg1 : g_none_value), a2(arg2 ? *arg2 : g_none_value), a3(arg3 ? *arg3 : g_none_value);
    uint32_t node = series_alloc_cells(ERROR_FIELD_COUNT);
    Series* s = node_series(node);
    s->tail = s->head + ERROR_FIELD_COUNT * sizeof(Cell);
    Cell* f = s->cells();
    for (uint32_t i = 0; i < ERROR_FIELD_COUNT; i++) set_none(&f[i]);
    set_integer(&f[ERROR_FIELD_CODE], error_code(id));
    f[ERROR_FIELD_ARG1] = *a1;
    f[ERROR_FIELD_ARG2] = *a2;
    f[ERROR_FIELD_ARG3] = *a3;
    Cell* e = stack_push_cell();
    e->header = TYPE_ERROR;
    e->w1 = node;
    e->w2 = 1;  // the class id every error shares
    e->w3 = 0;
    return e;
}

ErrorId error_id(const Cell* error) {
    Cell* code = error_field(error, ERROR_FIELD_CODE);
    return cell_is(code, TYPE_INTEGER) ? error_from_code(cell_int(code)) : ERR_COUNT;
}

void error_set_where(Cell* error, const Cell* word) {
    Cell* where = error_field(error, ERROR_FIELD_WHERE);
    if (cell_is(where, TYPE_NONE)) *where = *word;
}

namespace {

// A value as text through its datatype's mold (or form) action, at most limit characters.
std::string value_text(const Cell* value, bool mold, int limit) {
    Action act = mold ? ACT_MOLD : ACT_FORM;
    auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(cell_type(value), act));
    if (!fn) return type_name(cell_type(value));
    GcRoot keep(*value);
    GcRoot out;
    string_make(out.get());
    MoldArgs args;
    args.flat = true;
    args.only = mold;
    args.part = true;
    fn(keep.get(), out.get(), args, limit);
    string_truncate(out.get(), uint32_t(limit));
    return string_to_utf8(out.get());
}

// Writes a message template: strings as they are, :argN (or argN) as the value of that field.
void write_template(std::string& out, const char* tmpl, const Cell* error, bool form_args) {
    bool first = true;
    auto separate = [&] {
        if (!first) out += ' ';
        first = false;
    };
    for (const char* p = tmpl; *p;) {
        char c = *p;
        if (c == '[' || c == ']' || c == ' ') {
            p++;
        } else if (c == '"') {
            separate();
            for (p++; *p && *p != '"'; p++) {
                if (*p == '^' && p[1]) p++;
                out += *p;
            }
            if (*p) p++;
        } else {
            const char* start = p;
            while (*p && *p != ' ' && *p != ']') p++;
            std::string word(start, p);
            if (word[0] == ':') word.erase(0, 1);
            if (word.size() == 4 && word.compare(0, 3, "arg") == 0 && word[3] >= '1' && word[3] <= '3') {
                separate();
                auto field = ErrorField(ERROR_FIELD_ARG1 + (word[3] - '1'));
                out += value_text(error_field(error, field), !form_args, 80);
            }
        }
    }
}

}  // namespace

std::string error_form_text(const Cell* error) {
    std::string out = "*** ";
    ErrorId id = error_id(error);
    if (id == ERR_COUNT) {
        id = ERR_INTERNAL_INVALID_ERROR;
    }
    const ErrorInfo& info = error_info(id);
    out += error_class_info(info.cls).text;
    out += ": ";
    write_template(out, info.message, error, info.cls == ERRC_SYNTAX);
    out += "\n*** Where: ";
    const Cell* where = error_field(error, ERROR_FIELD_WHERE);
    bool formable = (is_any_word(where) || cell_is(where, TYPE_STRING)) && g_types.action(cell_type(where), ACT_FORM);
    out += formable ? value_text(where, false, 0x7FFFFFFF) : "???";
    out += "\n*** Near : ";
    out += value_text(error_field(error, ERROR_FIELD_NEAR), true, 40);
    return out;
}

}  // namespace zol
