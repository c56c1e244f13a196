// The adapter query. The adapters are this system's network interfaces that
// are up and not loopback, in the kernel's index order; each adapter lists
// its IPv4 addresses, or 0.0.0.0 when it has none.
#pragma once

#include "platform/linux/windef.h"

#define MAX_ADAPTER_NAME_LENGTH 256
#define ERROR_BUFFER_OVERFLOW 111
#define ERROR_NO_DATA 232

typedef DWORD ULONG;
typedef ULONG* PULONG;

typedef struct IP_ADDRESS_STRING {
    char String[16];
} IP_ADDRESS_STRING;

typedef struct IP_ADDR_STRING {
    struct IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_ADDRESS_STRING IpMask;
    DWORD Context;
} IP_ADDR_STRING;

typedef struct IP_ADAPTER_INFO {
    struct IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
    DWORD Index;
    IP_ADDR_STRING IpAddressList;
} IP_ADAPTER_INFO, *PIP_ADAPTER_INFO;

// Fills the buffer of *size bytes with the adapter records, linked by Next.
// ERROR_BUFFER_OVERFLOW with the size needed in *size when they do not fit;
// ERROR_NO_DATA when there is no adapter.
ULONG GetAdaptersInfo(PIP_ADAPTER_INFO adapters, PULONG size);

// Where the query reads the interfaces: getifaddrs and freeifaddrs unless
// replaced (tests give it interface lists of their own; null restores).
struct ifaddrs;
typedef int (*GET_INTERFACES)(struct ifaddrs** list);
typedef void (*FREE_INTERFACES)(struct ifaddrs* list);
void SetInterfaceSource(GET_INTERFACES get, FREE_INTERFACES release);
