// SPDX-License-Identifier: GPL-3.0-or-later
// CPeakMeterCtrl: an LED level meter with falling values and held peaks. Everything runs on the
// GUI thread (data, decay timer, painting), so nothing races.
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <map>
#include <utility>
#include <vector>

class QTimer;

namespace q7 {

// The decay timers of the meters that share a parent, one per period: a page's meters step in
// the same turn of the event loop and are repainted together, not each on its own wake-up. It
// belongs to that parent (a meter without one keeps its own) and runs only while a meter falls.
class PeakMeterClock : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Counts a falling meter and returns the period's timer, running.
    QTimer* join(int periodMs);
    void leave(int periodMs);
    bool running(int periodMs) const;

private:
    struct Tick {
        QTimer* timer = nullptr;
        int users = 0;
    };
    std::map<int, Tick> ticks_;
};

class CPeakMeterCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPeakMeterCtrl(QWidget* parent = nullptr);
    ~CPeakMeterCtrl() override;

    struct Band {
        int value = 0;
        int peak = 0;
        int hold = 0;
    };

    void SetMeterBands(int bands, int leds);
    void SetRange(int range, int greenEnd, int yellowEnd);
    void SetHorizontal(bool horizontal);
    void SetBackgroundColour(const QColor& c);
    void SetPeakLine(bool on);
    void SetPeakHold(int ticks) { peakHold_ = ticks; }
    // Values for bands first .. first + count - 1, clamped to 0 .. range.
    void SetData(const int* values, int first, int count);
    void Start(int periodMs);
    void Stop();
    bool running() const;
    // One tick of the decay (the timer calls it).
    void DecayStep();

    const std::vector<Band>& bands() const { return bands_; }
    int range() const { return range_; }
    int ledCount() const { return leds_; }
    // LEDs lit for a value.
    int litLeds(int value) const { return range_ ? leds_ * value / range_ : 0; }
    // What a paint shows: lit LEDs and peak line of each band.
    std::vector<std::pair<int, int>> shown() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool horizontal_ = false;
    QColor background_;
    int range_ = 230, greenEnd_ = 180, yellowEnd_ = 200;
    int leds_ = 8;
    int peakHold_ = 10;
    bool peakLine_ = true;
    int period_ = 10;
    bool started_ = false; // Start() called and no Stop() since: new data restarts the decay
    // Member of its parent's decay clock, at period_, while falling.
    bool joined_ = false;
    int joinedPeriod_ = 0;
    QPointer<PeakMeterClock> clock_;
    QMetaObject::Connection decay_;
    void joinClock();
    void leaveClock();
    std::vector<Band> bands_;
};

} // namespace q7
