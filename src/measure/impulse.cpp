// SPDX-License-Identifier: GPL-3.0-or-later
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

namespace {

// The time-reversed sweep with its -6 dB per octave envelope, unscaled: the deconvolver's own
// correction sets its level.
std::vector<float> reversedWeighted(const std::vector<float>& x, const SweepSetup& s) {
    const double L = sweepRate(s);
    std::vector<float> inv(x.size());
    const double step = std::exp(-1.0 / s.sampleRate / L);
    double w = 1;
    for (std::size_t i = 0; i < x.size(); ++i, w *= step)
        inv[i] = float(double(x[x.size() - 1 - i]) * w);
    return inv;
}

// e^{j w k} for k = 0, 1, ...: a rotation, renormalised now and then.
class Rotation {
public:
    explicit Rotation(double w) : step_(std::polar(1.0, w)) {}
    std::complex<double> next() {
        const std::complex<double> v = z_;
        z_ *= step_;
        if (++n_ % 4096 == 0)
            z_ /= std::abs(z_);
        return v;
    }

private:
    std::complex<double> step_, z_{1.0, 0.0};
    std::size_t n_ = 0;
};

constexpr std::size_t kEdgeFft = 1 << 18; // the low edge's phase, on a coarser grid

} // namespace

Deconvolver::Deconvolver(const SweepSetup& sweep)
    : setup_(sweep), sweep_(exponentialSweep(sweep)), inverse_(reversedWeighted(sweep_, sweep)) {}

Deconvolver::~Deconvolver() = default;

void Deconvolver::prepareFor(std::size_t captureFrames) {
    const std::size_t length = std::max(captureFrames, sweep_.size()) + inverse_.size() - 1;
    const std::size_t size = goodFftSize(length);
    if (!fft_ || fft_->size() != size)
        prepare(size);
}

void Deconvolver::prepare(std::size_t size) {
    fft_ = std::make_unique<RealFft>(size);
    const RealFft& fft = *fft_;
    std::vector<std::complex<double>> x(fft.bins());
    filter_.assign(fft.bins(), {});
    fft_->forward(sweep_.data(), sweep_.size(), x.data());
    fft_->forward(inverse_.data(), inverse_.size(), filter_.data());
    // Regularised so that bands the sweep never reached stay near zero (relative to the
    // band's own level, which the unscaled inverse leaves open).
    double level = 0;
    int count = 0;
    const double binHz = setup_.sampleRate / double(fft.size());
    for (double f = setup_.startHz * 4; f <= sweepEndHz(setup_) / 2; f *= std::exp2(1.0 / 12)) {
        level += std::abs(x[std::size_t(f / binHz)] * filter_[std::size_t(f / binHz)]);
        ++count;
    }
    level = count ? level / count : 1.0;
    const double epsilon = 1e-4 * level * level;
    // The correction keeps the peak at lag size() - 1: that delay is taken out of p.
    Rotation turn(2 * std::numbers::pi * double(inverse_.size() - 1) / double(fft.size()));
    // |t| of zero phase is what is left: the band's edges. The low edge rings for a tenth of a
    // second, longer than the window before the peak may be: made minimum phase (folded real
    // cepstrum, on a coarser grid) it rings only after the peak, as a real high-pass would.
    const std::size_t lowBins = std::min(filter_.size(), std::size_t(1000.0 / binHz) + 1);
    std::vector<double> lowEdge(lowBins);
    for (std::size_t k = 0; k < filter_.size(); ++k) {
        const std::complex<double> p = x[k] * filter_[k] * turn.next();
        const double power = std::norm(p);
        filter_[k] *= std::conj(p) / (power + epsilon);
        if (k < lowBins)
            lowEdge[k] = std::log(std::max(power / (power + epsilon), 1e-9));
    }
    // Only the low edge: the high one rings for a fraction of a millisecond.
    std::vector<double> edgeLog(kEdgeFft / 2 + 1, 0.0);
    const double edgeBinHz = setup_.sampleRate / double(kEdgeFft);
    for (std::size_t j = 0; j < edgeLog.size(); ++j) {
        const double at = double(j) * edgeBinHz / binHz;
        if (at >= double(lowBins - 1))
            break;
        const std::size_t i = std::size_t(at);
        const double t = at - double(i);
        edgeLog[j] = lowEdge[i] * (1 - t) + lowEdge[i + 1] * t;
    }
    RealFft small(kEdgeFft);
    std::vector<std::complex<double>> c(edgeLog.begin(), edgeLog.end());
    std::vector<double> cep(kEdgeFft);
    small.inverse(c.data(), cep.data());
    for (std::size_t n = 1; n < kEdgeFft; ++n)
        cep[n] = n < kEdgeFft / 2 ? 2 * cep[n] : (n == kEdgeFft / 2 ? cep[n] : 0.0);
    small.forward(cep.data(), cep.size(), c.data());
    for (std::size_t k = 0; k < filter_.size(); ++k) {
        const double at = double(k) * binHz / edgeBinHz;
        const std::size_t i = std::min(std::size_t(at), c.size() - 2);
        const double t = at - double(i);
        filter_[k] *= std::polar(1.0, c[i].imag() * (1 - t) + c[i + 1].imag() * t);
    }
    edgePhase_.clear();
    for (double f = 1; f < setup_.sampleRate / 2; f *= std::exp2(1 / kEdgeStepsPerOctave)) {
        const double at = f / edgeBinHz;
        const std::size_t i = std::min(std::size_t(at), c.size() - 2);
        const double t = at - double(i);
        edgePhase_.push_back(float(c[i].imag() * (1 - t) + c[i + 1].imag() * t));
    }
}

ImpulseResponse Deconvolver::operator()(const std::vector<float>& capture) {
    ImpulseResponse ir;
    ir.sampleRate = setup_.sampleRate;
    ir.zero = inverse_.size() - 1;
    if (capture.empty())
        return ir;
    prepareFor(capture.size());
    const std::size_t size = fft_->size();
    spectrum_.resize(fft_->bins());
    fft_->forward(capture.data(), capture.size(), spectrum_.data());
    for (std::size_t k = 0; k < spectrum_.size(); ++k)
        spectrum_[k] *= filter_[k];
    out_.resize(size);
    fft_->inverse(spectrum_.data(), out_.data());
    const std::size_t n = capture.size() + inverse_.size() - 1;
    ir.samples.assign(out_.begin(), out_.begin() + std::ptrdiff_t(n));
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

constexpr int kSincHalfTaps = kResampleHalfTaps;

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
