// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sync_dialog.h"

#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

namespace q7 {

QString stepText(TransferStep step, const Language& l) {
    switch (step) {
    case TransferStep::None:
        return {};
    case TransferStep::Connecting:
        return l.pick("连接中……", "Connecting …");
    case TransferStep::Identifying:
        return l.pick("识别机器……", "Identifying the amplifier …");
    case TransferStep::ReadingModes:
        return l.pick("读取模式……", "Reading modes …");
    case TransferStep::ReadingSettings:
        return l.pick("读取参数……", "Reading settings …");
    case TransferStep::ReadingEq:
        return l.pick("读取均衡……", "Reading EQ …");
    case TransferStep::ReadingMachine:
        return l.pick("读取机器设置……", "Reading machine settings …");
    case TransferStep::ReadingAgain:
        return l.pick("重新读取未收到的参数……", "Reading missed values again …");
    case TransferStep::WritingSettings:
        return l.pick("写入参数……", "Writing settings …");
    case TransferStep::WritingEq:
        return l.pick("写入均衡……", "Writing EQ …");
    case TransferStep::WritingSpeakers:
        return l.pick("写入喇叭电平……", "Writing speaker levels …");
    case TransferStep::WritingFilters:
        return l.pick("写入滤波器……", "Writing filters …");
    case TransferStep::RaisingVolume:
        return l.pick("恢复音量……", "Raising the volume …");
    case TransferStep::Confirming:
        return l.pick("确认……", "Confirming …");
    case TransferStep::Finishing:
        return l.pick("完成……", "Finishing …");
    }
    return {};
}

CSyncDlg::CSyncDlg(const QString& text, Language& language, Timeline& timeline, QWidget* parent,
                   ProgressSource progress)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint), language_(language), timeline_(timeline),
      source_(std::move(progress)), callerText_(text) {
    setObjectName("CSyncDlg");
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setPageBackground(this);
    setCursor(Qt::WaitCursor);
    label_ = new QLabel(this);
    label_->setFont(songti(14));
    label_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0); // until a total is known
    bar_->setTextVisible(false);
    bar_->setFixedHeight(16);
    step_ = new QLabel(this);
    step_->setObjectName("SyncStep");
    step_->setFont(songti(12));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 16);
    layout->setSpacing(10);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(step_);
    setFixedSize(400, 140);
    relabel();
    if (source_) {
        showProgress(source_());
        poll_ = timeline_.start(kSyncProgressMs, true, [this] { showProgress(source_()); });
    }
    startGuard();
    connect(&language_, &Language::changed, this, [this] {
        relabel();
        if (source_)
            showProgress(source_());
    });
}

void CSyncDlg::startGuard() {
    guard_ = timeline_.start(kSyncGuardMs, false, [this] {
        guard_ = 0;
        stopTimers();
        close();
        emit timedOut(); // queued by the view: the message opens after this returns
    });
}

void CSyncDlg::restartGuard() {
    if (guard_)
        timeline_.stop(guard_);
    startGuard();
}

CSyncDlg::~CSyncDlg() {
    stopTimers();
    if (guard_)
        timeline_.stop(guard_);
}

void CSyncDlg::stopTimers() {
    if (poll_)
        timeline_.stop(poll_);
    poll_ = 0;
}

void CSyncDlg::relabel() {
    setWindowTitle(language_.pick("同步过程", "Synchronize"));
    label_->setText(callerText_.isEmpty() ? language_.pick("当前正在与机器同步数据,请稍后......",
                                                           "Please wait a moment……")
                                          : callerText_);
}

void CSyncDlg::showProgress(const TransferProgress& p) {
    if (p.total <= 0) {
        bar_->setRange(0, 0);
    } else {
        bar_->setRange(0, p.total);
        bar_->setValue(std::clamp(p.done, 0, p.total));
    }
    const QString step = stepText(p.step, language_);
    step_->setText(p.total > 0 ? QString("%1  %2/%3").arg(step).arg(p.done).arg(p.total) : step);
}

void CSyncDlg::finish() {
    // The last word of the worker before the dialog goes: a finished transfer shows full.
    if (source_)
        showProgress(source_());
    stopTimers();
    if (guard_) {
        timeline_.stop(guard_);
        guard_ = 0;
    }
    close();
}

QString CSyncDlg::text() const {
    return label_->text();
}

QString CSyncDlg::stepLine() const {
    return step_->text();
}

} // namespace q7
