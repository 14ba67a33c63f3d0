// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated amplifier's music signal chain, built from the DSP values it received over the
// link (coefficient words, levels, delays, mutes), never from the editor's band records: what it
// plays is what was really sent.
//
// Routing: the left music channel feeds Main L, Rear L and Top L; the right one Main R, Rear R
// and Top R; Center and Sub get the mean of both. Per channel: music EQ (module 4, records
// 0..14, unless bypassed), music volume and mute (left and right words), then per output: the
// group's music mix level, its EQ records (the Sub's bands with their crossover sections),
// the delay stage, the speaker level and the group's mute word for that speaker.
//
// The delay stage: off (its off flag) passes the signal untouched; "Channel" mode delays the
// whole signal after the two split records; "High Freq" mode adds the low-pass split record's
// output, undelayed, to the high-pass split record's output, delayed.
#pragma once

#include "measure/speakers.h"
#include "sim/simulated_amplifier.h"

#include <array>
#include <complex>
#include <vector>

namespace q7 {

class AmplifierAudio {
public:
    AmplifierAudio();
    // Takes the values now held (and keeps every filter's and delay line's state, so that a
    // mute switched during a run does not click).
    void configure(const AmpSettings& settings);
    // left, right: frames of the music input; out[k] gets the frames of speakerOutputs()[k].
    void process(const float* left, const float* right, std::size_t frames,
                 std::array<std::vector<float>, kSpeakerOutputs>& out);
    void reset();

    // The impulse response of one output from both input channels together (as a measurement
    // plays its sweep), through a fresh copy of the chain.
    std::vector<float> impulseResponse(int speaker, std::size_t length) const;
    // Whether the output carries any signal (not muted, not at zero level).
    bool audible(int speaker) const;

    struct Section {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        bool identity = true;
        double run(double x) {
            if (identity)
                return x;
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };

private:
    struct Output {
        double mix = 1, level = 1, mute = 1;
        std::vector<Section> eq;
        bool delayOn = false, channelMode = false;
        Section splitHigh, splitLow;
        std::size_t delay = 0;
        std::vector<double> line; // delay line, a ring
        std::size_t at = 0;
    };
    struct Music {
        std::vector<Section> eq;
        double volume = 1, mute = 1;
    };
    std::array<Music, 2> music_;
    std::array<Output, kSpeakerOutputs> outputs_;
};

} // namespace q7
