// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar: USB state (pane 120), current device mode (121), a blank pane, and the page's
// EQ bypass box (1121) and reset button (1122).
#pragma once

#include <QStatusBar>

class QCheckBox;
class QLabel;
class QPushButton;

namespace q7 {

class MainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit MainStatusBar(QWidget* parent = nullptr);

    QLabel* usbPane() const { return usb_; }
    QLabel* modePane() const { return mode_; }
    QCheckBox* bypass() const { return bypass_; }
    QPushButton* resetEq() const { return reset_; }

    void setUsb(const QString& text, const QColor& colour);
    void setMode(const QString& text);

signals:
    void command(int id);

private:
    QLabel* usb_;
    QLabel* mode_;
    QLabel* blank_;
    QCheckBox* bypass_;
    QPushButton* reset_;
};

} // namespace q7
