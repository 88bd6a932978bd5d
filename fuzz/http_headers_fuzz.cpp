// libFuzzer target for the reader of response header lines, whose bytes come from any server: whatever the
// input, every header it gives has a name without colon, line break or surrounding blanks, and a value
// without line feed or surrounding blanks; the headers of a last response are read the same on their own.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/http.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string raw(reinterpret_cast<const char*>(data), size);
    auto headers = zol::platform::http_parse_headers(raw);
    for (const auto& h : headers) {
        check(!h.name.empty());
        check(h.name.find_first_of(":\n") == std::string::npos);
        check(!blank(h.name.front()) && !blank(h.name.back()));
        check(h.value.find('\n') == std::string::npos);
        check(h.value.empty() || (!blank(h.value.front()) && !blank(h.value.back())));
    }
    // A status line starts the response afresh: what came before it is not read.
    auto again = zol::platform::http_parse_headers("junk: 1\r\nHTTP/1.1 200 OK\r\n" + raw);
    if (raw.rfind("HTTP/", 0) != 0 && raw.find("\nHTTP/") == std::string::npos && !raw.empty() &&
        !blank(raw[0])) {
        check(again.size() == headers.size());
        for (size_t i = 0; i < headers.size(); i++) {
            check(again[i].name == headers[i].name && again[i].value == headers[i].value);
        }
    }
    return 0;
}
