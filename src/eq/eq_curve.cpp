// SPDX-License-Identifier: GPL-3.0-or-later
#include "eq/eq_curve.h"

#include <cmath>
#include <numbers>

namespace q7 {

float curveFrequency(int i, double plotWidth) {
    const float step = float(plotWidth / kCurvePoints);
    return float(kCurveLowHz * std::pow(10.0, (i * double(step) / plotWidth) *
                                                  std::log10(kCurveHighHz / kCurveLowHz)));
}

double sectionMagnitudeDb(const Biquad& b, double f, double fs) {
    const double s = std::sin(std::numbers::pi * f / fs);
    const double phi = s * s;
    const double n = (b.b0 + b.b1 + b.b2) * (b.b0 + b.b1 + b.b2) -
                     4.0 * (4.0 * b.b0 * b.b2 + b.b0 * b.b1 + b.b1 * b.b2) * phi +
                     16.0 * b.b0 * b.b2 * phi * phi;
    const double d = (1.0 + b.a1 + b.a2) * (1.0 + b.a1 + b.a2) -
                     4.0 * (4.0 * b.a2 + b.a1 + b.a1 * b.a2) * phi + 16.0 * b.a2 * phi * phi;
    return 10.0 * std::log10(n) - 10.0 * std::log10(d);
}

int ownPointIndex(double f, double plotWidth) {
    const float step = float(plotWidth / kCurvePoints);
    const double x = std::trunc(plotWidth * std::log10(f / kCurveLowHz) /
                                std::log10(kCurveHighHz / kCurveLowHz));
    return int(std::trunc(x / step));
}

void computeBandCurve(int type, double gainDb, double frequencyHz, double q, double plotWidth,
                      BandCurve& out) {
    if (type == 0 || plotWidth <= 0) {
        out.fill(0.0f);
        return;
    }
    const Biquad b = DesignBiquad(type, gainDb, frequencyHz, q, 0.0, 48000.0);
    for (int i = 0; i < kCurvePoints; ++i) {
        const double db = sectionMagnitudeDb(b, curveFrequency(i, plotWidth));
        out[std::size_t(i)] = std::isfinite(db) ? float(db) : -120.0f;
    }
    if (type == 1) {
        const int c = ownPointIndex(frequencyHz, plotWidth);
        if (c >= 0 && c < kCurvePoints)
            out[std::size_t(c)] = float(gainDb);
    }
}

} // namespace q7
