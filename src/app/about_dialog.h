// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg: the build line, this program's name, version and licence, the amplifier's
// identity, and the hidden "Peak" switch.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace q7 {

class Connection;
class Language;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(Connection& connection, Language& language, QWidget* parent);

    QLabel* modelLine() const { return model_; }
    QLabel* mcuLine() const { return mcu_; }
    QLabel* dspLine() const { return dsp_; }
    QCheckBox* peak() const { return peak_; }
    QLabel* programLine() const { return program_; }
    QLabel* licenceLine() const { return licence_; }

protected:
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    Connection& connection_;
    QLabel* program_;
    QLabel* licence_;
    QLabel* model_;
    QLabel* mcu_;
    QLabel* dsp_;
    QCheckBox* peak_;
};

} // namespace q7
