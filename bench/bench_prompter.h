// SPDX-License-Identifier: GPL-3.0-or-later
// The benches' boxes: every question gets one answer, every message is printed and counted,
// the open dialog gives one path and the save dialog none.
#pragma once

#include "ui/prompter.h"

#include <QString>
#include <cstdio>

namespace q7 {

struct BenchPrompter final : Prompter {
    Answer ask(QWidget*, const QString&, const QString&, bool) override { return answer; }
    void tell(QWidget*, BoxIcon, const QString&, const QString& text) override {
        ++told;
        std::printf("  box: %s\n", text.left(60).toLocal8Bit().constData());
    }
    QString openFile(QWidget*, const QString&) override { return openPath; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    Answer answer = Answer::No;
    QString openPath;
    int told = 0;
};

} // namespace q7
