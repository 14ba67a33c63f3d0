#include "cli/eq_commands.h"

#include "cli/mode_json.h"
#include "cli/options.h"
#include "params/auto_eq.h"
#include "params/filter_text.h"
#include "params/mode_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace q7 {

namespace {

constexpr const char* kEqUsage =
    "usage: q7ctl eq import FILTERS.txt --bank B [--base IN.q7M] -o OUT.q7M [--json]\n"
    "       q7ctl eq export IN.q7M --bank B                 filter text to stdout\n"
    "       q7ctl eq response IN.q7M --bank B               CSV: freq_hz,total_db,band1_db,...\n"
    "       q7ctl eq fit MEAS --bank B [--target flat|FILE] [--range LO-HI] [--bands K]\n"
    "                    [--max-boost DB] [--cut-only] [--base IN.q7M] [-o OUT.q7M] [--json]\n"
    "  B: 0 music, 1 mic-a, 2 sub, 3 center, 4 rear, 5 main, 6 reverb-a, 7 echo-a, 8 mic-b,\n"
    "     9 reverb-b, 10 echo-b, 11 top (the number or the name)\n"
    "  FILTERS: Equalizer APO / REW / AutoEq text (\"Filter 1: ON PK Fc 100 Hz Gain -3 dB Q "
    "1.41\")\n"
    "  MEAS, FILE: REW text export, FRD, or CSV with a header (column raw or spl, else the 2nd)\n"
    "  Without --base the start state is used. Exit 0, 1 an unreadable file, 2 bad arguments.";

struct EqArgs {
    std::string command;
    std::vector<std::string> positional;
    const EqBankInfo* bank = nullptr;
    std::optional<std::string> base, output, target;
    double lo = 20, hi = 20000;
    bool rangeGiven = false;
    int bands = -1;
    double maxBoost = 6.0;
    bool cutOnly = false, json = false, help = false;
    std::string error;
};

std::optional<double> number(const std::string& s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

EqArgs parse(const std::vector<std::string>& args, std::size_t from) {
    EqArgs a;
    auto value = [&](std::size_t& i, const std::string& name) {
        return optionValue(args, i, name, a.error);
    };
    auto is = [](const std::string& s, std::string_view name) { return isOption(s, name); };
    for (std::size_t i = from; i < args.size() && a.error.empty(); ++i) {
        const std::string& s = args[i];
        if (s == "--help" || s == "-h") {
            a.help = true;
        } else if (s == "--json") {
            a.json = true;
        } else if (s == "--cut-only") {
            a.cutOnly = true;
        } else if (is(s, "--bank")) {
            if (const auto v = value(i, "--bank")) {
                a.bank = eqBankByName(*v);
                if (!a.bank)
                    a.error = "unknown bank " + *v +
                              " (0..11 or music, mic-a, sub, center, "
                              "rear, main, reverb-a, echo-a, mic-b, "
                              "reverb-b, echo-b, top)";
            }
        } else if (is(s, "--base")) {
            a.base = value(i, "--base");
        } else if (s == "-o" || is(s, "--output")) {
            a.output = value(i, s == "-o" ? "-o" : "--output");
        } else if (is(s, "--target")) {
            a.target = value(i, "--target");
        } else if (is(s, "--range")) {
            const auto v = value(i, "--range");
            if (!v)
                continue;
            const auto dash = v->find('-', 1);
            const auto lo = dash == std::string::npos ? std::nullopt : number(v->substr(0, dash));
            const auto hi = dash == std::string::npos ? std::nullopt : number(v->substr(dash + 1));
            if (!lo || !hi || !(*lo > 0) || !(*hi > *lo))
                a.error = "--range takes LO-HI in Hz, LO below HI (for example 20-500)";
            else {
                a.lo = *lo;
                a.hi = *hi;
                a.rangeGiven = true;
            }
        } else if (is(s, "--bands")) {
            const auto v = value(i, "--bands");
            const auto n = v ? number(*v) : std::nullopt;
            if (!n || *n < 1 || *n != std::floor(*n) || *n > 64)
                a.error = "--bands takes a whole number of bands, 1 or more";
            else
                a.bands = int(*n);
        } else if (is(s, "--max-boost")) {
            const auto v = value(i, "--max-boost");
            const auto n = v ? number(*v) : std::nullopt;
            if (!n || *n < 0 || *n > kBandGainMaxDb)
                a.error = "--max-boost takes 0 to 15 dB";
            else
                a.maxBoost = *n;
        } else if (s.size() > 1 && s[0] == '-') {
            a.error = "unknown option " + s;
        } else if (a.command.empty()) {
            a.command = s;
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

std::optional<std::string> readText(const std::string& path, std::size_t limit,
                                    std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::string s;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        s.append(buf, std::size_t(in.gcount()));
        if (s.size() > limit) {
            error = path + " is too large";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return s;
}

// The store a command starts from: the base file, or the start state.
bool loadBase(const std::optional<std::string>& path, ParameterStore& store, std::ostream& err) {
    if (!path)
        return true;
    const ModeFileResult r = readModeFile(*path, store);
    if (!r) {
        err << "q7ctl: " << describe(r, *path) << "\n";
        return false;
    }
    return true;
}

void applyBank(ParameterStore& store, const EqBankState& s) {
    const EqBankInfo& info = s.info();
    for (int i = 0; i < info.records && i < int(s.records.size()); ++i)
        store.setBand(info.group, info.firstRecord + i, s.records[std::size_t(i)]);
}

std::string bandsJson(const EqBankState& s) {
    std::string out = "[";
    const EqBankInfo& info = s.info();
    for (std::size_t i = 0; i < s.records.size(); ++i) {
        const BandRecord& r = s.records[i];
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "%s{\"record\": %d, \"type\": %d, \"gain_db\": %.1f, \"freq_hz\": %d, "
                      "\"q\": %.3f}",
                      i ? ", " : "", info.firstRecord + int(i), int(r.type), recordGainDb(r),
                      int(r.frequency), r.q / 1000.0);
        out += buf;
    }
    return out + "]";
}

std::string notesJson(const std::vector<std::string>& notes) {
    std::string out = "[";
    for (std::size_t i = 0; i < notes.size(); ++i)
        out += (i ? ", " : "") + jsonString(notes[i]);
    return out + "]";
}

int import(const EqArgs& a, std::ostream& out, std::ostream& err) {
    if (a.positional.size() != 1 || !a.bank || !a.output) {
        err << "q7ctl: eq import takes FILTERS.txt, --bank B and -o OUT.q7M\n";
        return 2;
    }
    std::string error;
    const auto text = readText(a.positional[0], kFilterTextMaxBytes, error);
    if (!text) {
        err << "q7ctl: " << error << "\n";
        return 1;
    }
    ParameterStore store;
    if (!loadBase(a.base, store, err))
        return 1;
    const FilterText filters = parseFilterText(*text);
    const ImportPlan plan = planImport(readBank(store, a.bank->bank), filters);
    if (plan.applied == 0) {
        err << "q7ctl: " << a.positional[0] << " holds no filter the bank can take\n";
        return 1;
    }
    applyBank(store, plan.result);
    if (const ModeFileResult r = writeModeFile(*a.output, store); !r) {
        err << "q7ctl: " << describe(r, *a.output) << "\n";
        return 1;
    }
    std::vector<std::string> notes;
    for (const ImportLine& l : plan.lines) {
        std::string s = "line " + std::to_string(l.line) + ": ";
        if (l.band >= 0)
            s += "band " + std::to_string(l.band + 1) + " " + l.result;
        for (const Note& n : l.notes)
            s += (s.ends_with(": ") ? "" : "; ") + n.en;
        notes.push_back(s);
    }
    for (const Note& n : plan.notes)
        notes.push_back(n.en);
    if (a.json) {
        out << "{\"bank\": " << a.bank->bank << ", \"bands\": " << bandsJson(plan.result)
            << ", \"notes\": " << notesJson(notes) << "}\n";
    } else {
        for (const std::string& n : notes)
            out << n << "\n";
    }
    return 0;
}

int exportText(const EqArgs& a, bool csv, std::ostream& out, std::ostream& err) {
    if (a.positional.size() != 1 || !a.bank) {
        err << "q7ctl: eq " << a.command << " takes IN.q7M and --bank B\n";
        return 2;
    }
    ParameterStore store;
    if (!loadBase(a.positional[0], store, err))
        return 1;
    const EqBankState s = readBank(store, a.bank->bank);
    out << (csv ? bankResponseCsv(s) : formatFilterText(s));
    return 0;
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

int fit(const EqArgs& a, std::ostream& out, std::ostream& err) {
    if (a.positional.size() != 1 || !a.bank) {
        err << "q7ctl: eq fit takes MEAS and --bank B\n";
        return 2;
    }
    const MeasurementRead m = readMeasurementFile(a.positional[0]);
    if (!m.ok()) {
        err << "q7ctl: " << a.positional[0] << ": " << m.error.en << "\n";
        return 1;
    }
    Target target;
    if (a.target && *a.target != "flat") {
        const MeasurementRead t = readMeasurementFile(*a.target);
        if (!t.ok()) {
            err << "q7ctl: " << *a.target << ": " << t.error.en << "\n";
            return 1;
        }
        target.kind = Target::Kind::Curve;
        target.curve = t.curve;
    }
    ParameterStore store;
    if (!loadBase(a.base, store, err))
        return 1;
    FitOptions o;
    o.loHz = a.lo;
    o.hiHz = a.hi;
    o.maxBands = a.bands;
    o.maxBoostDb = a.maxBoost;
    o.cutOnly = a.cutOnly;
    const FitResult r = fitBank(readBank(store, a.bank->bank), m.curve, target, o);
    if (!r.ok) {
        err << "q7ctl: " << r.error.en << "\n";
        return 2;
    }
    if (a.output) {
        applyBank(store, r.bank);
        if (const ModeFileResult w = writeModeFile(*a.output, store); !w) {
            err << "q7ctl: " << describe(w, *a.output) << "\n";
            return 1;
        }
    }
    std::vector<std::string> notes;
    for (const Note& n : r.notes)
        notes.push_back(n.en);
    if (a.json) {
        out << "{\"bank\": " << a.bank->bank << ", \"bands\": " << bandsJson(r.bank)
            << ", \"rms_before_db\": " << fmt("%.3f", r.before.rmsDb)
            << ", \"rms_after_db\": " << fmt("%.3f", r.after.rmsDb)
            << ", \"max_after_db\": " << fmt("%.3f", r.after.maxAbsDb)
            << ", \"notes\": " << notesJson(notes) << "}\n";
        return 0;
    }
    out << formatFilterText(r.bank);
    out << "RMS " << fmt("%.2f", r.before.rmsDb) << " dB -> " << fmt("%.2f", r.after.rmsDb)
        << " dB, max |e| " << fmt("%.2f", r.before.maxAbsDb) << " dB -> "
        << fmt("%.2f", r.after.maxAbsDb) << " dB over " << r.hz.size() << " points\n";
    for (const std::string& n : notes)
        out << n << "\n";
    return 0;
}

} // namespace

std::optional<int> runEqCommand(const std::vector<std::string>& args, std::ostream& out,
                                std::ostream& err) {
    // Skip the global options (and the values of those that take one) before the command.
    std::size_t i = 0;
    while (i < args.size() && args[i].starts_with("-")) {
        if ((args[i] == "--trace" || args[i] == "--replay") && i + 1 < args.size())
            ++i;
        ++i;
    }
    if (i >= args.size() || args[i] != "eq")
        return std::nullopt;
    const EqArgs a = parse(args, i + 1);
    if (a.help || a.command == "help" ||
        (a.command.empty() && a.error.empty() && a.positional.empty())) {
        (a.help || a.command == "help" ? out : err) << kEqUsage << "\n";
        return a.help || a.command == "help" ? 0 : 2;
    }
    if (!a.error.empty()) {
        err << "q7ctl: " << a.error << "\n";
        return 2;
    }
    if (a.command == "import")
        return import(a, out, err);
    if (a.command == "export")
        return exportText(a, false, out, err);
    if (a.command == "response")
        return exportText(a, true, out, err);
    if (a.command == "fit")
        return fit(a, out, err);
    err << "q7ctl: unknown eq command " << a.command << "; try q7ctl eq --help\n";
    return 2;
}

} // namespace q7
