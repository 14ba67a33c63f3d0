// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/verify.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace q7 {

namespace {

std::string fmt(const char* f, double v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, f, v);
    if (std::strtod(buf, nullptr) == 0)
        std::snprintf(buf, sizeof buf, f, 0.0);
    return buf;
}

} // namespace

TuneVerification verifyTune(const TunePlan& plan, const PositionSweeps& after,
                            const TuneTolerance& tol) {
    TuneVerification v;
    if (!plan.ok || !after.ok())
        return v;
    const std::vector<double>& hz = plan.hz;
    std::vector<double> levels;
    std::vector<std::pair<int, double>> arrivals;
    double predictionWorst = 0;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan.speakers[std::size_t(k)];
        const SpeakerSweep* s = after.find(k);
        SpeakerCheck& c = v.speakers[std::size_t(k)];
        if (!t.connected || !s || !s->arrived || s->response.hz.size() != hz.size())
            continue;
        c.measured = true;
        c.afterDb = sixthOctaveDb(s->transfer());
        const auto [lo, hi] = levelBand(plan, k);
        c.levelDb = bandLevelDb(hz, c.afterDb, plan.targetDb, lo, hi);
        c.rmsAfterDb = rmsDeviationDb(hz, c.afterDb, plan.targetDb, t.loHz, t.hiHz);
        std::vector<double> diff;
        for (std::size_t i = 0; i < hz.size(); ++i)
            if (hz[i] >= t.loHz && hz[i] <= t.hiHz)
                diff.push_back(c.afterDb[i] - t.predictedDb[i]);
        double sq = 0;
        for (double d : diff)
            sq += d * d;
        c.predictionErrorDb = diff.empty() ? 0 : std::sqrt(sq / double(diff.size()));
        predictionWorst = std::max(predictionWorst, c.predictionErrorDb);
        levels.push_back(c.levelDb);
        if (k != kTuneSub) {
            c.arrivalMs = s->arrivalMs;
            arrivals.push_back({k, s->arrivalMs});
        }
    }
    if (levels.empty())
        return v;
    v.measured = true;
    double mean = 0;
    for (double l : levels)
        mean += l;
    mean /= double(levels.size());
    for (SpeakerCheck& c : v.speakers)
        if (c.measured) {
            c.levelErrorDb = c.levelDb - mean;
            v.levelSpreadDb = std::max(v.levelSpreadDb, std::abs(c.levelErrorDb));
        }
    double arrivalMean = 0;
    for (const auto& a : arrivals)
        arrivalMean += a.second;
    if (!arrivals.empty())
        arrivalMean /= double(arrivals.size());
    for (const auto& [k, ms] : arrivals) {
        v.speakers[std::size_t(k)].arrivalErrorMs = ms - arrivalMean;
        v.arrivalSpreadMs = std::max(v.arrivalSpreadMs, std::abs(ms - arrivalMean));
    }
    // Sub + mains, from the measurements themselves (each speaker alone, the same position and
    // timing: their transfers add as the speakers do in the air).
    const SpeakerSweep* sub = after.find(kTuneSub);
    std::vector<Complex> mains(hz.size(), Complex(0.0));
    bool anyMain = false;
    for (int k : {0, 1})
        if (const SpeakerSweep* s = after.find(k);
            s && s->arrived && plan.speakers[std::size_t(k)].connected) {
            const auto h = s->transfer();
            for (std::size_t i = 0; i < hz.size(); ++i)
                mains[i] += h[i];
            anyMain = true;
        }
    v.dipOk = true;
    if (sub && sub->arrived && anyMain && plan.crossoverHz > 0) {
        const auto s = sub->transfer();
        v.dipAfterDb = summingDipDb(hz, s, mains, plan.crossoverHz / 2, plan.crossoverHz * 2);
        std::vector<Complex> sum(hz.size());
        for (std::size_t i = 0; i < hz.size(); ++i)
            sum[i] = s[i] + mains[i];
        v.sumAfterDb = sixthOctaveDb(sum);
        v.dipOk = v.dipAfterDb <= tol.dipDb;
    }
    // What the figures above leave out.
    const TuneSpeaker& subPlan = plan.speakers[kTuneSub];
    if (v.speakers[kTuneSub].measured && !subPlan.delayWhole)
        v.notChecked.push_back({"超低的到达时间：其延时为“高频延时”方式，调校无法对时",
                                "the Sub's arrival: its delay is in \"High Freq\" mode, so the "
                                "tuning could not time it"});
    if (v.speakers[kTuneSub].measured && v.sumAfterDb.empty())
        v.notChecked.push_back({"超低与主音箱的叠加：没有测得主音箱或分频点",
                                "the Sub + mains dip: no main speaker "
                                "or crossover to check it against"});
    v.levelsOk = v.levelSpreadDb <= tol.levelDb;
    v.arrivalsOk = v.arrivalSpreadMs <= tol.arrivalMs;
    v.predictionOk = predictionWorst <= tol.predictionDb;
    if (!v.levelsOk)
        v.shortfalls.push_back({"电平相差 ±" + fmt("%.2f dB", v.levelSpreadDb) + "（限 ±" +
                                    fmt("%.1f dB", tol.levelDb) + "）",
                                "levels within ±" + fmt("%.2f dB", v.levelSpreadDb) + " (limit ±" +
                                    fmt("%.1f dB", tol.levelDb) + ")"});
    if (!v.arrivalsOk)
        v.shortfalls.push_back({"到达时间相差 ±" + fmt("%.3f ms", v.arrivalSpreadMs) + "（限 ±" +
                                    fmt("%.2f ms", tol.arrivalMs) + "）",
                                "arrivals within ±" + fmt("%.3f ms", v.arrivalSpreadMs) +
                                    " (limit ±" + fmt("%.2f ms", tol.arrivalMs) + ")"});
    if (!v.dipOk)
        v.shortfalls.push_back({"超低与主音箱在分频点附近相消 " + fmt("%.1f dB", v.dipAfterDb) +
                                    "（限 " + fmt("%.0f dB", tol.dipDb) + "）",
                                "Sub + mains dip " + fmt("%.1f dB", v.dipAfterDb) +
                                    " around the crossover (limit " + fmt("%.0f dB", tol.dipDb) +
                                    ")"});
    if (!v.predictionOk)
        v.shortfalls.push_back({"测得的响应与预测相差 " + fmt("%.1f dB", predictionWorst) +
                                    "（均方根，限 " + fmt("%.1f dB", tol.predictionDb) + "）",
                                "measured after differs from predicted by " +
                                    fmt("%.1f dB", predictionWorst) + " RMS (limit " +
                                    fmt("%.1f dB", tol.predictionDb) + ")"});
    return v;
}

} // namespace q7
