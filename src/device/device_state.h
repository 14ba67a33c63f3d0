// SPDX-License-Identifier: GPL-3.0-or-later
// What the editor knows about the amplifier beside the parameter store: identity texts, mode
// names, HDMI setting, the machine settings record. Filled by the read thread, read by others.
#pragma once

#include "params/device_modes.h"
#include "protocol/report.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>

namespace q7 {

inline constexpr std::size_t kModelStorage = 29;   // characters kept
inline constexpr std::size_t kVersionStorage = 10; // characters kept
inline constexpr int kRequiredProtocol = 11;
inline constexpr const char* kRequiredModel = "Q7";

using MachineSettings = std::array<std::uint8_t, kSettingsSize>;

class DeviceState {
public:
    DeviceState();

    std::string model() const;
    std::string mcuVersion() const;
    std::string dspVersion() const;
    void setModel(std::string text);
    void setMcuVersion(std::string text);
    void setDspVersion(std::string text);

    int protocol() const { return protocol_.load(); }
    void setProtocol(int v) {
        protocol_.store(v);
        protocolReceived_ = true;
    }
    // Whether the amplifier's model and protocol replies arrived since the identity was reset:
    // until they do, model() and protocol() are the defaults, not the amplifier's word.
    bool modelReceived() const { return modelReceived_.load(); }
    bool protocolReceived() const { return protocolReceived_.load(); }
    int hdmi() const { return hdmi_.load(); }
    void setHdmi(int v) { hdmi_.store(v); }

    ModeNames& modeNames() { return names_; }
    const ModeNames& modeNames() const { return names_; }

    // The current copy (last received or applied) and the copy the settings dialog edits.
    MachineSettings currentSettings() const;
    MachineSettings editSettings() const;
    void setReceivedSettings(const MachineSettings& s); // both copies
    void setEditSettings(const MachineSettings& s);
    void applyEditSettings();   // current := edit
    void discardEditSettings(); // edit := current

    // The DSP error box is shown once per run.
    bool claimErrorReport() { return !errorShown_.exchange(true); }

    // Whether the model and protocol are the ones this editor speaks.
    bool modelMatches() const;

    // Model, versions, protocol and mode names back to what they are before any amplifier
    // answered, so that a silent one cannot pass the check on a previous one's answers.
    void resetIdentity();
    bool protocolMatches() const { return protocol() == kRequiredProtocol; }

private:
    mutable std::mutex mutex_;
    std::string model_, mcu_, dsp_;
    MachineSettings current_{}, edit_{};
    std::atomic<int> protocol_{1}; // the default before any answer
    std::atomic<int> hdmi_{0};
    std::atomic<bool> errorShown_{false};
    std::atomic<bool> modelReceived_{false}, protocolReceived_{false};
    ModeNames names_;
};

} // namespace q7
