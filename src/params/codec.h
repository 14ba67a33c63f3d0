// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between store units and the 32-bit words the amplifier's DSP takes, and back.
// Arithmetic runs in double and is narrowed to single exactly where the amplifier expects it;
// each function says where.
#pragma once

#include "params/biquad.h"

#include <array>
#include <cstdint>

namespace q7::codec {

inline constexpr double kSampleRate = 48000.0;
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr std::uint32_t kCompressorConstantA = 0x41A00000; // 20.0
inline constexpr std::uint32_t kCompressorConstantB = 0x3D4CCCCD; // 0.05
inline constexpr std::uint32_t kLevelConstant1 = 0x3F7EFF25;      // 0.99608070
inline constexpr std::uint32_t kLevelConstant2 = 0xBFFF7EF1;      // -1.99606144
inline constexpr float kLevelQuadratic = 0.0022594517f;           // 0x3B14134F
inline constexpr float kLevelLinear = 0.799902f;                  // 0x3F4CC661
inline constexpr double kMinOutputDelayMs = 1.5;
inline constexpr double kMinPredelayMs = 3.0; // total of both halves
inline constexpr double kMinEchoTimeMs = 40.0;

// Scaled integer cells: the cell holds the quantity times 100, 10^4, 10^5 or 10^7.
enum class Scale { C100, C1e4, C1e5, C1e7 };

// cell / factor in double, narrowed to single.
float scaledToFloat(std::int32_t cell, Scale s);
// (int)(w x factor) with w = v +/- h narrowed to single and the product taken in single,
// truncated toward zero; saturates instead of overflowing.
std::int32_t scaledFromFloat(float v, Scale s);

// Selector: the cell's low byte as a 32-bit integer; read back as the low byte.
std::uint32_t selectorWord(std::int32_t cell);
std::int32_t selectorFromWord(std::uint32_t word);

// Mute: a muted cell goes as 0.0, an unmuted one as 1.0; 0.0 reads back as muted.
float muteValue(std::int32_t cell);
std::int32_t muteFromValue(float v);

// Flag pair: 1.0, then 0.0 when the flag is set or 1.0 when clear; read back from the second.
std::array<float, 2> flagValues(std::int32_t cell);
std::int32_t flagFromValue(float second);

// Delays: samples = (unsigned)(ms x 48000 / 1000 + 0.5) in double (rounds half up). Negative,
// NaN and huge inputs saturate to 0 .. 2^32 - 1 rather than being undefined.
std::uint32_t msToSamples(double ms);
float samplesToMs(std::uint32_t samples);

// Angular frequency: f x 2 pi / 48000 narrowed to single; read back rounded to whole hertz.
float angularFrequency(double hz);
std::int32_t hzFromAngular(float v);

// Mic shift delay table, in samples, indexed by the shift value 0..5 (indexes outside are
// clamped to the table).
std::uint32_t micShiftDelaySamples(int shift);

// Compressor record (count 7) and its inverse.
struct Compressor {
    float threshold = 0; // dB
    float ratio = 0;
    float attack = 0;  // ms
    float release = 0; // ms
};
std::array<std::uint32_t, 7> compressorRecord(const Compressor& c);
Compressor compressorFromRecord(const std::array<std::uint32_t, 7>& words);

// Speaker level record (count 6) from a level correction in dB.
std::array<std::uint32_t, 6> speakerLevelRecord(float db);

// Tenths byte of the plan block: sign-magnitude tenths of a metre. Magnitudes beyond 12.7 m
// saturate at 127 tenths instead of spilling into the sign bit.
std::uint8_t tenthsByte(float x);
float tenthsValue(std::uint8_t b);

// Volume ramp and fade steps: i / 100 (ramp) and i / 10 (fade) in double, narrowed.
float rampValue(int i);
float fadeValue(int i);

// The count-5 coefficient write: -a1, -a2, b0, b1, b2, each narrowed after the sign change.
std::array<std::uint32_t, 5> coefficientWords(const Biquad& b);

} // namespace q7::codec
