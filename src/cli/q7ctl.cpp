#include "cli/q7ctl.h"

#include "cli/device_commands.h"
#include "cli/eq_commands.h"
#include "cli/measure_commands.h"
#include "cli/mode_json.h"
#include "cli/options.h"
#include "cli/param_commands.h"
#include "cli/tune_commands.h"
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
    "  mode dump FILE | mode new FILE | mode diff A B [--json] | biquad TYPE GAIN_DB FREQ_HZ Q\n"
    "  params [--json] | get [NAME...] [--file IN.q7M] [--json]\n"
    "  set NAME=VALUE... [--file IN.q7M -o OUT.q7M]\n"
    "  eq import FILTERS.txt --bank B --base IN.q7M -o OUT.q7M [--json]\n"
    "  eq export IN.q7M --bank B | eq response IN.q7M --bank B\n"
    "  eq fit MEAS --bank B [--target flat|FILE] [--range LO-HI] [--bands K] [--max-boost DB]\n"
    "         [--cut-only] [--base IN.q7M] [-o OUT.q7M] [--json]\n"
    "q7ctl COMMAND --help shows a command's options.";

constexpr const char* kAmplifierOptions =
    "amplifier: the one on USB, or --simulator[=OPTIONS] (the built-in simulated amplifier) or\n"
    "  --replay TRACE (a recorded session); --trace FILE records every report, --verbose logs.\n";

struct CommandHelp {
    const char* command;
    const char* text;
};

// What `q7ctl COMMAND --help` prints; commands marked (amplifier) take the amplifier options.
constexpr CommandHelp kHelp[] = {
    {"devices", "usage: q7ctl devices\n"
                "  Lists the amplifiers on USB (HID 2010:1031) and whether they can be opened.\n"
                "  Exit 1 when none is found or none may be opened.\n"},
    {"info", "usage: q7ctl [amplifier options] info\n"
             "  Synchronises and prints the model, protocol, firmware versions, the current mode\n"
             "  and the four mode names.\n"},
    {"pull", "usage: q7ctl [amplifier options] pull [-o FILE] [--json]\n"
             "  Synchronises and prints the settings as JSON, or writes them to the mode file\n"
             "  FILE (-o, --output); --json prints them as well.\n"},
    {"push",
     "usage: q7ctl [amplifier options] push FILE [--by-mode] [--dry-run]\n"
     "  Downloads the mode file FILE to the amplifier. --by-mode starts the volumes silent\n"
     "  and ramps them up, as a download of a mode does; a file named m1..m4 (or\n"
     "  tripath1.., 默认1..) is stored in that mode. --dry-run sends nothing and prints\n"
     "  the reports (or writes them with --trace FILE).\n"},
    {"mode", "usage: q7ctl [amplifier options] mode load|store|default N\n"
             "       q7ctl [amplifier options] mode name N TEXT\n"
             "       q7ctl mode dump FILE | mode new FILE | mode diff A B [--json]\n"
             "  load, store and default act on the amplifier's mode N (1..4); name renames it.\n"
             "  dump prints a mode file as JSON, new writes a file of the start settings, diff\n"
             "  lists what differs between two files (exit 0 equal, 1 different, 2 unreadable).\n"},
    {"levels", "usage: q7ctl [amplifier options] levels [--count K]\n"
               "  Prints the six level meters and the audio format K times (10), every 300 ms.\n"},
    {"biquad", "usage: q7ctl biquad TYPE GAIN_DB FREQ_HZ Q\n"
               "  Prints the coefficients b0 b1 b2 a1 a2 of a band and the words sent for them.\n"},
    {"params", "usage: q7ctl params [--json]\n"
               "  Lists every parameter a mode file holds: name, unit, range and label. The names\n"
               "  are those get, set and mode diff use. --json prints an array of objects.\n"},
    {"get", "usage: q7ctl [amplifier options] get [NAME...] [--json]\n"
            "       q7ctl get [NAME...] --file IN.q7M [--json]\n"
            "  Prints the values (every parameter when no NAME is given) as NAME VALUE lines,\n"
            "  read from the amplifier after a synchronisation or from the mode file IN.q7M.\n"
            "  --json prints an array of {name, value, text}.\n"},
    {"set", "usage: q7ctl [amplifier options] set NAME=VALUE...\n"
            "       q7ctl set NAME=VALUE... --file IN.q7M -o OUT.q7M\n"
            "  Changes values: on the amplifier (after a synchronisation, sent at once with the\n"
            "  editor's senders), or in a copy of IN.q7M written to OUT.q7M (-o may name IN.q7M\n"
            "  itself; the file is replaced whole, never half-written). VALUE is a number, with\n"
            "  or without the unit, or a word as get prints it (on, off, PEQ, HP, High Freq...).\n"
            "  A value outside the range is refused (exit 2); one stored with less resolution\n"
            "  or adjusted by the senders is noted on stderr.\n"},
};

const char* commandHelp(const std::string& command) {
    for (const CommandHelp& h : kHelp)
        if (command == h.command)
            return h.text;
    return nullptr;
}

bool usesAmplifier(const std::string& command) {
    return command != "biquad" && command != "params";
}

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
    auto value = [&](std::size_t& i, const std::string& name) {
        return optionValue(args, i, name, a.error);
    };
    auto is = [](const std::string& s, std::string_view name) { return isOption(s, name); };
    for (std::size_t i = 0; i < args.size() && a.error.empty(); ++i) {
        const std::string& s = args[i];
        if (s == "--dry-run") {
            a.dryRun = true;
        } else if (s == "--by-mode") {
            a.byMode = true;
        } else if (s == "--json") {
            a.json = true;
        } else if (s == "--help" || s == "-h") {
            a.help = true;
        } else if (is(s, "--file")) {
            a.file = value(i, "--file");
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
    if (const auto audio = runAudioCommand(args, out, err, env))
        return *audio;
    if (const auto tune = runTuneCommand(args, out, err, env))
        return *tune;
    const CliArgs a = parseArgs(args);
    if (!a.error.empty()) {
        err << "q7ctl: " << a.error << "\n";
        return 2;
    }
    const auto& p = a.positional;
    if (p.empty() && a.help) {
        out << kUsage << "\n" << kAmplifierOptions;
        return 0;
    }
    if (p.empty()) {
        err << "q7ctl: no command; try q7ctl help\n";
        return 2;
    }
    if (p[0] == "help" || a.help) {
        const std::string& command = p[0] == "help" ? (p.size() > 1 ? p[1] : "") : p[0];
        if (const char* text = commandHelp(command)) {
            out << text;
            if (usesAmplifier(command))
                out << kAmplifierOptions;
            return 0;
        }
        if (command.empty() || command == "help") {
            out << kUsage << "\n" << kAmplifierOptions;
            return 0;
        }
        err << "q7ctl: no command " << command << "; try q7ctl help\n";
        return 2;
    }
    if (a.file && p[0] != "get" && p[0] != "set") {
        err << "q7ctl: --file is an option of get and set\n";
        return 2;
    }
    if (p[0] == "params") {
        if (p.size() != 1) {
            err << "q7ctl: params takes no arguments\n";
            return 2;
        }
        return paramsCommand(a.json, out);
    }
    if (p[0] == "get" && a.output) {
        err << "q7ctl: get prints its values; -o is an option of pull and set --file\n";
        return 2;
    }
    if (p[0] == "set" && a.output && !a.file) {
        err << "q7ctl: set -o needs --file IN.q7M\n";
        return 2;
    }
    if (p[0] == "get" && a.file)
        return getFromFile(a, out, err);
    if (p[0] == "set" && a.file)
        return setInFile(a, err);
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
