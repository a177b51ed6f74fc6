// SPDX-License-Identifier: MIT
// The window's tests run with NotifyUser's box installed, as the program
// starts.
#include "MessageBoxes.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    InstallNotifyUserBox();
    return RUN_ALL_TESTS();
}
