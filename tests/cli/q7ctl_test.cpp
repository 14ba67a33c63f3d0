// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/q7ctl.h"
#include "json_reader.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "protocol/trace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

using namespace q7;
using q7::test::Json;
using q7::test::JsonReader;

namespace {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun q7ctl(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = runQ7ctl(args, out, err);
    return {code, out.str(), err.str()};
}

std::string temp(const std::string& name) {
    return testing::TempDir() + name;
}

int count(const std::string& s, const std::string& needle) {
    int n = 0;
    for (std::size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1))
        ++n;
    return n;
}

bool oneLine(const std::string& s) {
    return !s.empty() && count(s, "\n") == 1 && s.back() == '\n';
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeImage(const std::string& path, const ModeImage& m) {
    writeBytes(path, modeFileBytes(m));
}

ModeImage startImage() {
    return ParameterStore().modeImage();
}

int cellParamIndex(const std::string& id) {
    const ParamInfo* p = findParam(id);
    return p && p->place == ParamPlace::Cell ? p->index : -1;
}

} // namespace

// The dump names every value as params lists it, in the units get prints; mode new writes the
// start settings brought within the ranges set accepts.
TEST(Q7ctlMode, NewWritesTheStartStateAndDumpShowsIt) {
    const std::string path = temp("cli_new.q7M");
    ASSERT_EQ(q7ctl({"mode", "new", path}).code, 0);
    const CliRun dump = q7ctl({"mode", "dump", path});
    ASSERT_EQ(dump.code, 0) << dump.err;
    const auto j = JsonReader(dump.out).document();
    ASSERT_TRUE(j) << dump.out;
    EXPECT_EQ((*j)["version"].number, 2);
    const Json& p = (*j)["params"];
    ASSERT_EQ(p.type, Json::Type::Object);
    ASSERT_EQ(p.keys.size(), paramTable().size());
    for (std::size_t i = 0; i < p.keys.size(); ++i)
        EXPECT_EQ(p.keys[i], paramTable()[i].id);
    EXPECT_EQ(p["mic.volume"].number, 0);
    EXPECT_EQ(p["mic.eq.8.freq_hz"].type, Json::Type::Null); // no such id
    EXPECT_EQ(p["mic.a.eq.8.freq_hz"].number, 630);
    EXPECT_EQ(p["mic.a.eq.8.type"].number, 4);
    EXPECT_EQ(p["mic.a.eq.8.q"].number, 0.707);
    EXPECT_EQ(p["extra.0"].number, 0);
    EXPECT_EQ(p["location.speaker.8.level_db"].number, 0);
    // Values the start state holds outside the pages' ranges come within them.
    EXPECT_EQ(p["main.l.delay_ms"].number, 1.5);
    EXPECT_EQ(p["mic.gate.attack"].number, 100);
    EXPECT_EQ(p["main.comp.ratio"].number, 1);
    std::remove(path.c_str());
}

TEST(Q7ctlMode, DumpPrintsFloatsExactlyAndIntegersAsIntegers) {
    ParameterStore s;
    s.setCellFloat(cellParamIndex("main.comp.threshold_db"), -12.345678f);
    s.setCellInt(cellParamIndex("mic.volume"), 55);
    s.setCellBits(172, 0x7FC00000); // NaN has no JSON number
    s.setBand(4, 0, BandRecord::encode(1, -3.7, 123, 2.25));
    s.setExtraByte(0, 0xAB);
    s.setSpeakerLevelSlot(7, -1.5f);
    const std::string path = temp("cli_dump.q7M");
    ASSERT_TRUE(writeModeFile(path, s));
    const CliRun dump = q7ctl({"mode", "dump", path});
    ASSERT_EQ(dump.code, 0);
    EXPECT_NE(dump.out.find("\"main.comp.threshold_db\": -12.345678,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"mic.volume\": 55,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"music.agc.level_db\": null"), std::string::npos);
    EXPECT_NE(dump.out.find("\"music.eq.1.type\": 1, \"music.eq.1.gain_db\": -3.7, "
                            "\"music.eq.1.freq_hz\": 123, \"music.eq.1.q\": 2.25,"),
              std::string::npos);
    EXPECT_NE(dump.out.find("\"extra.0\": 171,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"location.speaker.8.level_db\": -1.5,"), std::string::npos);
    std::remove(path.c_str());
}

// Values the designer cannot make a filter of are usage errors, not NaN coefficients.
TEST(Q7ctlBiquad, RefusesValuesThatMakeNoFilter) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"biquad", "99", "0", "1000", "1"},
          {"biquad", "--", "-1", "0", "1000", "1"},
          {"biquad", "1", "0", "0", "1"},
          {"biquad", "1", "0", "24000", "1"},
          {"biquad", "1", "0", "1000", "0"},
          {"biquad", "1", "0", "nan", "1"},
          {"biquad", "1", "0", "1000", "nan"},
          {"biquad", "1", "inf", "1000", "1"}}) {
        const CliRun r = q7ctl(args);
        EXPECT_EQ(r.code, 2) << args[2] << " " << args[3] << " " << args[4] << ": " << r.out;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(q7ctl({"biquad", "21", "0", "23999", "0.1"}).code, 0);
}

TEST(Q7ctlBiquad, PrintsCoefficientsAndWords) {
    const CliRun r = q7ctl({"biquad", "1", "0", "1000", "1.41"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    std::istringstream numbers(first);
    double v[5];
    for (double& x : v)
        ASSERT_TRUE(numbers >> x) << first;
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], v[3]);
    ASSERT_EQ(second.size(), 44u);
    for (std::size_t i = 0; i < second.size(); ++i) {
        const char c = second[i];
        if (i % 9 == 8)
            EXPECT_EQ(c, ' ');
        else
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << second;
    }
    // A flat PEQ: -a1, -a2, 1.0, a1, a2.
    EXPECT_EQ(second.substr(18, 8), "3F800000");
    const unsigned na1 = std::stoul(second.substr(0, 8), nullptr, 16);
    const unsigned a1 = std::stoul(second.substr(27, 8), nullptr, 16);
    EXPECT_EQ(na1 ^ 0x80000000u, a1);
}

TEST(Q7ctlPush, DryRunWritesTheFullDownloadAsATrace) {
    const std::string file = temp("cli_push.q7M");
    const std::string trace = temp("cli_push.trace");
    ParameterStore s;
    s.setCellInt(86, 1);
    ASSERT_TRUE(writeModeFile(file, s));
    const CliRun r = q7ctl({"push", file, "--dry-run", "--by-mode", "--trace", trace});
    ASSERT_EQ(r.code, 0) << r.err;

    std::ifstream in(trace);
    std::string line;
    std::vector<TraceLine> lines;
    while (std::getline(in, line)) {
        const auto t = parseTraceLine(line);
        ASSERT_TRUE(t) << line;
        lines.push_back(*t);
    }
    // 3 silencing writes + 168 more in the push (music muted, shifts on), 23 memory windows,
    // 8 speaker level records, 133 coefficient writes, 3 volume writes, 3 closing reads.
    ASSERT_EQ(lines.size(), 3u + 168u + 23u + 8u + 133u + 3u + 3u);
    EXPECT_EQ(lines.front().direction, Direction::ToAmplifier);
    EXPECT_EQ(lines.front().report[3], 1);
    EXPECT_EQ(lines.front().report[4], 30);
    EXPECT_EQ(lines.back().report[1], 0x0A);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_GE(lines[i].ms, lines[i - 1].ms);
    std::remove(file.c_str());
    std::remove(trace.c_str());
}

TEST(Q7ctlErrors, BadFilesAndArgumentsFailWithOneLine) {
    const std::string bad = temp("cli_bad.q7M");
    {
        std::ofstream out(bad, std::ios::binary);
        out.write("V\0e\0r\0", 6);
    }
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"mode", "dump", temp("cli_missing.q7M")},
                                               {"mode", "dump", bad},
                                               {"push", bad, "--dry-run"},
                                               {"mode", "new", temp("no/such/dir/x.q7M")}}) {
        const CliRun r = q7ctl(args);
        EXPECT_EQ(r.code, 1) << args[1];
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"biquad", "1", "0", "x", "1"},
                                               {"biquad", "1", "0", "100"},
                                               {"mode", "dump"},
                                               {"push", bad, "--dry-run", "--bogus"},
                                               {"push", bad, "--trace"}}) {
        const CliRun r = q7ctl(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    std::remove(bad.c_str());
}

// ---- mode diff ----

TEST(Q7ctlModeDiff, EqualFilesExitZero) {
    const std::string a = temp("diff_eq_a.q7M"), b = temp("diff_eq_b.q7M");
    ModeImage m = startImage();
    m.cells[26] = 40;
    writeImage(a, m);
    writeImage(b, m);
    const CliRun text = q7ctl({"mode", "diff", a, b});
    EXPECT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out, "");
    const CliRun json = q7ctl({"mode", "diff", a, b, "--json"});
    EXPECT_EQ(json.code, 0);
    EXPECT_EQ(json.out, "{\"equal\": true, \"differences\": []}\n");
    std::remove(a.c_str());
    std::remove(b.c_str());
}

// A version-1 file loads with the music AGC off at -12 dB whatever it holds there: compared
// with the version-2 file of the same settings, nothing differs.
TEST(Q7ctlModeDiff, ComparesSettingsNotFileLayouts) {
    ModeImage m = startImage();
    m.cells[85] = 60;
    m.cells[172] = 0xC1400000;
    const std::vector<std::uint8_t> two = modeFileBytes(m);
    std::vector<std::uint8_t> one = two;
    one[0] = 1;
    one.insert(one.begin() + 592, 24, std::uint8_t(0x5A)); // cells 173..178 of the old layout
    ASSERT_EQ(one.size(), kModeFileV1Size);
    const std::string a = temp("diff_v1.q7M"), b = temp("diff_v2.q7M");
    writeBytes(a, one);
    writeBytes(b, two);
    const CliRun r = q7ctl({"mode", "diff", a, b});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(Q7ctlModeDiff, OneLineADifferenceAndJsonWithTheKeysThatApply) {
    ModeImage a = startImage(), b = startImage();
    a.cells[119] = floatBits(12.5f);
    b.cells[119] = floatBits(10.0f);
    BandRecord::encode(1, -2.0, 1000, 1.414).toBytes(&a.bandImage[std::size_t(bandOffset(5, 2))]);
    BandRecord::encode(1, 1.5, 1000, 1.414).toBytes(&b.bandImage[std::size_t(bandOffset(5, 2))]);
    b.plan[2] = 0x85;          // listener x -0.5 m (0x00 is +0.0)
    b.speakerLevels[4] = 0xBF; // slot 1, main R: 0xBFC00000 is -1.5
    b.speakerLevels[5] = 0xC0;
    b.extra[4] = 0xAB;
    const std::string pa = temp("diff_a.q7M"), pb = temp("diff_b.q7M");
    writeImage(pa, a);
    writeImage(pb, b);

    const CliRun text = q7ctl({"mode", "diff", pa, pb});
    EXPECT_EQ(text.code, 1) << text.err;
    EXPECT_EQ(text.out, "Rear L Delay: 12.5 ms → 10.0 ms\n"
                        "MAIN EQ band 3: gain -2.0 dB → +1.5 dB\n"
                        "Listener location x: +0.0 m → -0.5 m\n"
                        "Main.R level: +0.0 dB → -1.5 dB\n"
                        "Extra byte 4: 0x00 → 0xAB\n");

    const CliRun json = q7ctl({"mode", "diff", pa, pb, "--json"});
    EXPECT_EQ(json.code, 1) << json.err;
    ASSERT_TRUE(oneLine(json.out)) << json.out;
    const auto doc = JsonReader(json.out).document();
    ASSERT_TRUE(doc) << json.out;
    EXPECT_EQ((*doc).keys, (std::vector<std::string>{"equal", "differences"}));
    EXPECT_EQ((*doc)["equal"].type, Json::Type::Bool);
    EXPECT_FALSE((*doc)["equal"].boolean);
    const Json& list = (*doc)["differences"];
    ASSERT_EQ(list.type, Json::Type::Array);
    ASSERT_EQ(list.array.size(), 5u);

    struct Expected {
        const char* kind;
        std::set<std::string> keys;
        std::map<std::string, double> numbers;
        const char* name;
        const char* field;
    };
    const Expected expected[5] = {
        {"cell",
         {"kind", "cell", "name", "a", "b"},
         {{"cell", 119}, {"a", 12.5}, {"b", 10}},
         "rear.l.delay_ms",
         nullptr},
        {"band",
         {"kind", "group", "record", "name", "field", "a", "b"},
         {{"group", 5}, {"record", 2}, {"a", -2}, {"b", 1.5}},
         "main.eq.3.gain_db",
         "gain_db"},
        {"plan",
         {"kind", "index", "name", "a", "b"},
         {{"index", 2}, {"a", 0}, {"b", -0.5}},
         "location.listener.x_m",
         nullptr},
        {"speaker_levels",
         {"kind", "index", "name", "a", "b"},
         {{"index", 1}, {"a", 0}, {"b", -1.5}},
         "location.speaker.3.level_db",
         nullptr},
        {"extra",
         {"kind", "index", "name", "a", "b"},
         {{"index", 4}, {"a", 0}, {"b", 171}},
         "extra.4",
         nullptr},
    };
    for (std::size_t i = 0; i < 5; ++i) {
        const Json& d = list.array[i];
        const Expected& e = expected[i];
        ASSERT_EQ(d.type, Json::Type::Object);
        EXPECT_EQ(std::set<std::string>(d.keys.begin(), d.keys.end()), e.keys) << e.kind;
        EXPECT_EQ(d["kind"].string, e.kind);
        EXPECT_EQ(d["name"].string, e.name);
        if (e.field) {
            EXPECT_EQ(d["field"].string, e.field);
        }
        for (const auto& [key, v] : e.numbers) {
            EXPECT_EQ(d[key].type, Json::Type::Number) << e.kind << " " << key;
            EXPECT_DOUBLE_EQ(d[key].number, v) << e.kind << " " << key;
        }
    }
    std::remove(pa.c_str());
    std::remove(pb.c_str());
}

// An unreadable file is a failure at run time (1, named on stderr, nothing on stdout); bad
// arguments are bad usage (2).
TEST(Q7ctlModeDiff, UnreadableFilesFailAndBadArgumentsExitTwo) {
    const std::string good = temp("diff_good.q7M"), shortFile = temp("diff_short.q7M"),
                      foreign = temp("diff_foreign.q7M"), missing = temp("diff_missing.q7M");
    const std::vector<std::uint8_t> bytes = modeFileBytes(startImage());
    writeBytes(good, bytes);
    writeBytes(shortFile, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1));
    writeBytes(foreign, {0x56, 0x00, 0x65, 0x00, 0x72, 0x00});
    for (const auto& [a, b, named] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {missing, good, missing},
             {good, missing, missing},
             {shortFile, good, shortFile},
             {good, shortFile, shortFile},
             {good, foreign, foreign}}) {
        for (bool json : {false, true}) {
            std::vector<std::string> args{"mode", "diff", a, b};
            if (json)
                args.push_back("--json");
            const CliRun r = q7ctl(args);
            EXPECT_EQ(r.code, 1) << a << " " << b;
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(oneLine(r.err)) << r.err;
            EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        }
    }
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"mode", "diff"},
                                               {"mode", "diff", good},
                                               {"mode", "diff", good, good, good},
                                               {"mode", "diff", "-", "-"}}) {
        const CliRun r = q7ctl(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    EXPECT_NE(q7ctl({"help", "mode", "diff"}).out.find("mode diff A B [--json]"),
              std::string::npos);
    for (const std::string& f : {good, shortFile, foreign})
        std::remove(f.c_str());
}

// A file name that is not UTF-8 (a Latin-1 name from an old disk) is the file it names; output
// that cannot be written is a failure with its reason, never exit 0.
TEST(Q7ctlFiles, NonUtf8NamesWorkAndUnwritableOutputFails) {
    const std::string path = temp("caf\xe9-cli.q7M");
    ASSERT_EQ(q7ctl({"mode", "new", path}).code, 0);
    const CliRun dump = q7ctl({"mode", "dump", path});
    EXPECT_EQ(dump.code, 0) << dump.err;
    std::remove(path.c_str());

    const CliRun full = q7ctl({"mode", "new", "/dev/full"});
    EXPECT_EQ(full.code, 1);
    EXPECT_NE(full.err.find("disk full"), std::string::npos) << full.err;
}
