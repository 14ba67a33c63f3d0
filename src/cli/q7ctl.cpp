#include "cli/q7ctl.h"

#include "cli/device_commands.h"
#include "cli/eq_commands.h"
#include "cli/mode_json.h"
#include "params/biquad.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "protocol/clock.h"
#include "protocol/report_sink.h"
#include "protocol/trace.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace q7 {

namespace {

constexpr const char* kUsage =
    "usage: q7ctl [--simulator[=OPTIONS] | --replay TRACE] [--trace FILE] [--verbose] COMMAND\n"
    "  devices | info | pull [-o FILE] [--json] | push FILE [--by-mode] [--dry-run]\n"
    "  mode load|store|default N | mode name N TEXT | levels [--count K]\n"
    "  mode dump FILE | mode new FILE | mode diff A B [--json] | biquad TYPE GAIN_DB FREQ_HZ Q";

std::optional<double> parseDouble(const std::string& s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::optional<int> parseInt(const std::string& s) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

CliArgs parseArgs(const std::vector<std::string>& args) {
    CliArgs a;
    auto value = [&](std::size_t& i, const std::string& name) -> std::optional<std::string> {
        const std::string& s = args[i];
        if (s.size() > name.size() && s[name.size()] == '=')
            return s.substr(name.size() + 1);
        if (i + 1 < args.size())
            return args[++i];
        a.error = name + " needs a value";
        return std::nullopt;
    };
    auto is = [](const std::string& s, const std::string& name) {
        return s == name || s.starts_with(name + "=");
    };
    for (std::size_t i = 0; i < args.size() && a.error.empty(); ++i) {
        const std::string& s = args[i];
        if (s == "--dry-run") {
            a.dryRun = true;
        } else if (s == "--by-mode") {
            a.byMode = true;
        } else if (s == "--json") {
            a.json = true;
        } else if (s == "--verbose" || s == "-v") {
            a.verbose = true;
        } else if (s == "--simulator") {
            a.simulator = "";
        } else if (s.starts_with("--simulator=")) {
            a.simulator = s.substr(12);
        } else if (is(s, "--trace")) {
            a.trace = value(i, "--trace");
        } else if (is(s, "--replay")) {
            a.replay = value(i, "--replay");
        } else if (s == "-o" || is(s, "--output")) {
            a.output = value(i, s == "-o" ? "-o" : "--output");
        } else if (is(s, "--count")) {
            const auto v = value(i, "--count");
            const auto n = v ? parseInt(*v) : std::nullopt;
            if (!n || *n < 1)
                a.error = "--count needs a positive number";
            else
                a.count = *n;
        } else if (s.starts_with("-") && s.size() > 1 && !parseDouble(s)) {
            a.error = "unknown option " + s;
        } else {
            a.positional.push_back(s);
        }
    }
    if (a.simulator && a.replay)
        a.error = "--simulator and --replay exclude each other";
    return a;
}

std::optional<std::vector<std::uint8_t>> readHead(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(kModeFileV1Size);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    bytes.resize(std::size_t(in.gcount()));
    return bytes;
}

int modeDump(const std::string& path, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto bytes = readHead(path, error);
    if (!bytes) {
        err << "q7ctl: " << error << "\n";
        return 1;
    }
    ParameterStore fresh;
    ModeImage image = fresh.modeImage();
    const ModeFileResult r = parseModeFile(*bytes, image);
    if (!r) {
        err << "q7ctl: " << describe(r, path) << "\n";
        return 1;
    }
    out << modeImageJson(image, r.version) << "\n";
    return 0;
}

// Exit 0 when the files hold the same settings, 1 when they differ, 2 when one cannot be read.
int modeDiff(const std::string& pathA, const std::string& pathB, bool json, std::ostream& out,
             std::ostream& err) {
    // Both start from the same image, so only what the files hold can differ.
    const ModeImage start = ParameterStore().modeImage();
    ModeImage images[2] = {start, start};
    const std::string* paths[2] = {&pathA, &pathB};
    for (int i = 0; i < 2; ++i) {
        const ModeFileResult r = readModeImage(*paths[i], images[i]);
        if (!r) {
            err << "q7ctl: " << describe(r, *paths[i]) << "\n";
            return 2;
        }
    }
    const std::vector<Difference> d = differences(images[0], images[1]);
    if (json)
        out << differencesJson(d) << "\n";
    else
        for (const Difference& x : d)
            out << describe(x, true) << "\n";
    return d.empty() ? 0 : 1;
}

int modeNew(const std::string& path, std::ostream& err) {
    ParameterStore store;
    const ModeFileResult r = writeModeFile(path, store);
    if (!r) {
        err << "q7ctl: " << describe(r, path) << "\n";
        return 1;
    }
    return 0;
}

int biquad(const std::vector<std::string>& p, std::ostream& out, std::ostream& err) {
    const auto type = parseInt(p[1]);
    const auto gain = parseDouble(p[2]);
    const auto freq = parseDouble(p[3]);
    const auto q = parseDouble(p[4]);
    if (!type || !gain || !freq || !q) {
        err << "q7ctl: biquad takes TYPE (integer) GAIN_DB FREQ_HZ Q (numbers)\n";
        return 2;
    }
    const Biquad b = DesignBiquad(*type, *gain, *freq, *q, 0.0, kEqSampleRate);
    char line[256];
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g\n", b.b0, b.b1, b.b2, b.a1,
                  b.a2);
    out << line;
    const auto words = codec::coefficientWords(b);
    std::snprintf(line, sizeof line, "%08X %08X %08X %08X %08X\n", words[0], words[1], words[2],
                  words[3], words[4]);
    out << line;
    return 0;
}

int pushDryRun(const std::string& path, const CliArgs& a, std::ostream& out, std::ostream& err) {
    ParameterStore store;
    const ModeFileResult r = readModeFile(path, store);
    if (!r) {
        err << "q7ctl: " << describe(r, path) << "\n";
        return 1;
    }
    VirtualClock clock;
    RecordingSink sink(&clock);
    Dsp dsp(store, sink, clock);
    dsp.fullDownload(a.byMode ? 1 : 0);

    if (a.trace) {
        TraceWriter writer;
        if (!writer.open(*a.trace)) {
            err << "q7ctl: cannot write " << *a.trace << "\n";
            return 1;
        }
        for (const auto& e : sink.entries())
            writer.write(e.ms, Direction::ToAmplifier, e.report);
    } else {
        for (const auto& e : sink.entries())
            out << formatTraceLine(e.ms, Direction::ToAmplifier, e.report) << "\n";
    }
    return 0;
}

} // namespace

int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const Q7ctlEnvironment& env) {
    // The eq commands are offline and take their own options.
    if (const auto eq = runEqCommand(args, out, err))
        return *eq;
    const CliArgs a = parseArgs(args);
    if (!a.error.empty()) {
        err << "q7ctl: " << a.error << "\n";
        return 2;
    }
    const auto& p = a.positional;
    if (p.empty()) {
        err << "q7ctl: no command; try q7ctl help\n";
        return 2;
    }
    if (p[0] == "help") {
        out << kUsage << "\n";
        return 0;
    }
    // Offline commands.
    if (p[0] == "mode" && p.size() == 3 && p[1] == "dump")
        return modeDump(p[2], out, err);
    if (p[0] == "mode" && p.size() == 3 && p[1] == "new")
        return modeNew(p[2], err);
    if (p[0] == "mode" && p.size() >= 2 && p[1] == "diff") {
        if (p.size() != 4) {
            err << "q7ctl: mode diff takes two mode files\n";
            return 2;
        }
        return modeDiff(p[2], p[3], a.json, out, err);
    }
    if (p[0] == "biquad" && p.size() == 5)
        return biquad(p, out, err);
    if (p[0] == "push" && p.size() == 2 && a.dryRun)
        return pushDryRun(p[1], a, out, err);

    // Commands that talk to an amplifier.
    if (isDeviceCommand(p))
        return runDeviceCommand(a, out, err, env);

    err << "q7ctl: unknown command; try q7ctl help\n";
    return 2;
}

} // namespace q7
