// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/tune_commands.h"

#include "cli/audio_rig.h"
#include "cli/command_line.h"
#include "cli/io.h"
#include "cli/mode_json.h"
#include "device/connection.h"
#include "device/hidapi_backend.h"
#include "eq/eq_bank.h"
#include "measure/speakers.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_audio.h"
#include "tune/link_switch.h"
#include "tune/report.h"
#include "tune/run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace q7 {

namespace {

// A figure to the step it is worth (0.01 dB, 0.0001 ms, 0.1 Hz), as few digits as that takes,
// never "-0".
std::string rounded(double v, double step) {
    if (!std::isfinite(v))
        return "null";
    const int decimals = std::clamp(int(std::lround(-std::log10(step))), 0, 9);
    const double r = std::round(v / step) * step;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, r == 0 ? 0.0 : r);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

int bankOfSpeaker(int k) {
    constexpr int banks[kSpeakerOutputs] = {5, 5, 3, kSubEqBank, 4, 4, 11, 11};
    return banks[k];
}

std::string tuneJson(const TunePlan& plan, const TuneVerification* check, bool applied,
                     const std::string& error) {
    std::string s = "{";
    if (!error.empty())
        s += "\"error\": " + jsonString(error) + ", ";
    s += "\"speakers\": {";
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
    s += "], \"not_checked\": [";
    if (check)
        for (std::size_t i = 0; i < check->notChecked.size(); ++i)
            s += (i ? ", " : "") + jsonString(check->notChecked[i].en);
    s += "], \"notes\": [";
    for (std::size_t i = 0; i < plan.notes.size(); ++i)
        s += (i ? ", " : "") + jsonString(tidyText(plan.notes[i].en));
    return s + "]}";
}

// What --json prints when the tuning stops short of a result: the reason, and each position's
// speakers heard so far.
std::string failureJson(const std::string& error, const RoomRun* run) {
    std::string s = "{\"error\": " + jsonString(error) +
                    ", \"applied\": false, \"verified\": false, \"positions\": [";
    if (run)
        for (std::size_t p = 0; p < run->measured.positions.size(); ++p) {
            s += std::string(p ? ", " : "") + "{\"heard\": [";
            bool first = true;
            for (const SpeakerSweep& w : run->measured.positions[p].speakers)
                if (w.arrived) {
                    s += (first ? "" : ", ") +
                         jsonString(speakerOutputs()[std::size_t(w.speaker)].id);
                    first = false;
                }
            s += "]}";
        }
    return s + "]}";
}

// A full synchronisation: the tuning starts from every value the amplifier holds. The exit
// code, kExitOk when every value was read.
int synchronise(Connection& c, std::ostream& err) {
    c.session.SynchronizeData();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::Passed && c.session.unreadValues() == 0)
        return kExitOk;
    if (r == CheckResult::Passed) {
        err << "q7ctl: " << c.session.unreadValues()
            << " settings could not be read from the amplifier\n";
        return kExitNoAnswer;
    }
    if (r == CheckResult::LinkLost) {
        err << "q7ctl: the amplifier was lost during the transfer\n";
        return kExitNoAnswer;
    }
    err << "q7ctl: this is not a Q7 amplifier of protocol 11\n";
    return kExitFailure;
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

std::string tuneUsageError(const TuneArgs& a) {
    if (a.positions < 1 || a.positions > kMaxTunePositions)
        return "--positions takes 1 to 9";
    if (a.maxBoost && !(*a.maxBoost >= 0 && *a.maxBoost <= kBandGainMaxDb))
        return "--max-boost takes 0 to 15 dB";
    if (a.sweepSeconds && !(*a.sweepSeconds >= 1 && *a.sweepSeconds <= 20))
        return "--sweep-seconds takes 1 to 20";
    if (a.replay)
        return "tune needs a live amplifier, not a replay";
    if (a.speakers && *a.speakers != "auto") {
        const std::string& list = *a.speakers;
        for (std::size_t from = 0; from <= list.size();) {
            const std::size_t comma = std::min(list.find(',', from), list.size());
            if (speakerOutputIndex(list.substr(from, comma - from)) < 0)
                return "--speakers takes auto or a list of main-l, main-r, center, sub, rear-l, "
                       "rear-r, top-l, top-r";
            from = comma + 1;
        }
    }
    return {};
}

int runTuneCommand(const TuneArgs& a, std::ostream& out, std::ostream& err,
                   const Q7ctlEnvironment& env) {
    // Every failure on stderr, and with --json as an object on stdout that scripts can read.
    const RoomRun* measuredSoFar = nullptr;
    auto fail = [&](int code, const std::string& why) {
        err << "q7ctl: " << why << "\n";
        if (a.json)
            out << failureJson(why, measuredSoFar) << "\n";
        return code;
    };
    // The same where the reason is already on stderr.
    auto failed = [&](int code, const std::string& why) {
        if (a.json)
            out << failureJson(why, measuredSoFar) << "\n";
        return code;
    };
    if (const std::string e = tuneUsageError(a); !e.empty())
        return fail(kExitUsage, "tune: " + e);
    std::optional<SimOptions> simOptions;
    {
        std::ostringstream why;
        if (!parseSimulator(a.simulator, simOptions, why)) {
            std::string text = why.str();
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            if (text.rfind("q7ctl: ", 0) == 0)
                text.erase(0, 7);
            return fail(kExitUsage, text);
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
        if (!t.ok())
            return fail(1, *a.target + ": " + t.error.en);
        o.target.kind = Target::Kind::Curve;
        o.target.curve = t.curve;
    }
    if (a.cal) {
        MicCalibration cal = readMicCalibration(*a.cal);
        if (!cal.ok())
            return fail(1, *a.cal + ": " + cal.error);
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
    const std::optional<bool> simulated =
        useSimulatedDevices(simOptions.has_value(), a.play, a.record, err);
    if (!simulated)
        return failed(kExitUsage, "the playback or recording device is not usable");
    const bool simulatedDevices = *simulated;
    AudioRig rig(env, simOptions, simulatedDevices, !simulatedDevices);
    if (!rig.error().empty())
        return fail(kExitUsage, rig.error());
    SimulatedAudio* simAudio = rig.simulatedAudio();
    if (simAudio && simAudio->positions() < o.positions)
        return fail(kExitUsage, "the simulated room has " + std::to_string(simAudio->positions()) +
                                    (simAudio->positions() == 1 ? " position" : " positions"));
    AudioBackend* audio = simulatedDevices ? simAudio : rig.systemAudio();
    if (!audio)
        return fail(1, "this q7ctl has no audio devices (built without Qt Multimedia)");
    Clock& clock = rig.clock();
    ParameterStore store;
    Connection c(rig.backend(), clock, store);
    if (!rig.open(c, a.verbose, a.trace, err))
        return failed(1, "the amplifier could not be opened");
    if (const int code = synchronise(c, err); code != kExitOk) {
        c.link.CloseByEditor();
        return failed(code, "the amplifier could not be read");
    }
    MeasureDevices devices;
    devices.play = a.play.value_or("");
    devices.record = a.record.value_or("");
    for (const AudioDevice& d : audio->recordingDevices())
        if (d.name == devices.record || (devices.record.empty() && d.isDefault))
            devices.recordChannels = std::clamp(d.channels, 1, 2);

    Dsp dsp(store, c.link, clock);
    DspSpeakerSwitch speakers = linkSpeakerSwitch(c.link, dsp);
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
    measuredSoFar = &run;
    if (!run.ok()) {
        const bool lost = linkLost(c);
        if (lost)
            putMutesBack(c, dsp, clock, err);
        c.link.CloseByEditor();
        if (lost)
            return failed(1, "the amplifier was lost in the middle of a sweep");
        return fail(1, run.cancelled ? std::string("cancelled") : run.error);
    }
    const TunePlan plan = computeTune(run.measured, o);
    if (!plan.ok) {
        c.link.CloseByEditor();
        return fail(1, plan.error.en);
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
    std::string failure; // why the run ends short of a verified tuning (for --json)
    if (!a.dryRun) {
        const TuneApplied r = applyTune(edits, plan);
        c.link.awaitReply();
        applied = r == TuneApplied::Sent;
        if (r != TuneApplied::Sent && r != TuneApplied::Nothing) {
            failure = "the amplifier did not take every report; what it holds is uncertain";
            err << "q7ctl: " << failure << "\n";
            code = 1;
        } else {
            check = checkTune(*audio, speakers, o, plan, devices, cb);
            if (!check->ok()) {
                if (linkLost(c))
                    putMutesBack(c, dsp, clock, err);
                failure = "the check failed: " +
                          (check->cancelled ? std::string("cancelled") : check->error) +
                          " (the settings sent stay)";
                err << "q7ctl: " << failure << "\n";
                code = 1;
            } else if (!check->verification.ok()) {
                code = 1;
            }
        }
    }
    c.link.CloseByEditor();
    const TuneVerification* verification = check && check->ok() ? &check->verification : nullptr;

    if (a.report) {
        TuneReportInfo info;
        info.dated = localTimeText("%Y-%m-%d %H:%M");
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
            if (failure.empty())
                failure = error;
            code = 1;
        }
    }
    if (a.json) {
        out << tuneJson(plan, verification, applied, failure) << "\n";
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
    return code;
}

void addTuneCommands(CommandLine& cli) {
    auto& o = cli.keep<TuneArgs>();
    CLI::App* c = cli.add(
        "tune", "tune the room: levels, delays, Sub crossover, EQ",
        "Each speaker plays a sweep alone (every other output muted over USB and put back "
        "afterwards) at each listening position, the first being the main seat. Then the "
        "levels are matched at the main seat (500 Hz-2 kHz, the Sub over its pass band) to the "
        "quietest, the delays make every speaker arrive with the farthest, the Sub's crossover, "
        "polarity and delay are chosen so that it adds to the mains, and each output's EQ is "
        "fitted to its position-averaged response (Main L/R, Rear L/R and Top L/R share a "
        "bank). Everything is applied as one step, then each speaker is measured again at the "
        "main seat against what was predicted. The amplifier has no polarity switch: a Sub "
        "that sums better inverted gets an all-pass band (type off) at the crossover; reversing "
        "its speaker wires does the same exactly. With --simulator the simulated amplifier's "
        "devices are the defaults; --simulator=room=DIR takes one position per sub-folder 1/, "
        "2/ ... of DIR. --json prints {\"speakers\": {\"main-l\": {\"connected\", "
        "\"level_db\", \"delay_ms\", \"polarity\": \"normal|inverted\", \"bands\", "
        "\"rms_before_db\", \"rms_predicted_db\", \"rms_after_db\", ...}, ...}, "
        "\"crossover_hz\", \"changed\": [\"main.delay_ms\", ...], \"verified\", \"shortfalls\", "
        "\"not_checked\": [what the check could not tell, and why], ...}, and on a failure "
        "{\"error\": \"...\", \"positions\": [{\"heard\": [...]}, ...]}. Exit 0 applied and "
        "verified within the limits (or, with --dry-run, computed), 1 the check falls short "
        "(what was sent stays) or a measurement failed, 2 bad usage, 3 the amplifier is "
        "silent.\n",
        [&o](Invocation& run) {
            o.simulator = run.global.simulator;
            o.trace = run.global.trace;
            o.replay = run.global.replay;
            o.verbose = run.global.verbose;
            return runTuneCommand(o, run.out, run.err, run.env);
        });
    c->add_option("--speakers", o.speakers,
                  "main-l,main-r,center,sub,rear-l,rear-r,top-l,top-r (comma separated), or "
                  "auto: every output, one whose sweep does not arrive is not connected (auto)")
        ->type_name("LIST|auto");
    c->add_option("--positions", o.positions,
                  "1 to 9 microphone positions, the first the main seat; q7ctl waits for Enter "
                  "before each (1)")
        ->type_name("N");
    c->add_option("--target", o.target,
                  "flat, house (the auto-EQ's house curve) or a response file (flat)")
        ->type_name("flat|house|FILE");
    c->add_option("--max-boost", o.maxBoost,
                  "the most an output's EQ may raise any frequency, 0 to 15 dB (6)")
        ->type_name("DB");
    c->add_option("--sweep-seconds", o.sweepSeconds,
                  "the sweep's length, 1 to 20 s (3); the check uses 1 s sweeps")
        ->type_name("S");
    c->add_option("--play", o.play, "the playback device (q7ctl audio devices lists them)")
        ->type_name("DEV");
    c->add_option("--record", o.record, "the recording device")->type_name("DEV");
    c->add_option("--cal", o.cal, "the microphone's calibration file")->type_name("FILE");
    c->add_flag("--dry-run", o.dryRun, "measure and compute; send nothing");
    c->add_option("--report", o.report,
                  "write index.html, a chart per speaker, before.q7M and tuned.q7M to DIR")
        ->type_name("DIR");
    addJsonFlag(c, o.json);
    cli.usesAmplifier(c);
}

} // namespace q7
