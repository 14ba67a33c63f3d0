// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/serve_daemon.h"

#include "cli/param_commands.h"
#include "cli/serve_command.h"
#include "device/live_levels.h"
#include "params/mode_check.h"
#include "params/mode_file.h"
#include "protocol/report.h"
#include "remote/server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace q7 {

namespace {

constexpr int kLevelPollMs = 300;       // the editor's meters' rate
constexpr int kReconnectMs = 2000;      // a lost amplifier is looked for again this often
constexpr int kReadCheckMs = 20;        // how soon the end of a read is noticed
constexpr double kRecallSettleMs = 400; // level replies still in flight end before the read

// SIGTERM and SIGINT reach the event loop through a pipe: a handler may only write.
int gSignalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

class StopSignals {
public:
    StopSignals() {
        if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, &oldTerm_);
        ::sigaction(SIGINT, &sa, &oldInt_);
        installed_ = true;
    }
    ~StopSignals() {
        if (!installed_)
            return;
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
    int fd() const { return installed_ ? gSignalPipe[0] : -1; }

private:
    bool installed_ = false;
    struct sigaction oldTerm_ {
    }, oldInt_{};
};

std::string guestsText(const RemoteConfig& c) {
    if (c.guestOpen)
        return "guests need no PIN";
    return c.guestPin.empty() ? "no guest login" : "guests log in with their PIN";
}

} // namespace

DaemonHost::DaemonHost(Connection& connection)
    : c_(connection), edits_(c_.store, c_.link, c_.clock, [this] { return connected(); }) {
    edits_.amplifierHoldsStore();
    // The event loop hands its reports to the link's writer and goes on: waiting there for the
    // amplifier's replies would hold every client up behind each edit.
    c_.link.setNonWaitingThread(std::this_thread::get_id());
}

bool DaemonHost::connected() const {
    return c_.link.isOpen() && !c_.link.readThreadEnded();
}

ModeImage DaemonHost::settings() const {
    return settingsOf(c_.store);
}

bool DaemonHost::writable(std::string& error) const {
    if (!connected()) {
        error = "no amplifier connected";
        return false;
    }
    if (reading_) {
        error = "the amplifier's settings are being read; try again in a moment";
        return false;
    }
    return true;
}

bool DaemonHost::applyImage(const ModeImage& image, const RemoteOrigin&, std::string& error) {
    const ModeImage held = settingsOf(c_.store);
    {
        EditPath::Scope step(edits_);
        applySettings(c_.store, image);
        sendSettingsDifferences(edits_.dsp(), held);
    }
    if (changed)
        changed();
    if (!edits_.amplifierKnown()) {
        // The store keeps the values (they are what was asked for); the next read puts the
        // amplifier's own back.
        error = "the amplifier did not take every report";
        return false;
    }
    return true;
}

bool DaemonHost::apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
                       std::string& error) {
    if (!writable(error))
        return false;
    ModeImage image = settingsOf(c_.store);
    for (const RemoteValue& v : values)
        if (v.param)
            applyAssignment(image, ParamAssignment{v.param, v.raw, {}});
    return applyImage(image, who, error);
}

RemoteStatus DaemonHost::status() const {
    RemoteStatus s;
    s.connected = connected();
    if (!s.connected)
        return s;
    s.model = c_.state.model();
    s.mode = mode_;
    LiveLevels levels = liveLevels(c_.store);
    s.levelsDb = std::move(levels.db);
    s.inputFormat = std::move(levels.inputFormat);
    return s;
}

bool DaemonHost::recallMode(int mode, const RemoteOrigin&, std::string& error) {
    if (mode < 1 || mode > kModeCount) {
        error = "there is no mode " + std::to_string(mode) + " (1 to 4)";
        return false;
    }
    if (!writable(error))
        return false;
    if (!c_.commands.loadMode(mode - 1)) {
        error = "the amplifier did not take the request";
        return false;
    }
    mode_ = mode;
    startReading();
    if (changed)
        changed();
    return true;
}

std::string DaemonHost::modeFile() const {
    const auto bytes = modeFileBytes(settingsOf(c_.store));
    return std::string(bytes.begin(), bytes.end());
}

bool DaemonHost::putModeFile(const std::string& bytes, const RemoteOrigin& who,
                             std::string& error) {
    if (!writable(error))
        return false;
    ModeImage image = settingsOf(c_.store);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const ModeFileResult r =
        parseModeFile(std::span<const std::uint8_t>(data, bytes.size()), image);
    if (!r) {
        error = describe(r, "the mode file");
        return false;
    }
    const ModeFileCheck checked = checkModeImage(image);
    if (checked.refused()) {
        error = "not loaded: " + describeRefusal(*checked.refusal, true);
        return false;
    }
    // What differs goes out with the senders, as q7ctl set sends: the amplifier's record is
    // known, so a full download would only repeat what it holds.
    return applyImage(checked.image, who, error);
}

void DaemonHost::startReading() {
    c_.session.settleMs = kRecallSettleMs;
    reading_ = c_.session.startSynchronisation();
}

bool DaemonHost::readingEnded() {
    if (!reading_ || c_.session.workerRunning())
        return false;
    reading_ = false;
    if (c_.session.CheckConnection() == CheckResult::Passed && c_.session.unreadValues() == 0)
        edits_.amplifierHoldsStore();
    else
        edits_.forgetAmplifier();
    edits_.clearHistory();
    return true;
}

void DaemonHost::pollLevels() {
    if (!reading_)
        c_.session.pollLevels();
}

int runServeDaemon(const ServeOptions& o, Invocation& run) {
    RemoteConfig config;
    if (o.config) {
        std::string error;
        auto loaded = RemoteConfig::load(*o.config, error);
        if (!loaded)
            return run.fail(*o.config + ": " + error);
        config = std::move(*loaded);
    }
    if (o.listen)
        config.listen = *o.listen;
    if (o.ownerPin)
        config.ownerPin = *o.ownerPin;
    if (o.guestPin) {
        config.guestPin = *o.guestPin;
        config.guestOpen = false;
    }
    if (o.guestOpen) {
        config.guestOpen = true;
        config.guestPin.clear();
    }
    if (const std::string problem = config.problem(); !problem.empty())
        return run.usage(problem);

    // q7ctl has no application object of its own; a caller that made one keeps it.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "q7ctl";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    AmplifierSession a(run);
    if (const auto failed = a.openAndSynchronise())
        return *failed;
    Connection& c = a.connection();
    DaemonHost host(c);
    RemoteServer server(host, a.clock());
    server.setConfig(config);
    std::ostream& err = run.err;
    QObject::connect(&server, &RemoteServer::audited, [&err](const QString& line) {
        err << "q7ctl: " << line.toStdString() << "\n";
        err.flush();
    });
    QString error;
    if (!server.listen(QString::fromStdString(config.listen), &error))
        return a.finish(
            a.fail("cannot listen on " + config.listen + ": " + error.toStdString(), kExitFailure));
    a.out() << "serving " << server.pageAddress().toStdString() << "\n";
    a.out().flush();
    err << "q7ctl: "
        << (config.ownerPin.empty() ? "no owner login" : "the owner logs in with the PIN") << "; "
        << guestsText(config) << "; SIGTERM or SIGINT stops\n";
    err.flush();

    QEventLoop loop;
    StopSignals stopSignals;
    std::unique_ptr<QSocketNotifier> stop;
    if (stopSignals.fd() >= 0) {
        stop = std::make_unique<QSocketNotifier>(stopSignals.fd(), QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }

    QTimer levels;
    QObject::connect(&levels, &QTimer::timeout, [&] {
        host.pollLevels();
        server.levelsChanged();
        // The amplifier's own news (its remote, its front panel) reaches the phones too.
        server.settingsChanged();
    });
    levels.start(kLevelPollMs);

    QTimer readCheck;
    QObject::connect(&readCheck, &QTimer::timeout, [&] {
        if (host.readingEnded()) {
            readCheck.stop();
            server.settingsChanged();
        }
    });
    // Every remote change and every recalled mode: the phones see it at once, once the request
    // that made it has been answered.
    host.changed = [&] {
        QTimer::singleShot(0, &loop, [&] {
            server.settingsChanged();
            if (host.reading() && !readCheck.isActive())
                readCheck.start(kReadCheckMs);
        });
    };

    bool lostSaid = false;
    QTimer reconnect;
    QObject::connect(&reconnect, &QTimer::timeout, [&] {
        if (host.connected() || host.reading()) {
            lostSaid = false;
            return;
        }
        if (!lostSaid) {
            err << "q7ctl: the amplifier was lost; looking for it again\n";
            err.flush();
            lostSaid = true;
        }
        if (c.link.OpenLink().opened) {
            err << "q7ctl: the amplifier is back; reading its settings\n";
            err.flush();
            host.startReading();
            readCheck.start(kReadCheckMs);
        }
    });
    reconnect.start(kReconnectMs);

    loop.exec();
    err << "q7ctl: stopping\n";
    server.close();
    return a.finish(kExitOk);
}

} // namespace q7
