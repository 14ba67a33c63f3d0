// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/bmp_slider.h"

#include "controls/focus_frame.h"
#include "controls/press_hold.h"
#include "ui/control_id.h"
#include "ui/skin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace q7 {

CXBmpSlider::CXBmpSlider(int id, QWidget* parent, bool vertical)
    : QWidget(parent), id_(id), vertical_(vertical), hold_(new PressHold(this)) {
    setControlId(this, id);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(vertical ? QSize(20, 40) : QSize(40, 20));
    // A hold cut short (hidden, disabled) leaves no drag behind.
    connect(hold_, &PressHold::ended, this, [this] { dragging_ = false; });
}

void CXBmpSlider::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
    update();
}

void CXBmpSlider::SetPos(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    update();
}

void CXBmpSlider::SetMargin(int left, int right, int top, int bottom) {
    left_ = left, right_ = right, top_ = top, bottom_ = bottom;
    update();
}

void CXBmpSlider::SetClearColour(const QColor& c) {
    clear_ = c;
    update();
}

void CXBmpSlider::setFocusedThumb(bool distinct) {
    focusedThumb_ = distinct;
    update();
}

QSize CXBmpSlider::thumbSize() const {
    return vertical_ ? QSize(std::max(12, width() - left_ - right_), 14)
                     : QSize(14, std::max(12, height() - top_ - bottom_));
}

double CXBmpSlider::thumbOffset(int p) const {
    const QSize t = thumbSize();
    const int span = std::max(1, maximum_ - minimum_);
    if (vertical_)
        return double(height() - t.height() - bottom_ - top_) / span * (maximum_ - p) + top_;
    return double(width() - t.width() - right_ - left_) / span * (p - minimum_) + left_;
}

int CXBmpSlider::positionAt(double c) const {
    const QSize t = thumbSize();
    const int span = std::max(1, maximum_ - minimum_);
    int p;
    if (vertical_) {
        const double per = double(height() - t.height() - bottom_ - top_) / span;
        p = maximum_ - int(std::floor((c - t.height() / 2.0 - top_) / (per > 0 ? per : 1)));
    } else {
        const double per = double(width() - t.width() - right_ - left_) / span;
        p = int(std::floor((c - t.width() / 2.0 - left_) / (per > 0 ? per : 1))) + minimum_;
    }
    return std::clamp(p, minimum_, maximum_);
}

void CXBmpSlider::ensureImages() {
    const qreal dpr = devicePixelRatioF();
    if (dpr == cachedDpr_ && channel_.size() == size() * dpr)
        return;
    cachedDpr_ = dpr;
    channel_ = skin::sliderChannel(size(), dpr, vertical_, false);
    filled_ = skin::sliderChannel(size(), dpr, vertical_, true);
    channelDisabled_ = skin::sliderChannel(size(), dpr, vertical_, false, true);
    filledDisabled_ = skin::sliderChannel(size(), dpr, vertical_, true, true);
    thumb_ = skin::sliderThumb(thumbSize(), dpr, skin::Thumb::Normal, vertical_);
    thumbFocused_ = skin::sliderThumb(thumbSize(), dpr, skin::Thumb::Focused, vertical_);
    thumbDisabled_ = skin::sliderThumb(thumbSize(), dpr, skin::Thumb::Disabled, vertical_);
}

void CXBmpSlider::paintEvent(QPaintEvent*) {
    ensureImages();
    QPainter p(this);
    p.fillRect(rect(), clear_);
    // A disabled slider is grey from end to end, not only its thumb.
    const QPixmap& channel = isEnabled() ? channel_ : channelDisabled_;
    const QPixmap& filled = isEnabled() ? filled_ : filledDisabled_;
    p.drawPixmap(0, 0, channel);
    const double t = thumbOffset(position_);
    const qreal dpr = filled.devicePixelRatio();
    if (vertical_) {
        const QRectF target(0, t, width(), height() - t);
        p.drawPixmap(target, filled, QRectF(0, t * dpr, width() * dpr, (height() - t) * dpr));
    } else {
        const QRectF target(0, 0, t, height());
        p.drawPixmap(target, filled, QRectF(0, 0, t * dpr, height() * dpr));
    }
    const QPixmap& thumb = !isEnabled()                  ? thumbDisabled_
                           : hasFocus() && focusedThumb_ ? thumbFocused_
                                                         : thumb_;
    if (vertical_)
        p.drawPixmap(QPointF(left_, t), thumb);
    else
        p.drawPixmap(QPointF(t, top_), thumb);
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
        paintFocusFrame(p, rect());
}

void CXBmpSlider::step(int delta) {
    position_ = std::clamp(position_ + delta, minimum_, maximum_);
}

void CXBmpSlider::mousePressEvent(QMouseEvent* e) {
    if (!isEnabled() || e->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    hold_->start();
    const double t = thumbOffset(position_);
    const QSize ts = thumbSize();
    const QPointF pos = e->position();
    const bool onThumb = vertical_ ? (pos.y() >= t && pos.y() < t + ts.height())
                                   : (pos.x() >= t && pos.x() < t + ts.width());
    if (onThumb) {
        dragging_ = true;
    } else if (vertical_) {
        step(pos.y() < t + ts.height() / 2.0 ? 1 : -1);
    } else {
        step(pos.x() > t + ts.width() / 2.0 ? 1 : -1);
    }
    update();
    emit positionChanged(id_, position_);
}

void CXBmpSlider::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_)
        return;
    position_ = positionAt(vertical_ ? e->position().y() : e->position().x());
    update();
    emit positionChanged(id_, position_);
}

void CXBmpSlider::mouseReleaseEvent(QMouseEvent*) {
    if (isEnabled()) {
        dragging_ = false;
        emit changeFinished(id_, position_);
    }
    hold_->end();
}

void CXBmpSlider::keyPressEvent(QKeyEvent* e) {
    int delta = 0;
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        delta = 1;
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        delta = -1;
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
    if (!isEnabled())
        return;
    step(delta);
    update();
    emit positionChanged(id_, position_);
    emit changeFinished(id_, position_);
}

void CXBmpSlider::wheelEvent(QWheelEvent* e) {
    e->accept();
    if (!isEnabled() || e->angleDelta().y() == 0)
        return;
    step(e->angleDelta().y() > 0 ? 1 : -1);
    update();
    emit positionChanged(id_, position_);
    emit changeFinished(id_, position_);
}

void CXBmpSlider::focusInEvent(QFocusEvent*) {
    emit gotFocus(id_);
    update();
}

void CXBmpSlider::focusOutEvent(QFocusEvent*) {
    update();
}

void CXBmpSlider::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        dragging_ = false;
        update();
    }
    QWidget::changeEvent(e);
}

void CXBmpSlider::resizeEvent(QResizeEvent*) {
    cachedDpr_ = 0;
}

} // namespace q7
