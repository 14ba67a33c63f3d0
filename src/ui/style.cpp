// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/style.h"

#include <QPalette>
#include <QWidget>

namespace q7 {

void setPageBackground(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, kPageBackground);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace q7
