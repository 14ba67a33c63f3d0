// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/timeline.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

namespace q7 {

Timeline::Timeline(Clock& clock, bool virtualTime, QObject* parent)
    : QObject(parent), clock_(clock), virtual_(virtualTime) {}

Timeline::~Timeline() {
    for (auto& [id, t] : real_)
        delete t;
}

int Timeline::start(double intervalMs, bool repeat, std::function<void()> fire) {
    const int id = nextId_++;
    if (virtual_) {
        timers_[id] = {clock_.nowMs() + intervalMs, intervalMs, repeat, std::move(fire)};
        return id;
    }
    auto* t = new QTimer;
    t->setTimerType(Qt::PreciseTimer);
    t->setSingleShot(!repeat);
    t->setInterval(int(intervalMs));
    connect(t, &QTimer::timeout, this, [this, id, repeat, fire = std::move(fire)] {
        if (!repeat)
            stop(id);
        fire();
    });
    real_[id] = t;
    t->start();
    return id;
}

void Timeline::stop(int id) {
    timers_.erase(id);
    const auto it = real_.find(id);
    if (it != real_.end()) {
        it->second->stop();
        it->second->deleteLater();
        real_.erase(it);
    }
}

bool Timeline::isActive(int id) const {
    return timers_.count(id) || real_.count(id);
}

void Timeline::post(std::function<void()> fn) {
    ++posted_;
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            --posted_;
            fn();
        },
        Qt::QueuedConnection);
    clock_.notify();
}

void Timeline::processEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Timeline::fireDue() {
    const double now = clock_.nowMs();
    // The earliest due timer first; a timer may stop or start others.
    int id = 0;
    double due = kForever;
    for (const auto& [i, t] : timers_)
        if (t.due <= now && t.due < due)
            id = i, due = t.due;
    if (!id)
        return false;
    auto fire = timers_[id].fire;
    if (timers_[id].repeat)
        timers_[id].due += std::max(timers_[id].interval, 1.0);
    else
        timers_.erase(id);
    fire();
    return true;
}

bool Timeline::runUntil(const std::function<bool()>& ready, double ms) {
    const double end = clock_.nowMs() + ms;
    for (;;) {
        processEvents();
        while (fireDue())
            processEvents();
        if (ready && ready())
            return true;
        if (clock_.nowMs() >= end)
            return ready ? ready() : false;
        double next = end;
        for (const auto& [i, t] : timers_)
            next = std::min(next, t.due);
        clock_.waitUntil([this](double) { return posted_.load() > 0; }, next);
    }
}

void Timeline::runFor(double ms) {
    runUntil({}, ms);
}

} // namespace q7
