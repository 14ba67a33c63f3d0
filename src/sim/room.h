// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated room: one impulse response per speaker, from the speaker's input to the
// measurement microphone, at one or more listening positions. Read from a folder of WAV files,
// or the built-in living room.
#pragma once

#include "measure/speakers.h"

#include <array>
#include <string>
#include <vector>

namespace q7 {

// By speakerOutputs() index; empty: that speaker is not connected.
using RoomImpulses = std::array<std::vector<float>, kSpeakerOutputs>;

struct Room {
    std::vector<RoomImpulses> positions; // [0] is the main seat
    std::string error;
    bool ok() const { return error.empty() && !positions.empty(); }
};

// DIR/main-l.wav, main-r.wav, center.wav, sub.wav, rear-l.wav, rear-r.wav, top-l.wav,
// top-r.wav: mono, 48 kHz, at most 10 s each. A missing file leaves its speaker unconnected.
// Where DIR holds the sub-folders 1/, 2/ … instead, each is one listening position (the same
// file names inside); the numbers run from 1 without a gap.
Room loadRoom(const std::string& dir);

// A living room of 5.6 x 4.2 x 2.6 m with a listener on the sofa: each speaker's direct sound,
// reflections and the room's modes (image sources), through a speaker with its own bass limit.
inline constexpr int kBuiltInRoomPositions = 9;
// The room at one listening position (0: the middle of the sofa, the others around it).
RoomImpulses builtInRoomAt(int position);
// The main seat, made once.
const Room& builtInRoom();

} // namespace q7
