// The ribbon's master controls, through the editor against the simulated amplifier.
#include "ui/info_popup.h"
#include "editor_rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;
using q7::test::word;

namespace {

void move(EditorRig& rig, int id, int value) {
    StepSlider* s = rig.ribbon().slider(id);
    s->setValue(value);
    emit s->fired(id);
}

QString popup(EditorRig& rig) {
    CInfoDlg* info = rig.editor->infoPopup();
    return info && info->isVisible() ? info->text() : QString();
}

} // namespace

TEST(RibbonVolumes, MicAboveTheMaximumIsCutAndSentTwice) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    MachineSettings s = rig.editor->connection().state.currentSettings();
    s[3] = 80;
    rig.editor->connection().state.setReceivedSettings(s);
    rig.clearTrace();

    move(rig, cmd::MicSlider, 99);
    rig.run(10);
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 80);
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::MicSlider))->value(), 80);
    EXPECT_EQ(rig.editor->store().cellInt(26), 80);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], dspWriteRepeated(1, 30, floatBits(0.8f), 1));
    EXPECT_EQ(sent[1], dspWriteRepeated(1, 43, floatBits(0.8f), 1));
    EXPECT_EQ(popup(rig), QString::fromUtf8("不能超过最大话筒音量!"));
    EXPECT_EQ(rig.ribbon().button(cmd::MicLabel)->text(), QString::fromUtf8("话筒音量: 80"));
    EXPECT_EQ(rig.ribbon().button(Ribbon::twin(cmd::MicLabel))->text(),
              QString::fromUtf8("话筒音量: 80"));
}

TEST(RibbonVolumes, MutedVolumeStillSendsAndWarns) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.editor->view()->OnCommand(cmd::MicMute);
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().check(cmd::MicMute)->isChecked());
    EXPECT_TRUE(rig.ribbon().check(Ribbon::twin(cmd::MicMute))->isChecked());
    rig.clearTrace();
    // The Output twin acts when the Output category is active.
    rig.ribbon().setActiveCategory(kOutputCategory);
    move(rig, Ribbon::twin(cmd::MicSlider), 42);
    rig.run(10);
    EXPECT_EQ(rig.sent().front(), dspWriteRepeated(1, 30, floatBits(0.42f), 1));
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 42);
    EXPECT_EQ(popup(rig), "vol is mute");
    EXPECT_EQ(rig.ribbon().button(cmd::MicLabel)->text(), "Mic    Vol:  42");
}

TEST(RibbonVolumes, EffectNoiseGateAndMusicWrites) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    move(rig, cmd::EffectSlider, 35);
    move(rig, cmd::ReverbSlider, 20);
    move(rig, cmd::GateSlider, 7);
    rig.run(10);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], dspWriteRepeated(1, 32, floatBits(0.35f), 1));
    EXPECT_EQ(sent[1], dspWriteRepeated(1, 45, floatBits(0.35f), 1));
    EXPECT_EQ(sent[2], dspWriteRepeated(3, 26, floatBits(0.2f), 2));
    EXPECT_EQ(sent[3], dspWriteRepeated(4, 21, floatBits(float(7 / 10000.0)), 1));
    EXPECT_EQ(rig.editor->store().cellInt(89), 7);
}

TEST(RibbonPitch, SentAsIntegersWithThePanelName) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    move(rig, cmd::PitchSlider, -5);
    move(rig, cmd::PitchSlider, 5);
    rig.run(10);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], dspWriteRepeated(4, 20, 0, 1));
    EXPECT_EQ(sent[1], dspWriteRepeated(4, 20, 10, 1));
    EXPECT_EQ(rig.editor->store().cellInt(88), 5);
    EXPECT_EQ(rig.ribbon().panelCaption(kInputCategory, 5)->text(),
              QString::fromUtf8("音乐变调:  5"));
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::PitchSlider))->value(), 5);
}

TEST(RibbonMutes, MusicUnmuteFadesInOnVirtualTime) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    rig.editor->view()->OnCommand(cmd::MusicMute); // mute
    rig.run(10);
    auto lines = rig.sentLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].report, dspWriteRepeated(4, 16, 0, 2));
    rig.clearTrace();

    rig.editor->view()->OnCommand(Ribbon::twin(cmd::MusicMute)); // unmute, from the other twin
    rig.run(10);
    lines = rig.sentLines();
    ASSERT_EQ(lines.size(), 10u);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(word(lines[std::size_t(k)].report, 0), floatBits(float(k / 10.0))) << k;
        if (k) {
            EXPECT_NEAR(lines[std::size_t(k)].ms - lines[std::size_t(k) - 1].ms, 30.0, 0.01);
        }
    }
    EXPECT_EQ(lines[9].report, dspWriteRepeated(4, 16, floatBits(1.0f), 2));
    EXPECT_FALSE(rig.ribbon().check(cmd::MusicMute)->isChecked());
}

TEST(RibbonWheel, ANotchOverTheEffectPanelMovesBothTwins) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.ribbon().setActiveCategory(kOutputCategory);
    rig.frame().show();
    QApplication::processEvents();
    const int before = rig.ribbon().slider(cmd::EffectSlider)->value();
    QWidget* panel = rig.ribbon().panel(kOutputCategory, 1);
    const QPoint local = panel->rect().center();
    QWheelEvent wheel(local, panel->mapToGlobal(local), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(panel, &wheel);
    rig.run(10);
    EXPECT_EQ(rig.ribbon().slider(cmd::EffectSlider)->value(), before + 1);
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::EffectSlider))->value(), before + 1);
    EXPECT_EQ(rig.editor->store().cellInt(43), before + 1);
    EXPECT_EQ(rig.ribbon().activeCategory(), kOutputCategory) << "the wheel never switches";
}

TEST(RibbonStatus, ModePaneAndUsbPane) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.editor->setLanguageIndex(kEnglish);
    rig.editor->store().setCellInt(cell::CurrentMode, 2);
    rig.editor->view()->updateUi();
    EXPECT_EQ(rig.status().modePane()->text(), "Current Mode:Mode3[Mode3]");
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Disconnected");
    rig.editor->setLanguageIndex(kChinese);
    EXPECT_EQ(rig.status().modePane()->text(), QString::fromUtf8("当前模式:模式三[Mode3]"));
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：未连接"));
}

TEST(RibbonLanguage, SwitchRelabelsEverythingAndIsRemembered) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.ribbon().activeCategoryName(), QString::fromUtf8("输入控制"));
    rig.editor->view()->OnCommand(cmd::LanguageSwitch);
    EXPECT_EQ(rig.ribbon().activeCategoryName(), "Input");
    EXPECT_EQ(rig.ribbon().panelCaption(kOutputCategory, 6)->text(), "Load");
    EXPECT_EQ(rig.ribbon().check(cmd::EchoMute)->text(), "Mute");
    EXPECT_EQ(rig.ribbon().button(cmd::Source)->text(), "Music Source");
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Connected");
    EXPECT_EQ(rig.ribbon().action(cmd::LoadModeFirst + 1)->text(), "M2: Cinema");
    EXPECT_EQ(rig.profile->value("language").toInt(), 1);
    rig.editor->view()->OnCommand(cmd::LanguageSwitch);
    EXPECT_EQ(rig.ribbon().button(cmd::SaveFile)->text(), QString::fromUtf8("保存文件"));
    EXPECT_EQ(rig.profile->value("language").toInt(), 0);
}

TEST(RibbonPages, CategoryChangeAndTheMinimumPageSize) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
    rig.ribbon().setActiveCategory(kOutputCategory);
    ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Output);
    EXPECT_EQ(rig.view().currentPage()->bank(), 5);
    rig.view().OnCommand(cmd::ShowOutputSub);
    EXPECT_EQ(rig.view().currentPage()->bank(), 2);
    rig.ribbon().setActiveCategory(kInputCategory);
    rig.ribbon().setActiveCategory(kOutputCategory);
    EXPECT_EQ(rig.view().currentPage()->bank(), 2) << "the last output is remembered";

    rig.view().resize(700, 300);
    QApplication::processEvents();
    EXPECT_GE(rig.view().currentPage()->width(), 1024);
    EXPECT_GE(rig.view().currentPage()->height(), 520);
}

TEST(RibbonModes, LoadModeAsksOnlyWhenChanged) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    rig.view().OnCommand(cmd::LoadModeFirst); // M1, unchanged
    EXPECT_TRUE(rig.prompter.asked.empty());
    EXPECT_EQ(rig.sent().front(), shortCommand(CMD_MODE_RECALL, 0));
    ASSERT_TRUE(rig.connect());

    rig.editor->store().setParametersChanged(true);
    rig.prompter.answers = {Answer::No};
    rig.clearTrace();
    rig.view().OnCommand(cmd::LoadModeFirst + 2);
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_EQ(rig.prompter.asked[0].text, QString::fromUtf8("参数已更改，确定要直接载入模式三?"));
    EXPECT_TRUE(rig.sent().empty()) << "No stops it";

    rig.view().OnCommand(cmd::SaveModeFirst + 3); // Yes by default
    EXPECT_EQ(rig.prompter.asked.back().text, QString::fromUtf8("确定要保存至机器模式四?"));
    EXPECT_EQ(rig.sent().front(), shortCommand(CMD_MODE_STORE, 3));
    EXPECT_FALSE(rig.editor->store().parametersChanged());
    EXPECT_EQ(popup(rig), QString::fromUtf8("正在储存模式四,请稍等"));
}

TEST(RibbonTabBar, HdmiAndSourceChecksFollowTheAmplifier) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.view().OnCommand(cmd::HdmiFirst + 2);
    rig.view().OnCommand(cmd::SourceFirst + 4);
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().action(cmd::HdmiFirst + 2)->isChecked());
    EXPECT_FALSE(rig.ribbon().action(cmd::HdmiFirst)->isChecked());
    EXPECT_TRUE(rig.ribbon().action(cmd::SourceFirst + 4)->isChecked());
    const auto sent = rig.sent();
    EXPECT_EQ(sent[sent.size() - 2], shortCommand(CMD_SET_HDMI, 2));
    EXPECT_EQ(sent.back(), shortCommand(CMD_SET_SOURCE, 4));
}
