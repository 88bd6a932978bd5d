// The HTTP client of the platform layer against the local server of tests/http/server.py: methods and bodies,
// the headers sent and received, redirects, error statuses, and the ways a transfer fails.
#include <gtest/gtest.h>

#include "platform/http.h"
#include "tests/http_server.h"

namespace zol::test {
namespace {

using platform::HttpFailure;
using platform::HttpHeader;
using platform::HttpRequest;
using platform::HttpResponse;

std::string describe(const std::vector<HttpHeader>& headers) {
    std::string text;
    for (const HttpHeader& h : headers) text += "[" + h.name + "|" + h.value + "]";
    return text;
}

// What /echo sent back: the method, the header lines the server received and the body.
struct Echo {
    std::string method;
    std::vector<HttpHeader> headers;
    std::string body;

    const std::string* header(const std::string& name) const {
        for (const HttpHeader& h : headers) {
            if (h.name == name) return &h.value;
        }
        return nullptr;
    }
};

Echo read_echo(const std::string& text) {
    Echo echo;
    size_t at = text.find('\n');
    echo.method = text.substr(0, at);
    for (at++; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == at || end == std::string::npos) {
            echo.body = end == std::string::npos ? "" : text.substr(end + 1);
            break;
        }
        std::string line = text.substr(at, end - at);
        size_t colon = line.find(": ");
        echo.headers.push_back({line.substr(0, colon), line.substr(colon + 2)});
        at = end + 1;
    }
    return echo;
}

std::string pattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; i++) bytes[i] = char(i % 251);
    return bytes;
}

std::string all_bytes() {
    std::string bytes;
    for (int i = 0; i < 256; i++) bytes += char(i);
    return bytes;
}

class HttpClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new LocalHttpServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(server_->port(), 0) << "the local server did not start"; }

    static HttpResponse send(const std::string& method, const std::string& path, std::vector<HttpHeader> headers = {},
                             std::optional<std::string> body = {}) {
        HttpRequest request;
        request.method = method;
        request.url = server_->url(path);
        request.headers = std::move(headers);
        request.body = std::move(body);
        return platform::http_request(request);
    }

    static LocalHttpServer* server_;
};

LocalHttpServer* HttpClient::server_ = nullptr;

TEST(HttpHeaderLines, NamesAndValuesOfTheLastResponse) {
    struct Case {
        const char* raw;
        std::vector<HttpHeader> expected;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nA: 1\r\nB: two words\r\n\r\n", {{"A", "1"}, {"B", "two words"}}},
        // No space after the colon loses nothing; spaces and tabs around a value go.
        {"HTTP/1.1 200 OK\r\nX-A:1\r\nX-B: \t padded \t \r\n\r\n", {{"X-A", "1"}, {"X-B", "padded"}}},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n", {{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}},
        {"HTTP/1.1 200 OK\r\nEmpty:\r\nBlank:   \r\n\r\n", {{"Empty", ""}, {"Blank", ""}}},
        // Lines without a colon, or with nothing before it, are no headers.
        {"HTTP/1.1 200 OK\r\nno colon here\r\n: no name\r\nC: 3\r\n\r\n", {{"C", "3"}}},
        // A value's colons belong to the value.
        {"HTTP/1.1 200 OK\r\nLocation: http://h:80/a\r\n\r\n", {{"Location", "http://h:80/a"}}},
        // A folded line continues the value before it.
        {"HTTP/1.1 200 OK\r\nLong: first\r\n \t second\r\nNext: n\r\n\r\n", {{"Long", "first second"}, {"Next", "n"}}},
        // Only the last response counts: redirects and interim replies come first.
        {"HTTP/1.1 302 Found\r\nLocation: /b\r\nX-Hop: 1\r\n\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nD: 4\r\n\r\n",
         {{"D", "4"}}},
        // Bare LF line ends read the same.
        {"HTTP/1.0 200 OK\nE: 5\n\n", {{"E", "5"}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(platform::http_parse_headers(c.raw)), describe(c.expected)) << c.raw;
    }
}

TEST(HttpHeaderLines, WhatCanBeSent) {
    struct Case {
        const char* name;
        const char* value;
        bool valid;
    } cases[] = {
        {"Content-Type", "application/json", true},
        {"X-Empty", "", true},
        {"X-Tab", "a\tb", true},
        {"X-UTF8", "\xC3\xA9t\xC3\xA9", true},
        {"", "v", false},
        {"Two Words", "v", false},
        {"Colon:", "v", false},
        {"X-Injected", "a\r\nEvil: 1", false},
        {"X-LF", "a\nb", false},
        {"X-CR", "a\rb", false},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::http_header_valid(c.name, c.value), c.valid) << c.name;
    EXPECT_EQ(platform::http_header_valid("X-Nul", std::string("a\0b", 3)), false);

    struct Method {
        const char* text;
        bool valid;
    } methods[] = {{"GET", true}, {"M-SEARCH", true}, {"PROPFIND", true}, {"", false}, {"GE T", false}, {"GET\r\n", false}};
    for (const Method& m : methods) EXPECT_EQ(platform::http_method_valid(m.text), m.valid) << m.text;
}

TEST_F(HttpClient, MethodsCarryTheirBodies) {
    struct Case {
        const char* method;
        std::optional<std::string> body;
        std::string sent_body;
        const char* content_length;  // null: none sent
    } cases[] = {
        {"GET", {}, "", nullptr},
        {"GET", "not sent", "", nullptr},
        {"POST", "a=1&b=2", "a=1&b=2", "7"},
        {"POST", {}, "", "0"},
        {"POST", all_bytes(), all_bytes(), "256"},
        {"PUT", "put body", "put body", "8"},
        {"PATCH", "", "", "0"},
        {"DELETE", {}, "", nullptr},
        {"M-SEARCH", "x", "x", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        HttpResponse r = send(c.method, "/echo", {}, c.body);
        ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
        EXPECT_EQ(r.status, 200);
        Echo echo = read_echo(r.body);
        EXPECT_EQ(echo.method, c.method);
        EXPECT_EQ(echo.body, c.sent_body);
        const std::string* length = echo.header("Content-Length");
        if (c.content_length) {
            ASSERT_NE(length, nullptr);
            EXPECT_EQ(*length, c.content_length);
        } else {
            EXPECT_EQ(length, nullptr);
        }
        EXPECT_EQ(echo.header("Expect"), nullptr);
    }
}

TEST_F(HttpClient, HeadGivesTheHeadersAndNoBody) {
    HttpResponse r = send("HEAD", "/echo");
    ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");
    bool typed = false, sized = false;
    for (const HttpHeader& h : r.headers) {
        typed |= h.name == "Content-Type" && h.value == "application/octet-stream";
        sized |= h.name == "Content-Length" && h.value != "0";
    }
    EXPECT_TRUE(typed && sized) << describe(r.headers);
}

TEST_F(HttpClient, TheGivenHeadersAreSentInOrderAndNothingElse) {
    std::vector<HttpHeader> given = {
        {"X-One", "1"}, {"Content-Type", "application/json"}, {"X-Empty", ""}, {"X-Two", "a"}, {"X-Two", "b"},
        {"User-Agent", "zol-test"},
    };
    HttpResponse r = send("POST", "/echo", given, "{}");
    ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
    Echo echo = read_echo(r.body);
    std::vector<HttpHeader> others;
    for (const HttpHeader& h : echo.headers) {
        if (h.name != "Host" && h.name != "Content-Length") others.push_back(h);
    }
    EXPECT_EQ(describe(others), describe(given));
    ASSERT_NE(echo.header("Host"), nullptr);
    EXPECT_EQ(*echo.header("Host"), "127.0.0.1:" + std::to_string(server_->port()));
    EXPECT_EQ(echo.body, "{}");
}

TEST_F(HttpClient, WithoutHeadersOnlyWhatTheProtocolNeedsIsSent) {
    struct Case {
        const char* method;
        std::optional<std::string> body;
        std::string names;
    } cases[] = {
        {"GET", {}, "Host;"},
        {"POST", "data", "Host;Content-Length;"},
        {"PUT", "data", "Host;Content-Length;"},
    };
    for (const Case& c : cases) {
        HttpResponse r = send(c.method, "/echo", {}, c.body);
        ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
        std::string names;
        for (const HttpHeader& h : read_echo(r.body).headers) names += h.name + ";";
        EXPECT_EQ(names, c.names) << c.method;
    }
}

TEST_F(HttpClient, RepeatedAndUnspacedResponseHeaders) {
    HttpResponse r = send("GET", "/headers");
    ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
    EXPECT_EQ(r.body, "headers");
    std::vector<HttpHeader> expected = {
        {"Content-Type", "text/plain; charset=utf-8"}, {"Content-Length", "7"}, {"X-Twice", "one"},
        {"X-Twice", "two"}, {"X-A", "1"}, {"X-Pad", "padded"},
    };
    EXPECT_EQ(describe(r.headers), describe(expected));
}

TEST_F(HttpClient, RedirectsAreFollowedAndOnlyTheLastResponseCounts) {
    for (const char* path : {"/redirect", "/redirect/twice"}) {
        HttpResponse r = send("GET", path);
        ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(read_echo(r.body).method, "GET") << path;
        for (const HttpHeader& h : r.headers) {
            EXPECT_NE(h.name, "X-Hop") << path;
            EXPECT_NE(h.name, "Location") << path;
        }
    }
}

TEST_F(HttpClient, AnErrorStatusIsAResponse) {
    for (int status : {404, 500, 204}) {
        HttpResponse r = send("GET", "/status/" + std::to_string(status));
        ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.body, status == 204 ? "" : "status " + std::to_string(status));
    }
}

TEST_F(HttpClient, BodiesOfSeveralMegabytesArriveWhole) {
    HttpResponse r = send("GET", "/big/5000000");
    ASSERT_EQ(r.failure, HttpFailure::none) << r.reason;
    EXPECT_EQ(r.body.size(), 5000000u);
    EXPECT_TRUE(r.body == pattern(5000000));

    std::string sent = pattern(3000000);
    HttpResponse echoed = send("POST", "/echo", {{"Content-Type", "application/octet-stream"}}, sent);
    ASSERT_EQ(echoed.failure, HttpFailure::none) << echoed.reason;
    std::string body = read_echo(echoed.body).body;
    EXPECT_EQ(body.size(), sent.size());
    EXPECT_TRUE(body == sent);
}

TEST_F(HttpClient, TransfersThatFail) {
    struct Case {
        const char* what;
        std::string url;
        long stall_seconds;
        HttpFailure failure;
    } cases[] = {
        {"a refused connection", "http://127.0.0.1:" + std::to_string(unused_local_port()) + "/", 30, HttpFailure::connect},
        {"TLS spoken to a plain server", "https://127.0.0.1:" + std::to_string(server_->port()) + "/echo", 30,
         HttpFailure::tls},
        {"a connection closed in the middle of the body", server_->url("/cut"), 30, HttpFailure::transfer},
        {"a reply that stops coming", server_->url("/stall"), 1, HttpFailure::transfer},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.method = "GET";
        request.url = c.url;
        request.stall_seconds = c.stall_seconds;
        HttpResponse r = platform::http_request(request);
        EXPECT_EQ(int(r.failure), int(c.failure)) << c.what << ": " << r.reason;
        EXPECT_FALSE(r.reason.empty()) << c.what;
        EXPECT_EQ(r.body, "") << c.what;
    }
}

TEST_F(HttpClient, RequestsThatCannotBeSentAsTheyStand) {
    struct Case {
        const char* what;
        std::string method, path;
        std::vector<HttpHeader> headers;
    } cases[] = {
        {"a header value that would add a header", "GET", "/echo", {{"X-A", "1\r\nX-Injected: 2"}}},
        {"a header name with a space", "GET", "/echo", {{"Bad Name", "1"}}},
        {"a method with a space", "GE T", "/echo", {}},
        {"a URL with a space", "GET", "/echo x", {}},
        {"a URL with a line break", "GET", "/echo\r\nX-Injected: 2", {}},
    };
    for (const Case& c : cases) {
        HttpResponse r = send(c.method, c.path, c.headers);
        EXPECT_EQ(int(r.failure), int(HttpFailure::bad_request)) << c.what;
    }
    HttpRequest other;
    other.method = "GET";
    for (const char* url : {"ftp://127.0.0.1/", "file:///etc/passwd", "not a url", ""}) {
        other.url = url;
        HttpResponse r = platform::http_request(other);
        EXPECT_EQ(int(r.failure), int(HttpFailure::bad_request)) << url;
        EXPECT_EQ(r.body, "") << url;
    }
}

}  // namespace
}  // namespace zol::test
