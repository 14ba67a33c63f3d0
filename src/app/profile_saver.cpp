// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/profile_saver.h"

#include <QEvent>

namespace q7 {

ProfileSaver::ProfileSaver(QSettings& profile)
    : profile_(profile), fileName_(profile.fileName()), format_(profile.format()) {
    // What the window's object was given before it was taken over would be written on the
    // event loop: its deferred write is taken over too.
    profile_.installEventFilter(this);
    thread_ = std::thread(&ProfileSaver::run, this);
}

ProfileSaver::~ProfileSaver() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    profile_.removeEventFilter(this);
}

void ProfileSaver::set(const QString& key, const QVariant& value) {
    {
        std::lock_guard lock(mutex_);
        pending_.insert(key, value);
    }
    saveSoon();
}

void ProfileSaver::saveSoon() {
    {
        std::lock_guard lock(mutex_);
        ++requested_;
    }
    changed_.notify_all();
}

void ProfileSaver::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t wanted = requested_;
    changed_.wait(lock, [&] { return written_ >= wanted; });
}

bool ProfileSaver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &profile_ && event->type() == QEvent::UpdateRequest) {
        saveSoon();
        return true;
    }
    return false;
}

void ProfileSaver::run() {
    // Objects of one file share its contents within the process, each thread its own object:
    // this one also writes what the window's object was given.
    QSettings writer(fileName_, format_);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || requested_ > written_; });
        if (requested_ > written_) {
            const std::uint64_t now = requested_;
            QMap<QString, QVariant> values;
            values.swap(pending_);
            lock.unlock();
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                writer.setValue(it.key(), it.value());
            writer.sync();
            lock.lock();
            written_ = now;
            changed_.notify_all();
            continue;
        }
        return; // stopping with everything written
    }
}

} // namespace q7
