// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/tune.h"

#include "eq/eq_bank.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/edit_path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <thread>

namespace q7 {

namespace {

int subGroup() {
    return eqBankInfo(kSubEqBank)->group;
}

constexpr double kTwoPi = 2 * std::numbers::pi;
// The output banks (eq_bank numbering) and the speakers (speakerOutputs() indices) they serve.
struct BankSpeakers {
    int bank;
    std::vector<int> speakers;
};
const std::vector<BankSpeakers>& outputBanks() {
    static const std::vector<BankSpeakers> banks = {
        {5, {0, 1}}, {3, {2}}, {kSubEqBank, {kTuneSub}}, {4, {4, 5}}, {11, {6, 7}}};
    return banks;
}

// A chain response this far down is not trusted for taking the chain out of a measurement.
constexpr double kChainFloor = 1e-4;
constexpr double kDefaultHighHz = 16000;
constexpr double kLevelLowHz = 500, kLevelHighHz = 2000;
constexpr int kSixthOctaveHalf = 4; // points either side on the 1/48-octave grid
constexpr double kReachableLevelDb = 3.0;
// What an all-pass in the Sub must win by (in the crossover score, where a dB of dip costs 2):
// it tells the user the Sub is wired reversed, so a slight gain in the sum does not pay for it.
constexpr double kAllPassCost = 1.0;

std::string fmt(const char* f, double v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// Power-averaged over `half` points either side, in dB.
std::vector<double> smoothedPowerDb(const std::vector<double>& power, int half) {
    std::vector<double> out(power.size());
    const long n = long(power.size());
    for (long i = 0; i < n; ++i) {
        double s = 0;
        int count = 0;
        for (long j = std::max(0L, i - half); j <= std::min(n - 1, i + half); ++j, ++count)
            s += power[std::size_t(j)];
        out[std::size_t(i)] = 10 * std::log10(std::max(s / count, 1e-24));
    }
    return out;
}

std::vector<double> powerOf(const std::vector<Complex>& h) {
    std::vector<double> p(h.size());
    for (std::size_t i = 0; i < h.size(); ++i)
        p[i] = std::norm(h[i]);
    return p;
}

// A response split where the delay stage acts: direct + delayed * e^{-jw d}.
struct Delayable {
    std::vector<Complex> direct, delayed;
    std::vector<Complex> at(const std::vector<double>& hz, double ms) const {
        std::vector<Complex> h(hz.size());
        for (std::size_t i = 0; i < hz.size(); ++i)
            h[i] = direct[i] + delayed[i] * std::polar(1.0, -kTwoPi * hz[i] * ms / 1000);
        return h;
    }
};

struct SpeakerData {
    bool connected = false;
    // The speaker and room alone (the amplifier's chain taken out), by position; empty where
    // it did not arrive.
    std::vector<std::vector<Complex>> raw;
    std::vector<std::vector<Complex>> measured;
    double arrivalMs = 0; // at the main seat
};

class Tuner {
public:
    Tuner(const RoomMeasurement& m, const TuneOptions& o) : m_(m), o_(o) {}
    TunePlan run();

private:
    const RoomMeasurement& m_;
    const TuneOptions& o_;
    TunePlan plan_;
    std::vector<double> hz_, target_;
    std::array<SpeakerData, kSpeakerOutputs> data_;
    TuneSettings settings_;
    ModeImage work_; // the settings as decided so far

    bool collect();
    double bassCorner(int k) const;
    void chooseRanges();
    std::vector<Complex> predicted(int k, std::size_t position, const ModeImage& s) const;
    Delayable delayable(int k, std::size_t position, const ModeImage& s, bool forceOn) const;
    std::vector<int> mains() const;
    void alignDelays();
    // First: from the crossover as it was; Final: the Sub's polarity and delay for the chosen
    // crossover, once everything is equalised; Again: every crossover, when that falls short.
    enum class Pass { First, Final, Again };
    double chooseCrossover(Pass pass); // the predicted dip
    void fitBanks(bool sub);           // the Sub's bank, or the others
    void refitSub(double hiHz); // its EQ again from its bands as they were (0: up to the crossover)
    // A bank's listening seats: each one's power without the bank, on hz_, and its weight.
    struct Seats {
        std::vector<std::vector<double>> power;
        std::vector<double> weight;
    };
    FitJudge judge(const FitResult& fit, const Seats& seats) const;
    // How much a speaker's response at a position counts in its bank's fit: the main seat as
    // much as the other positions together, where it was measured with them.
    double seatWeight(int speaker, std::size_t position) const {
        std::size_t measured = 0;
        for (const auto& r : data_[std::size_t(speaker)].raw)
            measured += !r.empty();
        return position == 0 && measured > 1 ? double(measured - 1) : 1.0;
    }
    void matchLevels();
    void reachable();
    void finish();

    // The non-Sub delays: d = base + c (c = what each speaker needs relative to the others).
    std::array<double, kSpeakerOutputs> relative_{};
    double baseMin_ = 0;      // the least base the delay stages allow
    double extra_ = 0;        // added to it where the Sub must play earlier than it can
    double later_ = 0;        // added to the base: where it combs the split stages less
    bool subDelayed_ = false; // the Sub's delay is the tune's to choose
    void placeDelays(double extra, std::optional<double> subMs);
    void chooseLater();
    void writeDelays();
};

void Tuner::writeDelays() {
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (!t.connected)
            continue;
        const DelayChannelInfo& info = delayChannelInfo(DelayChannel(k));
        work_.cells[std::size_t(info.offCell)] = t.delayMs == 0 ? 1u : 0u;
        if (t.delayMs > 0)
            work_.cells[std::size_t(info.delayCell)] = floatBits(float(t.delayMs));
    }
}

bool Tuner::collect() {
    if (m_.positions.empty() || !m_.positions[0].ok()) {
        plan_.error = {"主座位没有测量", "the main seat was not measured"};
        return false;
    }
    // Every position's responses share one grid.
    for (const SpeakerSweep& s : m_.positions[0].speakers)
        if (s.arrived && !s.response.hz.empty()) {
            hz_ = s.response.hz;
            break;
        }
    if (hz_.empty()) {
        plan_.error = {"没有扬声器的声音到达话筒", "no speaker was heard at the microphone"};
        return false;
    }
    target_ = targetOn(o_.target, hz_);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        SpeakerData& d = data_[std::size_t(k)];
        TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        t.speaker = k;
        t.asked = o_.speakers.empty() ||
                  std::find(o_.speakers.begin(), o_.speakers.end(), k) != o_.speakers.end();
        t.levelBeforeDb = t.levelDb =
            imageSpeakerLevel(m_.settings, speakerOutputs()[std::size_t(k)].speaker);
        t.delayBeforeMs = t.delayMs = appliedDelayMs(m_.settings, k);
        t.delayWhole = delaysWholeSignal(m_.settings, k);
        if (!t.asked)
            continue;
        const std::vector<Complex> chain = outputChain(m_.settings, k, hz_);
        d.raw.resize(m_.positions.size());
        d.measured.resize(m_.positions.size());
        for (std::size_t p = 0; p < m_.positions.size(); ++p) {
            const SpeakerSweep* s = m_.positions[p].ok() ? m_.positions[p].find(k) : nullptr;
            if (!s || !s->arrived || s->response.hz.size() != hz_.size())
                continue;
            d.measured[p] = s->transfer();
            d.raw[p].resize(hz_.size());
            for (std::size_t i = 0; i < hz_.size(); ++i) {
                Complex c = chain[i];
                if (std::abs(c) < kChainFloor)
                    c = std::abs(c) > 0 ? c / std::abs(c) * kChainFloor : Complex(kChainFloor);
                d.raw[p][i] = d.measured[p][i] / c;
            }
            if (p == 0)
                d.arrivalMs = s->arrivalMs;
        }
        d.connected = !d.raw[0].empty();
        t.connected = d.connected;
        t.arrivalBeforeMs = d.arrivalMs;
    }
    if (std::none_of(data_.begin(), data_.end(),
                     [](const SpeakerData& d) { return d.connected; })) {
        plan_.error = {"没有扬声器的声音到达话筒", "no speaker was heard at the microphone"};
        return false;
    }
    return true;
}

std::vector<Complex> Tuner::predicted(int k, std::size_t p, const ModeImage& s) const {
    const auto& raw = data_[std::size_t(k)].raw[p];
    std::vector<Complex> h = outputChain(s, k, hz_);
    for (std::size_t i = 0; i < h.size(); ++i)
        h[i] *= raw[i];
    return h;
}

Delayable Tuner::delayable(int k, std::size_t p, const ModeImage& s, bool forceOn) const {
    const auto& raw = data_[std::size_t(k)].raw[p];
    Delayable d;
    d.direct = outputChain(s, k, hz_, ChainParts{.eq = true, .delay = false, .level = true});
    d.delayed.assign(hz_.size(), Complex(0.0));
    for (std::size_t i = 0; i < hz_.size(); ++i)
        d.direct[i] *= raw[i];
    const DelayChannelInfo& info = delayChannelInfo(DelayChannel(k));
    const bool on = forceOn || (imageCellInt(s, info.offCell) & 0xFF) == 0;
    if (!on)
        return d;
    const Section high(imageBand(s, info.module, info.splitRecord));
    const Section low(imageBand(s, info.module, info.splitRecord + 1));
    const bool whole = delaysWholeSignal(s, k);
    for (std::size_t i = 0; i < hz_.size(); ++i) {
        const Complex hi = high.at(hz_[i]), lo = low.at(hz_[i]);
        if (whole) {
            d.delayed[i] = d.direct[i] * hi * lo;
            d.direct[i] = 0;
        } else {
            d.delayed[i] = d.direct[i] * hi;
            d.direct[i] *= lo;
        }
    }
    return d;
}

double Tuner::bassCorner(int k) const {
    // Where the speaker's own bass rolls off: the highest frequency below 200 Hz under which
    // the octave lies on average 6 dB below the speaker's middle (a room mode lifting one spot
    // of that octave does not move it much).
    const SpeakerData& d = data_[std::size_t(k)];
    std::vector<double> mean(hz_.size(), 0.0);
    int n = 0;
    for (const auto& raw : d.raw) {
        if (raw.empty())
            continue;
        const std::vector<double> db = smoothedPowerDb(powerOf(raw), 8); // 1/3 octave
        for (std::size_t i = 0; i < db.size(); ++i)
            mean[i] += db[i];
        ++n;
    }
    if (n == 0)
        return 20;
    for (double& v : mean)
        v /= n;
    std::vector<double> mid;
    for (std::size_t i = 0; i < hz_.size(); ++i)
        if (hz_[i] >= 200 && hz_[i] <= 2000)
            mid.push_back(mean[i]);
    if (mid.empty())
        return 20;
    std::nth_element(mid.begin(), mid.begin() + std::ptrdiff_t(mid.size() / 2), mid.end());
    const double median = mid[mid.size() / 2];
    constexpr std::size_t kOctave = 48;
    std::size_t i = std::size_t(std::lower_bound(hz_.begin(), hz_.end(), 200.0) - hz_.begin());
    for (; i > 0; --i) {
        const std::size_t from = i > kOctave ? i - kOctave : 0;
        double below = 0;
        for (std::size_t j = from; j < i; ++j)
            below += mean[j];
        if (below / double(i - from) < median - 6)
            return std::clamp(hz_[i], 20.0, 200.0);
    }
    return 20;
}

void Tuner::chooseRanges() {
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (!t.connected)
            continue;
        const double lo = o_.lowHz[std::size_t(k)], hi = o_.highHz[std::size_t(k)];
        if (k == kTuneSub) {
            t.loHz = lo > 0 ? lo : 20;
            t.hiHz = hi > 0 ? hi : 200; // cut to the crossover once it is chosen
        } else {
            t.loHz = lo > 0 ? lo : bassCorner(k);
            t.hiHz = hi > 0 ? hi : kDefaultHighHz;
        }
        t.hiHz = std::max(t.hiHz, t.loHz * std::exp2(1.0 / 3));
    }
}

std::vector<int> Tuner::mains() const {
    std::vector<int> out;
    for (int k : {0, 1})
        if (data_[std::size_t(k)].connected)
            out.push_back(k);
    if (out.empty() && data_[2].connected)
        out.push_back(2);
    return out;
}

void Tuner::placeDelays(double extra, std::optional<double> subMs) {
    // Each delay is base + relative; base as small as the delay stage allows: a stage that is
    // off may stay off where its speaker needs nothing, every other delay is 1.5 ms or more.
    double least = 1e9;
    for (int k = 0; k < kSpeakerOutputs; ++k)
        if (k != kTuneSub && data_[std::size_t(k)].connected)
            least = std::min(least, relative_[std::size_t(k)]);
    if (least < 1e8) {
        auto feasible = [&](double base) {
            for (int k = 0; k < kSpeakerOutputs; ++k) {
                if (k == kTuneSub || !data_[std::size_t(k)].connected)
                    continue;
                const double d = base + relative_[std::size_t(k)];
                const bool off = plan_.speakers[std::size_t(k)].delayBeforeMs == 0;
                if (!(d >= codec::kMinOutputDelayMs - 1e-9 || (off && d < 0.5 / 48)))
                    return false;
            }
            return true;
        };
        baseMin_ = feasible(-least) ? -least : codec::kMinOutputDelayMs - least;
        baseMin_ += later_;
    }
    extra_ = extra;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (!data_[std::size_t(k)].connected || (k == kTuneSub && !(subDelayed_ && subMs)))
            continue;
        double d = k == kTuneSub ? *subMs : baseMin_ + extra + relative_[std::size_t(k)];
        d = d < 0.5 / 48 ? 0.0 : std::max(d, codec::kMinOutputDelayMs);
        d = std::min(d, kDelayMaxMs);
        t.delayMs = std::round(d * 48) / 48;
    }
}

void Tuner::chooseLater() {
    // A stage in "High Freq" mode delays only what lies above its split: the speaker's highs and
    // lows meet out of time there and comb its response. A short delay makes a broad notch no EQ
    // band fills; a longer one a finer comb that averages out within a sixth of an octave. All
    // the delays start later together (the arrivals stay aligned) where that pays for the
    // latency it adds.
    constexpr double kMaxLaterMs = 10.0, kCostPerMs = 0.05;
    std::vector<int> split, placed;
    for (int k = 0; k < kSpeakerOutputs; ++k)
        if (k != kTuneSub && data_[std::size_t(k)].connected) {
            placed.push_back(k);
            if (!plan_.speakers[std::size_t(k)].delayWhole)
                split.push_back(k);
        }
    later_ = 0;
    if (split.empty())
        return;
    const ModeImage was = work_;
    // Each delay as placed, base + relative: later only where none is cut to the stage's range
    // that was not already.
    std::array<bool, kSpeakerOutputs> cut{};
    auto placedAsAsked = [&](bool first) {
        placeDelays(0, std::nullopt);
        for (int k : placed) {
            const double want = baseMin_ + relative_[std::size_t(k)];
            const bool off = std::abs(plan_.speakers[std::size_t(k)].delayMs - want) > 0.6 / 48;
            if (first)
                cut[std::size_t(k)] = off;
            else if (off && !cut[std::size_t(k)])
                return false;
        }
        return true;
    };
    double best = 1e9, bestLater = 0;
    for (double later = 0; later <= kMaxLaterMs + 1e-9; later += 1.0 / 48) {
        later_ = later;
        if (!placedAsAsked(later == 0))
            continue;
        double cost = kCostPerMs * later;
        writeDelays();
        for (int k : split) {
            const TuneSpeaker& t = plan_.speakers[std::size_t(k)];
            const std::vector<Complex> h =
                outputChain(work_, k, hz_, ChainParts{.eq = false, .delay = true, .level = false});
            cost += rmsDeviationDb(hz_, sixthOctaveDb(h), std::vector<double>(hz_.size(), 0.0),
                                   t.loHz, t.hiHz) /
                    double(split.size());
        }
        if (cost < best) {
            best = cost;
            bestLater = later;
        }
    }
    work_ = was;
    later_ = bestLater;
}

void Tuner::alignDelays() {
    // What each speaker needs so that all arrive together: the delay it has now, less its
    // arrival (the farthest arrives last and needs the least).
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (k != kTuneSub && t.connected)
            relative_[std::size_t(k)] = t.delayBeforeMs - data_[std::size_t(k)].arrivalMs;
    }
    // The Sub's delay times it against the mains where its stage delays the whole signal; in
    // "High Freq" mode it only delays what lies above the split, which the Sub does not play.
    subDelayed_ = data_[kTuneSub].connected && plan_.speakers[kTuneSub].delayWhole;
    if (data_[kTuneSub].connected && !subDelayed_)
        plan_.notes.push_back(
            {"超低的延时为“高频延时”方式，只延时分频点以上的声音：超低无法对时（在延时页改为“通道延"
             "时”"
             "后再调校）",
             "the Sub's delay is in \"High Freq\" mode, which delays only what lies above its "
             "split: the Sub could not be timed (choose \"Channel\" on the delay page, then tune "
             "again)"});
    chooseLater();
    // Latency matters to a singer: say what was added and why.
    if (later_ > 0)
        plan_.notes.push_back(
            {"所有输出一起多延时 " + fmt("%.1f ms", later_) +
                 "：“高频延时”方式只延时分频点以上的声音，延时稍长时分频点处只留下细密的梳状起伏，"
                 "而不是均衡补不回来的宽凹陷（延时页改为“通道延时”则不需要）",
             "every output starts " + fmt("%.1f ms", later_) +
                 " later together: \"High Freq\" delays only what lies above the split, and a "
                 "slightly longer delay leaves a fine comb there instead of a broad notch no EQ "
                 "can fill (\"Channel\" on the delay page needs none of it)"});
    placeDelays(0, std::nullopt);
    writeDelays();
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (k != kTuneSub && t.connected && baseMin_ + relative_[std::size_t(k)] > kDelayMaxMs)
            plan_.notes.push_back({std::string(speakerOutputs()[std::size_t(k)].id) +
                                       " 需要的延时超过 100 ms，无法完全对齐",
                                   std::string(speakerOutputs()[std::size_t(k)].id) +
                                       " needs more than the 100 ms the delay allows"});
    }
}

// ---- the Sub's crossover and polarity ----

struct Polarity {
    bool inverted = false;
    double hz = 0, q = 0;
};

// The Sub band that may carry the all-pass: one already holding an all-pass (a previous
// tuning's), else the last band that is flat and no pass filter.
int allPassBandOf(const EqBankState& sub, int crossoverBand) {
    auto flat = [&](int b) {
        for (int i = 0; i < 4; ++i) {
            const BandRecord& r = sub.records[std::size_t(subStoreRecord(b, i))];
            const bool allPass = r.type == filter::Off || r.type > 21;
            if (!(allPass || (r.type == filter::Peq && r.gain == 150)))
                return false;
        }
        return true;
    };
    for (int b = 0; b < 5; ++b)
        if (b != crossoverBand && flat(b) && !crossoverOf(sub, b)) {
            const int t = sub.band(b).type;
            if (t == filter::Off || t > 21)
                return b;
        }
    for (int b = 4; b >= 0; --b)
        if (b != crossoverBand && flat(b) && !crossoverOf(sub, b))
            return b;
    return -1;
}

void setPolarity(EqBankState& sub, int band, const Polarity& p, int crossoverHz) {
    if (band < 0)
        return;
    const int hz = p.inverted ? int(std::lround(p.hz)) : crossoverHz;
    const std::uint16_t q = std::uint16_t(std::lround((p.inverted ? p.q : 0.707) * 1000));
    sub.band(band) =
        BandRecord{150, std::uint16_t(hz), q, std::uint8_t(p.inverted ? filter::Off : filter::Peq)};
    for (int i = 1; i < 4; ++i)
        sub.records[std::size_t(subStoreRecord(band, i))] =
            BandRecord{150, std::uint16_t(hz), q, std::uint8_t(filter::Peq)};
}

std::vector<Complex> bankComplex(const EqBankState& s, const std::vector<double>& hz) {
    std::vector<Complex> h(hz.size(), Complex(1.0));
    for (const BandRecord& r : s.records) {
        if (r.type == filter::Peq && r.gain == 150)
            continue;
        Section(r).apply(hz, h);
    }
    return h;
}

double Tuner::chooseCrossover(Pass pass) {
    const bool finalPass = pass == Pass::Final;
    const std::vector<int> front = mains();
    if (!data_[kTuneSub].connected || front.empty())
        return 0;
    EqBankState sub = readBank(work_.bandImage, kSubEqBank);
    const EqBankState subNow = sub;
    // The crossover band: the Sub's low pass, else a free band for one.
    int xBand = plan_.crossoverBand;
    if (pass == Pass::First) {
        for (int b = 0; b < 5 && xBand < 0; ++b)
            if (auto c = crossoverOf(sub, b); c && c->lowPass)
                xBand = b;
        if (xBand >= 0) {
            plan_.slopeBefore = crossoverOf(sub, xBand)->slope;
            plan_.crossoverBeforeHz = sub.band(xBand).frequency;
            // Another low pass on top of it is part of the crossover the tuning chooses: left
            // in place it would steepen and move every candidate, and hold a band the EQ needs.
            for (int b = xBand + 1; b < 5; ++b)
                if (auto c = crossoverOf(sub, b); c && c->lowPass) {
                    const BandRecord was = sub.band(b);
                    for (int i = 0; i < 4; ++i)
                        sub.records[std::size_t(subStoreRecord(b, i))] =
                            BandRecord{150, was.frequency, 707, std::uint8_t(filter::Peq)};
                    plan_.notes.push_back(
                        {"超低第 " + std::to_string(b + 1) + " 段的低通（" +
                             fmt("%.0f Hz", was.frequency) + "）并入所选的分频，该段用于均衡",
                         "the low pass in Sub band " + std::to_string(b + 1) + " (" +
                             fmt("%.0f Hz", was.frequency) +
                             ") is folded into the crossover chosen; the band is free for EQ"});
                }
        } else {
            xBand = allPassBandOf(sub, -1);
            plan_.notes.push_back({"超低没有低通分频：已加上一个",
                                   "the Sub had no low-pass crossover: one is added"});
        }
        plan_.crossoverBand = xBand;
    }
    if (xBand < 0) {
        plan_.notes.push_back(
            {"超低没有空闲的频段用于分频", "no Sub band is free for a crossover"});
        return 0;
    }
    const int apBand = allPassBandOf(sub, xBand);
    plan_.allPassBand = apBand;

    // Candidates: the crossover as it is, and others the mains can take over from.
    double mainsCorner = 20;
    for (int k : front)
        mainsCorner = std::max(mainsCorner, plan_.speakers[std::size_t(k)].loHz);
    struct Xover {
        int slope;
        int hz;
    };
    std::vector<Xover> xovers;
    const int nowSlope = plan_.slopeBefore >= 0 ? plan_.slopeBefore : 1;
    const int nowHz = plan_.crossoverBeforeHz > 0 ? int(plan_.crossoverBeforeHz) : 80;
    if (pass == Pass::First)
        xovers.push_back({nowSlope, nowHz});
    else
        xovers.push_back({plan_.slope, int(plan_.crossoverHz)});
    if (!finalPass)
        for (int slope : {nowSlope, 1, 0, 8})
            for (int hz : {50, 60, 70, 80, 90, 100, 110, 120})
                if (hz >= mainsCorner && !(slope == xovers[0].slope && hz == xovers[0].hz))
                    xovers.push_back({slope, hz});
    std::vector<Polarity> polarities = {{}};
    // The final choice, for one crossover, looks closer: the all-pass's frequency and Q decide
    // how the phases meet over the whole octave.
    if (apBand >= 0 && finalPass) {
        for (double f = 0.5; f <= 2.01; f *= std::exp2(0.25))
            for (double q : {0.3, 0.4, 0.5, 0.6, 0.71, 0.85, 1.0, 1.2})
                polarities.push_back({true, f, q});
    } else if (apBand >= 0) {
        for (double f : {0.7, 1.0, 1.4})
            for (double q : {0.35, 0.5, 0.71, 1.0})
                polarities.push_back({true, f, q});
    }

    // Where the sums are judged: within an octave either side of any crossover tried, and the
    // few points the 1/6-octave smoothing reaches beyond.
    int lowestHz = xovers[0].hz, highestHz = xovers[0].hz;
    for (const Xover& x : xovers) {
        lowestHz = std::min(lowestHz, x.hz);
        highestHz = std::max(highestHz, x.hz);
    }
    const std::size_t i0 = std::size_t(std::max<std::ptrdiff_t>(
        std::lower_bound(hz_.begin(), hz_.end(), lowestHz / 2.0) - hz_.begin() - kSixthOctaveHalf,
        0));
    const std::size_t i1 = std::min<std::size_t>(
        std::size_t(std::upper_bound(hz_.begin(), hz_.end(), highestHz * 2.0) - hz_.begin()) +
            kSixthOctaveHalf,
        hz_.size());
    const std::vector<double> hz(hz_.begin() + std::ptrdiff_t(i0),
                                 hz_.begin() + std::ptrdiff_t(i1));
    const std::size_t n = hz.size();

    // The Sub without its bank; the mains as they play.
    const std::vector<Complex> subBankNow = bankComplex(subNow, hz_);
    Delayable subPart = delayable(kTuneSub, 0, work_, subDelayed_);
    for (std::size_t i = 0; i < hz_.size(); ++i) {
        subPart.direct[i] /= subBankNow[i];
        subPart.delayed[i] /= subBankNow[i];
    }
    // Each candidate plays the Sub at subMs; where that is earlier than its stage allows, the
    // others wait `extra` instead.
    struct Timing {
        double subMs, extra;
    };
    std::vector<Timing> timings;
    const double subBefore = plan_.speakers[kTuneSub].delayBeforeMs;
    if (subDelayed_) {
        for (double d = codec::kMinOutputDelayMs; d <= 32.0; d += 0.25)
            timings.push_back({d, 0.0});
        for (double e = 0.25; e <= 10.0; e += 0.25)
            timings.push_back({codec::kMinOutputDelayMs, e});
        timings.push_back({std::max(subBefore, codec::kMinOutputDelayMs), 0.0});
    } else {
        timings.push_back({subBefore, 0.0});
    }
    // The mains for each extra wait, and the Sub's delay factors.
    std::vector<std::vector<Complex>> mainsAt(timings.size()), late(timings.size());
    // Each main as the level matching will leave it: all at the quietest one's level, which
    // the Sub is matched to as well.
    std::vector<Delayable> frontParts;
    std::vector<double> frontLevels;
    for (int k : front) {
        frontParts.push_back(delayable(k, 0, work_, false));
        frontLevels.push_back(bandLevelDb(
            hz_, sixthOctaveDb(frontParts.back().at(hz_, plan_.speakers[std::size_t(k)].delayMs)),
            target_, kLevelLowHz, kLevelHighHz));
    }
    const double mainsLevel = *std::min_element(frontLevels.begin(), frontLevels.end());
    for (std::size_t j = 0; j < frontParts.size(); ++j) {
        const double g = std::pow(10.0, (mainsLevel - frontLevels[j]) / 20);
        for (std::size_t i = 0; i < hz_.size(); ++i) {
            frontParts[j].direct[i] *= g;
            frontParts[j].delayed[i] *= g;
        }
    }
    for (std::size_t t = 0; t < timings.size(); ++t) {
        if (t > 0 && timings[t].extra == timings[t - 1].extra && timings[t].extra == 0.0 &&
            !mainsAt[t - 1].empty()) {
            mainsAt[t] = mainsAt[t - 1];
        } else {
            std::vector<Complex> m(n, Complex(0.0));
            for (std::size_t j = 0; j < front.size(); ++j) {
                const double ms = baseMin_ + timings[t].extra + relative_[std::size_t(front[j])];
                const auto h = frontParts[j].at(hz_, std::round(std::max(ms, 1.5) * 48) / 48);
                for (std::size_t i = 0; i < n; ++i)
                    m[i] += h[i0 + i];
            }
            mainsAt[t] = std::move(m);
        }
        late[t].resize(n);
        const double subMs = std::round(timings[t].subMs * 48) / 48;
        for (std::size_t i = 0; i < n; ++i)
            late[t][i] = std::polar(1.0, -kTwoPi * hz[i] * subMs / 1000);
    }

    struct Best {
        double score = 1e9, dip = 0;
        Xover x{};
        Polarity p;
        Timing timing{};
    } best;
    std::vector<Complex> sd(n), sl(n), sh(n);
    for (std::size_t xi = 0; xi < xovers.size(); ++xi) {
        const Xover& x = xovers[xi];
        // The crossover as it is stays where it sums without a dip worth the change.
        if (xi == 1 && best.dip <= o_.tolerance.dipDb - 1.0)
            break;
        EqBankState candidate = sub;
        setCrossover(candidate, xBand, Crossover{x.slope, true}, x.hz,
                     sub.band(xBand).q ? sub.band(xBand).q : 707);
        const double lo = x.hz / 2.0, hi = x.hz * 2.0;
        // Another crossover only where it sums clearly better: each octave away from the
        // present one and another slope cost as a dB of dip would.
        const double moved =
            std::abs(std::log2(double(x.hz) / nowHz)) + (x.slope != nowSlope ? 0.5 : 0.0);
        // The Sub's level over its pass band (an all-pass leaves it as it is).
        double gain = 1;
        {
            EqBankState flat = candidate;
            setPolarity(flat, apBand, Polarity{}, x.hz);
            const std::vector<Complex> bank = bankComplex(flat, hz_);
            const FitRange pass = passBand(flat);
            std::vector<Complex> whole = subPart.at(hz_, subBefore);
            for (std::size_t i = 0; i < hz_.size(); ++i)
                whole[i] *= bank[i];
            gain = std::pow(10.0, (mainsLevel - bandLevelDb(hz_, sixthOctaveDb(whole), target_,
                                                            pass.loHz, pass.hiHz)) /
                                      20);
        }
        for (const Polarity& p : polarities) {
            Polarity placed = p;
            placed.hz = p.inverted ? p.hz * x.hz : 0;
            EqBankState withPolarity = candidate;
            setPolarity(withPolarity, apBand, placed, x.hz);
            const std::vector<Complex> bank = bankComplex(withPolarity, hz_);
            for (std::size_t i = 0; i < n; ++i) {
                sd[i] = subPart.direct[i0 + i] * bank[i0 + i] * gain;
                sl[i] = subPart.delayed[i0 + i] * bank[i0 + i] * gain;
            }
            for (std::size_t t = 0; t < timings.size(); ++t) {
                if (timings[t].extra > 0 && !subDelayed_)
                    continue;
                for (std::size_t i = 0; i < n; ++i)
                    sh[i] = sd[i] + sl[i] * late[t][i];
                const std::vector<Complex>& m = mainsAt[t];
                const double dip = summingDipDb(hz, sh, m, lo, hi);
                // Of two sums without a dip, the one adding up more fully.
                double sumGain = 0;
                int count = 0;
                for (std::size_t i = 0; i < n; ++i)
                    if (hz[i] >= lo && hz[i] <= hi) {
                        sumGain +=
                            10 * std::log10(std::norm(sh[i] + m[i]) /
                                            std::max(std::norm(sh[i]) + std::norm(m[i]), 1e-24));
                        ++count;
                    }
                sumGain /= std::max(count, 1);
                // A dip beyond what the tuning promises outweighs every preference below.
                const double over = std::max(dip - (o_.tolerance.dipDb - 0.5), 0.0);
                const double score = std::max(dip, 0.0) * 2 + 20 * over - 0.5 * sumGain +
                                     2 * moved + (p.inverted ? kAllPassCost : 0.0) +
                                     0.02 * std::abs(timings[t].subMs - subBefore) +
                                     0.02 * timings[t].extra;
                if (score < best.score)
                    best = {score, dip, x, placed, timings[t]};
            }
        }
    }
    plan_.slope = best.x.slope;
    plan_.crossoverHz = best.x.hz;
    setCrossover(sub, xBand, Crossover{best.x.slope, true}, best.x.hz,
                 sub.band(xBand).q ? sub.band(xBand).q : 707);
    if (apBand >= 0)
        setPolarity(sub, apBand, best.p, best.x.hz);
    plan_.speakers[kTuneSub].inverted = best.p.inverted;
    plan_.allPassHz = best.p.inverted ? std::round(best.p.hz) : 0;
    // Left flat, the band is the EQ's: the Sub plays as wired. A later pass may still take a
    // band the EQ leaves flat.
    if (!best.p.inverted)
        plan_.allPassBand = -1;
    plan_.allPassQ = best.p.inverted ? best.p.q : 0;
    // Into the working settings.
    for (int r = 0; r < 20; ++r)
        setImageBand(work_, subGroup(), r, sub.records[std::size_t(r)]);
    if (subDelayed_)
        placeDelays(best.timing.extra, best.timing.subMs);
    writeDelays();
    if (pass == Pass::First && o_.highHz[kTuneSub] <= 0)
        plan_.speakers[kTuneSub].hiHz = plan_.crossoverHz;
    return best.dip;
}

// ---- EQ ----

void Tuner::fitBanks(bool sub) {
    // Each bank's fit on its own thread: they share nothing but what they only read.
    struct Job {
        TuneBank tb;
        EqBankState start;
        ResponseCurve curve;
        FitOptions fo;
        Seats seats;
    };
    std::vector<Job> jobs;
    for (const BankSpeakers& b : outputBanks()) {
        if ((b.bank == kSubEqBank) != sub)
            continue;
        std::vector<int> speakers;
        for (int k : b.speakers)
            if (data_[std::size_t(k)].connected)
                speakers.push_back(k);
        if (speakers.empty())
            continue;
        Job job;
        job.tb.bank = b.bank;
        job.tb.speakers = speakers;
        job.start = readBank(work_.bandImage, b.bank);
        // The position-averaged response without this bank (in dB: what EQ targets are made
        // from), the main seat weighing as much as the other positions together.
        std::vector<double> mean(hz_.size(), 0.0);
        double n = 0;
        double lo = 0, hi = 1e9;
        const std::vector<Complex> bank = bankComplex(job.start, hz_);
        for (int k : speakers) {
            lo = std::max(lo, plan_.speakers[std::size_t(k)].loHz);
            hi = std::min(hi, plan_.speakers[std::size_t(k)].hiHz);
            for (std::size_t p = 0; p < data_[std::size_t(k)].raw.size(); ++p) {
                if (data_[std::size_t(k)].raw[p].empty())
                    continue;
                std::vector<Complex> h = predicted(k, p, work_);
                for (std::size_t i = 0; i < h.size(); ++i)
                    h[i] /= bank[i];
                const std::vector<double> db = sixthOctaveDb(h);
                const double w = seatWeight(k, p);
                for (std::size_t i = 0; i < db.size(); ++i)
                    mean[i] += w * db[i];
                n += w;
                job.seats.power.push_back(powerOf(h));
                job.seats.weight.push_back(w);
            }
        }
        for (double& v : mean)
            v /= n;
        job.curve = ResponseCurve{hz_, mean};
        job.fo.loHz = lo;
        job.fo.hiHz = std::max(hi, lo * std::exp2(1.0 / 3));
        job.fo.maxBoostDb = o_.maxBoostDb;
        if (b.bank == 5)
            job.fo.maxBands = kMainBandsDownloaded;
        if (b.bank == kSubEqBank && plan_.allPassBand >= 0)
            job.fo.locked.push_back(plan_.allPassBand); // kept for the Sub's polarity
        jobs.push_back(std::move(job));
    }
    {
        const Target target = o_.target;
        std::vector<std::thread> threads;
        for (std::size_t j = 1; j < jobs.size(); ++j)
            threads.emplace_back([this, &job = jobs[j], target] {
                job.tb.fit = fitBank(job.start, job.curve, target, job.fo);
                job.tb.fit = rejudgeFit(job.tb.fit, job.fo, judge(job.tb.fit, job.seats));
            });
        if (!jobs.empty()) {
            Job& job = jobs[0];
            job.tb.fit = fitBank(job.start, job.curve, target, job.fo);
            job.tb.fit = rejudgeFit(job.tb.fit, job.fo, judge(job.tb.fit, job.seats));
        }
        for (std::thread& t : threads)
            t.join();
    }
    for (Job& job : jobs) {
        TuneBank& tb = job.tb;
        tb.applied = tb.fit.ok && tb.fit.better;
        if (tb.applied) {
            const EqBankInfo& info = *eqBankInfo(tb.bank);
            for (int r = 0; r < info.records; ++r)
                setImageBand(work_, info.group, info.firstRecord + r,
                             tb.fit.bank.records[std::size_t(r)]);
        }
        // The figures of each speaker are told over the range its bank was fitted on.
        if (tb.fit.ok && !tb.fit.hz.empty())
            for (int k : tb.speakers) {
                plan_.speakers[std::size_t(k)].loHz = tb.fit.hz.front();
                plan_.speakers[std::size_t(k)].hiHz = tb.fit.hz.back();
            }
        plan_.banks.push_back(std::move(tb));
    }
}

FitJudge Tuner::judge(const FitResult& fit, const Seats& seats) const {
    FitJudge j;
    if (!fit.ok || fit.hz.empty() || seats.power.empty())
        return j;
    // The fit's range on the tuning's grid, and the points its smoothing reaches beyond.
    const auto at = [&](double f) {
        return std::size_t(std::lower_bound(hz_.begin(), hz_.end(), f * (1 - 1e-9)) - hz_.begin());
    };
    const std::size_t i0 = at(fit.hz.front()), i1 = at(fit.hz.back() * (1 + 2e-9));
    if (i1 <= i0 + 1)
        return j;
    const std::size_t half = kSixthOctaveHalf;
    const std::size_t j0 = i0 > half ? i0 - half : 0, j1 = std::min(hz_.size(), i1 + half);
    j.hz.assign(hz_.begin() + std::ptrdiff_t(j0), hz_.begin() + std::ptrdiff_t(j1));
    // What the bands the fit did not set leave: pass filters, the crossover, kept bands.
    EqBankState kept = fit.bank;
    for (int b : fit.bandsUsed) {
        kept.band(b).gain = 150;
        kept.band(b).type = filter::Peq;
    }
    const std::vector<Complex> keptH = bankComplex(kept, j.hz);
    // Each seat's power with the kept bands, on the judged points.
    auto base = std::make_shared<std::vector<std::vector<double>>>();
    for (const std::vector<double>& p : seats.power) {
        std::vector<double> v(j.hz.size());
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = p[j0 + i] * std::norm(keptH[i]);
        base->push_back(std::move(v));
    }
    const std::vector<double> weight = seats.weight;
    const std::vector<double> target(target_.begin() + std::ptrdiff_t(j0),
                                     target_.begin() + std::ptrdiff_t(j1));
    const double lo = fit.hz.front(), hi = fit.hz.back();
    // As the tuning's figures are made: each seat smoothed over a sixth of an octave, level-free.
    j.error = [base, weight, target, hz = j.hz, lo, hi](const std::vector<double>& bandsDb) {
        constexpr double kDbToPower = std::numbers::ln10 / 10;
        std::vector<double> gain(hz.size()), power(hz.size());
        for (std::size_t i = 0; i < gain.size(); ++i)
            gain[i] = std::exp(bandsDb[i] * kDbToPower);
        double total = 0, weights = 0;
        for (std::size_t s = 0; s < base->size(); ++s) {
            const std::vector<double>& p = (*base)[s];
            for (std::size_t i = 0; i < power.size(); ++i)
                power[i] = p[i] * gain[i];
            const double rms =
                rmsDeviationDb(hz, smoothedPowerDb(power, kSixthOctaveHalf), target, lo, hi);
            total += weight[s] * rms * rms;
            weights += weight[s];
        }
        return weights > 0 ? total / weights : 0.0;
    };
    return j;
}

void Tuner::refitSub(double hiHz) {
    const auto it = std::find_if(plan_.banks.begin(), plan_.banks.end(),
                                 [](const TuneBank& b) { return b.bank == kSubEqBank; });
    if (it == plan_.banks.end())
        return;
    // The bands the first fit set go flat (a low pass folded into the crossover stays out); the
    // crossover and all-pass stay.
    const EqBankState now = readBank(work_.bandImage, kSubEqBank);
    for (int b : it->fit.bandsUsed)
        if (b != plan_.crossoverBand && b != plan_.allPassBand)
            for (int i = 0; i < 4; ++i)
                setImageBand(
                    work_, subGroup(), subStoreRecord(b, i),
                    BandRecord{150, now.band(b).frequency, 707, std::uint8_t(filter::Peq)});
    plan_.banks.erase(it);
    // Its range as the user set it, else from 20 Hz up to the crossover now chosen.
    TuneSpeaker& t = plan_.speakers[kTuneSub];
    t.loHz = o_.lowHz[kTuneSub] > 0 ? o_.lowHz[kTuneSub] : 20;
    t.hiHz = o_.highHz[kTuneSub] > 0 ? o_.highHz[kTuneSub] : plan_.crossoverHz;
    if (hiHz > 0)
        t.hiHz = std::min(t.hiHz, hiHz);
    t.hiHz = std::max(t.hiHz, t.loHz * std::exp2(1.0 / 3));
    fitBanks(true);
}

// ---- levels ----

void Tuner::matchLevels() {
    std::array<double, kSpeakerOutputs> level{};
    double quietest = 1e9;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        if (!data_[std::size_t(k)].connected)
            continue;
        const auto [lo, hi] = levelBand(plan_, k);
        level[std::size_t(k)] =
            bandLevelDb(hz_, sixthOctaveDb(predicted(k, 0, work_)), target_, lo, hi);
        quietest = std::min(quietest, level[std::size_t(k)]);
    }
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (!data_[std::size_t(k)].connected)
            continue;
        const int number = speakerOutputs()[std::size_t(k)].speaker;
        const double now = imageSpeakerLevel(work_, number);
        double want = now + quietest - level[std::size_t(k)];
        if (want < kSpeakerLevelMinDb || want > kSpeakerLevelMaxDb)
            plan_.notes.push_back(
                {std::string(speakerOutputs()[std::size_t(k)].id) + " 的电平超出范围，无法完全匹配",
                 std::string(speakerOutputs()[std::size_t(k)].id) +
                     " cannot be matched within the speaker level's range"});
        want = std::clamp(want, kSpeakerLevelMinDb, kSpeakerLevelMaxDb);
        // To a hundredth of a dB: a speaker already matched keeps its level exactly, and is not
        // listed as changed for a rounding error.
        want = std::round(want * 100) / 100;
        if (std::abs(want - now) < 0.005)
            want = now;
        t.levelDb = float(want);
        // Into the working settings as the sender stores it.
        const std::size_t at = std::size_t(speakerInfo(number).slot) * 4;
        const std::uint32_t w = floatBits(float(want));
        work_.speakerLevels[at] = std::uint8_t(w >> 24);
        work_.speakerLevels[at + 1] = std::uint8_t(w >> 16);
        work_.speakerLevels[at + 2] = std::uint8_t(w >> 8);
        work_.speakerLevels[at + 3] = std::uint8_t(w);
    }
}

void Tuner::finish() {
    // What applying sends, and the settings it leaves (made by the same senders).
    settings_ = {};
    for (const TuneBank& b : plan_.banks)
        if (b.applied)
            settings_.banks.push_back(readBank(work_.bandImage, b.bank));
    if (plan_.crossoverBand >= 0) {
        const EqBankState sub = readBank(work_.bandImage, kSubEqBank);
        const auto it = std::find_if(settings_.banks.begin(), settings_.banks.end(),
                                     [](const EqBankState& s) { return s.bank == kSubEqBank; });
        if (it == settings_.banks.end())
            settings_.banks.push_back(sub);
        else
            *it = sub;
    }
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        if (!t.connected)
            continue;
        if (std::abs(t.delayMs - t.delayBeforeMs) > 1e-9)
            settings_.delays.push_back({k, t.delayMs});
        if (t.levelDb != t.levelBeforeDb)
            settings_.levels.push_back({k, float(t.levelDb)});
    }
    plan_.settings = settings_;
    plan_.after = settingsAfter(plan_.before, settings_);
    plan_.changes = differences(plan_.before, plan_.after);

    // Predictions on the settings as they will be.
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        TuneSpeaker& t = plan_.speakers[std::size_t(k)];
        const SpeakerData& d = data_[std::size_t(k)];
        if (!t.connected)
            continue;
        t.delayMs = appliedDelayMs(plan_.after, k);
        t.levelDb = imageSpeakerLevel(plan_.after, speakerOutputs()[std::size_t(k)].speaker);
        const auto [lo, hi] = levelBand(plan_, k);
        double sumBefore = 0, sumAfter = 0;
        int n = 0;
        for (std::size_t p = 0; p < d.raw.size(); ++p) {
            if (d.raw[p].empty())
                continue;
            const std::vector<double> before = sixthOctaveDb(d.measured[p]);
            const std::vector<double> after = sixthOctaveDb(predicted(k, p, plan_.after));
            const double rb = rmsDeviationDb(hz_, before, target_, t.loHz, t.hiHz);
            const double ra = rmsDeviationDb(hz_, after, target_, t.loHz, t.hiHz);
            if (p == 0) {
                t.beforeDb = before;
                t.predictedDb = after;
                t.rmsBeforeDb = rb;
                t.rmsPredictedDb = ra;
                t.seatLevelBeforeDb = bandLevelDb(hz_, before, target_, lo, hi);
                t.seatLevelDb = bandLevelDb(hz_, after, target_, lo, hi);
            }
            sumBefore += rb;
            sumAfter += ra;
            ++n;
        }
        t.averageRmsBeforeDb = sumBefore / n;
        t.averageRmsPredictedDb = sumAfter / n;
    }
    reachable();
    const std::vector<int> front = mains();
    if (data_[kTuneSub].connected && !front.empty() && plan_.crossoverHz > 0) {
        std::vector<Complex> mb(hz_.size()), ma(hz_.size());
        for (int k : front) {
            const auto after = predicted(k, 0, plan_.after);
            for (std::size_t i = 0; i < hz_.size(); ++i) {
                mb[i] += data_[std::size_t(k)].measured[0][i];
                ma[i] += after[i];
            }
        }
        const auto subAfter = predicted(kTuneSub, 0, plan_.after);
        const double fc = plan_.crossoverHz;
        const double fcBefore = plan_.crossoverBeforeHz > 0 ? plan_.crossoverBeforeHz : fc;
        plan_.dipBeforeDb =
            summingDipDb(hz_, data_[kTuneSub].measured[0], mb, fcBefore / 2, fcBefore * 2);
        plan_.dipPredictedDb = summingDipDb(hz_, subAfter, ma, fc / 2, fc * 2);
        std::vector<Complex> sb(hz_.size()), sa(hz_.size());
        for (std::size_t i = 0; i < hz_.size(); ++i) {
            sb[i] = mb[i] + data_[kTuneSub].measured[0][i];
            sa[i] = ma[i] + subAfter[i];
        }
        plan_.sumBeforeDb = sixthOctaveDb(sb);
        plan_.sumPredictedDb = sixthOctaveDb(sa);
    }
    if (plan_.speakers[kTuneSub].inverted)
        plan_.notes.push_back(
            {"超低反相相加更好：功放没有极性开关，已在超低第 " +
                 std::to_string(plan_.allPassBand + 1) + " 段放一个全通滤波器（类型“关”，" +
                 fmt("%.0f Hz", plan_.allPassHz) +
                 "），使分频点处相位翻转；直接对调超低音箱的"
                 "正负接线效果完全相同（那时把该段改回 0 dB 的参量均衡）",
             "the Sub sums better inverted: the amplifier has no polarity switch, so an all-pass "
             "filter (type \"off\") in Sub band " +
                 std::to_string(plan_.allPassBand + 1) + " at " + fmt("%.0f Hz", plan_.allPassHz) +
                 " turns its phase over at the crossover; reversing the Sub's speaker wires does "
                 "it exactly (then set that band back to a 0 dB peaking band)"});
    plan_.hz = hz_;
    plan_.targetDb = target_;
    plan_.streamOffsetSeconds = m_.positions[0].offsetSeconds;
    plan_.ok = true;
}

void Tuner::reachable() {
    for (const TuneBank& b : plan_.banks) {
        // The bands its fit may set, alone: the crossover and pass filters stay.
        EqBankState bands = readBank(plan_.after.bandImage, b.bank);
        const int step = b.bank == kSubEqBank ? 4 : 1;
        for (int k = 0; k < bands.bandCount(); ++k)
            if (std::find(b.fit.bandsUsed.begin(), b.fit.bandsUsed.end(), k) ==
                b.fit.bandsUsed.end())
                for (int i = 0; i < step; ++i)
                    bands.records[std::size_t(bands.recordOfBand(k) + i)] =
                        BandRecord{150, 1000, 707, std::uint8_t(filter::Peq)};
        const std::vector<Complex> eq = bankComplex(bands, hz_);
        // Each speaker's deviation at each position without its bank.
        std::vector<std::vector<double>> seat(b.speakers.size());
        std::vector<double> shared(hz_.size(), 0.0);
        double n = 0;
        for (std::size_t j = 0; j < b.speakers.size(); ++j) {
            const int k = b.speakers[j];
            for (std::size_t p = 0; p < data_[std::size_t(k)].raw.size(); ++p) {
                if (data_[std::size_t(k)].raw[p].empty())
                    continue;
                std::vector<Complex> h = predicted(k, p, plan_.after);
                for (std::size_t i = 0; i < h.size(); ++i)
                    h[i] /= eq[i];
                std::vector<double> db = sixthOctaveDb(h);
                const double w = seatWeight(k, p);
                for (std::size_t i = 0; i < db.size(); ++i) {
                    db[i] -= target_[i];
                    shared[i] += w * db[i];
                }
                n += w;
                if (p == 0)
                    seat[j] = std::move(db);
            }
        }
        for (double& v : shared)
            v /= n > 0 ? n : 1;
        for (std::size_t j = 0; j < b.speakers.size(); ++j) {
            TuneSpeaker& t = plan_.speakers[std::size_t(b.speakers[j])];
            if (seat[j].empty())
                continue;
            auto inRange = [&](const std::vector<double>& v) {
                std::vector<double> out;
                for (std::size_t i = 0; i < hz_.size(); ++i)
                    if (hz_[i] >= t.loHz && hz_[i] <= t.hiHz)
                        out.push_back(v[i]);
                return out;
            };
            const std::vector<double> own = inRange(seat[j]);
            t.rmsReachableDb = reachableRmsDb(own, inRange(shared), o_.maxBoostDb);
            t.rmsSeatReachableDb = reachableRmsDb(own, own, o_.maxBoostDb);
            t.bankBands = int(b.fit.bandsUsed.size());
        }
    }
}

TunePlan Tuner::run() {
    plan_.before = m_.settings;
    work_ = m_.settings;
    if (!collect())
        return plan_;
    chooseRanges();
    alignDelays();
    // The mains equalised first: the Sub is crossed over to them as they will play.
    fitBanks(false);
    chooseCrossover(Pass::First);
    fitBanks(true);
    matchLevels();
    // The Sub's timing and polarity again, with the Sub equalised too; another crossover where
    // that still dips.
    if (plan_.crossoverBand >= 0) {
        // Each further step is kept only where the sum then dips less.
        struct Kept {
            TunePlan plan;
            ModeImage work;
            double extra, dip;
        };
        double dip = chooseCrossover(Pass::Final);
        auto keep = [&] { return Kept{plan_, work_, extra_, dip}; };
        auto keepBetter = [&](const Kept& was) {
            if (dip < was.dip)
                return;
            plan_ = was.plan;
            work_ = was.work;
            extra_ = was.extra;
            dip = was.dip;
        };
        if (dip > o_.tolerance.dipDb - 0.5) {
            const Kept was = keep();
            const auto crossoverOfFit = std::pair(plan_.slope, plan_.crossoverHz);
            dip = chooseCrossover(Pass::Again);
            // Another crossover moves the Sub's pass band: its EQ is fitted again on it, and its
            // timing and polarity chosen again with that EQ.
            if (std::pair(plan_.slope, plan_.crossoverHz) != crossoverOfFit) {
                refitSub(0);
                dip = chooseCrossover(Pass::Final);
            }
            keepBetter(was);
        }
        // Where the sum still dips too far, the Sub's EQ kept out of the crossover's octave (it
        // moves the Sub's phase there).
        if (dip > o_.tolerance.dipDb - 0.25) {
            const Kept was = keep();
            refitSub(plan_.crossoverHz / std::sqrt(2.0));
            dip = chooseCrossover(Pass::Final);
            keepBetter(was);
        }
        // The delays may have moved: where a stage delays only the highs, that moves the level.
        matchLevels();
    }
    finish();
    return plan_;
}

} // namespace

RoomSweepSetup tuneSweepSetup(const TuneOptions& o, bool verification) {
    RoomSweepSetup s;
    s.sweep = o.sweep;
    if (verification)
        s.sweep.seconds = std::min(o.sweep.seconds, o.verifySweepSeconds);
    s.speakers = o.speakers;
    if (s.speakers.empty())
        for (int k = 0; k < kSpeakerOutputs; ++k)
            s.speakers.push_back(k);
    s.referenceSpeaker = o.referenceSpeaker;
    // Unsmoothed: the amplifier's chain is taken out of each response point by point (a delay
    // stage in "High Freq" mode makes fine combs), and smoothed afterwards.
    s.analysis.smoothing = Smoothing{Smoothing::Kind::None, 0};
    s.calibration = o.calibration;
    return s;
}

std::vector<double> sixthOctaveDb(const std::vector<Complex>& h) {
    return smoothedPowerDb(powerOf(h), kSixthOctaveHalf);
}

double bandLevelDb(const std::vector<double>& hz, const std::vector<double>& db,
                   const std::vector<double>& target, double lo, double hi) {
    double s = 0;
    int n = 0;
    for (std::size_t i = 0; i < hz.size() && i < db.size() && i < target.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi) {
            s += db[i] - target[i];
            ++n;
        }
    return n ? s / n : -300.0;
}

double rmsDeviationDb(const std::vector<double>& hz, const std::vector<double>& db,
                      const std::vector<double>& target, double lo, double hi) {
    std::vector<double> m, t;
    for (std::size_t i = 0; i < hz.size() && i < db.size() && i < target.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi) {
            m.push_back(db[i]);
            t.push_back(target[i]);
        }
    return errorStats(m, std::vector<double>(m.size(), 0.0), t).rmsDb;
}

double summingDipDb(const std::vector<double>& hz, const std::vector<Complex>& sub,
                    const std::vector<Complex>& mains, double lo, double hi) {
    std::vector<double> parts(hz.size()), sum(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        parts[i] = std::norm(sub[i]) + std::norm(mains[i]);
        sum[i] = std::norm(sub[i] + mains[i]);
    }
    const std::vector<double> p = smoothedPowerDb(parts, kSixthOctaveHalf);
    const std::vector<double> s = smoothedPowerDb(sum, kSixthOctaveHalf);
    double worst = -1e9;
    for (std::size_t i = 0; i < hz.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi)
            worst = std::max(worst, p[i] - s[i]);
    return worst;
}

std::pair<double, double> levelBand(const TunePlan& plan, int speaker) {
    if (speaker == kTuneSub) {
        const TuneSpeaker& t = plan.speakers[kTuneSub];
        return {t.loHz, t.hiHz};
    }
    return {kLevelLowHz, kLevelHighHz};
}

double reachableRmsDb(const std::vector<double>& seat, const std::vector<double>& shared,
                      double maxBoostDb) {
    const std::size_t n = std::min(seat.size(), shared.size());
    if (n == 0)
        return 0;
    // The correction is -shared + level, cut at the boost limit; the level that leaves least,
    // within a few dB of none where the response is typical (an EQ does not fill a null by
    // cutting everything else).
    std::vector<double> sorted(shared.begin(), shared.begin() + std::ptrdiff_t(n));
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(n / 2), sorted.end());
    const double median = sorted[n / 2];
    const double lo = median - kReachableLevelDb, hi = median + kReachableLevelDb;
    double best = 1e9;
    std::vector<double> r(n);
    for (double level = lo; level <= hi + 1e-9; level += 0.05) {
        double mean = 0;
        for (std::size_t i = 0; i < n; ++i) {
            r[i] = seat[i] + std::min(level - shared[i], maxBoostDb);
            mean += r[i];
        }
        mean /= double(n);
        double sq = 0;
        for (std::size_t i = 0; i < n; ++i)
            sq += (r[i] - mean) * (r[i] - mean);
        best = std::min(best, std::sqrt(sq / double(n)));
    }
    return best;
}

TunePlan computeTune(const RoomMeasurement& measured, const TuneOptions& options) {
    return Tuner(measured, options).run();
}

} // namespace q7
