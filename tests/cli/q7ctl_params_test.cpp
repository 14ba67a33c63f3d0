// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl params, get and set: names, ranges, mode files, and the amplifier (simulated, on
// virtual time), where set must send what the editor sends for the same edit.
#include "cli/param_commands.h"
#include "cli/q7ctl.h"
#include "device/connection.h"
#include "json_reader.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <span>
#include <sstream>

using namespace q7;
using q7::test::Json;
using q7::test::JsonReader;

namespace {

struct Result {
    int code;
    std::string out, err;
};

// A simulated amplifier that keeps its settings from one q7ctl run to the next.
struct Bench {
    Result run(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int code = runQ7ctl(args, out, err, Q7ctlEnvironment{&clock, &sim});
        return {code, out.str(), err.str()};
    }
    VirtualClock clock;
    SimulatedAmplifier sim{clock, SimOptions{}};
};

Result offline(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = runQ7ctl(args, out, err);
    return {code, out.str(), err.str()};
}

std::string temp(const std::string& name) {
    return testing::TempDir() + name;
}

bool oneLine(const std::string& s) {
    return !s.empty() && std::count(s.begin(), s.end(), '\n') == 1 && s.back() == '\n';
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A mode file whose every byte is random, so that a byte a write loses or moves shows.
std::vector<std::uint8_t> randomModeFile(unsigned seed) {
    std::mt19937 rng(seed);
    ModeImage m = ParameterStore().modeImage();
    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c)
        m.cells[std::size_t(c)] = std::uint32_t(rng());
    for (std::span<std::uint8_t> block :
         {std::span<std::uint8_t>(m.bandImage), std::span<std::uint8_t>(m.extra),
          std::span<std::uint8_t>(m.speakerLevels), std::span<std::uint8_t>(m.plan)})
        for (std::uint8_t& b : block)
            b = std::uint8_t(rng());
    return modeFileBytes(m);
}

ModeImage imageOf(const std::string& path) {
    ModeImage m = ParameterStore().modeImage();
    EXPECT_TRUE(readModeImage(path, m)) << path;
    return m;
}

std::string hex(const Report& r) {
    return hexReport(r);
}

// The reports a trace file holds going to the amplifier.
std::vector<std::string> sentIn(const std::string& trace) {
    std::ifstream in(trace);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        const auto t = parseTraceLine(line);
        EXPECT_TRUE(t) << line;
        if (t && t->direction == Direction::ToAmplifier)
            out.push_back(hex(t->report));
    }
    return out;
}

} // namespace

// ---- params ----

TEST(Q7ctlParams, ListsEveryParameterOnceWithUnitAndRange) {
    const Result r = offline({"params"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> ids;
    std::map<std::string, std::string> byId;
    for (std::string line; std::getline(lines, line);) {
        const std::string id = line.substr(0, line.find(' '));
        ids.push_back(id);
        byId[id] = line;
    }
    const auto& table = paramTable();
    ASSERT_EQ(ids.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(ids[i], table[i].id) << "the id first, in the table's order";
    auto has = [&](const std::string& id, const std::string& text) {
        EXPECT_NE(byId[id].find(text), std::string::npos) << byId[id];
    };
    has("main.eq.3.gain_db", " dB  -15.0..+15.0 dB");
    has("main.eq.3.freq_hz", " Hz  20..20000 Hz");
    has("main.eq.3.type", "OFF|PEQ|LP|HP|LS|HS");
    has("sub.eq.1.type", "|6..21");
    has("mic.volume", "0..99");
    has("mic.mute", "off|on");
    has("rear.l.delay_ms", "1.5..100.0 ms");
    has("location.listener.x_m", "-5.0..+5.0 m");
    has("main.comp.ratio", "1.0..30.0:1");
    has("center.delay.mode", "High Freq|Channel");
    has("extra.0", "0..255");

    const Result json = offline({"params", "--json"});
    ASSERT_EQ(json.code, 0);
    const auto doc = JsonReader(json.out).document();
    ASSERT_TRUE(doc) << json.out.substr(0, 400);
    ASSERT_EQ(doc->array.size(), table.size());
    const Json* freq = nullptr;
    const Json* type = nullptr;
    const Json* level = nullptr;
    for (const Json& p : doc->array) {
        if (p["name"].string == "main.eq.3.freq_hz")
            freq = &p;
        if (p["name"].string == "main.eq.3.type")
            type = &p;
        if (p["name"].string == "location.speaker.1.level_db")
            level = &p;
    }
    ASSERT_TRUE(freq && type && level);
    EXPECT_EQ((*freq)["unit"].string, "Hz");
    EXPECT_EQ((*freq)["kind"].string, "number");
    EXPECT_EQ((*freq)["min"].number, 20);
    EXPECT_EQ((*freq)["max"].number, 20000);
    EXPECT_EQ((*freq)["label"].string, "MAIN EQ band 3 frequency");
    EXPECT_EQ((*type)["kind"].string, "choice");
    ASSERT_EQ((*type)["values"].array.size(), 6u);
    EXPECT_EQ((*type)["values"].array[5].string, "HS");
    EXPECT_EQ((*level)["min"].type, Json::Type::Null) << "no page limits a speaker level";
}

// ---- get and set on files ----

// Every value a set writes reads back through get, and nothing else in the file changes.
TEST(Q7ctlFile, SetChangesTheNamedValuesAndKeepsEveryOtherByte) {
    const std::string in = temp("set_in.q7M"), outFile = temp("set_out.q7M");
    const std::vector<std::uint8_t> original = randomModeFile(7);
    writeBytes(in, original);
    struct Case {
        const char* assignment;
        const char* printed;
    };
    const Case cases[] = {
        {"main.eq.3.gain_db=-4.5", "main.eq.3.gain_db -4.5 dB"},
        {"main.eq.3.freq_hz=1000 Hz", "main.eq.3.freq_hz 1000 Hz"},
        {"main.eq.3.q=2.25", "main.eq.3.q 2.25"},
        {"main.eq.3.type=hs", "main.eq.3.type HS"},
        {"rear.l.delay_ms=12.5ms", "rear.l.delay_ms 12.5 ms"},
        {"mic.volume=40", "mic.volume 40"},
        {"mic.mute=on", "mic.mute on"},
        {"main.l.delay.on=0", "main.l.delay.on off"},
        {"center.delay.mode=channel", "center.delay.mode Channel"},
        {"main.comp.threshold_db=-20.5", "main.comp.threshold_db -20.5 dB"},
        {"main.comp.ratio=4:1", "main.comp.ratio 4:1"},
        {"music.agc.level_db=+3", "music.agc.level_db +3 dB"},
        {"mic.a.shift.freq_hz=Off", "mic.a.shift.freq_hz Off"},
        {"location.listener.x_m=-1.5", "location.listener.x_m -1.5 m"},
        {"location.room.width_m=6", "location.room.width_m 6 m"},
        {"location.speaker.3.level_db=-2.25", "location.speaker.3.level_db -2.25 dB"},
        {"extra.4=0xAB", "extra.4 0xAB"},
    };
    std::vector<std::string> args = {"set", "--file", in, "-o", outFile};
    std::vector<std::string> get = {"get", "--file", outFile};
    std::set<std::string> named;
    for (const Case& c : cases) {
        args.push_back(c.assignment);
        const std::string a = c.assignment;
        get.push_back(a.substr(0, a.find('=')));
        named.insert(get.back());
    }
    const Result set = offline(args);
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.err, "");
    EXPECT_EQ(readBytes(in), original) << "the input is left alone";

    const Result r = offline(get);
    ASSERT_EQ(r.code, 0) << r.err;
    std::string expected;
    for (const Case& c : cases)
        expected += std::string(c.printed) + "\n";
    EXPECT_EQ(r.out, expected);

    const std::vector<std::uint8_t> written = readBytes(outFile);
    ASSERT_EQ(written.size(), original.size());
    EXPECT_EQ(written[0], original[0]);
    EXPECT_EQ(written[1], original[1]);
    std::set<std::string> changed;
    for (const Difference& d : differences(imageOf(in), imageOf(outFile)))
        changed.insert(d.id);
    for (const std::string& id : changed)
        EXPECT_TRUE(named.count(id)) << id << " changed without being named";
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < written.size(); ++i)
        bytes += written[i] != original[i];
    EXPECT_LE(bytes, 4u * std::size(cases)) << "only the named fields' bytes";
    std::remove(in.c_str());
    std::remove(outFile.c_str());
}

TEST(Q7ctlFile, GetPrintsJsonAndEveryParameterWhenNoneIsNamed) {
    const std::string file = temp("get_json.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    ASSERT_EQ(
        offline({"set", "--file", file, "-o", file, "rear.r.delay_ms=7.25", "music.eq.2.type=LS"})
            .code,
        0)
        << "-o may name the input";
    const Result json =
        offline({"get", "rear.r.delay_ms", "music.eq.2.type", "--file", file, "--json"});
    ASSERT_EQ(json.code, 0) << json.err;
    const auto doc = JsonReader(json.out).document();
    ASSERT_TRUE(doc) << json.out;
    ASSERT_EQ(doc->array.size(), 2u);
    EXPECT_EQ(doc->array[0]["name"].string, "rear.r.delay_ms");
    EXPECT_EQ(doc->array[0]["value"].number, 7.25);
    EXPECT_EQ(doc->array[0]["text"].string, "7.25 ms");
    EXPECT_EQ(doc->array[1]["value"].number, 4);
    EXPECT_EQ(doc->array[1]["text"].string, "LS");

    const Result all = offline({"get", "--file", file});
    ASSERT_EQ(all.code, 0);
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), long(paramTable().size()));
    EXPECT_NE(all.out.find("\nrear.r.delay_ms 7.25 ms\n"), std::string::npos);
    std::remove(file.c_str());
}

// A visible Sub band takes its three sections along (frequency and Q, at 0 dB), as on the page.
// set changes exactly the named values: a Sub band's three sections have names of their own
// and stay as they were.
TEST(Q7ctlFile, ASubBandLeavesItsSectionsAlone) {
    const std::string file = temp("set_sub.q7M");
    writeBytes(file, randomModeFile(3));
    const ModeImage before = imageOf(file);
    ASSERT_EQ(offline({"set", "--file", file, "-o", file, "sub.eq.2.freq_hz=80", "sub.eq.2.q=0.7",
                       "sub.eq.5.type=LP"})
                  .code,
              0);
    const ModeImage m = imageOf(file);
    const auto d = differences(before, m);
    std::set<std::string> changed;
    for (const Difference& x : d)
        changed.insert(x.id);
    for (const std::string& id : changed)
        EXPECT_TRUE(id == "sub.eq.2.freq_hz" || id == "sub.eq.2.q" || id == "sub.eq.5.type") << id;
    const BandRecord band = BandRecord::fromBytes(&m.bandImage[std::size_t(bandOffset(8, 4))]);
    EXPECT_EQ(band.frequency, 80);
    EXPECT_EQ(band.q, 700);
    std::remove(file.c_str());
}

TEST(Q7ctlFile, ValuesOutsideTheRangeAndUnknownNamesAreRefused) {
    const std::string file = temp("refuse_in.q7M"), outFile = temp("refuse_out.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    std::remove(outFile.c_str());
    struct Case {
        const char* assignment;
        const char* message;
    };
    const Case cases[] = {
        {"main.eq.3.gain_db=15.1", "main.eq.3.gain_db: 15.1 is outside -15.0..+15.0 dB"},
        {"main.eq.3.freq_hz=19", "main.eq.3.freq_hz: 19 is outside 20..20000 Hz"},
        {"main.eq.3.q=0", "main.eq.3.q: 0 is outside 0.10..30.00"},
        {"mic.volume=100", "mic.volume: 100 is outside 0..99"},
        {"rear.l.delay_ms=1", "rear.l.delay_ms: 1 is outside 1.5..100.0 ms"},
        {"location.listener.x_m=5.5", "location.listener.x_m: 5.5 is outside -5.0..+5.0 m"},
        {"main.comp.ratio=31", "main.comp.ratio: 31 is outside 1.0..30.0:1"},
        {"reverb.a.time_ms=39", "reverb.a.time_ms: 39 is outside 40..5000 ms"},
        {"main.eq.3.type=6", "main.eq.3.type: 6 is not a type: OFF|PEQ|LP|HP|LS|HS (or 0..5)"},
        {"main.eq.3.type=BP", "is not a type"},
        {"mic.mute=2", "mic.mute: 2 is not one of off, on (or 0, 1)"},
        {"mic.a.shift.freq_hz=6", "is outside Off|2..5 Hz"},
        {"extra.0=256", "extra.0: 256 is outside 0..255"},
        {"main.l.xover.hp.freq_hz=70000", "is outside 0..65535 Hz"},
        {"mic.volume=loud", "mic.volume: loud is not a number"},
        {"mic.volume=nan", "is not a number"},
        {"mic.volume=", "is no value"},
        {"mic.volume", "set takes NAME=VALUE"},
        {"rear.delay_ms=10",
         "unknown parameter rear.delay_ms; did you mean rear.l.delay_ms, rear.r.delay_ms"},
        {"reverb.time=100", "did you mean reverb.a.time_ms, reverb.b.time_ms"},
        {"no.such.thing=1", "unknown parameter no.such.thing (q7ctl params lists them)"},
    };
    for (const Case& c : cases) {
        const Result r =
            offline({"set", "--file", file, "-o", outFile, "mic.volume=10", c.assignment});
        EXPECT_EQ(r.code, 2) << c.assignment;
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::ifstream(outFile).good()) << "nothing written for " << c.assignment;
    }
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"set", "--file", file, "mic.volume=10"}, // no -o
             {"set", "-o", outFile, "mic.volume=10"},  // no --file
             {"set", "--file", file, "-o", outFile},   // nothing to set
             {"get", "bogus", "--file", file},
             {"get", "mic.volume", "--file", file, "-o", outFile},
             {"params", "extr"},
             {"pull", "--file", file}}) {
        const Result r = offline(args);
        EXPECT_EQ(r.code, 2) << args[0] << " " << args.back();
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    const std::string missing = temp("refuse_missing.q7M");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"set", "--file", missing, "-o", outFile, "mic.volume=1"},
             {"get", "mic.volume", "--file", missing},
             {"set", "--file", file, "-o", temp("no/such/dir/x.q7M"), "mic.volume=1"}}) {
        const Result r = offline(args);
        EXPECT_EQ(r.code, 1) << args.back();
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    EXPECT_FALSE(std::ifstream(outFile).good());
    std::remove(file.c_str());
}

// Whatever lands other than typed is said: the reverb time's steps, a gain between tenths;
// a single's nearest value to 0.1 is no rounding. With --json the notes are in the document.
TEST(Q7ctlFile, AValueStoredWithLessResolutionIsNoted) {
    const std::string file = temp("set_step.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    Result r = offline({"set", "--file", file, "-o", file, "reverb.a.time_ms=1000",
                        "main.eq.1.gain_db=-4.55", "main.comp.threshold_db=-0.1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "q7ctl: reverb.a.time_ms=1000 is stored as 982.4 ms (the nearest step)\n"
                     "q7ctl: main.eq.1.gain_db=-4.55 is stored as -4.5 dB (the nearest step)\n");
    EXPECT_EQ(offline({"get", "reverb.a.time_ms", "main.eq.1.gain_db", "--file", file}).out,
              "reverb.a.time_ms 982.4 ms\nmain.eq.1.gain_db -4.5 dB\n");

    r = offline(
        {"set", "--file", file, "-o", file, "--json", "main.eq.1.gain_db=-4.53", "mic.volume=7"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    const auto j = test::JsonReader(r.out).document();
    ASSERT_TRUE(j) << r.out;
    const test::Json& set = (*j)["set"];
    ASSERT_EQ(set.array.size(), 2u);
    EXPECT_EQ(set.array[0]["name"].string, "main.eq.1.gain_db");
    EXPECT_EQ(set.array[0]["typed"].string, "-4.53");
    EXPECT_EQ(set.array[0]["value"].number, -4.5);
    EXPECT_EQ(set.array[0]["text"].string, "-4.5 dB");
    EXPECT_EQ(set.array[1]["value"].number, 7);
    ASSERT_EQ((*j)["notes"].array.size(), 1u);
    EXPECT_EQ((*j)["notes"].array[0].string,
              "main.eq.1.gain_db=-4.53 is stored as -4.5 dB (the nearest step)");
    std::remove(file.c_str());
}

// ---- the amplifier ----

namespace {

// The editor's side: a synchronised connection to a fresh simulated amplifier, an edit path
// sending through it, and the reports it sends.
struct Editor {
    Editor() {
        trace.setListener([this](const TraceLine& t) {
            std::lock_guard l(mutex);
            if (t.direction == Direction::ToAmplifier)
                sent.push_back(hex(t.report));
        });
        c.link.setTrace(&trace);
        EXPECT_TRUE(c.link.OpenLink().opened);
        c.session.SynchronizeData();
        EXPECT_EQ(c.session.CheckConnection(), CheckResult::Passed);
        edits.amplifierHoldsStore();
    }

    std::vector<std::string> edit(const std::function<bool(Dsp&)>& f) {
        {
            std::lock_guard l(mutex);
            sent.clear();
        }
        edits.edit(f);
        c.link.awaitReply();
        std::lock_guard l(mutex);
        return sent;
    }

    VirtualClock clock;
    Clock::Participant self{clock};
    SimulatedAmplifier sim{clock, SimOptions{}};
    ParameterStore store;
    TraceWriter trace;
    std::mutex mutex;
    std::vector<std::string> sent;
    Connection c{sim, clock, store};
    EditPath edits{store, c.link, clock, [this] { return c.link.isOpen(); }};
};

// The level the location page sends speaker k for its distance from the listener.
float levelAt(const ParameterStore& s, int k) {
    const double dx = double(s.cellFloat(cell::ListenerX)) - s.cellFloat(cell::SpeakerX + k - 1);
    const double dy = double(s.cellFloat(cell::ListenerY)) - s.cellFloat(cell::SpeakerY + k - 1);
    return speakerLevelForDistance(std::hypot(dx, dy));
}

// What `q7ctl set` sent after its synchronisation and before its close.
std::vector<std::string> setReports(const std::string& assignment,
                                    const std::vector<std::string>& options = {}) {
    const std::string trace = temp("set_amp.trace");
    Bench reference;
    EXPECT_EQ(reference.run({"--trace", trace, "get", "mic.volume"}).code, 0);
    const std::vector<std::string> sync = sentIn(trace);
    Bench b;
    std::vector<std::string> args = {"--trace", trace, "set", assignment};
    args.insert(args.end(), options.begin(), options.end());
    const Result r = b.run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> all = sentIn(trace);
    std::remove(trace.c_str());
    if (sync.empty() || all.size() < sync.size() ||
        !std::equal(sync.begin(), sync.end() - 1, all.begin()) || all.back() != sync.back()) {
        ADD_FAILURE() << "the synchronisation or the close differs from get's";
        return {};
    }
    return {all.begin() + std::ptrdiff_t(sync.size() - 1), all.end() - 1};
}

} // namespace

// The reports of `q7ctl set NAME=VALUE`, byte for byte, are those the page's sender writes
// through the edit path for the same change.
TEST(Q7ctlAmplifier, SetSendsWhatTheEditorSendsForTheSameEdit) {
    struct Case {
        const char* assignment;
        std::function<bool(Dsp&)> page;
        std::vector<std::string> options = {};
    };
    auto band = [](int group, int record, std::function<void(BandRecord&)> change) {
        return [=](Dsp& d) {
            BandRecord r = d.store().band(group, record);
            change(r);
            return d.SendBand(group, record, r.type, r.gainDb(), r.frequency, r.qValue());
        };
    };
    const Case cases[] = {
        {"main.eq.3.gain_db=-4.5", band(5, 2, [](BandRecord& r) { r.gain = 105; })},
        {"music.eq.7.freq_hz=800", band(4, 6, [](BandRecord& r) { r.frequency = 800; })},
        {"mic.b.eq.2.q=2.5", band(1, 16, [](BandRecord& r) { r.q = 2500; })},
        {"top.eq.10.type=LP", band(9, 9, [](BandRecord& r) { r.type = filter::LowPass; })},
        {"sub.eq.2.freq_hz=80",
         [](Dsp& d) {
             // A Sub band goes with its three sections, which keep their own values.
             const BandRecord b = d.store().band(8, 4);
             bool ok = d.SendBand(8, 4, b.type, b.gainDb(), 80, b.qValue());
             for (int k = 1; k <= 3; ++k) {
                 const BandRecord s = d.store().band(8, 4 + k);
                 ok &= d.SendBand(8, 4 + k, s.type, s.gainDb(), s.frequency, s.qValue());
             }
             return ok;
         }},
        {"sub.eq.2.gain_db=3",
         [](Dsp& d) {
             // A gain edit sends the sections too, even where they do not change.
             const BandRecord b = d.store().band(8, 4);
             bool ok = d.SendBand(8, 4, b.type, 3.0, b.frequency, b.qValue());
             for (int k = 1; k <= 3; ++k) {
                 const BandRecord s = d.store().band(8, 4 + k);
                 ok &= d.SendBand(8, 4 + k, s.type, s.gainDb(), s.frequency, s.qValue());
             }
             return ok;
         }},
        {"center.delay.mode=Channel",
         [](Dsp& d) { return d.sendDelayMode(DelayChannel::Center, 1); }},
        {"rear.l.delay_ms=20.5", [](Dsp& d) { return d.sendDelay(DelayChannel::RearL, 20.5); }},
        {"echo.a.time_ms=200", [](Dsp& d) { return d.sendEchoTime(MicChannel::A, 200); }},
        {"reverb.b.time_ms=536", [](Dsp& d) { return d.sendReverbTime(MicChannel::B, 10); }},
        {"mic.a.shift.freq_hz=3", [](Dsp& d) { return d.sendMicShift(MicChannel::A, 3); }},
        {"main.comp.threshold_db=-20",
         [](Dsp& d) {
             const int c = compressorInfo(OutputGroup::Main).firstCell;
             return d.sendCompressor(OutputGroup::Main,
                                     {-20.0f, d.store().cellFloat(c + 1),
                                      d.store().cellFloat(c + 2), d.store().cellFloat(c + 3)});
         }},
        {"music.mute=on",
         [](Dsp& d) {
             d.store().setCellInt(cell::MusicMute, 1);
             return d.sendMute(cell::MusicMute);
         }},
        {"main.l.delay.on=off",
         [](Dsp& d) {
             const int c = delayChannelInfo(DelayChannel::MainL).offCell;
             d.store().setCellInt(c, 1);
             return d.sendSelector(c);
         }},
        {"mic.port.2.volume=33",
         [](Dsp& d) {
             d.store().setCellInt(46, 33);
             return d.sendLevel(46);
         }},
        {"mic.volume=40",
         [](Dsp& d) {
             d.store().setCellInt(cell::MicVolume, 40);
             return d.sendLevel(cell::MicVolume);
         }},
        {"music.pitch=2",
         [](Dsp& d) {
             // The ribbon writes the pitch itself, as the integer p + 5.
             d.store().setCellInt(cell::MusicPitch, 2);
             return d.WriteDspParam(4, 20, std::uint32_t(7), 1);
         }},
        {"location.listener.x_m=-1.5",
         [](Dsp& d) {
             // The location page: the plan block, then every speaker's level for its distance.
             d.store().setCellFloat(cell::ListenerX, -1.5f);
             bool ok = d.sendPlanBlock();
             for (int k = 1; k <= 8; ++k)
                 ok &= d.sendSpeakerLevel(k, levelAt(d.store(), k));
             return ok;
         },
         {"--location-levels"}},
        {"location.listener.x_m=-1.5",
         [](Dsp& d) {
             // Without --location-levels, the named value alone.
             d.store().setCellFloat(cell::ListenerX, -1.5f);
             return d.sendPlanBlock();
         }},
        {"location.speaker.3.x_m=1.2",
         [](Dsp& d) {
             // A speaker moved: the plan block, then its own level.
             d.store().setCellFloat(cell::SpeakerX + 2, 1.2f);
             const bool ok = d.sendPlanBlock();
             return ok && d.sendSpeakerLevel(3, levelAt(d.store(), 3));
         },
         {"--location-levels"}},
        {"location.room.width_m=6",
         [](Dsp& d) {
             d.store().setCellInt(cell::RoomWidth, 6);
             return d.sendPlanBlock();
         }},
        {"location.speaker.3.level_db=-2.5", [](Dsp& d) { return d.sendSpeakerLevel(3, -2.5f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assignment);
        std::vector<std::string> expected;
        {
            // A thread takes part in one virtual clock at a time: the editor's goes first.
            Editor editor;
            expected = editor.edit(c.page);
        }
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(setReports(c.assignment, c.options), expected);
    }
}

TEST(Q7ctlAmplifier, GetReadsBackWhatSetSent) {
    Bench b;
    Result r = b.run({"get", "main.eq.3.gain_db", "rear.l.delay_ms", "mic.mute"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out, "main.eq.3.gain_db -4.5 dB\nrear.l.delay_ms 12.5 ms\nmic.mute on\n");
    r = b.run({"set", "main.eq.3.gain_db=-4.5", "rear.l.delay_ms=12.5", "mic.mute=on",
               "location.listener.y_m=1.2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(b.sim.current().memory[std::size_t(bandOffset(5, 2)) + 0], 0);
    EXPECT_EQ(b.sim.current().memory[std::size_t(bandOffset(5, 2)) + 1], 105);
    r = b.run({"get", "main.eq.3.gain_db", "rear.l.delay_ms", "mic.mute", "location.listener.y_m",
               "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto doc = JsonReader(r.out).document();
    ASSERT_TRUE(doc) << r.out;
    ASSERT_EQ(doc->array.size(), 4u);
    EXPECT_EQ(doc->array[0]["value"].number, -4.5);
    EXPECT_EQ(doc->array[1]["value"].number, 12.5);
    EXPECT_EQ(doc->array[2]["text"].string, "on");
    EXPECT_DOUBLE_EQ(doc->array[3]["value"].number, 1.2);
}

TEST(Q7ctlAmplifier, SetRefusesBeforeConnectingAndNotesWhatTheSendersChanged) {
    Bench b;
    for (const char* bad : {"main.eq.3.gain_db=99", "extra.1=5", "bogus=1"}) {
        const std::string trace = temp("set_refused.trace");
        const Result r = b.run({"--trace", trace, "set", "mic.volume=10", bad});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_TRUE(sentIn(trace).empty()) << bad << ": nothing sent";
        std::remove(trace.c_str());
    }
    EXPECT_EQ(b.run({"get", "extra.1"}).code, 0) << "the extra bytes are read, only not sent";

    // The predelay goes out as two equal halves: the first half is not what was typed.
    Result r = b.run({"set", "echo.a.predelay.first_ms=10", "echo.a.predelay.second_ms=5"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "q7ctl: echo.a.predelay.first_ms=10 went out as 7.5 ms\n"
                     "q7ctl: echo.a.predelay.second_ms=5 went out as 7.5 ms\n");
    r = b.run({"get", "echo.a.predelay.first_ms", "echo.a.predelay.second_ms"});
    EXPECT_EQ(r.out, "echo.a.predelay.first_ms 7.5 ms\necho.a.predelay.second_ms 7.5 ms\n");

    b.sim.unplug();
    r = b.run({"set", "mic.volume=10"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
}

// One rule for mode new and set: every value a new mode file holds, as get prints it, is taken
// back by set unchanged, for every parameter; and the file mode new writes is that image.
TEST(Q7ctlFile, SetTakesBackEveryValueModeNewWrites) {
    const ModeImage image = newModeImage();
    for (const ParamInfo& p : paramTable()) {
        const std::uint32_t raw = rawValue(p, image);
        const std::string text = paramValueText(p, raw);
        std::string error;
        const auto back = parseParamValue(p, text, error);
        ASSERT_TRUE(back) << p.id << " " << text << ": " << error;
        EXPECT_EQ(paramValueText(p, *back), text) << p.id;
        if (p.hasRange && (p.kind == ValueKind::Number || p.kind == ValueKind::Ratio)) {
            const double v = userValue(p, raw);
            EXPECT_TRUE(v >= p.min && v <= p.max) << p.id << " " << v;
        }
    }
    // Only values outside the pages' ranges differ from the start state.
    for (const Difference& d : differences(ParameterStore().modeImage(), image)) {
        ASSERT_NE(d.param, nullptr);
        EXPECT_TRUE(d.param->hasRange && (d.a < d.param->min || d.a > d.param->max)) << d.id;
    }
    const std::string file = temp("new_rule.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    EXPECT_EQ(modeFileBytes(imageOf(file)), modeFileBytes(image));
    // Through the command line too: every line get prints is a value set accepts.
    const Result all = offline({"get", "--file", file});
    std::istringstream lines(all.out);
    std::vector<std::string> args = {"set", "--file", file, "-o", file};
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        args.push_back(line.substr(0, space) + "=" + line.substr(space + 1));
    }
    EXPECT_EQ(args.size(), paramTable().size() + 5);
    const Result r = offline(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(modeFileBytes(imageOf(file)), modeFileBytes(image));
    std::remove(file.c_str());
}
