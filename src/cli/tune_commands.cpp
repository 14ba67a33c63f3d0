#include "cli/tune_commands.h"

#include "cli/mode_json.h"
#include "cli/options.h"
#include "device/connection.h"
#include "device/hidapi_backend.h"
#include "measure/speakers.h"
#include "params/eq_bank.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_audio.h"
#include "tune/link_switch.h"
#include "tune/report.h"
#include "tune/run.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <unistd.h>

namespace q7 {

namespace {

constexpr const char* kTuneUsage =
    "usage: q7ctl [amplifier options] tune [--speakers LIST|auto] [--positions N]\n"
    "             [--target flat|house|FILE] [--max-boost DB] [--sweep-seconds S]\n"
    "             [--play DEV] [--record DEV] [--cal FILE] [--dry-run] [--report DIR] [--json]\n"
    "  Tunes the room: each speaker plays a sweep alone (every other output muted over USB and\n"
    "  put back afterwards) at each listening position, the first being the main seat; then\n"
    "  the speaker levels are matched at the main seat (500 Hz-2 kHz, the Sub over its pass\n"
    "  band) to the quietest, the delays make every speaker arrive with the farthest, the Sub's\n"
    "  crossover, polarity and delay are chosen so that it adds to the mains, and each output's\n"
    "  EQ is fitted to its position-averaged response (Main L/R, Rear L/R and Top L/R share a\n"
    "  bank). Everything is applied as one step, then each speaker is measured again at the\n"
    "  main seat against what was predicted.\n"
    "  --speakers: main-l,main-r,center,sub,rear-l,rear-r,top-l,top-r (comma separated), or\n"
    "  auto (the default: every output; one whose sweep does not arrive is not connected).\n"
    "  --positions N: 1 to 9 microphone positions (q7ctl waits for Enter before each).\n"
    "  --target: flat (default), house (the auto-EQ's house curve) or a response file.\n"
    "  --max-boost: the most an output's EQ may raise any frequency, 0 to 15 dB (default 6).\n"
    "  --sweep-seconds: 1 to 20 (default 3); the check uses 1 s sweeps.\n"
    "  --play, --record, --cal: as for measure. --dry-run measures and computes, sends nothing.\n"
    "  --report DIR: index.html, a chart per speaker, before.q7M and tuned.q7M.\n"
    "  --json prints {\"speakers\": {\"main-l\": {\"connected\", \"level_db\", \"delay_ms\",\n"
    "  \"polarity\", \"bands\", \"rms_before_db\", \"rms_predicted_db\", \"rms_after_db\", ...},\n"
    "  ...}, \"crossover_hz\", \"changed\", ...}.\n"
    "  The amplifier has no polarity switch: a Sub that sums better inverted gets an all-pass\n"
    "  band (type off) at the crossover; reversing its speaker wires does the same exactly.\n"
    "  Exit 0 applied and verified within the limits, 1 the check falls short (what was sent\n"
    "  stays) or a measurement failed, 2 bad usage.\n";

std::optional<double> number(const std::string& s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool isSimulatedDevice(const std::optional<std::string>& name) {
    return name && (*name == kSimPlaybackDevice || *name == kSimRecordingDevice);
}

std::string today() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

std::string rounded(double v, double step) {
    return jsonDouble(std::round(v / step) * step);
}

std::string bandsJson(const EqBankState& s) {
    std::string out = "[";
    const EqBankInfo& info = s.info();
    for (std::size_t i = 0; i < s.records.size(); ++i) {
        const BandRecord& r = s.records[i];
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "%s{\"record\": %d, \"type\": %d, \"gain_db\": %.1f, \"freq_hz\": %d, "
                      "\"q\": %.3f}",
                      i ? ", " : "", info.firstRecord + int(i), int(r.type), recordGainDb(r),
                      int(r.frequency), r.q / 1000.0);
        out += buf;
    }
    return out + "]";
}

int bankOfSpeaker(int k) {
    constexpr int banks[kSpeakerOutputs] = {5, 5, 3, kSubEqBank, 4, 4, 11, 11};
    return banks[k];
}

std::string tuneJson(const TunePlan& plan, const TuneVerification* check, bool applied) {
    std::string s = "{\"speakers\": {";
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan.speakers[std::size_t(k)];
        s += (k ? ", " : "") + jsonString(speakerOutputs()[std::size_t(k)].id) + ": {";
        if (!t.asked) {
            s += "\"connected\": null, \"asked\": false}";
            continue;
        }
        s += "\"connected\": " + std::string(t.connected ? "true" : "false");
        if (!t.connected) {
            s += "}";
            continue;
        }
        const SpeakerCheck* c = check && check->speakers[std::size_t(k)].measured
                                    ? &check->speakers[std::size_t(k)]
                                    : nullptr;
        s += ", \"level_db\": " + rounded(t.levelDb, 0.01) +
             ", \"level_before_db\": " + rounded(t.levelBeforeDb, 0.01) +
             ", \"delay_ms\": " + rounded(t.delayMs, 0.0001) +
             ", \"delay_before_ms\": " + rounded(t.delayBeforeMs, 0.0001) +
             ", \"polarity\": " + (t.inverted ? "\"inverted\"" : "\"normal\"") +
             ", \"bands\": " + bandsJson(readBank(plan.after.bandImage, bankOfSpeaker(k))) +
             ", \"range_hz\": [" + rounded(t.loHz, 0.1) + ", " + rounded(t.hiHz, 0.1) + "]" +
             ", \"rms_before_db\": " + rounded(t.rmsBeforeDb, 0.01) +
             ", \"rms_predicted_db\": " + rounded(t.rmsPredictedDb, 0.01) +
             ", \"rms_after_db\": " + (c ? rounded(c->rmsAfterDb, 0.01) : "null") +
             ", \"level_error_db\": " + (c ? rounded(c->levelErrorDb, 0.01) : "null") +
             ", \"arrival_error_ms\": " +
             (c && k != kTuneSub ? rounded(c->arrivalErrorMs, 0.0001) : "null") +
             ", \"prediction_error_db\": " + (c ? rounded(c->predictionErrorDb, 0.01) : "null") +
             "}";
    }
    s += "}, \"crossover_hz\": " + (plan.crossoverHz > 0 ? rounded(plan.crossoverHz, 1) : "null");
    s += ", \"crossover_slope\": " +
         (plan.slope >= 0 ? jsonString(crossoverName(plan.slope)) : std::string("null"));
    s += ", \"crossover_before_hz\": " +
         (plan.crossoverBeforeHz > 0 ? rounded(plan.crossoverBeforeHz, 1) : "null");
    s += ", \"all_pass\": " + (plan.speakers[kTuneSub].inverted
                                   ? "{\"band\": " + std::to_string(plan.allPassBand + 1) +
                                         ", \"freq_hz\": " + rounded(plan.allPassHz, 1) +
                                         ", \"q\": " + rounded(plan.allPassQ, 0.001) + "}"
                                   : std::string("null"));
    const bool sum = plan.crossoverHz > 0 && !plan.sumBeforeDb.empty();
    s += ", \"dip_before_db\": " + (sum ? rounded(plan.dipBeforeDb, 0.01) : "null");
    s += ", \"dip_predicted_db\": " + (sum ? rounded(plan.dipPredictedDb, 0.01) : "null");
    s += ", \"dip_after_db\": " +
         (check && !check->sumAfterDb.empty() ? rounded(check->dipAfterDb, 0.01) : "null");
    s += ", \"level_spread_db\": " +
         (check && check->measured ? rounded(check->levelSpreadDb, 0.01) : "null");
    s += ", \"arrival_spread_ms\": " +
         (check && check->measured ? rounded(check->arrivalSpreadMs, 0.0001) : "null");
    s += ", \"changed\": [";
    std::vector<std::string> ids;
    for (const Difference& d : plan.changes)
        if (std::find(ids.begin(), ids.end(), d.id) == ids.end())
            ids.push_back(d.id);
    for (std::size_t i = 0; i < ids.size(); ++i)
        s += (i ? ", " : "") + jsonString(ids[i]);
    s += "], \"applied\": " + std::string(applied ? "true" : "false");
    s += ", \"verified\": " + std::string(check && check->ok() ? "true" : "false");
    s += ", \"shortfalls\": [";
    if (check)
        for (std::size_t i = 0; i < check->shortfalls.size(); ++i)
            s += (i ? ", " : "") + jsonString(check->shortfalls[i].en);
    s += "], \"notes\": [";
    for (std::size_t i = 0; i < plan.notes.size(); ++i)
        s += (i ? ", " : "") + jsonString(plan.notes[i].en);
    return s + "]}";
}

// A full synchronisation: the tuning starts from every value the amplifier holds.
bool synchronise(Connection& c, std::ostream& err) {
    c.session.SynchronizeData();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::Passed && c.session.unreadValues() == 0)
        return true;
    if (r == CheckResult::Passed)
        err << "q7ctl: " << c.session.unreadValues()
            << " settings could not be read from the amplifier\n";
    else if (r == CheckResult::LinkLost)
        err << "q7ctl: the amplifier was lost during the transfer\n";
    else
        err << "q7ctl: this is not a Q7 amplifier of protocol 11\n";
    return false;
}

bool linkLost(Connection& c) {
    return !c.link.isOpen() || c.link.readThreadEnded();
}

// The amplifier went away in the middle of a sweep, with all but one output muted: when it
// comes back (within a while), every mute goes back as it was.
void putMutesBack(Connection& c, Dsp& dsp, Clock& clock, std::ostream& err) {
    constexpr double kWaitMs = 15000, kStepMs = 500;
    err << "q7ctl: the amplifier was lost in the middle of a sweep; waiting up to "
        << int(kWaitMs / 1000) << " s for it to come back, to put its mutes back\n";
    c.link.CloseByRemoval();
    for (double waited = 0; waited < kWaitMs; waited += kStepMs) {
        clock.sleepMs(kStepMs);
        if (!c.link.OpenLink().opened)
            continue;
        for (int cell : groupMuteCells())
            dsp.sendCell(cell);
        c.link.awaitReply();
        if (!linkLost(c)) {
            err << "q7ctl: the amplifier is back: every mute is as it was\n";
            return;
        }
        c.link.CloseByRemoval();
    }
    std::string names[] = {"main", "rear", "top", "center", "sub"};
    std::string command = "q7ctl set";
    const std::vector<int> cells = groupMuteCells();
    for (std::size_t i = 0; i < cells.size(); ++i)
        command += " " + names[i] + ".mute=" + (c.store.cellInt(cells[i]) ? "on" : "off");
    err << "q7ctl: the amplifier did not come back; its outputs may still be muted for the "
           "measurement: put them back with\n  "
        << command << "\n";
}

std::string targetName(const TuneArgs& a) {
    return a.target.value_or("flat");
}

} // namespace

std::optional<TuneArgs> parseTuneArgs(const std::vector<std::string>& args) {
    std::size_t at = 0;
    for (; at < args.size(); ++at) {
        const std::string& s = args[at];
        if (s == "--trace" || s == "--replay")
            ++at;
        else if (!s.starts_with("-"))
            break;
    }
    if (at >= args.size())
        return std::nullopt;
    TuneArgs a;
    if (args[at] == "help" && at + 1 < args.size() && args[at + 1] == "tune") {
        a.help = true;
        return a;
    }
    if (args[at] != "tune")
        return std::nullopt;
    auto value = [&](std::size_t& i, const std::string& name) {
        return optionValue(args, i, name, a.error);
    };
    auto num = [&](std::size_t& i, const std::string& name, std::optional<double>& into) {
        if (const auto v = value(i, name)) {
            into = number(*v);
            if (!into)
                a.error = name + " needs a number";
        }
    };
    for (std::size_t i = 0; i < args.size() && a.error.empty(); ++i) {
        if (i == at)
            continue;
        const std::string& s = args[i];
        auto is = [&](std::string_view name) { return isOption(s, name); };
        if (s == "--simulator")
            a.simulator = "";
        else if (s.starts_with("--simulator="))
            a.simulator = s.substr(12);
        else if (is("--trace"))
            a.trace = value(i, "--trace");
        else if (is("--replay"))
            a.replay = value(i, "--replay");
        else if (s == "--verbose" || s == "-v")
            a.verbose = true;
        else if (s == "--json")
            a.json = true;
        else if (s == "--help" || s == "-h")
            a.help = true;
        else if (s == "--dry-run")
            a.dryRun = true;
        else if (is("--speakers"))
            a.speakers = value(i, "--speakers");
        else if (is("--target"))
            a.target = value(i, "--target");
        else if (is("--play"))
            a.play = value(i, "--play");
        else if (is("--record"))
            a.record = value(i, "--record");
        else if (is("--cal"))
            a.cal = value(i, "--cal");
        else if (is("--report"))
            a.report = value(i, "--report");
        else if (is("--max-boost"))
            num(i, "--max-boost", a.maxBoost);
        else if (is("--sweep-seconds"))
            num(i, "--sweep-seconds", a.sweepSeconds);
        else if (is("--positions")) {
            std::optional<double> n;
            num(i, "--positions", n);
            if (n && (*n < 1 || *n > kMaxTunePositions || *n != std::floor(*n)))
                a.error = "--positions takes 1 to 9";
            else if (n)
                a.positions = int(*n);
        } else {
            a.error = "unknown option or word " + s + " for tune";
        }
    }
    if (!a.error.empty() || a.help)
        return a;
    if (a.maxBoost && !(*a.maxBoost >= 0 && *a.maxBoost <= kBandGainMaxDb))
        a.error = "--max-boost takes 0 to 15 dB";
    else if (a.sweepSeconds && !(*a.sweepSeconds >= 1 && *a.sweepSeconds <= 20))
        a.error = "--sweep-seconds takes 1 to 20";
    else if (a.replay)
        a.error = "tune needs a live amplifier, not a replay";
    else if (a.simulator && a.replay)
        a.error = "--simulator and --replay exclude each other";
    if (a.error.empty() && a.speakers && *a.speakers != "auto") {
        std::string list = *a.speakers;
        std::size_t from = 0;
        while (from <= list.size()) {
            const std::size_t comma = std::min(list.find(',', from), list.size());
            const std::string id = list.substr(from, comma - from);
            if (speakerOutputIndex(id) < 0) {
                a.error = "--speakers takes auto or a list of main-l, main-r, center, sub, "
                          "rear-l, rear-r, top-l, top-r";
                break;
            }
            from = comma + 1;
        }
    }
    return a;
}

int runTuneCommand(const TuneArgs& a, std::ostream& out, std::ostream& err,
                   const Q7ctlEnvironment& env) {
    if (a.help) {
        out << kTuneUsage;
        return 0;
    }
    if (!a.error.empty()) {
        err << "q7ctl: " << a.error << "\n";
        return 2;
    }
    std::optional<SimOptions> simOptions;
    if (a.simulator) {
        std::string error;
        simOptions = SimOptions::parse(*a.simulator, error);
        if (!simOptions) {
            err << "q7ctl: " << error << "\n";
            return 2;
        }
    }
    // The options, checked before anything is opened.
    TuneOptions o;
    if (a.speakers && *a.speakers != "auto") {
        std::size_t from = 0;
        const std::string& list = *a.speakers;
        while (from <= list.size()) {
            const std::size_t comma = std::min(list.find(',', from), list.size());
            const int k = speakerOutputIndex(list.substr(from, comma - from));
            if (std::find(o.speakers.begin(), o.speakers.end(), k) == o.speakers.end())
                o.speakers.push_back(k);
            from = comma + 1;
        }
        std::sort(o.speakers.begin(), o.speakers.end());
    }
    o.positions = a.positions;
    if (a.maxBoost)
        o.maxBoostDb = *a.maxBoost;
    if (a.sweepSeconds)
        o.sweep.seconds = *a.sweepSeconds;
    if (a.target && *a.target == "house") {
        o.target.kind = Target::Kind::House;
    } else if (a.target && *a.target != "flat") {
        const MeasurementRead t = readMeasurementFile(*a.target);
        if (!t.ok()) {
            err << "q7ctl: " << *a.target << ": " << t.error.en << "\n";
            return 1;
        }
        o.target.kind = Target::Kind::Curve;
        o.target.curve = t.curve;
    }
    if (a.cal) {
        MicCalibration cal = readMicCalibration(*a.cal);
        if (!cal.ok()) {
            err << "q7ctl: " << *a.cal << ": " << cal.error << "\n";
            return 1;
        }
        o.calibration = std::move(cal);
    }
    // The timing reference: main L, or the first full-range speaker asked for.
    if (!o.speakers.empty() &&
        std::find(o.speakers.begin(), o.speakers.end(), o.referenceSpeaker) == o.speakers.end())
        for (int k : o.speakers)
            if (k != kTuneSub) {
                o.referenceSpeaker = k;
                break;
            }

    // The painter first: it may have to start the program's Qt for its fonts.
    std::unique_ptr<ChartPainter> painter;
    if (a.report && env.chartPainter)
        painter = env.chartPainter();

    // Devices as measure takes them: the simulated ones by default with the simulator.
    const bool simulatedDevices = simOptions && (!a.play || isSimulatedDevice(a.play)) &&
                                  (!a.record || isSimulatedDevice(a.record));
    if (simOptions && !simulatedDevices &&
        (isSimulatedDevice(a.play) || isSimulatedDevice(a.record))) {
        err << "q7ctl: play and record on the simulated devices together, or on real ones\n";
        return 2;
    }
    std::unique_ptr<AudioBackend> ownedSystem;
    AudioBackend* system = env.audio;
    if (!system && env.systemAudio && !simulatedDevices) {
        ownedSystem = env.systemAudio();
        system = ownedSystem.get();
    }

    SystemClock systemClock;
    Clock& clock = env.clock ? *env.clock : systemClock;
    Clock::Participant participant(clock);
    std::unique_ptr<HidBackend> ownedBackend;
    HidBackend* backend = env.backend;
    if (!backend) {
        if (simOptions)
            ownedBackend = std::make_unique<SimulatedAmplifier>(clock, *simOptions);
        else
            ownedBackend = std::make_unique<HidapiBackend>();
        backend = ownedBackend.get();
    }
    auto* simulated = simOptions ? dynamic_cast<SimulatedAmplifier*>(backend) : nullptr;
    std::unique_ptr<SimulatedAudio> simAudio;
    if (simulated && simulatedDevices) {
        simAudio = std::make_unique<SimulatedAudio>(*simulated, *simOptions);
        if (!simAudio->ok()) {
            err << "q7ctl: " << simAudio->error() << "\n";
            return 2;
        }
        if (simAudio->positions() < o.positions) {
            err << "q7ctl: the simulated room has " << simAudio->positions()
                << (simAudio->positions() == 1 ? " position" : " positions") << "\n";
            return 2;
        }
    }
    AudioBackend* audio = simulatedDevices ? simAudio.get() : system;
    if (!audio) {
        err << "q7ctl: this q7ctl has no audio devices (built without Qt Multimedia)\n";
        return 1;
    }
    if (a.verbose)
        setDebugLogSink([&err](std::string_view text) { err << "debug: " << text; });
    struct LogReset {
        ~LogReset() { setDebugLogSink(nullptr); }
    } logReset;
    TraceWriter trace;
    if (a.trace && !trace.open(*a.trace)) {
        err << "q7ctl: cannot write " << *a.trace << "\n";
        return 1;
    }

    ParameterStore store;
    Connection c(*backend, clock, store);
    c.link.setTrace(&trace);
    if (!c.link.OpenLink().opened) {
        err << "q7ctl: no amplifier found (USB HID 2010:1031)\n";
        return 1;
    }
    if (!synchronise(c, err)) {
        c.link.CloseByEditor();
        return 1;
    }
    MeasureDevices devices;
    devices.play = a.play.value_or("");
    devices.record = a.record.value_or("");
    for (const AudioDevice& d : audio->recordingDevices())
        if (d.name == devices.record || (devices.record.empty() && d.isDefault))
            devices.recordChannels = std::clamp(d.channels, 1, 2);

    Dsp dsp(store, c.link, clock);
    LinkSpeakerSwitch speakers(c.link, dsp);
    EditPath edits(store, c.link, clock, [&c] { return c.link.isOpen(); });
    edits.amplifierHoldsStore();
    const bool tty = ::isatty(0);
    TuneCallbacks cb;
    cb.placeMicrophone = [&](int position, int positions, bool returning) {
        err << "q7ctl: "
            << (returning
                    ? std::string("back to the main seat for the check")
                    : "position " + std::to_string(position + 1) + " of " +
                          std::to_string(positions) + (position == 0 ? " (the main seat)" : ""));
        if (simAudio)
            simAudio->setPosition(position);
        if (tty && !simAudio) {
            err << ": place the microphone and press Enter\n";
            std::string line;
            std::getline(std::cin, line);
        } else {
            err << "\n";
        }
        return true;
    };

    // Measure, compute.
    const RoomRun run = measureRoom(*audio, speakers, o, devices, settingsOf(store), cb);
    if (!run.ok()) {
        if (linkLost(c))
            putMutesBack(c, dsp, clock, err);
        else
            err << "q7ctl: " << (run.cancelled ? std::string("cancelled") : run.error) << "\n";
        c.link.CloseByEditor();
        return 1;
    }
    const TunePlan plan = computeTune(run.measured, o);
    if (!plan.ok) {
        err << "q7ctl: " << plan.error.en << "\n";
        c.link.CloseByEditor();
        return 1;
    }
    for (const PositionSweeps& p : run.measured.positions)
        for (const SpeakerSweep& s : p.speakers)
            for (const std::string& w : s.warnings)
                err << "q7ctl: warning: " << speakerOutputs()[std::size_t(s.speaker)].id << ": "
                    << w << "\n";

    // Apply and check.
    bool applied = false;
    std::optional<TuneCheckRun> check;
    int code = 0;
    if (!a.dryRun) {
        const TuneApplied r = applyTune(edits, plan);
        c.link.awaitReply();
        applied = r == TuneApplied::Sent;
        if (r != TuneApplied::Sent && r != TuneApplied::Nothing) {
            err << "q7ctl: the amplifier did not take every report; what it holds is uncertain\n";
            code = 1;
        } else {
            check = checkTune(*audio, speakers, o, plan, devices, cb);
            if (!check->ok()) {
                if (linkLost(c))
                    putMutesBack(c, dsp, clock, err);
                err << "q7ctl: the check failed: "
                    << (check->cancelled ? std::string("cancelled") : check->error)
                    << " (the settings sent stay)\n";
                code = 1;
            } else if (!check->verification.ok()) {
                code = 1;
            }
        }
    }
    c.link.CloseByEditor();
    const TuneVerification* verification = check && check->ok() ? &check->verification : nullptr;

    if (a.json) {
        out << tuneJson(plan, verification, applied) << "\n";
    } else {
        for (const std::string& line : tuneSummary(plan, verification, true))
            out << line << "\n";
        if (a.dryRun)
            out << "dry run: nothing was sent (" << plan.changes.size()
                << " settings would change)\n";
        else if (applied)
            out << "applied as one step: " << plan.changes.size() << " settings changed\n";
        if (verification && !verification->ok())
            out << "the check falls short: what was sent stays\n";
    }
    if (a.report) {
        TuneReportInfo info;
        info.dated = today();
        info.devices = (devices.play.empty() ? std::string("default playback") : devices.play) +
                       " → " +
                       (devices.record.empty() ? std::string("default recording") : devices.record);
        info.positions = o.positions;
        info.sweepSeconds = o.sweep.seconds;
        info.target = targetName(a);
        info.applied = applied;
        std::string error;
        if (!writeTuneReport(*a.report, plan, verification, info, painter.get(), error)) {
            err << "q7ctl: " << error << "\n";
            code = 1;
        }
    }
    return code;
}

std::optional<int> runTuneCommand(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err, const Q7ctlEnvironment& env) {
    const auto a = parseTuneArgs(args);
    if (!a)
        return std::nullopt;
    return runTuneCommand(*a, out, err, env);
}

} // namespace q7
