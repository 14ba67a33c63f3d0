// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated amplifier: a faithful model of the amplifier as the editor relies on it, behind
// the same HidBackend interface as real hardware. The demo for new users and the counterpart of
// every integration test.
#pragma once

#include "device/hid_backend.h"
#include "protocol/clock.h"
#include "protocol/report.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace q7 {

struct SimOptions {
    double latencyUs = 0;
    std::string stateFile;
    std::string model = "Q7";
    int protocol = 11;
    bool silent = false;
    int dspError = 0; // status byte of every DSP value reply; 0 = none
    bool erased = false;
    int dropEvery = 0;           // every Nth request gets no reply
    int garbageEvery = 0;        // every Nth reply is replaced by garbage
    int unplugAfter = 0;         // the amplifier disappears after N requests
    int readErrorAfter = 0;      // the Nth read fails (the device stays)
    int tunnelEvery = 0;         // an unsolicited tunnel message before every Nth reply
    bool startUnplugged = false; // plugged in later with plug(), as a user would
    bool quiet = false;          // nothing playing: every level reads 0
    // The simulated room the amplifier plays into (see simulated_audio.h).
    std::string roomDir;        // room=DIR: a WAV impulse response per speaker
    double noiseDb = -80;       // noise_db: the microphone's noise floor, dBFS
    double driftPpm = 0;        // drift_ppm: the microphone's clock against the player's
    double audioLatencyMs = 40; // audio_latency_ms: the music input's own delay

    // "key=value,key=value"; flags may stand alone ("silent"). False with a reason on error.
    static std::optional<SimOptions> parse(const std::string& text, std::string& error);
};

inline constexpr const char* kSimulatorPath = "sim:q7";
inline constexpr std::size_t kAmpMemorySize = 1193;

// What one user mode (and the current settings) consist of.
struct AmpSettings {
    std::array<std::uint8_t, kAmpMemorySize> memory{};
    std::map<std::uint16_t, std::vector<std::uint32_t>> dsp; // (module << 8 | parameter) -> words
    bool operator==(const AmpSettings&) const = default;
};

class SimulatedAmplifier final : public HidBackend {
public:
    SimulatedAmplifier(Clock& clock, SimOptions options = {});
    ~SimulatedAmplifier() override;

    std::vector<HidInterface> enumerate() override;
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override;

    // Hotplug notices for the simulated device (unplug, reset and re-plug), delivered on a
    // thread of the simulator's own.
    void setHotplugListener(HotplugListener* listener);
    void unplug();
    void plug();
    bool plugged() const;

    // Inspection for tests and the state file.
    AmpSettings current() const;
    AmpSettings userMode(int mode) const;
    std::u16string modeName(int mode) const;
    int currentMode() const;
    std::array<std::uint8_t, kSettingsSize> settings() const;
    std::array<std::uint8_t, kKeyTableSize> keyTable() const;
    std::vector<std::uint32_t> dspValue(int module, int parameter) const;
    int requestsSeen() const;
    // Changes the lost-reply fault while running (benchmarks connect first, then slow down).
    void setDropEvery(int n);
    // Requests the predicate picks get no reply, however often they are asked (a value the
    // amplifier never answers for); empty: every request is answered.
    void setUnanswered(std::function<bool(const Report&)> lost);
    // While set, the amplifier stays on the bus but cannot be opened (a wedged device).
    void setOpenFails(bool fails);
    // Arms the unplug or the read error to strike once `more` further requests or reads have
    // gone through (0: the very next one).
    void armUnplugAfter(int more);
    void armReadErrorAfter(int more);
    bool saveState() const;
    // Sends a report of the test's choosing as if the amplifier (or a faulty hub) had.
    void sendUnprompted(const Report& r);

    // Device side, called by the opened device.
    int deviceWrite(const std::uint8_t* data, std::size_t size);
    int deviceRead(std::uint8_t* buf, std::size_t size, int timeoutMs);
    void deviceClosed();

private:
    struct Pending {
        double at;
        Report report;
    };

    Clock& clock_;
    SimOptions options_;
    std::function<bool(const Report&)> unanswered_;
    mutable std::mutex mutex_;
    HotplugListener* listener_ = nullptr;
    bool plugged_ = true;
    bool opened_ = false;
    std::deque<Pending> queue_;
    int requests_ = 0;
    int replies_ = 0;
    int reads_ = 0;
    bool readErrorDone_ = false;
    bool openFails_ = false;
    std::mt19937 rng_{0x51};
    double lastDelivery_ = 0;

    AmpSettings current_;
    std::array<AmpSettings, 4> modes_;
    std::array<std::u16string, 4> names_;
    std::array<bool, 4> namesErased_{};
    std::array<std::uint8_t, kSettingsSize> settings_{};
    std::array<std::uint8_t, kKeyTableSize> keys_{};
    int hdmi_ = 0, source_ = 0, mode_ = 0;
    std::optional<int> learning_;
    double learnAt_ = 0;
    double replugAt_ = -1;
    std::mutex replugMutex_; // guards the thread handles only
    std::thread replugThread_;
    std::thread hotplugThread_;
    std::mutex deliveryMutex_; // held while a hotplug notice is being delivered
    std::deque<std::pair<bool, std::string>> hotplugEvents_; // (arrived, path)
    bool stopping_ = false;

    void factoryReset();
    void handle(const Report& cmd, std::vector<Report>& replies);
    void enqueueLocked(const Report& r, double at);
    std::optional<Report> nextReadyLocked(double now);
    double nextDeliveryLocked() const;
    Report levelReport(double now);
    bool loadState();
    void scheduleReplug(double afterMs);
};

} // namespace q7
