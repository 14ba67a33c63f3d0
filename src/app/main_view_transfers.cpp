// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronisations and downloads: one at a time, the work that waits for them, their dialog and
// how they end.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/sync_dialog.h"
#include "params/edit_path.h"

namespace q7 {

void CHX2060v13View::showSyncDialog(const QString& text) {
    if (sync_) {
        // One dialog at a time. One that was about to close after its transfer stays for the
        // transfer that follows it, which gets the whole guard time.
        stopLingering();
        sync_->restartGuard();
        return;
    }
    Session& session = editor_.connection().session;
    sync_ = new CSyncDlg(text, editor_.language(), editor_.timeline(), window(),
                         [&session] { return session.progress(); });
    // The box runs an event loop of its own, in which the transfer may finish and the dialog
    // go away: it opens from the view's queue, never from inside the dialog.
    // The transfer stops when the guard fires, before the box says so.
    connect(sync_, &CSyncDlg::timedOut, this,
            [this] { editor_.connection().session.stopTransfer(); });
    connect(
        sync_, &CSyncDlg::timedOut, this, [this] { transferTimedOut(); }, Qt::QueuedConnection);
    sync_->show();
}

void CHX2060v13View::stopLingering() {
    if (lingerTimer_)
        editor_.timeline().stop(lingerTimer_);
    lingerTimer_ = 0;
}

void CHX2060v13View::StartSynchronisation(const QString& text, bool told) {
    startTransfer(TransferKind::Synchronisation, text, told);
}

void CHX2060v13View::StartDownload(const QString& text, bool told) {
    startTransfer(TransferKind::Download, text, told);
}

void CHX2060v13View::startTransfer(TransferKind kind, const QString& text, bool told) {
    const bool download = kind == TransferKind::Download;
    const QString what =
        download ? editor_.language().pick("发送设置到机器", "Send the settings to the amplifier")
                 : editor_.language().pick("同步", "Synchronise");
    if (deferred(
            what, [this, kind, text] { startTransfer(kind, text, true); }, told))
        return;
    Session& session = editor_.connection().session;
    if (download ? session.startDownload() : session.startSynchronisation())
        showSyncDialog(text);
}

bool CHX2060v13View::transferBusy() const {
    return editor_.connection().session.workerRunning() || (!waiting_.empty() && !runningWaiting_);
}

QStringList CHX2060v13View::waitingWork() const {
    QStringList out;
    for (const Waiting& w : waiting_)
        out << w.what;
    return out;
}

bool CHX2060v13View::deferred(const QString& what, std::function<void()> run, bool told) {
    if (!transferBusy())
        return false;
    waiting_.push_back({what, std::move(run)});
    const Language& l = editor_.language();
    if (told)
        editor_.ShowInfo(
            l.pick("当前传输结束后执行：%1", "Runs when the transfer has finished: %1").arg(what),
            2500);
    if (!waitTimer_)
        waitTimer_ = editor_.timeline().start(kSyncProgressMs, true, [this] { runWaiting(); });
    return true;
}

void CHX2060v13View::runWaiting() {
    // Each waits for the transfer the one before it started.
    while (!waiting_.empty() && !editor_.connection().session.workerRunning()) {
        Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        runningWaiting_ = true;
        w.run();
        runningWaiting_ = false;
    }
    if (waiting_.empty() && waitTimer_) {
        editor_.timeline().stop(waitTimer_);
        waitTimer_ = 0;
    }
}

QString CHX2060v13View::downloadUnfinishedText() const {
    return editor_.language().pick(
        "下载未完成：机器中只有部分新设置。编辑器保留这些设置，页面显示的就是它们；机器下次连接时"
        "会询问是否重新发送。",
        "The download did not finish: the amplifier holds only part of these settings. The "
        "editor keeps them and the pages show them; when the amplifier next connects you will "
        "be asked whether to send them again.");
}

// The amplifier holds part of the editor's settings: it is unknown until it has everything
// again, and the next connection offers to send them.
void CHX2060v13View::downloadFailed() {
    EditPath& e = editor_.edits();
    e.forgetAmplifier();
    e.setUnsent(true);
    refreshFromStore();
    emit editor_.frame()->refreshModelessDialogs();
    updateUi();
}

void CHX2060v13View::transferTimedOut() {
    const Language& l = editor_.language();
    const bool download = editor_.connection().session.progress().kind == TransferKind::Download;
    if (download) {
        downloadFailed();
    } else {
        // Part of the amplifier was read: what the pages show is neither side's whole.
        editor_.edits().forgetAmplifier();
        refreshFromStore();
        emit editor_.frame()->refreshModelessDialogs();
        updateUi();
    }
    QString text = l.pick("发生错误，与设备数据同步超时……",
                          "Error: synchronising with the device timed out……");
    if (download)
        text += "\n\n" + downloadUnfinishedText();
    editor_.prompter().tell(this, BoxIcon::Error, l.pick("错误", "Error"), text);
    if (!download && unsent_)
        askAboutUnsent(); // the editor's own settings were waiting for this synchronisation
}

void CHX2060v13View::OnTransferFinished(TransferKind kind) {
    Connection& c = editor_.connection();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::Passed) {
        EditPath& e = editor_.edits();
        if (kind == TransferKind::Synchronisation) {
            if (c.session.unreadValues() > 0)
                e.forgetAmplifier();
            else
                e.amplifierHoldsStore();
            if (!unsent_) {
                // The amplifier's settings are the document now; a new history begins.
                e.clearHistory();
                e.markSaved();
                editor_.setDocumentPath({});
            } else {
                QMetaObject::invokeMethod(
                    this, [this] { askAboutUnsent(); }, Qt::QueuedConnection);
            }
        } else {
            e.amplifierHoldsStore();
        }
        refreshFromStore();
        emit editor_.frame()->refreshModelessDialogs();
        // The finished transfer stays in view a moment; the worker is not held meanwhile.
        if (sync_ && !lingerTimer_)
            lingerTimer_ = editor_.timeline().start(kTransferShownMs, false, [this] {
                lingerTimer_ = 0;
                if (sync_)
                    sync_->finish();
            });
        if (kind == TransferKind::Synchronisation && c.session.unreadValues() > 0) {
            // Shown as connected, the values that never arrived would pass for real ones.
            const int n = c.session.unreadValues();
            QMetaObject::invokeMethod(
                this,
                [this, n] {
                    const Language& l = editor_.language();
                    editor_.prompter().tell(
                        this, BoxIcon::Warning, l.pick("警告", "Warning"),
                        l.english() ? QString("%1 settings could not be read from the amplifier: "
                                              "the values shown for them may be wrong. Load the "
                                              "mode again to read them once more.")
                                          .arg(n)
                                    : QString::fromUtf8("有%1项参数未能从机器读取，其显示的数值可能"
                                                        "不正确。请重新载入模式以再次读取。")
                                          .arg(n));
                },
                Qt::QueuedConnection);
        }
        return updateUi();
    }
    stopLingering();
    if (sync_)
        sync_->finish();
    editor_.edits().forgetAmplifier();
    if (kind == TransferKind::Download)
        downloadFailed();
    if (r == CheckResult::LinkLost) {
        // Reset a broken link so that the next arrival can open it again; a link opened again
        // since that transfer began is a new one and stays.
        if (c.link.isOpen() && c.link.readThreadEnded())
            c.link.CloseByRemoval();
        stopLevelPoll();
        updateUi();
        if (kind == TransferKind::Download) {
            const Language& l = editor_.language();
            editor_.prompter().tell(this, BoxIcon::Warning, l.pick("错误", "Error"),
                                    downloadUnfinishedText());
        }
        return;
    }
    stopLevelPoll();
    updateUi();
    if (errorLatch_) {
        errorLatch_ = false;
        const Language& l = editor_.language();
        const auto message = [&](bool english) {
            return checkFailureMessage(r, english, c.session.lostReplies(),
                                       c.session.askedReplies());
        };
        const QString text = l.pick(message(false).c_str(), message(true).c_str());
        editor_.prompter().tell(this, BoxIcon::Error, l.pick("错误", "Error"), text);
        errorLatch_ = true;
    }
}

CSyncDlg* CHX2060v13View::syncDialog() const {
    return sync_;
}

} // namespace q7
