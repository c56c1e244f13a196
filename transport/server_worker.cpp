#include "transport/server_worker.h"

#include "core/app_state.h"
#include "core/event_log.h"
#include "transport/echo_message.h"
#include "transport/endpoint.h"

namespace {

// The peer's address and its text, kept for one connection at a time.
const int PEER_ADDRESS_SIZE = 128;
const int PEER_NAME_SIZE = 128;

const char* FamilyText(int family)
{
    return family == AF_INET ? "AF_INET" : family == AF_INET6 ? "AF_INET6" : "UNKNOWN";
}

const char* TypeText(int type)
{
    return type == SOCK_STREAM ? "TCP" : type == SOCK_DGRAM ? "UDP" : "UNKNOWN";
}

// Binds and listens on the resolved address. Returns false, with the
// listening socket closed, when either fails; a socket that could not be
// created is left for the first accept to report.
bool Listen(const addrinfo* local)
{
    SOCKET s = socket(local->ai_family, local->ai_socktype, local->ai_protocol);
    ReplaceSocket(AppState.listenSocket, s);
    if (s == INVALID_SOCKET)
        return true;
    if (bind(s, local->ai_addr, static_cast<int>(local->ai_addrlen)) == SOCKET_ERROR) {
        AppendLog(u"ERROR: bind() failed with error = %d\r\n", WSAGetLastError());
        ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
        return false;
    }
    if (listen(s, SOMAXCONN) == SOCKET_ERROR) {
        AppendLog(u"Server go to listen mode failed\r\n");
        ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
        return false;
    }
    NarrowText port = AppState.portName.load();
    AppendLog(u"Socket 0x%08x ready for connection with %hs family, %hs type, on port %hs\r\n",
              static_cast<unsigned>(s), FamilyText(local->ai_family), TypeText(local->ai_socktype),
              port ? port.get() : "");
    return true;
}

// Resolves the numeric address and port, then listens there.
bool OpenListener(void)
{
    addrinfo* list;
    if (ResolveEndpoint(AI_PASSIVE | AI_NUMERICHOST, &list) != 0) {
        AppendLog(u"ERROR: getaddrinfo failed with error %d\r\n", WSAGetLastError());
        return false;
    }
    bool listening = Listen(list);
    freeaddrinfo(list);
    return listening;
}

// The peer's numeric address, without the port; empty when unknown.
void PeerName(SOCKET s, sockaddr_storage* peer, char name[PEER_NAME_SIZE])
{
    int length = PEER_ADDRESS_SIZE;
    getpeername(s, reinterpret_cast<sockaddr*>(peer), &length);
    if (getnameinfo(reinterpret_cast<sockaddr*>(peer), static_cast<socklen_t>(length), name,
                    PEER_NAME_SIZE, nullptr, 0, NI_NUMERICHOST) != 0)
        name[0] = '\0';
}

// Receives one message on s, logs it and echoes it. Returns false after
// logging a failure; the caller then drops the connection.
bool Serve(SOCKET s, sockaddr_storage* peer)
{
    EchoMessage message;
    int length = PEER_ADDRESS_SIZE;
    int outcome = ReceiveMessage(s, &message, reinterpret_cast<sockaddr*>(peer), &length);
    if (outcome == RECEIVE_ERROR) {
        AppendLog(u"ERROR: Couldn't receive the data! Error = %d\r\n", WSAGetLastError());
        return false;
    }
    if (outcome == RECEIVE_INCOMPLETE) {
        AppendLog(u"ERROR: Didn't get all the expected data from the client!\r\n");
        return false;
    }
    char name[PEER_NAME_SIZE];
    PeerName(s, peer, name);
    char text[ECHO_MESSAGE_SIZE + 1];
    MessageText(&message, text);
    AppendLog(u"Received from client(%hs) <---- %hs\r\n", name, text);
    if (!SendEchoMessage(s, &message, reinterpret_cast<sockaddr*>(peer), PEER_ADDRESS_SIZE)) {
        AppendLog(u"ERROR: Couldn't send the data! error = %d\r\n", WSAGetLastError());
        return false;
    }
    AppendLog(u"Send Echo to client ---->%hs\r\n", text);
    return true;
}

// Accepts and serves connections until accept fails. The last good
// connection stays open until the next one replaces it.
void ServeConnections(void)
{
    for (;;) {
        sockaddr_storage peer = {};
        int length = PEER_ADDRESS_SIZE;
        SOCKET s = accept(AppState.listenSocket.load(), reinterpret_cast<sockaddr*>(&peer), &length);
        if (s == INVALID_SOCKET) {
            AppendLog(u"ERROR: accept() failed with error = %d\r\n", WSAGetLastError());
            return;
        }
        ReplaceSocket(AppState.acceptedSocket, s);
        AppendLog(u"Accepted TCP connection from socket 0x%08x\r\n", static_cast<unsigned>(s));
        SetPeerTimeouts(s);
        if (!Serve(s, &peer))
            ReplaceSocket(AppState.acceptedSocket, INVALID_SOCKET);
    }
}

}  // namespace

DWORD WINAPI ServerWorker(LPVOID)
{
    ReplaceSocket(AppState.acceptedSocket, INVALID_SOCKET);
    if (OpenListener())
        ServeConnections();
    ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
    CloseConnection(AppState.acceptedSocket);
    return 0;
}
