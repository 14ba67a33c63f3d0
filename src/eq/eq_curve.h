// SPDX-License-Identifier: GPL-3.0-or-later
// The magnitude curves the EQ graphs draw, computed with the amplifier's own section designs.
#pragma once

#include "params/biquad.h"

#include <array>

namespace q7 {

inline constexpr int kCurvePoints = 512;
inline constexpr double kCurveLowHz = 18.0;
inline constexpr double kCurveHighHz = 23000.0;

using BandCurve = std::array<float, kCurvePoints>;

// The analysis frequency of point i for a plot w pixels wide (rounded to single precision).
float curveFrequency(int i, double plotWidth);

// Magnitude in dB of a section at f: the closed form in sin^2(w/2) the graph uses.
double sectionMagnitudeDb(const Biquad& b, double frequencyHz, double sampleRate = 48000.0);

// ComputeBandCurve of one record: 512 points in dB; a PEQ's point nearest its own frequency
// reads exactly its gain. Type 0 yields a flat curve.
void computeBandCurve(int type, double gainDb, double frequencyHz, double q, double plotWidth,
                      BandCurve& out);

// The point index a PEQ band's own frequency falls on.
int ownPointIndex(double frequencyHz, double plotWidth);

} // namespace q7
