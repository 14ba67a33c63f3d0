// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/biquad.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace q7;

namespace {

constexpr double fs = 48000.0;

double mag(const Biquad& b, double f) {
    return biquadMagnitudeDb(b, f, fs);
}

const double kProbe[] = {20, 63, 200, 1000, 3000, 9000, 17000, 23000};

} // namespace

TEST(DesignBiquad, PeqAtZeroGainIsFlat) {
    for (double f : {31.0, 1000.0, 16000.0})
        for (double q : {0.3, 1.41, 8.0}) {
            const Biquad b = DesignBiquad(1, 0.0, f, q, 0.0, fs);
            EXPECT_DOUBLE_EQ(b.b0, 1.0);
            EXPECT_DOUBLE_EQ(b.b1, b.a1);
            EXPECT_DOUBLE_EQ(b.b2, b.a2);
            for (double p : kProbe)
                EXPECT_NEAR(mag(b, p), 0.0, 1e-9);
        }
}

TEST(DesignBiquad, PeqAndShelvesReachTheirGain) {
    EXPECT_NEAR(mag(DesignBiquad(1, 9.0, 1000, 1.41, 0, fs), 1000), 9.0, 1e-9);
    EXPECT_NEAR(mag(DesignBiquad(1, -12.0, 250, 4.0, 0, fs), 250), -12.0, 1e-9);
    // Extra gain scales the numerator of a PEQ.
    EXPECT_NEAR(mag(DesignBiquad(1, 0.0, 1000, 1.41, 6.0, fs), 5000), 6.0, 1e-9);
    EXPECT_NEAR(mag(DesignBiquad(4, 6.0, 630, 0.707, 0, fs), 1.0), 6.0, 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(4, 6.0, 630, 0.707, 0, fs), 20000), 0.0, 0.05);
    EXPECT_NEAR(mag(DesignBiquad(5, -8.0, 2500, 0.707, 0, fs), 23999), -8.0, 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(5, -8.0, 2500, 0.707, 0, fs), 10), 0.0, 1e-3);
    // At the corner a shelf sits at half its gain.
    EXPECT_NEAR(mag(DesignBiquad(4, 10.0, 500, 0.707, 0, fs), 500), 5.0, 1e-6);
}

TEST(DesignBiquad, SecondOrderLowAndHighPassCarryG) {
    const Biquad lp = DesignBiquad(2, 0.0, 1000, 0.70710678, 0, fs);
    EXPECT_NEAR(mag(lp, 1.0), 0.0, 1e-6);
    EXPECT_NEAR(mag(lp, 1000), -3.0103, 1e-3) << "a Butterworth section is 3 dB down";
    EXPECT_DOUBLE_EQ(lp.b0 - lp.b1 + lp.b2, 0.0) << "zero at Nyquist";
    const Biquad lp6 = DesignBiquad(2, 6.0, 1000, 0.70710678, 0, fs);
    EXPECT_NEAR(mag(lp6, 1.0), 6.0, 1e-6);
    EXPECT_NEAR(mag(lp6, 100) - mag(lp, 100), 6.0, 1e-9);

    const Biquad hp = DesignBiquad(3, 0.0, 500, 0.707, 0, fs);
    EXPECT_NEAR(mag(hp, 23999.9), 0.0, 1e-4);
    EXPECT_DOUBLE_EQ(hp.b0 + hp.b1 + hp.b2, 0.0) << "zero at DC";
    EXPECT_NEAR(mag(DesignBiquad(3, -6.0, 500, 0.707, 0, fs), 23999.9), -6.0, 1e-4);
}

TEST(DesignBiquad, FixedQSectionsIgnoreQ) {
    const int types[] = {8, 9, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    for (int t : types) {
        const Biquad a = DesignBiquad(t, 0.0, 800, 0.3, 0, fs);
        const Biquad b = DesignBiquad(t, 0.0, 800, 9.0, 0, fs);
        EXPECT_EQ(a.b0, b.b0) << t;
        EXPECT_EQ(a.a1, b.a1) << t;
        EXPECT_EQ(a.a2, b.a2) << t;
    }
    // Equivalent Q = 1 / v: type 12 is Butterworth (-3 dB), type 16 Linkwitz-Riley (-6 dB),
    // type 8 a Bessel-like 1/sqrt(3).
    EXPECT_NEAR(mag(DesignBiquad(12, 0, 1000, 5, 0, fs), 1000), -3.0103, 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(17, 0, 1000, 5, 0, fs), 1000), -6.0206, 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(8, 0, 1000, 5, 0, fs), 1000), 20 * std::log10(1 / std::sqrt(3.0)),
                1e-3);
    EXPECT_NEAR(mag(DesignBiquad(18, 0, 1000, 5, 0, fs), 1000),
                20 * std::log10(1 / (2 * std::sin(M_PI / 8))), 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(9, 3.0, 100, 5, 0, fs), 20000), 3.0, 1e-3);
}

TEST(DesignBiquad, ChebyshevSections) {
    const Biquad lp = DesignBiquad(6, 0.0, 2000, 99, 0, fs);
    // DC gain is G * m = 1 / sqrt(1 + eps^2): the 0.1 dB ripple floor, whatever Q says.
    EXPECT_NEAR(mag(lp, 0.001), -0.1, 1e-3);
    EXPECT_NEAR(mag(DesignBiquad(6, 4.0, 2000, 0.2, 0, fs), 0.001), 3.9, 1e-3);
    EXPECT_NEAR(lp.b0 - lp.b1 + lp.b2, 0.0, 1e-15);
    EXPECT_LT(mag(lp, 8000), -20.0);
    EXPECT_NEAR(lp.b1, 2 * lp.b0, 1e-15);

    const Biquad hp = DesignBiquad(7, 0.0, 2000, 99, 0, fs);
    EXPECT_NEAR(mag(hp, 23999.999), -0.1, 1e-3);
    EXPECT_LT(mag(hp, 300), -20.0);
    EXPECT_NEAR(hp.b1, -2 * hp.b0, 1e-15);
}

TEST(DesignBiquad, FirstOrderSections) {
    for (int t : {10, 11}) {
        const Biquad b = DesignBiquad(t, 2.0, 1500, 3.0, 0, fs);
        EXPECT_EQ(b.b2, 0.0);
        EXPECT_EQ(b.a2, 0.0);
    }
    EXPECT_NEAR(mag(DesignBiquad(10, 2.0, 1500, 3, 0, fs), 0.01), 2.0, 1e-6);
    EXPECT_NEAR(mag(DesignBiquad(11, 2.0, 1500, 3, 0, fs), 23999.99), 2.0, 1e-6);
    EXPECT_NEAR(mag(DesignBiquad(10, 0.0, 1500, 3, 0, fs), 1500), -3.0103, 0.01);
}

TEST(DesignBiquad, OffAndUnknownTypesAreUnitAllPass) {
    const Biquad off = DesignBiquad(0, 7.0, 1000, 1.41, 0, fs);
    const Biquad unknown = DesignBiquad(30, 7.0, 1000, 1.41, 0, fs);
    EXPECT_EQ(off.b0, unknown.b0);
    EXPECT_EQ(off.b1, unknown.b1);
    EXPECT_EQ(off.a2, unknown.a2);
    for (int t : {0, 22, 30, 255, -4})
        for (double p : kProbe)
            EXPECT_NEAR(mag(DesignBiquad(t, 7.0, 1000, 1.41, 0, fs), p), 0.0, 1e-9) << t;
    // Extra gain on the all-pass is applied at half strength.
    EXPECT_NEAR(mag(DesignBiquad(0, 0.0, 1000, 1.41, 6.0, fs), 300), 3.0, 1e-9);
}

TEST(DesignBiquad, UnusableRecordsGiveAPassThroughNotNaN) {
    // An erased band record (all zero) or a zero Q would otherwise produce NaN coefficients.
    for (int t : {0, 1, 2, 4, 7}) {
        const Biquad b = DesignBiquad(t, 0.0, 0.0, 0.0, 0, fs);
        EXPECT_TRUE(std::isfinite(b.b0) && std::isfinite(b.a1) && std::isfinite(b.a2)) << t;
    }
    const Biquad z = DesignBiquad(1, 3.0, 1000, 0.0, 0, fs);
    EXPECT_EQ(z.b0, 1.0);
    EXPECT_EQ(z.a1, 0.0);
}
