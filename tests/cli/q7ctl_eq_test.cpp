// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl eq: the command line scripts depend on, run on files written here.
#include "eq/synthetic_response.h"
#include "cli/q7ctl.h"
#include "eq/auto_eq.h"
#include "eq/eq_bank.h"
#include "params/mode_file.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;

namespace {

struct EqRun {
    int code;
    std::string out, err;
};

EqRun q7ctl(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = runQ7ctl(args, out, err);
    return {code, out.str(), err.str()};
}

std::string temp(const std::string& name) {
    return testing::TempDir() + "eq-" + name;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeMeasurement(const std::string& path, const ResponseCurve& c) {
    std::ostringstream s;
    s << "* Measurement data measured by REW V5.20\n* Freq(Hz), SPL(dB), Phase(degrees)\n";
    for (std::size_t i = 0; i < c.hz.size(); ++i)
        s << c.hz[i] << ", " << c.db[i] << ", 0\n";
    writeText(path, s.str());
}

EqBankState bankOf(const std::string& modeFile, int bank) {
    ParameterStore s;
    EXPECT_TRUE(readModeFile(modeFile, s)) << modeFile;
    return readBank(s, bank);
}

} // namespace

TEST(Q7ctlEq, ImportWritesTheBankAndLeavesEveryOtherByte) {
    const std::string base = temp("base.q7M"), out = temp("out.q7M"), filters = temp("f.txt");
    ParameterStore s;
    s.setCellInt(cell::MicVolume, 55);
    s.setBand(4, 3, BandRecord::encode(filter::Peq, 2.0, 300, 2.0)); // the music EQ
    ASSERT_TRUE(writeModeFile(base, s));
    writeText(filters, "Preamp: -2 dB\r\nFilter 1: ON PK Fc 63 Hz Gain -5.2 dB Q 4\r\n"
                       "Filter 2: ON LSC Fc 40 Hz Gain 3 dB Q 0.7\r\nFilter 3: ON NO Fc 50 Hz\r\n");
    const EqRun r =
        q7ctl({"eq", "import", filters, "--bank", "main", "--base", base, "-o", out, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(
        r.out.find("{\"bank\": 5, \"bands\": [{\"record\": 0, \"type\": 1, \"gain_db\": -5.2, "
                   "\"freq_hz\": 63, \"q\": 4.000}, {\"record\": 1, \"type\": 4, "
                   "\"gain_db\": 3.0, \"freq_hz\": 40, \"q\": 0.700}"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("rms_"), std::string::npos) << "import reports no error measure";
    EXPECT_NE(r.out.find("preamp"), std::string::npos);
    EXPECT_NE(r.out.find("NO"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);

    ModeImage a = ParameterStore().modeImage(), b = a;
    ASSERT_TRUE(readModeImage(base, a));
    ASSERT_TRUE(readModeImage(out, b));
    EXPECT_EQ(a.cells, b.cells);
    EXPECT_EQ(a.plan, b.plan);
    EXPECT_EQ(a.speakerLevels, b.speakerLevels);
    for (std::size_t i = 0; i < a.bandImage.size(); ++i) {
        const bool inMain = i >= 511 && i < 511 + 24 * 7;
        if (!inMain) {
            ASSERT_EQ(a.bandImage[i], b.bandImage[i]) << "byte " << i;
        }
    }
    // Without --base the start state is the base; the names work as the numbers do.
    const EqRun plain = q7ctl({"eq", "import", filters, "--bank=5", "-o", out});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_NE(plain.out.find("line 2: band 1 PK 63 Hz -5.2 dB Q 4.000"), std::string::npos)
        << plain.out;
}

TEST(Q7ctlEq, JsonStaysValidWhateverTheFileHolds) {
    const std::string filters = temp("bytes.txt"), out = temp("bytes.q7M");
    writeText(filters, "Filter 1: ON \xff\xfe\x01 Fc 100 Hz Gain 1 dB Q 1\n"
                       "Filter 2: ON PK Fc 100 Hz Gain 1 dB Q 1\n");
    const EqRun r = q7ctl({"eq", "import", filters, "--bank", "main", "-o", out, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (std::size_t i = 0; i < r.out.size(); ++i) {
        const auto c = static_cast<unsigned char>(r.out[i]);
        ASSERT_TRUE(c >= 0x20 || c == '\n') << "a control byte at " << i;
        ASSERT_NE(c, 0xff) << "an invalid UTF-8 byte at " << i;
    }
    EXPECT_NE(r.out.find("\\u0001"), std::string::npos) << r.out;
}

TEST(Q7ctlEq, ExportAndResponse) {
    const std::string file = temp("x.q7M");
    ParameterStore s;
    s.setBand(1, 0, BandRecord{120, 100, 1410, filter::Peq});
    ASSERT_TRUE(writeModeFile(file, s));
    const EqRun e = q7ctl({"eq", "export", file, "--bank", "mic-a"});
    ASSERT_EQ(e.code, 0) << e.err;
    EXPECT_EQ(e.out.substr(0, e.out.find('\n')), "Filter 1: ON PK Fc 100 Hz Gain -3.0 dB Q 1.410");
    EXPECT_EQ(std::count(e.out.begin(), e.out.end(), '\n'), 15);
    EXPECT_NE(e.out.find("Filter 8: ON LSC Fc 630 Hz Gain 0.0 dB Q 0.707"), std::string::npos);
    // Export, then import into another file: the same bank.
    const std::string text = temp("mic.txt"), again = temp("again.q7M");
    writeText(text, e.out);
    ASSERT_EQ(q7ctl({"eq", "import", text, "--bank", "1", "-o", again}).code, 0);
    EXPECT_EQ(bankOf(again, 1), bankOf(file, 1));

    const EqRun c = q7ctl({"eq", "response", file, "--bank", "1"});
    ASSERT_EQ(c.code, 0) << c.err;
    std::istringstream lines(c.out);
    std::string head, first;
    std::getline(lines, head);
    std::getline(lines, first);
    EXPECT_EQ(head.substr(0, 35), "freq_hz,total_db,band1_db,band2_db,");
    EXPECT_EQ(std::count(head.begin(), head.end(), ','), 16);
    EXPECT_EQ(first.substr(0, 6), "20.00,");
    EXPECT_EQ(std::count(c.out.begin(), c.out.end(), '\n'), 1 + 479) << "1/48 octave, 20 Hz-20 kHz";
    EXPECT_NE(c.out.find("\n40.00,"), std::string::npos) << "an octave up is 48 rows on";
}

TEST(Q7ctlEq, FitReportsAndWritesWithinTheLimits) {
    const std::string meas = temp("room.txt"), out = temp("fit.q7M");
    writeMeasurement(meas, synthetic::room(3));
    const EqRun r = q7ctl({"eq", "fit", meas, "--bank", "sub", "--range", "20-120", "--bands", "2",
                           "--max-boost", "3", "-o", out, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"bank\": 2, \"bands\": [{\"record\": 0, ", 0), 0u) << r.out;
    for (const char* key :
         {"\"rms_before_db\": ", "\"rms_after_db\": ", "\"max_after_db\": ", "\"notes\": ["})
        EXPECT_NE(r.out.find(key), std::string::npos) << key;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '{'), 1 + 20) << "every record of the Sub";
    const EqBankState sub = bankOf(out, 2);
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(sub.band(k).type == 1 || sub.band(k).type == 4 || sub.band(k).type == 5);
    int used = 0;
    for (int k = 0; k < 5; ++k) {
        EXPECT_LE(sub.band(k).gain, 180);
        used += sub.band(k).gain != 150;
    }
    EXPECT_LE(used, 2);
    EXPECT_EQ(sub.records[16].type, 18) << "the start state's crossover stays";

    // Plain output: the filters and the error before and after.
    const EqRun p = q7ctl({"eq", "fit", meas, "--bank", "main", "--range", "20-500", "--cut-only"});
    ASSERT_EQ(p.code, 0) << p.err;
    EXPECT_NE(p.out.find("Filter 1: ON "), std::string::npos);
    EXPECT_NE(p.out.find("RMS "), std::string::npos);

    // A target file.
    const std::string target = temp("target.csv");
    writeText(target, "frequency,raw\n20,6\n100,6\n200,0\n20000,0\n");
    EXPECT_EQ(
        q7ctl({"eq", "fit", meas, "--bank", "5", "--target", target, "--range", "20-500"}).code, 0);
}

TEST(Q7ctlEq, FitTakesTheBanksOwnRangeAndNeverWritesAWorseFit) {
    const std::string meas = temp("range.txt"), out = temp("range.q7M");
    writeMeasurement(meas, synthetic::room(5));
    // Without --range the Sub fits up to its crossover, the Main over the room's low end.
    const EqRun sub = q7ctl({"eq", "fit", meas, "--bank", "sub", "--json"});
    ASSERT_EQ(sub.code, 0) << sub.err;
    EXPECT_NE(sub.out.find("\"better\": true"), std::string::npos) << sub.out;
    const EqRun plainSub = q7ctl({"eq", "fit", meas, "--bank", "sub"});
    ASSERT_EQ(plainSub.code, 0);
    char subRange[64];
    std::snprintf(subRange, sizeof subRange, " points (20-%.0f Hz)",
                  defaultFitRange(readBank(ParameterStore(), 2)).hiHz);
    EXPECT_NE(plainSub.out.find(subRange), std::string::npos) << plainSub.out;
    const EqRun main = q7ctl({"eq", "fit", meas, "--bank", "main"});
    EXPECT_NE(main.out.find(" points (20-500 Hz)"), std::string::npos) << main.out;

    // A flat measurement against a flat target: nothing to gain, so nothing is written.
    const std::string flat = temp("flat.txt");
    ResponseCurve f;
    for (double hz = 10; hz <= 20000; hz *= 1.1) {
        f.hz.push_back(hz);
        f.db.push_back(80);
    }
    writeMeasurement(flat, f);
    std::remove(out.c_str());
    const EqRun worse = q7ctl({"eq", "fit", flat, "--bank", "main", "-o", out, "--json"});
    EXPECT_EQ(worse.code, 1);
    EXPECT_NE(worse.out.find("\"better\": false"), std::string::npos) << worse.out;
    EXPECT_NE(worse.err.find("was not written"), std::string::npos) << worse.err;
    EXPECT_TRUE(readAll(out).empty()) << "no file for a fit that is not better";
    EXPECT_EQ(q7ctl({"eq", "fit", flat, "--bank", "main"}).code, 0) << "reporting it is fine";

    // Locked bands stay as the base holds them.
    ParameterStore s;
    s.setBand(5, 1, BandRecord::encode(filter::Peq, 3.0, 120, 4.0));
    const std::string base = temp("lock-base.q7M");
    ASSERT_TRUE(writeModeFile(base, s));
    const EqRun locked =
        q7ctl({"eq", "fit", meas, "--bank", "main", "--lock", "2,3", "--base", base, "-o", out});
    ASSERT_EQ(locked.code, 0) << locked.err;
    EXPECT_EQ(bankOf(out, 5).band(1), readBank(s, 5).band(1));
    EXPECT_EQ(bankOf(out, 5).band(2), readBank(s, 5).band(2));
    EXPECT_NE(locked.out.find("band 2 is locked"), std::string::npos) << locked.out;
    for (const char* bad : {"0", "1,,2", "x", "99"})
        EXPECT_EQ(q7ctl({"eq", "fit", meas, "--bank", "main", "--lock", bad}).code, 2) << bad;
}

TEST(Q7ctlEq, ExitCodesAndHelp) {
    const std::string meas = temp("m.txt"), filters = temp("ok.txt"), mode = temp("m.q7M");
    writeMeasurement(meas, synthetic::smooth(2));
    writeText(filters, "Filter 1: ON PK Fc 100 Hz Gain -3 dB Q 1\n");
    ASSERT_TRUE(writeModeFile(mode, ParameterStore()));
    const EqRun help = q7ctl({"eq", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("q7ctl eq fit MEAS --bank B"), std::string::npos);
    EXPECT_EQ(q7ctl({"--verbose", "eq", "fit", "--help"}).code, 0);
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{"eq"}, 2},
        {{"eq", "frobnicate"}, 2},
        {{"eq", "export", mode}, 2},                    // no bank
        {{"eq", "export", mode, "--bank", "12"}, 2},    // no such bank
        {{"eq", "export", mode, "--bank", "mains"}, 2}, // no such name
        {{"eq", "import", filters, "--bank", "1"}, 2},  // no -o
        {{"eq", "fit", meas, "--bank", "1", "--range", "500-20"}, 2},
        {{"eq", "fit", meas, "--bank", "1", "--range", "x"}, 2},
        {{"eq", "fit", meas, "--bank", "1", "--bands", "0"}, 2},
        {{"eq", "fit", meas, "--bank", "1", "--max-boost", "-1"}, 2},
        {{"eq", "fit", meas, "--bank", "1", "--frob"}, 2},
        {{"eq", "fit", meas, "--bank", "1", "--range", "100-101"}, 2}, // too narrow
        {{"eq", "export", temp("missing.q7M"), "--bank", "1"}, 1},
        {{"eq", "import", temp("missing.txt"), "--bank", "1", "-o", temp("o.q7M")}, 1},
        {{"eq", "import", meas, "--bank", "1", "-o", temp("o.q7M")}, 1}, // no filters in it
        {{"eq", "fit", temp("missing.txt"), "--bank", "1"}, 1},
        {{"eq", "fit", filters, "--bank", "1"}, 1}, // not a measurement
        {{"eq", "fit", meas, "--bank", "1", "--target", temp("missing.csv")}, 1},
        {{"eq", "fit", meas, "--bank", "1", "--base", temp("missing.q7M")}, 1},
        {{"eq", "import", filters, "--bank", "1", "-o", testing::TempDir() + "no/such/dir.q7M"}, 1},
    };
    for (const Case& c : cases) {
        const EqRun r = q7ctl(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.code, c.code) << joined << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << joined;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    // A command that is not eq is left to the rest of q7ctl.
    EXPECT_EQ(q7ctl({"mode", "new", temp("n.q7M")}).code, 0);
    EXPECT_FALSE(readAll(temp("n.q7M")).empty());
}
