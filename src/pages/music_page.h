// SPDX-License-Identifier: GPL-3.0-or-later
// CDialogMusic: the input page. The EQ of the music input and of the two microphone channels,
// each channel's echo and reverb, the four microphone ports, the input meters and the status.
#pragma once

#include "pages/page.h"

#include <array>

class QLabel;
class QTableWidget;

namespace q7 {

class BandEditor;
class CEqPanel;
class CGdipButton;
class CPeakMeterCtrl;
class CSmallEqPanel;
class CXBmpSlider;
class EqEditor;

class CDialogMusic : public CPage {
    Q_OBJECT
public:
    CDialogMusic(EditorContext& editor, QWidget* parent);
    ~CDialogMusic() override;

    void refresh() override;
    void applyLanguage() override;

    // Shows a bank (0, 1 or 8) and makes it the current input bank.
    void showBank(int bank);

    // The echo/reverb parameter list.
    void selectParameter(int row);
    void setParameterValue(int value);
    int parameterValue(int row) const;
    QString parameterText(int row, int value) const;

    // Feeds the meters and the status panel from the level report (the page's 300 ms timer).
    void statusTick();

    QTableWidget* parameters() const { return params_; }
    CXBmpSlider* valueSlider() const { return value_; }
    QLabel* valueText() const { return valueText_; }
    CXBmpSlider* portSlider(int id) const;
    CGdipButton* button(int id) const;
    CSmallEqPanel* echoPreview() const { return echo_; }
    CSmallEqPanel* reverbPreview() const { return reverb_; }
    CPeakMeterCtrl* meter(int i) const { return meters_[std::size_t(i)]; }
    QLabel* formatText() const { return format_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QTableWidget* params_;
    QLabel* paramName_;
    CXBmpSlider* value_;
    QLabel* valueText_;
    CSmallEqPanel* reverb_;
    CSmallEqPanel* echo_;
    std::array<CXBmpSlider*, 8> ports_{};
    std::array<QLabel*, 8> portValues_{};
    std::array<CPeakMeterCtrl*, 6> meters_{};
    std::array<CGdipButton*, 12> buttons_{}; // 1068..1071 and the eight routing buttons
    QLabel* bluetooth_;
    QLabel* pairing_;
    QLabel* format_;
    int timer_ = 0;
    int selectedRow_ = -1;
    bool lastBluetooth_ = false, lastPairing_ = false;

    int bank() const;
    bool micBank() const;
    // The mic channel shown: channel A's effects stand beside the music bank.
    bool channelB() const;
    int channelCell(int a, int b) const { return channelB() ? b : a; }
    int reverbBank() const;
    int echoBank() const;
    void fillParameters();
    void fillPorts();
    void fillPreviews();
    void routePort(int port, bool toA);
    void portMoved(int id, int position);
    void layoutControls() override;
    QLabel* caption(int id);
};

} // namespace q7
