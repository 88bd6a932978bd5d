// The lexer engine: the token loop over the state machine, the cell stack with its open markers, series
// closing, events to the callback, error reports and the entry points.
//
// One byte costs one class lookup and one transition; a token ends in a final state without consuming the
// byte that led there, and its scanner or loader moves the position on when that byte is its own (a closing
// quote, bracket or '%'). Values are pushed on the lexer's cell stack and copied into their series once,
// when the series closes.
#include "lexer.h"

#include <cstring>

#include "interpreter/eval.h"
#include "lexer_internal.h"
#include "runtime/values/system_object.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zol {

Cell g_lexer_token_names;

namespace {

// Whether a callback's input argument still holds the lexer's input series (it may have moved the index, but
// a callback that stored another value there leaves the position alone).
bool same_input_series(const Cell* arg, const Cell* input) {
    return cell_type(arg) == cell_type(input) && !cell_is(arg, TYPE_NONE) && arg->w2 == input->w2;
}

// The evaluator's entry for callbacks. The call leaves its argument cells where they were, above its result,
// so the input argument (the second) is read back from there when it still holds the input series.
bool invoke_interpreted(const Cell* callback, Cell* args) {
    Cell* call = g_args.top;
    interp_call(callback, args, 5, &g_word[W_LEXER_CALLBACK], CALLBACK_LEXER);
    if (unwind_pending()) return false;
    bool answer = cell_true(call);
    const Cell* input = call + 1;
    if (same_input_series(input, &args[1])) args[1] = *input;
    return answer;
}

}  // namespace

LexerCallbackInvoke g_lexer_invoke = invoke_interpreted;

namespace lex {

Cell* g_cells = nullptr;

namespace {

constexpr uint32_t FIRST_CELLS = 1000;
constexpr uint32_t MAX_CELLS = 1u << 26;  // 1 GB of cells: beyond that the lexer reports no-memory
constexpr uint32_t SCRATCH_BYTES = 100000;
constexpr uint32_t NEAR_BYTES = 30;  // how much of the source an error report quotes

uint32_t g_capacity = 0;
State* g_outermost = nullptr;
State* g_innermost = nullptr;
// The UTF-8 form of string input: a stack shared by nested lexers, each using the part after its parent's.
uint8_t* g_scratch = nullptr;
uint32_t g_scratch_used = 0;

void grow_cells() {
    if (g_capacity >= MAX_CELLS) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t bigger = g_capacity * 2;
    g_cells = static_cast<Cell*>(tracked_realloc(g_cells, sizeof(Cell) * bigger));
    g_capacity = bigger;
}

// Links a state as the innermost active lexer for the time of a scan, also when an exit passes through.
class StateLink {
public:
    explicit StateLink(State& s) : s_(s) {
        s.parent = g_innermost;
        if (g_innermost) {
            g_innermost->next = &s;
        } else {
            g_outermost = &s;
        }
        g_innermost = &s;
        s.base = s.level = s.tail = s.parent ? s.parent->tail : 0;
    }
    ~StateLink() {
        g_innermost = s_.parent;
        if (s_.parent) {
            s_.parent->next = nullptr;
        } else {
            g_outermost = nullptr;
        }
    }
    StateLink(const StateLink&) = delete;
    StateLink& operator=(const StateLink&) = delete;

private:
    State& s_;
};

// --- character offsets of string input

uint32_t char_offset(State& s, const uint8_t* at) {
    if (!s.string_input) return uint32_t(at - s.start);
    if (!s.offset_pos || at < s.offset_pos) {
        s.offset_pos = s.start;
        s.offset_chars = 0;
    }
    s.offset_chars += utf8_count_chars(s.offset_pos, at);
    s.offset_pos = at;
    return s.offset_chars;
}

const uint8_t* position_of(State& s, uint32_t index) {
    if (index <= s.input_index) return s.start;
    uint32_t n = index - s.input_index;
    if (!s.string_input) return n < uint32_t(s.end - s.start) ? s.start + n : s.end;
    return utf8_skip_chars(s.start, s.end, n);
}

// --- events

const Cell* event_word(uint32_t event) {
    switch (event) {
        case LEX_EVENT_PRESCAN: return &g_word[W_PRESCAN];
        case LEX_EVENT_SCAN: return &g_word[W_SCAN];
        case LEX_EVENT_LOAD: return &g_word[W_LOAD];
        case LEX_EVENT_OPEN: return &g_word[W_OPEN];
        case LEX_EVENT_CLOSE: return &g_word[W_CLOSE];
        default: return &g_word[W_ERROR];
    }
}

// The events a callback asks for: the event words of the block that starts its body, or all of them.
uint32_t callback_mask(const Cell* callback) {
    constexpr uint32_t ALL = 63;
    if (!cell_is(callback, TYPE_FUNCTION) && !cell_is(callback, TYPE_ROUTINE)) return ALL;
    const Cell* body = function_body(callback);
    if (!cell_is(body, TYPE_BLOCK) || series_at_tail(body)) return ALL;
    const Cell* first = cell_series(body)->cells() + series_index(body);
    if (!cell_is(first, TYPE_BLOCK)) return ALL;
    uint32_t mask = 0;
    Series* words = cell_series(first);
    for (uint32_t i = series_index(first); i < words->used(); i++) {
        const Cell* w = words->cells() + i;
        if (!is_any_word(w)) continue;
        for (uint32_t event = LEX_EVENT_PRESCAN; event <= LEX_EVENT_ERROR; event <<= 1) {
            if (symbol_resolve(word_symbol(w)) == symbol_resolve(word_symbol(event_word(event)))) mask |= event;
        }
    }
    return mask;
}

void token_name(int32_t type, Cell* out) {
    if (type > 0) {
        set_datatype(out, uint32_t(type));
        return;
    }
    set_none(out);
    // The names are system/lexer/exit-states once the system object exists (the user may replace them).
    const Cell* block = system_object() ? system_get(SYS_LEXER_EXIT_STATES) : &g_lexer_token_names;
    // The comma has no entry of its own (its place holds the next token's): it is reported with none.
    if (type == 0 || type == -int32_t(T_COMMA) || !block || !cell_is(block, TYPE_BLOCK)) return;
    uint32_t position = series_index(block) + uint32_t(-type) - 1;
    Series* names = cell_series(block);
    if (position < names->used()) *out = names->cells()[position];
    cell_clear_new_line(out);
}

// --- series

// The cells after a marker become a new series of the given type.
void make_list(Cell* out, TypeId type, uint32_t first, uint32_t count) {
    uint32_t node = series_alloc_cells(count ? count : 1);
    Series* buffer = node_series(node);
    if (count) std::memcpy(buffer->data(), cell_at(first), size_t(count) * sizeof(Cell));
    buffer->tail = buffer->head + count * uint32_t(sizeof(Cell));
    set_series(out, type, node);
}

float number_float(const Cell* c) { return cell_is(c, TYPE_INTEGER) ? float(cell_int(c)) : float(cell_float(c)); }

// A map from the cells of an open map marker; every key must be of a key type.
void make_map(State& s, Cell* out, uint32_t first, uint32_t count, const uint8_t* at) {
    if (count % 2) lexer_error(s, at, at + 1, TYPE_MAP);
    for (uint32_t i = 0; i < count; i += 2) {
        if (!map_key_type_q(cell_type(cell_at(first + i)))) lexer_error(s, at, at + 1, TYPE_MAP);
    }
    map_make_at(out, cell_at(first), count, true);
}

// A point from the numbers of a paren that a comma turned into a point literal.
void make_point(State& s, Cell* out, uint32_t type, uint32_t first, uint32_t count, const uint8_t* at) {
    uint32_t dims = type == TYPE_POINT3D ? 3 : 2;
    float v[3] = {0, 0, 0};
    if (s.load) {
        if (count != dims) lexer_error(s, at, at + 1, int32_t(type));
        for (uint32_t i = 0; i < dims; i++) {
            const Cell* c = cell_at(first + i);
            if (!is_number(c)) lexer_error(s, at, at + 1, int32_t(type));
            v[i] = number_float(c);
        }
    }
    if (dims == 3) {
        point3d_make_at(out, v[0], v[1], v[2]);
    } else {
        point2d_make_at(out, v[0], v[1]);
    }
}

// --- the token loop

// Runs a scanner or loader; in modes that do not load, a malformed token ends as an error token.
bool run_checked(State& s, TokenFn fn, bool load) {
    try {
        fn(s, s.token_start, s.token_end, s.flags, load);
        return true;
    } catch (const LexerStop&) {
        return false;
    }
}

// The token loop. Returns when the input is used up or one value is complete (one, prescan); a LexerStop
// that ends the whole scan is caught by the caller.
void run(State& s) {
    uint32_t carried_lines = 0;  // line breaks before a Unicode blank skipped at a token start
    // Every token moves the lexer on; coming back to the same place in the same state would never end.
    const uint8_t* last_pos = nullptr;
    uint32_t last_entry = 0, last_tail = 0;
    while (s.pos < s.end) {
        if (s.pos == last_pos && s.entry == last_entry && s.tail == last_tail) {
            lexer_error(s, s.pos, s.pos + 1, ERR_CODE_BAD_CHAR);
        }
        last_pos = s.pos;
        last_entry = s.entry;
        last_tail = s.tail;
        // Delimit the token: one class and one transition per byte.
        uint32_t state = s.entry;
        const uint8_t* p = s.pos;
        const uint8_t* const first = p;
        uint32_t flags = 0, lead = 0, lines_before = 0;
        uint32_t next;
        for (;;) {
            if (p == s.end) {
                next = kTransitions[state][C_EOF];
                break;
            }
            uint32_t entry = kCharClass[*p];
            flags |= entry;
            next = kTransitions[state][uint8_t(entry)];
            if (next >= FIRST_FINAL) break;
            if (uint8_t(entry) == C_LINE) {
                s.line++;
                lines_before += next == S_BETWEEN;
            }
            lead += next == S_BETWEEN;  // bytes consumed in state 0 are leading blanks
            state = next;
            p++;
        }
        const uint8_t* start = first + lead;
        // A Unicode blank where a token starts is a blank too.
        if (start < p && *start >= 0xC2 && s.entry == S_BETWEEN) {
            if (uint32_t n = unicode_blank_at(start, s.end)) {
                carried_lines += lines_before;
                s.pos = start + n;
                continue;
            }
        }
        s.token = next - 65;
        s.flags = flags & ~0xFFu;
        s.token_start = start;
        s.token_end = p;
        s.pos = p;
        s.prev_state = uint8_t(state);
        s.token_type = kStateType[next];
        s.type_override = -1;
        s.closing_type = 0;
        s.token_lines = lines_before + carried_lines;
        carried_lines = 0;

        // A word is cut at a Unicode blank inside it; the rest is read as the next token.
        if ((s.token == T_WORD || s.token == T_PATH_HEAD) && (s.flags & (F_UTF8_LEAD | F_UTF8_LEAD4))) {
            for (const uint8_t* q = start; q < p; q++) {
                if (unicode_blank_at(q, p)) {
                    s.token = T_WORD;
                    s.token_type = TYPE_WORD;
                    s.token_end = s.pos = q;
                    break;
                }
            }
        }

        const TokenHandlers& h = kTokenHandlers[s.token];
        bool ran = false;
        // A pre-scan runs the structural scanners (and the quoted string's) at once, loading nothing.
        if (s.prescan && s.token <= T_STRING) {
            if (!run_checked(s, h.scanner, false)) break;
            ran = true;
        }

        // Whether to process the token: a callback decides through the prescan event (which it also gets
        // for the tokens a pre-scan already ran); inside a braced string every token counts.
        bool process;
        if (!s.has_callback) {
            process = !s.prescan;
        } else if (s.brace_depth > 0) {
            process = true;
        } else {
            // A '(' that starts a point literal is not reported: the point token will be.
            bool point = s.token == T_PAREN_OPEN && paren_starts_point(s, s.token_end);
            int32_t type = s.token_type ? s.token_type : -int32_t(s.token);
            process = point || lexer_event(s, LEX_EVENT_PRESCAN, type, nullptr, s.token_start, s.token_end);
            if (s.moved) {
                s.moved = false;
                continue;
            }
        }
        process = process && !ran;

        if (process && s.token >= T_STRING) {
            bool to_load = s.load;
            // Loaders validate as they load, so a separate validating run is needed only when nothing is
            // loaded or the callback wants to see the token before it is.
            if (!s.load || (s.mask & LEX_EVENT_SCAN)) {
                TokenFn check = h.scanner ? h.scanner : h.loader;
                bool valid = run_checked(s, check, false);
                if (!valid) {
                    if (s.load) break;  // the callback stopped the lexer at an error
                    to_load = false;
                }
                if (s.has_callback) {
                    int32_t type = valid ? s.token_type : -int32_t(T_ERROR);
                    bool answer = lexer_event(s, LEX_EVENT_SCAN, type, nullptr, s.token_start, s.token_end);
                    if (s.moved) {
                        s.moved = false;
                        continue;
                    }
                    to_load = to_load && answer;
                }
            }
            if (to_load && h.loader) {
                uint32_t before = s.tail;
                h.loader(s, s.token_start, s.token_end, s.flags, true);
                if (s.has_callback && s.tail > before) {
                    uint32_t value = s.tail - 1;
                    Cell copy = *cell_at(value);
                    bool keep = lexer_event(s, LEX_EVENT_LOAD, s.token_type, &copy, s.token_start, s.token_end);
                    if (!keep && s.tail == value + 1) pop_cell(s);
                    if (s.moved) {
                        s.moved = false;
                        continue;
                    }
                }
            } else if (!to_load && s.pos == s.token_end) {
                skip_token(s);
            }
        } else if (process) {
            if (!run_checked(s, h.scanner, s.load)) break;
        } else if (!ran) {
            skip_token(s);
        }

        if (s.entry == S_PATH && s.token != T_PATH_HEAD && s.token != T_ERROR) path_end_check(s);

        if ((s.one || s.prescan) && s.token_type != 0 && s.entry != S_PATH && s.brace_depth == 0 &&
            s.token != T_PATH_HEAD) {
            uint32_t n = s.tail - s.base;
            if (n == 0 || (n == 1 && !is_marker(cell_at(s.base)))) {
                s.last_type = s.token_type;
                break;
            }
        }
        s.last_type = s.token_type;
    }
}

// Closes what is still open after an error so that an output block gets the values loaded before it:
// blocks and parens become their series, the other open levels (maps, paths, points) give their values to
// the level around them.
void close_all_after_error(State& s) {
    while (s.level > s.base) {
        uint32_t marker = s.level - 1;
        Cell* m = cell_at(marker);
        uint32_t type = marker_type(m);
        uint32_t previous = marker - m->w1;
        if (type == TYPE_BLOCK || type == TYPE_PAREN) {
            Cell value{};
            make_list(&value, TypeId(type), marker + 1, s.tail - marker - 1);
            store_keeping_new_line(cell_at(marker), value);
            s.tail = marker + 1;
        } else {
            std::memmove(cell_at(marker), cell_at(marker + 1), size_t(s.tail - marker - 1) * sizeof(Cell));
            s.tail--;
        }
        s.level = previous;
    }
}

// Hands the values over: one value to dst (or the output block), or all of them as a block.
void hand_over(State& s, Cell* dst, bool wrap) {
    uint32_t n = s.tail - s.base;
    bool to_output = cell_is(&s.output, TYPE_BLOCK);
    if (s.one && !wrap && n >= 1) {
        Cell first = *cell_at(s.base);
        if (to_output) {
            *block_alloc_tail(&s.output) = first;
        } else {
            cell_clear_new_line(&first);
            *dst = first;
        }
        return;
    }
    if (to_output) {
        for (uint32_t i = 0; i < n; i++) *block_alloc_tail(&s.output) = *cell_at(s.base + i);
        return;
    }
    Cell block{};
    make_list(&block, TYPE_BLOCK, s.base, n);
    *dst = block;
}

void set_optional(Cell* target, const Cell* value) {
    if (value) {
        *target = *value;
    } else {
        set_none(target);
    }
}

}  // namespace

// --- cell stack

Cell* push_cell(State& s) {
    if (s.tail >= g_capacity) grow_cells();
    Cell* c = g_cells + s.tail++;
    c->header = TYPE_UNSET | (s.token_lines ? HDR_NEW_LINE : 0);
    c->w1 = c->w2 = c->w3 = 0;
    return c;
}

// --- series

void open_series(State& s, uint32_t type, const uint8_t* at) {
    const Cell* inner = innermost_marker(s);
    if (inner && type_in(FAMILY_ANY_POINT, marker_type(inner))) lexer_error(s, at, at + 1, TYPE_POINT2D);
    if (s.has_callback) {
        bool answer = lexer_event(s, LEX_EVENT_OPEN, int32_t(type), nullptr, at, at + 1);
        if (s.moved || !answer) {
            s.entry = S_BETWEEN;
            return;
        }
    }
    uint32_t index = s.tail;
    Cell* m = push_cell(s);
    m->header = (m->header & HDR_NEW_LINE) | MARKER_TYPE;
    m->w1 = index - s.level;
    m->w2 = type;
    m->w3 = uint32_t(at - s.start);
    s.level = index + 1;
    s.entry = S_BETWEEN;
}

void restore_entry(State& s) {
    const Cell* inner = innermost_marker(s);
    s.entry = inner && type_in(FAMILY_ANY_PATH, marker_type(inner)) ? S_PATH : S_BETWEEN;
}

void close_series(State& s, int32_t expected, const uint8_t* at) {
    Cell* m = innermost_marker(s);
    uint32_t type = m ? marker_type(m) : 0;
    if (s.has_callback) {
        int32_t reported = !m || (type == TYPE_MAP && expected != TYPE_MAP) ? expected : int32_t(type);
        if (reported < 0) reported = int32_t(type);
        const uint8_t* from = m ? s.start + m->w3 : at;
        bool answer = lexer_event(s, LEX_EVENT_CLOSE, reported, nullptr, from, at);
        if (s.moved || !answer) {
            s.entry = S_BETWEEN;
            return;
        }
        m = innermost_marker(s);  // the callback may have pushed cells of a nested lexer
        type = m ? marker_type(m) : 0;
    }
    if (!m) {
        s.closing_type = expected;
        lexer_error(s, at, at + 1, ERR_CODE_NO_OPENING);
    }
    bool matches = expected < 0 || uint32_t(expected) == type || (expected == TYPE_BLOCK && type == TYPE_MAP) ||
                   (expected == TYPE_SET_PATH && type == TYPE_PATH) ||
                   (expected == TYPE_PAREN && type_in(FAMILY_ANY_POINT, type));
    if (!matches) {
        s.closing_type = int32_t(type);
        // A bracket error names the closing bracket; a path error shows the path.
        const uint8_t* from = type_in(FAMILY_ANY_PATH, type) ? s.start + m->w3 : at;
        lexer_error(s, from, at + 1, ERR_CODE_NO_OPENING);
    }
    uint32_t marker = s.level - 1;
    uint32_t first = marker + 1, count = s.tail - first;
    const uint8_t* opening = s.start + m->w3;
    uint32_t result_type = expected == TYPE_SET_PATH ? TYPE_SET_PATH : type;
    Cell value{};
    if (type == TYPE_MAP) {
        make_map(s, &value, first, s.load ? count : 0, opening);
    } else if (type_in(FAMILY_ANY_POINT, type)) {
        make_point(s, &value, type, first, count, opening);
    } else {
        make_list(&value, TypeId(result_type), first, count);
    }
    m = cell_at(marker);
    uint32_t previous = marker - m->w1;
    store_keeping_new_line(m, value);
    s.tail = marker + 1;
    s.level = previous;
    s.token_type = int32_t(result_type);
    restore_entry(s);
}

void path_end_check(State& s) {
    const Cell* m = innermost_marker(s);
    const uint8_t* path_start = m ? s.start + m->w3 : s.token_start;
    const uint8_t* p = s.pos;
    if (p >= s.end) {
        close_series(s, -1, p);
        return;
    }
    uint8_t c = byte_class(*p);
    if (c == C_COLON) {
        s.pos = p + 1;
        if (s.pos < s.end && *s.pos == '/') lexer_error(s, path_start, s.pos + 1, TYPE_PATH);
        close_series(s, TYPE_SET_PATH, p);
        return;
    }
    if (c == C_SLASH) {
        s.pos = p + 1;
        if (s.pos >= s.end) lexer_error(s, path_start, s.pos, TYPE_PATH);
        return;
    }
    // Anything else must end the path: a character that neither ends it nor separates elements is no path.
    if (kPathEnd[c] || c == C_CONTROL) {
        close_series(s, -1, p);
        return;
    }
    lexer_error(s, path_start, p + 1, TYPE_PATH);
}

// --- events

bool lexer_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                 const uint8_t* end) {
    if (event == LEX_EVENT_SCAN && type == -int32_t(T_ERROR)) {
        event = LEX_EVENT_ERROR;
        type = TYPE_ERROR;
    }
    if (!s.has_callback || !(s.mask & event)) return true;
    if (!g_lexer_invoke) fire(ERR_INTERNAL_NOT_DONE);
    if (type_in(FAMILY_ANY_POINT, uint32_t(type)) && start > s.start && start[-1] == '(') start--;
    const uint8_t* at = event == LEX_EVENT_OPEN || (event == LEX_EVENT_PRESCAN && type < 0) ? start : end;

    Cell* args = g_args.top;
    stack_push(event_word(event));
    Cell* series = stack_push(&s.input);
    uint32_t given = 0;
    if (!cell_is(series, TYPE_NONE)) {
        given = s.input_index + char_offset(s, at);
        series->w1 = given;
    }
    token_name(type, stack_push_cell());
    set_integer(stack_push_cell(), int32_t(s.line));
    Cell* token = stack_push_cell();
    if (value) {
        *token = *value;
        cell_clear_new_line(token);
    } else {
        int32_t from = int32_t(char_offset(s, start)), to = int32_t(char_offset(s, end));
        pair_make_at(token, from + 1, to + 1);
    }
    bool answer = g_lexer_invoke(&s.callback, args);
    if (unwind_pending()) throw PendingUnwind{};
    const Cell* back = args + 1;
    if (same_input_series(back, &s.input) && series_index(back) != given) {
        // The callback moved the input: go on from there, never outside the input.
        const uint8_t* to = position_of(s, series_index(back));
        s.line = 1 + count_lines(s.start, to);
        s.pos = to;
        s.moved = true;
    }
    g_args.top = args;
    return answer;
}

// --- errors

void lexer_error(State& s, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (!s.load) {
        s.token_type = TYPE_ERROR;
        throw LexerStop{};
    }
    if (!start) {
        const Cell* m = innermost_marker(s);
        start = m ? s.start + m->w3 : s.start;
    }
    if (!end || end < start) end = start;
    if (s.has_callback) {
        const Cell* m = innermost_marker(s);
        if (s.entry == S_PATH && m && type_in(FAMILY_ANY_PATH, marker_type(m))) {
            bool saved = s.has_callback;
            s.has_callback = false;  // the path closes as part of the report, not as an event of its own
            close_series(s, -1, start);
            s.has_callback = saved;
        }
        int32_t type = code > 0                ? code
                       : s.closing_type > 0    ? s.closing_type
                       : s.token_type > 0      ? s.token_type
                       : s.type_override >= 0  ? s.type_override
                                               : int32_t(TYPE_ERROR);
        bool answer = lexer_event(s, LEX_EVENT_ERROR, type, nullptr, start, end);
        if (!answer) throw LexerStop{};
    }
    const uint8_t* near_end = start;
    while (near_end < s.end && *near_end != '\n' && near_end - start < int32_t(NEAR_BYTES)) near_end++;
    GcRoot near;
    string_make(near.get(), NEAR_BYTES);
    string_append_utf8(near.get(), start, size_t(near_end - start));
    GcRoot line;
    string_make(line.get(), 16);
    string_append_ascii(line.get(), "(line ");
    const char* digits = integer_to_decimal(int32_t(s.line));
    string_append_ascii(line.get(), digits);
    string_append_ascii(line.get(), ")");

    if (type_in(FAMILY_ANY_PATH, uint32_t(s.closing_type))) code = ERR_CODE_BAD_CHAR;
    switch (code) {
        case ERR_CODE_BAD_CHAR: fire(ERR_SYNTAX_BAD_CHAR, near.get(), line.get());
        case ERR_CODE_MALCONSTRUCT: fire(ERR_SYNTAX_MALCONSTRUCT, near.get(), line.get());
        case ERR_CODE_NO_OPENING:
        case ERR_CODE_NO_CLOSING: {
            // The character that is missing: the closing one of the open series, or the opening one of a
            // closing bracket without it.
            uint32_t missing = '_';
            char here = start < s.end ? char(*start) : 0;
            if (s.closing_type == TYPE_BLOCK || s.closing_type == TYPE_MAP) {
                missing = here == ']' && code == ERR_CODE_NO_OPENING && !innermost_marker(s) ? '[' : ']';
            } else if (s.closing_type == TYPE_PAREN || type_in(FAMILY_ANY_POINT, uint32_t(s.closing_type))) {
                missing = here == ')' && code == ERR_CODE_NO_OPENING && !innermost_marker(s) ? '(' : ')';
            }
            Cell c;
            set_char(&c, missing);
            fire(ERR_SYNTAX_MISSING, near.get(), &c, line.get());
        }
        default: {
            Cell type;
            int32_t t = code > 0 ? code : s.token_type > 0 ? s.token_type : int32_t(TYPE_ERROR);
            set_datatype(&type, uint32_t(t));
            fire(ERR_SYNTAX_INVALID, near.get(), &type, line.get());
        }
    }
}

// --- marking

void mark_states() {
    for (State* s = g_outermost; s; s = s->next) {
        gc_mark_cells(cell_at(s->base), cell_at(s->tail));
        gc_mark_cells(&s->callback, &s->callback + 1);
        gc_mark_cells(&s->input, &s->input + 1);
        gc_mark_cells(&s->output, &s->output + 1);
    }
}

}  // namespace lex

using namespace lex;

void lexer_init() {
    if (!g_cells) {
        g_cells = static_cast<Cell*>(tracked_alloc(sizeof(Cell) * FIRST_CELLS));
        g_capacity = FIRST_CELLS;
        g_scratch = static_cast<uint8_t*>(tracked_alloc(SCRATCH_BYTES));
    }
    g_scratch_used = 0;
    g_outermost = g_innermost = nullptr;
    word_cache_clear();

    // The names of the structural tokens in events, by token number: datatypes, and four words.
    static const char* const kNames[] = {
        "eof",         "error!",  "block!",   "block!",   "paren!",   "paren!",    "string!", "string!",
        "map!",        "path!",   "datatype!", "comment", "string!",  "word!",     "issue!",  "integer!",
        "refinement!", "char!",   "file!",    "binary!",  "percent!", "float!",    "float!",  "tuple!",
        "date!",       "pair!",   "time!",    "money!",   "tag!",     "url!",      "email!",  "hex",
        "rawstring",   "ref!",
    };
    set_series(&g_lexer_token_names, TYPE_BLOCK, series_alloc_cells(34));
    gc_register_root(&g_lexer_token_names);
    for (const char* name : kNames) {
        uint32_t length = uint32_t(std::strlen(name));
        uint32_t type = 0;
        for (uint32_t t = 1; name[length - 1] == '!' && t <= TYPE_MAX; t++) {
            if (std::strcmp(type_name(t), name) == 0) type = t;
        }
        Cell entry;
        if (type) {
            set_datatype(&entry, type);
        } else {
            word_make_at(symbol_make(name), &entry);
        }
        *block_alloc_tail(&g_lexer_token_names) = entry;
    }
    gc_keep_remove(mark_states);
    gc_keep_push(mark_states);
}

int32_t lexer_scan(Cell* dst, const uint8_t* input, uint32_t length, const LexOptions& options,
                   const Cell* input_series) {
    bool wrap = options.wrap;
    State s;
    StateLink link(s);
    s.start = s.pos = input;
    s.end = input + length;
    s.one = options.one;
    s.prescan = options.prescan;
    s.scan = options.scan;
    s.load = !options.prescan && !options.scan;
    set_optional(&s.callback, options.callback);
    set_optional(&s.input, input_series);
    set_optional(&s.output, options.output);
    s.has_callback = !cell_is(&s.callback, TYPE_NONE) && !cell_is(&s.callback, TYPE_UNSET);
    if (s.has_callback) s.mask = callback_mask(&s.callback);
    if (type_in(FAMILY_ANY_STRING, cell_type(&s.input))) {
        s.string_input = true;
        s.input_index = series_index(&s.input);
    } else if (cell_is(&s.input, TYPE_BINARY)) {
        s.input_index = series_index(&s.input);
    }

    // An exit leaving the scan still hands an output block what was loaded before it. The exit has already
    // unwound the frames to its target: an error the hand-over raises in turn (no memory left) is dropped
    // inside a try of its own, so that the first exit goes on as it was.
    auto keep_output = [&] {
        if (!cell_is(&s.output, TYPE_BLOCK)) return;
        Cell* base = g_args.base;
        Cell* top = g_args.top;
        uint32_t pending = g_system.pending;
        stack_mark_try(&g_word[W_TRY]);
        try {
            close_all_after_error(s);
            hand_over(s, dst, wrap);
            unwind_frame_drop();
        } catch (const ErrorUnwind&) {
            // the try frame is gone with it
        }
        g_system.pending = pending;
        g_args.base = base;
        g_args.top = top;
    };
    bool handed_over = false;
    try {
        try {
            run(s);
            if (s.brace_depth > 0) lexer_error(s, s.brace_start, s.end, TYPE_STRING);
            if (s.tail > s.base) {
                const Cell* m = innermost_marker(s);
                if (s.prescan && s.entry == S_PATH && s.token_type != TYPE_ERROR && m) {
                    s.token_type = int32_t(marker_type(m));
                } else if (m) {
                    s.closing_type = int32_t(marker_type(m));
                    lexer_error(s, nullptr, nullptr, ERR_CODE_NO_CLOSING);
                }
            }
        } catch (const LexerStop&) {
            // A stop ends the scan quietly. A callback's stop keeps what was loaded, the open series closed;
            // a series left open by an error in a scan or prescan leaves no value.
            if (innermost_marker(s)) {
                if (!s.load) {
                    set_none(dst);
                    handed_over = true;
                } else {
                    close_all_after_error(s);
                }
            }
        }
        if (!s.scan && !handed_over) hand_over(s, dst, wrap);
    } catch (const ErrorUnwind&) {
        keep_output();
        throw;
    } catch (const PendingUnwind&) {
        keep_output();
        throw;
    }
    if (options.consumed) *options.consumed = s.string_input ? char_offset(s, s.pos) : uint32_t(s.pos - s.start);
    return s.token_type;
}

namespace {

// Scratch space for one lexer's input: the shared buffer after the parents' part, or a buffer of its own
// when the text does not fit; handed back on return, also when an exit passes through. One large buffer is
// kept for the next large text, so that loading big files again and again does not map fresh memory each time.
class InputBuffer {
public:
    explicit InputBuffer(uint32_t bytes) : saved_(g_scratch_used) {
        uint64_t needed = uint64_t(bytes) + 1;
        if (g_scratch_used + needed <= SCRATCH_BYTES) {
            data_ = g_scratch + g_scratch_used;
            g_scratch_used += uint32_t(needed);
        } else if (!g_spare_in_use && needed <= SPARE_LIMIT) {
            if (g_spare_size < needed) {
                tracked_free(g_spare);
                g_spare = nullptr;  // a failed allocation below ends the process: never leave it dangling
                g_spare = static_cast<uint8_t*>(tracked_alloc(size_t(needed)));
                g_spare_size = needed;
            }
            g_spare_in_use = uses_spare_ = true;
            data_ = g_spare;
        } else {
            own_ = static_cast<uint8_t*>(tracked_alloc(size_t(needed)));
            data_ = own_;
        }
    }
    ~InputBuffer() {
        g_scratch_used = saved_;
        if (uses_spare_) g_spare_in_use = false;
        tracked_free(own_);
    }
    InputBuffer(const InputBuffer&) = delete;
    InputBuffer& operator=(const InputBuffer&) = delete;
    uint8_t* data() { return data_; }

private:
    static constexpr uint64_t SPARE_LIMIT = 16u << 20;
    static inline uint8_t* g_spare = nullptr;
    static inline uint64_t g_spare_size = 0;
    static inline bool g_spare_in_use = false;
    uint32_t saved_;
    bool uses_spare_ = false;
    uint8_t* data_ = nullptr;
    uint8_t* own_ = nullptr;
};

// The UTF-8 size of count units of a string buffer, and their encoding. Latin-1 text (1-byte units), the
// common case, is done byte by byte.
uint64_t utf8_size(const uint8_t* units, uint32_t count, uint32_t unit) {
    if (unit != 1) return utf8_string_length(units, units + uint64_t(count) * unit, unit);
    uint64_t n = count;
    for (uint32_t i = 0; i < count; i++) n += units[i] >> 7;
    return n;
}

void utf8_encode_units(const uint8_t* units, uint32_t count, uint32_t unit, uint8_t* out) {
    if (unit == 1) {
        for (uint32_t i = 0; i < count; i++) {
            uint8_t b = units[i];
            if (b < 0x80) {
                *out++ = b;
            } else {
                *out++ = uint8_t(0xC0 | b >> 6);
                *out++ = uint8_t(0x80 | (b & 0x3F));
            }
        }
        return;
    }
    for (uint32_t i = 0; i < count; i++) out += utf8_encode_char(string_get_char(units + uint64_t(i) * unit, unit), out);
}

}  // namespace

int32_t load_source(Cell* dst, const Cell* source, int32_t length, const LexOptions& options) {
    GcRoot src(*source);
    uint32_t type = cell_type(src.get());
    if (!type_in(FAMILY_ANY_STRING, type) && type != TYPE_BINARY) fire(ERR_SCRIPT_INVALID_ARG, src.get());
    Series* s = cell_series(src.get());
    uint32_t available = series_index(src.get()) < s->used() ? s->used() - series_index(src.get()) : 0;
    uint32_t count = length < 0 || uint32_t(length) > available ? available : uint32_t(length);
    const uint8_t* units = s->head_ptr() + uint64_t(series_index(src.get())) * s->unit();
    uint64_t bytes = type == TYPE_BINARY ? count : utf8_size(units, count, s->unit());
    if (bytes >= MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    InputBuffer buffer{uint32_t(bytes)};
    // Nothing above allocates series, so the units are still where they were.
    if (type == TYPE_BINARY) {
        std::memcpy(buffer.data(), units, count);
    } else {
        utf8_encode_units(units, count, s->unit(), buffer.data());
    }
    return lexer_scan(dst, buffer.data(), uint32_t(bytes), options, src.get());
}

}  // namespace zol
