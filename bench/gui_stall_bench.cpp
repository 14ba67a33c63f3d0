// SPDX-License-Identifier: GPL-3.0-or-later
// The window's responsiveness on wall time against the simulated amplifier:
//   - dragging a ribbon volume slider, healthy (1 ms per report): how long from a mouse move to
//     its report leaving;
//   - the same with every fifth reply lost (2500 ms each): the longest the event loop stalls;
//   - unmuting the music (a fade of nine steps 30 ms apart) and storing a device mode (a half
//     second before the next report): the longest the event loop stalls;
//   - level checks, sweeps and a two-position average from the Measure dialog: the longest the
//     event loop stalls over the run and around its end (the result taken in), how much of that
//     the window's thread worked, and the longest single event on the window's thread (its own
//     CPU time, which other programs on a loaded machine do not inflate, and its wall time).
// Prints its measurements; run it by hand (build/default/bench/gui_stall_bench). With
// --window-waits the window writes as the single-threaded link did (each write waiting for the
// last reply on the window's thread), for comparison; with --measure-only it runs only the
// Measure dialog's cases; --measure-only --events adds the events of each case's longest gaps
// and what showing a result costs, piece by piece.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "bench_prompter.h"
#include "controls/eq_panel.h"
#include "pages/measure_dialog.h"
#include "pages/page.h"
#include "protocol/trace.h"
#include "real_input.h"
#include "sim/simulated_amplifier.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace q7;

namespace {

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// This thread's CPU time so far, how often the machine took its core away, and how many pages
// it touched for the first time (fresh memory costs a fault each).
struct ThreadUse {
    double cpuMs = 0;
    long preempted = 0;
    long faults = 0;
    long waits = 0; // the thread gave its core up: a lock, a wait, the disk
    static ThreadUse now() {
        // The CPU time from the thread's clock: getrusage() counts it in scheduler ticks.
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return {ts.tv_sec * 1e3 + ts.tv_nsec / 1e6, u.ru_nivcsw, u.ru_minflt, u.ru_nvcsw};
    }
};

// The event loop's gaps while it lives, seen by a 1 ms timer: when each began, how long it was,
// how much of it the window's thread worked and how often the machine took its core away.
class GapMeter {
public:
    struct Gap {
        double from = 0, ms = 0, cpuMs = 0;
        long preempted = 0;
        QString use() const {
            return QString("%1 ms of it CPU, %2 times off its core")
                .arg(cpuMs, 0, 'f', 1)
                .arg(preempted);
        }
    };
    explicit GapMeter(Clock& clock)
        : clock_(clock), last_(clock.nowMs()), lastUse_(ThreadUse::now()) {
        heartbeat_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat_, &QTimer::timeout, [this] {
            const double now = clock_.nowMs();
            const ThreadUse use = ThreadUse::now();
            if (now - last_ >= 2)
                gaps_.push_back({last_, now - last_, use.cpuMs - lastUse_.cpuMs,
                                 use.preempted - lastUse_.preempted});
            last_ = now;
            lastUse_ = use;
        });
        heartbeat_.start(1);
    }
    // The longest gap that began within [from, to).
    Gap longest(double from = -1e300, double to = 1e300) const {
        Gap out;
        for (const Gap& g : gaps_)
            if (g.from >= from && g.from < to && g.ms > out.ms)
                out = g;
        return out;
    }

private:
    Clock& clock_;
    double last_;
    ThreadUse lastUse_;
    std::vector<Gap> gaps_;
    QTimer heartbeat_;
};

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Times every event the window's thread handles (outermost only): the longest by wall time and
// by the thread's own CPU time, which a loaded machine does not inflate, and what it was.
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* e) override {
        if (depth_++ > 0 || !timing_) {
            const bool r = QApplication::notify(receiver, e);
            --depth_;
            return r;
        }
        QElapsedTimer wall;
        wall.start();
        const double at = clock_ ? clock_->nowMs() : 0;
        const ThreadUse before = ThreadUse::now();
        const QString name =
            QString("%1 %2").arg(receiver->metaObject()->className()).arg(int(e->type()));
        const bool r = QApplication::notify(receiver, e);
        const ThreadUse after = ThreadUse::now();
        const double cpu = after.cpuMs - before.cpuMs;
        const double ms = wall.nsecsElapsed() / 1e6;
        if (cpu > longestCpu_) {
            longestCpu_ = cpu;
            longestWall_ = ms;
            what_ = name;
        }
        if (ms >= 1.0)
            events_.push_back({at, ms, cpu, after.faults - before.faults,
                               after.waits - before.waits, after.preempted - before.preempted,
                               name});
        --depth_;
        return r;
    }
    void startTiming(Clock& clock) {
        timing_ = true;
        clock_ = &clock;
        longestCpu_ = longestWall_ = 0;
        what_.clear();
        events_.clear();
    }
    // The events of 1 ms or more that began within [from, to) on the clock.
    QString eventsIn(double from, double to) const {
        QString out;
        for (const Event& ev : events_)
            if (ev.at >= from && ev.at < to)
                out += QString("\n    +%1 ms: %2 ms wall, %3 ms CPU, %4 page faults, waited %5 "
                               "times, off its core %6 times, %7")
                           .arg(ev.at - from, 0, 'f', 1)
                           .arg(ev.wall, 0, 'f', 1)
                           .arg(ev.cpu, 0, 'f', 1)
                           .arg(ev.faults)
                           .arg(ev.waits)
                           .arg(ev.preempted)
                           .arg(ev.what);
        return out;
    }
    // The event that took the window's thread the longest since startTiming().
    QString longest() const {
        return QString("%1 ms of CPU (%2 ms wall) in %3")
            .arg(longestCpu_, 0, 'f', 1)
            .arg(longestWall_, 0, 'f', 1)
            .arg(what_);
    }

private:
    struct Event {
        double at, wall, cpu;
        long faults, waits, preempted;
        QString what;
    };
    int depth_ = 0;
    bool timing_ = false;
    Clock* clock_ = nullptr;
    std::vector<Event> events_;
    double longestCpu_ = 0, longestWall_ = 0;
    QString what_;
};

struct Stats {
    double max = 0, median = 0, p99 = 0;
};
Stats stats(std::vector<double> v) {
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    return {v.back(), v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TimedApp app(argc, argv);
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    SystemClock clock;
    SimOptions healthy;
    healthy.latencyUs = 1000;
    SimulatedAmplifier sim(clock, healthy);
    BenchPrompter prompter;
    EditorOptions o;
    o.clock = &clock;
    o.backend = &sim;
    o.prompter = &prompter;
    o.profile = &profile;
    Editor editor(o);

    // Every report's departure, on the clock the link uses.
    std::mutex mutex;
    std::vector<double> departures;
    TraceWriter trace;
    trace.setListener([&](const TraceLine& t) {
        if (t.direction != Direction::ToAmplifier || t.report[1] != CMD_DSP_WRITE)
            return;
        std::lock_guard l(mutex);
        departures.push_back(clock.nowMs());
    });
    editor.connection().link.setTrace(&trace);
    if (argc > 1 && std::string(argv[1]) == "--window-waits")
        editor.connection().link.setNonWaitingThread({});
    editor.InitInstance();

    QElapsedTimer wait;
    wait.start();
    while (!(editor.linkOpen() && !editor.view()->syncDialog() &&
             !editor.connection().session.workerRunning()) &&
           wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!editor.linkOpen()) {
        std::fprintf(stderr, "not connected\n");
        return 1;
    }
    pump(1000);
    // The machine's load: the gaps below are wall time, which other programs lengthen.
    if (QFile loadavg("/proc/loadavg"); loadavg.open(QIODevice::ReadOnly))
        std::printf("load average %s\n", loadavg.readLine().trimmed().constData());
    const bool measureOnly = argc > 1 && std::string(argv[1]) == "--measure-only";
    const bool showEvents = argc > 2 && std::string(argv[2]) == "--events";
    QSlider* mic = editor.frame()->ribbon().slider(cmd::MicSlider);

    // Back and forth between 20 and 90, one move a frame, for `seconds`; returns each move's
    // time and the event loop's longest gap meanwhile.
    auto dragFor = [&](double seconds, std::vector<double>& moves, double& longestGap) {
        double last = clock.nowMs();
        longestGap = 0;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const double now = clock.nowMs();
            longestGap = std::max(longestGap, now - last);
            last = now;
        });
        heartbeat.start(1);
        QTest::mousePress(mic, Qt::LeftButton, Qt::NoModifier,
                          test::sliderPointFor(mic, mic->value()));
        const double end = clock.nowMs() + seconds * 1000;
        int v = mic->value(), step = 1;
        while (clock.nowMs() < end) {
            v += step;
            if (v >= 90 || v <= 20)
                step = -step;
            moves.push_back(clock.nowMs());
            QTest::mouseMove(mic, test::sliderPointFor(mic, v));
            pump(16);
        }
        QTest::mouseRelease(mic, Qt::LeftButton, Qt::NoModifier, test::sliderPointFor(mic, v));
        heartbeat.stop();
    };

    if (!measureOnly) {
        std::vector<double> moves;
        double gap = 0;
        {
            std::lock_guard l(mutex);
            departures.clear();
        }
        dragFor(5, moves, gap);
        pump(500);
        std::vector<double> latency;
        {
            // Each move sends two writes; the first one after the move is its report.
            std::lock_guard l(mutex);
            std::size_t j = 0;
            for (double m : moves) {
                while (j < departures.size() && departures[j] < m)
                    ++j;
                if (j < departures.size() && departures[j] - m < 16)
                    latency.push_back(departures[j] - m);
            }
        }
        const Stats quick = stats(latency);
        std::printf("healthy 1 ms amplifier: %zu moves, move -> report leaving: median %.3f ms, "
                    "p99 %.3f ms, max %.3f ms; longest event-loop gap %.1f ms\n",
                    moves.size(), quick.median, quick.p99, quick.max, gap);

        sim.setDropEvery(5);
        moves.clear();
        dragFor(5, moves, gap);
        std::printf("every fifth reply lost: %zu moves in 5 s, longest event-loop gap %.1f ms "
                    "(goal: under 20 ms)\n",
                    moves.size(), gap);
        sim.setDropEvery(0);
        pump(3000); // the lost replies' waits run out

        // The music mute, clicked as a user does: each unmute fades the music in.
        QCheckBox* mute = editor.frame()->ribbon().check(cmd::MusicMute);
        const QPoint box = mute->rect().center();
        double fadeGap = 0;
        {
            GapMeter meter(clock);
            for (int i = 0; i < 10; ++i) {
                QTest::mouseClick(mute, Qt::LeftButton, Qt::NoModifier, box); // mute
                pump(100);
                QTest::mouseClick(mute, Qt::LeftButton, Qt::NoModifier, box); // unmute: the fade
                pump(400);
            }
            fadeGap = meter.longest().ms;
        }
        std::printf("music unmuted 10 times (nine fade steps 30 ms apart): longest event-loop gap "
                    "%.1f ms (goal: under 20 ms)\n",
                    fadeGap);

        // Storing a device mode: the amplifier gets half a second before the next report.
        prompter.answer = Answer::Yes;
        double storeGap = 0;
        {
            GapMeter meter(clock);
            for (int i = 0; i < 3; ++i) {
                editor.frame()->ribbon().action(cmd::SaveModeFirst)->trigger();
                pump(800);
            }
            storeGap = meter.longest().ms;
        }
        prompter.answer = Answer::No;
        std::printf("stored into a device mode 3 times (500 ms before the next report): longest "
                    "event-loop gap %.1f ms (goal: under 20 ms)\n",
                    storeGap);
    }

    // A measurement from the Output tab: the level check and a 3 s sweep through the simulated
    // room, with the mutes switched over the link, while the window keeps running.
    editor.frame()->ribbon().setActiveCategory(kOutputCategory);
    editor.frame()->ribbon().button(cmd::Measure)->click();
    pump(100);
    CMeasureDlg* measure = editor.frame()->findChild<CMeasureDlg*>("MeasureDialog");
    if (!measure) {
        std::fprintf(stderr, "no measure dialog\n");
        return 1;
    }
    // Each run: the event loop's longest gap, the longest around the run's end (the result
    // taken in), and the longest single event on its thread.
    struct Run {
        GapMeter::Gap gap, end;
        QString event;
    };
    auto runs = [&](QPushButton* start) {
        GapMeter meter(clock);
        app.startTiming(clock);
        const ThreadUse before = ThreadUse::now();
        start->click();
        if (showEvents)
            std::printf("  the click: %.1f ms of CPU\n", ThreadUse::now().cpuMs - before.cpuMs);
        QElapsedTimer t;
        t.start();
        while (measure->busy() && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double ended = clock.nowMs();
        pump(300);
        Run r{meter.longest(), meter.longest(ended - 150, ended + 300), app.longest()};
        // With --events: what the window's thread did during the longest gap and the end's.
        if (showEvents) {
            r.event += app.eventsIn(r.gap.from, r.gap.from + r.gap.ms);
            if (r.end.from != r.gap.from)
                r.event += "\n  at the end:" + app.eventsIn(r.end.from, r.end.from + r.end.ms);
        }
        return r;
    };
    for (int i = 0; i < 2; ++i) {
        const Run r = runs(measure->checkButton());
        std::printf("measure dialog, level check: longest event-loop gap %.1f ms (%s); at its "
                    "end %.1f ms (%s); longest event %s (goal: under 20 ms)\n",
                    r.gap.ms, r.gap.use().toLocal8Bit().constData(), r.end.ms,
                    r.end.use().toLocal8Bit().constData(), r.event.toLocal8Bit().constData());
    }
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer sweepTime;
        sweepTime.start();
        const Run r = runs(measure->measureButton());
        std::printf("measure dialog, 3 s sweep and its analysis (%.1f s), result %s: longest "
                    "event-loop gap %.1f ms (%s); at its end %.1f ms (%s); longest event %s "
                    "(goal: under 20 ms)\n",
                    sweepTime.elapsed() / 1000.0, measure->result().empty() ? "missing" : "shown",
                    r.gap.ms, r.gap.use().toLocal8Bit().constData(), r.end.ms,
                    r.end.use().toLocal8Bit().constData(), r.event.toLocal8Bit().constData());
    }
    // Two positions: the first one's end, then the average's.
    measure->positionsBox()->setValue(2);
    for (int i = 0; i < 2; ++i) {
        const Run r = runs(measure->measureButton());
        std::printf("measure dialog, position %d of 2%s: longest event-loop gap %.1f ms (%s); at "
                    "its end %.1f ms (%s); longest event %s (goal: under 20 ms)\n",
                    i + 1, i ? " and the average" : "", r.gap.ms,
                    r.gap.use().toLocal8Bit().constData(), r.end.ms,
                    r.end.use().toLocal8Bit().constData(), r.event.toLocal8Bit().constData());
    }
    // What showing a result costs the window's thread, piece by piece (median of 20).
    if (showEvents && !measure->result().empty()) {
        const AveragedResponse result{measure->result(), measure->spread(), {}};
        ImpulseResponse ir;
        ir.samples = measure->impulseView()->samples();
        const double peak = double(measure->impulseView()->peak());
        CEqPanel* page =
            editor.view()->currentPage() ? editor.view()->currentPage()->eqGraph() : nullptr;
        QWidget* spread = measure->preview()->findChild<QWidget*>();
        std::vector<double> show, fresh, again, layer, impulse, graph, dialog;
        auto timed = [](std::vector<double>& into, auto&& fn) {
            const double t0 = threadCpuMs();
            fn();
            into.push_back(threadCpuMs() - t0);
        };
        for (int i = 0; i < 20; ++i) {
            timed(show, [&] { measure->showResultForScreenshot(result, ir, peak); });
            timed(fresh, [&] { measure->preview()->repaint(); });
            timed(again, [&] { measure->preview()->repaint(); });
            timed(layer, [&] {
                if (spread)
                    spread->repaint();
            });
            timed(impulse, [&] { measure->impulseView()->repaint(); });
            timed(graph, [&] {
                if (page)
                    page->repaint();
            });
            timed(dialog, [&] { measure->repaint(); });
            pump(20);
        }
        auto fig = [](const std::vector<double>& v) {
            return QString("%1 (max %2)")
                .arg(stats(v).median, 0, 'f', 2)
                .arg(stats(v).max, 0, 'f', 2)
                .toStdString();
        };
        std::printf("showing a result, ms of CPU, median of 20: swap-in %s; its graph with a new "
                    "overlay %s, again %s; the spread band %s; impulse view %s; the page's graph "
                    "with a new overlay %s; the whole dialog %s\n",
                    fig(show).c_str(), fig(fresh).c_str(), fig(again).c_str(), fig(layer).c_str(),
                    fig(impulse).c_str(), fig(graph).c_str(), fig(dialog).c_str());
    }
    editor.shutDownLink();
    return 0;
}
