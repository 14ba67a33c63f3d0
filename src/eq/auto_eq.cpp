// SPDX-License-Identifier: GPL-3.0-or-later
#include "eq/auto_eq.h"

#include "params/biquad.h"
#include "params/dsp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>

namespace q7 {

namespace {

// A new band is tried at this many places: the first choice alone often leads the fit into a
// worse end (two bands on one feature, one left on a narrow peak).
constexpr std::size_t kSeedCandidates = 3;

// Per point and dB squared of band gain.
constexpr double kGainPenalty = 2e-4;

// What the fit works on: a band as (type, log f, gain, log Q).
struct Param {
    int type = filter::Peq;
    double lf = 0, g = 0, lq = 0;
};

struct Bounds {
    double lfMin, lfMax, gMin, gMax;
    double lqMin(int type) const { return std::log(type == filter::Peq ? 0.2 : 0.4); }
    double lqMax(int type) const { return std::log(type == filter::Peq ? 16.0 : 2.0); }
};

void clampParam(Param& p, const Bounds& b) {
    p.lf = std::clamp(p.lf, b.lfMin, b.lfMax);
    p.g = std::clamp(p.g, b.gMin, b.gMax);
    p.lq = std::clamp(p.lq, b.lqMin(p.type), b.lqMax(p.type));
}

// |H|^2 of a section as numerator / denominator polynomials in p = sin^2(pi f / fs).
struct Poly {
    double nb, n1, n2, da, d1, d2;
    explicit Poly(const Biquad& b)
        : nb((b.b0 + b.b1 + b.b2) * (b.b0 + b.b1 + b.b2)),
          n1(4.0 * (4.0 * b.b0 * b.b2 + b.b0 * b.b1 + b.b1 * b.b2)), n2(16.0 * b.b0 * b.b2),
          da((1.0 + b.a1 + b.a2) * (1.0 + b.a1 + b.a2)),
          d1(4.0 * (4.0 * b.a2 + b.a1 + b.a1 * b.a2)), d2(16.0 * b.a2) {}
    double num(double p) const { return nb - n1 * p + n2 * p * p; }
    double den(double p) const { return da - d1 * p + d2 * p * p; }
};

constexpr double kDbPerNeper = 10.0 / std::numbers::ln10;

// The closed form of the graph on precomputed sin^2(pi f / fs).
void sectionDb(const Biquad& b, const std::vector<double>& phi, double* out) {
    const Poly q(b);
    for (std::size_t i = 0; i < phi.size(); ++i) {
        const double p = phi[i];
        const double v = kDbPerNeper * std::log(q.num(p) / q.den(p));
        out[i] = std::isfinite(v) ? v : -120.0;
    }
}

Biquad paramBiquad(const Param& p) {
    return DesignBiquad(p.type, p.g, std::exp(p.lf), std::exp(p.lq), 0.0, kEqSampleRate);
}

void paramDb(const Param& p, const std::vector<double>& phi, double* out) {
    sectionDb(paramBiquad(p), phi, out);
}

void recordDb(const BandRecord& r, const std::vector<double>& phi, double* out) {
    const Biquad b =
        DesignBiquad(r.type, recordGainDb(r), r.frequency, recordQ(r), 0.0, kEqSampleRate);
    sectionDb(b, phi, out);
}

// Four running sums, so that the products pipeline.
double dot(const double* x, const double* y, std::size_t n) {
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += x[i] * y[i];
        s1 += x[i + 1] * y[i + 1];
        s2 += x[i + 2] * y[i + 2];
        s3 += x[i + 3] * y[i + 3];
    }
    for (; i < n; ++i)
        s0 += x[i] * y[i];
    return (s0 + s1) + (s2 + s3);
}

// Solves A x = y for a symmetric positive definite A (n x n, row-major) by Cholesky; false when
// it is not positive definite.
bool solveSpd(std::vector<double> a, std::vector<double>& y, int n) {
    for (int j = 0; j < n; ++j) {
        double d = a[std::size_t(j * n + j)];
        for (int k = 0; k < j; ++k)
            d -= a[std::size_t(j * n + k)] * a[std::size_t(j * n + k)];
        if (!(d > 0))
            return false;
        d = std::sqrt(d);
        a[std::size_t(j * n + j)] = d;
        for (int i = j + 1; i < n; ++i) {
            double s = a[std::size_t(i * n + j)];
            for (int k = 0; k < j; ++k)
                s -= a[std::size_t(i * n + k)] * a[std::size_t(j * n + k)];
            a[std::size_t(i * n + j)] = s / d;
        }
    }
    for (int i = 0; i < n; ++i) {
        double s = y[std::size_t(i)];
        for (int k = 0; k < i; ++k)
            s -= a[std::size_t(i * n + k)] * y[std::size_t(k)];
        y[std::size_t(i)] = s / a[std::size_t(i * n + i)];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = y[std::size_t(i)];
        for (int k = i + 1; k < n; ++k)
            s -= a[std::size_t(k * n + i)] * y[std::size_t(k)];
        y[std::size_t(i)] = s / a[std::size_t(i * n + i)];
    }
    return true;
}

// What the fitted bands together may do at the points of the guard grid: stay within
// [lower, upper] dB. Outside the fit range that is a narrow window around 0 dB (nothing changes
// there); everywhere the sum stays below the boost limit.
struct Limits {
    std::vector<double> hz, lower, upper;
};

// A violated limit costs this much per dB, squared: far above what the fit gains by it. The
// search runs on the first (it may lean on a limit a little to find its way), the set found is
// then refined on the second.
constexpr double kLimitWeight = 30.0;
constexpr double kStrictLimitWeight = 100.0;

// Random moves of one band tried from the best set found (fixed seed: the same input gives the
// same fit); a few bands' problem is small and takes more.
constexpr int kHops = 30, kHopsFew = 60;
constexpr int kPolishBandsMax = 12;
// A few bands' problem is searched well by the random moves alone.
constexpr int kPruneFromBands = 4;

class Fitter {
public:
    Fitter(std::vector<double> hz, std::vector<double> desired, Bounds b, Limits limits)
        : hz_(std::move(hz)), d_(std::move(desired)), b_(b), lim_(std::move(limits)),
          n_(hz_.size()), nc_(lim_.hz.size()), lambda_(kGainPenalty * double(hz_.size())) {
        phi_.resize(n_ + nc_);
        for (std::size_t i = 0; i < n_ + nc_; ++i) {
            const double f = i < n_ ? hz_[i] : lim_.hz[i - n_];
            const double s = std::sin(std::numbers::pi * f / kEqSampleRate);
            phi_[i] = s * s;
        }
    }

    // sin^2 over the fit points, then the guard points.
    const std::vector<double>& phi() const { return phi_; }
    std::size_t points() const { return n_; }
    std::size_t guards() const { return nc_; }
    const Limits& limits() const { return lim_; }

    // The bands' curves summed over fit and guard points.
    std::vector<double> sum(const std::vector<Param>& ps) const {
        std::vector<double> s(n_ + nc_, 0.0), one(n_ + nc_);
        for (const Param& p : ps) {
            paramDb(p, phi_, one.data());
            for (std::size_t i = 0; i < s.size(); ++i)
                s[i] += one[i];
        }
        return s;
    }

    // The fit points' residual (their sum minus the desired EQ), then one row per guard point:
    // how far, weighted, the sum lies beyond its limits.
    std::vector<double> residualOf(const std::vector<double>& s) const {
        std::vector<double> r(n_ + nc_);
        for (std::size_t i = 0; i < n_; ++i)
            r[i] = s[i] - d_[i];
        for (std::size_t c = 0; c < nc_; ++c)
            r[n_ + c] = w_ * excess(s[n_ + c], c);
        return r;
    }
    std::vector<double> residual(const std::vector<Param>& ps) const { return residualOf(sum(ps)); }

    double excess(double v, std::size_t c) const {
        if (v > lim_.upper[c])
            return v - lim_.upper[c];
        if (v < lim_.lower[c])
            return v - lim_.lower[c];
        return 0.0;
    }

    // The level does not count on the fit points; the guard rows count as they are.
    double costOfResidual(const std::vector<double>& r) const {
        double mean = 0;
        for (std::size_t i = 0; i < n_; ++i)
            mean += r[i];
        mean /= double(n_);
        double c = 0;
        for (std::size_t i = 0; i < n_; ++i)
            c += (r[i] - mean) * (r[i] - mean);
        for (std::size_t i = n_; i < r.size(); ++i)
            c += r[i] * r[i];
        return c;
    }

    double cost(const std::vector<Param>& ps) const {
        return costOfResidual(residual(ps)) + penalty(ps);
    }

    // Large opposing gains that nearly cancel buy little and sound worse: each dB of gain costs
    // a little, so of two equally good fits the gentler one wins.
    double penalty(const std::vector<Param>& ps) const {
        double s = 0;
        for (const Param& p : ps)
            s += p.g * p.g;
        return lambda_ * s;
    }
    double gainPenalty() const { return lambda_; }

    // Levenberg-Marquardt over the parameters of the bands in `active`, the others held.
    double refine(std::vector<Param>& ps, const std::vector<int>& active, int iterations) const {
        const int m = int(active.size()) * 3;
        const std::size_t rows = n_ + nc_;
        std::vector<double> s = sum(ps);
        std::vector<double> r = residualOf(s);
        double c = costOfResidual(r) + penalty(ps);
        if (m == 0)
            return c;
        // The held bands' sum, so that a trial evaluates only the bands that move.
        std::vector<double> held(rows, 0.0), one(rows);
        for (std::size_t j = 0; j < ps.size(); ++j)
            if (std::find(active.begin(), active.end(), int(j)) == active.end()) {
                paramDb(ps[j], phi_, one.data());
                for (std::size_t i = 0; i < rows; ++i)
                    held[i] += one[i];
            }
        double lambda = 1e-2;
        std::vector<double> jac(std::size_t(m) * rows), base(rows), moved(rows);
        for (int it = 0; it < iterations; ++it) {
            // Forward differences; fit columns centred (the level does not count), guard rows
            // only where a limit is crossed.
            // The difference of the logs taken to first order: the polynomials' change over
            // their values, which needs no logarithm per point.
            for (int a = 0; a < int(active.size()); ++a) {
                const Param& p = ps[std::size_t(active[std::size_t(a)])];
                const Poly at(paramBiquad(p));
                for (std::size_t i = 0; i < rows; ++i) {
                    base[i] = 1.0 / at.num(phi_[i]);
                    moved[i] = 1.0 / at.den(phi_[i]);
                }
                for (int k = 0; k < 3; ++k) {
                    Param q = p;
                    const double h = 1e-6;
                    (k == 0 ? q.lf : k == 1 ? q.g : q.lq) += h;
                    const Poly to(paramBiquad(q));
                    const double dnb = to.nb - at.nb, dn1 = to.n1 - at.n1, dn2 = to.n2 - at.n2;
                    const double dda = to.da - at.da, dd1 = to.d1 - at.d1, dd2 = to.d2 - at.d2;
                    double* col = jac.data() + std::size_t(a * 3 + k) * rows;
                    for (std::size_t i = 0; i < rows; ++i) {
                        const double x = phi_[i];
                        const double dn = dnb - dn1 * x + dn2 * x * x;
                        const double dd = dda - dd1 * x + dd2 * x * x;
                        const double v = kDbPerNeper * (dn * base[i] - dd * moved[i]) / h;
                        col[i] = std::isfinite(v) ? v : 0.0;
                    }
                    double mean = 0;
                    for (std::size_t i = 0; i < n_; ++i)
                        mean += col[i];
                    mean /= double(n_);
                    for (std::size_t i = 0; i < n_; ++i)
                        col[i] -= mean;
                    for (std::size_t i = n_; i < rows; ++i)
                        col[i] = r[i] != 0.0 ? w_ * col[i] : 0.0;
                }
            }
            double rm = 0;
            for (std::size_t i = 0; i < n_; ++i)
                rm += r[i];
            rm /= double(n_);
            std::vector<double> jtj(static_cast<std::size_t>(m * m)),
                jtr(static_cast<std::size_t>(m));
            // Guard rows count only where a limit is crossed (elsewhere their columns are 0).
            std::vector<std::size_t> crossed;
            for (std::size_t i = n_; i < rows; ++i)
                if (r[i] != 0.0)
                    crossed.push_back(i);
            for (int u = 0; u < m; ++u) {
                const double* cu = jac.data() + std::size_t(u) * rows;
                double sr = 0;
                for (std::size_t i = 0; i < n_; ++i)
                    sr += cu[i] * (r[i] - rm);
                for (std::size_t i : crossed)
                    sr += cu[i] * r[i];
                if (u % 3 == 1)
                    sr += lambda_ * ps[std::size_t(active[std::size_t(u / 3)])].g;
                jtr[std::size_t(u)] = sr;
                for (int v = 0; v <= u; ++v) {
                    const double* cv = jac.data() + std::size_t(v) * rows;
                    double t = dot(cu, cv, n_);
                    for (std::size_t i : crossed)
                        t += cu[i] * cv[i];
                    jtj[std::size_t(u * m + v)] = jtj[std::size_t(v * m + u)] = t;
                }
                if (u % 3 == 1)
                    jtj[std::size_t(u * m + u)] += lambda_;
            }
            bool improved = false;
            for (int tries = 0; tries < 6 && !improved; ++tries) {
                std::vector<double> a = jtj;
                for (int u = 0; u < m; ++u)
                    a[std::size_t(u * m + u)] += lambda * (jtj[std::size_t(u * m + u)] + 1e-9);
                std::vector<double> step(static_cast<std::size_t>(m));
                for (int u = 0; u < m; ++u)
                    step[std::size_t(u)] = -jtr[std::size_t(u)];
                if (!solveSpd(a, step, m)) {
                    lambda *= 10;
                    continue;
                }
                std::vector<Param> trial = ps;
                for (int k = 0; k < int(active.size()); ++k) {
                    Param& p = trial[std::size_t(active[std::size_t(k)])];
                    // Keep a step within about an octave, 6 dB and a factor of e in Q.
                    p.lf += std::clamp(step[std::size_t(3 * k)], -0.7, 0.7);
                    p.g += std::clamp(step[std::size_t(3 * k + 1)], -6.0, 6.0);
                    p.lq += std::clamp(step[std::size_t(3 * k + 2)], -1.0, 1.0);
                    clampParam(p, b_);
                }
                std::vector<double> ts = held;
                for (int a : active) {
                    paramDb(trial[std::size_t(a)], phi_, one.data());
                    for (std::size_t i = 0; i < rows; ++i)
                        ts[i] += one[i];
                }
                std::vector<double> tr = residualOf(ts);
                const double tc = costOfResidual(tr) + penalty(trial);
                if (tc < c) {
                    const bool tiny = c - tc < 1e-9 * c + 1e-12;
                    ps = std::move(trial);
                    r = std::move(tr);
                    c = tc;
                    lambda = std::max(lambda / 3, 1e-7);
                    improved = true;
                    if (tiny)
                        return c;
                } else {
                    lambda *= 4;
                }
            }
            if (!improved)
                break;
        }
        return c;
    }

    // New peaking bands where the residual strays furthest from its mean: on the stretches of
    // one sign holding the most squared error (a broad deviation counts for more than a narrow
    // peak of the same height), then at the highest points; at most `count`, best first.
    std::vector<Param> seeds(const std::vector<Param>& ps, bool cutOnly, std::size_t count) const {
        std::vector<double> r = residual(ps);
        r.resize(n_);
        double mean = 0;
        for (double v : r)
            mean += v;
        mean /= double(n_);
        for (double& v : r)
            v -= mean;
        // Smoothed over 1/12 octave so that one noisy point does not pull a band.
        std::vector<double> s(n_);
        for (std::size_t i = 0; i < n_; ++i) {
            const std::size_t lo = i >= 2 ? i - 2 : 0, hi = std::min(n_ - 1, i + 2);
            double sum = 0;
            for (std::size_t k = lo; k <= hi; ++k)
                sum += r[k];
            s[i] = sum / double(hi - lo + 1);
        }
        struct Stretch {
            double energy, top;
            std::size_t at;
        };
        std::vector<Stretch> stretches;
        for (std::size_t a = 0; a < n_;) {
            std::size_t e = a;
            Stretch st{0, 0, a};
            while (e < n_ && (s[e] >= 0) == (s[a] >= 0)) {
                st.energy += s[e] * s[e];
                if (std::abs(s[e]) > st.top) {
                    st.top = std::abs(s[e]);
                    st.at = e;
                }
                ++e;
            }
            if (!cutOnly || s[a] > 0)
                stretches.push_back(st);
            a = e;
        }
        std::vector<std::size_t> at;
        auto take = [&](auto better) {
            std::vector<Stretch> sorted = stretches;
            std::sort(sorted.begin(), sorted.end(), better);
            for (const Stretch& st : sorted)
                if (at.size() < count && std::find(at.begin(), at.end(), st.at) == at.end()) {
                    at.push_back(st.at);
                    break;
                }
            return sorted;
        };
        const std::vector<Stretch> byEnergy =
            take([](const Stretch& x, const Stretch& y) { return x.energy > y.energy; });
        take([](const Stretch& x, const Stretch& y) { return x.top > y.top; });
        for (const Stretch& st : byEnergy)
            if (at.size() < count && std::find(at.begin(), at.end(), st.at) == at.end())
                at.push_back(st.at);
        std::vector<Param> out;
        for (std::size_t best : at) {
            const double peak = s[best];
            std::size_t l = best, h = best;
            while (l > 0 && s[l - 1] * peak > 0 && std::abs(s[l - 1]) > std::abs(peak) / 2)
                --l;
            while (h + 1 < n_ && s[h + 1] * peak > 0 && std::abs(s[h + 1]) > std::abs(peak) / 2)
                ++h;
            const double octaves = std::max(std::log2(hz_[h] / hz_[l]), 1.0 / 24);
            const double p2 = std::exp2(octaves);
            Param p;
            p.type = filter::Peq;
            p.lf = std::log(hz_[best]);
            p.g = -peak;
            p.lq = std::log(std::sqrt(p2) / (p2 - 1.0));
            clampParam(p, b_);
            out.push_back(p);
        }
        return out;
    }

    const Bounds& bounds() const { return b_; }

private:
    std::vector<double> hz_, d_, phi_;
    Bounds b_;
    Limits lim_;
    std::size_t n_, nc_;
    double lambda_;
    double w_ = kLimitWeight;

public:
    // The same problem with the limits weighing w per dB.
    Fitter withLimitWeight(double w) const {
        Fitter f = *this;
        f.w_ = w;
        return f;
    }
};

std::vector<int> allOf(std::size_t n) {
    std::vector<int> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = int(i);
    return v;
}

std::vector<Param> withoutBand(const std::vector<Param>& ps, std::size_t i) {
    std::vector<Param> out = ps;
    out.erase(out.begin() + std::ptrdiff_t(i));
    return out;
}

// The set with one band more, put at whichever of the seeds' places, refined alone, takes out
// most of what is left; empty when there is no place to try.
std::vector<Param> placeBand(const Fitter& f, const std::vector<Param>& ps, bool cutOnly) {
    std::vector<Param> pick;
    double least = 1e300;
    for (const Param& p : f.seeds(ps, cutOnly, kSeedCandidates)) {
        std::vector<Param> trial = ps;
        trial.push_back(p);
        const double c = f.refine(trial, {int(trial.size()) - 1}, 12);
        if (c < least) {
            least = c;
            pick = std::move(trial);
        }
    }
    return pick;
}

// Greedy placement settles in the first good basin it finds. Each band in turn taken out and put
// back where the residual then strays most, the whole set refined; then random moves of one band
// from the best set found, each refined, kept when they lower the cost.
void polish(const Fitter& f, std::vector<Param>& ps, double& best, bool cutOnly) {
    if (ps.size() > 1) {
        for (std::size_t i = 0; i < ps.size(); ++i) {
            std::vector<Param> pick = placeBand(f, withoutBand(ps, i), cutOnly);
            if (pick.empty())
                continue;
            const double c = f.refine(pick, allOf(pick.size()), 20);
            if (c < best * (1 - 1e-4)) {
                best = c;
                ps = std::move(pick);
            }
        }
    }
    std::mt19937 rng(12345);
    auto uni = [&] { return double(rng() >> 5) / double(1u << 27); };
    const int hops = ps.size() <= 3 ? kHopsFew : kHops;
    for (int h = 0; h < hops && !ps.empty(); ++h) {
        std::vector<Param> trial = ps;
        const std::size_t a = rng() % trial.size();
        Param& p = trial[a];
        p.lf += (uni() - 0.5) * 1.4;
        p.lq += (uni() - 0.5) * 2.0;
        p.g *= 0.5 + uni();
        clampParam(p, f.bounds());
        const double c = f.refine(trial, allOf(trial.size()), 20);
        if (c < best * (1 - 1e-4)) {
            best = c;
            ps = std::move(trial);
        }
    }
}

// Up to `count` bands, each where, placed alone, it takes out most of what is left.
std::vector<Param> placeGreedily(const Fitter& f, int count, bool cutOnly) {
    std::vector<Param> ps;
    for (int j = 0; j < count; ++j) {
        std::vector<Param> pick = placeBand(f, ps, cutOnly);
        if (pick.empty())
            break;
        ps = std::move(pick);
        f.refine(ps, allOf(ps.size()), 6);
    }
    return ps;
}

// k + a third more bands placed greedily, then the one whose loss costs least taken out, the rest
// refined, until k are left.
std::vector<Param> pruned(const Fitter& f, int k, bool cutOnly) {
    std::vector<Param> ps = placeGreedily(f, k + std::max(2, k / 3), cutOnly);
    f.refine(ps, allOf(ps.size()), 30);
    while (int(ps.size()) > k) {
        std::size_t weakest = 0;
        double least = 1e300;
        for (std::size_t i = 0; i < ps.size(); ++i)
            if (const double c = f.cost(withoutBand(ps, i)); c < least) {
                least = c;
                weakest = i;
            }
        ps = withoutBand(ps, weakest);
        f.refine(ps, allOf(ps.size()), 10);
    }
    return ps;
}

// The continuous fit of k bands: greedy placement, joint refinement, shelves at the ends tried,
// and weak bands moved to where the residual is largest.
std::vector<Param> fitContinuous(const Fitter& f, int k, bool cutOnly) {
    std::vector<Param> ps = placeGreedily(f, k, cutOnly);
    double best = f.refine(ps, allOf(ps.size()), 60);

    // Shelves where the lowest or highest band would do better as one.
    for (int end = 0; end < 2 && !ps.empty(); ++end) {
        std::size_t at = 0;
        for (std::size_t i = 1; i < ps.size(); ++i)
            if (end == 0 ? ps[i].lf < ps[at].lf : ps[i].lf > ps[at].lf)
                at = i;
        std::vector<Param> trial = ps;
        trial[at].type = end == 0 ? filter::LowShelf : filter::HighShelf;
        trial[at].lq = std::log(0.7071);
        clampParam(trial[at], f.bounds());
        const double c = f.refine(trial, allOf(trial.size()), 40);
        if (c < best) {
            best = c;
            ps = std::move(trial);
        }
    }

    // Moving the weakest band to the largest remaining error, while that helps.
    const int attempts = std::min(k, 8);
    for (int a = 0; a < attempts && ps.size() > 1; ++a) {
        std::size_t weakest = 0;
        double leastLoss = 1e300;
        for (std::size_t i = 0; i < ps.size(); ++i) {
            if (ps[i].type != filter::Peq)
                continue;
            const double loss = f.cost(withoutBand(ps, i)) - best;
            if (loss < leastLoss) {
                leastLoss = loss;
                weakest = i;
            }
        }
        bool moved = false;
        // Each place tried with the new band alone; the best of them refined with the rest.
        std::vector<Param> pick = placeBand(f, withoutBand(ps, weakest), cutOnly);
        if (!pick.empty()) {
            const double c = f.refine(pick, allOf(pick.size()), 20);
            if (c < best * 0.999) {
                best = c;
                ps = std::move(pick);
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    // Many bands already follow closely, and each refinement of them all costs much more.
    if (k > kPolishBandsMax)
        return ps;
    polish(f, ps, best, cutOnly);
    // Greedy placement commits to the largest errors first. A second start places more bands than
    // there are and takes out the one missed least until k are left: where features overlap it
    // ends in another basin, often a better one. Both are polished; the better is kept.
    if (k >= kPruneFromBands) {
        std::vector<Param> qs = pruned(f, k, cutOnly);
        double other = f.refine(qs, allOf(qs.size()), 60);
        polish(f, qs, other, cutOnly);
        if (other < best) {
            best = other;
            ps = std::move(qs);
        }
    }
    return ps;
}

// Rounds each band to a record and walks the record grid (0.1 dB, 1 Hz, a thousandth of Q and
// coarser steps) while the error falls, evaluating exactly what the amplifier will play.
std::vector<BandRecord> quantiseAll(const Fitter& f, const std::vector<Param>& ps,
                                    const Bounds& b) {
    const std::size_t rows = f.points() + f.guards();
    std::vector<BandRecord> recs;
    for (const Param& p : ps)
        recs.push_back(q7::quantise(p.type, p.g, std::exp(p.lf), std::exp(p.lq)));
    const int gLo = int(std::ceil(b.gMin * 10 - 1e-9)), gHi = int(std::floor(b.gMax * 10 + 1e-9));
    const int fLo = int(std::ceil(std::exp(b.lfMin) - 1e-9)),
              fHi = int(std::floor(std::exp(b.lfMax) + 1e-9));
    auto legal = [&](BandRecord& r) {
        int g = int(r.gain) - 150;
        g = std::clamp(g, gLo, gHi);
        r.gain = std::uint16_t(g + 150);
        r.frequency = std::uint16_t(std::clamp<int>(r.frequency, fLo, fHi));
        const int qLo = r.type == filter::Peq ? 200 : 400,
                  qHi = r.type == filter::Peq ? 16000 : 2000;
        r.q = std::uint16_t(std::clamp<int>(r.q, qLo, qHi));
    };
    for (BandRecord& r : recs)
        legal(r);
    std::vector<std::vector<double>> curves(recs.size(), std::vector<double>(rows));
    std::vector<double> sum(rows, 0.0);
    for (std::size_t j = 0; j < recs.size(); ++j) {
        recordDb(recs[j], f.phi(), curves[j].data());
        for (std::size_t i = 0; i < rows; ++i)
            sum[i] += curves[j][i];
    }
    const double lambda = f.gainPenalty();
    double gains = 0;
    for (const BandRecord& r : recs)
        gains += recordGainDb(r) * recordGainDb(r);
    std::vector<double> moved(rows);
    auto costWith = [&](std::size_t j, const std::vector<double>& c, const BandRecord& s) {
        for (std::size_t i = 0; i < rows; ++i)
            moved[i] = sum[i] - curves[j][i] + c[i];
        const double g = gains - recordGainDb(recs[j]) * recordGainDb(recs[j]) +
                         recordGainDb(s) * recordGainDb(s);
        return f.costOfResidual(f.residualOf(moved)) + lambda * g;
    };
    std::vector<double> trial(rows);
    double cost = f.costOfResidual(f.residualOf(sum)) + lambda * gains;
    for (int pass = 0; pass < 6; ++pass) {
        bool changed = false;
        for (std::size_t j = 0; j < recs.size(); ++j) {
            const BandRecord at = recs[j];
            const int fStep = std::max(1, int(at.frequency) / 100);
            const int qStep = std::max(1, int(at.q) / 50);
            const BandRecord steps[] = {
                {std::uint16_t(at.gain + 1), at.frequency, at.q, at.type},
                {std::uint16_t(at.gain - 1), at.frequency, at.q, at.type},
                {at.gain, std::uint16_t(at.frequency + 1), at.q, at.type},
                {at.gain, std::uint16_t(at.frequency - 1), at.q, at.type},
                {at.gain, std::uint16_t(at.frequency + fStep), at.q, at.type},
                {at.gain, std::uint16_t(at.frequency - fStep), at.q, at.type},
                {at.gain, at.frequency, std::uint16_t(at.q + 1), at.type},
                {at.gain, at.frequency, std::uint16_t(at.q - 1), at.type},
                {at.gain, at.frequency, std::uint16_t(at.q + qStep), at.type},
                {at.gain, at.frequency, std::uint16_t(at.q - qStep), at.type},
            };
            for (BandRecord s : steps) {
                legal(s);
                if (s == recs[j])
                    continue;
                recordDb(s, f.phi(), trial.data());
                const double c = costWith(j, trial, s);
                if (c < cost - 1e-12) {
                    gains += recordGainDb(s) * recordGainDb(s) -
                             recordGainDb(recs[j]) * recordGainDb(recs[j]);
                    for (std::size_t i = 0; i < rows; ++i)
                        sum[i] += trial[i] - curves[j][i];
                    curves[j] = trial;
                    recs[j] = s;
                    cost = c;
                    changed = true;
                }
            }
        }
        if (!changed)
            break;
    }
    return recs;
}

// The fitted records' sum on a fine grid, and how far it strays beyond the hard limits.
struct Violation {
    double excessDb = 0; // 0 when every limit holds
    std::size_t at = 0;
};

Violation worstViolation(const std::vector<double>& sum, const Limits& hard) {
    Violation v;
    for (std::size_t i = 0; i < sum.size(); ++i) {
        const double e = sum[i] > hard.upper[i]   ? sum[i] - hard.upper[i]
                         : sum[i] < hard.lower[i] ? hard.lower[i] - sum[i]
                                                  : 0.0;
        if (e > v.excessDb + 1e-9) {
            v.excessDb = e;
            v.at = i;
        }
    }
    return v;
}

// The soft limits of the fit are a little inside the hard ones; where rounding or the fit still
// crosses one, the band that pushes furthest across it gives up a tenth of a dB at a time.
void enforceLimits(std::vector<BandRecord>& recs, const Limits& hard) {
    const std::size_t n = hard.hz.size();
    std::vector<double> phi(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = std::sin(std::numbers::pi * hard.hz[i] / kEqSampleRate);
        phi[i] = s * s;
    }
    std::vector<std::vector<double>> curves(recs.size(), std::vector<double>(n));
    std::vector<double> sum(n, 0.0);
    for (std::size_t j = 0; j < recs.size(); ++j) {
        recordDb(recs[j], phi, curves[j].data());
        for (std::size_t i = 0; i < n; ++i)
            sum[i] += curves[j][i];
    }
    // Every step moves one gain towards 0 dB, so this ends when all are flat at the latest.
    for (int guard = 0; guard < 30 * 150 * int(recs.size()) + 1; ++guard) {
        const Violation v = worstViolation(sum, hard);
        if (v.excessDb <= 0)
            return;
        const bool tooHigh = sum[v.at] > hard.upper[v.at];
        std::size_t pick = recs.size();
        double most = 0;
        for (std::size_t j = 0; j < recs.size(); ++j) {
            const double push = tooHigh ? curves[j][v.at] : -curves[j][v.at];
            if (push > most && recs[j].gain != 150) {
                most = push;
                pick = j;
            }
        }
        if (pick == recs.size())
            return;
        BandRecord& r = recs[pick];
        r.gain = std::uint16_t(r.gain > 150 ? r.gain - 1 : r.gain + 1);
        std::vector<double> c(n);
        recordDb(r, phi, c.data());
        for (std::size_t i = 0; i < n; ++i)
            sum[i] += c[i] - curves[pick][i];
        curves[pick] = std::move(c);
    }
}

// After the limits are enforced, a walk over the records that keeps them: each step is taken
// only when it lowers the error and crosses no limit further than the set already does.
// Enforcing takes gain off one band at a time and often more than needed; the others can make
// up for much of it. `error` sees the bands' summed dB, its first hz.size() values on hz.
struct Walked {
    double cost, excess; // the error with the cost of gain; how far the worst limit is crossed
};
Walked walkRecords(std::vector<BandRecord>& recs, const std::vector<double>& hz,
                   const std::function<double(const std::vector<double>&)>& error,
                   const Limits& hard, double lambda, const Bounds& b, int passes) {
    const std::size_t n = hz.size(), rows = n + hard.hz.size();
    // The fit points, then the limits' points: a step is judged on the first alone, and only
    // one that lowers the error is checked against the limits (most steps are not).
    std::vector<double> phiFit(n), phiLimits(hard.hz.size());
    for (std::size_t i = 0; i < rows; ++i) {
        const double f = i < n ? hz[i] : hard.hz[i - n];
        const double s = std::sin(std::numbers::pi * f / kEqSampleRate);
        (i < n ? phiFit[i] : phiLimits[i - n]) = s * s;
    }
    auto curveOf = [&](const BandRecord& r, double* out) {
        recordDb(r, phiFit, out);
        recordDb(r, phiLimits, out + n);
    };
    std::vector<std::vector<double>> curves(recs.size(), std::vector<double>(rows));
    std::vector<double> sum(rows, 0.0);
    for (std::size_t j = 0; j < recs.size(); ++j) {
        curveOf(recs[j], curves[j].data());
        for (std::size_t i = 0; i < rows; ++i)
            sum[i] += curves[j][i];
    }
    auto excessOf = [&](const std::vector<double>& s) {
        double worst = 0;
        for (std::size_t c = 0; c < hard.hz.size(); ++c) {
            const double v = s[n + c];
            worst = std::max({worst, v - hard.upper[c], hard.lower[c] - v});
        }
        return worst;
    };
    auto gain2 = [](const BandRecord& r) { return recordGainDb(r) * recordGainDb(r); };
    double gains = 0;
    for (const BandRecord& r : recs)
        gains += gain2(r);
    double cost = error(sum) + lambda * gains;
    double excess = std::max(excessOf(sum), 0.0);
    const int gLo = int(std::ceil(b.gMin * 10 - 1e-9)), gHi = int(std::floor(b.gMax * 10 + 1e-9));
    const int fLo = int(std::ceil(std::exp(b.lfMin) - 1e-9)),
              fHi = int(std::floor(std::exp(b.lfMax) + 1e-9));
    std::vector<double> trial(rows), moved(rows);
    for (int pass = 0; pass < passes; ++pass) {
        bool changed = false;
        for (std::size_t j = 0; j < recs.size(); ++j) {
            const BandRecord at = recs[j];
            const int g = int(at.gain) - 150, f = at.frequency, q = at.q;
            const int fs = std::max(1, f / 100), qs = std::max(1, q / 50);
            const int qLo = at.type == filter::Peq ? 200 : 400,
                      qHi = at.type == filter::Peq ? 16000 : 2000;
            const int steps[][3] = {
                {1, 0, 0},      {-1, 0, 0},      {5, 0, 0},      {-5, 0, 0},
                {0, 1, 0},      {0, -1, 0},      {0, fs, 0},     {0, -fs, 0},
                {0, 0, 1},      {0, 0, -1},      {0, 0, qs},     {0, 0, -qs},
                {0, 5 * fs, 0}, {0, -5 * fs, 0}, {0, 0, 5 * qs}, {0, 0, -5 * qs}};
            for (const auto& st : steps) {
                const int ng = std::clamp(g + st[0], gLo, gHi),
                          nf = std::clamp(f + st[1], fLo, fHi),
                          nq = std::clamp(q + st[2], qLo, qHi);
                const BandRecord s{std::uint16_t(ng + 150), std::uint16_t(nf), std::uint16_t(nq),
                                   at.type};
                if (s == recs[j])
                    continue;
                recordDb(s, phiFit, trial.data());
                for (std::size_t i = 0; i < n; ++i)
                    moved[i] = sum[i] - curves[j][i] + trial[i];
                const double ng2 = gains - gain2(recs[j]) + gain2(s);
                const double c = error(moved) + lambda * ng2;
                if (c >= cost - 1e-12)
                    continue;
                recordDb(s, phiLimits, trial.data() + n);
                for (std::size_t i = n; i < rows; ++i)
                    moved[i] = sum[i] - curves[j][i] + trial[i];
                const double e = excessOf(moved);
                if (e > excess + 1e-9)
                    continue;
                excess = std::max(e, 0.0);
                sum = moved;
                curves[j] = trial;
                recs[j] = s;
                gains = ng2;
                cost = c;
                changed = true;
            }
        }
        if (!changed)
            break;
    }
    return {cost, excess};
}

Bounds fitBounds(double lo, double hi, const FitOptions& o) {
    Bounds b;
    b.lfMin = std::log(lo);
    b.lfMax = std::log(hi);
    b.gMin = kBandGainMinDb;
    b.gMax = o.cutOnly ? 0.0 : std::clamp(o.maxBoostDb, 0.0, kBandGainMaxDb);
    return b;
}

// The limits hold for the fitted bands together: the boost limit everywhere, and next to nothing
// outside the range. The fit aims a little inside them, rounding is then checked against the
// limits themselves on a finer grid.
Limits fitLimits(double lo, double hi, double gMax, int perOctave, double outsideDb,
                 double boostMarginDb) {
    Limits l;
    l.hz = octaveGrid(kBandFreqMinHz, kBandFreqMaxHz, perOctave);
    const double boost = std::max(0.0, gMax - boostMarginDb);
    for (double f : l.hz) {
        const bool outside = f < lo * 0.999 || f > hi * 1.001;
        l.lower.push_back(outside ? -outsideDb : -1e9);
        l.upper.push_back(outside ? std::min(outsideDb, boost) : boost);
    }
    return l;
}

// The records into the fitted bands of res.bank (a Sub band's sections follow it, flat), lowest
// frequency first so the list reads in order; the figures after from them.
void placeRecords(FitResult& res, const std::vector<int>& bands, std::vector<BandRecord> recs) {
    std::sort(recs.begin(), recs.end(),
              [](const BandRecord& x, const BandRecord& y) { return x.frequency < y.frequency; });
    for (std::size_t j = 0; j < bands.size() && j < recs.size(); ++j) {
        const int k = bands[j];
        res.bank.band(k) = recs[j];
        if (res.bank.bank == kSubEqBank)
            for (int i = 1; i <= 3; ++i)
                res.bank.records[std::size_t(subStoreRecord(k, i))] =
                    BandRecord{150, recs[j].frequency, recs[j].q, std::uint8_t(filter::Peq)};
    }
    res.eqAfter = bankResponseDb(res.bank, res.hz);
    res.after = errorStats(res.measurement, res.eqAfter, res.target);
    res.better = res.after.rmsDb < res.before.rmsDb - 1e-9;
}

std::string fmtHz(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f Hz", v);
    return buf;
}

bool isPassType(int t) {
    return t == filter::LowPass || t == filter::HighPass || (t >= 6 && t <= 21);
}

} // namespace

std::vector<int> fittableBands(const EqBankState& s) {
    std::vector<int> out;
    for (int k = 0; k < s.bandCount(); ++k)
        if (!isFixedBand(s.bank, k) && !isPassType(s.band(k).type))
            out.push_back(k);
    return out;
}

FitRange passBand(const EqBankState& state) {
    FitRange range;
    if (!eqBankInfo(state.bank) || int(state.records.size()) != state.info().records)
        return range;
    EqBankState pass = state;
    bool any = false;
    for (int k = 0; k < state.bandCount(); ++k) {
        const int first = state.recordOfBand(k);
        const int n = state.bank == kSubEqBank ? 4 : 1;
        const bool keep = isPassType(state.band(k).type);
        any |= keep;
        if (!keep)
            for (int i = first; i < first + n; ++i)
                pass.records[std::size_t(i)].type = filter::Off;
    }
    if (!any)
        return range;
    const std::vector<double> hz = octaveGrid(range.loHz, range.hiHz);
    const std::vector<double> db = bankResponseDb(pass, hz);
    const std::size_t peak = std::size_t(std::max_element(db.begin(), db.end()) - db.begin());
    std::size_t lo = peak, hi = peak;
    while (lo > 0 && db[lo - 1] >= db[peak] - 3.0)
        --lo;
    while (hi + 1 < db.size() && db[hi + 1] >= db[peak] - 3.0)
        ++hi;
    range.loHz = hz[lo];
    range.hiHz = hz[hi];
    return range;
}

FitRange defaultFitRange(const EqBankState& state) {
    FitRange r;
    const int b = state.bank;
    const bool output = b == 2 || b == 3 || b == 4 || b == 5 || b == 11;
    if (!output)
        return r;
    r.hiHz = 500.0;
    const FitRange pass = passBand(state);
    r.loHz = std::max(r.loHz, pass.loHz);
    if (b == kSubEqBank)
        r.hiHz = std::min(r.hiHz, pass.hiHz);
    return r;
}

FitResult fitBank(const EqBankState& start, const ResponseCurve& measurement, const Target& target,
                  const FitOptions& o) {
    FitResult res;
    res.bank = start;
    if (measurement.hz.size() < 2 || !eqBankInfo(start.bank) ||
        int(start.records.size()) != start.info().records) {
        res.error = {"没有测量数据", "no measurement"};
        return res;
    }
    double lo = std::max({o.loHz, double(kBandFreqMinHz), measurement.hz.front()});
    double hi = std::min({o.hiHz, double(kBandFreqMaxHz), measurement.hz.back()});
    if (lo > o.loHz * 1.001 || hi < o.hiHz * 0.999)
        res.notes.push_back({"拟合范围限于测量与均衡的范围：" + fmtHz(lo) + "–" + fmtHz(hi),
                             "fit range limited to what the measurement and the bands cover: " +
                                 fmtHz(lo) + "–" + fmtHz(hi)});
    // Boosting where the bank's own crossover or pass filters cut only fights them.
    const FitRange pass = passBand(start);
    if (pass.loHz > lo * 1.001 || pass.hiHz < hi * 0.999) {
        lo = std::max(lo, pass.loHz);
        hi = std::min(hi, pass.hiHz);
        res.notes.push_back({"拟合范围限于分频与通带滤波器的通带：" + fmtHz(lo) + "–" + fmtHz(hi),
                             "fit range limited to the pass band of the bank's crossover and pass "
                             "filters: " +
                                 fmtHz(lo) + "–" + fmtHz(hi)});
    }
    if (!(hi >= lo * std::exp2(1.0 / 3))) {
        const std::string covered =
            fmtHz(measurement.hz.front()) + "–" + fmtHz(measurement.hz.back());
        res.error = {"拟合范围太窄（至少 1/3 倍频程）；测量覆盖 " + covered,
                     "the fit range is too narrow (at least 1/3 octave); the measurement covers " +
                         covered};
        return res;
    }
    res.loHz = lo;
    res.hiHz = hi;
    res.hz = octaveGrid(lo, hi);
    res.measurement = sampleCurve(measurement, res.hz);
    res.target = targetOn(target, res.hz);
    res.eqBefore = bankResponseDb(start, res.hz);
    res.before = errorStats(res.measurement, res.eqBefore, res.target);

    // Free: fittable, not locked, and not a band in use that works outside the range (the fit
    // would have to rebuild it there).
    std::vector<int> free;
    for (int k : fittableBands(start)) {
        const BandRecord& r = start.band(k);
        const bool locked = std::find(o.locked.begin(), o.locked.end(), k) != o.locked.end();
        const bool inUse = r.type != filter::Off && r.gain != 150;
        const bool outside = r.frequency < lo || r.frequency > hi;
        if (!locked && !(inUse && outside))
            free.push_back(k);
        else if (locked)
            res.notes.push_back({"第 " + std::to_string(k + 1) + " 段已锁定，保持不变",
                                 "band " + std::to_string(k + 1) + " is locked and kept"});
        else
            res.notes.push_back(
                {"第 " + std::to_string(k + 1) + " 段在拟合范围之外使用中，保持不变",
                 "band " + std::to_string(k + 1) + " is in use outside the fit range and kept"});
    }
    std::vector<int> bands = free;
    if (o.maxBands >= 0 && int(bands.size()) > o.maxBands)
        bands.resize(std::size_t(o.maxBands));
    res.bandsUsed = bands;

    // What stays: fixed, locked and outside bands, pass filters, free bands not chosen (flat).
    EqBankState kept = start;
    for (int k : free) {
        BandRecord& r = kept.band(k);
        const int hz =
            r.frequency >= kBandFreqMinHz && r.frequency <= kBandFreqMaxHz ? r.frequency : 1000;
        r = quantise(filter::Peq, 0.0, hz, r.q >= 100 && r.q <= 30000 ? r.q / 1000.0 : 1.41);
        if (start.bank == kSubEqBank)
            for (int i = 1; i <= 3; ++i)
                kept.records[std::size_t(subStoreRecord(k, i))] =
                    quantise(filter::Peq, 0.0, hz, r.q / 1000.0);
    }
    const std::vector<double> keptDb = bankResponseDb(kept, res.hz);
    std::vector<double> desired(res.hz.size());
    for (std::size_t i = 0; i < desired.size(); ++i)
        desired[i] = res.target[i] - res.measurement[i] - keptDb[i];

    const Bounds b = fitBounds(lo, hi, o);
    auto limits = [&](int perOctave, double outsideDb, double boostMarginDb) {
        return fitLimits(lo, hi, b.gMax, perOctave, outsideDb, boostMarginDb);
    };
    const Fitter fitter(res.hz, desired, b, limits(12, 0.35, 0.1));
    std::vector<Param> ps = fitContinuous(fitter, int(bands.size()), o.cutOnly);
    // Held firmly to the limits before rounding, so that enforcing them later takes little.
    fitter.withLimitWeight(kStrictLimitWeight).refine(ps, allOf(ps.size()), 30);
    std::vector<BandRecord> recs = quantiseAll(fitter, ps, b);
    // Enforced, then walked, a little inside the limits on a grid finer than the fit's: the walk
    // never crosses a limit that holds, so none is crossed between the fit's points either.
    const Limits inside = limits(96, kFitOutsideToleranceDb - 0.02, 0.02);
    enforceLimits(recs, inside);
    const std::size_t n = res.hz.size();
    walkRecords(
        recs, res.hz,
        [&](const std::vector<double>& s) {
            double mean = 0;
            for (std::size_t i = 0; i < n; ++i)
                mean += s[i] - desired[i];
            mean /= double(n);
            double c = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double e = s[i] - desired[i] - mean;
                c += e * e;
            }
            return c;
        },
        inside, fitter.gainPenalty(), b, 40);
    res.bank = kept;
    placeRecords(res, bands, std::move(recs));
    res.ok = true;
    if (bands.empty())
        res.notes.push_back({"没有可用的均衡段", "no band is free to use"});
    else if (!res.better)
        res.notes.push_back({"拟合结果不比当前均衡更好，不宜应用",
                             "the fit is no better than the bands as they are: nothing to apply"});
    return res;
}

FitResult rejudgeFit(const FitResult& fit, const FitOptions& o, const FitJudge& judge) {
    FitResult res = fit;
    if (!fit.ok || fit.bandsUsed.empty() || !(fit.hiHz > fit.loHz) || judge.hz.empty() ||
        !judge.error)
        return res;
    const double lo = fit.loHz, hi = fit.hiHz;
    const Bounds b = fitBounds(lo, hi, o);
    std::vector<BandRecord> recs;
    for (int k : fit.bandsUsed)
        recs.push_back(fit.bank.band(k));
    // The same limits as the fit's own walk, a little inside the hard ones.
    const Limits limits = fitLimits(lo, hi, b.gMax, 96, kFitOutsideToleranceDb - 0.02, 0.02);
    enforceLimits(recs, limits);
    Walked best = walkRecords(recs, judge.hz, judge.error, limits, kGainPenalty, b, judge.passes);
    // A few bands' walk ends in the nearest hollow; random moves of one band, each walked, are
    // cheap there (fixed seed: the same input gives the same bands).
    if (recs.size() <= 3) {
        std::mt19937 rng(2468);
        auto uni = [&] { return double(rng() >> 5) / double(1u << 27); };
        for (int h = 0; h < kHopsFew; ++h) {
            std::vector<BandRecord> trial = recs;
            BandRecord& r = trial[rng() % trial.size()];
            const double f = std::clamp(double(r.frequency) * std::exp2(uni() - 0.5),
                                        std::exp(b.lfMin), std::exp(b.lfMax));
            const double q = recordQ(r) * std::exp2(2 * uni() - 1);
            const double g = std::clamp(recordGainDb(r) + 6 * (uni() - 0.5), b.gMin, b.gMax);
            r = quantise(r.type, g, f, q);
            const Walked w =
                walkRecords(trial, judge.hz, judge.error, limits, kGainPenalty, b, judge.passes);
            if (w.cost < best.cost * (1 - 1e-4) && w.excess <= best.excess + 1e-9) {
                best = w;
                recs = std::move(trial);
            }
        }
    }
    placeRecords(res, fit.bandsUsed, std::move(recs));
    // Worth applying as the fit was: the walk only lowered the judge's error from there, though
    // on the fit's own measure it may come out a little higher.
    res.better = fit.better;
    return res;
}

} // namespace q7
