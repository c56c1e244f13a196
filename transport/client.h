// The client side of the echo exchange: each Send is one new connection.
#pragma once

#include <windows.h>

// Resolves AppState's host and port and connects to the first address
// that answers, racing them within one peer deadline (connect_race.h),
// after closing the previous Send's connection. Returns 1 with
// AppState.clientSocket connected, or 0 after logging why.
int ClientConnect(void);

// Sends the dialog's data field as one message on AppState.clientSocket
// and logs the echo, or what went wrong, all within one peer deadline.
// The connection stays open.
void ClientExchange(HWND dialog);
