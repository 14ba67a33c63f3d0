// SPDX-License-Identifier: GPL-3.0-or-later
// The window's responsiveness while the user drags a ribbon volume slider, on wall time against
// the simulated amplifier:
//   - healthy (1 ms per report): how long from a mouse move to its report leaving;
//   - slow (every fifth reply lost, 2500 ms each): the longest the event loop stalls.
// Prints its measurements; run it by hand (build/default/bench/gui_stall_bench). With
// --window-waits the window writes as the single-threaded link did (each write waiting for the
// last reply on the window's thread), for comparison.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "protocol/trace.h"
#include "real_input.h"
#include "sim/simulated_amplifier.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

using namespace q7;

namespace {

struct SilentPrompter final : Prompter {
    Answer ask(QWidget*, const QString&, const QString&, bool) override { return Answer::No; }
    void tell(QWidget*, BoxIcon, const QString&, const QString& text) override {
        std::fprintf(stderr, "box: %s\n", text.toLocal8Bit().constData());
    }
    QString openFile(QWidget*, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
};

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

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
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    SystemClock clock;
    SimOptions healthy;
    healthy.latencyUs = 1000;
    SimulatedAmplifier sim(clock, healthy);
    SilentPrompter prompter;
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
    editor.shutDownLink();
    return 0;
}
