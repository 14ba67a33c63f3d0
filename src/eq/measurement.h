// SPDX-License-Identifier: GPL-3.0-or-later
// Frequency responses read from measurement programs (REW's text export, FRD, CSV with a header
// row), targets to equalise towards, and the one error measure the graph, the fit and the
// command line report.
#pragma once

#include "eq/filter_text.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

// Points sorted by frequency, strictly increasing, every value finite.
struct ResponseCurve {
    std::vector<double> hz, db;
    bool empty() const { return hz.empty(); }
};

inline constexpr std::size_t kMeasurementMaxBytes = 64u << 20;
inline constexpr std::size_t kMeasurementMaxPoints = 2'000'000;
inline constexpr double kMeasurementMaxDb = 500.0;
inline constexpr double kMeasurementMaxHz = 1e6;

struct MeasurementRead {
    ResponseCurve curve;
    std::string column; // the column taken from a CSV with a header, empty otherwise
    int ignoredLines = 0;
    Note error; // set when no curve could be read
    bool ok() const { return curve.hz.size() >= 2; }
};

MeasurementRead parseMeasurement(std::string_view text);
MeasurementRead readMeasurementFile(const std::string& path);

// The curve at f: interpolated linearly over log-frequency, held at its ends.
double curveAt(const ResponseCurve& c, double hz);
// The curve on a grid of frequencies: where the curve is denser than the grid, the mean of its
// points within half a grid step either side (so raw, unsmoothed exports do not alias);
// otherwise interpolated.
std::vector<double> sampleCurve(const ResponseCurve& c, const std::vector<double>& hz,
                                int perOctave = 48);

struct Target {
    enum class Kind { Flat, House, Curve } kind = Kind::Flat;
    // House curve: a rise of bassRiseDb below cornerHz, shaped as a low shelf, and a tilt of
    // tiltDbPerOctave above tiltFromHz.
    double bassRiseDb = 6.0, cornerHz = 120.0, tiltDbPerOctave = -0.5, tiltFromHz = 1000.0;
    ResponseCurve curve;
};

std::vector<double> targetOn(const Target& t, const std::vector<double>& hz);

struct ErrorStats {
    double rmsDb = 0, maxAbsDb = 0;
    double offsetDb = 0; // the level c taken out
    int points = 0;
};

// e(f) = measurement + eq − target − c over the points given, c the constant that minimises the
// RMS.
ErrorStats errorStats(const std::vector<double>& measurement, const std::vector<double>& eq,
                      const std::vector<double>& target);

} // namespace q7
