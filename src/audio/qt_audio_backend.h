// SPDX-License-Identifier: GPL-3.0-or-later
// Playback and recording on the computer's own devices with Qt Multimedia. Every Qt object of a
// run lives on one audio thread with its own event loop, so a caller on any thread (q7ctl's
// main thread, a worker of the editor; never the GUI thread) can block in playAndRecord.
#pragma once

#include "measure/audio.h"

#include <memory>

class QCoreApplication;
class QObject;
class QThread;

namespace q7 {

class QtAudioBackend final : public AudioBackend {
public:
    QtAudioBackend();
    ~QtAudioBackend() override;

    std::vector<AudioDevice> playbackDevices() override;
    std::vector<AudioDevice> recordingDevices() override;
    PlayRecordResult playAndRecord(const PlayRecordRequest& request,
                                   const PlayRecordCallbacks& callbacks) override;

private:
    std::unique_ptr<QCoreApplication> app_; // only where the program has none (q7ctl)
    QThread* thread_ = nullptr;
    QObject* context_ = nullptr; // lives on the audio thread
};

} // namespace q7
