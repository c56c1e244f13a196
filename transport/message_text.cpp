#include "transport/message_text.h"

#include <cstring>

#include "platform/utf8.h"

namespace {

struct CharacterRange {
    char32_t first;
    char32_t last;
};

// What a peer's text must not bring into a log line, as Unicode 15.1 has
// it, in order: the C1 controls (U+0085 ends a line to some readers), the
// line and paragraph separators, every format character (general category
// Cf): the bidirectional controls, which reorder the text around them
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), and the
// invisible ones that hide text or join it (soft hyphen, zero-width spaces
// and joiners, word joiners, the byte order mark, tag characters); and
// what a log box takes as structure rather than text: the object
// replacement character U+FFFC, and the noncharacters U+FDD0 to U+FDEF,
// never text, of which Qt's text document takes U+FDD0 and U+FDD1 as the
// start and end of a frame, and so as a new line. The last two code
// points of every plane are noncharacters too (EndsAPlane below).
const CharacterRange NOT_SHOWN[] = {
    {0x0080, 0x009F}, {0x00AD, 0x00AD}, {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD},
    {0x070F, 0x070F}, {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F},
    {0x2028, 0x202E}, {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFDD0, 0xFDEF}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFC},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

// U+FFFE, U+FFFF, U+1FFFE, U+1FFFF, ... U+10FFFF.
bool EndsAPlane(char32_t character) { return (character & 0xFFFE) == 0xFFFE; }

bool NotShown(char32_t character)
{
    if (EndsAPlane(character))
        return true;
    for (const CharacterRange& range : NOT_SHOWN)
        if (character >= range.first && character <= range.last)
            return true;
    return false;
}

// Writes character as UTF-8; returns how many bytes that took.
size_t PutCharacter(char* out, char32_t character)
{
    utf8::Encode(character, out);
    return utf8::EncodedLength(character);
}

}  // namespace

void MessageText(const EchoMessage* message, char text[MESSAGE_TEXT_SIZE])
{
    // Never past the message's end, whether or not it holds a NUL.
    char bytes[ECHO_MESSAGE_SIZE + 1] = {};
    std::memcpy(bytes, message->bytes, ECHO_MESSAGE_SIZE);
    size_t out = 0;
    for (const char* cursor = bytes; *cursor != '\0';) {
        // Printable ASCII, most of any message, shows as itself.
        if (*cursor >= 0x20 && *cursor < 0x7F) {
            text[out++] = *cursor++;
            continue;
        }
        const char* start = cursor;
        const char32_t character = utf8::Decode(cursor);
        if (character < 0x20 || character == 0x7F) {
            out += PutCharacter(text + out, character == 0x7F ? 0x2421 : 0x2400 + character);
        } else if (NotShown(character)) {
            out += PutCharacter(text + out, utf8::replacementCharacter);
        } else {
            // Bytes that are no text stay as they came; the log shows them as U+FFFD.
            std::memcpy(text + out, start, static_cast<size_t>(cursor - start));
            out += static_cast<size_t>(cursor - start);
        }
    }
    text[out] = '\0';
}
