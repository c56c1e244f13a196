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

using WideText = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

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
Converted Convert(const WCHAR* wide, int wideCount, int narrowSize)
{
    std::vector<char> buffer(size_t(narrowSize) + guardLength, guardByte);
    const int result = WideCharToMultiByte(CP_UTF8, 0, wide, wideCount, buffer.data(), narrowSize,
                                           nullptr, nullptr);
    EXPECT_TRUE(AllEqual(buffer.data() + narrowSize, buffer.data() + buffer.size(), guardByte))
        << "written past narrowSize " << narrowSize;
    return {result, std::string(buffer.data(), size_t(result))};
}

// Converts all of wide into a buffer with room to spare.
std::string ToUtf8(WideView wide)
{
    const Converted converted = Convert(wide.data(), int(wide.size()), int(wide.size()) * 3);
    EXPECT_GT(converted.result, 0);
    return converted.bytes;
}

TEST(WideCharToMultiByte, EncodesOneToFourByteCharacters)
{
    EXPECT_EQ(ToUtf8(TEXT("Hello, world")), "Hello, world");
    EXPECT_EQ(ToUtf8(TEXT("\u007F\u0080")), "\x7F\xC2\x80");
    EXPECT_EQ(ToUtf8(TEXT("\u00E9\u07FF")), "\xC3\xA9\xDF\xBF");
    EXPECT_EQ(ToUtf8(TEXT("\u0800\u20AC\uFFFF")), "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF");
    EXPECT_EQ(ToUtf8(TEXT("\U00010000\U0001F600\U0010FFFF")),
              "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(ToUtf8(TEXT("a\u00E9\u20AC\U0001F600z")), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
}

TEST(WideCharToMultiByte, ReplacesUnpairedSurrogates)
{
    const std::string replacement = "\xEF\xBF\xBD";
    const WCHAR loneHigh[] = {0xD83D, 'a', 0};
    const WCHAR loneLow[] = {'a', 0xDE00, 'b', 0};
    const WCHAR reversedPair[] = {0xDE00, 0xD83D, 0};
    const WCHAR highAtEnd[] = {'a', 0xD83D, 0};
    const WCHAR twoHighsThenLow[] = {0xD83D, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(ToUtf8(loneHigh), replacement + "a");
    EXPECT_EQ(ToUtf8(loneLow), "a" + replacement + "b");
    EXPECT_EQ(ToUtf8(reversedPair), replacement + replacement);
    EXPECT_EQ(ToUtf8(highAtEnd), "a" + replacement);
    EXPECT_EQ(ToUtf8(twoHighsThenLow), replacement + "\xF0\x9F\x98\x80");
    // A count that ends between the halves leaves the high half unpaired.
    EXPECT_EQ(ToUtf8(WideView(TEXT("\U0001F600"), 1)), replacement);
}

TEST(WideCharToMultiByte, SizeQueryCountsBytesWithoutWriting)
{
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("abc"), 3, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("abc"), -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("\u00E9\u20AC\U0001F600"), -1, nullptr, 0, nullptr,
                                  nullptr),
              2 + 3 + 4 + 1);
    const WCHAR loneLow[] = {0xDC00, 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, loneLow, -1, nullptr, 0, nullptr, nullptr), 4);

    const Converted query = Convert(TEXT("\u20AC"), 1, 0);
    EXPECT_EQ(query.result, 3);
}

TEST(WideCharToMultiByte, MinusOneCountIncludesTheTerminator)
{
    const Converted converted = Convert(TEXT("h\u00E9"), -1, 16);
    EXPECT_EQ(converted.result, 4);
    EXPECT_EQ(converted.bytes, std::string("h\xC3\xA9\0", 4));

    // An explicit count adds no terminator: the byte after stays as it was.
    std::vector<char> buffer(8, guardByte);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("hi"), 2, buffer.data(), 8, nullptr, nullptr), 2);
    EXPECT_EQ(buffer[2], guardByte);
}

TEST(WideCharToMultiByte, TooSmallBufferFailsWithoutOverrun)
{
    const WideView text = TEXT("ab\u20AC\U0001F600");  // 1 + 1 + 3 + 4 bytes
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
    EXPECT_EQ(Convert(TEXT("abc"), -1, 3).result, 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Convert(TEXT("abc"), -1, 4).result, 4);
}

TEST(WideCharToMultiByte, RejectsInvalidArguments)
{
    char buffer[8];
    struct Case {
        const char* name;
        UINT codePage;
        const WCHAR* wide;
        int wideCount;
        char* narrow;
        int narrowSize;
    };
    const Case cases[] = {
        {"zero count", CP_UTF8, TEXT("abc"), 0, buffer, 8},
        {"null source", CP_UTF8, nullptr, -1, buffer, 8},
        {"negative size", CP_UTF8, TEXT("abc"), 3, buffer, -1},
        {"null destination", CP_UTF8, TEXT("abc"), 3, nullptr, 8},
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
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, TEXT("\u00E9"), -1, buffer, 8, "?", &usedDefault), 3);
    EXPECT_STREQ(buffer, "\xC3\xA9");
    EXPECT_EQ(usedDefault, FALSE);
}

// Formats into a buffer of count units, checks that the units past it are
// untouched and that the result is terminated, and returns the text stored.
WideText FormatBoundedV(int count, int* length, LPCWSTR format, va_list args)
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
    return WideText(buffer.data(), size_t(*length));
}

// As FormatBoundedV; also checks that the returned length matches the text.
WideText FormatBounded(int count, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = 0;
    WideText text = FormatBoundedV(count, &length, format, args);
    va_end(args);
    EXPECT_EQ(size_t(length), text.size());
    return text;
}

// Formats with room to spare, through the variadic entry point.
template <typename... Args>
WideText Format(LPCWSTR format, Args... args)
{
    WCHAR buffer[512];
    const int length = FormatText(buffer, 512, format, args...);
    EXPECT_GE(length, 0);
    EXPECT_LT(length, 512);
    if (length < 0 || length >= 512)
        return {};
    EXPECT_EQ(buffer[length], 0) << "not terminated";
    return WideText(buffer, size_t(length));
}

// Formats narrow text held in a heap block of exactly its size, so that the
// address sanitizer catches any read past its terminator.
WideText FormatExactNarrow(LPCWSTR format, std::string_view narrow)
{
    auto block = std::make_unique<char[]>(narrow.size() + 1);
    std::memcpy(block.get(), narrow.data(), narrow.size());
    block[narrow.size()] = '\0';
    return Format(format, static_cast<const char*>(block.get()));
}

TEST(FormatText, FormatsSignedAndUnsignedDecimal)
{
    EXPECT_EQ(Format(TEXT("%d|%i"), 42, -7), TEXT("42|-7"));
    EXPECT_EQ(Format(TEXT("%d %d"), 0, INT_MAX), TEXT("0 2147483647"));
    EXPECT_EQ(Format(TEXT("%d"), INT_MIN), TEXT("-2147483648"));
    EXPECT_EQ(Format(TEXT("%i"), INT_MIN + 1), TEXT("-2147483647"));
    EXPECT_EQ(Format(TEXT("%u %u"), 0u, UINT_MAX), TEXT("0 4294967295"));
    EXPECT_EQ(Format(TEXT("error = %d\r\n"), 10054), TEXT("error = 10054\r\n"));
}

TEST(FormatText, FormatsHexadecimal)
{
    EXPECT_EQ(Format(TEXT("%x %X"), 0xdeadbeefu, 0xdeadbeefu), TEXT("deadbeef DEADBEEF"));
    EXPECT_EQ(Format(TEXT("%x %X"), 0u, 0xABCu), TEXT("0 ABC"));
    EXPECT_EQ(Format(TEXT("%x"), UINT_MAX), TEXT("ffffffff"));
}

TEST(FormatText, PadsNumbersToTheWidth)
{
    EXPECT_EQ(Format(TEXT("0x%08x"), 0xdeadbeefu), TEXT("0xdeadbeef"));
    EXPECT_EQ(Format(TEXT("0x%08x"), 5u), TEXT("0x00000005"));
    EXPECT_EQ(Format(TEXT("0x%08x"), 0u), TEXT("0x00000000"));
    EXPECT_EQ(Format(TEXT("%08X"), 0xabcu), TEXT("00000ABC"));
    EXPECT_EQ(Format(TEXT("[%5d]"), 42), TEXT("[   42]"));
    EXPECT_EQ(Format(TEXT("[%-5d]"), 42), TEXT("[42   ]"));
    EXPECT_EQ(Format(TEXT("[%5d]"), -42), TEXT("[  -42]"));
    EXPECT_EQ(Format(TEXT("[%05d]"), -42), TEXT("[-0042]"));
    EXPECT_EQ(Format(TEXT("[%-05d]"), -42), TEXT("[-42  ]"));  // left-justify wins over zeros
    EXPECT_EQ(Format(TEXT("[%2d]"), 12345), TEXT("[12345]"));  // a width never truncates
    EXPECT_EQ(Format(TEXT("[%012d]"), INT_MIN), TEXT("[-02147483648]"));
    EXPECT_EQ(Format(TEXT("[%3u]"), 7u), TEXT("[  7]"));
}

TEST(FormatText, SizePrefixesNarrowIntegersTo32And16Bits)
{
    EXPECT_EQ(Format(TEXT("%ld %lu %lx"), -123456L, 4000000000UL, 0xfeedUL), TEXT("-123456 4000000000 feed"));
    EXPECT_EQ(Format(TEXT("%ld"), long(INT_MIN)), TEXT("-2147483648"));
    // The platform's long is 32 bits, so where this system's long is wider
    // only its low half counts; where it is 32 bits too, the value is 5.
    const unsigned long wide = static_cast<unsigned long>(0x100000005ULL);
    EXPECT_EQ(Format(TEXT("%lx"), wide), TEXT("5"));
    EXPECT_EQ(Format(TEXT("%hd %hd"), 70000, 0xFFFF), TEXT("4464 -1"));
    EXPECT_EQ(Format(TEXT("%hu %hx"), 70000u, 0x12345u), TEXT("4464 2345"));
}

TEST(FormatText, FormatsCharacters)
{
    EXPECT_EQ(Format(TEXT("%c%c"), 'o', 'k'), TEXT("ok"));
    EXPECT_EQ(Format(TEXT("%c"), 0x20AC), TEXT("\u20AC"));
    EXPECT_EQ(Format(TEXT("[%3c][%-3c]"), 'x', 'y'), TEXT("[  x][y  ]"));
    EXPECT_EQ(Format(TEXT("%hc%hc"), 'a', '\xC3'), TEXT("a\uFFFD"));
}

TEST(FormatText, FormatsWideStrings)
{
    EXPECT_EQ(Format(TEXT("<%s>"), TEXT("wide")), TEXT("<wide>"));
    EXPECT_EQ(Format(TEXT("<%ls>"), TEXT("long")), TEXT("<long>"));
    EXPECT_EQ(Format(TEXT("<%s>"), TEXT("")), TEXT("<>"));
    EXPECT_EQ(Format(TEXT("<%s>"), static_cast<LPCWSTR>(nullptr)), TEXT("<(null)>"));
    EXPECT_EQ(Format(TEXT("[%-10s]"), TEXT("left")), TEXT("[left      ]"));
    EXPECT_EQ(Format(TEXT("[%10s]"), TEXT("right")), TEXT("[     right]"));
    EXPECT_EQ(Format(TEXT("[%2s]"), TEXT("longer")), TEXT("[longer]"));
    // Width counts UTF-16 units: the emoji fills two of the four.
    EXPECT_EQ(Format(TEXT("[%4s]"), TEXT("\U0001F600")), TEXT("[  \U0001F600]"));
}

TEST(FormatText, DecodesNarrowUtf8Strings)
{
    EXPECT_EQ(Format(TEXT("%hs family"), "AF_INET"), TEXT("AF_INET family"));
    EXPECT_EQ(Format(TEXT("<%hs>"), ""), TEXT("<>"));
    EXPECT_EQ(Format(TEXT("<%hs>"), static_cast<const char*>(nullptr)), TEXT("<(null)>"));
    EXPECT_EQ(Format(TEXT("%hs"), "caf\xC3\xA9 \xE2\x82\xAC"), TEXT("caf\u00E9 \u20AC"));
    EXPECT_EQ(Format(TEXT("%hs"), "\xF0\x9F\x98\x80!"), TEXT("\U0001F600!"));
    EXPECT_EQ(Format(TEXT("%hs"), "\xF4\x8F\xBF\xBF\xF0\x90\x80\x80"), TEXT("\U0010FFFF\U00010000"));
    EXPECT_EQ(Format(TEXT("[%-6hs][%6hs]"), "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80"),
              TEXT("[\u00E9t\u00E9   ][    \U0001F600]"));
}

TEST(FormatText, ReplacesEachMaximalInvalidUtf8SubpartOnce)
{
    struct Case {
        std::string_view narrow;
        WideView expected;
    };
    const Case cases[] = {
        {"\x80", TEXT("\uFFFD")},                                  // lone continuation byte
        {"a\xBF\x80z", TEXT("a\uFFFD\uFFFDz")},                    // two stray continuations
        {"\xC0\xAF", TEXT("\uFFFD\uFFFD")},                        // overlong two-byte form
        {"\xE0\x80\x80", TEXT("\uFFFD\uFFFD\uFFFD")},              // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", TEXT("\uFFFD\uFFFD\uFFFD\uFFFD")},    // overlong four-byte form
        {"\xED\xA0\x80", TEXT("\uFFFD\uFFFD\uFFFD")},              // encoded surrogate
        {"\xF4\x90\x80\x80", TEXT("\uFFFD\uFFFD\uFFFD\uFFFD")},    // above U+10FFFF
        {"\xF5\xFF", TEXT("\uFFFD\uFFFD")},                        // bytes that never lead
        {"\xE2\x82z", TEXT("\uFFFDz")},                            // truncated, then ASCII
        {"\xC3\xC3\xA9", TEXT("\uFFFD\u00E9")},                    // truncated, then a new lead
        {"\xF0\x9F\x98", TEXT("\uFFFD")},                          // truncated by the terminator
        {"\xE2", TEXT("\uFFFD")},                                  // lead byte right before the end
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         TEXT("a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.narrow)));
        EXPECT_EQ(FormatExactNarrow(TEXT("%hs"), c.narrow), c.expected);
    }
    // Width counts the replacement characters as the units they become.
    EXPECT_EQ(FormatExactNarrow(TEXT("[%4hs]"), "\xE0\x80"), TEXT("[  \uFFFD\uFFFD]"));
}

TEST(FormatText, CopiesPercentAndUnknownDirectives)
{
    EXPECT_EQ(Format(TEXT("100%%")), TEXT("100%"));
    EXPECT_EQ(Format(TEXT("%%d %d"), 3), TEXT("%d 3"));
    // An unknown directive is copied as written and uses no argument.
    EXPECT_EQ(Format(TEXT("%q %d"), 7), TEXT("%q 7"));
    EXPECT_EQ(Format(TEXT("%-5q|%lz|%d"), 8), TEXT("%-5q|%lz|8"));
    EXPECT_EQ(Format(TEXT("end %")), TEXT("end %"));
    EXPECT_EQ(Format(TEXT("end %08")), TEXT("end %08"));
}

TEST(FormatText, FormatsTheProgramsLogLines)
{
    EXPECT_EQ(Format(TEXT("Socket 0x%08x ready for connection with %hs family, %hs type, on port ")
                     TEXT("%hs\r\n"),
                     0x1c4u, "AF_INET", "SOCK_STREAM", "27015"),
              TEXT("Socket 0x000001c4 ready for connection with AF_INET family, SOCK_STREAM type, ")
              TEXT("on port 27015\r\n"));
    EXPECT_EQ(Format(TEXT("ERROR: Couldn't send the data! error = %d\r\n"), -1),
              TEXT("ERROR: Couldn't send the data! error = -1\r\n"));
    EXPECT_EQ(Format(TEXT("Received from client(%hs) <---- %hs\r\n"), "127.0.0.1", "h\xC3\xA9llo"),
              TEXT("Received from client(127.0.0.1) <---- h\u00E9llo\r\n"));
}

TEST(FormatText, CutsOutputToTheBuffer)
{
    EXPECT_EQ(FormatBounded(8, TEXT("%s"), TEXT("abcdefghijkl")), TEXT("abcdefg"));
    EXPECT_EQ(FormatBounded(13, TEXT("%s"), TEXT("abcdefghijkl")), TEXT("abcdefghijkl"));  // exact fit
    EXPECT_EQ(FormatBounded(5, TEXT("abcdefgh")), TEXT("abcd"));                      // literal text
    EXPECT_EQ(FormatBounded(5, TEXT("%20d"), 7), TEXT("    "));                        // padding
    EXPECT_EQ(FormatBounded(4, TEXT("%08x"), 0xbeefu), TEXT("000"));
    EXPECT_EQ(FormatBounded(6, TEXT("%d"), INT_MIN), TEXT("-2147"));
    EXPECT_EQ(FormatBounded(3, TEXT("%hs"), "\xC3\xA9\xC3\xA9\xC3\xA9"), TEXT("\u00E9\u00E9"));
    EXPECT_EQ(FormatBounded(4, TEXT("a%%b%%c")), TEXT("a%b"));
    // Huge widths are cut like any other output.
    EXPECT_EQ(FormatBounded(4, TEXT("%99999999999d"), 1), TEXT("   "));

    WideText longLine(600, 'x');
    EXPECT_EQ(FormatBounded(300, TEXT("%s"), longLine.c_str()), longLine.substr(0, 299));
}

TEST(FormatText, CutNeverSplitsASurrogatePair)
{
    // Room for "ab" and a high surrogate only: the high half is dropped.
    EXPECT_EQ(FormatBounded(4, TEXT("ab\U0001F600")), TEXT("ab"));
    EXPECT_EQ(FormatBounded(4, TEXT("ab%s"), TEXT("\U0001F600")), TEXT("ab"));
    EXPECT_EQ(FormatBounded(4, TEXT("ab%hs"), "\xF0\x9F\x98\x80"), TEXT("ab"));
    EXPECT_EQ(FormatBounded(2, TEXT("%hs"), "\xF0\x9F\x98\x80"), TEXT(""));
    // With room for the whole pair it stays.
    EXPECT_EQ(FormatBounded(5, TEXT("ab%hs"), "\xF0\x9F\x98\x80"), TEXT("ab\U0001F600"));
    EXPECT_EQ(FormatBounded(5, TEXT("ab%hsc"), "\xF0\x9F\x98\x80"), TEXT("ab\U0001F600"));
    // A lone high surrogate that is not cut is stored as given.
    const WCHAR loneHigh[] = {'a', 0xD83D, 0};
    EXPECT_EQ(FormatBounded(8, TEXT("%s"), loneHigh), WideText(loneHigh));
}

TEST(FormatText, TinyAndInvalidBuffersStoreNothingOrAnEmptyString)
{
    EXPECT_EQ(FormatBounded(1, TEXT("anything %d"), 5), TEXT(""));

    WCHAR buffer[4] = {guardUnit, guardUnit, guardUnit, guardUnit};
    EXPECT_EQ(FormatText(buffer, 0, TEXT("text")), 0);
    EXPECT_EQ(FormatText(buffer, -5, TEXT("text")), 0);
    EXPECT_EQ(FormatText(buffer, 4, nullptr), 0);
    EXPECT_TRUE(AllEqual(buffer, buffer + 4, guardUnit));
    EXPECT_EQ(FormatText(nullptr, 4, TEXT("text")), 0);
}

}  // namespace
