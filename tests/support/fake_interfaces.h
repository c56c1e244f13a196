// Interface lists for the adapter query, built by tests instead of read
// from the machine.
#pragma once

#include <string>
#include <vector>

struct FakeInterface {
    std::string name;
    int index;
    bool up;
    bool loopback;
    std::vector<std::string> ipv4;  // in the order the kernel would list them
};

// Makes the adapter query see exactly these interfaces (listed in the given
// order, which need not be index order) until RestoreInterfaces.
void UseInterfaces(const std::vector<FakeInterface>& interfaces);
void RestoreInterfaces();
