// SPDX-License-Identifier: GPL-3.0-or-later
// The eight speaker outputs as a measurement names them, which input channel feeds each, and the
// mute words that leave only the speakers being measured audible.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace q7 {

inline constexpr int kSpeakerOutputs = 8;

struct SpeakerOutput {
    const char* id;    // "main-l", as the command line and the room files name it
    int speaker;       // the amplifier's speaker number (1 main L, 2 center, 3 main R, …)
    int module;        // the DSP module of its output group
    int muteParameter; // the group's mute address
    int muteWords;     // 2 for the groups with left and right, else 1
    int muteWord;      // which of those words is this speaker's
    int muteCell;      // the group's mute cell
    int side;          // the music input channel feeding it: 0 left, 1 right, -1 both
};

// main-l, main-r, center, sub, rear-l, rear-r, top-l, top-r.
const std::array<SpeakerOutput, kSpeakerOutputs>& speakerOutputs();
// The index into speakerOutputs() of an id, or -1.
int speakerOutputIndex(std::string_view id);

struct DspWords {
    int module, parameter;
    std::vector<std::uint32_t> words;
    bool operator==(const DspWords&) const = default;
};

// Every group's mute words, with only the speakers listed (indices into speakerOutputs())
// playing. The store is not changed: these are a measurement's temporary state.
std::vector<DspWords> soloWords(const std::vector<int>& playing);
// The five group mute cells whose values put every mute back as the store holds it.
std::vector<int> groupMuteCells();

} // namespace q7
