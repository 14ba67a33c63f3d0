// SPDX-License-Identifier: GPL-3.0-or-later
// The fonts the screens are designed with, mapped to families this machine has.
#pragma once

#include <QFont>
#include <QStringList>

namespace q7 {

// The installed families that stand for a design family, best first: "Arial" is drawn with
// Liberation Sans (the same metrics, so texts laid out for Arial fit), "宋体" and "黑体" with a
// Chinese family that has simplified glyphs.
QStringList familiesFor(const char* family);
// Makes QFont("Arial") and the others resolve the same way; call once at start-up.
void installFontSubstitutions();
// A font of the named family with a pixel size, or with a point size.
QFont uiFont(const char* family, int pixelSize, bool bold = false);
QFont uiFontPoints(const char* family, double pointSize, bool bold = false);
inline QFont songti(int px, bool bold = false) {
    return uiFont("宋体", px, bold);
}

} // namespace q7
