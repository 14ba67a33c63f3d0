// The tuning's arithmetic on synthetic rooms measured perfectly: what it decides, what it
// predicts, and what the simulated amplifier then plays.
#include "tune/apply.h"
#include "tune/verify.h"
#include "true_measurement.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

TEST(TuneCompute, Explore) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const int positions = std::getenv("POS") ? std::atoi(std::getenv("POS")) : 3;
        TuneRig rig(testRoom(seed, positions));
        const RoomMeasurement m = trueMeasurement(rig, positions);
        TuneOptions o;
        const TunePlan plan = computeTune(m, o);
        ASSERT_TRUE(plan.ok) << plan.error.en;
        EditPath edits(rig.store, rig.c.link, rig.clock, [&] { return rig.c.link.isOpen(); });
        edits.amplifierHoldsStore();
        EXPECT_EQ(applyTune(edits, plan), TuneApplied::Sent);
        rig.c.link.awaitReply();
        const PositionSweeps after = truePosition(rig, 0, {0, 1, 2, 3, 4, 5, 6, 7});
        const TuneVerification v = verifyTune(plan, after, o.tolerance);
        std::printf("seed %u: xover %s %.0f -> %s %.0f, AP %d (%.0f Hz Q %.2f), dip %.1f -> %.1f -> %.1f\n",
                    seed, crossoverName(plan.slopeBefore), plan.crossoverBeforeHz,
                    crossoverName(plan.slope), plan.crossoverHz, plan.allPassBand, plan.allPassHz,
                    plan.allPassQ, plan.dipBeforeDb, plan.dipPredictedDb, v.dipAfterDb);
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const TuneSpeaker& t = plan.speakers[std::size_t(k)];
            const SpeakerCheck& c = v.speakers[std::size_t(k)];
            std::printf("  %-7s lvl %6.2f->%6.2f dly %6.3f->%6.3f range %5.0f-%5.0f rms %.2f->%.2f "
                        "(avg %.2f->%.2f) after %.2f pred.err %.2f lvlerr %+.2f arr %+.3f\n",
                        speakerOutputs()[std::size_t(k)].id, t.levelBeforeDb, t.levelDb,
                        t.delayBeforeMs, t.delayMs, t.loHz, t.hiHz, t.rmsBeforeDb,
                        t.rmsPredictedDb, t.averageRmsBeforeDb, t.averageRmsPredictedDb,
                        c.rmsAfterDb, c.predictionErrorDb, c.levelErrorDb, c.arrivalErrorMs);
        }
        if (seed == 1) {
            const TuneSpeaker& t = plan.speakers[0];
            for (std::size_t i = 0; i < plan.hz.size(); i += 6)
                if (plan.hz[i] >= t.loHz && plan.hz[i] <= t.hiHz)
                    std::printf("    %7.1f %7.2f %7.2f\n", plan.hz[i], t.beforeDb[i], t.predictedDb[i]);
            for (const TuneBank& b : plan.banks)
                if (b.bank == 5)
                    for (int k : b.fit.bandsUsed) {
                        const BandRecord& r = b.fit.bank.band(k);
                        std::printf("    band %d type %d %.1f dB %d Hz Q %.3f\n", k, r.type, r.gainDb(), r.frequency, r.qValue());
                    }
        }
        for (const Note& n : plan.notes)
            std::printf("  note: %s\n", n.en.c_str());
        for (const Note& n : v.shortfalls)
            std::printf("  short: %s\n", n.en.c_str());
    }
}
