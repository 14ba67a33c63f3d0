// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simulated_audio.h"

#include "measure/fft.h"
#include "measure/impulse.h"
#include "protocol/clock.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace q7 {

namespace {

constexpr double kRate = 48000;
constexpr std::size_t kBlock = 2400; // 50 ms
constexpr double kLoopbackNoise = 1e-6;
constexpr std::size_t kAirStretch = 12000; // the recording comes in a quarter second at a time

} // namespace

SimulatedAudio::SimulatedAudio(SimulatedAmplifier& amplifier, const SimOptions& options,
                               Clock* pace)
    : amp_(amplifier), options_(options), pace_(pace), builtIn_(options.roomDir.empty()),
      room_(builtIn_ ? builtInRoom() : loadRoom(options.roomDir)) {
    if (builtIn_) {
        room_.positions.resize(kBuiltInRoomPositions);
        made_.assign(kBuiltInRoomPositions, false);
        made_[0] = true;
    }
}

SimulatedAudio::SimulatedAudio(SimulatedAmplifier& amplifier, Room room, const SimOptions& options,
                               Clock* pace)
    : amp_(amplifier), options_(options), pace_(pace), builtIn_(false), room_(std::move(room)) {}

int SimulatedAudio::positions() const {
    std::lock_guard lock(mutex_);
    return int(room_.positions.size());
}

int SimulatedAudio::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}

bool SimulatedAudio::setPosition(int position) {
    std::lock_guard lock(mutex_);
    if (position < 0 || position >= int(room_.positions.size()))
        return false;
    position_ = position;
    return true;
}

const RoomImpulses& SimulatedAudio::impulsesLocked(int position) const {
    const std::size_t p = std::size_t(position);
    if (builtIn_ && !made_[p]) {
        room_.positions[p] = builtInRoomAt(position);
        made_[p] = true;
    }
    return room_.positions[p];
}

RoomImpulses SimulatedAudio::impulsesAt(int position) const {
    std::lock_guard lock(mutex_);
    if (position < 0 || position >= int(room_.positions.size()))
        return {};
    return impulsesLocked(position);
}

std::vector<AudioDevice> SimulatedAudio::playbackDevices() {
    return {{kSimPlaybackDevice, 2, true}};
}

std::vector<AudioDevice> SimulatedAudio::recordingDevices() {
    return {{kSimRecordingDevice, 2, true}};
}

std::vector<float> SimulatedAudio::trueImpulse(int speaker) const {
    AmplifierAudio chain;
    chain.configure(amp_.current());
    std::lock_guard lock(mutex_);
    const auto& room = impulsesLocked(position_)[std::size_t(speaker)];
    if (room.empty())
        return {};
    return convolve(chain.impulseResponse(speaker, 16384), room);
}

PlayRecordResult SimulatedAudio::playAndRecord(const PlayRecordRequest& req,
                                               const PlayRecordCallbacks& cb) {
    std::lock_guard lock(mutex_);
    PlayRecordResult out;
    if (!room_.ok()) {
        out.fail({MeasureProblem::RoomUnreadable, 0, room_.error});
        return out;
    }
    if (!req.playDevice.empty() && req.playDevice != kSimPlaybackDevice) {
        out.fail({MeasureProblem::NoPlaybackDevice, 0, req.playDevice});
        return out;
    }
    if (!req.recordDevice.empty() && req.recordDevice != kSimRecordingDevice) {
        out.fail({MeasureProblem::NoRecordingDevice, 0, req.recordDevice});
        return out;
    }
    if (req.sampleRate != kRate || req.playChannels < 1 || req.playChannels > 2 ||
        req.recordChannels < 1 || req.recordChannels > 2) {
        out.fail({MeasureProblem::SimulatedFormat});
        return out;
    }
    const std::size_t playFrames = req.play.size() / std::size_t(req.playChannels);
    // This run's own start offset between the streams, and noise.
    std::mt19937 rng(0x5eed + runs_++);
    const double startOffset =
        std::uniform_real_distribution<double>(0.05, 0.35)(rng) * kRate; // recorder first
    const std::size_t latency = std::size_t(std::llround(options_.audioLatencyMs / 1000 * kRate));
    const double ratio = 1.0 / (1.0 + options_.driftPpm * 1e-6);
    // Everything the recording can reach, in the player's frames.
    const std::size_t total =
        std::size_t(std::ceil(double(req.recordFrames) * ratio)) + latency + kBlock;

    // The input as the amplifier's decoder hands it on: the playback, latency later.
    std::vector<float> in[2] = {std::vector<float>(total, 0.0f), std::vector<float>(total, 0.0f)};
    for (std::size_t i = 0; i < playFrames && i + latency < total; ++i)
        for (int c = 0; c < 2; ++c)
            in[c][i + latency] = req.play[i * std::size_t(req.playChannels) +
                                          std::size_t(std::min(c, req.playChannels - 1))];

    AmplifierAudio chain;
    chain.configure(amp_.current());
    std::array<std::vector<float>, kSpeakerOutputs> speakers;
    for (auto& s : speakers)
        s.assign(total, 0.0f);
    std::array<std::vector<float>, kSpeakerOutputs> block;
    std::size_t nextCue = 0;

    // Each speaker through the room, summed at the microphone; only where it played (a
    // measurement plays one speaker at a time). Worked out a stretch at a time as the playback
    // goes, so that the recording comes in as it would from a real microphone.
    const RoomImpulses& room = impulsesLocked(position_);
    std::vector<float> air(total, 0.0f);
    std::size_t airDone = 0; // air[0, airDone) holds everything played before airDone
    auto addAir = [&](std::size_t to) {
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const auto& s = speakers[std::size_t(k)];
            const auto& ir = room[std::size_t(k)];
            const auto begin = s.begin() + std::ptrdiff_t(airDone),
                       end = s.begin() + std::ptrdiff_t(to);
            const auto first = std::find_if(begin, end, [](float v) { return v != 0.0f; });
            if (ir.empty() || first == end)
                continue;
            const auto last =
                std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first),
                             [](float v) { return v != 0.0f; })
                    .base();
            const std::size_t from = std::size_t(first - s.begin());
            const std::vector<float> heard = convolve(std::vector<float>(first, last), ir);
            for (std::size_t i = 0; i < heard.size() && from + i < total; ++i)
                air[from + i] += heard[i];
        }
        airDone = to;
    };
    // The recorder started startOffset frames before the player, on its own clock: its frame
    // j hears the air at player frame j * ratio - startOffset, through a kernel this wide.
    const double reach = std::ceil(kResampleHalfTaps * std::max(1.0, ratio)) + 2;
    std::normal_distribution<double> noise(0.0, std::pow(10.0, options_.noiseDb / 20));
    std::normal_distribution<double> loopNoise(0.0, kLoopbackNoise);
    out.channels = req.recordChannels;
    out.recorded.reserve(req.recordFrames * std::size_t(out.channels));
    std::size_t recorded = 0;
    auto record = [&](std::size_t upTo) {
        if (upTo <= recorded)
            return;
        const double start = double(recorded) * ratio - startOffset;
        const std::size_t n = upTo - recorded;
        const std::vector<float> mic = resample(air, ratio, start, n);
        const std::vector<float> loop = resample(in[0], ratio, start + double(latency), n);
        const std::size_t first = out.recorded.size();
        for (std::size_t i = 0; i < n; ++i) {
            out.recorded.push_back(std::clamp(float(mic[i] + noise(rng)), -1.0f, 1.0f));
            if (out.channels > 1)
                out.recorded.push_back(std::clamp(float(loop[i] + loopNoise(rng)), -1.0f, 1.0f));
        }
        recorded = upTo;
        if (cb.recorded)
            cb.recorded(out.recorded.data() + first, n);
    };

    const double started = pace_ ? pace_->nowMs() : 0;
    for (std::size_t at = 0; at < total;) {
        if (cb.cancel && cb.cancel->load()) {
            out.cancelled = true;
            out.recorded.clear();
            return out;
        }
        std::size_t end = std::min(at + kBlock, total);
        // A cue splits the block: what follows it plays with the amplifier's new values.
        if (nextCue < req.cues.size() && req.cues[nextCue].frame < end)
            end = std::max(req.cues[nextCue].frame, at);
        if (end > at) {
            chain.process(in[0].data() + at, in[1].data() + at, end - at, block);
            for (int k = 0; k < kSpeakerOutputs; ++k)
                std::copy(block[std::size_t(k)].begin(), block[std::size_t(k)].end(),
                          speakers[std::size_t(k)].begin() + std::ptrdiff_t(at));
        }
        at = end;
        if (at >= airDone + kAirStretch || at == total) {
            addAir(at);
            const double heard = (double(at) - reach + startOffset) / ratio;
            record(at == total
                       ? req.recordFrames
                       : std::min(req.recordFrames, std::size_t(std::max(0.0, std::floor(heard)))));
        }
        while (nextCue < req.cues.size() && req.cues[nextCue].frame <= at) {
            if (cb.cue)
                cb.cue(req.cues[nextCue].id);
            ++nextCue;
        }
        chain.configure(amp_.current());
        if (cb.progress)
            cb.progress(std::min(1.0, double(at) / double(total)));
        if (pace_)
            pace_->waitUntil([](double) { return false; }, started + double(at) / kRate * 1000);
    }
    record(req.recordFrames);
    return out;
}

} // namespace q7
