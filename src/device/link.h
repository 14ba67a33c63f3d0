// The link to the amplifier: finding and opening it, the paced write path, the read thread, and
// the two ways the link ends.
#pragma once

#include "protocol/clock.h"
#include "device/hid_backend.h"
#include "device/link_observer.h"
#include "protocol/report.h"
#include "protocol/report_sink.h"
#include "protocol/trace.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace q7 {

inline constexpr double kReplyWaitMs = 2500;
inline constexpr double kReadThreadExitWaitMs = 1000;
inline constexpr int kReadTimeoutMs = 20;

struct OpenResult {
    bool opened = false;
    bool found = false;            // a matching interface exists
    bool permissionDenied = false; // ... but could not be opened for lack of access
    std::string path;
};

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

    // Refused while open. Examines at most 32 interfaces; the first amplifier that opens wins.
    OpenResult OpenLink();
    // The paced write: waits up to 2500 ms for the previous reply, then writes 61 bytes.
    // Returns 61 on success, 0 when refused (closed, or the read thread has ended) or failed.
    int WriteUsbData(const std::uint8_t* data, std::size_t length);
    int write(const Report& r) override { return WriteUsbData(r.data(), r.size()); }
    // A write that does not wait for a reply: the tunnel acknowledgement from the read thread.
    int writeUnpaced(const Report& r);
    // Waits until the reply to the last report has been handled (or the timeout passed),
    // leaving the pacing as it was.
    bool awaitReply(double timeoutMs = kReplyWaitMs);

    // Lets the next report go out without waiting for the last one's reply (a learning request
    // is answered only when the remote's key is pressed).
    void releaseReplyWait() { replyEvent_.set(); }

    // The amplifier went away: the read thread ends and the handle closes; no CMD_CLOSE.
    bool CloseByRemoval();
    // The editor drops the link: CMD_CLOSE while still open, then as above.
    void CloseByEditor();

    bool isOpen() const { return open_.load(); }
    bool readThreadEnded() const { return readThreadEnd_.load(); }
    LinkState state() const;
    std::string devicePath() const;

    // The level poll's enable flag: the read thread clears it when reading fails.
    std::atomic<bool> levelPollEnable{true};

private:
    HidBackend& backend_;
    Clock& clock_;
    LinkObserver* observer_ = nullptr;
    TraceWriter* trace_ = nullptr;
    std::function<void(const Report&)> handler_;
    std::function<void()> levelReset_;

    std::atomic<bool> open_{false};
    std::atomic<bool> readThreadEnd_{false};
    Event replyEvent_;
    Event threadExit_;
    std::mutex writeLock_; // around each report written and the handle's life
    std::mutex lifecycle_; // serialises open and close
    std::unique_ptr<HidDevice> device_;
    mutable std::mutex pathMutex_;
    std::string path_;
    double openedAt_ = 0.0;
    std::thread reader_;

    void ReadUsbThreadProc();
    int writeLocked(const Report& r);
    void closeHandle();
    void traceReport(Direction d, const Report& r);
};

} // namespace q7
