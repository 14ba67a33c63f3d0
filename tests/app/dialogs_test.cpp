// The noise gate, auto-SUB, music AGC, machine settings and IR learning dialogs against the
// simulated amplifier.
#include "ui/info_popup.h"
#include "app/ribbon.h"
#include "controls/bmp_slider.h"
#include "controls/image_button.h"
#include "device/reply.h"
#include "editor_rig.h"
#include "pages/dynamics_dialogs.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

void move(CXBmpSlider* s, int p) {
    s->SetPos(p);
    emit s->positionChanged(s->id(), p);
}

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

} // namespace

// ---- noise gate, auto-SUB, AGC ----

TEST(NoiseGateDialog, InvertedScaleOneAtATimeAndOnlyWhileConnected) {
    {
        EditorRig unplugged(SimOptions{.startUnplugged = true});
        unplugged.view().openNoiseGate();
        EXPECT_EQ(unplugged.view().noiseGateDialog(), nullptr);
    }
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->store().setCellInt(53, 1);
    rig.view().openNoiseGate();
    CDialogNG* ng = rig.view().noiseGateDialog();
    ASSERT_NE(ng, nullptr);
    EXPECT_EQ(ng->gateSlider(0)->GetPos(), 100);
    EXPECT_EQ(ng->gateLabel(0)->text(), "100");
    emit rig.view().noiseGateRequested();
    EXPECT_EQ(rig.view().noiseGateDialog(), ng) << "a second F6 opens nothing more";

    move(ng->gateSlider(0), 1);
    move(ng->gateSlider(1), 51);
    move(ng->gateSlider(3), 91);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(53), 100);
    EXPECT_EQ(rig.sim.dspValue(1, 64), std::vector<std::uint32_t>{floatBits(0.001f)});
    EXPECT_EQ(rig.editor->store().cellInt(54), 50);
    EXPECT_EQ(rig.sim.dspValue(1, 65), std::vector<std::uint32_t>{floatBits(5.0e-6f)});
    EXPECT_EQ(rig.sim.dspValue(4, 23), std::vector<std::uint32_t>{floatBits(1.0e-6f)});
    EXPECT_EQ(ng->gateLabel(1)->text(), "51");
    ng->reject();
    flushDeletes();
    EXPECT_EQ(rig.view().noiseGateDialog(), nullptr);
}

TEST(AutoDialogs, AutoSubAndAgcSendEnableAndAreForgottenWhenClosed) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.view().OnCommand(cmd::AutoSub);
    CAutoSubDlg* sub = rig.view().autoSubDialog();
    ASSERT_NE(sub, nullptr);
    if (!sub->onBox()->isChecked())
        sub->onBox()->click();
    move(sub->levelSlider(), 35);
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(1, 67), std::vector<std::uint32_t>{1});
    EXPECT_EQ(rig.sim.dspValue(1, 68), std::vector<std::uint32_t>{floatBits(0.35f)});
    EXPECT_EQ(sub->levelLabel()->text(), "35%");
    sub->onBox()->click();
    EXPECT_FALSE(sub->levelSlider()->isEnabled());
    EXPECT_FALSE(sub->levelCaption()->isEnabled());
    EXPECT_FALSE(sub->levelLabel()->isEnabled());
    rig.view().OnCommand(cmd::AutoSub);
    EXPECT_EQ(rig.view().autoSubDialog(), sub) << "one instance";
    QTest::keyClick(sub, Qt::Key_Return);
    EXPECT_TRUE(sub->isVisible()) << "Enter does nothing";
    sub->close();
    flushDeletes();
    EXPECT_EQ(rig.view().autoSubDialog(), nullptr);

    rig.view().OnCommand(cmd::MusicAgc);
    CAutoMusicVolDlg* agc = rig.view().musicAgcDialog();
    ASSERT_NE(agc, nullptr);
    EXPECT_EQ(agc->levelLabel()->text(), "0.0dB") << "-12 dB kept, shown 12 dB higher";
    agc->onBox()->setChecked(false);
    agc->onBox()->click();
    move(agc->levelSlider(), -120);
    move(agc->levelSlider(), -65);
    rig.run(10);
    EXPECT_FLOAT_EQ(rig.editor->store().cellFloat(172), -6.5f);
    EXPECT_EQ(rig.sim.dspValue(4, 19), std::vector<std::uint32_t>{floatBits(-6.5f)});
    EXPECT_EQ(agc->levelLabel()->text(), "5.5dB");
    agc->onBox()->click();
    EXPECT_FALSE(agc->levelSlider()->isEnabled());
    QTest::keyClick(agc->levelSlider(), Qt::Key_Right);
    EXPECT_EQ(agc->levelSlider()->GetPos(), -65) << "a disabled slider cannot move";
    EXPECT_EQ(rig.sim.dspValue(4, 18), std::vector<std::uint32_t>{0});
}

TEST(AutoDialogs, MusicAgcNeedsAProtocolAbove8) {
    EditorRig rig(SimOptions{.protocol = 8});
    ASSERT_TRUE(rig.runUntil([&] { return rig.editor->connection().state.protocol() == 8; }));
    rig.view().OnCommand(cmd::MusicAgc);
    EXPECT_EQ(rig.view().musicAgcDialog(), nullptr);
}

// ---- machine settings ----

TEST(MachineSettings, MaximumPullsTheStartDownAndApplySendsTheRecord) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    DeviceState& state = rig.editor->connection().state;
    state.setReceivedSettings({0, 60, 50, 99, 99, 0, 0, 7, 8, 2});
    rig.view().openMachineSettings();
    CSetDlg* d = rig.view().settingsDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->startSlider(0)->GetPos(), 60);
    EXPECT_EQ(d->powerOnMode()->currentIndex(), 2);

    rig.clearTrace();
    move(d->maxSlider(0), 40);
    rig.run(10);
    EXPECT_EQ(d->startSlider(0)->GetPos(), 40);
    EXPECT_EQ(d->startSlider(0)->maximum(), 40);
    EXPECT_EQ(state.editSettings()[1], 40);
    EXPECT_EQ(state.editSettings()[3], 40);
    EXPECT_EQ(rig.editor->store().cellInt(26), 40);
    EXPECT_EQ(rig.sim.dspValue(1, 30), std::vector<std::uint32_t>{floatBits(0.40f)});
    EXPECT_EQ(rig.sim.dspValue(1, 43), std::vector<std::uint32_t>{floatBits(0.40f)});

    d->startEnable(1)->click(); // music start volume off
    EXPECT_EQ(d->startLabel(1)->text(), "Invalid");
    EXPECT_FALSE(d->startSlider(1)->isEnabled());
    d->saveMode(1)->click();
    EXPECT_TRUE(ofCommand(rig.sent(), CMD_SET_SETTINGS).empty()) << "nothing before Apply";
    d->applyButton()->click();
    rig.run(10);
    const auto sent = ofCommand(rig.sent(), CMD_SET_SETTINGS);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[0].begin() + 2, sent[0].begin() + 12),
              (std::vector<std::uint8_t>{1, 40, 255, 40, 99, 0, 0, 7, 8, 2}));
    EXPECT_EQ(rig.sim.settings(), (MachineSettings{1, 40, 255, 40, 99, 0, 0, 7, 8, 2}));
    ASSERT_NE(rig.editor->infoPopup(), nullptr);
    EXPECT_EQ(rig.editor->infoPopup()->text(), "Setting valid");

    // The ribbon keeps the mic volume under the applied maximum.
    StepSlider* mic = rig.ribbon().slider(cmd::MicSlider);
    mic->setValue(70);
    rig.view().OnCommand(cmd::MicSlider);
    EXPECT_EQ(rig.editor->store().cellInt(26), 40);
}

TEST(MachineSettings, LockBitsPhasesAndClosingDiscardsEdits) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    DeviceState& state = rig.editor->connection().state;
    state.setReceivedSettings({0, 255, 255, 99, 99, 0, 0x00, 0, 0, 0});
    rig.view().openMachineSettings();
    CSetDlg* d = rig.view().settingsDialog();
    EXPECT_FALSE(d->lockVolume()->isEnabled());
    d->lockPanel()->click();
    EXPECT_TRUE(d->lockVolume()->isEnabled());
    d->lockVolume()->click();
    EXPECT_EQ(state.editSettings()[6], 0x83);
    d->lockVolume()->click();
    EXPECT_EQ(state.editSettings()[6], 0x00);
    d->lockVolume()->click();
    d->lockMode()->click();
    EXPECT_EQ(state.editSettings()[6], 0x93);

    // Phases act at once.
    rig.clearTrace();
    d->phase(1)->setChecked(false);
    d->phase(1)->click();
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(40), 0);
    EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(1, 54, 0, 1)}));

    // Closing without Apply sends nothing and forgets the edits.
    rig.clearTrace();
    d->cancelButton()->click();
    rig.run(10);
    flushDeletes();
    EXPECT_EQ(rig.view().settingsDialog(), nullptr);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(state.editSettings()[6], 0x00);
    rig.view().openMachineSettings();
    EXPECT_FALSE(rig.view().settingsDialog()->lockPanel()->isChecked());
}

TEST(MachineSettings, DefaultModeRestoresAndResynchronises) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.view().openMachineSettings();
    CSetDlg* d = rig.view().settingsDialog();
    rig.clearTrace();
    d->modeButton(2)->click();
    EXPECT_TRUE(rig.connect()) << "the synchronisation finishes";
    const auto sent = rig.sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), shortCommand(CMD_MODE_DEFAULT, 2));
    EXPECT_EQ(rig.editor->store().cellInt(25), 2);
    EXPECT_GT(sent.size(), 100u) << "followed by a full read";

    // Without an amplifier the buttons do nothing.
    rig.sim.unplug();
    EXPECT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }));
    rig.clearTrace();
    if (rig.view().settingsDialog())
        rig.view().settingsDialog()->modeButton(1)->click();
    rig.run(100);
    EXPECT_TRUE(rig.sent().empty());
}

// ---- IR learning ----

TEST(RemoteLearning, ALearnedCodeShowsThenTheDialogClosesItself) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.view().OnCommand(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    rig.clearTrace();
    QTest::mouseClick(remote->hotArea(7), Qt::LeftButton);
    CRemoteStudyDlg* study = rig.view().learningDialog();
    ASSERT_NE(study, nullptr);
    EXPECT_EQ(study->promptText()->text(), "Learning key: music vol+,increment music vol");
    EXPECT_EQ(rig.sent().front(), shortCommand(CMD_LEARN_KEY, 7));
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
    rig.view().OnCommand(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    rig.clearTrace();
    remote->keyClicked(16);
    EXPECT_TRUE(rig.sent().empty());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told.back().text, QString::fromUtf8("不支持该功能"));

    remote->keyClicked(3);
    CRemoteStudyDlg* study = rig.view().learningDialog();
    ASSERT_NE(study, nullptr);
    const double before = rig.clock.nowMs();
    QTest::keyClick(study, Qt::Key_Escape);
    EXPECT_LT(rig.clock.nowMs() - before, 100) << "the cancel did not wait for a reply";
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], shortCommand(CMD_LEARN_KEY, 3));
    EXPECT_EQ(sent[1], shortCommand(CMD_LEARN_CANCEL));
    rig.run(3000);
    EXPECT_EQ(rig.editor->store().keyTable()[3], 0) << "no code arrives after the cancel";
}

TEST(RemoteLearning, KeyFilesLoadSaveAndRefuseShortFiles) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.view().OnCommand(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ParameterStore& s = rig.editor->store();
    KeyTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = std::uint8_t(0x30 + i);
    s.setKeyTable(table);

    // Saved under the .remo name whatever extension was typed.
    rig.prompter.savePath = rig.dir.filePath("keys.txt");
    remote->saveFile();
    QFile saved(rig.dir.filePath("keys.remo"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray(reinterpret_cast<const char*>(table.data()), 16));
    EXPECT_FALSE(QFile::exists(rig.dir.filePath("keys.txt")));
    EXPECT_EQ(rig.editor->infoPopup()->text(), QString::fromUtf8("保存遥控文件成功"));

    // Loading replaces all 16 bytes, byte 0 included, and Apply sends exactly them.
    KeyTable other{};
    for (std::size_t i = 0; i < other.size(); ++i)
        other[i] = std::uint8_t(0xC0 + i);
    QFile f(rig.dir.filePath("other.remo"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(other.data()), 16);
    f.close();
    rig.prompter.openPath = rig.dir.filePath("other.txt");
    rig.clearTrace();
    remote->loadFile();
    EXPECT_EQ(s.keyTable(), other);
    remote->applyTable();
    rig.run(10);
    const auto sent = ofCommand(rig.sent(), CMD_SET_KEY_TABLE);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[1].begin() + 2, sent[1].begin() + 18),
              std::vector<std::uint8_t>(other.begin(), other.end()));
    EXPECT_EQ(rig.sim.keyTable(), other);

    // A short file is a failed load: warning, message, table unchanged, nothing sent.
    QFile shortFile(rig.dir.filePath("short.remo"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
    shortFile.write("\x01\x02\x03", 3);
    shortFile.close();
    rig.prompter.openPath = shortFile.fileName();
    rig.prompter.told.clear();
    rig.clearTrace();
    remote->loadFile();
    EXPECT_EQ(s.keyTable(), other);
    EXPECT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.editor->infoPopup()->text(), QString::fromUtf8("载入遥控文件失败"));
    EXPECT_TRUE(rig.sent().empty());

    // A name that cannot be created: the box with the error code, and the failure message.
    rig.prompter.savePath = rig.dir.filePath("missing/dir/keys.remo");
    remote->saveFile();
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told.back().caption, "Can't write to file");
    EXPECT_TRUE(rig.prompter.told.back().text.startsWith("Errcode="));
    EXPECT_EQ(rig.editor->infoPopup()->text(), QString::fromUtf8("保存遥控文件失败"));

    EXPECT_EQ(remoteFileName("a.b.txt"), "a.b.remo");
    EXPECT_EQ(remoteFileName("/x.y/keys"), "/x.y/keys.remo");
}
