// SPDX-License-Identifier: GPL-3.0-or-later
// The tuning's arithmetic on synthetic rooms measured perfectly: what it decides, what it
// predicts, what the simulated amplifier then plays, and applying it as one step.
#include "params/mode_file.h"
#include "true_measurement.h"
#include "tune/apply.h"
#include "tune/verify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

const std::vector<int> kAll = {0, 1, 2, 3, 4, 5, 6, 7};

struct Tuned {
    TunePlan plan;
    TuneVerification check;
    TuneApplied applied = TuneApplied::Nothing;
};

// Measures perfectly, computes, applies through the edit path and measures again.
Tuned tune(TuneRig& rig, int positions, const TuneOptions& o = {}) {
    Tuned t;
    t.plan = computeTune(trueMeasurement(rig, positions), o);
    EXPECT_TRUE(t.plan.ok) << t.plan.error.en;
    EditPath edits(rig.store, rig.c.link, rig.clock, [&] { return rig.c.link.isOpen(); });
    edits.amplifierHoldsStore();
    t.applied = applyTune(edits, t.plan);
    rig.c.link.awaitReply();
    t.check = verifyTune(t.plan, truePosition(rig, 0, kAll), o.tolerance);
    return t;
}

bool isAllPass(const BandRecord& r) {
    return r.type == filter::Off || r.type > 21;
}

} // namespace

TEST(TuneCompute, TunesSyntheticRoomsWithinTheLimits) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        TuneRig rig(testRoom(seed));
        const Tuned t = tune(rig, 1);
        ASSERT_EQ(t.applied, TuneApplied::Sent);
        // What the amplifier plays now is what was predicted, and within every limit.
        EXPECT_TRUE(t.check.ok());
        for (const Note& n : t.check.shortfalls)
            ADD_FAILURE() << n.en;
        EXPECT_LT(t.check.levelSpreadDb, 0.1);
        EXPECT_LT(t.check.arrivalSpreadMs, 0.02);
        EXPECT_LE(t.check.dipAfterDb, 3.0);
        EXPECT_NEAR(t.check.dipAfterDb, t.plan.dipPredictedDb, 0.1);
        double before = 0, after = 0;
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const TuneSpeaker& s = t.plan.speakers[std::size_t(k)];
            ASSERT_TRUE(s.connected) << k;
            EXPECT_LT(t.check.speakers[std::size_t(k)].predictionErrorDb, 0.2) << k;
            EXPECT_NEAR(t.check.speakers[std::size_t(k)].rmsAfterDb, s.rmsPredictedDb, 0.05) << k;
            before += s.rmsBeforeDb;
            after += s.rmsPredictedDb;
        }
        // The room's deviations from the target, on average at least a third less.
        EXPECT_LT(after, 0.67 * before);
    }
}

TEST(TuneCompute, TheSubsReversedWiresAreAnsweredWithAnAllPass) {
    // The same room with the Sub wired as it should be, and reversed.
    SyntheticRoomSetup setup;
    setup.seed = 3;
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed);
        setup.subInverted = reversed;
        TuneRig rig(syntheticRoom(setup));
        const Tuned t = tune(rig, 1);
        const TunePlan& p = t.plan;
        EXPECT_EQ(p.speakers[kTuneSub].inverted, reversed);
        EXPECT_LE(t.check.dipAfterDb, 3.0);
        const EqBankState sub = readBank(rig.store, kSubEqBank);
        // Crossover, subsonic filter and all-pass leave the Sub's EQ two bands at least, which
        // still take out at least half of its deviation and leave no more than 1.5 dB.
        const TuneSpeaker& s = p.speakers[kTuneSub];
        EXPECT_GE(s.bankBands, reversed ? 2 : 3);
        EXPECT_LE(t.check.speakers[kTuneSub].rmsAfterDb, std::min(s.rmsBeforeDb / 2, 1.5));
        if (!reversed) {
            EXPECT_EQ(p.allPassBand, -1);
            for (int b = 0; b < 5; ++b)
                EXPECT_FALSE(isAllPass(sub.band(b))) << b;
            continue;
        }
        // An "off" band at the all-pass frequency, its sections flat: the amplifier runs it as
        // a unit all-pass, the level untouched.
        ASSERT_GE(p.allPassBand, 0);
        const BandRecord& ap = sub.band(p.allPassBand);
        EXPECT_EQ(ap.type, filter::Off);
        EXPECT_EQ(ap.frequency, int(p.allPassHz));
        EXPECT_NEAR(ap.qValue(), p.allPassQ, 0.001);
        for (int i = 1; i < 4; ++i) {
            const BandRecord& section = sub.records[std::size_t(4 * p.allPassBand + i)];
            EXPECT_EQ(section.type, filter::Peq);
            EXPECT_EQ(section.gain, 150);
        }
        // The plan says so, and how reversing the wires does it exactly.
        const bool said = std::any_of(p.notes.begin(), p.notes.end(), [](const Note& n) {
            return n.en.find("reversing the Sub's speaker wires") != std::string::npos;
        });
        EXPECT_TRUE(said);
        // The crossover stays a low pass on its band.
        ASSERT_GE(p.crossoverBand, 0);
        const auto x = crossoverOf(sub, p.crossoverBand);
        ASSERT_TRUE(x);
        EXPECT_TRUE(x->lowPass);
        EXPECT_EQ(x->slope, p.slope);
        EXPECT_EQ(sub.band(p.crossoverBand).frequency, int(p.crossoverHz));
    }
}

TEST(TuneCompute, ASubInChannelModeIsTimedWithItsDelay) {
    TuneRig rig(testRoom(1));
    // The Sub's delay stage delays the whole signal, 20 ms too late.
    rig.dsp.sendDelayMode(DelayChannel::Sub, 1);
    rig.dsp.sendDelay(DelayChannel::Sub, 20.0);
    rig.c.link.awaitReply();
    const Tuned t = tune(rig, 1);
    EXPECT_TRUE(t.check.ok());
    EXPECT_LE(t.check.dipAfterDb, 3.0);
    const TuneSpeaker& sub = t.plan.speakers[kTuneSub];
    EXPECT_NE(sub.delayMs, 20.0);
    EXPECT_TRUE(sub.delayWhole);
    for (const Note& n : t.plan.notes)
        EXPECT_EQ(n.en.find("could not be timed"), std::string::npos) << n.en;
}

TEST(TuneCompute, KeepsToTheAmplifiersRanges) {
    TuneRig rig(testRoom(4, 2));
    const TunePlan p = computeTune(trueMeasurement(rig, 2), TuneOptions{});
    ASSERT_TRUE(p.ok);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& s = p.speakers[std::size_t(k)];
        // A delay is off, or 1.5 to 100 ms in whole samples; a level the location page can give.
        EXPECT_TRUE(s.delayMs == 0 || (s.delayMs >= 1.5 && s.delayMs <= 100)) << s.delayMs;
        EXPECT_NEAR(s.delayMs * 48, std::round(s.delayMs * 48), 1e-6);
        EXPECT_LE(s.levelDb, kSpeakerLevelMaxDb);
        EXPECT_GE(s.levelDb, kSpeakerLevelMinDb);
        EXPECT_EQ(s.levelDb, imageSpeakerLevel(p.after, speakerOutputs()[std::size_t(k)].speaker));
    }
    // The Main EQ keeps to the bands a full download sends; no EQ raises anything by more than
    // the boost allowed.
    for (const Difference& d : p.changes) {
        if (d.kind == Difference::Kind::Band && d.group == 5) {
            EXPECT_LT(d.record, kMainBandsDownloaded) << d.id;
        }
    }
    for (const TuneBank& b : p.banks) {
        if (!b.applied)
            continue;
        const std::vector<double> hz = octaveGrid(20, 20000);
        EqBankState fitted = b.fit.bank;
        for (BandRecord& r : fitted.records)
            if (r.type == filter::LowPass || r.type == filter::HighPass ||
                (r.type >= 6 && r.type <= 21))
                r = BandRecord{150, 1000, 1000, filter::Peq}; // the crossovers are not boosts
        for (double db : bankResponseDb(fitted, hz))
            EXPECT_LE(db, TuneOptions{}.maxBoostDb + 0.01) << b.bank;
    }
    // Every change has its name, in the pages' terms.
    ASSERT_FALSE(p.changes.empty());
    for (const Difference& d : p.changes)
        EXPECT_FALSE(d.id.empty());
}

TEST(TuneCompute, SpeakersNotAskedForOrNotThereStayAsTheyWere) {
    SyntheticRoomSetup setup;
    setup.seed = 3;
    setup.connected[5] = false; // rear R
    TuneRig rig(syntheticRoom(setup));
    TuneOptions o;
    o.speakers = {0, 1, 3, 4, 5};
    const TunePlan p = computeTune(trueMeasurement(rig, 1), o);
    ASSERT_TRUE(p.ok) << p.error.en;
    EXPECT_FALSE(p.speakers[5].connected);
    EXPECT_FALSE(p.speakers[2].asked);
    for (int k : {2, 5, 6, 7}) {
        EXPECT_EQ(p.speakers[std::size_t(k)].levelDb, p.speakers[std::size_t(k)].levelBeforeDb);
        EXPECT_EQ(p.speakers[std::size_t(k)].delayMs, p.speakers[std::size_t(k)].delayBeforeMs);
    }
    for (const Difference& d : p.changes) {
        EXPECT_NE(d.group, 7) << d.id; // centre EQ
        EXPECT_NE(d.group, 9) << d.id; // top EQ
        EXPECT_EQ(d.id.find("center"), std::string::npos) << d.id;
        EXPECT_EQ(d.id.find("top"), std::string::npos) << d.id;
        EXPECT_EQ(d.id.find("rear.r"), std::string::npos) << d.id;
    }
    // The rear bank is fitted from rear L alone.
    const auto rear =
        std::find_if(p.banks.begin(), p.banks.end(), [](const TuneBank& b) { return b.bank == 4; });
    ASSERT_NE(rear, p.banks.end());
    EXPECT_EQ(rear->speakers, std::vector<int>{4});
}

TEST(TuneApply, OneStepOnTheAmplifierOrInTheDocument) {
    TuneRig rig(testRoom(5));
    const ModeImage before = settingsOf(rig.store);
    const TunePlan p = computeTune(trueMeasurement(rig, 1), TuneOptions{});
    ASSERT_TRUE(p.ok);
    {
        // On the amplifier: one undo step, named; the amplifier holds what the plan says.
        EditPath edits(rig.store, rig.c.link, rig.clock, [&] { return rig.c.link.isOpen(); });
        edits.amplifierHoldsStore();
        EXPECT_EQ(applyTune(edits, p), TuneApplied::Sent);
        rig.c.link.awaitReply();
        EXPECT_EQ(edits.history().size(), 1u);
        EXPECT_EQ(edits.undoName().en, "Room tuning");
        EXPECT_TRUE(Change::between(p.after, settingsOf(rig.store)).empty());
        // What the amplifier holds, read back, is the plan's.
        ParameterStore read;
        Connection c2(rig.sim, rig.clock, read);
        rig.c.link.CloseByEditor();
        ASSERT_TRUE(c2.link.OpenLink().opened);
        c2.session.SynchronizeData();
        EXPECT_TRUE(Change::between(p.after, settingsOf(read)).empty());
        c2.link.CloseByEditor();
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        // Undo takes all of it back, in one step.
        EXPECT_EQ(edits.undo(), EditPath::Sent::Differences);
        rig.c.link.awaitReply();
        EXPECT_TRUE(Change::between(before, settingsOf(rig.store)).empty());
        // Applying what was computed for other settings would overwrite them: refused.
        rig.store.setCellInt(156, 1);
        EXPECT_EQ(applyTune(edits, p), TuneApplied::Stale);
        EXPECT_EQ(rig.store.cellInt(156), 1);
    }
    // In a document with no amplifier: the same settings, one step, written to a mode file.
    ParameterStore doc;
    applySettings(doc, before);
    NullSink nowhere;
    EditPath offline(doc, nowhere, rig.clock, [] { return false; });
    EXPECT_EQ(applyTune(offline, p), TuneApplied::Offline);
    EXPECT_EQ(offline.history().size(), 1u);
    EXPECT_TRUE(offline.holdsUnsent());
    EXPECT_TRUE(Change::between(p.after, settingsOf(doc)).empty());
    const std::string path = testing::TempDir() + "tuned.q7M";
    ASSERT_TRUE(writeModeFile(path, doc));
    ParameterStore back;
    ASSERT_TRUE(readModeFile(path, back));
    EXPECT_TRUE(differences(settingsOf(back), p.after).empty());
    std::remove(path.c_str());
}

TEST(TuneCompute, WhatAnEqCouldLeaveIsToldPerSpeaker) {
    // A broad bump any correction takes out; a null deeper than the boost it may not fill.
    std::vector<double> bump(200), null(200), other(200);
    for (std::size_t i = 0; i < bump.size(); ++i) {
        const double x = (double(i) - 100) / 30;
        bump[i] = 4 * std::exp(-x * x);
        null[i] = i >= 95 && i < 105 ? -15.0 : 0.0;
        other[i] = -bump[i];
    }
    EXPECT_LT(reachableRmsDb(bump, bump, 6), 0.05);
    const double nullLeft = reachableRmsDb(null, null, 6);
    EXPECT_GT(nullLeft, 0.5);
    EXPECT_LT(nullLeft, reachableRmsDb(null, null, 0) - 0.5); // the boost fills part of it
    // One correction for two speakers that differ leaves their difference.
    std::vector<double> shared(200);
    for (std::size_t i = 0; i < shared.size(); ++i)
        shared[i] = (bump[i] + other[i]) / 2;
    EXPECT_GT(reachableRmsDb(bump, shared, 6), 0.5);

    // On a room: every connected speaker is told what its bank could leave at best, never more
    // than the tuning predicts.
    TuneRig rig(testRoom(2, 3));
    const TunePlan p = computeTune(trueMeasurement(rig, 3), TuneOptions{});
    ASSERT_TRUE(p.ok);
    for (const TuneSpeaker& s : p.speakers) {
        if (!s.connected)
            continue;
        SCOPED_TRACE(speakerOutputs()[std::size_t(s.speaker)].id);
        EXPECT_GT(s.bankBands, 0);
        EXPECT_LE(s.rmsSeatReachableDb, s.rmsReachableDb + 0.05);
        EXPECT_LE(s.rmsReachableDb, s.rmsPredictedDb + 0.05);
    }
}

TEST(TuneCompute, ASecondLowPassOnTheSubIsFoldedIntoTheCrossover) {
    // Band 1 of the Sub crosses over at 90 Hz; band 5 keeps its own low pass at 100 Hz.
    TuneRig rig(testRoom(3));
    EqBankState sub = readBank(rig.store, kSubEqBank);
    ASSERT_TRUE(crossoverOf(sub, 4) && crossoverOf(sub, 4)->lowPass);
    setCrossover(sub, 0, Crossover{1, true}, 90, 707);
    ASSERT_TRUE(sendBank(rig.dsp, rig.store, sub));
    rig.c.link.awaitReply();
    const Tuned t = tune(rig, 1);
    const TunePlan& p = t.plan;
    ASSERT_EQ(t.applied, TuneApplied::Sent);
    EXPECT_TRUE(t.check.ok());
    EXPECT_LE(t.check.dipAfterDb, 3.0);
    EXPECT_EQ(p.crossoverBand, 0);
    // One low pass is left, the crossover chosen; the other band is the EQ's (or the all-pass).
    const EqBankState after = readBank(rig.store, kSubEqBank);
    for (int b = 1; b < 5; ++b) {
        const auto c = crossoverOf(after, b);
        EXPECT_FALSE(c && c->lowPass) << b;
    }
    const auto bank = std::find_if(p.banks.begin(), p.banks.end(),
                                   [](const TuneBank& b) { return b.bank == kSubEqBank; });
    ASSERT_NE(bank, p.banks.end());
    const std::vector<int>& used = bank->fit.bandsUsed;
    EXPECT_TRUE(std::find(used.begin(), used.end(), 4) != used.end() || p.allPassBand == 4);
    EXPECT_TRUE(std::any_of(p.notes.begin(), p.notes.end(), [](const Note& n) {
        return n.en.find("folded into the crossover") != std::string::npos;
    }));
    // The Sub's figures and EQ keep to 20 Hz up to the crossover chosen.
    const TuneSpeaker& s = p.speakers[kTuneSub];
    EXPECT_LE(s.hiHz, p.crossoverHz * 1.001);
    EXPECT_LT(s.rmsPredictedDb, s.rmsBeforeDb);
}

TEST(TuneCompute, DelaysOfTheHighsAloneLeaveAFineCombAtTheSplit) {
    // The built-in room's delay stages all delay only what lies above their split: each
    // speaker's highs and lows meet out of time there. Delays as short as the stages allow leave
    // a broad notch (2 dB RMS over the range, a sixth of an octave); started later together they
    // leave a comb that fine smoothing averages, the arrivals still aligned.
    TuneRig rig(builtInRoom());
    const Tuned t = tune(rig, 1);
    EXPECT_TRUE(t.check.ok());
    EXPECT_LT(t.check.arrivalSpreadMs, 0.05);
    const TunePlan& p = t.plan;
    const std::vector<double> flat(p.hz.size(), 0.0);
    double least = 1e9;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& s = p.speakers[std::size_t(k)];
        ASSERT_TRUE(s.connected) << k;
        ASSERT_FALSE(s.delayWhole) << k;
        if (k == kTuneSub)
            continue;
        const std::vector<Complex> comb =
            outputChain(p.after, k, p.hz, ChainParts{.eq = false, .delay = true, .level = false});
        EXPECT_LT(rmsDeviationDb(p.hz, sixthOctaveDb(comb), flat, s.loHz, s.hiHz), 1.2) << k;
        least = std::min(least, s.delayMs);
    }
    // What that costs in latency stays bounded.
    EXPECT_LE(least, 1.5 + 10.0);
}
