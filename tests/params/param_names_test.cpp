// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/dsp.h"
#include "params/mode_file.h"
#include "params/param_names.h"

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <tuple>

using namespace q7;

namespace {

ModeImage startImage() {
    return ParameterStore().modeImage();
}

void setBand(ModeImage& m, int group, int record, const BandRecord& r) {
    r.toBytes(&m.bandImage[std::size_t(bandOffset(group, record))]);
}

void setLevel(ModeImage& m, int slot, std::uint32_t bits) {
    for (int i = 0; i < 4; ++i)
        m.speakerLevels[std::size_t(4 * slot + i)] = std::uint8_t(bits >> (24 - 8 * i));
}

void setFloatCell(ModeImage& m, int c, float v) {
    m.cells[std::size_t(c)] = floatBits(v);
}

bool validId(const std::string& id) {
    if (id.empty() || id.front() == '.' || id.back() == '.' || id.find("..") != std::string::npos)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    });
}

bool hasNonAscii(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (unsigned char)c >= 0x80; });
}

std::string text(const ParamInfo* p, std::uint32_t raw, bool english = true) {
    return p ? formatValue(*p, raw, english) : "(no entry)";
}

} // namespace

// ---- the table ----

TEST(ParamTable, EverySavedCellAndBandFieldHasAUniqueIdAndBothNames) {
    std::set<std::string> ids;
    for (const ParamInfo& p : paramTable()) {
        EXPECT_TRUE(validId(p.id)) << "'" << p.id << "'";
        EXPECT_TRUE(ids.insert(p.id).second) << "duplicate " << p.id;
        EXPECT_FALSE(p.nameEn.empty()) << p.id;
        EXPECT_TRUE(hasNonAscii(p.nameZh)) << p.id << ": '" << p.nameZh << "'";
        EXPECT_EQ(findParam(p.id), &p) << p.id;
        if (p.hasRange) {
            EXPECT_LT(p.min, p.max) << p.id;
        }
    }
    EXPECT_EQ(findParam("no.such.id"), nullptr);
    // 147 cells, 163 records of 4 fields, 20 plan bytes, 8 level slots, 6 extra bytes.
    EXPECT_EQ(paramTable().size(), 147u + 163u * 4u + 20u + 8u + 6u);

    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c) {
        const ParamInfo* p = cellParam(c);
        ASSERT_NE(p, nullptr) << "cell " << c;
        EXPECT_EQ(p->place, ParamPlace::Cell);
        EXPECT_EQ(p->index, c);
        EXPECT_EQ(p->storage == ParamStorage::Float32, isFloatCell(c)) << p->id;
    }
    for (int c : {-1, 0, 25, 173, 175, 176})
        EXPECT_EQ(cellParam(c), nullptr) << c;

    int records = 0;
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r, ++records)
            for (BandField f :
                 {BandField::Type, BandField::GainDb, BandField::FreqHz, BandField::Q}) {
                const ParamInfo* p = bandParam(g.group, r, f);
                ASSERT_NE(p, nullptr) << g.group << "/" << r;
                EXPECT_EQ(p->place, ParamPlace::Band);
                EXPECT_EQ(std::tie(p->group, p->record, p->field), std::tie(g.group, r, f));
                EXPECT_TRUE(p->id.ends_with(std::string(".") + bandFieldId(f))) << p->id;
                EXPECT_FALSE(p->fieldEn.empty());
                EXPECT_TRUE(hasNonAscii(p->fieldZh));
            }
    EXPECT_EQ(records, kBandRecordCount);
    EXPECT_EQ(bandParam(5, 28, BandField::Q), nullptr);
    EXPECT_EQ(bandParam(0, 0, BandField::Q), nullptr);
    EXPECT_EQ(planParam(20), nullptr);
    EXPECT_EQ(speakerLevelParam(8), nullptr);
    EXPECT_EQ(extraParam(6), nullptr);
}

// The banks, bands and speakers as the pages number them.
TEST(ParamTable, BandsAreNamedAsTheirPagesNumberThem) {
    struct Case {
        int group, record;
        const char *id, *en, *zh;
    };
    const Case cases[] = {
        {1, 0, "mic.a.eq.1", "CH A Mic EQ band 1", "话筒通道A均衡 第1段"},
        {1, 15, "mic.b.eq.1", "CH B Mic EQ band 1", "话筒通道B均衡 第1段"},
        {2, 7, "echo.b.eq.1", "CH B Echo EQ band 1", "回声通道B均衡 第1段"},
        {3, 6, "reverb.a.eq.7", "CH A Reverb EQ band 7", "混响通道A均衡 第7段"},
        {4, 14, "music.eq.15", "Music EQ band 15", "音乐均衡 第15段"},
        {5, 2, "main.eq.3", "MAIN EQ band 3", "前置均衡 第3段"},
        {5, 23, "main.eq.24", "MAIN EQ band 24", "前置均衡 第24段"},
        {6, 9, "rear.eq.10", "REAR EQ band 10", "后置均衡 第10段"},
        {7, 0, "center.eq.1", "Center EQ band 1", "中置均衡 第1段"},
        {9, 9, "top.eq.10", "TOP EQ band 10", "顶置均衡 第10段"},
        // The Sub keeps each visible band followed by its three hidden sections.
        {8, 0, "sub.eq.1", "SUB EQ band 1", "超低均衡 第1段"},
        {8, 4, "sub.eq.2", "SUB EQ band 2", "超低均衡 第2段"},
        {8, 5, "sub.eq.2.section.1", "SUB EQ band 2 section 1", "超低均衡 第2段 第1节"},
        {8, 19, "sub.eq.5.section.3", "SUB EQ band 5 section 3", "超低均衡 第5段 第3节"},
        // The split filter pairs of the delay page: high-pass first.
        {5, 24, "main.l.xover.hp", "Main L split HP", "前置左 分频高通"},
        {5, 27, "main.r.xover.lp", "Main R split LP", "前置右 分频低通"},
        {6, 12, "rear.r.xover.hp", "Rear R split HP", "后置右 分频高通"},
        {7, 11, "center.xover.lp", "Center split LP", "中置 分频低通"},
        {8, 20, "sub.xover.hp", "Sub split HP", "超低 分频高通"},
        {9, 11, "top.l.xover.lp", "Top L split LP", "顶置左 分频低通"},
    };
    for (const Case& c : cases) {
        const ParamInfo* p = bandParam(c.group, c.record, BandField::GainDb);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->id, std::string(c.id) + ".gain_db");
        EXPECT_EQ(p->nameEn, c.en);
        EXPECT_EQ(p->nameZh, c.zh);
        EXPECT_EQ(paramName(*p, true), std::string(c.en) + " gain");
    }
}

TEST(ParamTable, PlanAndLevelsUseTheSpeakerNumbers) {
    const std::pair<int, const char*> plan[] = {
        {0, "location.room.width_m"},   {1, "location.room.length_m"},
        {2, "location.listener.x_m"},   {3, "location.listener.y_m"},
        {4, "location.speaker.1.x_m"},  {5, "location.speaker.1.y_m"},
        {12, "location.speaker.5.x_m"}, {19, "location.speaker.8.y_m"},
    };
    for (const auto& [byte, id] : plan)
        EXPECT_EQ(planParam(byte)->id, id);
    EXPECT_EQ(planParam(12)->nameEn, "Sub x");
    // Slots run main L, main R, rear L, rear R, center, sub, top L, top R.
    const int speakerOfSlot[8] = {1, 3, 4, 6, 2, 5, 7, 8};
    for (int slot = 0; slot < 8; ++slot)
        EXPECT_EQ(speakerLevelParam(slot)->id,
                  "location.speaker." + std::to_string(speakerOfSlot[slot]) + ".level_db");
    EXPECT_EQ(speakerLevelParam(4)->nameEn, "Center level");
    EXPECT_EQ(speakerLevelParam(1)->nameZh, "前置右 电平");
}

// ---- values in the user's terms ----

TEST(ParamValues, StoredValuesReadAndPrintAsThePagesShowThem) {
    ModeImage m = startImage();
    setBand(m, 5, 2, {130, 1000, 1414, 3});
    setFloatCell(m, 119, 12.5f);     // rear L delay
    m.cells[97] = 1;                 // main compressor off
    m.cells[108] = 1;                // main muted
    m.cells[106] = 1;                // main L channel delay
    m.cells[53] = 1;                 // mic gate attack, slider at 100
    setFloatCell(m, 172, -12.0f);    // AGC level, shown 12 dB higher
    setFloatCell(m, 77, 25.0f);      // reverb time A: 40 + 25 x 49.6 ms
    m.cells[33] = 1;                 // shift off
    m.cells[41] = 3;                 // shift 3 Hz
    m.cells[32] = 0;                 // mic 1 reversed
    m.cells[40] = 1;                 // mic 2 normal
    setFloatCell(m, 99, 4.0f);       // main ratio
    m.cells[88] = std::uint32_t(-3); // pitch
    m.cells[92] = 75;                // main direct
    m.plan = {4, 6, 0x85, 0x80, 0x03, 0x7F};
    setLevel(m, 1, floatBits(-1.5f));
    m.extra[4] = 0xAB;

    struct Case {
        const ParamInfo* p;
        double value;
        const char *en, *zh;
    };
    const Case cases[] = {
        {bandParam(5, 2, BandField::GainDb), -2.0, "-2.0 dB", "-2.0 dB"},
        {bandParam(5, 2, BandField::FreqHz), 1000, "1000 Hz", "1000 Hz"},
        {bandParam(5, 2, BandField::Q), 1.414, "1.41", "1.41"},
        {bandParam(5, 2, BandField::Type), 3, "HP", "高通"},
        {cellParam(119), 12.5, "12.5 ms", "12.5 ms"},
        {cellParam(97), 0, "off", "关"},
        {cellParam(114), 1, "on", "开"},
        {cellParam(108), 1, "on", "开"},
        {cellParam(125), 0, "off", "关"},
        {cellParam(106), 1, "Channel", "通道延时"},
        {cellParam(107), 0, "High Freq", "高频延时"},
        {cellParam(53), 100, "100", "100"},
        {cellParam(172), 0, "+0.0 dB", "+0.0 dB"},
        {cellParam(77), 1280, "1280 ms", "1280 ms"},
        {cellParam(33), 1, "Off", "关闭"},
        {cellParam(41), 3, "3 Hz", "3 Hz"},
        {cellParam(32), 1, "on", "开"},
        {cellParam(40), 0, "off", "关"},
        {cellParam(99), 4, "4.0:1", "4.0:1"},
        {cellParam(88), -3, "-3", "-3"},
        {cellParam(92), 75, "75%", "75%"},
        {planParam(0), 4, "4 m", "4 m"},
        {planParam(2), -0.5, "-0.5 m", "-0.5 m"},
        {planParam(4), 0.3, "+0.3 m", "+0.3 m"},
        {planParam(5), 12.7, "+12.7 m", "+12.7 m"},
        {speakerLevelParam(1), -1.5, "-1.5 dB", "-1.5 dB"},
        {extraParam(4), 0xAB, "0xAB", "0xAB"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.p, nullptr);
        const std::uint32_t raw = rawValue(*c.p, m);
        EXPECT_DOUBLE_EQ(userValue(*c.p, m), c.value) << c.p->id;
        EXPECT_EQ(text(c.p, raw, true), c.en) << c.p->id;
        EXPECT_EQ(text(c.p, raw, false), c.zh) << c.p->id;
    }
    // The plan's encoder writes 0.0 m with the sign bit set; it reads as 0.0 m all the same.
    EXPECT_EQ(userValue(*planParam(3), m), 0.0);
    EXPECT_EQ(formatValue(*planParam(3), 0x80, true), "+0.0 m");

    const ParamInfo& type = *bandParam(8, 0, BandField::Type);
    EXPECT_EQ(formatValue(type, 13, true), "HP Q0.707");
    EXPECT_EQ(formatValue(type, 0, false), "关闭");
    EXPECT_EQ(formatValue(type, 40, true), "type 40");
}

// The pages' ranges and the conversions agree with real tunings: every factory preset reads
// inside them. A wrong scale or offset puts whole families of values outside.
TEST(ParamValues, FactoryPresetsLieInsideThePagesRanges) {
    const std::string dir = std::string(Q7_SOURCE_DIR) + "/resources/presets/";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int files = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (!name.ends_with(".q7M"))
            continue;
        ModeImage m = startImage();
        ASSERT_TRUE(readModeImage(dir + name, m)) << name;
        ++files;
        for (const ParamInfo& p : paramTable()) {
            // The presets' reverb times (120..180) run past the slider's end at 100.
            if (!p.hasRange || (p.id.starts_with("reverb.") && p.id.ends_with(".time_ms")))
                continue;
            // Bands set to off keep whatever they held.
            if (p.place == ParamPlace::Band && p.field != BandField::Type &&
                rawValue(*bandParam(p.group, p.record, BandField::Type), m) == 0)
                continue;
            const double v = userValue(p, m);
            EXPECT_TRUE(v >= p.min - 1e-9 && v <= p.max + 1e-9)
                << name << " " << p.id << " = " << v << " outside " << p.min << ".." << p.max;
        }
    }
    closedir(d);
    EXPECT_GE(files, 15);
}

// ---- differences ----

TEST(ParamDifferences, EqualImagesHaveNone) {
    EXPECT_TRUE(differences(startImage(), startImage()).empty());
    std::mt19937 rng(7);
    ModeImage m = startImage();
    for (auto& c : m.cells)
        c = rng();
    EXPECT_TRUE(differences(m, m).empty());
}

// Random images, random subsets changed: exactly the changed fields are listed, in order.
TEST(ParamDifferences, ListExactlyTheChangedFieldsInTableOrder) {
    std::mt19937 rng(20240613);
    const auto& table = paramTable();
    for (int round = 0; round < 300; ++round) {
        ModeImage a = startImage();
        for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c)
            a.cells[std::size_t(c)] = rng() % 4 == 0 ? rng() : rng() % 3;
        for (auto& b : a.bandImage)
            b = std::uint8_t(rng());
        for (auto& b : a.plan)
            b = std::uint8_t(rng());
        for (auto& b : a.speakerLevels)
            b = std::uint8_t(rng());
        for (auto& b : a.extra)
            b = std::uint8_t(rng());
        ModeImage b = a;

        // Change a random subset, each by a small step or to anything: a step of one in the
        // lowest bit is what rounding hides on screen.
        std::set<std::size_t> changed;
        const int count = int(rng() % 12);
        for (int k = 0; k < count; ++k) {
            const std::size_t i = rng() % table.size();
            const ParamInfo& p = table[i];
            const std::uint32_t flip = rng() % 2 ? 1u : (rng() | 1u);
            switch (p.place) {
            case ParamPlace::Cell:
                b.cells[std::size_t(p.index)] ^= flip;
                break;
            case ParamPlace::Band: {
                std::uint8_t* r = &b.bandImage[std::size_t(bandOffset(p.group, p.record))];
                const int at = p.field == BandField::Type ? 6 : 2 * int(p.field) - 2;
                if (p.field == BandField::Type) {
                    r[6] ^= std::uint8_t(flip) | 1;
                } else {
                    const std::uint16_t v = std::uint16_t((r[at] << 8 | r[at + 1]) ^ (flip | 1));
                    r[at] = std::uint8_t(v >> 8);
                    r[at + 1] = std::uint8_t(v);
                }
                break;
            }
            case ParamPlace::Plan:
                b.plan[std::size_t(p.index)] ^= std::uint8_t(flip) | 1;
                break;
            case ParamPlace::SpeakerLevel:
                setLevel(b, p.index, rawValue(p, b) ^ flip);
                break;
            case ParamPlace::Extra:
                b.extra[std::size_t(p.index)] ^= std::uint8_t(flip) | 1;
                break;
            }
            // Changing the same field twice may restore it.
            if (rawValue(p, a) != rawValue(p, b))
                changed.insert(i);
            else
                changed.erase(i);
        }

        const std::vector<Difference> d = differences(a, b);
        std::vector<std::size_t> listed;
        for (const Difference& x : d) {
            ASSERT_NE(x.param, nullptr);
            const ParamInfo& p = *x.param;
            listed.push_back(std::size_t(&p - table.data()));
            EXPECT_EQ(x.id, p.id);
            EXPECT_EQ(x.nameEn, p.nameEn);
            EXPECT_EQ(x.nameZh, p.nameZh);
            switch (p.place) {
            case ParamPlace::Cell:
                EXPECT_EQ(x.kind, Difference::Kind::Cell);
                EXPECT_EQ(std::tuple(x.cell, x.group, x.record, x.index),
                          std::tuple(p.index, -1, -1, -1));
                EXPECT_TRUE(x.field.empty());
                break;
            case ParamPlace::Band:
                EXPECT_EQ(x.kind, Difference::Kind::Band);
                EXPECT_EQ(std::tuple(x.cell, x.group, x.record, x.index),
                          std::tuple(-1, p.group, p.record, -1));
                EXPECT_EQ(x.field, bandFieldId(p.field));
                break;
            default:
                EXPECT_EQ(x.kind, p.place == ParamPlace::Plan ? Difference::Kind::Plan
                                  : p.place == ParamPlace::SpeakerLevel
                                      ? Difference::Kind::SpeakerLevels
                                      : Difference::Kind::Extra);
                EXPECT_EQ(std::tuple(x.cell, x.group, x.record, x.index),
                          std::tuple(-1, -1, -1, p.index));
                break;
            }
            const double ua = userValue(p, a), ub = userValue(p, b);
            EXPECT_TRUE(x.a == ua || (std::isnan(x.a) && std::isnan(ua))) << p.id;
            EXPECT_TRUE(x.b == ub || (std::isnan(x.b) && std::isnan(ub))) << p.id;
            // Never "x → x", in either language.
            EXPECT_NE(x.textA, x.textB) << p.id;
            EXPECT_NE(x.textAZh, x.textBZh) << p.id;
        }
        EXPECT_EQ(listed, std::vector<std::size_t>(changed.begin(), changed.end()))
            << "round " << round;
    }
}

// The listing order is the user's: cells ascending, then bands by group, record and field,
// then the plan, the speaker levels and the extra block.
TEST(ParamDifferences, OrderIsCellsBandsPlanLevelsExtra) {
    ModeImage a = startImage(), b = startImage();
    for (auto& c : b.cells)
        c = ~c;
    for (auto& x : b.bandImage)
        x = std::uint8_t(~x);
    for (auto& x : b.plan)
        x = std::uint8_t(~x);
    for (auto& x : b.speakerLevels)
        x = std::uint8_t(~x);
    for (auto& x : b.extra)
        x = std::uint8_t(~x);
    const std::vector<Difference> d = differences(a, b);
    ASSERT_EQ(d.size(), paramTable().size());
    auto key = [](const Difference& x) {
        const int field = x.param ? int(x.param->field) : 0;
        return std::tuple(int(x.kind), x.cell, x.group, x.record, field, x.index);
    };
    for (std::size_t i = 1; i < d.size(); ++i)
        EXPECT_LT(key(d[i - 1]), key(d[i])) << d[i - 1].id << " / " << d[i].id;
    EXPECT_EQ(d.front().id, "mic.volume");
    EXPECT_EQ(d[147].id, "mic.a.eq.1.type");
    EXPECT_EQ(d.back().id, "extra.5");
}

TEST(ParamDifferences, DescribeInBothLanguages) {
    ModeImage a = startImage(), b = startImage();
    setBand(a, 5, 2, BandRecord::encode(1, -2.0, 1000, 1.414));
    setBand(b, 5, 2, BandRecord::encode(1, 1.5, 1000, 1.414));
    setFloatCell(a, 119, 12.5f);
    setFloatCell(b, 119, 10.0f);
    // Differs only beyond the shown digits.
    setFloatCell(a, 102, 12.5f);
    setFloatCell(b, 102, std::nextafter(12.5f, 13.0f));
    a.cells[97] = 1;
    b.cells[97] = 2; // both "off" on the page
    a.plan[4] = 0x00;
    b.plan[4] = 0x80; // both 0.0 m
    const std::vector<Difference> d = differences(a, b);
    ASSERT_EQ(d.size(), 5u);
    EXPECT_EQ(describe(d[0], true), "Main Comp ON: off [1] → off [2]");
    EXPECT_EQ(describe(d[0], false), "前置压限启用：关 [1] → 关 [2]");
    EXPECT_EQ(describe(d[1], true), "Main L Delay: 12.500000 ms → 12.500001 ms");
    EXPECT_EQ(describe(d[2], true), "Rear L Delay: 12.5 ms → 10.0 ms");
    EXPECT_EQ(describe(d[2], false), "后置左 延时：12.5 ms → 10.0 ms");
    EXPECT_EQ(describe(d[3], true), "MAIN EQ band 3: gain -2.0 dB → +1.5 dB");
    EXPECT_EQ(describe(d[3], false), "前置均衡 第3段：增益 -2.0 dB → +1.5 dB");
    EXPECT_EQ(describe(d[4], true), "Main.L x: +0.0 m [0x00] → +0.0 m [0x80]");
}
