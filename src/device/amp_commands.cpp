// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/amp_commands.h"

#include "params/device_modes.h"
#include "params/dsp.h"

namespace q7 {

bool AmpCommands::send(const Report& r) {
    return link_.write(r) == int(kReportSize);
}

bool AmpCommands::selectSource(int source) {
    store_.setCellInt(cell::MusicSource, source);
    return switchSource(source);
}

bool AmpCommands::switchSource(int source) {
    return send(shortCommand(CMD_SET_SOURCE, source));
}

bool AmpCommands::selectHdmi(int port) {
    state_.setHdmi(port);
    return send(shortCommand(CMD_SET_HDMI, port));
}

bool AmpCommands::setPitch(Dsp& senders, int pitch) {
    store_.setCellInt(cell::MusicPitch, pitch);
    return senders.sendCell(cell::MusicPitch);
}

bool AmpCommands::resetMachine() {
    return send(shortCommand(CMD_RESET_MACHINE, 0xAA));
}

bool AmpCommands::pairMics() {
    return send(shortCommand(CMD_MIC_PAIR, 0x01));
}

bool AmpCommands::applyMachineSettings() {
    state_.applyEditSettings();
    return send(setSettings(state_.currentSettings()));
}

bool AmpCommands::startLearning(int key) {
    return send(shortCommand(CMD_LEARN_KEY, std::uint8_t(key)));
}

bool AmpCommands::cancelLearning() {
    link_.releaseReplyWait();
    return send(shortCommand(CMD_LEARN_CANCEL));
}

bool AmpCommands::sendKeyTable() {
    return send(setKeyTable(store_.keyTable()));
}

bool AmpCommands::loadMode(int mode) {
    return loadMachineMode(store_, link_, mode);
}

bool AmpCommands::storeMode(int mode) {
    return saveToMachineMode(store_, link_, mode);
}

bool AmpCommands::defaultMode(int mode) {
    return resetMachineMode(store_, link_, mode);
}

bool AmpCommands::renameMode(int mode, std::u16string_view name) {
    return setModeName(state_.modeNames(), link_, mode, name);
}

bool AmpCommands::askModel() {
    return send(shortCommand(CMD_GET_MODEL));
}

bool AmpCommands::askProtocol() {
    return send(shortCommand(CMD_GET_PROTOCOL));
}

bool AmpCommands::askSettings() {
    return send(shortCommand(CMD_GET_SETTINGS));
}

bool AmpCommands::askSource() {
    return send(shortCommand(CMD_GET_SOURCE));
}

bool AmpCommands::askLevels() {
    return send(shortCommand(CMD_GET_LEVELS));
}

bool AmpCommands::askModeName(int mode) {
    return send(modeNameRead(mode));
}

} // namespace q7
