// SPDX-License-Identifier: GPL-3.0-or-later
// Filter lists as real programs write them, read into banks within their limits, and written
// back so that an export imported again gives the same bank.
#include "eq/filter_text.h"

#include "banks.h"

#include <gtest/gtest.h>
#include <random>

using namespace q7;
using namespace q7::test;

namespace {

const ImportLine* lineAt(const ImportPlan& p, int line) {
    for (const ImportLine& l : p.lines)
        if (l.line == line)
            return &l;
    return nullptr;
}

} // namespace

TEST(FilterText, NumbersAsTheFilesWriteThem) {
    EXPECT_EQ(parseFilterNumber("63.5", true), 63.5);
    EXPECT_EQ(parseFilterNumber("63,5", true), 63.5);
    EXPECT_EQ(parseFilterNumber("-5,2", false), -5.2);
    EXPECT_EQ(parseFilterNumber("+2.50", false), 2.5);
    // REW's grouped thousands: a frequency that would be below 20 Hz.
    EXPECT_EQ(parseFilterNumber("1.000", true), 1000.0);
    EXPECT_EQ(parseFilterNumber("12.500", true), 12500.0);
    EXPECT_EQ(parseFilterNumber("1,000", true), 1000.0);
    EXPECT_EQ(parseFilterNumber("1.000", false), 1.0) << "only frequencies are grouped";
    EXPECT_EQ(parseFilterNumber("20.000", true), 20.0) << "20 Hz is a frequency of its own";
    EXPECT_EQ(parseFilterNumber("2.5", true), 2.5) << "not grouped: stays, to be clamped";
    EXPECT_EQ(parseFilterNumber("1.000,5", true), 1000.5);
    EXPECT_EQ(parseFilterNumber("1,000.5", true), 1000.5);
    EXPECT_FALSE(parseFilterNumber("", false));
    EXPECT_FALSE(parseFilterNumber("abc", false));
    EXPECT_FALSE(parseFilterNumber("nan", false));
    EXPECT_FALSE(parseFilterNumber("1e999", false));
}

TEST(FilterText, RewGenericExportWithHeaderCrlfBomAndCommaDecimals) {
    const std::string text = "\xEF\xBB\xBF"
                             "Filter Settings file\r\n\r\nRoom EQ V5.18\r\nDated: 03.11.2026\r\n"
                             "\r\nNotes:\r\n\r\nEqualiser: Generic\r\nAverage 1\r\n"
                             "Filter  1: ON  PK       Fc    63,00 Hz  Gain  -5,20 dB  Q  4,000\r\n"
                             "Filter  2: ON  PK       Fc 1.000 Hz    Gain  -3,0 dB  Q  1,41\r\n"
                             "Filter  3: ON  None\r\n"
                             "Filter  4: ON  LS       Fc    80,0 Hz  Gain   4,0 dB\r\n";
    const FilterText f = parseFilterText(text);
    ASSERT_EQ(f.filters.size(), 3u);
    EXPECT_EQ(f.filters[0].number, 1);
    EXPECT_EQ(f.filters[0].kind, TextFilterKind::Peaking);
    EXPECT_DOUBLE_EQ(f.filters[0].fcHz, 63.0);
    EXPECT_DOUBLE_EQ(f.filters[0].gainDb, -5.2);
    EXPECT_DOUBLE_EQ(f.filters[0].q, 4.0);
    EXPECT_DOUBLE_EQ(f.filters[1].fcHz, 1000.0);
    EXPECT_EQ(f.filters[2].kind, TextFilterKind::LowShelf);
    EXPECT_NEAR(f.filters[2].q, 0.7071, 1e-9) << "a plain shelf is S = 1";
    ASSERT_EQ(f.skipped.size(), 1u);
    EXPECT_EQ(f.skipped[0].line, 12);
    EXPECT_FALSE(f.preampDb);
}

TEST(FilterText, EqualizerApoAndAutoEqForms) {
    const FilterText f = parseFilterText("# AutoEq\n"
                                         "Preamp: -6.2 dB\n"
                                         "Filter 1: ON LSC Fc 105 Hz Gain 5.5 dB Q 0.70\n"
                                         "Filter 2: ON PEQ Fc 2000 Hz Gain -2 dB BW Oct 1\n"
                                         "Filter 3: ON HSC 12dB Fc 8000 Hz Gain -3 dB\n"
                                         "Filter 4: ON LS 6dB Fc 100 Hz Gain 6 dB\n"
                                         "Filter 5: ON Modal Fc 40 Hz Gain -8 dB Q 10\n"
                                         "Filter 6: ON HPQ Fc 30 Hz Q 0.5\n"
                                         "Filter 7: ON LP Fc 12 kHz\n"
                                         "Filter: ON PK Fc 300 Hz Gain 1 dB Q 2\n"
                                         "Filter 9: OFF PK Fc 100 Hz Gain 2 dB Q 1\n"
                                         "Filter 10: ON NO Fc 50 Hz\n"
                                         "Filter 11: ON AP Fc 50 Hz Q 1\n"
                                         "Filter 12: ON BP Fc 50 Hz Q 1\n"
                                         "Filter 13: ON PK Fc abc Hz Gain 1 dB Q 1\n"
                                         "Filter 14: ON PK Gain 1 dB Q 1\n");
    ASSERT_TRUE(f.preampDb);
    EXPECT_DOUBLE_EQ(*f.preampDb, -6.2);
    ASSERT_EQ(f.filters.size(), 8u);
    EXPECT_EQ(f.filters[0].kind, TextFilterKind::LowShelf);
    EXPECT_DOUBLE_EQ(f.filters[0].q, 0.70);
    EXPECT_NEAR(f.filters[1].q, 1.4142, 1e-4) << "one octave";
    EXPECT_EQ(f.filters[2].kind, TextFilterKind::HighShelf);
    EXPECT_NEAR(f.filters[2].q, 0.7071, 1e-4) << "12 dB is S = 1";
    // 6 dB is S = 0.5: 1/Q = sqrt((A + 1/A)(1/S - 1) + 2) with A = 10^(6/40).
    const double a = std::pow(10.0, 6.0 / 40);
    EXPECT_NEAR(f.filters[3].q, 1 / std::sqrt(a + 1 / a + 2), 1e-9);
    EXPECT_EQ(f.filters[4].kind, TextFilterKind::Peaking);
    EXPECT_EQ(f.filters[5].kind, TextFilterKind::HighPass);
    EXPECT_DOUBLE_EQ(f.filters[6].fcHz, 12000.0);
    EXPECT_EQ(f.filters[7].number, -1);
    EXPECT_EQ(f.skipped.size(), 6u) << "OFF, NO, AP, BP and two unreadable lines";
}

TEST(FilterText, ImportMapsOntoTheBankAndReportsWhatItChanged) {
    const FilterText f = parseFilterText("Preamp: -3 dB\n"
                                         "Filter 1: ON PK Fc 10 Hz Gain 20 dB Q 40\n"
                                         "Filter 2: ON LP Fc 25000 Hz Gain 6 dB Q 5\n"
                                         "Filter 3: ON PK Fc 100.4 Hz Gain -3.04 dB Q 1.4142\n"
                                         "Filter 4: OFF PK Fc 100 Hz Gain 2 dB Q 1\n");
    ParameterStore s;
    s.setBand(9, 5, BandRecord::encode(filter::Peq, 4.0, 900, 2.0)); // not flat: flattened
    const ImportPlan p = planImport(readBank(s, 11), f);
    EXPECT_EQ(p.applied, 3);
    const BandRecord& b0 = p.result.band(0);
    EXPECT_EQ(b0.type, filter::Peq);
    EXPECT_EQ(b0.gain, 300);
    EXPECT_EQ(b0.frequency, 20);
    EXPECT_EQ(b0.q, 30000);
    EXPECT_EQ(lineAt(p, 2)->outcome, ImportLine::Outcome::Adjusted);
    EXPECT_EQ(lineAt(p, 2)->notes.size(), 3u) << "gain, frequency and Q";
    const BandRecord& b1 = p.result.band(1);
    EXPECT_EQ(b1.type, filter::LowPass);
    EXPECT_EQ(b1.gain, 150) << "a pass filter carries no gain";
    EXPECT_EQ(b1.frequency, 20000);
    EXPECT_EQ(b1.q, 2000);
    const BandRecord& b2 = p.result.band(2);
    EXPECT_EQ(b2.frequency, 100);
    EXPECT_EQ(b2.gain, 120) << "-3.04 rounds to -3.0";
    EXPECT_EQ(b2.q, 1414);
    EXPECT_EQ(lineAt(p, 4)->outcome, ImportLine::Outcome::Adjusted) << "rounded, and said so";
    EXPECT_EQ(lineAt(p, 4)->notes.size(), 2u);
    EXPECT_EQ(lineAt(p, 5)->outcome, ImportLine::Outcome::Skipped);
    for (int k = 3; k < 10; ++k) {
        EXPECT_EQ(p.result.band(k).type, filter::Peq) << k;
        EXPECT_EQ(p.result.band(k).gain, 150) << k;
    }
    EXPECT_EQ(p.result.band(5).frequency, 900) << "a band set flat keeps its frequency";
    // Split filter pairs of the Top are not bands: untouched.
    ASSERT_EQ(p.result.records.size(), 10u);
    ASSERT_EQ(p.notes.size(), 2u);
    EXPECT_NE(p.notes[0].en.find("-3.0 dB"), std::string::npos);
    EXPECT_NE(p.notes[1].en.find("band 6 set flat"), std::string::npos) << p.notes[1].en;
    for (const ImportLine& l : p.lines)
        for (const Note& n : l.notes)
            EXPECT_FALSE(n.zh.empty() || n.en.empty());
}

TEST(FilterText, FiltersBeyondTheBankAreDroppedAndFixedBandsKept) {
    std::string text;
    for (int i = 1; i <= 16; ++i)
        text += "Filter " + std::to_string(i) + ": ON PK Fc " + std::to_string(100 * i) +
                " Hz Gain -1 dB Q 2\n";
    for (int bank : {0, 1, 8}) {
        const EqBankState start = startBank(bank);
        const ImportPlan p = planImport(start, parseFilterText(text));
        EXPECT_EQ(p.applied, 13) << "15 bands, two of them fixed";
        int dropped = 0;
        for (const ImportLine& l : p.lines)
            dropped += l.outcome == ImportLine::Outcome::Dropped;
        EXPECT_EQ(dropped, 3);
        EXPECT_EQ(p.result.band(7), start.band(7));
        EXPECT_EQ(p.result.band(10), start.band(10));
        EXPECT_EQ(p.result.band(8).frequency, 800) << "filter 8 goes to the next free band";
    }
    // The Sub: a band and its sections; 5 bands.
    const ImportPlan sub = planImport(startBank(2), parseFilterText(text));
    EXPECT_EQ(sub.applied, 5);
    for (int k = 0; k < 5; ++k)
        for (int i = 1; i <= 3; ++i) {
            const BandRecord& s = sub.result.records[std::size_t(4 * k + i)];
            EXPECT_EQ(s.type, filter::Peq);
            EXPECT_EQ(s.gain, 150);
            EXPECT_EQ(s.frequency, sub.result.band(k).frequency);
        }
}

TEST(FilterText, ExportThenImportGivesBackTheSameBank) {
    std::mt19937 rng(2026);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 300; ++round) {
        const int bank = round % kEqBankCount;
        EqBankState s = startBank(bank);
        for (int k = 0; k < s.bandCount(); ++k) {
            if (isFixedBand(bank, k)) {
                s.band(k).gain = std::uint16_t(pick(0, 300));
                continue;
            }
            const int type = pick(1, 5);
            const bool pass = type == filter::LowPass || type == filter::HighPass;
            const int q = type == filter::Peq ? pick(100, 30000) : pick(100, 2000);
            s.band(k) =
                BandRecord{std::uint16_t(pass ? 150 : pick(0, 300)), std::uint16_t(pick(20, 20000)),
                           std::uint16_t(q), std::uint8_t(type)};
            if (bank == 2) {
                for (int i = 1; i <= 3; ++i)
                    s.records[std::size_t(4 * k + i)] =
                        BandRecord{150, s.band(k).frequency, s.band(k).q, filter::Peq};
                // Every slope of the output page, in either family.
                if (pick(0, 2) == 0)
                    setCrossover(s, k, Crossover{pick(0, kCrossoverSlopes - 1), pick(0, 1) == 1},
                                 pick(20, 20000), pick(100, 2000));
            }
        }
        const std::string text = formatFilterText(s);
        const ImportPlan p = planImport(startBank(bank), parseFilterText(text));
        ASSERT_EQ(p.result, s) << "bank " << bank << "\n" << text;
    }
}

TEST(FilterText, ImportIntoTheSubKeepsItsCrossover) {
    // The start state's band 5 is a Butterworth 24 dB low-pass at 100 Hz.
    const EqBankState start = startBank(2);
    ASSERT_TRUE(crossoverOf(start, 4));
    const ImportPlan p =
        planImport(start, parseFilterText("Filter 1: ON PK Fc 50 Hz Gain -3 dB Q 2\n"
                                          "Filter 2: ON PK Fc 70 Hz Gain -2 dB Q 3\n"));
    for (int i = 16; i < 20; ++i)
        EXPECT_EQ(p.result.records[std::size_t(i)], start.records[std::size_t(i)]) << i;
    bool said = false;
    for (const Note& n : p.notes)
        said |= n.en.find("band 5 keeps its crossover: Butterworth 24dB LP 100 Hz") !=
                std::string::npos;
    EXPECT_TRUE(said);
    // A line that names the band replaces it, and says so.
    const ImportPlan q =
        planImport(start, parseFilterText("Filter 5: ON PK Fc 60 Hz Gain -3 dB Q 2\n"));
    EXPECT_EQ(q.result.band(4).type, filter::Peq);
    ASSERT_EQ(q.lines.size(), 1u);
    EXPECT_NE(q.lines[0].notes.at(0).en.find("replaces the crossover"), std::string::npos);
}

TEST(FilterText, AFileThatGroupsItsFrequenciesIsReadSoThroughout) {
    const FilterText f = parseFilterText("Filter 1: ON PK Fc 1.000 Hz Gain -3 dB Q 1\n"
                                         "Filter 2: ON LP Fc 20.000 Hz\n");
    ASSERT_EQ(f.filters.size(), 2u);
    EXPECT_EQ(f.filters[1].fcHz, 20000.0) << "not a 20 Hz low-pass that mutes the output";
    const FilterText g = parseFilterText("Filter 1: ON LP Fc 20.000 Hz\n");
    EXPECT_EQ(g.filters.at(0).fcHz, 20.0);
}

TEST(FilterText, WhatReadingChangedIsSaid) {
    const ImportPlan p =
        planImport(startBank(5), parseFilterText("Filter 1: ON PK Fc 42.5 Hz Gain -3.04 dB Q 0\n"
                                                 "Filter 2: ON PK Fc 100 Hz Q 2\n"
                                                 "Filter 3: ON LS 6dB Fc 100 Hz Gain 18 dB\n"));
    ASSERT_EQ(p.lines.size(), 3u);
    std::string all;
    for (const ImportLine& l : p.lines)
        for (const Note& n : l.notes)
            all += n.en + "|";
    EXPECT_NE(all.find("invalid Q: 1.41 taken"), std::string::npos) << all;
    EXPECT_NE(all.find("frequency rounded to 43 Hz"), std::string::npos) << all;
    EXPECT_NE(all.find("gain rounded to -3.0 dB"), std::string::npos) << all;
    EXPECT_NE(all.find("no gain given: 0 dB"), std::string::npos) << all;
    // The slope's Q is worked out for the gain the band gets, 15 dB.
    const double a = std::pow(10.0, 15.0 / 40);
    EXPECT_EQ(p.result.band(2).q, std::lround(1000 / std::sqrt(a + 1 / a + 2)));
}

TEST(FilterText, SubCrossoverSlopesExportAsTheirSections) {
    // Butterworth 24 dB low-pass at 80 Hz: codes 18 and 20, then two flat sections.
    EqBankState s = subWithLowPass24(80);
    const std::string text = formatFilterText(s);
    EXPECT_EQ(text.substr(0, text.find("Filter 2")),
              "# Sub band 1 crossover: Butterworth 24dB low-pass (slope 9, Fc 80 Hz, Q 0.707)\n"
              "Filter 1: ON LPQ Fc 80 Hz Gain 0.0 dB Q 1.307\n"
              "Filter 1: ON LPQ Fc 80 Hz Gain 0.0 dB Q 0.541\n");
    // Read into another bank, the sections are plain low-passes.
    const ImportPlan main = planImport(startBank(5), parseFilterText(text));
    EXPECT_EQ(main.result.band(0).type, filter::LowPass);
    EXPECT_EQ(main.result.band(1).type, filter::LowPass);
}

TEST(FilterText, HostileInputNeverOverrunsOrHangs) {
    std::mt19937 rng(7);
    const std::string alphabet = "Filter :ONOFFPKLSHSQBWOctFcHzGaindB0123456789.,-+ \r\n\t\xEF\xBB";
    for (int round = 0; round < 2000; ++round) {
        std::string t;
        const int n = int(rng() % 400);
        for (int i = 0; i < n; ++i)
            t += alphabet[rng() % alphabet.size()];
        const FilterText f = parseFilterText(t);
        const ImportPlan p = planImport(startBank(int(rng() % 12)), f);
        for (int k = 0; k < p.result.bandCount(); ++k) {
            const BandRecord& r = p.result.band(k);
            EXPECT_LE(r.gain, 300);
            EXPECT_GE(r.frequency, 20);
            EXPECT_LE(r.frequency, 20000);
        }
    }
    const std::string huge(kFilterTextMaxBytes * 2, 'F');
    EXPECT_TRUE(parseFilterText(huge).filters.empty());
}
