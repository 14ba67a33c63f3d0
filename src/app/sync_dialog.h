// The modal synchronisation dialog shown while a transfer worker runs.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace q7 {

class Language;
class Timeline;

inline constexpr int kSyncGuardMs = 30000;

class CSyncDlg : public QDialog {
    Q_OBJECT
public:
    CSyncDlg(const QString& text, Language& language, Timeline& timeline, QWidget* parent);
    ~CSyncDlg() override;
    // Closes it without the timeout message (the connection check's normal end).
    void finish();
    QString text() const;

signals:
    void timedOut();

private:
    Timeline& timeline_;
    QLabel* label_;
    QProgressBar* bar_;
    int guard_ = 0;
};

} // namespace q7
