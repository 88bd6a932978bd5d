// url! values: a string! payload and buffer under type 9; file! (type 8) shares them and inherits the
// actions here. A URL is molded percent-encoded, made from a block of parts, joined with a path element, and
// read and written: http and https URLs through the HTTP client, any other scheme through a port made by the
// library's parse-url.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Makes the cell a new string of the given type (url!, file!) from UTF-8 text in which each %XX escape is a
// byte: a run of escapes that forms one UTF-8 sequence gives one character, and a "%" that starts no valid
// escape, or a run that is no complete sequence, stays as it is. Returns false, leaving the cell
// untouched, when the text itself is not valid UTF-8. Allocates.
bool url_load_at(Cell* cell, const uint8_t* text, size_t length, TypeId type);

// Appends to out (a string!) the UTF-8 bytes of a string-family value from its head, percent-encoded: an
// ASCII character plain in the table is copied, every other byte written as %XX (upper-case digits). The
// URL table keeps the characters a URL may hold as they are (!#$&'()*+,-./ digits :=?@ letters _ ~); the
// strict one only - . digits letters _ ~. Allocates.
void url_enhex_string(const Cell* value, Cell* out, bool strict);

// The HTTP client's request (method word, URL, headers block or none, body or none): its answer in result,
// false when no connection could be made. The io layer fills it in at start-up (io/http.h).
struct HttpRequest {
    const Cell* method;
    const Cell* url;
    const Cell* headers;
    const Cell* body;
    bool binary, lines, info;
};
using HttpRequestFn = bool (*)(const HttpRequest& request, Cell* result);
extern HttpRequestFn g_http_request;

// url!'s actions that file! inherits: make and to, eval-path.
const Cell* url_make(Cell* proto, Cell* spec, TypeId type);
const Cell* url_to(Cell* proto, Cell* spec, TypeId type);
const Cell* url_eval_path(Cell* url, const PathStep& step);

}  // namespace zol
