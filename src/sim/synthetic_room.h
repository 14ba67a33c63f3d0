// SPDX-License-Identifier: GPL-3.0-or-later
// Rooms made to order for testing a room tuning: every speaker at its own distance and level,
// coloured by its box and the wall behind it, a Sub with a room mode and, if asked, its wires
// reversed, several listening positions with a little timing jitter between them.
#pragma once

#include "sim/room.h"

#include <array>
#include <string>

namespace q7 {

struct SyntheticRoomSetup {
    unsigned seed = 1;
    int positions = 1;
    double minDistanceM = 0.5, maxDistanceM = 6.0;
    double levelSpreadDb = 6.0; // each speaker's own level, within ±this
    double positionMoveM = 0.4; // how far the other positions move each path, at most
    double jitterMs = 0.1;      // and a random timing offset per position and speaker, ±
    bool subInverted = true;    // the Sub's wires reversed
    bool boundaryDip = true;    // a wall behind the fronts: a mid-bass dip
    std::array<bool, kSpeakerOutputs> connected{true, true, true, true, true, true, true, true};
};

// What the room was made of, for checking a tuning against it.
struct SyntheticRoomTruth {
    std::array<double, kSpeakerOutputs> distanceM{}; // at the main seat
    std::array<double, kSpeakerOutputs> levelDb{};   // the speaker's own level
    double subModeHz = 0;
    std::array<double, kSpeakerOutputs> dipHz{}; // first boundary notch, 0 for none
};

Room syntheticRoom(const SyntheticRoomSetup& setup, SyntheticRoomTruth* truth = nullptr);

// Writes a room as room=DIR reads it: the speaker files, in sub-folders 1/, 2/ … when it has
// several positions. False with the reason in error.
bool writeRoomFolder(const Room& room, const std::string& dir, std::string& error);

} // namespace q7
