// SPDX-License-Identifier: GPL-3.0-or-later
// The modal synchronisation dialog shown while a transfer worker runs: the caller's text, a bar
// of the requests done and the step in words.
#pragma once

#include "device/session.h"

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;

namespace q7 {

class Language;
class Timeline;

inline constexpr int kSyncGuardMs = 30000;
// How often the dialog looks at the worker's progress.
inline constexpr int kSyncProgressMs = 50;

// The step in words ("读取均衡……" / "Reading EQ …").
QString stepText(TransferStep step, const Language& language);

class CSyncDlg : public QDialog {
    Q_OBJECT
public:
    using ProgressSource = std::function<TransferProgress()>;
    // progress is asked on the GUI thread; without one the bar shows work of unknown length.
    CSyncDlg(const QString& text, Language& language, Timeline& timeline, QWidget* parent,
             ProgressSource progress = {});
    ~CSyncDlg() override;
    // Closes it without the timeout message (the connection check's normal end).
    void finish();
    // A transfer that follows the last one in this dialog gets the whole guard time.
    void restartGuard();
    QString text() const;
    QString stepLine() const;
    QProgressBar* bar() const { return bar_; }
    // Shows a progress (the poll does this; screenshots show a fixed one).
    void showProgress(const TransferProgress& p);

signals:
    void timedOut();

private:
    Language& language_;
    Timeline& timeline_;
    ProgressSource source_;
    QString callerText_;
    QLabel* label_;
    QProgressBar* bar_;
    QLabel* step_;
    int guard_ = 0;
    int poll_ = 0;
    void relabel();
    void stopTimers();
    void startGuard();
};

} // namespace q7
