#include "device/link.h"

#include "protocol/log.h"

#include <algorithm>

namespace q7 {

Link::Link(HidBackend& backend, Clock& clock)
    : backend_(backend), clock_(clock), replyEvent_(clock, true, true),
      threadExit_(clock, true, false) {}

Link::~Link() {
    CloseByRemoval();
}

void Link::setReplyHandler(std::function<void(const Report&)> handler) {
    handler_ = std::move(handler);
}

LinkState Link::state() const {
    if (!open_)
        return LinkState::Closed;
    return readThreadEnd_ ? LinkState::Broken : LinkState::Open;
}

std::string Link::devicePath() const {
    std::lock_guard lock(pathMutex_);
    return path_;
}

void Link::traceReport(Direction d, const Report& r) {
    if (trace_)
        trace_->write(clock_.nowMs() - openedAt_, d, r);
}

OpenResult Link::OpenLink() {
    std::lock_guard lock(lifecycle_);
    OpenResult result;
    if (open_)
        return result;

    // Each open starts with the reply event set, so the first write goes out at once.
    replyEvent_.set();
    threadExit_.reset();
    readThreadEnd_ = false;

    debugLog("开始枚举usb设备");
    const std::vector<HidInterface> interfaces = backend_.enumerate();
    std::unique_ptr<HidDevice> device;
    const std::size_t count = std::min(interfaces.size(), std::size_t(kMaxEnumeratedInterfaces));
    for (std::size_t i = 0; i < count && !device; ++i) {
        const HidInterface& itf = interfaces[i];
        if (itf.vendorId != kVendorId || itf.productId != kProductId)
            continue;
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
    openedAt_ = clock_.nowMs();
    open_ = true;
    clock_.reserveParticipant();
    reader_ = std::thread(&Link::ReadUsbThreadProc, this);
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
            if (observer_)
                observer_->linkStateChanged(LinkState::Broken);
            break;
        }
        if (n == 0)
            continue;
        Report r{};
        std::copy_n(buffer, std::min<std::size_t>(std::size_t(n), kReportSize), r.begin());
        traceReport(Direction::FromAmplifier, r);
        if (handler_)
            handler_(r);
        replyEvent_.set();
    }
    threadExit_.set();
}

int Link::writeLocked(const Report& r) {
    std::lock_guard lock(writeLock_);
    if (!device_)
        return 0;
    const int n = device_->write(r.data(), r.size());
    if (n == int(kReportSize))
        traceReport(Direction::ToAmplifier, r);
    else
        debugLog("usb数据写入出错");
    return std::max(n, 0);
}

int Link::WriteUsbData(const std::uint8_t* data, std::size_t length) {
    if (!open_)
        return 0;
    if (readThreadEnd_) {
        debugLog("g_bReadThreadEnd == TRUE ,WriteUsbData return \n");
        return 0;
    }
    Report r{};
    std::copy_n(data, std::min(length, kReportSize), r.begin());
    // Stop-and-wait: the previous report's reply, or 2500 ms, whichever comes first.
    replyEvent_.wait(kReplyWaitMs);
    if (readThreadEnd_)
        return 0;
    return writeLocked(r);
}

int Link::writeUnpaced(const Report& r) {
    if (!open_ || readThreadEnd_)
        return 0;
    return writeLocked(r);
}

bool Link::awaitReply(double timeoutMs) {
    if (!open_ || readThreadEnd_)
        return false;
    const bool got = replyEvent_.wait(timeoutMs);
    replyEvent_.set();
    return got;
}

void Link::closeHandle() {
    open_ = false;
    replyEvent_.set(); // writers waiting for a reply that will not come go on (and are refused)
    if (!threadExit_.wait(kReadThreadExitWaitMs))
        debugLog("wait read thread exited time out !\n");
    // The read thread reads with a short timeout, so this returns promptly; the handle must not
    // close while it is inside a read.
    if (reader_.joinable())
        reader_.join();
    std::lock_guard w(writeLock_);
    device_.reset();
}

bool Link::CloseByRemoval() {
    std::lock_guard lock(lifecycle_);
    if (!open_)
        return true;
    if (levelReset_)
        levelReset_();
    closeHandle();
    if (observer_)
        observer_->linkStateChanged(LinkState::Closed);
    return true;
}

void Link::CloseByEditor() {
    std::lock_guard lock(lifecycle_);
    if (open_) {
        if (levelReset_)
            levelReset_();
        const Report close = shortCommand(CMD_CLOSE);
        WriteUsbData(close.data(), close.size());
        closeHandle();
    }
    // The level poll stops in every case.
    if (observer_)
        observer_->linkStateChanged(LinkState::Closed);
}

} // namespace q7
