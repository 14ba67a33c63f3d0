// SPDX-License-Identifier: GPL-3.0-or-later
// CSSVCDlg: the speaker location page. The room, the listener and the eight speakers on a metric
// plan; each speaker's level correction follows from its distance to the listener.
#pragma once

#include "pages/page.h"

#include <array>

class QLabel;
class QLineEdit;

namespace q7 {

class CGdipButton;
class CSSVolumePanel;
class UpDown;

class CSSVCDlg : public CPage {
    Q_OBJECT
public:
    CSSVCDlg(EditorContext& editor, QWidget* parent);

    void refresh() override;
    void applyLanguage() override;

    // Level correction for a speaker at distance d metres from the listener.
    static float levelForDistance(double metres);

    // Point 0 is the listener, 1..8 the speakers; edits and spins in x, y order.
    QLineEdit* pointEdit(int point, bool y) const {
        return edits_[std::size_t(2 * point + (y ? 1 : 0))];
    }
    UpDown* pointSpin(int point, bool y) const {
        return spins_[std::size_t(2 * point + (y ? 1 : 0))];
    }
    QLineEdit* roomEdit(bool length) const { return length ? lengthEdit_ : widthEdit_; }
    UpDown* roomSpin(bool length) const { return length ? lengthSpin_ : widthSpin_; }
    CGdipButton* modifyButton() const { return modify_; }
    CGdipButton* centerButton() const { return center_; }
    CGdipButton* resetButton() const { return reset_; }
    CSSVolumePanel* panel() const { return panel_; }

    // Enter in a position edit.
    void applyPointEdits(int point, bool fromEnter);
    // "Modify", or a room spin click (which has already written its edit).
    void applyRoomSize(bool fromButton);

protected:
    void layoutControls() override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CSSVolumePanel* panel_;
    QLineEdit* widthEdit_;
    QLineEdit* lengthEdit_;
    UpDown* widthSpin_;
    UpDown* lengthSpin_;
    std::array<QLineEdit*, 18> edits_{};
    std::array<UpDown*, 18> spins_{};
    std::array<QLabel*, 8> names_{};
    CGdipButton* modify_;
    CGdipButton* center_;
    CGdipButton* reset_;
    QLabel* roomCaption_;
    QLabel* listenerCaption_;
    QLabel* sourceCaption_;
    QLabel* unitCaption_;
    QLabel* widthCaption_;
    QLabel* lengthCaption_;
    QRect roomBox_, listenerBox_, sourceBox_;

    int roomWidth() const;
    int roomLength() const;
    void setPositionRanges(int width, int length);
    void showPoint(int point, float x, float y, bool setSpins);
    void storePoint(int point, float x, float y);
    void sendLevel(int speaker, float listenerX, float listenerY);
    void sendAllLevels();
    void positionSpin(int index, int delta);
    void roomSpin(bool length, int delta);
    void panelPoint(int type, float x, float y);
    void centerListener();
    void resetAll();
    int pointOfWidget(const QObject* w) const;
};

} // namespace q7
