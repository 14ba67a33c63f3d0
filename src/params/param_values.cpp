// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/param_values.h"

#include "params/codec.h"
#include "params/dsp.h"

#include <algorithm>
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

} // namespace

std::vector<std::uint32_t> paramChoices(const ParamInfo& p) {
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

std::string paramRangeText(const ParamInfo& p) {
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
        const auto c = paramChoices(p);
        return formatValue(p, c[0], true) + "|" + formatValue(p, c[1], true);
    }
    case ValueKind::FilterType: {
        std::string s;
        for (std::uint32_t code : paramChoices(p)) {
            if (code > 5) {
                s += "|6.." + std::to_string(paramChoices(p).size() - 1);
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

const char* paramKindWord(const ParamInfo& p) {
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

std::optional<double> typedParamNumber(const ParamInfo& p, std::string_view value) {
    if (p.kind != ValueKind::Number && p.kind != ValueKind::Ratio)
        return std::nullopt;
    std::string_view digits = trim(value);
    if (p.kind == ValueKind::Ratio && endsWithNoCase(digits, ":1"))
        digits.remove_suffix(2);
    else if (!p.unit.empty() && endsWithNoCase(digits, p.unit))
        digits = trim(digits.substr(0, digits.size() - p.unit.size()));
    return number(digits);
}

namespace {

std::string oneOf(const ParamInfo& p) {
    std::string s;
    const auto c = paramChoices(p);
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
        return refuse(p, text, error, "is outside " + paramRangeText(p));
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
    for (std::uint32_t raw : paramChoices(p))
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
        const auto c = paramChoices(p);
        if (!v || *v != std::floor(*v) || *v < 0 || *v >= double(c.size()))
            return refuse(p, t, error,
                          "is not a type: " + paramRangeText(p) + " (or 0.." +
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

void setParamValue(ModeImage& m, const ParamInfo& p, std::uint32_t raw) {
    // A value the field already holds keeps its bits (0 m is stored as 0x00 or 0x80, a shift
    // that is off as 0 or 1): setting it changes nothing.
    const std::uint32_t held = rawValue(p, m);
    if (held != raw && paramValueText(p, held) == paramValueText(p, raw))
        return;
    switch (p.place) {
    case ParamPlace::Cell:
        if (p.index >= 0 && p.index < kCellCount)
            m.cells[std::size_t(p.index)] = raw;
        return;
    case ParamPlace::Band: {
        const int offset = bandOffset(p.group, p.record);
        if (offset < 0)
            return;
        BandRecord r = BandRecord::fromBytes(&m.bandImage[std::size_t(offset)]);
        switch (p.field) {
        case BandField::Type:
            r.type = std::uint8_t(raw);
            break;
        case BandField::GainDb:
            r.gain = std::uint16_t(raw);
            break;
        case BandField::FreqHz:
            r.frequency = std::uint16_t(raw);
            break;
        case BandField::Q:
            r.q = std::uint16_t(raw);
            break;
        }
        r.toBytes(&m.bandImage[std::size_t(offset)]);
        return;
    }
    case ParamPlace::Plan: {
        if (p.index < 0 || p.index >= int(kPlanSize))
            return;
        const std::uint8_t byte = std::uint8_t(raw);
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
            writeBe32(&m.speakerLevels[std::size_t(4 * p.index)], raw);
        return;
    case ParamPlace::Extra:
        if (p.index >= 0 && p.index < int(kExtraSize))
            m.extra[std::size_t(p.index)] = std::uint8_t(raw);
        return;
    }
}

std::string jsonFloat(float v) {
    if (!std::isfinite(v))
        return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string jsonDouble(double v) {
    if (!std::isfinite(v))
        return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string paramJsonValue(const ParamInfo& p, std::uint32_t raw) {
    const double v = userValue(p, raw);
    if (p.storage != ParamStorage::Float32)
        return jsonDouble(v);
    if (p.mul == 1.0 && p.add == 0.0 && p.div == 1.0)
        return jsonFloat(float(v));
    // Worked out from a single (the reverb time from its slider position): seven digits, as
    // a single holds no more.
    if (!std::isfinite(v))
        return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", v);
    return buf;
}

} // namespace q7
