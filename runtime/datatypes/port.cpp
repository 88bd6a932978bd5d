// port! values: make, form and mold, and the forwarders that hand every series and I/O action to the
// function of the same name in the port's actor.
#include "port.h"

#include <initializer_list>

#include "context.h"
#include "function.h"
#include "object.h"
#include "registry.h"
#include "string.h"
#include "symbol.h"
#include "word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/language.h"
#include "runtime/values/mold.h"
#include "runtime/values/predefined.h"
#include "runtime/values/system_object.h"

namespace zol {

namespace {

constexpr uint32_t PORT_SPEC = 0, PORT_SCHEME = 1, PORT_ACTOR = 2;
constexpr uint32_t SCHEME_ACTOR = 3;

Cell* field(const Cell* object, uint32_t i) { return context_values_at(object_context(object), i); }

// The actor of a port; invalid-port when its field is no object (a handle actor is served by native code,
// which no scheme has yet).
Cell actor_of(const Cell* port) {
    if (object_field_count(port) <= PORT_ACTOR || !cell_is(field(port, PORT_ACTOR), TYPE_OBJECT)) {
        fire(ERR_ACCESS_INVALID_PORT);
    }
    return *field(port, PORT_ACTOR);
}

// The cells a call pushes: the port, then the action's arguments and refinements in the action's order.
class Pushes {
public:
    explicit Pushes(const Cell* port) { add(port); }
    Pushes& add(const Cell* value) {
        if (n_ < kMax) cells_[n_++] = value ? *value : g_none_value;
        return *this;
    }
    Pushes& flag(bool on) { return add(on ? &g_true_value : &g_false_value); }
    // A refinement that takes one argument: its flag, then the argument (none when it was not used).
    Pushes& refinement(const Cell* value) { return flag(value != nullptr).add(value); }
    Pushes& count(bool on, int n) {
        Cell c = g_none_value;
        if (on) set_integer(&c, n);
        return flag(on).add(&c);
    }
    const Cell* cells() const { return cells_; }
    uint32_t size() const { return n_; }

private:
    static constexpr uint32_t kMax = 20;
    Cell cells_[kMax];
    uint32_t n_ = 0;
};

// Calls the actor's function for the action; its answer goes to result (which must stay reachable).
void forward(Action action, const Pushes& pushes, Cell* result) {
    GcRoot actor(actor_of(&pushes.cells()[0]));
    Cell name = word_load(action_word(action));
    GcRoot fn(*object_find_value(actor.get(), &name));
    if (!cell_is(fn.get(), TYPE_FUNCTION)) fire(ERR_ACCESS_NO_PORT_ACTION, &name);
    // The pushed cells are copies on the C++ stack: nothing reaches their series until the call pushes them,
    // and nothing allocates before it does.
    port_call_function(fn.get(), &name, pushes.cells(), pushes.size(), result);
}

// The forwarders write the actor's answer where the action's entry takes its result from: the answer cell
// they return, or the first argument's cell.
Cell* answer_cell() {
    Cell* c = stack_push_cell();
    set_unset(c);
    return c;
}

const Cell* forward_answer(Action action, const Pushes& pushes) {
    Cell* out = answer_cell();
    forward(action, pushes, out);
    return out;
}

void forward_into(Action action, const Pushes& pushes, Cell* series) {
    GcRoot out;
    forward(action, pushes, out.get());
    *series = *out;
}

// Actions that read their arguments from the stack: the port at the base, perhaps one more argument.
template <Action A, uint32_t Args>
void forward_stacked() {
    Pushes p(g_args.base);
    if (Args > 1) p.add(g_args.base + 1);
    GcRoot out;
    forward(A, p, out.get());
    *g_args.base = *out;
    stack_keep_result();
}

// --- the forwarders, in the action table's order

void port_append(Cell* port, Cell* value, int part, bool only, int dup, bool append) {
    Pushes p(port);
    p.add(value).count(part >= 0, part).flag(only).count(dup > 1, dup);
    forward_into(append ? ACT_APPEND : ACT_INSERT, p, port);
}

void port_change(Cell* port, Cell* value, int part, bool only, int dup) {
    Pushes p(port);
    p.add(value).count(part >= 0, part).flag(only).count(dup > 1, dup);
    forward_into(ACT_CHANGE, p, port);
}

void port_clear(Cell* port) { forward_into(ACT_CLEAR, Pushes(port), port); }

const Cell* port_copy(Cell* port, Cell* result, Cell* part, bool deep, Cell* kind) {
    Pushes p(port);
    p.refinement(part).flag(deep).refinement(kind);
    forward(ACT_COPY, p, result);
    return result;
}

Pushes& find_flags(Pushes& p, const FindArgs& a) {
    p.refinement(a.part).flag(a.only).flag(a.case_sensitive).flag(a.same).flag(a.any);
    return p.refinement(a.wild).refinement(a.skip).flag(a.last).flag(a.reverse);
}

const Cell* port_find(Cell* port, Cell* value, const FindArgs& args) {
    Pushes p(port);
    find_flags(p.add(value), args).flag(args.tail).flag(args.match);
    return forward_answer(ACT_FIND, p);
}

const Cell* port_select(Cell* port, Cell* value, const FindArgs& args) {
    Pushes p(port);
    find_flags(p.add(value), args);
    return forward_answer(ACT_SELECT, p);
}

int port_length_q(const Cell* port) {
    GcRoot out;
    forward(ACT_LENGTH_Q, Pushes(port), out.get());
    return cell_is(out.get(), TYPE_INTEGER) ? cell_int(out.get()) : -1;
}

const Cell* port_move(Cell* port, Cell* target, Cell* part) {
    Pushes p(port);
    p.add(target).refinement(part);
    return forward_answer(ACT_MOVE, p);
}

const Cell* port_pick(Cell* port, int, Cell* index) {
    Pushes p(port);
    p.add(index);
    return forward_answer(ACT_PICK, p);
}

const Cell* port_poke(Cell* port, int, Cell* value, Cell* index) {
    Pushes p(port);
    p.add(index).add(value);
    return forward_answer(ACT_POKE, p);
}

const Cell* port_put(Cell* port, Cell* key, Cell* value, bool case_sensitive) {
    Pushes p(port);
    p.add(key).add(value).flag(case_sensitive);
    return forward_answer(ACT_PUT, p);
}

void port_remove(Cell* port, Cell* part, Cell* key) {
    Pushes p(port);
    p.refinement(part).refinement(key);
    forward_into(ACT_REMOVE, p, port);
}

void port_reverse(Cell* port, Cell* part, Cell* skip) {
    Pushes p(port);
    p.refinement(part).refinement(skip);
    forward_into(ACT_REVERSE, p, port);
}

const Cell* port_sort(Cell* port, const SortArgs& a) {
    Pushes p(port);
    p.flag(a.case_sensitive).refinement(a.skip).refinement(a.comparator).refinement(a.part);
    p.flag(a.all).flag(a.reverse).flag(a.stable);
    return forward_answer(ACT_SORT, p);
}

void port_swap(Cell* port, Cell* other) {
    Pushes p(port);
    p.add(other);
    forward_into(ACT_SWAP, p, port);
}

void port_take(Cell* port, Cell* part, bool deep, bool last) {
    Pushes p(port);
    p.refinement(part).flag(deep).flag(last);
    forward_into(ACT_TAKE, p, port);
}

void port_trim(Cell* port, const TrimArgs& a) {
    Pushes p(port);
    p.flag(a.head).flag(a.tail).flag(a.automatic).flag(a.lines).flag(a.all).refinement(a.with);
    forward_into(ACT_TRIM, p, port);
}

template <Action A>
const Cell* port_plain(Cell* port) {
    return forward_answer(A, Pushes(port));
}

const Cell* port_modify(Cell* port, Cell* key, Cell* value, bool case_sensitive) {
    Pushes p(port);
    p.add(key).add(value).flag(case_sensitive);
    return forward_answer(ACT_MODIFY, p);
}

const Cell* port_rename(Cell* port, Cell* to) {
    Pushes p(port);
    p.add(to);
    return forward_answer(ACT_RENAME, p);
}

// --- form and mold

int port_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, true)) return budget;
    string_append_ascii(out, "make port! [\n");
    budget = object_mold_fields(value, out, args, budget - 13, args.indent + 1, "\n");
    if (args.indent > 0) budget = mold_indent(out, args.indent, budget);
    string_append_ascii(out, "]");
    return budget - 1;
}

int port_form(const Cell* value, Cell* out, const MoldArgs&, int budget) { return port_mold(value, out, MoldArgs{}, budget); }

// A copy of a prototype object of the system, or a new object with these fields when the system has none.
void copy_prototype(SystemPath path, std::initializer_list<const char*> fields, Cell* out) {
    if (const Cell* proto = system_get(path); proto && cell_is(proto, TYPE_OBJECT)) {
        GcRoot keep(*proto);
        object_copy(keep.get(), out, false, nullptr, false);
        return;
    }
    object_make_at(out, uint32_t(fields.size()));
    for (const char* name : fields) context_put_word(object_context(out), symbol_make(name), &g_none_value);
}

}  // namespace

void port_call_function(const Cell* function, const Cell* name, const Cell* args, uint32_t count, Cell* result) {
    GcRoot fn(*function);
    Series* spec = node_series(function_spec_node(fn.get()));
    Cell* top = g_args.top;
    stack_mark_func(name, fn->w1);
    // One cell per argument, refinement and refinement argument of the spec, in its order, up to /local.
    for (uint32_t i = 0; i < spec->used(); i++) {
        const Cell* item = node_series(function_spec_node(fn.get()))->cells() + i;
        uint32_t t = cell_type(item);
        if (t == TYPE_REFINEMENT && symbol_resolve(word_symbol(item)) == symbol_resolve(word_symbol(&g_refinement[R_LOCAL]))) {
            break;
        }
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        Cell* c = stack_push_cell();
        if (count > 0) {
            *c = *args++;
            count--;
        } else if (t == TYPE_REFINEMENT) {
            *c = g_false_value;
        }
    }
    Cell spec_block;
    set_series(&spec_block, TYPE_BLOCK, function_spec_node(fn.get()));
    function_init_locals(function_count_locals(&spec_block));
    g_language.invoke(fn.get(), 0, name, CALLBACK_PORT);
    throw_if_pending();
    unwind_frame_restore();
    *result = *(g_args.top - 1);
    g_args.top = top;
}

const Cell* port_make(Cell*, Cell* spec_in, TypeId) {
    GcRoot spec(*spec_in);
    Cell* port = stack_push_cell();
    Cell* port_spec = stack_push_cell();
    if (cell_is(spec.get(), TYPE_OBJECT)) {
        *port_spec = *spec;
    } else {
        GcRoot proto;
        copy_prototype(SYS_STANDARD_PORT_SPEC, {"scheme"}, proto.get());
        *port_spec = *g_types.get<ACT_MAKE>(TYPE_OBJECT)(proto.get(), spec.get(), TYPE_OBJECT);
    }
    if (object_field_count(port_spec) == 0 || !cell_is(field(port_spec, 0), TYPE_WORD)) fire(ERR_ACCESS_NO_SCHEME, spec.get());
    Cell scheme_name = *field(port_spec, 0);
    copy_prototype(SYS_STANDARD_PORT, {"spec", "scheme", "actor"}, port);
    port->header = TYPE_PORT;
    port->w2 = CLASS_PORT;
    *context_owner(object_context(port)) = *port;
    if (object_field_count(port) <= PORT_ACTOR) fire(ERR_ACCESS_INVALID_PORT);
    *field(port, PORT_SPEC) = *port_spec;
    *field(port, PORT_SCHEME) = scheme_name;
    const Cell* schemes = system_get(SYS_SCHEMES);
    const Cell* scheme = schemes && cell_is(schemes, TYPE_OBJECT) ? object_find_value(schemes, &scheme_name) : &g_none_value;
    if (!cell_is(scheme, TYPE_OBJECT)) fire(ERR_ACCESS_UNKNOWN_SCHEME, spec.get());
    const Cell* actor = object_field_count(scheme) > SCHEME_ACTOR ? field(scheme, SCHEME_ACTOR) : &g_none_value;
    if (!cell_is(actor, TYPE_OBJECT) && !cell_is(actor, TYPE_HANDLE)) fire(ERR_ACCESS_INVALID_ACTOR, spec.get());
    *field(port, PORT_ACTOR) = *actor;
    return port;
}

const Cell* port_open(Cell* port, const OpenArgs& a) {
    Pushes p(port);
    p.flag(a.create_new).flag(a.read).flag(a.write).flag(a.seek).refinement(a.allow);
    return forward_answer(ACT_OPEN, p);
}

const Cell* port_read(Cell* port_in, const IoArgs& args) {
    GcRoot port(*port_in), ignored;
    Cell* out = answer_cell();
    OpenArgs open;
    open.seek = args.seek != nullptr;
    forward(ACT_OPEN, Pushes(port.get()).flag(false).flag(false).flag(false).flag(open.seek).refinement(nullptr),
            ignored.get());
    port_copy(port.get(), out, args.part, false, nullptr);
    forward(ACT_CLOSE, Pushes(port.get()), ignored.get());
    return out;
}

const Cell* port_write(Cell* port_in, Cell* data, const IoArgs& args) {
    GcRoot port(*port_in), ignored;
    Cell* out = answer_cell();
    bool seek = args.seek != nullptr;
    forward(ACT_OPEN, Pushes(port.get()).flag(false).flag(false).flag(true).flag(seek).refinement(nullptr), ignored.get());
    bool counted = args.part && cell_is(args.part, TYPE_INTEGER);
    Pushes insert(port.get());
    insert.add(data).count(counted, counted ? cell_int(args.part) : 0).flag(false).count(true, 1);
    forward(ACT_INSERT, insert, ignored.get());
    port_copy(port.get(), out, args.part, false, nullptr);
    forward(ACT_CLOSE, Pushes(port.get()), ignored.get());
    return out;
}

void port_init(DatatypeRegistry& registry) {
    Registration r(TYPE_PORT);
    r.own<ACT_MAKE>(port_make).own<ACT_FORM>(port_form).own<ACT_MOLD>(port_mold);
    r.inherit(ACT_REFLECT).inherit(ACT_EVAL_PATH).inherit(ACT_COMPARE);
    r.own<ACT_APPEND>(port_append).own<ACT_INSERT>(port_append).own<ACT_CHANGE>(port_change);
    r.own<ACT_AT>(forward_stacked<ACT_AT, 2>).own<ACT_SKIP>(forward_stacked<ACT_SKIP, 2>);
    r.own<ACT_BACK>(forward_stacked<ACT_BACK, 1>).own<ACT_HEAD>(forward_stacked<ACT_HEAD, 1>);
    r.own<ACT_HEAD_Q>(forward_stacked<ACT_HEAD_Q, 1>).own<ACT_INDEX_Q>(forward_stacked<ACT_INDEX_Q, 1>);
    r.own<ACT_NEXT>(forward_stacked<ACT_NEXT, 1>).own<ACT_TAIL>(forward_stacked<ACT_TAIL, 1>);
    r.own<ACT_TAIL_Q>(forward_stacked<ACT_TAIL_Q, 1>);
    r.own<ACT_CLEAR>(port_clear).own<ACT_COPY>(port_copy).own<ACT_FIND>(port_find).own<ACT_SELECT>(port_select);
    r.own<ACT_LENGTH_Q>(port_length_q).own<ACT_MOVE>(port_move).own<ACT_PICK>(port_pick).own<ACT_POKE>(port_poke);
    r.own<ACT_PUT>(port_put).own<ACT_REMOVE>(port_remove).own<ACT_REVERSE>(port_reverse).own<ACT_SORT>(port_sort);
    r.own<ACT_SWAP>(port_swap).own<ACT_TAKE>(port_take).own<ACT_TRIM>(port_trim);
    r.own<ACT_CREATE>(port_plain<ACT_CREATE>).own<ACT_CLOSE>(port_plain<ACT_CLOSE>);
    r.own<ACT_DELETE>(port_plain<ACT_DELETE>).own<ACT_QUERY>(port_plain<ACT_QUERY>);
    r.own<ACT_UPDATE>(port_plain<ACT_UPDATE>).own<ACT_MODIFY>(port_modify).own<ACT_OPEN>(port_open);
    r.own<ACT_READ>(port_read).own<ACT_RENAME>(port_rename).own<ACT_WRITE>(port_write);
    registry.register_datatype(r);
}

}  // namespace zol
