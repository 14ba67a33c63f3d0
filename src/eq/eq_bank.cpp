// SPDX-License-Identifier: GPL-3.0-or-later
#include "eq/eq_bank.h"

#include "eq/eq_curve.h"
#include "params/biquad.h"
#include "params/dsp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace q7 {

namespace {

using enum EqBankRole;
using enum EqColour;
// Colours: the music bank numbers its bands gold; the channel A echo draws its curve and numbers
// green, the channel B mic its numbers; every other bank is cyan.
constexpr EqBankInfo kBanks[kEqBankCount] = {
    {0, "music", 4, 0, 15, 15, "音乐均衡", "Music EQ", Music, -1, Gold, Cyan},
    {1, "mic-a", 1, 0, 15, 15, "话筒通道A均衡", "CH A Mic EQ", Mic, 0, Cyan, Cyan},
    {2, "sub", 8, 0, 5, 20, "超低均衡", "SUB EQ", Output, -1, Cyan, Cyan},
    {3, "center", 7, 0, 10, 10, "中置均衡", "Center EQ", Output, -1, Cyan, Cyan},
    {4, "rear", 6, 0, 10, 10, "后置均衡", "REAR EQ", Output, -1, Cyan, Cyan},
    {5, "main", 5, 0, 24, 24, "前置均衡", "MAIN EQ", Output, -1, Cyan, Cyan},
    {6, "reverb-a", 3, 0, 7, 7, "混响通道A均衡", "CH A Reverb EQ", Reverb, 0, Cyan, Cyan},
    {7, "echo-a", 2, 0, 7, 7, "回声通道A均衡", "CH A Echo EQ", Echo, 0, Green, Green},
    {8, "mic-b", 1, 15, 15, 15, "话筒通道B均衡", "CH B Mic EQ", Mic, 1, Green, Cyan},
    {9, "reverb-b", 3, 7, 7, 7, "混响通道B均衡", "CH B Reverb EQ", Reverb, 1, Cyan, Cyan},
    {10, "echo-b", 2, 7, 7, 7, "回声通道B均衡", "CH B Echo EQ", Echo, 1, Cyan, Cyan},
    {11, "top", 9, 0, 10, 10, "顶置均衡", "TOP EQ", Output, -1, Cyan, Cyan},
};

} // namespace

const EqBankInfo* eqBankInfo(int bank) {
    if (bank < 0 || bank >= kEqBankCount)
        return nullptr;
    return &kBanks[bank];
}

bool isOutputBank(int bank) {
    const EqBankInfo* b = eqBankInfo(bank);
    return b && b->role == EqBankRole::Output;
}

bool isEffectsBank(int bank) {
    return effectOf(bank).has_value();
}

std::optional<MicChannel> micChannelOf(int bank) {
    const EqBankInfo* b = eqBankInfo(bank);
    if (!b || b->channel < 0)
        return std::nullopt;
    return b->channel == 0 ? MicChannel::A : MicChannel::B;
}

std::optional<Effect> effectOf(int bank) {
    const EqBankInfo* b = eqBankInfo(bank);
    if (b && b->role == EqBankRole::Echo)
        return Effect::Echo;
    if (b && b->role == EqBankRole::Reverb)
        return Effect::Reverb;
    return std::nullopt;
}

int effectBank(Effect effect, MicChannel channel) {
    for (const EqBankInfo& b : kBanks)
        if (effectOf(b.bank) == effect && micChannelOf(b.bank) == channel)
            return b.bank;
    return -1; // every channel has both effects
}

const EqBankInfo* eqBankByName(std::string_view text) {
    int n = -1;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size())
        return eqBankInfo(n);
    std::string lower(text);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const EqBankInfo& b : kBanks)
        if (lower == b.id)
            return &b;
    return nullptr;
}

int eqBypassCell(int bank) {
    static constexpr int cells[kEqBankCount] = {87, 31, 161, 147, 113, 96, 73, 57, 39, 78, 64, 130};
    return cells[std::size_t(std::clamp(bank, 0, kEqBankCount - 1))];
}

EqHalf eqHalfOf(int bank) {
    static constexpr EqHalf halves[kEqBankCount] = {
        EqHalf::Music,   EqHalf::MicA,  EqHalf::Sub,  EqHalf::Center,  EqHalf::Rear,  EqHalf::Main,
        EqHalf::ReverbA, EqHalf::EchoA, EqHalf::MicB, EqHalf::ReverbB, EqHalf::EchoB, EqHalf::Top};
    return halves[std::size_t(std::clamp(bank, 0, kEqBankCount - 1))];
}

const char* eqBankTitle(int bank, bool english) {
    const EqBankInfo* info = eqBankInfo(bank);
    return info ? (english ? info->en : info->zh) : "";
}

int fixedBandHz(int bank, int band) {
    if (bank != 0 && bank != 1 && bank != 8)
        return 0;
    return band == 7 ? 630 : band == 10 ? 2500 : 0;
}

bool isFixedBand(int bank, int band) {
    return fixedBandHz(bank, band) != 0;
}

std::vector<LayoutBand> graphLayout(int count) {
    auto peq = [](std::initializer_list<int> hz, double q) {
        std::vector<LayoutBand> out;
        for (int f : hz)
            out.push_back({f, filter::Peq, q});
        return out;
    };
    switch (count) {
    case 4:
        return {{31, filter::HighPass, 0.707},
                {62, filter::Peq, 0.707},
                {125, filter::Peq, 0.707},
                {250, filter::LowPass, 0.707}};
    case 7:
        return peq({31, 62, 125, 250, 500, 1000, 2000}, 1.41);
    case 10:
        return peq({31, 62, 125, 250, 500, 1000, 2000, 4000, 8000, 12000}, 1.41);
    case 15:
        return peq({100, 160, 250, 400, 630, 1000, 1600, 2500, 4000, 6300, 10000, 13000, 15000,
                    18000, 20000},
                   1.41);
    case 20:
        return peq({100,   160,   250,   400,   630,   1000,  1600,  2500,  4000,  6300,
                    10000, 13000, 15000, 18000, 20000, 20000, 20000, 20000, 20000, 20000},
                   1.41);
    case 24:
        return peq({100,   160,   250,   400, 630, 1000, 1600, 2500, 4000, 6300, 10000, 13000,
                    15000, 18000, 20000, 100, 160, 250,  400,  630,  1000, 1600, 2500,  4000},
                   1.41);
    default:
        return {};
    }
}

EqBankState readBank(const ParameterStore& store, int bank) {
    return readBank(store.bandImage(), bank);
}

EqBankState readBank(const BandImage& image, int bank) {
    EqBankState s;
    const EqBankInfo* info = eqBankInfo(bank);
    if (!info)
        return s;
    s.bank = bank;
    for (int i = 0; i < info->records; ++i) {
        const int offset = bandOffset(info->group, info->firstRecord + i);
        s.records.push_back(BandRecord::fromBytes(image.data() + offset));
    }
    return s;
}

double recordGainDb(const BandRecord& r) {
    return r.gain / 10.0 - 15.0;
}

double qArgument(int thousandths) {
    double q = thousandths / 1000.0;
    while (int(q * 1000.0) < thousandths)
        q = std::nextafter(q, 1e9);
    return q;
}

double recordQ(const BandRecord& r) {
    return qArgument(r.q);
}

BandRecord quantise(int type, double gainDb, double frequencyHz, double q) {
    BandRecord r;
    const double g = std::clamp(gainDb, kBandGainMinDb, kBandGainMaxDb);
    r.gain = std::uint16_t(std::lround(g * 10.0) + 150);
    r.frequency = std::uint16_t(std::clamp<long>(std::lround(frequencyHz), 0, 65535));
    r.q = std::uint16_t(std::clamp<long>(std::lround(q * 1000.0), 0, 65535));
    r.type = std::uint8_t(type);
    return r;
}

float storedQ(int thousandths) {
    float q = float(thousandths / 1000.0);
    while (int(double(q) * 1000.0) < thousandths)
        q = std::nextafter(q, 1e9f);
    return q;
}

BandValues bandValues(const BandRecord& r) {
    return {r.type, float((int(r.gain) - 150) / 10.0), float(r.frequency), storedQ(r.q)};
}

bool sendRecord(Dsp& dsp, int group, int record, const BandRecord& r) {
    const BandValues v = bandValues(r);
    return dsp.SendBand(group, record, v.type, v.gainDb, v.frequencyHz, v.q);
}

bool sendBank(Dsp& dsp, const ParameterStore& store, const EqBankState& state) {
    const EqBankInfo* info = eqBankInfo(state.bank);
    if (!info || int(state.records.size()) != info->records)
        return false;
    const EqBankState now = readBank(store, state.bank);
    const int step = state.bank == kSubEqBank ? 4 : 1;
    bool ok = true;
    for (int first = 0; first < info->records; first += step) {
        bool differs = false;
        for (int i = first; i < first + step; ++i)
            differs |= !(now.records[std::size_t(i)] == state.records[std::size_t(i)]);
        if (!differs)
            continue;
        for (int i = first; i < first + step; ++i) {
            const BandRecord& r = state.records[std::size_t(i)];
            ok &= dsp.SendBand(info->group, info->firstRecord + i, r.type, recordGainDb(r),
                               r.frequency, recordQ(r));
        }
    }
    return ok;
}

bool sendBandOf(Dsp& dsp, const EqBankState& state, int band) {
    const EqBankInfo* info = eqBankInfo(state.bank);
    if (!info || int(state.records.size()) != info->records || band < 0 || band >= info->bands)
        return false;
    const int parts = state.bank == kSubEqBank ? 4 : 1;
    bool ok = true;
    for (int part = 0; part < parts; ++part) {
        const int i = state.recordOfBand(band) + part;
        ok &= sendRecord(dsp, info->group, info->firstRecord + i, state.records[std::size_t(i)]);
    }
    return ok;
}

std::vector<double> bankResponseDb(const EqBankState& state, const std::vector<double>& hz) {
    std::vector<double> out(hz.size(), 0.0);
    for (const BandRecord& r : state.records) {
        if (r.type == filter::Off)
            continue;
        const Biquad b =
            DesignBiquad(r.type, recordGainDb(r), r.frequency, recordQ(r), 0.0, kEqSampleRate);
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const double db = sectionMagnitudeDb(b, hz[i], kEqSampleRate);
            out[i] += std::isfinite(db) ? db : -120.0;
        }
    }
    return out;
}

std::vector<double> bandResponseDb(const EqBankState& state, int band,
                                   const std::vector<double>& hz) {
    EqBankState one;
    one.bank = state.bank;
    const int first = state.recordOfBand(band);
    const int n = state.bank == kSubEqBank ? 4 : 1;
    for (int i = first; i < first + n && i < int(state.records.size()); ++i)
        one.records.push_back(state.records[std::size_t(i)]);
    return bankResponseDb(one, hz);
}

std::vector<double> octaveGrid(double loHz, double hiHz, int perOctave) {
    std::vector<double> out;
    if (!(loHz > 0) || !(hiHz >= loHz) || perOctave <= 0)
        return out;
    const double steps = std::log2(hiHz / loHz) * perOctave;
    const int n = int(std::floor(steps + 1e-9));
    out.reserve(std::size_t(n) + 1);
    for (int k = 0; k <= n; ++k)
        out.push_back(loHz * std::exp2(double(k) / perOctave));
    return out;
}

std::string bankResponseCsv(const EqBankState& state) {
    const std::vector<double> hz = octaveGrid(20.0, 20000.0);
    std::vector<std::vector<double>> bands;
    for (int k = 0; k < state.bandCount(); ++k)
        bands.push_back(bandResponseDb(state, k, hz));
    const std::vector<double> total = bankResponseDb(state, hz);
    std::string out = "freq_hz,total_db";
    for (int k = 0; k < state.bandCount(); ++k)
        out += ",band" + std::to_string(k + 1) + "_db";
    out += "\n";
    char buf[48];
    for (std::size_t i = 0; i < hz.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%.2f,%.4f", hz[i], total[i]);
        out += buf;
        for (const auto& b : bands) {
            std::snprintf(buf, sizeof buf, ",%.4f", b[i]);
            out += buf;
        }
        out += "\n";
    }
    return out;
}

namespace {

// Entry 1 is a flat PEQ section in both families; any other n is code n - 1 low-pass, n high-pass.
constexpr int kCrossoverTable[kCrossoverSlopes][4] = {
    {11, 11, 1, 1}, {13, 13, 1, 1}, {15, 11, 15, 11}, {19, 21, 19, 21}, {9, 1, 1, 1}, {9, 11, 1, 1},
    {9, 9, 1, 1},   {13, 1, 1, 1},  {15, 11, 1, 1},   {19, 21, 1, 1},   {7, 1, 1, 1},
};
constexpr const char* kCrossoverNames[kCrossoverSlopes] = {
    "LinkwitzRiely 12dB", "LinkwitzRiely 24dB", "LinkwitzRiely 36dB", "LinkwitzRiely 48dB",
    "Bessel 12dB",        "Bessel 18dB",        "Bessel 24dB",        "Butterworth 12dB",
    "Butterworth 18dB",   "Butterworth 24dB",   "Chebyshev 12dB",
};

} // namespace

const char* crossoverName(int slope) {
    return slope >= 0 && slope < kCrossoverSlopes ? kCrossoverNames[slope] : "";
}

std::array<int, 4> crossoverTypes(int slope, bool lowPass) {
    std::array<int, 4> t{1, 1, 1, 1};
    if (slope < 0 || slope >= kCrossoverSlopes)
        return t;
    for (int i = 0; i < 4; ++i) {
        const int n = kCrossoverTable[slope][i];
        t[std::size_t(i)] = n == 1 ? 1 : (lowPass ? n - 1 : n);
    }
    return t;
}

std::array<int, 4> subMenuTypes(int menuType) {
    switch (menuType) {
    case 2:
        return {18, 20, 1, 1}; // LP: the low-pass pair of "Butterworth 24dB"
    case 3:
        return {19, 21, 1, 1};
    case 4:
        return {filter::LowShelf, 1, 1, 1};
    case 5:
        return {filter::HighShelf, 1, 1, 1};
    default:
        return {1, 1, 1, 1};
    }
}

std::optional<Crossover> crossoverOfTypes(const std::array<int, 4>& types) {
    for (int slope = 0; slope < kCrossoverSlopes; ++slope)
        for (bool low : {true, false})
            if (crossoverTypes(slope, low) == types)
                return Crossover{slope, low};
    return std::nullopt;
}

std::optional<Crossover> crossoverOf(const EqBankState& s, int band) {
    if (s.bank != kSubEqBank || band < 0 || band >= kSubBands || s.records.size() < 20)
        return std::nullopt;
    std::array<int, 4> types{};
    for (int i = 0; i < 4; ++i)
        types[std::size_t(i)] = s.records[std::size_t(subStoreRecord(band, i))].type;
    return crossoverOfTypes(types);
}

void setCrossover(EqBankState& s, int band, const Crossover& c, int hz, int q) {
    if (s.bank != kSubEqBank || band < 0 || band >= kSubBands || s.records.size() < 20)
        return;
    const auto t = crossoverTypes(c.slope, c.lowPass);
    for (int i = 0; i < 4; ++i)
        s.records[std::size_t(subStoreRecord(band, i))] =
            BandRecord{150, std::uint16_t(hz), std::uint16_t(q), std::uint8_t(t[std::size_t(i)])};
}

// ---- edits of one band ----

BandWish wishOf(const BandRecord& r) {
    const BandValues v = bandValues(r);
    return {v.type, double(v.gainDb), double(v.frequencyHz), double(v.q)};
}

BandValues shownValues(const BandRecord& r, int maxType) {
    const int type = r.type > maxType ? 0 : r.type;
    const bool pass = type == 2 || type == 3 || type > 5;
    const double gain = pass ? 0.0 : std::clamp(recordGainDb(r), kBandGainMinDb, kBandGainMaxDb);
    const double hz = std::clamp<int>(r.frequency, kBandFreqMinHz, kBandFreqMaxHz);
    double q = type >= 2 && type <= 5 ? 0.7 : 1.41;
    if (r.q != 0)
        q = std::clamp(double(storedQ(r.q)), kPeqQMin, type == 1 ? kPeqQMax : kPassQMax);
    return bandValues(quantise(type, gain, hz, q));
}

BandWish withType(BandWish w, int type) {
    w.type = type;
    if (type == filter::Peq) {
        w.q = 1.41;
    } else if (type >= 2 && type <= 5) {
        w.gainDb = 0.0;
        w.q = 0.7;
    }
    return w;
}

void applyWish(EqBankState& s, int band, const BandWish& w) {
    if (band < 0 || band >= s.bandCount() || s.records.size() < std::size_t(s.info().records))
        return;
    const BandRecord r = quantise(w.type, w.gainDb, w.frequencyHz, w.q);
    s.band(band) = r;
    if (s.bank != kSubEqBank)
        return;
    const double q = recordQ(r);
    for (int part = 1; part <= 3; ++part) {
        BandRecord& sec = s.records[std::size_t(subStoreRecord(band, part))];
        sec = quantise(sec.type, 0.0, r.frequency, q);
    }
}

void applySubTypes(EqBankState& s, int band, const std::array<int, 4>& types) {
    if (s.bank != kSubEqBank || band < 0 || band >= kSubBands || s.records.size() < 20)
        return;
    BandWish w = wishOf(s.band(band));
    w.gainDb = 0.0;
    const BandWish first = withType(w, types[0]);
    s.band(band) = quantise(first.type, first.gainDb, first.frequencyHz, first.q);
    const BandWish shown = wishOf(s.band(band));
    for (int part = 1; part <= 3; ++part) {
        const BandWish sec =
            withType({0, 0.0, shown.frequencyHz, shown.q}, types[std::size_t(part)]);
        s.records[std::size_t(subStoreRecord(band, part))] =
            quantise(sec.type, sec.gainDb, sec.frequencyHz, sec.q);
    }
}

void applySlope(EqBankState& s, int band, int slope) {
    if (s.bank != kSubEqBank || band < 0 || band >= kSubBands || s.records.size() < 20)
        return;
    const int known = (slope >= 1 && slope <= kCrossoverSlopes) ? slope : 0;
    applySubTypes(s, band, crossoverTypes(known, s.band(band).type % 2 == 0));
}

} // namespace q7
