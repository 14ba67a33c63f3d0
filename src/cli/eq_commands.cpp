// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/eq_commands.h"

#include "cli/command_line.h"
#include "cli/io.h"
#include "cli/mode_json.h"
#include "eq/auto_eq.h"
#include "eq/filter_text.h"
#include "params/mode_file.h"
#include "params/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace q7 {

namespace {

constexpr const char* kBanks =
    "B: 0 music, 1 mic-a, 2 sub, 3 center, 4 rear, 5 main, 6 reverb-a, 7 echo-a, 8 mic-b,\n"
    "   9 reverb-b, 10 echo-b, 11 top (the number or the name)\n";

struct EqArgs {
    std::string input; // FILTERS, IN.q7M or MEAS
    std::string bankText, base, output, target, range, bandsText, maxBoostText, lockText;
    bool cutOnly = false, json = false;
    // Worked out from the texts.
    const EqBankInfo* bank = nullptr;
    bool rangeGiven = false;
    double lo = 20, hi = 20000;
    int bands = -1;
    std::vector<int> locked; // from 0
    double maxBoost = 6.0;
};

// The option texts as numbers and a bank; false after a usage line.
bool interpret(EqArgs& a, Invocation& run, int& code) {
    std::string error;
    a.bank = eqBankByName(a.bankText);
    if (!a.bank)
        error = "unknown bank " + a.bankText +
                " (0..11 or music, mic-a, sub, center, rear, main, reverb-a, echo-a, mic-b, "
                "reverb-b, echo-b, top)";
    if (error.empty() && !a.range.empty()) {
        const auto dash = a.range.find('-', 1);
        const auto lo =
            dash == std::string::npos ? std::nullopt : parseFinite(a.range.substr(0, dash));
        const auto hi =
            dash == std::string::npos ? std::nullopt : parseFinite(a.range.substr(dash + 1));
        if (!lo || !hi || !(*lo > 0) || !(*hi > *lo))
            error = "--range takes LO-HI in Hz, LO below HI (for example 20-500)";
        else {
            a.lo = *lo;
            a.hi = *hi;
            a.rangeGiven = true;
        }
    }
    if (error.empty() && !a.lockText.empty()) {
        // Band numbers as the filter text counts them, from 1.
        std::size_t from = 0;
        while (error.empty() && from <= a.lockText.size()) {
            const std::size_t comma = std::min(a.lockText.find(',', from), a.lockText.size());
            const auto n = parseFinite(a.lockText.substr(from, comma - from));
            if (!n || *n < 1 || *n > 64 || *n != std::floor(*n))
                error = "--lock takes band numbers from 1, separated by commas (for example 1,3)";
            else
                a.locked.push_back(int(*n) - 1);
            from = comma + 1;
        }
    }
    if (error.empty() && !a.bandsText.empty()) {
        const auto n = parseFinite(a.bandsText);
        if (!n || *n < 1 || *n != std::floor(*n) || *n > 64)
            error = "--bands takes a whole number of bands, 1 or more";
        else
            a.bands = int(*n);
    }
    if (error.empty() && !a.maxBoostText.empty()) {
        const auto n = parseFinite(a.maxBoostText);
        if (!n || *n < 0 || *n > kBandGainMaxDb)
            error = "--max-boost takes 0 to 15 dB";
        else
            a.maxBoost = *n;
    }
    int stdinUsers = isStdio(a.input) + isStdio(a.base) + isStdio(a.target);
    if (error.empty() && stdinUsers > 1)
        error = "only one file can be standard input";
    if (error.empty() && isStdio(a.output) && a.json)
        error = "-o - and --json would both write standard output";
    if (error.empty())
        return true;
    code = run.usage(error);
    return false;
}

// The store a command starts from: the base file, or the start state.
bool loadBase(const std::string& path, ParameterStore& store, Invocation& run) {
    if (path.empty())
        return true;
    ModeImage image = store.modeImage();
    std::string error;
    if (!readModeInput(path, run.in, image, error)) {
        run.fail(error);
        return false;
    }
    store.applyModeImage(image);
    return true;
}

// A measurement or target: a file, or standard input.
MeasurementRead readMeasurementInput(const std::string& path, Invocation& run) {
    if (!isStdio(path))
        return readMeasurementFile(path);
    std::string error;
    const auto text = readInput(path, run.in, kMeasurementMaxBytes, error);
    if (!text) {
        MeasurementRead r;
        r.error.en = error;
        r.error.zh = error;
        return r;
    }
    return parseMeasurement(*text);
}

void applyBank(ParameterStore& store, const EqBankState& s) {
    const EqBankInfo& info = s.info();
    for (int i = 0; i < info.records && i < int(s.records.size()); ++i)
        store.setBand(info.group, info.firstRecord + i, s.records[std::size_t(i)]);
}

std::string notesJson(const std::vector<std::string>& notes) {
    std::string out = "[";
    for (std::size_t i = 0; i < notes.size(); ++i)
        out += (i ? ", " : "") + jsonString(notes[i]);
    return out + "]";
}

int import(EqArgs& a, Invocation& run) {
    int code = kExitOk;
    if (!interpret(a, run, code))
        return code;
    std::string error;
    const auto text = readInput(a.input, run.in, kFilterTextMaxBytes, error);
    if (!text)
        return run.fail(error);
    ParameterStore store;
    if (!loadBase(a.base, store, run))
        return kExitFailure;
    const FilterText filters = parseFilterText(*text);
    const ImportPlan plan = planImport(readBank(store, a.bank->bank), filters);
    if (plan.applied == 0)
        return run.fail(inputName(a.input) + " holds no filter the bank can take");
    applyBank(store, plan.result);
    if (!writeOutput(a.output, run.out, modeFileBytes(store.modeImage()), error))
        return run.fail(error);
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
        run.out << "{\"bank\": " << a.bank->bank << ", \"bands\": " << bandsJson(plan.result)
                << ", \"notes\": " << notesJson(notes) << "}\n";
    } else {
        // The notes go where the file does not.
        std::ostream& to = isStdio(a.output) ? run.err : run.out;
        for (const std::string& n : notes)
            to << n << "\n";
    }
    return kExitOk;
}

std::string responseJson(const EqBankState& s) {
    const std::vector<double> hz = octaveGrid(20.0, 20000.0);
    auto list = [](const std::vector<double>& v, const char* format) {
        std::string out = "[";
        char buf[48];
        for (std::size_t i = 0; i < v.size(); ++i) {
            std::snprintf(buf, sizeof buf, format, v[i]);
            out += (i ? ", " : "") + std::string(buf);
        }
        return out + "]";
    };
    std::string j = "{\"bank\": " + std::to_string(s.bank) + ", \"freq_hz\": " + list(hz, "%.2f") +
                    ", \"total_db\": " + list(bankResponseDb(s, hz), "%.4f") + ", \"bands_db\": [";
    for (int k = 0; k < s.bandCount(); ++k)
        j += (k ? ", " : "") + list(bandResponseDb(s, k, hz), "%.4f");
    return j + "]}\n";
}

int exportText(EqArgs& a, bool response, Invocation& run) {
    int code = kExitOk;
    if (!interpret(a, run, code))
        return code;
    ParameterStore store;
    if (!loadBase(a.input, store, run))
        return kExitFailure;
    const EqBankState s = readBank(store, a.bank->bank);
    if (a.json)
        run.out << (response ? responseJson(s)
                             : "{\"bank\": " + std::to_string(s.bank) +
                                   ", \"bands\": " + bandsJson(s) + "}\n");
    else
        run.out << (response ? bankResponseCsv(s) : formatFilterText(s));
    return kExitOk;
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

int fit(EqArgs& a, Invocation& run) {
    int code = kExitOk;
    if (!interpret(a, run, code))
        return code;
    const MeasurementRead m = readMeasurementInput(a.input, run);
    if (!m.ok())
        return run.fail(inputName(a.input) + ": " + m.error.en);
    Target target;
    if (!a.target.empty() && a.target != "flat") {
        const MeasurementRead t = readMeasurementInput(a.target, run);
        if (!t.ok())
            return run.fail(inputName(a.target) + ": " + t.error.en);
        target.kind = Target::Kind::Curve;
        target.curve = t.curve;
    }
    ParameterStore store;
    if (!loadBase(a.base, store, run))
        return kExitFailure;
    const EqBankState start = readBank(store, a.bank->bank);
    for (int k : a.locked)
        if (k >= start.bandCount())
            return run.usage("--lock: bank " + std::string(a.bank->en) + " has " +
                             std::to_string(start.bandCount()) + " bands");
    FitOptions o;
    if (a.rangeGiven) {
        o.loHz = a.lo;
        o.hiHz = a.hi;
    } else {
        const FitRange range = defaultFitRange(start);
        o.loHz = range.loHz;
        o.hiHz = range.hiHz;
    }
    o.maxBands = a.bands;
    o.maxBoostDb = a.maxBoost;
    o.cutOnly = a.cutOnly;
    o.locked = a.locked;
    const FitResult r = fitBank(start, m.curve, target, o);
    if (!r.ok)
        return run.usage(r.error.en);
    // A fit that does not lower the error is reported but never written.
    const bool write = !a.output.empty() && r.better;
    if (write) {
        applyBank(store, r.bank);
        std::string error;
        if (!writeOutput(a.output, run.out, modeFileBytes(store.modeImage()), error))
            return run.fail(error);
    }
    std::vector<std::string> notes;
    for (const Note& n : r.notes)
        notes.push_back(n.en);
    if (a.json) {
        run.out << "{\"bank\": " << a.bank->bank << ", \"bands\": " << bandsJson(r.bank)
                << ", \"rms_before_db\": " << fmt("%.3f", r.before.rmsDb)
                << ", \"rms_after_db\": " << fmt("%.3f", r.after.rmsDb)
                << ", \"max_after_db\": " << fmt("%.3f", r.after.maxAbsDb)
                << ", \"better\": " << (r.better ? "true" : "false")
                << ", \"notes\": " << notesJson(notes) << "}\n";
    } else {
        std::ostream& to = isStdio(a.output) ? run.err : run.out;
        to << formatFilterText(r.bank);
        to << "RMS " << fmt("%.2f", r.before.rmsDb) << " dB -> " << fmt("%.2f", r.after.rmsDb)
           << " dB, max |e| " << fmt("%.2f", r.before.maxAbsDb) << " dB -> "
           << fmt("%.2f", r.after.maxAbsDb) << " dB over " << r.hz.size() << " points ("
           << fmt("%.0f", o.loHz) << "-" << fmt("%.0f", o.hiHz) << " Hz)\n";
        for (const std::string& n : notes)
            to << n << "\n";
    }
    if (!a.output.empty() && !r.better)
        return run.fail("the fit does not lower the error; " + inputName(a.output) +
                        " was not written");
    return kExitOk;
}

CLI::Option* addBank(CLI::App* c, EqArgs& a) {
    return c->add_option("--bank", a.bankText, "the EQ bank, by number or name (below)")
        ->type_name("B")
        ->required();
}

// The mode file a bank is read from, and the bank.
void addBankOfModeFile(CLI::App* c, EqArgs& a) {
    c->add_option("IN.q7M", a.input, "the mode file; - reads standard input")->required();
    addBank(c, a);
}

} // namespace

void addEqCommands(CommandLine& cli) {
    CLI::App* eq = cli.group("eq", "EQ banks of mode files: filter text, responses, fitting");

    auto& im = cli.keep<EqArgs>();
    CLI::App* c = cli.add(
        "import", "read filter text into a bank",
        std::string(
            "Reads filter text (Equalizer APO, REW, AutoEq: \"Filter 1: ON PK Fc 100 Hz Gain "
            "-3 dB Q 1.41\")\ninto bank B of IN.q7M (the start settings without --base) "
            "and writes OUT.q7M; prints\nwhat each line became and what was clamped, "
            "skipped or dropped.\n") +
            kBanks,
        [&im](Invocation& run) { return import(im, run); }, eq);
    c->add_option("FILTERS", im.input, "the filter text; - reads standard input")->required();
    addBank(c, im);
    c->add_option("--base", im.base, "the mode file to start from; - standard input")
        ->type_name("IN.q7M");
    c->add_option("-o,--output", im.output, "the mode file to write; - standard output")
        ->type_name("OUT.q7M")
        ->required();
    addJsonFlag(c, im.json, "print {\"bank\", \"bands\": [...], \"notes\": [...]}");

    auto& ex = cli.keep<EqArgs>();
    c = cli.add(
        "export", "print a bank as filter text",
        std::string("Prints bank B of IN.q7M as filter text; importing it gives back the "
                    "same bank.\n") +
            kBanks,
        [&ex](Invocation& run) { return exportText(ex, false, run); }, eq);
    addBankOfModeFile(c, ex);
    addJsonFlag(c, ex.json, "print {\"bank\", \"bands\": [{record, type, gain_db, freq_hz, q}]}");

    auto& re = cli.keep<EqArgs>();
    c = cli.add(
        "response", "print a bank's response",
        std::string("Prints the response of bank B of IN.q7M as CSV, "
                    "freq_hz,total_db,band1_db,..., 1/48\noctave from 20 Hz to 20 kHz.\n") +
            kBanks,
        [&re](Invocation& run) { return exportText(re, true, run); }, eq);
    addBankOfModeFile(c, re);
    addJsonFlag(c, re.json,
                "print {\"bank\", \"freq_hz\": [...], \"total_db\": [...], "
                "\"bands_db\": [[...], ...]}");

    auto& fi = cli.keep<EqArgs>();
    c = cli.add(
        "fit", "fit a bank to a measurement",
        std::string(
            "Fits the free bands of bank B so that the measurement MEAS plus the EQ follows "
            "the\ntarget, and prints the filters and the error before and after. MEAS and "
            "a target\nFILE: REW text export, FRD, or CSV with a header (column raw or spl, "
            "else the 2nd).\n") +
            kBanks,
        [&fi](Invocation& run) { return fit(fi, run); }, eq);
    c->add_option("MEAS", fi.input, "the measurement; - reads standard input")->required();
    addBank(c, fi);
    c->add_option("--target", fi.target, "flat (the default) or a target curve file")
        ->type_name("flat|FILE");
    c->add_option("--range", fi.range,
                  "the range fitted, in Hz (default: the whole band for inputs and effects, "
                  "20-500 for outputs, the Sub up to its crossover)")
        ->type_name("LO-HI");
    c->add_option("--lock", fi.lockText, "leave these bands (from 1) as they are")
        ->type_name("N,M");
    c->add_option("--bands", fi.bandsText, "use at most K bands, the first free ones")
        ->type_name("K");
    c->add_option("--max-boost", fi.maxBoostText, "the largest boost of a band (6 dB)")
        ->type_name("DB");
    c->add_flag("--cut-only", fi.cutOnly, "no band boosts");
    c->add_option("--base", fi.base, "the mode file to start from; - standard input")
        ->type_name("IN.q7M");
    c->add_option("-o,--output", fi.output, "write the result; - standard output")
        ->type_name("OUT.q7M");
    addJsonFlag(c, fi.json,
                "print {\"bank\", \"bands\", \"rms_before_db\", \"rms_after_db\", "
                "\"max_after_db\", \"better\", \"notes\"}; a fit that does not lower the "
                "error is not written (exit 1)");
}

} // namespace q7
