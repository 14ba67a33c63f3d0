// SPDX-License-Identifier: GPL-3.0-or-later
// The level check before a sweep: a short burst of pink noise through the speaker, to show the
// level at the microphone and the headroom, and to advise louder or softer.
#pragma once

#include "measure/run.h"

#include <vector>

namespace q7 {

struct LevelCheckSetup {
    double levelDbfs = -12; // the sweep's peak level: the burst has the sweep's RMS
    double seconds = 1.0;
    double sampleRate = kMeasureSampleRate;
    double marginSeconds = 1.5; // recorded beyond the burst: the streams' offset
};

struct LevelCheck {
    enum class Advice { Good, Louder, Softer, NoSignal } advice = Advice::NoSignal;
    double peakDbfs = -300;  // the recording's peak
    double levelDbfs = -300; // its RMS while the burst sounds
    double noiseDbfs = -300; // its RMS in the quiet
    double snrDb = 0;        // what a sweep at this level will have over the noise
    double headroomDb = 0;   // below full scale
};

inline constexpr double kWantedHeadroomDb = 6;

// Silence, then the burst (mono).
std::vector<float> levelCheckSignal(const LevelCheckSetup& setup);
// Reads a recording of it, wherever the burst landed (loudest and quietest 100 ms stretches).
LevelCheck assessLevel(const std::vector<float>& recording, double sampleRate);
// Plays the burst through one speaker alone (mutes put back afterwards) and reads it.
LevelCheck checkLevel(AudioBackend& audio, SpeakerSwitch* speakers, int speaker,
                      const LevelCheckSetup& setup, const MeasureDevices& devices,
                      const PlayRecordCallbacks& callbacks, MeasureIssue& problem);

} // namespace q7
