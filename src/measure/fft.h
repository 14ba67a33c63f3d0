// SPDX-License-Identifier: GPL-3.0-or-later
// Real transforms and linear convolution over FFTW. Planning is serialised (FFTW's planner is not
// thread safe); executing a plan is, so measurements on several threads may share nothing else.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace q7 {

// The smallest size >= n whose only factors are 2, 3 and 5 (fast for FFTW).
std::size_t goodFftSize(std::size_t n);

// One real-to-complex size with its plans; n/2 + 1 bins.
class RealFft {
public:
    explicit RealFft(std::size_t n);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    std::size_t size() const { return n_; }
    std::size_t bins() const { return n_ / 2 + 1; }
    // in: up to n samples (the rest zero); out: bins() values.
    void forward(const float* in, std::size_t count, std::complex<double>* out);
    void forward(const double* in, std::size_t count, std::complex<double>* out);
    // in: bins() values; out: n samples, scaled by 1/n so that inverse(forward(x)) == x.
    void inverse(const std::complex<double>* in, double* out);

private:
    std::size_t n_;
    double* real_;
    std::complex<double>* spectrum_;
    void* forwardPlan_;
    void* inversePlan_;

    template <class Sample>
    void transform(const Sample* in, std::size_t count, std::complex<double>* out);
};

// Full linear convolution (a.size() + b.size() - 1 samples).
std::vector<float> convolve(const std::vector<float>& a, const std::vector<float>& b);

} // namespace q7
