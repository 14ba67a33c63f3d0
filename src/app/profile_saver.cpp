// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/profile_saver.h"

#include <QEvent>

namespace q7 {

ProfileSaver::ProfileSaver(QSettings& profile)
    : profile_(profile), fileName_(profile.fileName()), format_(profile.format()) {
    // The profile's own deferred write would run on the event loop: it is taken over here.
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
    profile_.setValue(key, value);
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
    changed_.wait(lock, [&] { return written_ >= wanted || stop_; });
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
    // this one writes what the editor's object has set.
    QSettings writer(fileName_, format_);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || requested_ > written_; });
        const std::uint64_t now = requested_;
        if (now > written_) {
            lock.unlock();
            writer.sync();
            lock.lock();
            written_ = now;
            changed_.notify_all();
        }
        if (stop_ && requested_ == written_)
            return;
    }
}

} // namespace q7
