// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/link.h"

#include "protocol/log.h"

#include <algorithm>
#include <cstdio>

namespace q7 {

namespace {

// Writes that only set a state, keyed by what they set: a queued one that a later one to the
// same target supersedes need not go out. 0 for everything else (requests, mode commands, ...).
std::uint64_t supersedeKey(const Report& r) {
    const std::uint64_t code = std::uint64_t(r[1]) << 32;
    switch (r[1]) {
    case CMD_DSP_WRITE: // module, parameter, count
        return code | std::uint64_t(r[2]) << 24 | std::uint64_t(r[3]) << 16 |
               std::uint64_t(r[4]) << 8 | r[5];
    case CMD_MEM_WRITE: // address, length
        return code | std::uint64_t(r[2]) << 16 | std::uint64_t(r[3]) << 8 | r[4];
    case CMD_MODE_NAME_WRITE: // slot address
        return code | std::uint64_t(r[2]) << 8 | r[3];
    case CMD_SET_SOURCE:
    case CMD_SET_HDMI:
    case CMD_SET_SETTINGS:
    case CMD_SET_KEY_TABLE:
    case CMD_GET_LEVELS:
        return code;
    default:
        return 0;
    }
}

// Requests whose answers are still looked for: enough for the lost ones of a burst to age out.
constexpr std::size_t kAwaitedRequests = 16;

} // namespace

Link::Link(HidBackend& backend, Clock& clock)
    : backend_(backend), clock_(clock), replyEvent_(clock, true, true),
      threadExit_(clock, true, false) {}

Link::~Link() {
    // An editor's close that is still sending finishes first: its CMD_CLOSE must go out.
    if (closing_)
        joinWriter();
    CloseByRemoval();
    joinWriter();
}

void Link::joinWriter() {
    if (!writer_.joinable() || writer_.get_id() == std::this_thread::get_id())
        return;
    // Waiting on the clock while the writer works; once it is out of its loop it only exits, so
    // the join must not let time run on.
    clock_.waitFor([this](double) { return writerDone_.load(); }, kForever);
    writer_.join();
}

void Link::setReplyHandler(std::function<void(const Report&)> handler) {
    handler_ = std::move(handler);
}

LinkState Link::state() const {
    if (!isOpen())
        return LinkState::Closed;
    return readThreadEnd_ ? LinkState::Broken : LinkState::Open;
}

std::string Link::devicePath() const {
    std::lock_guard lock(pathMutex_);
    return path_;
}

std::size_t Link::queued() const {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

bool Link::handedOver() const {
    std::lock_guard lock(queueMutex_);
    return queue_.empty() && !handing_;
}

void Link::traceReport(Direction d, const Report& r) {
    if (trace_)
        trace_->write(clock_.nowMs() - openedAt_.load(), d, r);
}

OpenResult Link::OpenLink() {
    OpenResult result;
    std::unique_lock lock(lifecycle_, std::defer_lock);
    if (onNonWaitingThread()) {
        if (!lock.try_lock())
            return result; // a close is under way
    } else {
        lock.lock();
    }
    if (open_)
        return result;
    joinWriter();  // the writer of the last link ended with its close
    closeHandle(); // what an editor's close on the writer left behind

    // Each open starts with the reply event set, so the first write goes out at once.
    replyEvent_.set();
    threadExit_.reset();
    readThreadEnd_ = false;
    closing_ = false;

    debugLog("开始枚举usb设备");
    const std::vector<HidInterface> interfaces = backend_.enumerate();
    std::unique_ptr<HidDevice> device;
    int examined = 0;
    for (std::size_t i = 0; i < interfaces.size() && !device; ++i) {
        const HidInterface& itf = interfaces[i];
        if (itf.vendorId != kVendorId || itf.productId != kProductId)
            continue;
        // The cap counts amplifiers only: a desktop's many keyboards and mice must not hide one.
        if (examined++ == kMaxEnumeratedInterfaces)
            break;
        result.found = true;
        debugLog("设备路径:\r\n" + itf.path);
        debugLog("尝试打开通信端口....");
        OpenError error = OpenError::None;
        device = backend_.open(itf.path, error);
        if (!device) {
            result.permissionDenied |= error == OpenError::PermissionDenied;
            debugLog("无法打开通信端口。不能读取设备信息!(设备连接可能不正确?)\n");
            continue;
        }
        result.path = itf.path;
    }
    if (!device) {
        debugLog("连接目标设备失败，没有找到目标设备");
        return result;
    }
    debugLog("连接目标设备成功!");
    {
        std::lock_guard w(writeLock_);
        device_ = std::move(device);
    }
    {
        std::lock_guard p(pathMutex_);
        path_ = result.path;
    }
    {
        std::lock_guard q(queueMutex_);
        queue_.clear();
        wireBusy_ = false;
        writerStop_ = false;
        drainUntil_ = kForever;
        noteQueueLocked();
    }
    {
        std::lock_guard a(awaitingMutex_);
        awaiting_.clear();
    }
    dropped_ = 0;
    asked_ = 0;
    answered_ = 0;
    openedAt_ = clock_.nowMs();
    ++generation_;
    open_ = true;
    clock_.reserveParticipant();
    reader_ = std::thread(&Link::ReadUsbThreadProc, this);
    clock_.reserveParticipant();
    writerDone_ = false;
    writer_ = std::thread(&Link::WriterThreadProc, this);
    result.opened = true;
    if (observer_)
        observer_->linkStateChanged(LinkState::Open);
    return result;
}

void Link::ReadUsbThreadProc() {
    Clock::Participant participant(clock_, Clock::Participant::Reserved{});
    debugLog("start thread: ReadUsbThreadProc \n");
    HidDevice* device = device_.get(); // stays valid until this thread has been joined
    while (open_) {
        std::uint8_t buffer[kReportSize + 3] = {};
        const int n = device->read(buffer, sizeof buffer, kReadTimeoutMs);
        if (n < 0) {
            debugLog("Read Usb Error will return !\n");
            levelPollEnable = false;
            readThreadEnd_ = true;
            replyEvent_.set(); // release a writer waiting for a reply
            if (observer_ && !closing_)
                observer_->linkStateChanged(LinkState::Broken);
            break;
        }
        if (n == 0)
            continue;
        Report r{};
        std::copy_n(buffer, std::min<std::size_t>(std::size_t(n), kReportSize), r.begin());
        traceReport(Direction::FromAmplifier, r);
        if (!acceptReport(r))
            continue; // not the awaited reply: the writer goes on waiting for it
        if (handler_)
            handler_(r);
        // What the amplifier sends of its own accord must not release the stop-and-wait
        // pacing, or the next request would overtake the awaited reply.
        if (!isUnsolicitedReply(r[1]))
            replyEvent_.set();
    }
    threadExit_.set();
}

bool Link::acceptReport(const Report& r) {
    const char* why = "its report id is not 02";
    if (r[0] == kReportId) {
        // Unsolicited reports and acknowledgements the editor takes nothing from pass.
        if (isUnsolicitedReply(r[1]) || !isDecodedReply(r[1]))
            return true;
        std::lock_guard lock(awaitingMutex_);
        const auto it = std::find_if(awaiting_.begin(), awaiting_.end(),
                                     [&r](const Report& q) { return answers(q, r); });
        if (it != awaiting_.end()) {
            awaiting_.erase(it);
            ++answered_;
            return true;
        }
        why = "nothing asked for it";
    }
    const int n = ++dropped_;
    char text[128];
    std::snprintf(text, sizeof text, "dropped report %02X %02X %02X: %s (%d dropped)", r[0], r[1],
                  r[2], why, n);
    debugLog(text);
    return false;
}

void Link::noteRequest(const Report& r) {
    if (r[0] != kReportId || expectedReplyCode(r) == 0)
        return;
    std::lock_guard lock(awaitingMutex_);
    if (awaiting_.size() == kAwaitedRequests)
        awaiting_.pop_front();
    awaiting_.push_back(r);
    ++asked_;
}

int Link::writeLocked(const Report& r, const Entry* guard) {
    std::lock_guard lock(writeLock_);
    if (!device_)
        return 0;
    if (guard && stale(*guard)) {
        replyEvent_.set(); // a stopped transfer's report: unsent, the turn passes on
        return 0;
    }
    // Traced as it is handed over: its reply may be read before write() returns.
    traceReport(Direction::ToAmplifier, r);
    noteRequest(r); // before the write: its reply may be read before write() returns
    const int n = device_->write(r.data(), r.size());
    if (n != int(kReportSize))
        debugLog("usb数据写入出错");
    return std::max(n, 0);
}

bool Link::awaitPacing() {
    if (!open_)
        return false;
    if (readThreadEnd_) {
        debugLog("g_bReadThreadEnd == TRUE ,WriteUsbData return \n");
        return false;
    }
    // Stop-and-wait: the previous report's reply, or 2500 ms, whichever comes first.
    replyEvent_.wait(kReplyWaitMs);
    return open_ && !readThreadEnd_;
}

int Link::pacedWrite(const Report& r, const Entry* guard) {
    return awaitPacing() ? writeLocked(r, guard) : 0;
}

bool Link::enqueue(std::shared_ptr<Entry> e) {
    {
        std::lock_guard lock(queueMutex_);
        if (writerStop_ || (closing_ && !e->close))
            return false;
        if (e->key != 0 && !e->waited) {
            if (e->report[1] == CMD_GET_LEVELS) {
                // One level request at a time is enough.
                for (const auto& q : queue_)
                    if (q->key == e->key)
                        return true;
            } else {
                // Drop an older write to the same target, unless something that must see it
                // (a request, a mode command, a worker's report) stands between the two.
                for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
                    const Entry& q = **it;
                    if (q.waited || q.key == 0)
                        break;
                    if (q.key == e->key) {
                        (*it)->result = 0;
                        queue_.erase(std::next(it).base());
                        break;
                    }
                }
            }
        }
        queue_.push_back(std::move(e));
        noteQueueLocked();
    }
    clock_.notify();
    return true;
}

int Link::WriteUsbData(const std::uint8_t* data, std::size_t length) {
    if (!isOpen())
        return 0;
    if (readThreadEnd_) {
        debugLog("g_bReadThreadEnd == TRUE ,WriteUsbData return \n");
        return 0;
    }
    auto e = std::make_shared<Entry>();
    std::copy_n(data, std::min(length, kReportSize), e->report.begin());
    e->key = supersedeKey(e->report);
    if (onNonWaitingThread())
        return enqueue(std::move(e)) ? int(kReportSize) : 0;
    return writeEntry(e);
}

void Link::fence() {
    std::lock_guard lock(writeLock_);
}

int Link::writeFor(const Report& r, std::uint64_t generation, const std::atomic<bool>& stop) {
    if (!isOpen() || readThreadEnd_)
        return 0;
    auto e = std::make_shared<Entry>();
    e->report = r;
    e->key = supersedeKey(e->report);
    e->stop = &stop;
    e->generation = generation;
    if (stale(*e))
        return 0;
    return writeEntry(e);
}

int Link::writeEntry(const std::shared_ptr<Entry>& e) {
    e->waited = true;
    {
        std::unique_lock lock(queueMutex_);
        if (writerStop_ || closing_)
            return 0;
        if (queue_.empty() && !wireBusy_) {
            // Nothing ahead of us: write on this thread, sparing the hand-over.
            wireBusy_ = true;
            noteQueueLocked();
            lock.unlock();
            const int n = pacedWrite(e->report, e.get());
            lock.lock();
            wireBusy_ = false;
            noteQueueLocked();
            lock.unlock();
            clock_.notify();
            return n;
        }
    }
    if (!enqueue(e))
        return 0;
    clock_.waitFor([&e](double) { return e->result.load() >= 0; }, kForever);
    return e->result.load();
}

void Link::WriterThreadProc() {
    Clock::Participant participant(clock_, Clock::Participant::Reserved{});
    for (;;) {
        clock_.waitFor([this](double) { return writerHasWork_.load(); }, kForever);
        std::shared_ptr<Entry> pause;
        {
            std::lock_guard lock(queueMutex_);
            if (writerStop_)
                break;
            if (queue_.empty() || wireBusy_)
                continue;
            wireBusy_ = true;
            if (queue_.front()->pauseMs > 0) {
                pause = queue_.front();
                queue_.pop_front();
                handing_ = true;
            }
            noteQueueLocked();
        }
        if (pause) {
            // The wait runs from the report before it; closing ends it (what is queued then
            // goes out before CMD_CLOSE without its waits).
            clock_.waitUntil([this](double) { return writerStopped_.load() || closing_.load(); },
                             clock_.nowMs() + pause->pauseMs);
            {
                std::lock_guard lock(queueMutex_);
                wireBusy_ = false;
                handing_ = false;
                noteQueueLocked();
            }
            pause->result = 0;
            clock_.notify();
            continue;
        }
        // The next report stays queued while we wait for the last one's reply, so that a
        // later write to the same target can still take its place.
        const bool usable = awaitPacing();
        std::shared_ptr<Entry> e;
        double drainUntil = kForever;
        {
            std::lock_guard lock(queueMutex_);
            if (!queue_.empty()) {
                e = queue_.front();
                queue_.pop_front();
                handing_ = true;
            }
            drainUntil = drainUntil_;
            if (!e)
                wireBusy_ = false;
            noteQueueLocked();
        }
        if (!e) {
            replyEvent_.set(); // dropped while we waited: the turn passes on
            clock_.notify();
            continue;
        }
        int n = 0;
        if (usable) {
            if (e->close || clock_.nowMs() <= drainUntil)
                n = writeLocked(e->report, e.get());
            else
                replyEvent_.set(); // a closing drain ran out of time: unsent, the turn passes on
        }
        {
            std::lock_guard lock(queueMutex_);
            wireBusy_ = false;
            handing_ = false;
            noteQueueLocked();
        }
        e->result = n;
        clock_.notify();
        if (e->close) {
            if (!e->waited)
                finishEditorClose();
            break;
        }
    }
    writerDone_ = true;
    clock_.notify();
}

void Link::finishEditorClose() {
    closeHandle();
    if (observer_)
        observer_->linkStateChanged(LinkState::Closed);
}

int Link::writeUnpaced(const Report& r) {
    if (!open_ || readThreadEnd_)
        return 0;
    return writeLocked(r);
}

void Link::pause(double ms) {
    if (ms <= 0 || !isOpen())
        return;
    if (!onNonWaitingThread()) {
        clock_.sleepMs(ms);
        return;
    }
    auto e = std::make_shared<Entry>();
    e->pauseMs = ms;
    enqueue(std::move(e));
}

bool Link::awaitReply(double timeoutMs) {
    if (!isOpen() || readThreadEnd_)
        return false;
    const bool got = replyEvent_.wait(timeoutMs);
    replyEvent_.set();
    return got;
}

void Link::failQueued() {
    std::deque<std::shared_ptr<Entry>> dropped;
    {
        std::lock_guard lock(queueMutex_);
        writerStop_ = true;
        dropped.swap(queue_);
        noteQueueLocked();
    }
    for (const auto& e : dropped)
        e->result = 0;
    replyEvent_.set(); // a writer waiting for a reply goes on (and is refused)
    clock_.notify();
}

void Link::stopWriter() {
    failQueued();
    joinWriter();
}

void Link::closeHandle() {
    open_ = false;
    replyEvent_.set(); // writers waiting for a reply that will not come go on (and are refused)
    if (reader_.joinable()) {
        // The read thread reads with a short timeout, so this returns promptly; the handle
        // must not close while it is inside a read.
        if (threadExit_.wait(kReadThreadExitWaitMs)) {
            reader_.join(); // it only exits now: no time may pass
        } else {
            debugLog("wait read thread exited time out !\n");
            Clock::Idle idle(clock_);
            reader_.join();
        }
    }
    std::lock_guard w(writeLock_);
    device_.reset();
}

bool Link::CloseByRemoval() {
    std::lock_guard lock(lifecycle_);
    if (!open_)
        return true;
    const bool wasOpen = !closing_;
    if (levelReset_)
        levelReset_();
    open_ = false; // a writer released below must not write any more
    stopWriter();
    closeHandle();
    if (observer_ && wasOpen)
        observer_->linkStateChanged(LinkState::Closed);
    return true;
}

void Link::CloseByEditor() {
    const bool async = onNonWaitingThread();
    std::unique_lock lock(lifecycle_, std::defer_lock);
    if (async) {
        if (!lock.try_lock())
            return; // a close is already under way
    } else {
        lock.lock();
    }
    if (open_ && !closing_) {
        if (levelReset_)
            levelReset_();
        auto e = std::make_shared<Entry>();
        e->report = shortCommand(CMD_CLOSE);
        e->close = true;
        e->waited = !async;
        const double until = clock_.nowMs() + kCloseDrainMs;
        {
            std::lock_guard q(queueMutex_);
            closing_ = true;
            drainUntil_ = until;
        }
        if (!enqueue(e)) {
            stopWriter();
            closeHandle();
        } else if (!async) {
            clock_.waitFor([&e](double) { return e->result.load() >= 0; }, kForever);
            stopWriter();
            closeHandle();
        }
    }
    // The level poll stops in every case.
    if (observer_)
        observer_->linkStateChanged(LinkState::Closed);
}

} // namespace q7
