// Names each edit field and combo box for screen readers by the rule in
// platform/dialog_labels.h. The platform's own accessible object names a
// field after the static text created before it, which in a template
// ordered for Tab is often another step's label or none. A hook on the
// program's main thread, set before wWinMain runs, subclasses each field as
// it is created (the dialogs are made on that thread); asked for its
// accessible object, the field answers with the platform's standard one
// under its label's name. Role, state and events stay the standard
// object's, and the controls' order, and so Tab and the arrow keys, stay
// as the template has them. A combo box whose standard object gives no
// value (Wine's) gives its chosen item's text, as Windows' own does.
#include <windows.h>

#include <oleacc.h>
#include <commctrl.h>
#include <vector>

#include "platform/dialog_labels.h"

namespace {

const UINT_PTR NAME_SUBCLASS = 1;

BSTR WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (text != nullptr)
        GetWindowTextW(window, text, length + 1);
    return text;
}

bool IsSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The platform's standard object for a field, with the field's own name;
// valued, when not null, is the window whose text stands in for a value
// the standard object does not give.
class NamedAccessible final : public IAccessible {
public:
    NamedAccessible(IAccessible* standard, BSTR name, HWND valued)
        : standard_(standard), name_(name), valued_(valued)
    {
    }
    ~NamedAccessible()
    {
        standard_->Release();
        SysFreeString(name_);
    }
    NamedAccessible(const NamedAccessible&) = delete;
    NamedAccessible& operator=(const NamedAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(IAccessible))
            return standard_->QueryInterface(iid, object);  // IEnumVARIANT, IOleWindow, ...
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!IsSelf(child))
            return standard_->get_accName(child, name);
        if (name == nullptr)
            return E_INVALIDARG;
        *name = SysAllocString(name_);
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    // The rest is the standard object's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override
    {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* wrong) override
    {
        return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, wrong);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        const HRESULT result = standard_->get_accValue(child, value);
        if (valued_ == nullptr || !IsSelf(child) || value == nullptr ||
            (result == S_OK && SysStringLen(*value) > 0))
            return result;
        if (result == S_OK)
            SysFreeString(*value);
        *value = WindowText(valued_);
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        return standard_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        return standard_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
    {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return standard_->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return standard_->accDoDefaultAction(child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return standard_->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return standard_->put_accValue(child, value);
    }

private:
    IAccessible* standard_;
    BSTR name_;
    HWND valued_;
    LONG references_ = 1;
};

// Where the control stands among its siblings, in its parent's pixels.
ControlPlace PlaceOf(HWND control, HWND parent)
{
    WCHAR className[64] = {};
    GetClassNameW(control, className, 64);
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
    return {KindOfControl(className, style, GetWindowTextLengthW(control) > 0), rect};
}

// The text of the label that names field, or null for none.
BSTR LabelText(HWND field)
{
    const HWND parent = GetParent(field);
    std::vector<HWND> siblings;
    std::vector<ControlPlace> places;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        siblings.push_back(child);
        places.push_back(PlaceOf(child, parent));
    }
    const int count = static_cast<int>(siblings.size());
    for (int i = 0; i < count; ++i) {
        if (siblings[i] != field)
            continue;
        const int label = LabelOfField(places.data(), count, i);
        return label >= 0 ? WindowText(siblings[label]) : nullptr;
    }
    return nullptr;
}

// The field's standard object under its label's name, handed over as the
// platform hands accessible objects over; 0 lets the standard one answer.
LRESULT NamedObject(HWND field, WPARAM wParam, bool comboBox)
{
    BSTR name = LabelText(field);
    if (name == nullptr)
        return 0;
    // Handing an object over marshals it, which needs COM on this thread:
    // started at the first request, it stays for the thread's life, since
    // readers may hold the object.
    thread_local const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)com;
    IAccessible* standard = nullptr;
    if (FAILED(CreateStdAccessibleObject(field, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&standard)))) {
        SysFreeString(name);
        return 0;
    }
    // A drop-down list's window text is its chosen item's.
    auto* named = new NamedAccessible(standard, name, comboBox ? field : nullptr);
    const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, named);
    named->Release();
    return result;
}

// comboBox is the subclass's data.
LRESULT CALLBACK NamedFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR comboBox)
{
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(field, NamedFieldProc, NAME_SUBCLASS);
    if (message == WM_GETOBJECT && static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT) {
        const LRESULT result = NamedObject(field, wParam, comboBox != 0);
        if (result > 0)
            return result;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        auto window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        WCHAR className[64] = {};
        GetClassNameW(window, className, 64);
        if ((create->style & WS_CHILD) && KindOfControl(className, create->style, FALSE) == CONTROL_FIELD)
            SetWindowSubclass(window, NamedFieldProc, NAME_SUBCLASS, ClassNameIs(className, "COMBOBOX"));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const HHOOK creationHook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());

}  // namespace
