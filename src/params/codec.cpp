// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/codec.h"

#include "protocol/report.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace q7::codec {

namespace {

double factor(Scale s) {
    switch (s) {
    case Scale::C1e4:
        return 10000.0;
    case Scale::C1e5:
        return 100000.0;
    case Scale::C1e7:
        return 10000000.0;
    case Scale::C100:
        break;
    }
    return 100.0;
}

double halfStep(Scale s) {
    switch (s) {
    case Scale::C1e4:
        return 0.00005;
    case Scale::C1e5:
        return 0.000005;
    case Scale::C1e7:
        return 0.00000005;
    case Scale::C100:
        break;
    }
    return 0.0005;
}

// (int)x for a value that may lie outside int32 or be NaN: saturates, NaN gives 0.
std::int32_t truncInt32(double x) {
    if (std::isnan(x))
        return 0;
    if (x >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (x <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(x);
}

} // namespace

float scaledToFloat(std::int32_t cell, Scale s) {
    return float(double(cell) / factor(s));
}

std::int32_t scaledFromFloat(float v, Scale s) {
    const double h = halfStep(s);
    const float w = float(v >= 0 ? double(v) + h : double(v) - h);
    const float product = w * float(factor(s));
    return truncInt32(product);
}

std::uint32_t selectorWord(std::int32_t cell) {
    return std::uint32_t(cell) & 0xFFu;
}
std::int32_t selectorFromWord(std::uint32_t word) {
    return std::int32_t(word & 0xFFu);
}

float muteValue(std::int32_t cell) {
    return cell != 0 ? 0.0f : 1.0f;
}
std::int32_t muteFromValue(float v) {
    return v == 0.0f ? 1 : 0;
}

std::array<float, 2> flagValues(std::int32_t cell) {
    return {1.0f, cell != 0 ? 0.0f : 1.0f};
}
std::int32_t flagFromValue(float second) {
    return truncInt32(second) == 0 ? 1 : 0;
}

std::uint32_t msToSamples(double ms) {
    const double samples = ms * kSampleRate / 1000.0 + 0.5;
    if (!(samples >= 0.0))
        return 0;
    if (samples >= 4294967295.0)
        return std::numeric_limits<std::uint32_t>::max();
    return std::uint32_t(samples);
}

float samplesToMs(std::uint32_t samples) {
    return float(double(samples) * 1000.0 / kSampleRate);
}

float angularFrequency(double hz) {
    return float(hz * kTwoPi / kSampleRate);
}

std::int32_t hzFromAngular(float v) {
    return truncInt32(double(v) * kSampleRate / kTwoPi + 0.5);
}

std::uint32_t micShiftDelaySamples(int shift) {
    static constexpr double kTableMs[6] = {0.0, 0.0, 100.0, 58.333, 37.5, 25.0};
    const int i = shift < 0 ? 0 : (shift > 5 ? 5 : shift);
    return msToSamples(kTableMs[i]);
}

namespace {

std::uint32_t ratioWord(float ratio) {
    return floatBits(1.0f - 1.0f / ratio);
}

std::uint32_t timeWord(float ms) {
    return floatBits(float(1.0 - std::exp(-1.0 / (double(ms) * 48.0))));
}

// Of the values that encode to `word`, the one with the fewest decimals near `exact`, so that
// reading a value back and sending it again gives the same word instead of creeping.
float stableInverse(double exact, std::uint32_t word, std::uint32_t (*encode)(float)) {
    if (!std::isfinite(exact))
        return float(exact);
    for (double scale : {1.0, 10.0, 100.0, 1000.0}) {
        const float v = float(std::round(exact * scale) / scale);
        if (encode(v) == word)
            return v;
    }
    float v = float(exact);
    if (encode(v) == word)
        return v;
    float up = v, down = v;
    for (int i = 0; i < 64; ++i) {
        up = std::nextafter(up, std::numeric_limits<float>::infinity());
        if (encode(up) == word)
            return up;
        down = std::nextafter(down, -std::numeric_limits<float>::infinity());
        if (encode(down) == word)
            return down;
    }
    return v;
}

} // namespace

std::array<std::uint32_t, 7> compressorRecord(const Compressor& c) {
    return {floatBits(c.threshold), floatBits(0.0f),    ratioWord(c.ratio), kCompressorConstantA,
            kCompressorConstantB,   timeWord(c.attack), timeWord(c.release)};
}

Compressor compressorFromRecord(const std::array<std::uint32_t, 7>& words) {
    auto timeFrom = [](std::uint32_t w) {
        return stableInverse(-1.0 / (std::log(1.0 - double(bitsFloat(w))) * 48.0), w, timeWord);
    };
    Compressor c;
    c.threshold = bitsFloat(words[0]);
    c.ratio = stableInverse(1.0 / (1.0 - double(bitsFloat(words[2]))), words[2], ratioWord);
    c.attack = timeFrom(words[5]);
    c.release = timeFrom(words[6]);
    return c;
}

std::array<std::uint32_t, 6> speakerLevelRecord(float db) {
    const float square = float(double(db) * double(db));
    const float q = kLevelQuadratic * square;
    const float l = kLevelLinear * db;
    const float sum = q + l;
    const float c = float(std::pow(10.0, double(sum) / 20.0));
    const float d = float(std::pow(10.0, double(db) / 20.0));
    return {floatBits(c),    floatBits(d), kLevelConstant1,
            kLevelConstant2, floatBits(c), floatBits(d)};
}

std::uint8_t tenthsByte(float x) {
    if (std::isnan(x))
        x = 0.0f;
    const float shifted = float(x > 0 ? double(x) + 0.05 : double(x) - 0.05);
    const float tenths = shifted * 10.0f;
    const std::int32_t n = truncInt32(tenths);
    const std::int64_t magnitude = std::llabs(std::int64_t(n));
    const std::uint8_t low = std::uint8_t(magnitude > 127 ? 127 : magnitude);
    return shifted < 0 ? std::uint8_t(low | 0x80) : low;
}

float tenthsValue(std::uint8_t b) {
    const float v = float((b & 0x7F) / 10.0);
    return (b & 0x80) ? -v : v;
}

float rampValue(int i) {
    return float(i / 100.0);
}
float fadeValue(int i) {
    return float(i / 10.0);
}

std::array<std::uint32_t, 5> coefficientWords(const Biquad& b) {
    return {floatBits(float(-b.a1)), floatBits(float(-b.a2)), floatBits(float(b.b0)),
            floatBits(float(b.b1)), floatBits(float(b.b2))};
}

} // namespace q7::codec
