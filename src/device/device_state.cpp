// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/device_state.h"

#include <cctype>

namespace q7 {

namespace {
constexpr const char* kDefaultModel = "HX2060";
constexpr const char* kDefaultMcuVersion = "2012-10-03";
constexpr const char* kDefaultDspVersion = "2012-11-30";
constexpr int kDefaultProtocol = 1;
} // namespace

DeviceState::DeviceState()
    : model_(kDefaultModel), mcu_(kDefaultMcuVersion), dsp_(kDefaultDspVersion) {}

void DeviceState::resetIdentity() {
    {
        std::lock_guard lock(mutex_);
        model_ = kDefaultModel;
        mcu_ = kDefaultMcuVersion;
        dsp_ = kDefaultDspVersion;
    }
    protocol_ = kDefaultProtocol;
    modelReceived_ = false;
    protocolReceived_ = false;
    names_.reset();
}

std::string DeviceState::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}
std::string DeviceState::mcuVersion() const {
    std::lock_guard lock(mutex_);
    return mcu_;
}
std::string DeviceState::dspVersion() const {
    std::lock_guard lock(mutex_);
    return dsp_;
}
void DeviceState::setModel(std::string text) {
    text.resize(std::min(text.size(), kModelStorage));
    std::lock_guard lock(mutex_);
    model_ = std::move(text);
    modelReceived_ = true;
}
void DeviceState::setMcuVersion(std::string text) {
    text.resize(std::min(text.size(), kVersionStorage));
    std::lock_guard lock(mutex_);
    mcu_ = std::move(text);
}
void DeviceState::setDspVersion(std::string text) {
    text.resize(std::min(text.size(), kVersionStorage));
    std::lock_guard lock(mutex_);
    dsp_ = std::move(text);
}

MachineSettings DeviceState::currentSettings() const {
    std::lock_guard lock(mutex_);
    return current_;
}
MachineSettings DeviceState::editSettings() const {
    std::lock_guard lock(mutex_);
    return edit_;
}
void DeviceState::setReceivedSettings(const MachineSettings& s) {
    std::lock_guard lock(mutex_);
    current_ = s;
    edit_ = s;
}
void DeviceState::setEditSettings(const MachineSettings& s) {
    std::lock_guard lock(mutex_);
    edit_ = s;
}
void DeviceState::applyEditSettings() {
    std::lock_guard lock(mutex_);
    current_ = edit_;
}
void DeviceState::discardEditSettings() {
    std::lock_guard lock(mutex_);
    edit_ = current_;
}

bool DeviceState::modelMatches() const {
    const std::string m = model();
    const std::string want = kRequiredModel;
    if (m.size() != want.size())
        return false;
    for (std::size_t i = 0; i < m.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(m[i])) != want[i])
            return false;
    return true;
}

} // namespace q7
