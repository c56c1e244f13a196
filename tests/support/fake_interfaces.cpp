#include "tests/support/fake_interfaces.h"

#include <arpa/inet.h>
#include <cstring>
#include <deque>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform/linux/iphlpapi.h"

namespace {

// getifaddrs lists one link-level entry per interface, then one entry per address.
struct Storage {
    std::deque<ifaddrs> entries;
    std::deque<sockaddr_ll> links;
    std::deque<sockaddr_in> addresses;
    std::deque<std::string> names;
};

Storage storage;

ifaddrs* Append(ifaddrs* previous, const FakeInterface& interface, sockaddr* address)
{
    ifaddrs& entry = storage.entries.emplace_back();
    std::memset(&entry, 0, sizeof entry);
    entry.ifa_name = storage.names.emplace_back(interface.name).data();
    entry.ifa_flags = (interface.up ? IFF_UP | IFF_RUNNING : 0) | (interface.loopback ? IFF_LOOPBACK : 0);
    entry.ifa_addr = address;
    if (previous != nullptr)
        previous->ifa_next = &entry;
    return &entry;
}

int GetFake(ifaddrs** list)
{
    *list = storage.entries.empty() ? nullptr : &storage.entries.front();
    return 0;
}

void FreeFake(ifaddrs*) {}

}  // namespace

void UseInterfaces(const std::vector<FakeInterface>& interfaces)
{
    storage = Storage();
    ifaddrs* last = nullptr;
    for (const FakeInterface& interface : interfaces) {
        sockaddr_ll& link = storage.links.emplace_back();
        std::memset(&link, 0, sizeof link);
        link.sll_family = AF_PACKET;
        link.sll_ifindex = interface.index;
        last = Append(last, interface, reinterpret_cast<sockaddr*>(&link));
    }
    for (const FakeInterface& interface : interfaces) {
        for (const std::string& text : interface.ipv4) {
            sockaddr_in& address = storage.addresses.emplace_back();
            std::memset(&address, 0, sizeof address);
            address.sin_family = AF_INET;
            inet_pton(AF_INET, text.c_str(), &address.sin_addr);
            last = Append(last, interface, reinterpret_cast<sockaddr*>(&address));
        }
    }
    SetInterfaceSource(GetFake, FreeFake);
}

void RestoreInterfaces()
{
    SetInterfaceSource(nullptr, nullptr);
    storage = Storage();
}
