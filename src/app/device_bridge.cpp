// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/device_bridge.h"

#include <memory>

namespace q7 {

void DeviceBridge::keyLearned(int code) {
    post([this, code] {
        if (onKeyLearned)
            onKeyLearned(code);
    });
}

void DeviceBridge::transferFinished(TransferKind kind) {
    if (shutDown_)
        return;
    auto handled = std::make_shared<std::atomic<bool>>(false);
    Clock& clock = timeline_.clock();
    timeline_.post([this, kind, handled, &clock] {
        if (!shutDown_ && onTransferFinished)
            onTransferFinished(kind);
        handled->store(true);
        clock.notify();
    });
    // Blocked on the GUI thread, not on time: let time move meanwhile.
    Clock::Idle idle(clock);
    clock.waitFor([this, handled](double) { return handled->load() || shutDown_.load(); },
                  kForever);
}

void DeviceBridge::dspError(const std::string& text) {
    post([this, text] {
        if (onDspError)
            onDspError(text);
    });
}

void DeviceBridge::linkStateChanged(LinkState state) {
    post([this, state] {
        if (onLinkState)
            onLinkState(state);
    });
}

void DeviceBridge::deviceArrived(const std::string& path) {
    post([this, path] {
        if (onArrived)
            onArrived(path);
    });
}

void DeviceBridge::deviceRemoved(const std::string& path) {
    post([this, path] {
        if (onRemoved)
            onRemoved(path);
    });
}

void DeviceBridge::shutDown() {
    shutDown_ = true;
    timeline_.clock().notify();
}

} // namespace q7
