// SPDX-License-Identifier: GPL-3.0-or-later
// The bank model: one rounding rule from user values to a record, the values a record stands
// for, the Sub's two numberings and its crossover slopes.
#include "eq/eq_bank.h"
#include "params/dsp.h"
#include "params/param_names.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace q7;

TEST(BankModel, QuantiseRoundsToTheGridTheUserSees) {
    // The list shows "%.0fHz" of 2042.6 as 2043 Hz: the record keeps 2043, not 2042.
    EXPECT_EQ(quantise(1, 1.37, 2042.6, 5.0009), (BandRecord{164, 2043, 5001, 1}));
    EXPECT_EQ(quantise(1, -3.04, 45.4, 0.7071), (BandRecord{120, 45, 707, 1}));
    // Halves go away from zero, as the boxes' formats round them.
    EXPECT_EQ(quantise(1, -0.05, 99.5, 1.0006).gain, 149);
    EXPECT_EQ(quantise(1, 0.05, 99.5, 1.0006), (BandRecord{151, 100, 1001, 1}));
    // Gains beyond the bank's limits and fields beyond 16 bits saturate.
    EXPECT_EQ(quantise(4, 20.0, 70000, 80.0), (BandRecord{300, 65535, 65535, 4}));
    EXPECT_EQ(quantise(4, -99.0, -5, -1.0), (BandRecord{0, 0, 0, 4}));
}

TEST(BankModel, ARecordsValuesEncodeBackToTheSameRecord) {
    // What the graph holds and the senders design from is stored as this very record by the
    // encoder (which truncates), and snaps to it again: every gain, Q and a spread of hertz.
    for (int gain = 0; gain <= 300; ++gain)
        for (int q = 100; q <= 30000; q += 1) {
            const int hz = 20 + (gain * 7919 + q * 31) % 19981;
            const BandRecord r{std::uint16_t(gain), std::uint16_t(hz), std::uint16_t(q), 1};
            const BandValues v = bandValues(r);
            ASSERT_EQ(BandRecord::encode(v.type, v.gainDb, v.frequencyHz, v.q), r)
                << gain << " " << hz << " " << q;
            ASSERT_EQ(quantise(v.type, v.gainDb, v.frequencyHz, v.q), r)
                << gain << " " << hz << " " << q;
            if (gain % 50 != 0)
                q += 96; // every Q for a few gains, a sample of Qs for the others
        }
}

TEST(BankModel, SubNumberingsAndSlopes) {
    std::set<int> graph, store;
    for (int band = 0; band < kSubBands; ++band)
        for (int part = 0; part < 4; ++part) {
            const int g = subGraphRecord(band, part);
            graph.insert(g);
            store.insert(subStoreRecord(band, part));
            EXPECT_EQ(subStoreRecordOfGraph(g), subStoreRecord(band, part)) << band << part;
        }
    EXPECT_EQ(graph.size(), std::size_t(kSubGraphRecords));
    EXPECT_EQ(*graph.rbegin(), kSubGraphRecords - 1);
    EXPECT_EQ(store.size(), std::size_t(kSubGraphRecords));

    // Every slope of the list reads back as itself from its four type codes, in both families.
    for (int slope = 0; slope < kCrossoverSlopes; ++slope)
        for (bool low : {true, false}) {
            const auto got = crossoverOfTypes(crossoverTypes(slope, low));
            ASSERT_TRUE(got) << slope;
            EXPECT_EQ(got->slope, slope);
            EXPECT_EQ(got->lowPass, low);
        }
    EXPECT_EQ(crossoverTypes(1, false), (std::array<int, 4>{13, 13, 1, 1}));
    EXPECT_EQ(crossoverTypes(kCrossoverSlopes, true), (std::array<int, 4>{1, 1, 1, 1}));
    EXPECT_FALSE(crossoverOfTypes(subMenuTypes(4))) << "a shelf is no crossover";
    EXPECT_EQ(std::string(crossoverName(1)), "LinkwitzRiely 24dB");
}

TEST(BankModel, TitlesFixedBandsAndLayouts) {
    EXPECT_STREQ(eqBankTitle(2, true), "SUB EQ");
    EXPECT_STREQ(eqBankTitle(0, false), "音乐均衡");
    EXPECT_STREQ(eqBankTitle(12, true), "");
    for (int bank = 0; bank < kEqBankCount; ++bank)
        for (int band = 0; band < 24; ++band) {
            const bool input = bank == 0 || bank == 1 || bank == 8;
            const int want = !input ? 0 : band == 7 ? 630 : band == 10 ? 2500 : 0;
            EXPECT_EQ(fixedBandHz(bank, band), want) << bank << " " << band;
            EXPECT_EQ(isFixedBand(bank, band), want != 0);
        }
    for (int count : {4, 7, 10, 15, 20, 24})
        EXPECT_EQ(int(graphLayout(count).size()), count);
    EXPECT_TRUE(graphLayout(5).empty());
}

TEST(BankModel, RolesAgreeWithTheNamesTable) {
    // The output banks are the ones with a speaker output's cells (its mix); the effects banks
    // are a channel's echo and reverb.
    for (int bank = 0; bank < kEqBankCount; ++bank) {
        const std::string id = eqBankInfo(bank)->id;
        EXPECT_EQ(isOutputBank(bank), findParam(id + ".mix.direct") != nullptr) << id;
        EXPECT_EQ(isEffectsBank(bank), id.starts_with("echo-") || id.starts_with("reverb-")) << id;
        const bool micOrEffect = id.starts_with("mic-") || isEffectsBank(bank);
        std::optional<MicChannel> channel;
        if (micOrEffect)
            channel = id.ends_with("-a") ? MicChannel::A : MicChannel::B;
        EXPECT_EQ(micChannelOf(bank), channel) << id;
        if (isEffectsBank(bank)) {
            EXPECT_EQ(effectOf(bank), id.starts_with("echo-") ? Effect::Echo : Effect::Reverb);
            EXPECT_EQ(effectBank(*effectOf(bank), *micChannelOf(bank)), bank) << id;
        } else {
            EXPECT_FALSE(effectOf(bank)) << id;
        }
    }
    for (int bank : {-1, kEqBankCount}) {
        EXPECT_FALSE(isOutputBank(bank));
        EXPECT_FALSE(isEffectsBank(bank));
        EXPECT_FALSE(micChannelOf(bank));
    }
}
