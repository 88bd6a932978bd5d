// The HTTP client over libcurl's easy interface. libcurl calls back while it receives; those callbacks only
// copy bytes into malloc'd buffers and say no (ending the transfer) when memory runs out: nothing in them can
// throw, so no C++ exception ever crosses libcurl's frames. libcurl is loaded on the first request, not at
// start-up: it brings a dozen libraries whose loading would cost every run of the program.
#include "platform/http.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace zol::platform {

namespace {

// Where a callback puts what arrives. Grown with realloc, not operator new: the runtime's operator new
// raises a language error when memory runs out, which must not unwind through libcurl.
struct Bytes {
    char* data = nullptr;
    size_t length = 0, capacity = 0;
    bool exhausted = false;  // an append failed: the transfer was stopped for want of memory

    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(data); }

    bool append(const char* bytes, size_t n) {
        if (n > capacity - length) {
            // Responses are bounded by what a series can hold; past that the transfer stops as out of memory.
            constexpr size_t kLimit = size_t{1} << 31;
            if (n > kLimit - length) return fail();
            size_t wanted = capacity < 4096 ? 4096 : capacity * 2;
            if (wanted < length + n) wanted = length + n;
            if (wanted > kLimit) wanted = kLimit;
            char* grown = static_cast<char*>(std::realloc(data, wanted));
            if (!grown) return fail();
            data = grown;
            capacity = wanted;
        }
        std::memcpy(data + length, bytes, n);
        length += n;
        return true;
    }
    bool fail() {
        exhausted = true;
        return false;
    }
};

// libcurl's write and header callbacks: a short count tells it to stop.
size_t take_bytes(char* bytes, size_t size, size_t count, void* target) noexcept {
    size_t n = size * count;
    return static_cast<Bytes*>(target)->append(bytes, n) ? n : 0;
}

bool is_token_char(unsigned char c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != 0;
}

bool is_token(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (!is_token_char(c)) return false;
    }
    return true;
}

bool same_name(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// A URL libcurl may be handed: a C string (no NUL inside) with nothing that could end the request line.
bool url_sendable(const std::string& url) {
    for (unsigned char c : url) {
        if (c <= ' ' || c == 0x7F) return false;
    }
    return !url.empty();
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text, size_t from, size_t to) {
    while (from < to && is_blank(text[from])) from++;
    while (to > from && is_blank(text[to - 1])) to--;
    return text.substr(from, to - from);
}

// The entries of libcurl the client uses, found once; loaded is false when the library or one of them is
// missing, or when its global set-up failed.
struct Curl {
    CURLcode (*global_init)(long);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    void (*easy_cleanup)(CURL*);
    const char* (*easy_strerror)(CURLcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
    bool loaded;
};

template <typename Fn>
bool find(void* library, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(dlsym(library, name));
    return *out != nullptr;
}

const Curl& curl_library() {
    static const Curl c = [] {
        Curl k{};
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) return k;
        k.loaded = find(library, "curl_global_init", &k.global_init) && find(library, "curl_easy_init", &k.easy_init) &&
                   find(library, "curl_easy_setopt", &k.easy_setopt) &&
                   find(library, "curl_easy_perform", &k.easy_perform) &&
                   find(library, "curl_easy_getinfo", &k.easy_getinfo) &&
                   find(library, "curl_easy_cleanup", &k.easy_cleanup) &&
                   find(library, "curl_easy_strerror", &k.easy_strerror) &&
                   find(library, "curl_slist_append", &k.slist_append) &&
                   find(library, "curl_slist_free_all", &k.slist_free_all);
        // The global set-up is not thread-safe; it runs here, once, under the static's guard.
        k.loaded = k.loaded && k.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        return k;
    }();
    return c;
}

bool is_tls_failure(CURLcode code) {
    switch (code) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_USE_SSL_FAILED:
            return true;
        default:
            return false;
    }
}

// Owns what one transfer allocates in libcurl.
struct Transfer {
    const Curl& lib;
    CURL* curl = lib.easy_init();
    curl_slist* headers = nullptr;
    explicit Transfer(const Curl& library) : lib(library) {}
    ~Transfer() {
        lib.slist_free_all(headers);
        if (curl) lib.easy_cleanup(curl);
    }
    bool add_header(const std::string& line) {
        curl_slist* grown = lib.slist_append(headers, line.c_str());
        if (!grown) return false;
        headers = grown;
        return true;
    }
};

HttpResponse failed(HttpFailure kind, const char* reason) {
    HttpResponse response;
    response.failure = kind;
    response.reason = reason;
    return response;
}

}  // namespace

bool http_method_valid(const std::string& method) { return is_token(method); }

bool http_header_valid(const std::string& name, const std::string& value) {
    if (!is_token(name)) return false;
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '\0') return false;
    }
    return true;
}

std::vector<HttpHeader> http_parse_headers(const std::string& raw) {
    std::vector<HttpHeader> headers;
    size_t at = 0;
    while (at < raw.size()) {
        size_t end = raw.find('\n', at);
        if (end == std::string::npos) end = raw.size();
        size_t stop = end > at && raw[end - 1] == '\r' ? end - 1 : end;
        std::string line = raw.substr(at, stop - at);
        at = end + 1;
        if (line.rfind("HTTP/", 0) == 0) {
            headers.clear();  // an earlier response's headers (a redirect, an interim reply) are not this one's
        } else if (!line.empty() && is_blank(line[0])) {
            std::string more = trimmed(line, 0, line.size());
            if (!headers.empty() && !more.empty()) {
                std::string& value = headers.back().value;
                if (!value.empty()) value += ' ';
                value += more;
            }
        } else if (size_t colon = line.find(':'); colon != std::string::npos && colon > 0) {
            headers.push_back({trimmed(line, 0, colon), trimmed(line, colon + 1, line.size())});
        }
    }
    return headers;
}

HttpResponse http_request(const HttpRequest& request) {
    if (!is_token(request.method)) return failed(HttpFailure::bad_request, "invalid method");
    if (!url_sendable(request.url)) return failed(HttpFailure::bad_request, "invalid URL");
    for (const HttpHeader& h : request.headers) {
        if (!http_header_valid(h.name, h.value)) return failed(HttpFailure::bad_request, "invalid header");
    }
    const Curl& lib = curl_library();
    if (!lib.loaded) return failed(HttpFailure::connect, "libcurl could not be loaded");

    Transfer transfer(lib);
    CURL* curl = transfer.curl;
    if (!curl) return failed(HttpFailure::no_memory, "out of memory");

    bool given_type = false, given_accept = false, given_expect = false;
    for (const HttpHeader& h : request.headers) {
        given_type |= same_name(h.name, "Content-Type");
        given_accept |= same_name(h.name, "Accept");
        given_expect |= same_name(h.name, "Expect");
        // "Name:" alone would tell libcurl to drop the header; "Name;" is its way to send it empty.
        std::string line = h.value.empty() ? h.name + ";" : h.name + ": " + h.value;
        if (!transfer.add_header(line)) return failed(HttpFailure::no_memory, "out of memory");
    }
    // libcurl's own additions go unless the caller gave them: the request carries the caller's headers only,
    // and a body goes at once rather than after a 100-continue round trip.
    if ((!given_type && !transfer.add_header("Content-Type:")) || (!given_accept && !transfer.add_header("Accept:")) ||
        (!given_expect && !transfer.add_header("Expect:"))) {
        return failed(HttpFailure::no_memory, "out of memory");
    }

    Bytes body, header_bytes;
    char reason[CURL_ERROR_SIZE] = {};
    lib.easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    lib.easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    lib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    lib.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib.easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    lib.easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    lib.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request.connect_seconds);
    lib.easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib.easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, request.stall_seconds);
    lib.easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers);
    lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, take_bytes);
    lib.easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    lib.easy_setopt(curl, CURLOPT_HEADERFUNCTION, take_bytes);
    lib.easy_setopt(curl, CURLOPT_HEADERDATA, &header_bytes);

    const std::string& method = request.method;
    if (method == "GET") {
        lib.easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        lib.easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
        // A POST always carries a body, empty when none was given, so that it says its length. Other methods
        // carry one when given; the POST machinery sends it, the custom request names the method.
        if (method == "POST" || request.body.has_value()) {
            // libcurl reads the bytes during the transfer: they must be the request's own, not a copy.
            const char* bytes = request.body ? request.body->data() : "";
            size_t length = request.body ? request.body->size() : 0;
            lib.easy_setopt(curl, CURLOPT_POST, 1L);
            lib.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(length));
            lib.easy_setopt(curl, CURLOPT_POSTFIELDS, bytes);
        }
        if (method != "POST") lib.easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    CURLcode code = lib.easy_perform(curl);
    if (code != CURLE_OK) {
        if (reason[0] == 0) std::strncpy(reason, lib.easy_strerror(code), CURL_ERROR_SIZE - 1);
        if (body.exhausted || header_bytes.exhausted || code == CURLE_OUT_OF_MEMORY) {
            return failed(HttpFailure::no_memory, "out of memory");
        }
        if (is_tls_failure(code)) return failed(HttpFailure::tls, reason);
        if (code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL) {
            return failed(HttpFailure::bad_request, reason);
        }
        if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_CONNECT) {
            return failed(HttpFailure::connect, reason);
        }
        // A time-out before any connection was made is a connection that could not be made.
        curl_off_t connected = 0;
        if (code == CURLE_OPERATION_TIMEDOUT && lib.easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
            connected == 0) {
            return failed(HttpFailure::connect, reason);
        }
        return failed(HttpFailure::transfer, reason);
    }
    long status = 0;
    lib.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);

    HttpResponse response;
    response.status = int(status);
    response.headers = http_parse_headers(std::string(header_bytes.data ? header_bytes.data : "", header_bytes.length));
    response.body.assign(body.data ? body.data : "", body.length);
    return response;
}

}  // namespace zol::platform
