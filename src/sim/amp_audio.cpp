// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/amp_audio.h"

#include "params/dsp.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace q7 {

namespace {

constexpr std::size_t kMaxDelaySamples = 48000; // far beyond what the delay page offers

struct Group {
    int module;
    int eqRecords;
    int bypassParameter;
    int musicMixParameter;
};

// By speakerOutputs() index.
constexpr std::array<Group, kSpeakerOutputs> kGroups = {{
    {5, 24, 32, 31}, // main L
    {5, 24, 32, 31}, // main R
    {7, 10, 16, 15}, // center
    {8, 20, 26, 25}, // sub: five bands, each with its three sections
    {6, 10, 18, 17}, // rear L
    {6, 10, 18, 17}, // rear R
    {9, 10, 18, 17}, // top L
    {9, 10, 18, 17}, // top R
}};

class Values {
public:
    explicit Values(const AmpSettings& s) : s_(s) {}
    const std::vector<std::uint32_t>* words(int module, int parameter) const {
        const auto it = s_.dsp.find(std::uint16_t(module << 8 | parameter));
        return it == s_.dsp.end() ? nullptr : &it->second;
    }
    // The value's n-th word as a float; fallback when it never arrived or is not a number.
    double real(int module, int parameter, std::size_t n, double fallback) const {
        const auto* w = words(module, parameter);
        if (!w || w->size() <= n)
            return fallback;
        const double v = std::bit_cast<float>((*w)[n]);
        return std::isfinite(v) ? v : fallback;
    }
    std::uint32_t integer(int module, int parameter, std::uint32_t fallback) const {
        const auto* w = words(module, parameter);
        return w && !w->empty() ? w->front() : fallback;
    }
    // Coefficient words -a1, -a2, b0, b1, b2; a section never received passes the signal.
    void section(int module, int record, AmplifierAudio::Section& s) const {
        const auto* w = words(module, record);
        if (!w || w->size() < 5) {
            s.identity = true;
            return;
        }
        double c[5];
        for (int i = 0; i < 5; ++i)
            c[i] = std::bit_cast<float>((*w)[std::size_t(i)]);
        if (!std::all_of(c, c + 5, [](double v) { return std::isfinite(v); })) {
            s.identity = true;
            return;
        }
        s.a1 = -c[0];
        s.a2 = -c[1];
        s.b0 = c[2];
        s.b1 = c[3];
        s.b2 = c[4];
        const bool was = s.identity;
        s.identity = s.b0 == 1 && s.b1 == s.a1 && s.b2 == s.a2;
        if (was && !s.identity)
            s.z1 = s.z2 = 0;
    }

private:
    const AmpSettings& s_;
};

} // namespace

AmplifierAudio::AmplifierAudio() {
    for (Music& m : music_)
        m.eq.resize(15);
    for (int k = 0; k < kSpeakerOutputs; ++k)
        outputs_[std::size_t(k)].eq.resize(std::size_t(kGroups[std::size_t(k)].eqRecords));
}

void AmplifierAudio::configure(const AmpSettings& settings) {
    const Values v(settings);
    const bool musicBypass = (v.integer(4, 17, 0) & 0xFF) == 1;
    for (int c = 0; c < 2; ++c) {
        Music& m = music_[std::size_t(c)];
        for (int r = 0; r < 15; ++r) {
            v.section(4, r, m.eq[std::size_t(r)]);
            if (musicBypass)
                m.eq[std::size_t(r)].identity = true;
        }
        m.volume = v.real(4, 15, std::size_t(c), 1.0);
        m.mute = v.real(4, 16, std::size_t(c), 1.0) == 0.0 ? 0.0 : 1.0;
    }
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const SpeakerOutput& s = speakerOutputs()[std::size_t(k)];
        const Group& g = kGroups[std::size_t(k)];
        Output& o = outputs_[std::size_t(k)];
        o.mix = v.real(g.module, g.musicMixParameter, 0, 1.0);
        const bool bypass = (v.integer(g.module, g.bypassParameter, 0) & 0xFF) == 1;
        for (int r = 0; r < g.eqRecords; ++r) {
            v.section(g.module, r, o.eq[std::size_t(r)]);
            if (bypass)
                o.eq[std::size_t(r)].identity = true;
        }
        const DelayChannelInfo& d = delayChannelInfo(DelayChannel(k));
        o.delayOn = (v.integer(d.module, d.offParameter, 1) & 0xFF) == 0;
        o.channelMode = v.real(d.module, d.modeParameter, 1, 1.0) == 0.0;
        v.section(d.module, d.splitRecord, o.splitHigh);
        v.section(d.module, d.splitRecord + 1, o.splitLow);
        o.delay = std::min<std::size_t>(v.integer(d.module, d.delayParameter, 0), kMaxDelaySamples);
        if (o.line.size() != kMaxDelaySamples + 1) {
            o.line.assign(kMaxDelaySamples + 1, 0.0);
            o.at = 0;
        }
        const SpeakerInfo& level = speakerInfo(s.speaker);
        o.level = v.real(level.module, level.parameter, 5, 1.0);
        o.mute = v.real(s.module, s.muteParameter, std::size_t(s.muteWord), 1.0) == 0.0 ? 0.0 : 1.0;
    }
}

void AmplifierAudio::reset() {
    auto clear = [](Section& s) { s.z1 = s.z2 = 0; };
    for (Music& m : music_)
        std::for_each(m.eq.begin(), m.eq.end(), clear);
    for (Output& o : outputs_) {
        std::for_each(o.eq.begin(), o.eq.end(), clear);
        clear(o.splitHigh);
        clear(o.splitLow);
        std::fill(o.line.begin(), o.line.end(), 0.0);
        o.at = 0;
    }
}

bool AmplifierAudio::audible(int speaker) const {
    const Output& o = outputs_[std::size_t(speaker)];
    const SpeakerOutput& s = speakerOutputs()[std::size_t(speaker)];
    const double music =
        s.side < 0 ? std::max(music_[0].volume * music_[0].mute, music_[1].volume * music_[1].mute)
                   : music_[std::size_t(s.side)].volume * music_[std::size_t(s.side)].mute;
    return o.mix * o.level * o.mute * music != 0.0;
}

void AmplifierAudio::process(const float* left, const float* right, std::size_t frames,
                             std::array<std::vector<float>, kSpeakerOutputs>& out) {
    std::vector<double> music[2] = {std::vector<double>(frames), std::vector<double>(frames)};
    const float* in[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        Music& m = music_[std::size_t(c)];
        const double gain = m.volume * m.mute;
        for (std::size_t i = 0; i < frames; ++i) {
            double x = in[c][i];
            for (Section& s : m.eq)
                x = s.run(x);
            music[c][i] = x * gain;
        }
    }
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const SpeakerOutput& s = speakerOutputs()[std::size_t(k)];
        Output& o = outputs_[std::size_t(k)];
        std::vector<float>& y = out[std::size_t(k)];
        y.assign(frames, 0.0f);
        const std::size_t ring = o.line.size();
        for (std::size_t i = 0; i < frames; ++i) {
            double x =
                s.side < 0 ? 0.5 * (music[0][i] + music[1][i]) : music[std::size_t(s.side)][i];
            x *= o.mix;
            for (Section& sec : o.eq)
                x = sec.run(x);
            if (o.delayOn) {
                // What goes into the line, and what stays undelayed beside it.
                double direct = 0, delayed = 0;
                if (o.channelMode) {
                    delayed = o.splitLow.run(o.splitHigh.run(x));
                } else {
                    direct = o.splitLow.run(x);
                    delayed = o.splitHigh.run(x);
                }
                o.line[o.at] = delayed;
                const double late = o.line[(o.at + ring - o.delay) % ring];
                o.at = (o.at + 1) % ring;
                x = direct + late;
            }
            y[i] = float(x * o.level * o.mute);
        }
    }
}

std::vector<float> AmplifierAudio::impulseResponse(int speaker, std::size_t length) const {
    AmplifierAudio copy = *this;
    copy.reset();
    std::vector<float> impulse(length, 0.0f);
    if (length)
        impulse[0] = 1.0f;
    std::array<std::vector<float>, kSpeakerOutputs> out;
    copy.process(impulse.data(), impulse.data(), length, out);
    return out[std::size_t(speaker)];
}

} // namespace q7
