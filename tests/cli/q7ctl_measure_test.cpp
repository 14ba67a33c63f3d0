// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's measurements against the simulated amplifier and its room, on virtual time.
#include "cli/q7ctl.h"
#include "eq/measurement.h"
#include "json_reader.h"
#include "measure/output.h"
#include "measure/speakers.h"
#include "protocol/clock.h"
#include "sim/simulated_amplifier.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;
using namespace q7::test;

namespace {

struct Result {
    int code;
    std::string out, err;
};

struct Bench {
    explicit Bench(SimOptions o = {}) : sim(clock, std::move(o)) {}
    Result run(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int code = runQ7ctl(args, out, err, Q7ctlEnvironment{&clock, &sim});
        return {code, out.str(), err.str()};
    }
    VirtualClock clock;
    SimulatedAmplifier sim;
};

std::string temp(const std::string& name) {
    return testing::TempDir() + name;
}

Json parsed(const std::string& text) {
    auto doc = JsonReader(text).document();
    EXPECT_TRUE(doc) << text.substr(0, 300);
    return doc.value_or(Json{});
}

} // namespace

TEST(Q7ctlMeasure, MeasuresASpeakerAndPutsEveryValueBack) {
    Bench b;
    const AmpSettings before = b.sim.current();
    const std::string meas = temp("cli_meas.txt"), ir = temp("cli_ir.wav");
    const Result r = b.run({"--simulator", "measure", "--speaker", "main-l", "--sweep-seconds", "1",
                            "--smooth", "1/12", "-o", meas, "--ir", ir, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json j = parsed(r.out);
    EXPECT_EQ(j["speaker"].string, "main-l");
    // The default latency (40 ms), the main L delay (1.5 ms) and the path to the sofa (~3 m).
    EXPECT_GT(j["delay_ms"].number, 45);
    EXPECT_LT(j["delay_ms"].number, 55);
    EXPECT_LT(j["peak_db"].number, -3);
    EXPECT_GT(j["snr_db"].number, 40);
    EXPECT_FALSE(j["clipped"].boolean);
    EXPECT_EQ(j["thd_percent_1k"].type, Json::Type::Number);
    ASSERT_EQ(j["points"].array.size(), 479u);
    EXPECT_EQ(j["points"].array[0].array[0].number, 20.0);
    EXPECT_EQ(j["points"].array[0].array.size(), 3u);
    // The amplifier holds exactly what it held before: mutes back, nothing else touched.
    EXPECT_EQ(b.sim.current(), before);
    // The text reads back as a measurement; the impulse response is a WAV file.
    const MeasurementRead m = readMeasurementFile(meas);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.curve.hz.size(), 479u);
    const WavData w = readWav(ir);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.frames(), 48000u + 4800u);
    std::remove(meas.c_str());
    std::remove(ir.c_str());
}

TEST(Q7ctlMeasure, InputReferenceAndPositions) {
    Bench b;
    // The sub timed against main L's acoustic reference, through HDMI, two positions averaged.
    const std::string trace = temp("cli_measure.trace");
    const Result r = b.run({"--simulator", "--trace", trace, "measure", "--speaker", "sub",
                            "--input", "hdmi", "--reference", "main-l", "--positions", "2",
                            "--average", "db", "--sweep-seconds", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("sub: delay ", 0), 0u) << r.out;
    EXPECT_NE(r.err.find("position 2 of 2"), std::string::npos);
    // The source goes to HDMI (3) for the measurement and back to AUTO (0) afterwards.
    std::ifstream in(trace);
    std::vector<std::string> sources;
    for (std::string line; std::getline(in, line);)
        if (line.find(" > 02 0B ") != std::string::npos)
            sources.push_back(line.substr(line.find(" > 02 0B ") + 9, 2));
    EXPECT_EQ(sources, (std::vector<std::string>{"03", "00"}));
    std::remove(trace.c_str());
}

TEST(Q7ctlMeasure, FailedMeasurementsAndBadUsage) {
    // A room where main L is not connected: nothing arrives.
    const std::filesystem::path dir = temp("cli_room");
    std::filesystem::create_directories(dir);
    std::string error;
    ASSERT_TRUE(writeWav((dir / "main-r.wav").string(), {0.0f, 0.5f, 0.1f}, 1, 48000, error));
    Bench b;
    Result r = b.run({"--simulator=room=" + dir.string(), "measure", "--speaker", "main-l",
                      "--sweep-seconds", "1", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no signal"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    std::filesystem::remove_all(dir);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--simulator", "measure"},
             {"--simulator", "measure", "--speaker", "main"},
             {"--simulator", "measure", "--speaker", "sub", "--smooth", "1/5"},
             {"--simulator", "measure", "--speaker", "sub", "--sweep-seconds", "0.5"},
             {"--simulator", "measure", "--speaker", "sub", "--positions", "0"},
             {"--simulator", "measure", "--speaker", "sub", "--input", "aux"},
             {"--simulator", "measure", "--speaker", "sub", "--reference", "left"},
             {"--simulator", "measure", "--speaker", "sub", "--average", "median"},
             {"--simulator", "measure", "--speaker", "sub", "--frobnicate"},
             {"--simulator=noise_db=x", "measure", "--speaker", "sub"},
             {"--replay", "x.trace", "measure", "--speaker", "sub"},
             {"--simulator", "audio", "devices", "--speaker", "sub"},
             {"--simulator", "measure", "--speaker", "sub", "--play", "Simulated amplifier input",
              "--record", "Some USB microphone"},
         }) {
        r = b.run(bad);
        EXPECT_EQ(r.code, 2) << bad.back() << ": " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    r = b.run({"measure", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--reference SPK|loopback|none"), std::string::npos);
    EXPECT_EQ(b.run({"help", "measure"}).out, r.out);
    EXPECT_NE(b.run({"help", "audio"}).out.find("devices"), std::string::npos);
}

TEST(Q7ctlMeasure, AudioDevicesListsTheSimulatedOnes) {
    Bench b;
    Result r = b.run({"--simulator", "audio", "devices", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json j = parsed(r.out);
    ASSERT_EQ(j["playback"].array.size(), 1u);
    EXPECT_EQ(j["playback"].array[0]["name"].string, "Simulated amplifier input");
    EXPECT_EQ(j["recording"].array[0]["name"].string, "Simulated measurement microphone");
    EXPECT_TRUE(j["recording"].array[0]["default"].boolean);
    r = b.run({"--simulator", "audio", "devices"});
    EXPECT_EQ(r.out, "playback:\n  Simulated amplifier input (2 channels, default)\n"
                     "recording:\n  Simulated measurement microphone (2 channels, default)\n");
    // Without the simulator and without system audio (a build without Qt): said so.
    r = b.run({"audio", "devices"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no audio devices"), std::string::npos);
}

TEST(Q7ctlMeasure, DeconvolvesARecordingMadeElsewhere) {
    // Our sweep, recorded 0.3 s into a file through a 6 dB cut.
    SweepSetup s;
    s.seconds = 1;
    std::vector<float> rec(48000 * 3, 0.0f);
    const auto x = exponentialSweep(s);
    for (std::size_t i = 0; i < x.size(); ++i)
        rec[14400 + i] = 0.5f * x[i];
    const std::string path = temp("cli_recording.wav");
    std::string error;
    ASSERT_TRUE(writeWav(path, rec, 1, 48000, error));
    Bench b;
    Result r = b.run({"measure", "--recording", path, "--sweep-seconds", "1", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json j = parsed(r.out);
    EXPECT_NEAR(j["delay_ms"].number, 300, 0.01);
    for (const Json& p : j["points"].array)
        ASSERT_NEAR(p.array[1].number, -12 - 6.02, 0.05) << p.array[0].number;
    r = b.run({"measure", "--recording", path});
    EXPECT_EQ(r.code, 2);
    r = b.run({"measure", "--recording", path, "--sweep-seconds", "1", "--reference", "loopback"});
    EXPECT_EQ(r.code, 1); // a mono file has no loopback channel
    std::remove(path.c_str());
}
