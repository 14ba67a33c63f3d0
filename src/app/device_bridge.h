// SPDX-License-Identifier: GPL-3.0-or-later
// Hands the link's news and the hotplug notices to the GUI thread. A finished transfer makes
// the worker wait until the GUI thread has run the connection check, unless the editor closes.
#pragma once

#include "device/hid_backend.h"
#include "device/link_observer.h"
#include "ui/timeline.h"

#include <atomic>
#include <functional>
#include <string>

namespace q7 {

class DeviceBridge final : public LinkObserver, public HotplugListener {
public:
    explicit DeviceBridge(Timeline& timeline) : timeline_(timeline) {}

    std::function<void(int)> onKeyLearned;
    std::function<void(TransferKind)> onTransferFinished;
    std::function<void(const std::string&)> onDspError;
    std::function<void(LinkState)> onLinkState;
    std::function<void(const std::string&)> onArrived;
    std::function<void(const std::string&)> onRemoved;

    void keyLearned(int code) override;
    void transferFinished(TransferKind kind) override;
    void dspError(const std::string& text) override;
    void linkStateChanged(LinkState state) override;
    void deviceArrived(const std::string& path) override;
    void deviceRemoved(const std::string& path) override;

    // Releases a worker waiting for the GUI and drops later news.
    void shutDown();

private:
    Timeline& timeline_;
    std::atomic<bool> shutDown_{false};

    template <typename F> void post(F f) {
        if (!shutDown_)
            timeline_.post([this, f = std::move(f)] {
                if (!shutDown_)
                    f();
            });
    }
};

} // namespace q7
