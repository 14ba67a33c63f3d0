// SPDX-License-Identifier: GPL-3.0-or-later
// The ribbon's master controls: which cell each volume slider, value label and mute box shows.
// How a cell reaches the amplifier, its range and its name come from the cell tables
// (params/dsp.h, params/param_names.h); only what the ribbon adds is kept here.
#pragma once

#include "params/edit_path.h"

#include <span>

namespace q7 {

struct ParamInfo;

struct MasterVolume {
    int slider, label; // the Input category's ids
    int cell;
    const char *zh, *en; // label prefix, "%s%3d"
    int maxByte;         // byte of the machine settings record limiting it, or -1
    const char *maxZh, *maxEn;
    int mute;     // the mute box's id, 0 when the control has none
    int muteCell; // -1 when the control has no mute
    const char* icon;
};

// In the ribbon's order: mic, effect, reverb, echo, music, music noise gate.
std::span<const MasterVolume> masterVolumes();
// The control whose slider (either twin) or mute box (either twin) has the id, or null.
const MasterVolume* masterVolumeBySlider(int id);
const MasterVolume* masterVolumeByMute(int id);
// The cell's entry in the names table (range and names); never null for a master cell.
const ParamInfo& masterParam(int cell);
// A step named after the cell, as the history names it ("Mic Vol").
StepName stepNamed(int cell);

} // namespace q7
