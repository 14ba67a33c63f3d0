// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/device_commands.h"

#include "cli/io.h"
#include "cli/mode_json.h"
#include "device/amplifier_lock.h"
#include "device/hidapi_backend.h"
#include "device/replay_backend.h"
#include "params/device_modes.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "params/text.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace q7 {

namespace {

constexpr const char* kUdevHint = "install the udev rule packaging/60-q7edit.rules (see README)";

std::string checkReason(const Connection& c, CheckResult r) {
    const DeviceState& s = c.state;
    switch (r) {
    case CheckResult::WrongModel:
        return "wrong model: the amplifier reports \"" + s.model() + "\", this editor needs Q7";
    case CheckResult::WrongProtocol:
        return "wrong protocol: the amplifier speaks version " + std::to_string(s.protocol()) +
               ", this editor needs 11";
    case CheckResult::LinkLost:
        return "the amplifier was lost during the transfer";
    case CheckResult::NoAnswer:
    case CheckResult::RepliesLost: {
        const int asked = c.link.requestsAsked();
        std::string text = checkFailureMessage(r, true, asked - c.link.requestsAnswered(), asked);
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
        if (!text.empty() && text.back() == '.')
            text.pop_back();
        return text;
    }
    case CheckResult::Passed:
        break;
    }
    return "";
}

int exitCodeOf(CheckResult r) {
    return r == CheckResult::LinkLost || r == CheckResult::NoAnswer || r == CheckResult::RepliesLost
               ? kExitNoAnswer
               : kExitFailure;
}

// The identity replies that came (or did not) after a handshake.
CheckResult identityResult(const Connection& c) {
    if (!c.link.isOpen() || c.link.readThreadEnded())
        return CheckResult::LinkLost;
    if (!c.state.modelReceived() || (c.state.modelMatches() && !c.state.protocolReceived()))
        return c.link.requestsAnswered() == 0 ? CheckResult::NoAnswer : CheckResult::RepliesLost;
    if (!c.state.modelMatches())
        return CheckResult::WrongModel;
    if (!c.state.protocolMatches())
        return CheckResult::WrongProtocol;
    return CheckResult::Passed;
}

// Amplifier news worth a line on stderr.
class CliObserver final : public LinkObserver {
public:
    explicit CliObserver(std::ostream& err) : err_(err) {}
    void dspError(const std::string& text) override {
        std::lock_guard lock(mutex_);
        err_ << "q7ctl: the amplifier reports an error: " << text << "\n";
    }

private:
    std::ostream& err_;
    std::mutex mutex_;
};

} // namespace

// ---- the session ----

AmplifierSession::AmplifierSession(Invocation& run) : run_(run) {
    if (run.global.verbose) {
        logging_ = true;
        std::ostream& err = run.err;
        setDebugLogSink([&err](std::string_view text) {
            while (!text.empty() &&
                   (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
                text.remove_suffix(1);
            err << "debug: " << text << "\n";
        });
    }
    if (run.env.clock) {
        clock_ = run.env.clock;
    } else {
        ownedClock_ = std::make_unique<SystemClock>();
        clock_ = ownedClock_.get();
    }
    participant_ = std::make_unique<Clock::Participant>(*clock_);
}

AmplifierSession::~AmplifierSession() {
    connection_.reset();
    ownedBackend_.reset();
    lock_.reset();
    participant_.reset();
    if (logging_)
        setDebugLogSink(nullptr);
}

int AmplifierSession::fail(const std::string& message, int code) {
    code_ = code;
    return run_.fail(message, code);
}

HidBackend* AmplifierSession::backend() {
    if (backend_)
        return backend_;
    if (run_.env.backend) {
        backend_ = run_.env.backend;
    } else if (run_.global.simulator) {
        std::string error;
        const auto options = SimOptions::parse(*run_.global.simulator, error);
        if (!options) {
            fail("--simulator: " + error, kExitUsage);
            return nullptr;
        }
        ownedBackend_ = std::make_unique<SimulatedAmplifier>(*clock_, *options);
    } else if (run_.global.replay) {
        std::ostream& err = run_.err;
        auto r = std::make_unique<ReplayBackend>(
            *clock_, [&err](const std::string& problem) { err << problem << "\n"; });
        std::string error;
        bool loaded = false;
        if (isStdio(*run_.global.replay)) {
            std::vector<std::string> lines;
            for (std::string line; std::getline(run_.in, line);)
                lines.push_back(line);
            loaded = r->loadLines(lines, &error);
        } else {
            loaded = r->load(*run_.global.replay, error);
        }
        if (!loaded) {
            fail(error, kExitFailure);
            return nullptr;
        }
        replay_ = r.get();
        ownedBackend_ = std::move(r);
    } else {
        ownedBackend_ = std::make_unique<HidapiBackend>();
        onUsb_ = true;
    }
    if (!backend_)
        backend_ = ownedBackend_.get();
    return backend_;
}

bool AmplifierSession::open() {
    if (!backend())
        return false;
    if (onUsb_) {
        // The amplifier on USB: one program at a time (the editor, q7ctl serve, a command).
        lock_ = std::make_unique<AmplifierLock>();
        if (lock_->acquire("q7ctl " + run_.command) == AmplifierLock::Result::HeldByOther) {
            const std::string other =
                lock_->other().empty() ? std::string("another program") : lock_->other();
            lock_.reset();
            fail("the amplifier is in use by " + other + "; close it first", kExitFailure);
            return false;
        }
    }
    trace_ = std::make_unique<TraceWriter>();
    const bool traceOut = run_.global.trace && isStdio(*run_.global.trace);
    // A trace on standard output is written by the command's own thread (out()), between its
    // lines, never by the link's threads.
    trace_->setListener([this, traceOut](const TraceLine& l) {
        if (traceOut) {
            std::lock_guard lock(traceMutex_);
            traceLines_ += formatTraceLine(l.ms, l.direction, l.report) + "\n";
        }
    });
    if (run_.global.trace && !traceOut && !trace_->open(*run_.global.trace)) {
        fail("cannot write " + *run_.global.trace, kExitFailure);
        return false;
    }
    observer_ = std::make_unique<CliObserver>(run_.err);
    connection_ = std::make_unique<Connection>(*backend_, *clock_, store_);
    connection_->setObserver(observer_.get());
    // Nothing polls levels before the command reads: nothing to let settle.
    connection_->session.settleMs = 0;
    connection_->link.setTrace(trace_.get());
    const OpenResult opened = connection_->link.OpenLink();
    if (opened.opened)
        return true;
    if (opened.permissionDenied)
        fail("permission denied: " + std::string(kUdevHint), kExitFailure);
    else
        fail("no amplifier found (USB HID 2010:1031)", kExitFailure);
    return false;
}

std::optional<int> AmplifierSession::openAndSynchronise() {
    if (!open())
        return code();
    if (!synchronise())
        return finish(code());
    return std::nullopt;
}

bool AmplifierSession::synchronise() {
    Connection& c = *connection_;
    c.session.SynchronizeData();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::NoAnswer || r == CheckResult::RepliesLost || r == CheckResult::LinkLost) {
        fail(checkReason(c, r), kExitNoAnswer);
        return false;
    }
    if (c.session.unreadValues() > 0) {
        // What never arrived would be printed or saved as if the amplifier held it.
        fail(std::to_string(c.session.unreadValues()) +
                 " settings could not be read from the amplifier: its replies were lost",
             kExitNoAnswer);
        return false;
    }
    if (r == CheckResult::Passed)
        return true;
    fail(checkReason(c, r), exitCodeOf(r));
    return false;
}

bool AmplifierSession::handshake(bool names) {
    Connection& c = *connection_;
    c.state.resetIdentity();
    c.commands.askModel();
    c.commands.askProtocol();
    c.commands.askSettings();
    if (names)
        for (int m = 0; m < kModeCount; ++m)
            c.commands.askModeName(m);
    const bool answered = c.link.awaitReply();
    CheckResult r = identityResult(c);
    if (r == CheckResult::Passed && !answered)
        r = CheckResult::RepliesLost; // the settings or a name did not come
    if (r == CheckResult::Passed)
        return true;
    fail(checkReason(c, r), exitCodeOf(r));
    c.link.CloseByEditor();
    return false;
}

bool AmplifierSession::awaitReply() {
    Connection& c = *connection_;
    if (c.link.awaitReply() && c.link.isOpen() && !c.link.readThreadEnded())
        return true;
    fail("the amplifier does not answer", kExitNoAnswer);
    return false;
}

std::ostream& AmplifierSession::out() {
    std::string lines;
    {
        std::lock_guard lock(traceMutex_);
        lines.swap(traceLines_);
    }
    run_.out << lines;
    return run_.out;
}

int AmplifierSession::finish(int code) {
    if (connection_)
        connection_->link.CloseByEditor();
    out();
    if (trace_ && run_.global.trace && !isStdio(*run_.global.trace) && !trace_->close()) {
        run_.err << "q7ctl: cannot write the trace " << *run_.global.trace << ": "
                 << std::strerror(trace_->error()) << "\n";
        if (code == kExitOk)
            code = kExitFailure;
    }
    if (replay_ && !replay_->finished()) {
        run_.err << "q7ctl: replay: the trace holds more than this session sent\n";
        if (code == kExitOk)
            code = kExitFailure;
    }
    return code;
}

namespace {

// ---- the commands ----

struct JsonOption {
    bool json = false;
};

struct PullOptions {
    std::string output;
    bool json = false;
};

struct PushOptions {
    std::string file;
    bool byMode = false;
    bool dryRun = false;
    bool json = false;
};

struct LevelsOptions {
    int count = 10;
    bool json = false;
};

struct ModeOptions {
    int number = 1; // 1..4
    std::string text;
    bool json = false;
};

int devices(const JsonOption& o, Invocation& run) {
    AmplifierSession a(run);
    HidBackend* backend = a.backend();
    if (!backend)
        return a.code();
    int found = 0, denied = 0;
    std::string json;
    for (const HidInterface& itf : backend->enumerate()) {
        if (itf.vendorId != kVendorId || itf.productId != kProductId)
            continue;
        if (found == kMaxEnumeratedInterfaces)
            break; // the editor looks no further either
        ++found;
        OpenError e = OpenError::None;
        const bool opens = backend->open(itf.path, e) != nullptr;
        const bool permission = !opens && e == OpenError::PermissionDenied;
        denied += permission;
        if (o.json) {
            json += std::string(json.empty() ? "" : ", ") + "{\"path\": " + jsonString(itf.path) +
                    ", \"opens\": " + (opens ? "true" : "false");
            if (permission)
                json += ", \"problem\": \"permission denied\"";
            json += "}";
        } else if (permission) {
            run.out << itf.path << " (permission denied: " << kUdevHint << ")\n";
        } else {
            run.out << itf.path << "\n";
        }
    }
    if (o.json)
        run.out << "{\"devices\": [" << json << "]}\n";
    if (found == 0)
        return run.fail("no amplifier found (USB HID 2010:1031)");
    return denied == found ? kExitFailure : kExitOk;
}

int info(const JsonOption& o, Invocation& run) {
    AmplifierSession a(run);
    if (!a.open())
        return a.code();
    const bool synchronised = a.synchronise();
    Connection& c = a.connection();
    const int current = a.store().cellInt(cell::CurrentMode) + 1;
    if (o.json) {
        std::string j = "{\"model\": " + jsonString(c.state.model()) +
                        ", \"protocol\": " + std::to_string(c.state.protocol()) +
                        ", \"mcu_version\": " + jsonString(c.state.mcuVersion()) +
                        ", \"dsp_version\": " + jsonString(c.state.dspVersion()) +
                        ", \"current_mode\": " + std::to_string(current) + ", \"modes\": [";
        for (int m = 0; m < kModeCount; ++m)
            j += std::string(m ? ", " : "") + "{\"mode\": " + std::to_string(m + 1) +
                 ", \"name\": " + jsonString(utf16ToUtf8(c.state.modeNames().get(m))) + "}";
        a.out() << j << "]}\n";
    } else {
        a.out() << "model: " << c.state.model() << "\n";
        a.out() << "protocol: " << c.state.protocol() << "\n";
        a.out() << "mcu version: " << c.state.mcuVersion() << "\n";
        a.out() << "dsp version: " << c.state.dspVersion() << "\n";
        a.out() << "current mode: " << current << "\n";
        for (int m = 0; m < kModeCount; ++m)
            a.out() << "mode " << m + 1 << ": " << utf16ToUtf8(c.state.modeNames().get(m)) << "\n";
    }
    return a.finish(synchronised ? kExitOk : a.code());
}

int pull(const PullOptions& o, Invocation& run) {
    if (isStdio(o.output) && o.json)
        return run.usage("-o - and --json would both write standard output");
    AmplifierSession a(run);
    if (const auto failed = a.openAndSynchronise())
        return *failed;
    int code = kExitOk;
    if (!o.output.empty()) {
        std::string error;
        if (!writeOutput(o.output, a.out(), modeFileBytes(a.store().modeImage()), error))
            code = run.fail(error);
    }
    if (o.json || o.output.empty())
        a.out() << modeImageJson(a.store().modeImage(), 2) << "\n";
    return a.finish(code);
}

int pushDryRun(const PushOptions& o, const ParameterStore& file, Invocation& run) {
    ParameterStore store;
    store.applyModeImage(file.modeImage());
    VirtualClock clock;
    RecordingSink sink(&clock);
    Dsp dsp(store, sink, clock);
    dsp.fullDownload(o.byMode ? 1 : 0);

    const auto& trace = run.global.trace;
    if (trace && !isStdio(*trace)) {
        TraceWriter writer;
        if (!writer.open(*trace))
            return run.fail("cannot write " + *trace);
        for (const auto& e : sink.entries())
            writer.write(e.ms, Direction::ToAmplifier, e.report);
    } else if (o.json) {
        std::string j = "{\"reports\": [";
        bool first = true;
        for (const auto& e : sink.entries()) {
            j += std::string(first ? "" : ", ") + "{\"ms\": " + jsonDouble(e.ms) + ", \"hex\": \"" +
                 hexReport(e.report) + "\"}";
            first = false;
        }
        run.out << j << "]}\n";
    } else {
        for (const auto& e : sink.entries())
            run.out << formatTraceLine(e.ms, Direction::ToAmplifier, e.report) << "\n";
    }
    return kExitOk;
}

int push(const PushOptions& o, Invocation& run) {
    ParameterStore fileStore;
    std::vector<std::string> clamped;
    {
        ModeImage image = fileStore.modeImage();
        std::string error;
        if (!readCheckedModeInput(o.file, run.in, image, error, clamped))
            return run.fail(error);
        // Said before anything is sent.
        for (const std::string& line : clamped)
            run.err << "q7ctl: " << inputName(o.file) << ": clamped " << line << "\n";
        fileStore.applyModeImage(image);
    }
    if (o.dryRun)
        return pushDryRun(o, fileStore, run);

    AmplifierSession a(run);
    if (!a.open())
        return a.code();
    Connection& c = a.connection();
    ParameterStore& store = a.store();
    const int deviceMode = isStdio(o.file) ? -1 : modeIndexFromFileName(o.file);
    int code = kExitOk;
    if (!a.handshake()) {
        code = a.code();
    } else {
        store.applyModeImage(fileStore.modeImage());
        if (o.byMode) {
            MachineSettings s = c.state.currentSettings();
            s[0] = 1;
            c.state.setReceivedSettings(s);
        }
        c.session.pendingDeviceMode = deviceMode;
        c.session.downloadWorker();
        const CheckResult r = c.session.CheckConnection();
        if (r != CheckResult::Passed)
            code = a.fail(checkReason(c, r), exitCodeOf(r));
    }
    if (code == kExitOk && o.json) {
        a.out() << "{\"file\": " << jsonString(o.file)
                << ", \"by_mode\": " << (o.byMode ? "true" : "false") << ", \"device_mode\": "
                << (deviceMode >= 0 ? std::to_string(deviceMode + 1) : "null")
                << ", \"clamped\": [";
        for (std::size_t i = 0; i < clamped.size(); ++i)
            a.out() << (i ? ", " : "") << jsonString(clamped[i]);
        a.out() << "]}\n";
    }
    return a.finish(code);
}

// The six meters in the music page's order: the music input's two, then the four mic ports.
constexpr std::array<const char*, 6> kMeterNames = {"music_l", "music_r", "mic_1",
                                                    "mic_2",   "mic_3",   "mic_4"};

int levels(const LevelsOptions& o, Invocation& run) {
    AmplifierSession a(run);
    if (!a.open())
        return a.code();
    if (!a.handshake())
        return a.finish(a.code());
    Connection& c = a.connection();
    if (!o.json)
        a.out() << "poll  music L  music R    mic 1    mic 2    mic 3    mic 4  format  "
                   "bluetooth  mic pair\n";
    int code = kExitOk;
    for (int i = 0; i < o.count; ++i) {
        if (i > 0)
            a.clock().sleepMs(300);
        // A reading is printed only when this poll's own reply came: never the last one again.
        const std::string poll = "poll " + std::to_string(i + 1) + ": ";
        const int answered = c.link.requestsAnswered();
        const bool written = c.commands.askLevels();
        const bool replied = written && c.link.awaitReply();
        if (!c.link.isOpen() || c.link.readThreadEnded() || !written) {
            code = a.fail(poll + "the amplifier was lost (unplugged, or its USB link broke)",
                          kExitNoAnswer);
            break;
        }
        if (!replied || c.link.requestsAnswered() == answered) {
            code =
                a.fail(poll + "the level reply did not come: " +
                           (i == 0 ? "the amplifier does not answer" : "replies are being lost") +
                           " (check the USB cable and hub)",
                       kExitNoAnswer);
            break;
        }
        const auto bytes = a.store().levelReport();
        LevelReport l;
        std::copy(bytes.begin(), bytes.end(), l.bytes.begin());
        const auto m = l.meters();
        char line[160];
        if (o.json) {
            std::string j = "{\"poll\": " + std::to_string(i + 1) + ", \"levels\": {";
            for (std::size_t k = 0; k < m.size(); ++k)
                j += std::string(k ? ", " : "") + "\"" + kMeterNames[k] +
                     "\": " + std::to_string(m[k]);
            j += std::string("}, \"full_scale\": 255, \"format\": \"") +
                 audioFormatName(l.format()) +
                 "\", \"bluetooth\": " + (l.indicatorA() ? "true" : "false") +
                 ", \"mic_pair\": " + (l.indicatorB() ? "true" : "false") + "}";
            a.out() << j << "\n";
        } else {
            std::snprintf(line, sizeof line,
                          "%4d  %3d/255  %3d/255  %3d/255  %3d/255  %3d/255  %3d/255  %-6s  "
                          "%-9s  %s",
                          i + 1, m[0], m[1], m[2], m[3], m[4], m[5], audioFormatName(l.format()),
                          l.indicatorA() ? "on" : "off", l.indicatorB() ? "on" : "off");
            a.out() << line << "\n";
        }
        a.out().flush();
    }
    return a.finish(code);
}

int modeCommand(const std::string& action, const ModeOptions& o, Invocation& run) {
    const int mode = o.number - 1;
    // The amplifier keeps 20 characters: a longer name would be cut without a word.
    if (action == "name" && utf8ToUtf16(o.text).size() > kModeNameEditorLength)
        return run.usage("TEXT has " + std::to_string(utf8ToUtf16(o.text).size()) +
                         " characters; a mode name holds at most " +
                         std::to_string(kModeNameEditorLength));
    AmplifierSession a(run);
    if (!a.open())
        return a.code();
    if (!a.handshake(true))
        return a.finish(a.code());
    Connection& c = a.connection();
    bool ok = true;
    if (action == "load") {
        c.commands.loadMode(mode);
        ok = a.synchronise();
    } else if (action == "default") {
        c.commands.defaultMode(mode);
        ok = a.synchronise();
    } else if (action == "store") {
        c.commands.storeMode(mode);
        a.clock().sleepMs(500);
    } else {
        c.commands.renameMode(mode, utf8ToUtf16(o.text));
        ok = a.awaitReply();
    }
    if (!ok)
        return a.finish(a.code());
    const std::string name = utf16ToUtf8(c.state.modeNames().get(mode));
    if (o.json)
        a.out() << "{\"mode\": " << o.number << ", \"name\": " << jsonString(name)
                << ", \"done\": \"" << action << "\"}\n";
    else
        a.out() << "mode " << o.number << " (" << name << "): " << action << " done\n";
    return a.finish(kExitOk);
}

} // namespace

void addDeviceCommands(CommandLine& cli) {
    auto& devicesOptions = cli.keep<JsonOption>();
    CLI::App* c =
        cli.add("devices", "list the amplifiers on USB",
                "Lists the amplifiers on USB (HID 2010:1031), one hidraw path a line, and whether "
                "they can be opened. Exit 1 when none is found or none may be opened.\n",
                [&devicesOptions](Invocation& run) { return devices(devicesOptions, run); });
    addJsonFlag(c, devicesOptions.json, "print {\"devices\": [{\"path\", \"opens\"}, ...]}");
    cli.usesAmplifier(c);

    auto& infoOptions = cli.keep<JsonOption>();
    c = cli.add("info", "model, versions and user modes of the amplifier",
                "Synchronises and prints the model, protocol, firmware versions, the current "
                "mode and the four mode names.\n",
                [&infoOptions](Invocation& run) { return info(infoOptions, run); });
    addJsonFlag(c, infoOptions.json);
    cli.usesAmplifier(c);

    auto& pullOptions = cli.keep<PullOptions>();
    c = cli.add("pull", "read the amplifier's settings into a mode file",
                "Synchronises and writes the settings to the mode file FILE, or prints them as "
                "JSON (as q7ctl mode dump does) when no file is named.\n",
                [&pullOptions](Invocation& run) { return pull(pullOptions, run); });
    c->add_option("-o,--output", pullOptions.output,
                  "the mode file to write; - writes standard output")
        ->type_name("FILE");
    addJsonFlag(c, pullOptions.json, "print the settings as JSON as well");
    cli.usesAmplifier(c);

    auto& pushOptions = cli.keep<PushOptions>();
    c = cli.add("push", "download a mode file to the amplifier",
                "Downloads the mode file FILE to the amplifier at the real pacing. A file named "
                "m1..m4 (or tripath1.., 默认1..) is then stored in that user mode. Every value "
                "is checked first: one no saved file holds (a damaged file) refuses the file, "
                "naming it (exit 1, nothing sent); one a saved file may hold outside its range "
                "(the start settings' zeros, rounding at an end) is clamped into it, each noted "
                "on stderr before anything is sent.\n",
                [&pushOptions](Invocation& run) { return push(pushOptions, run); });
    c->add_option("FILE", pushOptions.file, "the mode file; - reads standard input")->required();
    c->add_flag("--by-mode", pushOptions.byMode,
                "the volumes start silent and ramp up, as a download of a mode does");
    c->add_flag("--dry-run", pushOptions.dryRun,
                "send nothing: print every report it would send (or write them with --trace)");
    addJsonFlag(c, pushOptions.json, "print what was sent (with --dry-run: every report)");
    cli.usesAmplifier(c);

    CLI::App* mode = cli.group("mode", "the amplifier's user modes and mode files");
    for (const char* action : {"load", "store", "default"}) {
        auto& o = cli.keep<ModeOptions>();
        const std::string a = action;
        const std::string summary = a == "load"    ? "switch the amplifier to user mode N"
                                    : a == "store" ? "store the current settings in user mode N"
                                                   : "reset user mode N to the factory settings";
        c = cli.add(
            action, summary,
            a == "store" ? "Stores the amplifier's current settings in its user mode N (1..4).\n"
                         : "Acts on the amplifier's user mode N (1..4), then synchronises.\n",
            [&o, a](Invocation& run) { return modeCommand(a, o, run); }, mode);
        c->add_option("N", o.number, "the user mode, 1 to 4")->required()->check(CLI::Range(1, 4));
        addJsonFlag(c, o.json, "print {\"mode\", \"name\", \"done\"}");
        cli.usesAmplifier(c);
    }
    auto& nameOptions = cli.keep<ModeOptions>();
    c = cli.add(
        "name", "rename user mode N", "Renames the amplifier's user mode N (1..4) to TEXT.\n",
        [&nameOptions](Invocation& run) { return modeCommand("name", nameOptions, run); }, mode);
    c->add_option("N", nameOptions.number, "the user mode, 1 to 4")
        ->required()
        ->check(CLI::Range(1, 4));
    c->add_option("TEXT", nameOptions.text, "the new name")->required();
    addJsonFlag(c, nameOptions.json, "print {\"mode\", \"name\", \"done\"}");
    cli.usesAmplifier(c);

    auto& levelsOptions = cli.keep<LevelsOptions>();
    c = cli.add("levels", "the input levels and the audio format, every 300 ms",
                "Prints the six input meters (the music input's left and right, mic ports 1..4, "
                "each 0..255 of full scale), the audio format and the Bluetooth and mic pairing "
                "lamps, K times 300 ms apart. With --json, one JSON object a poll (JSON Lines).\n",
                [&levelsOptions](Invocation& run) { return levels(levelsOptions, run); });
    c->add_option("--count", levelsOptions.count, "how many polls (10)")
        ->check(CLI::PositiveNumber.description(""))
        ->type_name("K");
    addJsonFlag(c, levelsOptions.json,
                "one object a poll: {\"poll\", \"levels\": {\"music_l\", ...}, \"format\", ...}");
    cli.usesAmplifier(c);
}

} // namespace q7
