// SPDX-License-Identifier: GPL-3.0-or-later
// CDialogEfx: the 7-band EQ of a microphone channel's reverb or echo, reached from the music
// page's previews; its return button goes back to the music page.
#pragma once

#include "eq/eq_bank.h"
#include "pages/page.h"

class QLabel;

namespace q7 {

class BandEditor;
class CEqPanel;
class EqEditor;
class CGdipButton;

class CDialogEfx : public CPage {
    Q_OBJECT
public:
    CDialogEfx(EditorContext& editor, int bank, QWidget* parent);

    void refresh() override;
    void applyLanguage() override;
    int bank() const override { return bank_; }
    void setBank(int bank) override;

    CGdipButton* returnButton() const { return return_; }
    // What is being edited and how to get back, under the band list.
    QLabel* infoText() const { return info_; }

protected:
    void layoutControls() override;
    void paintEvent(QPaintEvent* e) override;

private:
    int bank_;
    CGdipButton* return_;
    QLabel* info_;
    QRect infoCard_;

    void showInfo();
};

} // namespace q7
