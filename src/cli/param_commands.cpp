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

constexpr int kTypeCodes = 22; // the band list's types, then the crossover sections

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool endsWithNoCase(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && lower(s.substr(s.size() - tail.size())) == lower(tail);
}

std::optional<double> number(std::string_view s) {
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string fixed(double v, int decimals, bool sign) {
    char buf[64];
    std::snprintf(buf, sizeof buf, sign ? "%+.*f" : "%.*f", decimals, v);
    return buf;
}

std::string withUnit(const ParamInfo& p, std::string text) {
    if (p.kind == ValueKind::Ratio)
        return text + ":1";
    if (p.unit.empty())
        return text;
    return p.unit == "%" ? text + "%" : text + " " + p.unit;
}

// The highest stored value the field holds.
std::uint32_t storageLimit(const ParamInfo& p) {
    if (p.place == ParamPlace::Band)
        return p.field == BandField::Type ? 0xFF : 0xFFFF;
    return 0xFF; // plan and extra bytes
}

// The raw values a word-valued parameter takes, in the order of their user values.
std::vector<std::uint32_t> choices(const ParamInfo& p) {
    switch (p.kind) {
    case ValueKind::OnOff:
    case ValueKind::DelayMode:
        return {0, 1};
    case ValueKind::OnWhenZero:
        return {1, 0};
    case ValueKind::FilterType: {
        const int last = p.hasRange ? int(p.max) : kTypeCodes - 1;
        std::vector<std::uint32_t> v;
        for (int code = 0; code <= last; ++code)
            v.push_back(std::uint32_t(code));
        return v;
    }
    case ValueKind::Shift:
        return {1, 2, 3, 4, 5};
    default:
        return {};
    }
}

std::string rangeText(const ParamInfo& p) {
    switch (p.kind) {
    case ValueKind::Number:
    case ValueKind::Ratio:
        if (!p.hasRange)
            return "-";
        return fixed(p.min, p.decimals, p.explicitSign) + ".." +
               withUnit(p, fixed(p.max, p.decimals, p.explicitSign));
    case ValueKind::OnOff:
    case ValueKind::OnWhenZero:
    case ValueKind::DelayMode: {
        const auto c = choices(p);
        return formatValue(p, c[0], true) + "|" + formatValue(p, c[1], true);
    }
    case ValueKind::FilterType: {
        std::string s;
        for (std::uint32_t code : choices(p)) {
            if (code > 5) {
                s += "|6.." + std::to_string(choices(p).size() - 1);
                break;
            }
            s += (code ? "|" : "") + formatValue(p, code, true);
        }
        return s;
    }
    case ValueKind::Shift:
        return "Off|2..5 Hz";
    case ValueKind::Hex:
        return "0..255";
    }
    return "-";
}

std::string oneOf(const ParamInfo& p) {
    std::string s;
    const auto c = choices(p);
    for (std::size_t i = 0; i < c.size(); ++i)
        s += (i ? ", " : "") + formatValue(p, c[i], true);
    return s;
}

std::optional<std::uint32_t> refuse(const ParamInfo& p, std::string_view text, std::string& error,
                                    const std::string& why) {
    error = p.id + ": " + std::string(text) + " " + why;
    return std::nullopt;
}

std::optional<std::uint32_t> parseNumber(const ParamInfo& p, std::string_view text,
                                         std::string& error) {
    std::string_view t = text;
    if (p.kind == ValueKind::Ratio && endsWithNoCase(t, ":1"))
        t.remove_suffix(2);
    else if (!p.unit.empty() && endsWithNoCase(t, p.unit))
        t = trim(t.substr(0, t.size() - p.unit.size()));
    const auto v = number(t);
    if (!v)
        return refuse(p, text, error, "is not a number");
    if (p.hasRange && (*v < p.min || *v > p.max))
        return refuse(p, text, error, "is outside " + rangeText(p));
    // user = (stored x mul + add) / div
    double stored = (*v * p.div - p.add) / p.mul;
    switch (p.storage) {
    case ParamStorage::Int32:
        stored = std::round(stored);
        if (stored < -2147483648.0 || stored > 2147483647.0)
            return refuse(p, text, error, "is too large");
        return std::uint32_t(std::int32_t(stored));
    case ParamStorage::Float32:
        // The reverb time is a slider position: the sender keeps whole steps only.
        if (p.place == ParamPlace::Cell && cellLayout(p.index).code == CellCode::ReverbTime)
            stored = std::round(stored);
        if (std::fabs(stored) > 3.0e38)
            return refuse(p, text, error, "is too large");
        return floatBits(float(stored));
    case ParamStorage::Unsigned: {
        stored = std::round(stored);
        const std::uint32_t limit = storageLimit(p);
        if (stored < 0 || stored > double(limit)) {
            const double a = userValue(p, 0), b = userValue(p, limit);
            return refuse(p, text, error,
                          "is outside " + fixed(std::min(a, b), p.decimals, p.explicitSign) + ".." +
                              withUnit(p, fixed(std::max(a, b), p.decimals, p.explicitSign)));
        }
        return std::uint32_t(stored);
    }
    case ParamStorage::SignMagnitude:
        if (std::fabs(*v) > 12.7)
            return refuse(p, text, error, "is outside -12.7..+12.7 m");
        return codec::tenthsByte(float(*v));
    }
    return std::nullopt;
}

// The cell of cells 4..23 a plan byte is made from.
int planCell(int byte) {
    switch (byte) {
    case 0:
        return cell::RoomWidth;
    case 1:
        return cell::RoomLength;
    case 2:
        return cell::ListenerX;
    case 3:
        return cell::ListenerY;
    }
    const int speaker = (byte - 4) / 2;
    return byte % 2 == 0 ? cell::SpeakerX + speaker : cell::SpeakerY + speaker;
}

const char* kindWord(const ParamInfo& p) {
    switch (p.kind) {
    case ValueKind::Number:
        return "number";
    case ValueKind::Ratio:
        return "ratio";
    case ValueKind::OnOff:
    case ValueKind::OnWhenZero:
        return "switch";
    case ValueKind::DelayMode:
    case ValueKind::Shift:
    case ValueKind::FilterType:
        return "choice";
    case ValueKind::Hex:
        break;
    }
    return "byte";
}

ModeImage startImage() {
    return ParameterStore().modeImage();
}

} // namespace

const ParamInfo* lookUpParam(std::string_view name, std::string& error) {
    if (const ParamInfo* p = findParam(name))
        return p;
    // Suggest the ids whose words begin with the words given, in order: rear.delay_ms finds
    // rear.l.delay_ms and rear.r.delay_ms.
    std::vector<std::string> words;
    for (std::size_t at = 0; at <= name.size();) {
        const std::size_t dot = std::min(name.find('.', at), name.size());
        words.emplace_back(name.substr(at, dot - at));
        at = dot + 1;
    }
    std::vector<std::string> near;
    for (const ParamInfo& p : paramTable()) {
        std::size_t w = 0;
        for (std::size_t at = 0; at <= p.id.size() && w < words.size();) {
            const std::size_t dot = std::min(p.id.find('.', at), p.id.size());
            if (!words[w].empty() && p.id.compare(at, words[w].size(), words[w]) == 0 &&
                words[w].size() <= dot - at)
                ++w;
            at = dot + 1;
        }
        if (w == words.size())
            near.push_back(p.id);
    }
    error = "unknown parameter " + std::string(name);
    if (!near.empty() && near.size() <= 8) {
        error += "; did you mean ";
        for (std::size_t i = 0; i < near.size(); ++i)
            error += (i ? ", " : "") + near[i];
    }
    error += " (q7ctl params lists them)";
    return nullptr;
}

std::optional<std::uint32_t> parseParamValue(const ParamInfo& p, std::string_view text,
                                             std::string& error) {
    const std::string_view t = trim(text);
    if (t.empty())
        return refuse(p, text, error, "is no value");
    // The words the table prints, in either language.
    for (std::uint32_t raw : choices(p))
        if (lower(t) == lower(formatValue(p, raw, true)) || t == formatValue(p, raw, false))
            return raw;
    switch (p.kind) {
    case ValueKind::Number:
    case ValueKind::Ratio:
        return parseNumber(p, t, error);
    case ValueKind::OnOff:
    case ValueKind::OnWhenZero:
    case ValueKind::DelayMode: {
        const auto v = number(t);
        if (!v || (*v != 0 && *v != 1))
            return refuse(p, t, error, "is not one of " + oneOf(p) + " (or 0, 1)");
        const bool one = *v == 1;
        return std::uint32_t(p.kind == ValueKind::OnWhenZero ? !one : one);
    }
    case ValueKind::FilterType: {
        const auto v = number(t);
        const auto c = choices(p);
        if (!v || *v != std::floor(*v) || *v < 0 || *v >= double(c.size()))
            return refuse(p, t, error,
                          "is not a type: " + rangeText(p) + " (or 0.." +
                              std::to_string(c.size() - 1) + ")");
        return std::uint32_t(*v);
    }
    case ValueKind::Shift: {
        std::string_view n = t;
        if (endsWithNoCase(n, "hz"))
            n = trim(n.substr(0, n.size() - 2));
        const auto v = number(n);
        if (!v || *v != std::floor(*v) || *v < p.min || *v > p.max)
            return refuse(p, t, error, "is outside Off|2..5 Hz (1 is Off)");
        return std::uint32_t(*v);
    }
    case ValueKind::Hex: {
        unsigned v = 0;
        const bool hex = t.size() > 2 && (t.substr(0, 2) == "0x" || t.substr(0, 2) == "0X");
        const std::string_view digits = hex ? t.substr(2) : t;
        const auto r =
            std::from_chars(digits.data(), digits.data() + digits.size(), v, hex ? 16 : 10);
        if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || v > 0xFF)
            return refuse(p, t, error, "is outside 0..255 (or 0x00..0xFF)");
        return std::uint32_t(v);
    }
    }
    return std::nullopt;
}

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
    const ParamInfo& p = *a.param;
    // A value the field already holds keeps its bits (0 m is stored as 0x00 or 0x80, a shift
    // that is off as 0 or 1): setting it changes nothing.
    const std::uint32_t held = rawValue(p, m);
    if (held != a.raw && paramValueText(p, held) == paramValueText(p, a.raw))
        return;
    switch (p.place) {
    case ParamPlace::Cell:
        if (p.index >= 0 && p.index < kCellCount)
            m.cells[std::size_t(p.index)] = a.raw;
        return;
    case ParamPlace::Band: {
        const int offset = bandOffset(p.group, p.record);
        if (offset < 0)
            return;
        BandRecord r = BandRecord::fromBytes(&m.bandImage[std::size_t(offset)]);
        switch (p.field) {
        case BandField::Type:
            r.type = std::uint8_t(a.raw);
            break;
        case BandField::GainDb:
            r.gain = std::uint16_t(a.raw);
            break;
        case BandField::FreqHz:
            r.frequency = std::uint16_t(a.raw);
            break;
        case BandField::Q:
            r.q = std::uint16_t(a.raw);
            break;
        }
        r.toBytes(&m.bandImage[std::size_t(offset)]);
        return;
    }
    case ParamPlace::Plan: {
        if (p.index < 0 || p.index >= int(kPlanSize))
            return;
        const std::uint8_t byte = std::uint8_t(a.raw);
        m.plan[std::size_t(p.index)] = byte;
        const int c = planCell(p.index);
        if (p.index < 2)
            m.cells[std::size_t(c)] = byte;
        else // what the plan encoder makes 0x80 from, as a typed 0 is
            m.cells[std::size_t(c)] = floatBits((byte & 0x7F) ? codec::tenthsValue(byte) : 0.0f);
        return;
    }
    case ParamPlace::SpeakerLevel:
        if (p.index >= 0 && p.index < kSpeakerCount)
            writeBe32(&m.speakerLevels[std::size_t(4 * p.index)], a.raw);
        return;
    case ParamPlace::Extra:
        if (p.index >= 0 && p.index < int(kExtraSize))
            m.extra[std::size_t(p.index)] = std::uint8_t(a.raw);
        return;
    }
}

std::string paramValueText(const ParamInfo& p, std::uint32_t raw) {
    if (p.kind != ValueKind::Number && p.kind != ValueKind::Ratio)
        return formatValue(p, raw, true);
    const double v = userValue(p, raw);
    if (!std::isfinite(v)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "nan [0x%08X]", raw);
        return buf;
    }
    std::string text = paramJsonValue(p, raw);
    if (p.explicitSign && text.front() != '-')
        text = "+" + text;
    return withUnit(p, text);
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

// The number typed, without its unit; nullopt for a word.
std::optional<double> typedNumber(const ParamInfo& p, const std::string& value) {
    if (p.kind != ValueKind::Number && p.kind != ValueKind::Ratio)
        return std::nullopt;
    std::string_view digits = trim(value);
    if (p.kind == ValueKind::Ratio && endsWithNoCase(digits, ":1"))
        digits.remove_suffix(2);
    else if (!p.unit.empty() && endsWithNoCase(digits, p.unit))
        digits = trim(digits.substr(0, digits.size() - p.unit.size()));
    return number(digits);
}

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
        const auto v = typedNumber(p, a.value);
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

std::vector<const ParamInfo*> paramsMatching(std::string_view name, std::string& error) {
    if (const ParamInfo* p = findParam(name))
        return {p};
    std::vector<const ParamInfo*> out;
    if (!name.empty() && name.back() != '.') {
        const std::string prefix = std::string(name) + ".";
        for (const ParamInfo& p : paramTable())
            if (p.id.starts_with(prefix))
                out.push_back(&p);
    }
    if (out.empty())
        lookUpParam(name, error);
    return out;
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
        const auto raw = parseParamValue(p, fixed(v < p.min ? p.min : p.max, 6, false), error);
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
                 ", \"unit\": " + jsonString(p.unit) + ", \"kind\": \"" + kindWord(p) + "\"";
            if (p.hasRange || p.kind == ValueKind::Hex)
                s += ", \"min\": " + jsonDouble(p.hasRange ? p.min : 0) +
                     ", \"max\": " + jsonDouble(p.hasRange ? p.max : 255);
            const auto c = choices(p);
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
        std::string range = rangeText(p);
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
    if (!a.open())
        return a.code();
    if (!a.synchronise())
        return a.finish(a.code());
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
    if (!a.open())
        return a.code();
    if (!a.synchronise())
        return a.finish(a.code());
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
