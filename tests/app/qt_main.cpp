// SPDX-License-Identifier: GPL-3.0-or-later
// GoogleTest main for the Qt suites: headless, with a private runtime directory.
#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir runtime;
    if (!std::getenv("XDG_RUNTIME_DIR"))
        setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
