// SPDX-License-Identifier: GPL-3.0-or-later
// GoogleTest main for the remote server's suites: an event loop for the sockets, no display.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
