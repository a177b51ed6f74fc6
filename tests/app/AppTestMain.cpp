// SPDX-License-Identifier: MIT
// The window's tests run with the program's own application object and
// NotifyUser's box installed, as the program starts.
#include "Application.h"
#include "MessageBoxes.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    TApplication application(argc, argv);
    InstallNotifyUserBox();
    return RUN_ALL_TESTS();
}
