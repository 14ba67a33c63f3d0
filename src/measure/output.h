// SPDX-License-Identifier: GPL-3.0-or-later
// What a measurement leaves behind: REW-compatible text, the impulse response as a WAV file,
// and WAV recordings read back for analysis.
#pragma once

#include "measure/response.h"

#include <string>
#include <vector>

namespace q7 {

// "* " comment lines (the header), then "freq_hz spl_db phase_deg" lines, as REW exports them.
std::string rewText(const FrequencyResponse& r, const std::vector<std::string>& header);

// 32-bit float WAV; interleaved frames. False with the reason in error.
bool writeWav(const std::string& path, const std::vector<float>& samples, int channels,
              double sampleRate, std::string& error);

struct WavData {
    std::vector<float> samples; // interleaved
    int channels = 0;
    double sampleRate = 0;
    std::string error;
    bool ok() const { return error.empty() && channels > 0; }
    std::size_t frames() const { return channels > 0 ? samples.size() / std::size_t(channels) : 0; }
};

// Any format libsndfile reads; refused beyond maxSeconds.
WavData readWav(const std::string& path, double maxSeconds = 120);

} // namespace q7
