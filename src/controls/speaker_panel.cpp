// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/speaker_panel.h"

#include "controls/press_hold.h"
#include "ui/fonts.h"
#include "ui/skin.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace q7 {

namespace {

const char* const kNames[9][2] = {{"", ""},
                                  {"前置左(ML)", "Main L"},
                                  {"中置(C)", "Center"},
                                  {"前置右(MR)", "Main R"},
                                  {"后置左(RL)", "Rear L"},
                                  {"超低(S)", "Sub"},
                                  {"后置右(RR)", "Rear R"},
                                  {"顶置左(TL)", "Top L"},
                                  {"顶置右(TR)", "Top R"}};
const QColor kColours[9] = {{255, 255, 255}, {227, 207, 87}, {176, 224, 230},
                            {227, 207, 87},  {65, 105, 225}, {235, 142, 85},
                            {65, 105, 225},  {255, 153, 18}, {255, 153, 18}};

} // namespace

CSSVolumePanel::CSSVolumePanel(QWidget* parent) : QWidget(parent), hold_(new PressHold(this)) {
    // A hold cut short (hidden, disabled) leaves no drag behind.
    connect(hold_, &PressHold::ended, this, [this] { dragging_ = false; });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 200);
    const float start[9][2] = {{0, 0},  {-1, 1}, {0, 1},        {1, 1},   {-1, -1},
                               {0, -1}, {1, -1}, {-0.5f, 0.5f}, {0.5f, 0}};
    for (int i = 0; i < 9; ++i) {
        points_[std::size_t(i)].type = i;
        points_[std::size_t(i)].x = start[i][0];
        points_[std::size_t(i)].y = start[i][1];
    }
    placeAll();
}

QPoint CSSVolumePanel::pixelOf(float x, float y) const {
    return QPoint(int(std::floor((width() - 60) / W_ * (W_ / 2 + x) + 30)),
                  int(std::floor((height() - 60) / L_ * (L_ / 2 - y) + 30)));
}

void CSSVolumePanel::placeAll() {
    for (Point& p : points_) {
        const QPoint px = pixelOf(p.x, p.y);
        p.px = px.x();
        p.py = px.y();
    }
}

void CSSVolumePanel::setLanguage(int index) {
    language_ = index;
    update();
}

QString CSSVolumePanel::speakerName(int speaker) const {
    return QString::fromUtf8(
        kNames[std::size_t(std::clamp(speaker, 0, 8))][language_ == 1 ? 1 : 0]);
}

void CSSVolumePanel::SetRoomSize(float width, float length) {
    W_ = std::max(width, 0.1f);
    L_ = std::max(length, 0.1f);
    background_ = QPixmap();
    placeAll();
    update();
}

void CSSVolumePanel::SetPoint(float x, float y, int index) {
    if (index < 0 || index > 8)
        return;
    Point& p = points_[std::size_t(index)];
    p.x = x;
    p.y = y;
    const QPoint px = pixelOf(x, y);
    p.px = px.x();
    p.py = px.y();
    update();
}

void CSSVolumePanel::resizeEvent(QResizeEvent*) {
    background_ = QPixmap();
    placeAll();
}

QStringList CSSVolumePanel::axisLabels(float size, bool vertical) const {
    // From the top (or left) outer line to the bottom (or right) one.
    const int n = int(std::ceil(size / 2));
    const float f = size / 2 - std::floor(size / 2);
    const QString outer =
        f != 0 ? QString::asprintf("%.1fm", n - 1 + f) : QString::asprintf("%.0fm", double(n));
    QStringList labels;
    const QString plus = vertical ? "+" : "-", minus = vertical ? "-" : "+";
    labels << plus + outer;
    for (int v = n - 1; v >= 1; --v)
        labels << plus + QString("%1m").arg(v);
    labels << "0";
    for (int v = 1; v <= n - 1; ++v)
        labels << minus + QString("%1m").arg(v);
    labels << minus + outer;
    return labels;
}

QStringList CSSVolumePanel::lengthLabels() const {
    return axisLabels(L_, true);
}

void CSSVolumePanel::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    const int w = width(), h = height();
    if (background_.isNull()) {
        background_ = skin::canvas(size(), dpr, Qt::black);
        QPainter g(&background_);
        QFont f = uiFont("Tahoma", 13);
        // The length labels live in the 25-pixel margin; a wide family or "+2.5m" gets a smaller
        // size rather than a clipped sign.
        for (const QString& t : axisLabels(L_, true))
            while (f.pixelSize() > 9 && QFontMetrics(f).horizontalAdvance(t) > 27)
                f.setPixelSize(f.pixelSize() - 1);
        g.setFont(f);
        const QFontMetrics fm(f);
        auto line = [&](bool outer, int x1, int y1, int x2, int y2) {
            g.setPen(outer ? QColor(128, 128, 128) : QColor(64, 64, 64));
            g.drawLine(x1, y1, x2, y2);
        };
        // The grid of one axis from its centre out, and its labels: the length axis's lines run
        // across with their labels in the left margin, the width axis's run down, labelled below.
        auto axis = [&](bool length) {
            const float size = length ? L_ : W_;
            const int extent = length ? h : w;
            const int n = int(std::ceil(size / 2));
            const int step = int((extent - 60) / size);
            const int centre = (30 + (extent - 30)) / 2;
            const QStringList labels = axisLabels(size, length);
            auto gridLine = [&](bool outer, int at) {
                if (length)
                    line(outer, 30, at, w - 30, at);
                else
                    line(outer, at, 30, at, h - 30);
            };
            auto label = [&](int at, const QString& t) {
                g.setPen(QColor(73, 90, 151));
                if (length)
                    g.drawText(QRect(-10, at - fm.height() / 2, 35, fm.height()),
                               Qt::AlignRight | Qt::AlignVCenter, t);
                else
                    g.drawText(QRect(at - 30, h - 27, 60, fm.height()), Qt::AlignHCenter, t);
            };
            for (int v = 0; v < n; ++v) {
                gridLine(false, centre - v * step);
                if (v) {
                    gridLine(false, centre + v * step);
                    label(centre - v * step, labels[n - v]);
                    label(centre + v * step, labels[n + v]);
                } else {
                    label(centre, "0");
                }
            }
            gridLine(true, 30);
            gridLine(true, extent - 30);
            label(30, labels.first());
            label(extent - 30, labels.last());
        };
        axis(true);
        axis(false);
    }
    QPixmap frame = background_;
    {
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < 9; ++i) {
            const Point& pt = points_[std::size_t(i)];
            if (pt.type == -1)
                continue;
            const QPointF c(pt.px, pt.py);
            if (pt.type == 0) {
                // The listener: a head with shoulders.
                p.setPen(QPen(QColor(40, 40, 40), 1));
                p.setBrush(QColor(250, 210, 120));
                p.drawEllipse(c + QPointF(0, -5), 7, 7);
                p.setBrush(QColor(80, 160, 240));
                p.drawRoundedRect(QRectF(c.x() - 11, c.y() + 2, 22, 11), 5, 5);
                continue;
            }
            // A speaker cabinet with its number and name.
            const QRectF box(c.x() - 13, c.y() - 15, 26, 30);
            QLinearGradient g(box.topLeft(), box.bottomLeft());
            g.setColorAt(0, QColor(90, 95, 105));
            g.setColorAt(1, QColor(45, 48, 55));
            p.setPen(QPen(kColours[i], 1.5));
            p.setBrush(g);
            p.drawRoundedRect(box, 4, 4);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(25, 25, 28));
            p.drawEllipse(c + QPointF(0, 4), 8, 8);
            p.setFont(uiFontPoints("Arial", 12, true));
            p.setPen(QColor(255, 0, 0));
            p.drawText(QRectF(c.x() - 13, c.y() - 15, 26, 30), Qt::AlignCenter,
                       QString::number(pt.type));
            p.setFont(uiFontPoints("Arial", 8));
            p.setPen(kColours[i]);
            p.drawText(QRectF(c.x() - 50, c.y() + 15 + 2, 100, 14), Qt::AlignHCenter | Qt::AlignTop,
                       speakerName(i));
        }
    }
    QPainter(this).drawPixmap(0, 0, frame);
}

void CSSVolumePanel::mousePressEvent(QMouseEvent* e) {
    // Only the left button grabs and drags a point.
    if (e->button() != Qt::LeftButton)
        return;
    const QPointF m = e->position();
    for (int i = 0; i < 9; ++i) {
        const Point& pt = points_[std::size_t(i)];
        if (pt.type != -1 && std::fabs(pt.px - m.x()) < 16 && std::fabs(pt.py - m.y()) < 16) {
            grabbed_ = i;
            dragging_ = true;
            hold_->start();
            emit pressed(pt);
            return;
        }
    }
}

void CSSVolumePanel::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_)
        return;
    const int w = width(), h = height();
    const int x = std::clamp(int(e->position().x()), 30, w - 30);
    const int y = std::clamp(int(e->position().y()), 30, h - 30);
    Point& pt = points_[std::size_t(grabbed_)];
    pt.px = x;
    pt.py = y;
    pt.x = float((x - w / 2) / ((w - 60) / double(W_)));
    pt.y = float((h / 2 - y) / ((h - 60) / double(L_)));
    emit dragged(pt);
    repaint();
}

void CSSVolumePanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        dragging_ = false;
        hold_->end();
    }
}

} // namespace q7
