// SPDX-License-Identifier: GPL-3.0-or-later
// The noise gate, auto-SUB and music AGC dialogs, driven as a person drives them.
#include "app/ribbon.h"
#include "controls/bmp_slider.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/dynamics_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

TEST(MusicAgc, EveryLevelReopensWhereItWasLeft) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::MusicAgc);
    CAutoMusicVolDlg* agc = rig.view().musicAgcDialog();
    ASSERT_NE(agc, nullptr);
    if (!agc->onBox()->isChecked())
        clickBox(agc->onBox());
    CXBmpSlider* slider = agc->levelSlider();
    EXPECT_EQ(dragBmpSlider(slider, -180), -180);
    std::vector<int> off;
    for (int p = -180; p <= -60; ++p) {
        while (slider->GetPos() < p)
            QTest::keyClick(slider, Qt::Key_Right);
        rig.clickRibbon(cmd::MusicAgc); // opening again reads the store
        ASSERT_EQ(rig.view().musicAgcDialog(), agc);
        if (slider->GetPos() != p)
            off.push_back(p);
        EXPECT_EQ(agc->levelLabel()->text(), QString::asprintf("%.1fdB", (p + 120) / 10.0));
    }
    EXPECT_EQ(off, std::vector<int>{});
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(4, 19), std::vector<std::uint32_t>{floatBits(-6.0f)});
}

TEST(NoiseGate, DraggedSlidersAndTheWheelOverTheDialog) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    rig.frame().activateWindow();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &rig.frame(),
                    Qt::Key_F6); // the noise gate's key
    CDialogNG* ng = rig.view().noiseGateDialog();
    ASSERT_NE(ng, nullptr);
    // Mic release dragged to 51 stores 50 and sends 5.0e-6.
    EXPECT_EQ(dragBmpSlider(ng->gateSlider(1), 51), 51);
    rig.run(10);
    EXPECT_EQ(s.cellInt(54), 50);
    EXPECT_EQ(rig.sim.dspValue(1, 65), std::vector<std::uint32_t>{floatBits(5.0e-6f)});
    EXPECT_EQ(ng->gateLabel(1)->text(), "51");
    // The wheel over the dialog's background turns the slider that has the focus.
    wheelOverBackground(ng, -1);
    EXPECT_EQ(ng->gateSlider(1)->GetPos(), 50);
    EXPECT_EQ(s.cellInt(54), 51);
    QTest::keyClick(ng, Qt::Key_Escape);
}

TEST(AutoSub, TheBoxEnablesTheSliderAndADragSendsTheProportion) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::AutoSub);
    CAutoSubDlg* sub = rig.view().autoSubDialog();
    ASSERT_NE(sub, nullptr);
    if (sub->onBox()->isChecked())
        clickBox(sub->onBox());
    EXPECT_FALSE(sub->levelSlider()->isEnabled());
    const int before = sub->levelSlider()->GetPos();
    dragBmpSlider(sub->levelSlider(), 10);
    EXPECT_EQ(sub->levelSlider()->GetPos(), before) << "off: the slider does not move";
    clickBox(sub->onBox());
    const int p = dragBmpSlider(sub->levelSlider(), 35);
    rig.run(10);
    EXPECT_NEAR(p, 35, 1);
    EXPECT_EQ(rig.sim.dspValue(1, 67), std::vector<std::uint32_t>{1});
    EXPECT_EQ(rig.editor->store().cellInt(56), p);
    EXPECT_EQ(rig.sim.dspValue(1, 68), std::vector<std::uint32_t>{floatBits(float(p / 100.0))});
    EXPECT_EQ(sub->levelLabel()->text(), QString::asprintf("%d%%", p));
}
