// Unicode: the UTF-8 automaton, UTF-8 and UTF-16 encoders and loaders, in-place widening of string buffers and
// the cache buffer of string cells.
#include <memory>
#include <string>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "tests/support.h"

namespace zol::test {
namespace {

using Bytes = std::string;

class UnicodeTest : public RuntimeTest {
protected:
    // A string built by appending, so its unit follows the append rule.
    static void make(Cell* out, const std::u32string& text) {
        string_make(out);
        for (char32_t c : text) string_append_char(series_node(out), uint32_t(c));
    }
    // The code points from the head index.
    static std::u32string chars(const Cell* str) {
        std::u32string out;
        uint32_t n = string_length(str);
        for (uint32_t i = 0; i < n; i++) out += char32_t(string_char_at(str, series_index(str) + i));
        return out;
    }
    static uint32_t unit_of(const Cell* str) { return cell_series(str)->unit(); }
    static Bytes bytes_of(const Cell* bin) {
        Series* s = cell_series(bin);
        return Bytes(reinterpret_cast<const char*>(s->head_ptr()), s->used());
    }
    static const uint8_t* u8(const Bytes& b) { return reinterpret_cast<const uint8_t*>(b.data()); }
    // An exact-size heap copy, so that the sanitizer build catches a read past its end.
    static std::unique_ptr<uint8_t[]> exact(const Bytes& b) {
        auto p = std::make_unique<uint8_t[]>(b.size());
        std::memcpy(p.get(), b.data(), b.size());
        return p;
    }
    static const uint8_t* u16(const std::u16string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
};

TEST_F(UnicodeTest, AutomatonDecodesEveryScalarValueAndRefusesTheRest) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
        int n = utf8_encode_char(cp, buf);
        int32_t got = 0;
        const uint8_t* after = utf8_decode_char(buf, buf + n, &got);
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            ASSERT_EQ(got, -1) << std::hex << cp << ": surrogates are not scalar values";
            ASSERT_EQ(after, buf + 1) << "the refused byte after ED is left for the next scan";
        } else {
            ASSERT_EQ(got, int32_t(cp)) << std::hex << cp;
            ASSERT_EQ(after, buf + n);
        }
    }
    struct Case {
        Bytes bytes;
        size_t consumed;  // a refused first byte is consumed, a later refused byte is not
    } refused[] = {
        {"\x80", 1},         {"\xBF", 1},         {"\xC0\x80", 1},         {"\xC1\xBF", 1},
        {"\xE0\x80\x80", 1}, {"\xF0\x80\x80\x80", 1}, {"\xF4\x90\x80\x80", 1}, {"\xF5\x80", 1},
        {"\xFF", 1},         {"\xE2\x28\xA1", 1}, {"\xE2\x82\x28", 2},     {"\xE2\x82", 2},  // cut by the end
    };
    for (const Case& c : refused) {
        auto data = exact(c.bytes);
        int32_t got = 0;
        const uint8_t* after = utf8_decode_char(data.get(), data.get() + c.bytes.size(), &got);
        EXPECT_EQ(got, -1) << testing::PrintToString(c.bytes);
        EXPECT_EQ(size_t(after - data.get()), c.consumed) << testing::PrintToString(c.bytes);
    }
}

TEST_F(UnicodeTest, CountSkipAndLeadLength) {
    Bytes text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
    auto data = exact(text);
    const uint8_t* end = data.get() + text.size();
    EXPECT_EQ(utf8_count_chars(data.get(), end), 4u);
    EXPECT_EQ(utf8_skip_chars(data.get(), end, 2), data.get() + 3);
    EXPECT_EQ(utf8_skip_chars(data.get(), end, 9), end) << "never past the end";
    EXPECT_EQ(utf8_count_chars(data.get(), end - 1), 4u) << "a cut sequence counts once and reads nothing past end";
    Bytes bad = "\x80\x80" "a";
    EXPECT_EQ(utf8_count_chars(u8(bad), u8(bad) + bad.size()), 3u) << "each refused byte counts as one";

    struct Lead {
        uint8_t byte;
        int length;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC3, 2}, {0xDF, 2}, {0xE2, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
    for (const Lead& l : leads) EXPECT_EQ(utf8_lead_length(l.byte), l.length) << int(l.byte);
}

TEST_F(UnicodeTest, Utf8LengthsAndEncoders) {
    struct Case {
        uint32_t cp;
        int length;
    } cases[] = {{0, 1}, {0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
    for (const Case& c : cases) EXPECT_EQ(utf8_char_length(c.cp), c.length) << std::hex << c.cp;

    for (uint32_t bad : {0x110000u, 0xFFFFFFFFu}) {
        uint8_t buf[4];
        Cell error;
        EXPECT_EQ(catch_error([&] { utf8_char_length(bad); }, &error), ERR_SCRIPT_INVALID_CHAR);
        const Cell* arg = error_field(&error, ERROR_FIELD_ARG1);
        ASSERT_TRUE(cell_is(arg, TYPE_INTEGER));
        EXPECT_EQ(uint32_t(cell_int(arg)), bad);
        EXPECT_EQ(catch_error([&] { utf8_encode_char(bad, buf); }), ERR_SCRIPT_INVALID_CHAR);
        EXPECT_EQ(catch_error([&] { utf8_encode_char_bounded(bad, buf, 4); }), ERR_SCRIPT_INVALID_CHAR);
        EXPECT_EQ(utf8_encode_char_replacing(bad, buf), 3);
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(buf), 3), "\xEF\xBF\xBD");
    }

    struct Bounded {
        int room;
        Bytes written;
    } bounded[] = {{-1, ""}, {0, ""}, {2, "\xE2\x82"}, {3, "\xE2\x82\xAC"}, {8, "\xE2\x82\xAC"}};
    for (const Bounded& b : bounded) {
        uint8_t buf[4] = {0, 0, 0, 0};
        int n = utf8_encode_char_bounded(0x20AC, buf, b.room);
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(buf), size_t(n)), b.written) << "room " << b.room;
        for (int k = n; k < 4; k++) EXPECT_EQ(buf[k], 0) << "nothing written past the room";
    }

    GcRoot str;
    make(str.get(), U"a\u00E9\u20AC\U0001F600");
    Series* s = cell_series(str.get());
    EXPECT_EQ(utf8_string_length(s->head_ptr(), s->tail_ptr(), 4), 10u);
}

TEST_F(UnicodeTest, AppendCharWidensByTheAppendRule) {
    struct Case {
        std::u32string start;
        uint32_t cp;
        uint32_t unit;
    } cases[] = {
        {U"a", 127, 1},        {U"a", 128, 2},     {U"a", 255, 2},          {U"a", 0xFFFF, 2},
        {U"a", 0x10000, 4},    {U"\u0100", 0xFFFF, 2}, {U"\u0100", 0x10FFFF, 4}, {U"\U00010000", 'a', 4},
    };
    for (const Case& c : cases) {
        GcRoot str;
        make(str.get(), c.start);
        string_append_char(series_node(str.get()), c.cp);
        EXPECT_EQ(unit_of(str.get()), c.unit) << std::hex << c.cp;
        EXPECT_EQ(chars(str.get()), c.start + char32_t(c.cp));
    }
}

TEST_F(UnicodeTest, WideningKeepsTheTextAndTheHeadIndex) {
    struct Case {
        Bytes utf8;  // loaded, so Latin-1 text stays in unit 1
        Series* (*widen)(uint32_t);
        uint32_t unit;
        std::u32string text;
    } cases[] = {
        {"abc\xC3\xBF", unicode_latin1_to_ucs2, 2, U"abc\u00FF"},
        {"abc\xC3\xBF", unicode_latin1_to_ucs4, 4, U"abc\u00FF"},
        {"ab\xC4\x80", unicode_ucs2_to_ucs4, 4, U"ab\u0100"},
        {Bytes(16, 'x'), unicode_latin1_to_ucs2, 2, std::u32string(16, U'x')},  // a full buffer must grow first
        {Bytes(16, 'x'), unicode_latin1_to_ucs4, 4, std::u32string(16, U'x')},
        {"", unicode_latin1_to_ucs4, 4, U""},
    };
    for (const Case& c : cases) {
        GcRoot str;
        uint32_t node = unicode_load_utf8_new(u8(c.utf8), uint32_t(c.utf8.size()));
        set_series(str.get(), TYPE_STRING, node, c.text.empty() ? 0 : 1);
        Series* s = c.widen(node);
        EXPECT_EQ(s, node_series(node)) << "the returned buffer is the node's";
        EXPECT_EQ(s->unit(), c.unit);
        EXPECT_EQ(s->used(), c.text.size());
        EXPECT_EQ(chars(str.get()), c.text.substr(c.text.empty() ? 0 : 1)) << "same text from the same head index";
        EXPECT_GE(s->size - s->tail, c.unit) << "room for the unit that caused the widening";
    }
}

TEST_F(UnicodeTest, DecodeUtf8CharFollowsTheLoaderRules) {
    struct Valid {
        Bytes bytes;
        int32_t cp;
        uint32_t length;
    } valid[] = {
        {"A", 'A', 1},
        {"\xC3\xA9", 0xE9, 2},
        {"\xC0\x80", 0, 2},  // over-long forms are accepted
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xED\xA0\x80", 0xD800, 3},
        {"\xED\xBF\xBF", 0xDFFF, 3},
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"\xC3\xA9zz", 0xE9, 2},
    };
    for (const Valid& v : valid) {
        uint32_t count = uint32_t(v.bytes.size());
        EXPECT_EQ(unicode_decode_utf8_char(u8(v.bytes), &count), v.cp) << testing::PrintToString(v.bytes);
        EXPECT_EQ(count, v.length);
    }
    for (Bytes cut : {Bytes("\xC3"), Bytes("\xE2\x82"), Bytes("\xF0\x9F\x98")}) {
        auto data = exact(cut);
        uint32_t count = uint32_t(cut.size());
        EXPECT_EQ(unicode_decode_utf8_char(data.get(), &count), -1) << "incomplete is not an error";
    }
    struct Invalid {
        Bytes bytes;
        Bytes argument;  // the four bytes at the sequence start, or those available
    } invalid[] = {
        {"\x80", "\x80"},
        {"\xF8\x88\x80\x80\x80", "\xF8\x88\x80\x80"},
        {"\xC3\x41", "\xC3\x41"},
        {"\xE2\x82\xFF", "\xE2\x82\xFF"},
        {"\xED\xB0\x80", "\xED\xB0\x80"},      // DC00
        {"\xEF\xBF\xBE" "abc", "\xEF\xBF\xBE" "a"},  // U+FFFE is the decoder's own marker
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},  // above U+10FFFF
    };
    for (const Invalid& c : invalid) {
        auto data = exact(c.bytes);
        uint32_t count = uint32_t(c.bytes.size());
        Cell error;
        ASSERT_EQ(catch_error([&] { unicode_decode_utf8_char(data.get(), &count); }, &error), ERR_ACCESS_INVALID_UTF8)
            << testing::PrintToString(c.bytes);
        const Cell* arg = error_field(&error, ERROR_FIELD_ARG1);
        ASSERT_TRUE(cell_is(arg, TYPE_BINARY));
        EXPECT_EQ(bytes_of(arg), c.argument);
    }
}

TEST_F(UnicodeTest, LoadUtf8) {
    constexpr uint32_t UNTOUCHED = 777;
    struct Case {
        const char* what;
        Bytes bytes;
        bool cr;
        uint32_t unit;
        std::u32string text;
        uint32_t undecoded;
    } cases[] = {
        {"byte order mark alone", "\xEF\xBB\xBF", false, 1, U"", 0},
        {"byte order mark skipped", "\xEF\xBB\xBF" "A", false, 1, U"A", UNTOUCHED},
        {"two bytes are no byte order mark", "\xEF\xBB", false, 1, U"", 2},
        {"cut sequence at the end", "ab\xC3", false, 1, U"ab", 1},
        {"Latin-1 stays unit 1", "a\xC3\xA9", false, 1, U"a\u00E9", UNTOUCHED},
        {"BMP widens to unit 2", "a\xE2\x82\xAC", false, 2, U"a\u20AC", UNTOUCHED},
        {"astral widens to unit 4", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", false, 4, U"a\u00E9\u20AC\U0001F600",
         UNTOUCHED},
        {"unit 2 then unit 4", "\xE2\x82\xAC\xF0\x9F\x98\x80" "b", false, 4, U"\u20AC\U0001F600b", UNTOUCHED},
        {"surrogate D800 loads", "\xED\xA0\x80", false, 2, std::u32string(1, char32_t(0xD800)), UNTOUCHED},
        {"CR LF and lone CR become LF", "a\r\nb\rc\r", true, 1, U"a\nb\nc\n", UNTOUCHED},
        {"CR kept without the flag", "a\r\nb\r", false, 1, U"a\r\nb\r", UNTOUCHED},
    };
    for (const Case& c : cases) {
        auto data = exact(c.bytes);
        uint32_t undecoded = UNTOUCHED;
        GcRoot str;
        set_series(str.get(), TYPE_STRING, unicode_load_utf8(data.get(), uint32_t(c.bytes.size()), 0, &undecoded, c.cr));
        EXPECT_EQ(unit_of(str.get()), c.unit) << c.what;
        EXPECT_EQ(chars(str.get()), c.text) << c.what;
        EXPECT_EQ(undecoded, c.undecoded) << c.what;
    }

    // Wide text from narrow bytes outgrows the one-byte-per-unit buffer.
    struct Growth {
        Bytes first;
        char32_t cp;
    } growth[] = {{"\xC4\x80", U'\u0100'}, {"\xF0\x9F\x98\x80", U'\U0001F600'}};
    for (const Growth& g : growth) {
        Bytes text = g.first + Bytes(300, 'x');
        GcRoot str;
        set_series(str.get(), TYPE_STRING, unicode_load_utf8_new(u8(text), uint32_t(text.size())));
        EXPECT_EQ(chars(str.get()), g.cp + std::u32string(300, U'x'));
    }

    Bytes bad = "ab\xFF" "cd";
    Cell error;
    EXPECT_EQ(catch_error([&] { unicode_load_utf8_new(u8(bad), uint32_t(bad.size())); }, &error), ERR_ACCESS_INVALID_UTF8);
    EXPECT_EQ(bytes_of(error_field(&error, ERROR_FIELD_ARG1)), "\xFF" "cd");
}

TEST_F(UnicodeTest, LoadUtf8IntoAStringReplacesItsText) {
    GcRoot str;
    make(str.get(), U"\u0100old text");
    Bytes text = "new text that is longer than the buffer it replaces";
    uint32_t undecoded = 5;
    EXPECT_EQ(unicode_load_utf8_into(u8(text), uint32_t(text.size()), str.get(), &undecoded), series_node(str.get()));
    EXPECT_EQ(unit_of(str.get()), 2u) << "the target keeps its unit";
    EXPECT_EQ(chars(str.get()), std::u32string(text.begin(), text.end()));
    EXPECT_EQ(undecoded, 5u) << "untouched when every byte was decoded";
}

TEST_F(UnicodeTest, StringsToUtf8) {
    GcRoot str;
    make(str.get(), U"xa\n\u00E9\u20AC\U0001F600");
    str->w1 = 1;  // head index: the x is not part of the text
    struct Case {
        int32_t length;
        bool crlf;
        Bytes out;
    } cases[] = {
        {-1, false, "a\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {-1, true, "a\r\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {2, true, "a\r\n"},
        {0, false, ""},
        {99, false, "a\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        int32_t length = c.length;
        const uint8_t* p = string_encode_utf8(str.get(), &length, c.crlf);
        EXPECT_EQ(Bytes(reinterpret_cast<const char*>(p), size_t(length)), c.out);
        EXPECT_EQ(p[length], 0) << "zero-terminated";
    }
    int32_t length = -1;
    EXPECT_EQ(string_to_utf8(str.get(), &length), unicode_cache_buffer(str.get(), 1)) << "the text is in the cache";
    EXPECT_EQ(length, 11);
    length = -1;
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(string_to_utf8_eol(str.get(), &length, true))), "a\r\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    uint8_t buf[32];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(unicode_to_utf8(str.get(), buf, 3, true), 4u);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(buf), 5), Bytes("a\n\xC3\xA9", 4) + '\0');
    EXPECT_EQ(unicode_to_utf8(str.get(), buf, -1, false), 11u);

    struct Sized {
        uint32_t room;
        int32_t max;
        Bytes out;
    } sized[] = {
        {5, 0, "a\n\xC3\xA9\xE2"},  // the euro sign is cut by the room
        {32, 2, "a\n"},
        {32, -3, "a\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {0, 0, ""},
    };
    for (const Sized& s : sized) {
        std::memset(buf, 0xAA, sizeof buf);
        uint32_t n = unicode_to_utf8_sized(str.get(), buf, s.room, s.max, true);
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(buf), n), s.out) << "room " << s.room;
        EXPECT_EQ(buf[n], 0);
        EXPECT_EQ(buf[n + 1], 0xAA) << "nothing past the terminator";
    }
}

TEST_F(UnicodeTest, CodePointsBeyondUnicodeFailOnlyWhereTheyMay) {
    GcRoot str;
    make(str.get(), U"a");
    string_append_char(series_node(str.get()), 0x110000);
    int32_t length = -1;
    Cell error;
    EXPECT_EQ(catch_error([&] { string_encode_utf8(str.get(), &length, false); }, &error), ERR_SCRIPT_INVALID_CHAR);
    int32_t count = -1;
    EXPECT_EQ(unicode_to_utf16_sized(str.get(), &count, false), nullptr) << "UTF-16 gives no text instead";
    EXPECT_EQ(count, 0);
    EXPECT_EQ(string_to_utf8(str.get()), "a\xEF\xBF\xBD") << "error reports never raise";

    static std::string captured;
    captured.clear();
    OutputSink previous = console_set_sink([](const char* b, size_t n) {
        captured.append(b, n);
        return platform::WriteStatus::ok;
    });
    const uint32_t units[] = {'a', 0x110000};
    console_write(units, 2, 4, false);
    console_set_sink(previous);
    EXPECT_EQ(captured, "a\xEF\xBF\xBD") << "the console writer never raises";
}

TEST_F(UnicodeTest, CacheBufferIsMadeReusedAndGrown) {
    GcRoot str;
    string_make(str.get());
    EXPECT_EQ(string_cache_node(str.get()), 0u);
    uint8_t* first = unicode_cache_buffer(str.get(), 10);
    uint32_t node = string_cache_node(str.get());
    ASSERT_NE(node, 0u);
    first[0] = 42;
    EXPECT_EQ(unicode_cache_buffer(str.get(), 16), first) << "big enough: the same buffer";
    uint8_t* grown = unicode_cache_buffer(str.get(), 1000);
    EXPECT_EQ(string_cache_node(str.get()), node) << "grown under the same node";
    EXPECT_GE(node_series(node)->size, 1000u);
    EXPECT_EQ(grown[0], 42);
    gc_collect();
    EXPECT_TRUE(node_in_use(node)) << "the string cell keeps its cache alive";
}

TEST_F(UnicodeTest, Utf16ScanAndLoad) {
    struct Scan {
        std::u16string units;
        uint32_t unit;
    } scans[] = {
        {u"", 1}, {u"ab\u00FF", 1}, {u"a\u0100", 2}, {std::u16string{0x00FF, 0xDC00}, 4}, {std::u16string{0x100, 0xD800, 0x41}, 4},
    };
    for (const Scan& s : scans) EXPECT_EQ(utf16_scan_unit(u16(s.units), uint32_t(s.units.size())), s.unit);

    struct Case {
        std::u16string units;
        bool drop_cr;
        uint32_t unit;
        std::u32string text;
    } cases[] = {
        {u"abc", false, 1, U"abc"},
        {u"a\r\nb", true, 1, U"a\nb"},
        {u"a\u20AC\n", false, 2, U"a\u20AC\n"},
        {u"a\u20AC\r\n", true, 2, U"a\u20AC\n"},
        {u"\U0001F600x\r", true, 4, U"\U0001F600x"},
        {std::u16string{0xD83D}, false, 4, U"\uFFFD"},  // a high surrogate at the end
        {std::u16string{0xD83D, 'a'}, false, 4, U"\uFFFDa"},
        {std::u16string{0xDC00, 'a'}, false, 4, std::u32string{0xDC00, 'a'}},  // a lone low one is kept
        {u"", false, 2, U""},  // an empty text still gets a buffer
    };
    for (const Case& c : cases) {
        GcRoot str;
        set_series(str.get(), TYPE_STRING, unicode_load_utf16(u16(c.units), uint32_t(c.units.size()), nullptr, c.drop_cr));
        EXPECT_EQ(unit_of(str.get()), c.unit) << testing::PrintToString(c.text);
        EXPECT_EQ(chars(str.get()), c.text);
    }
}

TEST_F(UnicodeTest, Utf16LoadIntoATargetAndFromItsCache) {
    GcRoot str;
    make(str.get(), U"\U0001F600 old");
    std::u16string text(100, u'\u20AC');
    auto* cache = unicode_cache_buffer(str.get(), text.size() * 2);
    std::memcpy(cache, text.data(), text.size() * 2);
    uint32_t node = unicode_load_utf16(nullptr, uint32_t(text.size()), str.get(), false);
    EXPECT_EQ(node, series_node(str.get()));
    EXPECT_EQ(unit_of(str.get()), 2u) << "the target takes the scanned unit";
    EXPECT_EQ(chars(str.get()), std::u32string(100, U'\u20AC'));
}

TEST_F(UnicodeTest, StringsToUtf16) {
    struct Case {
        std::u32string text;
        int32_t count;
        bool crlf;
        std::u16string out;
    } cases[] = {
        {U"\U00010000", -1, true, std::u16string{0xD800, 0xDC00}},
        {U"\U0010FFFF", -1, false, std::u16string{0xDBFF, 0xDFFF}},
        {U"a\nb", -1, true, u"a\r\nb"},
        {U"a\nb", -1, false, u"a\nb"},
        {U"a\u20AC\n", -1, false, u"a\u20AC\n"},  // unit 2 copied whole
        {U"a\u20AC\n", -1, true, u"a\u20AC\r\n"},
        {U"a\u20AC\n", 2, true, u"a\u20AC"},
        {U"\n\n\U0001F600", -1, true, u"\r\n\r\n\U0001F600"},  // the room a CR LF and a pair need
    };
    for (const Case& c : cases) {
        GcRoot str;
        make(str.get(), c.text);
        int32_t count = c.count;
        const uint16_t* p = unicode_to_utf16_sized(str.get(), &count, c.crlf);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(p), size_t(count)), c.out) << testing::PrintToString(c.text);
        EXPECT_EQ(p[count], 0);
    }
    GcRoot str;
    make(str.get(), U"a\nb");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(unicode_to_utf16(str.get()))), u"a\r\nb");

    make(str.get(), U"a\n\U0001F600\u00E9");
    Series* s = cell_series(str.get());
    EXPECT_EQ(utf16_extra_size(s->head_ptr(), s->tail_ptr(), 4), 4u);

    uint16_t wide[8];
    unicode_ascii_to_utf16("ab", wide);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wide), 3), std::u16string(u"ab\0", 3));
}

TEST_F(UnicodeTest, LoadersSurviveACollectionAtEveryAllocation) {
    bool stress = gc_stress();
    gc_set_stress(true);
    Bytes text = "\xC4\x80" + Bytes(100, 'x') + "\xF0\x9F\x98\x80" + Bytes(100, 'y');
    GcRoot str;
    set_series(str.get(), TYPE_STRING, unicode_load_utf8_new(u8(text), uint32_t(text.size())));
    int32_t length = -1;
    const uint8_t* back = string_encode_utf8(str.get(), &length, false);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(back), size_t(length)), text);
    std::u16string wide(300, u'\u00E9');
    unicode_load_utf16(u16(wide), uint32_t(wide.size()), str.get(), false);
    int32_t count = -1;
    const uint16_t* again = unicode_to_utf16_sized(str.get(), &count, true);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(again), size_t(count)), wide);
    gc_set_stress(stress);
}

}  // namespace
}  // namespace zol::test
