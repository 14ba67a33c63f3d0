// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/peak_meter.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace q7 {

QTimer* PeakMeterClock::join(int periodMs) {
    Tick& t = ticks_[periodMs];
    if (!t.timer) {
        t.timer = new QTimer(this);
        t.timer->setTimerType(Qt::PreciseTimer);
        t.timer->setInterval(periodMs);
    }
    if (t.users++ == 0)
        t.timer->start();
    return t.timer;
}

void PeakMeterClock::leave(int periodMs) {
    const auto it = ticks_.find(periodMs);
    if (it == ticks_.end())
        return;
    if (--it->second.users <= 0) {
        it->second.users = 0;
        it->second.timer->stop();
    }
}

bool PeakMeterClock::running(int periodMs) const {
    const auto it = ticks_.find(periodMs);
    return it != ticks_.end() && it->second.timer->isActive();
}

CPeakMeterCtrl::~CPeakMeterCtrl() {
    leaveClock();
}

void CPeakMeterCtrl::joinClock() {
    if (joined_)
        return;
    QObject* owner = parent() ? parent() : this;
    if (!clock_ || clock_->parent() != owner) {
        clock_ = owner->findChild<PeakMeterClock*>(QString(), Qt::FindDirectChildrenOnly);
        if (!clock_)
            clock_ = new PeakMeterClock(owner);
    }
    decay_ = connect(clock_->join(period_), &QTimer::timeout, this, &CPeakMeterCtrl::DecayStep);
    joined_ = true;
    joinedPeriod_ = period_;
}

void CPeakMeterCtrl::leaveClock() {
    if (!joined_)
        return;
    disconnect(decay_);
    joined_ = false;
    if (clock_) // the parent's clock may have gone before this meter
        clock_->leave(joinedPeriod_);
}

CPeakMeterCtrl::CPeakMeterCtrl(QWidget* parent) : QWidget(parent), bands_(8) {
    background_ = palette().color(QPalette::Button);
    // The meter paints every pixel: nothing under it needs painting again at each step, which
    // on a page full of controls is most of what a step costs.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPeakMeterCtrl::SetMeterBands(int bands, int leds) {
    bands_.assign(std::size_t(std::max(1, bands)), Band{});
    leds_ = std::max(1, leds);
    update();
}

void CPeakMeterCtrl::SetRange(int range, int greenEnd, int yellowEnd) {
    range_ = std::max(1, range);
    greenEnd_ = greenEnd;
    yellowEnd_ = yellowEnd;
    update();
}

void CPeakMeterCtrl::SetHorizontal(bool horizontal) {
    horizontal_ = horizontal;
    update();
}

void CPeakMeterCtrl::SetBackgroundColour(const QColor& c) {
    background_ = c;
    update();
}

void CPeakMeterCtrl::SetPeakLine(bool on) {
    peakLine_ = on;
    update();
}

void CPeakMeterCtrl::SetData(const int* values, int first, int count) {
    const auto before = shown();
    for (int i = 0; i < count; ++i) {
        const int b = first + i;
        if (b < 0 || b >= int(bands_.size()))
            continue;
        Band& band = bands_[std::size_t(b)];
        const int v = std::clamp(values[i], 0, range_);
        if (v > band.peak) {
            band.peak = v;
            band.hold = peakHold_;
        }
        band.value = v;
    }
    // The decay timer stops when every band has come to rest; new data sets it going again, so
    // that after a silence the meter falls between polls instead of jumping from poll to poll.
    if (started_)
        joinClock();
    if (shown() != before)
        update();
}

void CPeakMeterCtrl::Start(int periodMs) {
    leaveClock();
    period_ = std::max(1, periodMs);
    started_ = true;
    joinClock();
}

void CPeakMeterCtrl::Stop() {
    started_ = false;
    leaveClock();
}

bool CPeakMeterCtrl::running() const {
    return joined_;
}

void CPeakMeterCtrl::DecayStep() {
    const auto before = shown();
    const int step = leds_ < 2 ? range_ * 10 / 100 : range_ / leds_;
    const int peakStep = leds_ < 2 ? 5 : step / 2;
    bool atRest = true;
    for (Band& b : bands_) {
        b.value = std::max(0, b.value - step);
        if ((b.hold == 0 || b.hold == 1) && b.peak > 0)
            b.peak = std::max(0, b.peak - peakStep);
        if (b.hold > 0)
            --b.hold;
        atRest &= b.value == 0 && b.peak == 0 && b.hold == 0;
    }
    // A step that changes no LED and no peak line repaints nothing.
    if (shown() != before)
        update();
    if (atRest)
        leaveClock();
}

std::vector<std::pair<int, int>> CPeakMeterCtrl::shown() const {
    std::vector<std::pair<int, int>> out;
    out.reserve(bands_.size());
    for (const Band& b : bands_)
        out.emplace_back(litLeds(b.value), peakLine_ && !horizontal_ ? b.peak : 0);
    return out;
}

void CPeakMeterCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    const int nb = int(bands_.size());
    const QColor lit[3] = {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)};
    const QColor unlit[3] = {QColor(2, 60, 2), QColor(60, 60, 2), QColor(60, 2, 2)};
    const int greenIndex = leds_ * greenEnd_ / range_;
    const int yellowIndex = leds_ * yellowEnd_ / range_;
    const double ledLength = (horizontal_ ? width() : height()) / double(leds_);
    const double bandThickness = (horizontal_ ? height() : width()) / double(nb);
    const double gap = leds_ > 1 ? 1.0 : 0.0;
    const double bandGap = nb > 1 ? 1.0 : 0.0;
    for (int b = 0; b < nb; ++b) {
        const int on = litLeds(bands_[std::size_t(b)].value);
        for (int i = 0; i < leds_; ++i) {
            const int zone = i < greenIndex ? 0 : i < yellowIndex ? 1 : 2;
            const QColor c = i < on ? lit[zone] : unlit[zone];
            QRectF r;
            if (horizontal_)
                r = QRectF(i * ledLength, b * bandThickness, ledLength - gap,
                           bandThickness - bandGap);
            else
                r = QRectF(b * bandThickness, height() - (i + 1) * ledLength,
                           bandThickness - bandGap, ledLength - gap);
            p.fillRect(r, c);
        }
        if (peakLine_ && !horizontal_ && bands_[std::size_t(b)].peak > 0) {
            const double y = height() - height() * double(bands_[std::size_t(b)].peak) / range_;
            QColor line(std::max(0, background_.red() - 60), std::max(0, background_.green() - 60),
                        std::max(0, background_.blue() - 60));
            p.setPen(line);
            p.drawLine(QPointF(b * bandThickness, y),
                       QPointF((b + 1) * bandThickness - bandGap, y));
        }
    }
}

} // namespace q7
