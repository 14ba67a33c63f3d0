// SPDX-License-Identifier: GPL-3.0-or-later
// ProfileSaver: writes the user's profile to disk on a thread of its own. QSettings writes its
// file from the event loop and waits for the disk to take it; on a busy disk that held the
// window for a quarter of a second after a file was loaded (its recent-files list changed).
#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace q7 {

class ProfileSaver final : public QObject {
public:
    // Takes over the writing of `profile`; values set on it stay visible to it at once.
    explicit ProfileSaver(QSettings& profile);
    // Writes what is still unwritten before it returns.
    ~ProfileSaver() override;

    // Sets one value and has the file written soon, off this thread.
    void set(const QString& key, const QVariant& value);
    // Waits until everything set so far is in the file (closing the program; tests).
    void flush();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveSoon();
    void run();

    QSettings& profile_;
    const QString fileName_;
    const QSettings::Format format_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t requested_ = 0, written_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace q7
