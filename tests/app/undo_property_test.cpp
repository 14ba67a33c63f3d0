// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever a person does on the pages and dialogs, every change is a step: after random presses,
// drags, held spins, wheel turns, keys and typing, undoing everything gives back the settings
// they started from, byte for byte, and the amplifier plays them again.
#include "controls/delay_panel.h"
#include "controls/speaker_panel.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/delay_page.h"
#include "pages/dynamics_dialogs.h"
#include "params/edit_path.h"
#include "sim/amp_compare.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTableWidget>
#include <gtest/gtest.h>
#include <random>

using namespace q7;
using namespace q7::test;

namespace {

// The settings image, byte for byte: where the first difference lies.
::testing::AssertionResult sameBytes(const ModeImage& a, const ModeImage& b) {
    for (std::size_t i = 0; i < a.cells.size(); ++i)
        if (a.cells[i] != b.cells[i])
            return ::testing::AssertionFailure()
                   << "cell " << i << ": " << a.cells[i] << " against " << b.cells[i];
    for (std::size_t i = 0; i < a.bandImage.size(); ++i)
        if (a.bandImage[i] != b.bandImage[i])
            return ::testing::AssertionFailure() << "band image byte " << i;
    if (a.plan != b.plan)
        return ::testing::AssertionFailure() << "plan block";
    if (a.speakerLevels != b.speakerLevels)
        return ::testing::AssertionFailure() << "speaker levels";
    if (a.extra != b.extra)
        return ::testing::AssertionFailure() << "extra block";
    return ::testing::AssertionSuccess();
}

// Random input on the controls under a page or dialog, as a person gives it.
struct Hands {
    EditorRig& rig;
    std::mt19937 rng;
    int heldSpins = 0;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    template <class T> T* any(QWidget* root) {
        std::vector<T*> usable;
        for (T* w : root->findChildren<T*>())
            if (w->isVisible() && w->isEnabled())
                usable.push_back(w);
        return usable.empty() ? nullptr : usable[std::size_t(pick(0, int(usable.size()) - 1))];
    }

    QPoint inside(QWidget* w) { return QPoint(pick(0, w->width() - 1), pick(0, w->height() - 1)); }

    // One gesture; false when the root has no control of the kind drawn.
    bool act(QWidget* root) {
        switch (pick(0, 11)) {
        case 0:
        case 1:
            if (auto* s = any<CXBmpSlider>(root)) {
                dragBmpSlider(s, pick(s->minimum(), s->maximum()), pick(1, 8));
                return true;
            }
            return false;
        case 2:
            if (auto* s = any<CXBmpSlider>(root)) {
                static const Qt::Key keys[] = {Qt::Key_Up,       Qt::Key_Down,   Qt::Key_Left,
                                               Qt::Key_Right,    Qt::Key_PageUp, Qt::Key_Home,
                                               Qt::Key_PageDown, Qt::Key_End};
                QTest::keyClick(s, keys[pick(0, 7)]);
                return true;
            }
            return false;
        case 3:
            if (auto* spin = any<UpDown>(root)) {
                if (pick(0, 3) == 0)
                    holdSpin(spin, pick(0, 1) == 1);
                else
                    clickSpin(spin, pick(0, 1) == 1, pick(1, 3));
                return true;
            }
            return false;
        case 4:
            if (auto* p = any<CDelayPanel>(root)) {
                const auto& c = p->channel(pick(0, p->count() - 1));
                const QPoint from(c.markerX + 4, int(c.rowY + p->rowHeight() / 2));
                drag(p, from, QPoint(pick(0, p->width() - 1), from.y()), pick(1, 6));
                return true;
            }
            if (auto* p = any<CSSVolumePanel>(root)) {
                const auto& pt = p->point(pick(0, 8));
                if (pt.type == -1)
                    return false;
                drag(p, QPoint(int(pt.px), int(pt.py)), inside(p), pick(1, 6));
                return true;
            }
            return false;
        case 5:
            if (auto* g = any<CEqPanel>(root)) {
                const int b = pick(0, g->bandCount() - 1);
                if (g->band(b).type == 0)
                    return false;
                const QPoint h = handleOf(g, b);
                drag(g, h, h + QPoint(pick(-60, 60), pick(-60, 60)), pick(1, 8));
                return true;
            }
            return false;
        case 6:
            if (auto* box = any<QCheckBox>(root)) {
                clickBox(box);
                return true;
            }
            if (auto* radio = any<QRadioButton>(root)) {
                clickBox(radio);
                return true;
            }
            return false;
        case 7:
            if (auto* edit = any<QLineEdit>(root)) {
                if (edit->isReadOnly() || qobject_cast<QComboBox*>(edit->parentWidget()))
                    return false;
                retype(edit, QString::number(pick(-200, 2000) / 10.0));
                return true;
            }
            return false;
        case 8:
            if (auto* t = any<QTableWidget>(root)) {
                if (t->rowCount() == 0 || t->columnCount() == 0)
                    return false;
                QWidget* editor =
                    openCellEditor(t, pick(0, t->rowCount() - 1), pick(0, t->columnCount() - 1));
                if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
                    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                    QTest::keyClicks(edit, QString::number(pick(-150, 4000) / 10.0));
                    QTest::keyClick(edit, Qt::Key_Return);
                } else if (auto* box = qobject_cast<QComboBox*>(editor)) {
                    QTest::keyClick(box, pick(0, 1) ? Qt::Key_Down : Qt::Key_Up);
                    QTest::keyClick(box, Qt::Key_Return);
                }
                QApplication::processEvents();
                return editor != nullptr;
            }
            return false;
        case 9:
        case 10: {
            QWidget* top = root->window();
            wheelAt(top, root->mapTo(top, inside(root)), pick(0, 1) ? 1 : -1);
            return true;
        }
        default:
            if (auto* box = any<QComboBox>(root)) {
                if (qobject_cast<QTableWidget*>(box->parentWidget()))
                    return false;
                QTest::keyClick(box, pick(0, 1) ? Qt::Key_Down : Qt::Key_Up);
                return true;
            }
            return false;
        }
    }

    // Holds an arrow down until it has repeated, then lets go. The repeat is Qt's own timer, so
    // this waits for its clicks (a condition), not for a time.
    int holdSpin(UpDown* spin, bool up) {
        int clicks = 0;
        const auto c = QObject::connect(spin, &UpDown::stepping, [&] { ++clicks; });
        QToolButton* b = up ? spin->upButton() : spin->downButton();
        QTest::mousePress(b, Qt::LeftButton, Qt::NoModifier, b->rect().center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return clicks >= 3; }, 5000)) << "the arrow repeats";
        QTest::mouseRelease(b, Qt::LeftButton, Qt::NoModifier, b->rect().center());
        QObject::disconnect(c);
        ++heldSpins;
        return clicks;
    }
};

struct Visit {
    PageKind kind;
    int bank;
};
const Visit kVisits[] = {
    {PageKind::Music, 0},    {PageKind::Effects, 6},    {PageKind::Effects, 7},
    {PageKind::Effects, 9},  {PageKind::Effects, 10},   {PageKind::Output, 5},
    {PageKind::Output, 4},   {PageKind::Output, 3},     {PageKind::Output, 2},
    {PageKind::Output, 11},  {PageKind::Compressor, 0}, {PageKind::Delay, 0},
    {PageKind::Location, 0},
};

void undoAll(EditorRig& rig) {
    QAction* undo = rig.ribbon().action(cmd::Undo);
    for (int guard = 0; rig.editor->edits().canUndo() && guard < 5000; ++guard) {
        undo->trigger();
        rig.run(2);
    }
    rig.run(200);
}

} // namespace

TEST(UndoProperty, RandomInputOverEveryPageAndDialogIsUndoneToTheStartByteForByte) {
    for (unsigned seed : {3u, 17u, 2026u}) {
        SCOPED_TRACE(seed);
        EditorRig rig;
        ASSERT_TRUE(rig.connect());
        rig.run(100);
        EditPath& edits = rig.editor->edits();
        const ModeImage start = settingsOf(rig.editor->store());
        const AmpSettings ampStart = rig.sim.current();
        Hands hands{rig, std::mt19937(seed)};

        int gestures = 0;
        for (const Visit& v : kVisits) {
            rig.view().showPage(v.kind, v.bank);
            QWidget* page = rig.view().currentPage();
            ASSERT_NE(page, nullptr);
            for (int i = 0; i < 14; ++i) {
                gestures += hands.act(page);
                rig.run(5);
            }
        }
        // The dialogs the ribbon and a key open.
        rig.clickRibbon(cmd::MusicAgc);
        rig.clickRibbon(cmd::AutoSub);
        rig.frame().activateWindow();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &rig.frame(),
                        Qt::Key_F6); // the noise gate's key
        for (QWidget* d : std::initializer_list<QWidget*>{rig.view().musicAgcDialog(),
                                                          rig.view().autoSubDialog(),
                                                          rig.view().noiseGateDialog()}) {
            ASSERT_NE(d, nullptr);
            for (int i = 0; i < 8; ++i) {
                gestures += hands.act(d);
                rig.run(5);
            }
        }
        rig.run(100);
        EXPECT_GT(gestures, 100);
        EXPECT_GE(edits.history().size(), 20u) << "the input changed settings";
        EXPECT_EQ(edits.unscopedEdits(), 0) << "every control says where its edit happens";

        undoAll(rig);
        EXPECT_FALSE(edits.canUndo());
        EXPECT_TRUE(sameBytes(settingsOf(rig.editor->store()), start));
        const AmpSettings ampEnd = rig.sim.current();
        EXPECT_TRUE(sameMemory(ampEnd, ampStart));
        EXPECT_TRUE(sameDsp(ampEnd, ampStart));
    }
}

TEST(UndoProperty, AHeldSpinArrowIsOneStepThatUndoTakesBackWhole) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.view().showPage(PageKind::Delay);
    auto* page = rig.view().currentPage();
    ASSERT_NE(page, nullptr);
    EditPath& edits = rig.editor->edits();
    ParameterStore& s = rig.editor->store();
    const ModeImage start = settingsOf(s);
    const AmpSettings ampStart = rig.sim.current();
    const int mainL = delayChannelInfo(DelayChannel::MainL).delayCell;
    UpDown* spin = nullptr;
    for (UpDown* u : page->findChildren<UpDown*>())
        if (u->isVisible() && u->isEnabled() && (!spin || u->y() < spin->y()))
            spin = u; // the top row: Main L
    ASSERT_NE(spin, nullptr);

    Hands hands{rig, std::mt19937(1)};
    const std::size_t first = edits.history().size();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::size_t before = edits.history().size();
        const float was = s.cellFloat(mainL);
        EXPECT_GE(hands.holdSpin(spin, true), 3);
        rig.run(20);
        ASSERT_GT(s.cellFloat(mainL), was + 0.25f) << "the arrow repeated";
        EXPECT_EQ(edits.history().size(), before + 1) << "one hold, one step";
    }
    // A plain click is one step.
    clickSpin(spin, false);
    EXPECT_EQ(edits.history().size(), first + 4);
    undoAll(rig);
    EXPECT_TRUE(sameBytes(settingsOf(s), start));
    EXPECT_TRUE(sameMemory(rig.sim.current(), ampStart));
    EXPECT_TRUE(sameDsp(rig.sim.current(), ampStart));
    EXPECT_EQ(edits.unscopedEdits(), 0);
}

TEST(UndoProperty, ATypedBandListCellIsOneStepAndMarksTheDocumentModified) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    EditPath& edits = rig.editor->edits();
    ParameterStore& s = rig.editor->store();
    edits.markSaved();
    rig.run(10);
    ASSERT_FALSE(edits.modified());
    const ModeImage start = settingsOf(s);
    const AmpSettings ampStart = rig.sim.current();
    const std::size_t first = edits.history().size();

    QTableWidget* list = page->bands()->list();
    ASSERT_TRUE(typeIntoCell(list, 2, 2, "+4.5"));
    rig.run(20);
    EXPECT_EQ(s.band(5, 2).gainDb(), 4.5);
    EXPECT_EQ(edits.history().size(), first + 1);
    EXPECT_TRUE(edits.modified());
    ASSERT_TRUE(typeIntoCell(list, 3, 4, "2.5"));
    rig.run(20);
    EXPECT_EQ(edits.history().size(), first + 2);

    undoAll(rig);
    EXPECT_FALSE(edits.modified());
    EXPECT_TRUE(sameBytes(settingsOf(s), start));
    EXPECT_TRUE(sameMemory(rig.sim.current(), ampStart));
    EXPECT_TRUE(sameDsp(rig.sim.current(), ampStart));
    EXPECT_EQ(edits.unscopedEdits(), 0);
}
