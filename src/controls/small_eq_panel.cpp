// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/small_eq_panel.h"

#include "ui/fonts.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace q7 {

CSmallEqPanel::CSmallEqPanel(QWidget* parent) : QWidget(parent) {
    static constexpr float hz[kBands] = {31, 62, 125, 250, 500, 1000, 2000};
    for (int i = 0; i < kBands; ++i) {
        bands_[std::size_t(i)].index = i;
        bands_[std::size_t(i)].frequency = hz[i];
    }
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(120, 60);
}

int CSmallEqPanel::xOf(double f) const {
    const int W = width() - 2 * kMargin;
    return kMargin + int(std::trunc(std::log10(f / 10.0) * W / 3.4));
}

double CSmallEqPanel::yOf(double g) const {
    const int H = height() - 2 * kMargin;
    return kMargin + H / 2.0 - g * H / 30.0;
}

void CSmallEqPanel::computeBand(int i) {
    Band& b = bands_[std::size_t(i)];
    b.x = float(xOf(b.frequency));
    b.y = float(yOf(b.gain));
    const double w0 = 2 * std::numbers::pi * b.frequency / 48000.0;
    const double cs = std::cos(w0), sn = std::sin(w0);
    const double alpha = sn / (2 * b.q);
    const double A = std::pow(10.0, b.gain / 40.0);
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;
    switch (b.type) {
    case 1:
        b0 = 1 + alpha * A, b1 = -2 * cs, b2 = 1 - alpha * A;
        a0 = 1 + alpha / A, a1 = -2 * cs, a2 = 1 - alpha / A;
        break;
    case 2:
        b0 = (1 - cs) / 2, b1 = 1 - cs, b2 = (1 - cs) / 2;
        a0 = 1 + alpha, a1 = -2 * cs, a2 = 1 - alpha;
        break;
    case 3:
        b0 = (1 + cs) / 2, b1 = -(1 + cs), b2 = (1 + cs) / 2;
        a0 = 1 + alpha, a1 = -2 * cs, a2 = 1 - alpha;
        break;
    case 4: {
        const double beta = std::sqrt(A) * sn / b.q;
        b0 = A * ((A + 1) - (A - 1) * cs + beta);
        b1 = 2 * A * ((A - 1) - (A + 1) * cs);
        b2 = A * ((A + 1) - (A - 1) * cs - beta);
        a0 = (A + 1) + (A - 1) * cs + beta;
        a1 = -2 * ((A - 1) + (A + 1) * cs);
        a2 = (A + 1) + (A - 1) * cs - beta;
        break;
    }
    case 5: {
        const double beta = std::sqrt(A) * sn / b.q;
        b0 = A * ((A + 1) + (A - 1) * cs + beta);
        b1 = -2 * A * ((A - 1) + (A + 1) * cs);
        b2 = A * ((A + 1) + (A - 1) * cs - beta);
        a0 = (A + 1) - (A - 1) * cs + beta;
        a1 = 2 * ((A - 1) - (A + 1) * cs);
        a2 = (A + 1) - (A - 1) * cs - beta;
        break;
    }
    default:
        break; // other types draw flat
    }
    const double W = width() - 2 * kMargin;
    for (int u = 0; u < kPoints; ++u) {
        const float x = float(kMargin + u * W / kPoints);
        const double f = std::trunc(10.0 * std::pow(10.0, (x - kMargin) / W * 3.4));
        const double s = std::sin(std::numbers::pi * f / 48000.0);
        const double phi = s * s;
        const double n = (b0 + b1 + b2) * (b0 + b1 + b2) -
                         4 * (4 * b0 * b2 + b0 * b1 + b1 * b2) * phi + 16 * b0 * b2 * phi * phi;
        const double d = (a0 + a1 + a2) * (a0 + a1 + a2) -
                         4 * (4 * a0 * a2 + a0 * a1 + a1 * a2) * phi + 16 * a0 * a2 * phi * phi;
        double db = 10 * std::log10(n) - 10 * std::log10(d);
        if (!std::isfinite(db))
            db = -30;
        b.curve[std::size_t(u)] = QPointF(x, yOf(db));
    }
}

void CSmallEqPanel::computeSum() {
    const int H = height() - 2 * kMargin;
    for (int u = 0; u < kPoints; ++u) {
        double sum = 0;
        for (const Band& b : bands_) {
            const double g = (kMargin + H / 2.0 - b.curve[std::size_t(u)].y()) * 30.0 / H;
            sum += std::trunc(g * 10 + 0.5) / 10;
        }
        sum_[std::size_t(u)] = QPointF(bands_[0].curve[std::size_t(u)].x(), yOf(sum));
    }
}

void CSmallEqPanel::recompute() {
    for (int i = 0; i < kBands; ++i)
        computeBand(i);
    computeSum();
    update();
}

void CSmallEqPanel::setBandFrequency(int i, float f) {
    if (i < 0 || i >= kBands || std::fabs(f) < 1e-7f)
        return;
    bands_[std::size_t(i)].frequency = std::clamp(f, 20.0f, 20000.0f);
    computeBand(i);
    computeSum();
    update();
}

void CSmallEqPanel::setBandGain(int i, float g) {
    if (i < 0 || i >= kBands)
        return;
    bands_[std::size_t(i)].gain = std::clamp(g, -15.0f, 15.0f);
    computeBand(i);
    computeSum();
    update();
}

void CSmallEqPanel::setBypass(bool on) {
    bypass_ = on;
    update();
}

void CSmallEqPanel::setCurveColour(const QColor& c) {
    colour_ = c;
    update();
}

void CSmallEqPanel::resizeEvent(QResizeEvent*) {
    recompute();
}

void CSmallEqPanel::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}

void CSmallEqPanel::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}

void CSmallEqPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
}

void CSmallEqPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(12, 14, 18));
    const int H = height() - 2 * kMargin;
    (void)H;
    for (int db = -15; db <= 15; ++db) {
        const int y = int(yOf(db));
        if (db % 3 == 0)
            p.setPen(db == 0 ? QColor(128, 128, 128) : QColor(64, 64, 64));
        else
            p.setPen(QColor(23, 23, 23));
        p.drawLine(kMargin, y, width() - kMargin, y);
    }
    p.setPen(QColor(64, 64, 64));
    for (int decade = 10; decade <= 10000; decade *= 10)
        for (int k = 1; k <= 9; ++k) {
            const int f = decade * k;
            if (f > 10000 && f != 20000)
                continue;
            const int x = xOf(f);
            p.drawLine(x, kMargin, x, height() - kMargin);
        }
    p.drawLine(xOf(20000), kMargin, xOf(20000), height() - kMargin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour_, 1.7));
    for (int u = 1; u < kPoints; ++u)
        p.drawLine(sum_[std::size_t(u) - 1], sum_[std::size_t(u)]);
    if (bypass_) {
        p.setFont(uiFont("黑体", 32));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, "PASS");
    }
    if (hover_) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QColor(0, 255, 255));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace q7
