// SPDX-License-Identifier: GPL-3.0-or-later
// The noise gate, auto-SUB, music AGC, machine settings and IR learning dialogs, opened and
// driven as the user does, against the simulated amplifier.
#include "app/ribbon.h"
#include "controls/bmp_slider.h"
#include "controls/image_button.h"
#include "device/reply.h"
#include "editor_rig.h"
#include "pages/dynamics_dialogs.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "real_input.h"
#include "ui/control_id.h"
#include "ui/info_popup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::vector<Report> ofCommand(const std::vector<Report>& sent, std::uint8_t command) {
    std::vector<Report> out;
    for (const Report& r : sent)
        if (r[1] == command)
            out.push_back(r);
    return out;
}

QString popup(EditorRig& rig) {
    CInfoDlg* info = rig.editor->infoPopup();
    return info && info->isVisible() ? info->text() : QString();
}

// Every notice the popup shows: others (a removal) may stand beside the one a test looks for.
QStringList notices(EditorRig& rig) {
    CInfoDlg* info = rig.editor->infoPopup();
    return info && info->isVisible() ? info->texts() : QStringList();
}

// Where the thumb's middle is, and the pixel column that stands for a position (the one nearest
// to it when no pixel does).
QPoint thumbCentre(CXBmpSlider* s) {
    return QPoint(int(std::lround(s->thumbOffset(s->GetPos()) + s->thumbSize().width() / 2.0)),
                  s->height() / 2);
}
QPoint pointFor(CXBmpSlider* s, int position) {
    int best = 0, bestMiss = 1 << 30;
    for (int x = 0; x < s->width(); ++x) {
        const int miss = std::abs(s->positionAt(x) - position);
        if (miss < bestMiss)
            best = x, bestMiss = miss;
    }
    return QPoint(best, s->height() / 2);
}

// Grabs the thumb and drags it to a position in steps.
void dragTo(CXBmpSlider* s, int position) {
    test::drag(s, thumbCentre(s), pointFor(s, position));
}

// The dialog's button with a control id.
QAbstractButton* buttonOf(QWidget* dialog, int id) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (controlId(b) == id)
            return b;
    return nullptr;
}

// A function key as the user presses it over the main window.
void press(EditorRig& rig, Qt::Key key) {
    rig.frame().activateWindow();
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &rig.frame();
    QTest::keyClick(target, key);
}

} // namespace

// ---- noise gate, auto-SUB, AGC ----

TEST(NoiseGateDialog, InvertedScaleOneAtATimeAndOnlyWhileConnected) {
    {
        EditorRig unplugged(SimOptions{.startUnplugged = true});
        press(unplugged, Qt::Key_F6);
        EXPECT_EQ(unplugged.view().noiseGateDialog(), nullptr);
    }
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->store().setCellInt(53, 1);
    press(rig, Qt::Key_F6);
    CDialogNG* ng = rig.view().noiseGateDialog();
    ASSERT_NE(ng, nullptr);
    EXPECT_EQ(ng->gateSlider(0)->GetPos(), 100);
    EXPECT_EQ(ng->gateLabel(0)->text(), "100");
    press(rig, Qt::Key_F6);
    EXPECT_EQ(rig.view().noiseGateDialog(), ng) << "a second F6 opens nothing more";

    dragTo(ng->gateSlider(0), 1);
    dragTo(ng->gateSlider(1), 51);
    // The music release by keys and by the wheel.
    CXBmpSlider* release = ng->gateSlider(3);
    dragTo(release, 88);
    QTest::keyClick(release, Qt::Key_Right);
    test::wheelOver(release);
    test::wheelOver(release);
    rig.run(10);
    EXPECT_EQ(ng->gateSlider(0)->GetPos(), 1);
    EXPECT_EQ(rig.editor->store().cellInt(53), 100);
    EXPECT_EQ(rig.sim.dspValue(1, 64), std::vector<std::uint32_t>{floatBits(0.001f)});
    EXPECT_EQ(rig.editor->store().cellInt(54), 50);
    EXPECT_EQ(rig.sim.dspValue(1, 65), std::vector<std::uint32_t>{floatBits(5.0e-6f)});
    EXPECT_EQ(release->GetPos(), 91);
    EXPECT_EQ(rig.editor->store().cellInt(91), 10);
    EXPECT_EQ(rig.sim.dspValue(4, 23), std::vector<std::uint32_t>{floatBits(1.0e-6f)});
    EXPECT_EQ(ng->gateLabel(1)->text(), "51");
    EXPECT_EQ(ng->gateLabel(3)->text(), "91");
    rig.click(buttonOf(ng, 2)); // Cancel only closes
    flushDeletes();
    EXPECT_EQ(rig.view().noiseGateDialog(), nullptr);
    EXPECT_EQ(rig.editor->store().cellInt(53), 100) << "Cancel undoes nothing";
}

TEST(AutoDialogs, AutoSubAndAgcSendEnableAndAreForgottenWhenClosed) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::AutoSub);
    CAutoSubDlg* sub = rig.view().autoSubDialog();
    ASSERT_NE(sub, nullptr);
    if (!sub->onBox()->isChecked())
        rig.click(sub->onBox());
    ASSERT_TRUE(sub->onBox()->isChecked());
    dragTo(sub->levelSlider(), 35);
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(1, 67), std::vector<std::uint32_t>{1});
    EXPECT_EQ(rig.sim.dspValue(1, 68), std::vector<std::uint32_t>{floatBits(0.35f)});
    EXPECT_EQ(sub->levelLabel()->text(), "35%");
    rig.click(sub->onBox());
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(1, 67), std::vector<std::uint32_t>{0});
    EXPECT_FALSE(sub->levelSlider()->isEnabled());
    EXPECT_FALSE(sub->levelCaption()->isEnabled());
    EXPECT_FALSE(sub->levelLabel()->isEnabled());
    dragTo(sub->levelSlider(), 80);
    EXPECT_EQ(sub->levelSlider()->GetPos(), 35) << "a disabled slider does not follow";
    rig.clickRibbon(cmd::AutoSub);
    EXPECT_EQ(rig.view().autoSubDialog(), sub) << "one instance";
    QTest::keyClick(sub, Qt::Key_Return);
    EXPECT_TRUE(sub->isVisible()) << "Enter does nothing";
    QTest::keyClick(sub, Qt::Key_Escape);
    flushDeletes();
    EXPECT_EQ(rig.view().autoSubDialog(), nullptr);

    rig.clickRibbon(cmd::MusicAgc);
    CAutoMusicVolDlg* agc = rig.view().musicAgcDialog();
    ASSERT_NE(agc, nullptr);
    EXPECT_EQ(agc->levelLabel()->text(), "0.0dB") << "-12 dB kept, shown 12 dB higher";
    if (!agc->onBox()->isChecked())
        rig.click(agc->onBox());
    dragTo(agc->levelSlider(), -120);
    dragTo(agc->levelSlider(), -66);
    QTest::keyClick(agc->levelSlider(), Qt::Key_Up);
    rig.run(10);
    EXPECT_FLOAT_EQ(rig.editor->store().cellFloat(172), -6.5f);
    EXPECT_EQ(rig.sim.dspValue(4, 19), std::vector<std::uint32_t>{floatBits(-6.5f)});
    EXPECT_EQ(rig.sim.dspValue(4, 18), std::vector<std::uint32_t>{1});
    EXPECT_EQ(agc->levelLabel()->text(), "5.5dB");
    rig.click(agc->onBox());
    EXPECT_FALSE(agc->levelSlider()->isEnabled());
    QTest::keyClick(agc->levelSlider(), Qt::Key_Right);
    test::wheelOver(agc->levelSlider(), -1);
    EXPECT_EQ(agc->levelSlider()->GetPos(), -65) << "a disabled slider cannot move";
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(4, 18), std::vector<std::uint32_t>{0});
}

TEST(AutoDialogs, MusicAgcNeedsAProtocolAbove8) {
    EditorRig rig(SimOptions{.protocol = 8});
    ASSERT_TRUE(rig.runUntil([&] { return rig.editor->connection().state.protocol() == 8; }));
    rig.clickRibbon(cmd::MusicAgc);
    EXPECT_EQ(rig.view().musicAgcDialog(), nullptr);
}

// ---- machine settings ----

TEST(MachineSettings, MaximumPullsTheStartDownAndApplySendsTheRecord) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    DeviceState& state = rig.editor->connection().state;
    state.setReceivedSettings({0, 60, 50, 99, 99, 0, 0, 7, 8, 2});
    press(rig, Qt::Key_F7);
    CSetDlg* d = rig.view().settingsDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->startSlider(0)->GetPos(), 60);
    EXPECT_EQ(d->powerOnMode()->currentIndex(), 2);

    rig.clearTrace();
    dragTo(d->maxSlider(0), 40);
    rig.run(10);
    EXPECT_EQ(d->maxLabel(0)->text(), "40");
    EXPECT_EQ(d->startSlider(0)->GetPos(), 40);
    EXPECT_EQ(d->startSlider(0)->maximum(), 40);
    EXPECT_EQ(state.editSettings()[1], 40);
    EXPECT_EQ(state.editSettings()[3], 40);
    EXPECT_EQ(rig.editor->store().cellInt(26), 40);
    EXPECT_EQ(rig.sim.dspValue(1, 30), std::vector<std::uint32_t>{floatBits(0.40f)});
    EXPECT_EQ(rig.sim.dspValue(1, 43), std::vector<std::uint32_t>{floatBits(0.40f)});
    // The live volume shows on the ribbon as well.
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 40);
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::MicSlider))->value(), 40);
    EXPECT_EQ(rig.ribbon().button(cmd::MicLabel)->text(), "Mic    Vol:  40");

    // The music start volume heard while it is set, on the ribbon too.
    dragTo(d->startSlider(1), 30);
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(4, 15),
              (std::vector<std::uint32_t>{floatBits(0.30f), floatBits(0.30f)}));
    EXPECT_EQ(rig.ribbon().slider(cmd::MusicSlider)->value(), 30);
    EXPECT_EQ(rig.ribbon().button(Ribbon::twin(cmd::MusicLabel))->text(), "Music Vol: 30");

    rig.click(d->startEnable(1)); // music start volume off
    EXPECT_EQ(d->startLabel(1)->text(), "Invalid");
    EXPECT_FALSE(d->startSlider(1)->isEnabled());
    rig.click(d->saveMode(1));
    d->powerOnMode()->setFocus();
    QTest::keyClick(d->powerOnMode(), Qt::Key_Down);
    EXPECT_EQ(d->powerOnMode()->currentIndex(), 3);
    EXPECT_TRUE(ofCommand(rig.sent(), CMD_SET_SETTINGS).empty()) << "nothing before Apply";
    rig.click(d->applyButton());
    rig.run(10);
    const auto sent = ofCommand(rig.sent(), CMD_SET_SETTINGS);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[0].begin() + 2, sent[0].begin() + 12),
              (std::vector<std::uint8_t>{1, 40, 255, 40, 99, 0, 0, 7, 8, 3}));
    EXPECT_EQ(rig.sim.settings(), (MachineSettings{1, 40, 255, 40, 99, 0, 0, 7, 8, 3}));
    EXPECT_EQ(popup(rig), "Setting valid");

    // The ribbon keeps the mic volume under the applied maximum.
    test::dragSliderTo(rig.ribbon().slider(cmd::MicSlider), 70);
    EXPECT_EQ(rig.editor->store().cellInt(26), 40);
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 40);
}

TEST(MachineSettings, ApplyWithoutAnAmplifierSaysSoAndChangesNothing) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    DeviceState& state = rig.editor->connection().state;
    const MachineSettings received{0, 60, 50, 99, 99, 0, 0, 7, 8, 2};
    state.setReceivedSettings(received);
    press(rig, Qt::Key_F7);
    CSetDlg* d = rig.view().settingsDialog();
    ASSERT_NE(d, nullptr);
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.clearTrace();
    rig.click(d->lockPanel());
    rig.click(d->applyButton());
    rig.run(10);
    EXPECT_TRUE(notices(rig).contains(QString::fromUtf8("请先连接设备!")))
        << notices(rig).join('|').toStdString();
    EXPECT_EQ(state.currentSettings(), received) << "nothing was applied";
    EXPECT_EQ(state.editSettings()[5], 1) << "the edit is kept for a later Apply";
    EXPECT_TRUE(rig.sent().empty());

    rig.clickRibbon(cmd::LanguageSwitch);
    rig.click(d->applyButton());
    EXPECT_TRUE(notices(rig).contains("Please connect device!"))
        << notices(rig).join('|').toStdString();

    // Once the amplifier is back, the same Apply goes through.
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.view().settingsDialog() == nullptr) << "an arrival closes the dialog";
}

TEST(MachineSettings, LockBitsPhasesAndClosingDiscardsEdits) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    DeviceState& state = rig.editor->connection().state;
    state.setReceivedSettings({0, 255, 255, 99, 99, 0, 0x00, 0, 0, 0});
    press(rig, Qt::Key_F7);
    CSetDlg* d = rig.view().settingsDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->lockVolume()->isEnabled());
    rig.click(d->lockVolume());
    EXPECT_EQ(state.editSettings()[6], 0x00) << "disabled until the panel is locked";
    rig.click(d->lockPanel());
    EXPECT_TRUE(d->lockVolume()->isEnabled());
    rig.click(d->lockVolume());
    EXPECT_EQ(state.editSettings()[6], 0x83);
    rig.click(d->lockVolume());
    EXPECT_EQ(state.editSettings()[6], 0x00);
    rig.click(d->lockVolume());
    rig.click(d->lockMode());
    EXPECT_EQ(state.editSettings()[6], 0x93);

    // Phases act at once.
    rig.clearTrace();
    ASSERT_FALSE(d->phase(1)->isChecked());
    rig.click(d->phase(1));
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(40), 0);
    EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(1, 54, 0, 1)}));

    // Closing without Apply sends nothing and forgets the edits.
    rig.clearTrace();
    rig.click(d->cancelButton());
    rig.run(10);
    flushDeletes();
    EXPECT_EQ(rig.view().settingsDialog(), nullptr);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(state.editSettings()[6], 0x00);
    press(rig, Qt::Key_F7);
    ASSERT_NE(rig.view().settingsDialog(), nullptr);
    EXPECT_FALSE(rig.view().settingsDialog()->lockPanel()->isChecked());
}

TEST(MachineSettings, DefaultModeAsksFirstThenRestoresAndResynchronises) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    press(rig, Qt::Key_F7);
    CSetDlg* d = rig.view().settingsDialog();
    ASSERT_NE(d, nullptr);
    const auto storedMode = rig.sim.userMode(2);

    // Answered No: the stored mode is left alone.
    rig.prompter.answers = {Answer::No};
    rig.clearTrace();
    rig.click(d->modeButton(2));
    rig.run(100);
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_TRUE(rig.prompter.asked[0].defaultNo) << "No unless the user says Yes";
    EXPECT_EQ(rig.prompter.asked[0].text,
              "Restore machine mode 3 to its factory settings?\nThe settings stored in that mode "
              "will be overwritten.");
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(rig.sim.userMode(2), storedMode);
    EXPECT_FALSE(d->modeButton(2)->isCurrent());

    rig.prompter.answers = {Answer::Yes};
    rig.click(d->modeButton(2));
    EXPECT_TRUE(rig.connect()) << "the synchronisation finishes";
    const auto sent = rig.sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), shortCommand(CMD_MODE_DEFAULT, 2));
    EXPECT_EQ(rig.editor->store().cellInt(25), 2);
    EXPECT_EQ(rig.sim.currentMode(), 2);
    EXPECT_TRUE(rig.ribbon().action(cmd::LoadModeFirst + 2)->isChecked());
    EXPECT_GT(sent.size(), 100u) << "followed by a full read";

    // Without an amplifier the buttons do nothing and ask nothing.
    rig.sim.unplug();
    EXPECT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }));
    rig.clearTrace();
    if (rig.view().settingsDialog())
        rig.click(rig.view().settingsDialog()->modeButton(1));
    rig.run(100);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(rig.prompter.asked.size(), 2u);
}

// ---- IR learning ----

TEST(RemoteLearning, ALearnedCodeShowsThenTheDialogClosesItself) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    rig.clearTrace();
    rig.click(remote->hotArea(7));
    CRemoteStudyDlg* study = rig.view().learningDialog();
    ASSERT_NE(study, nullptr);
    EXPECT_EQ(study->promptText()->text(), "Learning key: music vol+,increment music vol");
    EXPECT_EQ(study->statusLine()->text(), "Press the matching key on your remote control now.")
        << "the English dialog tells the user what to do";
    // The window's writes go out on the link's writer thread: wait for it to hand this one over.
    ASSERT_TRUE(rig.runUntil([&] { return !rig.sent().empty(); }, 1000));
    EXPECT_EQ(rig.firstSent(), shortCommand(CMD_LEARN_KEY, 7));
    EXPECT_FALSE(rig.view().levelPollRunning()) << "the poll rests while a key is learned";

    ASSERT_TRUE(rig.runUntil([&] { return study->learned(); }, 5000));
    EXPECT_EQ(study->codeField()->text(), QString::asprintf("%02X", rig.sim.keyTable()[7]));
    EXPECT_EQ(rig.editor->store().keyTable()[7], rig.sim.keyTable()[7]);
    EXPECT_TRUE(study->cancelButton()->isHidden());
    EXPECT_FALSE(study->closeButton()->isHidden());
    EXPECT_EQ(study->statusLine()->text(), "Window will be closed!");
    QPointer<CRemoteStudyDlg> guard(study);
    rig.run(1010);
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(rig.view().learningDialog(), nullptr);
    EXPECT_TRUE(rig.view().levelPollRunning());

    // Codes are shown in two hex digits; a key number outside the table changes nothing.
    CRemoteStudyDlg shown(*rig.editor, "", nullptr);
    shown.codeLearned(0x0A);
    EXPECT_EQ(shown.codeField()->text(), "0A");
    const KeyTable before = rig.editor->store().keyTable();
    Report bad{};
    bad[0] = 0x55;
    bad[1] = RPL_KEY_LEARNED;
    bad[2] = 0x11;
    bad[3] = 16;
    bad[4] = 0x77;
    ReplyHandler(rig.editor->store(), rig.editor->connection().state).HandleReply(bad);
    EXPECT_EQ(rig.editor->store().keyTable(), before);
}

TEST(RemoteLearning, CancelReleasesTheWaitAndUnsupportedKeysSendNothing) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    rig.clearTrace();
    rig.click(remote->hotArea(16));
    EXPECT_TRUE(rig.sent().empty());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told.back().text, QString::fromUtf8("不支持该功能"));

    rig.click(remote->hotArea(3));
    rig.run(10);
    CRemoteStudyDlg* study = rig.view().learningDialog();
    ASSERT_NE(study, nullptr);
    EXPECT_EQ(study->statusLine()->text(), QString::fromUtf8("等待遥控器按键……"));
    const double before = rig.clock.nowMs();
    QTest::keyClick(study, Qt::Key_Escape);
    rig.run(10);
    EXPECT_LT(rig.clock.nowMs() - before, 100) << "the cancel did not wait for a reply";
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], shortCommand(CMD_LEARN_KEY, 3));
    EXPECT_EQ(sent[1], shortCommand(CMD_LEARN_CANCEL));
    rig.run(3000);
    EXPECT_EQ(rig.editor->store().keyTable()[3], 0) << "no code arrives after the cancel";

    // With the amplifier gone a key starts nothing that would wait for ever.
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    flushDeletes();
    rig.clearTrace();
    rig.click(remote->hotArea(5));
    EXPECT_EQ(rig.view().learningDialog(), nullptr);
    EXPECT_EQ(popup(rig), QString::fromUtf8("请先连接设备!"));
    EXPECT_TRUE(rig.sent().empty());
}

TEST(RemoteLearning, KeyFilesLoadSaveAndRefuseUnreadableFiles) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    ParameterStore& s = rig.editor->store();
    KeyTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = std::uint8_t(0x30 + i);
    s.setKeyTable(table);

    // Saved under the .remo name whatever extension was typed.
    rig.prompter.savePath = rig.dir.filePath("keys.txt");
    rig.click(remote->saveButton());
    QFile saved(rig.dir.filePath("keys.remo"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray(reinterpret_cast<const char*>(table.data()), 16));
    EXPECT_FALSE(QFile::exists(rig.dir.filePath("keys.txt")));
    EXPECT_EQ(popup(rig), QString::fromUtf8("保存遥控文件成功"));
    EXPECT_TRUE(rig.prompter.asked.empty()) << "a table with codes is saved without a question";

    // Loading replaces all 16 bytes, byte 0 included, and Apply sends exactly them.
    KeyTable other{};
    for (std::size_t i = 0; i < other.size(); ++i)
        other[i] = std::uint8_t(0xC0 + i);
    // The file chosen is the file loaded, whatever its extension (not a .remo beside it).
    QFile f(rig.dir.filePath("other.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(other.data()), 16);
    f.close();
    QFile decoy(rig.dir.filePath("other.remo"));
    ASSERT_TRUE(decoy.open(QIODevice::WriteOnly));
    decoy.write(QByteArray(16, '\x11'));
    decoy.close();
    rig.prompter.openPath = rig.dir.filePath("other.bin");
    rig.clearTrace();
    rig.click(remote->loadButton());
    EXPECT_EQ(s.keyTable(), other);
    EXPECT_EQ(popup(rig), QString::fromUtf8("载入遥控文件成功"));
    rig.run(10); // the user reads the notice before pressing Apply
    rig.click(remote->applyButton());
    rig.run(10);
    const auto sent = ofCommand(rig.sent(), CMD_SET_KEY_TABLE);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[1].begin() + 2, sent[1].begin() + 18),
              std::vector<std::uint8_t>(other.begin(), other.end()));
    EXPECT_EQ(rig.sim.keyTable(), other);
    EXPECT_EQ(popup(rig), QString::fromUtf8("遥控器键码保存成功!"));

    // A file that cannot be read is a failed load: warning, message, table unchanged, nothing
    // sent; in English the notices are English. (A short file loads what it holds.)
    rig.clickRibbon(cmd::LanguageSwitch);
    const QString gone = rig.dir.filePath("gone.remo");
    rig.prompter.openPath = gone;
    rig.prompter.told.clear();
    rig.clearTrace();
    rig.click(remote->loadButton());
    EXPECT_EQ(s.keyTable(), other);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Loading the remote key file failed");
    EXPECT_EQ(rig.prompter.told[0].text, "Can't read the file:\n" + gone);
    EXPECT_EQ(popup(rig), "Loading the remote key file failed");
    EXPECT_TRUE(rig.sent().empty());

    // A name that cannot be created: the box with the reason, and the failure message.
    rig.prompter.savePath = rig.dir.filePath("missing/dir/keys.remo");
    rig.click(remote->saveButton());
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told.back().caption, "Can't write to file");
    EXPECT_TRUE(rig.prompter.told.back().text.contains("the folder does not exist"))
        << rig.prompter.told.back().text.toStdString();
    EXPECT_EQ(popup(rig), "Saving the remote key file failed");
    rig.prompter.savePath = rig.dir.filePath("again.remo");
    rig.click(remote->saveButton());
    EXPECT_EQ(popup(rig), "Remote key file saved");

    EXPECT_EQ(remoteFileName("a.b.txt"), "a.b.remo");
    EXPECT_EQ(remoteFileName("/x.y/keys"), "/x.y/keys.remo");
}

// A new amplifier arrives while a box is open over the remote dialog: the dialog must not be
// closed (and deleted) under the box; it closes once the box has been answered.
TEST(RemoteLearning, ANewAmplifierWaitsForTheOpenBoxBeforeClosingTheDialog) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::IrLearning);
    QPointer<CRemoteDlg> remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    bool stillThere = false;
    rig.prompter.answers = {Answer::No, Answer::No};
    rig.prompter.whileOpen = [&] {
        rig.sim.unplug();
        rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000);
        rig.sim.plug();
        rig.runUntil([&] { return rig.editor->linkOpen(); }, 5000);
        rig.run(500);
        flushDeletes();
        stillThere = !remote.isNull() && remote->isVisible();
    };
    rig.click(remote->applyButton()); // asks about the unknown keys
    EXPECT_TRUE(stillThere) << "not closed while its box was open";
    ASSERT_TRUE(rig.connect());
    flushDeletes();
    EXPECT_TRUE(remote.isNull()) << "closed once the box was answered";
}

TEST(RemoteLearning, AnEmptyTableIsSentOrSavedOnlyWhenTheUserSaysSo) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    const KeyTable learned = rig.sim.keyTable();
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    ASSERT_EQ(rig.editor->store().keyTable(), KeyTable{}) << "nothing learned or loaded yet";

    // Apply: No to sending unknown keys, No to loading a key file first; Save: No.
    rig.prompter.answers = {Answer::No, Answer::No, Answer::No};
    rig.prompter.savePath = rig.dir.filePath("empty.remo");
    rig.clearTrace();
    rig.click(remote->applyButton());
    rig.click(remote->saveButton());
    rig.run(10);
    ASSERT_EQ(rig.prompter.asked.size(), 3u);
    EXPECT_TRUE(rig.prompter.asked[0].defaultNo);
    EXPECT_TRUE(rig.prompter.asked[2].defaultNo);
    EXPECT_TRUE(rig.prompter.openFilters.empty()) << "no key file was asked for after No";
    EXPECT_TRUE(rig.sent().empty()) << "the amplifier keeps the keys it has learned";
    EXPECT_EQ(rig.sim.keyTable(), learned);
    EXPECT_FALSE(QFile::exists(rig.prompter.savePath));
    EXPECT_TRUE(rig.prompter.saveFilters.empty()) << "no file dialog after No";
    EXPECT_NE(popup(rig), QString::fromUtf8("遥控器键码保存成功!"));

    rig.prompter.answers = {Answer::Yes, Answer::Yes};
    rig.click(remote->applyButton());
    rig.click(remote->saveButton());
    rig.run(10);
    EXPECT_EQ(rig.sim.keyTable(), KeyTable{});
    EXPECT_EQ(QFile(rig.prompter.savePath).size(), 16);
}

// The amplifier cannot report its key table: Apply names the keys the editor never learned nor
// loaded, asks with No as the default, and offers a key file first.
TEST(RemoteLearning, ApplyNamesTheUnknownKeysAndOffersAKeyFileFirst) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(remote->knownKeysText()->text().startsWith("No key's code is known yet"))
        << remote->knownKeysText()->text().toStdString();

    rig.click(remote->hotArea(7));
    ASSERT_NE(rig.view().learningDialog(), nullptr);
    ASSERT_TRUE(rig.runUntil([&] { return rig.view().learningDialog() == nullptr; }, 10000));
    EXPECT_TRUE(remote->knownKeysText()->text().startsWith("Known (learned or loaded): MUSIC+."))
        << remote->knownKeysText()->text().toStdString();

    KeyTable file{};
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = std::uint8_t(0x50 + i);
    QFile f(rig.dir.filePath("all keys.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(file.data()), 16);
    f.close();
    rig.prompter.openPath = f.fileName();
    rig.prompter.answers = {Answer::No, Answer::Yes};
    rig.clearTrace();
    rig.click(remote->applyButton());
    rig.run(10);
    ASSERT_EQ(rig.prompter.asked.size(), 2u);
    const auto& question = rig.prompter.asked[0];
    EXPECT_TRUE(question.defaultNo);
    EXPECT_TRUE(question.text.contains("14 keys")) << question.text.toStdString();
    EXPECT_TRUE(question.text.contains("M1, M2, M3, M4, MIC+, MIC-, MUSIC-"))
        << question.text.toStdString();
    EXPECT_FALSE(question.text.contains("MUSIC+"));
    EXPECT_EQ(rig.prompter.asked[1].text, "Load a key file first?");
    // Only the loaded file's table went out, never the one with 00 for unknown keys.
    const auto sent = ofCommand(rig.sent(), CMD_SET_KEY_TABLE);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(rig.sim.keyTable(), file);
    EXPECT_TRUE(remote->knownKeysText()->text().startsWith("The codes of all 15 keys are known"));

    // Every key known: Apply asks nothing.
    rig.run(1200);
    rig.click(remote->applyButton());
    rig.run(10);
    EXPECT_EQ(rig.prompter.asked.size(), 2u);
    EXPECT_EQ(ofCommand(rig.sent(), CMD_SET_KEY_TABLE).size(), 2u);
    EXPECT_EQ(popup(rig), "Save successed !");
}

// A key file shorter than 16 bytes is said to be short, with the keys it holds; the table goes
// to the amplifier only if the user lets the other keys be erased.
TEST(RemoteLearning, AShortKeyFileNamesTheKeysItHolds) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    QFile f(rig.dir.filePath("short.remo"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x01\x21\x22\x23", 4));
    f.close();
    rig.prompter.openPath = f.fileName();
    rig.prompter.answers = {Answer::No};
    rig.clearTrace();
    rig.click(remote->loadButton());
    rig.run(10);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    const QString said = rig.prompter.told[0].text;
    EXPECT_TRUE(said.contains("short: 4 bytes of 16")) << said.toStdString();
    EXPECT_TRUE(said.contains("3 of the 15 keys (M1, M2, M3)")) << said.toStdString();
    EXPECT_EQ(rig.editor->store().keyTable()[3], 0x23);
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_TRUE(rig.prompter.asked[0].text.contains("12 keys"));
    EXPECT_TRUE(ofCommand(rig.sent(), CMD_SET_KEY_TABLE).empty());
    EXPECT_EQ(popup(rig), "The key table was not sent");
}

// Saving a key file the way a user does, onto a full disk, a read-only file and a link: the old
// file is kept and the box says why in the chosen language, never "saved".
TEST(RemoteLearning, AKeyFileThatCannotBeWrittenKeepsTheOldOneAndSaysWhy) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    KeyTable table{};
    table.fill(0x42);
    rig.editor->store().setKeyTable(table);
    const QByteArray old(16, '\x07');
    const QString path = rig.dir.filePath("keys.remo");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(old);
    f.close();
    auto contents = [](const QString& p) {
        QFile in(p);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };

    rig.editor->files().failWritesWith(ENOSPC);
    rig.prompter.savePath = path;
    rig.click(remote->saveButton());
    EXPECT_EQ(contents(path), old);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Can't write to file"); // the same in both languages
    EXPECT_TRUE(rig.prompter.told[0].text.contains(QString::fromUtf8("磁盘已满")))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_EQ(popup(rig), QString::fromUtf8("保存遥控文件失败"));

    rig.editor->files().failWritesWith(0);
    rig.clickRibbon(cmd::LanguageSwitch);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    rig.run(1200);
    rig.click(remote->saveButton());
    EXPECT_EQ(contents(path), old);
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told[1].text.contains("the file is read-only"));
    EXPECT_EQ(popup(rig), "Saving the remote key file failed");

    // Through a link: the target is written and keeps its mode, the link stays a link.
    const QString target = rig.dir.filePath("real.remo"), link = rig.dir.filePath("link.remo");
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write(old);
    t.close();
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(QFile::link(target, link));
    rig.prompter.savePath = link;
    rig.run(1200);
    rig.click(remote->saveButton());
    EXPECT_EQ(popup(rig), "Remote key file saved");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(target), QByteArray(16, '\x42'));
    EXPECT_EQ(QFile::permissions(target) & QFileDevice::Permissions(0x7077),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// The amplifier's DSP error under the English interface is said in English too.
TEST(RemoteLearning, TheDspErrorBoxSpeaksEnglishUnderTheEnglishInterface) {
    EditorRig rig(SimOptions{.dspError = 0x21}, [](EditorOptions& o) { o.locale = "en_US"; });
    ASSERT_TRUE(rig.connect());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Error");
    const QString text = rig.prompter.told[0].text;
    EXPECT_TRUE(text.startsWith("The amplifier refused a parameter: error code 0x21"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("参数错误,代码0x:21")));
}

TEST(RemoteLearning, ApplyWithoutAnAmplifierSaysSo) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    KeyTable table{};
    table[1] = 0x42;
    rig.editor->store().setKeyTable(table);
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.clearTrace();
    rig.click(remote->applyButton());
    EXPECT_EQ(popup(rig), QString::fromUtf8("请先连接设备!"));
    rig.click(remote->loadButton());
    EXPECT_EQ(popup(rig), QString::fromUtf8("请先连接机器再进行此操作!"));
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.click(remote->applyButton());
    EXPECT_EQ(popup(rig), "Please connect device!");
    rig.click(remote->saveButton());
    EXPECT_EQ(popup(rig), "Please connect the amplifier first!");
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_TRUE(rig.prompter.asked.empty());
}
