// SPDX-License-Identifier: GPL-3.0-or-later
// CSetDlg (F7): the amplifier's machine settings. The controls change an edit copy of the
// settings record that "Apply" sends; the microphone phases and the factory-mode buttons act at
// once.
#pragma once

#include "pages/tool_dialog.h"

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QRadioButton;

namespace q7 {

class CGdipButton;

class CSetDlg : public ToolDialog {
    Q_OBJECT
public:
    CSetDlg(EditorContext& editor, QWidget* parent);
    void refresh() override;
    void applyLanguage() override;

    // 0 microphone, 1 music.
    QCheckBox* startEnable(int i) const { return startOn_[std::size_t(i)]; }
    CXBmpSlider* startSlider(int i) const { return start_[std::size_t(i)]; }
    QLabel* startLabel(int i) const { return startValue_[std::size_t(i)]; }
    CXBmpSlider* maxSlider(int i) const { return max_[std::size_t(i)]; }
    QLabel* maxLabel(int i) const { return maxValue_[std::size_t(i)]; }
    QRadioButton* saveMode(int i) const { return saveModes_[std::size_t(i)]; }
    QCheckBox* lockPanel() const { return lockPanel_; }
    QCheckBox* lockVolume() const { return lockVolume_; }
    QCheckBox* lockMode() const { return lockMode_; }
    QComboBox* powerOnMode() const { return powerOn_; }
    QCheckBox* phase(int mic) const { return phase_[std::size_t(mic)]; }
    CGdipButton* modeButton(int mode) const { return modes_[std::size_t(mode)]; }
    CGdipButton* applyButton() const { return apply_; }
    CGdipButton* cancelButton() const { return cancel_; }

    void apply();

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    std::array<QCheckBox*, 2> startOn_{};
    std::array<CXBmpSlider*, 2> start_{};
    std::array<QLabel*, 2> startValue_{}, startCaption_{};
    std::array<CXBmpSlider*, 2> max_{};
    std::array<QLabel*, 2> maxValue_{}, maxCaption_{};
    std::array<QRadioButton*, 2> saveModes_{};
    std::array<QCheckBox*, 2> phase_{};
    std::array<CGdipButton*, 4> modes_{};
    std::array<QGroupBox*, 6> groups_{};
    QCheckBox* lockPanel_;
    QCheckBox* lockVolume_;
    QCheckBox* lockMode_;
    QComboBox* powerOn_;
    CGdipButton* apply_;
    CGdipButton* cancel_;

    void setByte(int index, std::uint8_t value);
    void showStart(int i, int byte);
    void startEnableClicked(int i, bool checked);
    void startMoved(int i, int position);
    void maxMoved(int i, int position);
    void defaultModeClicked(int mode);
    QString invalidText() const;
};

} // namespace q7
