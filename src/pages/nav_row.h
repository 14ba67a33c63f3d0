// SPDX-License-Identifier: GPL-3.0-or-later
// The navigation row shared by the output, compressor, delay and speaker location pages:
// Main, Rear, Center, Sub, Top, Location, Delay, Comp.
#pragma once

#include "ui/editor_context.h"

#include <QObject>
#include <array>

class QWidget;

namespace q7 {

class CGdipButton;

class NavRow : public QObject {
    Q_OBJECT
public:
    NavRow(QWidget* page, EditorContext& editor);
    // Marks the button of the page (or output) shown.
    void setCurrent(int buttonId);
    void place(int x, int y, int width);
    void applyLanguage();
    CGdipButton* button(int id) const;

private:
    EditorContext& editor_;
    std::array<CGdipButton*, 8> buttons_{};
};

} // namespace q7
