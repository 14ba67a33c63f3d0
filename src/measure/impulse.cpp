#include "measure/impulse.h"

#include "measure/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace q7 {

ImpulseResponse deconvolve(const std::vector<float>& capture, const std::vector<float>& inverse,
                           double sampleRate) {
    ImpulseResponse ir;
    ir.sampleRate = sampleRate;
    ir.samples = convolve(capture, inverse);
    ir.zero = inverse.empty() ? 0 : inverse.size() - 1;
    return ir;
}

namespace {
constexpr double kEdgeStepsPerOctave = 96;
} // namespace

double ImpulseResponse::edgePhaseAt(double hz) const {
    if (edgePhase.size() < 2 || !(hz > 0))
        return 0;
    const double k = std::max(std::log2(hz) * kEdgeStepsPerOctave, 0.0);
    if (k >= double(edgePhase.size() - 1))
        return edgePhase.back();
    const std::size_t i = std::size_t(std::max(k, 0.0));
    const double t = k - double(i);
    return edgePhase[i] * (1 - t) + edgePhase[i + 1] * t;
}

Deconvolver::Deconvolver(const SweepSpec& sweep)
    : spec_(sweep), sweep_(exponentialSweep(sweep)), inverse_(inverseSweep(sweep)) {}

ImpulseResponse Deconvolver::operator()(const std::vector<float>& capture) {
    ImpulseResponse ir;
    ir.sampleRate = spec_.sampleRate;
    ir.zero = inverse_.size() - 1;
    if (capture.empty())
        return ir;
    const std::size_t length = std::max(capture.size(), sweep_.size()) + inverse_.size() - 1;
    RealFft fft(goodFftSize(length));
    if (fft.size() != size_) {
        std::vector<std::complex<double>> x(fft.bins());
        filter_.assign(fft.bins(), {});
        fft.forward(sweep_.data(), sweep_.size(), x.data());
        fft.forward(inverse_.data(), inverse_.size(), filter_.data());
        // Regularised so that bands the sweep never reached stay near zero.
        constexpr double kEpsilon = 1e-4;
        // The correction keeps the peak at lag size() - 1: that delay is taken out of p.
        const double w = 2 * std::numbers::pi * double(inverse_.size() - 1) / double(fft.size());
        std::vector<double> logMag(fft.bins());
        for (std::size_t k = 0; k < filter_.size(); ++k) {
            const std::complex<double> p = x[k] * filter_[k] * std::polar(1.0, w * double(k));
            const double t = std::norm(p) / (std::norm(p) + kEpsilon);
            filter_[k] *= std::conj(p) / (std::norm(p) + kEpsilon);
            // Only the low edge: the high one rings for a fraction of a millisecond.
            const bool low = double(k) * spec_.sampleRate / double(fft.size()) < 1000.0;
            logMag[k] = low ? std::log(std::max(t, 1e-9)) : 0.0;
        }
        // What is left is the band's edges, |t| of zero phase. The low edge rings for a tenth of
        // a second, longer than the window before the peak may be: made minimum phase (folded
        // real cepstrum) it rings only after the peak, as a real high-pass would.
        std::vector<std::complex<double>> c(logMag.begin(), logMag.end());
        std::vector<double> cep(fft.size());
        fft.inverse(c.data(), cep.data());
        for (std::size_t n = 1; n < fft.size(); ++n)
            cep[n] = n < (fft.size() + 1) / 2 ? 2 * cep[n] : (2 * n == fft.size() ? cep[n] : 0.0);
        fft.forward(cep.data(), cep.size(), c.data());
        for (std::size_t k = 0; k < filter_.size(); ++k)
            filter_[k] *= std::polar(1.0, c[k].imag());
        edgePhase_.clear();
        const double binHz = spec_.sampleRate / double(fft.size());
        for (double f = 1; f < spec_.sampleRate / 2; f *= std::exp2(1 / kEdgeStepsPerOctave)) {
            const double k = f / binHz;
            const std::size_t i = std::min(std::size_t(k), c.size() - 2);
            const double t = k - double(i);
            edgePhase_.push_back(float(c[i].imag() * (1 - t) + c[i + 1].imag() * t));
        }
        size_ = fft.size();
    }
    std::vector<std::complex<double>> y(fft.bins());
    fft.forward(capture.data(), capture.size(), y.data());
    for (std::size_t k = 0; k < y.size(); ++k)
        y[k] *= filter_[k];
    std::vector<double> out(fft.size());
    fft.inverse(y.data(), out.data());
    const std::size_t n = capture.size() + inverse_.size() - 1;
    ir.samples.assign(out.begin(), out.begin() + std::ptrdiff_t(n));
    ir.edgePhase = edgePhase_;
    return ir;
}

std::optional<double> peakIndex(const std::vector<float>& x, std::size_t from, std::size_t to) {
    to = std::min(to, x.size());
    if (from >= to)
        return std::nullopt;
    std::size_t best = from;
    float bestAbs = -1;
    for (std::size_t i = from; i < to; ++i) {
        const float a = std::abs(x[i]);
        if (a > bestAbs) {
            bestAbs = a;
            best = i;
        }
    }
    double at = double(best);
    if (best > 0 && best + 1 < x.size()) {
        const double ym = std::abs(x[best - 1]), y0 = bestAbs, yp = std::abs(x[best + 1]);
        const double d = ym - 2 * y0 + yp;
        if (d < 0)
            at += std::clamp(0.5 * (ym - yp) / d, -0.5, 0.5);
    }
    return at;
}

namespace {

constexpr int kSincHalfTaps = 32;

// Blackman-Harris window over [-1, 1].
double window(double u) {
    if (std::abs(u) >= 1)
        return 0;
    const double p = std::numbers::pi * (u + 1); // 0..2π
    return 0.35875 - 0.48829 * std::cos(p) + 0.14128 * std::cos(2 * p) - 0.01168 * std::cos(3 * p);
}

double sinc(double x) {
    if (std::abs(x) < 1e-12)
        return 1;
    return std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

} // namespace

std::vector<float> resample(const std::vector<float>& x, double ratio, double start,
                            std::size_t frames) {
    if (x.empty() || !(ratio > 0))
        return {};
    const double reach = (double(x.size() - 1) - start) / ratio;
    const std::size_t n = frames ? frames : reach < 0 ? 0 : std::size_t(reach) + 1;
    std::vector<float> y(n);
    // Going down in rate, the kernel narrows its band so that nothing folds back.
    const double cutoff = std::min(1.0, 1.0 / ratio);
    const int half = int(std::ceil(kSincHalfTaps / cutoff));
    // Phases of the kernel are tabulated, so the cost is one table read per tap.
    constexpr int kPhases = 512;
    std::vector<float> table(std::size_t((2 * half + 1) * (kPhases + 1)));
    for (int p = 0; p <= kPhases; ++p) {
        const double frac = double(p) / kPhases;
        for (int k = -half; k <= half; ++k) {
            const double d = double(k) - frac;
            table[std::size_t(p * (2 * half + 1) + k + half)] =
                float(cutoff * sinc(cutoff * d) * window(d / (half + 1)));
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double at = start + double(i) * ratio;
        const double base = std::floor(at);
        const int p = int(std::lround((at - base) * kPhases));
        const long centre = long(base);
        const float* row = &table[std::size_t(p * (2 * half + 1))];
        double acc = 0;
        const long lo = std::max<long>(centre - half, 0);
        const long hi = std::min<long>(centre + half, long(x.size()) - 1);
        for (long j = lo; j <= hi; ++j)
            acc += double(row[j - centre + half]) * x[std::size_t(j)];
        y[i] = float(acc);
    }
    return y;
}

std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel) {
    if (channels <= 0 || channel < 0 || channel >= channels)
        return {};
    std::vector<float> out(interleaved.size() / std::size_t(channels));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = interleaved[i * std::size_t(channels) + std::size_t(channel)];
    return out;
}

} // namespace q7
