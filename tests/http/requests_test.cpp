// The url! actions' HTTP requests (io/http.cpp) against the local server: method words, header blocks and
// bodies as they are sent, and the string!, binary!, lines and /info results made of the response.
#include <gtest/gtest.h>

#include "interpreter/load.h"
#include "io/http.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "tests/http_server.h"
#include "tests/support.h"

namespace zol::test {
namespace {

// Zol values loaded from source text into a rooted block (words bound, not evaluated).
class Values {
public:
    explicit Values(const std::string& text) {
        load_global(reinterpret_cast<const uint8_t*>(text.data()), text.size(), block_.get());
    }
    const Cell* at(uint32_t i) { return &cell_series(block_.get())->cells()[i]; }

private:
    GcRoot block_;
};

class HttpRequests : public RuntimeTest {
protected:
    static void SetUpTestSuite() { server_ = new LocalHttpServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_NE(server_->port(), 0) << "the local server did not start";
    }

    struct Call {
        const char* method = "get";
        std::string path;
        const char* headers = nullptr;  // source of a block, or none
        const char* body = nullptr;     // source of a string or binary, or none
        bool binary = false, lines = false, info = false;
    };

    // Runs the call: a string's text as it stands, any other result molded, "none connected" when it gave
    // false, or the id of the error raised.
    static std::string run(const Call& c) {
        std::string source = std::string(c.method) + " " + (c.headers ? c.headers : "none") + " " + (c.body ? c.body : "none");
        Values values(source);
        GcRoot url, out;
        std::string address = server_->url(c.path);
        url_load_at(url.get(), reinterpret_cast<const uint8_t*>(address.data()), address.size(), TYPE_URL);
        HttpRequest call{values.at(0), url.get(), c.headers ? values.at(1) : &g_none_value,
                          c.body ? values.at(2) : &g_none_value, c.binary, c.lines, c.info};
        bool connected = false;
        GcRoot error;
        ErrorId id = catch_error([&] { connected = io::http_call(call, out.get()); }, error.get());
        if (id != ERR_COUNT) return "error " + form_text(error_field(error.get(), ERROR_FIELD_ID));
        if (!connected) return "none connected";
        return cell_is(out.get(), TYPE_STRING) ? string_to_utf8(out.get()) : mold_text(out.get());
    }

    static LocalHttpServer* server_;
};

LocalHttpServer* HttpRequests::server_ = nullptr;

// The echo of a request: the method, the headers the server got and the body.
std::string echo_of(const std::string& method, const std::string& headers, const std::string& body) {
    return method + "\n" + headers + "\n" + body;
}

TEST_F(HttpRequests, HeadersSentWithAndWithoutABlock) {
    std::string host = "Host: 127.0.0.1:" + std::to_string(server_->port()) + "\n";
    const std::string defaults =
        "Content-Type: application/x-www-form-urlencoded\nAccept-Charset: UTF-8\n"
        "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)\n";
    struct Case {
        const char* headers;
        std::string sent;
    } cases[] = {
        {nullptr, host + defaults},
        {"[]", host},
        // Names as words of any kind or formed values; values as text or formed.
        {"[X-A: \"1\" accept \"text/*\" 'Lit word :Get \"g\" Some-Num 12 Tuple 1.2.3 \"X-Str\" 3.5]",
         host + "X-A: 1\naccept: text/*\nLit: word\nGet: g\nSome-Num: 12\nTuple: 1.2.3\nX-Str: 3.5\n"},
        {"[X-Empty: \"\"]", host + "X-Empty: \n"},
    };
    for (const Case& c : cases) {
        Call call;
        call.path = "/echo";
        call.headers = c.headers;
        EXPECT_EQ(run(call), echo_of("GET", c.sent, "")) << (c.headers ? c.headers : "none");
    }
}

TEST_F(HttpRequests, MethodWordsAndBodies) {
    struct Case {
        const char* method;
        const char* body;
        std::string sent;  // the echoed method, content length and body
    } cases[] = {
        {"get", nullptr, "GET\n\n"},
        {"post", "\"a=1&b=2\"", "POST\nContent-Length: 7\n\na=1&b=2"},
        {"post", nullptr, "POST\nContent-Length: 0\n\n"},
        // Text goes as UTF-8 with its line ends as they are; a binary's bytes go as they are.
        {"post", "\"\u00e9\u20ac^/x\"", "POST\nContent-Length: 7\n\n\u00e9\u20ac\nx"},
        {"put", "#{41000D0A42}", std::string("PUT\nContent-Length: 5\n\nA\0\nB", 27)},
        {"delete", nullptr, "DELETE\n\n"},
        {"Patch", "\"\"", "PATCH\nContent-Length: 0\n\n"},
    };
    for (const Case& c : cases) {
        Call call;
        call.method = c.method;
        call.path = "/echo";
        call.headers = "[]";
        call.body = c.body;
        std::string got = run(call);
        // Only the method line, Content-Length and the body: the Host line is the same for all.
        std::string host = "Host: 127.0.0.1:" + std::to_string(server_->port()) + "\n";
        size_t at = got.find(host);
        if (at != std::string::npos) got.erase(at, host.size());
        EXPECT_EQ(got, c.sent) << c.method;
    }
}

TEST_F(HttpRequests, TheResponseAsTextBinaryLinesOrInfo) {
    struct Case {
        const char* method;
        const char* path;
        bool binary, lines, info;
        const char* result;
    } cases[] = {
        {"get", "/text", false, false, false, "one\ntwo\nthree\n\u00e9t\u00e9 \u20ac"},
        {"get", "/text", true, false, false, "#{6F6E650D0A74776F0D74687265650AC3A974C3A920E282AC}"},
        {"get", "/text", false, true, false, "[\"one\" \"two\" \"three\" \"\u00e9t\u00e9 \u20ac\"]"},
        {"get", "/status/404", false, false, false, "status 404"},
        {"get", "/status/204", false, false, false, ""},
        {"head", "/echo", false, false, false, "none"},
        // A text body that is not UTF-8 is an error; as binary it is only bytes.
        {"get", "/big/300", false, false, false, "error invalid-utf8"},
        {"get", "/big/3", true, false, false, "#{000102}"},
    };
    for (const Case& c : cases) {
        Call call;
        call.method = c.method;
        call.path = c.path;
        call.binary = c.binary;
        call.lines = c.lines;
        EXPECT_EQ(run(call), c.result) << c.method << " " << c.path;
    }
}

TEST_F(HttpRequests, InfoGivesTheStatusTheHeadersAndTheBody) {
    struct Case {
        const char* method;
        const char* path;
        const char* status;
        const char* body;
    } cases[] = {
        {"get", "/status/404", "404", "\"status 404\""},
        {"get", "/headers", "200", "\"headers\""},
        {"head", "/headers", "200", "none"},
    };
    for (const Case& c : cases) {
        Call call;
        call.method = c.method;
        call.path = c.path;
        call.info = true;
        Values source(c.method);
        GcRoot url, out;
        std::string address = server_->url(c.path);
        url_load_at(url.get(), reinterpret_cast<const uint8_t*>(address.data()), address.size(), TYPE_URL);
        HttpRequest request{source.at(0), url.get(), &g_none_value, &g_none_value, false, false, true};
        ASSERT_TRUE(io::http_call(request, out.get())) << c.path;
        ASSERT_TRUE(cell_is(out.get(), TYPE_BLOCK));
        Series* s = cell_series(out.get());
        ASSERT_EQ(s->used(), 3u);
        EXPECT_EQ(mold_text(&s->cells()[0]), c.status) << c.path;
        EXPECT_TRUE(cell_is(&s->cells()[1], TYPE_MAP)) << c.path;
        EXPECT_EQ(mold_text(&s->cells()[2]), c.body) << c.path;
    }
}

TEST_F(HttpRequests, WhatCannotBeSentRaisesAndAFailedConnectionGivesFalse) {
    struct Case {
        const char* method;
        const char* headers;
        const char* body;
        const char* result;
    } cases[] = {
        {"get", "[X-A \"1^M^/X-Injected: 2\"]", nullptr, "error invalid-arg"},
        {"get", "[\"Two words\" \"1\"]", nullptr, "error invalid-arg"},
        {"get", "[X-A \"1\" X-Dangling]", nullptr, "error invalid-arg"},
        {"post", "[]", "[a b]", "error invalid-arg"},
        {"post", "[]", "12", "error invalid-arg"},
        {"m\u00e9thode", "[]", nullptr, "error invalid-arg"},
    };
    for (const Case& c : cases) {
        Call call;
        call.method = c.method;
        call.path = "/echo";
        call.headers = c.headers;
        call.body = c.body;
        EXPECT_EQ(run(call), c.result) << c.headers << " " << (c.body ? c.body : "");
    }

    std::string refused = "http://127.0.0.1:" + std::to_string(unused_local_port()) + "/";
    Values method("get");
    GcRoot url, out;
    url_load_at(url.get(), reinterpret_cast<const uint8_t*>(refused.data()), refused.size(), TYPE_URL);
    set_integer(out.get(), 7);
    HttpRequest call{method.at(0), url.get(), &g_none_value, &g_none_value, false, false, false};
    EXPECT_FALSE(io::http_call(call, out.get()));
    EXPECT_EQ(mold_text(out.get()), "7");
}

TEST_F(HttpRequests, TheUrlGoesPercentEncoded) {
    // A space in the URL's text would be refused unsent: encoded as %20, the request reaches /echo.
    Call call;
    call.path = "/echo?q=a b";
    call.headers = "[]";
    EXPECT_EQ(run(call).substr(0, 4), "GET\n");
}

}  // namespace
}  // namespace zol::test
