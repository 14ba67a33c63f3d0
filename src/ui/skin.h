// SPDX-License-Identifier: GPL-3.0-or-later
// The images of the drawn controls, painted by code at the screen's pixel ratio so they stay
// crisp on any display: slider channel, fill and thumbs, button faces.
#pragma once

#include <QColor>
#include <QPixmap>

namespace q7::skin {

enum class Thumb { Normal, Focused, Disabled };

// A pixmap of size device-independent pixels at the pixel ratio, filled with one colour: what a
// control paints its cached background on.
QPixmap canvas(QSize size, qreal dpr, const QColor& fill = Qt::transparent);

// The channel, or its filled part; greyed when the slider is disabled.
QPixmap sliderChannel(QSize size, qreal dpr, bool vertical, bool filled, bool disabled = false);
QPixmap sliderThumb(QSize size, qreal dpr, Thumb state, bool vertical);
// Rounded button face: the standard (blue) or alternate (orange, "current") image.
QPixmap buttonFace(QSize size, qreal dpr, bool alternate);

// The image button's colour matrices.
QImage brightened(const QImage& image); // r, g, b scaled by 1.05 plus 0.05
QImage greyed(const QImage& image);     // 0.3 R + 0.59 G + 0.11 B

} // namespace q7::skin
