// SPDX-License-Identifier: GPL-3.0-or-later
// CDelayDlg: the delays of the eight speaker outputs, each with its on/off box, "High Freq" or
// "Channel" mode and split frequency, and the delay panel that shows and drags them all.
#pragma once

#include "pages/page.h"

#include <array>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace q7 {

class CDelayPanel;
class CXBmpSlider;
class UpDown;

class CDelayDlg : public CPage {
    Q_OBJECT
public:
    CDelayDlg(EditorContext& editor, QWidget* parent);

    void refresh() override;
    void applyLanguage() override;

    static constexpr int kChannels = 8;
    QCheckBox* onBox(int c) const { return rows_[std::size_t(c)].on; }
    QRadioButton* highFreq(int c) const { return rows_[std::size_t(c)].highFreq; }
    QRadioButton* channelMode(int c) const { return rows_[std::size_t(c)].channel; }
    CXBmpSlider* splitSlider(int c) const { return rows_[std::size_t(c)].split; }
    QLabel* splitLabel(int c) const { return rows_[std::size_t(c)].hz; }
    QLabel* nameLabel(int c) const { return rows_[std::size_t(c)].name; }
    QLineEdit* delayEdit(int c) const { return rows_[std::size_t(c)].edit; }
    UpDown* delaySpin(int c) const { return rows_[std::size_t(c)].spin; }
    CDelayPanel* panel() const { return panel_; }

    // Enter in a delay edit: its leading number, clamped to 1.5 .. 100 ms.
    void applyTyped(int channel);
    // What a panel drag does.
    void panelDragged(int channel, float value);

protected:
    void layoutControls() override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        QLabel* name = nullptr;
        QCheckBox* on = nullptr;
        QRadioButton* highFreq = nullptr;
        QRadioButton* channel = nullptr;
        QButtonGroup* modes = nullptr;
        CXBmpSlider* split = nullptr;
        QLabel* hz = nullptr;
        QLineEdit* edit = nullptr;
        UpDown* spin = nullptr;
    };
    std::array<Row, kChannels> rows_{};
    CDelayPanel* panel_;
    QRect table_;
    std::array<QLabel*, 4> headers_{};

    void updateEnables(int c);
    void onClicked(int c, bool checked);
    void modeClicked(int c, int mode);
    void splitMoved(int c, int index);
    void spinStepping(int c, int delta);
    void applyDelay(int c, double value);
};

} // namespace q7
