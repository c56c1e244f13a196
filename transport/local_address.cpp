#include "transport/local_address.h"

#include <cstdlib>

#include "frontend/resource.h"
#include "platform/extensions.h"
#include <iphlpapi.h>

namespace {

// Room for the widened address text.
const int ADDRESS_FIELD_CHARS = 100;

alignas(IP_ADAPTER_INFO) BYTE adapterBuffer[ADAPTER_BUFFER_SIZE];

}  // namespace

int FillLocalDefaults(HWND dialog)
{
    ULONG size = ADAPTER_BUFFER_SIZE;
    auto* adapters = reinterpret_cast<PIP_ADAPTER_INFO>(adapterBuffer);
    ULONG result = GetAdaptersInfo(adapters, &size);
    void* larger = nullptr;
    if (result == ERROR_BUFFER_OVERFLOW && (larger = malloc(size)) != nullptr) {
        adapters = static_cast<PIP_ADAPTER_INFO>(larger);
        result = GetAdaptersInfo(adapters, &size);
    }
    if (result == ERROR_SUCCESS) {
        WCHAR address[ADDRESS_FIELD_CHARS];
        FormatText(address, ADDRESS_FIELD_CHARS, TEXT("%hs"), adapters->IpAddressList.IpAddress.String);
        SetDlgItemTextW(dialog, IDC_HOST, address);
        SetDlgItemTextW(dialog, IDC_PORT, TEXT("8000"));
    }
    free(larger);
    return result == ERROR_SUCCESS;
}
