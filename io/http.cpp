// HTTP requests of the url! actions over the platform's HTTP client. Everything the request needs is turned
// into plain bytes before the transfer starts, so nothing of the language runs while libcurl holds the
// thread; the response's bytes become values once it has returned.
#include "io/http.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/values/mold.h"

namespace zol::io {

namespace {

// The headers a request carries when the caller gives none.
const platform::HttpHeader kDefaultHeaders[] = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

std::string word_text(const Cell* word) {
    uint32_t length;
    const uint8_t* bytes = symbol_bytes(word_symbol(word), &length);
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

// A name or value of the header block: a word's name, a string's text, any other value formed.
std::string header_text(const Cell* value) {
    if (is_any_word(value)) return word_text(value);
    if (cell_is(value, TYPE_STRING)) return string_to_utf8(value);
    return form_text(value);
}

// The request line's method: the word's name upper-cased, so get, post and head send GET, POST and HEAD.
std::string method_text(const Cell* word) {
    std::string text = word_text(word);
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    if (!platform::http_method_valid(text)) fire(ERR_SCRIPT_INVALID_ARG, word);
    return text;
}

// The header block's pairs in order; a name without its value, or a pair that would break the request
// apart (a line break in a value, a name that is no token), raises invalid-arg with the offending value.
std::vector<platform::HttpHeader> header_lines(const Cell* block) {
    std::vector<platform::HttpHeader> headers;
    uint32_t head = series_clamped_head(block);
    uint32_t count = cell_series(block)->used() - head;
    for (uint32_t i = 0; i < count; i += 2) {
        // The block's cells are read again at every step: forming allocates.
        const Cell* name = &cell_series(block)->cells()[head + i];
        if (i + 1 == count) fire(ERR_SCRIPT_INVALID_ARG, name);
        platform::HttpHeader h{header_text(name), ""};
        const Cell* value = &cell_series(block)->cells()[head + i + 1];
        h.value = header_text(value);
        if (!platform::http_header_valid(h.name, "")) fire(ERR_SCRIPT_INVALID_ARG, &cell_series(block)->cells()[head + i]);
        if (!platform::http_header_valid(h.name, h.value)) fire(ERR_SCRIPT_INVALID_ARG, &cell_series(block)->cells()[head + i + 1]);
        headers.push_back(std::move(h));
    }
    return headers;
}

// The URL as it goes on the wire: its text percent-encoded as a URL molds.
std::string url_text(const Cell* url) {
    GcRoot encoded;
    string_make(encoded.get());
    url_enhex_string(url, encoded.get(), false);
    return string_to_utf8(encoded.get());
}

// UTF-8 text into a new string! in out (rooted), CR LF and a lone CR turned into LF. A sequence cut by the
// end of the body is as invalid as a bad byte.
void decode_text(const std::string& bytes, Cell* out) {
    if (bytes.size() > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t undecoded = 0;
    uint32_t node =
        unicode_load_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), 0, &undecoded, true);
    set_series(out, TYPE_STRING, node);
    if (undecoded > 0) {
        GcRoot rest;
        binary_load_at(rest.get(), reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - undecoded, undecoded);
        fire(ERR_ACCESS_INVALID_UTF8, rest.get());
    }
}

// A block of the text's lines (each without its LF) in out (rooted); a last line without LF counts when it
// is not empty.
void decode_lines(const std::string& bytes, Cell* out) {
    GcRoot text, line;
    decode_text(bytes, text.get());
    block_make_at(out, 16);
    uint32_t node = series_node(text.get());
    uint32_t used = cell_series(text.get())->used();
    uint32_t start = 0;
    for (uint32_t i = 0; i <= used; i++) {
        bool end = i == used;
        if (!end && string_char_at(text.get(), i) != '\n') continue;
        if (end && i == start) break;
        set_series(line.get(), TYPE_STRING, series_copy_range(node, start, i - start));
        block_rs_append(out, line.get());
        start = i + 1;
    }
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void string_from_utf8(const std::string& text, Cell* out) {
    string_make(out, uint32_t(text.size()));
    string_append_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The response headers as a map! in out (rooted): each name a word in the spelling of its first line, its
// value a string!, or a block of the strings in order when the name came more than once (names compared
// without regard to case, as HTTP does). A line whose name is no token is left out: it could not be a word.
void headers_to_map(const std::vector<platform::HttpHeader>& headers, Cell* out) {
    std::vector<std::pair<std::string, std::vector<const std::string*>>> grouped;
    for (const platform::HttpHeader& h : headers) {
        if (!platform::http_header_valid(h.name, "")) continue;
        auto same = [&](const auto& entry) { return same_name(entry.first, h.name); };
        auto found = std::find_if(grouped.begin(), grouped.end(), same);
        if (found == grouped.end()) {
            grouped.push_back({h.name, {}});
            found = grouped.end() - 1;
        }
        found->second.push_back(&h.value);
    }
    GcRoot pairs, value, item;
    block_make_at(pairs.get(), int64_t(grouped.size()) * 2);
    for (const auto& [name, values] : grouped) {
        Cell key;
        set_word(&key, TYPE_WORD, 0,
                 symbol_make_len(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), true));
        block_rs_append(pairs.get(), &key);
        if (values.size() == 1) {
            string_from_utf8(*values[0], value.get());
        } else {
            block_make_at(value.get(), int64_t(values.size()));
            for (const std::string* v : values) {
                string_from_utf8(*v, item.get());
                block_rs_append(value.get(), item.get());
            }
        }
        block_rs_append(pairs.get(), value.get());
    }
    // The pairs block is rooted and no longer grows, so its cells stay put while the map is made.
    map_make_at(out, cell_series(pairs.get())->cells(), cell_series(pairs.get())->used(), true);
}

}  // namespace

void io_http_init() { g_http_request = http_call; }

bool http_call(const HttpRequest& call, Cell* out) {
    platform::HttpRequest request;
    request.method = method_text(call.method);
    request.url = url_text(call.url);
    if (cell_is(call.headers, TYPE_NONE)) {
        request.headers.assign(std::begin(kDefaultHeaders), std::end(kDefaultHeaders));
    } else {
        request.headers = header_lines(call.headers);
    }
    if (cell_is(call.body, TYPE_STRING)) {
        request.body = string_to_utf8(call.body);
    } else if (cell_is(call.body, TYPE_BINARY)) {
        uint32_t length;
        const uint8_t* bytes = binary_head(call.body, &length);
        request.body = std::string(reinterpret_cast<const char*>(bytes), length);
    } else if (!cell_is(call.body, TYPE_NONE)) {
        fire(ERR_SCRIPT_INVALID_ARG, call.body);  // a block body has no encoding of its own
    }

    platform::HttpResponse response = platform::http_request(request);
    if (response.failure == platform::HttpFailure::no_memory) fire(ERR_INTERNAL_NO_MEMORY);
    if (response.failure != platform::HttpFailure::none) return false;

    GcRoot body;
    if (request.method == "HEAD") {
        set_none(body.get());  // no body came
    } else if (call.binary) {
        if (response.body.size() > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
        binary_load_at(body.get(), reinterpret_cast<const uint8_t*>(response.body.data()), response.body.size());
    } else if (call.lines) {
        decode_lines(response.body, body.get());
    } else {
        decode_text(response.body, body.get());
    }
    std::string().swap(response.body);
    if (!call.info) {
        *out = *body.get();
        return true;
    }
    GcRoot result, headers;
    headers_to_map(response.headers, headers.get());
    block_make_at(result.get(), 3);
    Cell status;
    set_integer(&status, response.status);
    block_rs_append(result.get(), &status);
    block_rs_append(result.get(), headers.get());
    block_rs_append(result.get(), body.get());
    *out = *result.get();
    return true;
}

}  // namespace zol::io
