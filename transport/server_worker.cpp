#include "transport/server_worker.h"

#include "core/app_state.h"
#include "core/event_log.h"
#include "transport/deadline.h"
#include "transport/echo_message.h"
#include "transport/endpoint.h"
#include "transport/message_text.h"

namespace {

// The peer's address and its text, kept for one connection at a time.
const int PEER_ADDRESS_SIZE = 128;
const int PEER_NAME_SIZE = 128;
// Room for a port number as text.
const int PORT_TEXT_SIZE = 32;
// The waits' limit that accepted sockets have, before it is read.
const DWORD LIMIT_UNREAD = 0xFFFFFFFF;

// Failures of an accept that are about the one connection (reset or
// aborted in the listen queue; Wine reports that as not connected): the
// next is accepted at once, so that peers that connect and reset cannot
// hold the server up. Any other failure may last, and the next waits.
const int ONE_CONNECTION_ERRORS[] = {WSAECONNRESET, WSAECONNABORTED, WSAENOTCONN};

const char* FamilyText(int family)
{
    return family == AF_INET ? "AF_INET" : family == AF_INET6 ? "AF_INET6" : "UNKNOWN";
}

const char* TypeText(int type)
{
    return type == SOCK_STREAM ? "TCP" : type == SOCK_DGRAM ? "UDP" : "UNKNOWN";
}

// The port the system chose for s, as digits; false, with the last error
// set, when it does not say.
bool BoundPort(SOCKET s, char text[PORT_TEXT_SIZE])
{
    sockaddr_storage local = {};
    int length = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
        return false;
    return getnameinfo(reinterpret_cast<sockaddr*>(&local), static_cast<socklen_t>(length), nullptr, 0, text,
                       PORT_TEXT_SIZE, NI_NUMERICSERV) == 0;
}

bool IsAboutOneConnection(int error)
{
    for (int connection : ONE_CONNECTION_ERRORS)
        if (error == connection)
            return true;
    return false;
}

// Waits as a failed accept's error asks; returns the pause after the next
// failure.
DWORD PauseAfterFailedAccept(int error, DWORD pause)
{
    if (IsAboutOneConnection(error))
        return pause;
    Sleep(pause);
    return pause * 2 < ACCEPT_LONGEST_PAUSE_MS ? pause * 2 : ACCEPT_LONGEST_PAUSE_MS;
}

// The port is the server's alone: on Windows another program could
// otherwise bind the same address and port with SO_REUSEADDR and take the
// server's connections. A server on :: serves both families. The peer
// time-out, as both waits' limit, goes to every connection accepted, so
// that a fresh one needs no limit of its own (an accept does not wait by
// it); without it, each wait is limited as it comes.
void SetListenerOptions(SOCKET s, int family)
{
    SetOptionOrLog(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, TRUE,
                   TEXT("ERROR: setsockopt(SO_EXCLUSIVEADDRUSE) failed with error = %d\r\n"));
    AllowMappedAddresses(s, family);
    const DWORD limit = AppState.peerTimeoutMs.load();
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

// Binds s to the resolved address and listens, then logs the ready line
// with the port as typed, unless the system chose it (for 0, however
// spelt, or an empty field): then with the port it chose, which the user
// must learn to reach the server. Every failure is logged.
bool StartListening(SOCKET s, const addrinfo* local, const char* port)
{
    if (bind(s, local->ai_addr, static_cast<int>(local->ai_addrlen)) == SOCKET_ERROR) {
        AppendLog(TEXT("ERROR: bind() failed with error = %d\r\n"), WSAGetLastError());
        return false;
    }
    if (listen(s, SOMAXCONN) == SOCKET_ERROR) {
        AppendLog(TEXT("Server go to listen mode failed\r\n"));
        return false;
    }
    char bound[PORT_TEXT_SIZE];
    const bool chosen = SystemChoosesPort(port);
    if (chosen && !BoundPort(s, bound)) {
        AppendLog(TEXT("ERROR: getsockname() failed with error = %d\r\n"), WSAGetLastError());
        return false;
    }
    AppendLog(TEXT("Socket 0x%08x ready for connection with %hs family, %hs type, on port %hs\r\n"),
              static_cast<unsigned>(s), FamilyText(local->ai_family), TypeText(local->ai_socktype),
              chosen ? bound : port);
    return true;
}

// Opens the listening socket on the resolved address. Returns false, with
// the socket closed, when it cannot listen; a socket that could not be
// created is left for the first accept to report.
bool BindAndListen(const addrinfo* local, const char* port)
{
    SOCKET s = socket(local->ai_family, local->ai_socktype, local->ai_protocol);
    ReplaceAndCloseOld(AppState.listenSocket, s);
    if (s == INVALID_SOCKET)
        return true;
    SetListenerOptions(s, local->ai_family);
    if (StartListening(s, local, port))
        return true;
    ReplaceAndCloseOld(AppState.listenSocket, INVALID_SOCKET);
    return false;
}

// Resolves the numeric address and port, then listens there.
bool OpenListener(const char* host, const char* port)
{
    addrinfo* list;
    if (ResolveEndpoint(host, port, AI_PASSIVE | AI_NUMERICHOST, &list) != 0) {
        AppendLog(TEXT("ERROR: getaddrinfo failed with error %d\r\n"), WSAGetLastError());
        return false;
    }
    bool listening = BindAndListen(list, port);
    freeaddrinfo(list);
    return listening;
}

// The peer's numeric address, without the port; empty when unknown. The
// address is the one accept gave: asking the system again would cost a
// call per exchange (under Wine, a round trip to its server) for the same
// answer.
void PeerName(const sockaddr_storage* peer, int length, char name[PEER_NAME_SIZE])
{
    if (getnameinfo(reinterpret_cast<const sockaddr*>(peer), static_cast<socklen_t>(length), name,
                    PEER_NAME_SIZE, nullptr, 0, NI_NUMERICHOST) != 0)
        name[0] = '\0';
}

// Receives one message on s from the peer at peer (length bytes, as accept
// gave them), logs it and echoes it, all before deadline. Returns false
// after logging a failure; the caller then drops the connection.
bool Serve(SOCKET s, sockaddr_storage* peer, int length, ULONGLONG deadline)
{
    EchoMessage message;
    // A receive on a connection leaves the address as it is; only its
    // length may read 0 afterwards.
    int received = length;
    int outcome = ReceiveMessage(s, &message, reinterpret_cast<sockaddr*>(peer), &received, deadline);
    if (outcome == RECEIVE_ERROR) {
        AppendLog(TEXT("ERROR: Couldn't receive the data! Error = %d\r\n"), WSAGetLastError());
        return false;
    }
    if (outcome == RECEIVE_INCOMPLETE) {
        AppendLog(TEXT("ERROR: Didn't get all the expected data from the client!\r\n"));
        return false;
    }
    char name[PEER_NAME_SIZE];
    PeerName(peer, length, name);
    char text[MESSAGE_TEXT_SIZE];
    MessageText(&message, text);
    AppendLog(TEXT("Received from client(%hs) <---- %hs\r\n"), name, text);
    if (!SendEchoMessage(s, &message, reinterpret_cast<const sockaddr*>(peer), length, deadline)) {
        AppendLog(TEXT("ERROR: Couldn't send the data! error = %d\r\n"), WSAGetLastError());
        return false;
    }
    AppendLog(TEXT("Send Echo to client ---->%hs\r\n"), text);
    return true;
}

// The listening socket is still this worker's: the dialog has not closed it.
bool StillListening(SOCKET listener)
{
    return listener != INVALID_SOCKET && AppState.listenSocket.load() == listener;
}

// Serves s, accepted a moment ago from peer (length bytes), whose waits
// are limited to inheritedLimit already (0: not at all), then closes the
// connection it replaces: closing that any sooner would hold up the new
// client.
void ServeAccepted(SOCKET s, sockaddr_storage* peer, int length, DWORD inheritedLimit)
{
    ULONGLONG deadline = PeerDeadline();
    WaitsLimitedAlready(s, inheritedLimit);
    SOCKET previous = AppState.acceptedSocket.exchange(s);
    AppendLog(TEXT("Accepted TCP connection from socket 0x%08x\r\n"), static_cast<unsigned>(s));
    if (!Serve(s, peer, length, deadline))
        ReplaceAndCloseOld(AppState.acceptedSocket, INVALID_SOCKET);
    if (previous != INVALID_SOCKET)
        closesocket(previous);
}

// Accepts and serves connections until the listening socket is gone. The
// last good connection stays open until the next one replaces it. What
// limit accepted sockets have from the listener is read once, of the
// first: it is the same for all on one system.
void ServeConnections(void)
{
    SOCKET listener = AppState.listenSocket.load();
    DWORD pause = ACCEPT_RETRY_PAUSE_MS;
    DWORD inheritedLimit = LIMIT_UNREAD;
    for (;;) {
        sockaddr_storage peer = {};
        int length = PEER_ADDRESS_SIZE;
        SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (s == INVALID_SOCKET) {
            const int error = WSAGetLastError();
            AppendLog(TEXT("ERROR: accept() failed with error = %d\r\n"), error);
            if (!StillListening(listener))
                return;
            pause = PauseAfterFailedAccept(error, pause);
            continue;
        }
        pause = ACCEPT_RETRY_PAUSE_MS;
        if (inheritedLimit == LIMIT_UNREAD)
            inheritedLimit = WaitLimitOf(s);
        ServeAccepted(s, &peer, length, inheritedLimit);
    }
}

}  // namespace

DWORD WINAPI ServerWorker(LPVOID)
{
    // Taken once: a Start while this worker runs cannot change what it serves.
    const NarrowText host = AppState.hostName.load();
    const NarrowText port = AppState.portName.load();
    ReplaceAndCloseOld(AppState.acceptedSocket, INVALID_SOCKET);
    if (OpenListener(host.get(), port.get()))
        ServeConnections();
    CloseConnection(AppState.acceptedSocket);
    return 0;
}
