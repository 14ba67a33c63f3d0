// SPDX-License-Identifier: GPL-3.0-or-later
// What a room tuning changes, as the senders of the pages send it: EQ banks (the Sub's with its
// crossover and all-pass bands), output delays, speaker levels.
#pragma once

#include "eq/eq_bank.h"
#include "params/dsp.h"

#include <utility>
#include <vector>

namespace q7 {

struct TuneSettings {
    std::vector<EqBankState> banks;
    std::vector<std::pair<int, double>> delays; // speakerOutputs() index, ms (0: the stage off)
    std::vector<std::pair<int, float>> levels;  // speakerOutputs() index, speaker level in dB
    bool empty() const { return banks.empty() && delays.empty() && levels.empty(); }
};

// Stores and sends them with the pages' senders (a Sub band with its three sections, a delay
// with its stage switched on, the speaker level record). False when a report failed.
bool sendTuneSettings(Dsp& dsp, const TuneSettings& settings);

// The settings `before` becomes when they are sent, the senders' own rounding included.
ModeImage settingsAfter(const ModeImage& before, const TuneSettings& settings);

} // namespace q7
