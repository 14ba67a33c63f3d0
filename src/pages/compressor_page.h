// SPDX-License-Identifier: GPL-3.0-or-later
// CCompDlg: the five output compressors (Main, Rear, Center, Sub, Top), each with its on/off box,
// threshold, ratio, attack and release sliders and its transfer curve.
#pragma once

#include "pages/page.h"

#include <array>

class QCheckBox;
class QLabel;

namespace q7 {

class CCompressPanelPlus;
class CXBmpSlider;

class CCompDlg : public CPage {
    Q_OBJECT
public:
    CCompDlg(EditorContext& editor, QWidget* parent);

    void refresh() override;
    void applyLanguage() override;

    // Groups in screen order: Main, Rear, Center, Sub, Top; sliders threshold, ratio, attack,
    // release.
    static constexpr int kGroups = 5;
    QCheckBox* onBox(int group) const { return rows_[std::size_t(group)].on; }
    CXBmpSlider* slider(int group, int k) const {
        return rows_[std::size_t(group)].sliders[std::size_t(k)];
    }
    QLabel* valueLabel(int group, int k) const {
        return rows_[std::size_t(group)].values[std::size_t(k)];
    }
    CCompressPanelPlus* curve(int group) const { return rows_[std::size_t(group)].curve; }

protected:
    void layoutControls() override;

private:
    struct Row {
        QCheckBox* on = nullptr;
        std::array<QLabel*, 4> captions{};
        std::array<CXBmpSlider*, 4> sliders{};
        std::array<QLabel*, 4> values{};
        CCompressPanelPlus* curve = nullptr;
        QRect frame;
    };
    std::array<Row, kGroups> rows_{};

    void onClicked(int group, bool checked);
    void sliderMoved(int group, int k, int position);

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace q7
