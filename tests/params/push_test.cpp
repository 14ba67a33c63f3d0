// SPDX-License-Identifier: GPL-3.0-or-later
// The full download: its exact order and count, and a round trip through a model amplifier.
#include "params/dsp.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sstream>

using namespace q7;

namespace {

// One report reduced to what the order depends on: "D m p n", "M addr len" or "R m p n".
std::string describe(const Report& r) {
    std::ostringstream s;
    if (r[1] == 0x09)
        s << "D " << int(r[3]) << " " << int(r[4]) << " " << int(r[5]);
    else if (r[1] == 0x0A)
        s << "R " << int(r[3]) << " " << int(r[4]) << " " << int(r[5]);
    else if (r[1] == 0x85)
        s << "M " << (r[2] * 256 + r[3]) << " " << int(r[4]);
    else
        s << "? " << int(r[1]);
    return s.str();
}

// The order the amplifier expects, written out from its documented push sequence.
struct Expected {
    std::vector<std::string> items;
    void d(int m, int p, int n = 1) { items.push_back(describe(dspWriteRepeated(m, p, 0, n))); }
    void dr(int m, int first, int last, int n = 1) {
        for (int p = first; p <= last; ++p)
            d(m, p, n);
    }
    void mem(int address, int length) {
        std::ostringstream s;
        s << "M " << address << " " << length;
        items.push_back(s.str());
    }
    void read(int m, int p, int n) {
        std::ostringstream s;
        s << "R " << m << " " << p << " " << n;
        items.push_back(s.str());
    }
    void band(int group, int record) {
        mem(bandOffset(group, record), 7);
        d(group, record, 5);
    }
};

std::uint32_t f2w(float f) {
    std::uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

} // namespace

TEST(FullDownload, OrderAndCountByMode) {
    ParameterStore store;
    store.setCellInt(86, 0); // music on: fades in
    store.setCellInt(33, 1); // shift A off
    store.setCellInt(41, 3); // shift B on
    store.setCellInt(155, 1);
    store.setCellInt(26, 85); // mic ramps 0.80 .. 0.85
    store.setCellInt(85, 75); // music ramps 0.70 .. 0.75

    VirtualClock clock;
    RecordingSink sink(&clock);
    Dsp dsp(store, sink, clock);
    dsp.fullDownload(1);

    Expected e;
    e.d(1, 30);
    e.d(1, 43);
    e.d(4, 15, 2);
    e.dr(1, 33, 36);
    e.d(1, 32);
    e.d(1, 45);
    e.d(2, 15);
    e.d(3, 15);
    e.dr(1, 46, 49);
    e.d(2, 22);
    e.d(3, 21);
    e.d(1, 42);
    e.d(1, 55);
    for (int i = 0; i < 10; ++i)
        e.d(4, 16, 2);
    e.d(3, 27, 2);
    e.d(2, 29, 2);
    e.d(3, 26, 2);
    e.d(2, 28, 2);
    e.dr(5, 28, 31);
    e.dr(6, 14, 17);
    e.dr(9, 14, 17);
    e.dr(7, 12, 15);
    e.dr(8, 22, 25);
    e.d(1, 37);
    e.d(1, 40);
    e.d(3, 14);
    e.dr(3, 16, 19);
    e.d(2, 14);
    e.dr(2, 16, 20);
    e.d(1, 50);
    e.d(1, 53);
    e.d(1, 51);
    e.d(1, 52);
    e.d(3, 20);
    e.dr(3, 22, 25);
    e.d(2, 21);
    e.dr(2, 23, 27);
    e.dr(1, 56, 65);
    for (int p : {17, 20, 18, 19, 21, 22, 23})
        e.d(4, p);
    e.d(5, 32);
    e.d(5, 34);
    e.dr(5, 35, 38);
    e.d(5, 39, 2);
    e.band(5, 24);
    e.band(5, 25);
    e.d(5, 40, 2);
    e.band(5, 26);
    e.band(5, 27);
    e.d(5, 41, 2);
    for (int m : {6, 9}) {
        e.d(m, 18);
        e.dr(m, 20, 24);
        e.d(m, 25, 2);
        e.band(m, 10);
        e.band(m, 11);
        e.d(m, 26, 2);
        e.band(m, 12);
        e.band(m, 13);
        e.d(m, 27, 2);
    }
    e.d(7, 16);
    e.dr(7, 18, 20);
    e.d(7, 21, 2);
    e.band(7, 10);
    e.band(7, 11);
    e.d(7, 22);
    e.d(8, 26);
    e.dr(8, 28, 30);
    e.d(8, 31, 2);
    e.band(8, 20);
    e.band(8, 21);
    e.d(8, 32);
    e.d(5, 33, 7);
    e.d(6, 19, 7);
    e.d(9, 19, 7);
    e.d(7, 17, 7);
    e.d(8, 27, 7);
    for (int p : {41, 54, 67, 68})
        e.d(1, p);
    const std::size_t pushAll = e.items.size();
    for (int k = 0; k < 20; ++k)
        e.mem(56 * k, 56);
    e.mem(1120, 21);
    e.mem(1141, 20);
    e.mem(1161, 32);
    // Each speaker's level record, speakers 1..8: main L, center, main R, rear L, sub, rear R,
    // top L, top R.
    for (auto [m, p] :
         {std::pair{5, 42}, {7, 23}, {5, 43}, {6, 28}, {8, 33}, {6, 29}, {9, 28}, {9, 29}})
        e.d(m, p, 6);
    const int pushed[] = {30, 14, 14, 15, 10, 10, 10, 20, 10};
    for (int g = 1; g <= 9; ++g)
        e.dr(g, 0, pushed[g - 1] - 1, 5);
    for (int i = 80; i <= 85; ++i) {
        e.d(1, 30);
        e.d(1, 43);
    }
    for (int i = 70; i <= 75; ++i)
        e.d(4, 15, 2);
    e.read(1, 30, 1);
    e.read(1, 43, 1);
    e.read(4, 15, 2);

    std::vector<std::string> actual;
    for (const Report& r : sink.reports())
        actual.push_back(describe(r));
    for (std::size_t i = 0; i < std::min(actual.size(), e.items.size()); ++i)
        ASSERT_EQ(actual[i], e.items[i]) << "report " << i;
    ASSERT_EQ(actual.size(), e.items.size());
    EXPECT_EQ(pushAll, 178u);

    // Fade (9 x 30 ms), music ramp (6 x 100 ms) and the closing 50 ms, nothing else.
    EXPECT_DOUBLE_EQ(clock.nowMs(), 270.0 + 600.0 + 50.0);
    const auto entries = sink.entries();
    const std::size_t firstRamp = entries.size() - 3 - 6;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(readBe32(&entries[firstRamp + std::size_t(i)].report[6]),
                  f2w(float((70 + i) / 100.0)));
}

TEST(FullDownload, ByPowerLeavesVolumesAlone) {
    ParameterStore store;
    store.setCellInt(26, 90);
    store.setCellInt(85, 90);
    store.setCellInt(86, 1);
    store.setParametersChanged(true);
    VirtualClock clock;
    RecordingSink sink(&clock);
    Dsp dsp(store, sink, clock);
    dsp.fullDownload(0);
    for (const Report& r : sink.reports()) {
        if (r[1] != 0x09)
            continue;
        const bool volume = (r[3] == 1 && (r[4] == 30 || r[4] == 43)) || (r[3] == 4 && r[4] == 15);
        EXPECT_FALSE(volume) << describe(r);
    }
    // PushAll without the three silencing writes, an unmuted fade or a shift bypass (168), the
    // memory windows (23), the speaker level records (8), the EQ push (133) and the closing
    // reads (3).
    EXPECT_EQ(sink.size(), 168u + 23u + 8u + 133u + 3u);
    EXPECT_EQ(fullDownloadReports(store, 0), int(sink.size()));
    EXPECT_FALSE(store.parametersChanged());
    EXPECT_DOUBLE_EQ(clock.nowMs(), 50.0) << "a muted music channel does not fade";
}

TEST(VolumeRamp, StepsAndLimits) {
    auto ramp = [](int mic, int music) {
        ParameterStore store;
        store.setCellInt(26, mic);
        store.setCellInt(85, music);
        VirtualClock clock;
        RecordingSink sink(&clock);
        Dsp dsp(store, sink, clock);
        dsp.volumeRamp();
        return std::make_pair(sink.reports(), clock.nowMs());
    };
    auto [a, ta] = ramp(79, 69);
    EXPECT_EQ(a.size(), 3u) << "below the ramp thresholds everything goes at once";
    EXPECT_EQ(readBe32(&a[0][6]), f2w(0.79f));
    EXPECT_EQ(ta, 0.0);
    auto [b, tb] = ramp(80, 70);
    EXPECT_EQ(b.size(), 3u);
    EXPECT_EQ(tb, 100.0);
    auto [c, tc] = ramp(100, 100);
    EXPECT_EQ(c.size(), 42u + 31u);
    EXPECT_EQ(readBe32(&c[41][6]), f2w(1.0f));
    EXPECT_EQ(tc, 3100.0);
    // A volume no amplifier offers (from a damaged file) must not ramp for hours.
    auto [d, td] = ramp(2000000000, 2000000000);
    EXPECT_EQ(d.size(), 3u);
    EXPECT_EQ(td, 0.0);
}

// A tiny model of the amplifier: DSP values by address and the parameter memory.
struct ModelAmplifier {
    std::map<std::pair<int, int>, std::vector<std::uint32_t>> dsp;
    std::array<std::uint8_t, 1193> memory{};

    void receive(const Report& r) {
        if (r[1] == 0x09) {
            std::vector<std::uint32_t> words;
            for (int i = 0; i < r[5]; ++i)
                words.push_back(readBe32(&r[6 + 4 * std::size_t(i)]));
            dsp[{r[3], r[4]}] = words;
        } else if (r[1] == 0x85) {
            const int address = r[2] * 256 + r[3];
            for (int i = 0; i < r[4]; ++i)
                memory.at(std::size_t(address + i)) = r[5 + std::size_t(i)];
        }
    }

    // Fills a store the way a synchronisation does.
    void readInto(ParameterStore& s) const {
        for (const DspRequest& q : dspReadList()) {
            Report r{};
            r[1] = 0x0A;
            r[3] = q.module;
            r[4] = q.parameter;
            r[5] = q.count;
            auto it = dsp.find({q.module, q.parameter});
            if (it != dsp.end())
                for (std::size_t i = 0; i < it->second.size() && i < q.count; ++i)
                    writeBe32(&r[6 + 4 * i], it->second[i]);
            decodeDspReply(s, r);
        }
        s.writeBandImage(0, std::span(memory).first(1141));
        s.writePlanBlock(0, std::span(memory).subspan(1141, 20));
        s.writeSpeakerLevelBlock(0, std::span(memory).subspan(1161, 32));
    }
};

void randomise(ParameterStore& s, std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c) {
        switch (cellLayout(c).code) {
        case CellCode::C100:
            s.setCellInt(c, pick(-1000, 1000));
            break;
        case CellCode::C1e4:
        case CellCode::C1e5:
            s.setCellInt(c, pick(0, 100000));
            break;
        case CellCode::C1e7:
            s.setCellInt(c, pick(0, 3000000));
            break;
        case CellCode::Sel:
        case CellCode::Mute:
        case CellCode::Flag:
            s.setCellInt(c, pick(0, 1));
            break;
        case CellCode::Pitch:
            s.setCellInt(c, pick(-5, 5));
            break;
        case CellCode::Ms:
            s.setCellFloat(c, float(real(0, 400)));
            break;
        case CellCode::Hz:
            s.setCellInt(c, pick(0, 5));
            break;
        case CellCode::Raw:
            s.setCellFloat(c, float(real(-30, 0)));
            break;
        case CellCode::ReverbTime:
            s.setCellFloat(c, float(real(0, 1000)));
            break;
        case CellCode::Comp:
            break; // set below as a group
        case CellCode::None:
            break;
        }
    }
    for (OutputGroup g : {OutputGroup::Main, OutputGroup::Rear, OutputGroup::Top,
                          OutputGroup::Center, OutputGroup::Sub}) {
        const int c = compressorInfo(g).firstCell;
        s.setCellFloat(c, float(real(-40, 0)));
        s.setCellFloat(c + 1, float(real(1, 20)));
        s.setCellFloat(c + 2, float(real(1, 200)));
        s.setCellFloat(c + 3, float(real(10, 2000)));
    }
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r)
            s.setBand(
                g.group, r,
                BandRecord::encode(pick(0, 21), real(-15, 15), pick(20, 20000), real(0.1, 10)));
    for (int i = 4; i <= 21; ++i)
        s.setCellFloat(i, float(pick(-50, 50) / 10.0));
    s.setCellInt(22, pick(1, 10));
    s.setCellInt(23, pick(1, 10));
    for (int k = 0; k < 8; ++k)
        s.setSpeakerLevelSlot(k, float(real(-20, 3)));
}

// Whatever the encodings can carry comes back unchanged after a full download and a read-back.
TEST(FullDownload, RoundTripsThroughTheAmplifierOnRandomStores) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 60; ++round) {
        const int bymode = round % 2;
        ParameterStore source;
        randomise(source, rng);
        VirtualClock clock;
        RecordingSink sink(&clock);
        Dsp dsp(source, sink, clock);
        dsp.fullDownload(bymode);

        ModelAmplifier amp;
        for (const Report& r : sink.reports())
            amp.receive(r);

        // Every coefficient write matches the band record that went to memory.
        for (const auto& [address, words] : amp.dsp) {
            if (words.size() != 5)
                continue;
            const auto [group, record] = address;
            const int offset = bandOffset(group, record);
            ASSERT_GE(offset, 0);
            const BandRecord rec = BandRecord::fromBytes(&amp.memory[std::size_t(offset)]);
            const auto expected = codec::coefficientWords(DesignBiquad(
                rec.type, rec.gainDb(), rec.frequency, rec.qValue(), 0.0, kEqSampleRate));
            EXPECT_EQ(words, std::vector<std::uint32_t>(expected.begin(), expected.end()))
                << "group " << group << " record " << record;
        }

        ParameterStore back;
        amp.readInto(back);
        for (int c = 4; c <= kSavedLastCell; ++c) {
            if (c == 24 || c == 25)
                continue;
            if (bymode == 0 && (c == 26 || c == 85))
                continue; // volumes stay with the amplifier
            const CellLayout& how = cellLayout(c);
            SCOPED_TRACE("round " + std::to_string(round) + " cell " + std::to_string(c));
            if (how.code == CellCode::Ms) {
                EXPECT_EQ(codec::msToSamples(back.cellFloat(c)),
                          codec::msToSamples(source.cellFloat(c)));
            } else if (how.code == CellCode::Comp) {
                // Times read back half a sample (1/96 ms) long: the amplifier's own inverse.
                EXPECT_NEAR(back.cellFloat(c), source.cellFloat(c),
                            std::abs(source.cellFloat(c)) * 1e-4 + 0.011);
            } else if (c >= 4 && c <= 21) {
                EXPECT_FLOAT_EQ(back.cellFloat(c), source.cellFloat(c));
            } else {
                EXPECT_EQ(back.cellBits(c), source.cellBits(c));
            }
        }
        EXPECT_EQ(back.bandImage(), source.bandImage());
        EXPECT_EQ(back.planBlock(), source.planBlock());
        EXPECT_EQ(back.speakerLevelBlock(), source.speakerLevelBlock());
        // The DSP plays the levels the block holds: each speaker's record carries its gain.
        const std::pair<int, int> levelAt[8] = {{5, 42}, {5, 43}, {6, 28}, {6, 29},
                                                {7, 23}, {8, 33}, {9, 28}, {9, 29}};
        for (int slot = 0; slot < 8; ++slot) {
            const auto it = amp.dsp.find(levelAt[slot]);
            ASSERT_NE(it, amp.dsp.end()) << "slot " << slot;
            ASSERT_EQ(it->second.size(), 6u);
            const float gain = float(std::pow(10.0, double(source.speakerLevelSlot(slot)) / 20.0));
            EXPECT_EQ(it->second[1], f2w(gain)) << "slot " << slot;
            EXPECT_EQ(it->second[5], f2w(gain)) << "slot " << slot;
        }
        if (HasFailure())
            break;
    }
}
