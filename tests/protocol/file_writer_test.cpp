// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/file_writer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace q7;

namespace {

class FileWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "q7writer-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string slurp(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void put(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    static mode_t modeOf(const std::string& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
    // Nothing but the files the test made: no temporary file is left behind.
    std::size_t entries() const {
        return std::size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    fs::path dir_;
};

TEST_F(FileWriterTest, ReplacesWholeAndKeepsTheModeOfTheOldFile) {
    const std::string p = path("keys.remo");
    put(p, "old contents");
    ::chmod(p.c_str(), 0600);
    const WriteResult r = FileWriter().write(p, std::string("new"));
    ASSERT_TRUE(r) << describeWrite(r, p);
    EXPECT_EQ(slurp(p), "new");
    EXPECT_EQ(modeOf(p), 0600u);
    EXPECT_EQ(entries(), 1u);

    ::chmod(p.c_str(), 0640);
    ASSERT_TRUE(FileWriter().write(p, std::string("newer")));
    EXPECT_EQ(modeOf(p), 0640u);
}

TEST_F(FileWriterTest, ANewFileGetsTheUsualModeOfNewFiles) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const std::string p = path("new.csv");
    ASSERT_TRUE(FileWriter().write(p, std::string("a,b\n")));
    EXPECT_EQ(modeOf(p), 0666u & ~mask);
}

TEST_F(FileWriterTest, AFullDiskKeepsTheOldFileAndSaysDiskFull) {
    const std::string p = path("filters.txt");
    put(p, "the filters saved yesterday");
    FileWriter w;
    w.failWritesWith(ENOSPC);
    const WriteResult r = w.write(p, std::string("today's filters"));
    EXPECT_FALSE(r);
    EXPECT_EQ(r.failure, WriteFailure::DiskFull);
    EXPECT_EQ(writeReason(r).en, "disk full");
    EXPECT_EQ(writeReason(r).zh, "磁盘已满");
    EXPECT_EQ(slurp(p), "the filters saved yesterday");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(FileWriterTest, DevFullIsADiskFullNotASuccess) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const WriteResult r = FileWriter().write("/dev/full", std::string("x"));
    EXPECT_EQ(r.failure, WriteFailure::DiskFull);
    // Through a link to it as well: the link is followed, not replaced.
    const std::string link = path("out.txt");
    fs::create_symlink("/dev/full", link);
    EXPECT_EQ(FileWriter().write(link, std::string("x")).failure, WriteFailure::DiskFull);
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(FileWriterTest, AReadOnlyFileIsRefusedAndKept) {
    const std::string p = path("preset.q7M");
    put(p, "kept");
    ::chmod(p.c_str(), 0444);
    const WriteResult r = FileWriter().write(p, std::string("replaced"));
    EXPECT_EQ(r.failure, WriteFailure::ReadOnlyFile);
    EXPECT_EQ(writeReason(r).en, "the file is read-only");
    EXPECT_EQ(slurp(p), "kept");
    EXPECT_EQ(modeOf(p), 0444u);
}

TEST_F(FileWriterTest, AReadOnlyFolderIsRefused) {
    const std::string sub = path("ro");
    fs::create_directory(sub);
    put(sub + "/old.txt", "old");
    ::chmod(sub.c_str(), 0555);
    const WriteResult r = FileWriter().write(sub + "/old.txt", std::string("new"));
    ::chmod(sub.c_str(), 0755);
    EXPECT_EQ(r.failure, WriteFailure::ReadOnlyFolder);
    EXPECT_EQ(writeReason(r).en, "the folder is read-only");
    EXPECT_EQ(slurp(sub + "/old.txt"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(sub), fs::directory_iterator()), 1);
}

TEST_F(FileWriterTest, ALinkIsWrittenThroughAndStaysALink) {
    fs::create_directory(path("real"));
    const std::string target = path("real/mode.q7M");
    put(target, "old");
    ::chmod(target.c_str(), 0600);
    const std::string link = path("mode.q7M");
    fs::create_symlink("real/mode.q7M", link); // relative, as users make them
    ASSERT_TRUE(FileWriter().write(link, std::string("new")));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(target), "new");
    EXPECT_EQ(modeOf(target), 0600u);

    // A dangling link: its target is created.
    const std::string dangling = path("later.q7M");
    fs::create_symlink("real/later.q7M", dangling);
    ASSERT_TRUE(FileWriter().write(dangling, std::string("made")));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(slurp(path("real/later.q7M")), "made");
}

TEST_F(FileWriterTest, MissingFoldersAndFoldersInTheWayAreNamed) {
    EXPECT_EQ(FileWriter().write(path("nowhere/x.txt"), std::string("x")).failure,
              WriteFailure::NoFolder);
    fs::create_directory(path("folder"));
    EXPECT_EQ(FileWriter().write(path("folder"), std::string("x")).failure, WriteFailure::NotAFile);
    EXPECT_NE(describeWrite(FileWriter().write(path("nowhere/x"), std::string("x")), "x")
                  .find("does not exist"),
              std::string::npos);
}

} // namespace

namespace {

// Standard output as /proc/self/fd/N (what /dev/stdout is): the descriptor is written, not
// replaced, and a file opened for appending (>>) keeps what it held.
TEST_F(FileWriterTest, AnOpenDescriptorIsWrittenInPlace) {
    const std::string p = path("log.txt");
    put(p, "abc");
    const int fd = ::open(p.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    const WriteResult r =
        FileWriter().write("/proc/self/fd/" + std::to_string(fd), std::string("def"));
    ::close(fd);
    ASSERT_TRUE(r) << describeWrite(r, p);
    EXPECT_EQ(slurp(p), "abcdef");
    EXPECT_EQ(entries(), 1u);
}

} // namespace
