// The adapter query over getifaddrs.
#include "platform/linux/iphlpapi.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string>
#include <vector>

#include "platform/linux/winbase.h"

namespace {

std::atomic<GET_INTERFACES> getInterfaces{getifaddrs};
std::atomic<FREE_INTERFACES> freeInterfaces{freeifaddrs};

struct Adapter {
    std::string name;
    unsigned index;
    std::vector<std::string> addresses;
};

bool Listed(const ifaddrs* entry)
{
    return (entry->ifa_flags & IFF_UP) && !(entry->ifa_flags & IFF_LOOPBACK);
}

// Link-level entries carry the interface's index; every interface has one.
void AddInterface(std::vector<Adapter>& adapters, const ifaddrs* entry)
{
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    adapters.push_back({entry->ifa_name, static_cast<unsigned>(link->sll_ifindex), {}});
}

void AddAddress(std::vector<Adapter>& adapters, const ifaddrs* entry)
{
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr)
        return;
    for (Adapter& adapter : adapters)
        if (adapter.name == entry->ifa_name)
            adapter.addresses.push_back(text);
}

std::vector<Adapter> ListAdapters(const ifaddrs* list)
{
    std::vector<Adapter> adapters;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET && Listed(entry))
            AddInterface(adapters, entry);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET)
            AddAddress(adapters, entry);
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const Adapter& a, const Adapter& b) { return a.index < b.index; });
    return adapters;
}

size_t RecordSize(const Adapter& adapter)
{
    size_t extra = adapter.addresses.size() > 1 ? adapter.addresses.size() - 1 : 0;
    return sizeof(IP_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING);
}

void CopyText(char* out, size_t size, const std::string& text)
{
    size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

// Writes one adapter's record at place, its extra addresses after it, and
// returns where the next record goes.
char* WriteRecord(char* place, const Adapter& adapter, int combo)
{
    auto* record = reinterpret_cast<IP_ADAPTER_INFO*>(place);
    std::memset(record, 0, sizeof *record);
    record->ComboIndex = static_cast<DWORD>(combo);
    record->Index = adapter.index;
    CopyText(record->AdapterName, sizeof record->AdapterName, adapter.name);
    CopyText(record->IpAddressList.IpAddress.String, 16,
             adapter.addresses.empty() ? "0.0.0.0" : adapter.addresses[0]);
    IP_ADDR_STRING* previous = &record->IpAddressList;
    char* next = place + sizeof *record;
    for (size_t i = 1; i < adapter.addresses.size(); ++i) {
        auto* entry = reinterpret_cast<IP_ADDR_STRING*>(next);
        std::memset(entry, 0, sizeof *entry);
        CopyText(entry->IpAddress.String, 16, adapter.addresses[i]);
        previous->Next = entry;
        previous = entry;
        next += sizeof *entry;
    }
    return next;
}

void WriteRecords(PIP_ADAPTER_INFO adapters, const std::vector<Adapter>& list)
{
    char* place = reinterpret_cast<char*>(adapters);
    IP_ADAPTER_INFO* previous = nullptr;
    for (size_t i = 0; i < list.size(); ++i) {
        auto* record = reinterpret_cast<IP_ADAPTER_INFO*>(place);
        place = WriteRecord(place, list[i], static_cast<int>(i));
        if (previous != nullptr)
            previous->Next = record;
        previous = record;
    }
}

}  // namespace

ULONG GetAdaptersInfo(PIP_ADAPTER_INFO adapters, PULONG size)
{
    if (size == nullptr)
        return ERROR_INVALID_PARAMETER;
    ifaddrs* interfaces = nullptr;
    if (getInterfaces.load()(&interfaces) != 0)
        return ERROR_NO_DATA;
    std::vector<Adapter> list = ListAdapters(interfaces);
    freeInterfaces.load()(interfaces);
    if (list.empty())
        return ERROR_NO_DATA;
    size_t needed = 0;
    for (const Adapter& adapter : list)
        needed += RecordSize(adapter);
    if (adapters == nullptr || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    WriteRecords(adapters, list);
    return ERROR_SUCCESS;
}

void SetInterfaceSource(GET_INTERFACES get, FREE_INTERFACES release)
{
    getInterfaces.store(get != nullptr ? get : getifaddrs);
    freeInterfaces.store(release != nullptr ? release : freeifaddrs);
}
