// SPDX-License-Identifier: GPL-3.0-or-later
// The connection's life: start-up connect, arrival, removal, a broken link reconnected, refused
// writes, the level poll and the notification-area balloons that tell of them.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "device/amplifier_lock.h"
#include "params/edit_path.h"
#include "protocol/log.h"

#include <QRegularExpression>
#include <QSystemTrayIcon>

namespace q7 {

// The USB amplifier is shared with q7ctl serve and q7ctl's commands; the simulator and a replay
// are the editor's own.
bool CHX2060v13View::lockedOpens() const {
    const EditorOptions& o = editor_.options();
    return !o.simulator && !o.replay && (!o.backend || !o.lockFile.empty());
}

OpenResult CHX2060v13View::openLink() {
    if (lockedOpens()) {
        AmplifierLock& lock = editor_.amplifierLock();
        // Without waiting: the window never blocks on another program.
        if (lock.acquire("q7edit", editor_.options().lockFile) ==
            AmplifierLock::Result::HeldByOther) {
            if (!lockTold_) {
                lockTold_ = true;
                const Language& l = editor_.language();
                editor_.prompter().tell(
                    this, BoxIcon::Warning, l.pick("错误", "Error"),
                    QString::fromStdString(amplifierInUseMessage(lock.other(), l.english())));
            }
            return {};
        }
        lockTold_ = false;
    }
    const OpenResult r = editor_.connection().link.OpenLink();
    // No amplifier, or it would not open: the others may have it meanwhile.
    releaseLockWhenClosed();
    return r;
}

void CHX2060v13View::releaseLockWhenClosed() {
    const Link& link = editor_.connection().link;
    // An editor's close keeps it until its last reports are out and the handle is closed.
    if (!link.isOpen() && !link.closing())
        editor_.amplifierLock().release();
}

void CHX2060v13View::startupConnect() {
    const OpenResult r = openLink();
    if (r.opened)
        return connected(5000);
    if (r.permissionDenied && !permissionTold_) {
        permissionTold_ = true;
        const Language& l = editor_.language();
        editor_.prompter().tell(
            this, BoxIcon::Warning, l.pick("错误", "Error"),
            l.pick("找到了功放，但没有权限打开它 (permission denied)。\n请安装 udev 规则 "
                   "packaging/60-q7edit.rules，然后重新插拔功放。",
                   "permission denied: install the udev rule packaging/60-q7edit.rules, "
                   "then unplug the amplifier and plug it in again."));
    }
}

void CHX2060v13View::connected(int balloonMs) {
    // The transfer of the link that went away ends first: its reports never reach this one.
    if (deferred(
            editor_.language().pick("连接设备", "Connect the device"),
            [this, balloonMs] {
                if (editor_.linkOpen())
                    connected(balloonMs);
            },
            false))
        return;
    // Until it has been read, nothing is known of what this amplifier holds; settings made
    // without it are kept aside so the user can choose between them and the amplifier's.
    EditPath& e = editor_.edits();
    e.forgetAmplifier();
    if (e.holdsUnsent() && !unsent_)
        unsent_ = settingsOf(editor_.store());
    balloon(editor_.language().pick("设备已连接，同步中……", "Device connected!"), balloonMs);
    StartSynchronisation();
    startLevelPoll();
    updateUi();
}

void CHX2060v13View::OnDeviceArrived(const QString& path) {
    (void)path;
    if (editor_.connection().link.closing()) {
        arrivalPending_ = true; // tried again when the close has ended
        return;
    }
    // The transfer of the link that went away ends before another amplifier is opened.
    if (deferred(
            editor_.language().pick("连接设备", "Connect the device"),
            [this, path] { OnDeviceArrived(path); }, false))
        return;
    const OpenResult r = openLink();
    if (r.opened) {
        trouble_ = LinkTrouble::None;
        // Modeless dialogs of the previous amplifier would show stale values.
        closeDialogs(); // with the frame's other modeless dialogs, now or once no box is open
        if (!closeLater_)
            emit editor_.frame()->closeModelessDialogs();
        connected(4000);
    } else if (r.permissionDenied) {
        // udev grants access a moment after the node appears: look again once.
        editor_.timeline().start(1000, false, [this] {
            if (!editor_.linkOpen() && openLink().opened)
                connected(4000);
        });
    }
}

void CHX2060v13View::OnDeviceRemoved(const QString& path) {
    debugLog("removed!\n");
    Link& link = editor_.connection().link;
    if (trouble_ != LinkTrouble::None && !link.isOpen() &&
        path.compare(reconnectPath_, Qt::CaseInsensitive) == 0) {
        // Unplugged while we tried to reach it again: it is simply gone.
        if (reconnectTimer_)
            editor_.timeline().stop(reconnectTimer_);
        reconnectTimer_ = 0;
        trouble_ = LinkTrouble::None;
        balloon(editor_.language().pick("设备已断开!", "Device Disconnected!"), 5000, true);
        return updateUi();
    }
    const QString open = QString::fromStdString(link.devicePath());
    if (open.isEmpty() || path.compare(open, Qt::CaseInsensitive) != 0 || !link.isOpen())
        return;
    if (!link.CloseByRemoval())
        return;
    releaseLockWhenClosed();
    stopLevelPoll();
    balloon(editor_.language().pick("设备已断开!", "Device Disconnected!"), 5000, true);
    updateUi();
}

void CHX2060v13View::OnLinkState(LinkState state) {
    if (state == LinkState::Broken)
        return linkBroken();
    if (state == LinkState::Closed) {
        stopLevelPoll();
        releaseLockWhenClosed();
        Link& link = editor_.connection().link;
        if (arrivalPending_ && !link.closing()) {
            // An amplifier arrived while our close was still sending: connect it now.
            arrivalPending_ = false;
            OnDeviceArrived({});
        }
    }
    updateUi();
}

// A read failed but the amplifier may still be there: say so, and open it again a few times a
// second apart before giving up.
void CHX2060v13View::linkBroken() {
    Link& link = editor_.connection().link;
    if (!link.isOpen() || !link.readThreadEnded())
        return;
    reconnectPath_ = QString::fromStdString(link.devicePath());
    editor_.edits().forgetAmplifier();
    stopLevelPoll();
    link.CloseByRemoval();   // every write is refused now; no CMD_CLOSE can go out
    releaseLockWhenClosed(); // until the next attempt: another program may use it meanwhile
    trouble_ = LinkTrouble::Reconnecting;
    balloon(editor_.language().pick("与设备通信出错，正在重新连接……",
                                    "Communication with the device failed: reconnecting……"),
            5000, true);
    updateUi();
    reconnectTries_ = 0;
    if (reconnectTimer_)
        editor_.timeline().stop(reconnectTimer_);
    reconnectTimer_ = editor_.timeline().start(kReconnectMs, true, [this] { tryReconnect(); });
}

void CHX2060v13View::tryReconnect() {
    auto stop = [this] {
        editor_.timeline().stop(reconnectTimer_);
        reconnectTimer_ = 0;
    };
    if (editor_.linkOpen()) { // an arrival connected it meanwhile
        trouble_ = LinkTrouble::None;
        return stop();
    }
    if (editor_.connection().session.workerRunning())
        return; // the transfer of the broken link ends first; tried again on the next tick
    ++reconnectTries_;
    if (openLink().opened) {
        stop();
        trouble_ = LinkTrouble::None;
        return connected(4000);
    }
    if (reconnectTries_ < kReconnectTries)
        return;
    stop();
    trouble_ = LinkTrouble::GaveUp;
    balloon(editor_.language().pick("无法重新连接设备，请拔下设备后重新插入。",
                                    "The device could not be reconnected: unplug it and plug it "
                                    "in again."),
            8000, true);
    updateUi();
}

void CHX2060v13View::OnDspError(const QString& text) {
    editor_.edits().forgetAmplifier(); // a write was refused
    const Language& l = editor_.language();
    QString shown = text;
    // The amplifier's own wording is Chinese; an English user reads what it says first.
    const QRegularExpressionMatch m =
        QRegularExpression("0x:([0-9A-Fa-f]{2}).*0x([0-9A-Fa-f]{2}).*0x([0-9A-Fa-f]{2})")
            .match(text);
    if (l.english() && m.hasMatch())
        shown = QString("The amplifier refused a parameter: error code 0x%1, command 1: 0x%2, "
                        "command 2: 0x%3.\n\n%4")
                    .arg(m.captured(1), m.captured(2), m.captured(3), text);
    editor_.prompter().tell(this, BoxIcon::None, "Error", shown);
}

void CHX2060v13View::startLevelPoll() {
    if (pollTimer_)
        return;
    pollTimer_ = editor_.timeline().start(kLevelPollMs, true, [this] {
        editor_.connection().session.pollLevels();
        emit levelsPolled();
    });
}

void CHX2060v13View::stopLevelPoll() {
    if (pollTimer_)
        editor_.timeline().stop(pollTimer_);
    pollTimer_ = 0;
}

void CHX2060v13View::balloon(const QString& text, int ms, bool mustBeSeen) {
    const QString title = editor_.language().pick("信息", "Information");
    lastBalloon_ = {title, text};
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Many desktops have no notification area: what the user must know shows in the window.
        if (mustBeSeen)
            editor_.ShowInfo(text, ms);
        return;
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon(QIcon(":/images/app.png"), this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this] { tray_->hide(); });
        connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] { tray_->hide(); });
    }
    tray_->show();
    tray_->showMessage(title, text, QSystemTrayIcon::Information, ms);
    if (trayTimer_)
        editor_.timeline().stop(trayTimer_);
    trayTimer_ = editor_.timeline().start(ms, false, [this] {
        trayTimer_ = 0;
        if (tray_)
            tray_->hide();
    });
}

} // namespace q7
