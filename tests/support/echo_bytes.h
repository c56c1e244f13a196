// A message's bytes as a string, for comparing messages byte for byte.
#pragma once

#include <string>

#include "transport/echo_message.h"

inline std::string Bytes(const EchoMessage& message) { return std::string(message.bytes, ECHO_MESSAGE_SIZE); }

// text followed by NULs, as a whole message's bytes.
inline std::string Padded(const std::string& text) { return text + std::string(ECHO_MESSAGE_SIZE - text.size(), '\0'); }
