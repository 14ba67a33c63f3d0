// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/problem.h"

#include <cstdio>

namespace q7 {

namespace {

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

} // namespace

std::string english(const MeasureIssue& i) {
    const std::string n = std::to_string(int(i.value));
    switch (i.code) {
    case MeasureProblem::None:
        return {};
    case MeasureProblem::Cancelled:
        return "cancelled";
    case MeasureProblem::SwitchRefused:
        return "the amplifier did not take the speaker switching";
    case MeasureProblem::MutesNotConfirmed:
        return "the amplifier did not confirm that every mute was put back";
    case MeasureProblem::NothingRecorded:
        return "nothing was recorded";
    case MeasureProblem::ReferenceMissing:
        return "the timing reference did not arrive";
    case MeasureProblem::ReferencesDisagree:
        return "the two timing references disagree (" + fixed(i.value, 0) +
               " ppm): the reference speaker's sweep was not heard cleanly";
    case MeasureProblem::RecordingTooShort:
        return "the recording is too short";
    case MeasureProblem::NoLoopbackChannel:
        return "no loopback channel was recorded";
    case MeasureProblem::NothingOnLoopback:
        return "nothing arrived on the loopback channel";
    case MeasureProblem::NoSignal:
        return "no signal arrived at the microphone (" + fixed(i.value, 1) + " dB over the noise)";
    case MeasureProblem::Clipped:
        return "the recording clipped (" + n + " samples at full scale): lower the level";
    case MeasureProblem::LowSnr:
        return "the signal is only " + fixed(i.value, 1) +
               " dB over the noise (40 dB or more is wanted): raise the level";
    case MeasureProblem::LoopbackChannelMissing:
        return "the recording device gave " + n +
               " channel(s); a loopback reference needs a second one";
    case MeasureProblem::MicChannelMissing:
        return i.value < 0 ? std::string("the microphone's channel is missing")
                           : "the recording device gave " + n +
                                 " channel(s); the microphone's channel is missing";
    case MeasureProblem::CalibrationEmpty:
        return "no calibration points (lines of frequency and dB)";
    case MeasureProblem::CalibrationUnreadable:
        return "cannot open " + i.name;
    case MeasureProblem::CalibrationTooLarge:
        return i.name + " is too large for a calibration file";
    case MeasureProblem::NoPlaybackDevice:
        return "no playback device \"" + i.name + "\"";
    case MeasureProblem::NoRecordingDevice:
        return "no recording device \"" + i.name + "\"";
    case MeasureProblem::SimulatedFormat:
        return "the simulated devices take 48 kHz, one or two channels";
    case MeasureProblem::FormatRefused:
        return "the devices do not take " + n + " Hz with " + std::to_string(i.channelsOut) +
               " and " + std::to_string(i.channelsIn) + " channels";
    case MeasureProblem::RecordingNotOpened:
        return "the recording device could not be opened";
    case MeasureProblem::PlaybackNotOpened:
        return "the playback device could not be opened";
    case MeasureProblem::RecordingFailed:
        return "the recording device failed";
    case MeasureProblem::PlaybackFailed:
        return "the playback device failed";
    case MeasureProblem::DevicesStopped:
        return "the audio devices stopped delivering";
    case MeasureProblem::RoomUnreadable:
        return i.name;
    }
    return {};
}

} // namespace q7
