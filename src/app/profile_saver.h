// SPDX-License-Identifier: GPL-3.0-or-later
// ProfileSaver: writes the user's profile on a thread of its own. QSettings writes its file
// from the event loop and waits for the disk to take it, and a second object of the same file
// waits for that write under the file's lock; on a busy disk either held the window for a
// quarter of a second after a file was loaded (its recent-files list changed). The window's
// thread reads the profile when the editor starts and never touches it afterwards.
#pragma once

#include <QMap>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace q7 {

class ProfileSaver final : public QObject {
public:
    // Takes over the writing of `profile`'s file.
    explicit ProfileSaver(QSettings& profile);
    // Writes what is still unwritten before it returns.
    ~ProfileSaver() override;

    // Has one value written soon, off this thread.
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
    QMap<QString, QVariant> pending_;
    std::uint64_t requested_ = 0, written_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace q7
