// error! values: the catalog and the error prototype built from errors.def, making errors, filling their
// stack field, and the actions of error! (make, form, mold, eval-path, compare; reflect, copy and select
// come from object!).
#include "error.h"

#include <string_view>

#include "block.h"
#include "context.h"
#include "object.h"
#include "registry.h"
#include "runtime/values/language.h"
#include "runtime/values/backtrace.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "runtime/values/predefined.h"
#include "runtime/values/system_object.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"
#include "platform/platform.h"
#include "string.h"
#include "symbol.h"
#include "word.h"

namespace zol {

namespace {

bool g_built = false;
Cell g_catalog;    // object!: one field per class, as errors.def gives them
Cell g_prototype;  // object!: the ten error fields, all none

constexpr const char* kFieldNames[ERROR_FIELD_COUNT] = {"code", "type", "id",   "arg1",  "arg2",
                                                        "arg3", "near", "where", "stack", "files"};
// Within a class object: code, type, then the ids.
constexpr uint32_t CLASS_FIELD_CODE = 0;
constexpr uint32_t CLASS_FIELD_TYPE = 1;
constexpr uint32_t CLASS_FIRST_ID = 2;

// --- the template reader
//
// Message templates are Zol source text, read before the lexer's tables exist: this reader knows exactly
// their grammar, a string (with ^ escapes), a word, or a block of strings and get-words.
class TemplateReader {
public:
    explicit TemplateReader(std::string_view text) : text_(text) {}

    // Reads one value into the cell (which must stay reachable); false on text outside the grammar.
    bool read(Cell* out) {
        skip_space();
        if (at_end()) return false;
        char c = text_[pos_];
        if (c == '"') return read_string(out);
        if (c == '[') return read_block(out);
        if (c == ']') return false;
        bool get = c == ':';
        if (get) pos_++;
        size_t start = pos_;
        while (!at_end() && !is_delimiter(text_[pos_])) pos_++;
        if (pos_ == start) return false;
        uint32_t symbol = symbol_make_len(reinterpret_cast<const uint8_t*>(text_.data() + start), uint32_t(pos_ - start));
        set_word(out, get ? TYPE_GET_WORD : TYPE_WORD, 0, symbol);
        return true;
    }
    bool finished() {
        skip_space();
        return at_end();
    }

private:
    std::string_view text_;
    size_t pos_ = 0;

    bool at_end() const { return pos_ >= text_.size(); }
    static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool is_delimiter(char c) { return is_space(c) || c == '[' || c == ']' || c == '"'; }
    void skip_space() {
        while (!at_end() && is_space(text_[pos_])) pos_++;
    }

    bool read_string(Cell* out) {
        std::string text;
        for (pos_++; !at_end() && text_[pos_] != '"'; pos_++) {
            char c = text_[pos_];
            if (c != '^') {
                text += c;
                continue;
            }
            if (++pos_ >= text_.size()) return false;
            char e = text_[pos_];
            if (e == '/') {
                text += '\n';
            } else if (e == '-') {
                text += '\t';
            } else if (e == '(') {
                uint32_t cp = 0;
                size_t digits = 0;
                for (pos_++; !at_end() && text_[pos_] != ')'; pos_++, digits++) {
                    char h = text_[pos_];
                    uint32_t d = h >= '0' && h <= '9' ? uint32_t(h - '0')
                                 : h >= 'A' && h <= 'F' ? uint32_t(h - 'A' + 10)
                                 : h >= 'a' && h <= 'f' ? uint32_t(h - 'a' + 10)
                                                        : 16;
                    if (d == 16 || digits >= 6) return false;
                    cp = cp * 16 + d;
                }
                if (at_end() || digits == 0 || cp > 0x10FFFF) return false;
                uint8_t bytes[4];
                text.append(reinterpret_cast<const char*>(bytes), size_t(utf8_encode_char(cp, bytes)));
            } else {
                text += e;  // ^" ^^ and any other character stand for themselves
            }
        }
        if (at_end()) return false;
        pos_++;
        string_make(out, uint32_t(text.size()));
        string_append_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        return true;
    }

    bool read_block(Cell* out) {
        pos_++;
        GcRoot block;
        block_make_at(block.get(), 4);
        for (;;) {
            skip_space();
            if (at_end()) return false;
            if (text_[pos_] == ']') break;
            GcRoot item;
            if (!read(item.get())) return false;
            *block_alloc_tail(block.get()) = *item;
        }
        pos_++;
        *out = *block;
        return true;
    }
};

void read_template(const char* text, Cell* out) {
    if (!error_read_template(text, out)) runtime_error(98, 0);  // errors.def itself is wrong
}

// --- the catalog

// The raiser makes errors from the catalog errors.def gives, whose classes and ids stand at the positions
// the ErrorIds name. Reports and make error! read the catalog of the system object (system/catalog/errors),
// which the user may extend with classes and ids of their own; it is the same object until then.
inline uint32_t built_catalog_context() { return object_context(&g_catalog); }
inline uint32_t catalog_context() {
    const Cell* current = system_error_catalog();
    return object_context(current ? current : &g_catalog);
}

// The context of a class object of a catalog, or 0 when the catalog field holds no object.
uint32_t class_context(uint32_t catalog, uint32_t cls) {
    if (cls >= context_word_count(catalog)) return 0;
    const Cell* c = context_values_at(catalog, cls);
    return cell_is(c, TYPE_OBJECT) ? object_context(c) : 0;
}

Cell* field_of(const Cell* error, uint32_t field) { return context_values_at(object_context(error), field); }

// The word at a position of a context's word list, bound there.
Cell bound_word(uint32_t context, uint32_t index) {
    Cell w;
    set_word(&w, TYPE_WORD, context, word_symbol(context_word_at(context, index)), index);
    return w;
}

// Sets the type and id fields to the class and id at these positions of the catalog (the id's class must
// exist).
void set_class_and_id(const Cell* error, uint32_t catalog, uint32_t cls, uint32_t id_field) {
    *field_of(error, ERROR_FIELD_TYPE) = bound_word(catalog, cls);
    *field_of(error, ERROR_FIELD_ID) = bound_word(class_context(catalog, cls), id_field);
}

// Pushes a copy of the error prototype as an error! value.
Cell* push_blank_error() {
    if (!g_built) errors_init();
    Cell* e = stack_push_cell();
    set_none(e);
    object_copy(&g_prototype, e, false, nullptr, false);
    *e = Cell{TYPE_ERROR, object_context(e), CLASS_ERROR, 0};
    *context_owner(object_context(e)) = *e;
    return e;
}

Cell* push_error(uint32_t catalog, uint32_t cls, uint32_t id_field) {
    Cell* e = push_blank_error();
    set_integer(field_of(e, ERROR_FIELD_CODE), int32_t(cls * 100 + id_field - CLASS_FIRST_ID));
    set_class_and_id(e, catalog, cls, id_field);
    return e;
}

void error_init_catalog() {
    uint32_t catalog_ctx;
    {
        GcRoot catalog;
        object_make_at(catalog.get(), ERRC_COUNT);
        catalog->w2 = object_new_class_id();
        *context_owner(catalog->w1) = *catalog;
        g_catalog = *catalog;
        catalog_ctx = catalog->w1;
    }
    uint32_t code_sym = symbol_make("code"), type_sym = symbol_make("type");
    for (uint32_t c = 0; c < ERRC_COUNT; c++) {
        uint32_t ids = 0;
        for (uint32_t e = 0; e < ERR_COUNT; e++) ids += error_info(ErrorId(e)).cls == c;
        GcRoot cls;
        object_make_at(cls.get(), CLASS_FIRST_ID + ids);
        cls->w2 = object_new_class_id();
        *context_owner(cls->w1) = *cls;
        GcRoot code, text;
        set_integer(code.get(), int32_t(c * 100));
        const char* type_text = error_class_info(ErrorClass(c)).text;
        string_make(text.get());
        string_append_ascii(text.get(), type_text);
        context_put_word(cls->w1, code_sym, code.get());
        context_put_word(cls->w1, type_sym, text.get());
        for (uint32_t e = 0; e < ERR_COUNT; e++) {
            const ErrorInfo& info = error_info(ErrorId(e));
            if (info.cls != c) continue;
            GcRoot message;
            read_template(info.message, message.get());
            context_put_word(cls->w1, symbol_make(info.word), message.get());
        }
        context_put_word(catalog_ctx, symbol_make(error_class_info(ErrorClass(c)).word), cls.get());
    }
    GcRoot prototype;
    object_make_at(prototype.get(), ERROR_FIELD_COUNT);
    prototype->w2 = object_new_class_id();
    *context_owner(prototype->w1) = *prototype;
    for (const char* name : kFieldNames) context_put_word(prototype->w1, symbol_make(name), &g_none_value);
    g_prototype = *prototype;
}

// --- forming

// A value's text through its datatype's form or mold action. A datatype whose actions are not built yet
// gives its text (for the string family) or its name, so that reporting an error never raises another.
void write_value(const Cell* value, Cell* out, const MoldArgs& args, int limit, bool mold) {
    auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(cell_type(value), mold ? ACT_MOLD : ACT_FORM));
    if (fn) {
        fn(value, out, args, limit);
        return;
    }
    uint32_t t = cell_type(value);
    if (type_in(FAMILY_ANY_STRING, t)) {
        std::string text = string_to_utf8(value);
        if (mold) string_append_ascii(out, "\"");
        string_append_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        if (mold) string_append_ascii(out, "\"");
        return;
    }
    const char* name = type_name(t);
    string_append_ascii(out, name ? name : "?");
}

// Appends a value formed or molded flat (with only), cut to limit characters when limit > 0.
int append_value(Cell* out, const Cell* value, bool mold, bool only, int limit, int budget) {
    GcRoot v(*value), text;
    string_make(text.get());
    MoldArgs args;
    args.flat = true;
    args.only = only;
    args.part = limit > 0;
    write_value(v.get(), text.get(), args, limit > 0 ? limit : 0x7FFFFFFF, mold);
    if (limit > 0) string_truncate(text.get(), uint32_t(limit));
    std::string utf8 = string_to_utf8(text.get());
    return budget - int(string_append_utf8(out, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

int append_text(Cell* out, const char* text, int budget) {
    size_t n = __builtin_strlen(text);
    string_append_ascii(out, text, n);
    return budget - int(n);
}

int append_string(Cell* out, const Cell* str, int budget) {
    std::string utf8 = string_to_utf8(str);
    return budget - int(string_append_utf8(out, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

// The class object the type field names, or false.
bool find_class(const Cell* error, Cell* out) {
    const Cell* type = field_of(error, ERROR_FIELD_TYPE);
    if (!is_any_word(type)) return false;
    int32_t cls = context_find_word(catalog_context(), word_symbol(type), true);
    if (cls < 0) return false;
    const Cell* c = context_values_at(catalog_context(), uint32_t(cls));
    if (!cell_is(c, TYPE_OBJECT)) return false;
    *out = *c;
    return true;
}

// The template the id field names in the class, or false.
bool find_template(const Cell* error, const Cell* cls, Cell* out) {
    const Cell* id = field_of(error, ERROR_FIELD_ID);
    if (!is_any_word(id)) return false;
    int32_t index = context_find_word(object_context(cls), word_symbol(id), true);
    if (index < 0) return false;
    *out = *context_values_at(object_context(cls), uint32_t(index));
    return true;
}

// A field value of the error named by a template word (none when the error has no such field).
Cell template_argument(const Cell* error, const Cell* word) {
    int32_t index = context_find_word(object_context(error), word_symbol(word), true);
    return index < 0 ? g_none_value : *context_values_at(object_context(error), uint32_t(index));
}

// An error that cannot be formed as it is becomes internal/invalid-error naming the culprit.
void fall_back(const Cell* error, const Cell* culprit) {
    Cell old = *culprit;
    const ErrorInfo& info = error_info(ERR_INTERNAL_INVALID_ERROR);
    set_class_and_id(error, built_catalog_context(), ERRC_INTERNAL, info.position + CLASS_FIRST_ID);
    *field_of(error, ERROR_FIELD_ARG1) = old;
}

// Finds the class object and the message template, falling back as error!/form does. False only when the
// catalog itself has lost its internal class.
bool resolve(const Cell* error, Cell* cls, Cell* tmpl) {
    for (int attempt = 0; attempt < 3; attempt++) {
        if (!find_class(error, cls)) {
            fall_back(error, field_of(error, ERROR_FIELD_TYPE));
            continue;
        }
        if (!find_template(error, cls, tmpl)) {
            fall_back(error, field_of(error, ERROR_FIELD_ID));
            continue;
        }
        if (cell_is(tmpl, TYPE_WORD)) *tmpl = template_argument(error, tmpl);
        if (!cell_is(tmpl, TYPE_STRING) && !cell_is(tmpl, TYPE_BLOCK)) {
            fall_back(error, field_of(error, ERROR_FIELD_TYPE));
            continue;
        }
        return true;
    }
    return false;
}

// Writes a message argument inside a call frame named <body>, so a fault while molding it names no call
// of the code that raised the error.
int append_argument(Cell* out, const Cell* value, bool form, int budget) {
    Cell* base = g_args.base;
    Cell* top = g_args.top;
    stack_mark_call(&g_word[W_BODY]);
    budget = append_value(out, value, !form, false, 80, budget);
    frame_pop_restore();
    g_args.base = base;
    g_args.top = top;
    return budget;
}

int write_message(const Cell* error, const Cell* tmpl, Cell* out, int budget) {
    if (cell_is(tmpl, TYPE_STRING)) return append_string(out, tmpl, budget);
    bool form = false;
    if (const Cell* type = field_of(error, ERROR_FIELD_TYPE); is_any_word(type)) {
        form = symbol_resolve(word_symbol(type)) == symbol_resolve(word_symbol(&g_word[W_SYNTAX]));
    }
    uint32_t node = series_node(tmpl);  // the template stays reachable through the caller's root
    for (uint32_t i = series_index(tmpl); i < node_series(node)->used(); i++) {
        if (i != series_index(tmpl)) budget = append_text(out, " ", budget);
        Cell item = node_series(node)->cells()[i];
        if (cell_is(&item, TYPE_STRING)) {
            budget = append_string(out, &item, budget);
        } else if (cell_is(&item, TYPE_WORD) || cell_is(&item, TYPE_GET_WORD)) {
            Cell arg = template_argument(error, &item);
            budget = append_argument(out, &arg, form, budget);
        } else {
            budget = append_argument(out, &item, true, budget);
        }
    }
    return budget;
}

bool positive_integer(const Cell* c) { return cell_is(c, TYPE_INTEGER) && cell_int(c) > 0; }

// --- actions

int error_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    GcRoot error(*value), cls, tmpl;
    budget = append_text(out, "*** ", budget);
    if (!resolve(error.get(), cls.get(), tmpl.get())) {
        // The catalog has lost its internal class: its entry in errors.def still says what went wrong.
        const ErrorInfo& info = error_info(ERR_INTERNAL_INVALID_ERROR);
        budget = append_text(out, error_class_info(info.cls).text, budget);
        budget = append_text(out, ": invalid error object field value: ", budget);
        budget = append_value(out, field_of(error.get(), ERROR_FIELD_ARG1), true, false, 80, budget);
    } else {
        const Cell* type_text = context_values_at(object_context(cls.get()), CLASS_FIELD_TYPE);
        budget = cell_is(type_text, TYPE_STRING) ? append_string(out, type_text, budget)
                                                 : append_value(out, type_text, false, false, 0, budget);
        budget = append_text(out, ": ", budget);
        budget = write_message(error.get(), tmpl.get(), out, budget);
    }
    budget = append_text(out, "\n*** Where: ", budget);
    const Cell* where = field_of(error.get(), ERROR_FIELD_WHERE);
    if (cell_is(where, TYPE_WORD)) {
        budget = append_value(out, where, false, false, 0, budget);
    } else if (cell_is(where, TYPE_STRING)) {
        budget = append_string(out, where, budget);
    } else {
        budget = append_text(out, "???", budget);
    }
    budget = append_text(out, "\n*** Near : ", budget);
    budget = append_value(out, field_of(error.get(), ERROR_FIELD_NEAR), true, true, 40, budget);
    if (const Cell* depth = system_stack_trace_cell(); positive_integer(depth)) {
        uint32_t levels = uint32_t(cell_int(depth));
        GcRoot stack(*field_of(error.get(), ERROR_FIELD_STACK));
        if (cell_is(stack.get(), TYPE_INTEGER)) {
            budget = append_text(out, "\n*** Stack: ", budget);
            budget = stack_form_trace(levels, stack.get(), out, budget);
        } else if (cell_is(stack.get(), TYPE_BLOCK)) {
            budget = append_text(out, "\n*** Stack: ", budget);
            budget = append_value(out, stack.get(), false, false, 0, budget);
        }
    }
    if (cell_is(field_of(error.get(), ERROR_FIELD_FILES), TYPE_BLOCK)) {
        budget = append_text(out, "\n*** Files: ", budget);
        budget = append_value(out, field_of(error.get(), ERROR_FIELD_FILES), true, true, 40, budget);
    }
    return budget;
}

int error_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_find(object_context(value))) return append_text(out, "make error! [...]", budget);
    if (!args.only) budget = append_text(out, "make error! [", budget);
    if (args.flat) {
        budget = object_mold_fields(value, out, args, budget, -1, " ");
    } else {
        budget = append_text(out, "\n", budget);
        budget = object_mold_fields(value, out, args, budget, args.indent + 1, "\n");
    }
    if (args.indent > 0) budget = mold_indent(out, args.indent, budget);
    if (!args.only) budget = append_text(out, "]", budget);
    return budget;
}

[[noreturn]] void fire_spec_field(PredefinedWord field) { fire(ERR_SCRIPT_INVALID_SPEC_FIELD, &g_word[field]); }

// The class and id field positions an error's type and id words name; raises invalid-spec-field.
void resolve_spec_words(const Cell* type, const Cell* id, uint32_t* cls, uint32_t* id_field) {
    if (!cell_is(type, TYPE_WORD)) fire_spec_field(W_TYPE);
    int32_t c = context_find_word(catalog_context(), word_symbol(type), true);
    uint32_t context = c < 0 ? 0 : class_context(catalog_context(), uint32_t(c));
    if (!context) fire_spec_field(W_TYPE);
    if (!cell_is(id, TYPE_WORD)) fire_spec_field(W_ID);
    int32_t f = context_find_word(context, word_symbol(id), true);
    if (f < int32_t(CLASS_FIRST_ID)) fire_spec_field(W_ID);
    *cls = uint32_t(c);
    *id_field = uint32_t(f);
}

const Cell* error_make(Cell*, Cell* spec_in, TypeId) {
    if (!g_built) errors_init();
    GcRoot spec(*spec_in);
    switch (cell_type(spec.get())) {
        case TYPE_INTEGER: {
            int32_t code = cell_int(spec.get());
            if (code < 0 || uint32_t(code / 100) >= context_word_count(catalog_context())) {
                fire(ERR_SCRIPT_OUT_OF_RANGE, spec.get());
            }
            uint32_t cls = uint32_t(code / 100), field = uint32_t(code % 100) + CLASS_FIRST_ID;
            uint32_t context = class_context(catalog_context(), cls);
            if (!context || field >= context_word_count(context)) fire(ERR_SCRIPT_OUT_OF_RANGE, spec.get());
            return push_error(catalog_context(), cls, field);
        }
        case TYPE_BLOCK: {
            uint32_t head = series_index(spec.get());
            uint32_t used = cell_series(spec.get())->used();
            Cell first = head < used ? cell_series(spec.get())->cells()[head] : g_none_value;
            if (cell_is(&first, TYPE_WORD)) {
                int32_t c = context_find_word(catalog_context(), word_symbol(&first), true);
                uint32_t context = c < 0 ? 0 : class_context(catalog_context(), uint32_t(c));
                if (!context) fire_spec_field(W_TYPE);
                if (head + 1 >= used) fire_spec_field(W_ID);
                Cell second = cell_series(spec.get())->cells()[head + 1];
                if (!cell_is(&second, TYPE_WORD)) fire(ERR_SCRIPT_INVALID_ARG, &second);
                int32_t f = context_find_word(context, word_symbol(&second), true);
                if (f < int32_t(CLASS_FIRST_ID)) fire_spec_field(W_ID);
                Cell* e = push_error(catalog_context(), uint32_t(c), uint32_t(f));
                // The spec's own words, with their spelling, bound to the catalog and to the class.
                set_word(field_of(e, ERROR_FIELD_TYPE), TYPE_WORD, catalog_context(), word_symbol(&first), uint32_t(c));
                set_word(field_of(e, ERROR_FIELD_ID), TYPE_WORD, context, word_symbol(&second), uint32_t(f));
                return e;
            }
            if (!cell_is(&first, TYPE_SET_WORD)) fire(ERR_INTERNAL_INVALID_ERROR);
            Cell* e = push_blank_error();
            context_bind_block(spec.get(), object_context(e), true);
            g_language.eval_block(spec.get());
            throw_if_pending();
            stack_pop(1);
            uint32_t cls, field;
            resolve_spec_words(field_of(e, ERROR_FIELD_TYPE), field_of(e, ERROR_FIELD_ID), &cls, &field);
            set_integer(field_of(e, ERROR_FIELD_CODE), int32_t(cls * 100 + field - CLASS_FIRST_ID));
            return e;
        }
        case TYPE_STRING: return error_create(ERR_USER_MESSAGE, spec.get(), nullptr, nullptr);
        default: fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_ERROR, spec.get());
    }
}

const Cell* error_eval_path(Cell* error, const PathStep& step) {
    const Cell* e = step.element;
    if (step.set_value && is_any_word(e) && symbol_resolve(word_symbol(e)) == g_sym[SYM_STACK]) {
        fire(ERR_SCRIPT_INVALID_PATH_SET, step.path ? step.path : error);
    }
    return object_eval_path(error, step);
}

int error_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_ERROR)) return COMPARE_INCOMPARABLE;
    Cell a = *value, b = *other;
    cell_set_type(&a, TYPE_OBJECT);
    cell_set_type(&b, TYPE_OBJECT);
    return object_compare(&a, &b, op);
}

}  // namespace

bool error_read_template(const char* text, Cell* out) {
    TemplateReader reader(text);
    return reader.read(out) && reader.finished();
}

namespace {

// A no-memory error made at start-up: raised when making a fresh one runs out of memory too, so raising
// no-memory always ends, whatever is left.
Cell g_no_memory;
bool g_making_no_memory = false;

bool is_shared_no_memory(const Cell* error) {
    return cell_is(&g_no_memory, TYPE_ERROR) && object_context(error) == object_context(&g_no_memory);
}

// The raiser's side of error values (see ErrorValueHooks).
Cell* make_for_raise(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* error;
    if (id == ERR_INTERNAL_NO_MEMORY && (g_making_no_memory || !cell_is(&g_no_memory, TYPE_ERROR))) {
        if (!cell_is(&g_no_memory, TYPE_ERROR)) runtime_error(94, 0);  // out of memory before errors exist
        error = stack_push(&g_no_memory);  // takes no allocation
        set_none(error_field(error, ERROR_FIELD_WHERE));
        set_none(error_field(error, ERROR_FIELD_NEAR));
    } else {
        struct Restore {
            bool value;
            ~Restore() { g_making_no_memory = value; }
        } restore{g_making_no_memory};
        g_making_no_memory = id == ERR_INTERNAL_NO_MEMORY;
        error = error_create(id, arg1, arg2, arg3);
    }
    // The code near the error: the block being evaluated, at the expression that raised it.
    Cell* near = error_field(error, ERROR_FIELD_NEAR);
    if (cell_is(near, TYPE_NONE) && type_in(FAMILY_ANY_BLOCK, cell_type(&g_current_block))) *near = g_current_block;
    return error;
}

// The stack field holds the call-frame top as an integer! until a try/keep or a report asks for the names,
// unless it already holds them.
void record_raise(Cell* error) {
    Cell where;
    // The shared no-memory error names its call only where that takes no allocation.
    stack_get_call_word(&where, !is_shared_no_memory(error));
    error_set_where(error, &where);
    Cell* field = error_field(error, ERROR_FIELD_STACK);
    if (!cell_is(field, TYPE_BLOCK)) set_integer(field, int32_t(g_frames.top - g_frames.start));
}

// A try/keep wants the names of the calls; the shared no-memory error keeps its frame mark instead.
void keep_trace(Cell* error) {
    if (!is_shared_no_memory(error)) error_fill_stack(error);
}

// What the catalog alone says of an error: its class and its message when that is plain text, else its id
// word. Takes no allocation.
void report_from_catalog(ErrorId id) {
    const ErrorInfo& info = error_info(id);
    std::string_view message = info.message;
    bool plain = message.size() >= 2 && message.front() == '"' && message.back() == '"';
    message = plain ? message.substr(1, message.size() - 2) : std::string_view(info.word);
    for (std::string_view part : {std::string_view("*** "), std::string_view(error_class_info(info.cls).text),
                                  std::string_view(": "), message, std::string_view("\n")}) {
        platform::write_stderr(part.data(), part.size());
    }
}

// The report of an error nobody caught. Forming it may raise in turn (no memory left to form it): inside a
// try of its own, so that the report then falls back on the catalog's text instead of raising again.
void report_uncaught(const Cell* error) {
    GcRoot keep(*error);
    ErrorId id = cell_is(error, TYPE_ERROR) ? error_id(error) : ERR_COUNT;
    // Output whose reader has gone ends the process without a word, as command-line tools do: the reader
    // asked for no more.
    if (id == ERR_ACCESS_CANNOT_WRITE && output_closed()) return;
    std::string text;
    stack_mark_try(&g_word[W_TRY]);
    try {
        text = error_form_text(keep.get());
        text += '\n';
        unwind_frame_drop();
    } catch (const ErrorUnwind&) {
        g_system.pending = UNWIND_NONE;
        if (id != ERR_COUNT) report_from_catalog(id);
        return;
    }
    platform::write_stderr(text.data(), text.size());
}

}  // namespace

void errors_init() {
    g_error_hooks = ErrorValueHooks{make_for_raise, record_raise, keep_trace, report_uncaught};
    if (g_built) return;
    for (Cell* c : {&g_catalog, &g_prototype, &g_no_memory}) {
        set_none(c);
        gc_register_root(c);
    }
    error_init_catalog();
    g_built = true;
    g_no_memory = *error_create(ERR_INTERNAL_NO_MEMORY, nullptr, nullptr, nullptr);
    stack_pop(1);
}

const Cell* error_catalog() { return &g_catalog; }
const Cell* error_prototype() { return &g_prototype; }
Cell* error_state_stack_trace() { return system_stack_trace_cell(); }
Cell* error_state_files() { return system_source_files_cell(); }

Cell* error_field(const Cell* error, ErrorField field) { return field_of(error, field); }

Cell* error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    // The arguments may live anywhere; keep them alive across the allocations below.
    GcRoot a1(arg1 ? *arg1 : g_none_value), a2(arg2 ? *arg2 : g_none_value), a3(arg3 ? *arg3 : g_none_value);
    const ErrorInfo& info = error_info(id);
    Cell* e = push_error(built_catalog_context(), info.cls, info.position + CLASS_FIRST_ID);
    *field_of(e, ERROR_FIELD_ARG1) = *a1;
    *field_of(e, ERROR_FIELD_ARG2) = *a2;
    *field_of(e, ERROR_FIELD_ARG3) = *a3;
    return e;
}

ErrorId error_id(const Cell* error) {
    Cell* code = error_field(error, ERROR_FIELD_CODE);
    return cell_is(code, TYPE_INTEGER) ? error_from_code(cell_int(code)) : ERR_COUNT;
}

uint32_t error_type_symbol(const Cell* error) {
    const Cell* w = field_of(error, ERROR_FIELD_TYPE);
    return is_any_word(w) ? word_symbol(w) : 0;
}

uint32_t error_id_symbol(const Cell* error) {
    const Cell* w = field_of(error, ERROR_FIELD_ID);
    return is_any_word(w) ? word_symbol(w) : 0;
}

void error_set_where(Cell* error, const Cell* word) {
    Cell* where = error_field(error, ERROR_FIELD_WHERE);
    if (cell_is(where, TYPE_NONE)) *where = *word;
}

void error_fill_stack(Cell* value) {
    if (!cell_is(value, TYPE_ERROR) || !cell_is(field_of(value, ERROR_FIELD_STACK), TYPE_INTEGER)) return;
    GcRoot error(*value), trace;
    uint32_t mark = uint32_t(cell_int(field_of(error.get(), ERROR_FIELD_STACK)));
    const Cell* setting = system_stack_trace_cell();
    uint32_t depth = positive_integer(setting) ? uint32_t(cell_int(setting)) : 1;
    block_make_at(trace.get(), 20);
    stack_collect_trace(depth, trace.get(), mark);
    *field_of(error.get(), ERROR_FIELD_STACK) = *trace;
    if (const Cell* source_files = system_source_files_cell();
        cell_is(source_files, TYPE_BLOCK) && block_rs_length(source_files) > 0) {
        GcRoot files(*block_clone(source_files, false, false));
        stack_pop(1);
        *field_of(error.get(), ERROR_FIELD_FILES) = *files;
    }
}

void error_drop_frame_mark(Cell* value) {
    if (cell_is(value, TYPE_ERROR) && cell_is(field_of(value, ERROR_FIELD_STACK), TYPE_INTEGER)) {
        set_none(field_of(value, ERROR_FIELD_STACK));
    }
}

std::string error_form_text(const Cell* error) {
    GcRoot e(*error), out;
    string_make(out.get());
    error_form(e.get(), out.get(), MoldArgs{}, 0x7FFFFFFF);
    return string_to_utf8(out.get());
}

void error_init(DatatypeRegistry& registry) {
    Registration r(TYPE_ERROR);
    r.own<ACT_MAKE>(error_make).own<ACT_FORM>(error_form).own<ACT_MOLD>(error_mold);
    r.own<ACT_EVAL_PATH>(error_eval_path).own<ACT_COMPARE>(error_compare);
    r.inherit(ACT_REFLECT).inherit(ACT_COPY).inherit(ACT_SELECT).inherit(ACT_FIND);
    registry.register_datatype(r);
}

void fire_not_related(Action act, uint32_t type) {
    Cell word = word_load(action_word(act)), t;
    set_datatype(&t, type);
    fire(ERR_SCRIPT_NOT_RELATED, &word, &t);
}

void error_print(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    stack_mark_call(&g_word[W_BODY]);
    GcRoot error(*error_create(id, arg1, arg2, arg3)), text;
    std::string report = error_form_text(error.get());
    string_make(text.get());
    string_append_utf8(text.get(), reinterpret_cast<const uint8_t*>(report.data()), report.size());
    output_hooks_fire_print(text.get(), true);
    unwind_frame_drop();
}

}  // namespace zol
