// The HTTP client: one synchronous request over libcurl, which only platform/http.cpp includes. Plain bytes
// in and out; the url! actions turn them into values and the failure kinds into errors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zol::platform {

struct HttpHeader {
    std::string name, value;
};

struct HttpRequest {
    std::string method;  // upper case: "GET", "POST", "HEAD", or any other token such as "PUT"
    std::string url;     // http:// or https://
    // Sent as given and in order. Left empty, the transfer adds only what the protocol itself needs (Host,
    // Content-Length): libcurl's own Accept, Content-Type and Expect are held back.
    std::vector<HttpHeader> headers;
    // Sent with its exact size by every method but GET and HEAD; a POST without one sends an empty body.
    std::optional<std::string> body;
    // A connection not made within connect_seconds fails; so does a transfer that moves no byte for
    // stall_seconds, whether it is sending or receiving.
    long connect_seconds = 60;
    long stall_seconds = 30;
};

enum class HttpFailure : uint8_t {
    none,
    bad_request,  // a method, URL or header line that cannot be sent as it stands (no request was made)
    connect,      // name not resolved, connection refused or not made in time
    tls,          // the secure channel could not be set up or the peer's certificate was refused
    transfer,     // the connection broke or stalled before the whole response had come
    no_memory,    // the response did not fit in memory (or past 2 GB, more than a series holds)
};

struct HttpResponse {
    HttpFailure failure = HttpFailure::none;
    std::string reason;  // what went wrong, in libcurl's words, when failure is not none
    int status = 0;
    // The header lines of the last response (after any redirects and interim replies), in order, the status
    // line left out; a name that came twice is here twice.
    std::vector<HttpHeader> headers;
    std::string body;  // the bytes as they came, undecoded
};

// Runs the request to its end: redirects are followed, certificates checked against the system's
// authorities. A 4xx or 5xx status is a response like any other, not a failure.
HttpResponse http_request(const HttpRequest& request);

// A method the request line can carry: one or more token characters.
bool http_method_valid(const std::string& method);
// A header that cannot break the request apart: a name of token characters, a value without CR, LF or NUL.
bool http_header_valid(const std::string& name, const std::string& value);

// The header lines of the last response in a run of raw header bytes: a line starting "HTTP/" begins a new
// response; a line without a colon is left out; a line starting with a space or tab continues the previous
// value; spaces and tabs around a value are trimmed.
std::vector<HttpHeader> http_parse_headers(const std::string& raw);

}  // namespace zol::platform
