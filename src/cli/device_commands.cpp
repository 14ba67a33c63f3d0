#include "cli/device_commands.h"

#include "cli/mode_json.h"
#include "cli/param_commands.h"
#include "device/connection.h"
#include "device/hidapi_backend.h"
#include "device/replay_backend.h"
#include "params/device_modes.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/text.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

namespace q7 {

namespace {

constexpr const char* kUdevHint = "install the udev rule packaging/60-q7edit.rules (see README)";

std::optional<int> modeArgument(const std::string& s) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 1 || v > 4)
        return std::nullopt;
    return v - 1;
}

// Restores the debug log to silence when the command ends.
struct LogScope {
    LogScope(bool verbose, std::ostream& err) {
        if (verbose)
            setDebugLogSink([&err](std::string_view text) {
                while (!text.empty() &&
                       (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
                    text.remove_suffix(1);
                err << "debug: " << text << "\n";
            });
    }
    ~LogScope() { setDebugLogSink(nullptr); }
};

std::string checkReason(const DeviceState& s, CheckResult r) {
    switch (r) {
    case CheckResult::WrongModel:
        return "wrong model: the amplifier reports \"" + s.model() + "\", this editor needs Q7";
    case CheckResult::WrongProtocol:
        return "wrong protocol: the amplifier speaks version " + std::to_string(s.protocol()) +
               ", this editor needs 11";
    case CheckResult::LinkLost:
        return "the amplifier was lost during the transfer";
    case CheckResult::Passed:
        break;
    }
    return "";
}

// A quick identity check before acting on an amplifier that was not synchronised; with names,
// the four mode names too (the mode commands print them).
bool handshake(Connection& c, std::ostream& err, bool names = false) {
    c.state.resetIdentity();
    c.link.write(shortCommand(CMD_GET_MODEL));
    c.link.write(shortCommand(CMD_GET_PROTOCOL));
    c.link.write(shortCommand(CMD_GET_SETTINGS));
    if (names)
        for (int m = 0; m < kModeCount; ++m)
            c.link.write(modeNameRead(m));
    c.link.awaitReply();
    CheckResult r = CheckResult::Passed;
    if (!c.link.isOpen() || c.link.readThreadEnded())
        r = CheckResult::LinkLost;
    else if (!c.state.modelMatches())
        r = CheckResult::WrongModel;
    else if (!c.state.protocolMatches())
        r = CheckResult::WrongProtocol;
    if (r == CheckResult::Passed)
        return true;
    err << "q7ctl: " << checkReason(c.state, r) << "\n";
    c.link.CloseByEditor();
    return false;
}

bool synchronise(Connection& c, std::ostream& err) {
    c.session.SynchronizeData();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::Passed && c.session.unreadValues() > 0) {
        // What never arrived would be printed or saved as if the amplifier held it.
        err << "q7ctl: " << c.session.unreadValues()
            << " settings could not be read from the amplifier\n";
        return false;
    }
    if (r == CheckResult::Passed)
        return true;
    err << "q7ctl: " << checkReason(c.state, r) << "\n";
    return false;
}

void printInfo(Connection& c, std::ostream& out) {
    out << "model: " << c.state.model() << "\n";
    out << "protocol: " << c.state.protocol() << "\n";
    out << "mcu version: " << c.state.mcuVersion() << "\n";
    out << "dsp version: " << c.state.dspVersion() << "\n";
    out << "current mode: " << c.store.cellInt(cell::CurrentMode) + 1 << "\n";
    for (int m = 0; m < kModeCount; ++m)
        out << "mode " << m + 1 << ": " << utf16ToUtf8(c.state.modeNames().get(m)) << "\n";
}

int devices(HidBackend& backend, std::ostream& out, std::ostream& err) {
    int found = 0, denied = 0;
    const auto list = backend.enumerate();
    for (const HidInterface& itf : list) {
        if (itf.vendorId != kVendorId || itf.productId != kProductId)
            continue;
        if (found == kMaxEnumeratedInterfaces)
            break; // the editor looks no further either
        ++found;
        OpenError e = OpenError::None;
        const bool opens = backend.open(itf.path, e) != nullptr;
        if (!opens && e == OpenError::PermissionDenied) {
            ++denied;
            out << itf.path << " (permission denied: " << kUdevHint << ")\n";
        } else {
            out << itf.path << "\n";
        }
    }
    if (found == 0) {
        err << "q7ctl: no amplifier found (USB HID 2010:1031)\n";
        return 1;
    }
    return denied == found ? 1 : 0;
}

int levels(Connection& c, int count, std::ostream& out) {
    for (int i = 0; i < count && c.link.isOpen(); ++i) {
        if (i > 0)
            c.clock.sleepMs(300);
        c.link.write(shortCommand(CMD_GET_LEVELS));
        c.link.awaitReply();
        const auto bytes = c.store.levelReport();
        LevelReport l;
        std::copy(bytes.begin(), bytes.end(), l.bytes.begin());
        const auto m = l.meters();
        char line[96];
        std::snprintf(line, sizeof line, "%3d %3d %3d %3d %3d %3d %s", m[0], m[1], m[2], m[3], m[4],
                      m[5], audioFormatName(l.format()));
        out << line << "\n";
    }
    return 0;
}

// The listener (0) and speakers 1..8 as the location page places them, in metres.
std::array<std::pair<float, float>, 9> placedPoints(const ParameterStore& s) {
    std::array<std::pair<float, float>, 9> p{};
    p[0] = {s.cellFloat(cell::ListenerX), s.cellFloat(cell::ListenerY)};
    for (int k = 1; k <= kSpeakerCount; ++k)
        p[std::size_t(k)] = {s.cellFloat(cell::SpeakerX + k - 1),
                             s.cellFloat(cell::SpeakerY + k - 1)};
    return p;
}

// After the plan block, the levels the location page sends for the same move: every speaker's
// when the listener moved, a moved speaker's own otherwise; a level set by name stays.
void sendLevelsOfMovedPoints(EditPath& edits, const std::array<std::pair<float, float>, 9>& before,
                             const std::vector<ParamAssignment>& assignments) {
    const auto after = placedPoints(edits.store());
    std::array<bool, 9> named{};
    for (const ParamAssignment& a : assignments)
        if (a.param && a.param->place == ParamPlace::SpeakerLevel)
            for (int k = 1; k <= kSpeakerCount; ++k)
                if (speakerInfo(k).slot == a.param->index)
                    named[std::size_t(k)] = true;
    const bool listener = after[0] != before[0];
    edits.edit([&](Dsp& d) {
        bool ok = true;
        for (int k = 1; k <= kSpeakerCount; ++k) {
            if (named[std::size_t(k)] ||
                (!listener && after[std::size_t(k)] == before[std::size_t(k)]))
                continue;
            const double dx = double(after[0].first) - after[std::size_t(k)].first;
            const double dy = double(after[0].second) - after[std::size_t(k)].second;
            ok &= d.sendSpeakerLevel(k, speakerLevelForDistance(std::hypot(dx, dy)));
        }
        return ok;
    });
}

// Applies the values to what was read and sends the difference with the editor's senders, as
// its undo, redo and A/B switches do.
bool setOnAmplifier(Connection& c, const std::vector<ParamAssignment>& assignments,
                    std::ostream& err) {
    EditPath edits(c.store, c.link, c.clock, [&c] { return c.link.isOpen(); });
    edits.amplifierHoldsStore();
    const auto before = placedPoints(c.store);
    ModeImage image = settingsOf(c.store);
    for (const ParamAssignment& a : assignments)
        applyAssignment(image, a);
    edits.replaceSettings(image);
    edits.sendDifferences();
    sendLevelsOfMovedPoints(edits, before, assignments);
    c.link.awaitReply();
    if (!edits.amplifierKnown() || !c.link.isOpen() || c.link.readThreadEnded()) {
        err << "q7ctl: the amplifier did not take every report; what it holds is uncertain\n";
        return false;
    }
    noteAdjustedValues(assignments, settingsOf(c.store), true, err);
    return true;
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

bool isDeviceCommand(const std::vector<std::string>& p) {
    if (p.empty())
        return false;
    if (p[0] == "get" || p[0] == "set")
        return true;
    if (p.size() == 1)
        return p[0] == "devices" || p[0] == "info" || p[0] == "pull" || p[0] == "levels";
    if (p[0] == "push")
        return p.size() == 2;
    if (p[0] == "mode" && p.size() == 3)
        return p[1] == "load" || p[1] == "store" || p[1] == "default";
    return p[0] == "mode" && p.size() == 4 && p[1] == "name";
}

int runDeviceCommand(const CliArgs& a, std::ostream& out, std::ostream& err,
                     const Q7ctlEnvironment& env) {
    const auto& p = a.positional;
    std::optional<int> mode;
    if (p[0] == "mode") {
        mode = modeArgument(p[2]);
        if (!mode) {
            err << "q7ctl: mode numbers are 1 to 4\n";
            return 2;
        }
    }
    // Names and values are checked before anything goes to the amplifier.
    const std::vector<std::string> rest(p.begin() + 1, p.end());
    std::optional<std::vector<const ParamInfo*>> wanted;
    std::optional<std::vector<ParamAssignment>> assignments;
    if (p[0] == "get" && !(wanted = paramsNamed(rest, err)))
        return 2;
    if (p[0] == "set" && !(assignments = assignmentsGiven(rest, true, err)))
        return 2;
    LogScope log(a.verbose, err);

    SystemClock systemClock;
    Clock& clock = env.clock ? *env.clock : systemClock;
    Clock::Participant participant(clock);

    std::unique_ptr<HidBackend> owned;
    HidBackend* backend = env.backend;
    ReplayBackend* replay = nullptr;
    if (!backend) {
        if (a.simulator) {
            std::string error;
            const auto options = SimOptions::parse(*a.simulator, error);
            if (!options) {
                err << "q7ctl: " << error << "\n";
                return 2;
            }
            owned = std::make_unique<SimulatedAmplifier>(clock, *options);
        } else if (a.replay) {
            auto r = std::make_unique<ReplayBackend>(
                clock, [&err](const std::string& problem) { err << problem << "\n"; });
            std::string error;
            if (!r->load(*a.replay, error)) {
                err << "q7ctl: " << error << "\n";
                return 1;
            }
            replay = r.get();
            owned = std::move(r);
        } else {
            owned = std::make_unique<HidapiBackend>();
        }
        backend = owned.get();
    }
    if (p[0] == "devices")
        return devices(*backend, out, err);

    ParameterStore fileStore;
    if (p[0] == "push") {
        const ModeFileResult r = readModeFile(p[1], fileStore);
        if (!r) {
            err << "q7ctl: " << describe(r, p[1]) << "\n";
            return 1;
        }
    }

    TraceWriter trace;
    if (a.trace && !trace.open(*a.trace)) {
        err << "q7ctl: cannot write " << *a.trace << "\n";
        return 1;
    }
    ParameterStore store;
    CliObserver observer(err);
    Connection c(*backend, clock, store);
    c.setObserver(&observer);
    c.link.setTrace(&trace);
    const OpenResult opened = c.link.OpenLink();
    if (!opened.opened) {
        if (opened.permissionDenied)
            err << "q7ctl: permission denied: " << kUdevHint << "\n";
        else
            err << "q7ctl: no amplifier found (USB HID 2010:1031)\n";
        return 1;
    }

    int code = 0;
    if (p[0] == "info") {
        code = synchronise(c, err) ? 0 : 1;
        printInfo(c, out);
    } else if (p[0] == "pull") {
        if (!synchronise(c, err)) {
            code = 1;
        } else {
            if (a.output) {
                const ModeFileResult w = writeModeFile(*a.output, store);
                if (!w) {
                    err << "q7ctl: " << describe(w, *a.output) << "\n";
                    code = 1;
                }
            }
            if (a.json || !a.output)
                out << modeImageJson(store.modeImage(), 2) << "\n";
        }
    } else if (p[0] == "push") {
        if (!handshake(c, err)) {
            code = 1;
        } else {
            store.applyModeImage(fileStore.modeImage());
            if (a.byMode) {
                MachineSettings s = c.state.currentSettings();
                s[0] = 1;
                c.state.setReceivedSettings(s);
            }
            c.session.pendingDeviceMode = modeIndexFromFileName(p[1]);
            c.session.downloadWorker();
            const CheckResult r = c.session.CheckConnection();
            if (r != CheckResult::Passed) {
                err << "q7ctl: " << checkReason(c.state, r) << "\n";
                code = 1;
            }
        }
    } else if (p[0] == "get") {
        code = synchronise(c, err) ? 0 : 1;
        if (code == 0)
            out << paramValues(*wanted, settingsOf(store), a.json);
    } else if (p[0] == "set") {
        code = synchronise(c, err) && setOnAmplifier(c, *assignments, err) ? 0 : 1;
    } else if (p[0] == "levels") {
        code = handshake(c, err) ? levels(c, a.count, out) : 1;
    } else if (p[0] == "mode" && handshake(c, err, true)) {
        if (p[1] == "load") {
            loadMachineMode(store, c.link, *mode);
            code = synchronise(c, err) ? 0 : 1;
        } else if (p[1] == "default") {
            resetMachineMode(store, c.link, *mode);
            code = synchronise(c, err) ? 0 : 1;
        } else if (p[1] == "store") {
            saveToMachineMode(store, c.link, *mode);
            clock.sleepMs(500);
        } else {
            setModeName(c.state.modeNames(), c.link, *mode, utf8ToUtf16(p[3]));
            c.link.awaitReply();
        }
        if (code == 0)
            out << "mode " << *mode + 1 << " (" << utf16ToUtf8(c.state.modeNames().get(*mode))
                << "): " << p[1] << " done\n";
    } else if (p[0] == "mode") {
        code = 1;
    }
    c.link.CloseByEditor();
    if (replay && !replay->finished())
        err << "q7ctl: replay: the trace holds more than this session sent\n";
    return code;
}

} // namespace q7
