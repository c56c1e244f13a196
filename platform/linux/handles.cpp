// The window handle table, shared by all threads under one mutex.
#include "platform/linux/handles.h"

#include <QVariant>
#include <QWidget>
#include <mutex>
#include <unordered_map>

namespace {

const char* const HANDLE_PROPERTY = "quillomardeWindowHandle";

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<UINT_PTR, WindowRecord> windows;
    UINT_PTR next = 0x10010;
};

// Never destroyed: a thread still running at exit may look a handle up.
HandleTable& Table()
{
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

HWND RegisterWindow(const WindowRecord& record)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    UINT_PTR value = table.next;
    table.next += 4;
    table.windows[value] = record;
    if (record.widget != nullptr)
        record.widget->setProperty(HANDLE_PROPERTY, QVariant::fromValue<qulonglong>(value));
    return reinterpret_cast<HWND>(value);
}

void UnregisterWindow(HWND window)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.windows.erase(reinterpret_cast<UINT_PTR>(window));
}

bool LookupWindow(HWND window, WindowRecord* record)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto found = table.windows.find(reinterpret_cast<UINT_PTR>(window));
    if (found == table.windows.end())
        return false;
    *record = found->second;
    return true;
}

QWidget* WidgetOfWindow(HWND window)
{
    WindowRecord record;
    return LookupWindow(window, &record) ? record.widget : nullptr;
}

HWND WindowOfWidget(const QWidget* widget)
{
    if (widget == nullptr)
        return nullptr;
    QVariant value = widget->property(HANDLE_PROPERTY);
    if (!value.isValid())
        return nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value.toULongLong()));
    WindowRecord record;
    return LookupWindow(window, &record) ? window : nullptr;
}

HWND FindChildWindow(HWND parent, int id)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    UINT_PTR first = 0;
    for (const auto& [value, record] : table.windows)
        if (record.parent == parent && record.id == id && (first == 0 || value < first))
            first = value;
    return reinterpret_cast<HWND>(first);
}
