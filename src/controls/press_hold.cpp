// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/press_hold.h"

#include <QEvent>
#include <QWidget>

namespace q7 {

PressHold::PressHold(QWidget* control) : QObject(control) {
    control->installEventFilter(this);
}

void PressHold::start() {
    if (held_)
        return;
    held_ = true;
    emit started();
}

void PressHold::end() {
    if (!held_)
        return;
    held_ = false;
    emit ended();
}

bool PressHold::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parent()) {
        if (e->type() == QEvent::Hide)
            end();
        else if (e->type() == QEvent::EnabledChange && !static_cast<QWidget*>(watched)->isEnabled())
            end();
    }
    return false;
}

} // namespace q7
