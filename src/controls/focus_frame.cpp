// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/focus_frame.h"

#include <QPainter>

namespace q7 {

void paintFocusFrame(QPainter& p, const QRect& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    // Two pixels in the selection blue, visible on the dark graphs and the light pages alike.
    p.setPen(QPen(QColor(48, 140, 255), 2));
    p.drawRect(QRectF(r).adjusted(1, 1, -1, -1));
    p.restore();
}

} // namespace q7
