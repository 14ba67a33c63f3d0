// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's device commands against the simulated amplifier on virtual time.
#include "cli/param_commands.h"
#include "cli/q7ctl.h"
#include "json_reader.h"
#include "params/mode_file.h"
#include "protocol/clock.h"
#include "protocol/report.h"
#include "sim/simulated_amplifier.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;

namespace {

struct Result {
    int code;
    std::string out, err;
};

struct Bench {
    explicit Bench(SimOptions o = {}) : sim(clock, std::move(o)) {}
    Result run(std::vector<std::string> args, bool useSim = true) {
        std::ostringstream out, err;
        Q7ctlEnvironment env{&clock, useSim ? &sim : nullptr};
        const int code = runQ7ctl(args, out, err, env);
        return {code, out.str(), err.str()};
    }
    VirtualClock clock;
    SimulatedAmplifier sim;
};

std::string temp(const std::string& name) {
    return testing::TempDir() + name;
}

int lines(const std::string& s) {
    return int(std::count(s.begin(), s.end(), '\n'));
}

int count(const std::string& s, const std::string& needle) {
    int n = 0;
    for (std::size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(Q7ctlDevice, InfoPrintsIdentityAndModeNames) {
    Bench b;
    const Result r = b.run({"info"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "model: Q7\nprotocol: 11\nmcu version: 2025-06-18\ndsp version: 2025-07-02\n"
              "current mode: 1\nmode 1: KTV\nmode 2: Cinema\nmode 3: Music\nmode 4: Party\n");
    EXPECT_TRUE(r.err.empty());
}

TEST(Q7ctlDevice, CheckFailuresNameTheirReason) {
    Bench wrongModel(SimOptions{.model = "HX3000"});
    Result r = wrongModel.run({"info"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("wrong model"), std::string::npos) << r.err;
    EXPECT_EQ(lines(r.err), 1);
    Bench oldProtocol(SimOptions{.protocol = 10});
    r = oldProtocol.run({"pull"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("wrong protocol"), std::string::npos) << r.err;
    r = oldProtocol.run({"mode", "store", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("wrong protocol"), std::string::npos) << r.err;
}

// An amplifier that is silent, loses or garbles its replies, or answers too late is not said to
// be the wrong model or to speak the wrong protocol.
TEST(Q7ctlDevice, MissingRepliesAreNamedForWhatTheyAre) {
    struct Case {
        SimOptions options;
        const char* says;
    };
    for (const Case& k : {Case{SimOptions{.silent = true}, "the amplifier does not answer"},
                          Case{SimOptions{.dropEvery = 2}, "replies are being lost ("},
                          Case{SimOptions{.garbageEvery = 1}, "the amplifier"},
                          Case{SimOptions{.latencyUs = 3e6}, "the amplifier"}}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"info"}, std::vector<std::string>{"pull"},
              std::vector<std::string>{"mode", "store", "1"}}) {
            Bench b(k.options);
            const Result r = b.run(args);
            SCOPED_TRACE(args[0] + ": " + r.err);
            EXPECT_EQ(r.code, 3);
            EXPECT_NE(r.err.find(k.says), std::string::npos);
            EXPECT_TRUE(r.err.find("does not answer") != std::string::npos ||
                        r.err.find("replies are being lost") != std::string::npos);
            EXPECT_NE(r.err.find("cable"), std::string::npos) << "what to try";
            EXPECT_EQ(r.err.find("wrong model"), std::string::npos);
            EXPECT_EQ(r.err.find("wrong protocol"), std::string::npos);
        }
    }
}

// A garbled reply never stands in for the value it replaced.
TEST(Q7ctlDevice, GarbledRepliesNeverReachThePulledSettings) {
    Bench clean;
    const Result expected = clean.run({"pull", "--json"});
    ASSERT_EQ(expected.code, 0) << expected.err;
    for (const char* garbage : {"garbage_every=19", "garbage_every=7"}) {
        Bench b;
        const Result r = b.run({std::string("--simulator=") + garbage, "pull", "--json"}, false);
        SCOPED_TRACE(garbage);
        // The shift frequencies are left out: a bypass reply read before or after its frequency
        // (as a read asked again comes later) decodes differently, garbage or not.
        const auto values = [](const std::string& json) {
            std::string out;
            std::istringstream in(json);
            for (std::string item; std::getline(in, item, ',');)
                if (item.find("shift.freq_hz") == std::string::npos)
                    out += item + ",";
            return out;
        };
        if (r.code == 0)
            EXPECT_EQ(values(r.out), values(expected.out));
        else
            EXPECT_EQ(r.code, 3) << r.err;
    }
}

TEST(Q7ctlDevice, PullWritesTheAmplifiersSettings) {
    Bench b;
    const std::string file = temp("cli_pull.q7M");
    const Result r = b.run({"pull", "-o", file, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"version\": 2, ", 0), 0u);
    ParameterStore s;
    ASSERT_TRUE(readModeFile(file, s));
    const BandImage image = s.bandImage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.sim.current().memory.begin()));
    EXPECT_EQ(s.cellInt(26), 60);
    std::remove(file.c_str());
}

TEST(Q7ctlDevice, PushDownloadsAndCommitsTheModeItsNameSelects) {
    Bench b;
    ParameterStore s;
    s.setCellInt(58, 77);
    s.setCellInt(85, 90);
    s.setBand(5, 1, BandRecord::encode(1, -4.0, 44, 3.0));
    const std::string file = temp("m3 party.q7M");
    ASSERT_TRUE(writeModeFile(file, s));
    const double start = b.clock.nowMs();
    const Result r = b.run({"push", file, "--by-mode"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(b.sim.dspValue(2, 15), std::vector<std::uint32_t>{floatBits(0.77f)});
    EXPECT_EQ(b.sim.dspValue(4, 15),
              (std::vector<std::uint32_t>{floatBits(0.9f), floatBits(0.9f)}));
    EXPECT_EQ(b.sim.current().memory[511 + 7 + 3], 44);
    EXPECT_EQ(b.sim.currentMode(), 2);
    EXPECT_EQ(b.sim.userMode(2), b.sim.current());
    EXPECT_GE(b.clock.nowMs() - start, 21 * 100.0) << "the music volume ramps 0.70 .. 0.90";
    std::remove(file.c_str());

    const Result bad = b.run({"push", temp("missing.q7M")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(lines(bad.err), 1);
}

TEST(Q7ctlDevice, ModeCommands) {
    Bench b;
    Result r = b.run({"mode", "load", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "mode 3 (Music): load done\n");
    EXPECT_EQ(b.sim.currentMode(), 2);
    r = b.run({"mode", "name", "2", "Duet 二重唱"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "mode 2 (Duet 二重唱): name done\n");
    EXPECT_EQ(b.sim.modeName(1), u"Duet 二重唱");
    r = b.run({"mode", "store", "4"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "mode 4 (Party): store done\n") << "the amplifier's name, not a default";
    EXPECT_EQ(b.sim.userMode(3), b.sim.current());
    r = b.run({"mode", "default", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = b.run({"mode", "load", "5"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(lines(r.err), 1);

    // 20 characters fit; 21 are refused rather than cut.
    r = b.run({"mode", "name", "3", "二重唱abcdefghijklmnopq"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(b.sim.modeName(2), u"二重唱abcdefghijklmnopq");
    r = b.run({"mode", "name", "3", "abcdefghijklmnopqrstu"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("at most 20"), std::string::npos) << r.err;
    EXPECT_EQ(b.sim.modeName(2), u"二重唱abcdefghijklmnopq");
    for (const std::vector<std::string>& bare :
         {std::vector<std::string>{"push"}, std::vector<std::string>{"mode", "load"}}) {
        r = b.run(bare);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.find("unknown command"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("is required"), std::string::npos) << r.err;
    }
}

// Text: a header naming each column with its unit, then a line a poll. JSON: one object a
// poll (JSON Lines), each meter named by its input, with the audio format.
TEST(Q7ctlDevice, LevelsPollEveryThreeHundredMilliseconds) {
    Bench b;
    const double start = b.clock.nowMs();
    Result r = b.run({"levels", "--count", "4"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lines(r.out), 5);
    EXPECT_EQ(r.out.rfind("poll  music L  music R    mic 1    mic 2    mic 3    mic 4  format  "
                          "bluetooth  mic pair\n   1  ",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(count(r.out, "/255"), 24);
    EXPECT_EQ(count(r.out, "Stereo"), 4);
    EXPECT_GE(b.clock.nowMs() - start, 900.0);

    r = b.run({"levels", "--count", "3", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream in(r.out);
    int polls = 0;
    for (std::string line; std::getline(in, line);) {
        const auto j = test::JsonReader(line).document();
        ASSERT_TRUE(j) << line;
        EXPECT_EQ((*j)["poll"].number, ++polls);
        const test::Json& levels = (*j)["levels"];
        ASSERT_EQ(levels.keys, (std::vector<std::string>{"music_l", "music_r", "mic_1", "mic_2",
                                                         "mic_3", "mic_4"}));
        for (const test::Json& v : levels.array)
            EXPECT_TRUE(v.number >= 0 && v.number <= 255);
        EXPECT_EQ((*j)["full_scale"].number, 255);
        EXPECT_EQ((*j)["format"].string, "Stereo");
        EXPECT_EQ((*j)["bluetooth"].type, test::Json::Type::Bool);
    }
    EXPECT_EQ(polls, 3);
}

// A poll whose reply never came, or an amplifier gone mid-way, ends the command with the poll
// named; the last reading is never printed again as if it were new.
TEST(Q7ctlDevice, LevelsStopAtAPollThatWasNotAnswered) {
    {
        Bench b(SimOptions{.dropEvery = 6}); // three handshake requests, then the polls
        const Result r = b.run({"levels", "--count", "5"});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(lines(r.out), 1 + 2) << r.out;
        EXPECT_NE(r.err.find("poll 3: the level reply did not come"), std::string::npos) << r.err;
    }
    {
        Bench b(SimOptions{.unplugAfter = 5}); // gone at the sixth request
        const Result r = b.run({"levels", "--count", "5", "--json"});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(lines(r.out), 2) << r.out;
        EXPECT_NE(r.err.find("poll 3: the amplifier was lost"), std::string::npos) << r.err;
    }
}

TEST(Q7ctlDevice, AQuietAmplifierReadsZeroLevels) {
    std::string error;
    const auto o = SimOptions::parse("latency_us=1000,quiet", error);
    ASSERT_TRUE(o) << error;
    ASSERT_TRUE(o->quiet);
    Bench b(*o);
    const Result r = b.run({"levels", "--count", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line))
        EXPECT_EQ(line.substr(4, 54), "    0/255    0/255    0/255    0/255    0/255    0/255")
            << line;
}

TEST(Q7ctlDevice, DevicesListsOnlyAmplifiers) {
    Bench b;
    Result r = b.run({"devices"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "sim:q7\n");
    b.sim.unplug();
    r = b.run({"devices"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no amplifier"), std::string::npos);
    r = b.run({"info"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(lines(r.err), 1);
}

TEST(Q7ctlDevice, BadSimulatorOptionsAreRefused) {
    Bench b;
    for (const char* o :
         {"--simulator=bogus", "--simulator=latency_us=x", "--simulator=drop_every=-1"}) {
        const Result r = b.run({o, "info"}, false);
        EXPECT_EQ(r.code, 2) << o;
        EXPECT_EQ(lines(r.err), 1) << o;
    }
}

// A trace cut short, at a line's end or in the middle of one, or with bad hex, stops the replay
// at once with the line named, and the command fails.
TEST(Q7ctlDevice, DamagedTracesStopTheReplayAtOnce) {
    const std::string trace = temp("replay_damaged.trace");
    Bench live;
    ASSERT_EQ(live.run({"--simulator", "--trace", trace, "pull"}, false).code, 0);
    std::vector<std::string> recorded;
    {
        std::ifstream in(trace);
        for (std::string l; std::getline(in, l);)
            recorded.push_back(l);
    }
    ASSERT_GT(recorded.size(), 100u);
    const auto write = [&](std::size_t keep, const std::string& last) {
        std::ofstream out(trace, std::ios::trunc);
        for (std::size_t i = 0; i < keep; ++i)
            out << recorded[i] << "\n";
        out << last;
    };
    struct Case {
        std::size_t keep;
        std::string last;
        int code;
        const char* says;
    };
    const std::string half = recorded[60].substr(0, recorded[60].size() / 2);
    std::string badHex = recorded[60];
    badHex[badHex.size() - 2] = 'Q';
    for (const Case& k :
         {Case{60, "", 3, "the trace ended at line 60"},
          Case{60, half, 1, "line 61 is not a trace line"},
          Case{60, badHex + "\n" + recorded[61], 1, "line 61 is not a trace line"}}) {
        write(k.keep, k.last);
        Bench b;
        const double start = b.clock.nowMs();
        const Result r = b.run({"--replay", trace, "pull"}, false);
        SCOPED_TRACE(k.says);
        EXPECT_EQ(r.code, k.code) << r.err;
        EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
        EXPECT_LT(b.clock.nowMs() - start, 10000) << "no reply timeout for every request left";
    }
    std::remove(trace.c_str());
}

// Output that could not be written is a failure, named: standard output refusing every byte,
// and a trace on a full device.
TEST(Q7ctlDevice, OutputThatCouldNotBeWrittenFails) {
    struct Refusing : std::streambuf {
        int overflow(int) override { return traits_type::eof(); }
        std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
    } refusing;
    std::ostream full(&refusing);
    std::ostringstream err;
    VirtualClock clock;
    SimulatedAmplifier sim(clock);
    Q7ctlEnvironment env{&clock, &sim};
    EXPECT_EQ(runQ7ctl({"info"}, full, err, env), 1);
    EXPECT_NE(err.str().find("cannot write standard output"), std::string::npos) << err.str();

    std::ifstream devFull("/dev/full");
    if (!devFull)
        GTEST_SKIP() << "no /dev/full here";
    Bench b;
    const Result r = b.run({"--trace", "/dev/full", "info"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the trace /dev/full"), std::string::npos) << r.err;
}

// Every device command, recorded against healthy and faulty amplifiers, replays without a
// mismatch and in no more time than it took live.
TEST(Q7ctlDevice, RecordedCommandsReplayAtLiveSpeed) {
    const std::string file = temp("replay_push.q7M");
    {
        // Within every range: a file with values to clamp says so on stderr, live and replayed.
        ModeImage m = newModeImage();
        m.cells[58] = 17;
        ASSERT_TRUE(writeFileAtomically(file, modeFileBytes(m)));
    }
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"pull", "-o", temp("replay_pull.q7M")},
        {"push", file, "--by-mode"},
        {"mode", "store", "2"},
        {"mode", "load", "3"},
        {"levels", "--count", "3"},
    };
    for (const std::string options : {"", "=latency_us=1000,tunnel_every=5,drop_every=9"}) {
        for (const auto& command : commands) {
            SCOPED_TRACE(command[0] + (command.size() > 1 ? " " + command[1] : "") + options);
            const std::string trace = temp("replay_cmd.trace");
            Bench live;
            std::vector<std::string> args = {"--simulator" + options, "--trace", trace};
            args.insert(args.end(), command.begin(), command.end());
            double start = live.clock.nowMs();
            const Result recorded = live.run(args, false);
            const double liveMs = live.clock.nowMs() - start;
            ASSERT_EQ(recorded.code, 0) << recorded.err;

            Bench replayed;
            args = {"--replay", trace};
            args.insert(args.end(), command.begin(), command.end());
            start = replayed.clock.nowMs();
            const Result r = replayed.run(args, false);
            const double replayMs = replayed.clock.nowMs() - start;
            EXPECT_EQ(r.code, 0);
            EXPECT_EQ(r.err, "") << "no mismatch, nothing left over";
            EXPECT_EQ(r.out, recorded.out);
            EXPECT_LE(replayMs, liveMs * 1.2) << "live " << liveMs << " ms";
            std::remove(trace.c_str());
        }
    }
    std::remove(file.c_str());
}

// A session recorded with --trace plays back with --replay without a single mismatch.
TEST(Q7ctlDevice, RecordedSessionsReplay) {
    const std::string trace = temp("cli_session.trace");
    Bench b;
    Result r = b.run({"--simulator", "--trace", trace, "info"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    Bench replayed;
    r = replayed.run({"--replay", trace, "info"}, false);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("mode 2: Cinema"), std::string::npos);

    // Edit one reply in the recording: the replayed session sees it.
    std::ifstream in(trace);
    std::vector<std::string> all;
    for (std::string l; std::getline(in, l);)
        all.push_back(l);
    for (std::string& l : all)
        if (l.find(" < 02 80 51 37") != std::string::npos)
            l.replace(l.find(" < 02 80 51 37") + 12, 2, "38"); // "Q8"
    std::ofstream(trace) << [&] {
        std::string s;
        for (const auto& l : all)
            s += l + "\n";
        return s;
    }();
    r = replayed.run({"--replay", trace, "info"}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("\"Q8\""), std::string::npos) << r.err;
    std::remove(trace.c_str());
}

// Settings that never arrived are not saved as if the amplifier held them: lost replies exit 3.
TEST(Q7ctlDevice, APullWithValuesThatCouldNotBeReadFails) {
    const std::string file = temp("incomplete_pull.q7M");
    std::remove(file.c_str());
    Bench b(SimOptions{.dropEvery = 3});
    const Result r = b.run({"pull", "-o", file});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("settings could not be read from the amplifier"), std::string::npos)
        << r.err;
    EXPECT_EQ(lines(r.err), 1);
    EXPECT_FALSE(std::ifstream(file).good()) << "no file of half-read settings";
}

// Without --by-mode an amplifier that keeps its volumes by power keeps them: a pull afterwards
// reads its own volumes and the file's everything else.
TEST(Q7ctlDevice, APushByPowerKeepsTheAmplifiersVolumes) {
    Bench b;
    Result r = b.run({"pull", "-o", temp("before_push.q7M")});
    ASSERT_EQ(r.code, 0) << r.err;
    ParameterStore before;
    ASSERT_TRUE(readModeFile(temp("before_push.q7M"), before));
    ParameterStore loud;
    loud.setCellInt(26, 95);
    loud.setCellInt(85, 97);
    loud.setCellInt(58, 33);
    const std::string file = temp("loud_push.q7M");
    ASSERT_TRUE(writeModeFile(file, loud));
    r = b.run({"push", file});
    ASSERT_EQ(r.code, 0) << r.err;
    r = b.run({"pull", "-o", temp("after_push.q7M")});
    ASSERT_EQ(r.code, 0) << r.err;
    ParameterStore after;
    ASSERT_TRUE(readModeFile(temp("after_push.q7M"), after));
    EXPECT_EQ(after.cellInt(58), 33);
    EXPECT_EQ(after.cellInt(26), before.cellInt(26));
    EXPECT_EQ(after.cellInt(85), before.cellInt(85));
    for (const char* f : {"before_push.q7M", "loud_push.q7M", "after_push.q7M"})
        std::remove(temp(f).c_str());
}

// A damaged file behind a valid version word reaches nothing; one holding the start settings'
// zeros is clamped, each value said before the download, and the amplifier gets the clamped one.
TEST(Q7ctlDevice, PushRefusesDamagedFilesAndSaysWhatItClamps) {
    Bench b;
    const AmpSettings untouched = b.sim.current();
    const int requests = b.sim.requestsSeen();
    std::ifstream preset(std::string(Q7_SOURCE_DIR) + "/resources/presets/430.q7M",
                         std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(preset), {}};
    ASSERT_EQ(bytes.size(), kModeFileV2Size);
    auto putCell = [&bytes](int c, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[std::size_t(4 + 4 * (c - 26) + i)] = char(v >> (8 * i));
    };
    putCell(74, std::uint32_t(-1793185536)); // reverb level, channel A
    const std::string damaged = temp("damaged_push.q7M");
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    Result r = b.run({"push", damaged});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "q7ctl: " + damaged +
                         ": not loaded: Mic CH A Reverb Level (reverb.a.level) is -1793185536%, "
                         "outside 0..100%\n");
    r = b.run({"push", "--dry-run", damaged});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(b.sim.requestsSeen(), requests) << "nothing went to the amplifier";
    EXPECT_EQ(b.sim.current(), untouched);

    ParameterStore start; // an editor that never met an amplifier saves zeros
    start.setCellInt(74, 33);
    const std::string zeros = temp("zeros_push.q7M");
    ASSERT_TRUE(writeModeFile(zeros, start));
    r = b.run({"push", "--json", zeros});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("q7ctl: " + zeros +
                         ": clamped Main Comp Ratio (main.comp.ratio): 0.0:1 → 1.0:1 (range "
                         "1.0..30.0:1)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(count(r.err, ": clamped "), 44);
    const auto j = test::JsonReader(r.out).document();
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ((*j)["clamped"].array.size(), 44u);
    // The ratio 1 went out (1 - 1/1 = 0), not the -inf of a ratio 0.
    EXPECT_EQ(b.sim.dspValue(5, 33).at(2), 0u);
    EXPECT_EQ(b.sim.dspValue(3, 15).at(0), floatBits(0.33f));
    std::remove(damaged.c_str());
    std::remove(zeros.c_str());
}
