#include "core/dialog_controller.h"

#include <cstdlib>

#include "core/app_state.h"
#include "core/event_log.h"
#include "core/text.h"
#include "frontend/resource.h"
#include "transport/client.h"
#include "transport/local_address.h"
#include "transport/server_worker.h"

namespace {

void CentreDialog(HWND dialog)
{
    RECT window;
    RECT parent = {};
    if (!GetWindowRect(dialog, &window))
        return;
    GetClientRect(GetParent(dialog), &parent);
    int x = CentredPosition(parent.right - parent.left, window.right - window.left);
    int y = CentredPosition(parent.bottom - parent.top, window.bottom - window.top);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void FillRoleList(HWND dialog)
{
    // Inserted by position, so the list's sorted style does not reorder them.
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)TEXT("Server"));
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)TEXT("Client"));
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, ROLE_SERVER, 0);
}

BOOL OnInitDialog(HWND dialog)
{
    CentreDialog(dialog);
    FillRoleList(dialog);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return FALSE;
    if (!FillLocalDefaults(dialog)) {
        MessageBoxW(dialog, TEXT("Get Local IP Failed"), TEXT("LAN info"), MB_OK);
        return FALSE;
    }
    return TRUE;
}

// The field's whole text, however long: a text cut to fit a buffer could
// read as another address or port. Empty when there is no memory for it.
NarrowText ReadEndpointField(HWND dialog, int id)
{
    const int size = static_cast<int>(SendDlgItemMessageW(dialog, id, WM_GETTEXTLENGTH, 0, 0)) + 1;
    auto* text = static_cast<WCHAR*>(calloc(static_cast<size_t>(size), sizeof(WCHAR)));
    UINT length = text != nullptr ? GetDlgItemTextW(dialog, id, text, size) : 0;
    NarrowText narrow = MakeNarrowText(WideToNarrow(text, static_cast<int>(length)));
    free(text);
    return narrow;
}

bool WorkerRunning(void)
{
    DWORD status = 0;
    return AppState.serverThread != nullptr && GetExitCodeThread(AppState.serverThread, &status) &&
           status == STILL_ACTIVE;
}

// From here on the dialog is a server: the data field and Send stay
// disabled for good, so that a keypress cannot make it a client as well.
void StartServer(HWND dialog)
{
    AppendLog(TEXT("======== Server Starts ========\r\n"));
    EnableWindow(GetDlgItem(dialog, IDC_DATA), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_SEND), FALSE);
    if (WorkerRunning())
        return;
    if (AppState.serverThread != nullptr)
        CloseHandle(AppState.serverThread);
    AppState.serverThread = CreateThread(nullptr, 0, ServerWorker, dialog, 0, nullptr);
}

void OnStart(HWND dialog)
{
    AppState.hostName.store(ReadEndpointField(dialog, IDC_HOST));
    AppState.portName.store(ReadEndpointField(dialog, IDC_PORT));
    LRESULT role = SendDlgItemMessageW(dialog, IDC_ROLE, CB_GETCURSEL, 0, 0);
    if (role == ROLE_SERVER)
        StartServer(dialog);
    else if (role == ROLE_CLIENT)
        AppendLog(TEXT("======== Client Starts ========\r\n"));
}

void OnSend(HWND dialog)
{
    if (ClientConnect())
        ClientExchange(dialog);
    SetDlgItemTextW(dialog, IDC_DATA, TEXT(""));
    SetFocus(GetDlgItem(dialog, IDC_DATA));
}

// Closes what AppState holds and ends the dialog. The worker is not waited
// for: its pending call fails on the closed sockets and it ends by itself.
void OnClose(HWND dialog, int id)
{
    CloseConnection(AppState.clientSocket);
    ReplaceAndCloseOld(AppState.listenSocket, INVALID_SOCKET);
    CloseConnection(AppState.acceptedSocket);
    ReplaceClientAddresses(nullptr);
    WSACleanup();
    if (AppState.serverThread != nullptr) {
        CloseHandle(AppState.serverThread);
        AppState.serverThread = nullptr;
    }
    EndDialog(dialog, id);
}

}  // namespace

int CentredPosition(LONG parentExtent, LONG dialogExtent)
{
    int position = (parentExtent - dialogExtent) / 2;
    return position < 0 ? 0 : position;
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    AppState.dialog.store(dialog);
    if (LogDialogMessage(dialog, message, wParam))
        return TRUE;
    if (message == WM_INITDIALOG)
        return OnInitDialog(dialog);
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
    case IDCANCEL:
        OnClose(dialog, LOWORD(wParam));
        return TRUE;
    case IDC_START:
        OnStart(dialog);
        return TRUE;
    case IDC_SEND:
        OnSend(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}
