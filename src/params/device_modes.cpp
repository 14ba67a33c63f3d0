// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/device_modes.h"

#include "params/text.h"

namespace q7 {

ModeNames::ModeNames() {
    reset();
}

void ModeNames::reset() {
    std::lock_guard lock(mutex_);
    names_ = {u"Mode1", u"Mode2", u"Mode3", u"Mode4"};
}

std::u16string ModeNames::get(int mode) const {
    if (mode < 0 || mode >= kModeCount)
        return {};
    std::lock_guard lock(mutex_);
    return names_[std::size_t(mode)];
}

void ModeNames::set(int mode, std::u16string_view name) {
    if (mode < 0 || mode >= kModeCount)
        return;
    std::lock_guard lock(mutex_);
    names_[std::size_t(mode)] = truncateUnits(name, kModeNameStorage);
}

namespace {

bool modeCommand(ParameterStore& store, ReportSink& sink, Command code, int mode) {
    const int m = clampMode(mode);
    store.setCellInt(cell::CurrentMode, m);
    return sink.write(shortCommand(code, m)) == int(kReportSize);
}

} // namespace

bool saveToMachineMode(ParameterStore& store, ReportSink& sink, int mode) {
    store.setParametersChanged(false);
    return modeCommand(store, sink, CMD_MODE_STORE, mode);
}

bool loadMachineMode(ParameterStore& store, ReportSink& sink, int mode) {
    return modeCommand(store, sink, CMD_MODE_RECALL, mode);
}

bool resetMachineMode(ParameterStore& store, ReportSink& sink, int mode) {
    return modeCommand(store, sink, CMD_MODE_DEFAULT, mode);
}

bool selectMode(ParameterStore& store, ReportSink& sink, Clock& clock, int mode) {
    bool ok = modeCommand(store, sink, CMD_MODE_PREPARE, mode);
    clock.sleepMs(20);
    ok &= sink.write(shortCommand(CMD_MODE_STORE, clampMode(mode))) == int(kReportSize);
    return ok;
}

bool setModeName(ModeNames& names, ReportSink& sink, int mode, std::u16string_view name) {
    const int m = clampMode(mode);
    const std::u16string kept = truncateUnits(name, kModeNameEditorLength);
    names.set(m, kept);
    return sink.write(modeNameWrite(m, kept)) == int(kReportSize);
}

int presetResource(int command) {
    static constexpr int resources[kPresetCount] = {427, 428, 429, 431, 432, 433, 434, 436,
                                                    437, 438, 439, 440, 441, 430, 435};
    const int index = command - kFirstPresetCommand;
    if (index < 0 || index >= kPresetCount)
        return 427;
    return resources[index];
}

} // namespace q7
