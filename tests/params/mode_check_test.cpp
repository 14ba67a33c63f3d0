// SPDX-License-Identifier: GPL-3.0-or-later
// Mode files checked value by value: what legitimately saved files hold loads (clamped where it
// lies outside a page's range), what no writer makes refuses the file with the value named.
#include "params/mode_check.h"
#include "params/mode_file.h"
#include "protocol/report.h"

#include <cmath>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>

using namespace q7;

namespace {

ModeImage presetImage(const std::string& name) {
    ModeImage m = ParameterStore().modeImage();
    EXPECT_TRUE(readModeImage(std::string(Q7_SOURCE_DIR) + "/resources/presets/" + name, m));
    return m;
}

void setCell(ModeImage& m, const char* id, std::uint32_t raw) {
    const ParamInfo* p = findParam(id);
    ASSERT_NE(p, nullptr) << id;
    m.cells[std::size_t(p->index)] = raw;
}

void setBandField(ModeImage& m, int group, int record, BandField f, std::uint16_t v) {
    const int at = bandOffset(group, record);
    BandRecord r = BandRecord::fromBytes(&m.bandImage[std::size_t(at)]);
    if (f == BandField::Type)
        r.type = std::uint8_t(v);
    else if (f == BandField::GainDb)
        r.gain = v;
    else if (f == BandField::FreqHz)
        r.frequency = v;
    else
        r.q = v;
    r.toBytes(&m.bandImage[std::size_t(at)]);
}

std::string refusedId(const ModeFileCheck& c) {
    return c.refusal ? c.refusal->param->id : std::string();
}

std::vector<std::string> clampedIds(const ModeFileCheck& c) {
    std::vector<std::string> ids;
    for (const ValueProblem& p : c.clamped)
        ids.push_back(p.param->id);
    return ids;
}

} // namespace

TEST(ModeCheck, FactoryPresetsAndTheAmplifiersOwnValuesLoadUnchanged) {
    DIR* d = opendir((std::string(Q7_SOURCE_DIR) + "/resources/presets/").c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (!name.ends_with(".q7M"))
            continue;
        ++files;
        const ModeImage m = presetImage(name);
        const ModeFileCheck c = checkModeImage(m);
        EXPECT_FALSE(c.refused()) << name << ": " << describeRefusal(*c.refusal, true);
        EXPECT_TRUE(c.clamped.empty()) << name << ": " << describeClamp(c.clamped[0], true);
    }
    closedir(d);
    EXPECT_EQ(files, 15);

    // Float rounding inside the range and the page's ends themselves are no problem.
    ModeImage m = presetImage("427.q7M");
    setCell(m, "main.comp.release_ms", floatBits(1000.0f));
    setCell(m, "main.l.delay_ms", floatBits(1.5f));
    setCell(m, "music.pitch", std::uint32_t(-5));
    setCell(m, "mic.a.shift.freq_hz", 5);
    EXPECT_FALSE(checkModeImage(m).refused());
    EXPECT_TRUE(checkModeImage(m).clamped.empty());
}

TEST(ModeCheck, TheStartSettingsAndRoundingAreClampedAndListed) {
    // What an editor that never met an amplifier saves: zeros where the pages start higher.
    const ModeImage start = ParameterStore().modeImage();
    const ModeFileCheck c = checkModeImage(start);
    ASSERT_FALSE(c.refused()) << describeRefusal(*c.refusal, true);
    const auto ids = clampedIds(c);
    for (const char* id :
         {"main.comp.ratio", "main.comp.attack_ms", "echo.a.time_ms", "mic.gate.attack",
          "music.agc.level_db", "location.room.width_m", "sub.delay_ms"})
        EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
    const ParamInfo& ratio = *findParam("main.comp.ratio");
    EXPECT_EQ(bitsFloat(rawValue(ratio, c.image)), 1.0f);
    EXPECT_EQ(userValue(*findParam("echo.a.time_ms"), c.image), 180.0);
    EXPECT_EQ(userValue(*findParam("mic.gate.attack"), c.image), 100.0);
    EXPECT_EQ(userValue(*findParam("location.room.width_m"), c.image), 1.0);
    // Cells inside their ranges are left alone, and what loads passes the check as it is.
    EXPECT_EQ(c.image.cells[cell::MicVolume], 0u);
    const ModeFileCheck again = checkModeImage(c.image);
    EXPECT_FALSE(again.refused());
    EXPECT_TRUE(again.clamped.empty()) << describeClamp(again.clamped[0], true);

    ModeImage m = presetImage("427.q7M");
    setCell(m, "main.comp.attack_ms", floatBits(0.995f)); // a hair below would print as 1 and load
    setCell(m, "rear.comp.threshold_db", floatBits(0.3f));
    setCell(m, "music.pitch", 7);           // the older amplifiers' range
    setCell(m, "music.agc.level_db", 0);    // +12 dB on the dialog's scale
    setBandField(m, 5, 0, BandField::Q, 0); // a PEQ of Q 0
    setBandField(m, 5, 1, BandField::FreqHz, 20100);
    m.plan[0] = 40;   // the room, kept for the location page only
    m.plan[5] = 0x7F; // speaker 1 at +12.7 m
    writeBe32(&m.speakerLevels[8], floatBits(std::nanf("")));
    const ModeFileCheck k = checkModeImage(m);
    ASSERT_FALSE(k.refused()) << describeRefusal(*k.refusal, true);
    EXPECT_EQ(clampedIds(k),
              (std::vector<std::string>{"music.pitch", "main.comp.attack_ms",
                                        "rear.comp.threshold_db", "music.agc.level_db",
                                        "main.eq.1.q", "main.eq.2.freq_hz", "location.room.width_m",
                                        "location.speaker.1.y_m", "location.speaker.4.level_db"}))
        << ::testing::PrintToString(clampedIds(k));
    EXPECT_EQ(std::int32_t(k.image.cells[cell::MusicPitch]), 5);
    EXPECT_EQ(bitsFloat(k.image.cells[cell::MusicAgcLevel]), -6.0f);
    EXPECT_EQ(BandRecord::fromBytes(&k.image.bandImage[std::size_t(bandOffset(5, 0))]).q, 100);
    EXPECT_EQ(BandRecord::fromBytes(&k.image.bandImage[std::size_t(bandOffset(5, 1))]).frequency,
              20000);
    EXPECT_EQ(k.image.plan[0], 10);
    EXPECT_EQ(k.image.plan[5], 50);
    EXPECT_EQ(bitsFloat(readBe32(&k.image.speakerLevels[8])), 0.0f);
    EXPECT_EQ(describeClamp(k.clamped[0], true),
              "Music Pitch (music.pitch): +7 → +5 (range -5..+5)");
    EXPECT_EQ(describeClamp(k.clamped[4], false),
              "前置均衡 第1段 Q值 (main.eq.1.q)：0.00 → 0.10（范围 0.100..30.000）");
}

TEST(ModeCheck, ValuesNoWriterMakesRefuseTheFileNamingTheFirst) {
    // The damage seen on the simulator: a reverb level of -1793185536 % and a 89478488 ms echo.
    ModeImage m = presetImage("430.q7M");
    setCell(m, "reverb.a.level", std::uint32_t(-1793185536));
    setCell(m, "echo.b.time_ms", floatBits(89478488.0f));
    ModeFileCheck c = checkModeImage(m);
    ASSERT_TRUE(c.refused());
    EXPECT_EQ(refusedId(c), "echo.b.time_ms") << "the first in the table's order";
    EXPECT_EQ(describeRefusal(*c.refusal, true),
              "Mic CH B Echo Time (echo.b.time_ms) is 89478488 ms, outside 180..260 ms");
    setCell(m, "echo.b.time_ms", floatBits(200.0f));
    c = checkModeImage(m);
    EXPECT_EQ(describeRefusal(*c.refusal, false),
              "话筒通道A 混响电平 (reverb.a.level) 为 -1793185536%，超出范围 0..100%");

    struct Case {
        const char* what;
        std::function<void(ModeImage&)> spoil;
        const char* id;
    };
    const std::vector<Case> cases = {
        {"a switch other than its two values", [](ModeImage& x) { setCell(x, "main.mute", 2); },
         "main.mute"},
        {"routing neither full nor nothing", [](ModeImage& x) { setCell(x, "mic.port.2.to_b", 1); },
         "mic.port.2.to_b"},
        {"a volume past the ribbon's 99", [](ModeImage& x) { setCell(x, "music.volume", 100); },
         "music.volume"},
        {"a NaN delay",
         [](ModeImage& x) { setCell(x, "top.r.delay_ms", floatBits(std::nanf(""))); },
         "top.r.delay_ms"},
        {"an infinite ratio",
         [](ModeImage& x) { setCell(x, "sub.comp.ratio", floatBits(INFINITY)); }, "sub.comp.ratio"},
        {"a pitch beyond any amplifier's", [](ModeImage& x) { setCell(x, "music.pitch", 9); },
         "music.pitch"},
        {"a shift of 6 Hz", [](ModeImage& x) { setCell(x, "mic.b.shift.freq_hz", 6); },
         "mic.b.shift.freq_hz"},
        {"a crossover type on a main band",
         [](ModeImage& x) { setBandField(x, 5, 3, BandField::Type, 9); }, "main.eq.4.type"},
        {"a band gain of +50 dB",
         [](ModeImage& x) { setBandField(x, 4, 2, BandField::GainDb, 650); }, "music.eq.3.gain_db"},
        {"a Sub section at 0 Hz", [](ModeImage& x) { setBandField(x, 8, 1, BandField::FreqHz, 0); },
         "sub.eq.1.section.1.freq_hz"},
        {"a split filter of type 99",
         [](ModeImage& x) { setBandField(x, 5, 24, BandField::Type, 99); }, "main.l.xover.hp.type"},
    };
    for (const Case& k : cases) {
        ModeImage x = presetImage("427.q7M");
        k.spoil(x);
        EXPECT_EQ(refusedId(checkModeImage(x)), k.id) << k.what;
    }

    // A band switched off keeps whatever it held; its type is still checked.
    ModeImage off = presetImage("427.q7M");
    setBandField(off, 5, 3, BandField::Type, 0);
    setBandField(off, 5, 3, BandField::GainDb, 0xFFFF);
    setBandField(off, 5, 3, BandField::Q, 0);
    EXPECT_FALSE(checkModeImage(off).refused());
    EXPECT_TRUE(checkModeImage(off).clamped.empty());
}

TEST(ModeCheck, RandomBodiesBehindAValidVersionWordAreRefusedBeforeTheStore) {
    std::mt19937 rng(21);
    for (int i = 0; i < 300; ++i) {
        std::vector<std::uint8_t> file(kModeFileV2Size);
        for (auto& b : file)
            b = std::uint8_t(rng());
        file[0] = 2;
        file[1] = file[2] = file[3] = 0;
        ModeImage m = ParameterStore().modeImage();
        ASSERT_TRUE(parseModeFile(file, m));
        const ModeFileCheck c = checkModeImage(m);
        ASSERT_TRUE(c.refused()) << i;
        EXPECT_FALSE(describeRefusal(*c.refusal, true).empty());
        EXPECT_FALSE(describeRefusal(*c.refusal, false).empty());
    }
}

TEST(ModeCheck, ModeNamesKeepOnlyWhatTheAmplifierShows) {
    EXPECT_EQ(showableModeName(u"Party 2"), u"Party 2");
    EXPECT_EQ(showableModeName(u"默认1 客厅"), u"默认1 客厅");
    EXPECT_EQ(showableModeName(u"a\u0001b\u007F\u0085c"), u"a_b__c");
    EXPECT_EQ(showableModeName(u"x\U0001F600y"), u"x__y") << "two halves, two characters";
    EXPECT_EQ(showableModeName(u"bad\uFFFD"), u"bad_");

    EXPECT_EQ(modeNameFromFileName("/tmp/m1\tparty.q7M"), "m1_party");
    EXPECT_EQ(unshowableModeName("/tmp/m1\tparty.q7M"), "m1\tparty");
    EXPECT_EQ(unshowableModeName("/tmp/m1 party.q7M"), "");
    // A file name that is not UTF-8.
    EXPECT_EQ(modeNameFromFileName("/tmp/caf\xE9.q7M"), "caf_");
    EXPECT_EQ(modeIndexFromFileName("/tmp/m1\tparty.q7M"), 0);
}
