// SPDX-License-Identifier: GPL-3.0-or-later
// Every fault of the simulated amplifier against every flow of the editor, on virtual time and
// through the editor's own controls. Each cell ends (no crash, no hang) and states what the
// store holds, what the amplifier holds and what the user was told.
#include "app/load_preview.h"
#include "editor_rig.h"
#include "pages/remote_dialogs.h"
#include "params/mode_file.h"
#include "real_input.h"
#include "ui/info_popup.h"

#include <QApplication>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

enum class Fault {
    None,
    Silent,
    DspError,
    Erased,
    DropEvery,
    GarbageEvery,
    UnplugAfter,
    ReadErrorAfter,
    TunnelEvery,
    WrongModel,
    OldProtocol
};
enum class Flow { Synchronisation, Download, PageEdit, LevelPoll, ModeCommand, KeyLearning, Exit };

const char* name(Fault f) {
    static const char* names[] = {"None",        "Silent",       "DspError",    "Erased",
                                  "DropEvery",   "GarbageEvery", "UnplugAfter", "ReadErrorAfter",
                                  "TunnelEvery", "WrongModel",   "OldProtocol"};
    return names[int(f)];
}
const char* name(Flow f) {
    static const char* names[] = {"Synchronisation", "Download",    "PageEdit", "LevelPoll",
                                  "ModeCommand",     "KeyLearning", "Exit"};
    return names[int(f)];
}

SimOptions optionsFor(Fault f) {
    SimOptions o{.latencyUs = 1000};
    switch (f) {
    case Fault::Silent:
        o.silent = true;
        break;
    case Fault::DspError:
        o.dspError = 0x21;
        break;
    case Fault::Erased:
        o.erased = true;
        break;
    case Fault::DropEvery:
        o.dropEvery = 5;
        break;
    case Fault::GarbageEvery:
        o.garbageEvery = 23;
        break;
    case Fault::TunnelEvery:
        o.tunnelEvery = 5;
        break;
    case Fault::WrongModel:
        o.model = "Q8";
        break;
    case Fault::OldProtocol:
        o.protocol = 10;
        break;
    default: // the unplug and the read error are armed when the flow starts
        break;
    }
    return o;
}

// The amplifier refuses to be ours: the start-up check closes the link.
bool refused(Fault f) {
    return f == Fault::Silent || f == Fault::WrongModel || f == Fault::OldProtocol;
}
// Faults after which the editor and the amplifier still talk normally.
bool talking(Fault f) {
    return !refused(f) && f != Fault::UnplugAfter;
}

struct Cell {
    Fault fault;
    Flow flow;
};

std::string cellName(const testing::TestParamInfo<Cell>& info) {
    return std::string(name(info.param.fault)) + "_" + name(info.param.flow);
}

std::vector<Cell> allCells() {
    std::vector<Cell> cells;
    for (int f = 0; f <= int(Fault::OldProtocol); ++f)
        for (int w = 0; w <= int(Flow::Exit); ++w)
            cells.push_back({Fault(f), Flow(w)});
    return cells;
}

class FaultMatrix : public testing::TestWithParam<Cell> {
protected:
    // Runs until no transfer, no synchronisation dialog and no reconnection attempt is left.
    static bool settle(EditorRig& rig, double ms = 600000) {
        return rig.runUntil(
            [&] {
                return !rig.view().syncDialog() && !rig.view().transferBusy() &&
                       !rig.editor->connection().link.closing();
            },
            ms);
    }
    static QString popup(EditorRig& rig) {
        CInfoDlg* info = rig.editor->infoPopup();
        return info && info->isVisible() ? info->text() : QString();
    }
    static QStringList toldTexts(EditorRig& rig) {
        QStringList out;
        for (const auto& b : rig.prompter.told)
            out << b.text;
        return out;
    }
    // Memory windows whose reply was lost keep what the store held before (its start layout);
    // the others are the amplifier's.
    static bool windowsAgreeOrWereLost(EditorRig& rig) {
        const BandImage image = rig.editor->store().bandImage();
        const BandImage before = ParameterStore().bandImage();
        const AmpSettings amp = rig.sim.current();
        int lost = 0;
        for (const MemWindow& w : parameterMemoryWindows()) {
            if (w.address >= image.size())
                continue;
            const std::size_t end = std::min<std::size_t>(w.address + w.length, image.size());
            const auto from = image.begin() + w.address;
            const auto to = image.begin() + std::ptrdiff_t(end);
            if (std::equal(from, to, amp.memory.begin() + w.address))
                continue;
            if (!std::equal(from, to, before.begin() + w.address))
                return false;
            ++lost;
        }
        return lost < 21;
    }
    static bool bandImageAgrees(EditorRig& rig) {
        const BandImage image = rig.editor->store().bandImage();
        const AmpSettings amp = rig.sim.current();
        return std::equal(image.begin(), image.end(), amp.memory.begin());
    }
};

TEST_P(FaultMatrix, EndsAndLeavesAKnownState) {
    const Cell cell = GetParam();
    const Fault fault = cell.fault;
    const Flow flow = cell.flow;
    EditorRig rig(optionsFor(fault));
    const AmpSettings factory = rig.sim.current();
    const bool duringStartUp = flow == Flow::Synchronisation;
    if (duringStartUp && fault == Fault::UnplugAfter)
        rig.sim.armUnplugAfter(60); // in the middle of the DSP reads
    if (duringStartUp && fault == Fault::ReadErrorAfter)
        rig.sim.armReadErrorAfter(60);

    // Start-up: connect and synchronise (or be refused).
    rig.run(3000);
    ASSERT_TRUE(settle(rig)) << "the start-up ends";
    if (refused(fault)) {
        // Told once why; the link is closed with CMD_CLOSE; the amplifier is untouched.
        const QString why =
            fault == Fault::OldProtocol
                ? QString::fromUtf8("机器与软件通信版本不匹配，请使用机器配套软件!")
            : fault == Fault::Silent
                ? QString::fromUtf8(checkFailureMessage(CheckResult::NoAnswer, false).c_str())
                : QString::fromUtf8("机器型号与软件不匹配!");
        EXPECT_EQ(toldTexts(rig), QStringList{why});
        EXPECT_FALSE(rig.editor->linkOpen());
        EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
        EXPECT_EQ(rig.sim.current(), factory);
    } else if (!(duringStartUp && fault == Fault::UnplugAfter)) {
        if (duringStartUp && fault == Fault::ReadErrorAfter) {
            // Told by balloon, reopened, synchronised again.
            ASSERT_TRUE(rig.connect());
        }
        EXPECT_TRUE(rig.editor->linkOpen());
        // Erased name slots keep the names the editor had: the defaults.
        EXPECT_EQ(rig.editor->connection().state.modeNames().get(1),
                  fault == Fault::Erased ? u"Mode2" : u"Cinema");
        if (fault == Fault::Erased) {
            EXPECT_EQ(rig.editor->store().bandImage(), BandImage{}) << "erased memory reads as 0";
        } else if (fault == Fault::DropEvery) {
            // Stopped at the guard's box: the amplifier is unknown until it gets everything.
            EXPECT_FALSE(rig.editor->edits().amplifierKnown());
            EXPECT_TRUE(windowsAgreeOrWereLost(rig) || !rig.editor->edits().amplifierKnown());
        } else if (fault != Fault::GarbageEvery) {
            EXPECT_TRUE(bandImageAgrees(rig)) << "the store holds the amplifier's memory";
        }
        if (fault == Fault::DspError) {
            ASSERT_EQ(rig.prompter.told.size(), 1u);
            EXPECT_EQ(rig.prompter.told[0].caption, "Error");
        } else if (fault == Fault::DropEvery) {
            // A fifth of the 183 requests wait out 2500 ms: longer than the dialog's guard.
            EXPECT_EQ(toldTexts(rig),
                      QStringList{QString::fromUtf8("发生错误，与设备数据同步超时……")});
        } else {
            EXPECT_TRUE(rig.prompter.told.empty()) << toldTexts(rig).join("|").toStdString();
        }
    }
    if (duringStartUp) {
        if (fault == Fault::UnplugAfter) {
            // Gone in the middle: the balloon says so, nothing is told in a box, no check ran.
            EXPECT_FALSE(rig.editor->linkOpen());
            EXPECT_EQ(rig.view().lastBalloon().value(1), QString::fromUtf8("设备已断开!"));
            EXPECT_TRUE(rig.prompter.told.empty());
            EXPECT_EQ(rig.sim.current(), factory) << "reads only";
            // Plugged in again, it connects and synchronises.
            rig.sim.plug();
            ASSERT_TRUE(rig.connect());
            EXPECT_TRUE(bandImageAgrees(rig));
        }
        if (fault == Fault::ReadErrorAfter) {
            EXPECT_TRUE(bandImageAgrees(rig));
        }
        return;
    }

    const int toldBefore = int(rig.prompter.told.size());
    // The unplug and the read error strike at the flow's first request.
    if (fault == Fault::UnplugAfter)
        rig.sim.armUnplugAfter(0);
    if (fault == Fault::ReadErrorAfter)
        rig.sim.armReadErrorAfter(0);
    const int requestsBefore = rig.sim.requestsSeen();
    const AmpSettings m2Before = rig.sim.userMode(1);
    ParameterStore& store = rig.editor->store();

    switch (flow) {
    case Flow::Download: {
        ParameterStore file;
        file.applyModeImage(store.modeImage());
        file.setCellInt(58, 42);
        file.setBand(4, 3, BandRecord::encode(1, 4.5, 123, 2.0));
        const QString path = rig.dir.filePath("party.q7M");
        ASSERT_TRUE(writeModeFile(path.toStdString(), file));
        rig.prompter.openPath = path;
        rig.clickRibbon(cmd::LoadFile);
        // Read from an erased amplifier, the plan and level blocks are clamped and listed first.
        if (auto* preview = rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog"))
            rig.click(preview->loadButton());
        ASSERT_TRUE(settle(rig));
        if (fault == Fault::DropEvery || fault == Fault::GarbageEvery) {
            // Stopped at the guard's box: the editor keeps the file, and the amplifier is
            // unknown until it has been sent everything again.
            EXPECT_EQ(store.cellInt(58), 42);
            EXPECT_FALSE(rig.editor->edits().amplifierKnown());
            EXPECT_TRUE(rig.editor->edits().holdsUnsent());
        } else if (talking(fault) && fault != Fault::ReadErrorAfter) {
            // The file is in the store and in the amplifier.
            EXPECT_EQ(store.cellInt(58), 42);
            EXPECT_EQ(rig.sim.dspValue(2, 15), std::vector<std::uint32_t>{floatBits(0.42f)});
            EXPECT_EQ(rig.sim.current().memory[406 + 21 + 3], 123);
        } else if (refused(fault)) {
            // No amplifier: the file waits for one, the amplifier is untouched.
            EXPECT_EQ(rig.sim.current(), factory);
        }
        break;
    }
    case Flow::PageEdit: {
        StepSlider* mic = rig.ribbon().slider(cmd::MicSlider);
        test::dragSliderTo(mic, 80);
        rig.run(500);
        ASSERT_TRUE(settle(rig));
        const int v = store.cellInt(26);
        EXPECT_NEAR(v, 80, 1) << "the store holds the edit in every case";
        if (talking(fault) && fault != Fault::ReadErrorAfter) {
            EXPECT_EQ(rig.sim.dspValue(1, 30), std::vector<std::uint32_t>{floatBits(v / 100.0f)})
                << "the amplifier holds what the store holds";
        }
        if (refused(fault)) {
            EXPECT_EQ(rig.sim.current(), factory);
        }
        break;
    }
    case Flow::LevelPoll: {
        rig.run(3000);
        const auto levels = store.levelReport();
        const bool moving = std::any_of(levels.begin(), levels.end(), [](auto b) { return b; });
        if (refused(fault) || fault == Fault::UnplugAfter) {
            EXPECT_FALSE(moving) << "no amplifier, no levels";
        } else if (fault != Fault::ReadErrorAfter && fault != Fault::GarbageEvery) {
            EXPECT_TRUE(moving);
        }
        break;
    }
    case Flow::ModeCommand: {
        rig.ribbon().action(cmd::SaveModeFirst + 1)->trigger(); // "Save to machine mode 2?" Yes
        rig.run(1000);
        ASSERT_TRUE(settle(rig));
        if (talking(fault) && fault != Fault::ReadErrorAfter) {
            EXPECT_EQ(rig.sim.userMode(1), rig.sim.current()) << "M2 holds the current settings";
        }
        if (refused(fault)) {
            EXPECT_EQ(rig.sim.userMode(1), m2Before);
            EXPECT_EQ(rig.sim.current(), factory);
            EXPECT_EQ(rig.sim.requestsSeen(), requestsBefore) << "nothing sent without a link";
        }
        break;
    }
    case Flow::KeyLearning: {
        rig.clickRibbon(cmd::IrLearning);
        CRemoteDlg* remote = rig.view().remoteDialog();
        if (refused(fault)) {
            // Without an amplifier the element does nothing.
            EXPECT_EQ(remote, nullptr);
            EXPECT_EQ(rig.sim.requestsSeen(), requestsBefore);
            break;
        }
        ASSERT_NE(remote, nullptr);
        rig.click(remote->hotArea(3));
        rig.run(2500);
        ASSERT_TRUE(settle(rig));
        if (talking(fault) && fault != Fault::ReadErrorAfter && fault != Fault::GarbageEvery) {
            EXPECT_EQ(store.keyTable()[3], rig.sim.keyTable()[3]);
            EXPECT_NE(store.keyTable()[3], 0) << "the learned code arrived";
        }
        break;
    }
    case Flow::Exit: {
        const bool open = rig.editor->linkOpen();
        rig.frame().show();
        EXPECT_TRUE(rig.frame().close());
        rig.run(100);
        ASSERT_TRUE(settle(rig, 10000)) << "the close ends";
        EXPECT_FALSE(rig.editor->linkOpen());
        if (open && fault != Fault::UnplugAfter && fault != Fault::ReadErrorAfter) {
            EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
        }
        if (!open) {
            EXPECT_EQ(rig.sim.requestsSeen(), requestsBefore) << "nothing to close";
        }
        break;
    }
    case Flow::Synchronisation:
        break;
    }

    // What the user was told by the flow.
    const QStringList told = toldTexts(rig).mid(toldBefore);
    // A download cut off half-way says that it did not finish.
    const QStringList unfinished =
        flow == Flow::Download ? QStringList{QString::fromUtf8(
                                     "下载未完成：机器中只有部分新设置。编辑器保留这些设置，页面显"
                                     "示的就是它们；机器下次连接时会询问是否重新发送。")}
                               : QStringList{};
    if (fault == Fault::UnplugAfter && flow != Flow::Exit) {
        EXPECT_FALSE(rig.editor->linkOpen()) << "gone";
        EXPECT_EQ(rig.view().lastBalloon().value(1), QString::fromUtf8("设备已断开!"));
        EXPECT_EQ(told, unfinished) << told.join("|").toStdString();
    } else if (fault == Fault::ReadErrorAfter && flow != Flow::Exit) {
        // The balloon said it, and the link is back with a fresh synchronisation (after a cut
        // download, the editor's settings are offered again and sent).
        ASSERT_TRUE(rig.connect());
        ASSERT_TRUE(settle(rig));
        EXPECT_TRUE(rig.editor->linkOpen());
        EXPECT_TRUE(bandImageAgrees(rig)) << "after the reconnection the store is the amplifier's";
        EXPECT_EQ(told, unfinished) << told.join("|").toStdString();
    } else if ((fault == Fault::DropEvery || fault == Fault::GarbageEvery) &&
               flow == Flow::Download) {
        // The download's many requests, a fifth (or a garbled 23rd, dropped unread) of them
        // unanswered, outlast the guard too; it stops there.
        EXPECT_EQ(told, QStringList{QString::fromUtf8("发生错误，与设备数据同步超时……") + "\n\n" +
                                    unfinished.value(0)});
    } else if (!refused(fault)) {
        EXPECT_TRUE(told.isEmpty()) << "no box: " << told.join("|").toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFaultEveryFlow, FaultMatrix, testing::ValuesIn(allCells()), cellName);

} // namespace
