#include "transport/echo_message.h"

#include <cstring>

#include "transport/deadline.h"

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
