// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/run.h"

#include "measure/impulse.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

namespace q7 {

namespace {

constexpr double kDriftWorthCorrectingPpm = 2;

// The phase of ir at hz, over a Hann window of ±half samples around centre.
double phaseAt(const ImpulseResponse& ir, double centre, double half, double hz) {
    std::complex<double> acc;
    const double w = 2 * std::numbers::pi * hz / ir.sampleRate;
    const long from = std::max(0L, long(centre - half));
    const long to = std::min(long(ir.samples.size()), long(centre + half));
    for (long i = from; i < to; ++i) {
        const double u = (double(i) - centre) / half;
        const double win = 0.5 + 0.5 * std::cos(std::numbers::pi * u);
        acc += ir.samples[std::size_t(i)] * win * std::polar(1.0, -w * (double(i) - centre));
    }
    return std::arg(acc) - ir.edgePhaseAt(hz); // the deconvolution's own low edge taken out
}

// Group delay at hz in seconds, from the phase slope.
double groupDelay(const ImpulseResponse& ir, double centre, double hz) {
    const double d = hz * 0.005;
    const double half = 0.01 * ir.sampleRate;
    const double dp =
        std::remainder(phaseAt(ir, centre, half, hz + d) - phaseAt(ir, centre, half, hz - d),
                       2 * std::numbers::pi);
    return -dp / (2 * std::numbers::pi * 2 * d);
}

} // namespace

double sweepDriftPpm(const ImpulseResponse& ir, double peak, const SweepSetup& sweep) {
    // The recorder's clock runs 1 + ppm against the player's: the sweep passes f at L ln(f/f1)
    // and arrives ppm * that much later.
    const double lo = 500, hi = std::min(16000.0, 0.8 * sweepEndHz(sweep));
    const double late = groupDelay(ir, peak, hi) - groupDelay(ir, peak, lo);
    return late / (sweepRate(sweep) * std::log(hi / lo)) * 1e6;
}

SweepSetup timingSweep(const SweepSetup& main) {
    SweepSetup t = main;
    t.seconds = 0.5;
    t.startHz = 2000;
    t.endHz = 20000;
    t.fadeInOctaves = 0.25;
    t.fadeOutOctaves = 0.1;
    return t;
}

PlaybackLayout layoutPlayback(const MeasureSetup& setup) {
    const double fs = setup.sweep.sampleRate;
    PlaybackLayout l;
    const std::vector<float> sweep = exponentialSweep(setup.sweep);
    std::size_t at = framesOf(setup.leadSeconds, fs);
    if (setup.reference == TimingReference::Acoustic) {
        const std::vector<float> ref = exponentialSweep(timingSweep(setup.sweep));
        const std::size_t switchAfter = framesOf(setup.switchAfterSeconds, fs);
        const std::size_t settle = framesOf(setup.settleSeconds, fs);
        l.ref1Start = at;
        placeInto(l.signal, at, ref);
        at += ref.size() + switchAfter;
        l.cues.push_back({at, kCueMeasured});
        at += settle;
        l.mainStart = at;
        placeInto(l.signal, at, sweep);
        at += sweep.size();
        l.noiseFrom = at + framesOf(setup.decaySeconds, fs);
        at += std::max(switchAfter, framesOf(setup.decaySeconds + setup.noiseSeconds, fs));
        l.noiseTo = at;
        l.cues.push_back({at, kCueReference});
        at += settle;
        l.ref2Start = at;
        placeInto(l.signal, at, ref);
        at += ref.size() + framesOf(setup.decaySeconds, fs);
    } else {
        l.mainStart = at;
        placeInto(l.signal, at, sweep);
        at += sweep.size();
        l.noiseFrom = at + framesOf(setup.decaySeconds, fs);
        at += framesOf(setup.decaySeconds + setup.noiseSeconds, fs);
        l.noiseTo = at;
    }
    l.signal.resize(at, 0.0f);
    l.recordFrames = at + framesOf(setup.marginSeconds, fs);
    return l;
}

Deconvolvers::Deconvolvers(const MeasureSetup& setup, const PlaybackLayout& layout)
    : main(setup.sweep), timing(timingSweep(setup.sweep)) {
    main.prepareFor(layout.recordFrames);
    if (setup.reference == TimingReference::Acoustic)
        timing.prepareFor(layout.recordFrames);
}

MeasureOutcome analyseRecording(const MeasureSetup& setup, const PlaybackLayout& layout,
                                const std::vector<float>& micIn, const std::vector<float>* loopback,
                                Deconvolvers* prepared) {
    std::optional<Deconvolvers> own;
    if (!prepared)
        prepared = &own.emplace(setup, layout);
    MeasureOutcome out;
    const double fs = setup.sweep.sampleRate;
    if (micIn.empty()) {
        out.fail({MeasureProblem::NothingRecorded});
        return out;
    }
    const auto lead = framesOf(setup.leadSeconds, fs);
    const auto margin = framesOf(setup.marginSeconds, fs);
    // Where an arrival may lie, as a window of lags around the part's place in the playback.
    auto around = [&](std::size_t zero, std::size_t start) {
        const std::size_t from = zero + start - std::min(start, lead);
        return std::pair{from, zero + start + margin};
    };

    const std::vector<float>* mic = &micIn;
    std::vector<float> corrected;
    double referenceAt = 0; // capture frame of the reference arrival, on the player's clock
    double referenceStart = 0;
    if (setup.reference == TimingReference::Acoustic) {
        Deconvolver& timing = prepared->timing;
        const ImpulseResponse refIr = timing(micIn);
        const auto [a0, a1] = around(refIr.zero, layout.ref1Start);
        const auto [b0, b1] = around(refIr.zero, layout.ref2Start);
        const auto r1 = peakIndex(refIr.samples, a0, a1);
        const auto r2 = peakIndex(refIr.samples, b0, b1);
        const double floorPeak = std::abs(refIr.samples[std::size_t(r1.value_or(0))]);
        if (!r1 || !r2 || floorPeak <= 0) {
            out.fail({MeasureProblem::ReferenceMissing});
            return out;
        }
        const double ratio = (*r2 - *r1) / double(layout.ref2Start - layout.ref1Start);
        const double ppm = (ratio - 1) * 1e6;
        if (std::abs(ppm) > 1000) {
            out.fail({MeasureProblem::ReferencesDisagree, ppm});
            return out;
        }
        out.driftPpm = ppm;
        out.driftMeasured = true;
        corrected = resample(micIn, ratio);
        mic = &corrected;
        // A drifting clock also shifts a sweep's peak a little (L ln ratio): the reference is
        // found again on the corrected recording.
        const ImpulseResponse again = timing(corrected);
        const auto [c0, c1] = around(again.zero, layout.ref1Start);
        referenceAt = peakIndex(again.samples, c0, c1).value_or(*r1) - double(again.zero);
        referenceStart = double(layout.ref1Start);
    }

    Deconvolver& deconvolver = prepared->main;
    out.ir = deconvolver(*mic);
    const auto [m0, m1] = around(out.ir.zero, layout.mainStart);
    const auto peak = peakIndex(out.ir.samples, m0, m1);
    if (!peak) {
        out.fail({MeasureProblem::RecordingTooShort});
        return out;
    }
    out.peak = *peak;
    double arrival = out.peak - double(out.ir.zero); // capture frame of the sweep's start
    switch (setup.reference) {
    case TimingReference::None:
        out.delayMs = (arrival - double(layout.mainStart)) / fs * 1000;
        break;
    case TimingReference::Loopback: {
        if (!loopback || loopback->empty()) {
            out.fail({MeasureProblem::NoLoopbackChannel});
            return out;
        }
        ImpulseResponse loopIr = deconvolver(*loopback);
        const auto [l0, l1] = around(loopIr.zero, layout.mainStart);
        auto l = peakIndex(loopIr.samples, l0, l1);
        if (!l || loopIr.samples[std::size_t(*l)] == 0.0f) {
            out.fail({MeasureProblem::NothingOnLoopback});
            return out;
        }
        // Two devices' clocks: the loopback's own group delay tells the drift (a drifting
        // sweep arrives late or early in proportion to how far it has swept), and both
        // channels are put back on the player's clock before the delay is read.
        const double ppm = sweepDriftPpm(loopIr, *l, setup.sweep);
        if (std::abs(ppm) > kDriftWorthCorrectingPpm && std::abs(ppm) < 1000) {
            const double ratio = 1 + ppm * 1e-6;
            corrected = resample(*mic, ratio);
            mic = &corrected;
            out.ir = deconvolver(*mic);
            const auto [c0, c1] = around(out.ir.zero, layout.mainStart);
            out.peak = peakIndex(out.ir.samples, c0, c1).value_or(out.peak);
            arrival = out.peak - double(out.ir.zero);
            loopIr = deconvolver(resample(*loopback, ratio));
            l = peakIndex(loopIr.samples, l0, l1);
            out.driftPpm = ppm;
            out.driftMeasured = true;
        }
        out.delayMs = (arrival - (l.value_or(0) - double(loopIr.zero))) / fs * 1000;
        break;
    }
    case TimingReference::Acoustic:
        out.delayMs =
            (arrival - referenceAt - (double(layout.mainStart) - referenceStart)) / fs * 1000;
        break;
    }

    // Quality: the sweep and the silence after it, where they landed in the recording.
    const double shift = arrival - double(layout.mainStart);
    auto landed = [&](std::size_t frame) {
        return std::size_t(std::max(0.0, double(frame) + shift));
    };
    const std::size_t sweepLength = deconvolver.sweepLength();
    const std::vector<float> noiseWindow(
        mic->begin() + std::ptrdiff_t(std::min(landed(layout.noiseFrom), mic->size())),
        mic->begin() + std::ptrdiff_t(std::min(landed(layout.noiseTo), mic->size())));
    out.quality = assessCapture(*mic, out.ir, out.peak, landed(layout.mainStart), sweepLength,
                                landed(layout.noiseFrom));
    // The noise is the silence before the next part, not whatever follows it.
    if (noiseWindow.size() >= 256) {
        const std::size_t s0 = std::min(landed(layout.mainStart), mic->size());
        const std::size_t s1 = std::min(s0 + sweepLength, mic->size());
        out.quality.snrDb =
            rmsDbfs(mic->data() + s0, s1 - s0) - rmsDbfs(noiseWindow.data(), noiseWindow.size());
        // Where the silence is known, a sweep that did not lift the recording above it did
        // not arrive, however the impulse looks.
        out.quality.arrived = out.quality.snrDb >= kMinArrivalSnrDb;
        out.quality.arrivalDb = out.quality.snrDb;
    }
    out.quality.clipped = clippedSamples(micIn);
    if (!out.quality.arrived) {
        out.fail({MeasureProblem::NoSignal, out.quality.arrivalDb});
        return out;
    }
    if (out.quality.isClipped())
        out.note({MeasureProblem::Clipped, double(out.quality.clipped)});
    if (out.quality.lowSnr())
        out.note({MeasureProblem::LowSnr, out.quality.snrDb});

    const double maxLeftMs = 0.45 * harmonicLeadSeconds(setup.sweep, 2) * 1000;
    out.response = analyse(out.ir, out.peak, setup.analysis, maxLeftMs);
    // Distortion at 1 kHz only where the speaker plays 1 kHz (not a sub's).
    if (!out.response.db.empty()) {
        const double top = *std::max_element(out.response.db.begin(), out.response.db.end());
        const auto at1k = std::lower_bound(out.response.hz.begin(), out.response.hz.end(), 1000.0);
        if (at1k != out.response.hz.end() &&
            out.response.db[std::size_t(at1k - out.response.hz.begin())] > top - 30)
            out.thdPercent1k = thdPercent(out.ir, out.peak, setup.sweep, 1000.0);
    }
    // Levels: the transfer function read as the level a sine of the sweep's level gives at the
    // microphone, then in dB SPL when the microphone's level is known.
    double offset = setup.sweep.levelDbfs;
    std::optional<double> at94 = setup.dbfsAt94;
    if (!at94 && setup.calibration && setup.calibration->dbfsAt94)
        at94 = setup.calibration->dbfsAt94;
    if (at94) {
        offset = splOffset(setup.sweep.levelDbfs, *at94);
        out.splCalibrated = true;
    }
    for (double& d : out.response.db)
        d += offset;
    if (setup.calibration)
        applyCalibration(out.response, *setup.calibration);
    return out;
}

std::size_t framesOf(double seconds, double fs) {
    return std::size_t(std::llround(std::max(seconds, 0.0) * fs));
}

void placeInto(std::vector<float>& signal, std::size_t at, const std::vector<float>& part) {
    if (signal.size() < at + part.size())
        signal.resize(at + part.size(), 0.0f);
    std::copy(part.begin(), part.end(), signal.begin() + std::ptrdiff_t(at));
}

PlayRecordRequest playRecordRequest(const MeasureDevices& devices, double sampleRate,
                                    const std::vector<float>& signal, std::size_t recordFrames) {
    PlayRecordRequest req;
    req.playDevice = devices.play;
    req.recordDevice = devices.record;
    req.sampleRate = sampleRate;
    req.playChannels = std::max(devices.playChannels, 1);
    req.recordChannels = std::max(devices.recordChannels, 1);
    req.recordFrames = recordFrames;
    req.play.resize(signal.size() * std::size_t(req.playChannels));
    for (std::size_t i = 0; i < signal.size(); ++i)
        for (int c = 0; c < req.playChannels; ++c)
            req.play[i * std::size_t(req.playChannels) + std::size_t(c)] = signal[i];
    return req;
}

MeasureOutcome measure(AudioBackend& audio, SpeakerSwitch* speakers, const MeasureSetup& setup,
                       const MeasureDevices& devices, const PlayRecordCallbacks& callbacks) {
    MeasureOutcome out;
    const PlaybackLayout layout = layoutPlayback(setup);
    PlayRecordRequest req =
        playRecordRequest(devices, setup.sweep.sampleRate, layout.signal, layout.recordFrames);
    const bool acoustic = setup.reference == TimingReference::Acoustic;
    if (acoustic)
        req.cues = layout.cues;

    // The filters are made before the sweep starts, so the analysis follows the recording at
    // once.
    Deconvolvers deconvolvers(setup, layout);
    bool switched = true;
    PlayRecordCallbacks cb = callbacks;
    if (speakers) {
        switched = speakers->solo({acoustic ? setup.referenceSpeaker : setup.speaker});
        cb.cue = [&](int id) {
            switched =
                speakers->solo({id == kCueMeasured ? setup.speaker : setup.referenceSpeaker}) &&
                switched;
            if (callbacks.cue)
                callbacks.cue(id);
        };
    }
    PlayRecordResult rec;
    if (switched)
        rec = audio.playAndRecord(req, cb);
    // Every mute goes back, whatever happened.
    const bool restored = !speakers || speakers->restore();
    if (!switched) {
        out.fail({MeasureProblem::SwitchRefused});
        return out;
    }
    if (rec.cancelled) {
        out.fail({MeasureProblem::Cancelled});
        return out;
    }
    if (!rec.error.empty()) {
        out.fail(rec.problem);
        return out;
    }
    const int ch = rec.channels;
    if (ch <= devices.micChannel ||
        (setup.reference == TimingReference::Loopback && ch <= devices.loopbackChannel)) {
        out.fail({setup.reference == TimingReference::Loopback
                      ? MeasureProblem::LoopbackChannelMissing
                      : MeasureProblem::MicChannelMissing,
                  double(ch)});
        return out;
    }
    const std::vector<float> mic = channelOf(rec.recorded, ch, devices.micChannel);
    std::vector<float> loop;
    if (setup.reference == TimingReference::Loopback)
        loop = channelOf(rec.recorded, ch, devices.loopbackChannel);
    out = analyseRecording(setup, layout, mic,
                           setup.reference == TimingReference::Loopback ? &loop : nullptr,
                           &deconvolvers);
    if (!restored)
        out.note({MeasureProblem::MutesNotConfirmed});
    return out;
}

} // namespace q7
