// SPDX-License-Identifier: GPL-3.0-or-later
// Charts of a tuning report drawn to PNG with QPainter. Text needs Qt's fonts, so a program
// without a QGuiApplication (q7ctl) gets one of its own on the offscreen platform, made on the
// thread that asks for the painter.
#pragma once

#include "tune/report.h"

#include <memory>

class QGuiApplication;
class QImage;

namespace q7 {

class QtChartPainter final : public ChartPainter {
public:
    QtChartPainter();
    ~QtChartPainter() override;
    bool writePng(const Chart& chart, const std::string& path, std::string& error) override;
    // The chart as an image (the assistant shows it).
    QImage render(const Chart& chart, int width = kChartWidth, int height = kChartHeight) const;
    // False where no text can be drawn: another kind of Qt application runs already.
    bool ready() const { return ready_; }

private:
    std::unique_ptr<QGuiApplication> app_;
    bool ready_ = false;
};

} // namespace q7
