// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/biquad.h"

#include <cmath>
#include <numbers>

namespace q7 {

namespace {

constexpr double kPi = std::numbers::pi;

Biquad normalise(double a0, double b0, double b1, double b2, double a1, double a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

bool finite(const Biquad& b) {
    return std::isfinite(b.b0) && std::isfinite(b.b1) && std::isfinite(b.b2) &&
           std::isfinite(b.a1) && std::isfinite(b.a2);
}

// Fixed-Q crossover sections: alpha' = sn * v / 2.
double sectionV(int type) {
    switch (type) {
    case 8:
    case 9:
        return std::sqrt(3.0);
    case 12:
    case 13:
        return std::sqrt(2.0);
    case 14:
    case 15:
        return 2.0 * std::sin(kPi / 6.0);
    case 16:
    case 17:
        return 2.0 * std::sin(kPi / 2.0);
    case 18:
    case 19:
        return 2.0 * std::sin(kPi / 8.0);
    default: // 20, 21
        return 2.0 * std::sin(3.0 * kPi / 8.0);
    }
}

Biquad chebyshev(bool highPass, double w, double G) {
    const double eps = std::sqrt(std::pow(10.0, 0.01) - 1.0);
    const double v = 0.5 * std::sqrt(std::log(1.0 + 1.0 / eps + 1.0 / (eps * eps)));
    const double m = std::sqrt(1.0 / (1.0 + eps * eps));
    const double T = highPass ? 1.0 / std::tan(w / 2.0) : std::tan(w / 2.0);
    const double x = T * std::sinh(v);
    const double y = T * std::sin(3.0 * kPi / 4.0);
    const double c = 2.0 * x * std::cos(3.0 * kPi / 4.0);
    const double r2 = x * x + y * y;
    const double D = 1.0 - c + r2;
    Biquad b;
    b.b0 = G * m * r2 / D;
    b.b2 = b.b0;
    b.b1 = highPass ? -2.0 * b.b0 : 2.0 * b.b0;
    b.a1 = highPass ? -2.0 * (r2 - 1.0) / D : 2.0 * (r2 - 1.0) / D;
    b.a2 = (1.0 + c + r2) / D;
    return b;
}

Biquad design(int type, double gainDb, double f, double q, double extraGainDb, double fs) {
    const double w = 2.0 * kPi * f / fs;
    const double cs = std::cos(w);
    const double sn = std::sin(w);
    const double alpha = sn / (2.0 * q);
    const double G = std::pow(10.0, gainDb / 20.0);
    const double A = std::pow(10.0, gainDb / 40.0);

    switch (type) {
    case 1: {
        const double e = std::pow(10.0, extraGainDb / 20.0);
        return normalise(1.0 + alpha / A, e * (1.0 + alpha * A), e * (-2.0 * cs),
                         e * (1.0 - alpha * A), -2.0 * cs, 1.0 - alpha / A);
    }
    case 2:
        return normalise(1.0 + alpha, G * (1.0 - cs) / 2.0, G * (1.0 - cs), G * (1.0 - cs) / 2.0,
                         -2.0 * cs, 1.0 - alpha);
    case 3:
        return normalise(1.0 + alpha, G * (1.0 + cs) / 2.0, -G * (1.0 + cs), G * (1.0 + cs) / 2.0,
                         -2.0 * cs, 1.0 - alpha);
    case 4: {
        const double beta = std::sqrt(A) * sn / q;
        return normalise((A + 1.0) + (A - 1.0) * cs + beta, A * ((A + 1.0) - (A - 1.0) * cs + beta),
                         2.0 * A * ((A - 1.0) - (A + 1.0) * cs),
                         A * ((A + 1.0) - (A - 1.0) * cs - beta),
                         -2.0 * ((A - 1.0) + (A + 1.0) * cs), (A + 1.0) + (A - 1.0) * cs - beta);
    }
    case 5: {
        const double beta = std::sqrt(A) * sn / q;
        return normalise((A + 1.0) - (A - 1.0) * cs + beta, A * ((A + 1.0) + (A - 1.0) * cs + beta),
                         -2.0 * A * ((A - 1.0) + (A + 1.0) * cs),
                         A * ((A + 1.0) + (A - 1.0) * cs - beta),
                         2.0 * ((A - 1.0) - (A + 1.0) * cs), (A + 1.0) - (A - 1.0) * cs - beta);
    }
    case 6:
    case 7:
        return chebyshev(type == 7, w, G);
    case 8:
    case 12:
    case 14:
    case 16:
    case 18:
    case 20: {
        const double a = sn * sectionV(type) / 2.0;
        return normalise(1.0 + a, G * (1.0 - cs) / 2.0, G * (1.0 - cs), G * (1.0 - cs) / 2.0,
                         -2.0 * cs, 1.0 - a);
    }
    case 9:
    case 13:
    case 15:
    case 17:
    case 19:
    case 21: {
        const double a = sn * sectionV(type) / 2.0;
        return normalise(1.0 + a, G * (1.0 + cs) / 2.0, -G * (1.0 + cs), G * (1.0 + cs) / 2.0,
                         -2.0 * cs, 1.0 - a);
    }
    case 10:
        return normalise(1.0 + sn + cs, G * sn, G * sn, 0.0, sn - cs - 1.0, 0.0);
    case 11:
        return normalise(1.0 + sn + cs, G * (1.0 + cs), -G * (1.0 + cs), 0.0, sn - cs - 1.0, 0.0);
    default: {
        // Off and unknown codes: a unit all-pass.
        const double e = std::pow(10.0, extraGainDb / 40.0);
        return normalise(1.0 + alpha, e * (1.0 - alpha), e * (-2.0 * cs), e * (1.0 + alpha),
                         -2.0 * cs, 1.0 - alpha);
    }
    }
}

} // namespace

Biquad DesignBiquad(int type, double gainDb, double frequencyHz, double q, double extraGainDb,
                    double sampleRate) {
    Biquad b = design(type, gainDb, frequencyHz, q, extraGainDb, sampleRate);
    if (!finite(b))
        return Biquad{};
    return b;
}

double biquadMagnitudeDb(const Biquad& b, double frequencyHz, double sampleRate) {
    const double w = 2.0 * kPi * frequencyHz / sampleRate;
    const double c1 = std::cos(w), s1 = std::sin(w);
    const double c2 = std::cos(2 * w), s2 = std::sin(2 * w);
    const double nr = b.b0 + b.b1 * c1 + b.b2 * c2, ni = -(b.b1 * s1 + b.b2 * s2);
    const double dr = 1.0 + b.a1 * c1 + b.a2 * c2, di = -(b.a1 * s1 + b.a2 * s2);
    const double num = nr * nr + ni * ni, den = dr * dr + di * di;
    return 10.0 * std::log10(num / den);
}

void filterInPlace(std::vector<double>& samples, const Biquad& b) {
    double z1 = 0, z2 = 0;
    for (double& v : samples) {
        const double y = b.b0 * v + z1;
        z1 = b.b1 * v - b.a1 * y + z2;
        z2 = b.b2 * v - b.a2 * y;
        v = y;
    }
}

} // namespace q7
