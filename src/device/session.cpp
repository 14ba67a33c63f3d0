// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/session.h"

#include "params/device_modes.h"
#include "params/dsp.h"
#include "protocol/log.h"

#include <algorithm>

namespace q7 {

const char* checkFailureText(CheckResult r) {
    switch (r) {
    case CheckResult::WrongModel:
        return "机器型号与软件不匹配!";
    case CheckResult::WrongProtocol:
        return "机器与软件通信版本不匹配，请使用机器配套软件!";
    default:
        return "";
    }
}

std::string checkFailureMessage(CheckResult r, bool english, int lost, int asked) {
    switch (r) {
    case CheckResult::WrongModel:
        return english ? "The amplifier's model does not match this software!"
                       : checkFailureText(r);
    case CheckResult::WrongProtocol:
        return english ? "The amplifier speaks another protocol version: please use the software "
                         "made for it!"
                       : checkFailureText(r);
    case CheckResult::NoAnswer:
        return english ? "The amplifier does not answer: check the USB cable and hub, and close "
                         "any other program that holds the device."
                       : "机器没有应答：请检查USB线和集线器，并关闭其他正在使用该设备的程序。";
    case CheckResult::RepliesLost: {
        const std::string n = std::to_string(lost), m = std::to_string(asked);
        return english ? "Replies are being lost (" + n + " of " + m +
                             "): check the USB cable, connect the amplifier without a hub, and "
                             "close any other program that holds the device."
                       : "机器的应答正在丢失（" + m + "个请求中丢失" + n +
                             "个）：请检查USB线，不经集线器直接连接机器，并关闭其他正在使用该设备"
                             "的程序。";
    }
    case CheckResult::LinkLost:
        return english ? "The amplifier was lost during the transfer."
                       : "传输过程中与机器的连接中断。";
    case CheckResult::Passed:
        break;
    }
    return "";
}

Session::~Session() {
    cancel();
    joinWorkers();
}

void Session::pause(double ms) {
    clock_.waitFor([this](double) { return halted(); }, ms);
}

void Session::setLevelPoll(bool on) {
    link_.levelPollEnable = on;
    debugLog(on ? "HX_SetReadPeak:1" : "HX_SetReadPeak:0");
}

void Session::finish(TransferKind kind, bool whole) {
    std::unique_lock lock(finishMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        Clock::Idle idle(clock_); // another worker is waiting for the user interface
        lock.lock();
    }
    if (halted()) {
        // Stopped: whoever stopped it has told the user; nothing is checked or committed.
        pendingDeviceMode = -1;
        transferWhole_ = true;
        return;
    }
    transferWhole_ = whole;
    if (!observer_)
        return;
    // The user interface runs the connection check before this returns. An observer that
    // blocks here waiting for another thread declares itself idle while it waits.
    observer_->transferFinished(kind);
}

namespace {

// What a read request asks for, in the terms of its reply.
constexpr std::uint32_t answerKey(std::uint8_t code, int a, int b) {
    return std::uint32_t(code) << 24 | std::uint32_t(a & 0xFFFF) << 8 | std::uint32_t(b & 0xFF);
}

} // namespace

// The reads of this synchronisation that were not answered; each is sent again when resend is
// given. Returns how many there were.
int Session::requestMissing(const std::function<void(const Report&)>& resend) {
    std::vector<Report> again;
    {
        std::lock_guard lock(seenMutex_);
        for (int m = 0; m < kModeCount; ++m)
            if (!seen_.count(answerKey(RPL_MODE_NAME, kModeNameBase + 0x40 * m, 0)))
                again.push_back(modeNameRead(m));
        for (const DspRequest& q : dspReadList())
            if (!seen_.count(answerKey(RPL_DSP_VALUE, q.module, q.parameter)))
                again.push_back(dspRead(q.module, q.parameter, q.count));
        for (const MemWindow& w : parameterMemoryWindows())
            if (!seen_.count(answerKey(RPL_MEM, w.address, 0)))
                again.push_back(memRead(w.address, w.length));
    }
    if (resend)
        for (const Report& r : again)
            resend(r);
    return int(again.size());
}

TransferProgress Session::progress() const {
    std::lock_guard lock(progressMutex_);
    return progress_;
}

void Session::beginProgress(TransferKind kind, int total) {
    std::lock_guard lock(progressMutex_);
    progress_ = {kind, TransferStep::Connecting, 0, std::max(total, 0)};
}

void Session::setStep(TransferStep step) {
    std::lock_guard lock(progressMutex_);
    progress_.step = step;
}

void Session::countRequest() {
    std::lock_guard lock(progressMutex_);
    // Requests asked again for lost replies are not part of the plan.
    progress_.done = std::min(progress_.done + 1, progress_.total);
}

void Session::addRequests(int n) {
    std::lock_guard lock(progressMutex_);
    progress_.total += n;
}

void Session::SynchronizeData() {
    const std::uint64_t generation = link_.generation();
    transferGeneration_ = generation;
    bool whole = true;
    const auto send = [&](const Report& r) {
        whole &= this->send(r);
        countRequest();
    };
    beginProgress(TransferKind::Synchronisation, kSynchronisationRequests);
    {
        std::lock_guard lock(seenMutex_);
        seen_.clear();
    }
    unread_ = 0;
    collecting_ = true;
    state_.resetIdentity();
    setLevelPoll(false);
    pause(settleMs);

    setStep(TransferStep::Identifying);
    bool proceed = false;
    for (int attempt = 0; attempt < 2 && !proceed; ++attempt) {
        if (attempt > 0)
            addRequests(1);
        send(shortCommand(CMD_GET_MODEL));
        pause(20);
        proceed = state_.modelMatches();
    }
    if (proceed) {
        send(shortCommand(CMD_GET_PROTOCOL));
        send(shortCommand(CMD_GET_MCU_VERSION));
        proceed = state_.protocolMatches();
    }
    if (proceed) {
        setStep(TransferStep::ReadingModes);
        send(shortCommand(CMD_GET_MODE));
        send(shortCommand(CMD_GET_HDMI));
        send(shortCommand(CMD_GET_SOURCE));
        for (int m = 0; m < kModeCount; ++m)
            send(modeNameRead(m));
        send(shortCommand(CMD_GET_DSP_VERSION));
        setStep(TransferStep::ReadingSettings);
        for (const DspRequest& q : dspReadList())
            send(dspRead(q.module, q.parameter, q.count));
        setStep(TransferStep::ReadingEq);
        for (const MemWindow& w : parameterMemoryWindows())
            send(memRead(w.address, w.length));
        setStep(TransferStep::ReadingMachine);
        send(shortCommand(CMD_GET_SETTINGS));
        store_.setParametersChanged(false);
        pause(200);
        // A value whose reply was lost would show as 0 and be saved so: ask again for those
        // (a few rounds), and count what still did not come. A healthy amplifier answers
        // everything and sees no second request.
        for (int round = 0; round < kReadRetries && !halted() && requestMissing(nullptr) > 0;
             ++round) {
            setStep(TransferStep::ReadingAgain);
            requestMissing(send);
            pause(200);
        }
        unread_ = requestMissing(nullptr);
    }
    collecting_ = false;
    setStep(TransferStep::Finishing);
    pause(100);
    finish(TransferKind::Synchronisation, whole && link_.generation() == generation);
    pause(500);
    setLevelPoll(true);
}

namespace {

// What a download sends, counted for its progress.
class CountingLink final : public ReportSink {
public:
    explicit CountingLink(std::function<int(const Report&)> send) : send_(std::move(send)) {}
    int write(const Report& r) override { return send_(r); }

private:
    std::function<int(const Report&)> send_;
};

TransferStep stepOf(Dsp::DownloadPart p) {
    switch (p) {
    case Dsp::DownloadPart::Settings:
        return TransferStep::WritingSettings;
    case Dsp::DownloadPart::BandImage:
        return TransferStep::WritingEq;
    case Dsp::DownloadPart::Speakers:
        return TransferStep::WritingSpeakers;
    case Dsp::DownloadPart::Filters:
        return TransferStep::WritingFilters;
    case Dsp::DownloadPart::Volume:
        return TransferStep::RaisingVolume;
    case Dsp::DownloadPart::Confirm:
        return TransferStep::Confirming;
    }
    return TransferStep::None;
}

} // namespace

void Session::downloadWorker() {
    const int bymode = state_.currentSettings()[0];
    beginProgress(TransferKind::Download, fullDownloadReports(store_, bymode));
    store_.clearLevelReport();
    setLevelPoll(false);
    pause(100);
    const std::uint64_t generation = link_.generation();
    transferGeneration_ = generation;
    CountingLink counted([this](const Report& r) {
        const int n = link_.writeFor(r, transferGeneration_, stopped_);
        countRequest();
        return n;
    });
    Dsp dsp(store_, counted, clock_);
    dsp.setPause([this](double ms) { pause(ms); }); // a stopped download does not linger
    const bool whole =
        dsp.fullDownload(bymode, [this](Dsp::DownloadPart p) { setStep(stepOf(p)); });
    setStep(TransferStep::Finishing);
    finish(TransferKind::Download, whole && link_.generation() == generation);
    store_.clearLevelReport();
    setLevelPoll(true);
}

void Session::joinEnded() {
    std::vector<Worker> ended;
    {
        std::lock_guard lock(workersMutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done->load()) {
                ended.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Worker& w : ended)
        if (w.thread.joinable())
            w.thread.join(); // it has only to return
}

bool Session::startWorker(TransferKind kind, void (Session::*body)()) {
    joinEnded();
    if (running_.load() > 0) {
        debugLog("a transfer is running: the next one is refused\n");
        return false;
    }
    stopped_ = cancelled_.load();
    debugLog("Start thread:SynchronizeData\n");
    {
        // Until the worker knows its total, a display shows work of unknown length rather than
        // the last transfer's end.
        std::lock_guard lock(progressMutex_);
        progress_ = {kind, TransferStep::Connecting, 0, 0};
    }
    ++running_;
    std::lock_guard lock(workersMutex_);
    clock_.reserveParticipant();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread t([this, body, done] {
        Clock::Participant participant(clock_, Clock::Participant::Reserved{});
        (this->*body)();
        --running_;
        done->store(true);
        clock_.notify();
    });
    workers_.push_back({std::move(t), std::move(done)});
    return true;
}

bool Session::startSynchronisation() {
    return startWorker(TransferKind::Synchronisation, &Session::SynchronizeData);
}
bool Session::startDownload() {
    return startWorker(TransferKind::Download, &Session::downloadWorker);
}

void Session::joinWorkers() {
    std::vector<Worker> done;
    {
        std::lock_guard lock(workersMutex_);
        done.swap(workers_);
    }
    for (Worker& w : done) {
        // Time passes while a worker works; once it is done it only has to exit.
        clock_.waitFor([&w](double) { return w.done->load(); }, kForever);
        if (w.thread.joinable())
            w.thread.join();
    }
}

CheckResult Session::CheckConnection() {
    // Whatever the outcome, the transfer that selected a device mode has ended: a later good
    // synchronisation must not store into that mode.
    const int pending = pendingDeviceMode.exchange(-1);
    const bool whole = transferWhole_.exchange(true);
    // A link that closed, broke or was reopened during the transfer has nothing trustworthy to
    // check.
    if (!whole || !link_.isOpen() || link_.readThreadEnded())
        return CheckResult::LinkLost;
    asked_ = link_.requestsAsked();
    lost_ = link_.requestsAsked() - link_.requestsAnswered();
    // Defaults standing in for replies that never came say nothing about the amplifier.
    if (!state_.modelReceived() || (state_.modelMatches() && !state_.protocolReceived())) {
        const CheckResult r =
            link_.requestsAnswered() == 0 ? CheckResult::NoAnswer : CheckResult::RepliesLost;
        link_.CloseByEditor();
        return r;
    }
    if (state_.modelMatches() && state_.protocolMatches()) {
        if (pending != -1)
            selectMode(store_, link_, clock_, clampMode(pending));
        return CheckResult::Passed;
    }
    const CheckResult r =
        state_.modelMatches() ? CheckResult::WrongProtocol : CheckResult::WrongModel;
    link_.CloseByEditor();
    return r;
}

void Session::noteReply(const Report& r) {
    if (!collecting_)
        return;
    std::uint32_t key = 0;
    if (r[1] == RPL_DSP_VALUE)
        key = answerKey(RPL_DSP_VALUE, r[3], r[4]);
    else if (r[1] == RPL_MEM || r[1] == RPL_MODE_NAME)
        key = answerKey(r[1], readBe16(&r[2]), 0);
    else
        return;
    std::lock_guard lock(seenMutex_);
    seen_.insert(key);
}

bool Session::pollLevels() {
    if (!link_.levelPollEnable || !link_.isOpen() || !levelPollPermission)
        return false;
    return link_.write(shortCommand(CMD_GET_LEVELS)) == int(kReportSize); // no transfer's
}

} // namespace q7
