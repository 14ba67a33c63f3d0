// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/level_check.h"

#include "measure/impulse.h"
#include "measure/quality.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace q7 {

std::vector<float> levelCheckSignal(const LevelCheckSetup& setup) {
    const std::size_t quiet = std::size_t(0.5 * setup.sampleRate);
    const std::size_t n = std::size_t(setup.seconds * setup.sampleRate);
    std::vector<float> out(quiet + n, 0.0f);
    // Pink noise (Kellet's filter on white noise), scaled to the sweep's RMS.
    std::mt19937 rng(94);
    std::normal_distribution<double> white(0, 1);
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    std::vector<double> pink(n);
    for (double& p : pink) {
        const double w = white(rng);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        p = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
    }
    double sq = 0;
    for (double p : pink)
        sq += p * p;
    const double rms = std::sqrt(sq / double(n));
    const double want = std::pow(10.0, setup.levelDbfs / 20) / std::sqrt(2.0);
    const std::size_t fade = std::size_t(0.01 * setup.sampleRate);
    for (std::size_t i = 0; i < n; ++i) {
        const double edge =
            std::min({1.0, double(i) / double(fade), double(n - 1 - i) / double(fade)});
        out[quiet + i] = float(std::clamp(pink[i] / rms * want * edge, -1.0, 1.0));
    }
    return out;
}

LevelCheck assessLevel(const std::vector<float>& recording, double sampleRate) {
    LevelCheck c;
    const std::size_t step = std::size_t(0.1 * sampleRate);
    std::vector<double> levels;
    for (std::size_t i = 0; i + step <= recording.size(); i += step)
        levels.push_back(rmsDbfs(recording.data() + i, step));
    if (levels.size() < 4)
        return c;
    std::sort(levels.begin(), levels.end());
    // The burst fills at least a quarter of the recording, the quiet at least a tenth.
    c.levelDbfs = levels[levels.size() - 1 - levels.size() / 8];
    c.noiseDbfs = levels[levels.size() / 20];
    c.peakDbfs = peakDbfs(recording.data(), recording.size());
    c.headroomDb = -c.peakDbfs;
    c.snrDb = c.levelDbfs - c.noiseDbfs;
    if (c.snrDb < kMinArrivalSnrDb)
        c.advice = LevelCheck::Advice::NoSignal;
    else if (c.headroomDb < kWantedHeadroomDb || clippedSamples(recording) > 0)
        c.advice = LevelCheck::Advice::Softer;
    else if (c.snrDb < kMinSnrDb)
        c.advice = LevelCheck::Advice::Louder;
    else
        c.advice = LevelCheck::Advice::Good;
    return c;
}

LevelCheck checkLevel(AudioBackend& audio, SpeakerSwitch* speakers, int speaker,
                      const LevelCheckSetup& setup, const MeasureDevices& devices,
                      const PlayRecordCallbacks& callbacks, MeasureIssue& problem) {
    const std::vector<float> burst = levelCheckSignal(setup);
    PlayRecordRequest req;
    req.playDevice = devices.play;
    req.recordDevice = devices.record;
    req.sampleRate = setup.sampleRate;
    req.playChannels = std::max(devices.playChannels, 1);
    req.recordChannels = std::max(devices.recordChannels, 1);
    req.recordFrames = burst.size() + std::size_t(setup.marginSeconds * setup.sampleRate);
    req.play.resize(burst.size() * std::size_t(req.playChannels));
    for (std::size_t i = 0; i < burst.size(); ++i)
        for (int c = 0; c < req.playChannels; ++c)
            req.play[i * std::size_t(req.playChannels) + std::size_t(c)] = burst[i];
    const bool switched = !speakers || speakers->solo({speaker});
    PlayRecordResult rec;
    if (switched)
        rec = audio.playAndRecord(req, callbacks);
    const bool restored = !speakers || speakers->restore();
    if (!switched || !restored) {
        problem = {MeasureProblem::SwitchRefused};
        return {};
    }
    if (!rec.ok()) {
        problem = rec.cancelled ? MeasureIssue{MeasureProblem::Cancelled} : rec.problem;
        return {};
    }
    if (rec.channels <= devices.micChannel) {
        problem = {MeasureProblem::MicChannelMissing, -1};
        return {};
    }
    return assessLevel(channelOf(rec.recorded, rec.channels, devices.micChannel), setup.sampleRate);
}

} // namespace q7
