// SPDX-License-Identifier: GPL-3.0-or-later
// The frame the drawn controls show while they have the keyboard focus, so a keyboard user sees
// where the keys go.
#pragma once

#include <QRect>

class QPainter;

namespace q7 {

// Draws the frame just inside r.
void paintFocusFrame(QPainter& p, const QRect& r);

} // namespace q7
