// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/average.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace q7 {

std::optional<AverageKind> parseAverageKind(const std::string& text) {
    if (text == "power" || text == "rms")
        return AverageKind::Power;
    if (text == "db")
        return AverageKind::Db;
    if (text == "vector")
        return AverageKind::Vector;
    return std::nullopt;
}

const char* averageKindName(AverageKind k) {
    switch (k) {
    case AverageKind::Power:
        return "power";
    case AverageKind::Db:
        return "db";
    case AverageKind::Vector:
        return "vector";
    }
    return "";
}

AveragedResponse averageResponses(const std::vector<FrequencyResponse>& rs, AverageKind kind,
                                  std::vector<std::string> positions) {
    AveragedResponse out;
    if (rs.empty())
        return out;
    const std::size_t n = rs.front().hz.size();
    for (const FrequencyResponse& r : rs)
        if (r.hz.size() != n || r.db.size() != n || r.phaseDeg.size() != n ||
            !std::equal(r.hz.begin(), r.hz.end(), rs.front().hz.begin()))
            return out;
    for (std::size_t i = positions.size(); i < rs.size(); ++i)
        positions.push_back("position " + std::to_string(i + 1));
    positions.resize(rs.size());
    out.positions = std::move(positions);
    out.mean.hz = rs.front().hz;
    out.mean.db.assign(n, 0.0);
    out.mean.phaseDeg.assign(n, 0.0);
    out.spreadDb.assign(n, 0.0);
    const double count = double(rs.size());
    constexpr double kDeg = std::numbers::pi / 180;
    for (std::size_t i = 0; i < n; ++i) {
        double lo = rs.front().db[i], hi = lo, power = 0, dbSum = 0;
        std::complex<double> vec, unit;
        for (const FrequencyResponse& r : rs) {
            lo = std::min(lo, r.db[i]);
            hi = std::max(hi, r.db[i]);
            const double mag = std::pow(10.0, r.db[i] / 20);
            power += mag * mag;
            dbSum += r.db[i];
            vec += std::polar(mag, r.phaseDeg[i] * kDeg);
            unit += std::polar(1.0, r.phaseDeg[i] * kDeg);
        }
        out.spreadDb[i] = hi - lo;
        switch (kind) {
        case AverageKind::Power:
            out.mean.db[i] = 10 * std::log10(power / count);
            break;
        case AverageKind::Db:
            out.mean.db[i] = dbSum / count;
            break;
        case AverageKind::Vector:
            out.mean.db[i] = 20 * std::log10(std::max(std::abs(vec) / count, 1e-15));
            break;
        }
        // The phase shown is the complex mean's, whatever the magnitude's average.
        out.mean.phaseDeg[i] = std::arg(kind == AverageKind::Vector ? vec : unit) / kDeg;
    }
    return out;
}

} // namespace q7
