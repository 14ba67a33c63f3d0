// SPDX-License-Identifier: GPL-3.0-or-later
// What stopped a measurement, or is worth a note about one, as a code with the figures and names
// its words need: each program says it in its own words and language. english() is the command
// line's wording.
#pragma once

#include <string>

namespace q7 {

enum class MeasureProblem {
    None,
    Cancelled,
    SwitchRefused,     // the amplifier did not take the speaker switching
    MutesNotConfirmed, // a note: the mutes may not all be back
    NothingRecorded,
    ReferenceMissing,   // the acoustic timing reference did not arrive
    ReferencesDisagree, // value: ppm
    RecordingTooShort,
    NoLoopbackChannel,
    NothingOnLoopback,
    NoSignal,               // value: dB over the noise
    Clipped,                // a note; value: samples at full scale
    LowSnr,                 // a note; value: dB over the noise
    LoopbackChannelMissing, // value: the channels the recorder gave
    MicChannelMissing,      // value: the channels the recorder gave, -1 when not known
    CalibrationEmpty,
    CalibrationUnreadable, // name: the file
    CalibrationTooLarge,   // name: the file
    NoPlaybackDevice,      // name: the device
    NoRecordingDevice,     // name: the device
    SimulatedFormat,
    FormatRefused, // value: the rate; channelsOut, channelsIn
    RecordingNotOpened,
    PlaybackNotOpened,
    RecordingFailed,
    PlaybackFailed,
    DevicesStopped,
    RoomUnreadable, // name: the room's own reason (a file and what is wrong with it)
};

struct MeasureIssue {
    MeasureProblem code = MeasureProblem::None;
    double value = 0;
    std::string name;
    int channelsOut = 0, channelsIn = 0;
    MeasureIssue() = default;
    MeasureIssue(MeasureProblem c, double v = 0, std::string n = {})
        : code(c), value(v), name(std::move(n)) {}
    bool empty() const { return code == MeasureProblem::None; }
};

std::string english(const MeasureIssue& issue);

} // namespace q7
