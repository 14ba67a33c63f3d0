// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/mode_check.h"

#include "params/codec.h"
#include "params/dsp.h"
#include "protocol/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace q7 {

namespace {

// The highest reverb time the factory presets hold (slider steps 200, 9960 ms): the slider
// itself ends at 100.
constexpr double kReverbTimeMaxMs = 40.0 + 200 * 49.6;
// The older amplifiers' pitch range (their editors wrote it into version-2 files as well).
constexpr double kOldPitchLimit = 8.0;
// Speaker levels: 3 dB at the listener, 3 dB less a metre; tuning sets them too.
constexpr double kLevelMinDb = -120.0, kLevelMaxDb = 20.0;

struct Rule {
    enum class Kind { Skip, Choices, Range } kind = Kind::Skip;
    std::vector<std::uint32_t> choices; // Choices: the raw values allowed
    double lo = 0, hi = 0;              // Range: user units
    double clampLo = 0, clampHi = 0;    // beyond lo..hi but inside these: clamped
    bool clampZero = false;             // a stored 0 (the start settings) is clamped
    bool clampAll = false;              // a value the amplifier ignores: clamped whatever it is
    bool whole = false;                 // only whole user values (the shift)
};

Rule choices(std::vector<std::uint32_t> c) {
    Rule r;
    r.kind = Rule::Kind::Choices;
    r.choices = std::move(c);
    return r;
}

// A range whose values just outside (float rounding: 1 % of the span) are clamped.
Rule range(double lo, double hi) {
    Rule r;
    r.kind = Rule::Kind::Range;
    r.lo = lo;
    r.hi = hi;
    const double margin = (hi - lo) * 0.01;
    r.clampLo = lo - margin;
    r.clampHi = hi + margin;
    return r;
}

std::uint8_t bandType(const ModeImage& m, int group, int record) {
    const int offset = bandOffset(group, record);
    return offset < 0 ? 0 : m.bandImage[std::size_t(offset) + 6];
}

Rule bandRule(const ParamInfo& p, bool off) {
    // A band switched off keeps whatever it held: the designer makes it a unit all-pass.
    if (p.field != BandField::Type && off)
        return {};
    switch (p.field) {
    case BandField::Type: {
        std::vector<std::uint32_t> c;
        const int last = p.hasRange ? int(p.max) : 21;
        for (int t = 0; t <= last; ++t)
            c.push_back(std::uint32_t(t));
        return choices(std::move(c));
    }
    case BandField::GainDb:
        return range(-15, 15);
    case BandField::FreqHz:
        if (p.hasRange)
            return range(p.min, p.max);
        {
            // Split filters and the Sub's sections: anything the designer takes.
            Rule r = range(1, kEqSampleRate / 2 - 1);
            r.clampLo = r.lo;
            r.clampHi = r.hi;
            return r;
        }
    case BandField::Q:
        if (p.hasRange)
            return range(p.min, p.max);
        {
            Rule r = range(0.001, 65.535);
            r.clampLo = r.lo;
            r.clampHi = r.hi;
            return r;
        }
    }
    return {};
}

Rule cellRule(const ParamInfo& p) {
    switch (p.kind) {
    case ValueKind::OnOff:
        // The microphone routing cells are levels that are either full or nothing.
        if (cellLayout(p.index).code == CellCode::C100)
            return choices({0, 100});
        return choices({0, 1});
    case ValueKind::OnWhenZero:
    case ValueKind::DelayMode:
        return choices({0, 1});
    case ValueKind::Shift:
        return choices({0, 1, 2, 3, 4, 5}); // 0 and 1 both read as off
    case ValueKind::Number:
    case ValueKind::Ratio: {
        if (!p.hasRange)
            return {};
        double hi = p.max;
        if (cellLayout(p.index).code == CellCode::ReverbTime)
            hi = kReverbTimeMaxMs;
        Rule r = range(p.min, hi);
        r.clampZero = true;
        if (p.index == cell::MusicPitch) {
            r.clampLo = -kOldPitchLimit;
            r.clampHi = kOldPitchLimit;
        }
        return r;
    }
    case ValueKind::FilterType:
    case ValueKind::Hex:
        break;
    }
    return {};
}

// bandOff: whether the record the band field belongs to is switched off.
Rule ruleFor(const ParamInfo& p, bool bandOff) {
    switch (p.place) {
    case ParamPlace::Cell:
        return cellRule(p);
    case ParamPlace::Band:
        return bandRule(p, bandOff);
    case ParamPlace::Plan: {
        // Kept in the amplifier for the location page only.
        Rule r = range(p.min, p.max);
        r.clampAll = true;
        return r;
    }
    case ParamPlace::SpeakerLevel: {
        Rule r = range(kLevelMinDb, kLevelMaxDb);
        r.clampAll = true;
        return r;
    }
    case ParamPlace::Extra:
        break; // carried, never read
    }
    return {};
}

// The stored bits of a user value, as the field keeps it.
std::uint32_t rawOf(const ParamInfo& p, double v) {
    const double stored = (v * p.div - p.add) / p.mul;
    switch (p.storage) {
    case ParamStorage::Int32:
        return std::uint32_t(std::int32_t(std::lround(stored)));
    case ParamStorage::Float32:
        if (p.place == ParamPlace::Cell && cellLayout(p.index).code == CellCode::ReverbTime)
            return floatBits(float(std::round(stored)));
        return floatBits(float(stored));
    case ParamStorage::Unsigned:
        return std::uint32_t(std::lround(std::max(0.0, stored)));
    case ParamStorage::SignMagnitude:
        return codec::tenthsByte(float(v));
    }
    return 0;
}

void setRaw(ModeImage& m, const ParamInfo& p, std::uint32_t raw) {
    switch (p.place) {
    case ParamPlace::Cell:
        m.cells[std::size_t(p.index)] = raw;
        return;
    case ParamPlace::Band: {
        const int offset = bandOffset(p.group, p.record);
        if (offset < 0)
            return;
        std::uint8_t* at = &m.bandImage[std::size_t(offset)];
        BandRecord r = BandRecord::fromBytes(at);
        const std::uint16_t v = std::uint16_t(std::min<std::uint32_t>(raw, 0xFFFF));
        switch (p.field) {
        case BandField::Type:
            r.type = std::uint8_t(raw);
            break;
        case BandField::GainDb:
            r.gain = v;
            break;
        case BandField::FreqHz:
            r.frequency = v;
            break;
        case BandField::Q:
            r.q = v;
            break;
        }
        r.toBytes(at);
        return;
    }
    case ParamPlace::Plan:
        m.plan[std::size_t(p.index)] = std::uint8_t(raw);
        return;
    case ParamPlace::SpeakerLevel:
        writeBe32(&m.speakerLevels[std::size_t(4 * p.index)], raw);
        return;
    case ParamPlace::Extra:
        m.extra[std::size_t(p.index)] = std::uint8_t(raw);
        return;
    }
}

bool isFloat(const ParamInfo& p) {
    return p.storage == ParamStorage::Float32;
}

// What the value loads as: nullopt when it is refused; raw itself when it is in range.
std::optional<std::uint32_t> judge(const ParamInfo& p, const Rule& r, std::uint32_t raw) {
    switch (r.kind) {
    case Rule::Kind::Skip:
        if (isFloat(p) && !std::isfinite(bitsFloat(raw)))
            return std::nullopt;
        return raw;
    case Rule::Kind::Choices:
        if (std::find(r.choices.begin(), r.choices.end(), raw) != r.choices.end())
            return raw;
        return std::nullopt;
    case Rule::Kind::Range:
        break;
    }
    const double v = userValue(p, raw);
    if (!std::isfinite(v)) {
        if (!r.clampAll)
            return std::nullopt;
        return rawOf(p, std::clamp(0.0, r.lo, r.hi));
    }
    // Float values a hair outside print as the end itself: compare what a single holds.
    const double tolerance = isFloat(p) ? 1e-6 * std::max(1.0, std::fabs(v)) : 1e-9;
    const bool inside = v >= r.lo - tolerance && v <= r.hi + tolerance;
    if (inside && (!r.whole || v == std::floor(v)))
        return raw;
    const bool clamps = r.clampAll || (r.clampZero && raw == 0) ||
                        (v >= r.clampLo && v <= r.clampHi && (!r.whole || v == std::floor(v)));
    if (!clamps)
        return std::nullopt;
    const std::uint32_t now = rawOf(p, std::clamp(v, r.lo, r.hi));
    return now;
}

std::string number(double v, int decimals, bool sign) {
    char buf[64];
    std::snprintf(buf, sizeof buf, sign ? "%+.*f" : "%.*f", decimals, v);
    return buf;
}

std::string withUnit(const ParamInfo& p, const std::string& s) {
    if (p.kind == ValueKind::Ratio)
        return s + ":1";
    if (p.unit.empty())
        return s;
    return p.unit == "%" ? s + "%" : s + " " + p.unit;
}

std::string choicesText(const std::vector<std::uint32_t>& c) {
    if (c.size() == 2)
        return std::to_string(c[0]) + "|" + std::to_string(c[1]);
    return std::to_string(c.front()) + ".." + std::to_string(c.back());
}

// The value as the file holds it: a switch or type as its stored number (a 7 is no "on").
std::string heldText(const ParamInfo& p, std::uint32_t raw, bool english) {
    if (isFloat(p) && !std::isfinite(bitsFloat(raw)))
        return std::isnan(bitsFloat(raw)) ? "NaN" : (bitsFloat(raw) > 0 ? "+inf" : "-inf");
    switch (p.kind) {
    case ValueKind::Number:
    case ValueKind::Ratio: {
        const std::string s = formatValue(p, raw, english);
        return s.size() < 40 ? s : withUnit(p, number(userValue(p, raw), 0, false));
    }
    case ValueKind::Hex:
        return formatValue(p, raw, english);
    default:
        break;
    }
    return p.storage == ParamStorage::Int32 ? std::to_string(std::int32_t(raw))
                                            : std::to_string(raw);
}

std::string label(const ParamInfo& p, bool english) {
    return paramName(p, english) + " (" + p.id + ")";
}

} // namespace

std::string fileRangeText(const ParamInfo& p) {
    const Rule r = ruleFor(p, false);
    switch (r.kind) {
    case Rule::Kind::Skip:
        return "-";
    case Rule::Kind::Choices:
        return choicesText(r.choices);
    case Rule::Kind::Range:
        break;
    }
    int decimals = p.decimals;
    if (p.place == ParamPlace::Band && p.field == BandField::Q)
        decimals = 3;
    return number(r.lo, decimals, p.explicitSign) + ".." +
           withUnit(p, number(r.hi, decimals, p.explicitSign));
}

ModeFileCheck checkModeImage(const ModeImage& image) {
    ModeFileCheck c;
    c.image = image;
    for (const ParamInfo& p : paramTable()) {
        if (p.place == ParamPlace::Cell && (p.index < image.firstCell || p.index > image.lastCell))
            continue;
        const std::uint32_t raw = rawValue(p, image);
        const bool off = p.place == ParamPlace::Band && bandType(image, p.group, p.record) == 0;
        const std::optional<std::uint32_t> now = judge(p, ruleFor(p, off), raw);
        if (!now) {
            c.refusal = ValueProblem{&p, raw, raw};
            return c;
        }
        if (*now != raw) {
            setRaw(c.image, p, *now);
            c.clamped.push_back({&p, raw, *now});
        }
    }
    return c;
}

std::string describeRefusal(const ValueProblem& p, bool english) {
    const ParamInfo& i = *p.param;
    const std::string range = fileRangeText(i);
    if (english)
        return label(i, true) + " is " + heldText(i, p.was, true) + ", outside " + range;
    return label(i, false) + " 为 " + heldText(i, p.was, false) + "，超出范围 " + range;
}

std::string describeClamp(const ValueProblem& p, bool english) {
    const ParamInfo& i = *p.param;
    const std::string line = label(i, english) + (english ? ": " : "：") +
                             heldText(i, p.was, english) + " → " + heldText(i, p.now, english);
    return line + (english ? " (range " : "（范围 ") + fileRangeText(i) + (english ? ")" : "）");
}

std::u16string showableModeName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool half = c >= 0xD800 && c <= 0xDFFF;
        const bool replaced = c == 0xFFFD || c == 0xFFFE || c == 0xFFFF;
        if (control || half || replaced)
            c = u'_';
    }
    return out;
}

} // namespace q7
