// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl measuring through a real audio server: a PulseAudio of the test's own with a null sink
// and a source made from its monitor (Qt 6.4 lists no monitor sources), so that what q7ctl plays
// comes straight back. The response must be flat and the delay the same run after run, although
// the two streams start with a different offset every time.
#include "json_reader.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace q7::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kSink = "Q7 test sink";
constexpr const char* kMonitor = "Q7 test monitor";

// Output of a shell command (stdout only) and its exit code.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return {-1, out};
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class PulseServer : public testing::Test {
protected:
    void SetUp() override {
        if (run("command -v pulseaudio").first != 0 || run("command -v pactl").first != 0)
            GTEST_SKIP() << "pulseaudio and pactl are not installed (tools/bootstrap.sh)";
        dir_ = fs::temp_directory_path() / ("q7_pulse_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "home");
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::replace);
        server_ = "unix:" + (dir_ / "native").string();
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::setenv("HOME", (dir_ / "home").c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            ::setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
            const std::string sink = "module-null-sink sink_name=q7test rate=48000 channels=2 "
                                     "format=float32le sink_properties='device.description=\"" +
                                     std::string(kSink) + "\"'";
            const std::string mic =
                "module-remap-source master=q7test.monitor "
                "source_name=q7testmic source_properties='device.description=\"" +
                std::string(kMonitor) + "\"'";
            const std::string socket =
                "module-native-protocol-unix socket=" + (dir_ / "native").string();
            // The socket comes last: once it answers, both devices exist.
            ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                     "--log-target=stderr", "--log-level=error", "--load", sink.c_str(), "--load",
                     mic.c_str(), "--load", socket.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(ready()) << "the test's PulseAudio did not start";
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        if (!dir_.empty())
            fs::remove_all(dir_);
    }
    bool ready() {
        return run("PULSE_SERVER=" + server_ + " pactl list short sources 2>/dev/null")
                   .second.find("q7testmic") != std::string::npos;
    }
    std::pair<int, std::string> q7ctl(const std::string& args) {
        return run("PULSE_SERVER=" + server_ + " " + Q7CTL_PATH + " " + args);
    }

    fs::path dir_;
    std::string server_;
    pid_t pid_ = -1;
};

} // namespace

TEST_F(PulseServer, MeasuresALoopbackFlatWithAStableDelay) {
    const auto [listed, devices] = q7ctl("audio devices");
    if (listed == 1)
        GTEST_SKIP() << "this q7ctl was built without Qt Multimedia";
    ASSERT_EQ(listed, 0);
    ASSERT_NE(devices.find(kSink), std::string::npos) << devices;
    ASSERT_NE(devices.find(kMonitor), std::string::npos) << devices;
    std::vector<double> delays;
    for (int runIndex = 0; runIndex < 3; ++runIndex) {
        const auto [code, out] = q7ctl(
            std::string("--simulator measure --speaker main-l --play '") + kSink + "' --record '" +
            kMonitor + "' --reference loopback --sweep-seconds 1 --smooth 1/12 --json");
        ASSERT_EQ(code, 0) << out;
        const auto doc = JsonReader(out).document();
        ASSERT_TRUE(doc) << out;
        const Json& j = *doc;
        EXPECT_FALSE(j["clipped"].boolean);
        ASSERT_GT(j["points"].array.size(), 400u);
        for (const Json& p : j["points"].array)
            ASSERT_NEAR(p.array[1].number, -12.0, 0.5) << p.array[0].number << " Hz";
        delays.push_back(j["delay_ms"].number);
    }
    // The same wire every time: within a sample of one another.
    for (double d : delays)
        EXPECT_NEAR(d, delays.front(), 1.0 / 48)
            << delays[0] << " " << delays[1] << " " << delays[2];
}

// Timed by an acoustic reference instead: its sweeps come back over the same wire, and the
// speaker switches fall between the parts wherever the streams started.
TEST_F(PulseServer, TimesAnAcousticReferenceOverTheSameWire) {
    if (q7ctl("audio devices").first == 1)
        GTEST_SKIP() << "this q7ctl was built without Qt Multimedia";
    const auto [code, out] =
        q7ctl(std::string("--simulator measure --speaker center --play '") + kSink +
              "' --record '" + kMonitor + "' --reference main-l --sweep-seconds 1 --json");
    ASSERT_EQ(code, 0) << out;
    const auto doc = JsonReader(out).document();
    ASSERT_TRUE(doc) << out;
    EXPECT_NEAR((*doc)["delay_ms"].number, 0.0, 0.05);
}
