// SPDX-License-Identifier: GPL-3.0-or-later
// The conventions every q7ctl command keeps: help for each, --version, named unknown commands
// and options with a suggestion, "--", "-" for standard input and output, --json, and the
// exit codes 0, 1, 2, 3.
#include "cli/command_line.h"
#include "cli/q7ctl.h"
#include "json_reader.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "protocol/clock.h"
#include "sim/simulated_amplifier.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;
using q7::test::Json;
using q7::test::JsonReader;

namespace {

struct Result {
    int code;
    std::string out, err;
};

// Against a simulated amplifier on virtual time, standard input given.
struct Bench {
    explicit Bench(SimOptions o = {}) : sim(clock, std::move(o)) {}
    Result run(std::vector<std::string> args, const std::string& input = "") {
        std::ostringstream out, err;
        std::istringstream in(input);
        Q7ctlEnvironment env{&clock, &sim, &in};
        const int code = runQ7ctl(args, out, err, env);
        return {code, out.str(), err.str()};
    }
    VirtualClock clock;
    SimulatedAmplifier sim;
};

Result offline(std::vector<std::string> args, const std::string& input = "") {
    std::ostringstream out, err;
    std::istringstream in(input);
    Q7ctlEnvironment env{nullptr, nullptr, &in};
    const int code = runQ7ctl(args, out, err, env);
    return {code, out.str(), err.str()};
}

std::string temp(const std::string& name) {
    return testing::TempDir() + name;
}

bool oneLine(const std::string& s) {
    return !s.empty() && std::count(s.begin(), s.end(), '\n') == 1 && s.back() == '\n';
}

std::vector<std::string> words(const std::string& path) {
    std::vector<std::string> w;
    std::istringstream in(path);
    for (std::string x; in >> x;)
        w.push_back(x);
    return w;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

// Every command answers `q7ctl help WORDS` and `q7ctl WORDS --help` alike, names each of its
// options, and fits 80 columns; the list of commands names every command.
TEST(Q7ctlHelp, EveryCommandDescribesItsOptions) {
    const Result global = offline({"--help"});
    ASSERT_EQ(global.code, 0);
    EXPECT_EQ(global.err, "");
    EXPECT_EQ(offline({"help"}).out, global.out);
    EXPECT_EQ(offline({"-h"}).out, global.out);
    CommandLine cli;
    addQ7ctlCommands(cli);
    int described = 0;
    for (const CLI::App* c : cli.commands()) {
        const std::string path = cli.path(c);
        SCOPED_TRACE(path);
        EXPECT_NE(global.out.find("\n  " + path + " "), std::string::npos);
        std::vector<std::string> args = words(path);
        args.push_back("--help");
        const Result r = offline(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("usage: q7ctl ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(" " + path + " "), std::string::npos) << r.out;
        std::vector<std::string> helpArgs = {"help"};
        for (const std::string& w : words(path))
            helpArgs.push_back(w);
        EXPECT_EQ(offline(helpArgs).out, r.out);
        for (const CLI::Option* o : c->get_options())
            for (const std::string& name : o->get_lnames())
                EXPECT_NE(r.out.find("--" + name), std::string::npos) << name;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << line;
        ++described;
    }
    EXPECT_GE(described, 20);
    // A command of commands lists them.
    const Result mode = offline({"mode", "--help"});
    EXPECT_EQ(mode.code, 0);
    for (const char* sub : {"load", "store", "default", "name", "dump", "new", "diff"})
        EXPECT_NE(mode.out.find("usage: q7ctl [AMPLIFIER OPTIONS] mode " + std::string(sub)) +
                      mode.out.find("usage: q7ctl mode " + std::string(sub)),
                  2 * std::string::npos)
            << sub;
    EXPECT_EQ(offline({"help", "eq"}).out, offline({"eq", "--help"}).out);
}

TEST(Q7ctlHelp, VersionNamesTheProgramItsLicenceAndLibraries) {
    const Result r = offline({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("q7ctl 0.", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("GPL-3.0-or-later"), std::string::npos);
    EXPECT_NE(r.out.find("hidapi "), std::string::npos);
    EXPECT_NE(r.out.find("CLI11 "), std::string::npos);
}

// What is not known is named, with the nearest known word; always exit 2 and one line.
TEST(Q7ctlUsage, UnknownCommandsAndOptionsAreNamedWithASuggestion) {
    const struct {
        std::vector<std::string> args;
        std::string named, suggested;
    } cases[] = {
        {{"inof"}, "unknown command inof", "did you mean info?"},
        {{"help", "eq", "fitt"}, "unknown command eq fitt", "did you mean eq fit?"},
        {{"mode", "lod", "3"}, "unknown command mode lod", "did you mean mode load?"},
        {{"info", "--jsn"}, "unknown option --jsn for info", "did you mean --json?"},
        {{"--simulatr", "info"}, "unknown option --simulatr", "did you mean --simulator?"},
        {{"eq", "fit", "m.txt", "--bank", "main", "--max-bost", "3"},
         "unknown option --max-bost for eq fit",
         "did you mean --max-boost?"},
        {{"frobnicate"}, "unknown command frobnicate", ""},
    };
    for (const auto& c : cases) {
        const Result r = offline(c.args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(r.code, kExitUsage);
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        if (!c.suggested.empty()) {
            EXPECT_NE(r.err.find(c.suggested), std::string::npos) << r.err;
        }
        EXPECT_EQ(r.out, "");
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"mode"},
                                                                  {"mode", "load"},
                                                                  {"mode", "load", "5"},
                                                                  {"levels", "--count", "0"},
                                                                  {"biquad", "1", "x", "1000", "1"},
                                                                  {"info", "extra"},
                                                                  {"pull", "-o"}}) {
        const Result r = offline(args);
        EXPECT_EQ(r.code, kExitUsage) << (args.empty() ? "" : args.back());
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
}

// "--" ends the options: what follows is an argument even when it begins with "-".
TEST(Q7ctlUsage, DoubleDashEndsTheOptions) {
    const std::string file = temp("conv_dash.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    Result r = offline({"get", "--file", file, "--", "mic.volume"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "mic.volume 0\n");
    r = offline({"biquad", "--", "1", "-3", "1000", "1.41"});
    EXPECT_EQ(r.code, 0) << r.err;
    r = offline({"get", "--file", file, "--", "--json"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("unknown parameter --json"), std::string::npos) << r.err;
    r = offline({"info", "--", "--json"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("unexpected argument --json"), std::string::npos) << r.err;
    std::remove(file.c_str());
}

// "-" is standard input where a file is read and standard output where one is written.
TEST(Q7ctlUsage, DashIsStandardInputOrOutput) {
    const Result made = offline({"mode", "new", "-"});
    ASSERT_EQ(made.code, 0) << made.err;
    ASSERT_EQ(made.out.size(), kModeFileV2Size);
    const std::string modeFile = made.out;

    Result r = offline({"mode", "dump", "-"}, modeFile);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"version\": 2, \"params\": {", 0), 0u);
    EXPECT_EQ(offline({"get", "mic.volume", "--file", "-"}, modeFile).out, "mic.volume 0\n");

    // A pipeline: set reads standard input and writes standard output.
    r = offline({"set", "--file", "-", "-o", "-", "mic.volume=42"}, modeFile);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.size(), kModeFileV2Size);
    EXPECT_EQ(offline({"get", "mic.volume", "--file", "-"}, r.out).out, "mic.volume 42\n");

    const std::string a = temp("conv_a.q7M");
    std::ofstream(a, std::ios::binary) << modeFile;
    r = offline({"mode", "diff", a, "-"},
                offline({"set", "--file", a, "-o", "-", "mic.volume=1"}).out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("→ 1"), std::string::npos) << r.out;

    r = offline({"eq", "export", "-", "--bank", "main"}, modeFile);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, offline({"eq", "export", a, "--bank", "main"}).out);
    const std::string filters = r.out;
    r = offline({"eq", "import", "-", "--bank", "main", "--base", a, "-o", "-"}, filters);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, modeFile) << "an export imported gives back the same file";

    r = offline({"push", "-", "--dry-run"}, modeFile);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, offline({"push", a, "--dry-run"}).out);

    Bench b;
    r = b.run({"pull", "-o", "-"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.size(), kModeFileV2Size);
    EXPECT_EQ(b.run({"pull", "-o", "-", "--json"}).code, kExitUsage);

    // A recorded session plays the amplifier from standard input; --trace - writes standard
    // output.
    Bench recording;
    const Result live = recording.run({"--trace", "-", "info"});
    ASSERT_EQ(live.code, 0) << live.err;
    std::string traceText, infoText;
    std::istringstream lines(live.out);
    for (std::string line; std::getline(lines, line);)
        (line.find(" > ") != std::string::npos || line.find(" < ") != std::string::npos
             ? traceText
             : infoText) += line + "\n";
    EXPECT_NE(infoText.find("model: Q7"), std::string::npos);
    {
        VirtualClock clock;
        std::ostringstream out, err;
        std::istringstream in(traceText);
        Q7ctlEnvironment env{&clock, nullptr, &in};
        EXPECT_EQ(runQ7ctl({"--replay", "-", "info"}, out, err, env), 0) << err.str();
        EXPECT_EQ(out.str(), infoText);
        EXPECT_EQ(err.str(), "");
    }

    // Only one file can be standard input.
    EXPECT_EQ(offline({"mode", "diff", "-", "-"}, modeFile).code, kExitUsage);
    EXPECT_EQ(
        offline({"eq", "import", "-", "--bank", "main", "--base", "-", "-o", a}, filters).code,
        kExitUsage);
    // A file called "-" is still reachable as ./-.
    std::remove(a.c_str());
}

// Every command that prints data prints one JSON document with --json (levels: one a line).
TEST(Q7ctlJson, EveryDataCommandPrintsJson) {
    const std::string file = temp("conv_json.q7M"), other = temp("conv_json2.q7M");
    const std::string meas = temp("conv_json_meas.txt"), filters = temp("conv_json_filters.txt");
    writeText(filters, "Filter 1: ON PK Fc 100 Hz Gain -3.0 dB Q 1.41\n");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    ASSERT_EQ(offline({"set", "--file", file, "-o", other, "main.eq.3.gain_db=-2"}).code, 0);
    {
        std::ofstream m(meas);
        for (double f = 20; f < 20000; f *= 1.1)
            m << f << " " << (f > 100 && f < 200 ? 84.0 : 80.0) << "\n";
    }
    const std::vector<std::vector<std::string>> commands = {
        {"devices"},
        {"info"},
        {"pull"},
        {"push", file},
        {"push", file, "--dry-run"},
        {"mode", "load", "2"},
        {"mode", "store", "2"},
        {"mode", "default", "2"},
        {"mode", "name", "2", "Kino \"1\""},
        {"mode", "dump", file},
        {"mode", "diff", file, other},
        {"biquad", "1", "3", "1000", "1.41"},
        {"params", "main.eq.3"},
        {"get", "main.eq.3"},
        {"get", "mic", "--file", file},
        {"set", "mic.volume=12.5"},
        {"set", "mic.volume=12", "--file", file, "-o", other},
        {"eq", "export", file, "--bank", "sub"},
        {"eq", "response", file, "--bank", "main"},
        {"eq", "import", filters, "--bank", "main", "-o", other},
        {"eq", "fit", meas, "--bank", "main", "--range", "50-500", "--bands", "2"},
    };
    Bench b;
    for (std::vector<std::string> args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
        args.push_back("--json");
        const Result r = b.run(args);
        EXPECT_TRUE(r.code == 0 || (args[1] == "diff" && r.code == 1)) << r.err;
        const auto doc = JsonReader(r.out).document();
        EXPECT_TRUE(doc) << r.out;
        EXPECT_TRUE(r.out.ends_with("\n"));
        if (doc) {
            EXPECT_TRUE(doc->type == Json::Type::Object || doc->type == Json::Type::Array);
        }
    }
    for (const std::string& f : {file, other, meas, filters})
        std::remove(f.c_str());
}

// 3: the amplifier does not answer or its replies are lost; 1: it answers wrongly, or none is
// there, or a file fails; 2: bad usage. The same for every command.
TEST(Q7ctlExit, TheSameCodesEverywhere) {
    const std::string file = temp("conv_exit.q7M");
    ASSERT_EQ(offline({"mode", "new", file}).code, 0);
    const std::vector<std::vector<std::string>> amplifierCommands = {{"info"},
                                                                     {"pull"},
                                                                     {"push", file},
                                                                     {"get", "mic.volume"},
                                                                     {"set", "mic.volume=3"},
                                                                     {"levels"},
                                                                     {"mode", "load", "1"},
                                                                     {"mode", "store", "1"},
                                                                     {"mode", "name", "1", "x"}};
    for (const auto& args : amplifierCommands) {
        SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
        Bench silent(SimOptions{.silent = true});
        Result r = silent.run(args);
        EXPECT_EQ(r.code, kExitNoAnswer) << r.err;
        EXPECT_TRUE(oneLine(r.err)) << r.err;

        Bench wrong(SimOptions{.model = "HX3000"});
        r = wrong.run(args);
        EXPECT_EQ(r.code, kExitFailure) << r.err;
        EXPECT_NE(r.err.find("wrong model"), std::string::npos) << r.err;

        Bench gone;
        gone.sim.unplug();
        r = gone.run(args);
        EXPECT_EQ(r.code, kExitFailure) << r.err;
        EXPECT_NE(r.err.find("no amplifier found"), std::string::npos) << r.err;
    }
    Bench lossy(SimOptions{.dropEvery = 3});
    EXPECT_EQ(lossy.run({"get", "mic.volume"}).code, kExitNoAnswer);

    const std::string missing = temp("conv_missing.q7M");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"mode", "dump", missing},
                                               {"push", missing},
                                               {"get", "mic.volume", "--file", missing},
                                               {"eq", "export", missing, "--bank", "main"},
                                               {"mode", "new", temp("no/such/dir/x.q7M")}}) {
        const Result r = offline(args);
        EXPECT_EQ(r.code, kExitFailure) << args[1];
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    std::remove(file.c_str());
}
