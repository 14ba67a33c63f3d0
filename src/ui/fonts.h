// The fonts the screens are designed with, mapped to families this machine has.
#pragma once

#include <QFont>

namespace q7 {

// Maps "宋体", "黑体", "Arial" and "Tahoma" to installed families; call once at start-up.
void installFontSubstitutions();
// A font of the named family with a pixel size.
QFont uiFont(const char* family, int pixelSize, bool bold = false);
inline QFont songti(int px, bool bold = false) {
    return uiFont("宋体", px, bold);
}

} // namespace q7
