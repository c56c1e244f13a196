// The echo protocol's one message: exactly ECHO_MESSAGE_SIZE bytes of
// NUL-terminated narrow text, the rest NUL, with no header or trailer.
#pragma once

#include <winsock2.h>

#define ECHO_MESSAGE_SIZE 100

// Room for a message shown as text: a byte may take three (a control
// character's picture), and the terminator.
#define MESSAGE_TEXT_SIZE (3 * ECHO_MESSAGE_SIZE + 1)

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

// When a step that waits for the peer gives up: AppState.peerTimeoutMs from
// now, on GetTickCount64's clock. However the peer trickles its bytes, the
// step's calls together never wait past it.
ULONGLONG PeerDeadline(void);

// Milliseconds left until deadline; 0, with WSAETIMEDOUT as the last
// error, once it has passed.
DWORD TimeLeft(ULONGLONG deadline);

// Sends all of message before deadline; 1 when all of it went, else 0 with
// the last error set (WSAETIMEDOUT when the deadline passed).
int SendEchoMessage(SOCKET s, const EchoMessage* message, const sockaddr* to, int toLength,
                    ULONGLONG deadline);

// Receives exactly one message before deadline, however the peer cuts it
// into pieces. from and fromLength (which holds from's size) may be null.
int ReceiveMessage(SOCKET s, EchoMessage* message, sockaddr* from, int* fromLength,
                   ULONGLONG deadline);

// The message as one line of text for display: up to its first NUL, never
// past its end. Control characters show as their pictures (U+2401 for
// 0x01, ..., U+2421 for 0x7F), and characters that would reorder the line
// or break it (C1 controls, bidirectional formatting, line and paragraph
// separators) as U+FFFD, so a peer's text can neither hide nor forge log
// lines.
void MessageText(const EchoMessage* message, char text[MESSAGE_TEXT_SIZE]);
