// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/up_down.h"

#include "ui/control_id.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace q7 {

UpDown::UpDown(int id, QWidget* parent) : QWidget(parent), id_(id) {
    setControlId(this, id);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
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
