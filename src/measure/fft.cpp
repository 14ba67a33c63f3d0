// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/fft.h"

#include <algorithm>
#include <fftw3.h>
#include <mutex>

namespace q7 {

namespace {

std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

} // namespace

std::size_t goodFftSize(std::size_t n) {
    if (n <= 1)
        return 1;
    for (std::size_t m = n;; ++m) {
        std::size_t r = m;
        for (std::size_t p : {2u, 3u, 5u})
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return m;
    }
}

RealFft::RealFft(std::size_t n) : n_(std::max<std::size_t>(n, 2)) {
    std::lock_guard lock(plannerMutex());
    real_ = fftw_alloc_real(n_);
    spectrum_ = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(bins()));
    auto* c = reinterpret_cast<fftw_complex*>(spectrum_);
    forwardPlan_ = fftw_plan_dft_r2c_1d(int(n_), real_, c, FFTW_ESTIMATE);
    inversePlan_ = fftw_plan_dft_c2r_1d(int(n_), c, real_, FFTW_ESTIMATE);
}

RealFft::~RealFft() {
    std::lock_guard lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(forwardPlan_));
    fftw_destroy_plan(static_cast<fftw_plan>(inversePlan_));
    fftw_free(real_);
    fftw_free(spectrum_);
}

template <class Sample>
void RealFft::transform(const Sample* in, std::size_t count, std::complex<double>* out) {
    count = std::min(count, n_);
    std::copy_n(in, count, real_);
    std::fill(real_ + count, real_ + n_, 0.0);
    fftw_execute(static_cast<fftw_plan>(forwardPlan_));
    std::copy_n(spectrum_, bins(), out);
}

void RealFft::forward(const float* in, std::size_t count, std::complex<double>* out) {
    transform(in, count, out);
}

void RealFft::forward(const double* in, std::size_t count, std::complex<double>* out) {
    transform(in, count, out);
}

void RealFft::inverse(const std::complex<double>* in, double* out) {
    std::copy_n(in, bins(), spectrum_);
    fftw_execute(static_cast<fftw_plan>(inversePlan_)); // c2r overwrites its input: ours
    const double scale = 1.0 / double(n_);
    for (std::size_t i = 0; i < n_; ++i)
        out[i] = real_[i] * scale;
}

std::vector<float> convolve(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.empty() || b.empty())
        return {};
    const std::size_t length = a.size() + b.size() - 1;
    RealFft fft(goodFftSize(length));
    std::vector<std::complex<double>> fa(fft.bins()), fb(fft.bins());
    fft.forward(a.data(), a.size(), fa.data());
    fft.forward(b.data(), b.size(), fb.data());
    for (std::size_t i = 0; i < fa.size(); ++i)
        fa[i] *= fb[i];
    std::vector<double> y(fft.size());
    fft.inverse(fa.data(), y.data());
    return std::vector<float>(y.begin(), y.begin() + std::ptrdiff_t(length));
}

} // namespace q7
