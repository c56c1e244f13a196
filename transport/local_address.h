// The local defaults of the address and port fields.
#pragma once

#include <windows.h>

// The adapter records are read into a buffer of this size first; a machine
// with more adapters than fit gets a buffer of the size it needs.
#define ADAPTER_BUFFER_SIZE 2560

// Sets the address field to the first IPv4 address of the first adapter
// and the port field to "8000". Returns 0, touching neither field, when no
// adapter is listed.
int FillLocalDefaults(HWND dialog);
