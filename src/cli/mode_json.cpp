// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/mode_json.h"

#include "params/dsp.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace q7 {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        s.push_back(hex[b >> 4]);
        s.push_back(hex[b & 0xF]);
    }
    return s;
}

namespace {

// A value that is a single (a float cell, a speaker level) prints as that single's shortest text.
std::string jsonUserValue(double v) {
    const float f = float(v);
    return double(f) == v ? jsonFloat(f) : jsonDouble(v);
}

const char* kindName(Difference::Kind k) {
    switch (k) {
    case Difference::Kind::Cell:
        return "cell";
    case Difference::Kind::Band:
        return "band";
    case Difference::Kind::Plan:
        return "plan";
    case Difference::Kind::SpeakerLevels:
        return "speaker_levels";
    case Difference::Kind::Extra:
        break;
    }
    return "extra";
}

} // namespace

std::string differencesJson(const std::vector<Difference>& differences) {
    std::string j = "{\"equal\": ";
    j += differences.empty() ? "true" : "false";
    j += ", \"differences\": [";
    bool first = true;
    for (const Difference& d : differences) {
        if (!first)
            j += ", ";
        first = false;
        j += "{\"kind\": \"" + std::string(kindName(d.kind)) + "\"";
        if (d.cell >= 0)
            j += ", \"cell\": " + std::to_string(d.cell);
        if (d.group >= 0)
            j += ", \"group\": " + std::to_string(d.group);
        if (d.record >= 0)
            j += ", \"record\": " + std::to_string(d.record);
        if (d.index >= 0)
            j += ", \"index\": " + std::to_string(d.index);
        // Ids and fields are the table's own lower-case ASCII: nothing to escape.
        j += ", \"name\": \"" + d.id + "\"";
        if (!d.field.empty())
            j += ", \"field\": \"" + d.field + "\"";
        j += ", \"a\": " + jsonUserValue(d.a) + ", \"b\": " + jsonUserValue(d.b) + "}";
    }
    return j + "]}";
}

std::string modeImageJson(const ModeImage& image, int version) {
    std::string j = "{\"version\": " + std::to_string(version) + ", \"params\": {";
    bool first = true;
    for (const ParamInfo& p : paramTable()) {
        if (!first)
            j += ", ";
        first = false;
        // Ids are the table's own lower-case ASCII: nothing to escape.
        j += "\"" + p.id + "\": " + paramJsonValue(p, rawValue(p, image));
    }
    return j + "}}";
}

// Text from a file may be any bytes: what is not UTF-8 becomes U+FFFD, so the JSON stays valid.
namespace {

std::string validUtf8(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 0;
        bool ok = n > 0 && i + std::size_t(n) <= s.size();
        for (int k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(s[i + std::size_t(k)]) >> 6) == 2;
        if (ok && n == 2)
            ok = c >= 0xC2; // no overlong forms
        if (ok) {
            out.append(s, i, std::size_t(n));
            i += std::size_t(n);
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

std::string jsonString(std::string_view text) {
    const std::string s = validUtf8(text);
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
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

} // namespace q7
