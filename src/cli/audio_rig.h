// SPDX-License-Identifier: GPL-3.0-or-later
// What `measure` and `tune` open alike: the clock, the amplifier (the simulator's or the one on
// USB), the simulated and the computer's audio devices, the debug log and the trace.
#pragma once

#include "cli/q7ctl.h"
#include "protocol/trace.h"
#include "sim/simulated_audio.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace q7 {

class Connection;

// Whether a device name is one of the simulator's.
bool isSimulatedDevice(const std::optional<std::string>& name);

// Whether a run plays and records on the simulator's devices: with the simulator, unless --play
// or --record names another device. Nothing, said on err, when one of the two names a simulated
// device and the other a real one.
std::optional<bool> useSimulatedDevices(bool simulator, const std::optional<std::string>& play,
                                        const std::optional<std::string>& record,
                                        std::ostream& err);

// The --simulator option's settings, none without it; false, said on err, when they do not
// parse.
bool parseSimulator(const std::optional<std::string>& option, std::optional<SimOptions>& out,
                    std::ostream& err);

class AudioRig {
public:
    // simulatedAudio: the command may play and record on the simulator's devices (only with
    // sim); systemAudio: it may open the computer's.
    AudioRig(const Q7ctlEnvironment& env, const std::optional<SimOptions>& sim, bool simulatedAudio,
             bool systemAudio);
    ~AudioRig();
    AudioRig(const AudioRig&) = delete;
    AudioRig& operator=(const AudioRig&) = delete;

    // Why the simulated devices could not be made; empty when they were (or were not asked).
    const std::string& error() const { return error_; }
    Clock& clock() { return *clock_; }
    HidBackend& backend() { return *backend_; }
    SimulatedAudio* simulatedAudio() { return simAudio_.get(); }
    AudioBackend* systemAudio() { return system_; }

    // The debug log (verbose) and the trace file, then the link. False, said on err, when the
    // trace cannot be written or no amplifier is found.
    bool open(Connection& c, bool verbose, const std::optional<std::string>& trace,
              std::ostream& err);

private:
    std::optional<SystemClock> systemClock_;
    Clock* clock_ = nullptr;
    std::optional<Clock::Participant> participant_;
    std::unique_ptr<HidBackend> ownedBackend_;
    HidBackend* backend_ = nullptr;
    std::unique_ptr<SimulatedAudio> simAudio_;
    std::unique_ptr<AudioBackend> ownedSystem_;
    AudioBackend* system_ = nullptr;
    TraceWriter trace_;
    bool logging_ = false;
    std::string error_;
};

} // namespace q7
