// SPDX-License-Identifier: GPL-3.0-or-later
// The output, compressor, delay and speaker location pages against the simulated amplifier.
#include "app/ribbon.h"
#include "app/status_bar.h"
#include "controls/bmp_slider.h"
#include "controls/compress_panel.h"
#include "controls/delay_panel.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/speaker_panel.h"
#include "controls/up_down.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/compressor_page.h"
#include "pages/delay_page.h"
#include "pages/effects_page.h"
#include "pages/location_page.h"
#include "pages/music_page.h"
#include "pages/nav_row.h"
#include "pages/output_page.h"
#include "ui/info_popup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

std::vector<std::uint32_t> floats(std::initializer_list<float> values) {
    std::vector<std::uint32_t> out;
    for (float v : values)
        out.push_back(floatBits(v));
    return out;
}

// Band records written to the amplifier's DSP, as (group, record) pairs in order.
std::vector<std::pair<int, int>> bandsSent(const std::vector<Report>& sent) {
    std::vector<std::pair<int, int>> out;
    for (const Report& r : sent)
        if (r[1] == CMD_DSP_WRITE && r[5] == 5)
            out.push_back({r[3], r[4]});
    return out;
}

std::vector<std::uint8_t> memory(EditorRig& rig, int address, int length) {
    const AmpSettings s = rig.sim.current();
    return {s.memory.begin() + address, s.memory.begin() + address + length};
}

// The last value a DSP parameter got, in the reports sent.
std::vector<Report> writesTo(const std::vector<Report>& sent, int module, int parameter) {
    std::vector<Report> out;
    for (const Report& r : sent)
        if (r[1] == CMD_DSP_WRITE && r[3] == module && r[4] == parameter)
            out.push_back(r);
    return out;
}

} // namespace

// ---- output page ----

TEST(OutputPage, MixMuteAndGraphOfEachOutput) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    auto* page = rig.showPage<CDialogOutput>(PageKind::Output, 5);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->graph()->bandCount(), 24);
    EXPECT_EQ(page->bands()->list()->rowCount(), 24);

    // Rear Mute while Main is shown: two words of 0.0 to the rear module.
    rig.clearTrace();
    clickBox(page->muteBox(1050));
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(125), 1);
    EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(6, 27, floatBits(0.0f), 2)}));
    clickBox(page->muteBox(1048)); // Sub: one word
    clickBox(page->muteBox(1048));
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(8, 32), floats({1.0f}));

    // Main muted: moving a mix slider warns.
    clickBox(page->muteBox(1045));
    dragBmpSlider(page->mixSlider(0), 30);
    ASSERT_NE(rig.editor->infoPopup(), nullptr);
    EXPECT_EQ(rig.editor->infoPopup()->text(), "vol is mute");

    // Top, through the navigation row: the same page, another bank.
    click(page->nav()->button(1076));
    EXPECT_EQ(rig.view().currentPage(), page);
    EXPECT_EQ(page->bank(), 11);
    EXPECT_EQ(rig.view().lastOutput(), 11);
    EXPECT_EQ(page->graph()->bandCount(), 10);
    EXPECT_TRUE(page->nav()->button(1076)->isCurrent());
    EXPECT_FALSE(page->nav()->button(1069)->isCurrent());
    rig.clearTrace();
    const int music = dragBmpSlider(page->mixSlider(3), 75);
    rig.run(10);
    EXPECT_NEAR(music, 75, 1);
    EXPECT_EQ(rig.editor->store().cellInt(129), music);
    const auto writes = writesTo(rig.sent(), 9, 17);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), dspWriteRepeated(9, 17, floatBits(float(music / 100.0)), 1));
    EXPECT_EQ(rig.sim.dspValue(9, 17), floats({float(music / 100.0)}));
    EXPECT_EQ(page->mixText(3)->text(), QString::asprintf("%d%%", music));
    EXPECT_TRUE(page->muteBox(1050)->isChecked()) << "mute boxes show every output";

    // The status bar's bypass acts on the output shown.
    rig.clearTrace();
    clickBox(rig.status().bypass());
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(130), 1);
    EXPECT_TRUE(page->graph()->bypass());

    // A right drag on a band widens its Q; what the graph shows is what is stored.
    rig.clearTrace();
    const QPoint h = handleOf(page->graph(), 4);
    const float q = page->graph()->band(4).q;
    drag(page->graph(), h, h + QPoint(36, 8), 6, Qt::RightButton);
    rig.run(10);
    EXPECT_GT(page->graph()->band(4).q, q);
    EXPECT_EQ(rig.editor->store().band(9, 4).q,
              BandRecord::encode(1, 0, 100, page->graph()->band(4).q).q);
    EXPECT_EQ(page->graph()->menusOpened(), 0) << "a right drag opens no menu";
}

TEST(OutputPage, SubRecordsTranslateAndSlopesSendAllFour) {
    EXPECT_EQ(subStoreRecordOfGraph(0), 0);
    EXPECT_EQ(subStoreRecordOfGraph(4), 16);
    EXPECT_EQ(subStoreRecordOfGraph(5), 1);
    EXPECT_EQ(subStoreRecordOfGraph(7), 3);
    EXPECT_EQ(subStoreRecordOfGraph(8), 5);
    EXPECT_EQ(subStoreRecordOfGraph(19), 19);

    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    // Band 1 a high pass with its sections flat; band 2 a plain PEQ; sections of band 0 read
    // from store records 1..3.
    s.setBand(8, 4, BandRecord::encode(3, 0.0, 80, 0.7));
    for (int r : {5, 6, 7})
        s.setBand(8, r, BandRecord::encode(1, 0.0, 80, 0.7));
    s.setBand(8, 8, BandRecord::encode(1, 2.0, 60, 2.0));
    s.setBand(8, 2, BandRecord::encode(12, 0.0, 90, 0.7));
    auto* page = rig.showPage<CDialogOutput>(PageKind::Output, 2);
    EXPECT_EQ(page->graph()->bandCount(), 20);
    EXPECT_EQ(page->bands()->list()->rowCount(), 5);
    EXPECT_EQ(page->graph()->band(6).type, 12) << "store record 2 is graph record 6";

    clickCell(page->bands()->list(), 2, 0);
    EXPECT_TRUE(page->slopeList()->isHidden()) << "PEQ band";
    clickCell(page->bands()->list(), 1, 0);
    EXPECT_FALSE(page->slopeList()->isHidden());

    rig.clearTrace();
    ASSERT_TRUE(pickFromDropDown(page->slopeList(), "LinkwitzRiely 24dB"));
    rig.run(10);
    for (int r : {4, 5, 6, 7})
        EXPECT_EQ(s.band(8, r).type, r < 6 ? 13 : 1) << r;
    EXPECT_EQ((std::vector<int>{page->graph()->band(1).type, page->graph()->band(8).type,
                                page->graph()->band(9).type, page->graph()->band(10).type}),
              (std::vector<int>{13, 13, 1, 1}));
    EXPECT_EQ(bandsSent(rig.sent()),
              (std::vector<std::pair<int, int>>{{8, 4}, {8, 5}, {8, 6}, {8, 7}}));
    EXPECT_EQ(page->matchingSlope(1), 1);
    EXPECT_EQ(page->bands()->list()->item(1, 1)->text(), QString::fromUtf8("高通"));
    pickBand(page->graph(), 1);
    ASSERT_EQ(page->bands()->selected(), 1);
    EXPECT_TRUE(page->bands()->radio(3)->isChecked()) << "a high-pass section shows as HP";

    // Another output hides the slope list whatever was shown.
    click(page->nav()->button(1069));
    EXPECT_TRUE(page->slopeList()->isHidden());
}

// ---- compressor page ----

TEST(CompressorPage, SlidersTruncateLabelsRoundAndSendsCarryTheRecord) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    s.setCellFloat(98, -12.6f);
    s.setCellFloat(99, 4.0f);
    s.setCellFloat(100, 10.7f);
    s.setCellFloat(101, 1000.0f);
    s.setCellInt(97, 0);
    auto* page = rig.showPage<CCompDlg>(PageKind::Compressor);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->slider(0, 0)->GetPos(), -12);
    EXPECT_EQ(page->valueLabel(0, 0)->text(), "-13dB");
    EXPECT_EQ(page->slider(0, 1)->GetPos(), 40);
    EXPECT_EQ(page->valueLabel(0, 1)->text(), "4.0:1");
    EXPECT_EQ(page->slider(0, 3)->GetPos(), 1000);
    EXPECT_TRUE(page->nav()->button(1075)->isCurrent());

    rig.clearTrace();
    QTest::keyClick(page->slider(0, 1), Qt::Key_Right);
    rig.run(10);
    EXPECT_EQ(page->valueLabel(0, 1)->text(), "4.1:1");
    const float r = float(41 / 10.0);
    const std::vector<std::uint32_t> expected = {
        floatBits(-12.6f),
        0,
        floatBits(1.0f - 1.0f / r),
        floatBits(20.0f),
        floatBits(0.05f),
        floatBits(float(1.0 - std::exp(-1.0 / (10.0 * 48.0)))), // attack 10.7 goes out as 10
        floatBits(float(1.0 - std::exp(-1.0 / (1000.0 * 48.0))))};
    EXPECT_EQ(rig.sim.dspValue(5, 33), expected);
    EXPECT_FLOAT_EQ(s.cellFloat(99), r);
    EXPECT_FLOAT_EQ(page->curve(0)->slope(), 1.0f / r);

    // Unchecking Main Comp ON.
    clickBox(page->onBox(0));
    rig.run(10);
    EXPECT_EQ(s.cellInt(97), 1);
    EXPECT_EQ(rig.sim.dspValue(5, 34), std::vector<std::uint32_t>{1});
    EXPECT_FALSE(page->curve(0)->curveEnabled());

    // The release slider dragged to its right end gives 1000 ms, never more.
    dragBmpSlider(page->slider(1, 3), 1000);
    rig.run(10);
    EXPECT_EQ(page->slider(1, 3)->GetPos(), 1000);
    EXPECT_FLOAT_EQ(s.cellFloat(118), 1000.0f);
    EXPECT_EQ(page->valueLabel(1, 3)->text(), "1000ms");

    // The wheel over another control of the page turns the focused slider.
    click(page->slider(2, 0), bmpSliderPointFor(page->slider(2, 0), page->slider(2, 0)->GetPos()));
    const int before = page->slider(2, 0)->GetPos();
    wheelOver(page->curve(4), -1);
    EXPECT_EQ(page->slider(2, 0)->GetPos(), before - 1);
    rig.run(10);
    EXPECT_FLOAT_EQ(s.cellFloat(149), float(before - 1));

    // Comp on the compressor page keeps it; Delay replaces it.
    QPointer<CPage> current = rig.view().currentPage();
    click(page->nav()->button(1075));
    EXPECT_EQ(rig.view().currentPage(), current.data());
    click(page->nav()->button(1074));
    EXPECT_NE(dynamic_cast<CDelayDlg*>(rig.view().currentPage()), nullptr);
}

TEST(CompressorPage, WithoutAnAmplifierTheStoreStillChanges) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    auto* page = rig.showPage<CCompDlg>(PageKind::Compressor);
    rig.clearTrace();
    const int t = dragBmpSlider(page->slider(4, 0), -30);
    rig.run(10);
    EXPECT_NEAR(t, -30, 1);
    EXPECT_FLOAT_EQ(rig.editor->store().cellFloat(132), float(t));
    EXPECT_EQ(page->valueLabel(4, 0)->text(), QString::asprintf("%ddB", t));
    EXPECT_FLOAT_EQ(page->curve(4)->threshold(), float(t));
    EXPECT_TRUE(rig.sent().empty());
}

// ---- delay page ----

TEST(DelayPage, TypedSpunAndDraggedDelays) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* page = rig.showPage<CDelayDlg>(PageKind::Delay);
    ASSERT_NE(page, nullptr);
    ParameterStore& s = rig.editor->store();
    auto samples = [&] { return rig.sim.dspValue(5, 35); };

    retype(page->delayEdit(0), "250");
    EXPECT_EQ(page->delayEdit(0)->text(), "100.0ms");
    rig.run(10);
    EXPECT_EQ(samples(), std::vector<std::uint32_t>{4800});
    retype(page->delayEdit(0), "0.5");
    EXPECT_EQ(page->delayEdit(0)->text(), "1.5ms");
    rig.run(10);
    EXPECT_EQ(samples(), std::vector<std::uint32_t>{72});
    retype(page->delayEdit(0), "10.01");
    rig.run(10);
    EXPECT_EQ(samples(), std::vector<std::uint32_t>{480});
    retype(page->delayEdit(0), "ten");
    EXPECT_EQ(page->delayEdit(0)->text(), "1.5ms");
    EXPECT_FLOAT_EQ(s.cellFloat(102), 1.5f);

    // Spinning down from 1.6 ms: 72 samples once, then nothing.
    retype(page->delayEdit(0), "1.6");
    EXPECT_EQ(page->delaySpin(0)->position(), 16);
    rig.run(10);
    rig.clearTrace();
    clickSpin(page->delaySpin(0), false);
    rig.run(10);
    EXPECT_EQ(page->delayEdit(0)->text(), "1.5ms");
    EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(5, 35, 72, 1)}));
    clickSpin(page->delaySpin(0), false);
    rig.run(10);
    EXPECT_EQ(rig.sent().size(), 1u) << "equal to the stored delay";
    clickSpin(page->delaySpin(0), true);
    EXPECT_EQ(page->delayEdit(0)->text(), "1.6ms") << "up from the shortest delay";

    // The Down key in the edit steps its spin.
    QTest::keyClick(page->delayEdit(0), Qt::Key_Down);
    EXPECT_EQ(page->delayEdit(0)->text(), "1.5ms");

    // Dragging Top R past the right end.
    CDelayPanel* panel = page->panel();
    const int y = int(panel->channel(7).rowY + panel->rowHeight() / 2);
    const int x = panel->channel(7).markerX + panel->markerSize().width() / 2;
    drag(panel, QPoint(x, y), QPoint(panel->width() + 40, y));
    rig.run(10);
    EXPECT_EQ(page->delayEdit(7)->text(), "100.0ms");
    EXPECT_EQ(page->delaySpin(7)->position(), 1000);
    EXPECT_EQ(rig.sim.dspValue(9, 22), std::vector<std::uint32_t>{4800});
    EXPECT_FLOAT_EQ(rig.editor->store().cellFloat(137), 100.0f);

    // And Center to somewhere in the middle: what the edit shows is what was sent.
    const int cy = int(panel->channel(2).rowY + panel->rowHeight() / 2);
    const int cx = panel->channel(2).markerX + panel->markerSize().width() / 2;
    drag(panel, QPoint(cx, cy), QPoint(panel->xOf(40.0) + 4, cy + 3));
    rig.run(10);
    const float centre = rig.editor->store().cellFloat(153);
    EXPECT_NEAR(centre, 40.0f, 1.0f);
    EXPECT_EQ(page->delayEdit(2)->text(), QString::asprintf("%.1fms", double(centre)));
    EXPECT_EQ(rig.sim.dspValue(7, 19),
              std::vector<std::uint32_t>{std::uint32_t(std::floor(centre * 48.0 + 0.5))});
}

TEST(DelayPage, ModesSplitFiltersAndEnableStates) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    s.setBand(5, 24, BandRecord::encode(3, 0.0, 550, 0.707));
    s.setCellInt(106, 0);
    s.setCellInt(104, 0);
    rig.clearTrace();
    auto* page = rig.showPage<CDelayDlg>(PageKind::Delay);
    rig.run(10);
    EXPECT_EQ(page->splitSlider(0)->GetPos(), 0);
    EXPECT_EQ(page->splitLabel(0)->text(), "500Hz");
    EXPECT_TRUE(rig.sent().empty()) << "showing never sends";
    EXPECT_TRUE(page->nav()->button(1074)->isCurrent());

    // Main L at 1200 Hz, then to "Channel" and back.
    EXPECT_EQ(dragBmpSlider(page->splitSlider(0), 7), 7);
    rig.run(10);
    EXPECT_EQ(page->splitLabel(0)->text(), "1200Hz");
    EXPECT_EQ(s.band(5, 24).frequency, 1200);
    EXPECT_EQ(s.band(5, 25).frequency, 1700);
    rig.clearTrace();
    clickBox(page->channelMode(0));
    rig.run(10);
    EXPECT_EQ(s.cellInt(106), 1);
    EXPECT_EQ(rig.sim.dspValue(5, 39), floats({1.0f, 0.0f}));
    for (int r : {24, 25}) {
        EXPECT_EQ(s.band(5, r).type, 1);
        EXPECT_EQ(s.band(5, r).gain, BandRecord::encode(1, 0.0, 1000, 1).gain);
    }
    EXPECT_EQ(s.band(5, 24).frequency, 1200);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{5, 24}, {5, 25}}));
    EXPECT_FALSE(page->splitSlider(0)->isEnabled());
    clickBox(page->highFreq(0));
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(5, 39), floats({1.0f, 1.0f}));
    EXPECT_EQ(s.band(5, 24).type, 3);
    EXPECT_EQ(s.band(5, 25).type, 2);
    EXPECT_TRUE(page->splitSlider(0)->isEnabled());

    // Unchecking ON greys the row except its box.
    clickBox(page->onBox(2));
    rig.run(10);
    EXPECT_EQ(s.cellInt(154), 1);
    EXPECT_EQ(rig.sim.dspValue(7, 20), std::vector<std::uint32_t>{1});
    for (QWidget* w : std::initializer_list<QWidget*>{
             page->highFreq(2), page->channelMode(2), page->splitSlider(2), page->splitLabel(2),
             page->nameLabel(2), page->delayEdit(2), page->delaySpin(2)})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(page->onBox(2)->isEnabled());
}

// ---- speaker location page ----

TEST(LocationPage, EditsClampStoreAndSendPlanAndLevels) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    ASSERT_NE(page, nullptr);
    click(page->resetButton(), page->resetButton()->rect().center());
    rig.run(10);
    ASSERT_EQ(page->roomSpin(false)->position(), 4);

    // x typed 12 in a 4 m room.
    retype(page->pointEdit(3, false), "12");
    rig.run(10);
    EXPECT_FLOAT_EQ(s.cellFloat(14), 2.0f);
    EXPECT_EQ(page->pointEdit(3, false)->text(), "+2.0m");
    EXPECT_EQ(page->pointSpin(3, false)->position(), 20);
    EXPECT_EQ(memory(rig, kPlanAddress + 8, 1)[0], 0x14);

    // Coordinates near zero keep the sign bit.
    for (auto [text, byte] : {std::pair{"0", 0x80}, std::pair{"-0.04", 0x80},
                              std::pair{"-0.3", 0x83}, std::pair{"0.3", 0x03}}) {
        retype(page->pointEdit(1, false), text);
        rig.run(10);
        EXPECT_EQ(memory(rig, kPlanAddress + 4, 1)[0], byte) << text;
    }

    // Levels: on the listener +3 dB, at 1 m 0 dB, at 2 m -3 dB.
    auto slot = [&](int i) {
        const auto m = memory(rig, kSpeakerLevelAddress + 4 * i, 4);
        return bitsFloat(readBe32(m.data()));
    };
    retype(page->pointEdit(2, false), "0");
    retype(page->pointEdit(2, true), "0");
    rig.run(10);
    EXPECT_FLOAT_EQ(slot(4), 3.0f) << "Center on the listener";
    retype(page->pointEdit(2, true), "1");
    rig.run(10);
    EXPECT_FLOAT_EQ(slot(4), 0.0f);
    retype(page->pointEdit(2, true), "-2");
    rig.run(10);
    EXPECT_FLOAT_EQ(slot(4), -3.0f);
    EXPECT_EQ(rig.sim.dspValue(7, 23).size(), 6u);

    // Moving the listener sends all eight levels in speaker order.
    rig.clearTrace();
    retype(page->pointEdit(0, false), "0.5");
    rig.run(10);
    std::vector<std::pair<int, int>> levels;
    for (const Report& r : rig.sent())
        if (r[1] == CMD_DSP_WRITE && r[5] == 6)
            levels.push_back({r[3], r[4]});
    EXPECT_EQ(levels, (std::vector<std::pair<int, int>>{
                          {5, 42}, {7, 23}, {5, 43}, {6, 28}, {8, 33}, {6, 29}, {9, 28}, {9, 29}}));
    // "Center" brings the listener back; with the factory plan Main L is sqrt(2) m away.
    click(page->resetButton(), page->resetButton()->rect().center());
    click(page->centerButton(), page->centerButton()->rect().center());
    rig.run(10);
    EXPECT_EQ(slot(0), float(3.0 - 3.0 * std::sqrt(2.0)));
    EXPECT_EQ(page->pointEdit(0, true)->text(), "+0.0m");
}

TEST(LocationPage, ResetAllSendsFlatLevelsAndTheFactoryPlan) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    retype(page->pointEdit(5, true), "-1.7");
    rig.run(10);
    rig.clearTrace();
    click(page->resetButton(), page->resetButton()->rect().center());
    rig.run(10);
    const std::vector<Report> sent = rig.sent();
    int levels = 0;
    for (const Report& r : sent)
        if (r[1] == CMD_DSP_WRITE && r[5] == 6) {
            ++levels;
            std::vector<std::uint32_t> words;
            for (int i = 0; i < 6; ++i)
                words.push_back(test::word(r, i));
            EXPECT_EQ(words, floats({1.0f, 1.0f, 0.99608070f, -1.99606144f, 1.0f, 1.0f}));
        }
    EXPECT_EQ(levels, 8);
    EXPECT_EQ(
        memory(rig, kPlanAddress, 20),
        (std::vector<std::uint8_t>{0x04, 0x04, 0x80, 0x80, 0x8A, 0x0A, 0x80, 0x0A, 0x0A, 0x0A,
                                   0x8A, 0x8A, 0x80, 0x8A, 0x0A, 0x8A, 0x85, 0x80, 0x05, 0x80}));
    EXPECT_EQ(memory(rig, kSpeakerLevelAddress, 32), std::vector<std::uint8_t>(32, 0));
    EXPECT_EQ(page->pointEdit(5, true)->text(), "-1.0m");
    EXPECT_TRUE(page->nav()->button(1073)->isCurrent());
}

TEST(LocationPage, ShrinkingTheRoomKeepsPositionsUntilEdited) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    retype(page->roomEdit(false), "12", false); // clamps to 10
    click(page->modifyButton(), page->modifyButton()->rect().center());
    EXPECT_EQ(page->roomEdit(false)->text(), "10m");
    EXPECT_EQ(s.cellInt(23), 10);
    EXPECT_EQ(page->pointSpin(1, false)->maximum(), 50);
    retype(page->pointEdit(1, false), "4");
    EXPECT_FLOAT_EQ(s.cellFloat(12), 4.0f);
    retype(page->roomEdit(false), "2", false);
    click(page->modifyButton(), page->modifyButton()->rect().center());
    EXPECT_FLOAT_EQ(s.cellFloat(12), 4.0f) << "not re-clamped";
    retype(page->pointEdit(1, false), page->pointEdit(1, false)->text());
    EXPECT_FLOAT_EQ(s.cellFloat(12), 1.0f);

    // A room spin click steps the edit and applies it; a position spin stays inside the room.
    clickSpin(page->roomSpin(true), true);
    EXPECT_EQ(page->roomEdit(true)->text(), "5m");
    EXPECT_EQ(s.cellInt(22), 5);
    EXPECT_EQ(page->roomSpin(true)->position(), 5);
    EXPECT_EQ(page->pointSpin(4, true)->maximum(), 25);
    clickSpin(page->pointSpin(4, true), true, 40);
    EXPECT_EQ(page->pointSpin(4, true)->position(), 25);
    EXPECT_EQ(page->pointEdit(4, true)->text(), "+2.5m");
    EXPECT_FLOAT_EQ(s.cellFloat(3 + 4), 2.5f);
    rig.run(10);
    EXPECT_EQ(memory(rig, kPlanAddress + 1, 1)[0], 5);
}

TEST(LocationPage, DraggingASpeakerStoresItAndItsLevel) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    click(page->resetButton(), page->resetButton()->rect().center());
    CSSVolumePanel* panel = page->panel();
    const QPoint at(panel->point(3).px, panel->point(3).py); // Main R at (1, 1)
    drag(panel, at, QPoint(panel->width() + 20, -20));
    rig.run(10);
    EXPECT_NEAR(s.cellFloat(14), 2.0f, 0.02f) << "held on the room's edge";
    EXPECT_NEAR(s.cellFloat(6), 2.0f, 0.02f);
    EXPECT_EQ(page->pointEdit(3, false)->text(), "+2.0m");
    EXPECT_EQ(memory(rig, kPlanAddress + 8, 2), (std::vector<std::uint8_t>{0x14, 0x14}));

    // The listener dragged: every speaker's level follows from the new place.
    const QPoint l(panel->point(0).px, panel->point(0).py);
    rig.clearTrace();
    drag(panel, l, l + QPoint(-30, 25));
    rig.run(10);
    const float lx = s.cellFloat(21), ly = s.cellFloat(20);
    EXPECT_LT(lx, 0.0f);
    EXPECT_LT(ly, 0.0f);
    const auto slot = memory(rig, kSpeakerLevelAddress, 4); // Main L
    const double d = std::hypot(double(lx) - -1.0, double(ly) - 1.0);
    EXPECT_FLOAT_EQ(bitsFloat(readBe32(slot.data())), float(3.0 - 3.0 * d));
    EXPECT_EQ(page->pointEdit(0, false)->text(), QString::asprintf("%+-.1fm", double(lx)));
}

// ---- tenths ----

TEST(Tenths, EveryStoredTenthComesBackWhole) {
    for (int t = -1270; t <= 1270; ++t)
        ASSERT_EQ(truncatedTenths(float(t / 10.0)), t) << t;
    EXPECT_EQ(truncatedTenths(0.7f), 7);
    EXPECT_EQ(truncatedTenths(4.1f), 41);
    EXPECT_EQ(truncatedTenths(-12.7f), -127);
    EXPECT_EQ(truncatedTenths(0.79f), 7) << "truncated, not rounded";
    EXPECT_EQ(truncatedTenths(-0.79f), -7);
    EXPECT_EQ(truncatedTenths(std::nanf("")), 0);
    EXPECT_EQ(truncatedTenths(1e30f), 1000000);
}

TEST(DelayPage, TheSpinStepsByOneTenthFromATypedDelay) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* page = rig.showPage<CDelayDlg>(PageKind::Delay);
    retype(page->delayEdit(0), "4.1");
    EXPECT_EQ(page->delaySpin(0)->position(), 41);
    rig.run(10);
    rig.clearTrace();
    clickSpin(page->delaySpin(0), false);
    rig.run(10);
    EXPECT_EQ(page->delayEdit(0)->text(), "4.0ms");
    EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(5, 35, 192, 1)}));
    clickSpin(page->delaySpin(0), true);
    rig.run(10);
    EXPECT_EQ(page->delayEdit(0)->text(), "4.1ms");
    EXPECT_EQ(rig.sim.dspValue(5, 35), std::vector<std::uint32_t>{197});

    // Every delay the page can hold puts the spin on its own tenth.
    std::vector<int> off;
    for (int t = 15; t <= 1000; ++t) {
        retype(page->delayEdit(3), QString::asprintf("%.1f", t / 10.0));
        if (page->delaySpin(3)->position() != t)
            off.push_back(t);
    }
    EXPECT_EQ(off, std::vector<int>{});
    rig.run(10);
}

TEST(LocationPage, ThePositionSpinStepsByOneTenthFromATypedPosition) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    auto* page = rig.showPage<CSSVCDlg>(PageKind::Location);
    click(page->resetButton(), page->resetButton()->rect().center());
    retype(page->pointEdit(2, true), "+0.7");
    EXPECT_EQ(page->pointSpin(2, true)->position(), 7);
    clickSpin(page->pointSpin(2, true), false);
    rig.run(10);
    EXPECT_EQ(page->pointEdit(2, true)->text(), "+0.6m");
    EXPECT_FLOAT_EQ(s.cellFloat(3 + 2), 0.6f);
    EXPECT_EQ(memory(rig, kPlanAddress + 7, 1)[0], 0x06);

    // Every position of a 10 m room.
    retype(page->roomEdit(false), "10", false);
    retype(page->roomEdit(true), "10", false);
    click(page->modifyButton(), page->modifyButton()->rect().center());
    std::vector<int> off;
    for (int t = -50; t <= 50; ++t) {
        retype(page->pointEdit(6, false), QString::asprintf("%+.1f", t / 10.0));
        if (page->pointSpin(6, false)->position() != t)
            off.push_back(t);
    }
    EXPECT_EQ(off, std::vector<int>{});
    rig.run(10);
}

// ---- navigation ----

TEST(NavRow, TheShownPagesOwnButtonKeepsWhatIsBeingTyped) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* delay = rig.showPage<CDelayDlg>(PageKind::Delay);
    retype(delay->delayEdit(1), "33.3", false);
    rig.clearTrace();
    click(delay->nav()->button(1074));
    EXPECT_EQ(rig.view().currentPage(), delay);
    EXPECT_EQ(delay->delayEdit(1)->text(), "33.3");

    click(delay->nav()->button(1073));
    auto* location = dynamic_cast<CSSVCDlg*>(rig.view().currentPage());
    ASSERT_NE(location, nullptr);
    retype(location->pointEdit(4, true), "+1.2", false);
    click(location->nav()->button(1073));
    EXPECT_EQ(location->pointEdit(4, true)->text(), "+1.2");

    click(location->nav()->button(1072)); // Rear
    auto* output = dynamic_cast<CDialogOutput*>(rig.view().currentPage());
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->bank(), 4);
    pickBand(output->graph(), 2);
    ASSERT_TRUE(output->bands()->editorShown());
    retype(output->bands()->frequencyEdit(), "777", false);
    rig.run(10);
    rig.clearTrace();
    click(output->nav()->button(1072));
    EXPECT_EQ(output->bands()->frequencyEdit()->text(), "777");
    EXPECT_TRUE(output->bands()->editorShown()) << "the band stays selected";
    rig.run(10);
    EXPECT_TRUE(rig.sent().empty());

    // Another output's button still switches and reads the store.
    click(output->nav()->button(1070)); // Center
    EXPECT_EQ(output->bank(), 3);
    EXPECT_FALSE(output->bands()->editorShown());
    EXPECT_EQ(output->graph()->band(2).frequency, float(rig.editor->store().band(7, 2).frequency));
}

TEST(OutputPage, TheSubSlopeListFollowsTheBandsType) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    const int types[5] = {1, 3, 1, 1, 1};
    const int hz[5] = {40, 80, 200, 1000, 5000};
    for (int k = 0; k < 5; ++k) {
        s.setBand(8, 4 * k, BandRecord::encode(types[k], 0.0, hz[k], 0.7));
        for (int r = 1; r <= 3; ++r)
            s.setBand(8, 4 * k + r, BandRecord::encode(1, 0.0, hz[k], 0.7));
    }
    auto* page = rig.showPage<CDialogOutput>(PageKind::Output, 2);
    ASSERT_EQ(page->bank(), 2);
    BandEditor* e = page->bands();

    // By the radios of the selected band.
    pickBand(page->graph(), 1);
    ASSERT_EQ(e->selected(), 1);
    EXPECT_FALSE(page->slopeList()->isHidden()) << "a high pass";
    clickBox(e->radio(1));
    EXPECT_TRUE(page->slopeList()->isHidden()) << "now a PEQ";
    clickBox(e->radio(2));
    EXPECT_FALSE(page->slopeList()->isHidden()) << "now a low pass";

    // By the list's drop-down.
    click(page->graph(), QPoint(page->graph()->width() - 12, page->graph()->height() - 26));
    ASSERT_FALSE(e->editorShown());
    clickCell(e->list(), 2, 0);
    EXPECT_TRUE(page->slopeList()->isHidden());
    ASSERT_TRUE(chooseInCell(e->list(), 2, 1, QString::fromUtf8("高通")));
    EXPECT_EQ(s.band(8, 8).type, 3);
    EXPECT_FALSE(page->slopeList()->isHidden());
    ASSERT_TRUE(chooseInCell(e->list(), 2, 1, QString::fromUtf8("参量")));
    EXPECT_TRUE(page->slopeList()->isHidden());
}

// ---- the wheel ----

TEST(Pages, TheWheelOverTheBareBackgroundTurnsTheFocusedControl) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();

    auto* comp = rig.showPage<CCompDlg>(PageKind::Compressor);
    CXBmpSlider* threshold = comp->slider(3, 0);
    click(threshold, bmpSliderPointFor(threshold, threshold->GetPos()));
    const int t = threshold->GetPos();
    EXPECT_EQ(wheelOverBackground(comp, -1), comp);
    EXPECT_EQ(threshold->GetPos(), t - 1);
    EXPECT_FLOAT_EQ(s.cellFloat(163), float(t - 1));

    click(comp->nav()->button(1074));
    auto* delay = dynamic_cast<CDelayDlg*>(rig.view().currentPage());
    ASSERT_NE(delay, nullptr);
    retype(delay->delayEdit(5), "20.0");
    wheelOverBackground(delay, 1);
    EXPECT_EQ(delay->delayEdit(5)->text(), "20.1ms");
    EXPECT_FLOAT_EQ(s.cellFloat(120), 20.1f);

    click(delay->nav()->button(1073));
    auto* location = dynamic_cast<CSSVCDlg*>(rig.view().currentPage());
    ASSERT_NE(location, nullptr);
    retype(location->pointEdit(8, false), "+0.5");
    wheelOverBackground(location, -1);
    EXPECT_EQ(location->pointEdit(8, false)->text(), "+0.4m");
    EXPECT_FLOAT_EQ(s.cellFloat(19), 0.4f);

    click(location->nav()->button(1069));
    auto* output = dynamic_cast<CDialogOutput*>(rig.view().currentPage());
    ASSERT_NE(output, nullptr);
    CXBmpSlider* echo = output->mixSlider(2);
    click(echo, bmpSliderPointFor(echo, echo->GetPos()));
    const int e = echo->GetPos();
    wheelOverBackground(output, -1);
    EXPECT_EQ(echo->GetPos(), e - 1);
    EXPECT_EQ(s.cellInt(94), e - 1);

    rig.view().showPage(PageKind::Music);
    auto* music = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(music, nullptr);
    CXBmpSlider* gate = music->portSlider(1054);
    click(gate, bmpSliderPointFor(gate, gate->GetPos()));
    const int g = gate->GetPos();
    wheelOverBackground(music, 1);
    EXPECT_EQ(gate->GetPos(), std::min(100, g + 1));
    EXPECT_EQ(s.cellInt(51), std::min(100, g + 1));

    // The effects page: the graph has the focus and a selected band.
    rig.view().showPage(PageKind::Effects, 7);
    auto* efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    pickBand(efx->graph(), 5);
    const float gain = efx->graph()->band(5).gain;
    wheelOverBackground(efx, 1, QRect(0, 0, 340, 40));
    EXPECT_FLOAT_EQ(efx->graph()->band(5).gain, std::min(15.0f, gain + 0.1f));
    EXPECT_EQ(s.band(2, 5).gain, BandRecord::encode(1, efx->graph()->band(5).gain, 100, 1).gain);
}

TEST(DelayAndLocationPages, ThePanelsNameTheChannelsInTheLanguageShown) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    auto* delay = rig.showPage<CDelayDlg>(PageKind::Delay);
    EXPECT_EQ(delay->panel()->channelName(0), QString::fromUtf8("前置左(ML)"));
    const QImage zh = delay->panel()->grab().toImage();
    rig.editor->setLanguageIndex(kEnglish);
    const QStringList en = {"Main L", "Main R", "Center", "Sub",
                            "Rear L", "Rear R", "Top L",  "Top R"};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(delay->panel()->channelName(c), en[c]);
    EXPECT_NE(delay->panel()->grab().toImage(), zh) << "drawn anew";

    click(delay->nav()->button(1073));
    auto* location = dynamic_cast<CSSVCDlg*>(rig.view().currentPage());
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->panel()->speakerName(1), "Main L");
    EXPECT_EQ(location->panel()->speakerName(5), "Sub");
    rig.editor->setLanguageIndex(kChinese);
    EXPECT_EQ(location->panel()->speakerName(5), QString::fromUtf8("超低(S)"));
}
