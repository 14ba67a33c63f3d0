// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/trace.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace q7;

TEST(Trace, LineFormatAndRoundTrip) {
    Report r{};
    r[0] = 0x02;
    r[1] = 0xAB;
    r[60] = 0x0F;
    const std::string line = formatTraceLine(1234.5678, Direction::ToAmplifier, r);
    EXPECT_EQ(line.substr(0, 17), "1234.568 > 02 AB ");
    EXPECT_EQ(line.size(), 11 + 61 * 3 - 1);
    EXPECT_EQ(line.substr(line.size() - 3), " 0F");

    const auto parsed = parseTraceLine(line + "\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_DOUBLE_EQ(parsed->ms, 1234.568);
    EXPECT_EQ(parsed->direction, Direction::ToAmplifier);
    EXPECT_EQ(parsed->report, r);

    const auto back = parseTraceLine(formatTraceLine(0, Direction::FromAmplifier, r));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->direction, Direction::FromAmplifier);
}

TEST(Trace, RejectsMalformedLines) {
    Report r{};
    const std::string good = formatTraceLine(1.0, Direction::ToAmplifier, r);
    EXPECT_FALSE(parseTraceLine(""));
    EXPECT_FALSE(parseTraceLine("1.000 >"));
    EXPECT_FALSE(parseTraceLine(good.substr(0, good.size() - 3))) << "60 bytes";
    EXPECT_FALSE(parseTraceLine(good + " 00")) << "62 bytes";
    std::string badHex = good;
    badHex[10] = 'G';
    EXPECT_FALSE(parseTraceLine(badHex));
    std::string badDir = good;
    badDir[6] = '=';
    EXPECT_FALSE(parseTraceLine(badDir));
    EXPECT_FALSE(parseTraceLine("x.5 > " + good.substr(8)));
    std::string doubleSpace = good;
    doubleSpace.insert(12, " ");
    EXPECT_FALSE(parseTraceLine(doubleSpace));
}

TEST(Trace, WriterAppendsOneLinePerReport) {
    const std::string path = testing::TempDir() + "trace_writer_test.txt";
    {
        TraceWriter w;
        ASSERT_TRUE(w.open(path));
        Report r{};
        w.write(0.0, Direction::ToAmplifier, r);
        w.write(2.5, Direction::FromAmplifier, r);
    }
    std::ifstream in(path);
    std::string a, b, c;
    ASSERT_TRUE(std::getline(in, a));
    ASSERT_TRUE(std::getline(in, b));
    EXPECT_FALSE(std::getline(in, c));
    EXPECT_EQ(a.substr(0, 8), "0.000 > ");
    EXPECT_EQ(b.substr(0, 8), "2.500 < ");
    std::remove(path.c_str());
}

TEST(Trace, EachLineIsOnDiskAsSoonAsItIsWritten) {
    // A crash or a pulled cable must not take the last reports with it: another reader sees
    // every line while the writer is still open.
    const std::string path = testing::TempDir() + "trace_write_through_test.txt";
    TraceWriter w;
    ASSERT_TRUE(w.open(path));
    Report r{};
    for (int i = 0; i < 3; ++i) {
        r[1] = std::uint8_t(i);
        w.write(i, Direction::ToAmplifier, r);
        std::ifstream in(path);
        int lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        EXPECT_EQ(lines, i + 1);
    }
    w.close();
    std::remove(path.c_str());
}
