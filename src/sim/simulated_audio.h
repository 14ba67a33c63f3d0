// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated amplifier's audio devices: what the computer plays into the music input goes
// through the amplifier's signal chain as the amplifier holds it, each speaker's output through
// the room to the microphone, summed with the microphone's noise, and recorded with a start
// offset and, optionally, a drifting clock.
//
// Devices: "Simulated amplifier input" (two channels, left and right of the music input) and
// "Simulated measurement microphone" (two channels: the microphone, and a loopback of the
// playback's left channel, wired straight back as a timing reference would be).
#pragma once

#include "measure/audio.h"
#include "sim/amp_audio.h"
#include "sim/room.h"
#include "sim/simulated_amplifier.h"

#include <mutex>

namespace q7 {

class Clock;

inline constexpr const char* kSimPlaybackDevice = "Simulated amplifier input";
inline constexpr const char* kSimRecordingDevice = "Simulated measurement microphone";

class SimulatedAudio final : public AudioBackend {
public:
    // pace: when given, playback takes its real duration on that clock (the editor's progress
    // bar and Cancel); otherwise a run completes as fast as it computes.
    SimulatedAudio(SimulatedAmplifier& amplifier, const SimOptions& options, Clock* pace = nullptr);
    // A room made elsewhere (a synthetic one) instead of options.roomDir.
    SimulatedAudio(SimulatedAmplifier& amplifier, Room room, const SimOptions& options,
                   Clock* pace = nullptr);

    // False when the room could not be read (the reason in error()).
    bool ok() const { return room_.ok(); }
    const std::string& error() const { return room_.error; }

    // The listening positions the room offers, and where the microphone stands now (0: the
    // main seat). A measurement of several positions moves it between its sweeps.
    int positions() const;
    int position() const;
    bool setPosition(int position);
    // The room at a position (the built-in room's are made when first asked for).
    RoomImpulses impulsesAt(int position) const;

    std::vector<AudioDevice> playbackDevices() override;
    std::vector<AudioDevice> recordingDevices() override;
    PlayRecordResult playAndRecord(const PlayRecordRequest& request,
                                   const PlayRecordCallbacks& callbacks) override;

    // What a perfect measurement of one speaker with the amplifier's present settings gives:
    // the chain's impulse response (both inputs driven) through the room at the microphone's
    // position, without latency.
    std::vector<float> trueImpulse(int speaker) const;

private:
    SimulatedAmplifier& amp_;
    SimOptions options_;
    Clock* pace_;
    const bool builtIn_;
    mutable std::mutex mutex_;       // one run at a time; guards the room and the position
    mutable Room room_;              // the built-in room's positions are made when asked for
    mutable std::vector<bool> made_; // which of them are made
    int position_ = 0;
    unsigned runs_ = 0;

    const RoomImpulses& impulsesLocked(int position) const;
};

} // namespace q7
