// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/chain.h"

#include "eq/eq_bank.h"
#include "measure/speakers.h"
#include "params/codec.h"
#include "params/dsp.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace q7 {

namespace {

struct OutputCells {
    int eqRecords; // the output group's EQ records, before its split pairs
    int bypassCell;
    int musicMixCell;
};

// By speakerOutputs() index.
constexpr std::array<OutputCells, kSpeakerOutputs> kOutputs = {{
    {24, 96, 95},
    {24, 96, 95},
    {10, 147, 146},
    {20, 161, 160},
    {10, 113, 112},
    {10, 113, 112},
    {10, 130, 129},
    {10, 130, 129},
}};

float wordFloat(std::uint32_t w) {
    return std::bit_cast<float>(w);
}

} // namespace

Section::Section(const Biquad& b) {
    const auto w = codec::coefficientWords(b);
    a1 = -double(wordFloat(w[0]));
    a2 = -double(wordFloat(w[1]));
    b0 = wordFloat(w[2]);
    b1 = wordFloat(w[3]);
    b2 = wordFloat(w[4]);
}

Section::Section(const BandRecord& r)
    : Section(DesignBiquad(r.type, recordGainDb(r), r.frequency, recordQ(r), 0.0, kEqSampleRate)) {}

Complex Section::at(double hz) const {
    const Complex z = std::polar(1.0, -2 * std::numbers::pi * hz / codec::kSampleRate);
    return (b0 + z * (b1 + z * b2)) / (1.0 + z * (a1 + z * a2));
}

void Section::apply(const std::vector<double>& hz, std::vector<Complex>& h) const {
    for (std::size_t i = 0; i < hz.size() && i < h.size(); ++i)
        h[i] *= at(hz[i]);
}

Complex sectionResponse(const Biquad& b, double hz) {
    return Section(b).at(hz);
}

Complex recordResponse(const BandRecord& r, double hz) {
    return Section(r).at(hz);
}

std::int32_t imageCellInt(const ModeImage& m, int cell) {
    return cell >= 0 && cell < kCellCount ? std::int32_t(m.cells[std::size_t(cell)]) : 0;
}

float imageCellFloat(const ModeImage& m, int cell) {
    return wordFloat(std::uint32_t(imageCellInt(m, cell)));
}

BandRecord imageBand(const ModeImage& m, int group, int record) {
    const int offset = bandOffset(group, record);
    return offset < 0 ? BandRecord{} : BandRecord::fromBytes(&m.bandImage[std::size_t(offset)]);
}

void setImageBand(ModeImage& m, int group, int record, const BandRecord& r) {
    const int offset = bandOffset(group, record);
    if (offset >= 0)
        r.toBytes(&m.bandImage[std::size_t(offset)]);
}

float imageSpeakerLevel(const ModeImage& m, int speaker) {
    const std::size_t at = std::size_t(speakerInfo(speaker).slot) * 4;
    const std::uint32_t w =
        std::uint32_t(m.speakerLevels[at]) << 24 | std::uint32_t(m.speakerLevels[at + 1]) << 16 |
        std::uint32_t(m.speakerLevels[at + 2]) << 8 | std::uint32_t(m.speakerLevels[at + 3]);
    return wordFloat(w);
}

double appliedDelayMs(const ModeImage& settings, int speaker) {
    const DelayChannelInfo& d = delayChannelInfo(DelayChannel(speaker));
    if ((imageCellInt(settings, d.offCell) & 0xFF) != 0)
        return 0.0;
    const double ms =
        std::max(double(imageCellFloat(settings, d.delayCell)), codec::kMinOutputDelayMs);
    return double(codec::msToSamples(ms)) * 1000.0 / codec::kSampleRate;
}

bool delaysWholeSignal(const ModeImage& settings, int speaker) {
    return imageCellInt(settings, delayChannelInfo(DelayChannel(speaker)).modeCell) != 0;
}

std::vector<Complex> musicChain(const ModeImage& settings, const std::vector<double>& hz) {
    constexpr int kMusicGroup = 4, kMusicRecords = 15, kMusicBypassCell = 87;
    std::vector<Complex> h(hz.size(), Complex(1.0));
    if ((imageCellInt(settings, kMusicBypassCell) & 0xFF) != 1)
        for (int r = 0; r < kMusicRecords; ++r) {
            Section(imageBand(settings, kMusicGroup, r)).apply(hz, h);
        }
    const float volume =
        codec::scaledToFloat(imageCellInt(settings, cell::MusicVolume), codec::Scale::C100);
    for (Complex& v : h)
        v *= double(volume);
    return h;
}

std::vector<Complex> outputChain(const ModeImage& settings, int speaker,
                                 const std::vector<double>& hz, ChainParts parts) {
    std::vector<Complex> h(hz.size(), Complex(1.0));
    if (speaker < 0 || speaker >= kSpeakerOutputs)
        return h;
    const SpeakerOutput& out = speakerOutputs()[std::size_t(speaker)];
    const OutputCells& cells = kOutputs[std::size_t(speaker)];
    const int group = out.module;
    if (parts.eq && (imageCellInt(settings, cells.bypassCell) & 0xFF) != 1) {
        for (int r = 0; r < cells.eqRecords; ++r) {
            const BandRecord rec = imageBand(settings, group, r);
            if (rec.type == filter::Peq && rec.gain == 150)
                continue; // a flat section
            Section(rec).apply(hz, h);
        }
    }
    if (parts.delay) {
        const DelayChannelInfo& d = delayChannelInfo(DelayChannel(speaker));
        const double ms = appliedDelayMs(settings, speaker);
        if (ms > 0) {
            const Section high(imageBand(settings, d.module, d.splitRecord));
            const Section low(imageBand(settings, d.module, d.splitRecord + 1));
            const bool whole = delaysWholeSignal(settings, speaker);
            for (std::size_t i = 0; i < hz.size(); ++i) {
                const Complex late = std::polar(1.0, -2 * std::numbers::pi * hz[i] * ms / 1000);
                const Complex hi = high.at(hz[i]), lo = low.at(hz[i]);
                h[i] *= whole ? hi * lo * late : lo + hi * late;
            }
        }
    }
    if (parts.level) {
        const float level =
            wordFloat(codec::speakerLevelRecord(imageSpeakerLevel(settings, out.speaker))[5]);
        const float mix =
            codec::scaledToFloat(imageCellInt(settings, cells.musicMixCell), codec::Scale::C100);
        for (Complex& v : h)
            v *= double(level) * double(mix);
    }
    return h;
}

} // namespace q7
