// SPDX-License-Identifier: GPL-3.0-or-later
// The live levels as the meters show them, read from the level reply the store keeps: one
// reading for the editor, the daemon and the phones alike.
#pragma once

#include "params/store.h"

#include <string>
#include <vector>

namespace q7 {

inline constexpr double kMeterFloorDb = -60.0;

// A meter's 0..255 as dB below full scale, to a tenth; the floor where the meter shows nothing.
double meterDb(int reading);

struct LiveLevels {
    std::vector<double> db;  // music left and right, then microphone ports 1..4
    std::string inputFormat; // "Dolby", "DTS", "LPCM" or "Stereo"
};
LiveLevels liveLevels(const ParameterStore& store);

} // namespace q7
