// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/param_commands.h"

#include "cli/device_commands.h"
#include "cli/io.h"
#include "cli/mode_json.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/mode_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace q7 {

namespace {

ModeImage startImage() {
    return ParameterStore().modeImage();
}

} // namespace

std::optional<ParamAssignment> parseAssignment(std::string_view text, std::string& error) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "set takes NAME=VALUE, not " + std::string(text);
        return std::nullopt;
    }
    const ParamInfo* p = lookUpParam(text.substr(0, eq), error);
    if (!p)
        return std::nullopt;
    const auto raw = parseParamValue(*p, text.substr(eq + 1), error);
    if (!raw)
        return std::nullopt;
    return ParamAssignment{p, *raw, std::string(text.substr(eq + 1))};
}

void applyAssignment(ModeImage& m, const ParamAssignment& a) {
    setParamValue(m, *a.param, a.raw);
}

std::string paramValues(const std::vector<const ParamInfo*>& params, const ModeImage& image,
                        bool json) {
    std::string s = json ? "[" : "";
    for (const ParamInfo* p : params) {
        const std::uint32_t raw = rawValue(*p, image);
        if (json) {
            s += (s.size() > 1 ? ", " : "");
            s += "{\"name\": " + jsonString(p->id) + ", \"value\": " + paramJsonValue(*p, raw) +
                 ", \"text\": " + jsonString(paramValueText(*p, raw)) + "}";
        } else {
            s += p->id + " " + paramValueText(*p, raw) + "\n";
        }
    }
    return json ? s + "]\n" : s;
}

namespace {

// Whether the stored value reads back as the number typed: a single holds 0.1 as nearly as it
// can, which is no rounding; -4.55 dB in tenths is.
bool storedAsTyped(const ParamInfo& p, double typed, std::uint32_t raw) {
    const double stored = userValue(p, raw);
    if (p.storage == ParamStorage::Float32)
        return std::fabs(stored - typed) <= 1e-6 * std::max(1.0, std::fabs(typed));
    return std::fabs(stored - typed) <= 1e-9 * std::max(1.0, std::fabs(typed));
}

bool laterAssignment(const std::vector<ParamAssignment>& assignments, std::size_t i) {
    for (std::size_t j = i + 1; j < assignments.size(); ++j)
        if (assignments[j].param == assignments[i].param)
            return true;
    return false;
}

} // namespace

std::vector<std::string> adjustedValueNotes(const std::vector<ParamAssignment>& assignments,
                                            const ModeImage& result, bool sent) {
    std::vector<std::string> notes;
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        const ParamAssignment& a = assignments[i];
        const ParamInfo& p = *a.param;
        if (laterAssignment(assignments, i)) // a later assignment of the same parameter wins
            continue;
        const std::uint32_t now = rawValue(p, result);
        if (paramValueText(p, now) != paramValueText(p, a.raw)) {
            notes.push_back(p.id + "=" + a.value + " " + (sent ? "went out as " : "is stored as ") +
                            paramValueText(p, now));
            continue;
        }
        const auto v = typedParamNumber(p, a.value);
        if (v && !storedAsTyped(p, *v, now))
            notes.push_back(p.id + "=" + a.value + " is stored as " + paramValueText(p, now) +
                            " (the nearest step)");
    }
    return notes;
}

std::string setResultJson(const std::vector<ParamAssignment>& assignments, const ModeImage& result,
                          const std::vector<std::string>& notes) {
    std::string s = "{\"set\": [";
    bool first = true;
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        if (laterAssignment(assignments, i))
            continue;
        const ParamInfo& p = *assignments[i].param;
        const std::uint32_t raw = rawValue(p, result);
        s += std::string(first ? "" : ", ") + "{\"name\": " + jsonString(p.id) +
             ", \"typed\": " + jsonString(assignments[i].value) +
             ", \"value\": " + paramJsonValue(p, raw) +
             ", \"text\": " + jsonString(paramValueText(p, raw)) + "}";
        first = false;
    }
    s += "], \"notes\": [";
    for (std::size_t i = 0; i < notes.size(); ++i)
        s += (i ? ", " : "") + jsonString(notes[i]);
    return s + "]}\n";
}

std::optional<std::vector<const ParamInfo*>> paramsNamed(const std::vector<std::string>& names,
                                                         std::ostream& err) {
    std::vector<const ParamInfo*> out;
    if (names.empty()) {
        for (const ParamInfo& p : paramTable())
            out.push_back(&p);
        return out;
    }
    for (const std::string& n : names) {
        std::string error;
        const auto matched = paramsMatching(n, error);
        if (matched.empty()) {
            err << "q7ctl: " << error << "\n";
            return std::nullopt;
        }
        out.insert(out.end(), matched.begin(), matched.end());
    }
    return out;
}

std::optional<std::vector<ParamAssignment>> assignmentsGiven(const std::vector<std::string>& texts,
                                                             bool onAmplifier, std::ostream& err) {
    std::vector<ParamAssignment> out;
    for (const std::string& t : texts) {
        std::string error;
        auto a = parseAssignment(t, error);
        if (a && onAmplifier && a->param->place == ParamPlace::Extra) {
            error = a->param->id + " is kept in mode files only: use --file";
            a.reset();
        }
        if (!a) {
            err << "q7ctl: " << error << "\n";
            return std::nullopt;
        }
        out.push_back(std::move(*a));
    }
    return out;
}

ModeImage newModeImage() {
    ModeImage image = startImage();
    for (const ParamInfo& p : paramTable()) {
        if (!p.hasRange || (p.kind != ValueKind::Number && p.kind != ValueKind::Ratio))
            continue;
        const double v = userValue(p, rawValue(p, image));
        if (v >= p.min && v <= p.max)
            continue;
        // The nearest end of the range, stored as set stores it.
        std::string error;
        char end[64];
        std::snprintf(end, sizeof end, "%.6f", v < p.min ? p.min : p.max);
        const auto raw = parseParamValue(p, end, error);
        if (raw)
            applyAssignment(image, ParamAssignment{&p, *raw, {}});
    }
    return image;
}

namespace {

// The listener (0) and speakers 1..8 as the location page places them, in metres.
std::array<std::pair<float, float>, 9> placedPoints(const ModeImage& m) {
    auto at = [&m](int c) { return bitsFloat(m.cells[std::size_t(c)]); };
    std::array<std::pair<float, float>, 9> p{};
    p[0] = {at(cell::ListenerX), at(cell::ListenerY)};
    for (int k = 1; k <= kSpeakerCount; ++k)
        p[std::size_t(k)] = {at(cell::SpeakerX + k - 1), at(cell::SpeakerY + k - 1)};
    return p;
}

// The speakers whose level the location page would send after the move, and their levels:
// every speaker's when the listener moved, a moved speaker's own otherwise; never a level
// named by the user.
std::vector<std::pair<int, float>> locationLevels(const ModeImage& image, const ModeImage& before,
                                                  const std::vector<ParamAssignment>& assignments) {
    const auto was = placedPoints(before);
    const auto now = placedPoints(image);
    std::array<bool, 9> named{};
    for (const ParamAssignment& a : assignments)
        if (a.param && a.param->place == ParamPlace::SpeakerLevel)
            for (int k = 1; k <= kSpeakerCount; ++k)
                if (speakerInfo(k).slot == a.param->index)
                    named[std::size_t(k)] = true;
    const bool listener = now[0] != was[0];
    std::vector<std::pair<int, float>> out;
    for (int k = 1; k <= kSpeakerCount; ++k) {
        const auto i = std::size_t(k);
        if (named[i] || (!listener && now[i] == was[i]))
            continue;
        const double dx = double(now[0].first) - now[i].first;
        const double dy = double(now[0].second) - now[i].second;
        out.emplace_back(k, speakerLevelForDistance(std::hypot(dx, dy)));
    }
    return out;
}

} // namespace

void applyLocationLevels(ModeImage& image, const ModeImage& before,
                         const std::vector<ParamAssignment>& assignments) {
    for (const auto& [speaker, db] : locationLevels(image, before, assignments))
        writeBe32(&image.speakerLevels[std::size_t(4 * speakerInfo(speaker).slot)], floatBits(db));
}

namespace {

struct ParamsOptions {
    std::vector<std::string> names;
    bool json = false;
};

struct GetOptions {
    std::vector<std::string> names;
    std::string file;
    bool json = false;
};

struct SetOptions {
    std::vector<std::string> assignments;
    std::string file, output;
    bool json = false;
    bool locationLevels = false;
};

int params(const ParamsOptions& o, Invocation& run) {
    const auto wanted = paramsNamed(o.names, run.err);
    if (!wanted)
        return kExitUsage;
    if (o.json) {
        std::string s = "[";
        for (const ParamInfo* q : *wanted) {
            const ParamInfo& p = *q;
            s += (s.size() > 1 ? ", " : "");
            s += "{\"name\": " + jsonString(p.id) +
                 ", \"label\": " + jsonString(paramName(p, true)) +
                 ", \"label_zh\": " + jsonString(paramName(p, false)) +
                 ", \"unit\": " + jsonString(p.unit) + ", \"kind\": \"" + paramKindWord(p) + "\"";
            if (p.hasRange || p.kind == ValueKind::Hex)
                s += ", \"min\": " + jsonDouble(p.hasRange ? p.min : 0) +
                     ", \"max\": " + jsonDouble(p.hasRange ? p.max : 255);
            const auto c = paramChoices(p);
            if (!c.empty()) {
                s += ", \"values\": [";
                for (std::size_t i = 0; i < c.size(); ++i)
                    s += (i ? ", " : "") + jsonString(formatValue(p, c[i], true));
                s += "]";
            }
            s += "}";
        }
        run.out << s << "]\n";
        return kExitOk;
    }
    std::size_t width = 0;
    for (const ParamInfo* p : *wanted)
        width = std::max(width, p->id.size());
    for (const ParamInfo* q : *wanted) {
        const ParamInfo& p = *q;
        std::string line = p.id;
        line.resize(width + 2, ' ');
        std::string unit = p.unit.empty() ? "-" : p.unit;
        unit.resize(4, ' ');
        std::string range = paramRangeText(p);
        if (range.size() < 24)
            range.resize(24, ' ');
        run.out << line << unit << range << "  " << paramName(p, true) << "\n";
    }
    return kExitOk;
}

int get(const GetOptions& o, Invocation& run) {
    const auto wanted = paramsNamed(o.names, run.err);
    if (!wanted)
        return kExitUsage;
    if (!o.file.empty()) {
        ModeImage image = startImage();
        std::string error;
        if (!readModeInput(o.file, run.in, image, error))
            return run.fail(error);
        run.out << paramValues(*wanted, image, o.json);
        return kExitOk;
    }
    AmplifierSession a(run);
    if (const auto failed = a.openAndSynchronise())
        return *failed;
    a.out() << paramValues(*wanted, settingsOf(a.store()), o.json);
    return a.finish(kExitOk);
}

// After the plan block, the levels the location page sends for the same move.
void sendLocationLevels(EditPath& edits, const ModeImage& before,
                        const std::vector<ParamAssignment>& assignments) {
    const auto levels = locationLevels(settingsOf(edits.store()), before, assignments);
    edits.edit([&levels](Dsp& d) {
        bool ok = true;
        for (const auto& [speaker, db] : levels)
            ok &= d.sendSpeakerLevel(speaker, db);
        return ok;
    });
}

void reportSet(const SetOptions& o, const std::vector<ParamAssignment>& assignments,
               const ModeImage& result, bool sent, Invocation& run, std::ostream& out) {
    const auto notes = adjustedValueNotes(assignments, result, sent);
    if (o.json) {
        out << setResultJson(assignments, result, notes);
        return;
    }
    for (const std::string& n : notes)
        run.err << "q7ctl: " << n << "\n";
}

// Applies the values to what was read and sends the difference with the editor's senders, as
// its undo, redo and A/B switches do.
int setOnAmplifier(const SetOptions& o, const std::vector<ParamAssignment>& assignments,
                   Invocation& run) {
    AmplifierSession a(run);
    if (const auto failed = a.openAndSynchronise())
        return *failed;
    Connection& c = a.connection();
    EditPath edits(c.store, c.link, c.clock, [&c] { return c.link.isOpen(); });
    edits.amplifierHoldsStore();
    const ModeImage before = settingsOf(c.store);
    ModeImage image = before;
    for (const ParamAssignment& x : assignments)
        applyAssignment(image, x);
    edits.replaceSettings(image);
    edits.sendDifferences();
    if (o.locationLevels)
        sendLocationLevels(edits, before, assignments);
    const bool answered = c.link.awaitReply();
    if (!c.link.isOpen() || c.link.readThreadEnded() || !answered)
        return a.finish(
            a.fail("the amplifier stopped answering; what it holds is uncertain", kExitNoAnswer));
    if (!edits.amplifierKnown())
        return a.finish(a.fail(
            "the amplifier did not take every report; what it holds is uncertain", kExitFailure));
    reportSet(o, assignments, settingsOf(c.store), true, run, a.out());
    return a.finish(kExitOk);
}

int set(const SetOptions& o, Invocation& run) {
    if (o.file.empty() && !o.output.empty())
        return run.usage("-o needs --file IN.q7M (on the amplifier, set sends the values)");
    if (!o.file.empty() && o.output.empty())
        return run.usage("--file needs -o OUT.q7M (the input file itself to change it)");
    if (isStdio(o.output) && o.json)
        return run.usage("-o - and --json would both write standard output");
    const auto assignments = assignmentsGiven(o.assignments, o.file.empty(), run.err);
    if (!assignments)
        return kExitUsage;
    if (o.file.empty())
        return setOnAmplifier(o, *assignments, run);
    ModeImage image = startImage();
    std::string error;
    if (!readModeInput(o.file, run.in, image, error))
        return run.fail(error);
    const ModeImage before = image;
    for (const ParamAssignment& x : *assignments)
        applyAssignment(image, x);
    if (o.locationLevels)
        applyLocationLevels(image, before, *assignments);
    if (!writeOutput(o.output, run.out, modeFileBytes(image), error))
        return run.fail(error);
    reportSet(o, *assignments, image, false, run, run.out);
    return kExitOk;
}

} // namespace

void addParamCommands(CommandLine& cli) {
    auto& po = cli.keep<ParamsOptions>();
    CLI::App* c = cli.add(
        "params", "list the parameters by name, with unit and range",
        "Lists every parameter a mode file holds, or those named: an id (main.eq.3.gain_db) "
        "or the start of ids up to a dot (main.eq.3, main.eq). Each line: name, unit, range, "
        "label. The names are those get, set and mode diff use.\n",
        [&po](Invocation& run) { return params(po, run); });
    c->add_option("NAME", po.names, "an id, or the start of ids up to a dot");
    addJsonFlag(c, po.json, "print an array of {name, label, unit, kind, min, max, values}");

    auto& go = cli.keep<GetOptions>();
    c = cli.add(
        "get", "print values by name",
        "Prints the values (every parameter when no NAME is given) as NAME VALUE lines, read "
        "from the amplifier after a synchronisation, or from the mode file given with --file. "
        "A NAME may be the start of ids up to a dot: get main.eq.3 prints the band's four "
        "fields.\n",
        [&go](Invocation& run) { return get(go, run); });
    c->add_option("NAME", go.names, "an id, or the start of ids up to a dot");
    c->add_option("--file", go.file,
                  "read the mode file instead of the amplifier; - standard input")
        ->type_name("IN.q7M");
    addJsonFlag(c, go.json, "print an array of {name, value, text}");
    cli.usesAmplifier(c);

    auto& so = cli.keep<SetOptions>();
    c = cli.add(
        "set", "change values by name",
        "Changes exactly the named values: on the amplifier (after a synchronisation, sent at "
        "once with the editor's senders), or in a copy of IN.q7M written to OUT.q7M (-o may "
        "name IN.q7M itself; the file is replaced whole, never half-written). VALUE is a "
        "number, with or without the unit, or a word as get prints it (on, off, PEQ, HP, High "
        "Freq...). A value outside the range is refused (exit 2); one stored with less "
        "resolution (rounded to the nearest step) or adjusted by the senders is noted on "
        "stderr, or in the JSON.\n",
        [&so](Invocation& run) { return set(so, run); });
    c->add_option("NAME=VALUE", so.assignments, "a parameter and its new value")->required();
    c->add_option("--file", so.file, "change a copy of this mode file; - standard input")
        ->type_name("IN.q7M");
    c->add_option("-o,--output", so.output, "where the changed file goes; - standard output")
        ->type_name("OUT.q7M");
    c->add_flag("--location-levels", so.locationLevels,
                "a moved listener or speaker also takes the speaker levels for the new distances, "
                "as the location page sets them");
    addJsonFlag(c, so.json, "print {\"set\": [{name, typed, value, text}], \"notes\": [...]}");
    cli.usesAmplifier(c);
}

} // namespace q7
