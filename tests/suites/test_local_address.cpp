// The local defaults: which adapter counts as first, which address it
// gives, and what happens when there is none, over test interface lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/resource_tables.h"
#include "platform/linux/iphlpapi.h"
#include "tests/support/dialog_run_linux.h"
#include "tests/support/fake_interfaces.h"
#include "transport/local_address.h"

namespace {

struct Defaults {
    int result;
    std::u16string host;
    std::u16string port;
};

// Fills a real dialog's fields, which start as "kept" so that an untouched
// field shows.
Defaults FillWith(const std::vector<FakeInterface>& interfaces)
{
    UseInterfaces(interfaces);
    Defaults defaults{};
    RunDialog(MAIN_DIALOG_TEMPLATE, [&](HWND dialog) {
        SetDlgItemTextW(dialog, IDC_HOST, u"kept");
        SetDlgItemTextW(dialog, IDC_PORT, u"kept");
        defaults.result = FillLocalDefaults(dialog);
        WCHAR text[40];
        GetDlgItemTextW(dialog, IDC_HOST, text, 40);
        defaults.host = text;
        GetDlgItemTextW(dialog, IDC_PORT, text, 40);
        defaults.port = text;
    });
    RestoreInterfaces();
    return defaults;
}

const FakeInterface LOOPBACK = {"lo", 1, true, true, {"127.0.0.1"}};

TEST(LocalDefaults, TakeTheFirstAddressOfTheFirstUpAdapterByIndex)
{
    Defaults defaults = FillWith({LOOPBACK,
                                  {"wlan0", 5, true, false, {"203.0.113.9"}},
                                  {"eth0", 3, true, false, {"192.0.2.5", "192.0.2.6"}},
                                  {"ifb0", 2, false, false, {"198.51.100.1"}}});
    EXPECT_EQ(defaults.result, 1);
    EXPECT_EQ(defaults.host, u"192.0.2.5");
    EXPECT_EQ(defaults.port, u"8000");
}

TEST(LocalDefaults, AnAdapterWithoutIPv4GivesTheZeroAddress)
{
    Defaults defaults = FillWith({LOOPBACK, {"eth0", 2, true, false, {}},
                                  {"eth1", 3, true, false, {"192.0.2.7"}}});
    EXPECT_EQ(defaults.result, 1);
    EXPECT_EQ(defaults.host, u"0.0.0.0");
}

TEST(LocalDefaults, NoListedAdapterFailsAndLeavesBothFields)
{
    for (const auto& interfaces : std::vector<std::vector<FakeInterface>>{
             {}, {LOOPBACK}, {LOOPBACK, {"eth0", 2, false, false, {"192.0.2.5"}}}}) {
        Defaults defaults = FillWith(interfaces);
        EXPECT_EQ(defaults.result, 0);
        EXPECT_EQ(defaults.host, u"kept");
        EXPECT_EQ(defaults.port, u"kept");
    }
}

// Container bridges and VPNs: far more adapter records than the first buffer holds.
TEST(LocalDefaults, ManyAdaptersStillGiveTheDefault)
{
    std::vector<FakeInterface> interfaces = {LOOPBACK};
    for (int i = 0; i < 60; ++i)
        interfaces.push_back({"veth" + std::to_string(i), 100 + i, true, false,
                              {"198.51.100." + std::to_string(i + 1), "203.0.113." + std::to_string(i + 1)}});
    interfaces.push_back({"eth0", 2, true, false, {"192.0.2.5"}});
    Defaults defaults = FillWith(interfaces);
    EXPECT_EQ(defaults.result, 1);
    EXPECT_EQ(defaults.host, u"192.0.2.5");
}

TEST(AdapterQuery, ReportsTheSizeNeededAndLinksEveryRecord)
{
    UseInterfaces({LOOPBACK, {"eth1", 3, true, false, {"192.0.2.8", "192.0.2.9"}},
                   {"eth0", 2, true, false, {"192.0.2.5"}}});
    ULONG size = 0;
    EXPECT_EQ(GetAdaptersInfo(nullptr, &size), static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    ASSERT_GE(size, 2 * sizeof(IP_ADAPTER_INFO));
    std::vector<IP_ADAPTER_INFO> buffer(size / sizeof(IP_ADAPTER_INFO) + 1);
    ULONG small = sizeof(IP_ADAPTER_INFO);
    EXPECT_EQ(GetAdaptersInfo(buffer.data(), &small), static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(small, size);
    ASSERT_EQ(GetAdaptersInfo(buffer.data(), &size), static_cast<ULONG>(ERROR_SUCCESS));
    const IP_ADAPTER_INFO* first = buffer.data();
    EXPECT_STREQ(first->AdapterName, "eth0");
    EXPECT_EQ(first->Index, 2u);
    ASSERT_NE(first->Next, nullptr);
    EXPECT_STREQ(first->Next->AdapterName, "eth1");
    EXPECT_STREQ(first->Next->IpAddressList.IpAddress.String, "192.0.2.8");
    ASSERT_NE(first->Next->IpAddressList.Next, nullptr);
    EXPECT_STREQ(first->Next->IpAddressList.Next->IpAddress.String, "192.0.2.9");
    EXPECT_EQ(first->Next->Next, nullptr);
    RestoreInterfaces();
}

}  // namespace
