// SPDX-License-Identifier: GPL-3.0-or-later
// The ribbon's master controls and menus, driven with the mouse and the wheel, through the
// editor against the simulated amplifier.
#include "controls/image_button.h"
#include "editor_rig.h"
#include "pages/music_page.h"
#include "pages/nav_row.h"
#include "pages/output_page.h"
#include "pages/remote_dialogs.h"
#include "real_input.h"
#include "ui/info_popup.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;
using q7::test::word;

namespace {

QString popup(EditorRig& rig) {
    CInfoDlg* info = rig.editor->infoPopup();
    return info && info->isVisible() ? info->text() : QString();
}

// Drags the slider of the active category in steps, as a hand does, and lets the writes go out.
void drag(EditorRig& rig, int baseId, int value) {
    StepSlider* s = rig.ribbon().slider(Ribbon::inCategory(baseId, rig.ribbon().activeCategory()));
    test::dragSliderTo(s, value);
    rig.run(10);
}

// What each step slider drives.
struct Master {
    int slider, label, cell;
    const char* prefix; // Chinese label prefix; 0 for the pitch, named in its panel caption
    struct Write {
        int module, parameter, count;
    } writes[2];
    int writeCount;
    double divisor; // 0: the pitch, sent as the integer p + 5
};
const Master kMasters[] = {
    {cmd::MicSlider, cmd::MicLabel, 26, "话筒音量:", {{1, 30, 1}, {1, 43, 1}}, 2, 100},
    {cmd::EffectSlider, cmd::EffectLabel, 43, "总效果音量:", {{1, 32, 1}, {1, 45, 1}}, 2, 100},
    {cmd::ReverbSlider, cmd::ReverbLabel, 83, "混响音量:  ", {{3, 26, 2}}, 1, 100},
    {cmd::EchoSlider, cmd::EchoLabel, 71, "回声音量:", {{2, 28, 2}}, 1, 100},
    {cmd::MusicSlider, cmd::MusicLabel, 85, "音乐音量:", {{4, 15, 2}}, 1, 100},
    {cmd::GateSlider, cmd::GateLabel, 89, "音乐噪声门:", {{4, 21, 1}}, 1, 10000},
    {cmd::PitchSlider, 0, 88, nullptr, {{4, 20, 1}}, 1, 0},
};

Report expectedWrite(const Master& m, int w, int value) {
    const auto& t = m.writes[w];
    const std::uint32_t bits =
        m.divisor == 0 ? std::uint32_t(value + 5) : floatBits(float(value / m.divisor));
    return dspWriteRepeated(t.module, t.parameter, bits, t.count);
}

} // namespace

TEST(RibbonSliders, DraggingEveryStepSliderMovesItAndSendsTheNewValue) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    // Targets below the simulated amplifier's maximum volumes, different in each category.
    const int targets[2][7] = {{75, 30, 55, 20, 70, 40, 3}, {45, 65, 25, 60, 35, 75, -2}};
    for (int category : {kInputCategory, kOutputCategory}) {
        rig.showCategory(category);
        ASSERT_EQ(rig.ribbon().activeCategory(), category);
        for (std::size_t i = 0; i < std::size(kMasters); ++i) {
            const Master& m = kMasters[i];
            const int id = Ribbon::inCategory(m.slider, category);
            SCOPED_TRACE(id);
            StepSlider* s = rig.ribbon().slider(id);
            const int start = s->value();
            ASSERT_GT(std::abs(start - targets[category][i]), 2);
            rig.clearTrace();
            drag(rig, m.slider, targets[category][i]);

            // 90 pixels hold 100 values: the hand lands on the value next to the one aimed at
            // at times.
            const int target = s->value();
            EXPECT_NEAR(target, targets[category][i], 1) << "the thumb follows the hand";
            EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(id))->value(), target);
            EXPECT_EQ(rig.editor->store().cellInt(m.cell), target);
            const auto sent = rig.sent();
            ASSERT_GE(sent.size(), std::size_t(m.writeCount));
            for (int w = 0; w < m.writeCount; ++w)
                EXPECT_EQ(sent[sent.size() - std::size_t(m.writeCount - w)],
                          expectedWrite(m, w, target));
            for (const Report& r : sent)
                EXPECT_NE(r, expectedWrite(m, 0, start)) << "the old value is never written back";
            if (m.prefix) {
                const QString label =
                    QString::fromUtf8(m.prefix) + QString::asprintf("%3d", target);
                EXPECT_EQ(rig.ribbon().button(Ribbon::inCategory(m.label, category))->text(),
                          label);
                EXPECT_EQ(rig.ribbon()
                              .button(Ribbon::twin(Ribbon::inCategory(m.label, category)))
                              ->text(),
                          label);
            } else {
                EXPECT_EQ(rig.ribbon().panelCaption(category, 5)->text(),
                          QString::fromUtf8("音乐变调:") + QString::asprintf("%3d", target));
            }
        }
    }
}

TEST(RibbonSliders, AClickOnTheTrackStepsOnceTowardsIt) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    StepSlider* mic = rig.ribbon().slider(cmd::MicSlider);
    const int start = mic->value();
    const QRect handle = test::sliderHandle(mic);
    rig.clearTrace();
    test::click(mic, QPoint(mic->width() - 3, handle.center().y()));
    rig.run(10);
    EXPECT_EQ(mic->value(), start + 1);
    test::click(mic, QPoint(2, handle.center().y()));
    rig.run(10); // a person's two clicks are apart
    test::click(mic, QPoint(2, handle.center().y()));
    rig.run(10);
    EXPECT_EQ(mic->value(), start - 1);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 6u) << "each click sends both mic parameters";
    EXPECT_EQ(sent[0], dspWriteRepeated(1, 30, floatBits(float((start + 1) / 100.0)), 1));
    EXPECT_EQ(sent[5], dspWriteRepeated(1, 43, floatBits(float((start - 1) / 100.0)), 1));
}

TEST(RibbonSliders, MicAboveTheMaximumIsCutAndSentTwice) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    MachineSettings s = rig.editor->connection().state.currentSettings();
    s[3] = 80;
    rig.editor->connection().state.setReceivedSettings(s);
    rig.clearTrace();

    drag(rig, cmd::MicSlider, 99);
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 80);
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::MicSlider))->value(), 80);
    EXPECT_EQ(rig.editor->store().cellInt(26), 80);
    const auto sent = rig.sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], dspWriteRepeated(1, 30, floatBits(0.8f), 1));
    EXPECT_EQ(sent.back(), dspWriteRepeated(1, 43, floatBits(0.8f), 1));
    for (const Report& r : sent)
        EXPECT_LE(word(r, 0), floatBits(0.8f)) << "nothing above the maximum goes out";
    EXPECT_EQ(popup(rig), QString::fromUtf8("不能超过最大话筒音量!"));
    EXPECT_EQ(rig.ribbon().button(cmd::MicLabel)->text(), QString::fromUtf8("话筒音量: 80"));
    EXPECT_EQ(rig.ribbon().button(Ribbon::twin(cmd::MicLabel))->text(),
              QString::fromUtf8("话筒音量: 80"));
}

TEST(RibbonSliders, MutedVolumeStillSendsAndWarns) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.click(rig.ribbon().check(cmd::MicMute));
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().check(cmd::MicMute)->isChecked());
    EXPECT_TRUE(rig.ribbon().check(Ribbon::twin(cmd::MicMute))->isChecked());
    EXPECT_EQ(rig.editor->store().cellInt(44), 1);
    rig.clearTrace();
    // The Output twin acts when the Output category is shown.
    rig.showCategory(kOutputCategory);
    drag(rig, cmd::MicSlider, 42);
    rig.settle();
    EXPECT_EQ(rig.sent()[rig.sent().size() - 2], dspWriteRepeated(1, 30, floatBits(0.42f), 1));
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 42);
    EXPECT_EQ(popup(rig), "vol is mute");
    EXPECT_EQ(rig.ribbon().button(cmd::MicLabel)->text(), "Mic    Vol:  42");
}

TEST(RibbonSliders, PitchEndsGoAsTheIntegersZeroAndTen) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    drag(rig, cmd::PitchSlider, -5);
    EXPECT_EQ(rig.lastSent(), dspWriteRepeated(4, 20, 0, 1));
    drag(rig, cmd::PitchSlider, 5);
    EXPECT_EQ(rig.lastSent(), dspWriteRepeated(4, 20, 10, 1));
    EXPECT_EQ(rig.editor->store().cellInt(88), 5);
    EXPECT_EQ(rig.sim.dspValue(4, 20), std::vector<std::uint32_t>{10});
    EXPECT_EQ(rig.ribbon().panelCaption(kInputCategory, 5)->text(),
              QString::fromUtf8("音乐变调:  5"));
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::PitchSlider))->value(), 5);
}

TEST(RibbonMutes, MusicUnmuteFadesInOnVirtualTime) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clearTrace();
    rig.click(rig.ribbon().check(cmd::MusicMute)); // mute
    rig.run(10);
    auto lines = rig.sentLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].report, dspWriteRepeated(4, 16, 0, 2));
    EXPECT_TRUE(rig.ribbon().check(cmd::MusicMute)->isChecked());
    rig.clearTrace();

    rig.showCategory(kOutputCategory);
    QCheckBox* twin = rig.ribbon().check(Ribbon::twin(cmd::MusicMute));
    EXPECT_TRUE(twin->isChecked());
    rig.click(twin); // unmute, from the other twin
    rig.settle();    // the fade's steps are timed on the link's writer
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
    EXPECT_FALSE(twin->isChecked());
}

TEST(RibbonWheel, NotchesOverAPanelOrThePitchMoveBothTwins) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.showCategory(kOutputCategory);
    const int before = rig.ribbon().slider(cmd::EffectSlider)->value();
    rig.clearTrace();
    // Over the panel's caption, not the slider: the whole panel takes the wheel.
    test::wheelOver(rig.ribbon().panelCaption(kOutputCategory, 1));
    rig.run(10);
    EXPECT_EQ(rig.ribbon().slider(cmd::EffectSlider)->value(), before + 1);
    EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::EffectSlider))->value(), before + 1);
    EXPECT_EQ(rig.editor->store().cellInt(43), before + 1);
    EXPECT_EQ(rig.lastSent(), dspWriteRepeated(1, 45, floatBits(float((before + 1) / 100.0)), 1));
    EXPECT_EQ(rig.ribbon().activeCategory(), kOutputCategory) << "the wheel never switches";

    const int pitch = rig.ribbon().slider(cmd::PitchSlider)->value();
    test::wheelOver(rig.ribbon().slider(Ribbon::twin(cmd::PitchSlider)), -1);
    rig.run(10);
    EXPECT_EQ(rig.ribbon().slider(cmd::PitchSlider)->value(), pitch - 1);
    EXPECT_EQ(rig.lastSent(), dspWriteRepeated(4, 20, std::uint32_t(pitch - 1 + 5), 1));

    // Over the tab bar the wheel does nothing, and the category stays.
    rig.clearTrace();
    test::wheelOver(rig.ribbon().tabBar(), 1);
    rig.run(10);
    EXPECT_EQ(rig.ribbon().activeCategory(), kOutputCategory);
    EXPECT_TRUE(rig.sent().empty());
}

TEST(RibbonStatus, ModePaneAndUsbPane) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.editor->store().setCellInt(cell::CurrentMode, 2);
    rig.clickRibbon(cmd::LanguageSwitch);
    EXPECT_EQ(rig.status().modePane()->text(), "Current Mode:Mode3[Mode3]");
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Disconnected");
    rig.clickRibbon(cmd::LanguageSwitch);
    EXPECT_EQ(rig.status().modePane()->text(), QString::fromUtf8("当前模式:模式三[Mode3]"));
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：未连接"));
}

TEST(RibbonStatus, TheBypassBoxShowsTheBankOnScreen) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* music = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(music, nullptr);
    QCheckBox* bypass = rig.status().bypass();
    rig.click(music->button(1068)); // CH A
    ASSERT_FALSE(bypass->isChecked());
    rig.click(bypass);
    rig.run(10);
    EXPECT_TRUE(bypass->isChecked());
    EXPECT_EQ(rig.editor->store().cellInt(31), 1);

    rig.click(music->button(1069)); // CH B, not bypassed
    EXPECT_FALSE(bypass->isChecked()) << "the box follows the bank shown";
    rig.clearTrace();
    rig.click(bypass);
    rig.run(10);
    EXPECT_TRUE(bypass->isChecked());
    EXPECT_EQ(rig.editor->store().cellInt(39), 1) << "CH B is the one bypassed";
    EXPECT_EQ(rig.editor->store().cellInt(31), 1) << "CH A is left as it was";
    EXPECT_EQ(rig.sent().size(), 1u);

    rig.click(music->button(1070)); // music
    EXPECT_FALSE(bypass->isChecked());
    rig.click(music->button(1068));
    EXPECT_TRUE(bypass->isChecked());
    rig.click(bypass);
    EXPECT_EQ(rig.editor->store().cellInt(31), 0);
    EXPECT_FALSE(bypass->isChecked());
}

TEST(RibbonLanguage, SwitchRelabelsEverythingAndIsRemembered) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.ribbon().activeCategoryName(), QString::fromUtf8("输入控制"));
    EXPECT_EQ(rig.ribbon().button(cmd::IrLearning)->text(), QString::fromUtf8("遥控学习"));
    rig.clickRibbon(cmd::LanguageSwitch);
    EXPECT_EQ(rig.ribbon().activeCategoryName(), "Input");
    EXPECT_EQ(rig.ribbon().panelCaption(kOutputCategory, 6)->text(), "Load");
    EXPECT_EQ(rig.ribbon().check(cmd::EchoMute)->text(), "Mute");
    EXPECT_EQ(rig.ribbon().button(cmd::Source)->text(), "Music Source");
    EXPECT_EQ(rig.ribbon().button(cmd::IrLearning)->text(), "Remote");
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Connected");
    EXPECT_EQ(rig.status().bypass()->text(), "Bypass");
    EXPECT_EQ(rig.ribbon().action(cmd::LoadModeFirst + 1)->text(), "M2: Cinema");
    rig.editor->flushSettings(); // the profile is written off the window's thread
    EXPECT_EQ(rig.profile->value("language").toInt(), 1);
    rig.clickRibbon(cmd::LanguageSwitch);
    EXPECT_EQ(rig.ribbon().button(cmd::SaveFile)->text(), QString::fromUtf8("保存文件"));
    rig.editor->flushSettings();
    EXPECT_EQ(rig.profile->value("language").toInt(), 0);
}

TEST(RibbonPages, CategoryChangeAndTheMinimumPageSize) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
    rig.showCategory(kOutputCategory);
    ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Output);
    EXPECT_EQ(rig.view().currentPage()->bank(), 5);
    auto* output = dynamic_cast<CDialogOutput*>(rig.view().currentPage());
    ASSERT_NE(output, nullptr);
    rig.click(output->nav()->button(1071)); // Sub
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.view().currentPage()->bank(), 2);
    rig.showCategory(kInputCategory);
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
    rig.showCategory(kOutputCategory);
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
    rig.ribbon().action(cmd::LoadModeFirst)->trigger(); // M1, unchanged
    EXPECT_TRUE(rig.prompter.asked.empty());
    rig.run(1);
    ASSERT_FALSE(rig.sent().empty());
    EXPECT_EQ(rig.firstSent(), shortCommand(CMD_MODE_RECALL, 0));
    ASSERT_TRUE(rig.connect());

    rig.editor->store().setParametersChanged(true);
    rig.prompter.answers = {Answer::No};
    rig.clearTrace();
    rig.ribbon().action(cmd::LoadModeFirst + 2)->trigger();
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_EQ(rig.prompter.asked[0].text, QString::fromUtf8("参数已更改，确定要直接载入模式三?"));
    EXPECT_TRUE(rig.sent().empty()) << "No stops it";

    rig.ribbon().action(cmd::SaveModeFirst + 3)->trigger(); // Yes by default
    EXPECT_EQ(rig.prompter.asked.back().text, QString::fromUtf8("确定要保存至机器模式四?"));
    rig.run(1);
    ASSERT_FALSE(rig.sent().empty());
    EXPECT_EQ(rig.firstSent(), shortCommand(CMD_MODE_STORE, 3));
    EXPECT_FALSE(rig.editor->store().parametersChanged());
    EXPECT_EQ(popup(rig), QString::fromUtf8("正在储存模式四,请稍等"));
    EXPECT_TRUE(rig.ribbon().action(cmd::LoadModeFirst + 3)->isChecked());
    EXPECT_EQ(rig.sim.currentMode(), 3);
}

TEST(RibbonModes, CheckMarksShowTheRealModeAfterADeclinedOrRefusedChoice) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto checked = [&](int first) {
        std::vector<int> on;
        for (int m = 0; m < 4; ++m)
            if (rig.ribbon().action(first + m)->isChecked())
                on.push_back(m);
        return on;
    };
    ASSERT_EQ(checked(cmd::LoadModeFirst), std::vector<int>{0});

    // Loading M3 over changed settings, answered No.
    rig.editor->store().setParametersChanged(true);
    rig.prompter.answers = {Answer::No};
    rig.ribbon().action(cmd::LoadModeFirst + 2)->trigger();
    EXPECT_EQ(checked(cmd::LoadModeFirst), std::vector<int>{0});
    // Saving to M2, answered No.
    rig.prompter.answers = {Answer::No};
    rig.ribbon().action(cmd::SaveModeFirst + 1)->trigger();
    EXPECT_EQ(checked(cmd::SaveModeFirst), std::vector<int>{0});
    // The current mode chosen again stays checked.
    rig.prompter.answers = {Answer::No};
    rig.ribbon().action(cmd::LoadModeFirst)->trigger();
    EXPECT_EQ(checked(cmd::LoadModeFirst), std::vector<int>{0});

    // A mode that is loaded is checked at once.
    rig.prompter.answers = {Answer::Yes};
    rig.ribbon().action(cmd::LoadModeFirst + 1)->trigger();
    EXPECT_EQ(checked(cmd::LoadModeFirst), std::vector<int>{1});
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.sim.currentMode(), 1);

    // Without an amplifier nothing is loaded and nothing is checked.
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.ribbon().action(cmd::LoadModeFirst + 3)->trigger();
    rig.ribbon().action(cmd::SaveModeFirst + 2)->trigger();
    EXPECT_EQ(checked(cmd::LoadModeFirst), std::vector<int>{1});
    EXPECT_EQ(checked(cmd::SaveModeFirst), std::vector<int>{1});
}

TEST(RibbonModes, PresetChecksFollowWhatWasLoaded) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.ribbon().action(cmd::PresetFirst + 4)->trigger();
    EXPECT_TRUE(rig.ribbon().action(cmd::PresetFirst + 4)->isChecked())
        << "opened for editing without an amplifier";
    EXPECT_TRUE(rig.sent().empty());
    rig.prompter.answers = {Answer::No, Answer::No}; // the amplifier's settings, not saved
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.ribbon().action(cmd::PresetFirst + 2)->trigger();
    ASSERT_TRUE(rig.connect());
    EXPECT_TRUE(rig.ribbon().action(cmd::PresetFirst + 2)->isChecked());
    rig.ribbon().action(cmd::PresetFirst + 2)->trigger(); // chosen again: still the one
    EXPECT_TRUE(rig.ribbon().action(cmd::PresetFirst + 2)->isChecked());
    ASSERT_TRUE(rig.connect());
    for (int p = 0; p < 15; ++p)
        EXPECT_EQ(rig.ribbon().action(cmd::PresetFirst + p)->isChecked(), p == 2) << p;
}

TEST(RibbonTabBar, HdmiAndSourceChecksFollowTheAmplifier) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.ribbon().action(cmd::HdmiFirst + 2)->trigger();
    rig.ribbon().action(cmd::SourceFirst + 4)->trigger();
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().action(cmd::HdmiFirst + 2)->isChecked());
    EXPECT_FALSE(rig.ribbon().action(cmd::HdmiFirst)->isChecked());
    EXPECT_TRUE(rig.ribbon().action(cmd::SourceFirst + 4)->isChecked());
    const auto sent = rig.sent();
    EXPECT_EQ(sent[sent.size() - 2], shortCommand(CMD_SET_HDMI, 2));
    EXPECT_EQ(sent.back(), shortCommand(CMD_SET_SOURCE, 4));
    rig.ribbon().action(cmd::SourceFirst + 4)->trigger(); // again: stays checked
    EXPECT_TRUE(rig.ribbon().action(cmd::SourceFirst + 4)->isChecked());
}

TEST(RibbonRemote, TheRemoteElementOpensTheLearningDialogOnlyWhileConnected) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    QToolButton* remote = rig.ribbon().button(cmd::IrLearning);
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(remote->isVisible()) << "in the Input category";
    EXPECT_FALSE(remote->icon().isNull());
    rig.click(remote);
    EXPECT_EQ(rig.view().remoteDialog(), nullptr) << "nothing without an amplifier";

    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.click(remote);
    CRemoteDlg* dialog = rig.view().remoteDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    rig.click(remote);
    EXPECT_EQ(rig.view().remoteDialog(), dialog) << "one instance";

    rig.showCategory(kOutputCategory);
    EXPECT_FALSE(remote->isVisible()) << "only the Input category carries it";
}
