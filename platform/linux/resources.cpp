// Resources linked into the program, looked up by type and numeric name.
#include <QIcon>
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "frontend/resource_tables.h"
#include "platform/linux/winbase.h"
#include "platform/linux/winuser.h"

namespace {

WORD NumericName(LPCWSTR name)
{
    return static_cast<WORD>(reinterpret_cast<UINT_PTR>(name));
}

const ResourceEntry* Find(HINSTANCE instance, WORD type, WORD name)
{
    const auto* module = reinterpret_cast<const ResourceTable*>(instance);
    if (module == nullptr)
        return nullptr;
    for (int i = 0; i < module->count; ++i)
        if (module->resources[i].type == type && module->resources[i].name == name)
            return &module->resources[i];
    return nullptr;
}

// Where frontend/linux/resources.qrc embeds the icon's pictures.
const char ICON_FOLDER[] = ":/icons/";

// Icons are built once per resource and live as long as the process.
QIcon* BuildIcon(const IconPictures* group)
{
    static std::mutex mutex;
    static auto* icons = new std::map<const IconPictures*, QIcon*>;
    std::lock_guard lock(mutex);
    QIcon*& icon = (*icons)[group];
    if (icon == nullptr) {
        icon = new QIcon;
        for (int i = 0; i < group->count; ++i)
            icon->addFile(QString::fromUtf8(ICON_FOLDER) + QString::fromUtf8(group->images[i]));
    }
    return icon;
}

}  // namespace

HRSRC FindResourceW(HINSTANCE instance, LPCWSTR name, LPCWSTR type)
{
    const ResourceEntry* found = Find(instance, NumericName(type), NumericName(name));
    if (found == nullptr)
        SetLastError(ERROR_INVALID_PARAMETER);
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(found));
}

HGLOBAL LoadResource(HINSTANCE, HRSRC resource)
{
    if (resource == nullptr)
        return nullptr;
    return reinterpret_cast<HGLOBAL>(const_cast<void*>(reinterpret_cast<const ResourceEntry*>(resource)->data));
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC procedure, LPARAM initParam)
{
    HGLOBAL found = LoadResource(instance, FindResourceW(instance, name, MAKEINTRESOURCEW(RT_DIALOG)));
    if (found == nullptr)
        return -1;
    return DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(found), owner, procedure, initParam);
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int count)
{
    const ResourceEntry* found = Find(instance, RT_STRING, static_cast<WORD>(id));
    if (found == nullptr || buffer == nullptr || count <= 0)
        return 0;
    const auto* text = static_cast<const WCHAR*>(found->data);
    size_t length = std::min<size_t>(std::char_traits<WCHAR>::length(text), static_cast<size_t>(count) - 1);
    std::memcpy(buffer, text, length * sizeof(WCHAR));
    buffer[length] = 0;
    return static_cast<int>(length);
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name)
{
    const ResourceEntry* found = Find(instance, RT_GROUP_ICON, NumericName(name));
    if (found == nullptr)
        return nullptr;
    return reinterpret_cast<HICON>(BuildIcon(static_cast<const IconPictures*>(found->data)));
}

HACCEL LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name)
{
    const ResourceEntry* found = Find(instance, RT_ACCELERATOR, NumericName(name));
    return found == nullptr ? nullptr : reinterpret_cast<HACCEL>(const_cast<void*>(found->data));
}
