#include "cli/mode_json.h"

#include "params/dsp.h"

#include <charconv>
#include <cmath>

namespace q7 {

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

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        s.push_back(hex[b >> 4]);
        s.push_back(hex[b & 0xF]);
    }
    return s;
}

std::string modeImageJson(const ModeImage& image, int version) {
    std::string j = "{\"version\": " + std::to_string(version) + ", \"cells\": {";
    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c) {
        if (c > kSavedFirstCell)
            j += ", ";
        const std::uint32_t bits = image.cells[std::size_t(c)];
        j += "\"" + std::to_string(c) + "\": ";
        j += isFloatCell(c) ? jsonFloat(bitsFloat(bits)) : std::to_string(std::int32_t(bits));
    }
    j += "}, \"bands\": [";
    bool first = true;
    for (const EqGroup& g : eqGroups()) {
        for (int r = 0; r < g.records; ++r) {
            const BandRecord b = BandRecord::fromBytes(
                &image.bandImage[std::size_t(g.offset) + kBandRecordSize * std::size_t(r)]);
            if (!first)
                j += ", ";
            first = false;
            j += "{\"group\": " + std::to_string(g.group) + ", \"record\": " + std::to_string(r) +
                 ", \"type\": " + std::to_string(b.type) +
                 ", \"gain_db\": " + jsonDouble((int(b.gain) - 150) / 10.0) +
                 ", \"freq_hz\": " + std::to_string(b.frequency) +
                 ", \"q\": " + jsonDouble(b.qValue()) + "}";
        }
    }
    j += "], \"extra\": \"" + hexBytes(image.extra) + "\", \"speaker_levels_db\": [";
    for (int s = 0; s < kSpeakerCount; ++s) {
        if (s)
            j += ", ";
        j += jsonFloat(bitsFloat(readBe32(&image.speakerLevels[std::size_t(4 * s)])));
    }
    j += "], \"plan\": \"" + hexBytes(image.plan) + "\"}";
    return j;
}

} // namespace q7
