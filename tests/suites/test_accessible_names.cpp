// Windows only: what a screen reader learns of the running main dialog
// through the platform's accessibility interface (oleacc), asked in the
// dialog's own process as a reader's hook would: each field's name, the
// role list's value, and that the keys still move the focus in template
// order.
#include <windows.h>

#include <oleacc.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/resource.h"
#include "tests/support/dialog_run.h"

namespace {

// The control's own name, or its value; "(none)" when it has none.
std::wstring AccessibleText(HWND control, bool value)
{
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return L"(no object)";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    const HRESULT result = value ? object->get_accValue(self, &text) : object->get_accName(self, &text);
    std::wstring found = result == S_OK && text != nullptr ? std::wstring(text, SysStringLen(text)) : L"(none)";
    SysFreeString(text);
    object->Release();
    return found;
}

std::wstring NameOf(HWND dialog, int id) { return AccessibleText(GetDlgItem(dialog, id), false); }

void FillRoles(HWND dialog)
{
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"Server"));
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"Client"));
    SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 0, 0);
}

// Presses key in the focused control as the keyboard would, and waits for
// the focus to settle.
HWND PressIn(HWND dialog, WPARAM key)
{
    const HWND before = GetFocus();
    PostMessageW(before, WM_KEYDOWN, key, 1);
    PostMessageW(before, WM_KEYUP, key, 0xC0000001);
    PumpUntil([&] { return GetFocus() != before; }, 1000);
    return GetFocus() != nullptr ? GetFocus() : dialog;
}

class AccessibleNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// Each field by its own step label, the role list by its step with the
// role chosen as its value. Choosing another role from the keyboard
// changes the value a reader reads, and not the name. (Windows' combo box
// tells readers of the change itself; Wine's tells of none, so that is not
// asked here.)
TEST_F(AccessibleNames, EachFieldIsNamedByItsOwnStep)
{
    RunMainDialog([](HWND dialog) {
        FillRoles(dialog);
        const HWND role = GetDlgItem(dialog, IDC_ROLE);
        EXPECT_EQ(NameOf(dialog, IDC_ROLE), L"Step 1 : Select role of Server or Client");
        EXPECT_EQ(AccessibleText(role, true), L"Server");
        EXPECT_EQ(NameOf(dialog, IDC_HOST), L"Step 2 : Specify IP address");
        EXPECT_EQ(NameOf(dialog, IDC_PORT), L"Step 3 : Specify Port number");
        EXPECT_EQ(NameOf(dialog, IDC_DATA), L"Step 5 : If act as a role of Client, type data to send to server");
        EXPECT_EQ(NameOf(dialog, IDC_LOG), L"Step 6 : Recieved data and error message would be showed here.");
        EXPECT_EQ(NameOf(dialog, IDC_START), L"Start");

        SetFocus(role);
        PostMessageW(role, WM_KEYDOWN, VK_DOWN, 1);
        EXPECT_TRUE(PumpUntil([&] { return SendMessageW(role, CB_GETCURSEL, 0, 0) == 1; }, 2000));
        EXPECT_EQ(AccessibleText(role, true), L"Client");
        EXPECT_EQ(NameOf(dialog, IDC_ROLE), L"Step 1 : Select role of Server or Client");
    });
}

// Tab from the role list visits the controls in template order, and the
// arrow keys keep their groups: Down on Start goes on to the log.
TEST_F(AccessibleNames, TheKeysStillMoveInTemplateOrder)
{
    RunMainDialog([](HWND dialog) {
        FillRoles(dialog);
        SetFocus(GetDlgItem(dialog, IDC_ROLE));
        std::vector<int> visited;
        for (int i = 0; i < 7; ++i)
            visited.push_back(GetDlgCtrlID(PressIn(dialog, VK_TAB)));
        EXPECT_EQ(visited, std::vector<int>({IDC_START, IDC_LOG, IDC_DATA, IDC_SEND, IDC_PORT, IDC_HOST, IDC_ROLE}));
        SetFocus(GetDlgItem(dialog, IDC_START));
        EXPECT_EQ(GetDlgCtrlID(PressIn(dialog, VK_DOWN)), IDC_LOG);
    });
}

}  // namespace
