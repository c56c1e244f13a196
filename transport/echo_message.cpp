#include "transport/echo_message.h"

#include <cstring>

#include "core/app_state.h"

namespace {

bool IsContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
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

int SendEchoMessage(SOCKET s, const EchoMessage* message, const sockaddr* to, int toLength)
{
    return sendto(s, message->bytes, ECHO_MESSAGE_SIZE, 0, to, toLength) == ECHO_MESSAGE_SIZE;
}

int ReceiveMessage(SOCKET s, EchoMessage* message, sockaddr* from, int* fromLength)
{
    memset(message->bytes, 0, ECHO_MESSAGE_SIZE);
    int fromSize = fromLength != nullptr ? *fromLength : 0;
    int total = 0;
    int received;
    do {
        if (fromLength != nullptr)
            *fromLength = fromSize;
        received = recvfrom(s, message->bytes + total, ECHO_MESSAGE_SIZE - total, 0, from, fromLength);
        if (received > 0)
            total += received;
    } while (received > 0 && total < ECHO_MESSAGE_SIZE);
    if (received == SOCKET_ERROR)
        return RECEIVE_ERROR;
    return total == ECHO_MESSAGE_SIZE ? RECEIVE_COMPLETE : RECEIVE_INCOMPLETE;
}

void MessageText(const EchoMessage* message, char text[ECHO_MESSAGE_SIZE + 1])
{
    memcpy(text, message->bytes, ECHO_MESSAGE_SIZE);
    text[ECHO_MESSAGE_SIZE] = '\0';
}

void SetPeerTimeouts(SOCKET s)
{
    DWORD timeout = AppState.peerTimeoutMs.load();
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}
