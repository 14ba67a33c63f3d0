// SPDX-License-Identifier: GPL-3.0-or-later
// Measured-looking responses for the fit's tests and benchmarks and the screenshots' sample
// measurement, from physical models rather than the amplifier's own sections, so a fit cannot
// match them exactly: room modes as resonances, boundary reflections as comb dips, a port
// roll-off, measurement noise; and smooth, headphone-like curves made of broad bumps and a tilt.
#pragma once

#include "eq/measurement.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace q7::synthetic {

// A room mode at f0 with quality q and gainDb at its peak, added to the direct sound, at f:
// |1 + k s / (s^2 + s / q + 1)|.
inline double modeDb(double f, double f0, double q, double gainDb) {
    const std::complex<double> s(0, f / f0);
    const double k = (std::pow(10.0, gainDb / 20) - 1) / q;
    return 20 * std::log10(std::abs(1.0 + k * s / (s * s + s / q + 1.0)));
}

// A reflection of relative level r arriving tau seconds after the direct sound, at f.
inline double reflectionDb(double f, double r, double tau) {
    return 20 * std::log10(std::abs(1.0 + std::polar(r, -2 * std::numbers::pi * f * tau)));
}

// A port's fourth-order roll-off below cornerHz, at f.
inline double rollOffDb(double f, double cornerHz) {
    return -10 * std::log10(1 + std::pow(cornerHz / f, 4));
}

// A room seen from 10 Hz to 1 kHz at 1/96 octave, in dB SPL around 85.
inline ResponseCurve room(unsigned seed, double noiseDb = 0.5) {
    std::mt19937 rng(seed);
    auto uni = [&](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng);
    };
    std::normal_distribution<double> noise(0.0, noiseDb);
    struct Mode {
        double f, q, gainDb;
    };
    std::vector<Mode> modes;
    const int n = 3 + int(rng() % 3);
    for (int i = 0; i < n; ++i)
        modes.push_back({std::exp(uni(std::log(30.0), std::log(300.0))), uni(3, 12), uni(3, 10)});
    const double tau = uni(2.5e-3, 6e-3); // reflection delay: first dip at 1 / (2 tau)
    const double refl = uni(0.3, 0.55);
    const double rollOff = uni(22, 38);
    ResponseCurve c;
    for (double f = 10; f <= 1000; f *= std::exp2(1.0 / 96)) {
        double db = 85.0;
        for (const Mode& m : modes)
            db += modeDb(f, m.f, m.q, m.gainDb);
        db += reflectionDb(f, refl, tau);
        db += rollOffDb(f, rollOff);
        db += noise(rng);
        c.hz.push_back(f);
        c.db.push_back(db);
    }
    return c;
}

// A smooth curve from 10 Hz to 20 kHz at 1/48 octave.
inline ResponseCurve smooth(unsigned seed) {
    std::mt19937 rng(seed);
    auto uni = [&](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng);
    };
    struct Bump {
        double f, widthOct, gainDb;
    };
    std::vector<Bump> bumps = {{uni(40, 120), uni(1.5, 3), uni(-6, 6)}};
    for (int i = 0; i < 4; ++i)
        bumps.push_back(
            {std::exp(uni(std::log(800.0), std::log(9000.0))), uni(0.3, 1.2), uni(-7, 7)});
    const double tilt = uni(-1.0, 1.0);
    ResponseCurve c;
    for (double f = 10; f <= 20000; f *= std::exp2(1.0 / 48)) {
        double db = 100.0 + tilt * std::log2(f / 1000);
        for (const Bump& b : bumps) {
            const double x = std::log2(f / b.f) / b.widthOct;
            db += b.gainDb * std::exp(-x * x / 2);
        }
        c.hz.push_back(f);
        c.db.push_back(db);
    }
    return c;
}

} // namespace q7::synthetic
