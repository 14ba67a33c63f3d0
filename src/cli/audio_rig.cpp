// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/audio_rig.h"

#include "device/connection.h"
#include "device/hidapi_backend.h"
#include "protocol/log.h"

namespace q7 {

bool isSimulatedDevice(const std::optional<std::string>& name) {
    return name && (*name == kSimPlaybackDevice || *name == kSimRecordingDevice);
}

std::optional<bool> useSimulatedDevices(bool simulator, const std::optional<std::string>& play,
                                        const std::optional<std::string>& record,
                                        std::ostream& err) {
    const bool simulated =
        simulator && (!play || isSimulatedDevice(play)) && (!record || isSimulatedDevice(record));
    if (simulator && !simulated && (isSimulatedDevice(play) || isSimulatedDevice(record))) {
        err << "q7ctl: play and record on the simulated devices together, or on real ones\n";
        return std::nullopt;
    }
    return simulated;
}

bool parseSimulator(const std::optional<std::string>& option, std::optional<SimOptions>& out,
                    std::ostream& err) {
    out.reset();
    if (!option)
        return true;
    std::string error;
    out = SimOptions::parse(*option, error);
    if (!out)
        err << "q7ctl: " << error << "\n";
    return out.has_value();
}

AudioRig::AudioRig(const Q7ctlEnvironment& env, const std::optional<SimOptions>& sim,
                   bool simulatedAudio, bool systemAudio) {
    system_ = env.audio;
    if (!system_ && env.systemAudio && systemAudio) {
        ownedSystem_ = env.systemAudio();
        system_ = ownedSystem_.get();
    }
    if (env.clock) {
        clock_ = env.clock;
    } else {
        systemClock_.emplace();
        clock_ = &*systemClock_;
    }
    participant_.emplace(*clock_);
    backend_ = env.backend;
    if (!backend_) {
        if (sim)
            ownedBackend_ = std::make_unique<SimulatedAmplifier>(*clock_, *sim);
        else
            ownedBackend_ = std::make_unique<HidapiBackend>();
        backend_ = ownedBackend_.get();
    }
    auto* simulated = sim ? dynamic_cast<SimulatedAmplifier*>(backend_) : nullptr;
    if (simulated && simulatedAudio) {
        simAudio_ = std::make_unique<SimulatedAudio>(*simulated, *sim);
        if (!simAudio_->ok()) {
            error_ = simAudio_->error();
            simAudio_.reset();
        }
    }
}

AudioRig::~AudioRig() {
    if (logging_)
        setDebugLogSink(nullptr);
}

bool AudioRig::open(Connection& c, bool verbose, const std::optional<std::string>& trace,
                    std::ostream& err) {
    if (verbose && !logging_) {
        logging_ = true;
        setDebugLogSink([&err](std::string_view text) { err << "debug: " << text; });
    }
    if (trace && !trace_.open(*trace)) {
        err << "q7ctl: cannot write " << *trace << "\n";
        return false;
    }
    c.link.setTrace(&trace_);
    if (!c.link.OpenLink().opened) {
        err << "q7ctl: no amplifier found (USB HID 2010:1031)\n";
        return false;
    }
    return true;
}

} // namespace q7
