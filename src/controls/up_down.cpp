// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/up_down.h"

#include "controls/press_hold.h"
#include "ui/control_id.h"

#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace q7 {

// An arrow button that tells its spin when the press starts and after its release has made its
// last click: Qt's auto-repeat emits pressed and released on every repeat, so those cannot say
// where a hold ends.
class UpDown::Arrow : public QToolButton {
public:
    explicit Arrow(UpDown* spin) : QToolButton(spin), spin_(spin) {}

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton)
            spin_->hold_->start();
        QToolButton::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QToolButton::mouseReleaseEvent(e);
        if (e->button() == Qt::LeftButton)
            spin_->hold_->end();
    }

private:
    UpDown* spin_;
};

UpDown::UpDown(int id, QWidget* parent) : QWidget(parent), hold_(new PressHold(this)), id_(id) {
    setControlId(this, id);
    up_ = new Arrow(this);
    down_ = new Arrow(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up_);
    layout->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { click(1); });
    connect(down_, &QToolButton::clicked, this, [this] { click(-1); });
    setFixedWidth(18);
}

void UpDown::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
}

void UpDown::setPosition(int p) {
    position_ = std::clamp(p, minimum_, maximum_);
}

void UpDown::click(int delta) {
    emit stepping(id_, delta);
    position_ = std::clamp(position_ + delta, minimum_, maximum_);
}

} // namespace q7
