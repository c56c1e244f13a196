#include "transport/client.h"

#include <cstdlib>

#include "core/app_state.h"
#include "core/event_log.h"
#include "core/text.h"
#include "frontend/resource.h"
#include "platform/extensions.h"
#include "transport/connect_race.h"
#include "transport/deadline.h"
#include "transport/echo_message.h"
#include "transport/endpoint.h"
#include "transport/message_text.h"

namespace {

// Room for the data field's text: 99 characters and the terminator.
const int DATA_FIELD_CHARS = 100;

void BuildFromDataField(HWND dialog, EchoMessage* message)
{
    WCHAR data[DATA_FIELD_CHARS];
    UINT length = GetDlgItemTextW(dialog, IDC_DATA, data, DATA_FIELD_CHARS);
    char* narrow = WideToNarrow(data, static_cast<int>(length));
    BuildMessage(narrow, message);
    free(narrow);
}

// The echo may be long in coming, and the dialog's thread paints nothing
// while it waits: once a display frame has passed without it, the log box
// shows what was logged so far, the line of what was sent included, for
// the rest of the wait. A quicker echo costs no painting of its own.
void ShowLogIfEchoIsSlow(HWND dialog, SOCKET s)
{
    int found = SOCKET_WAITING;
    if (WaitForSockets(&s, 1, WAIT_RECEIVE, LOG_FRAME_MS, &found) == 0)
        FlushLog(dialog);
}

void LogEcho(const EchoMessage* echo, int outcome, const char* host)
{
    char text[MESSAGE_TEXT_SIZE];
    if (outcome == RECEIVE_ERROR) {
        AppendLog(TEXT("ERROR: Couldn't receive the data! Error = %d\r\n"), WSAGetLastError());
    } else if (outcome == RECEIVE_COMPLETE) {
        MessageText(echo, text);
        AppendLog(TEXT("Received Echo from server(%hs) <---- %hs\r\n"), host, text);
    } else {
        AppendLog(TEXT("ERROR: Server didn't send back all the expected data!\r\n"));
    }
}

}  // namespace

int ClientConnect(void)
{
    NarrowText host = AppState.hostName.load();
    NarrowText port = AppState.portName.load();
    addrinfo* list;
    if (ResolveEndpoint(host.get(), port.get(), 0, &list) != 0) {
        ReplaceClientAddresses(nullptr);
        AppendLog(TEXT("ERROR: Couldn't get resolve the server name/address!"));
        return 0;
    }
    ReplaceClientAddresses(list);
    // The previous Send's connection goes before the next is made.
    ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
    BOOL created = FALSE;
    SOCKET s = ConnectFirstAnswering(list, PeerDeadline(), &created);
    if (s != INVALID_SOCKET) {
        AppState.clientSocket.store(s);
        return 1;
    }
    AppendLog(created ? TEXT("Connect to server failed\r\n") : TEXT("Client create socket failed\r\n"));
    return 0;
}

void ClientExchange(HWND dialog)
{
    EchoMessage message;
    BuildFromDataField(dialog, &message);
    SOCKET s = AppState.clientSocket.load();
    const addrinfo* server = AppState.clientAddresses;
    ULONGLONG deadline = PeerDeadline();
    if (!SendEchoMessage(s, &message, server->ai_addr, static_cast<int>(server->ai_addrlen), deadline)) {
        AppendLog(TEXT("ERROR: Couldn't send the data! error = %d\r\n"), WSAGetLastError());
        return;
    }
    NarrowText host = AppState.hostName.load();
    const char* hostText = host ? host.get() : "";
    char text[MESSAGE_TEXT_SIZE];
    MessageText(&message, text);
    AppendLog(TEXT("Sent to server(%hs) ----> %hs\r\n"), hostText, text);
    ShowLogIfEchoIsSlow(dialog, s);
    int outcome = ReceiveMessage(s, &message, nullptr, nullptr, deadline);
    LogEcho(&message, outcome, hostText);
}
