// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/delay_panel.h"

#include "controls/press_hold.h"
#include "ui/fonts.h"
#include "ui/skin.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace q7 {

namespace {

const char* const kNames[8][2] = {{"前置左(ML)", "Main L"}, {"前置右(MR)", "Main R"},
                                  {"中置(C)", "Center"},    {"超低(S)", "Sub"},
                                  {"后置左(RL)", "Rear L"}, {"后置右(RR)", "Rear R"},
                                  {"顶置左(TL)", "Top L"},  {"顶置右(TR)", "Top R"}};
const QColor kNameColours[8] = {{227, 207, 87}, {227, 207, 87}, {176, 224, 230}, {255, 153, 18},
                                {65, 105, 225}, {65, 105, 225}, {235, 142, 85},  {235, 142, 85}};
const QColor kMarkColours[8] = {{227, 207, 87}, {176, 224, 230}, {255, 153, 18}, {65, 105, 225},
                                {235, 142, 85}, {106, 90, 205},  {65, 224, 208}, {127, 255, 0}};

QFont panelFont() {
    return uiFont("宋体", 12);
}

} // namespace

CDelayPanel::CDelayPanel(QWidget* parent) : QWidget(parent), hold_(new PressHold(this)) {
    // A hold cut short (hidden, disabled) leaves no drag behind.
    connect(hold_, &PressHold::ended, this, [this] { dragging_ = false; });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(300, 200);
    SetUp(8);
}

void CDelayPanel::setLanguage(int index) {
    if (index == language_)
        return;
    language_ = index;
    background_ = QPixmap(); // the names are part of it
    update();
}

QString CDelayPanel::channelName(int row) const {
    return QString::fromUtf8(kNames[std::size_t(std::clamp(row, 0, 7))][language_ == 1 ? 1 : 0]);
}

void CDelayPanel::SetUp(int count) {
    count_ = std::clamp(count, 1, kMaxChannels);
    for (int i = 0; i < count_; ++i)
        channels_[std::size_t(i)] = Channel{i, 0, 0, 0.0f, 1.5f, 100.0f};
    place();
}

int CDelayPanel::xOf(double v) const {
    return int(std::fabs(std::floor((width() - 96) / (axisMax_ - axisMin_) * (v - axisMin_)))) + 78;
}

double CDelayPanel::valueOf(int x) const {
    return (x - 78) / ((width() - 96) / (axisMax_ - axisMin_)) + axisMin_;
}

void CDelayPanel::place() {
    for (int i = 0; i < count_; ++i) {
        Channel& c = channels_[std::size_t(i)];
        c.rowY = int(std::floor(rowHeight() * i + 5 + 0.5));
        c.markerX = xOf(c.value);
    }
}

void CDelayPanel::SetValue(int ch, float v) {
    if (ch < 0 || ch >= count_)
        return;
    Channel& c = channels_[std::size_t(ch)];
    if (c.minimum != c.maximum)
        v = std::clamp(v, c.minimum, c.maximum);
    c.value = v;
    c.markerX = xOf(v);
    update();
}

int CDelayPanel::markerTop(int row) const {
    const QFontMetrics fm(panelFont());
    const int textH = fm.boundingRect(QString::fromUtf8("文字高度")).height();
    return int(channels_[std::size_t(row)].rowY +
               (rowHeight() - markerSize().height() - textH) / 2);
}

void CDelayPanel::resizeEvent(QResizeEvent*) {
    background_ = QPixmap();
    place();
}

void CDelayPanel::mousePressEvent(QMouseEvent* e) {
    // Only the left button drags; the others neither grab nor move a marker.
    if (e->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    grabbed_ = -1;
    hold_->start();
    const QPointF m = e->position();
    for (int i = 0; i < count_; ++i) {
        const Channel& c = channels_[std::size_t(i)];
        if (std::fabs(c.markerX + markerSize().width() / 2.0 - m.x()) < 15 &&
            std::fabs(rowHeight() / 2 + c.rowY - m.y()) < 15) {
            grabbed_ = i;
            break;
        }
    }
    update();
}

void CDelayPanel::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_ || grabbed_ < 0)
        return;
    Channel& c = channels_[std::size_t(grabbed_)];
    c.markerX = int(e->position().x()) - markerSize().width() / 2;
    double v = valueOf(c.markerX);
    if (c.minimum != c.maximum)
        v = std::clamp(v, double(c.minimum), double(c.maximum));
    c.value = float(v);
    emit dragged(grabbed_, c.value);
    repaint();
}

void CDelayPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    update();
    hold_->end();
}

void CDelayPanel::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    const int w = width(), h = height();
    const int B = h - 20;
    if (background_.isNull()) {
        background_ = skin::canvas(size(), dpr, Qt::black);
        QPainter g(&background_);
        g.setFont(panelFont());
        const QFontMetrics fm(panelFont());
        for (int i = 0; i <= count_; ++i) {
            const int y = int(5 + i * rowHeight());
            g.setPen(i == 0 || i == count_ ? QColor(128, 128, 128) : QColor(64, 64, 64));
            g.drawLine(78, y, w - 18, y);
        }
        for (int i = 0; i < count_; ++i) {
            const QString name = channelName(i);
            const int tw = fm.horizontalAdvance(name);
            g.setPen(kNameColours[i]);
            g.drawText(QRect(78 - tw - 5, channels_[std::size_t(i)].rowY, tw + 2, int(rowHeight())),
                       Qt::AlignVCenter | Qt::AlignLeft, name);
        }
        const double span = axisMax_ - axisMin_;
        const int ticks = int(span / 20);
        for (int t = 0; t <= ticks; ++t) {
            const int x = int(78 + t * 20 * (w - 96) / span);
            g.setPen(Qt::white);
            g.drawText(QRect(x - 30, B + 5, 60, fm.height()), Qt::AlignHCenter,
                       QString::asprintf("%.1fms", t * 20 + axisMin_));
            if (t == 0 || t == ticks) {
                g.setPen(QColor(128, 128, 128));
                g.drawLine(x, 5, x, B);
            }
        }
    }
    QPixmap frame = background_;
    {
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        p.setFont(panelFont());
        for (int i = 0; i < count_; ++i) {
            const Channel& c = channels_[std::size_t(i)];
            const int m = markerTop(i);
            const QSize ms = markerSize();
            const double lineY = m + ms.height() / 2.0 + 5;
            QColor mark = kMarkColours[i];
            p.setPen(QPen(mark, 1, Qt::DashLine));
            p.drawLine(QPointF(78, lineY), QPointF(c.markerX, lineY));
            QColor faint = mark;
            faint.setAlpha(i == grabbed_ ? 128 : 64);
            p.setPen(QPen(faint, 1, Qt::DashLine));
            p.drawLine(QPointF(c.markerX, lineY), QPointF(c.markerX, B));
            // The marker: a small diamond in the channel's colour.
            const QPointF centre(c.markerX + ms.width() / 2.0, m + ms.height() / 2.0 + 5);
            QPolygonF diamond;
            diamond << centre + QPointF(0, -6) << centre + QPointF(6, 0) << centre + QPointF(0, 6)
                    << centre + QPointF(-6, 0);
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(mark);
            p.drawPolygon(diamond);
            p.setPen(mark);
            p.drawText(QPointF(c.markerX + 2 + 8, m + ms.height() + 8),
                       QString::asprintf("%.1fms", double(c.value)));
        }
    }
    QPainter(this).drawPixmap(0, 0, frame);
}

} // namespace q7
