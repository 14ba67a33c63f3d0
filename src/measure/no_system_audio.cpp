// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into programs built without Qt: only the simulated devices exist there.
#include "measure/audio.h"

namespace q7 {

std::unique_ptr<AudioBackend> createSystemAudioBackend() {
    return nullptr;
}

} // namespace q7
