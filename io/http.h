// HTTP requests of the url! actions: the method word, header block and body become a request for the
// platform's HTTP client, and its response becomes a string!, binary!, block of lines, or with info a block of
// the status, the headers as a map! and the body.
#pragma once
#include "runtime/cell.h"

namespace zol::io {

struct HttpCall {
    const Cell* method;   // word!: get, post and head, or any other word, sent upper-cased
    const Cell* url;      // url! (http or https)
    const Cell* headers;  // block! of alternating names and values, or none for the default headers
    const Cell* body;     // string!, binary! or none
    bool binary, lines, info;
};

// Runs the request and puts its result in out (rooted): false, with out untouched, when no connection could
// be made or the transfer broke. A method, header or body that cannot be sent raises invalid-arg with the
// value; a response too large for memory raises no-memory; a text body that is not UTF-8 invalid-utf8.
// Allocates.
bool http_call(const HttpCall& call, Cell* out);

}  // namespace zol::io
