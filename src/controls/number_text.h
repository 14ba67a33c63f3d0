// SPDX-License-Identifier: GPL-3.0-or-later
// Signed numbers as the screens write them ("%+-.1f"): a minus for every negative value, also
// one that rounds to zero and a negative zero (a tenths byte 0x80 reads back as -0.0), as the C
// formatter writes it; Qt's formatter drops the sign of a negative zero.
#pragma once

#include <QString>
#include <cmath>

namespace q7 {

inline QString signedFixed(double v, int decimals, const QString& unit = {}) {
    if (std::isnan(v))
        return QString::asprintf("%.*f", decimals, v) + unit;
    const QString magnitude = QString::asprintf("%.*f", decimals, std::fabs(v));
    return (std::signbit(v) ? QStringLiteral("-") : QStringLiteral("+")) + magnitude + unit;
}

} // namespace q7
