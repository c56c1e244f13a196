// The main dialog: six numbered steps that lead the user from choosing a
// role to reading the log. Coordinates are in dialog units.
#include "frontend/resource_tables.h"

namespace {

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD LABEL = CHILD | SS_LEFT | WS_GROUP;
const DWORD FIELD = CHILD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD FRAME = CHILD | BS_GROUPBOX;

const DialogItem MAIN_DIALOG_ITEMS[] = {
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 233, 62, 97, 13, IDC_START, WC_BUTTON, TEXT("Start")},
    {FIELD | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, 22, 150, 299, 46, IDC_LOG, WC_EDIT, TEXT("")},
    {FIELD | ES_MULTILINE, 21, 95, 303, 19, IDC_DATA, WC_EDIT, TEXT("")},
    {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 136, 115, 52, 13, IDC_SEND, WC_BUTTON, TEXT("Send")},
    {LABEL, 19, 63, 199, 11, IDC_STATIC, WC_STATIC, TEXT("Step 4 : Establish TCP/IP Sockets Communication")},
    {LABEL, 22, 16, 87, 18, IDC_STATIC, WC_STATIC, TEXT("Step 1 : Select role of Server or Client")},
    {LABEL, 21, 136, 299, 13, IDC_STATIC, WC_STATIC,
     TEXT("Step 6 : Recieved data and error message would be showed here.")},
    {LABEL, 128, 16, 89, 11, IDC_STATIC, WC_STATIC, TEXT("Step 2 : Specify IP address")},
    {FIELD, 231, 41, 97, 12, IDC_PORT, WC_EDIT, TEXT("")},
    {FIELD, 122, 41, 99, 12, IDC_HOST, WC_EDIT, TEXT("")},
    {CHILD | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 20, 41, 92, 44, IDC_ROLE, WC_COMBOBOX, TEXT("")},
    {LABEL, 231, 16, 96, 11, IDC_STATIC, WC_STATIC, TEXT("Step 3 : Specify Port number")},
    {LABEL, 21, 83, 199, 11, IDC_STATIC, WC_STATIC,
     TEXT("Step 5 : If act as a role of Client, type data to send to server")},
    {FRAME, 17, 7, 96, 49, IDC_STATIC, WC_BUTTON, TEXT("")},
    {FRAME, 118, 7, 106, 50, IDC_STATIC, WC_BUTTON, TEXT("")},
    {FRAME, 227, 7, 105, 49, IDC_STATIC, WC_BUTTON, TEXT("")},
    {FRAME, 17, 58, 314, 18, IDC_STATIC, WC_BUTTON, TEXT("")},
    {FRAME, 17, 78, 310, 52, IDC_STATIC, WC_BUTTON, TEXT("")},
    {FRAME, 17, 131, 309, 68, IDC_STATIC, WC_BUTTON, TEXT("")},
};

}  // namespace

const DialogTable MAIN_DIALOG_TEMPLATE = {
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    0, 0, 345, 213,
    TEXT("Windows CE TCP/IP Socket Communication Demo"),
    TEXT("System"),
    10,
    MAIN_DIALOG_ITEMS,
    sizeof MAIN_DIALOG_ITEMS / sizeof MAIN_DIALOG_ITEMS[0],
};
