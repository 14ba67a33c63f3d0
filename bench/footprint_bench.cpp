// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's footprint as a user meets it, on wall time against the simulated amplifier:
//   - start-up: from the process start to the main window's first paint (target < 300 ms);
//   - idle CPU: a share of one core while connected with the level poll and meters running,
//     over 10 s (target < 1 %);
//   - resident memory after the synchronisation (target < 80 MB).
// Prints the numbers and exits 1 when one misses. Run by tools/measure (under Xvfb when it is
// installed, offscreen otherwise). The profile is a temporary one.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace q7;

namespace {

// Milliseconds since this process started, from the kernel's record of its start.
double msSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && rest >> field; ++i)
        if (i == 22)
            start = std::stoull(field);
    std::ifstream up("/proc/uptime");
    double uptime = 0;
    up >> uptime;
    return (uptime - double(start) / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

double residentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU ticks of each thread (name, ticks), to tell where idle time goes.
std::map<int, std::pair<std::string, long>> threadTicks() {
    std::map<int, std::pair<std::string, long>> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(e.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i == 14 || i == 15)
                ticks += std::stol(field);
        out[std::stoi(e.path().filename().string())] = {text.substr(open + 1, close - open - 1),
                                                        ticks};
    }
    return out;
}

struct FirstPaint : QObject {
    double atMs = -1;
    QElapsedTimer sinceMain;
    double mainAtMs = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && atMs < 0)
            atMs = mainAtMs + double(sinceMain.nsecsElapsed()) / 1e6;
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    FirstPaint paint;
    paint.sinceMain.start();
    paint.mainAtMs = msSinceProcessStart(); // kernel ticks: 10 ms steps
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;

    QApplication app(argc, argv);
    QApplication::setApplicationName("DSP-Q7-v1.1");
    QApplication::setOrganizationName("DSP_2060_V2.5");
    installFontSubstitutions();
    QApplication::setFont(songti(13));
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    EditorOptions options;
    // A second argument adds simulator options ("quiet": nothing playing, the meters at rest).
    options.simulator =
        std::string("latency_us=1000") + (argc > 2 ? std::string(",") + argv[2] : "");
    options.profile = &profile;
    Editor editor(options);
    app.installEventFilter(&paint);
    if (!editor.InitInstance())
        return 2;
    QElapsedTimer waited;
    waited.start();
    while (paint.atMs < 0 && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    app.removeEventFilter(&paint);

    // Connected and synchronised (the simulated amplifier arrives after a second).
    waited.restart();
    auto connected = [&] {
        return editor.linkOpen() && !editor.frame()->view().syncDialog() &&
               !editor.connection().session.workerRunning() &&
               editor.frame()->view().levelPollRunning();
    };
    while (!connected() && waited.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!connected()) {
        std::fprintf(stderr, "the simulated amplifier did not connect\n");
        return 2;
    }
    // Let the level poll come back after the transfer.
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    const double rss = residentMb();

    const auto ticks0 = threadTicks();
    const double cpu0 = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QEventLoop loop;
    QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = (cpuSeconds() - cpu0) / (double(idle.nsecsElapsed()) / 1e9) * 100.0;

    for (const auto& [tid, t] : threadTicks()) {
        const auto before = ticks0.find(tid);
        const long d = t.second - (before == ticks0.end() ? 0 : before->second.second);
        if (d > 0)
            std::printf("  thread %-7d %-16s %ld ticks%s\n", tid, t.first.c_str(), d,
                        tid == getpid() ? " (GUI)" : "");
    }
    std::printf("platform           %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("first paint        %.0f ms   (target < 300)\n", paint.atMs);
    std::printf("idle CPU           %.2f %% of a core over %d s   (target < 1)\n", cpu,
                idleSeconds);
    std::printf("resident after sync %.1f MB   (target < 80)\n", rss);
    const bool ok = paint.atMs >= 0 && paint.atMs < 300 && cpu < 1.0 && rss < 80.0;
    editor.shutDownLink();
    return ok ? 0 : 1;
}
