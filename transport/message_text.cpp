#include "transport/message_text.h"

#include <cstring>

#include "platform/utf8.h"

namespace {

// Writes character as UTF-8; returns how many bytes that took.
size_t PutCharacter(char* out, char32_t character)
{
    utf8::Encode(character, out);
    return utf8::EncodedLength(character);
}

// U+200E, U+200F, U+2028 to U+202E, U+2066 to U+2069, as UTF-8 at bytes.
bool IsBendingAbove0800(const unsigned char* bytes, size_t left)
{
    if (left < 3 || bytes[0] != 0xE2)
        return false;
    if (bytes[1] == 0x80)
        return bytes[2] == 0x8E || bytes[2] == 0x8F || (bytes[2] >= 0xA8 && bytes[2] <= 0xAE);
    return bytes[1] == 0x81 && bytes[2] >= 0xA6 && bytes[2] <= 0xA9;
}

// How many bytes of the UTF-8 at bytes make a character that reorders the
// text around it or ends its line, or 0: those above, and the C1 controls
// U+0080 to U+009F (U+0085 ends a line to some readers).
size_t LineBendingLength(const unsigned char* bytes, size_t left)
{
    if (left >= 2 && bytes[0] == 0xC2 && bytes[1] >= 0x80 && bytes[1] <= 0x9F)
        return 2;
    return IsBendingAbove0800(bytes, left) ? 3 : 0;
}

}  // namespace

void MessageText(const EchoMessage* message, char text[MESSAGE_TEXT_SIZE])
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(message->bytes);
    size_t length = strnlen(message->bytes, ECHO_MESSAGE_SIZE);
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
            out += PutCharacter(text + out, bytes[i] == 0x7F ? 0x2421 : 0x2400 + bytes[i]);
        } else if (size_t bending = LineBendingLength(bytes + i, length - i)) {
            out += PutCharacter(text + out, 0xFFFD);
            i += bending - 1;
        } else {
            text[out++] = message->bytes[i];
        }
    }
    text[out] = '\0';
}
