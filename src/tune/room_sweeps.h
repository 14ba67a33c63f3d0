// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring every speaker of a room from one listening position in one recording: the speakers
// take turns (the others muted over USB), each with its own sweep, between two short sweeps of a
// reference speaker that time them all and measure the recorder's drift. One recording keeps the
// speakers' arrival times relative to each other right, and is quicker than one measurement per
// speaker: the room's decay after a sweep overlaps the next speaker's sweep, which the
// deconvolution keeps apart.
#pragma once

#include "measure/audio.h"
#include "measure/calibration.h"
#include "measure/response.h"
#include "measure/run.h"
#include "tune/chain.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

struct RoomSweepSetup {
    SweepSetup sweep;
    std::vector<int> speakers; // speakerOutputs() indices, in the order they play
    int referenceSpeaker = 0;  // plays the timing sweeps; a full-range speaker
    double leadSeconds = 0.2;  // silence before the first part
    // The speakers switch this long after a part has been played (the playback's own latency
    // must stay below it), and the next part starts settleSeconds later.
    double switchAfterSeconds = 0.6;
    double settleSeconds = 0.2;
    double decaySeconds = 0.5;  // the room's decay after the last sweep
    double noiseSeconds = 0.5;  // then silence, where the noise is measured
    double marginSeconds = 1.5; // recorded beyond the playback: the streams' offset
    AnalysisOptions analysis;
    std::optional<MicCalibration> calibration;
    std::optional<double> dbfsAt94;
};

// Where each part lies in the playback, in frames.
struct RoomSweepLayout {
    std::vector<float> signal; // mono; every playback channel carries it
    std::size_t ref1Start = 0, ref2Start = 0;
    std::vector<std::size_t> starts; // by setup.speakers
    std::size_t noiseFrom = 0, noiseTo = 0;
    std::size_t recordFrames = 0;
    std::vector<AudioCue> cues; // id: the speakerOutputs() index that plays from there on
};

RoomSweepLayout layoutRoomSweeps(const RoomSweepSetup& setup);
// Once a recording has shown how late the playback arrives (offsetSeconds), and with the
// longest delay any output adds: the speakers switch as soon after their part as that allows,
// and the recording stops as soon after the playback. Never later than the setup's own.
void fitToStreams(RoomSweepSetup& setup, double offsetSeconds, double longestDelayMs);
// How long one position takes to play and record, in seconds.
double roomSweepSeconds(const RoomSweepSetup& setup);

// One speaker measured at one position.
struct SpeakerSweep {
    int speaker = -1;
    bool arrived = false; // its sweep rose above the noise
    double snrDb = 0;
    bool clipped = false;
    double arrivalMs = 0;       // its impulse's peak after the reference speaker's
    FrequencyResponse response; // dB, and phase with the peak's time taken out
    std::vector<std::string> warnings;

    // The transfer function at response.hz, with the arrival in its phase, so that speakers
    // measured at the same position add up as they do in the air.
    std::vector<Complex> transfer() const;
};

struct PositionSweeps {
    std::vector<SpeakerSweep> speakers; // by setup.speakers
    double driftPpm = 0;
    // Where the playback's first frame landed in the recording: the streams' latency, the
    // reference's delay stage and its distance (-1: not known).
    double offsetSeconds = -1;
    int referenceSpeaker = -1;      // the speaker that timed it
    int analysedWhileRecording = 0; // speakers whose analysis was done before the recording ended
    std::string error;              // set when the position could not be measured
    bool cancelled = false;
    bool ok() const { return error.empty() && !cancelled; }
    const SpeakerSweep* find(int speaker) const;
};

// Analysis of one position's recording (the microphone's channel).
PositionSweeps analyseRoomSweeps(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                                 const std::vector<float>& mic);

// Which speakers arrived at all, without a timing reference (it did not arrive): the
// full-range speakers among them can time the position instead.
std::vector<int> speakersHeard(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                               const std::vector<float>& mic);

struct RoomSweepCallbacks {
    std::function<void(double fraction)> progress;
    const std::atomic<bool>* cancel = nullptr;
};

// Solo, play and record, restore every mute (also on failure, cancel or a lost amplifier),
// analyse. A reference speaker that does not arrive is replaced by the first full-range speaker
// that did, and the position measured again.
PositionSweeps sweepRoom(AudioBackend& audio, SpeakerSwitch& speakers, const RoomSweepSetup& setup,
                         const MeasureDevices& devices, const RoomSweepCallbacks& callbacks = {});

} // namespace q7
