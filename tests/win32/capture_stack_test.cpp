// flashcore on the real Windows capture stack, through the DLL's C interface. Under Wine the system device
// enumerator answers the video capture category as empty, which an open reports as -1.
#include "flashcore.h"

#include <gtest/gtest.h>

TEST(WindowsCaptureStack, EmptyVideoCategoryMakesEveryOpenFail) {
    EXPECT_EQ(Initialize_DriverInterface(0, false), -1);
    EXPECT_EQ(Initialize_DriverInterface2(L"\\\\?\\usb#vid_fff0", 16, 0, false), -1);
    EXPECT_FALSE(UnInitialize_DriverInterface());
    unsigned char value = 0;
    EXPECT_FALSE(ProcReadFromASIC(0x101F, &value));
}

TEST(WindowsCaptureStack, ConfigurationSettersAnswerTheirArgument) {
    EXPECT_EQ(EnableModeXU6(true), 3);
    EXPECT_EQ(EnableModeXU6(false), 2);
    EXPECT_FALSE(IsUseFilterDriver(false));
    EXPECT_TRUE(IsUseFilterDriver(true));
}
