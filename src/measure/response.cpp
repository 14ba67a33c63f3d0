// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/response.h"

#include "measure/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace q7 {

namespace {

using Complex = std::complex<double>;

double raisedCosine(double u) { // 0 at u = 0, 1 at u = 1
    u = std::clamp(u, 0.0, 1.0);
    return 0.5 - 0.5 * std::cos(std::numbers::pi * u);
}

// The spectrum of ir windowed around peak, rotated so that the peak is time 0.
struct Spectrum {
    std::vector<Complex> bins;
    double binHz = 1;

    Complex at(double hz) const {
        const double k = hz / binHz;
        const std::size_t i = std::min(std::size_t(k), bins.size() - 2);
        const double t = k - double(i);
        return bins[i] * (1 - t) + bins[i + 1] * t;
    }
};

Spectrum windowedSpectrum(const ImpulseResponse& ir, double peak, double leftS, double rightS) {
    const double fs = ir.sampleRate;
    const long p = long(std::floor(peak));
    const double frac = peak - double(p);
    const long left = long(std::ceil(leftS * fs)), right = long(std::ceil(rightS * fs));
    const long rise = std::max<long>(left / 4, 1), fall = std::max<long>(right / 5, 1);
    const std::size_t n = goodFftSize(std::max<std::size_t>(std::size_t(left + right + 1), 65536));
    std::vector<double> buf(n, 0.0);
    for (long k = -left; k <= right; ++k) {
        const long i = p + k;
        if (i < 0 || i >= long(ir.samples.size()))
            continue;
        double w = 1;
        if (k < -left + rise)
            w = raisedCosine(double(k + left) / double(rise));
        else if (k > right - fall)
            w = raisedCosine(double(right - k) / double(fall));
        const std::size_t at = std::size_t((k + long(n)) % long(n));
        buf[at] = w * ir.samples[std::size_t(i)];
    }
    RealFft fft(n);
    Spectrum s;
    s.bins.resize(fft.bins());
    fft.forward(buf.data(), n, s.bins.data());
    s.binHz = fs / double(n);
    // The peak's fractional part: time 0 is the refined peak, not its sample.
    for (std::size_t k = 0; k < s.bins.size(); ++k)
        s.bins[k] *= std::polar(1.0, 2 * std::numbers::pi * double(k) / double(n) * frac);
    return s;
}

// Magnitude and phase at each f, averaged over the smoothing width (power, or the cube of the
// magnitude for the psychoacoustic kind); phase from the complex mean.
void smoothed(const Spectrum& s, const std::vector<double>& hz, const Smoothing& sm,
              std::vector<double>& db, std::vector<double>& phase) {
    const std::size_t nb = s.bins.size();
    const bool psy = sm.kind == Smoothing::Kind::Psychoacoustic;
    std::vector<double> prefixPower(nb + 1, 0.0);
    std::vector<Complex> prefixC(nb + 1, 0.0);
    for (std::size_t k = 0; k < nb; ++k) {
        const double m = std::abs(s.bins[k]);
        prefixPower[k + 1] = prefixPower[k] + (psy ? m * m * m : m * m);
        prefixC[k + 1] = prefixC[k] + s.bins[k];
    }
    db.resize(hz.size());
    phase.resize(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const double w = sm.widthOctaves(hz[i]);
        const double lo = hz[i] * std::pow(2.0, -w / 2) / s.binHz;
        const double hi = hz[i] * std::pow(2.0, w / 2) / s.binHz;
        const std::size_t a = std::size_t(std::ceil(lo)), b = std::size_t(std::floor(hi));
        Complex c;
        double level;
        if (w > 0 && b >= a + 2 && b < nb) {
            const double count = double(b - a + 1);
            const double mean = (prefixPower[b + 1] - prefixPower[a]) / count;
            level = psy ? std::pow(mean, 2.0 / 3.0) : mean; // back to power
            c = (prefixC[b + 1] - prefixC[a]) / count;
        } else {
            c = s.at(hz[i]);
            level = std::norm(c);
        }
        db[i] = 10 * std::log10(std::max(level, 1e-30));
        phase[i] = std::arg(c) * 180 / std::numbers::pi;
    }
}

} // namespace

std::optional<Smoothing> Smoothing::parse(const std::string& text) {
    if (text == "none" || text == "0")
        return Smoothing{Kind::None, 0};
    if (text == "variable" || text == "var")
        return Smoothing{Kind::Variable, 0};
    if (text == "psy" || text == "psychoacoustic")
        return Smoothing{Kind::Psychoacoustic, 0};
    for (int n : {1, 3, 6, 12, 24, 48})
        if (text == "1/" + std::to_string(n))
            return Smoothing{Kind::Octave, n};
    return std::nullopt;
}

std::string Smoothing::name() const {
    switch (kind) {
    case Kind::None:
        return "No smoothing";
    case Kind::Octave:
        return "1/" + std::to_string(fraction) + " octave smoothing";
    case Kind::Variable:
        return "Var. smoothing";
    case Kind::Psychoacoustic:
        return "Psy. smoothing";
    }
    return {};
}

double Smoothing::widthOctaves(double hz) const {
    // Between the two corner frequencies the width moves evenly over log frequency.
    auto between = [hz](double f0, double w0, double f1, double w1) {
        if (hz <= f0)
            return w0;
        if (hz >= f1)
            return w1;
        const double t = std::log(hz / f0) / std::log(f1 / f0);
        return w0 * std::pow(w1 / w0, t);
    };
    switch (kind) {
    case Kind::None:
        return 0;
    case Kind::Octave:
        return fraction > 0 ? 1.0 / fraction : 0;
    case Kind::Variable:
        return between(100, 1.0 / 48, 10000, 1.0 / 3);
    case Kind::Psychoacoustic:
        return between(100, 1.0 / 6, 1000, 1.0 / 3);
    }
    return 0;
}

std::vector<double> logFrequencies(double lowHz, double highHz, int pointsPerOctave) {
    std::vector<double> out;
    if (!(lowHz > 0) || !(highHz >= lowHz) || pointsPerOctave < 1)
        return out;
    for (int k = 0;; ++k) {
        const double f = lowHz * std::pow(2.0, double(k) / pointsPerOctave);
        if (f > highHz * (1 + 1e-9))
            break;
        out.push_back(f);
    }
    return out;
}

FrequencyResponse analyse(const ImpulseResponse& ir, double peak, const AnalysisOptions& o,
                          double maxLeftMs) {
    FrequencyResponse r;
    if (ir.samples.empty())
        return r;
    r.hz = logFrequencies(o.lowHz, std::min(o.highHz, 0.49 * ir.sampleRate), o.pointsPerOctave);
    if (r.hz.empty())
        return r;
    const double leftS = std::min(o.leftWindowMs, maxLeftMs) / 1000.0;
    const double rightS = o.rightWindowMs / 1000.0;
    // The deconvolution's own low-edge phase is not the system's.
    auto takeOutEdge = [&] {
        for (std::size_t i = 0; i < r.hz.size(); ++i)
            r.phaseDeg[i] = std::remainder(
                r.phaseDeg[i] - ir.edgePhaseAt(r.hz[i]) * 180 / std::numbers::pi, 360.0);
    };
    if (o.windowCycles <= 0) {
        smoothed(windowedSpectrum(ir, peak, leftS, rightS), r.hz, o.smoothing, r.db, r.phaseDeg);
        takeOutEdge();
        return r;
    }
    // Frequency-dependent window: responses with a ladder of right windows, one per octave,
    // each frequency taken between the two rungs around it (in dB, and in phase).
    std::vector<double> rungHz;
    for (double f = o.lowHz / 2; f < 2 * r.hz.back() || rungHz.size() < 2; f *= 2)
        rungHz.push_back(f);
    std::vector<std::vector<double>> rungDb(rungHz.size()), rungPhase(rungHz.size());
    for (std::size_t k = 0; k < rungHz.size(); ++k) {
        const double w = std::clamp(o.windowCycles / rungHz[k], 0.002, rightS);
        smoothed(windowedSpectrum(ir, peak, std::min(leftS, w), w), r.hz, o.smoothing, rungDb[k],
                 rungPhase[k]);
    }
    r.db.resize(r.hz.size());
    r.phaseDeg.resize(r.hz.size());
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        const double pos = std::log2(r.hz[i] / rungHz[0]);
        const std::size_t k = std::min(std::size_t(std::max(pos, 0.0)), rungHz.size() - 2);
        const double t = std::clamp(pos - double(k), 0.0, 1.0);
        r.db[i] = rungDb[k][i] * (1 - t) + rungDb[k + 1][i] * t;
        const Complex a = std::polar(1.0, rungPhase[k][i] * std::numbers::pi / 180);
        const Complex b = std::polar(1.0, rungPhase[k + 1][i] * std::numbers::pi / 180);
        r.phaseDeg[i] = std::arg(a * (1 - t) + b * t) * 180 / std::numbers::pi;
    }
    takeOutEdge();
    return r;
}

} // namespace q7
