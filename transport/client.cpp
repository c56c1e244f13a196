#include "transport/client.h"

#include <cstdlib>

#include "core/app_state.h"
#include "core/event_log.h"
#include "core/text.h"
#include "frontend/resource.h"
#include "transport/echo_message.h"
#include "transport/endpoint.h"

namespace {

// Room for the data field's text: 99 characters and the terminator.
const int DATA_FIELD_CHARS = 100;

// Connects s to the list's first address; a non-stream socket needs none.
bool ConnectTo(SOCKET s, const addrinfo* server)
{
    return server->ai_socktype != SOCK_STREAM ||
           connect(s, server->ai_addr, static_cast<int>(server->ai_addrlen)) != SOCKET_ERROR;
}

void BuildFromDataField(HWND dialog, EchoMessage* message)
{
    WCHAR data[DATA_FIELD_CHARS];
    UINT length = GetDlgItemTextW(dialog, IDC_DATA, data, DATA_FIELD_CHARS);
    char* narrow = WideToNarrow(data, static_cast<int>(length));
    BuildMessage(narrow, message);
    free(narrow);
}

void LogEcho(const EchoMessage* echo, int outcome, const char* host)
{
    char text[ECHO_MESSAGE_SIZE + 1];
    if (outcome == RECEIVE_ERROR) {
        AppendLog(u"ERROR: Couldn't receive the data! Error = %d\r\n", WSAGetLastError());
    } else if (outcome == RECEIVE_COMPLETE) {
        MessageText(echo, text);
        AppendLog(u"Received Echo from server(%hs) <---- %hs\r\n", host, text);
    } else {
        AppendLog(u"ERROR: Server didn't send back all the expected data!\r\n");
    }
}

}  // namespace

int ClientConnect(void)
{
    addrinfo* list;
    if (ResolveEndpoint(0, &list) != 0) {
        ReplaceClientAddresses(nullptr);
        AppendLog(u"ERROR: Couldn't get resolve the server name/address!");
        return 0;
    }
    ReplaceClientAddresses(list);
    SOCKET s = socket(list->ai_family, list->ai_socktype, list->ai_protocol);
    ReplaceSocket(AppState.clientSocket, s);
    if (s == INVALID_SOCKET) {
        AppendLog(u"Client create socket failed\r\n");
        return 0;
    }
    if (!ConnectTo(s, list)) {
        AppendLog(u"Connect to server failed\r\n");
        ReplaceSocket(AppState.clientSocket, INVALID_SOCKET);
        return 0;
    }
    SetPeerTimeouts(s);
    return 1;
}

void ClientExchange(HWND dialog)
{
    EchoMessage message;
    BuildFromDataField(dialog, &message);
    SOCKET s = AppState.clientSocket.load();
    const addrinfo* server = AppState.clientAddresses;
    if (!SendEchoMessage(s, &message, server->ai_addr, static_cast<int>(server->ai_addrlen))) {
        AppendLog(u"ERROR: Couldn't send the data! error = %d\r\n", WSAGetLastError());
        return;
    }
    NarrowText host = AppState.hostName.load();
    const char* hostText = host ? host.get() : "";
    char text[ECHO_MESSAGE_SIZE + 1];
    MessageText(&message, text);
    AppendLog(u"Sent to server(%hs) ----> %hs\r\n", hostText, text);
    int outcome = ReceiveMessage(s, &message, nullptr, nullptr);
    LogEcho(&message, outcome, hostText);
}
