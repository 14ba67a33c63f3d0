// SPDX-License-Identifier: GPL-3.0-or-later
// One measurement from start to end: what is played (the sweep, and around it the timing
// references and the speaker switches), and what the recording says (delay, drift, response,
// quality). Plain C++: the caller brings the audio back-end and the amplifier's mute switching.
#pragma once

#include "measure/audio.h"
#include "measure/calibration.h"
#include "measure/impulse.h"
#include "measure/quality.h"
#include "measure/response.h"

#include <optional>
#include <string>
#include <vector>

namespace q7 {

enum class TimingReference {
    None,     // from the start of the recording: only where both streams share a clock
    Loopback, // a recording channel wired to the playback: absolute latency to the sample
    Acoustic, // a short high sweep from a reference speaker before and after the sweep
};

struct MeasureSetup {
    SweepSetup sweep;
    int speaker = 0; // index into speakerOutputs()
    TimingReference reference = TimingReference::None;
    int referenceSpeaker = 0; // acoustic reference: index into speakerOutputs()
    double leadSeconds = 0.2;
    double decaySeconds = 0.5;  // the room's decay after a sweep
    double noiseSeconds = 0.5;  // then silence, where the noise is measured
    double marginSeconds = 1.5; // recorded beyond the playback: the streams' offset
    // Acoustic reference: the speakers switch this long after a part has been played (the
    // playback's own latency must stay below it), and the next part starts settleSeconds later.
    double switchAfterSeconds = 0.6;
    double settleSeconds = 0.25;
    AnalysisOptions analysis;
    std::optional<MicCalibration> calibration;
    std::optional<double> dbfsAt94; // 94 dB SPL reads this at the microphone
};

// The drift of a recorder's clock against the player's, in ppm (positive: the recorder's runs
// fast), from how the group delay of a clean impulse (a loopback's) grows along the sweep.
double sweepDriftPpm(const ImpulseResponse& ir, double peak, const SweepSetup& sweep);

// The short sweep of the acoustic timing reference.
SweepSetup timingSweep(const SweepSetup& main);

struct PlaybackLayout {
    std::vector<float> signal; // mono; every playback channel carries it
    std::size_t mainStart = 0;
    std::size_t ref1Start = 0, ref2Start = 0; // acoustic reference only
    std::size_t noiseFrom = 0, noiseTo = 0;   // the silence after the main sweep, in frames
    std::size_t recordFrames = 0;
    std::vector<AudioCue> cues;
};

// Cue ids: the measured speaker alone, then the reference speaker alone.
inline constexpr int kCueMeasured = 0;
inline constexpr int kCueReference = 1;

PlaybackLayout layoutPlayback(const MeasureSetup& setup);

struct MeasureOutcome {
    ImpulseResponse ir;
    double peak = 0;     // index into ir.samples
    double delayMs = 0;  // arrival after the reference (or the recording's start with none)
    double driftPpm = 0; // the recorder's clock against the player's, when measured
    bool driftMeasured = false;
    FrequencyResponse response; // dB SPL with a level calibration, else dBFS at the microphone
    bool splCalibrated = false;
    CaptureQuality quality;
    double thdPercent1k = -1;
    MeasureIssue problem;            // set when the measurement failed
    std::vector<MeasureIssue> notes; // quality notes worth showing
    // The same in the command line's words.
    std::string error;
    std::vector<std::string> warnings;
    void fail(MeasureIssue issue) {
        problem = std::move(issue);
        error = english(problem);
    }
    void note(MeasureIssue issue) {
        warnings.push_back(english(issue));
        notes.push_back(std::move(issue));
    }
    bool ok() const { return error.empty(); }
};

// The analysis of a recording: mic is the microphone's channel, loopback the reference channel
// (loopback timing only).
// The deconvolvers a measurement uses, prepared for its recording's length.
struct Deconvolvers {
    Deconvolver main, timing;
    Deconvolvers(const MeasureSetup& setup, const PlaybackLayout& layout);
};

// The analysis of a recording: mic is the microphone's channel, loopback the reference channel
// (loopback timing only). Without prepared deconvolvers it makes its own.
MeasureOutcome analyseRecording(const MeasureSetup& setup, const PlaybackLayout& layout,
                                const std::vector<float>& mic,
                                const std::vector<float>* loopback = nullptr,
                                Deconvolvers* prepared = nullptr);

// What switches the amplifier's outputs: only the listed speakers (speakerOutputs() indices)
// audible, then every mute as it was. Returns false when the amplifier did not take it.
class SpeakerSwitch {
public:
    virtual ~SpeakerSwitch() = default;
    virtual bool solo(const std::vector<int>& speakers) = 0;
    virtual bool restore() = 0;
};

struct MeasureDevices {
    std::string play, record; // empty: default
    int playChannels = 2;
    int recordChannels = 2;
    int micChannel = 0;
    int loopbackChannel = 1;
};

// The whole frames in seconds (none for a negative time) at sample rate fs.
std::size_t framesOf(double seconds, double fs);
// Copies part into signal from frame at on, lengthening signal (with silence) to hold it.
void placeInto(std::vector<float>& signal, std::size_t at, const std::vector<float>& part);

// A run on the chosen devices that plays the mono signal on every playback channel (at least one
// channel each way) and records the given frames.
PlayRecordRequest playRecordRequest(const MeasureDevices& devices, double sampleRate,
                                    const std::vector<float>& signal, std::size_t recordFrames);

// Solo, play and record, restore (also on failure or cancel), analyse.
MeasureOutcome measure(AudioBackend& audio, SpeakerSwitch* speakers, const MeasureSetup& setup,
                       const MeasureDevices& devices, const PlayRecordCallbacks& callbacks = {});

} // namespace q7
