// SPDX-License-Identifier: GPL-3.0-or-later
// Undo, redo, A/B and difference-only sending against the simulated amplifier: whatever the
// steps, the amplifier ends up holding what the store holds.
#include "params/edit_path.h"
#include "rig.h"
#include "sim/amp_compare.h"

#include <gtest/gtest.h>
#include <optional>
#include <random>

using namespace q7;
using q7::test::Rig;
using q7::test::sameDsp;
using q7::test::sameMemory;

namespace {

// A band record that encodes to itself, so a resend from the store designs from the very values
// the page designed from.
BandRecord stableRecord(std::mt19937& rng, bool crossoverTypes) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    BandRecord r =
        BandRecord::encode(crossoverTypes ? pick(0, 21) : pick(0, 5), pick(-150, 150) / 10.0,
                           pick(20, 20000), pick(300, 9000) / 1000.0);
    for (int i = 0; i < 3; ++i)
        r = BandRecord::encode(r.type, r.gainDb(), r.frequency, r.qValue());
    return r;
}

// One edit as a page makes it, through the senders.
std::function<bool(Dsp&)> randomEdit(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (pick(0, 11)) {
    case 0: { // a level or a selector
        static const int cells[] = {27, 31, 43, 45, 49, 58, 62, 71, 83, 87, 92, 96, 109, 126, 157};
        const int c = cells[pick(0, 14)];
        const int v = cellLayout(c).code == CellCode::Sel ? pick(0, 1) : pick(0, 100) * 100 / 100;
        return [c, v](Dsp& d) {
            d.store().setCellInt(c, v);
            return d.sendCell(c);
        };
    }
    case 1: { // a band of some EQ
        const EqGroup& g = eqGroups()[std::size_t(pick(0, 8))];
        const int r = pick(0, g.pushed - 1);
        const BandRecord rec = stableRecord(rng, g.group == 8);
        return [g, r, rec](Dsp& d) {
            return d.SendBand(g.group, r, rec.type, rec.gainDb(), rec.frequency, rec.qValue());
        };
    }
    case 2: {
        const auto ch = DelayChannel(pick(0, 7));
        const double ms = pick(15, 1000) / 10.0;
        return [ch, ms](Dsp& d) { return d.sendDelay(ch, ms); };
    }
    case 3: {
        const auto ch = DelayChannel(pick(0, 7));
        const int mode = pick(0, 1);
        return [ch, mode](Dsp& d) { return d.sendDelayMode(ch, mode); };
    }
    case 4: {
        const auto ch = DelayChannel(pick(0, 7));
        const int index = pick(0, kSplitCount - 1);
        // The crossover can be chosen only in high-frequency delay mode, as on the page.
        return [ch, index](Dsp& d) {
            return d.store().cellInt(delayChannelInfo(ch).modeCell) != 0 ||
                   d.sendSplitFilter(ch, index);
        };
    }
    case 5: {
        const auto e = Effect(pick(0, 1));
        const auto ch = MicChannel(pick(0, 1));
        const double ms = pick(30, 2000) / 10.0;
        return [e, ch, ms](Dsp& d) { return d.sendPredelay(e, ch, ms); };
    }
    case 6: {
        const auto ch = MicChannel(pick(0, 1));
        const double ms = pick(40, 800);
        const double t = pick(0, 1000);
        return [ch, ms, t](Dsp& d) { return d.sendEchoTime(ch, ms) && d.sendReverbTime(ch, t); };
    }
    case 7: {
        const auto ch = MicChannel(pick(0, 1));
        const int shift = pick(0, 1) ? 1 : pick(2, 8);
        return [ch, shift](Dsp& d) { return d.sendMicShift(ch, shift); };
    }
    case 8: {
        const auto g = OutputGroup(pick(0, 4));
        const codec::Compressor c{float(-pick(0, 40)), float(pick(1, 20)), float(pick(1, 200)),
                                  float(pick(10, 2000))};
        return [g, c](Dsp& d) { return d.sendCompressor(g, c); };
    }
    case 9: {
        const int speaker = pick(1, 8);
        const float db = float(pick(-200, 30) / 10.0);
        return [speaker, db](Dsp& d) { return d.sendSpeakerLevel(speaker, db); };
    }
    case 10: { // the listener moves
        const float x = float(pick(-50, 50) / 10.0), y = float(pick(-50, 50) / 10.0);
        return [x, y](Dsp& d) {
            d.store().setCellFloat(cell::ListenerX, x);
            d.store().setCellFloat(cell::ListenerY, y);
            return d.sendPlanBlock();
        };
    }
    default: {
        const EqHalf h = EqHalf(pick(0, 11));
        return [h](Dsp& d) { return d.resetGroupEq(h); };
    }
    }
}

struct EditRig : Rig {
    EditRig() : Rig(SimOptions{.latencyUs = 1000}) {
        EXPECT_TRUE(c.link.OpenLink().opened);
        c.session.SynchronizeData();
        settle();
        edits.amplifierHoldsStore();
    }

    // The amplifier is brought to hold exactly what sending the store produces, so that later
    // comparisons do not trip over factory words no sender writes.
    void settle() {
        dsp.fullDownload(0);
        for (const EqGroup& g : eqGroups())
            for (int r = g.pushed; r < g.records; ++r)
                dsp.sendBandRecord(g.group, r);
        for (int s = 1; s <= kSpeakerCount; ++s)
            dsp.sendSpeakerLevel(s, store.speakerLevelSlot(speakerInfo(s).slot));
        dsp.sendCell(cell::MicVolume);
        dsp.sendCell(cell::MusicVolume);
    }

    Dsp dsp{store, c.link, clock};
    EditPath edits{store, c.link, clock, [this] { return c.link.isOpen(); }};
};

} // namespace

TEST(EditPath, UndoingEverythingReturnsStoreAndAmplifierToTheStartAndRedoToTheEnd) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditRig rig;
        const ModeImage start = settingsOf(rig.store);
        const AmpSettings ampStart = rig.sim.current();

        const int steps = 25;
        for (int i = 0; i < steps; ++i)
            rig.edits.edit(randomEdit(rng));
        const ModeImage end = settingsOf(rig.store);
        const AmpSettings ampEnd = rig.sim.current();
        ASSERT_LE(rig.edits.history().size(), std::size_t(steps));

        while (rig.edits.canUndo())
            EXPECT_NE(rig.edits.undo(), EditPath::Sent::NeedsFullDownload);
        EXPECT_TRUE(Change::between(start, settingsOf(rig.store)).empty());
        EXPECT_TRUE(sameMemory(rig.sim.current(), ampStart));
        EXPECT_TRUE(sameDsp(rig.sim.current(), ampStart));

        while (rig.edits.canRedo())
            rig.edits.redo();
        EXPECT_TRUE(Change::between(end, settingsOf(rig.store)).empty());
        EXPECT_TRUE(sameMemory(rig.sim.current(), ampEnd));
        EXPECT_TRUE(sameDsp(rig.sim.current(), ampEnd));
    }
}

TEST(EditPath, AfterAnyABSwitchTheAmplifierHoldsTheActiveSet) {
    std::mt19937 rng(77);
    EditRig rig;
    std::array<AmpSettings, 2> amp{rig.sim.current(), rig.sim.current()};
    std::array<ModeImage, 2> set{settingsOf(rig.store), settingsOf(rig.store)};
    for (int round = 0; round < 12; ++round) {
        const int slot = rig.edits.activeSlot();
        for (int i = 0, n = int(rng() % 6); i < n; ++i)
            rig.edits.edit(randomEdit(rng));
        set[std::size_t(slot)] = settingsOf(rig.store);
        amp[std::size_t(slot)] = rig.sim.current();
        const int other = 1 - slot;
        if (round == 0) { // B starts as a copy of A
            set[1] = set[0];
            amp[1] = amp[0];
        }
        EXPECT_NE(rig.edits.switchTo(other), EditPath::Sent::NeedsFullDownload);
        EXPECT_EQ(rig.edits.activeSlot(), other);
        EXPECT_TRUE(Change::between(set[std::size_t(other)], settingsOf(rig.store)).empty());
        EXPECT_TRUE(sameMemory(rig.sim.current(), amp[std::size_t(other)])) << "round " << round;
        EXPECT_TRUE(sameDsp(rig.sim.current(), amp[std::size_t(other)])) << "round " << round;
        EXPECT_TRUE(Change::between(set[std::size_t(slot)], rig.edits.slotSettings(slot)).empty());
    }
    // Copying the active set over the other, then switching, sends nothing.
    rig.edits.copySlot(rig.edits.activeSlot(), 1 - rig.edits.activeSlot());
    rig.clearTrace();
    EXPECT_EQ(rig.edits.switchTo(1 - rig.edits.activeSlot()), EditPath::Sent::Nothing);
    EXPECT_TRUE(rig.sent().empty());
}

TEST(EditPath, StepsOfOneHeldPressAreOneAndEmptyOnesVanish) {
    EditRig rig;
    const double gain0 = rig.store.band(5, 2).gainDb();
    {
        EditPath::Hold hold(rig.edits);
        for (int i = 1; i <= 5; ++i)
            rig.edits.edit([i](Dsp& d) { return d.SendBand(5, 2, filter::Peq, i, 100, 1.41); });
    }
    rig.edits.edit([](Dsp& d) { return d.sendDelay(DelayChannel::RearL, 17.3); });
    EXPECT_EQ(rig.edits.history().size(), 2u);
    rig.edits.undo();
    rig.edits.undo();
    EXPECT_DOUBLE_EQ(rig.store.band(5, 2).gainDb(), gain0) << "the whole drag undone at once";
    rig.edits.edit([](Dsp&) { return true; });
    EXPECT_TRUE(rig.edits.canRedo()) << "an edit that changed nothing keeps redo";

    // A press that ends where it began leaves no step; an edit that changes nothing neither.
    {
        EditPath::Hold hold(rig.edits);
        const BandRecord r = rig.store.band(5, 3);
        rig.edits.edit([](Dsp& d) { return d.SendBand(5, 3, filter::Peq, 3, 300, 1.41); });
        rig.edits.edit(
            [r](Dsp& d) { return d.SendBand(5, 3, r.type, r.gainDb(), r.frequency, r.qValue()); });
    }
    EXPECT_FALSE(rig.edits.canUndo());
}

TEST(EditPath, AnEditOutsideAnyScopeIsStillAStepOfItsOwn) {
    EditRig rig;
    const ModeImage start = settingsOf(rig.store);
    const AmpSettings ampStart = rig.sim.current();
    // Sent with no scope open: each is recorded, named, and counted as unsaid.
    rig.store.setCellInt(92, 37);
    rig.edits.dsp().sendCell(92);
    rig.edits.dsp().sendDelay(DelayChannel::RearL, 23.4);
    EXPECT_EQ(rig.edits.unscopedEdits(), 2);
    EXPECT_EQ(rig.edits.history().size(), 2u);
    EXPECT_FALSE(rig.edits.undoName().empty());
    // A hold merges them like scoped ones; a scoped edit is not counted.
    {
        EditPath::Hold hold(rig.edits);
        for (int v : {40, 41, 42}) {
            rig.store.setCellInt(92, v);
            rig.edits.dsp().sendCell(92);
        }
        rig.edits.edit([](Dsp& d) { return d.sendDelay(DelayChannel::RearL, 30.0); });
    }
    EXPECT_EQ(rig.edits.unscopedEdits(), 5);
    EXPECT_EQ(rig.edits.history().size(), 3u);
    // A store change after the last report (a sender that tidies afterwards) still lands in a
    // step before the next one opens.
    rig.edits.dsp().sendDelay(DelayChannel::RearR, 12.0);
    rig.store.setCellInt(96, 11);
    rig.edits.edit([](Dsp& d) { return d.sendDelay(DelayChannel::Center, 5.0); });
    EXPECT_EQ(rig.edits.unscopedEdits(), 7);
    EXPECT_EQ(rig.edits.history().size(), 6u);
    while (rig.edits.canUndo())
        rig.edits.undo();
    EXPECT_TRUE(Change::between(start, settingsOf(rig.store)).empty());
    EXPECT_TRUE(sameMemory(rig.sim.current(), ampStart));
    EXPECT_TRUE(sameDsp(rig.sim.current(), ampStart));
}

TEST(EditPath, DifferencesAfterDropsAndReconnectsNeverLeaveTheAmplifierBehind) {
    std::mt19937 rng(5);
    EditRig rig;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 4; ++i)
            rig.edits.edit(randomEdit(rng));
        if (round % 2 == 0) {
            // The link breaks: what went out since is unknown.
            rig.c.link.CloseByRemoval();
            rig.edits.forgetAmplifier();
            rig.edits.edit(randomEdit(rng)); // made offline
            EXPECT_TRUE(rig.edits.holdsUnsent());
            EXPECT_EQ(rig.edits.undo(), EditPath::Sent::Offline);
            ASSERT_TRUE(rig.c.link.OpenLink().opened);
            EXPECT_EQ(rig.edits.sendDifferences(), EditPath::Sent::NeedsFullDownload);
            rig.settle(); // the editor's choice: its settings go out whole
            rig.edits.amplifierHoldsStore();
        }
        rig.edits.undo();
        EXPECT_NE(rig.edits.sendDifferences(), EditPath::Sent::NeedsFullDownload);
        // What the amplifier holds reads back as what the store holds.
        ParameterStore readBack;
        const AmpSettings amp = rig.sim.current();
        const BandImage image = rig.store.bandImage();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), amp.memory.begin()));
        const PlanBlock plan = rig.store.encodePlanBlock();
        EXPECT_TRUE(std::equal(plan.begin(), plan.end(), amp.memory.begin() + kBandImageSize));
        for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c) {
            const CellLayout& how = cellLayout(c);
            if (how.code != CellCode::Sel || how.addressCount == 0)
                continue;
            EXPECT_EQ(rig.sim.dspValue(how.address[0].module, how.address[0].parameter).at(0) &
                          0xFF,
                      std::uint32_t(rig.store.cellInt(c)) & 0xFF)
                << "cell " << c;
        }
    }
}

TEST(EditPath, ABSwitchSendsOnlyTheDifferingBank) {
    EditRig rig;
    rig.edits.switchTo(1);
    for (int b = 0; b < 24; ++b)
        rig.edits.edit(
            [b](Dsp& d) { return d.SendBand(5, b, filter::Peq, 3.0, 100 + 50 * b, 2.0); });
    rig.clearTrace();
    rig.edits.switchTo(0);
    EXPECT_LE(rig.sent().size(), 60u);
    EXPECT_GE(rig.sent().size(), 48u) << "each band: its record and its coefficients";
}

TEST(EditPath, AHeldScopeOutlivingTheInputsOwnScopesIsOneStep) {
    EditRig rig;
    const ModeImage start = settingsOf(rig.store);
    // A press opens the input's scope, then the gesture's; each later input closes the last
    // input scope and opens another while the gesture's stays open until the release.
    auto input = std::make_optional<EditPath::Scope>(rig.edits);
    auto held = std::make_optional<EditPath::Scope>(rig.edits);
    for (int i = 1; i <= 4; ++i) {
        input.reset();
        input.emplace(rig.edits);
        rig.edits.dsp().SendBand(5, 2, filter::Peq, i, 100 + i, 1.41);
    }
    held.reset();
    EXPECT_EQ(rig.edits.history().size(), 0u) << "the input's scope is still open";
    input.reset();
    ASSERT_EQ(rig.edits.history().size(), 1u) << "the moves are one step, none lost";
    rig.edits.undo();
    EXPECT_TRUE(Change::between(start, settingsOf(rig.store)).empty());

    // Alone, the gesture's scope is the step.
    {
        EditPath::Scope gesture(rig.edits);
        for (int i = 1; i <= 3; ++i)
            rig.edits.dsp().SendBand(5, 2, filter::Peq, -i, 200, 1.41);
    }
    EXPECT_EQ(rig.edits.history().size(), 1u);
}

// Views hear of every step, wherever it was made (a tuning's several values are one), and of
// nothing that changed nothing; undo and redo go through changed instead.
TEST(EditPath, EveryRecordedStepTellsTheViewsOnce) {
    EditRig rig;
    int stepped = 0, changed = 0;
    rig.edits.stepped = [&] { ++stepped; };
    rig.edits.changed = [&] { ++changed; };
    rig.edits.edit([](Dsp& d) {
        return d.sendDelay(DelayChannel::MainL, 1.7) && d.sendDelay(DelayChannel::RearL, 3.2) &&
               d.sendDelay(DelayChannel::Center, 4.6);
    });
    EXPECT_EQ(stepped, 1);
    rig.edits.edit([](Dsp&) { return true; });
    EXPECT_EQ(stepped, 1) << "nothing changed";
    rig.edits.editWithoutSending([](ParameterStore& s) { s.setCellInt(92, 12); },
                                 StepName{"打开", "Open"});
    EXPECT_EQ(stepped, 2);
    rig.edits.undo();
    rig.edits.redo();
    EXPECT_EQ(stepped, 2);
    EXPECT_EQ(changed, 2);
}
