// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/fonts.h"

namespace q7 {

QStringList familiesFor(const char* family) {
    const QString f = QString::fromUtf8(family);
    // Name the CJK family explicitly: a generic fallback may pick Japanese glyph shapes.
    static const QStringList cjk = {"WenQuanYi Micro Hei", "Noto Sans CJK SC",  "Noto Sans SC",
                                    "Source Han Sans SC",  "WenQuanYi Zen Hei", "DejaVu Sans"};
    if (f == QString::fromUtf8("宋体") || f == QString::fromUtf8("黑体"))
        return cjk;
    if (f == "Arial")
        return {"Liberation Sans", "Arimo", "DejaVu Sans", "WenQuanYi Micro Hei"};
    if (f == "Tahoma")
        return {"Tahoma", "DejaVu Sans", "Liberation Sans", "WenQuanYi Micro Hei"};
    return {f};
}

void installFontSubstitutions() {
    for (const char* f : {"宋体", "黑体", "Arial", "Tahoma"}) {
        QStringList others = familiesFor(f);
        others.removeAll(QString::fromUtf8(f));
        QFont::insertSubstitutions(QString::fromUtf8(f), others);
    }
}

namespace {

// The family (with its stand-ins) and weight; the size is the caller's.
QFont familyFont(const char* family, bool bold) {
    QFont f;
    f.setFamilies(familiesFor(family));
    f.setBold(bold);
    return f;
}

} // namespace

QFont uiFont(const char* family, int pixelSize, bool bold) {
    QFont f = familyFont(family, bold);
    f.setPixelSize(pixelSize);
    return f;
}

QFont uiFontPoints(const char* family, double pointSize, bool bold) {
    QFont f = familyFont(family, bold);
    f.setPointSizeF(pointSize);
    return f;
}

} // namespace q7
