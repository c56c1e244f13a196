// Tests of the UTF-16 to UTF-8 conversion and of the bounded wide formatting.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/extensions.h"

namespace {

// Filler after the space a call may use; it must survive every call.
constexpr char guardByte = '\x5A';
constexpr WCHAR guardUnit = 0xA5A5;
constexpr int guardLength = 16;

bool AllEqual(const char* first, const char* last, char value)
{
    return std::all_of(first, last, [value](char c) { return c == value; });
}

bool AllEqual(const WCHAR* first, const WCHAR* last, WCHAR value)
{
    return std::all_of(first, last, [value](WCHAR c) { return c == value; });
}

// The outcome of one WideCharToMultiByte call into a guarded buffer.
struct Converted {
    int result;
    std::string bytes;  // the first result bytes of the buffer
};

// Converts wideCount units of wide into a buffer of narrowSize bytes and
// checks that nothing past narrowSize was written.
Converted Convert(const char16_t* wide, int wideCount, int narrowSize)
{
    std::vector<char> buffer(size_t(narrowSize) + guardLength, guardByte);
    const int result = WideCharToMultiByte(CP_UTF8, 0, wide, wideCount, buffer.data(), narrowSize,
                                           nullptr, nullptr);
    EXPECT_TRUE(AllEqual(buffer.data() + narrowSize, buffer.data() + buffer.size(), guardByte))
        << "written past narrowSize " << narrowSize;
    return {result, std::string(buffer.data(), size_t(result))};
}

// Converts all of wide into a buffer with room to spare.
std::string ToUtf8(std::u16string_view wide)
{
    const Converted converted = Convert(wide.data(), int(wide.size()), int(wide.size()) * 3);
    EXPECT_GT(converted.result, 0);
    return converted.bytes;
}

TEST(WideCharToMultiByte, EncodesOneToFourByteCharacters)
{
    EXPECT_EQ(ToUtf8(u"Hello, world"), "Hello, world");
    EXPECT_EQ(ToUtf8(u"\u007F\u0080"), "\x7F\xC2\x80");
    EXPECT_EQ(ToUtf8(u"\u00E9\u07FF"), "\xC3\xA9\xDF\xBF");
    EXPECT_EQ(ToUtf8(u"\u0800\u20AC\uFFFF"), "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF");
    EXPECT_EQ(ToUtf8(u"\U00010000\U0001F600\U0010FFFF"),
              "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(ToUtf8(u"a\u00E9\u20AC\U0001F600z"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
}

TEST(WideCharToMultiByte, ReplacesUnpairedSurrogates)
{
    const std::string replacement = "\xEF\xBF\xBD";
    const char16_t loneHigh[] = {0xD83D, u'a', 0};
    const char16_t loneLow[] = {u'a', 0xDE00, u'b', 0};
    const char16_t reversedPair[] = {0xDE00, 0xD83D, 0};
    const char16_t highAtEnd[] = {u'a', 0xD83D, 0};
    const char16_t twoHighsThenLow[] = {0xD83D, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(ToUtf8(loneHigh), replacement + "a");
    EXPECT_EQ(ToUtf8(loneLow), "a" + replacement + "b");
    EXPECT_EQ(ToUtf8(reversedPair), replacement + replacement);
    EXPECT_EQ(ToUtf8(highAtEnd), "a" + replacement);
    EXPECT_EQ(ToUtf8(twoHighsThenLow), replacement + "\xF0\x9F\x98\x80");
    // A count that ends between the halves leaves the high half unpaired.
    EXPECT_EQ(ToUtf8(std::u16string_view(u"\U0001F600", 1)), replacement);
}

TEST(WideCharToMultiByte, SizeQueryCountsBytesWithoutWriting)
{
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9\u20AC\U0001F600", -1, nullptr, 0, nullptr,
                                  nullptr),
              2 + 3 + 4 + 1);
    const char16_t loneLow[] = {0xDC00, 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, loneLow, -1, nullptr, 0, nullptr, nullptr), 4);

    const Converted query = Convert(u"\u20AC", 1, 0);
    EXPECT_EQ(query.result, 3);
}

TEST(WideCharToMultiByte, MinusOneCountIncludesTheTerminator)
{
    const Converted converted = Convert(u"h\u00E9", -1, 16);
    EXPECT_EQ(converted.result, 4);
    EXPECT_EQ(converted.bytes, std::string("h\xC3\xA9\0", 4));

    // An explicit count adds no terminator: the byte after stays as it was.
    std::vector<char> buffer(8, guardByte);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"hi", 2, buffer.data(), 8, nullptr, nullptr), 2);
    EXPECT_EQ(buffer[2], guardByte);
}

TEST(WideCharToMultiByte, TooSmallBufferFailsWithoutOverrun)
{
    const std::u16string_view text = u"ab\u20AC\U0001F600";  // 1 + 1 + 3 + 4 bytes
    for (int size = 1; size < 9; ++size) {
        SCOPED_TRACE(size);
        SetLastError(0);
        EXPECT_EQ(Convert(text.data(), int(text.size()), size).result, 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
    EXPECT_EQ(Convert(text.data(), int(text.size()), 9).bytes,
              "ab\xE2\x82\xAC\xF0\x9F\x98\x80");

    // With -1 the terminator needs its own byte too.
    SetLastError(0);
    EXPECT_EQ(Convert(u"abc", -1, 3).result, 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Convert(u"abc", -1, 4).result, 4);
}

TEST(WideCharToMultiByte, RejectsInvalidArguments)
{
    char buffer[8];
    struct Case {
        const char* name;
        UINT codePage;
        const char16_t* wide;
        int wideCount;
        char* narrow;
        int narrowSize;
    };
    const Case cases[] = {
        {"zero count", CP_UTF8, u"abc", 0, buffer, 8},
        {"null source", CP_UTF8, nullptr, -1, buffer, 8},
        {"count below -1", CP_UTF8, u"abc", -2, buffer, 8},
        {"negative size", CP_UTF8, u"abc", 3, buffer, -1},
        {"null destination", CP_UTF8, u"abc", 3, nullptr, 8},
        {"unknown code page", 1252, u"abc", 3, buffer, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.wide, c.wideCount, c.narrow, c.narrowSize,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
}

TEST(WideCharToMultiByte, AnsiCodePageIsUtf8AndNeverUsesTheDefault)
{
    char buffer[8] = {};
    BOOL usedDefault = TRUE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9", -1, buffer, 8, "?", &usedDefault), 3);
    EXPECT_STREQ(buffer, "\xC3\xA9");
    EXPECT_EQ(usedDefault, FALSE);
}

// Formats into a buffer of count units, checks that the units past it are
// untouched and that the result is terminated, and returns the text stored.
std::u16string FormatBoundedV(int count, int* length, LPCWSTR format, va_list args)
{
    std::vector<WCHAR> buffer(size_t(count) + guardLength, guardUnit);
    *length = FormatTextV(buffer.data(), count, format, args);
    EXPECT_TRUE(AllEqual(buffer.data() + count, buffer.data() + buffer.size(), guardUnit))
        << "written past count " << count;
    EXPECT_GE(*length, 0);
    EXPECT_LT(*length, count);
    if (*length < 0 || *length >= count)
        return {};
    EXPECT_EQ(buffer[size_t(*length)], 0) << "not terminated";
    return std::u16string(buffer.data(), size_t(*length));
}

// As FormatBoundedV; also checks that the returned length matches the text.
std::u16string FormatBounded(int count, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = 0;
    std::u16string text = FormatBoundedV(count, &length, format, args);
    va_end(args);
    EXPECT_EQ(size_t(length), text.size());
    return text;
}

// Formats with room to spare, through the variadic entry point.
template <typename... Args>
std::u16string Format(LPCWSTR format, Args... args)
{
    WCHAR buffer[512];
    const int length = FormatText(buffer, 512, format, args...);
    EXPECT_GE(length, 0);
    EXPECT_LT(length, 512);
    if (length < 0 || length >= 512)
        return {};
    EXPECT_EQ(buffer[length], 0) << "not terminated";
    return std::u16string(buffer, size_t(length));
}

// Formats narrow text held in a heap block of exactly its size, so that the
// address sanitizer catches any read past its terminator.
std::u16string FormatExactNarrow(LPCWSTR format, std::string_view narrow)
{
    auto block = std::make_unique<char[]>(narrow.size() + 1);
    std::memcpy(block.get(), narrow.data(), narrow.size());
    block[narrow.size()] = '\0';
    return Format(format, static_cast<const char*>(block.get()));
}

TEST(FormatText, FormatsSignedAndUnsignedDecimal)
{
    EXPECT_EQ(Format(u"%d|%i", 42, -7), u"42|-7");
    EXPECT_EQ(Format(u"%d %d", 0, INT_MAX), u"0 2147483647");
    EXPECT_EQ(Format(u"%d", INT_MIN), u"-2147483648");
    EXPECT_EQ(Format(u"%i", INT_MIN + 1), u"-2147483647");
    EXPECT_EQ(Format(u"%u %u", 0u, UINT_MAX), u"0 4294967295");
    EXPECT_EQ(Format(u"error = %d\r\n", 10054), u"error = 10054\r\n");
}

TEST(FormatText, FormatsHexadecimal)
{
    EXPECT_EQ(Format(u"%x %X", 0xdeadbeefu, 0xdeadbeefu), u"deadbeef DEADBEEF");
    EXPECT_EQ(Format(u"%x %X", 0u, 0xABCu), u"0 ABC");
    EXPECT_EQ(Format(u"%x", UINT_MAX), u"ffffffff");
}

TEST(FormatText, PadsNumbersToTheWidth)
{
    EXPECT_EQ(Format(u"0x%08x", 0xdeadbeefu), u"0xdeadbeef");
    EXPECT_EQ(Format(u"0x%08x", 5u), u"0x00000005");
    EXPECT_EQ(Format(u"0x%08x", 0u), u"0x00000000");
    EXPECT_EQ(Format(u"%08X", 0xabcu), u"00000ABC");
    EXPECT_EQ(Format(u"[%5d]", 42), u"[   42]");
    EXPECT_EQ(Format(u"[%-5d]", 42), u"[42   ]");
    EXPECT_EQ(Format(u"[%5d]", -42), u"[  -42]");
    EXPECT_EQ(Format(u"[%05d]", -42), u"[-0042]");
    EXPECT_EQ(Format(u"[%-05d]", -42), u"[-42  ]");  // left-justify wins over zeros
    EXPECT_EQ(Format(u"[%2d]", 12345), u"[12345]");  // a width never truncates
    EXPECT_EQ(Format(u"[%012d]", INT_MIN), u"[-02147483648]");
    EXPECT_EQ(Format(u"[%3u]", 7u), u"[  7]");
}

TEST(FormatText, SizePrefixesNarrowIntegersTo32And16Bits)
{
    EXPECT_EQ(Format(u"%ld %lu %lx", -123456L, 4000000000UL, 0xfeedUL), u"-123456 4000000000 feed");
    EXPECT_EQ(Format(u"%ld", long(INT_MIN)), u"-2147483648");
    // The platform's long is 32 bits, so only the low half of a wider value counts.
    EXPECT_EQ(Format(u"%lx", 0x100000005UL), u"5");
    EXPECT_EQ(Format(u"%hd %hd", 70000, 0xFFFF), u"4464 -1");
    EXPECT_EQ(Format(u"%hu %hx", 70000u, 0x12345u), u"4464 2345");
}

TEST(FormatText, FormatsCharacters)
{
    EXPECT_EQ(Format(u"%c%c", u'o', u'k'), u"ok");
    EXPECT_EQ(Format(u"%c", 0x20AC), u"\u20AC");
    EXPECT_EQ(Format(u"[%3c][%-3c]", u'x', u'y'), u"[  x][y  ]");
    EXPECT_EQ(Format(u"%hc%hc", 'a', '\xC3'), u"a\uFFFD");
}

TEST(FormatText, FormatsWideStrings)
{
    EXPECT_EQ(Format(u"<%s>", u"wide"), u"<wide>");
    EXPECT_EQ(Format(u"<%ls>", u"long"), u"<long>");
    EXPECT_EQ(Format(u"<%s>", u""), u"<>");
    EXPECT_EQ(Format(u"<%s>", static_cast<LPCWSTR>(nullptr)), u"<(null)>");
    EXPECT_EQ(Format(u"[%-10s]", u"left"), u"[left      ]");
    EXPECT_EQ(Format(u"[%10s]", u"right"), u"[     right]");
    EXPECT_EQ(Format(u"[%2s]", u"longer"), u"[longer]");
    // Width counts UTF-16 units: the emoji fills two of the four.
    EXPECT_EQ(Format(u"[%4s]", u"\U0001F600"), u"[  \U0001F600]");
}

TEST(FormatText, DecodesNarrowUtf8Strings)
{
    EXPECT_EQ(Format(u"%hs family", "AF_INET"), u"AF_INET family");
    EXPECT_EQ(Format(u"<%hs>", ""), u"<>");
    EXPECT_EQ(Format(u"<%hs>", static_cast<const char*>(nullptr)), u"<(null)>");
    EXPECT_EQ(Format(u"%hs", "caf\xC3\xA9 \xE2\x82\xAC"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(Format(u"%hs", "\xF0\x9F\x98\x80!"), u"\U0001F600!");
    EXPECT_EQ(Format(u"%hs", "\xF4\x8F\xBF\xBF\xF0\x90\x80\x80"), u"\U0010FFFF\U00010000");
    EXPECT_EQ(Format(u"[%-6hs][%6hs]", "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80"),
              u"[\u00E9t\u00E9   ][    \U0001F600]");
}

TEST(FormatText, ReplacesEachMaximalInvalidUtf8SubpartOnce)
{
    struct Case {
        std::string_view narrow;
        std::u16string_view expected;
    };
    const Case cases[] = {
        {"\x80", u"\uFFFD"},                                  // lone continuation byte
        {"a\xBF\x80z", u"a\uFFFD\uFFFDz"},                    // two stray continuations
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                        // overlong two-byte form
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},              // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},    // overlong four-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},              // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},    // above U+10FFFF
        {"\xF5\xFF", u"\uFFFD\uFFFD"},                        // bytes that never lead
        {"\xE2\x82z", u"\uFFFDz"},                            // truncated, then ASCII
        {"\xC3\xC3\xA9", u"\uFFFD\u00E9"},                    // truncated, then a new lead
        {"\xF0\x9F\x98", u"\uFFFD"},                          // truncated by the terminator
        {"\xE2", u"\uFFFD"},                                  // lead byte right before the end
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.narrow)));
        EXPECT_EQ(FormatExactNarrow(u"%hs", c.narrow), c.expected);
    }
    // Width counts the replacement characters as the units they become.
    EXPECT_EQ(FormatExactNarrow(u"[%4hs]", "\xE0\x80"), u"[  \uFFFD\uFFFD]");
}

TEST(FormatText, CopiesPercentAndUnknownDirectives)
{
    EXPECT_EQ(Format(u"100%%"), u"100%");
    EXPECT_EQ(Format(u"%%d %d", 3), u"%d 3");
    // An unknown directive is copied as written and uses no argument.
    EXPECT_EQ(Format(u"%q %d", 7), u"%q 7");
    EXPECT_EQ(Format(u"%-5q|%lz|%d", 8), u"%-5q|%lz|8");
    EXPECT_EQ(Format(u"end %"), u"end %");
    EXPECT_EQ(Format(u"end %08"), u"end %08");
}

TEST(FormatText, FormatsTheProgramsLogLines)
{
    EXPECT_EQ(Format(u"Socket 0x%08x ready for connection with %hs family, %hs type, on port "
                     u"%hs\r\n",
                     0x1c4u, "AF_INET", "SOCK_STREAM", "27015"),
              u"Socket 0x000001c4 ready for connection with AF_INET family, SOCK_STREAM type, "
              u"on port 27015\r\n");
    EXPECT_EQ(Format(u"ERROR: Couldn't send the data! error = %d\r\n", -1),
              u"ERROR: Couldn't send the data! error = -1\r\n");
    EXPECT_EQ(Format(u"Received from client(%hs) <---- %hs\r\n", "127.0.0.1", "h\xC3\xA9llo"),
              u"Received from client(127.0.0.1) <---- h\u00E9llo\r\n");
}

TEST(FormatText, CutsOutputToTheBuffer)
{
    EXPECT_EQ(FormatBounded(8, u"%s", u"abcdefghijkl"), u"abcdefg");
    EXPECT_EQ(FormatBounded(13, u"%s", u"abcdefghijkl"), u"abcdefghijkl");  // exact fit
    EXPECT_EQ(FormatBounded(5, u"abcdefgh"), u"abcd");                      // literal text
    EXPECT_EQ(FormatBounded(5, u"%20d", 7), u"    ");                        // padding
    EXPECT_EQ(FormatBounded(4, u"%08x", 0xbeefu), u"000");
    EXPECT_EQ(FormatBounded(6, u"%d", INT_MIN), u"-2147");
    EXPECT_EQ(FormatBounded(3, u"%hs", "\xC3\xA9\xC3\xA9\xC3\xA9"), u"\u00E9\u00E9");
    EXPECT_EQ(FormatBounded(4, u"a%%b%%c"), u"a%b");
    // Huge widths are cut like any other output.
    EXPECT_EQ(FormatBounded(4, u"%99999999999d", 1), u"   ");

    std::u16string longLine(600, u'x');
    EXPECT_EQ(FormatBounded(300, u"%s", longLine.c_str()), longLine.substr(0, 299));
}

TEST(FormatText, CutNeverSplitsASurrogatePair)
{
    // Room for "ab" and a high surrogate only: the high half is dropped.
    EXPECT_EQ(FormatBounded(4, u"ab\U0001F600"), u"ab");
    EXPECT_EQ(FormatBounded(4, u"ab%s", u"\U0001F600"), u"ab");
    EXPECT_EQ(FormatBounded(4, u"ab%hs", "\xF0\x9F\x98\x80"), u"ab");
    EXPECT_EQ(FormatBounded(2, u"%hs", "\xF0\x9F\x98\x80"), u"");
    // With room for the whole pair it stays.
    EXPECT_EQ(FormatBounded(5, u"ab%hs", "\xF0\x9F\x98\x80"), u"ab\U0001F600");
    EXPECT_EQ(FormatBounded(5, u"ab%hsc", "\xF0\x9F\x98\x80"), u"ab\U0001F600");
    // A lone high surrogate that is not cut is stored as given.
    const char16_t loneHigh[] = {u'a', 0xD83D, 0};
    EXPECT_EQ(FormatBounded(8, u"%s", loneHigh), std::u16string(loneHigh));
}

TEST(FormatText, TinyAndInvalidBuffersStoreNothingOrAnEmptyString)
{
    EXPECT_EQ(FormatBounded(1, u"anything %d", 5), u"");

    WCHAR buffer[4] = {guardUnit, guardUnit, guardUnit, guardUnit};
    EXPECT_EQ(FormatText(buffer, 0, u"text"), 0);
    EXPECT_EQ(FormatText(buffer, -5, u"text"), 0);
    EXPECT_EQ(FormatText(buffer, 4, nullptr), 0);
    EXPECT_TRUE(AllEqual(buffer, buffer + 4, guardUnit));
    EXPECT_EQ(FormatText(nullptr, 4, u"text"), 0);
}

}  // namespace
