// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/speakers.h"

#include <algorithm>
#include <bit>

namespace q7 {

const std::array<SpeakerOutput, kSpeakerOutputs>& speakerOutputs() {
    static const std::array<SpeakerOutput, kSpeakerOutputs> table = {{
        {"main-l", 1, 5, 41, 2, 0, 108, 0},
        {"main-r", 3, 5, 41, 2, 1, 108, 1},
        {"center", 2, 7, 22, 1, 0, 156, -1},
        {"sub", 5, 8, 32, 1, 0, 170, -1},
        {"rear-l", 4, 6, 27, 2, 0, 125, 0},
        {"rear-r", 6, 6, 27, 2, 1, 125, 1},
        {"top-l", 7, 9, 27, 2, 0, 142, 0},
        {"top-r", 8, 9, 27, 2, 1, 142, 1},
    }};
    return table;
}

int speakerOutputIndex(std::string_view id) {
    const auto& t = speakerOutputs();
    for (int i = 0; i < kSpeakerOutputs; ++i)
        if (id == t[std::size_t(i)].id)
            return i;
    return -1;
}

std::vector<DspWords> soloWords(const std::vector<int>& playing) {
    constexpr std::uint32_t kOn = std::bit_cast<std::uint32_t>(1.0f);
    constexpr std::uint32_t kMuted = std::bit_cast<std::uint32_t>(0.0f);
    std::vector<DspWords> out;
    for (const SpeakerOutput& s : speakerOutputs()) {
        auto it = std::find_if(out.begin(), out.end(), [&](const DspWords& w) {
            return w.module == s.module && w.parameter == s.muteParameter;
        });
        if (it == out.end()) {
            out.push_back({s.module, s.muteParameter,
                           std::vector<std::uint32_t>(std::size_t(s.muteWords), kMuted)});
            it = out.end() - 1;
        }
        const int index = int(&s - speakerOutputs().data());
        if (std::find(playing.begin(), playing.end(), index) != playing.end())
            it->words[std::size_t(s.muteWord)] = kOn;
    }
    return out;
}

std::vector<int> groupMuteCells() {
    return {108, 125, 142, 156, 170};
}

} // namespace q7
