// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated room: one impulse response per speaker, from the speaker's input to the
// measurement microphone. Read from a folder of WAV files, or the built-in living room.
#pragma once

#include "measure/speakers.h"

#include <array>
#include <string>
#include <vector>

namespace q7 {

struct Room {
    // By speakerOutputs() index; empty: that speaker is not connected.
    std::array<std::vector<float>, kSpeakerOutputs> impulse;
    std::string error;
    bool ok() const { return error.empty(); }
};

// DIR/main-l.wav, main-r.wav, center.wav, sub.wav, rear-l.wav, rear-r.wav, top-l.wav,
// top-r.wav: mono, 48 kHz, at most 10 s each. A missing file leaves its speaker unconnected.
Room loadRoom(const std::string& dir);

// A living room of 5.6 x 4.2 x 2.6 m with a listener on the sofa: each speaker's direct sound,
// reflections and the room's modes (image sources), through a speaker with its own bass limit.
const Room& builtInRoom();

} // namespace q7
