// SPDX-License-Identifier: GPL-3.0-or-later
#include "eq/measurement.h"

#include "eq/eq_curve.h"
#include "params/biquad.h"
#include "params/dsp.h"
#include "params/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <numeric>

namespace q7 {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.front())) || s.front() == '"'))
        s.remove_prefix(1);
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '"'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string> splitOn(std::string_view s, char sep) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (true) {
        const auto j = s.find(sep, i);
        out.emplace_back(trim(s.substr(i, j == std::string_view::npos ? j : j - i)));
        if (j == std::string_view::npos)
            break;
        i = j + 1;
    }
    return out;
}

// Fields of one line: semicolons or tabs when present (a comma inside is then a decimal mark),
// else blanks (a trailing comma is a separator, "20,5" a decimal comma), else commas.
std::vector<std::string> fields(std::string_view line) {
    if (line.find(';') != std::string_view::npos)
        return splitOn(line, ';');
    if (line.find('\t') != std::string_view::npos)
        return splitOn(line, '\t');
    std::vector<std::string> out;
    for (std::string w : splitWords(line)) {
        while (!w.empty() && w.back() == ',')
            w.pop_back();
        if (!w.empty())
            out.push_back(w);
    }
    if (out.size() == 1)
        return splitOn(out[0], ',');
    return out;
}

bool namedAs(std::string_view name, std::string_view word) {
    std::string l(name);
    for (char& c : l)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!l.starts_with(word))
        return false;
    return l.size() == word.size() || !std::isalpha(static_cast<unsigned char>(l[word.size()]));
}

} // namespace

MeasurementRead parseMeasurement(std::string_view text) {
    MeasurementRead out;
    if (text.size() > kMeasurementMaxBytes) {
        out.error = {"文件太大", "the file is too large"};
        return out;
    }
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<std::pair<double, double>> points;
    std::vector<std::string> header;
    int column = 1;
    bool data = false;
    while (!text.empty()) {
        const auto nl = text.find_first_of("\r\n");
        const std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        const std::string_view t = trim(raw);
        if (t.empty() || t[0] == '*' || t[0] == '#' || t.starts_with("//"))
            continue;
        const std::vector<std::string> f = fields(t);
        const auto freq = f.empty() ? std::nullopt : parseFilterNumber(f[0], false);
        if (!freq) {
            if (!data && header.empty() && f.size() >= 2) {
                header = f;
                for (std::size_t i = 1; i < f.size(); ++i)
                    if (namedAs(f[i], "raw") || namedAs(f[i], "spl")) {
                        column = int(i);
                        break;
                    }
                out.column = f[std::size_t(column)];
            } else {
                ++out.ignoredLines;
            }
            continue;
        }
        if (int(f.size()) <= column) {
            ++out.ignoredLines;
            continue;
        }
        const auto value = parseFilterNumber(f[std::size_t(column)], false);
        // Levels beyond any loudspeaker's, and frequencies no one measures, are not data.
        if (!value || !(*freq > 0) || !std::isfinite(*freq) || *freq > kMeasurementMaxHz ||
            std::abs(*value) > kMeasurementMaxDb) {
            ++out.ignoredLines;
            continue;
        }
        data = true;
        if (points.size() >= kMeasurementMaxPoints) {
            out.error = {"测量点太多", "too many points"};
            return out;
        }
        points.emplace_back(*freq, *value);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Equal frequencies are averaged.
    for (std::size_t i = 0; i < points.size();) {
        std::size_t j = i;
        double sum = 0;
        while (j < points.size() && points[j].first == points[i].first)
            sum += points[j++].second;
        out.curve.hz.push_back(points[i].first);
        out.curve.db.push_back(sum / double(j - i));
        i = j;
    }
    if (out.curve.hz.size() < 2) {
        out.curve = {};
        out.error = {"文件中没有可用的频率响应数据", "the file holds no frequency response"};
    }
    return out;
}

MeasurementRead readMeasurementFile(const std::string& path) {
    MeasurementRead out;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out.error = {"无法打开文件", "cannot open the file"};
        return out;
    }
    std::string bytes;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.append(buf, std::size_t(in.gcount()));
        if (bytes.size() > kMeasurementMaxBytes) {
            out.error = {"文件太大", "the file is too large"};
            return out;
        }
    }
    if (in.bad()) {
        out.error = {"无法读取文件", "cannot read the file"};
        return out;
    }
    return parseMeasurement(bytes);
}

double curveAt(const ResponseCurve& c, double hz) {
    if (c.hz.empty())
        return 0.0;
    if (hz <= c.hz.front())
        return c.db.front();
    if (hz >= c.hz.back())
        return c.db.back();
    const auto it = std::upper_bound(c.hz.begin(), c.hz.end(), hz);
    const std::size_t j = std::size_t(it - c.hz.begin());
    const std::size_t i = j - 1;
    const double t = std::log(hz / c.hz[i]) / std::log(c.hz[j] / c.hz[i]);
    return c.db[i] + t * (c.db[j] - c.db[i]);
}

std::vector<double> sampleCurve(const ResponseCurve& c, const std::vector<double>& hz,
                                int perOctave) {
    std::vector<double> out;
    out.reserve(hz.size());
    const double half = std::exp2(0.5 / std::max(1, perOctave));
    for (double f : hz) {
        const auto lo = std::lower_bound(c.hz.begin(), c.hz.end(), f / half);
        const auto hi = std::lower_bound(c.hz.begin(), c.hz.end(), f * half);
        const auto n = hi - lo;
        if (n >= 2) {
            const auto first = c.db.begin() + (lo - c.hz.begin());
            out.push_back(std::accumulate(first, first + n, 0.0) / double(n));
        } else {
            out.push_back(curveAt(c, f));
        }
    }
    return out;
}

std::vector<double> targetOn(const Target& t, const std::vector<double>& hz) {
    std::vector<double> out(hz.size(), 0.0);
    switch (t.kind) {
    case Target::Kind::Flat:
        break;
    case Target::Kind::House: {
        const Biquad shelf =
            DesignBiquad(filter::LowShelf, t.bassRiseDb, t.cornerHz, 0.7071, 0.0, kEqSampleRate);
        for (std::size_t i = 0; i < hz.size(); ++i) {
            out[i] = sectionMagnitudeDb(shelf, hz[i], kEqSampleRate);
            if (hz[i] > t.tiltFromHz)
                out[i] += t.tiltDbPerOctave * std::log2(hz[i] / t.tiltFromHz);
            if (!std::isfinite(out[i]))
                out[i] = 0;
        }
        break;
    }
    case Target::Kind::Curve:
        out = sampleCurve(t.curve, hz);
        break;
    }
    return out;
}

ErrorStats errorStats(const std::vector<double>& m, const std::vector<double>& eq,
                      const std::vector<double>& target) {
    ErrorStats s;
    const std::size_t n = std::min({m.size(), eq.size(), target.size()});
    if (n == 0)
        return s;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += m[i] + eq[i] - target[i];
    s.offsetDb = sum / double(n);
    double sq = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double e = m[i] + eq[i] - target[i] - s.offsetDb;
        sq += e * e;
        s.maxAbsDb = std::max(s.maxAbsDb, std::abs(e));
    }
    s.rmsDb = std::sqrt(sq / double(n));
    s.points = int(n);
    return s;
}

} // namespace q7
