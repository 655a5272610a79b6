// SetupAPI and device files on the real Windows side of the seam. Under Wine the hub interface class lists no
// interfaces; on Windows every listed hub has a device path that opens.
#include "platform/host.h"

#include "flashcore/bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

TEST(WindowsDeviceIo, HubInterfacesListedByTheSystemOpenByTheirPath) {
    platform::Host& host = platform::host();
    std::unique_ptr<platform::DeviceInfoSet> set;
    ASSERT_TRUE(host.getClassDevs(platform::kUsbHubInterfaceClass,
                                  platform::kDigcfPresent | platform::kDigcfDeviceInterface, set));
    platform::DeviceInterfaceData iface;
    for (std::uint32_t i = 0; set->enumDeviceInterfaces(platform::kUsbHubInterfaceClass, i, iface); ++i) {
        std::uint32_t required = 0;
        EXPECT_FALSE(set->getDeviceInterfaceDetail(iface, nullptr, 0, &required));
        ASSERT_GT(required, platform::kInterfaceDetailHeaderSize);
        std::vector<std::uint8_t> detail(required, 0x00);
        flashcore::writeLe32(detail.data(), platform::kInterfaceDetailHeaderSize);
        ASSERT_TRUE(set->getDeviceInterfaceDetail(iface, detail.data(), required, nullptr));
        const std::string path(
            reinterpret_cast<const char*>(detail.data() + platform::kInterfaceDetailPathOffset));
        EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path;
        std::unique_ptr<platform::DeviceFile> hub;
        EXPECT_TRUE(host.createFile(path.c_str(), platform::kGenericWrite, platform::kFileShareWrite,
                                    platform::kOpenExisting, 0, hub))
            << path;
    }
}

TEST(WindowsDeviceIo, MissingDevicesAndClassesFailCleanly) {
    platform::Host& host = platform::host();
    std::unique_ptr<platform::DeviceFile> file;
    EXPECT_FALSE(host.createFile("\\\\.\\NoSuchDevice-5F0A", platform::kGenericWrite,
                                 platform::kFileShareWrite, platform::kOpenExisting, 0, file));
    EXPECT_EQ(file, nullptr);
    std::unique_ptr<platform::DeviceInfoSet> set;
    const platform::Guid unknown = platform::guidOf("01234567-89AB-CDEF-0123-456789ABCDEF");
    ASSERT_TRUE(host.getClassDevs(unknown, platform::kDigcfPresent | platform::kDigcfDeviceInterface, set));
    platform::DeviceInterfaceData iface;
    EXPECT_FALSE(set->enumDeviceInterfaces(unknown, 0, iface));
}
