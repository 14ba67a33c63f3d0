// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/mode_file.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace q7;

namespace {

std::string tempPath(const std::string& name) {
    return testing::TempDir() + name;
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void putLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

void fillRandom(ParameterStore& s, std::mt19937& rng) {
    for (int c = 0; c < kCellCount; ++c)
        s.setCellBits(c, rng());
    BandImage band;
    for (auto& b : band)
        b = std::uint8_t(rng());
    s.setBandImage(band);
    for (std::size_t i = 0; i < kExtraSize; ++i)
        s.setExtraByte(i, std::uint8_t(rng()));
    for (int k = 0; k < 8; ++k)
        s.setSpeakerLevelSlot(k, float(rng() % 100) / 4);
    std::array<std::uint8_t, kPlanSize> plan;
    for (auto& b : plan)
        b = std::uint8_t(rng());
    s.writePlanBlock(0, plan);
}

// A version-1 file with recognisable contents: cell c holds 1000 + c.
std::vector<std::uint8_t> versionOneFile() {
    std::vector<std::uint8_t> b(kModeFileV1Size, 0);
    putLe32(b, 0, 1);
    for (int c = 26; c <= 178; ++c)
        putLe32(b, 4 + 4 * std::size_t(c - 26), std::uint32_t(1000 + c));
    for (std::size_t i = 0; i < kBandImageSize; ++i)
        b[616 + i] = std::uint8_t(i * 7);
    for (std::size_t i = 0; i < 6; ++i)
        b[1757 + i] = std::uint8_t(0xE0 + i);
    b[1763] = 0x40; // speaker slot 0 = 2.0f
    b[1795] = 7;    // room width
    b[1795 + 2] = 0x85;
    return b;
}

} // namespace

TEST(ModeFile, VersionTwoRoundTrip) {
    std::mt19937 rng(7);
    ParameterStore source;
    fillRandom(source, rng);
    const std::string path = tempPath("roundtrip.q7M");
    ASSERT_TRUE(writeModeFile(path, source));

    const auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 1791u);
    EXPECT_EQ(bytes[0], 0x02);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x00);
    // Cell 26 first, little-endian.
    EXPECT_EQ(bytes[4], std::uint8_t(source.cellBits(26)));
    EXPECT_EQ(bytes[7], std::uint8_t(source.cellBits(26) >> 24));
    EXPECT_EQ(bytes[592], source.bandImage()[0]);
    EXPECT_EQ(bytes[1733], source.extraBlock()[0]);
    EXPECT_EQ(bytes[1739], source.speakerLevelBlock()[0]);
    EXPECT_EQ(bytes[1771], source.planBlock()[0]);

    ParameterStore target;
    target.setCellInt(25, 2);
    target.setCellInt(173, 3);
    const ModeFileResult r = readModeFile(path, target);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.version, 2);
    for (int c = 26; c <= 172; ++c)
        ASSERT_EQ(target.cellBits(c), source.cellBits(c)) << c;
    EXPECT_EQ(target.cellInt(25), 2) << "the run-time cells are not part of the file";
    EXPECT_EQ(target.cellInt(173), 3);
    EXPECT_EQ(target.bandImage(), source.bandImage());
    EXPECT_EQ(target.extraBlock(), source.extraBlock());
    EXPECT_EQ(target.speakerLevelBlock(), source.speakerLevelBlock());
    EXPECT_EQ(target.planBlock(), source.planBlock());
    for (int c = 4; c <= 23; ++c)
        EXPECT_EQ(target.cellBits(c), source.cellBits(c)) << "plan decoded into cell " << c;
    std::remove(path.c_str());
}

TEST(ModeFile, VersionOneLoadsWithItsFixUps) {
    ParameterStore s;
    std::vector<std::uint8_t> file = versionOneFile();
    putLe32(file, 4 + 4 * (88 - 26), 9); // pitch out of range
    ASSERT_TRUE(loadModeFile(file, s));
    EXPECT_EQ(s.cellInt(26), 1026);
    EXPECT_EQ(s.cellInt(170), 1170);
    EXPECT_EQ(s.cellInt(171), 0);
    EXPECT_EQ(s.cellBits(172), 0xC1400000u);
    EXPECT_EQ(s.cellInt(173), 1173) << "version 1 carries cells up to 175";
    EXPECT_EQ(s.cellInt(175), 1175);
    EXPECT_EQ(s.cellInt(88), 0);
    EXPECT_EQ(s.bandImage()[1], 7) << "the last 12 bytes of the cell block are skipped";
    EXPECT_EQ(s.extraBlock()[5], 0xE5);
    EXPECT_FLOAT_EQ(s.speakerLevelSlot(0), 2.0f);
    EXPECT_EQ(s.cellInt(cell::RoomWidth), 7);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::ListenerX), -0.5f);

    putLe32(file, 4 + 4 * (88 - 26), std::uint32_t(-5));
    ParameterStore t;
    ASSERT_TRUE(loadModeFile(file, t));
    EXPECT_EQ(t.cellInt(88), -5);
    putLe32(file, 4 + 4 * (88 - 26), std::uint32_t(-6));
    ASSERT_TRUE(loadModeFile(file, t));
    EXPECT_EQ(t.cellInt(88), 0);
}

TEST(ModeFile, BadFilesLeaveTheStoreExactlyAsItWas) {
    std::mt19937 rng(11);
    ParameterStore s;
    fillRandom(s, rng);
    const ModeImage before = s.modeImage();
    auto unchanged = [&] {
        const ModeImage now = s.modeImage();
        return now.cells == before.cells && now.bandImage == before.bandImage &&
               now.extra == before.extra && now.speakerLevels == before.speakerLevels &&
               now.plan == before.plan;
    };

    std::vector<std::uint8_t> good(kModeFileV2Size, 0x5A);
    putLe32(good, 0, 2);

    std::vector<std::uint8_t> utf16(good);
    utf16[0] = 0x56, utf16[1] = 0x00, utf16[2] = 0x65, utf16[3] = 0x00;
    ModeFileResult r = loadModeFile(utf16, s);
    EXPECT_EQ(r.status, ModeFileStatus::UnknownVersion);
    EXPECT_TRUE(unchanged());

    for (std::size_t n :
         {std::size_t(0), std::size_t(3), std::size_t(4), std::size_t(591), kModeFileV2Size - 1}) {
        r = loadModeFile(std::span(good).first(n), s);
        EXPECT_EQ(r.status, ModeFileStatus::TooShort) << n;
        EXPECT_TRUE(unchanged()) << n;
    }
    std::vector<std::uint8_t> v1 = versionOneFile();
    v1.pop_back();
    EXPECT_EQ(loadModeFile(v1, s).status, ModeFileStatus::TooShort);
    EXPECT_TRUE(unchanged());

    // The same through the file reader, including a file that does not exist.
    const std::string path = tempPath("short.q7M");
    writeBytes(path, std::vector<std::uint8_t>(good.begin(), good.begin() + 1000));
    EXPECT_EQ(readModeFile(path, s).status, ModeFileStatus::TooShort);
    EXPECT_EQ(readModeFile(tempPath("missing.q7M"), s).status, ModeFileStatus::CannotOpen);
    EXPECT_EQ(readModeFile(testing::TempDir(), s).status, ModeFileStatus::CannotOpen);
    EXPECT_TRUE(unchanged());
    std::remove(path.c_str());

    // Longer files are read by their layout; trailing bytes are ignored.
    good.resize(5000, 0xEE);
    EXPECT_TRUE(loadModeFile(good, s));
}

TEST(ModeFile, ARefusalSaysWhatIsWrong) {
    ParameterStore s;
    std::vector<std::uint8_t> bytes(kModeFileV2Size, 0);
    putLe32(bytes, 0, 7);
    ModeFileResult r = loadModeFile(bytes, s);
    EXPECT_TRUE(r.laterVersion());
    EXPECT_EQ(describe(r, "f"), "f: mode file version 7 not supported (versions 1 and 2 are)");
    putLe32(bytes, 0, 0x00650056); // UTF-16 text
    r = loadModeFile(bytes, s);
    EXPECT_FALSE(r.laterVersion());
    EXPECT_EQ(describe(r, "f"), "f: not a mode file");
    putLe32(bytes, 0, 2);
    r = loadModeFile(std::span(bytes).first(900), s);
    EXPECT_EQ(r.size, 900u);
    EXPECT_EQ(r.needed, kModeFileV2Size);
    EXPECT_EQ(describe(r, "f"), "f: too short (900 of the 1791 bytes of a version 2 mode file)");
    r = loadModeFile(std::span(bytes).first(3), s);
    EXPECT_EQ(r.needed, 0u);
    EXPECT_EQ(describe(r, "f"), "f: too short (3 bytes), not a mode file");
}

TEST(ModeFile, SaveIsAtomic) {
    ParameterStore s;
    const std::string dir = tempPath("atomic_save");
    std::remove((dir + "/m.q7M").c_str());
    ::rmdir(dir.c_str());
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    const std::string path = dir + "/m.q7M";
    writeBytes(path, {1, 2, 3});
    ASSERT_TRUE(writeModeFile(path, s));
    EXPECT_EQ(readBytes(path).size(), 1791u);

    // No temporary file is left behind.
    int entries = 0;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = ::readdir(d))
        entries += e->d_name[0] != '.';
    ::closedir(d);
    EXPECT_EQ(entries, 1);

    const ModeFileResult bad = writeModeFile(dir + "/no/such/dir/x.q7M", s);
    EXPECT_EQ(bad.status, ModeFileStatus::CannotWrite);
    EXPECT_EQ(bad.systemError, ENOENT);
    EXPECT_EQ(readBytes(path).size(), 1791u);
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

TEST(ModeFileNames, ModeIndexFromTheStartOfTheName) {
    EXPECT_EQ(modeIndexFromFileName("/home/u/m2 party.q7M"), 1);
    EXPECT_EQ(modeIndexFromFileName("/home/u/my m2.q7M"), -1);
    EXPECT_EQ(modeIndexFromFileName("m1"), 0);
    EXPECT_EQ(modeIndexFromFileName("默认3 KTV.q7M"), 2);
    EXPECT_EQ(modeIndexFromFileName("tripath4.R3v9"), 3);
    EXPECT_EQ(modeIndexFromFileName("M1.q7M"), -1) << "prefixes are matched exactly";
    EXPECT_EQ(modeIndexFromFileName("/data/m1/show.q7M"), -1) << "folders do not count";
    EXPECT_EQ(modeIndexFromFileName("m5.q7M"), -1);
    EXPECT_EQ(modeIndexFromFileName(".q7M"), -1);
}

TEST(ModeFileNames, NameIsTheStemCutToTwentyCharacters) {
    EXPECT_EQ(modeNameFromFileName("/x/Party.night.q7M"), "Party.night");
    EXPECT_EQ(modeNameFromFileName("abcdefghijklmnopqrstuvwxyz.q7M"), "abcdefghijklmnopqrst");
    EXPECT_EQ(modeNameFromFileName("卡拉OK模式卡拉OK模式卡拉OK模式卡拉OK.q7M"),
              "卡拉OK模式卡拉OK模式卡拉OK模式卡拉");
    EXPECT_EQ(modeNameFromFileName("noext"), "noext");
}

TEST(ModeFileNames, OpenableExtensions) {
    EXPECT_TRUE(isOpenableModeFileName("/a/b.R3v8"));
    EXPECT_TRUE(isOpenableModeFileName("/a/b.R3v9"));
    EXPECT_TRUE(isOpenableModeFileName("/a/b.q7M"));
    EXPECT_TRUE(isOpenableModeFileName("/a/b.Q7M"));
    EXPECT_TRUE(isOpenableModeFileName("/a/b.Q7test"));
    EXPECT_FALSE(isOpenableModeFileName("/a/b.txt"));
    EXPECT_FALSE(isOpenableModeFileName("/a.R3v9/b"));
    EXPECT_FALSE(isOpenableModeFileName("/a/b.R3v9.bak"));
}
