#include "cli/q7ctl.h"
#include "params/mode_file.h"
#include "protocol/trace.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;

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

} // namespace

TEST(Q7ctlMode, NewWritesTheStartStateAndDumpShowsIt) {
    const std::string path = temp("cli_new.q7M");
    ASSERT_EQ(q7ctl({"mode", "new", path}).code, 0);
    const CliRun dump = q7ctl({"mode", "dump", path});
    ASSERT_EQ(dump.code, 0) << dump.err;
    const std::string& j = dump.out;
    EXPECT_EQ(j.rfind("{\"version\": 2, \"cells\": {\"26\": 0, ", 0), 0u);
    EXPECT_EQ(count(j, "\"group\": "), 163);
    EXPECT_NE(j.find("\"172\": 0}"), std::string::npos);
    EXPECT_NE(j.find("{\"group\": 1, \"record\": 7, \"type\": 4, \"gain_db\": 0, "
                     "\"freq_hz\": 630, \"q\": 0.707}"),
              std::string::npos);
    EXPECT_NE(j.find("{\"group\": 9, \"record\": 13, \"type\": 2, \"gain_db\": 0, "
                     "\"freq_hz\": 1000, \"q\": 0.707}]"),
              std::string::npos);
    EXPECT_NE(j.find("\"extra\": \"000000000000\""), std::string::npos);
    EXPECT_NE(j.find("\"speaker_levels_db\": [0, 0, 0, 0, 0, 0, 0, 0]"), std::string::npos);
    EXPECT_NE(j.find("\"plan\": \"" + std::string(40, '0') + "\"}"), std::string::npos);
    std::remove(path.c_str());
}

TEST(Q7ctlMode, DumpPrintsFloatsExactlyAndIntegersAsIntegers) {
    ParameterStore s;
    s.setCellFloat(61, 0.1f);
    s.setCellFloat(98, -12.345678f);
    s.setCellInt(88, -5);
    s.setCellBits(172, 0x7FC00000); // NaN has no JSON number
    s.setBand(4, 0, BandRecord::encode(1, -3.7, 123, 2.25));
    s.setExtraByte(0, 0xAB);
    s.setSpeakerLevelSlot(7, -1.5f);
    const std::string path = temp("cli_dump.q7M");
    ASSERT_TRUE(writeModeFile(path, s));
    const CliRun dump = q7ctl({"mode", "dump", path});
    ASSERT_EQ(dump.code, 0);
    EXPECT_NE(dump.out.find("\"61\": 0.1,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"98\": -12.345678,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"88\": -5,"), std::string::npos);
    EXPECT_NE(dump.out.find("\"172\": null}"), std::string::npos);
    EXPECT_NE(dump.out.find("{\"group\": 4, \"record\": 0, \"type\": 1, \"gain_db\": -3.7, "
                            "\"freq_hz\": 123, \"q\": 2.25}"),
              std::string::npos);
    EXPECT_NE(dump.out.find("\"extra\": \"AB0000000000\""), std::string::npos);
    EXPECT_NE(dump.out.find(", -1.5], \"plan\""), std::string::npos);
    std::remove(path.c_str());
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
    // 133 coefficient writes, 3 volume writes, 3 closing reads.
    ASSERT_EQ(lines.size(), 3u + 168u + 23u + 133u + 3u + 3u);
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
