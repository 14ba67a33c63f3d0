// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the simulated amplifier holds what a reference state of it holds: its memory byte for
// byte and every DSP word the reference has.
#pragma once

#include "sim/simulated_amplifier.h"

#include <gtest/gtest.h>

namespace q7::test {

inline ::testing::AssertionResult sameMemory(const AmpSettings& a, const AmpSettings& b) {
    for (std::size_t i = 0; i < a.memory.size(); ++i)
        if (a.memory[i] != b.memory[i])
            return ::testing::AssertionFailure() << "memory byte " << i << " differs";
    return ::testing::AssertionSuccess();
}

// Every DSP word the reference holds, except those the amplifier ignores: the shift frequency and
// delay of a bypassed microphone shift keep whatever was last sent.
inline ::testing::AssertionResult sameDsp(const AmpSettings& a, const AmpSettings& b) {
    auto bypassed = [&](int parameter) {
        auto it = b.dsp.find(std::uint16_t(1 << 8 | parameter));
        return it != b.dsp.end() && !it->second.empty() && it->second[0] == 1;
    };
    for (const auto& [key, words] : b.dsp) {
        const int module = key >> 8, parameter = key & 0xFF;
        if (module == 1 && ((parameter == 38 || parameter == 39) && bypassed(40)))
            continue;
        if (module == 1 && ((parameter == 51 || parameter == 52) && bypassed(53)))
            continue;
        auto it = a.dsp.find(key);
        if (it == a.dsp.end() || it->second != words)
            return ::testing::AssertionFailure()
                   << "DSP (" << module << "," << parameter << ") differs";
    }
    return ::testing::AssertionSuccess();
}

} // namespace q7::test
