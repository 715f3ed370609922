// SPDX-License-Identifier: MIT
#include <QCoreApplication>

#include <gtest/gtest.h>

// The engine reads its program directory from the application object, so one must exist.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
