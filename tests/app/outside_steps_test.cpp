// SPDX-License-Identifier: GPL-3.0-or-later
// Steps made away from the page on screen (a room tuning, undo and redo, a phone) show on it at
// once, and the page's own controls go on from the new values, never from what they showed.
#include "app/remote_access_host.h"
#include "controls/bmp_slider.h"
#include "controls/image_button.h"
#include "controls/up_down.h"
#include "editor_rig.h"
#include "eq/eq_bank.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/compressor_page.h"
#include "pages/delay_page.h"
#include "pages/location_page.h"
#include "pages/output_page.h"
#include "params/edit_path.h"
#include "params/param_names.h"

#include <QLabel>
#include <QLineEdit>
#include <cmath>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

// One step of several values from outside the page, as a room tuning's Apply makes it.
void outsideStep(EditorRig& rig, const std::function<void(Dsp&)>& f) {
    rig.editor->edits().edit(
        [&](Dsp& d) {
            f(d);
            return true;
        },
        StepName{"房间调校", "Room tuning"});
    rig.run(10);
}

float delayOf(EditorRig& rig, DelayChannel c) {
    return rig.editor->store().cellFloat(delayChannelInfo(c).delayCell);
}

// Samples of delay the amplifier holds for a channel.
std::uint32_t samplesOf(EditorRig& rig, DelayChannel c) {
    const DelayChannelInfo& d = delayChannelInfo(c);
    const auto words = rig.sim.dspValue(d.module, d.delayParameter);
    return words.empty() ? 0 : words[0];
}

} // namespace

TEST(OutsideSteps, TheDelayPageShowsThemAndItsSpinsStepFromThem) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* page = rig.showPage<CDelayDlg>(PageKind::Delay);
    ASSERT_NE(page, nullptr);
    constexpr int kRearL = int(DelayChannel::RearL), kCenter = int(DelayChannel::Center);
    outsideStep(rig, [](Dsp& d) {
        d.sendDelay(DelayChannel::MainL, 1.5);
        d.sendDelay(DelayChannel::RearL, 12.5);
        d.sendDelay(DelayChannel::Center, 4.0);
    });
    ASSERT_EQ(page->delayEdit(kRearL)->text(), "12.5ms");

    // The tuning: three delays in one step while the page is on screen.
    outsideStep(rig, [](Dsp& d) {
        d.sendDelay(DelayChannel::MainL, 1.7);
        d.sendDelay(DelayChannel::RearL, 3.2);
        d.sendDelay(DelayChannel::Center, 4.6);
    });
    EXPECT_EQ(page->delayEdit(0)->text(), "1.7ms");
    EXPECT_EQ(page->delayEdit(kRearL)->text(), "3.2ms");
    EXPECT_EQ(page->delayEdit(kCenter)->text(), "4.6ms");
    EXPECT_EQ(page->delaySpin(kRearL)->position(), 32);
    clickSpin(page->delaySpin(kRearL), true);
    rig.run(10);
    EXPECT_FLOAT_EQ(delayOf(rig, DelayChannel::RearL), 3.3f) << "the tuned 3.2 ms, one step up";
    EXPECT_EQ(samplesOf(rig, DelayChannel::RearL), std::uint32_t(std::lround(3.3 * 48)));
    EXPECT_EQ(page->delayEdit(kRearL)->text(), "3.3ms");

    // Undo twice (the ▲, then the tuning), and redo once: the page follows each.
    rig.view().undo();
    rig.view().undo();
    rig.run(10);
    EXPECT_EQ(page->delayEdit(kRearL)->text(), "12.5ms");
    rig.view().redo();
    rig.run(10);
    EXPECT_EQ(page->delayEdit(kRearL)->text(), "3.2ms");
    clickSpin(page->delaySpin(kRearL), false);
    rig.run(10);
    EXPECT_FLOAT_EQ(delayOf(rig, DelayChannel::RearL), 3.1f);

    // A phone's edit: the Center's ▼ goes on from it.
    EditorRemoteHost host(*rig.editor);
    const ParamInfo* center = cellParam(delayChannelInfo(DelayChannel::Center).delayCell);
    ASSERT_NE(center, nullptr);
    std::string error;
    ASSERT_TRUE(host.apply({{center, floatBits(20.0f)}}, {"guest", "192.168.1.20"}, error))
        << error;
    rig.run(10);
    EXPECT_EQ(page->delayEdit(kCenter)->text(), "20.0ms");
    clickSpin(page->delaySpin(kCenter), false);
    rig.run(10);
    EXPECT_FLOAT_EQ(delayOf(rig, DelayChannel::Center), 19.9f);
    EXPECT_EQ(samplesOf(rig, DelayChannel::Center), std::uint32_t(std::lround(19.9 * 48)));
}

TEST(OutsideSteps, TheLocationPageShowsThemAndItsSpinsStepFromThem) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    ASSERT_NE(page, nullptr);
    retype(page->roomEdit(false), "10", false);
    retype(page->roomEdit(true), "10", false);
    click(page->modifyButton(), page->modifyButton()->rect().center());
    rig.run(10);
    const float y0 = s.cellFloat(3 + 2);
    // Speaker 2 moved and the room made longer, in one step from elsewhere.
    outsideStep(rig, [&](Dsp& d) {
        s.setCellFloat(11 + 2, 1.2f); // x
        s.setCellFloat(3 + 2, -2.4f); // y
        s.setCellInt(22, 8);          // length
        d.sendPlanBlock();
    });
    EXPECT_EQ(page->pointEdit(2, false)->text(), "+1.2m");
    EXPECT_EQ(page->pointEdit(2, true)->text(), "-2.4m");
    EXPECT_EQ(page->roomEdit(true)->text(), "8m");
    clickSpin(page->pointSpin(2, false), true);
    rig.run(10);
    EXPECT_FLOAT_EQ(s.cellFloat(11 + 2), 1.3f) << "the new x, one step up";
    EXPECT_FLOAT_EQ(s.cellFloat(3 + 2), -2.4f) << "y is not put back";
    EXPECT_EQ(s.cellInt(22), 8);
    clickSpin(page->roomSpin(true), true);
    rig.run(10);
    EXPECT_EQ(s.cellInt(22), 9) << "the new length, one step up";

    rig.view().undo();
    rig.view().undo();
    rig.view().undo();
    rig.run(10);
    ASSERT_FLOAT_EQ(s.cellFloat(3 + 2), y0);
    EXPECT_EQ(page->pointEdit(2, true)->text(), QString::asprintf("%+.1fm", double(y0)));
    clickSpin(page->pointSpin(2, true), false);
    rig.run(10);
    EXPECT_NEAR(s.cellFloat(3 + 2), (truncatedTenths(y0) - 1) / 10.0, 1e-5)
        << "one step down from what undo put back";
}

TEST(OutsideSteps, TheOutputAndCompressorPagesShowThemKeepingTheBandPicked) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CDialogOutput>(PageKind::Output, 5);
    ASSERT_NE(page, nullptr);
    const int bank = page->bank();
    BandEditor* bands = page->bands();
    pickBand(page->graph(), 3);
    ASSERT_EQ(bands->selected(), 3);
    const int group = eqBankInfo(bank)->group, record = eqBankInfo(bank)->firstRecord + 3;
    const BandRecord before = s.band(group, record);
    outsideStep(rig, [&](Dsp& d) {
        d.SendBand(group, record, 1, -4.5, 1000, 2.0);
        s.setCellInt(outputMixCell(bank), 40);
        d.sendLevel(outputMixCell(bank));
    });
    EXPECT_NEAR(bands->shown(3).gainDb, -4.5, 0.05);
    EXPECT_EQ(bands->selected(), 3) << "the band picked stays picked";
    EXPECT_EQ(page->mixSlider(0)->GetPos(), 40);
    rig.view().undo();
    rig.run(10);
    EXPECT_NEAR(bands->shown(3).gainDb, before.gainDb(), 0.05);

    auto* comp = rig.showPage<CCompDlg>(PageKind::Compressor);
    ASSERT_NE(comp, nullptr);
    const CompressorInfo& c = compressorInfo(OutputGroup::Main);
    outsideStep(rig, [&](Dsp& d) {
        d.sendCompressor(OutputGroup::Main, {-18.0f, 4.0f, 20.0f, 300.0f});
        d.sendCompressor(OutputGroup::Sub, {-12.0f, 2.0f, 10.0f, 200.0f});
        s.setCellInt(c.offCell, 0);
        d.sendSelector(c.offCell);
    });
    EXPECT_FLOAT_EQ(s.cellFloat(c.firstCell), -18.0f);
    EXPECT_TRUE(comp->valueLabel(0, 0)->text().contains("-18"))
        << comp->valueLabel(0, 0)->text().toStdString();
    EXPECT_TRUE(comp->valueLabel(0, 3)->text().contains("300"))
        << comp->valueLabel(0, 3)->text().toStdString();
    EXPECT_TRUE(comp->onBox(0)->isChecked());
}
