// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/dsp.h"

#include "params/biquad.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace q7 {

namespace {

using codec::Scale;

std::array<CellLayout, kCellCount> buildCellLayouts() {
    std::array<CellLayout, kCellCount> s{};
    auto one = [&](int cell, CellCode code, int module, int parameter, int count = 1) {
        CellLayout& c = s[std::size_t(cell)];
        c.code = code;
        c.count = std::uint8_t(count);
        c.addressCount = 1;
        c.address[0] = {std::uint8_t(module), std::uint8_t(parameter)};
    };
    auto two = [&](int cell, CellCode code, int module, int p1, int p2) {
        one(cell, code, module, p1);
        s[std::size_t(cell)].addressCount = 2;
        s[std::size_t(cell)].address[1] = {std::uint8_t(module), std::uint8_t(p2)};
    };
    // Consecutive cells to consecutive parameters of one module.
    auto run = [&](int firstCell, int lastCell, CellCode code, int module, int firstParameter,
                   int count = 1) {
        for (int c = firstCell; c <= lastCell; ++c)
            one(c, code, module, firstParameter + (c - firstCell), count);
    };
    auto compressor = [&](int firstCell, int module, int parameter) {
        for (int c = firstCell; c < firstCell + 4; ++c)
            one(c, CellCode::Comp, module, parameter, 7);
    };

    // Microphones (module 1).
    two(26, CellCode::C100, 1, 30, 43);
    run(27, 30, CellCode::C100, 1, 33);
    one(31, CellCode::Sel, 1, 37);
    one(32, CellCode::Sel, 1, 41);
    one(33, CellCode::Hz, 1, 38);
    one(34, CellCode::Sel, 1, 40);
    run(35, 38, CellCode::C100, 1, 46);
    one(39, CellCode::Sel, 1, 50);
    one(40, CellCode::Sel, 1, 54);
    one(41, CellCode::Hz, 1, 51);
    one(42, CellCode::Sel, 1, 53);
    two(43, CellCode::C100, 1, 32, 45);
    two(44, CellCode::Mute, 1, 42, 55);
    run(45, 48, CellCode::C100, 1, 56);
    run(49, 52, CellCode::C1e4, 1, 60);
    one(53, CellCode::C1e5, 1, 64);
    one(54, CellCode::C1e7, 1, 65);
    one(55, CellCode::Sel, 1, 67);
    one(56, CellCode::C100, 1, 68);

    // Echo (module 2).
    one(57, CellCode::Sel, 2, 14);
    one(58, CellCode::C100, 2, 15);
    run(59, 61, CellCode::Ms, 2, 16);
    run(62, 63, CellCode::C100, 2, 19);
    one(64, CellCode::Sel, 2, 21);
    one(65, CellCode::C100, 2, 22);
    run(66, 68, CellCode::Ms, 2, 23);
    run(69, 70, CellCode::C100, 2, 26);
    one(71, CellCode::C100, 2, 28, 2);
    one(72, CellCode::Mute, 2, 29, 2);

    // Reverb (module 3).
    one(73, CellCode::Sel, 3, 14);
    one(74, CellCode::C100, 3, 15);
    run(75, 76, CellCode::Ms, 3, 16);
    two(77, CellCode::ReverbTime, 3, 18, 19);
    one(78, CellCode::Sel, 3, 20);
    one(79, CellCode::C100, 3, 21);
    run(80, 81, CellCode::Ms, 3, 22);
    two(82, CellCode::ReverbTime, 3, 24, 25);
    one(83, CellCode::C100, 3, 26, 2);
    one(84, CellCode::Mute, 3, 27, 2);

    // Music (module 4).
    one(85, CellCode::C100, 4, 15, 2);
    one(86, CellCode::Mute, 4, 16, 2);
    one(87, CellCode::Sel, 4, 17);
    one(88, CellCode::Pitch, 4, 20);
    one(89, CellCode::C1e4, 4, 21);
    one(90, CellCode::C1e5, 4, 22);
    one(91, CellCode::C1e7, 4, 23);
    one(171, CellCode::Sel, 4, 18);
    one(172, CellCode::Raw, 4, 19);

    // Main (module 5).
    run(92, 95, CellCode::C100, 5, 28);
    one(96, CellCode::Sel, 5, 32);
    one(97, CellCode::Sel, 5, 34);
    compressor(98, 5, 33);
    run(102, 103, CellCode::Ms, 5, 35);
    run(104, 105, CellCode::Sel, 5, 37);
    run(106, 107, CellCode::Flag, 5, 39, 2);
    one(108, CellCode::Mute, 5, 41, 2);

    // Rear (6), top (9): the same layout.
    for (auto [first, module] : {std::pair{109, 6}, std::pair{126, 9}}) {
        run(first, first + 3, CellCode::C100, module, 14);
        one(first + 4, CellCode::Sel, module, 18);
        one(first + 5, CellCode::Sel, module, 20);
        compressor(first + 6, module, 19);
        run(first + 10, first + 11, CellCode::Ms, module, 21);
        run(first + 12, first + 13, CellCode::Sel, module, 23);
        run(first + 14, first + 15, CellCode::Flag, module, 25, 2);
        one(first + 16, CellCode::Mute, module, 27, 2);
    }

    // Center (7).
    run(143, 146, CellCode::C100, 7, 12);
    one(147, CellCode::Sel, 7, 16);
    one(148, CellCode::Sel, 7, 18);
    compressor(149, 7, 17);
    one(153, CellCode::Ms, 7, 19);
    one(154, CellCode::Sel, 7, 20);
    one(155, CellCode::Flag, 7, 21, 2);
    one(156, CellCode::Mute, 7, 22);

    // Sub (8).
    run(157, 160, CellCode::C100, 8, 22);
    one(161, CellCode::Sel, 8, 26);
    one(162, CellCode::Sel, 8, 28);
    compressor(163, 8, 27);
    one(167, CellCode::Ms, 8, 29);
    one(168, CellCode::Sel, 8, 30);
    one(169, CellCode::Flag, 8, 31, 2);
    one(170, CellCode::Mute, 8, 32);
    return s;
}

const std::array<CellLayout, kCellCount>& cellLayouts() {
    static const auto setups = buildCellLayouts();
    return setups;
}

// (module, parameter) -> cell for the reply decoder; -1 where a reply is ignored.
struct DecodeTable {
    std::array<std::array<std::int16_t, 256>, 10> cell;
};

const DecodeTable& decodeTable() {
    static const DecodeTable table = [] {
        DecodeTable t;
        for (auto& row : t.cell)
            row.fill(-1);
        const auto& setups = cellLayouts();
        for (int c = 0; c < kCellCount; ++c) {
            const CellLayout& s = setups[std::size_t(c)];
            for (int a = 0; a < s.addressCount; ++a) {
                auto& slot = t.cell[s.address[a].module][s.address[a].parameter];
                if (slot < 0) // a compressor address keeps its first cell
                    slot = std::int16_t(c);
            }
        }
        // Read back but not decoded: the second effect volume and reverb time addresses.
        t.cell[1][45] = -1;
        t.cell[3][19] = -1;
        t.cell[3][25] = -1;
        return t;
    }();
    return table;
}

constexpr std::array<EqHalfInfo, 12> kEqHalves = {{
    {1, 0, 15},
    {1, 15, 15},
    {2, 0, 7},
    {2, 7, 7},
    {3, 0, 7},
    {3, 7, 7},
    {4, 0, 15},
    {5, 0, 28},
    {6, 0, 14},
    {7, 0, 12},
    {8, 0, 22},
    {9, 0, 14},
}};

constexpr std::array<DelayChannelInfo, kDelayChannelCount> kDelayChannels = {{
    {102, 104, 106, 5, 37, 39, 35, 24},
    {103, 105, 107, 5, 38, 40, 36, 26},
    {153, 154, 155, 7, 20, 21, 19, 10},
    {167, 168, 169, 8, 30, 31, 29, 20},
    {119, 121, 123, 6, 23, 25, 21, 10},
    {120, 122, 124, 6, 24, 26, 22, 12},
    {136, 138, 140, 9, 23, 25, 21, 10},
    {137, 139, 141, 9, 24, 26, 22, 12},
}};

constexpr std::array<CompressorInfo, 5> kCompressors = {{
    {5, 33, 98, 97},
    {6, 19, 115, 114},
    {9, 19, 132, 131},
    {7, 17, 149, 148},
    {8, 27, 163, 162},
}};

constexpr std::array<SpeakerInfo, 8> kSpeakers = {{
    {0, 5, 42}, // 1 main L
    {4, 7, 23}, // 2 center
    {1, 5, 43}, // 3 main R
    {2, 6, 28}, // 4 rear L
    {5, 8, 33}, // 5 sub
    {3, 6, 29}, // 6 rear R
    {6, 9, 28}, // 7 top L
    {7, 9, 29}, // 8 top R
}};

int predelayFirstCell(Effect e, MicChannel c) {
    if (e == Effect::Echo)
        return c == MicChannel::A ? 59 : 66;
    return c == MicChannel::A ? 75 : 80;
}

constexpr double kSplitQ = 0.707;

} // namespace

const CellLayout& cellLayout(int cell) {
    static const CellLayout none{};
    if (cell < 0 || cell >= kCellCount)
        return none;
    return cellLayouts()[std::size_t(cell)];
}

bool isFloatCell(int cell) {
    switch (cellLayout(cell).code) {
    case CellCode::Ms:
    case CellCode::Comp:
    case CellCode::ReverbTime:
    case CellCode::Raw:
        return true;
    default:
        return false;
    }
}

const EqHalfInfo& eqHalfInfo(EqHalf h) {
    return kEqHalves[std::size_t(h)];
}
const DelayChannelInfo& delayChannelInfo(DelayChannel c) {
    return kDelayChannels[std::size_t(c)];
}
const CompressorInfo& compressorInfo(OutputGroup g) {
    return kCompressors[std::size_t(g)];
}

float speakerLevelForDistance(double d) {
    return float(3.0 - 3.0 * d);
}

const SpeakerInfo& speakerInfo(int speaker) {
    if (speaker < 1 || speaker > 8)
        speaker = 1;
    return kSpeakers[std::size_t(speaker - 1)];
}

int splitLowerHz(int index) {
    return 500 + 100 * std::clamp(index, 0, kSplitCount - 1);
}
int splitUpperHz(int index) {
    return splitLowerHz(index) + 500;
}

int splitIndexForHz(int hz) {
    for (int i = 0; i < kSplitCount; ++i)
        if (splitLowerHz(i) == hz)
            return i;
    return 0;
}

const std::vector<DspRequest>& dspReadList() {
    static const std::vector<DspRequest> list = [] {
        struct Run {
            int module, first, last, count;
        };
        static constexpr Run runs[] = {
            {1, 30, 30, 1}, {1, 32, 36, 1}, {1, 43, 43, 1}, {1, 45, 49, 1}, {1, 66, 66, 2},
            {2, 15, 15, 1}, {2, 22, 22, 1}, {2, 28, 28, 2}, {3, 15, 15, 1}, {3, 21, 21, 1},
            {3, 26, 26, 2}, {4, 15, 15, 2}, {5, 28, 31, 1}, {5, 42, 42, 6}, {5, 43, 43, 6},
            {6, 14, 17, 1}, {6, 28, 28, 6}, {6, 29, 29, 6}, {9, 14, 17, 1}, {9, 28, 28, 6},
            {9, 29, 29, 6}, {7, 12, 15, 1}, {7, 23, 23, 6}, {8, 22, 25, 1}, {8, 33, 33, 6},
            {1, 37, 40, 1}, {1, 60, 65, 1}, {1, 56, 59, 1}, {1, 42, 42, 1}, {1, 50, 53, 1},
            {1, 55, 55, 1}, {3, 14, 14, 1}, {3, 16, 19, 1}, {3, 27, 27, 2}, {3, 20, 20, 1},
            {3, 22, 25, 1}, {2, 14, 14, 1}, {2, 16, 16, 1}, {2, 17, 17, 1}, {2, 29, 29, 2},
            {2, 21, 21, 1}, {2, 23, 23, 1}, {2, 24, 24, 1}, {4, 17, 20, 1}, {4, 16, 16, 2},
            {4, 21, 23, 1}, {5, 32, 32, 1}, {5, 34, 36, 1}, {5, 33, 33, 7}, {5, 37, 37, 1},
            {5, 38, 38, 1}, {5, 39, 41, 2}, {6, 18, 18, 1}, {6, 20, 22, 1}, {6, 19, 19, 7},
            {6, 23, 23, 1}, {6, 24, 24, 1}, {6, 25, 27, 2}, {9, 18, 18, 1}, {9, 20, 22, 1},
            {9, 19, 19, 7}, {9, 23, 23, 1}, {9, 24, 24, 1}, {9, 25, 27, 2}, {7, 16, 16, 1},
            {7, 18, 18, 1}, {7, 19, 19, 1}, {7, 17, 17, 7}, {7, 20, 20, 1}, {7, 21, 21, 2},
            {7, 22, 22, 1}, {8, 26, 26, 1}, {8, 28, 28, 1}, {8, 29, 29, 1}, {8, 27, 27, 7},
            {8, 30, 30, 1}, {8, 31, 31, 2}, {8, 32, 32, 1}, {1, 41, 41, 1}, {1, 54, 54, 1},
            {1, 67, 67, 1}, {1, 68, 68, 1}, {2, 18, 20, 1}, {2, 25, 27, 1},
        };
        std::vector<DspRequest> l;
        for (const Run& r : runs)
            for (int p = r.first; p <= r.last; ++p)
                l.push_back({std::uint8_t(r.module), std::uint8_t(p), std::uint8_t(r.count)});
        return l;
    }();
    return list;
}

void decodeDspReply(ParameterStore& store, const Report& r) {
    const DspValueReply v = parseDspValue(r);
    if (v.module < 1 || v.module > 9)
        return;
    const int c = decodeTable().cell[v.module][v.parameter];
    if (c < 0)
        return;
    const std::uint32_t w0 = v.words[0];
    const float f0 = bitsFloat(w0);
    const CellLayout& how = cellLayout(c);
    switch (how.code) {
    case CellCode::C100:
        store.setCellInt(c, codec::scaledFromFloat(f0, Scale::C100));
        break;
    case CellCode::C1e4:
        store.setCellInt(c, codec::scaledFromFloat(f0, Scale::C1e4));
        break;
    case CellCode::C1e5:
        store.setCellInt(c, codec::scaledFromFloat(f0, Scale::C1e5));
        break;
    case CellCode::C1e7:
        store.setCellInt(c, codec::scaledFromFloat(f0, Scale::C1e7));
        break;
    case CellCode::Sel: {
        const std::int32_t b = codec::selectorFromWord(w0);
        store.setCellInt(c, b);
        // A shift bypass of 1 also marks the shift frequency as off.
        if ((c == 34 || c == 42) && b == 1)
            store.setCellInt(c - 1, 1);
        break;
    }
    case CellCode::Pitch:
        store.setCellInt(c, codec::selectorFromWord(w0) - 5);
        break;
    case CellCode::Mute:
        store.setCellInt(c, codec::muteFromValue(f0));
        break;
    case CellCode::Flag:
        store.setCellInt(c, codec::flagFromValue(bitsFloat(v.words[1])));
        break;
    case CellCode::Ms:
        store.setCellFloat(c, codec::samplesToMs(w0));
        break;
    case CellCode::Hz:
        store.setCellInt(c, codec::hzFromAngular(f0));
        break;
    case CellCode::Raw:
        store.setCellBits(c, w0);
        break;
    case CellCode::Comp: {
        std::array<std::uint32_t, 7> words{};
        std::copy_n(v.words.begin(), 7, words.begin());
        const codec::Compressor comp = codec::compressorFromRecord(words);
        store.setCellFloat(c, comp.threshold);
        store.setCellFloat(c + 1, comp.ratio);
        store.setCellFloat(c + 2, comp.attack);
        store.setCellFloat(c + 3, comp.release);
        break;
    }
    case CellCode::ReverbTime:
        store.setCellFloat(c, float(codec::scaledFromFloat(f0, Scale::C100)));
        break;
    case CellCode::None:
        break;
    }
}

// ---- senders ----

bool Dsp::send(const Report& r) {
    return sink_.write(r) == int(kReportSize);
}

bool Dsp::WriteDspParam(int module, int parameter, std::uint32_t word, int count) {
    return send(dspWriteRepeated(module, parameter, word, count));
}

bool Dsp::WriteDspParam(int module, int parameter, float value, int count) {
    return WriteDspParam(module, parameter, floatBits(value), count);
}

bool Dsp::writeWords(int module, int parameter, std::span<const std::uint32_t> words) {
    return send(dspWrite(module, parameter, words));
}

bool Dsp::readDspParam(int module, int parameter, int count) {
    return send(dspRead(module, parameter, count));
}

bool Dsp::sendFloatToAddresses(const CellLayout& how, float value) {
    bool ok = true;
    for (int a = 0; a < how.addressCount; ++a)
        ok &= WriteDspParam(how.address[a].module, how.address[a].parameter, value, how.count);
    return ok;
}

void Dsp::pause(double ms) {
    if (pause_)
        pause_(ms);
    else
        clock_.sleepMs(ms);
}

bool Dsp::sendMusicFadeIn() {
    const CellLayout& how = cellLayout(cell::MusicMute);
    bool ok = true;
    for (int i = 0; i <= 8; ++i) {
        ok &= sendFloatToAddresses(how, codec::fadeValue(i));
        pause(30);
    }
    ok &= sendFloatToAddresses(how, 1.0f);
    return ok;
}

bool Dsp::sendCell(int c) {
    const CellLayout& how = cellLayout(c);
    const std::int32_t v = store_.cellInt(c);
    auto toAddresses = [&](std::uint32_t word) {
        bool ok = true;
        for (int a = 0; a < how.addressCount; ++a)
            ok &= WriteDspParam(how.address[a].module, how.address[a].parameter, word, how.count);
        return ok;
    };
    switch (how.code) {
    case CellCode::C100:
        return sendFloatToAddresses(how, codec::scaledToFloat(v, Scale::C100));
    case CellCode::C1e4:
        return sendFloatToAddresses(how, codec::scaledToFloat(v, Scale::C1e4));
    case CellCode::C1e5:
        return sendFloatToAddresses(how, codec::scaledToFloat(v, Scale::C1e5));
    case CellCode::C1e7:
        return sendFloatToAddresses(how, codec::scaledToFloat(v, Scale::C1e7));
    case CellCode::Sel:
        return toAddresses(codec::selectorWord(v));
    case CellCode::Pitch:
        return toAddresses(codec::selectorWord(std::int32_t(std::uint32_t(v) + 5u)));
    case CellCode::Mute:
        if (c == cell::MusicMute && v == 0)
            return sendMusicFadeIn();
        return sendFloatToAddresses(how, codec::muteValue(v));
    case CellCode::Flag: {
        const auto f = codec::flagValues(v);
        const std::array<std::uint32_t, 2> words = {floatBits(f[0]), floatBits(f[1])};
        return writeWords(how.address[0].module, how.address[0].parameter, words);
    }
    case CellCode::Ms:
        return toAddresses(codec::msToSamples(store_.cellFloat(c)));
    case CellCode::Hz:
        return sendFloatToAddresses(how, codec::angularFrequency(v));
    case CellCode::Raw:
        return toAddresses(store_.cellBits(c));
    case CellCode::Comp:
        for (const CompressorInfo& info : kCompressors)
            if (c >= info.firstCell && c < info.firstCell + 4)
                return sendCompressor(
                    OutputGroup(&info - kCompressors.data()),
                    {store_.cellFloat(info.firstCell), store_.cellFloat(info.firstCell + 1),
                     store_.cellFloat(info.firstCell + 2), store_.cellFloat(info.firstCell + 3)});
        return false;
    case CellCode::ReverbTime:
        return sendReverbTime(c == 77 ? MicChannel::A : MicChannel::B, store_.cellFloat(c));
    case CellCode::None:
        break;
    }
    return false;
}

bool Dsp::sendDelay(DelayChannel ch, double ms) {
    const DelayChannelInfo& info = delayChannelInfo(ch);
    if (!(ms >= codec::kMinOutputDelayMs))
        ms = codec::kMinOutputDelayMs;
    store_.setCellFloat(info.delayCell, float(ms));
    const std::uint32_t samples = codec::msToSamples(store_.cellFloat(info.delayCell));
    return WriteDspParam(info.module, info.delayParameter, samples, 1);
}

bool Dsp::sendDelayMode(DelayChannel ch, int mode) {
    const DelayChannelInfo& info = delayChannelInfo(ch);
    store_.setCellInt(info.modeCell, mode);
    bool ok = sendCell(info.modeCell);
    const int index = splitIndexForHz(store_.band(info.module, info.splitRecord).frequency);
    if (mode != 0) {
        // Channel mode: both split bands become flat peaking sections.
        ok &=
            SendBand(info.module, info.splitRecord, filter::Peq, 0.0, splitLowerHz(index), kSplitQ);
        ok &= SendBand(info.module, info.splitRecord + 1, filter::Peq, 0.0, splitUpperHz(index),
                       kSplitQ);
        return ok;
    }
    return sendSplitFilter(ch, index) && ok;
}

bool Dsp::sendSplitFilter(DelayChannel ch, int index) {
    const DelayChannelInfo& info = delayChannelInfo(ch);
    bool ok = SendBand(info.module, info.splitRecord, filter::HighPass, 0.0, splitLowerHz(index),
                       kSplitQ);
    ok &= SendBand(info.module, info.splitRecord + 1, filter::LowPass, 0.0, splitUpperHz(index),
                   kSplitQ);
    return ok;
}

bool Dsp::sendPredelay(Effect e, MicChannel ch, double totalMs) {
    if (!(totalMs >= codec::kMinPredelayMs))
        totalMs = codec::kMinPredelayMs;
    const int first = predelayFirstCell(e, ch);
    const float half = float(totalMs / 2.0);
    store_.setCellFloat(first, half);
    store_.setCellFloat(first + 1, half);
    const std::uint32_t samples = codec::msToSamples(half);
    bool ok = true;
    for (int c : {first, first + 1}) {
        const DspAddress a = cellLayout(c).address[0];
        ok &= WriteDspParam(a.module, a.parameter, samples, 1);
    }
    return ok;
}

bool Dsp::sendEchoTime(MicChannel ch, double ms) {
    const int c = ch == MicChannel::A ? 61 : 68;
    if (!(ms >= codec::kMinEchoTimeMs))
        ms = codec::kMinEchoTimeMs;
    store_.setCellFloat(c, float(ms));
    return sendCell(c);
}

bool Dsp::sendReverbTime(MicChannel ch, double value) {
    const int c = ch == MicChannel::A ? 77 : 82;
    const float whole = float(std::trunc(value));
    store_.setCellFloat(c, whole);
    return sendFloatToAddresses(cellLayout(c), float(double(whole) / 100.0));
}

bool Dsp::sendMicShift(MicChannel ch, int shift) {
    const int frequencyCell = ch == MicChannel::A ? 33 : 41;
    const int bypassCell = frequencyCell + 1;
    const int frequencyParameter = ch == MicChannel::A ? 38 : 51;
    const int delayParameter = frequencyParameter + 1;
    const int bypassParameter = frequencyParameter + 2;

    store_.setCellInt(frequencyCell, shift);
    if (shift == 1) {
        store_.setCellInt(bypassCell, 1);
        return WriteDspParam(1, bypassParameter, std::uint32_t(1), 1);
    }
    store_.setCellInt(bypassCell, 0);
    bool ok = WriteDspParam(1, bypassParameter, std::uint32_t(0), 1);
    ok &= WriteDspParam(1, frequencyParameter, codec::angularFrequency(shift), 1);
    ok &= WriteDspParam(1, delayParameter, codec::micShiftDelaySamples(shift), 1);
    return ok;
}

bool Dsp::sendCompressor(OutputGroup g, const codec::Compressor& values) {
    const CompressorInfo& info = compressorInfo(g);
    store_.setCellFloat(info.firstCell, values.threshold);
    store_.setCellFloat(info.firstCell + 1, values.ratio);
    store_.setCellFloat(info.firstCell + 2, values.attack);
    store_.setCellFloat(info.firstCell + 3, values.release);
    const auto words = codec::compressorRecord(values);
    return writeWords(info.module, info.parameter, words);
}

bool Dsp::SendBand(int group, int record, int type, double gainDb, double frequencyHz, double q,
                   double extraGainDb) {
    const int offset = bandOffset(group, record);
    if (offset < 0)
        return false;
    const BandRecord rec = BandRecord::encode(type, gainDb, frequencyHz, q);
    store_.setBand(group, record, rec);
    const auto bytes = rec.bytes();
    bool ok = send(memWrite(std::uint16_t(offset), bytes));
    const Biquad b = DesignBiquad(type, gainDb, frequencyHz, q, extraGainDb, kEqSampleRate);
    ok &= writeWords(group, record, codec::coefficientWords(b));
    return ok;
}

bool Dsp::SendBand(EqHalf half, int band, int type, double gainDb, double frequencyHz, double q,
                   double extraGainDb) {
    const EqHalfInfo& h = eqHalfInfo(half);
    if (band < 0 || band >= h.records)
        return false;
    return SendBand(h.group, h.firstRecord + band, type, gainDb, frequencyHz, q, extraGainDb);
}

// The layout an EQ reset writes. It differs from the start band image, which is what an
// amplifier that was never reset holds.
bool Dsp::resetGroupEq(EqHalf half) {
    struct Band {
        int hz;
        int type;
        double q;
    };
    constexpr double q = 1.41;
    std::vector<Band> layout;
    auto plain = [&](std::initializer_list<int> hz) {
        for (int f : hz)
            layout.push_back({f, filter::Peq, q});
    };
    switch (half) {
    case EqHalf::MicA:
    case EqHalf::MicB:
    case EqHalf::Music:
        plain({25, 40, 63, 100, 160, 250, 400, 630, 1000, 1600, 2500, 4000, 6300, 10000, 16000});
        layout[7] = {630, filter::LowShelf, 0.707};
        layout[10] = {2500, filter::HighShelf, 0.707};
        break;
    case EqHalf::EchoA:
    case EqHalf::EchoB:
    case EqHalf::ReverbA:
    case EqHalf::ReverbB:
        plain({63, 125, 250, 500, 1000, 2300, 5000});
        break;
    case EqHalf::Main:
        plain({25,   36,   50,   75,   100,  150,  200,  260,  360,  485,   630,   860,
               1088, 1396, 1680, 2160, 2800, 3586, 5096, 6868, 8288, 11010, 14566, 20000});
        break;
    case EqHalf::Rear:
    case EqHalf::Center:
    case EqHalf::Top:
        plain({31, 62, 125, 250, 500, 1000, 2000, 4000, 8000, 16000});
        break;
    case EqHalf::Sub:
        plain({20, 20, 20, 20, 31, 31, 31, 31, 40, 40, 40, 40, 62, 62, 62, 62});
        layout.push_back({100, 18, 1.414});
        layout.push_back({100, 20, 1.414});
        layout.push_back({100, filter::Peq, 1.414});
        layout.push_back({100, filter::Peq, 1.414});
        break;
    }
    bool ok = true;
    for (std::size_t i = 0; i < layout.size(); ++i)
        ok &= SendBand(half, int(i), layout[i].type, 0.0, layout[i].hz, layout[i].q);
    return ok;
}

bool Dsp::sendSpeakerLevel(int speaker, float db) {
    const SpeakerInfo& info = speakerInfo(speaker);
    store_.setSpeakerLevelSlot(info.slot, db);
    bool ok = sendSpeakerLevelBlock();
    ok &= writeWords(info.module, info.parameter, codec::speakerLevelRecord(db));
    return ok;
}

bool Dsp::sendSpeakerLevelBlock() {
    const SpeakerLevelBlock block = store_.speakerLevelBlock();
    return send(memWrite(kSpeakerLevelAddress, block));
}

bool Dsp::sendPlanBlock() {
    const PlanBlock plan = store_.encodePlanBlock();
    return send(memWrite(kPlanAddress, plan));
}

bool Dsp::resetAllSpeakerLevels() {
    bool ok = true;
    for (int s = 1; s <= kSpeakerCount; ++s)
        ok &= sendSpeakerLevel(s, 0.0f);
    store_.writePlanBlock(0, kFactoryPlan);
    ok &= sendPlanBlock();
    return ok;
}

bool Dsp::sendBandRecord(int group, int record) {
    const int offset = bandOffset(group, record);
    if (offset < 0)
        return false;
    const BandRecord rec = store_.band(group, record);
    bool ok = send(memWrite(std::uint16_t(offset), rec.bytes()));
    const Biquad b =
        DesignBiquad(rec.type, rec.gainDb(), rec.frequency, rec.qValue(), 0.0, kEqSampleRate);
    ok &= writeWords(group, record, codec::coefficientWords(b));
    return ok;
}

bool Dsp::sendBandImage() {
    const BandImage image = store_.bandImage();
    bool ok = true;
    for (const MemWindow& w : splitMemory(kBandImageAddress, kBandImageSize))
        ok &= send(memWrite(w.address, std::span(image).subspan(w.address, w.length)));
    return ok;
}

bool Dsp::pushEq() {
    const BandImage image = store_.bandImage();
    bool ok = true;
    for (const EqGroup& g : eqGroups()) {
        for (int r = 0; r < g.pushed; ++r) {
            const BandRecord rec = BandRecord::fromBytes(&image[std::size_t(g.offset + 7 * r)]);
            const Biquad b = DesignBiquad(rec.type, rec.gainDb(), rec.frequency, rec.qValue(), 0.0,
                                          kEqSampleRate);
            ok &= writeWords(g.group, r, codec::coefficientWords(b));
        }
    }
    return ok;
}

bool Dsp::volumeRamp() {
    bool ok = true;
    // A volume above 100 % is not a real setting; ramping to it from a corrupt file would send
    // millions of steps, so it goes out at once.
    const std::int32_t mic = store_.cellInt(cell::MicVolume);
    if (mic < 80 || mic > 100) {
        ok &= sendCell(cell::MicVolume);
    } else {
        for (int i = 80; i <= mic; ++i) {
            ok &= WriteDspParam(1, 30, codec::rampValue(i), 1);
            ok &= WriteDspParam(1, 43, codec::rampValue(i), 1);
        }
    }
    const std::int32_t music = store_.cellInt(cell::MusicVolume);
    if (music < 70 || music > 100) {
        ok &= sendCell(cell::MusicVolume);
    } else {
        for (int i = 70; i <= music; ++i) {
            ok &= WriteDspParam(4, 15, codec::rampValue(i), 2);
            pause(100);
        }
    }
    return ok;
}

bool Dsp::PushAll(int bymode) {
    return pushCells(bymode, {});
}

bool Dsp::pushCells(int bymode, const std::function<bool(int cell)>& only) {
    bool ok = true;
    auto wanted = [&](std::initializer_list<int> list) {
        if (!only)
            return true;
        for (int c : list)
            if (only(c))
                return true;
        return false;
    };
    auto cells = [&](std::initializer_list<int> list) {
        for (int c : list)
            if (wanted({c}))
                ok &= sendCell(c);
    };
    auto range = [&](int first, int last) {
        for (int c = first; c <= last; ++c)
            if (wanted({c}))
                ok &= sendCell(c);
    };
    auto predelay = [&](Effect e, MicChannel ch) {
        const int first = predelayFirstCell(e, ch);
        if (wanted({first, first + 1}))
            ok &= sendPredelay(
                e, ch, double(store_.cellFloat(first)) + double(store_.cellFloat(first + 1)));
    };
    auto shift = [&](MicChannel ch) {
        const int c = ch == MicChannel::A ? 33 : 41;
        if (wanted({c, c + 1}))
            ok &= sendMicShift(ch, store_.cellInt(c));
    };
    auto reverbTime = [&](MicChannel ch) {
        const int c = ch == MicChannel::A ? 77 : 82;
        if (wanted({c}))
            ok &= sendReverbTime(ch, store_.cellFloat(c));
    };
    auto echoTime = [&](MicChannel ch) {
        const int c = ch == MicChannel::A ? 61 : 68;
        if (wanted({c}))
            ok &= sendEchoTime(ch, store_.cellFloat(c));
    };
    auto delays = [&](std::initializer_list<DelayChannel> channels) {
        for (DelayChannel ch : channels)
            if (wanted({delayChannelInfo(ch).delayCell}))
                ok &= sendDelay(ch, store_.cellFloat(delayChannelInfo(ch).delayCell));
        for (DelayChannel ch : channels)
            if (wanted({delayChannelInfo(ch).offCell}))
                ok &= sendCell(delayChannelInfo(ch).offCell);
        for (DelayChannel ch : channels)
            if (wanted({delayChannelInfo(ch).modeCell}))
                ok &= sendDelayMode(ch, store_.cellInt(delayChannelInfo(ch).modeCell));
    };

    // 1. Volumes start silent when they belong to the mode; the ramp raises them at the end.
    if (bymode == 1 && !only) {
        ok &= WriteDspParam(1, 30, 0.0f, 1);
        ok &= WriteDspParam(1, 43, 0.0f, 1);
        ok &= WriteDspParam(4, 15, 0.0f, 2);
    }
    // 2, 3. Routing and effect levels.
    range(27, 30);
    cells({43, 58, 74});
    range(35, 38);
    cells({65, 79});
    // 4. Mutes and effect volumes.
    cells({44, 86, 84, 72, 83, 71});
    // 5. Output mix levels.
    range(92, 95);
    range(109, 112);
    range(126, 129);
    range(143, 146);
    range(157, 160);
    // 6..8. Channel A: mic EQ bypass and shift, reverb, echo.
    cells({31});
    shift(MicChannel::A);
    cells({73});
    predelay(Effect::Reverb, MicChannel::A);
    reverbTime(MicChannel::A);
    cells({57});
    predelay(Effect::Echo, MicChannel::A);
    echoTime(MicChannel::A);
    cells({62, 63});
    // 9..11. Channel B.
    cells({39});
    shift(MicChannel::B);
    cells({78});
    predelay(Effect::Reverb, MicChannel::B);
    reverbTime(MicChannel::B);
    cells({64});
    predelay(Effect::Echo, MicChannel::B);
    echoTime(MicChannel::B);
    cells({69, 70});
    // 12. Port volumes and noise gates.
    range(45, 54);
    // 13. Music.
    cells({87, 88, 171, 172, 89, 90, 91});
    // 14..18. Outputs: EQ bypass, compressor off, delays, delay off flags, delay modes, mute.
    cells({96, 97});
    delays({DelayChannel::MainL, DelayChannel::MainR});
    cells({108});
    cells({113, 114});
    delays({DelayChannel::RearL, DelayChannel::RearR});
    cells({125});
    cells({130, 131});
    delays({DelayChannel::TopL, DelayChannel::TopR});
    cells({142});
    cells({147, 148});
    delays({DelayChannel::Center});
    cells({156});
    cells({161, 162});
    delays({DelayChannel::Sub});
    cells({170});
    // 19. Compressors.
    for (OutputGroup g : {OutputGroup::Main, OutputGroup::Rear, OutputGroup::Top,
                          OutputGroup::Center, OutputGroup::Sub}) {
        const int c = compressorInfo(g).firstCell;
        if (wanted({c, c + 1, c + 2, c + 3}))
            ok &= sendCell(c);
    }
    // 20. Mic phase and auto SUB decay.
    cells({32, 40, 55, 56});
    return ok;
}

bool Dsp::fullDownload(int bymode, const std::function<void(DownloadPart)>& step) {
    const auto begin = [&step](DownloadPart p) {
        if (step)
            step(p);
    };
    begin(DownloadPart::Settings);
    bool ok = PushAll(bymode);
    begin(DownloadPart::BandImage);
    ok &= sendBandImage();
    begin(DownloadPart::Speakers);
    ok &= sendPlanBlock();
    ok &= sendSpeakerLevelBlock();
    // The block is only memory: the DSP plays each speaker's level from its own record, so
    // without these the old levels go on playing.
    for (int speaker = 1; speaker <= kSpeakerCount; ++speaker) {
        const SpeakerInfo& info = speakerInfo(speaker);
        ok &= writeWords(info.module, info.parameter,
                         codec::speakerLevelRecord(store_.speakerLevelSlot(info.slot)));
    }
    begin(DownloadPart::Filters);
    ok &= pushEq();
    if (bymode == 1) {
        begin(DownloadPart::Volume);
        ok &= volumeRamp();
    }
    begin(DownloadPart::Confirm);
    ok &= readDspParam(1, 30, 1);
    ok &= readDspParam(1, 43, 1);
    ok &= readDspParam(4, 15, 2);
    clock_.sleepMs(50);
    store_.setParametersChanged(false);
    return ok;
}

namespace {

class CountingSink final : public ReportSink {
public:
    int write(const Report&) override {
        ++count;
        return int(kReportSize);
    }
    int count = 0;
};

// A clock on which every wait ends at once.
class NoWaitClock final : public Clock {
public:
    double nowMs() override { return 0; }
    bool waitUntil(const Ready& ready, double, const WakeAt&) override { return ready(0); }
    void notify() override {}
};

} // namespace

int fullDownloadReports(const ParameterStore& store, int bymode) {
    ParameterStore copy;
    copy.applyModeImage(store.modeImage());
    copy.setBandImage(store.bandImage());
    // Every cell as it is, including those outside the saved part and the plan cells.
    for (int i = 0; i < kCellCount; ++i)
        copy.setCellBits(i, store.cellBits(i));
    CountingSink sink;
    NoWaitClock clock;
    Dsp(copy, sink, clock).fullDownload(bymode);
    return sink.count;
}

} // namespace q7
