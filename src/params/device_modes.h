// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's four user modes: their names, the mode commands, and the factory preset table.
#pragma once

#include "params/store.h"
#include "protocol/clock.h"
#include "protocol/report_sink.h"

#include <array>
#include <mutex>
#include <string>

namespace q7 {

inline constexpr std::size_t kModeNameStorage = 23;      // units kept from the amplifier
inline constexpr std::size_t kModeNameEditorLength = 20; // units the editor sets

// The four names, shared between the read thread (which fills them) and the user interface.
class ModeNames {
public:
    ModeNames();
    std::u16string get(int mode) const;
    // Keeps at most kModeNameStorage units; modes outside 0..3 are ignored.
    void set(int mode, std::u16string_view name);
    // "Mode1" .. "Mode4", as before the amplifier named them.
    void reset();

private:
    mutable std::mutex mutex_;
    std::array<std::u16string, 4> names_;
};

// Each stores the clamped mode as the current machine mode (cell 25) and sends its command.
bool saveToMachineMode(ParameterStore& store, ReportSink& sink, int mode);
bool loadMachineMode(ParameterStore& store, ReportSink& sink, int mode);
bool resetMachineMode(ParameterStore& store, ReportSink& sink, int mode);
// CMD_MODE_PREPARE, 20 ms, CMD_MODE_STORE: commits a downloaded preset into a device mode.
bool selectMode(ParameterStore& store, ReportSink& sink, Clock& clock, int mode);
// Keeps the first 20 units of the name and sends it with CMD_MODE_NAME_WRITE.
bool setModeName(ModeNames& names, ReportSink& sink, int mode, std::u16string_view name);

// Factory presets: ribbon commands 32000..32014 choose resources 427..441.
inline constexpr int kFirstPresetCommand = 32000;
inline constexpr int kPresetCount = 15;
int presetResource(int command);

} // namespace q7
