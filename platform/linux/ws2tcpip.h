// Name resolution (getaddrinfo and its kin), declared with the socket
// layer in winsock2.h.
#pragma once

#include "platform/linux/winsock2.h"
