// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/measure_commands.h"

#include "cli/audio_rig.h"
#include "cli/command_line.h"
#include "cli/io.h"
#include "cli/mode_json.h"
#include "device/connection.h"
#include "device/hidapi_backend.h"
#include "measure/average.h"
#include "measure/output.h"
#include "measure/run.h"
#include "measure/speaker_switch.h"
#include "measure/speakers.h"
#include "params/dsp.h"
#include "protocol/file_writer.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_audio.h"
#include "tune/link_switch.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace q7 {

namespace {

// The amplifier's music source codes: SPDIF1 1, SPDIF2 2, HDMI 3, BlueTooth 4.
std::optional<int> sourceCode(const std::string& input) {
    if (input == "spdif1")
        return 1;
    if (input == "spdif2")
        return 2;
    if (input == "hdmi")
        return 3;
    if (input == "bt")
        return 4;
    return std::nullopt;
}

std::string deviceListJson(const std::vector<AudioDevice>& list) {
    std::string s = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        s += (i ? ", " : "") + std::string("{\"name\": ") + jsonString(list[i].name) +
             ", \"channels\": " + std::to_string(list[i].channels) +
             ", \"default\": " + (list[i].isDefault ? "true" : "false") + "}";
    }
    return s + "]";
}

void printDevices(const char* title, const std::vector<AudioDevice>& list, std::ostream& out) {
    out << title << ":\n";
    for (const AudioDevice& d : list)
        out << "  " << d.name << " (" << d.channels << (d.channels == 1 ? " channel" : " channels")
            << (d.isDefault ? ", default" : "") << ")\n";
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

struct Result {
    std::string speaker;
    double delayMs = 0, peakDbfs = -300, snrDb = 0, thd = -1;
    bool clipped = false;
    FrequencyResponse response;
    std::vector<std::string> warnings;
};

std::string resultJson(const Result& r) {
    std::string s = "{\"speaker\": " + jsonString(r.speaker) +
                    ", \"delay_ms\": " + jsonDouble(std::round(r.delayMs * 1e4) / 1e4) +
                    ", \"peak_db\": " + jsonDouble(std::round(r.peakDbfs * 100) / 100) +
                    ", \"snr_db\": " + jsonDouble(std::round(r.snrDb * 100) / 100) +
                    ", \"clipped\": " + (r.clipped ? "true" : "false") + ", \"thd_percent_1k\": " +
                    (r.thd < 0 ? "null" : jsonDouble(std::round(r.thd * 1e4) / 1e4)) +
                    ", \"points\": [";
    for (std::size_t i = 0; i < r.response.hz.size(); ++i)
        s += (i ? ", [" : "[") + fixed(r.response.hz[i], 3) + ", " + fixed(r.response.db[i], 3) +
             ", " + fixed(r.response.phaseDeg[i], 2) + "]";
    s += "], \"warnings\": [";
    for (std::size_t i = 0; i < r.warnings.size(); ++i)
        s += (i ? ", " : "") + jsonString(r.warnings[i]);
    return s + "]}";
}

// What the measurement's options say, once checked.
struct Plan {
    MeasureSetup setup;
    AverageKind average = AverageKind::Power;
    std::string referenceName = "none";
};

std::optional<Plan> makePlan(const MeasureArgs& a, std::ostream& err) {
    Plan p;
    MeasureSetup& s = p.setup;
    auto usage = [&](const std::string& why) {
        err << "q7ctl: " << why << "\n";
        return std::nullopt;
    };
    if (a.sweepSeconds) {
        if (!(*a.sweepSeconds >= 1 && *a.sweepSeconds <= 20))
            return usage("--sweep-seconds takes 1 to 20");
        s.sweep.seconds = *a.sweepSeconds;
    }
    if (a.level) {
        if (!(*a.level >= -60 && *a.level <= 0))
            return usage("--level takes -60 to 0 dBFS");
        s.sweep.levelDbfs = *a.level;
    }
    if (a.smooth) {
        const auto sm = Smoothing::parse(*a.smooth);
        if (!sm)
            return usage("--smooth takes 1/1, 1/3, 1/6, 1/12, 1/24, 1/48, variable, psy or none");
        s.analysis.smoothing = *sm;
    }
    if (a.average) {
        const auto k = parseAverageKind(*a.average);
        if (!k)
            return usage("--average takes power, db or vector");
        p.average = *k;
    }
    if (a.spl94) {
        if (!(*a.spl94 >= -120 && *a.spl94 <= 0))
            return usage("--spl94 takes the level in dBFS (-120 to 0) that 94 dB SPL reads");
        s.dbfsAt94 = *a.spl94;
    }
    if (a.cal) {
        MicCalibration cal = readMicCalibration(*a.cal);
        if (!cal.ok()) {
            err << "q7ctl: " << *a.cal << ": " << cal.error << "\n";
            return std::nullopt;
        }
        s.calibration = std::move(cal);
    }
    if (a.reference && *a.reference != "loopback" && *a.reference != "none") {
        const int r = speakerOutputIndex(*a.reference);
        if (r < 0)
            return usage("--reference takes a speaker (main-l, ...), loopback or none");
        s.reference = TimingReference::Acoustic;
        s.referenceSpeaker = r;
    } else if (a.reference) {
        s.reference =
            *a.reference == "loopback" ? TimingReference::Loopback : TimingReference::None;
    }
    if (a.reference)
        p.referenceName = *a.reference;
    return p;
}

std::vector<std::string> header(const MeasureArgs& a, const Plan& p, const std::string& source,
                                int positions) {
    const MeasureSetup& s = p.setup;
    std::vector<std::string> h = {
        "Measurement data measured by q7ctl",
        "Source: " + source,
        "Format: " + s.analysis.smoothing.name() + ", frequency step 1/48 octave",
        "Dated: " + localTimeText("%b %d, %Y %H:%M:%S"),
        "Sweep: " + fixed(s.sweep.seconds, 1) + " s, " + fixed(s.sweep.startHz, 0) + " Hz to " +
            fixed(sweepEndHz(s.sweep), 0) + " Hz at " + fixed(s.sweep.levelDbfs, 1) + " dBFS",
        "Timing reference: " + p.referenceName,
        "Calibration: " + (a.cal ? *a.cal : std::string("none")) +
            (s.dbfsAt94 ? ", 94 dB SPL = " + fixed(*s.dbfsAt94, 2) + " dBFS" : ""),
        "Levels: " + std::string(s.dbfsAt94 || (s.calibration && s.calibration->dbfsAt94)
                                     ? "dB SPL"
                                     : "dBFS at the microphone (uncalibrated)"),
    };
    if (positions > 1)
        h.push_back("Average: " + std::to_string(positions) + " positions, " +
                    averageKindName(p.average));
    return h;
}

// Writes and prints what a measurement gave; its exit code.
int report(const MeasureArgs& a, const Plan& plan, Result& r, const MeasureOutcome& last,
           const std::string& source, int positions, std::ostream& out, std::ostream& err) {
    int code = r.clipped ? 1 : 0;
    if (a.output) {
        const WriteResult w =
            FileWriter().write(*a.output, rewText(r.response, header(a, plan, source, positions)));
        if (!w) {
            err << "q7ctl: " << describeWrite(w, *a.output) << "\n";
            code = 1;
        }
    }
    if (a.ir) {
        const double fs = last.ir.sampleRate;
        const std::size_t from = std::size_t(std::max(0.0, last.peak - 0.1 * fs));
        const std::size_t to = std::min(last.ir.samples.size(), std::size_t(last.peak + fs));
        const std::vector<float> segment(last.ir.samples.begin() + std::ptrdiff_t(from),
                                         last.ir.samples.begin() + std::ptrdiff_t(to));
        std::string error;
        if (!writeWav(*a.ir, segment, 1, fs, error)) {
            err << "q7ctl: " << error << "\n";
            code = 1;
        }
    }
    for (const std::string& w : r.warnings)
        err << "q7ctl: warning: " << w << "\n";
    if (a.json) {
        out << resultJson(r) << "\n";
    } else {
        out << r.speaker << ": delay " << fixed(r.delayMs, 3) << " ms, peak "
            << fixed(r.peakDbfs, 1) << " dBFS, signal to noise " << fixed(r.snrDb, 1) << " dB";
        if (r.thd >= 0)
            out << ", THD at 1 kHz " << fixed(r.thd, 3) << " %";
        out << (r.clipped ? ", CLIPPED" : "") << "\n";
        if (!a.output && !a.ir)
            out << "(-o MEAS.txt writes the response, --json prints it)\n";
    }
    return code;
}

void fold(Result& r, const MeasureOutcome& m, int position) {
    if (position == 0) {
        r.delayMs = m.delayMs;
        r.snrDb = m.quality.snrDb;
    }
    r.peakDbfs = std::max(r.peakDbfs, m.quality.peakDbfs);
    r.snrDb = std::min(r.snrDb, m.quality.snrDb);
    r.clipped = r.clipped || m.quality.isClipped();
    if (position == 0)
        r.thd = m.thdPercent1k;
    for (const std::string& w : m.warnings)
        r.warnings.push_back(w);
}

int fromRecording(const MeasureArgs& a, Plan& plan, std::ostream& out, std::ostream& err) {
    if (!a.sweepSeconds) {
        err << "q7ctl: --recording needs --sweep-seconds (the length of the sweep recorded)\n";
        return 2;
    }
    if (plan.setup.reference == TimingReference::Acoustic) {
        err << "q7ctl: a recording is timed from its start or its loopback channel\n";
        return 2;
    }
    const WavData w = readWav(*a.recording, 600);
    if (!w.ok()) {
        err << "q7ctl: " << w.error << "\n";
        return 1;
    }
    MeasureSetup& s = plan.setup;
    s.sweep.sampleRate = w.sampleRate;
    s.leadSeconds = 0;
    s.marginSeconds = double(w.frames()) / w.sampleRate;
    PlaybackLayout layout = layoutPlayback(s);
    layout.noiseTo = w.frames();
    const std::vector<float> mic = channelOf(w.samples, w.channels, 0);
    std::vector<float> loop;
    if (s.reference == TimingReference::Loopback) {
        if (w.channels < 2) {
            err << "q7ctl: " << *a.recording << " has no second channel for the loopback\n";
            return 1;
        }
        loop = channelOf(w.samples, w.channels, 1);
    }
    const MeasureOutcome m = analyseRecording(s, layout, mic, loop.empty() ? nullptr : &loop);
    if (!m.ok()) {
        err << "q7ctl: " << m.error << "\n";
        return 1;
    }
    Result r;
    r.speaker = a.speaker.value_or("");
    r.response = m.response;
    fold(r, m, 0);
    return report(a, plan, r, m, *a.recording, 1, out, err);
}

} // namespace

std::string measureUsageError(const MeasureArgs& a) {
    if (a.command != "measure")
        return {};
    if (a.speaker && speakerOutputIndex(*a.speaker) < 0)
        return "--speaker takes main-l, main-r, center, sub, rear-l, rear-r, top-l or top-r";
    if (!a.speaker && !a.recording)
        return "measure needs --speaker SPK (or --recording REC.wav)";
    if (a.input && !sourceCode(*a.input))
        return "--input takes hdmi, spdif1, spdif2 or bt";
    if (a.replay)
        return "measure needs a live amplifier, not a replay";
    if (a.positions < 1 || a.positions > 16)
        return "--positions takes 1 to 16";
    if (a.recording && (a.play || a.record || a.input || a.positions > 1))
        return "--recording is analysed as it is: no devices, input or positions";
    return {};
}

int runMeasureCommand(const MeasureArgs& a, std::ostream& out, std::ostream& err,
                      const Q7ctlEnvironment& env) {
    if (const std::string e = measureUsageError(a); !e.empty()) {
        err << "q7ctl: " << a.command << ": " << e << "\n";
        return kExitUsage;
    }
    std::optional<SimOptions> simOptions;
    if (!parseSimulator(a.simulator, simOptions, err))
        return kExitUsage;
    auto plan = a.command == "measure" ? makePlan(a, err) : std::optional<Plan>(Plan{});
    if (!plan)
        return 2;
    if (a.recording)
        return fromRecording(a, *plan, out, err);

    const bool simulatedByDefault =
        (!a.play || isSimulatedDevice(a.play)) && (!a.record || isSimulatedDevice(a.record));
    AudioRig rig(env, simOptions,
                 a.command == "audio devices" || simulatedByDefault || isSimulatedDevice(a.play) ||
                     isSimulatedDevice(a.record),
                 !(simOptions && a.command == "measure" && simulatedByDefault));
    if (!rig.error().empty()) {
        err << "q7ctl: " << rig.error() << "\n";
        return 2;
    }
    SimulatedAudio* simAudio = rig.simulatedAudio();
    AudioBackend* system = rig.systemAudio();
    Clock& clock = rig.clock();

    if (a.command == "audio devices") {
        std::vector<AudioDevice> play, record;
        for (AudioBackend* b : {static_cast<AudioBackend*>(simAudio), system}) {
            if (!b)
                continue;
            for (const AudioDevice& d : b->playbackDevices())
                play.push_back(d);
            for (const AudioDevice& d : b->recordingDevices())
                record.push_back(d);
        }
        if (!simAudio && !system) {
            err << "q7ctl: this q7ctl has no audio devices (built without Qt Multimedia); "
                   "--simulator offers the simulated ones\n";
            return 1;
        }
        if (a.json) {
            out << "{\"playback\": " << deviceListJson(play)
                << ", \"recording\": " << deviceListJson(record) << "}\n";
        } else {
            printDevices("playback", play, out);
            printDevices("recording", record, out);
        }
        return 0;
    }

    // The devices: the simulated ones by default with the simulator, else the system's.
    const std::optional<bool> simulated =
        useSimulatedDevices(simAudio != nullptr, a.play, a.record, err);
    if (!simulated)
        return 2;
    const bool simulatedDevices = *simulated;
    AudioBackend* audio = simulatedDevices ? simAudio : system;
    if (!audio) {
        err << "q7ctl: this q7ctl has no audio devices (built without Qt Multimedia)\n";
        return 1;
    }
    MeasureDevices devices;
    devices.play = a.play.value_or("");
    devices.record = a.record.value_or("");
    if (!a.reference && simulatedDevices) {
        plan->setup.reference = TimingReference::Loopback;
        plan->referenceName = "loopback";
    }
    ParameterStore store;
    Connection c(rig.backend(), clock, store);
    if (!rig.open(c, a.verbose, a.trace, err))
        return 1;
    // Identity, then what the measurement changes and puts back: the group mutes and the
    // music source, as the amplifier holds them now.
    c.commands.askModel();
    c.commands.askProtocol();
    c.commands.askSource();
    Dsp reader(store, c.link, clock);
    for (int cellNumber : groupMuteCells())
        store.setCellInt(cellNumber, -1); // stays so if no reply arrives
    for (int cellNumber : groupMuteCells()) {
        const CellLayout& how = cellLayout(cellNumber);
        reader.readDspParam(how.address[0].module, how.address[0].parameter, how.count);
    }
    c.link.awaitReply();
    const bool muteRead =
        std::ranges::all_of(groupMuteCells(), [&](int n) { return store.cellInt(n) >= 0; });
    if (!c.link.isOpen() || c.link.readThreadEnded() || !c.state.modelMatches() ||
        !c.state.protocolMatches() || !muteRead) {
        err << "q7ctl: "
            << (!c.link.isOpen() || c.link.readThreadEnded() ? "the amplifier was lost"
                : !muteRead ? "the amplifier did not report its mutes"
                            : "this is not a Q7 amplifier of protocol 11")
            << "\n";
        c.link.CloseByEditor();
        return 1;
    }
    // The devices are asked only once the amplifier is there.
    for (const AudioDevice& d : audio->recordingDevices())
        if (d.name == devices.record || (devices.record.empty() && d.isDefault))
            devices.recordChannels = std::clamp(d.channels, 1, 2);
    if (plan->setup.reference == TimingReference::Loopback && devices.recordChannels < 2) {
        err << "q7ctl: the recording device has one channel: a loopback reference needs two\n";
        c.link.CloseByEditor();
        return 2;
    }

    Dsp dsp(store, c.link, clock);
    // Restore sends the group mutes as the store (synchronised from the amplifier) holds them.
    DspSpeakerSwitch speakers = linkSpeakerSwitch(c.link, dsp);
    const int previousSource = store.cellInt(cell::MusicSource);
    if (a.input) {
        c.commands.switchSource(*sourceCode(*a.input));
        c.link.awaitReply();
    }

    plan->setup.speaker = speakerOutputIndex(*a.speaker);
    const bool tty = a.positions > 1 && ::isatty(0);
    std::vector<FrequencyResponse> responses;
    Result r;
    r.speaker = *a.speaker;
    MeasureOutcome last;
    int code = 0;
    for (int pos = 0; pos < a.positions && code == 0; ++pos) {
        if (a.positions > 1) {
            err << "q7ctl: position " << pos + 1 << " of " << a.positions;
            if (tty) {
                err << ": place the microphone and press Enter\n";
                std::string line;
                std::getline(std::cin, line);
            } else {
                err << "\n";
            }
        }
        last = measure(*audio, &speakers, plan->setup, devices);
        if (!last.ok()) {
            err << "q7ctl: " << last.error << "\n";
            code = 1;
            break;
        }
        fold(r, last, pos);
        responses.push_back(last.response);
    }
    if (a.input) {
        c.commands.switchSource(previousSource);
        c.link.awaitReply();
    }
    c.link.CloseByEditor();
    if (code != 0)
        return code;
    r.response =
        responses.size() == 1 ? responses.front() : averageResponses(responses, plan->average).mean;
    const std::string source =
        (devices.play.empty() ? std::string("default playback") : devices.play) + " -> " +
        (devices.record.empty() ? std::string("default recording") : devices.record) +
        ", speaker " + *a.speaker;
    return report(a, *plan, r, last, source, a.positions, out, err);
}

namespace {

// The amplifier options given before or after the command.
// The command's run: the global options, then the measurement command.
CommandRun runner(MeasureArgs& a) {
    return [&a](Invocation& run) {
        a.simulator = run.global.simulator;
        a.trace = run.global.trace;
        a.replay = run.global.replay;
        a.verbose = run.global.verbose;
        return runMeasureCommand(a, run.out, run.err, run.env);
    };
}

} // namespace

void addMeasureCommands(CommandLine& cli) {
    auto& devices = cli.keep<MeasureArgs>();
    devices.command = "audio devices";
    CLI::App* audio = cli.group("audio", "the computer's audio devices");
    CLI::App* c = cli.add(
        "devices", "list the playback and recording devices",
        "Lists the playback and recording devices by the names --play and --record take: the "
        "computer's (Qt Multimedia: PulseAudio, or PipeWire through its Pulse layer) and, with "
        "--simulator, the simulated amplifier's \"Simulated amplifier input\" and \"Simulated "
        "measurement microphone\".\n",
        runner(devices), audio);
    addJsonFlag(c, devices.json, "print {\"playback\": [...], \"recording\": [...]}");
    cli.usesAmplifier(c);

    auto& m = cli.keep<MeasureArgs>();
    m.command = "measure";
    c = cli.add(
        "measure", "measure one speaker's response at the microphone",
        "The amplifier plays a sweep (1-20 s, default 3; 10 Hz-24 kHz at --level, default -12 "
        "dBFS) through SPK alone: every other output is muted over USB for the sweep and every "
        "mute put back afterwards. SPK: main-l, main-r, center, sub, rear-l, rear-r, top-l, "
        "top-r. With --simulator the simulated amplifier's devices are the defaults. --json "
        "prints {speaker, delay_ms, peak_db (the recording's peak, dBFS), snr_db, clipped, "
        "thd_percent_1k, points: [[freq_hz, spl_db, phase_deg], ...], warnings}. --recording "
        "deconvolves a recording of this sweep made elsewhere (timing: none, or loopback from "
        "its second channel). Exit 0, 1 a failed measurement (no signal, clipped, a device "
        "gone), 2 bad usage.\n",
        runner(m));
    c->add_option("--speaker", m.speaker, "the speaker to measure")->type_name("SPK");
    c->add_option("--play", m.play, "the playback device (q7ctl audio devices lists them)")
        ->type_name("DEV");
    c->add_option("--record", m.record, "the recording device")->type_name("DEV");
    c->add_option("--input", m.input, "switch the music source for the measurement")
        ->type_name("hdmi|spdif1|spdif2|bt");
    c->add_option("--sweep-seconds", m.sweepSeconds, "the sweep's length, 1 to 20 s (3)")
        ->type_name("S");
    c->add_option("--level", m.level, "the sweep's level (-12)")->type_name("DBFS");
    c->add_option("--cal", m.cal, "the microphone's calibration file")->type_name("FILE");
    c->add_option("--spl94", m.spl94, "what 94 dB SPL reads (else the file's sensitivity)")
        ->type_name("DBFS");
    c->add_option("--positions", m.positions, "measure N microphone positions and average them")
        ->type_name("N");
    c->add_option("--average", m.average, "how positions average (power)")
        ->type_name("power|db|vector");
    c->add_option("--smooth", m.smooth,
                  "1/1, 1/3, 1/6, 1/12, 1/24, 1/48 (default), variable, psy "
                  "or none")
        ->type_name("1/N|variable|psy");
    c->add_option("--reference", m.reference,
                  "the timing: loopback (the recorder's second channel wired to the playback; "
                  "the simulated devices' default), a speaker whose short high sweep before and "
                  "after times the measurement, or none")
        ->type_name("SPK|loopback|none");
    c->add_option("-o,--output", m.output, "write REW-compatible text")->type_name("MEAS.txt");
    c->add_option("--ir", m.ir, "write the impulse response as a WAV file")->type_name("IR.wav");
    c->add_option("--recording", m.recording, "analyse a recording made elsewhere")
        ->type_name("REC.wav");
    addJsonFlag(c, m.json);
    cli.usesAmplifier(c);
}

} // namespace q7
