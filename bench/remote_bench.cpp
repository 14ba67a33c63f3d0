// SPDX-License-Identifier: GPL-3.0-or-later
// The remote server under a room full of phones, on wall time: 50 WebSocket clients connected to
// q7ctl serve's host on the simulated amplifier (1 ms a report), one of them moving the mic
// volume at 30 changes a second. Prints: whether every client saw every change; phone edit →
// report on the wire (median, p99, max); the longest stall of the server's event loop; the
// memory the server adds (resident, before the server is made → after the run).
// The clients run in a child process, so that their own work and memory count for neither
// figure; both processes read the same monotonic clock. Run it by hand:
// build/default/bench/remote_bench [--changes N]
#include "cli/serve_daemon.h"
#include "device/connection.h"
#include "protocol/trace.h"
#include "remote/server.h"
#include "sim/simulated_amplifier.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace q7;

namespace {

constexpr int kClients = 50;
constexpr int kRatePerSecond = 30;
constexpr const char* kPin = "314159";

// This thread's own CPU time: what other programs on a loaded machine do not inflate.
double cpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Resident memory in kB: all of it (VmRSS), or only the process's own (RssAnon: the heap and
// stacks, without the pages of shared libraries that other Qt programs share).
long residentKb(const char* field = "VmRSS:") {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return 0;
}

int valueOf(int change) {
    return 10 + change % 80; // each differs from the one before
}

// ---- the clients (child process) ----
// Writes "sent K MS" for each change and "seen CLIENT K MS" for each change a client saw, then
// "done".
int runClients(int port, int changes, FILE* results) {
    int argc = 1;
    char name[] = "remote_bench_clients";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString base = QString("http://127.0.0.1:%1/").arg(port);

    QNetworkAccessManager net;
    QNetworkRequest login{QUrl(base + "api/v1/login")};
    login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* reply = net.post(login, QByteArray(R"({"pin": ")") + kPin + "\"}");
    QEventLoop wait;
    QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    wait.exec();
    const QString token = QJsonDocument::fromJson(reply->readAll()).object()["token"].toString();
    if (token.isEmpty()) {
        std::fprintf(stderr, "remote_bench: login failed\n");
        return 1;
    }

    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<int> next(kClients, 0); // the next change each client expects
    bool moving = false;
    int connected = 0, finished = 0;
    for (int i = 0; i < kClients; ++i) {
        auto ws = std::make_unique<QWebSocket>();
        QObject::connect(ws.get(), &QWebSocket::connected, [&] { ++connected; });
        QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&, i](const QString& text) {
            if (!moving)
                return; // the first push of every parameter, on connecting
            const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
            if (o["type"] != "changed" || !o["params"].toObject().contains("mic.volume"))
                return;
            const int v = o["params"].toObject()["mic.volume"].toInt();
            // Every change in order: a skipped one shows as a count short at the end.
            while (next[i] < changes && valueOf(next[i]) != v)
                ++next[i];
            if (next[i] < changes) {
                std::fprintf(results, "seen %d %d %.3f\n", i, next[i], nowMs());
                if (++next[i] == changes)
                    ++finished;
            }
        });
        QNetworkRequest r{QUrl(QString("ws://127.0.0.1:%1/api/v1/ws").arg(port))};
        r.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        ws->open(r);
        sockets.push_back(std::move(ws));
    }
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, &wait, [&] {
        if (connected == kClients)
            wait.quit();
    });
    ready.start(5);
    QTimer::singleShot(20000, &wait, &QEventLoop::quit);
    wait.exec();
    ready.stop();
    if (connected != kClients) {
        std::fprintf(stderr, "remote_bench: %d of %d clients connected (%s)\n", connected, kClients,
                     qPrintable(sockets[0]->errorString()));
        std::fprintf(results, "done\n");
        return 1;
    }
    // Let the first full push of every parameter go by before moving the slider.
    QTimer::singleShot(500, &wait, &QEventLoop::quit);
    wait.exec();
    moving = true;

    int change = 0;
    QTimer slider;
    slider.setTimerType(Qt::PreciseTimer);
    QObject::connect(&slider, &QTimer::timeout, [&] {
        if (change == changes) {
            slider.stop();
            return;
        }
        const QByteArray msg = QByteArray(R"({"type":"set","params":{"mic.volume":)") +
                               QByteArray::number(valueOf(change)) + "}}";
        std::fprintf(results, "sent %d %.3f\n", change, nowMs());
        sockets[0]->sendTextMessage(QString::fromUtf8(msg));
        ++change;
    });
    slider.start(1000 / kRatePerSecond);
    QTimer end;
    QObject::connect(&end, &QTimer::timeout, &wait, [&] {
        if (finished == kClients)
            wait.quit();
    });
    end.start(10);
    // A client that misses a change never finishes: give up two seconds after the last one.
    QTimer::singleShot(changes * 1000 / kRatePerSecond + 2000, &wait, &QEventLoop::quit);
    wait.exec();
    std::fprintf(results, "done\n");
    std::fflush(results);
    return 0;
}

// A host that notes when each edit reached it, around the daemon's.
class TimedHost final : public RemoteHost {
public:
    explicit TimedHost(DaemonHost& host) : host_(host) {}
    ModeImage settings() const override { return host_.settings(); }
    bool apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
               std::string& error) override {
        const double t = nowMs(), cpu = cpuMs();
        applied.push_back(t);
        const bool ok = host_.apply(values, who, error);
        longestApply = std::max(longestApply, nowMs() - t);
        longestApplyCpu = std::max(longestApplyCpu, cpuMs() - cpu);
        return ok;
    }
    RemoteStatus status() const override { return host_.status(); }
    bool recallMode(int mode, const RemoteOrigin& who, std::string& error) override {
        return host_.recallMode(mode, who, error);
    }
    std::string modeFile() const override { return host_.modeFile(); }
    bool putModeFile(const std::string& bytes, const RemoteOrigin& who,
                     std::string& error) override {
        return host_.putModeFile(bytes, who, error);
    }
    std::vector<double> applied;
    double longestApply = 0, longestApplyCpu = 0;

private:
    DaemonHost& host_;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv) {
    int changes = 300; // ten seconds of a moving slider
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--changes") == 0)
            changes = std::max(1, std::atoi(argv[i + 1]));

    int portPipe[2], resultPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(resultPipe) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(portPipe[1]);
        ::close(resultPipe[0]);
        int port = 0;
        if (::read(portPipe[0], &port, sizeof port) != sizeof port)
            ::_exit(1);
        FILE* results = ::fdopen(resultPipe[1], "w");
        ::_exit(runClients(port, changes, results));
    }
    ::close(portPipe[0]);
    ::close(resultPipe[1]);

    QCoreApplication app(argc, argv);
    SystemClock clock;
    Clock::Participant participant(clock);
    SimOptions options;
    options.latencyUs = 1000;
    SimulatedAmplifier amp(clock, options);
    ParameterStore store;
    Connection c(amp, clock, store);
    TraceWriter trace;
    std::mutex wireMutex;
    std::vector<double> wire; // when each report of an edit left
    const Report levelPoll = shortCommand(CMD_GET_LEVELS);
    trace.setListener([&](const TraceLine& l) {
        if (l.direction != Direction::ToAmplifier || l.report == levelPoll)
            return;
        const double t = nowMs();
        std::lock_guard lock(wireMutex);
        wire.push_back(t);
    });
    c.link.setTrace(&trace);
    c.session.settleMs = 0;
    if (!c.link.OpenLink().opened) {
        std::fprintf(stderr, "remote_bench: the simulator did not open\n");
        return 1;
    }
    c.session.SynchronizeData();
    if (c.session.CheckConnection() != CheckResult::Passed) {
        std::fprintf(stderr, "remote_bench: the simulator's settings were not read\n");
        return 1;
    }
    {
        std::lock_guard lock(wireMutex);
        wire.clear();
    }

    DaemonHost daemon(c);
    TimedHost host(daemon);
    const long before = residentKb(), beforeAnon = residentKb("RssAnon:");
    RemoteServer server(host, clock);
    RemoteConfig config;
    config.ownerPin = kPin;
    server.setConfig(config);
    double longestChangePush = 0;
    daemon.changed = [&] {
        QTimer::singleShot(0, &server, [&] {
            const double t = nowMs();
            server.settingsChanged();
            longestChangePush = std::max(longestChangePush, nowMs() - t);
        });
    };
    QString error;
    if (!server.listen("127.0.0.1:0", &error)) {
        std::fprintf(stderr, "remote_bench: %s\n", qPrintable(error));
        return 1;
    }
    const long listening = residentKb(), listeningAnon = residentKb("RssAnon:");
    const int port = server.port();
    if (::write(portPipe[1], &port, sizeof port) != sizeof port)
        return 1;

    // As the daemon runs: the level poll and its pushes every 300 ms.
    QTimer levels;
    double longestPush = 0;
    QObject::connect(&levels, &QTimer::timeout, [&] {
        const double t = nowMs();
        daemon.pollLevels();
        server.levelsChanged();
        server.settingsChanged();
        longestPush = std::max(longestPush, nowMs() - t);
    });
    levels.start(300);
    // The event loop's longest stall: the gap between ticks of a 1 ms timer, less the 1 ms.
    // Kept apart: while the 50 clients connect (each takes every parameter at once), and while
    // the slider moves.
    double lastTick = nowMs(), connectStall = 0, stall = 0;
    std::atomic<bool> moving{false};
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double t = nowMs();
        double& worst = moving ? stall : connectStall;
        worst = std::max(worst, t - lastTick - 1.0);
        lastTick = t;
    });
    // The clients' results come on the pipe; the run ends when they say done.
    FILE* results = ::fdopen(resultPipe[0], "r");
    std::vector<double> sent(std::size_t(changes), -1);
    std::vector<int> seenCount(kClients, 0);
    auto seenAt = std::vector<std::vector<double>>(std::size_t(changes));
    bool done = false;
    long peak = listening;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { peak = std::max(peak, residentKb()); });
    watch.start(100);
    std::thread reader([&] {
        char line[128];
        while (std::fgets(line, sizeof line, results)) {
            int client = 0, k = 0;
            double t = 0;
            if (std::sscanf(line, "sent %d %lf", &k, &t) == 2 && k >= 0 && k < changes) {
                sent[std::size_t(k)] = t;
                moving = true;
            } else if (std::sscanf(line, "seen %d %d %lf", &client, &k, &t) == 3 && client >= 0 &&
                       client < kClients && k >= 0 && k < changes) {
                ++seenCount[std::size_t(client)];
                seenAt[std::size_t(k)].push_back(t);
            } else if (std::strncmp(line, "done", 4) == 0) {
                break;
            }
        }
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                done = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    ticker.start(1);
    loop.exec();
    reader.join();
    const long after = residentKb(), afterAnon = residentKb("RssAnon:");
    int status = 0;
    ::waitpid(child, &status, 0);
    server.close();

    // Each edit's first report after it reached the host is its report on the wire.
    std::vector<double> editToWire, editToClients;
    {
        std::lock_guard lock(wireMutex);
        std::size_t w = 0;
        for (std::size_t k = 0; k < host.applied.size() && k < sent.size(); ++k) {
            while (w < wire.size() && wire[w] < host.applied[k])
                ++w;
            if (w < wire.size() && sent[k] >= 0)
                editToWire.push_back(wire[w] - sent[k]);
        }
    }
    for (std::size_t k = 0; k < seenAt.size(); ++k)
        for (const double t : seenAt[k])
            if (sent[k] >= 0)
                editToClients.push_back(t - sent[k]);
    const int complete = int(std::count(seenCount.begin(), seenCount.end(), changes));
    std::printf("remote_bench: %d WebSocket clients, %d mic volume changes at %d a second, "
                "simulator at 1 ms a report\n",
                kClients, changes, kRatePerSecond);
    std::printf("  clients that saw every change: %d of %d (fewest seen: %d)\n", complete, kClients,
                *std::min_element(seenCount.begin(), seenCount.end()));
    std::printf("  edits that reached the host: %zu; reports on the wire for them: %zu\n",
                host.applied.size(), editToWire.size());
    std::printf("  phone edit -> report on the wire: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(editToWire, 0.5), percentile(editToWire, 0.99),
                percentile(editToWire, 1.0));
    std::printf("  phone edit -> change seen by a client: median %.2f ms, p99 %.2f ms\n",
                percentile(editToClients, 0.5), percentile(editToClients, 0.99));
    std::printf("  longest stall of the server's event loop: %.2f ms while the slider moved, "
                "%.2f ms while the clients connected\n",
                stall, connectStall);
    std::printf("  an edit's own CPU time on the loop: at most %.2f ms\n", host.longestApplyCpu);
    std::printf("  longest on the loop: an edit applied %.2f ms, a change pushed %.2f ms, a level "
                "tick %.2f ms\n",
                host.longestApply, longestChangePush, longestPush);
    std::printf("  resident memory: %.1f MB before the server, +%.2f MB listening, +%.2f MB "
                "after the run (peak +%.2f MB)\n",
                double(before) / 1024, double(listening - before) / 1024,
                double(after - before) / 1024, double(peak - before) / 1024);
    std::printf("  of it the process's own (heap, stacks): +%.2f MB listening, +%.2f MB after "
                "the run\n",
                double(listeningAnon - beforeAnon) / 1024, double(afterAnon - beforeAnon) / 1024);
    return complete == kClients ? 0 : 1;
}
