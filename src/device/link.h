// SPDX-License-Identifier: GPL-3.0-or-later
// The link to the amplifier: finding and opening it, the paced write path, the read thread, and
// the two ways the link ends.
#pragma once

#include "device/hid_backend.h"
#include "device/link_observer.h"
#include "protocol/clock.h"
#include "protocol/report.h"
#include "protocol/report_sink.h"
#include "protocol/trace.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace q7 {

inline constexpr double kReplyWaitMs = 2500;
inline constexpr double kReadThreadExitWaitMs = 1000;
inline constexpr int kReadTimeoutMs = 20;
// How long an editor's close keeps sending what was queued before CMD_CLOSE goes out.
inline constexpr double kCloseDrainMs = 3000;

struct OpenResult {
    bool opened = false;
    bool found = false;            // a matching interface exists
    bool permissionDenied = false; // ... but could not be opened for lack of access
    std::string path;
};

// The wire is owned by one writer at a time and serves reports in the order they were issued,
// each after the previous one's reply (or 2500 ms). A thread named with setNonWaitingThread()
// (the editor's GUI thread) never waits on the amplifier: its reports are queued for the link's
// writer thread and its calls return at once. Other threads (workers, the command line) wait
// until their report has gone out, as the stop-and-wait link always did.
class Link final : public ReportSink {
public:
    Link(HidBackend& backend, Clock& clock);
    ~Link() override;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Called on the read thread with every received report, before the reply event is set.
    void setReplyHandler(std::function<void(const Report&)> handler);
    void setObserver(LinkObserver* observer) { observer_ = observer; }
    void setTrace(TraceWriter* trace) { trace_ = trace; }
    // Zeroes the stored level report when the link closes.
    void setLevelReset(std::function<void()> reset) { levelReset_ = std::move(reset); }
    // Writes, closes and opens from this thread never wait on the amplifier.
    void setNonWaitingThread(std::thread::id id) { nonWaiting_ = id; }

    // Refused while open or closing. Examines at most 32 matching interfaces; the first
    // amplifier that opens wins.
    OpenResult OpenLink();
    // The paced write. Returns 61 when written (from the non-waiting thread: when queued),
    // 0 when refused (closed, closing, the read thread has ended) or failed.
    int WriteUsbData(const std::uint8_t* data, std::size_t length);
    int write(const Report& r) override { return WriteUsbData(r.data(), r.size()); }
    // The paced write of a transfer: refused (0, nothing written) when stop is set or the link
    // has been opened again since `generation` by the time the report's turn comes, so a
    // stopped transfer, or one of a link that has gone, never reaches the wire again.
    int writeFor(const Report& r, std::uint64_t generation, const std::atomic<bool>& stop);
    // Returns once no report is being written: a stop set before it is seen by every later one.
    void fence();
    // A write that does not wait for a reply: the tunnel acknowledgement from the read thread.
    int writeUnpaced(const Report& r);
    // Waits until the reply to the last report has been handled (or the timeout passed),
    // leaving the pacing as it was.
    bool awaitReply(double timeoutMs = kReplyWaitMs);

    // A fixed wait between two reports of a timed sequence (a fade, a ramp, a device mode being
    // stored). From the non-waiting thread it is queued: the writer waits ms after the report
    // before it and the caller goes on at once. Other threads wait ms themselves. Nothing waits
    // while the link is closed, as nothing is being sent.
    void pause(double ms);

    // Lets the next report go out without waiting for the last one's reply (a learning request
    // is answered only when the remote's key is pressed).
    void releaseReplyWait() { replyEvent_.set(); }

    // The amplifier went away: queued reports are dropped, the read thread ends and the handle
    // closes; no CMD_CLOSE.
    bool CloseByRemoval();
    // The editor drops the link: what is queued goes out (for at most kCloseDrainMs), then
    // CMD_CLOSE, then as above. From the non-waiting thread this happens on the writer thread;
    // the link counts as closed at once and reports Closed again when the handle is closed.
    void CloseByEditor();

    bool isOpen() const { return open_.load() && !closing_.load(); }
    // An editor's close is still sending its last reports.
    bool closing() const { return open_.load() && closing_.load(); }
    bool readThreadEnded() const { return readThreadEnd_.load(); }
    LinkState state() const;
    std::string devicePath() const;
    // Reports queued and not yet written.
    std::size_t queued() const;
    // Nothing queued and nothing on its way to the transport: every report written so far has
    // been traced.
    bool handedOver() const;
    // Since the link opened: reports dropped unread (a foreign report id, or a reply nothing
    // asked for), requests that expect a specific answer, and the answers that came.
    int droppedReports() const { return dropped_.load(); }
    int requestsAsked() const { return asked_.load(); }
    int requestsAnswered() const { return answered_.load(); }
    // Counts the opens: work that spans a close and a new open can tell.
    std::uint64_t generation() const { return generation_.load(); }

    // The level poll's enable flag: the read thread clears it when reading fails.
    std::atomic<bool> levelPollEnable{true};

private:
    struct Entry {
        Report report;
        bool waited = false;   // a caller blocks until it is written
        bool close = false;    // the editor's close: CMD_CLOSE, then the handle closes
        std::uint64_t key = 0; // the target a later queued write to it supersedes; 0: none
        double pauseMs = 0;    // a wait in the writer instead of a report
        // A transfer's report: dropped unwritten when stop is set or the link is another one.
        const std::atomic<bool>* stop = nullptr;
        std::uint64_t generation = 0;
        std::atomic<int> result{-1};
    };

    HidBackend& backend_;
    Clock& clock_;
    LinkObserver* observer_ = nullptr;
    TraceWriter* trace_ = nullptr;
    std::function<void(const Report&)> handler_;
    std::function<void()> levelReset_;
    std::atomic<std::thread::id> nonWaiting_{};

    std::atomic<bool> open_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> readThreadEnd_{false};
    std::atomic<std::uint64_t> generation_{0};
    Event replyEvent_;
    Event threadExit_;
    std::mutex writeLock_; // around each report written and the handle's life
    std::mutex lifecycle_; // serialises open and close
    std::unique_ptr<HidDevice> device_;
    mutable std::mutex pathMutex_;
    std::string path_;
    std::atomic<double> openedAt_{0.0};
    std::thread reader_;

    // The writer's queue. wireBusy_ is the wire: whoever holds it waits for the reply and
    // writes; the writer thread takes it for queued reports, a waiting caller takes it itself
    // when nothing is queued.
    mutable std::mutex queueMutex_;
    std::deque<std::shared_ptr<Entry>> queue_;
    bool wireBusy_ = false;
    bool handing_ = false; // the writer holds a report taken from the queue, not yet written
    bool writerStop_ = false;
    double drainUntil_ = kForever;
    // What the writer waits for, kept beside the queue so that its wait reads no lock of
    // ours: the clock tests waits under its own lock, and we notify it under ours.
    std::atomic<bool> writerHasWork_{false};
    std::atomic<bool> writerStopped_{false};
    void noteQueueLocked() {
        writerStopped_ = writerStop_;
        writerHasWork_ = writerStop_ || (!queue_.empty() && !wireBusy_);
    }
    std::thread writer_;
    std::atomic<bool> writerDone_{true}; // the writer has left its loop (still a participant)

    // Requests written that expect an answer, oldest first; a request whose reply was lost
    // falls out of the window.
    std::mutex awaitingMutex_;
    std::deque<Report> awaiting_;
    std::atomic<int> dropped_{0}, asked_{0}, answered_{0};

    void ReadUsbThreadProc();
    // Whether a received report may reach the reply handler.
    bool acceptReport(const Report& r);
    void noteRequest(const Report& r);
    void WriterThreadProc();
    // The wait for the previous report's reply; false when the link can no longer write.
    bool awaitPacing();
    int pacedWrite(const Report& r, const Entry* guard = nullptr);
    bool stale(const Entry& e) const {
        return (e.stop && e.stop->load()) || (e.generation != 0 && e.generation != generation_);
    }
    int writeEntry(const std::shared_ptr<Entry>& e);
    int writeLocked(const Report& r, const Entry* guard = nullptr);
    bool enqueue(std::shared_ptr<Entry> e);
    void failQueued();
    void stopWriter();
    void joinWriter();
    void closeHandle();
    void finishEditorClose();
    void traceReport(Direction d, const Report& r);
    bool onNonWaitingThread() const { return std::this_thread::get_id() == nonWaiting_.load(); }
};

} // namespace q7
