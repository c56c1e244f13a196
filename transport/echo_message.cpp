#include "transport/echo_message.h"

#include <cstring>

#include "core/app_state.h"

namespace {

bool IsContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Writes a character of U+0800 to U+FFFF as its three UTF-8 bytes.
size_t PutCharacter(char* out, unsigned character)
{
    out[0] = static_cast<char>(0xE0 | (character >> 12));
    out[1] = static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (character & 0x3F));
    return 3;
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

// Lets the next wait on s last only as long as is left until deadline.
// False, with the last error set, when nothing is left or s is unusable.
bool LimitWait(SOCKET s, int option, ULONGLONG deadline)
{
    DWORD left = TimeLeft(deadline);
    return left > 0 && setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&left),
                                  sizeof left) != SOCKET_ERROR;
}

}  // namespace

void BuildMessage(const char* text, EchoMessage* message)
{
    memset(message->bytes, 0, ECHO_MESSAGE_SIZE);
    if (text == nullptr)
        return;
    size_t length = strnlen(text, ECHO_MESSAGE_SIZE);
    if (length == ECHO_MESSAGE_SIZE) {
        // Too long: cut before the character that straddles the last byte.
        length = ECHO_MESSAGE_SIZE - 1;
        while (length > 0 && IsContinuationByte(text[length]))
            --length;
    }
    memcpy(message->bytes, text, length);
}

ULONGLONG PeerDeadline(void)
{
    return GetTickCount64() + AppState.peerTimeoutMs.load();
}

DWORD TimeLeft(ULONGLONG deadline)
{
    ULONGLONG now = GetTickCount64();
    if (now < deadline)
        return static_cast<DWORD>(deadline - now);
    WSASetLastError(WSAETIMEDOUT);
    return 0;
}

int SendEchoMessage(SOCKET s, const EchoMessage* message, const sockaddr* to, int toLength,
                    ULONGLONG deadline)
{
    // A send cut short goes on with the rest, so a failure is always
    // reported by the call that failed, with its own error code.
    int sent = 0;
    while (sent < ECHO_MESSAGE_SIZE) {
        if (!LimitWait(s, SO_SNDTIMEO, deadline))
            return 0;
        int count = sendto(s, message->bytes + sent, ECHO_MESSAGE_SIZE - sent, 0, to, toLength);
        if (count == SOCKET_ERROR)
            return 0;
        sent += count;
    }
    return 1;
}

int ReceiveMessage(SOCKET s, EchoMessage* message, sockaddr* from, int* fromLength,
                   ULONGLONG deadline)
{
    memset(message->bytes, 0, ECHO_MESSAGE_SIZE);
    int fromSize = fromLength != nullptr ? *fromLength : 0;
    int total = 0;
    while (total < ECHO_MESSAGE_SIZE) {
        if (!LimitWait(s, SO_RCVTIMEO, deadline))
            return RECEIVE_ERROR;
        if (fromLength != nullptr)
            *fromLength = fromSize;
        int received = recvfrom(s, message->bytes + total, ECHO_MESSAGE_SIZE - total, 0, from, fromLength);
        if (received == SOCKET_ERROR)
            return RECEIVE_ERROR;
        if (received == 0)
            return RECEIVE_INCOMPLETE;
        total += received;
    }
    return RECEIVE_COMPLETE;
}

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
