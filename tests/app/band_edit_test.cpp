// SPDX-License-Identifier: GPL-3.0-or-later
// Nothing changes that the user did not change: the band editor's boxes, a press on a band, a
// vertical drag, and the delay and speaker panels under the other mouse buttons.
#include "controls/delay_panel.h"
#include "controls/speaker_panel.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/delay_page.h"
#include "pages/location_page.h"
#include "pages/output_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

constexpr int kMainGroup = 5;

// Puts a band on the Main EQ as a synchronisation would, and shows it.
void storeBand(EditorRig& rig, CDialogOutput* page, int band, BandRecord r) {
    rig.editor->store().setBand(kMainGroup, band, r);
    page->refresh();
    QApplication::processEvents();
}

// Band records written to the amplifier's memory (the band image lies below address 1141).
int bandWrites(EditorRig& rig) {
    int n = 0;
    for (const Report& r : rig.sent())
        if (r[1] == CMD_MEM_WRITE && readBe16(&r[2]) < kBandImageSize)
            ++n;
    return n;
}

} // namespace

TEST(BandEdits, EnterInOneBoxChangesThatValueOnly) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    storeBand(rig, page, 2, BandRecord{150, 250, 1414, 1});
    storeBand(rig, page, 3, BandRecord{160, 500, 4318, 1});
    BandEditor* e = page->bands();

    // The gain typed: Q stays what it was, not what its two-decimal box shows.
    pickBand(page->graph(), 3);
    ASSERT_TRUE(e->editorShown());
    retype(e->gainEdit(), "+2.5");
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3), (BandRecord{175, 500, 4318, 1}));
    const int at = bandOffset(kMainGroup, 3);
    EXPECT_EQ(readBe16(&rig.sim.current().memory[std::size_t(at + 4)]), 4318) << "and sent so";

    pickBand(page->graph(), 2);
    retype(e->frequencyEdit(), "260");
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 2), (BandRecord{150, 260, 1414, 1}));

    // A Q typed to the thousandth is stored to the thousandth.
    retype(e->qEdit(), "4.318");
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 2).q, 4318);

    // Enter in a box nobody typed in changes and sends nothing.
    pickBand(page->graph(), 3);
    rig.clearTrace();
    e->qEdit()->setFocus();
    QTest::keyClick(e->qEdit(), Qt::Key_Return);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3).q, 4318);
    EXPECT_EQ(bandWrites(rig), 0);
}

TEST(BandEdits, TypeChoicesAndKeysStoreTheQTheyShow) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    storeBand(rig, page, 3, BandRecord{150, 1000, 2000, 1});
    BandEditor* e = page->bands();
    pickBand(page->graph(), 3);
    clickBox(e->radio(2)); // LP: Q 0.70
    rig.run(10);
    EXPECT_EQ(e->qEdit()->text(), "0.70");
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3).q, 700);
    clickBox(e->radio(1)); // PEQ: Q 1.41
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3).q, 1410);
    QTest::keyClick(page->graph(), Qt::Key_Plus, Qt::KeypadModifier);
    rig.run(10);
    EXPECT_EQ(e->qEdit()->text(), "1.42");
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3).q, 1420);
}

TEST(BandEdits, APressWithoutMovementChangesAndSendsNothing) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    storeBand(rig, page, 4, BandRecord{160, 700, 4318, 1});
    rig.editor->edits().markSaved();
    const std::size_t steps = rig.editor->edits().history().size();
    rig.clearTrace();

    CEqPanel* g = page->graph();
    const QPoint h = handleOf(g, 4);
    QTest::mousePress(g, Qt::LeftButton, {}, h);
    QTest::mouseRelease(g, Qt::LeftButton, {}, h);
    rig.run(20);
    EXPECT_EQ(g->selected(), 4);
    EXPECT_TRUE(page->bands()->editorShown()) << "the press still picks the band";
    EXPECT_EQ(page->bands()->numberText()->text(), "5");
    EXPECT_EQ(page->bands()->qEdit()->text(), "4.32");

    // A right press and release opens the type menu; left without a choice, nothing changes.
    int menus = 0;
    g->setMenuChooser([&](const QPoint&) {
        ++menus;
        return 0;
    });
    QTest::mousePress(g, Qt::RightButton, {}, h);
    QTest::mouseRelease(g, Qt::RightButton, {}, h);
    rig.run(20);
    EXPECT_EQ(menus, 1);

    EXPECT_EQ(rig.editor->store().band(kMainGroup, 4), (BandRecord{160, 700, 4318, 1}));
    EXPECT_EQ(bandWrites(rig), 0) << "nothing sent";
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(rig.editor->edits().history().size(), steps) << "no undo step";
    EXPECT_FALSE(rig.editor->edits().modified()) << "nothing marked changed";
}

TEST(BandEdits, AVerticalDragKeepsTheFrequencyWhereItWasGrabbed) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    storeBand(rig, page, 3, BandRecord{150, 250, 1414, 1});
    CEqPanel* g = page->graph();
    // Grabbed right of its centre, then pulled straight up in steps.
    const QPoint grab = handleOf(g, 3) + QPoint(6, 2);
    drag(g, grab, grab + QPoint(0, -60), 10);
    rig.run(10);
    const BandRecord r = rig.editor->store().band(kMainGroup, 3);
    EXPECT_EQ(r.frequency, 250) << "the frequency stays where it was grabbed";
    EXPECT_GT(r.gain, 150) << "the gain went up";
    EXPECT_EQ(r.q, 1414);

    // Sideways, the point keeps the same offset: moved by as many pixels as the pointer.
    const QPoint at = handleOf(g, 3);
    const QPoint grab2 = at + QPoint(-5, 3);
    drag(g, grab2, grab2 + QPoint(40, 0), 8);
    EXPECT_NEAR(handleOf(g, 3).x(), at.x() + 40, 1);
    EXPECT_EQ(handleOf(g, 3).y(), at.y()) << "a sideways drag keeps the gain";
}

TEST(BandEdits, OnlyTheLeftButtonMovesDelayMarkersAndSpeakers) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    auto* delay = rig.showPage<CDelayDlg>(PageKind::Delay);
    ASSERT_NE(delay, nullptr);
    CDelayPanel* panel = delay->panel();
    const CDelayPanel::Channel& c = panel->channel(2);
    const QPoint marker(c.markerX + panel->markerSize().width() / 2,
                        int(c.rowY + panel->rowHeight() / 2));
    const float before = rig.editor->store().cellFloat(153);
    rig.clearTrace();
    for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton})
        drag(panel, marker, marker + QPoint(120, 0), 6, b);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellFloat(153), before) << "the Center delay stays";
    EXPECT_TRUE(rig.sent().empty());
    drag(panel, marker, marker + QPoint(120, 0), 6, Qt::LeftButton);
    rig.run(10);
    EXPECT_GT(rig.editor->store().cellFloat(153), before + 10) << "the left button drags";

    auto* location = rig.showPage<CSSVCDlg>(PageKind::Location);
    ASSERT_NE(location, nullptr);
    CSSVolumePanel* plan = location->panel();
    const QPoint listener(plan->point(0).px, plan->point(0).py);
    const float x = rig.editor->store().cellFloat(21), y = rig.editor->store().cellFloat(20);
    rig.clearTrace();
    for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton})
        drag(plan, listener, listener + QPoint(60, 40), 6, b);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellFloat(21), x);
    EXPECT_EQ(rig.editor->store().cellFloat(20), y);
    EXPECT_TRUE(rig.sent().empty()) << "no plan and no levels sent";
    drag(plan, listener, listener + QPoint(60, 40), 6, Qt::LeftButton);
    rig.run(10);
    EXPECT_GT(rig.editor->store().cellFloat(21), x) << "the left button drags";
}
