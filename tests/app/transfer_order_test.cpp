// SPDX-License-Identifier: GPL-3.0-or-later
// One transfer at a time on the wire, and transfers that fail or time out said as such: a file
// handed over during a synchronisation, a download cut off half-way, the timeout box, closing
// with work still waiting, and a lossy soak of edits, loads and A/B switches. On virtual time,
// through the editor's own controls.
#include "editor_rig.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "real_input.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <random>

using namespace q7;
using q7::test::EditorRig;

namespace {

int threadCount() {
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A finished worker's thread leaves the process a moment after it says it has ended, so the
// count is waited for; threads that pile up never go.
bool threadsAtMost(int count) {
    QDeadlineTimer deadline(10000);
    while (threadCount() > count) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::yieldCurrentThread();
    }
    return true;
}

bool settle(EditorRig& rig, double ms = 600000) {
    return rig.runUntil(
        [&] {
            return !rig.view().syncDialog() && !rig.view().transferBusy() &&
                   !rig.editor->connection().link.closing();
        },
        ms);
}

// A mode file of the store's settings with the echo level and one band changed.
QString writeFile(EditorRig& rig, const QString& name, int echo, int frequency) {
    ParameterStore file;
    file.applyModeImage(rig.editor->store().modeImage());
    test::withinRanges(file); // the store may still hold the start settings
    file.setCellInt(58, echo);
    file.setBand(4, 3, BandRecord::encode(1, 4.5, frequency, 2.0));
    const QString path = rig.dir.filePath(name);
    EXPECT_TRUE(writeModeFile(path.toStdString(), file));
    return path;
}

QStringList toldSince(EditorRig& rig, std::size_t from) {
    QStringList out;
    for (std::size_t i = from; i < rig.prompter.told.size(); ++i)
        out << rig.prompter.told[i].text;
    return out;
}

bool bandImageAgrees(EditorRig& rig) {
    const BandImage image = rig.editor->store().bandImage();
    const AmpSettings amp = rig.sim.current();
    return std::equal(image.begin(), image.end(), amp.memory.begin());
}

// The file's echo level and band are in the store and in the amplifier.
void expectFileEverywhere(EditorRig& rig, int echo, int frequency) {
    EXPECT_EQ(rig.editor->store().cellInt(58), echo);
    EXPECT_EQ(rig.sim.dspValue(2, 15), std::vector<std::uint32_t>{floatBits(echo / 100.0f)});
    EXPECT_EQ(rig.sim.current().memory[406 + 21 + 3], frequency);
    EXPECT_TRUE(bandImageAgrees(rig));
}

std::size_t indexOf(const std::vector<Report>& sent, std::uint8_t code, bool last) {
    std::size_t found = sent.size();
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (sent[i][1] == code) {
            found = i;
            if (!last)
                break;
        }
    return found;
}

TEST(OneTransferAtATime, AFileHandedOverDuringASynchronisationIsLoadedAfterIt) {
    EditorRig rig(SimOptions{.latencyUs = 1000});
    const QString path = writeFile(rig, "party.q7M", 42, 123);
    // The start-up synchronisation is still in its first wait when a second instance hands
    // the file over.
    rig.run(1000);
    ASSERT_TRUE(rig.editor->connection().session.workerRunning());
    EXPECT_TRUE(rig.editor->shellOpen(path));
    EXPECT_EQ(rig.view().waitingWork().size(), 1);
    ASSERT_TRUE(settle(rig));
    // Every read of the synchronisation went out before the first write of the download.
    const std::vector<Report> sent = rig.sent();
    const std::size_t lastRead = indexOf(sent, CMD_GET_SETTINGS, true);
    const std::size_t firstWrite = indexOf(sent, CMD_DSP_WRITE, false);
    ASSERT_LT(lastRead, sent.size());
    ASSERT_LT(firstWrite, sent.size());
    EXPECT_LT(lastRead, firstWrite);
    EXPECT_LT(indexOf(sent, CMD_MEM_READ, true), indexOf(sent, CMD_MEM_WRITE, false));
    expectFileEverywhere(rig, 42, 123);
    EXPECT_TRUE(rig.editor->edits().amplifierKnown());
    EXPECT_TRUE(rig.prompter.told.empty());
}

TEST(OneTransferAtATime, AModeCommandDuringADownloadWaitsForIt) {
    EditorRig rig(SimOptions{.latencyUs = 1000});
    ASSERT_TRUE(rig.connect());
    const QString path = writeFile(rig, "party.q7M", 42, 123);
    rig.prompter.openPath = path;
    rig.clickRibbon(cmd::LoadFile);
    ASSERT_TRUE(rig.editor->connection().session.workerRunning());
    // "Save to machine mode 2?" Yes: it stores once the download has finished.
    rig.ribbon().action(cmd::SaveModeFirst + 1)->trigger();
    ASSERT_TRUE(settle(rig));
    rig.run(1000);
    expectFileEverywhere(rig, 42, 123);
    EXPECT_EQ(rig.sim.userMode(1), rig.sim.current()) << "M2 holds the whole file";
}

class FailedDownload : public testing::TestWithParam<bool> {};

TEST_P(FailedDownload, IsToldAndTheNextConnectionOffersToSendAgain) {
    const bool english = GetParam();
    EditorRig rig(SimOptions{.latencyUs = 1000},
                  [&](EditorOptions& o) { o.locale = english ? "en_US" : "zh_CN"; });
    ASSERT_TRUE(rig.connect());
    const QString path = writeFile(rig, "party.q7M", 42, 123);
    rig.sim.armReadErrorAfter(40); // the link breaks in the middle of the download
    rig.prompter.openPath = path;
    const std::size_t told = rig.prompter.told.size();
    // Seen inside the box: the pages already show what the editor holds.
    int shownEcho = -1;
    rig.prompter.whileOpen = [&] { shownEcho = rig.editor->store().cellInt(58); };
    rig.clickRibbon(cmd::LoadFile);
    ASSERT_TRUE(settle(rig));
    ASSERT_TRUE(rig.connect()) << "reconnected after the read error";
    ASSERT_TRUE(settle(rig));
    const QStringList said = toldSince(rig, told);
    ASSERT_EQ(said.size(), 1) << said.join("|").toStdString();
    EXPECT_TRUE(said[0].startsWith(english ? "The download did not finish"
                                           : QString::fromUtf8("下载未完成")))
        << said[0].toStdString();
    EXPECT_EQ(shownEcho, 42);
    // The reconnection asked whether to send the editor's settings, and Yes sent them whole.
    bool offered = false;
    for (const auto& a : rig.prompter.asked)
        offered |= a.text.contains(english ? "Yes: send the editor's settings to the amplifier."
                                           : QString::fromUtf8("选“是”：把编辑器的设置发送到功放"));
    EXPECT_TRUE(offered);
    expectFileEverywhere(rig, 42, 123);
    EXPECT_TRUE(rig.editor->edits().amplifierKnown());
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, FailedDownload, testing::Bool());

TEST(TransferTimeout, NothingOfTheTransferGoesOutAfterTheBox) {
    // Every fifth reply is lost: a synchronisation and a download outlast the 30 s guard.
    EditorRig rig(SimOptions{.latencyUs = 1000, .dropEvery = 5});
    std::size_t atBox = 0;
    rig.prompter.whileOpen = [&] { atBox = rig.sentLines().size(); };
    rig.run(3000);
    ASSERT_TRUE(settle(rig));
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    ASSERT_GT(atBox, 0u);
    rig.run(20000);
    EXPECT_EQ(rig.sentLines().size(), atBox) << "the synchronisation stopped at the box";
    EXPECT_FALSE(rig.editor->edits().amplifierKnown());

    const QString path = writeFile(rig, "party.q7M", 42, 123);
    rig.prompter.openPath = path;
    rig.prompter.whileOpen = [&] { atBox = rig.sentLines().size(); };
    rig.clickRibbon(cmd::LoadFile);
    ASSERT_TRUE(settle(rig));
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told[1].text.contains(QString::fromUtf8("下载未完成")));
    rig.run(20000);
    EXPECT_EQ(rig.sentLines().size(), atBox) << "the download stopped at the box";
    EXPECT_EQ(rig.editor->store().cellInt(58), 42) << "the editor keeps the file";
    EXPECT_FALSE(rig.editor->edits().amplifierKnown());
    EXPECT_TRUE(rig.editor->edits().holdsUnsent());
}

TEST(ClosingWithWaitingWork, SaysWhatWillNotBeSent) {
    EditorRig rig(SimOptions{.latencyUs = 1000});
    const QString path = writeFile(rig, "party.q7M", 42, 123);
    rig.run(1000); // the start-up synchronisation runs
    ASSERT_TRUE(rig.editor->shellOpen(path));
    rig.frame().show();
    rig.prompter.answers = {Answer::No};
    EXPECT_FALSE(rig.frame().close()) << "No keeps the editor open";
    ASSERT_FALSE(rig.prompter.asked.empty());
    EXPECT_TRUE(rig.prompter.asked.back().text.contains("party.q7M"))
        << rig.prompter.asked.back().text.toStdString();
    EXPECT_EQ(rig.view().waitingWork().size(), 1);
    rig.prompter.answers = {Answer::Yes};
    EXPECT_TRUE(rig.frame().close());
    rig.run(5000);
    EXPECT_FALSE(rig.editor->linkOpen());
    EXPECT_TRUE(rig.view().waitingWork().isEmpty());
    EXPECT_NE(rig.sim.dspValue(2, 15), std::vector<std::uint32_t>{floatBits(0.42f)})
        << "the file was not sent";
}

// Edits, loads and A/B switches on a link that loses and garbles replies. After every step the
// editor's controls, the file it would save and the amplifier agree, or the editor has said
// that the amplifier does not hold its settings; the threads stay as many as at the start.
TEST(LossySoak, EveryStepAgreesOrIsSaidAndNoThreadsPileUp) {
    EditorRig rig(SimOptions{.latencyUs = 1000, .dropEvery = 37, .garbageEvery = 53});
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(settle(rig));
    const int threads = threadCount();
    std::mt19937 random(21);
    const QString files[] = {writeFile(rig, "a.q7M", 30, 200), writeFile(rig, "b.q7M", 55, 900)};
    for (int step = 0; step < 14; ++step) {
        const std::size_t told = rig.prompter.told.size();
        const int what = int(random() % 3);
        if (what == 0) {
            test::dragSliderTo(rig.ribbon().slider(cmd::MicSlider), 60 + int(random() % 30));
            rig.run(500);
        } else if (what == 1) {
            rig.prompter.openPath = files[random() % 2];
            rig.clickRibbon(cmd::LoadFile);
        } else {
            rig.click(rig.ribbon().slotButton(
                kInputCategory, rig.editor->edits().activeSlot() == 0 ? cmd::SlotB : cmd::SlotA));
        }
        ASSERT_TRUE(settle(rig)) << "step " << step;
        rig.settle();
        ParameterStore& store = rig.editor->store();
        // The editor shows the store, and the file it would write is the store's.
        EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), store.cellInt(26)) << step;
        const QString saved = rig.dir.filePath("saved.q7M");
        ASSERT_TRUE(writeModeFile(saved.toStdString(), store));
        ParameterStore reread;
        ASSERT_TRUE(readModeFile(saved.toStdString(), reread));
        EXPECT_TRUE(differences(settingsOf(reread), settingsOf(store)).empty()) << step;
        const bool agree = bandImageAgrees(rig) &&
                           rig.sim.dspValue(1, 30) ==
                               std::vector<std::uint32_t>{floatBits(store.cellInt(26) / 100.0f)};
        const bool said = !toldSince(rig, told).isEmpty() || !rig.editor->edits().amplifierKnown();
        EXPECT_TRUE(agree || said) << "step " << step << " (" << what << ")";
        EXPECT_TRUE(threadsAtMost(threads))
            << threadCount() << " threads, " << threads << " at the start; step " << step;
    }
}

} // namespace
