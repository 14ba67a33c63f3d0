// SPDX-License-Identifier: GPL-3.0-or-later
// The long lossy run on wall time: the editor against a simulated amplifier that loses every
// 37th reply and garbles every 53rd, driven through page edits, file loads (by the ribbon and
// handed over during transfers) and A/B switches. Prints the thread count after every step
// (it must not grow) and the event loop's longest stall (goal: under 20 ms), and names each
// event that worked over 10 ms of CPU or waited (a lock, the disk) over 10 ms, and each gap
// over 20 ms with how much of it the thread worked, waited or was kept off its core. On a
// loaded machine the wall-clock stall measures the machine; the CPU figure measures us.
// Run by hand: build/default/bench/transfer_soak_bench [steps].
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "bench_prompter.h"
#include "params/mode_file.h"
#include "real_input.h"
#include "sim/simulated_amplifier.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/resource.h>

using namespace q7;

namespace {

// The GUI thread's CPU time and how often it gave up its core (waited for a lock, a file, a
// reply) or had it taken (a loaded machine).
struct ThreadUse {
    double cpuMs;
    long waits;
    long preempted;
    static ThreadUse now() {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return {(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                    (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3,
                u.ru_nvcsw, u.ru_nivcsw};
    }
};

// Names every event that holds the loop: by the work it does (CPU) and by what it waited
// for, apart from the time a loaded machine keeps the thread off its core.
class TimingApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer t;
        t.start();
        const ThreadUse before = ThreadUse::now();
        const int type = int(event->type());
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (depth_ > 0)
            return result;
        const double ms = t.nsecsElapsed() / 1e6;
        const ThreadUse after = ThreadUse::now();
        const double cpu = after.cpuMs - before.cpuMs;
        const long waits = after.waits - before.waits;
        longestCpuMs = std::max(longestCpuMs, cpu);
        if (cpu > 10 || (waits > 0 && ms > 10))
            std::printf("  event %d to %s \"%s\": %.1f ms, %.1f ms CPU, waited %ld times, "
                        "preempted %ld\n",
                        type, receiver->metaObject()->className(),
                        receiver->objectName().toLocal8Bit().constData(), ms, cpu, waits,
                        after.preempted - before.preempted);
        return result;
    }
    double longestCpuMs = 0;

private:
    int depth_ = 0;
};

int threadCount() {
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TimingApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 24;
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    SystemClock clock;
    SimOptions lossy;
    lossy.latencyUs = 1000;
    lossy.dropEvery = 37;
    lossy.garbageEvery = 53;
    SimulatedAmplifier sim(clock, lossy);
    BenchPrompter prompter;
    prompter.answer = Answer::Yes; // the offer to send the editor's settings again sends them
    EditorOptions o;
    o.clock = &clock;
    o.backend = &sim;
    o.prompter = &prompter;
    o.profile = &profile;
    Editor editor(o);
    editor.InitInstance();

    double last = clock.nowMs(), longest = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setObjectName("heartbeat");
    ThreadUse lastUse = ThreadUse::now();
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double now = clock.nowMs();
        const ThreadUse use = ThreadUse::now();
        // A long gap made of short events: say whether the thread worked, waited or was kept
        // off its core.
        if (now - last > 20)
            std::printf("  gap %.1f ms: %.1f ms CPU, waited %ld times, preempted %ld\n", now - last,
                        use.cpuMs - lastUse.cpuMs, use.waits - lastUse.waits,
                        use.preempted - lastUse.preempted);
        longest = std::max(longest, now - last);
        last = now;
        lastUse = use;
    });
    heartbeat.start(1);

    CHX2060v13View& view = *editor.view();
    auto idle = [&] { return editor.linkOpen() && !view.syncDialog() && !view.transferBusy(); };
    auto pumpUntilIdle = [&](int limitMs) {
        QElapsedTimer t;
        t.start();
        while (!idle() && t.elapsed() < limitMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return idle();
    };
    if (!pumpUntilIdle(120000)) {
        std::fprintf(stderr, "not connected\n");
        return 1;
    }
    QString files[2];
    for (int i = 0; i < 2; ++i) {
        ParameterStore file;
        file.applyModeImage(editor.store().modeImage());
        file.setCellInt(58, 30 + 25 * i);
        files[i] = dir.filePath(QString("f%1.q7M").arg(i));
        writeModeFile(files[i].toStdString(), file);
    }
    const int threads = threadCount();
    int most = threads;
    std::printf("connected; %d threads\n", threads);
    std::mt19937 random(21);
    QElapsedTimer run;
    run.start();
    Ribbon& ribbon = editor.frame()->ribbon();
    for (int step = 0; step < steps; ++step) {
        const int what = int(random() % 4);
        const double before = longest, beforeCpu = app.longestCpuMs;
        longest = 0;
        app.longestCpuMs = 0;
        QElapsedTimer command;
        command.start();
        if (what == 0) {
            test::dragSliderTo(ribbon.slider(cmd::MicSlider), 60 + int(random() % 30));
        } else if (what == 1) {
            prompter.openPath = files[random() % 2];
            view.OnCommand(cmd::LoadFile);
        } else if (what == 2) {
            // Handed over by a second instance while the last load may still be running.
            editor.shellOpen(files[random() % 2]);
        } else {
            view.OnCommand(editor.edits().activeSlot() == 0 ? cmd::SlotB : cmd::SlotA);
        }
        // What a click on the command holds the loop for (it runs outside the loop here).
        const double commandMs = command.nsecsElapsed() / 1e6;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pumpUntilIdle(180000);
        const int n = threadCount();
        most = std::max(most, n);
        const char* kind = what == 0   ? "edit"
                           : what == 1 ? "load"
                           : what == 2 ? "hand-over"
                                       : "A/B";
        std::printf("step %2d (%s): %d threads, command %.1f ms, longest stall %.1f ms, longest "
                    "event %.1f ms CPU, %.0f s\n",
                    step, kind, n, commandMs, longest, app.longestCpuMs, run.elapsed() / 1000.0);
        longest = std::max(longest, before);
        app.longestCpuMs = std::max(app.longestCpuMs, beforeCpu);
        std::fflush(stdout);
    }
    std::printf("%d steps in %.0f s: threads %d at the start, at most %d; boxes %d; longest "
                "event %.1f ms CPU; longest "
                "event-loop stall %.1f ms (goal: under 20 ms)\n",
                steps, run.elapsed() / 1000.0, threads, most, prompter.told, app.longestCpuMs,
                longest);
    return 0;
}
