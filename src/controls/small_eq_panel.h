// SPDX-License-Identifier: GPL-3.0-or-later
// CSmallEqPanel: a compact, display-only preview of a 7-band EQ, with a hover frame and "PASS"
// when bypassed. A click asks the page to open the full EQ.
#pragma once

#include <QPointF>
#include <QWidget>
#include <array>

namespace q7 {

class CSmallEqPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBands = 7;
    static constexpr int kPoints = 56;

    struct Band {
        float x = 0, y = 0;
        int index = 0;
        int type = 1;
        float frequency = 0, gain = 0, q = 1.414f;
        std::array<QPointF, kPoints> curve{};
        float frequencyMin = 20, frequencyMax = 20000, gainMin = -12, gainMax = 12;
    };

    explicit CSmallEqPanel(QWidget* parent = nullptr);

    void setBandFrequency(int band, float f);
    void setBandGain(int band, float g);
    Band& band(int i) { return bands_[std::size_t(i)]; }
    const Band& band(int i) const { return bands_[std::size_t(i)]; }
    void setBypass(bool on);
    bool bypass() const { return bypass_; }
    void setCurveColour(const QColor& c);
    QColor curveColour() const { return colour_; }
    // After direct field changes: recompute every band and the sum.
    void recompute();
    const std::array<QPointF, kPoints>& summed() const { return sum_; }
    bool hovered() const { return hover_; }

    int xOf(double f) const;
    double yOf(double g) const;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    std::array<Band, kBands> bands_;
    std::array<QPointF, kPoints> sum_{};
    bool hover_ = false;
    bool bypass_ = false;
    QColor colour_{0, 200, 255};
    static constexpr int kMargin = 2;

    void computeBand(int b);
    void computeSum();
};

} // namespace q7
