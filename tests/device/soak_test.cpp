// SPDX-License-Identifier: GPL-3.0-or-later
// Hours of use on virtual time: edits every 50 ms from a thread that never waits (as the window
// does), the level poll, the amplifier unplugged and plugged back, replies lost and garbled.
// Nothing may crash, hang or need a restart, and once the faults stop the amplifier and the store
// agree.
#include "params/dsp.h"
#include "rig.h"

#include <cstdlib>
#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace q7;

namespace {

// Between the link and the amplifier: swallows or garbles replies when told to.
class FaultyBus final : public HidBackend {
public:
    explicit FaultyBus(SimulatedAmplifier& sim) : sim_(sim) {}
    std::atomic<int> dropPerMille{0};
    std::atomic<int> garblePerMille{0};
    std::atomic<bool> failNextRead{false}; // a read error; the amplifier stays plugged in

    std::vector<HidInterface> enumerate() override { return sim_.enumerate(); }
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override {
        auto inner = sim_.open(path, error);
        if (!inner)
            return nullptr;
        return std::make_unique<Device>(*this, std::move(inner));
    }

private:
    struct Device final : HidDevice {
        Device(FaultyBus& bus, std::unique_ptr<HidDevice> inner)
            : bus(bus), inner(std::move(inner)) {}
        int read(std::uint8_t* buf, std::size_t size, int timeoutMs) override {
            if (bus.failNextRead.exchange(false))
                return -1;
            const int n = inner->read(buf, size, timeoutMs);
            if (n <= 0)
                return n;
            const int roll = bus.roll();
            if (roll < bus.dropPerMille)
                return 0;
            if (roll < bus.dropPerMille + bus.garblePerMille)
                for (int i = 1; i < n; ++i)
                    buf[i] = std::uint8_t(bus.roll());
            return n;
        }
        int write(const std::uint8_t* data, std::size_t size) override {
            return inner->write(data, size);
        }
        FaultyBus& bus;
        std::unique_ptr<HidDevice> inner;
    };

    int roll() {
        std::lock_guard lock(mutex_);
        return std::uniform_int_distribution<int>(0, 999)(rng_);
    }

    SimulatedAmplifier& sim_;
    std::mutex mutex_;
    std::mt19937 rng_{77};
};

// What the window thread is told by the other threads, handled in its own loop.
struct Mailbox final : LinkObserver, HotplugListener {
    explicit Mailbox(Clock& clock) : clock(clock) {}
    enum class Kind { Arrived, Removed, TransferFinished, Broken };
    struct Message {
        Kind kind;
        std::string path;
        std::shared_ptr<std::atomic<bool>> handled;
    };

    void post(Message m) {
        {
            std::lock_guard l(mutex);
            messages.push_back(std::move(m));
        }
        clock.notify();
    }
    bool pending() {
        std::lock_guard l(mutex);
        return !messages.empty();
    }
    std::optional<Message> take() {
        std::lock_guard l(mutex);
        if (messages.empty())
            return std::nullopt;
        Message m = messages.front();
        messages.pop_front();
        return m;
    }

    void deviceArrived(const std::string& path) override { post({Kind::Arrived, path, {}}); }
    void deviceRemoved(const std::string& path) override { post({Kind::Removed, path, {}}); }
    void linkStateChanged(LinkState s) override {
        if (s == LinkState::Broken)
            post({Kind::Broken, {}, {}});
    }
    // The worker waits until the window has run the connection check.
    void transferFinished(TransferKind) override {
        auto handled = std::make_shared<std::atomic<bool>>(false);
        post({Kind::TransferFinished, {}, handled});
        Clock::Idle idle(clock);
        clock.waitFor([&](double) { return handled->load() || closing.load(); }, kForever);
    }

    Clock& clock;
    std::mutex mutex;
    std::deque<Message> messages;
    std::atomic<bool> closing{false};
};

double soakHours() {
    if (const char* h = std::getenv("Q7_SOAK_HOURS"))
        return std::atof(h);
    return 8.0;
}

// The senders' words for the store's values: what the amplifier must hold.
std::map<std::pair<int, int>, std::vector<std::uint32_t>>
expectedDsp(ParameterStore& store, const std::vector<int>& cells) {
    VirtualClock clock;
    RecordingSink sink(&clock);
    Dsp dsp(store, sink, clock);
    for (int c : cells)
        dsp.sendCell(c);
    std::map<std::pair<int, int>, std::vector<std::uint32_t>> out;
    for (const Report& r : sink.reports()) {
        const DspValueReply v = parseDspValue(r);
        out[{v.module, v.parameter}] = {v.words.begin(), v.words.begin() + v.count};
    }
    return out;
}

} // namespace

TEST(Soak, HoursOfEditsPollsAndFaultsEndWithTheAmplifierHoldingTheStore) {
    const double endMs = soakHours() * 3600.0 * 1000.0;
    VirtualClock clock;
    Clock::Participant window(clock);
    SimulatedAmplifier sim(clock, SimOptions{.latencyUs = 1000});
    FaultyBus bus(sim);
    ParameterStore store;
    Mailbox mail(clock); // outlives the connection, which tells it of its close
    Connection c(bus, clock, store);
    c.link.setNonWaitingThread(std::this_thread::get_id());
    c.setObserver(&mail);
    sim.setHotplugListener(&mail);
    Dsp dsp(store, c.link, clock);
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    // Cells a person edits on the pages: levels, selectors and flags, not the music mute (its
    // fade is a string of fixed waits).
    std::vector<int> editable;
    for (int cl = kSavedFirstCell; cl <= kSavedLastCell; ++cl) {
        const CellCode code = cellLayout(cl).code;
        if (code == CellCode::C100 || code == CellCode::Sel || code == CellCode::Flag ||
            code == CellCode::Pitch)
            editable.push_back(cl);
    }
    ASSERT_GT(editable.size(), 20u);

    int syncs = 0, passed = 0, lost = 0, unplugs = 0, reopens = 0, edits = 0;
    double replugAt = -1, reopenAt = -1, faultsUntil = -1, nextFault = 60000;
    double nextEdit = 0, nextPoll = 0;
    bool faults = true;

    auto edit = [&] {
        if (pick(0, 3) == 0) {
            const EqGroup& g = eqGroups()[std::size_t(pick(0, 8))];
            dsp.SendBand(g.group, pick(0, g.records - 1), pick(0, 8), pick(-150, 150) / 10.0,
                         pick(20, 20000), pick(100, 5000) / 1000.0);
        } else {
            const int cl = editable[std::size_t(pick(0, int(editable.size()) - 1))];
            const CellCode code = cellLayout(cl).code;
            store.setCellInt(cl, code == CellCode::C100    ? pick(0, 100)
                                 : code == CellCode::Pitch ? pick(-5, 5)
                                                           : pick(0, 1));
            dsp.sendCell(cl);
        }
        ++edits;
    };
    auto connect = [&] {
        if (c.link.OpenLink().opened) {
            ++syncs;
            c.session.startSynchronisation();
        }
    };
    auto handle = [&](const Mailbox::Message& m) {
        switch (m.kind) {
        case Mailbox::Kind::Arrived:
            connect();
            break;
        case Mailbox::Kind::Removed:
            if (m.path == c.link.devicePath())
                c.link.CloseByRemoval();
            break;
        case Mailbox::Kind::Broken:
            // The amplifier is still there: reopen it a second later, as the editor does.
            c.link.CloseByRemoval();
            reopenAt = clock.nowMs() + 1000;
            break;
        case Mailbox::Kind::TransferFinished: {
            const CheckResult r = c.session.CheckConnection();
            passed += r == CheckResult::Passed;
            lost += r == CheckResult::LinkLost;
            if (r == CheckResult::LinkLost && c.link.isOpen())
                c.link.CloseByRemoval();
            m.handled->store(true);
            clock.notify();
            break;
        }
        }
    };

    connect();
    while (clock.nowMs() < endMs) {
        while (auto m = mail.take())
            handle(*m);
        const double now = clock.nowMs();
        if (faults && now >= nextFault) {
            switch (pick(0, 3)) {
            case 0:
                if (sim.plugged()) {
                    ++unplugs;
                    sim.unplug();
                    replugAt = now + pick(500, 8000);
                }
                break;
            case 3:
                bus.failNextRead = true;
                break;
            case 1:
                bus.dropPerMille = pick(5, 200);
                faultsUntil = now + pick(2000, 60000);
                break;
            default:
                bus.garblePerMille = pick(5, 100);
                faultsUntil = now + pick(2000, 60000);
                break;
            }
            nextFault = now + pick(30000, 900000);
        }
        if (faultsUntil >= 0 && now >= faultsUntil) {
            bus.dropPerMille = 0;
            bus.garblePerMille = 0;
            faultsUntil = -1;
        }
        if (replugAt >= 0 && now >= replugAt) {
            replugAt = -1;
            sim.plug();
        }
        if (reopenAt >= 0 && now >= reopenAt) {
            reopenAt = -1;
            ++reopens;
            if (!c.link.isOpen())
                connect();
        }
        // The synchronisation dialog is modal: no edits while a worker runs.
        if (now >= nextEdit) {
            if (!c.session.workerRunning())
                edit();
            nextEdit += 50;
        }
        if (now >= nextPoll) {
            c.session.pollLevels();
            nextPoll += 300;
        }
        if (endMs - now < 600000 && faults) {
            // The last ten minutes: no more faults, the amplifier stays plugged in.
            faults = false;
            nextFault = kForever;
        }
        const double next = std::min({nextEdit, nextPoll, endMs});
        clock.waitFor([&mail](double) { return mail.pending(); }, std::max(0.0, next - now));
    }

    // Everything settles: faults off, plugged in, connected, a synchronisation that passes.
    bus.dropPerMille = 0;
    bus.garblePerMille = 0;
    if (!sim.plugged())
        sim.plug();
    const auto settle = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 100000 && !done(); ++i) {
            while (auto m = mail.take())
                handle(*m);
            clock.waitFor([&mail](double) { return mail.pending(); }, 100);
        }
        return done();
    };
    ASSERT_TRUE(settle([&] { return !c.session.workerRunning() && !mail.pending(); }));
    if (!c.link.isOpen())
        connect();
    const int passedBefore = passed;
    ++syncs;
    c.session.startSynchronisation();
    ASSERT_TRUE(settle([&] { return passed > passedBefore && !c.session.workerRunning(); }));
    EXPECT_TRUE(c.link.isOpen());

    const AmpSettings amp = sim.current();
    const auto same = [](const auto& block, const AmpSettings& a, std::size_t at) {
        return std::equal(block.begin(), block.end(), a.memory.begin() + std::ptrdiff_t(at));
    };
    EXPECT_TRUE(same(store.bandImage(), amp, 0));
    EXPECT_TRUE(same(store.planBlock(), amp, kPlanAddress));
    EXPECT_TRUE(same(store.speakerLevelBlock(), amp, kSpeakerLevelAddress));

    // Edits after the faults reach the amplifier as the store holds them.
    for (int i = 0; i < 2000; ++i) {
        edit();
        clock.sleepMs(pick(1, 60));
    }
    clock.sleepMs(3000);
    EXPECT_EQ(c.link.queued(), 0u);
    const AmpSettings after = sim.current();
    EXPECT_TRUE(same(store.bandImage(), after, 0));
    for (const auto& [address, words] : expectedDsp(store, editable))
        EXPECT_EQ(sim.dspValue(address.first, address.second), words)
            << "module " << address.first << " parameter " << address.second;

    RecordProperty("edits", edits);
    RecordProperty("synchronisations", syncs);
    std::printf("soak: %.1f h, %d edits, %d syncs (%d passed, %d lost), %d unplugs, %d reopens\n",
                soakHours(), edits, syncs, passed, lost, unplugs, reopens);
    EXPECT_GT(unplugs, 0);
    EXPECT_GT(reopens, 0);
    mail.closing = true;
    c.session.cancel();
    {
        Clock::Idle idle(clock);
        c.session.joinWorkers();
    }
    sim.setHotplugListener(nullptr);
}
