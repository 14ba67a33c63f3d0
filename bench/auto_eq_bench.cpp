// SPDX-License-Identifier: GPL-3.0-or-later
// The fit's quality and time on synthetic data: rooms (10 bands, 20-500 Hz) and smooth
// headphone-like curves (10 bands, 20 Hz-10 kHz), flat target, and 24 bands on the Main EQ.
#include "eq/auto_eq.h"
#include "eq/synthetic_response.h"

#include <chrono>
#include <cstdio>

using namespace q7;

namespace {

struct Row {
    double before = 0, after = 0, worst = 0, maxAfter = 0, ms = 0, worstMs = 0;
};

Row run(const char* what, int bank, int bands, double lo, double hi, bool rooms, int seeds) {
    Row row;
    ParameterStore store;
    for (int s = 1; s <= seeds; ++s) {
        const ResponseCurve m =
            rooms ? synthetic::room(unsigned(s)) : synthetic::smooth(unsigned(s));
        FitOptions o;
        o.loHz = lo;
        o.hiHz = hi;
        o.maxBands = bands;
        const auto t0 = std::chrono::steady_clock::now();
        const FitResult r = fitBank(readBank(store, bank), m, Target{}, o);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        row.before += r.before.rmsDb / seeds;
        row.after += r.after.rmsDb / seeds;
        row.worst = std::max(row.worst, r.after.rmsDb);
        row.maxAfter = std::max(row.maxAfter, r.after.maxAbsDb);
        row.ms += ms / seeds;
        row.worstMs = std::max(row.worstMs, ms);
    }
    std::printf("%-34s RMS before %5.2f dB  after mean %4.2f worst %4.2f dB  max|e| %4.2f dB  "
                "time mean %6.1f worst %6.1f ms\n",
                what, row.before, row.after, row.worst, row.maxAfter, row.ms, row.worstMs);
    return row;
}

} // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 20;
    std::printf("%d seeds each\n", seeds);
    run("rooms, 10 bands, 20-500 Hz", 5, 10, 20, 500, true, seeds);
    run("smooth curves, 10 bands, 20-10k", 5, 10, 20, 10000, false, seeds);
    run("rooms, 24 bands, 20-500 Hz", 5, 24, 20, 500, true, seeds);
    run("smooth curves, 24 bands, 20-20k", 5, 24, 20, 20000, false, seeds);
    run("mic A, all 13 free bands, 20-20k", 1, -1, 20, 20000, false, seeds);
    return 0;
}
