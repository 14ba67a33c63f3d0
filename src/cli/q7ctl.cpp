#include "cli/q7ctl.h"

#include "cli/mode_json.h"
#include "device/clock.h"
#include "device/report_sink.h"
#include "device/trace.h"
#include "params/biquad.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/mode_file.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>

namespace q7 {

namespace {

constexpr const char* kUsage = "usage: q7ctl mode dump FILE | mode new FILE | "
                               "biquad TYPE GAIN_DB FREQ_HZ Q | "
                               "push FILE --dry-run [--by-mode] [--trace TRACE]";

struct Args {
    std::vector<std::string> positional;
    bool dryRun = false;
    bool byMode = false;
    std::optional<std::string> trace;
    std::string error;
};

Args parseArgs(const std::vector<std::string>& args) {
    Args a;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (s == "--dry-run") {
            a.dryRun = true;
        } else if (s == "--by-mode") {
            a.byMode = true;
        } else if (s == "--trace" || s.starts_with("--trace=")) {
            if (s.size() > 7) {
                a.trace = s.substr(8);
            } else if (i + 1 < args.size()) {
                a.trace = args[++i];
            } else {
                a.error = "--trace needs a file";
            }
        } else if (s.starts_with("--") && s.size() > 2) {
            a.error = "unknown option " + s;
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

std::optional<double> parseDouble(const std::string& s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<int> parseInt(const std::string& s) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path,
                                                       std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buf, buf + in.gcount());
        if (bytes.size() > kModeFileV1Size)
            break; // longer files are judged by their first bytes only
    }
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return bytes;
}

int modeDump(const std::string& path, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto bytes = readWholeFile(path, error);
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

int pushDryRun(const std::string& path, const Args& a, std::ostream& out, std::ostream& err) {
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

int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Args a = parseArgs(args);
    if (!a.error.empty()) {
        err << "q7ctl: " << a.error << "\n";
        return 2;
    }
    const auto& p = a.positional;
    if (p.empty() || p[0] == "help" || (args.size() == 1 && args[0] == "--help")) {
        (p.empty() ? err : out) << kUsage << "\n";
        return p.empty() ? 2 : 0;
    }
    if (p[0] == "mode" && p.size() == 3 && p[1] == "dump") return modeDump(p[2], out, err);
    if (p[0] == "mode" && p.size() == 3 && p[1] == "new") return modeNew(p[2], err);
    if (p[0] == "biquad" && p.size() == 5) return biquad(p, out, err);
    if (p[0] == "push" && p.size() == 2) {
        if (!a.dryRun) {
            err << "q7ctl: push without --dry-run needs a device link\n";
            return 2;
        }
        return pushDryRun(p[1], a, out, err);
    }
    err << "q7ctl: " << kUsage << "\n";
    return 2;
}

} // namespace q7
