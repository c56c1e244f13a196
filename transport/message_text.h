// A received message as text for the log.
#pragma once

#include "transport/echo_message.h"

// Room for a message shown as text: a byte may take three (a control
// character's picture), and the terminator.
#define MESSAGE_TEXT_SIZE (3 * ECHO_MESSAGE_SIZE + 1)

// The message as one line of text for display: up to its first NUL, never
// past its end. Control characters show as their pictures (U+2401 for
// 0x01, ..., U+2421 for 0x7F), and characters that would reorder the line,
// hide text or break the line (C1 controls, every format character,
// bidirectional ones among them, line and paragraph separators), that a
// log box takes as structure (U+FFFC), and the noncharacters, never text
// (U+FDD0 to U+FDEF, the last two of every plane), as U+FFFD, so a peer's
// text can neither hide nor forge log lines.
void MessageText(const EchoMessage* message, char text[MESSAGE_TEXT_SIZE]);
