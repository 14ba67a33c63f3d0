// SPDX-License-Identifier: GPL-3.0-or-later
// The connection-time workers against the simulated amplifier, on virtual time.
#include "params/device_modes.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "rig.h"

#include <gtest/gtest.h>

using namespace q7;
using q7::test::Rig;

namespace {

// The request sequence of a synchronisation, as (code, module-or-address, parameter).
std::vector<std::string> describeRequests(const std::vector<TraceLine>& lines) {
    std::vector<std::string> out;
    for (const TraceLine& t : lines) {
        const Report& r = t.report;
        char buf[32];
        if (r[1] == CMD_DSP_READ)
            std::snprintf(buf, sizeof buf, "R %d %d %d", r[3], r[4], r[5]);
        else if (r[1] == CMD_MEM_READ || r[1] == CMD_MODE_NAME_READ)
            std::snprintf(buf, sizeof buf, "%02X %d %d", r[1], r[2] * 256 + r[3], r[4]);
        else
            std::snprintf(buf, sizeof buf, "%02X", r[1]);
        out.push_back(buf);
    }
    return out;
}

} // namespace

TEST(Synchronise, ReadsEverythingInOrderAndMatchesTheAmplifier) {
    Rig rig(SimOptions{.latencyUs = 1000});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();

    std::vector<std::string> expected = {"80", "7F", "81", "07", "11", "0C"};
    for (int m = 0; m < 4; ++m)
        expected.push_back("DB " + std::to_string(0x0F00 + 64 * m) + " 40");
    expected.push_back("7E");
    for (const DspRequest& q : dspReadList())
        expected.push_back("R " + std::to_string(q.module) + " " + std::to_string(q.parameter) +
                           " " + std::to_string(q.count));
    for (const MemWindow& w : parameterMemoryWindows())
        expected.push_back("86 " + std::to_string(w.address) + " " + std::to_string(w.length));
    expected.push_back("92");
    const auto sent = rig.sent();
    EXPECT_EQ(describeRequests(sent), expected);
    EXPECT_DOUBLE_EQ(sent.front().ms, 2500.0) << "the worker first waits 2.5 s";
    EXPECT_EQ(rig.recorder.transfers, std::vector<TransferKind>{TransferKind::Synchronisation});

    // What the amplifier holds is now in the store.
    const AmpSettings amp = rig.sim.current();
    const BandImage image = rig.store.bandImage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), amp.memory.begin()));
    const PlanBlock plan = rig.store.planBlock();
    EXPECT_TRUE(std::equal(plan.begin(), plan.end(), amp.memory.begin() + 1141));
    EXPECT_EQ(rig.c.state.modeNames().get(1), u"Cinema");
    EXPECT_EQ(rig.c.state.mcuVersion(), "2025-06-18");
    EXPECT_EQ(rig.c.state.currentSettings(), rig.sim.settings());
    EXPECT_EQ(rig.store.cellInt(cell::MicVolume), 60);
    EXPECT_FALSE(rig.store.parametersChanged());
    EXPECT_TRUE(rig.c.link.levelPollEnable);
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
    EXPECT_TRUE(rig.recorder.errors.empty());
}

TEST(Synchronise, LowerCaseModelPasses) {
    Rig rig(SimOptions{.model = "q7"});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
    EXPECT_TRUE(rig.c.link.isOpen());
}

TEST(Synchronise, WrongModelStopsAfterTwoTriesAndClosesWithCmdClose) {
    Rig rig(SimOptions{.model = "Q8"});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.sentCodes(), (std::vector<std::uint8_t>{CMD_GET_MODEL, CMD_GET_MODEL}));
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::WrongModel);
    EXPECT_FALSE(rig.c.link.isOpen());
    EXPECT_EQ(rig.sentCodes().back(), CMD_CLOSE);
    EXPECT_STREQ(checkFailureText(CheckResult::WrongModel), "机器型号与软件不匹配!");
}

TEST(Synchronise, ProtocolTenIsRefusedWithCmdClose) {
    Rig rig(SimOptions{.protocol = 10});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.sentCodes(),
              (std::vector<std::uint8_t>{CMD_GET_MODEL, CMD_GET_PROTOCOL, CMD_GET_MCU_VERSION}));
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::WrongProtocol);
    EXPECT_EQ(rig.sentCodes().back(), CMD_CLOSE);
    EXPECT_FALSE(rig.c.link.isOpen());
}

TEST(Synchronise, SilentAmplifierEndsWithoutHanging) {
    Rig rig(SimOptions{.silent = true});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    // 2500, GET_MODEL, 20, GET_MODEL after 2500, 20, 100, 500.
    EXPECT_DOUBLE_EQ(rig.clock.nowMs(), 2500 + 20 + 2500 + 20 + 100 + 500);
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::NoAnswer)
        << "the default model stands in for a reply that never came";
    EXPECT_FALSE(rig.c.link.isOpen());
}

// Replies that never came (lost, garbled, or too late) are not the amplifier's word on its model
// or protocol: the check says they are missing, and how many of the requests went unanswered.
TEST(Synchronise, MissingIdentityRepliesAreNotAWrongModelOrProtocol) {
    struct Case {
        SimOptions options;
        CheckResult expected;
    };
    for (const Case& k : {Case{SimOptions{.dropEvery = 2}, CheckResult::RepliesLost},
                          Case{SimOptions{.garbageEvery = 1}, CheckResult::NoAnswer},
                          Case{SimOptions{.latencyUs = 3e6}, CheckResult::NoAnswer}}) {
        Rig rig(k.options);
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        rig.c.session.SynchronizeData();
        const CheckResult r = rig.c.session.CheckConnection();
        if (k.expected == CheckResult::NoAnswer) // a stray reply may have got through
            EXPECT_TRUE(r == CheckResult::NoAnswer || r == CheckResult::RepliesLost) << int(r);
        else
            EXPECT_EQ(r, k.expected);
        EXPECT_FALSE(rig.c.link.isOpen());
        if (k.expected == CheckResult::RepliesLost) {
            EXPECT_GT(rig.c.session.lostReplies(), 0);
            EXPECT_LT(rig.c.session.lostReplies(), rig.c.session.askedReplies());
        }
    }
    EXPECT_EQ(checkFailureMessage(CheckResult::RepliesLost, true, 1, 2)
                  .rfind("Replies are being lost (1 of 2): check the USB cable", 0),
              0u);
    EXPECT_NE(checkFailureMessage(CheckResult::NoAnswer, false).find("机器没有应答"),
              std::string::npos);
    EXPECT_EQ(checkFailureMessage(CheckResult::WrongModel, false), "机器型号与软件不匹配!");
}

TEST(Synchronise, DspErrorIsReportedOncePerRun) {
    Rig rig(SimOptions{.dspError = 0x21});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.recorder.errors.size(), 1u);
    EXPECT_EQ(rig.store.cellInt(cell::MicVolume), 60) << "values still decode";
}

TEST(Synchronise, ErasedMemoryClearsTheBandImageAndKeepsNames) {
    Rig rig(SimOptions{.erased = true});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.store.bandImage(), BandImage{});
    EXPECT_EQ(rig.c.state.modeNames().get(0), u"Mode1");
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
}

TEST(Synchronise, GarbageDropsAndTunnelMessagesDoNotDerailIt) {
    Rig rig(SimOptions{.dropEvery = 17, .garbageEvery = 23, .tunnelEvery = 7});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.recorder.transfers.size(), 1u);
    int acks = 0;
    for (const TraceLine& t : rig.sent())
        acks += t.report == tunnelAcknowledgement();
    EXPECT_GE(acks, 20) << "every tunnel message is acknowledged";
    EXPECT_EQ(rig.c.state.modeNames().get(2), u"Music");
}

TEST(Faults, UnplugDuringSynchronisationEndsTheWorkerAndTheLink) {
    Rig rig(SimOptions{.unplugAfter = 60});
    struct ClosesOnRemoval : HotplugListener {
        Link* link;
        void deviceArrived(const std::string&) override {}
        void deviceRemoved(const std::string& path) override {
            if (path == link->devicePath())
                link->CloseByRemoval();
        }
    } ui;
    ui.link = &rig.c.link;
    rig.sim.setHotplugListener(&ui);
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.startSynchronisation();
    {
        Clock::Idle idle(rig.clock);
        rig.c.session.joinWorkers();
    }
    EXPECT_FALSE(rig.c.link.isOpen());
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::LinkLost);
    EXPECT_LT(rig.clock.nowMs(), 10000.0);
    EXPECT_FALSE(rig.c.link.OpenLink().opened) << "unplugged: nothing to open";
    rig.sim.plug();
    EXPECT_TRUE(rig.c.link.OpenLink().opened) << "plugged in again: connects";
    rig.sim.setHotplugListener(nullptr);
}

TEST(Faults, UnplugDuringADownloadEndsIt) {
    Rig rig(SimOptions{.unplugAfter = 100});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.downloadWorker();
    EXPECT_EQ(rig.c.link.state(), LinkState::Broken);
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::LinkLost);
    rig.c.link.CloseByRemoval();
    EXPECT_FALSE(rig.c.link.isOpen());
}

TEST(Download, SendsTheStoreAndCommitsThePendingMode) {
    Rig rig(SimOptions{.latencyUs = 1000});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    rig.store.setCellInt(58, 42);
    rig.store.setBand(4, 3, BandRecord::encode(1, 4.5, 123, 2.0));
    rig.store.setParametersChanged(true);
    rig.c.session.pendingDeviceMode = 2;
    rig.clearTrace();

    rig.c.session.downloadWorker();
    EXPECT_FALSE(rig.store.parametersChanged());
    EXPECT_EQ(rig.sim.dspValue(2, 15), std::vector<std::uint32_t>{floatBits(0.42f)});
    EXPECT_EQ(rig.sim.current().memory[406 + 21], 0x00);
    EXPECT_EQ(rig.sim.current().memory[406 + 21 + 3], 123);

    const double before = rig.clock.nowMs();
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
    const auto s = rig.sent();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2].report, shortCommand(CMD_MODE_PREPARE, 2));
    EXPECT_EQ(s.back().report, shortCommand(CMD_MODE_STORE, 2));
    EXPECT_GE(s.back().ms - s[s.size() - 2].ms, 20.0);
    EXPECT_GE(rig.clock.nowMs() - before, 20.0);
    EXPECT_EQ(rig.store.cellInt(cell::CurrentMode), 2);
    EXPECT_EQ(rig.c.session.pendingDeviceMode, -1);
    EXPECT_EQ(rig.sim.userMode(2), rig.sim.current()) << "the mode now holds the download";
}

TEST(Workers, TheWorkerWaitsUntilTheTransferWasHandled) {
    Rig rig;
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    std::vector<CheckResult> checks;
    rig.recorder.onTransfer = [&](TransferKind) {
        // The user interface's check runs while the worker waits; time passes in it.
        checks.push_back(rig.c.session.CheckConnection());
        rig.clock.sleepMs(200);
    };
    rig.c.session.startSynchronisation();
    {
        Clock::Idle idle(rig.clock);
        rig.c.session.joinWorkers();
    }
    EXPECT_EQ(checks, std::vector<CheckResult>{CheckResult::Passed});
    EXPECT_TRUE(rig.c.link.levelPollEnable);
}

TEST(LevelPoll, SendsOnlyWhenEnabledOpenAndPermitted) {
    Rig rig;
    EXPECT_FALSE(rig.c.session.pollLevels()) << "closed";
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    EXPECT_TRUE(rig.c.session.pollLevels());
    rig.c.session.levelPollPermission = false;
    EXPECT_FALSE(rig.c.session.pollLevels());
    rig.c.session.levelPollPermission = true;
    rig.c.link.levelPollEnable = false;
    EXPECT_FALSE(rig.c.session.pollLevels());
    rig.c.link.levelPollEnable = true;
    EXPECT_TRUE(rig.c.session.pollLevels());
    rig.c.link.awaitReply();
    EXPECT_EQ(rig.sentCodes(), (std::vector<std::uint8_t>{CMD_GET_LEVELS, CMD_GET_LEVELS}));
    EXPECT_NE(rig.store.levelReport(), (std::array<std::uint8_t, 8>{}));
}

TEST(DeviceModes, CommandsNamesAndTheChangedFlag) {
    Rig rig;
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.store.setParametersChanged(true);
    loadMachineMode(rig.store, rig.c.link, 2);
    EXPECT_EQ(rig.store.cellInt(cell::CurrentMode), 2);
    EXPECT_TRUE(rig.store.parametersChanged());
    saveToMachineMode(rig.store, rig.c.link, 7);
    rig.c.link.awaitReply();
    EXPECT_FALSE(rig.store.parametersChanged()) << "saving clears it even without a file";
    EXPECT_EQ(rig.store.cellInt(cell::CurrentMode), 3);
    resetMachineMode(rig.store, rig.c.link, 0);
    setModeName(rig.c.state.modeNames(), rig.c.link, 1, u"A very long name for mode two");
    rig.c.link.awaitReply();
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].report, shortCommand(CMD_MODE_RECALL, 2));
    EXPECT_EQ(s[1].report, shortCommand(CMD_MODE_STORE, 3));
    EXPECT_EQ(s[2].report, shortCommand(CMD_MODE_DEFAULT, 0));
    EXPECT_EQ(s[3].report[4], 44);
    EXPECT_EQ(rig.c.state.modeNames().get(1), u"A very long name for");
    EXPECT_EQ(rig.sim.modeName(1), u"A very long name for");
    EXPECT_EQ(rig.sim.currentMode(), 0);

    EXPECT_EQ(presetResource(32013), 430);
    EXPECT_EQ(presetResource(32014), 435);
    EXPECT_EQ(presetResource(32003), 431);
    EXPECT_EQ(presetResource(99), 427);
}

TEST(DeviceModes, SelectModeSendsPrepareThenStore) {
    Rig rig;
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    selectMode(rig.store, rig.c.link, rig.clock, 1);
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].report, shortCommand(CMD_MODE_PREPARE, 1));
    EXPECT_EQ(s[1].report, shortCommand(CMD_MODE_STORE, 1));
    EXPECT_DOUBLE_EQ(s[1].ms - s[0].ms, 20.0);
}

TEST(StateFile, TheAmplifierKeepsItsMemoryAcrossRuns) {
    const std::string state = testing::TempDir() + "sim_state.bin";
    std::remove(state.c_str());
    ParameterStore pushed;
    {
        Rig rig(SimOptions{.stateFile = state});
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        rig.c.session.SynchronizeData();
        rig.store.setCellInt(74, 33);
        rig.store.setCellFloat(153, 12.5f);
        rig.store.setBand(9, 2, BandRecord::encode(5, -6.0, 7000, 0.9));
        rig.c.session.downloadWorker();
        setModeName(rig.c.state.modeNames(), rig.c.link, 3, u"Late");
        rig.c.link.CloseByEditor();
        pushed.applyModeImage(rig.store.modeImage());
    }
    Rig again(SimOptions{.stateFile = state});
    ASSERT_TRUE(again.c.link.OpenLink().opened);
    again.c.session.SynchronizeData();
    EXPECT_EQ(again.store.cellInt(74), 33);
    EXPECT_FLOAT_EQ(again.store.cellFloat(153), 12.5f);
    EXPECT_EQ(again.store.band(9, 2), pushed.band(9, 2));
    EXPECT_EQ(again.store.bandImage(), pushed.bandImage());
    EXPECT_EQ(again.c.state.modeNames().get(3), u"Late");
    std::remove(state.c_str());
}

namespace {

// Amplifiers plugged into the same socket one after the other.
struct SwapBus : HidBackend {
    HidBackend* current = nullptr;
    std::vector<HidInterface> enumerate() override { return current->enumerate(); }
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override {
        return current->open(path, error);
    }
};

struct TwoAmplifiers {
    explicit TwoAmplifiers(SimOptions first, SimOptions second)
        : a(clock, std::move(first)), b(clock, std::move(second)) {
        bus.current = &a;
        c.link.setTrace(&trace);
        trace.setListener([this](const TraceLine& t) {
            std::lock_guard l(mutex);
            if (t.direction == Direction::ToAmplifier)
                sent.push_back(t.report);
        });
    }
    std::vector<Report> sentSince(std::size_t from) {
        std::lock_guard l(mutex);
        return {sent.begin() + std::ptrdiff_t(std::min(from, sent.size())), sent.end()};
    }
    std::size_t sentCount() {
        std::lock_guard l(mutex);
        return sent.size();
    }

    VirtualClock clock;
    Clock::Participant self{clock};
    SimulatedAmplifier a, b;
    SwapBus bus;
    ParameterStore store;
    TraceWriter trace;
    std::mutex mutex;
    std::vector<Report> sent;
    Connection c{bus, clock, store};
};

bool sentCode(const std::vector<Report>& reports, std::uint8_t code) {
    return std::any_of(reports.begin(), reports.end(),
                       [code](const Report& r) { return r[1] == code; });
}

} // namespace

TEST(Lifecycle, ASilentSecondAmplifierDoesNotPassOnTheFirstOnesAnswers) {
    TwoAmplifiers t(SimOptions{}, SimOptions{.silent = true});
    ASSERT_TRUE(t.c.link.OpenLink().opened);
    t.c.session.SynchronizeData();
    ASSERT_EQ(t.c.session.CheckConnection(), CheckResult::Passed);
    ASSERT_EQ(t.c.state.model(), "Q7");
    t.c.link.CloseByRemoval();

    t.bus.current = &t.b;
    ASSERT_TRUE(t.c.link.OpenLink().opened);
    t.c.session.SynchronizeData();
    EXPECT_EQ(t.c.session.CheckConnection(), CheckResult::NoAnswer);
    EXPECT_EQ(t.c.state.model(), "HX2060");
    EXPECT_EQ(t.c.state.protocol(), 1);
    EXPECT_EQ(t.c.state.mcuVersion(), "2012-10-03");
    EXPECT_EQ(t.c.state.modeNames().get(1), u"Mode2");
    EXPECT_FALSE(t.c.link.isOpen()) << "refused with CMD_CLOSE";
}

TEST(Lifecycle, ADownloadThatLosesTheLinkNeverStoresIntoAModeLater) {
    TwoAmplifiers t(SimOptions{.unplugAfter = 100}, SimOptions{});
    ASSERT_TRUE(t.c.link.OpenLink().opened);
    t.c.session.pendingDeviceMode = 1; // the file was named for M2
    t.c.session.downloadWorker();
    EXPECT_EQ(t.c.session.CheckConnection(), CheckResult::LinkLost);
    EXPECT_EQ(t.c.session.pendingDeviceMode, -1);
    t.c.link.CloseByRemoval();

    // Plugged in again: the next good synchronisation commits nothing.
    t.bus.current = &t.b;
    const AmpSettings m2 = t.b.userMode(1);
    ASSERT_TRUE(t.c.link.OpenLink().opened);
    const std::size_t from = t.sentCount();
    t.c.session.SynchronizeData();
    EXPECT_EQ(t.c.session.CheckConnection(), CheckResult::Passed);
    const auto after = t.sentSince(from);
    EXPECT_FALSE(sentCode(after, CMD_MODE_PREPARE));
    EXPECT_FALSE(sentCode(after, CMD_MODE_STORE));
    EXPECT_EQ(t.b.userMode(1), m2);
}

TEST(Lifecycle, ATransferWhoseLinkBrokeIsNotTrustedAfterAReopen) {
    Rig rig(SimOptions{.readErrorAfter = 12});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    CheckResult seen = CheckResult::Passed;
    rig.recorder.onTransfer = [&](TransferKind) {
        // The editor reopened the still-plugged amplifier before the check ran.
        rig.c.link.CloseByRemoval();
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        seen = rig.c.session.CheckConnection();
    };
    rig.c.session.SynchronizeData();
    EXPECT_EQ(seen, CheckResult::LinkLost);
    EXPECT_TRUE(rig.c.link.isOpen()) << "a lost transfer closes nothing";

    // The reopened link synchronises normally.
    rig.recorder.onTransfer = nullptr;
    rig.c.session.SynchronizeData();
    EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
}

namespace {

// Between the link and the amplifier: the replies to one DSP read never arrive.
struct DeafTo : HidBackend {
    DeafTo(SimulatedAmplifier& sim, int module, int parameter)
        : sim(sim), module(module), parameter(parameter) {}
    SimulatedAmplifier& sim;
    int module, parameter;
    struct Device : HidDevice {
        Device(DeafTo& d, std::unique_ptr<HidDevice> inner) : d(d), inner(std::move(inner)) {}
        int read(std::uint8_t* buf, std::size_t size, int timeoutMs) override {
            const int n = inner->read(buf, size, timeoutMs);
            if (n > 4 && buf[1] == RPL_DSP_VALUE && buf[3] == d.module && buf[4] == d.parameter)
                return 0;
            return n;
        }
        int write(const std::uint8_t* data, std::size_t size) override {
            return inner->write(data, size);
        }
        DeafTo& d;
        std::unique_ptr<HidDevice> inner;
    };
    std::vector<HidInterface> enumerate() override { return sim.enumerate(); }
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override {
        auto inner = sim.open(path, error);
        return inner ? std::make_unique<Device>(*this, std::move(inner)) : nullptr;
    }
};

} // namespace

TEST(Synchronise, ReadsWhoseRepliesWereLostAreAskedForAgain) {
    {
        Rig rig(SimOptions{.dropEvery = 5});
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        rig.c.session.SynchronizeData();
        EXPECT_EQ(rig.c.session.CheckConnection(), CheckResult::Passed);
        EXPECT_EQ(rig.c.session.unreadValues(), 0);
        const auto image = rig.store.bandImage();
        const AmpSettings amp = rig.sim.current();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), amp.memory.begin()))
            << "every memory window arrived in the end";
        EXPECT_EQ(rig.store.cellInt(cell::MicVolume), 60);
        int dspReads = 0;
        for (const TraceLine& t : rig.sent())
            dspReads += t.report[1] == CMD_DSP_READ;
        EXPECT_GT(dspReads, 148) << "the lost ones were sent again";
    }

    // A healthy amplifier gets each read once. (One rig at a time: a thread takes part in one
    // virtual clock only.)
    Rig healthy;
    ASSERT_TRUE(healthy.c.link.OpenLink().opened);
    healthy.c.session.SynchronizeData();
    int dspReads = 0;
    for (const TraceLine& t : healthy.sent())
        dspReads += t.report[1] == CMD_DSP_READ;
    EXPECT_EQ(dspReads, 148);
}

TEST(Synchronise, AReadThatIsNeverAnsweredIsCounted) {
    VirtualClock clock;
    Clock::Participant self(clock);
    SimulatedAmplifier sim(clock);
    DeafTo bus(sim, 3, 26);
    ParameterStore store;
    Connection c(bus, clock, store);
    std::vector<Report> sent;
    TraceWriter trace;
    std::mutex m;
    trace.setListener([&](const TraceLine& t) {
        std::lock_guard l(m);
        if (t.direction == Direction::ToAmplifier)
            sent.push_back(t.report);
    });
    c.link.setTrace(&trace);
    ASSERT_TRUE(c.link.OpenLink().opened);
    c.session.SynchronizeData();
    EXPECT_EQ(c.session.CheckConnection(), CheckResult::Passed);
    EXPECT_EQ(c.session.unreadValues(), 1);
    std::lock_guard l(m);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), dspRead(3, 26, 2)), 1 + kReadRetries);
}

// The progress a display reads from another thread while the worker runs: each request counted
// once it went out, the step named before its requests, the total reached exactly.
TEST(Progress, ASynchronisationCountsItsRequestsToTheTotal) {
    Rig rig(SimOptions{.latencyUs = 1000});
    struct Seen {
        std::uint8_t code;
        TransferProgress p;
    };
    std::vector<Seen> seen;
    rig.trace.setListener([&](const TraceLine& t) {
        if (t.direction != Direction::ToAmplifier || t.report[1] == CMD_GET_LEVELS)
            return;
        const TransferProgress p = rig.c.session.progress();
        std::lock_guard l(rig.mutex);
        seen.push_back({t.report[1], p});
    });
    TransferProgress atEnd;
    rig.recorder.onTransfer = [&](TransferKind) { atEnd = rig.c.session.progress(); };
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.startSynchronisation();
    {
        Clock::Idle idle(rig.clock);
        rig.c.session.joinWorkers();
    }

    std::lock_guard l(rig.mutex);
    ASSERT_EQ(seen.size(), std::size_t(kSynchronisationRequests));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].p.kind, TransferKind::Synchronisation);
        EXPECT_EQ(seen[i].p.total, kSynchronisationRequests);
        EXPECT_EQ(seen[i].p.done, int(i)) << "the requests before this one, no more";
    }
    EXPECT_EQ(seen.front().p.step, TransferStep::Identifying);
    for (const Seen& s : seen) {
        if (s.code == CMD_DSP_READ) {
            EXPECT_EQ(s.p.step, TransferStep::ReadingSettings);
        }
        if (s.code == CMD_MEM_READ) {
            EXPECT_EQ(s.p.step, TransferStep::ReadingEq);
        }
        if (s.code == CMD_MODE_NAME_READ) {
            EXPECT_EQ(s.p.step, TransferStep::ReadingModes);
        }
    }
    EXPECT_EQ(seen.back().p.step, TransferStep::ReadingMachine);
    EXPECT_EQ(atEnd.done, kSynchronisationRequests);
    EXPECT_EQ(atEnd.total, kSynchronisationRequests);
    EXPECT_EQ(atEnd.step, TransferStep::Finishing);
}

TEST(Progress, ADownloadKnowsItsCountBeforeItStartsAndLostRepliesDoNotOverrunIt) {
    { // one rig at a time: a thread takes part in one virtual clock only
        Rig rig(SimOptions{.latencyUs = 1000});
        ASSERT_TRUE(rig.c.link.OpenLink().opened);
        rig.c.session.SynchronizeData();
        rig.store.setBand(4, 3, BandRecord::encode(1, 4.5, 123, 2.0));
        rig.clearTrace();
        const int expected = fullDownloadReports(rig.store, rig.c.state.currentSettings()[0]);
        ASSERT_GT(expected, 200);

        std::vector<TransferProgress> seen;
        rig.trace.setListener([&](const TraceLine& t) {
            if (t.direction != Direction::ToAmplifier)
                return;
            const TransferProgress p = rig.c.session.progress();
            std::lock_guard l(rig.mutex);
            rig.lines.push_back(t);
            seen.push_back(p);
        });
        TransferProgress atEnd;
        rig.recorder.onTransfer = [&](TransferKind) { atEnd = rig.c.session.progress(); };
        rig.c.session.startDownload();
        {
            Clock::Idle idle(rig.clock);
            rig.c.session.joinWorkers();
        }
        EXPECT_EQ(int(rig.sent().size()), expected) << "the dry run counts what is sent";
        EXPECT_EQ(atEnd.kind, TransferKind::Download);
        EXPECT_EQ(atEnd.done, expected);
        EXPECT_EQ(atEnd.total, expected);
        // The steps come in the download's order and never go back.
        std::vector<TransferStep> steps;
        {
            std::lock_guard l(rig.mutex);
            for (const TransferProgress& p : seen)
                if (steps.empty() || steps.back() != p.step)
                    steps.push_back(p.step);
        }
        std::vector<TransferStep> order = {TransferStep::WritingSettings, TransferStep::WritingEq,
                                           TransferStep::WritingSpeakers,
                                           TransferStep::WritingFilters};
        if (rig.c.state.currentSettings()[0] == 1)
            order.push_back(TransferStep::RaisingVolume);
        order.push_back(TransferStep::Confirming);
        EXPECT_EQ(steps, order);
    }

    // Replies lost on the way make a synchronisation ask again; the bar still ends at its total.
    Rig lossy(SimOptions{.dropEvery = 5});
    ASSERT_TRUE(lossy.c.link.OpenLink().opened);
    lossy.c.session.SynchronizeData();
    const TransferProgress p = lossy.c.session.progress();
    EXPECT_GT(lossy.sent().size(), std::size_t(kSynchronisationRequests));
    EXPECT_EQ(p.done, kSynchronisationRequests);
    EXPECT_EQ(p.total, kSynchronisationRequests);
}

TEST(Progress, AWrongModelEndsShortOfTheTotal) {
    Rig rig(SimOptions{.model = "Q8"});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.session.SynchronizeData();
    const TransferProgress p = rig.c.session.progress();
    EXPECT_EQ(p.done, 2) << "two model requests";
    EXPECT_EQ(p.total, kSynchronisationRequests + 1);
    EXPECT_EQ(p.step, TransferStep::Finishing);
}
