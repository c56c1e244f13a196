// The echo protocol's one message: exactly ECHO_MESSAGE_SIZE bytes of
// NUL-terminated narrow text, the rest NUL, with no header or trailer.
#pragma once

#include <winsock2.h>

#define ECHO_MESSAGE_SIZE 100

typedef struct EchoMessage {
    char bytes[ECHO_MESSAGE_SIZE];
} EchoMessage;

// What ReceiveMessage got.
#define RECEIVE_COMPLETE 0
#define RECEIVE_INCOMPLETE 1  // the peer closed before all the bytes came
#define RECEIVE_ERROR 2       // the last error tells why

// Fills message with text, cut to 99 bytes at a character boundary, so that
// it always ends in a NUL. Null text gives an empty message.
void BuildMessage(const char* text, EchoMessage* message);

// Sends all of message before deadline; 1 when all of it went, else 0 with
// the last error set (WSAETIMEDOUT when the deadline passed).
int SendEchoMessage(SOCKET s, const EchoMessage* message, const sockaddr* to, int toLength,
                    ULONGLONG deadline);

// Receives exactly one message before deadline, however the peer cuts it
// into pieces. from and fromLength (which holds from's size) may be null.
int ReceiveMessage(SOCKET s, EchoMessage* message, sockaddr* from, int* fromLength,
                   ULONGLONG deadline);
