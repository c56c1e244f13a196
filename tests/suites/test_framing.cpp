// The echo message on its own: building it from narrow text, showing it as
// text, and the narrow text the program makes of the user's. No sockets
// and no windows: the Windows build runs these too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <QString>

#include "tests/support/unicode_judge.h"
#endif

#include "core/text.h"
#include "tests/support/echo_bytes.h"
#include "transport/echo_message.h"
#include "transport/message_text.h"

namespace {

using WideText = std::basic_string<WCHAR>;

std::string Built(const std::string& text)
{
    EchoMessage message;
    std::memset(message.bytes, 'X', sizeof message.bytes);
    BuildMessage(text.c_str(), &message);
    return Bytes(message);
}

// ---- BuildMessage --------------------------------------------------------

TEST(BuildMessage, NullOrEmptyTextGivesAllNul)
{
    EXPECT_EQ(Built(""), std::string(ECHO_MESSAGE_SIZE, '\0'));
    EchoMessage message;
    std::memset(message.bytes, 'X', sizeof message.bytes);
    BuildMessage(nullptr, &message);
    EXPECT_EQ(Bytes(message), std::string(ECHO_MESSAGE_SIZE, '\0'));
}

TEST(BuildMessage, ShortTextIsPaddedWithNul)
{
    EXPECT_EQ(Built("hello"), Padded("hello"));
    EXPECT_EQ(Built("h\xC3\xA9llo \xF0\x9F\x98\x80"), Padded("h\xC3\xA9llo \xF0\x9F\x98\x80"));
}

TEST(BuildMessage, NinetyNineBytesFitWithTheirTerminator)
{
    const std::string text(99, 'a');
    EXPECT_EQ(Built(text), text + '\0');
    // A two-byte character that ends at byte 98 fits whole.
    const std::string ending = std::string(97, 'a') + "\xC3\xA9";
    EXPECT_EQ(Built(ending), ending + '\0');
}

TEST(BuildMessage, LongerAsciiTextIsCutToNinetyNineBytes)
{
    EXPECT_EQ(Built(std::string(100, 'b')), std::string(99, 'b') + '\0');
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += static_cast<char>('A' + i % 26);
    EXPECT_EQ(Built(text), text.substr(0, 99) + '\0');
}

// Every way a 2-, 3- or 4-byte character can cover byte 99, the terminator's
// place: the character goes whole and the rest is NUL.
TEST(BuildMessage, ACharacterOverTheLastByteIsDroppedWhole)
{
    const std::string characters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    for (const std::string& character : characters) {
        const size_t width = character.size();
        for (size_t start = 100 - width; start <= 99; ++start) {
            for (const std::string& tail : {std::string(), std::string("tail"), character}) {
                const std::string prefix(start, 'p');
                SCOPED_TRACE("width " + std::to_string(width) + ", starting at " + std::to_string(start) +
                             ", tail " + std::to_string(tail.size()));
                EXPECT_EQ(Built(prefix + character + tail), Padded(prefix));
            }
        }
        // One byte earlier the character ends at byte 98 and is kept.
        const std::string fits = std::string(99 - width, 'p') + character;
        EXPECT_EQ(Built(fits + "more text"), fits + '\0') << "width " << width;
    }
}

TEST(BuildMessage, MultiByteTextIsCutOnlyBetweenCharacters)
{
    // 40 three-byte characters: 120 bytes, of which 33 characters (99 bytes) fit.
    std::string euros;
    for (int i = 0; i < 40; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(Built(euros), euros.substr(0, 99) + '\0');
    // 30 four-byte characters: 120 bytes, of which 24 (96 bytes) fit.
    std::string faces;
    for (int i = 0; i < 30; ++i)
        faces += "\xF0\x9F\x98\x80";
    EXPECT_EQ(Built(faces), Padded(faces.substr(0, 96)));
}

// The UTF-8 of wide text, by the program's own conversion (tested below).
std::string Narrow(const WideText& wide)
{
    char* narrow = WideToNarrow(wide.c_str(), static_cast<int>(wide.size()));
    std::string text(narrow != nullptr ? narrow : "<null>");
    std::free(narrow);
    return text;
}

// ---- MessageText ---------------------------------------------------------

TEST(MessageText, StopsAtTheFirstNul)
{
    EchoMessage message;
    std::memcpy(message.bytes, Padded("abc").data(), ECHO_MESSAGE_SIZE);
    std::memcpy(message.bytes + 10, "hidden", 6);
    char text[MESSAGE_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    MessageText(&message, text);
    EXPECT_STREQ(text, "abc");
}

TEST(MessageText, NeverReadsPastTheHundredthByte)
{
    EchoMessage message;
    for (int i = 0; i < ECHO_MESSAGE_SIZE; ++i)
        message.bytes[i] = static_cast<char>('a' + i % 26);
    char text[MESSAGE_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    MessageText(&message, text);
    EXPECT_EQ(std::strlen(text), 100u);
    EXPECT_EQ(std::string(text), Bytes(message));
}

TEST(MessageText, ShowsC0ControlsAsPicturesAndC1FormatAndLineBreakingOnesAsReplacements)
{
    std::string bytes = "a";
    WideText expected = TEXT("a");
    for (WCHAR c = 1; c < 0x20; ++c) {
        bytes += static_cast<char>(c);
        expected += static_cast<WCHAR>(0x2400 + c);
    }
    bytes += "\x7F" "b";
    expected += TEXT("\u2421b");
    // C1 controls, separators, bidirectional controls, and format
    // characters that hide text (soft hyphen, zero-width space, byte order
    // mark, a tag letter).
    for (const char* bending : {"\u0080", "\u0085", "\u009F", "\u061C", "\u200E", "\u200F", "\u2028", "\u2029",
                                "\u202A", "\u202E", "\u2066", "\u2069", "\u00AD", "\u200B", "\uFEFF", "\U000E0041"}) {
        bytes += bending;
        expected += TEXT("\uFFFD");
    }
    bytes += "\u00A0\u202F\u2065\u061B";  // neighbours that neither reorder, hide nor break
    expected += TEXT("\u00A0\u202F\u2065\u061B");
    EchoMessage message;
    std::memcpy(message.bytes, Padded(bytes).data(), ECHO_MESSAGE_SIZE);
    char text[MESSAGE_TEXT_SIZE];
    MessageText(&message, text);
    EXPECT_EQ(std::string(text), Narrow(expected));

    // A hundred control bytes take all of the room.
    std::memset(message.bytes, '\n', ECHO_MESSAGE_SIZE);
    MessageText(&message, text);
    EXPECT_EQ(std::string(text), Narrow(WideText(ECHO_MESSAGE_SIZE, 0x240A)));
}

#ifndef _WIN32
// Against Unicode's own tables, as Qt has them (the program uses none of
// Qt's text code): every character shows as itself, but C1 controls, line
// and paragraph separators, format characters, noncharacters and the
// object replacement character as U+FFFD. A character newer than Qt's
// tables may show either way.
TEST(MessageText, ReplacesJustWhatUnicodesTablesMakeHidingOrBreaking)
{
    int replaced = 0;
    for (char32_t character = 0x80; character < 0x110000; ++character) {
        if (character >= 0xD800 && character <= 0xDFFF)
            continue;
        const QByteArray utf8 = QStringView(QChar::fromUcs4(character)).toUtf8();
        EchoMessage message;
        std::memcpy(message.bytes, Padded(utf8.toStdString()).data(), ECHO_MESSAGE_SIZE);
        char text[MESSAGE_TEXT_SIZE];
        MessageText(&message, text);
        const Judged judged = JudgedByUnicode(character);
        const std::string shown(text);
        if (judged == Judged::Either)
            EXPECT_TRUE(shown == utf8.toStdString() || shown == "\uFFFD") << std::hex << static_cast<unsigned>(character);
        else
            ASSERT_EQ(shown, judged == Judged::Replaced ? "\uFFFD" : utf8.toStdString())
                << std::hex << static_cast<unsigned>(character);
        replaced += shown == "\uFFFD" && character != 0xFFFD;
    }
    // 32 C1 controls, 2 separators, the 170 format characters of Unicode
    // 15.1, its 66 noncharacters and U+FFFC.
    EXPECT_EQ(replaced, 32 + 2 + 170 + 66 + 1);
}
#endif

// ---- WideToNarrow --------------------------------------------------------

std::string Converted(const WCHAR* wide, int length)
{
    char* narrow = WideToNarrow(wide, length);
    if (narrow == nullptr)
        return "<null>";
    std::string text(narrow);
    std::free(narrow);
    return text;
}

TEST(WideToNarrow, ConvertsExactlyTheGivenCharacters)
{
    EXPECT_EQ(Converted(TEXT(""), 0), "");
    EXPECT_EQ(Converted(TEXT("abc"), 0), "");
    // The length counts no terminator: the text ends where the length says.
    EXPECT_EQ(Converted(TEXT("abcdef"), 3), "abc");
    EXPECT_EQ(Converted(TEXT("h\u00e9llo \u20ac"), 7), "h\xC3\xA9llo \xE2\x82\xAC");
}

TEST(WideToNarrow, SurrogatePairsBecomeOneCharacterAndLoneOnesAReplacement)
{
    EXPECT_EQ(Converted(TEXT("\U0001F600"), 2), "\xF0\x9F\x98\x80");
    const WCHAR lone[] = {'a', 0xD800, 'b', 0xDC00, 0};
    EXPECT_EQ(Converted(lone, 4), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

}  // namespace
