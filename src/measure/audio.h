// SPDX-License-Identifier: GPL-3.0-or-later
// Playing a signal on one device while recording another, behind one interface: the system's
// audio (Qt Multimedia in the programs) or the simulated amplifier's room.
#pragma once

#include "measure/problem.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace q7 {

struct AudioDevice {
    std::string name;
    int channels = 2;
    bool isDefault = false;
};

// A point in the playback, in frames, at which the caller acts (switches speakers).
struct AudioCue {
    std::size_t frame;
    int id;
};

struct PlayRecordRequest {
    std::string playDevice, recordDevice; // empty: the default device
    double sampleRate = 48000;
    int playChannels = 2;
    std::vector<float> play; // interleaved
    int recordChannels = 2;
    std::size_t recordFrames = 0;
    std::vector<AudioCue> cues; // ascending frames
};

struct PlayRecordCallbacks {
    std::function<void(double fraction)> progress;
    std::function<void(int cueId)> cue;
    // The frames recorded so far, in order, as they come in (interleaved, the request's
    // channels): every frame once, all of them before a run that succeeds returns.
    std::function<void(const float* frames, std::size_t count)> recorded;
    const std::atomic<bool>* cancel = nullptr;
};

struct PlayRecordResult {
    std::vector<float> recorded; // interleaved, recordChannels per frame
    int channels = 0;
    bool cancelled = false;
    MeasureIssue problem;
    std::string error; // the problem in the command line's words
    void fail(MeasureIssue issue) {
        problem = std::move(issue);
        error = english(problem);
    }
    bool ok() const { return error.empty() && !cancelled; }
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual std::vector<AudioDevice> playbackDevices() = 0;
    virtual std::vector<AudioDevice> recordingDevices() = 0;
    // Blocks until recordFrames are in, the run is cancelled or a device fails. Callbacks run on
    // the calling thread.
    virtual PlayRecordResult playAndRecord(const PlayRecordRequest& request,
                                           const PlayRecordCallbacks& callbacks) = 0;
};

// The computer's own audio devices; null where this program was built without them.
std::unique_ptr<AudioBackend> createSystemAudioBackend();

} // namespace q7
