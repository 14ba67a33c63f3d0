// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/calibration.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numeric>
#include <tuple>

namespace q7 {

namespace {

constexpr std::size_t kMaxCalibrationBytes = 8u << 20;
constexpr double kNominalUsbMicDbfsAt94 = -18.0; // the sensitivity Sens Factor corrects

std::optional<double> number(std::string_view s) {
    while (!s.empty() && (s.front() == '+' || std::isspace(static_cast<unsigned char>(s.front()))))
        s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The number after "key" and an '=' (case-insensitive key), e.g. "Sens Factor =-1.2dB".
std::optional<double> headerValue(std::string_view line, std::string_view key) {
    std::string lower(line);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const auto at = lower.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const auto eq = lower.find('=', at + key.size());
    if (eq == std::string::npos)
        return std::nullopt;
    // Only blanks may stand between the key and its '='.
    for (std::size_t i = at + key.size(); i < eq; ++i)
        if (!std::isspace(static_cast<unsigned char>(lower[i])))
            return std::nullopt;
    return number(std::string_view(line).substr(eq + 1));
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    auto sep = [](char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ';';
    };
    while (i < line.size()) {
        while (i < line.size() && sep(line[i]))
            ++i;
        std::size_t j = i;
        while (j < line.size() && !sep(line[j]))
            ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

double interpolate(const std::vector<double>& hz, const std::vector<double>& v, double f) {
    if (v.empty())
        return 0;
    if (f <= hz.front())
        return v.front();
    if (f >= hz.back())
        return v.back();
    const auto hi = std::size_t(std::upper_bound(hz.begin(), hz.end(), f) - hz.begin());
    const std::size_t lo = hi - 1;
    const double t = std::log(f / hz[lo]) / std::log(hz[hi] / hz[lo]);
    return v[lo] + t * (v[hi] - v[lo]);
}

} // namespace

double MicCalibration::dbAt(double f) const {
    return interpolate(hz, db, f);
}

double MicCalibration::phaseAt(double f) const {
    return phaseDeg.empty() ? 0.0 : interpolate(hz, phaseDeg, f);
}

MicCalibration parseMicCalibration(std::string_view text) {
    MicCalibration cal;
    std::optional<double> sensFactor, sens;
    bool allPhase = true;
    std::vector<std::tuple<double, double, double>> rows;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto v = headerValue(line, "sens factor"))
            sensFactor = v;
        if (auto v = headerValue(line, "sesns"))
            sens = v;
        else if (auto v2 = headerValue(line, "sens"); v2 && !headerValue(line, "sens factor"))
            sens = v2;
        const auto w = words(line);
        const auto f = w.size() >= 2 ? number(w[0]) : std::nullopt;
        const auto d = w.size() >= 2 ? number(w[1]) : std::nullopt;
        if (!f || !d || !(*f > 0) || *f > 1e6 || std::abs(*d) > 200) {
            const bool blank = w.empty();
            const bool comment = !blank && (w[0].front() == '*' || w[0].front() == '"' ||
                                            w[0].front() == '#' || !number(w[0]));
            if (!blank && !comment)
                ++cal.ignoredLines;
            continue;
        }
        const auto p = w.size() >= 3 ? number(w[2]) : std::nullopt;
        allPhase = allPhase && p.has_value();
        rows.emplace_back(*f, *d, p.value_or(0.0));
    }
    std::sort(rows.begin(), rows.end());
    for (const auto& [f, d, p] : rows) {
        if (!cal.hz.empty() && f <= cal.hz.back()) {
            ++cal.ignoredLines; // a repeated frequency: the first one stands
            continue;
        }
        cal.hz.push_back(f);
        cal.db.push_back(d);
        cal.phaseDeg.push_back(p);
    }
    if (!allPhase)
        cal.phaseDeg.clear();
    if (sens)
        cal.dbfsAt94 = sens;
    else if (sensFactor)
        cal.dbfsAt94 = kNominalUsbMicDbfsAt94 - *sensFactor;
    if (cal.hz.size() < 2)
        cal.fail({MeasureProblem::CalibrationEmpty});
    return cal;
}

MicCalibration readMicCalibration(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        MicCalibration cal;
        cal.fail({MeasureProblem::CalibrationUnreadable, 0, path});
        return cal;
    }
    std::string text(kMaxCalibrationBytes + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    if (text.size() > kMaxCalibrationBytes) {
        MicCalibration cal;
        cal.fail({MeasureProblem::CalibrationTooLarge, 0, path});
        return cal;
    }
    return parseMicCalibration(text);
}

void applyCalibration(FrequencyResponse& r, const MicCalibration& cal) {
    if (!cal.ok())
        return;
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        r.db[i] -= cal.dbAt(r.hz[i]);
        if (!cal.phaseDeg.empty() && i < r.phaseDeg.size())
            r.phaseDeg[i] = std::remainder(r.phaseDeg[i] - cal.phaseAt(r.hz[i]), 360.0);
    }
}

} // namespace q7
