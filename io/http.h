// HTTP requests of the url! actions: the method word, header block and body become a request for the
// platform's HTTP client, and its response becomes a string!, binary!, block of lines, or with info a block of
// the status, the headers as a map! and the body.
#pragma once
#include "runtime/cell.h"
#include "runtime/datatypes/url.h"

namespace zol::io {

// Start-up: hands http_call to the url! actions (g_http_request).
void io_http_init();

// Runs the request (a method word, sent upper-cased; a url!; a block of alternating header names and values,
// or none for the default headers; a string!, binary! or none as the body) and puts its result in out
// (rooted): false, with out untouched, when no connection could be made or the transfer broke. A method, header or body that cannot be sent raises invalid-arg with the
// value; a response too large for memory raises no-memory; a text body that is not UTF-8 invalid-utf8.
// Allocates.
bool http_call(const HttpRequest& call, Cell* out);

}  // namespace zol::io
