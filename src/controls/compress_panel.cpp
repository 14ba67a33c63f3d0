// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/compress_panel.h"

#include "ui/fonts.h"
#include "ui/skin.h"

#include <QPainter>
#include <cmath>

namespace q7 {

CCompressPanelPlus::CCompressPanelPlus(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(120, 100);
}

void CCompressPanelPlus::SetRatio(float ratio) {
    slope_ = ratio != 0 ? 1.0f / ratio : 1.0f;
    update();
}

int CCompressPanelPlus::xOf(double d) const {
    const double W = width() - 60;
    return int((d + 90) * W / 96 + 40);
}

int CCompressPanelPlus::yOf(double d) const {
    const double H = height() - 45;
    return int(std::fabs(d - 6) * H / 96 + 20);
}

QPointF CCompressPanelPlus::startPoint() const {
    const double H = height() - 45;
    return QPointF(40, yOf(knee_) + std::fabs(-90 - knee_) * H / 96 * lowerSlope_);
}

QPointF CCompressPanelPlus::thresholdPoint() const {
    return QPointF(xOf(threshold_), yOf(threshold_));
}

QPointF CCompressPanelPlus::endPoint() const {
    const double W = width() - 60, H = height() - 45;
    return QPointF(W + 40, yOf(threshold_) - std::fabs(6 - threshold_) * H / 96 * slope_);
}

namespace {

constexpr int kInputLevels[6] = {-90, -70, -50, -30, -10, 6};

QList<QRect> labelRects(const CCompressPanelPlus& c, const QFont& f) {
    const QFontMetrics fm(f);
    QList<QRect> rects;
    const QStringList labels = CCompressPanelPlus::inputLabels();
    for (int i = 0; i < 6; ++i) {
        const int w = fm.horizontalAdvance(labels[i]);
        rects << QRect(c.xOf(kInputLevels[i]) - w / 2, c.height() - 23, w, fm.height());
    }
    return rects;
}

// All six apart from each other by two pixels and inside the control.
bool fits(const QList<QRect>& rects, int width) {
    for (int i = 0; i < rects.size(); ++i) {
        if (rects[i].left() < 0 || rects[i].right() >= width)
            return false;
        if (i > 0 && rects[i].left() < rects[i - 1].right() + 3)
            return false;
    }
    return true;
}

} // namespace

QStringList CCompressPanelPlus::inputLabels() {
    return {"-90dB", "-70dB", "-50dB", "-30dB", "-10dB", "6dB"};
}

QFont CCompressPanelPlus::inputLabelFont() const {
    QFont f = uiFont("宋体", 12);
    while (f.pixelSize() > 7 && !fits(labelRects(*this, f), width()))
        f.setPixelSize(f.pixelSize() - 1);
    return f;
}

QList<QRect> CCompressPanelPlus::inputLabelRects() const {
    return labelRects(*this, inputLabelFont());
}

void CCompressPanelPlus::resizeEvent(QResizeEvent*) {
    background_ = QPixmap();
}

void CCompressPanelPlus::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    const int w = width(), h = height();
    const double H = h - 45;
    if (background_.isNull()) {
        background_ = skin::canvas(size(), dpr, Qt::black);
        QPainter g(&background_);
        const QFont f = uiFont("宋体", 12);
        g.setFont(f);
        const QFontMetrics fm(f);
        for (int d : {6, 0, -10, -20, -30, -40, -50, -60, -70, -80, -90}) {
            const int y = yOf(d);
            g.setPen(QColor(0, 110, 0));
            g.drawLine(40, y, w - 20, y);
            g.setPen(QColor(255, 255, 0));
            const QString label = d == 6 ? "+6dB" : QString("%1dB").arg(d);
            g.drawText(QRect(0, y - fm.height() / 2, 38, fm.height()),
                       Qt::AlignRight | Qt::AlignVCenter, label);
        }
        for (int d : kInputLevels) {
            const int x = xOf(d);
            g.setPen(QColor(0, 110, 0));
            g.drawLine(x, 20, x, int(H) + 20);
        }
        // Every input label shows; on a narrow control in a smaller size.
        g.setFont(inputLabelFont());
        g.setPen(QColor(255, 255, 0));
        const QList<QRect> rects = inputLabelRects();
        const QStringList labels = inputLabels();
        for (int i = 0; i < 6; ++i)
            g.drawText(rects[i].adjusted(-2, 0, 2, 0), Qt::AlignHCenter | Qt::AlignTop, labels[i]);
    }
    QPixmap picture = background_;
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF a = startPoint(), b(xOf(knee_), yOf(knee_)), t = thresholdPoint(),
                      e = endPoint();
        p.setPen(QPen(QColor(0, 207, 255), 2));
        p.drawLine(a, b);
        p.drawLine(b, t);
        p.drawLine(t, e);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 10, 10, 200));
        p.drawEllipse(t, 4, 4);
        p.setBrush(QColor(120, 120, 120, 65));
        p.drawRect(QRectF(40, std::min(e.y(), a.y()), w - 60, std::fabs(e.y() - a.y())));
        if (!enabled_) {
            p.setFont(uiFontPoints("黑体", 40));
            p.setPen(QColor(0, 150, 255));
            p.drawText(rect(), Qt::AlignCenter, "OFF");
        }
    }
    QPainter(this).drawPixmap(0, 0, picture);
}

} // namespace q7
