// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/room_sweeps.h"

#include "measure/impulse.h"
#include "measure/quality.h"
#include "measure/speakers.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
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
    const std::size_t switchAfter = framesOf(setup.switchAfterSeconds, fs);
    const std::size_t settle = framesOf(setup.settleSeconds, fs);
    std::size_t at = framesOf(setup.leadSeconds, fs);
    l.ref1Start = at;
    placeInto(l.signal, at, ref);
    at += ref.size();
    for (int speaker : setup.speakers) {
        at += switchAfter;
        l.cues.push_back({at, speaker});
        at += settle;
        l.starts.push_back(at);
        placeInto(l.signal, at, sweep);
        at += sweep.size();
    }
    l.noiseFrom = at + framesOf(setup.decaySeconds, fs);
    at += std::max(switchAfter, framesOf(setup.decaySeconds + setup.noiseSeconds, fs));
    l.noiseTo = at;
    l.cues.push_back({at, setup.referenceSpeaker});
    at += settle;
    l.ref2Start = at;
    placeInto(l.signal, at, ref);
    at += ref.size() + framesOf(0.1, fs);
    l.signal.resize(at, 0.0f);
    l.recordFrames = at + framesOf(setup.marginSeconds, fs);
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

namespace {

// What the whole analysis of a position shares: where the parts lie and how they are read.
struct PartReading {
    const RoomSweepSetup& setup;
    const RoomSweepLayout& layout;
    double fs;
    std::size_t lead, margin, sweepLength, before, segment, refLength;
    double maxLeftMs, offset;
    SweepSetup timing;

    PartReading(const RoomSweepSetup& s, const RoomSweepLayout& l)
        : setup(s), layout(l), fs(s.sweep.sampleRate), lead(framesOf(s.leadSeconds, fs)),
          margin(framesOf(s.marginSeconds, fs)), sweepLength(exponentialSweep(s.sweep).size()),
          before(framesOf(kBeforeSeconds, fs)),
          segment(before + sweepLength + framesOf(kAfterSeconds, fs)),
          maxLeftMs(0.45 * harmonicLeadSeconds(s.sweep, 2) * 1000), offset(s.sweep.levelDbfs),
          timing(timingSweep(s.sweep)) {
        refLength = exponentialSweep(timing).size();
        std::optional<double> at94 = s.dbfsAt94;
        if (!at94 && s.calibration && s.calibration->dbfsAt94)
            at94 = s.calibration->dbfsAt94;
        if (at94)
            offset = splOffset(s.sweep.levelDbfs, *at94);
    }

    // The recording's frames a timing sweep's analysis reads: [from, from + n).
    long referenceFrom(std::size_t start) const {
        return long(start) - long(std::min(start, lead));
    }
    std::size_t referenceFrames(std::size_t start) const {
        return std::size_t(long(start) - referenceFrom(start)) + refLength + margin;
    }
    // The reference's arrival, in the recording's frames.
    double referenceAt(Deconvolver& d, const std::vector<float>& mic, std::size_t start,
                       bool& clear) const {
        const long from = referenceFrom(start);
        const ImpulseResponse ir = d(slice(mic, from, referenceFrames(start)));
        const Arrival a =
            findArrival(ir, ir.zero, ir.zero + std::size_t(long(start) - from) + margin);
        clear = a.clear;
        return double(from) + a.index - double(ir.zero);
    }
    // Where speaker part k's segment begins in a recording whose frame 0 of the playback
    // landed at `shift`.
    long partFrom(std::size_t k, double shift) const {
        return long(std::llround(double(layout.starts[k]) + shift)) - long(before);
    }
};

// One speaker's impulse and response, from its segment of the recording.
struct PartResult {
    bool done = false;
    bool found = false; // an impulse where it was expected
    double arrivalMs = 0;
    FrequencyResponse response;
};

PartResult readPart(const PartReading& r, Deconvolver& d, std::size_t k,
                    const std::vector<float>& seg, long from, double r1) {
    PartResult p;
    p.done = true;
    const std::size_t start = r.layout.starts[k];
    const ImpulseResponse ir = d(seg);
    const std::size_t expected = ir.zero + r.before;
    const auto peak = peakIndex(ir.samples, expected - framesOf(kEarliestSeconds, r.fs),
                                expected + framesOf(kLatestSeconds, r.fs));
    if (!peak)
        return p;
    p.found = true;
    const double arrival = double(from) + *peak - double(ir.zero);
    p.arrivalMs = (arrival - r1 - double(start - r.layout.ref1Start)) / r.fs * 1000;
    p.response = analyse(ir, *peak, r.setup.analysis, r.maxLeftMs);
    for (double& v : p.response.db)
        v += r.offset;
    if (r.setup.calibration)
        applyCalibration(p.response, *r.setup.calibration);
    return p;
}

// The speakers' parts read while the rest of the position is still being recorded: each as
// soon as its segment is in, on a thread of its own, so that after the last sweep only what
// is left remains. What it reads is what the analysis after the recording would read, frame
// for frame; a recorder whose clock drifts has its recording resampled first, so its parts are
// read again then.
class EarlyParts {
public:
    EarlyParts(const RoomSweepSetup& setup, const RoomSweepLayout& layout)
        : reading_(setup, layout), parts_(layout.starts.size()) {}
    ~EarlyParts() { stop(); }

    // The microphone's next frames, on the recording's thread.
    void feed(const float* frames, std::size_t n, int channels, int channel) {
        for (std::size_t i = 0; i < n; ++i)
            mic_.push_back(frames[i * std::size_t(channels) + std::size_t(channel)]);
        if (gaveUp_)
            return;
        if (!shift_) {
            if (mic_.size() < std::size_t(reading_.referenceFrom(reading_.layout.ref1Start)) +
                                  reading_.referenceFrames(reading_.layout.ref1Start))
                return;
            Deconvolver timing(reading_.timing);
            bool clear = false;
            r1_ = reading_.referenceAt(timing, mic_, reading_.layout.ref1Start, clear);
            if (!clear) {
                gaveUp_ = true; // the analysis after the recording says why
                return;
            }
            shift_ = r1_ - double(reading_.layout.ref1Start);
        }
        while (next_ < parts_.size()) {
            const long from = reading_.partFrom(next_, *shift_);
            if (long(mic_.size()) < from + long(reading_.segment))
                break;
            std::lock_guard lock(mutex_);
            jobs_.push_back({next_, from, slice(mic_, from, reading_.segment)});
            ++next_;
            if (!worker_.joinable())
                worker_ = std::thread([this] { work(); });
            wake_.notify_one();
        }
    }

    // Stops taking parts; what was read stays. Returns the parts by speaker (done where read).
    std::vector<PartResult> finish() {
        stop();
        return std::move(parts_);
    }

private:
    struct Job {
        std::size_t k;
        long from;
        std::vector<float> segment;
    };

    void work() {
        Deconvolver d(reading_.setup.sweep);
        d.prepareFor(reading_.segment);
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            PartResult p = readPart(reading_, d, job.k, job.segment, job.from, r1_);
            lock.lock();
            parts_[job.k] = std::move(p);
        }
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
    }

    PartReading reading_;
    std::vector<float> mic_;
    std::optional<double> shift_;
    double r1_ = 0;
    bool gaveUp_ = false;
    std::size_t next_ = 0; // the next part to queue
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::vector<PartResult> parts_;
    bool stopping_ = false;
    std::thread worker_;
};

PositionSweeps analyseParts(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                            const std::vector<float>& micIn, std::vector<PartResult> early) {
    PositionSweeps out;
    const PartReading reading(setup, layout);
    const double fs = reading.fs;
    if (micIn.empty()) {
        out.error = "nothing was recorded";
        return out;
    }
    // The reference's two arrivals, each from its own stretch of the recording.
    Deconvolver timingDeconvolver(reading.timing);
    bool clear1 = false, clear2 = false;
    double r1 = reading.referenceAt(timingDeconvolver, micIn, layout.ref1Start, clear1);
    const double r2 = reading.referenceAt(timingDeconvolver, micIn, layout.ref2Start, clear2);
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
    early.resize(setup.speakers.size());
    if (std::abs(out.driftPpm) > kDriftWorthCorrectingPpm) {
        corrected = resample(micIn, ratio);
        mic = &corrected;
        r1 = reading.referenceAt(timingDeconvolver, corrected, layout.ref1Start, clear1);
        early.assign(setup.speakers.size(), PartResult{});
    }
    out.analysedWhileRecording =
        int(std::count_if(early.begin(), early.end(), [](const PartResult& p) { return p.done; }));
    // Where the playback's frame 0 landed in the recording (with the reference's own path).
    const double shift = r1 - double(layout.ref1Start);
    out.offsetSeconds = shift / fs;
    auto landed = [&](std::size_t frame) {
        return std::size_t(std::clamp(double(frame) + shift, 0.0, double(mic->size())));
    };
    const std::size_t noiseFrom = landed(layout.noiseFrom), noiseTo = landed(layout.noiseTo);
    const double noiseDb =
        noiseTo > noiseFrom + 256 ? rmsDbfs(mic->data() + noiseFrom, noiseTo - noiseFrom) : -300.0;

    std::vector<SpeakerSweep> results(setup.speakers.size());
    for (std::size_t k = 0; k < results.size(); ++k) {
        SpeakerSweep& s = results[k];
        s.speaker = setup.speakers[k];
        const std::size_t start = layout.starts[k];
        const std::size_t s0 = landed(start), s1 = landed(start + reading.sweepLength);
        s.snrDb = (s1 > s0 ? rmsDbfs(mic->data() + s0, s1 - s0) : -300.0) - noiseDb;
        s.arrived = s.snrDb >= kMinArrivalSnrDb;
        s.clipped = std::any_of(micIn.begin() + std::ptrdiff_t(std::min(s0, micIn.size())),
                                micIn.begin() + std::ptrdiff_t(std::min(s1, micIn.size())),
                                [](float v) { return std::abs(v) >= kClipLevel; });
    }
    // The parts not read yet are read on two threads, each with its own deconvolver; they only
    // read the recording.
    std::vector<std::size_t> left;
    for (std::size_t k = 0; k < results.size(); ++k)
        if (results[k].arrived && !early[k].done)
            left.push_back(k);
    auto worker = [&](std::size_t first) {
        if (first >= left.size())
            return;
        Deconvolver main(setup.sweep);
        main.prepareFor(reading.segment);
        for (std::size_t i = first; i < left.size(); i += 2) {
            const std::size_t k = left[i];
            const long from = reading.partFrom(k, shift);
            early[k] = readPart(reading, main, k, slice(*mic, from, reading.segment), from, r1);
        }
    };
    {
        std::thread other;
        if (left.size() > 1)
            other = std::thread(worker, 1);
        worker(0);
        if (other.joinable())
            other.join();
    }
    for (std::size_t k = 0; k < results.size(); ++k) {
        SpeakerSweep& s = results[k];
        if (!s.arrived)
            continue;
        if (!early[k].found) {
            s.arrived = false;
            continue;
        }
        s.arrivalMs = early[k].arrivalMs;
        s.response = std::move(early[k].response);
        if (s.clipped)
            s.warnings.push_back("the recording clipped: lower the level");
        if (s.snrDb < kMinSnrDb)
            s.warnings.push_back("the signal is only " + format("%.1f dB", s.snrDb) +
                                 " over the noise (40 dB or more is wanted): raise the level");
    }
    out.speakers = std::move(results);
    return out;
}

} // namespace

PositionSweeps analyseRoomSweeps(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                                 const std::vector<float>& mic) {
    return analyseParts(setup, layout, mic, {});
}

std::vector<int> speakersHeard(const RoomSweepSetup& setup, const RoomSweepLayout& layout,
                               const std::vector<float>& mic) {
    std::vector<int> heard;
    const double fs = setup.sweep.sampleRate;
    Deconvolver main(setup.sweep);
    const std::size_t lead = framesOf(setup.leadSeconds, fs);
    const std::size_t reach = lead + framesOf(setup.marginSeconds, fs);
    const std::size_t n = reach + main.sweepLength() + framesOf(kAfterSeconds, fs);
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
        PlayRecordRequest req =
            playRecordRequest(devices, setup.sweep.sampleRate, layout.signal, layout.recordFrames);
        req.cues = layout.cues;

        PlayRecordCallbacks cb;
        cb.progress = callbacks.progress;
        cb.cancel = callbacks.cancel;
        bool switched = speakers.solo({setup.referenceSpeaker});
        cb.cue = [&](int id) { switched = speakers.solo({id}) && switched; };
        EarlyParts early(setup, layout);
        const int micChannel = devices.micChannel, channels = req.recordChannels;
        if (micChannel >= 0 && micChannel < channels)
            cb.recorded = [&](const float* frames, std::size_t n) {
                early.feed(frames, n, channels, micChannel);
            };
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
        out = analyseParts(setup, layout, mic, early.finish());
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
