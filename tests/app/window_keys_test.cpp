// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard in the window: the EQ graph's own keys and the ones it lets through, the ribbon's
// volume sliders, focus frames; the graph's hover readout; signed texts of the location page.
#include "app/ribbon.h"
#include "controls/bmp_slider.h"
#include "controls/image_button.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/location_page.h"
#include "pages/nav_row.h"
#include "pages/output_page.h"
#include "pages/settings_dialog.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

using namespace q7;
using namespace q7::test;

namespace {

constexpr int kMainGroup = 5;

// Counts the keys that reach a widget (after the focused child let them pass).
struct KeyWatch : QObject {
    std::vector<int> keys;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress)
            keys.push_back(static_cast<QKeyEvent*>(e)->key());
        return false;
    }
};

// Makes the window active, as the user's clicks do, so that keys and focus work.
void activate(EditorRig& rig) {
    rig.frame().show();
    rig.frame().activateWindow();
    QApplication::setActiveWindow(&rig.frame());
}

} // namespace

TEST(GraphKeys, ArrowsEditTheBandAndTabEscapeAndShortcutsGoThrough) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    activate(rig);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    CEqPanel* g = page->graph();
    rig.editor->store().setBand(kMainGroup, 3, BandRecord{150, 250, 1414, 1});
    page->refresh();
    pickBand(g, 3);
    ASSERT_TRUE(g->hasFocus());

    // Its own keys.
    QTest::keyClick(g, Qt::Key_Right);
    QTest::keyClick(g, Qt::Key_Up);
    QTest::keyClick(g, Qt::Key_Plus, Qt::KeypadModifier);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3), (BandRecord{151, 251, 1424, 1}));

    // Tab and Shift+Tab move the focus; Escape goes on to the page.
    QTest::keyClick(g, Qt::Key_Tab);
    EXPECT_FALSE(g->hasFocus()) << "Tab leaves the graph";
    QWidget* next = QApplication::focusWidget();
    ASSERT_NE(next, nullptr);
    QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(g->hasFocus()) << "Shift+Tab comes back";
    KeyWatch watch;
    page->installEventFilter(&watch);
    QTest::keyClick(g, Qt::Key_Escape);
    page->removeEventFilter(&watch);
    EXPECT_EQ(watch.keys, std::vector<int>{Qt::Key_Escape});

    // A drag, then Ctrl+Z with the graph still focused: the drag is undone.
    const BandRecord before = rig.editor->store().band(kMainGroup, 3);
    const QPoint h = handleOf(g, 3);
    drag(g, h, h + QPoint(30, -40), 6);
    rig.run(10);
    ASSERT_NE(rig.editor->store().band(kMainGroup, 3), before);
    ASSERT_TRUE(g->hasFocus());
    QTest::keyClick(g, Qt::Key_Z, Qt::ControlModifier);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 3), before) << "Ctrl+Z undid the drag";
    const int at = bandOffset(kMainGroup, 3);
    EXPECT_EQ(readBe16(&rig.sim.current().memory[std::size_t(at + 2)]), before.frequency);
}

TEST(GraphHover, TheReadoutClearsWhenThePointerLeavesOrTheBankChanges) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    activate(rig);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    CEqPanel* g = page->graph();
    QTest::mouseMove(g, handleOf(g, 2));
    ASSERT_EQ(g->hovered(), 2);
    // The pointer goes to the band list beside the graph.
    QTest::mouseMove(page->bands()->list(), page->bands()->list()->rect().center());
    EXPECT_EQ(g->hovered(), -1) << "nothing is pointed at any more";

    QTest::mouseMove(g, handleOf(g, 4));
    ASSERT_EQ(g->hovered(), 4);
    pickBand(g, 4);
    // Another bank by the keyboard: the Center button of the row, pressed with Space.
    CGdipButton* center = page->nav()->button(1070);
    center->setFocus(Qt::TabFocusReason);
    QTest::keyClick(center, Qt::Key_Space);
    rig.run(10);
    ASSERT_EQ(page->bank(), 3);
    EXPECT_EQ(g->hovered(), -1) << "the old bank's band is not read out on the new one";
}

TEST(RibbonKeys, VolumeSlidersTakeTheFocusAndStepWithTheArrows) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    activate(rig);
    StepSlider* mic = rig.ribbon().slider(cmd::MicSlider);
    ASSERT_NE(mic, nullptr);
    EXPECT_TRUE(mic->focusPolicy() & Qt::TabFocus);
    const int start = mic->value();
    ASSERT_GE(start, 2);
    // A click on the thumb takes the focus without moving it.
    QTest::mouseClick(mic, Qt::LeftButton, {}, sliderHandle(mic).center());
    ASSERT_TRUE(mic->hasFocus());
    EXPECT_EQ(mic->value(), start);
    // Each step goes out as a drag's does: value / 100 to parameters 30 and 43 of the mic.
    auto step = [&](Qt::Key k, int expected) {
        rig.clearTrace();
        QTest::keyClick(mic, k);
        rig.settle();
        EXPECT_EQ(mic->value(), expected);
        EXPECT_EQ(rig.ribbon().slider(Ribbon::twin(cmd::MicSlider))->value(), expected);
        EXPECT_EQ(rig.editor->store().cellInt(26), expected);
        const std::uint32_t bits = floatBits(float(expected / 100.0));
        EXPECT_EQ(rig.sent(), (std::vector<Report>{dspWriteRepeated(1, 30, bits, 1),
                                                   dspWriteRepeated(1, 43, bits, 1)}));
    };
    step(Qt::Key_Left, start - 1);
    step(Qt::Key_Down, start - 2);
    step(Qt::Key_Right, start - 1);
}

namespace {

// Tabs through a window from its start to where the chain comes round again; at every stop the
// focused control must look different from how it looked without the focus. Returns the stops.
int tabThrough(QWidget* window, const char* where, int limit = 600) {
    window->activateWindow();
    QApplication::setActiveWindow(window);
    window->setFocus();
    QApplication::processEvents();
    std::map<QWidget*, QImage> plain;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            plain[w] = w->grab().toImage();
    QWidget* first = nullptr;
    QWidget* previous = nullptr;
    int stops = 0;
    for (int i = 0; i < limit; ++i) {
        QWidget* from = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(from, Qt::Key_Tab);
        QApplication::processEvents();
        QWidget* f = QApplication::focusWidget();
        if (!f || f == first)
            break;
        if (f == previous) {
            ADD_FAILURE() << where << ": Tab stays on " << f->metaObject()->className() << " "
                          << controlId(f);
            break;
        }
        if (!first)
            first = f;
        previous = f;
        const auto it = plain.find(f);
        if (it == plain.end())
            continue;
        EXPECT_NE(it->second, f->grab().toImage())
            << where << ": no focus frame on " << f->metaObject()->className() << " "
            << controlId(f) << " " << f->objectName().toStdString();
        ++stops;
    }
    return stops;
}

} // namespace

TEST(FocusFrames, EveryControlTabbedToShowsThatItHasTheFocus) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    activate(rig);
    for (auto [kind, name] : {std::pair{PageKind::Music, "music"},
                              {PageKind::Output, "output"},
                              {PageKind::Delay, "delay"},
                              {PageKind::Location, "location"},
                              {PageKind::Compressor, "compressor"}}) {
        rig.view().showPage(kind, 5);
        QApplication::processEvents();
        EXPECT_GT(tabThrough(&rig.frame(), name), 20) << name;
    }
}

TEST(FocusFrames, TheSettingsSlidersShowTheFocusByAFrameNotByTheirThumb) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    activate(rig);
    rig.view().openMachineSettings();
    CSetDlg* settings = rig.view().settingsDialog();
    ASSERT_NE(settings, nullptr);
    QApplication::processEvents();
    EXPECT_GT(tabThrough(settings, "settings"), 5);
    // The focused thumb is the normal one: the thumb looks the same with and without focus.
    for (CXBmpSlider* s : settings->findChildren<CXBmpSlider*>()) {
        if (!s->isEnabled())
            continue;
        s->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(s->hasFocus());
        const QImage focused = s->grab().toImage();
        const int t = int(s->thumbOffset(s->GetPos()));
        const QRect thumb(t + 3, 5, s->thumbSize().width() - 6, s->height() - 10);
        s->clearFocus();
        QApplication::processEvents();
        EXPECT_EQ(focused.copy(thumb), s->grab().toImage().copy(thumb)) << controlId(s);
    }
}

TEST(LocationTexts, ANegativeZeroReadsMinusAsTheGainsDo) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.view().showPage(PageKind::Location);
    auto* page = dynamic_cast<CSSVCDlg*>(rig.view().currentPage());
    ASSERT_NE(page, nullptr);
    retype(page->pointEdit(3, true), "-0");
    rig.run(10);
    EXPECT_EQ(page->pointEdit(3, true)->text(), "-0.0m");
    retype(page->pointEdit(3, true), "-0.04");
    EXPECT_EQ(page->pointEdit(3, true)->text(), "-0.0m");
    retype(page->pointEdit(3, true), "0.04");
    EXPECT_EQ(page->pointEdit(3, true)->text(), "+0.0m");
    // A coordinate of 0 is sent as 0x80 and reads back from the amplifier as -0.0.
    rig.editor->store().setCellFloat(3 + 3, -0.0f); // speaker 3, y
    page->refresh();
    EXPECT_EQ(page->pointEdit(3, true)->text(), "-0.0m");
}
