// SPDX-License-Identifier: GPL-3.0-or-later
// Connection-time work: SynchronizeData, the download worker, the connection check, the level
// poll decision and the device-mode commands. Plain C++; the editor and q7ctl drive it.
#pragma once

#include "device/device_state.h"
#include "device/link.h"
#include "device/link_observer.h"
#include "params/store.h"
#include "protocol/clock.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace q7 {

// NoAnswer and RepliesLost: the model or protocol reply never came, so the identity could not be
// checked at all.
enum class CheckResult { Passed, WrongModel, WrongProtocol, LinkLost, NoAnswer, RepliesLost };

// Rounds of asking again for the synchronisation's reads that were not answered.
inline constexpr int kReadRetries = 3;

// The requests of a synchronisation whose first model request is answered "Q7".
inline constexpr int kSynchronisationRequests = 183;

// What a transfer is doing, for its progress display.
enum class TransferStep {
    None,
    Connecting, // the settling wait before the first request
    Identifying,
    ReadingModes,
    ReadingSettings, // the DSP read list
    ReadingEq,       // the band image, plan and level blocks
    ReadingMachine,
    ReadingAgain, // values whose replies were lost
    WritingSettings,
    WritingEq,
    WritingSpeakers,
    WritingFilters,
    RaisingVolume,
    Confirming,
    Finishing,
};

struct TransferProgress {
    TransferKind kind = TransferKind::Synchronisation;
    TransferStep step = TransferStep::None;
    int done = 0;  // requests sent, never above total
    int total = 0; // requests the transfer sends
};

// The texts of the connection check's error boxes.
const char* checkFailureText(CheckResult r);
// The same for every failure, in Chinese or English; `lost` of `asked` requests went unanswered.
std::string checkFailureMessage(CheckResult r, bool english, int lost = 0, int asked = 0);

class Session {
public:
    Session(ParameterStore& store, DeviceState& state, Link& link, Clock& clock)
        : store_(store), state_(state), link_(link), clock_(clock) {}
    ~Session();

    void setObserver(LinkObserver* observer) { observer_ = observer; }

    // Worker bodies; they run on the calling thread and end by reporting transferFinished.
    void SynchronizeData();
    void downloadWorker();
    // The same on a new worker thread; refused (false) while a transfer runs: one transfer at a
    // time reaches the wire. The threads of ended workers are joined first.
    bool startSynchronisation();
    bool startDownload();
    // Waits for every worker started so far. cancel() first makes their fixed waits end at once.
    void joinWorkers();
    void cancel() {
        cancelled_ = true;
        stopped_ = true;
        clock_.notify();
    }
    bool workerRunning() const { return running_.load() > 0; }
    // Stops the transfer running now: from this call on it sends nothing more, its waits end,
    // and it ends without reporting transferFinished (whoever stopped it says so).
    void stopTransfer() {
        stopped_ = true;
        link_.fence();
        clock_.notify();
    }
    // Whether the last transfer was stopped before it finished.
    bool transferStopped() const { return stopped_.load(); }

    // Message 9999: the model must be "Q7" (any case) and the protocol 11. On success a pending
    // device mode is committed; on failure the link is dropped with CMD_CLOSE. A transfer that
    // lost its link (closed, broken, reopened, or a write refused) is reported as such, without
    // closing anything. Every outcome clears the pending device mode.
    CheckResult CheckConnection();
    // Requests of the link that went unanswered, and those asked, when the last check ran.
    int lostReplies() const { return lost_.load(); }
    int askedReplies() const { return asked_.load(); }

    // The device mode the downloaded file selects (0..3), or -1.
    std::atomic<int> pendingDeviceMode{-1};
    // The wait before a synchronisation asks for anything: level replies still in flight end
    // first. A program that never polls levels before it reads (q7ctl) sets 0.
    double settleMs = 2500;
    // The about box's "Peak" check box.
    std::atomic<bool> levelPollPermission{true};
    // One tick of the 300 ms level poll: CMD_GET_LEVELS when enabled, open and permitted.
    bool pollLevels();

    // Every received report passes here (read thread): a synchronisation notes which of its
    // reads were answered, asks once more for those that were not, and counts what is still
    // missing.
    void noteReply(const Report& r);
    // Values the last synchronisation could not read (0 when everything arrived).
    int unreadValues() const { return unread_.load(); }

    // The progress of the transfer running now, or of the last one; any thread may ask.
    TransferProgress progress() const;

private:
    ParameterStore& store_;
    DeviceState& state_;
    Link& link_;
    Clock& clock_;
    LinkObserver* observer_ = nullptr;
    std::atomic<bool> cancelled_{false};
    // The running transfer's stop (cleared when the next one starts), and the link it was
    // started on: its reports go to that link only.
    std::atomic<bool> stopped_{false};
    std::atomic<std::uint64_t> transferGeneration_{0};
    std::atomic<int> running_{0};
    std::mutex workersMutex_;
    struct Worker {
        std::thread thread;
        // Set while the worker still takes part in virtual time, so that waiting for it to end
        // never lets time run on while it is merely exiting.
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;

    mutable std::mutex seenMutex_;
    std::set<std::uint32_t> seen_;
    std::atomic<bool> collecting_{false};
    std::atomic<int> unread_{0};
    std::atomic<int> lost_{0}, asked_{0};

    // Whether the transfer now finishing reached the amplifier whole; read by the check.
    std::atomic<bool> transferWhole_{true};
    std::mutex finishMutex_; // one transfer finishes at a time

    mutable std::mutex progressMutex_;
    TransferProgress progress_;
    void beginProgress(TransferKind kind, int total);
    void setStep(TransferStep step);
    void countRequest();
    void addRequests(int n);

    void pause(double ms);
    bool send(const Report& r) {
        return link_.writeFor(r, transferGeneration_, stopped_) == int(kReportSize);
    }
    bool halted() const { return cancelled_.load() || stopped_.load(); }
    void setLevelPoll(bool on);
    void finish(TransferKind kind, bool whole);
    int requestMissing(const std::function<void(const Report&)>& resend);
    bool startWorker(TransferKind kind, void (Session::*body)());
    void joinEnded();
};

} // namespace q7
