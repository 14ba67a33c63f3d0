// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/skin.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace q7::skin {

namespace {

// The image, as 32-bit ARGB, with every pixel mapped.
template <class Map> QImage mapped(const QImage& image, Map map) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = map(line[x]);
    }
    return out;
}

} // namespace

QPixmap canvas(QSize size, qreal dpr, const QColor& fill) {
    QPixmap p(size * dpr);
    p.setDevicePixelRatio(dpr);
    p.fill(fill);
    return p;
}

QPixmap sliderChannel(QSize size, qreal dpr, bool vertical, bool filled, bool disabled) {
    QPixmap pm = canvas(size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal thickness = 6;
    QRectF groove = vertical
                        ? QRectF((size.width() - thickness) / 2, 3, thickness, size.height() - 6)
                        : QRectF(3, (size.height() - thickness) / 2, size.width() - 6, thickness);
    QLinearGradient g(groove.topLeft(), vertical ? groove.topRight() : groove.bottomLeft());
    QColor edge;
    if (disabled && filled) {
        g.setColorAt(0, QColor(196, 196, 196));
        g.setColorAt(1, QColor(172, 172, 172));
        edge = QColor(160, 160, 160);
    } else if (disabled) {
        g.setColorAt(0, QColor(214, 214, 214));
        g.setColorAt(1, QColor(232, 232, 232));
        edge = QColor(190, 190, 190);
    } else if (filled) {
        g.setColorAt(0, QColor(70, 190, 250));
        g.setColorAt(1, QColor(20, 120, 200));
        edge = QColor(15, 100, 170);
    } else {
        g.setColorAt(0, QColor(170, 185, 200));
        g.setColorAt(1, QColor(215, 225, 235));
        edge = QColor(140, 155, 170);
    }
    p.setPen(QPen(edge, 1));
    p.setBrush(g);
    p.drawRoundedRect(groove, thickness / 2, thickness / 2);
    return pm;
}

QPixmap sliderThumb(QSize size, qreal dpr, Thumb state, bool vertical) {
    QPixmap pm = canvas(size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -1);
    QLinearGradient g(r.topLeft(), vertical ? r.topRight() : r.bottomLeft());
    QColor edge;
    switch (state) {
    case Thumb::Normal:
        g.setColorAt(0, QColor(255, 255, 255));
        g.setColorAt(1, QColor(205, 218, 232));
        edge = QColor(90, 120, 150);
        break;
    case Thumb::Focused:
        g.setColorAt(0, QColor(255, 250, 235));
        g.setColorAt(1, QColor(255, 200, 110));
        edge = QColor(210, 120, 20);
        break;
    case Thumb::Disabled:
        g.setColorAt(0, QColor(235, 235, 235));
        g.setColorAt(1, QColor(205, 205, 205));
        edge = QColor(170, 170, 170);
        break;
    }
    p.setPen(QPen(edge, 1.2));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    p.setPen(QPen(edge.lighter(120), 1));
    const QPointF c = r.center();
    for (int k = -1; k <= 1; ++k) {
        if (vertical)
            p.drawLine(QPointF(c.x() - 3, c.y() + 2.5 * k), QPointF(c.x() + 3, c.y() + 2.5 * k));
        else
            p.drawLine(QPointF(c.x() + 2.5 * k, c.y() - 3), QPointF(c.x() + 2.5 * k, c.y() + 3));
    }
    return pm;
}

QPixmap buttonFace(QSize size, qreal dpr, bool alternate) {
    QPixmap pm = canvas(size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    if (alternate) {
        g.setColorAt(0, QColor(255, 178, 70));
        g.setColorAt(1, QColor(226, 118, 10));
        p.setPen(QPen(QColor(170, 85, 0), 1));
    } else {
        g.setColorAt(0, QColor(74, 150, 222));
        g.setColorAt(1, QColor(32, 96, 170));
        p.setPen(QPen(QColor(22, 70, 130), 1));
    }
    p.setBrush(g);
    p.drawRoundedRect(r, 5, 5);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(r.left() + 5, r.top() + 1.5), QPointF(r.right() - 5, r.top() + 1.5));
    return pm;
}

QImage brightened(const QImage& image) {
    return mapped(image, [](QRgb c) {
        auto f = [](int v) { return std::min(255, int(v * 1.05 + 0.05 * 255 + 0.5)); };
        return qRgba(f(qRed(c)), f(qGreen(c)), f(qBlue(c)), qAlpha(c));
    });
}

QImage greyed(const QImage& image) {
    return mapped(image, [](QRgb c) {
        const int g = std::min(255, int(0.3 * qRed(c) + 0.59 * qGreen(c) + 0.11 * qBlue(c) + 0.5));
        return qRgba(g, g, g, qAlpha(c));
    });
}

} // namespace q7::skin
