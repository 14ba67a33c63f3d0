// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/room_sweeps.h"

#include "measure/impulse.h"
#include "measure/quality.h"
#include "measure/speakers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>

namespace q7 {

namespace {

constexpr int kSub = 3; // speakerOutputs() index of the Sub
// Around a speaker's sweep, what its segment of the recording keeps: before it (the left
// window), and after it (the arrival's spread between speakers and the room's decay).
constexpr double kBeforeSeconds = 0.3;
constexpr double kAfterSeconds = 0.9;
// Where a speaker's impulse may lie against where the reference says it should: delays and
// distances differ between speakers.
constexpr double kEarliestSeconds = 0.15;
constexpr double kLatestSeconds = 0.25;
constexpr double kDriftWorthCorrectingPpm = 0.5;

std::size_t frames(double seconds, double fs) {
    return std::size_t(std::llround(std::max(seconds, 0.0) * fs));
}

void place(std::vector<float>& signal, std::size_t at, const std::vector<float>& part) {
    if (signal.size() < at + part.size())
        signal.resize(at + part.size(), 0.0f);
    std::copy(part.begin(), part.end(), signal.begin() + std::ptrdiff_t(at));
}

// x[from, from + n), zero beyond its ends.
std::vector<float> slice(const std::vector<float>& x, long from, std::size_t n) {
    std::vector<float> out(n, 0.0f);
    for (std::size_t i = 0; i < n; ++i) {
        const long at = from + long(i);
        if (at >= 0 && at < long(x.size()))
            out[i] = x[std::size_t(at)];
    }
    return out;
}

// The largest magnitude in ir.samples[from, to), and whether it stands out of the rest of that
// stretch as an arrival does (not as noise's largest sample).
struct Arrival {
    double index = 0;
    bool clear = false;
};

Arrival findArrival(const ImpulseResponse& ir, std::size_t from, std::size_t to) {
    Arrival a;
    to = std::min(to, ir.samples.size());
    const auto p = peakIndex(ir.samples, from, to);
    if (!p || to <= from)
        return a;
    a.index = *p;
    double power = 0;
    for (std::size_t i = from; i < to; ++i)
        power += double(ir.samples[i]) * ir.samples[i];
    power /= double(to - from);
    const double peak = std::abs(ir.samples[std::size_t(std::lround(*p))]);
    a.clear = power > 0 && 10 * std::log10(peak * peak / power) >= kMinArrivalDb;
    return a;
}

std::string format(const char* f, double v) {
    char buf[160];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

const char* referenceMissing = "the timing reference did not arrive";

} // namespace

std::vector<Complex> SpeakerSweep::transfer() const {
    std::vector<Complex> h(response.hz.size());
    for (std::size_t i = 0; i < h.size(); ++i) {
        const double phase = response.phaseDeg[i] * std::numbers::pi / 180 -
                             2 * std::numbers::pi * response.hz[i] * arrivalMs / 1000;
        h[i] = std::polar(std::pow(10.0, response.db[i] / 20), phase);
    }
    return h;
}

const SpeakerSweep* PositionSweeps::find(int speaker) const {
    for (const SpeakerSweep& s : speakers)
        if (s.speaker == speaker)
            return &s;
    return nullptr;
}

RoomSweepLayout layoutRoomSweeps(const RoomSweepSetup& setup) {
    const double fs = setup.sweep.sampleRate;
    RoomSweepLayout l;
    const std::vector<float> sweep = exponentialSweep(setup.sweep);
    const std::vector<float> ref = exponentialSweep(timingSweep(setup.sweep));
    const std::size_t switchAfter = frames(setup.switchAfterSeconds, fs);
    const std::size_t settle = frames(setup.settleSeconds, fs);
    std::size_t at = frames(setup.leadSeconds, fs);
    l.ref1Start = at;
    place(l.signal, at, ref);
    at += ref.size();
    for (int speaker : setup.speakers) {
        at += switchAfter;
        l.cues.push_back({at, speaker});
        at += settle;
        l.starts.push_back(at);
        place(l.signal, at, sweep);
        at += sweep.size();
    }
    l.noiseFrom = at + frames(setup.decaySeconds, fs);
    at += std::max(switchAfter, frames(setup.decaySeconds + setup.noiseSeconds, fs));
    l.noiseTo = at;
    l.cues.push_back({at, setup.referenceSpeaker});
    at += settle;
    l.ref2Start = at;
    place(l.signal, at, ref);
    at += ref.size() + frames(0.1, fs);
    l.signal.resize(at, 0.0f);
    l.recordFrames = at + frames(setup.marginSeconds, fs);
    return l;
}

void fitToStreams(RoomSweepSetup& setup, double offsetSeconds, double longestDelayMs) {
    if (!(offsetSeconds >= 0) || offsetSeconds > setup.marginSeconds)
        return;
    // The next part starts no sooner than the left window its analysis keeps after this one.
    setup.switchAfterSeconds =
        std::min(std::max(offsetSeconds + longestDelayMs / 1000 + 0.15, kBeforeSeconds),
                 setup.switchAfterSeconds);
    // The streams' offset differs from run to run: room for it to double and more.
    setup.marginSeconds = std::min(setup.marginSeconds, 2 * offsetSeconds + 0.5);
}

double roomSweepSeconds(const RoomSweepSetup& setup) {
    return double(layoutRoomSweeps(setup).recordFrames) / setup.sweep.sampleRate;
}

PositionSweeps analyseRoomSweeps(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                                 const std::vector<float>& micIn) {
    PositionSweeps out;
    const double fs = setup.sweep.sampleRate;
    if (micIn.empty()) {
        out.error = "nothing was recorded";
        return out;
    }
    const std::size_t lead = frames(setup.leadSeconds, fs),
                      margin = frames(setup.marginSeconds, fs);

    // The reference's two arrivals, each from its own stretch of the recording.
    const SweepSetup timing = timingSweep(setup.sweep);
    Deconvolver timingDeconvolver(timing);
    const std::size_t refLength = exponentialSweep(timing).size();
    auto referenceAt = [&](const std::vector<float>& mic, std::size_t start, bool& clear) {
        const long from = long(start) - long(std::min(start, lead));
        const std::size_t n = std::size_t(long(start) - from) + refLength + margin;
        const ImpulseResponse ir = timingDeconvolver(slice(mic, from, n));
        const Arrival a =
            findArrival(ir, ir.zero, ir.zero + std::size_t(long(start) - from) + margin);
        clear = a.clear;
        return double(from) + a.index - double(ir.zero);
    };
    bool clear1 = false, clear2 = false;
    double r1 = referenceAt(micIn, layout.ref1Start, clear1);
    const double r2 = referenceAt(micIn, layout.ref2Start, clear2);
    if (!clear1 || !clear2) {
        out.error = referenceMissing;
        return out;
    }
    const double ratio = (r2 - r1) / double(layout.ref2Start - layout.ref1Start);
    out.driftPpm = (ratio - 1) * 1e6;
    if (std::abs(out.driftPpm) > 1000) {
        out.error = "the two timing references disagree (" + format("%.0f ppm", out.driftPpm) +
                    "): the reference speaker's sweep was not heard cleanly";
        return out;
    }
    const std::vector<float>* mic = &micIn;
    std::vector<float> corrected;
    if (std::abs(out.driftPpm) > kDriftWorthCorrectingPpm) {
        corrected = resample(micIn, ratio);
        mic = &corrected;
        r1 = referenceAt(corrected, layout.ref1Start, clear1);
    }
    // Where the playback's frame 0 landed in the recording (with the reference's own path).
    const double shift = r1 - double(layout.ref1Start);
    out.offsetSeconds = shift / fs;
    auto landed = [&](std::size_t frame) {
        return std::size_t(std::clamp(double(frame) + shift, 0.0, double(mic->size())));
    };
    const std::size_t noiseFrom = landed(layout.noiseFrom), noiseTo = landed(layout.noiseTo);
    const double noiseDb =
        noiseTo > noiseFrom + 256 ? rmsDbfs(mic->data() + noiseFrom, noiseTo - noiseFrom) : -300.0;

    const std::size_t sweepLength = exponentialSweep(setup.sweep).size();
    const std::size_t before = frames(kBeforeSeconds, fs);
    const std::size_t segment = before + sweepLength + frames(kAfterSeconds, fs);
    const double maxLeftMs = 0.45 * harmonicLeadSeconds(setup.sweep, 2) * 1000;
    double offset = setup.sweep.levelDbfs;
    std::optional<double> at94 = setup.dbfsAt94;
    if (!at94 && setup.calibration && setup.calibration->dbfsAt94)
        at94 = setup.calibration->dbfsAt94;
    if (at94)
        offset = splOffset(setup.sweep.levelDbfs, *at94);

    // The speakers' parts are analysed on two threads, each with its own deconvolver; they only
    // read the recording.
    std::vector<SpeakerSweep> results(setup.speakers.size());
    auto analyseOne = [&](std::size_t k, Deconvolver& main) {
        SpeakerSweep& s = results[k];
        s.speaker = setup.speakers[k];
        const std::size_t start = layout.starts[k];
        const std::size_t s0 = landed(start), s1 = landed(start + sweepLength);
        s.snrDb = (s1 > s0 ? rmsDbfs(mic->data() + s0, s1 - s0) : -300.0) - noiseDb;
        s.arrived = s.snrDb >= kMinArrivalSnrDb;
        s.clipped = std::any_of(micIn.begin() + std::ptrdiff_t(std::min(s0, micIn.size())),
                                micIn.begin() + std::ptrdiff_t(std::min(s1, micIn.size())),
                                [](float v) { return std::abs(v) >= kClipLevel; });
        if (!s.arrived) {
            return;
        }
        const long from = long(std::llround(double(start) + shift)) - long(before);
        const ImpulseResponse ir = main(slice(*mic, from, segment));
        const std::size_t expected = ir.zero + before;
        const auto peak = peakIndex(ir.samples, expected - frames(kEarliestSeconds, fs),
                                    expected + frames(kLatestSeconds, fs));
        if (!peak) {
            s.arrived = false;
            return;
        }
        const double arrival = double(from) + *peak - double(ir.zero);
        s.arrivalMs = (arrival - r1 - double(start - layout.ref1Start)) / fs * 1000;
        s.response = analyse(ir, *peak, setup.analysis, maxLeftMs);
        for (double& d : s.response.db)
            d += offset;
        if (setup.calibration)
            applyCalibration(s.response, *setup.calibration);
        if (s.clipped)
            s.warnings.push_back("the recording clipped: lower the level");
        if (s.snrDb < kMinSnrDb)
            s.warnings.push_back("the signal is only " + format("%.1f dB", s.snrDb) +
                                 " over the noise (40 dB or more is wanted): raise the level");
    };
    auto worker = [&](std::size_t first) {
        Deconvolver main(setup.sweep);
        main.prepareFor(segment);
        for (std::size_t k = first; k < results.size(); k += 2)
            analyseOne(k, main);
    };
    {
        std::thread other;
        if (results.size() > 1)
            other = std::thread(worker, 1);
        worker(0);
        if (other.joinable())
            other.join();
    }
    out.speakers = std::move(results);
    return out;
}

std::vector<int> speakersHeard(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                               const std::vector<float>& mic) {
    std::vector<int> heard;
    const double fs = setup.sweep.sampleRate;
    Deconvolver main(setup.sweep);
    const std::size_t lead = frames(setup.leadSeconds, fs);
    const std::size_t reach = lead + frames(setup.marginSeconds, fs);
    const std::size_t n = reach + main.sweepLength() + frames(kAfterSeconds, fs);
    for (std::size_t k = 0; k < setup.speakers.size(); ++k) {
        const long from = long(layout.starts[k]) - long(lead);
        const ImpulseResponse ir = main(slice(mic, from, n));
        if (findArrival(ir, ir.zero, ir.zero + reach).clear)
            heard.push_back(setup.speakers[k]);
    }
    return heard;
}

PositionSweeps sweepRoom(AudioBackend& audio, SpeakerSwitch& speakers, const RoomSweepSetup& given,
                         const MeasureDevices& devices, const RoomSweepCallbacks& callbacks) {
    RoomSweepSetup setup = given;
    for (int attempt = 0;; ++attempt) {
        PositionSweeps out;
        const RoomSweepLayout layout = layoutRoomSweeps(setup);
        PlayRecordRequest req;
        req.playDevice = devices.play;
        req.recordDevice = devices.record;
        req.sampleRate = setup.sweep.sampleRate;
        req.playChannels = std::max(devices.playChannels, 1);
        req.recordChannels = std::max(devices.recordChannels, 1);
        req.recordFrames = layout.recordFrames;
        req.play.resize(layout.signal.size() * std::size_t(req.playChannels));
        for (std::size_t i = 0; i < layout.signal.size(); ++i)
            for (int c = 0; c < req.playChannels; ++c)
                req.play[i * std::size_t(req.playChannels) + std::size_t(c)] = layout.signal[i];
        req.cues = layout.cues;

        PlayRecordCallbacks cb;
        cb.progress = callbacks.progress;
        cb.cancel = callbacks.cancel;
        bool switched = speakers.solo({setup.referenceSpeaker});
        cb.cue = [&](int id) { switched = speakers.solo({id}) && switched; };
        PlayRecordResult rec;
        if (switched)
            rec = audio.playAndRecord(req, cb);
        // Every mute goes back, whatever happened.
        const bool restored = speakers.restore();
        if (!switched) {
            out.error = "the amplifier did not take the speaker switching";
            return out;
        }
        if (rec.cancelled) {
            out.cancelled = true;
            out.error = "cancelled";
            return out;
        }
        if (!rec.error.empty()) {
            out.error = rec.error;
            return out;
        }
        if (rec.channels <= devices.micChannel) {
            out.error = "the recording device gave " + std::to_string(rec.channels) +
                        " channel(s); the microphone's channel is missing";
            return out;
        }
        const std::vector<float> mic = channelOf(rec.recorded, rec.channels, devices.micChannel);
        out = analyseRoomSweeps(setup, layout, mic);
        out.referenceSpeaker = setup.referenceSpeaker;
        if (!restored)
            out.error = "the amplifier did not confirm that every mute was put back";
        if (out.error != referenceMissing || attempt > 0)
            return out;
        // Time the position from a speaker that was heard.
        const std::vector<int> heard = speakersHeard(setup, layout, mic);
        const auto other = std::find_if(heard.begin(), heard.end(), [&](int s) {
            return s != kSub && s != setup.referenceSpeaker;
        });
        if (other == heard.end()) {
            out.error = heard.empty() ? "no speaker was heard at the microphone"
                                      : "no full-range speaker was heard to time the others";
            return out;
        }
        setup.referenceSpeaker = *other;
    }
}

} // namespace q7
