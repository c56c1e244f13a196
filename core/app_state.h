// The one record of the running program, shared by the dialog's thread and
// the server worker. Fields that both threads touch are atomic; the others
// belong to the dialog's thread alone.
#pragma once

#include <atomic>
#include <memory>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// How long one step that waits for a peer may last in all: a connect, or
// an exchange from its first byte to its last, however the peer trickles.
#define PEER_TIMEOUT_MS 30000

// Narrow text whose last reader releases it, so a worker still reading an
// old host or port never sees it freed when Start replaces it.
typedef std::shared_ptr<char> NarrowText;

struct APP_STATE {
    HINSTANCE instance;                       // module instance; set once at start-up
    std::atomic<HWND> dialog;                 // main dialog; set by its procedure, read by AppendLog
    std::atomic<NarrowText> hostName;         // address text; set at Start, read by client and worker
    std::atomic<NarrowText> portName;         // port text; set at Start, read by client and worker
    std::atomic<SOCKET> clientSocket;         // last client connection; set by each Send
    addrinfo* clientAddresses;                // last client resolution; dialog's thread only
    std::atomic<SOCKET> listenSocket;         // worker's listening socket; set by the worker
    std::atomic<SOCKET> acceptedSocket;       // worker's current connection; set by the worker
    HANDLE serverThread;                      // worker thread; dialog's thread only
    std::atomic<DWORD> peerTimeoutMs;         // PEER_TIMEOUT_MS; tests shorten it
};

extern APP_STATE AppState;

// Takes ownership of text from WideToNarrow (which may be null).
NarrowText MakeNarrowText(char* text);

// Stores value in field and closes the socket the field held. Whoever takes
// a socket out of a field is the one who closes it, so two threads never
// close the same socket.
void ReplaceAndCloseOld(std::atomic<SOCKET>& field, SOCKET value);
// Empties field; a connection is shut down in both directions before it is closed.
void CloseConnection(std::atomic<SOCKET>& field);
// Stores list as the client's resolution and releases the one it replaces.
void ReplaceClientAddresses(addrinfo* list);
