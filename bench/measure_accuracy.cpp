// SPDX-License-Identifier: GPL-3.0-or-later
// Measured against true: synthetic rooms through the simulated amplifier (3 s sweeps, 100 ppm
// microphone drift), each speaker measured with a loopback and with main L's acoustic reference.
// Prints, per room and speaker, the largest deviation of the 1/12-octave response from the true
// one over 30 Hz-16 kHz and the delay errors (loopback in samples, acoustic in ms).
#include "measure/output.h"
#include "measure/run.h"
#include "params/dsp.h"
#include "protocol/report_sink.h"
#include "sim/simulated_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace q7;

namespace {

class Switch final : public SpeakerSwitch {
public:
    explicit Switch(SimulatedAmplifier& amp) {
        OpenError e{};
        device_ = amp.open(kSimulatorPath, e);
    }
    bool solo(const std::vector<int>& speakers) override {
        for (const DspWords& w : soloWords(speakers)) {
            Report r{};
            r[0] = kReportId;
            r[1] = CMD_DSP_WRITE;
            r[3] = std::uint8_t(w.module);
            r[4] = std::uint8_t(w.parameter);
            r[5] = std::uint8_t(w.words.size());
            for (std::size_t i = 0; i < w.words.size(); ++i)
                writeBe32(&r[6 + 4 * i], w.words[i]);
            device_->write(r.data(), r.size());
        }
        return true;
    }
    bool restore() override { return solo({0, 1, 2, 3, 4, 5, 6, 7}); }

private:
    std::unique_ptr<HidDevice> device_;
};

// A second room: a speaker per file at its own distance, six reflections and a decaying mode.
std::string writeSyntheticRoom() {
    const auto dir = std::filesystem::temp_directory_path() / "q7_synthetic_room";
    std::filesystem::create_directories(dir);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        std::vector<float> ir(24000, 0.0f);
        const double direct = 100 + 300 * u(rng); // 0.7 to 2.8 m
        auto tap = [&](double at, double g) {
            for (int i = -16; i <= 16; ++i) {
                const long n = long(std::floor(at)) + i;
                const double d = double(n) - at;
                const double s = std::abs(d) < 1e-9 ? 1 : std::sin(M_PI * d) / (M_PI * d);
                if (n >= 0 && n < long(ir.size()))
                    ir[std::size_t(n)] += float(g * s * (0.5 + 0.5 * std::cos(M_PI * d / 17)));
            }
        };
        tap(direct, 1.0);
        for (int r = 0; r < 6; ++r)
            tap(direct + 40 + 800 * u(rng), (u(rng) - 0.5) * 0.9);
        const double mode = 35 + 30 * u(rng);
        for (std::size_t n = std::size_t(direct); n < ir.size(); ++n) {
            const double t = double(n - std::size_t(direct)) / 48000;
            ir[n] += float(0.002 * std::sin(2 * M_PI * mode * t) * std::exp(-t / 0.08));
        }
        std::string error;
        writeWav((dir / (std::string(speakerOutputs()[std::size_t(k)].id) + ".wav")).string(), ir,
                 1, 48000, error);
    }
    return dir.string();
}

// Over 30 Hz-16 kHz where the speaker plays: within 30 dB of its loudest (the sub's band).
double deviation(const FrequencyResponse& a, const FrequencyResponse& b, double offset) {
    const double top = *std::max_element(b.db.begin(), b.db.end());
    double worst = 0;
    for (std::size_t i = 0; i < a.hz.size() && i < b.hz.size(); ++i)
        if (a.hz[i] >= 30 && a.hz[i] <= 16000 && b.db[i] > top - 30)
            worst = std::max(worst, std::abs(a.db[i] - offset - b.db[i]));
    return worst;
}

} // namespace

int main() {
    const std::string synthetic = writeSyntheticRoom();
    std::printf("%-10s %-7s %14s %16s %14s %14s\n", "room", "speaker", "loopback dB",
                "loopback smp", "acoustic dB", "acoustic ms");
    double worstDb = 0, worstSamples = 0, worstMs = 0;
    for (const std::string& room : {std::string(), synthetic}) {
        VirtualClock clock;
        SimOptions o;
        o.roomDir = room;
        o.driftPpm = 100;
        SimulatedAmplifier amp(clock, o);
        SimulatedAudio audio(amp, o);
        Switch speakers(amp);
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            MeasureSetup setup;
            setup.speaker = k;
            setup.analysis.smoothing = *Smoothing::parse("1/12");
            // The truth, analysed the same way.
            ImpulseResponse truth;
            truth.samples = audio.trueImpulse(k);
            const double truePeak = *peakIndex(truth.samples);
            const FrequencyResponse want = analyse(
                truth, truePeak, setup.analysis, 0.45 * harmonicLeadSeconds(setup.sweep, 2) * 1e3);
            setup.reference = TimingReference::Loopback;
            const MeasureOutcome loop = measure(audio, &speakers, setup, {});
            setup.reference = TimingReference::Acoustic;
            setup.referenceSpeaker = 0;
            const MeasureOutcome acoustic = measure(audio, &speakers, setup, {});
            ImpulseResponse refTruth;
            refTruth.samples = audio.trueImpulse(0);
            const double wantLoopMs = truePeak / 48 + o.audioLatencyMs;
            const double wantAcousticMs = (truePeak - *peakIndex(refTruth.samples)) / 48;
            if (std::getenv("Q7_DEBUG") && k == 3)
                for (std::size_t i = 0; i < want.hz.size(); i += 8)
                    if (want.hz[i] < 400)
                        std::printf("  %8.1f Hz: loop %7.2f acoustic %7.2f true %7.2f\n",
                                    want.hz[i], loop.response.db[i] - setup.sweep.levelDbfs,
                                    acoustic.response.db[i] - setup.sweep.levelDbfs, want.db[i]);
            const double dbL = deviation(loop.response, want, setup.sweep.levelDbfs);
            const double dbA = deviation(acoustic.response, want, setup.sweep.levelDbfs);
            const double smp = (loop.delayMs - wantLoopMs) * 48;
            const double ms = acoustic.delayMs - wantAcousticMs;
            std::printf("%-10s %-7s %14.3f %16.2f %14.3f %14.4f%s\n",
                        room.empty() ? "built-in" : "synthetic",
                        speakerOutputs()[std::size_t(k)].id, dbL, smp, dbA, ms,
                        !loop.ok() || !acoustic.ok()                               ? "  (failed)"
                        : loop.quality.isClipped() || acoustic.quality.isClipped() ? "  (clipped)"
                        : k == 3 ? "  (the sub: delay not rated)"
                                 : "");
            worstDb = std::max({worstDb, dbL, dbA});
            // A sub's broad peak gives no delay to the sample (REW says the same of its own).
            if (k != 3) {
                worstSamples = std::max(worstSamples, std::abs(smp));
                worstMs = std::max(worstMs, std::abs(ms));
            }
        }
    }
    std::printf("worst: %.3f dB (goal 0.5), loopback %.2f samples (goal 1), acoustic %.4f ms "
                "(goal 0.05)\n",
                worstDb, worstSamples, worstMs);
    std::filesystem::remove_all(synthetic);
    return 0;
}
