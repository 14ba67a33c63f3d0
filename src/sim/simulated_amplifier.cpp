// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simulated_amplifier.h"

#include "eq/eq_bank.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "protocol/report_sink.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace q7 {

namespace {

constexpr std::uint8_t kGenericAck = 0xEE; // for commands the editor expects no specific reply to
constexpr double kLearnDelayMs = 1500;
constexpr double kResetOffMs = 50;
constexpr double kResetReplugMs = 3000;

std::uint16_t dspKey(int module, int parameter) {
    return std::uint16_t((module & 0xFF) << 8 | (parameter & 0xFF));
}

Report reply(std::uint8_t code) {
    Report r{};
    r[0] = kReportId;
    r[1] = code;
    return r;
}

Report textReply(std::uint8_t code, const std::string& text) {
    Report r = reply(code);
    std::copy_n(text.begin(), std::min(text.size(), kReportSize - 3), r.begin() + 2);
    return r;
}

void applyWrite(AmpSettings& s, const Report& r) {
    if (r[1] == CMD_DSP_WRITE) {
        const int n = std::min<int>(r[5], kMaxDspWords);
        std::vector<std::uint32_t> words(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            words[std::size_t(i)] = readBe32(&r[6 + 4 * std::size_t(i)]);
        s.dsp[dspKey(r[3], r[4])] = std::move(words);
    } else if (r[1] == CMD_MEM_WRITE) {
        const std::size_t address = readBe16(&r[2]);
        const std::size_t n = std::min<std::size_t>(r[4], kMaxMemWindow);
        for (std::size_t i = 0; i < n && address + i < s.memory.size(); ++i)
            s.memory[address + i] = r[5 + i];
    }
}

// A sink that applies a download straight to a settings record.
class ApplySink final : public ReportSink {
public:
    explicit ApplySink(AmpSettings& s) : s_(s) {}
    int write(const Report& r) override {
        applyWrite(s_, r);
        return int(kReportSize);
    }

private:
    AmpSettings& s_;
};

// A sensible tuning for the amplifier's factory state.
AmpSettings factorySettings(int flavour) {
    ParameterStore s;
    s.setCellInt(cell::MicVolume, 60 + 5 * flavour);
    s.setCellInt(cell::MusicVolume, 50);
    for (int c : {27, 28, 36, 37, 45, 46, 47, 48})
        s.setCellInt(c, 100);
    s.setCellInt(43, 80);
    s.setCellInt(58, 60 + 10 * flavour);
    s.setCellInt(65, 60);
    s.setCellInt(74, 40);
    s.setCellInt(79, 40);
    for (int c : {59, 60, 66, 67, 75, 76, 80, 81})
        s.setCellFloat(c, 10.0f);
    s.setCellFloat(61, 220.0f);
    s.setCellFloat(68, 220.0f);
    s.setCellInt(62, 80);
    s.setCellInt(63, 60);
    s.setCellInt(69, 80);
    s.setCellInt(70, 60);
    s.setCellInt(71, 80);
    s.setCellInt(83, 70);
    s.setCellFloat(77, 60.0f);
    s.setCellFloat(82, 60.0f);
    // Gates, auto-SUB as a fresh amplifier has them.
    s.setCellInt(53, 10);
    s.setCellInt(54, 40);
    s.setCellInt(90, 10);
    s.setCellInt(91, 40);
    s.setCellInt(56, 50);
    s.setCellInt(32, 1); // microphone phases normal
    s.setCellInt(40, 1);
    s.setCellInt(33, 1);
    s.setCellInt(34, 1);
    s.setCellInt(41, 1);
    s.setCellInt(42, 1);
    s.setCellBits(172, floatBits(-12.0f));
    for (int first : {92, 109, 126, 143, 157}) {
        s.setCellInt(first, 100);
        s.setCellInt(first + 1, 100);
        s.setCellInt(first + 2, 80);
        s.setCellInt(first + 3, 100);
    }
    for (OutputGroup g : {OutputGroup::Main, OutputGroup::Rear, OutputGroup::Top,
                          OutputGroup::Center, OutputGroup::Sub}) {
        const int c = compressorInfo(g).firstCell;
        s.setCellFloat(c, -10.0f);
        s.setCellFloat(c + 1, 2.0f);
        s.setCellFloat(c + 2, 10.0f);
        s.setCellFloat(c + 3, 100.0f);
        s.setCellInt(compressorInfo(g).offCell,
                     g == OutputGroup::Main || g == OutputGroup::Sub ? 0 : 1);
    }
    // Rear and top speakers sit closer to the listener than the fronts.
    const float delays[kDelayChannelCount] = {1.5f, 1.5f, 1.5f, 3.0f, 12.5f, 12.5f, 4.0f, 4.0f};
    for (int d = 0; d < kDelayChannelCount; ++d)
        s.setCellFloat(delayChannelInfo(DelayChannel(d)).delayCell, delays[d]);
    // The sub: a 24 dB Linkwitz-Riley low pass at 90 Hz and a 12 dB subsonic high pass at 25 Hz,
    // each band followed by its three sections.
    const std::pair<std::array<int, 4>, int> crossovers[2] = {{crossoverTypes(1, true), 90},
                                                              {crossoverTypes(0, false), 25}};
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 4; ++j)
            s.setBand(8, subStoreRecord(k, j),
                      BandRecord::encode(crossovers[k].first[std::size_t(j)], 0.0,
                                         crossovers[k].second, 0.707));
    s.writePlanBlock(0, kFactoryPlan);
    // A gentle voicing, so the EQ screens show a real tuning.
    const double micGains[15] = {-6, -4, -2, -1, 0, 0, 0, 0, 1, 2, 3, 2.5, 1, 0, -2};
    const double musicGains[15] = {3, 3.5, 2.5, 1, 0, -1, -1.5, 0, -0.5, 0, 1, 2, 2.5, 2, 1};
    for (int b = 0; b < 15; ++b)
        for (auto [group, first, gains] : {std::tuple{1, 0, micGains}, std::tuple{1, 15, micGains},
                                           std::tuple{4, 0, musicGains}}) {
            BandRecord r = s.band(group, first + b);
            r.gain = BandRecord::encode(r.type, gains[b] + flavour, 100, 1).gain;
            s.setBand(group, first + b, r);
        }
    for (int group : {2, 3})
        for (int b = 0; b < 14; ++b) {
            BandRecord r = s.band(group, b);
            r.gain = BandRecord::encode(1,
                                        (b % 7) < 2    ? -4.0
                                        : (b % 7) == 5 ? 2.0
                                                       : 0.0,
                                        100, 1)
                         .gain;
            s.setBand(group, b, r);
        }

    AmpSettings out;
    ApplySink sink(out);
    VirtualClock clock;
    Dsp(s, sink, clock).fullDownload(1);
    return out;
}

} // namespace

// ---- options ----

std::optional<SimOptions> SimOptions::parse(const std::string& text, std::string& error) {
    SimOptions o;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) {
            if (end == text.size())
                break;
            continue;
        }
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        auto number = [&](double& out) {
            const auto r = std::from_chars(value.data(), value.data() + value.size(), out);
            if (value.empty() || r.ec != std::errc() || r.ptr != value.data() + value.size() ||
                out < 0) {
                error = "simulator option " + key + " needs a number";
                return false;
            }
            return true;
        };
        auto integer = [&](int& out) {
            double v = 0;
            if (!number(v))
                return false;
            out = int(std::min(v, 1e9));
            return true;
        };
        bool ok = true;
        if (key == "latency_us")
            ok = number(o.latencyUs);
        else if (key == "state")
            o.stateFile = value;
        else if (key == "model")
            o.model = value;
        else if (key == "protocol")
            ok = integer(o.protocol);
        else if (key == "silent")
            o.silent = true;
        else if (key == "dsp_error" && value.empty())
            o.dspError = 0x21;
        else if (key == "dsp_error")
            ok = integer(o.dspError);
        else if (key == "erased")
            o.erased = true;
        else if (key == "drop_every")
            ok = integer(o.dropEvery);
        else if (key == "garbage_every")
            ok = integer(o.garbageEvery);
        else if (key == "unplug_after")
            ok = integer(o.unplugAfter);
        else if (key == "read_error_after")
            ok = integer(o.readErrorAfter);
        else if (key == "tunnel_every")
            ok = integer(o.tunnelEvery);
        else if (key == "quiet")
            o.quiet = true;
        else if (key == "room")
            o.roomDir = value;
        else if (key == "noise_db" || key == "drift_ppm" || key == "audio_latency_ms") {
            double v = 0;
            const auto r = std::from_chars(value.data(), value.data() + value.size(), v);
            const double limit = key == "noise_db" ? 200 : key == "drift_ppm" ? 1000 : 2000;
            if (value.empty() || r.ec != std::errc() || r.ptr != value.data() + value.size() ||
                !(std::abs(v) <= limit) || (key == "audio_latency_ms" && v < 0)) {
                error = "simulator option " + key + " needs a number within ±" +
                        std::to_string(int(limit));
                return std::nullopt;
            }
            (key == "noise_db"    ? o.noiseDb
             : key == "drift_ppm" ? o.driftPpm
                                  : o.audioLatencyMs) = v;
        } else {
            error = "unknown simulator option " + key;
            return std::nullopt;
        }
        if (!ok)
            return std::nullopt;
        if (end == text.size())
            break;
    }
    return o;
}

// ---- the device handle ----

namespace {

class SimDevice final : public HidDevice {
public:
    explicit SimDevice(SimulatedAmplifier& amp) : amp_(amp) {}
    ~SimDevice() override { amp_.deviceClosed(); }
    int read(std::uint8_t* buf, std::size_t size, int timeoutMs) override {
        return amp_.deviceRead(buf, size, timeoutMs);
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        return amp_.deviceWrite(data, size);
    }

private:
    SimulatedAmplifier& amp_;
};

} // namespace

// ---- the amplifier ----

SimulatedAmplifier::SimulatedAmplifier(Clock& clock, SimOptions options)
    : clock_(clock), options_(std::move(options)) {
    if (options_.stateFile.empty() || !loadState())
        factoryReset();
    plugged_ = !options_.startUnplugged;
}

SimulatedAmplifier::~SimulatedAmplifier() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    clock_.notify();
    {
        std::lock_guard threadLock(replugMutex_);
        if (replugThread_.joinable())
            replugThread_.join();
        if (hotplugThread_.joinable())
            hotplugThread_.join();
    }
    saveState();
}

namespace {

const std::array<AmpSettings, 4>& factoryModes() {
    static const std::array<AmpSettings, 4> modes = {factorySettings(0), factorySettings(1),
                                                     factorySettings(2), factorySettings(3)};
    return modes;
}

} // namespace

void SimulatedAmplifier::factoryReset() {
    current_ = factoryModes()[0];
    modes_ = factoryModes();
    names_ = {u"KTV", u"Cinema", u"Music", u"Party"};
    namesErased_.fill(false);
    settings_ = {0, 60, 255, 90, 99, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < keys_.size(); ++i)
        keys_[i] = std::uint8_t(i == 0 ? 0x00 : 0x40 + i);
    hdmi_ = 0;
    source_ = 0;
    mode_ = 0;
    if (options_.erased) {
        current_.memory.fill(0xFF);
        for (auto& m : modes_)
            m.memory.fill(0xFF);
        namesErased_.fill(true);
    }
}

std::vector<HidInterface> SimulatedAmplifier::enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<HidInterface> list = {{"sim:mouse", 0x046D, 0xC077}};
    if (plugged_)
        list.push_back({kSimulatorPath, kVendorId, kProductId});
    return list;
}

std::unique_ptr<HidDevice> SimulatedAmplifier::open(const std::string& path, OpenError& error) {
    std::lock_guard lock(mutex_);
    if (path != kSimulatorPath || !plugged_) {
        error = OpenError::NotFound;
        return nullptr;
    }
    if (opened_ || openFails_) {
        error = OpenError::Failed;
        return nullptr;
    }
    opened_ = true;
    queue_.clear();
    error = OpenError::None;
    return std::make_unique<SimDevice>(*this);
}

void SimulatedAmplifier::deviceClosed() {
    {
        std::lock_guard lock(mutex_);
        opened_ = false;
        queue_.clear();
        learning_.reset();
    }
    saveState();
}

void SimulatedAmplifier::setHotplugListener(HotplugListener* listener) {
    {
        // Waits for a notice being delivered: once this returns the old listener is not called.
        std::lock_guard delivering(deliveryMutex_);
        std::lock_guard lock(mutex_);
        listener_ = listener;
    }
    std::lock_guard threadLock(replugMutex_);
    if (!listener || hotplugThread_.joinable())
        return;
    // Notices arrive on a thread of their own, as udev's do, never inside a read or write.
    clock_.reserveParticipant();
    hotplugThread_ = std::thread([this] {
        Clock::Participant participant(clock_, Clock::Participant::Reserved{});
        for (;;) {
            clock_.waitFor(
                [this](double) {
                    std::lock_guard lock(mutex_);
                    return stopping_ || !hotplugEvents_.empty();
                },
                kForever);
            std::pair<bool, std::string> event;
            HotplugListener* target = nullptr;
            std::lock_guard delivering(deliveryMutex_);
            {
                std::lock_guard lock(mutex_);
                if (hotplugEvents_.empty())
                    return; // stopping
                event = hotplugEvents_.front();
                hotplugEvents_.pop_front();
                target = listener_;
            }
            if (target && event.first)
                target->deviceArrived(event.second);
            else if (target)
                target->deviceRemoved(event.second);
        }
    });
}

void SimulatedAmplifier::unplug() {
    {
        std::lock_guard lock(mutex_);
        if (!plugged_)
            return;
        plugged_ = false;
        queue_.clear();
        hotplugEvents_.emplace_back(false, kSimulatorPath);
    }
    clock_.notify();
}

void SimulatedAmplifier::plug() {
    {
        std::lock_guard lock(mutex_);
        if (plugged_)
            return;
        plugged_ = true;
        hotplugEvents_.emplace_back(true, kSimulatorPath);
    }
    clock_.notify();
}

bool SimulatedAmplifier::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

AmpSettings SimulatedAmplifier::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

AmpSettings SimulatedAmplifier::userMode(int mode) const {
    std::lock_guard lock(mutex_);
    return modes_[std::size_t(clampMode(mode))];
}

std::u16string SimulatedAmplifier::modeName(int mode) const {
    std::lock_guard lock(mutex_);
    return names_[std::size_t(clampMode(mode))];
}

int SimulatedAmplifier::currentMode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

std::array<std::uint8_t, kSettingsSize> SimulatedAmplifier::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

std::array<std::uint8_t, kKeyTableSize> SimulatedAmplifier::keyTable() const {
    std::lock_guard lock(mutex_);
    return keys_;
}

std::vector<std::uint32_t> SimulatedAmplifier::dspValue(int module, int parameter) const {
    std::lock_guard lock(mutex_);
    const auto it = current_.dsp.find(dspKey(module, parameter));
    return it == current_.dsp.end() ? std::vector<std::uint32_t>{} : it->second;
}

int SimulatedAmplifier::requestsSeen() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void SimulatedAmplifier::enqueueLocked(const Report& r, double at) {
    auto it =
        std::find_if(queue_.begin(), queue_.end(), [at](const Pending& p) { return p.at > at; });
    queue_.insert(it, Pending{at, r});
}

void SimulatedAmplifier::sendUnprompted(const Report& r) {
    // The clock's lock is taken before ours elsewhere (a read waits under it): never inside.
    const double now = clock_.nowMs();
    {
        std::lock_guard lock(mutex_);
        enqueueLocked(r, now);
    }
    clock_.notify();
}

Report SimulatedAmplifier::levelReport(double now) {
    Report r = reply(RPL_LEVELS);
    for (int k = 0; k < 6 && !options_.quiet; ++k) {
        const double v = 120 + 100 * std::sin(now / 370.0 + k * 0.9) + (rng_() % 20);
        r[std::size_t(2 + k)] = std::uint8_t(std::clamp(v, 0.0, 255.0));
    }
    const int phase = int(now / 8000.0) % 4;
    std::uint8_t status = phase == 1 ? 0x01 : phase == 2 ? 0x02 : phase == 3 ? 0x04 : 0x00;
    if (int(now / 1000.0) % 2)
        status |= 0x10;
    if (source_ == 3)
        status |= 0x20;
    r[9] = status;
    return r;
}

void SimulatedAmplifier::handle(const Report& c, std::vector<Report>& out) {
    const int mode = clampMode(c[2]);
    switch (c[1]) {
    case CMD_DSP_WRITE:
        applyWrite(current_, c);
        out.push_back(reply(RPL_DSP_ACK));
        break;
    case CMD_DSP_READ: {
        Report r = reply(RPL_DSP_VALUE);
        r[2] = std::uint8_t(options_.dspError);
        r[3] = c[3];
        r[4] = c[4];
        const int n = std::min<int>(c[5], kMaxDspWords);
        r[5] = std::uint8_t(n);
        const auto it = current_.dsp.find(dspKey(c[3], c[4]));
        if (it != current_.dsp.end())
            for (int i = 0; i < n && std::size_t(i) < it->second.size(); ++i)
                writeBe32(&r[6 + 4 * std::size_t(i)], it->second[std::size_t(i)]);
        out.push_back(r);
        break;
    }
    case CMD_MEM_WRITE:
        applyWrite(current_, c);
        out.push_back(reply(kGenericAck));
        break;
    case CMD_MEM_READ: {
        Report r = reply(RPL_MEM);
        const std::size_t address = readBe16(&c[2]);
        const std::size_t n = std::min<std::size_t>(c[4], kMaxMemWindow);
        r[2] = c[2];
        r[3] = c[3];
        r[4] = std::uint8_t(n);
        for (std::size_t i = 0; i < n && address + i < current_.memory.size(); ++i)
            r[5 + i] = current_.memory[address + i];
        out.push_back(r);
        break;
    }
    case CMD_GET_MODEL:
        out.push_back(textReply(RPL_MODEL, options_.model));
        break;
    case CMD_GET_PROTOCOL: {
        Report r = reply(RPL_PROTOCOL);
        r[2] = std::uint8_t(options_.protocol);
        out.push_back(r);
        break;
    }
    case CMD_GET_MCU_VERSION:
        out.push_back(textReply(RPL_MCU_VERSION, "2025-06-18"));
        break;
    case CMD_GET_DSP_VERSION:
        out.push_back(textReply(RPL_DSP_VERSION, "2025-07-02"));
        break;
    case CMD_GET_MODE: {
        Report r = reply(RPL_MODE);
        r[2] = std::uint8_t(mode_);
        out.push_back(r);
        break;
    }
    case CMD_SET_HDMI:
        hdmi_ = c[2] & 0x03;
        [[fallthrough]];
    case CMD_GET_HDMI: {
        Report r = reply(RPL_HDMI);
        r[2] = std::uint8_t(hdmi_);
        out.push_back(r);
        break;
    }
    case CMD_SET_SOURCE:
        source_ = std::min<int>(c[2], 4);
        [[fallthrough]];
    case CMD_GET_SOURCE: {
        Report r = reply(RPL_SOURCE);
        r[2] = std::uint8_t(source_);
        out.push_back(r);
        break;
    }
    case CMD_MODE_NAME_READ: {
        Report r = reply(RPL_MODE_NAME);
        r[2] = c[2];
        r[3] = c[3];
        r[4] = kModeNameReadLength;
        const int m = modeFromNameAddress(readBe16(&c[2]));
        if (m >= 0 && namesErased_[std::size_t(m)]) {
            std::fill_n(r.begin() + 5, 40, 0xFF);
        } else if (m >= 0) {
            const std::u16string& name = names_[std::size_t(m)];
            for (std::size_t i = 0; i < name.size() && i < 20; ++i)
                writeBe16(&r[5 + 2 * i], name[i]);
        }
        out.push_back(r);
        break;
    }
    case CMD_MODE_NAME_WRITE: {
        const int m = modeFromNameAddress(readBe16(&c[2]));
        if (m >= 0) {
            std::u16string name;
            for (std::size_t i = 0; i + 1 < c[4] && 6 + i < kReportSize; i += 2) {
                const std::uint16_t unit = readBe16(&c[5 + i]);
                if (!unit)
                    break;
                name.push_back(char16_t(unit));
            }
            names_[std::size_t(m)] = name.substr(0, 20);
            namesErased_[std::size_t(m)] = false;
        }
        out.push_back(reply(kGenericAck));
        break;
    }
    case CMD_GET_SETTINGS: {
        Report r = reply(RPL_SETTINGS);
        std::copy(settings_.begin(), settings_.end(), r.begin() + 2);
        out.push_back(r);
        break;
    }
    case CMD_SET_SETTINGS:
        std::copy_n(c.begin() + 2, settings_.size(), settings_.begin());
        out.push_back(reply(kGenericAck));
        break;
    case CMD_GET_LEVELS:
        break; // answered by deviceWrite, which knows the time
    case CMD_MODE_STORE:
        modes_[std::size_t(mode)] = current_;
        mode_ = mode;
        out.push_back(reply(RPL_MODE));
        out.back()[2] = std::uint8_t(mode);
        break;
    case CMD_MODE_RECALL:
        current_ = modes_[std::size_t(mode)];
        mode_ = mode;
        out.push_back(reply(RPL_MODE));
        out.back()[2] = std::uint8_t(mode);
        break;
    case CMD_MODE_DEFAULT: {
        modes_[std::size_t(mode)] = factoryModes()[std::size_t(mode)];
        current_ = modes_[std::size_t(mode)];
        mode_ = mode;
        out.push_back(reply(RPL_MODE));
        out.back()[2] = std::uint8_t(mode);
        break;
    }
    case CMD_SET_KEY_TABLE: {
        std::copy_n(c.begin() + 2, keys_.size(), keys_.begin());
        Report r = reply(RPL_KEY_TABLE);
        std::copy(keys_.begin(), keys_.end(), r.begin() + 2);
        out.push_back(r);
        break;
    }
    case CMD_TUNNEL:
        break; // our acknowledgement of a tunnel message: nothing to answer
    default:
        out.push_back(reply(kGenericAck));
        break;
    }
}

void SimulatedAmplifier::armUnplugAfter(int more) {
    std::lock_guard lock(mutex_);
    // unplugAfter counts from 1; the request that reaches it is the first one refused.
    options_.unplugAfter = std::max(requests_ + std::max(more, 0), 1);
}

void SimulatedAmplifier::armReadErrorAfter(int more) {
    std::lock_guard lock(mutex_);
    options_.readErrorAfter = std::max(reads_ + std::max(more, 0), 1);
    readErrorDone_ = false;
}

void SimulatedAmplifier::setOpenFails(bool fails) {
    std::lock_guard lock(mutex_);
    openFails_ = fails;
}

void SimulatedAmplifier::setDropEvery(int n) {
    std::lock_guard lock(mutex_);
    options_.dropEvery = std::max(n, 0);
}

void SimulatedAmplifier::setUnanswered(std::function<bool(const Report&)> lost) {
    std::lock_guard lock(mutex_);
    unanswered_ = std::move(lost);
}

int SimulatedAmplifier::deviceWrite(const std::uint8_t* data, std::size_t size) {
    const double now = clock_.nowMs();
    bool unplugNow = false;
    bool resetNow = false;
    {
        std::lock_guard lock(mutex_);
        if (!plugged_ || !opened_)
            return -1;
        if (options_.unplugAfter > 0 && requests_ >= options_.unplugAfter) {
            unplugNow = true;
            options_.unplugAfter = 0; // once: plugged in again, it stays
        } else {
            Report c{};
            std::copy_n(data, std::min(size, kReportSize), c.begin());
            ++requests_;
            if (options_.silent)
                return int(size);

            std::vector<Report> replies;
            handle(c, replies);
            if (c[1] == CMD_GET_LEVELS)
                replies.push_back(levelReport(now));
            if (c[1] == CMD_LEARN_KEY) {
                learning_ = c[2];
                learnAt_ = now + kLearnDelayMs;
                Report learned = reply(RPL_KEY_LEARNED);
                const std::uint8_t code = std::uint8_t(0xA0 + (c[2] & 0x1F));
                if (c[2] < keys_.size())
                    keys_[c[2]] = code;
                learned[2] = keys_[0];
                learned[3] = c[2];
                learned[4] = code;
                enqueueLocked(learned, learnAt_);
            } else if (c[1] == CMD_LEARN_CANCEL) {
                learning_.reset();
                std::erase_if(queue_,
                              [](const Pending& p) { return p.report[1] == RPL_KEY_LEARNED; });
            } else if (c[1] == CMD_RESET_MACHINE && c[2] == 0xAA) {
                resetNow = true;
            }

            const bool drop = (options_.dropEvery > 0 && requests_ % options_.dropEvery == 0) ||
                              (unanswered_ && unanswered_(c));
            if (drop)
                replies.clear();
            if (options_.tunnelEvery > 0 && requests_ % options_.tunnelEvery == 0) {
                const std::uint8_t message[] = {0x4B, 0x45, 0x59, std::uint8_t(requests_)};
                replies.insert(replies.begin(),
                               tunnelReport(makeTunnelPacket(kTunnelMessage, message)));
            }
            const double latency = options_.latencyUs / 1000.0;
            for (Report& r : replies) {
                ++replies_;
                if (options_.garbageEvery > 0 && replies_ % options_.garbageEvery == 0)
                    for (auto& b : r)
                        b = std::uint8_t(rng_());
                lastDelivery_ = std::max(now, lastDelivery_) + latency;
                enqueueLocked(r, lastDelivery_);
            }
        }
    }
    clock_.notify();
    if (unplugNow) {
        unplug();
        return -1;
    }
    if (resetNow) {
        {
            std::lock_guard lock(mutex_);
            factoryReset();
        }
        scheduleReplug(kResetOffMs);
    }
    return int(size);
}

std::optional<Report> SimulatedAmplifier::nextReadyLocked(double now) {
    if (queue_.empty() || queue_.front().at > now)
        return std::nullopt;
    Report r = queue_.front().report;
    queue_.pop_front();
    return r;
}

double SimulatedAmplifier::nextDeliveryLocked() const {
    return queue_.empty() ? kForever : queue_.front().at;
}

int SimulatedAmplifier::deviceRead(std::uint8_t* buf, std::size_t size, int timeoutMs) {
    auto ready = [this](double now) {
        std::lock_guard lock(mutex_);
        return !plugged_ || !opened_ || (!queue_.empty() && queue_.front().at <= now) ||
               (options_.readErrorAfter > 0 && !readErrorDone_ &&
                reads_ >= options_.readErrorAfter);
    };
    auto wakeAt = [this] {
        std::lock_guard lock(mutex_);
        return nextDeliveryLocked();
    };
    clock_.waitFor(ready, timeoutMs, wakeAt);
    const double now = clock_.nowMs();
    std::lock_guard lock(mutex_);
    if (!plugged_ || !opened_)
        return -1;
    if (options_.readErrorAfter > 0 && !readErrorDone_ && reads_ >= options_.readErrorAfter) {
        readErrorDone_ = true;
        return -1;
    }
    const std::optional<Report> r = nextReadyLocked(now);
    if (!r)
        return 0;
    ++reads_;
    const std::size_t n = std::min(size, kReportSize);
    std::copy_n(r->begin(), n, buf);
    return int(n);
}

void SimulatedAmplifier::scheduleReplug(double afterMs) {
    // The amplifier restarts: it leaves the bus shortly after answering and comes back later.
    std::lock_guard threadLock(replugMutex_);
    if (replugThread_.joinable())
        return;
    clock_.reserveParticipant();
    replugThread_ = std::thread([this, afterMs] {
        Clock::Participant participant(clock_, Clock::Participant::Reserved{});
        auto stopping = [this](double) {
            std::lock_guard lock(mutex_);
            return stopping_;
        };
        clock_.waitFor(stopping, afterMs);
        unplug();
        if (!clock_.waitFor(stopping, kResetReplugMs))
            plug();
    });
}

// ---- state file ----

namespace {

constexpr char kStateMagic[8] = {'Q', '7', 'S', 'I', 'M', 0, 0, 1};

void putSettings(std::vector<std::uint8_t>& out, const AmpSettings& s) {
    out.insert(out.end(), s.memory.begin(), s.memory.end());
    out.push_back(std::uint8_t(s.dsp.size() >> 8));
    out.push_back(std::uint8_t(s.dsp.size()));
    for (const auto& [key, words] : s.dsp) {
        out.push_back(std::uint8_t(key >> 8));
        out.push_back(std::uint8_t(key));
        out.push_back(std::uint8_t(words.size()));
        for (std::uint32_t w : words)
            for (int b = 3; b >= 0; --b)
                out.push_back(std::uint8_t(w >> (8 * b)));
    }
}

struct Reader {
    const std::vector<std::uint8_t>& b;
    std::size_t at = 0;
    bool ok = true;
    std::uint8_t byte() {
        if (at >= b.size()) {
            ok = false;
            return 0;
        }
        return b[at++];
    }
    std::uint16_t u16() {
        const std::uint16_t hi = byte();
        return std::uint16_t(hi << 8 | byte());
    }
    std::uint32_t u32() {
        const std::uint32_t hi = u16();
        return hi << 16 | u16();
    }
};

bool getSettings(Reader& r, AmpSettings& s) {
    for (auto& m : s.memory)
        m = r.byte();
    const int entries = r.u16();
    s.dsp.clear();
    for (int i = 0; i < entries && r.ok; ++i) {
        const std::uint16_t key = r.u16();
        const int n = r.byte();
        if (n > kMaxDspWords)
            return false;
        std::vector<std::uint32_t> words(std::size_t(n), 0);
        for (auto& w : words)
            w = r.u32();
        s.dsp[key] = std::move(words);
    }
    return r.ok;
}

} // namespace

bool SimulatedAmplifier::saveState() const {
    if (options_.stateFile.empty())
        return true;
    std::vector<std::uint8_t> out(kStateMagic, kStateMagic + 8);
    {
        std::lock_guard lock(mutex_);
        out.push_back(std::uint8_t(mode_));
        out.push_back(std::uint8_t(hdmi_));
        out.push_back(std::uint8_t(source_));
        out.insert(out.end(), settings_.begin(), settings_.end());
        out.insert(out.end(), keys_.begin(), keys_.end());
        for (int m = 0; m < 4; ++m) {
            const std::u16string& n = names_[std::size_t(m)];
            out.push_back(namesErased_[std::size_t(m)] ? 1 : 0);
            out.push_back(std::uint8_t(std::min<std::size_t>(n.size(), 22)));
            for (std::size_t i = 0; i < n.size() && i < 22; ++i) {
                out.push_back(std::uint8_t(n[i] >> 8));
                out.push_back(std::uint8_t(n[i]));
            }
        }
        putSettings(out, current_);
        for (const AmpSettings& s : modes_)
            putSettings(out, s);
    }
    return bool(writeFileAtomically(options_.stateFile, out));
}

bool SimulatedAmplifier::loadState() {
    std::ifstream in(options_.stateFile, std::ios::binary);
    if (!in)
        return false;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() < 8 || !std::equal(kStateMagic, kStateMagic + 8, bytes.begin()))
        return false;
    Reader r{bytes, 8};
    const int mode = r.byte(), hdmi = r.byte(), source = r.byte();
    std::array<std::uint8_t, kSettingsSize> settings{};
    for (auto& b : settings)
        b = r.byte();
    std::array<std::uint8_t, kKeyTableSize> keys{};
    for (auto& b : keys)
        b = r.byte();
    std::array<std::u16string, 4> names;
    std::array<bool, 4> erased{};
    for (int m = 0; m < 4; ++m) {
        erased[std::size_t(m)] = r.byte() != 0;
        const int n = r.byte();
        for (int i = 0; i < n && r.ok; ++i)
            names[std::size_t(m)].push_back(char16_t(r.u16()));
    }
    AmpSettings current;
    std::array<AmpSettings, 4> modes;
    bool ok = getSettings(r, current);
    for (auto& m : modes)
        ok = ok && getSettings(r, m);
    if (!ok || !r.ok)
        return false;
    mode_ = clampMode(mode);
    hdmi_ = hdmi & 3;
    source_ = std::min(source, 4);
    settings_ = settings;
    keys_ = keys;
    names_ = names;
    namesErased_ = erased;
    current_ = std::move(current);
    modes_ = std::move(modes);
    return true;
}

} // namespace q7
