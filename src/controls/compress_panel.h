// SPDX-License-Identifier: GPL-3.0-or-later
// CCompressPanelPlus: the static transfer curve of one compressor, -90 .. +6 dB on both axes.
// Display only.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace q7 {

class CCompressPanelPlus : public QWidget {
    Q_OBJECT
public:
    explicit CCompressPanelPlus(QWidget* parent = nullptr);

    void SetEnabled(bool on) { enabled_ = on; }
    void SetThreshold(float db) { threshold_ = db; }
    void SetRatio(float ratio);
    void SetLowerKnee(float db) { knee_ = db; }
    void SetLowerSlope(float s) { lowerSlope_ = s; }
    bool curveEnabled() const { return enabled_; }
    float threshold() const { return threshold_; }
    float slope() const { return slope_; }

    // Pixel positions of an input and an output level.
    int xOf(double db) const;
    int yOf(double db) const;
    // The curve's points: start, knee, threshold and end.
    QPointF startPoint() const;
    QPointF thresholdPoint() const;
    QPointF endPoint() const;
    // The six input labels under the plot ("-90dB" .. "6dB"), each centred on its line, and the
    // font they take: the design's 12 pixels, smaller where the control is too narrow for all six.
    static QStringList inputLabels();
    QFont inputLabelFont() const;
    QList<QRect> inputLabelRects() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    bool enabled_ = false;
    float threshold_ = -15.0f;
    float knee_ = -5.0f;
    float slope_ = 1.0f;
    float lowerSlope_ = 1.0f;
    QPixmap background_;
};

} // namespace q7
