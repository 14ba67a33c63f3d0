#include "ui/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace q7 {

void installFontSubstitutions() {
    // Name the CJK family explicitly: a generic fallback may pick Japanese glyph shapes.
    const QStringList cjk = {"WenQuanYi Micro Hei", "Noto Sans CJK SC",  "Noto Sans SC",
                             "Source Han Sans SC",  "WenQuanYi Zen Hei", "DejaVu Sans"};
    QFont::insertSubstitutions(QString::fromUtf8("宋体"), cjk);
    QFont::insertSubstitutions(QString::fromUtf8("黑体"), cjk);
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans", "WenQuanYi Micro Hei"});
    QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans", "WenQuanYi Micro Hei"});
}

QFont uiFont(const char* family, int pixelSize, bool bold) {
    QFont f(QString::fromUtf8(family));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace q7
