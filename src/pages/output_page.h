// SPDX-License-Identifier: GPL-3.0-or-later
// CDialogOutput: one speaker output (Main 5, Rear 4, Center 3, Sub 2, Top 11): its EQ (with the
// Sub output's crossover slopes), its mix of the four sources, and the mutes of all outputs.
#pragma once

#include "pages/page.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;

namespace q7 {

class BandEditor;
class CEqPanel;
class EqEditor;
class CPeakMeterCtrl;
class CXBmpSlider;

// The page's own facts about an output: its EQ's are the bank model's, its cells the names
// table's.
struct OutputInfo {
    int bank;
    const char *zh, *en; // the banner
};
const OutputInfo& outputInfo(int bank);
// The first of the output's four consecutive mix cells, and its mute cell.
int outputMixCell(int bank);
int outputMuteCell(int bank);

class CDialogOutput : public CPage {
    Q_OBJECT
public:
    CDialogOutput(EditorContext& editor, int bank, QWidget* parent);
    ~CDialogOutput() override;

    void refresh() override;
    void applyLanguage() override;
    int bank() const override { return bank_; }
    void setBank(int bank) override;

    // The crossover slope a Sub band's four records form, or -1.
    int matchingSlope(int band) const;
    void chooseSlope(int index);

    CXBmpSlider* mixSlider(int i) const { return mix_[std::size_t(i)]; }
    QLabel* mixText(int i) const { return mixText_[std::size_t(i)]; }
    QCheckBox* muteBox(int id) const;
    QComboBox* slopeList() const { return slopes_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    int bank_;
    std::array<CXBmpSlider*, 4> mix_{};
    std::array<QLabel*, 4> mixText_{};
    std::array<QLabel*, 4> mixCaption_{};
    std::array<QCheckBox*, 5> mutes_{};
    QComboBox* slopes_;
    QLabel* slopeCaption_;
    std::array<CPeakMeterCtrl*, 2> meters_{};
    QRect banner_;
    int timer_ = 0;
    int slopeBand_ = -1; // the band the shown slope list applies to
    int slopeFor_ = -1;  // the band the list was last decided for, shown or not

    const OutputInfo& info() const { return outputInfo(bank_); }
    void mixMoved(int slot, int position);
    void muteClicked(int id, bool checked);
    void updateSlopeList(int band);
    void layoutControls() override;
};

} // namespace q7
