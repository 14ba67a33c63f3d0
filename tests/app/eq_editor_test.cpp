// SPDX-License-Identifier: GPL-3.0-or-later
// The one EQ editor of the music, effects and output pages, driven as a person does: a drag on
// the graph, a slider held and moved, a list cell and a box typed. Each gesture is one undo step
// that gives back the settings byte for byte, and the list and the boxes show what is stored.
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/effects_page.h"
#include "pages/eq_editor.h"
#include "pages/music_page.h"
#include "pages/output_page.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

struct PageCase {
    PageKind kind;
    int bank;
    int band; // a band whose handle lies apart from the others
};

EqEditor* eqOf(CPage* page) {
    if (auto* p = dynamic_cast<CDialogMusic*>(page))
        return p->eq();
    if (auto* p = dynamic_cast<CDialogEfx*>(page))
        return p->eq();
    if (auto* p = dynamic_cast<CDialogOutput*>(page))
        return p->eq();
    return nullptr;
}

class OneEqEditor : public ::testing::TestWithParam<PageCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.connect());
        rig.view().showPage(GetParam().kind, GetParam().bank);
        page = rig.view().currentPage();
        eq = eqOf(page);
        ASSERT_NE(eq, nullptr);
        ASSERT_EQ(eq->bank(), GetParam().bank);
    }

    std::size_t steps() { return rig.editor->edits().history().size(); }

    // Checks that the gesture made exactly one step, nothing outside a step, and that undo gives
    // back the settings and the amplifier's bands byte for byte.
    void expectOneUndoableStep(const ModeImage& before, std::size_t stepsBefore,
                               const std::string& what) {
        SCOPED_TRACE(what);
        rig.run(20);
        EXPECT_EQ(rig.editor->edits().unscopedEdits(), 0);
        const ModeImage after = settingsOf(rig.editor->store());
        ASSERT_NE(after.bandImage, before.bandImage) << "the gesture changed a band";
        EXPECT_EQ(steps(), stepsBefore + 1) << "one gesture, one step";
        ASSERT_EQ(rig.editor->edits().undo(), EditPath::Sent::Differences);
        rig.settle();
        const ModeImage undone = settingsOf(rig.editor->store());
        EXPECT_EQ(undone.bandImage, before.bandImage);
        EXPECT_TRUE(sameSettings(undone, before));
        const AmpSettings amp = rig.sim.current();
        EXPECT_TRUE(
            std::equal(before.bandImage.begin(), before.bandImage.end(), amp.memory.begin()))
            << "the amplifier holds the bands as before";
    }

    // The list row and, while the band is selected, the boxes show the stored record.
    void expectShowsStore(int band) {
        const EqBankState s = readBank(rig.editor->store(), eq->bank());
        const BandValues v = shownValues(s.band(band), 31);
        QTableWidget* list = eq->bands()->list();
        EXPECT_EQ(list->item(band, 3)->text(), QString("%1Hz").arg(v.frequencyHz));
        EXPECT_EQ(list->item(band, 4)->text(), QString::asprintf("%.2f", double(v.q)));
        if (eq->bands()->selected() == band) {
            EXPECT_EQ(eq->bands()->frequencyEdit()->text(), QString("%1Hz").arg(v.frequencyHz));
        }
        const EqPanelBand& g = eq->graph()->band(band);
        EXPECT_EQ(g.frequency, v.frequencyHz);
        EXPECT_EQ(g.q, v.q);
    }

    EditorRig rig;
    CPage* page = nullptr;
    EqEditor* eq = nullptr;
};

} // namespace

TEST_P(OneEqEditor, EachGestureIsOneStepUndoneByteForByte) {
    const int band = GetParam().band;
    CEqPanel* graph = eq->graph();
    BandEditor* bands = eq->bands();

    // A list cell typed: one step, shown as stored.
    ModeImage before = settingsOf(rig.editor->store());
    std::size_t n = steps();
    ASSERT_TRUE(bands->list()->isVisible());
    ASSERT_TRUE(typeIntoCell(bands->list(), band, 3, "1234.6Hz"));
    EXPECT_EQ(readBank(rig.editor->store(), eq->bank()).band(band).frequency, 1235);
    expectShowsStore(band);
    expectOneUndoableStep(before, n, "list cell");
    expectShowsStore(band);

    // A drag on the graph in stepped moves, from press to release.
    before = settingsOf(rig.editor->store());
    n = steps();
    const QPoint from = handleOf(graph, band);
    QTest::mousePress(graph, Qt::LeftButton, {}, from);
    for (int k = 1; k <= 6; ++k) {
        QTest::mouseMove(graph, from + QPoint(5 * k, -4 * k));
        rig.run(5);
    }
    QTest::mouseRelease(graph, Qt::LeftButton, {}, from + QPoint(30, -24));
    QApplication::processEvents();
    EXPECT_EQ(bands->selected(), band) << "the dragged band is the selected one";
    expectShowsStore(band);
    expectOneUndoableStep(before, n, "drag");
    expectShowsStore(band);

    // The frequency box typed with the band selected.
    pickBand(graph, band);
    ASSERT_EQ(bands->selected(), band);
    before = settingsOf(rig.editor->store());
    n = steps();
    QLineEdit* box = bands->frequencyEdit();
    click(box, box->rect().center());
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "777");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(readBank(rig.editor->store(), eq->bank()).band(band).frequency, 777);
    expectShowsStore(band);
    expectOneUndoableStep(before, n, "box");

    // The frequency slider held and dragged.
    pickBand(graph, band);
    before = settingsOf(rig.editor->store());
    n = steps();
    CXBmpSlider* slider = bands->frequencySlider();
    dragBmpSlider(slider, slider->GetPos() + 4000, 6);
    expectShowsStore(band);
    expectOneUndoableStep(before, n, "slider");
}

INSTANTIATE_TEST_SUITE_P(MusicEffectsAndOutputs, OneEqEditor,
                         ::testing::Values(PageCase{PageKind::Music, 1, 3},
                                           PageCase{PageKind::Effects, 6, 2},
                                           PageCase{PageKind::Output, 5, 2},
                                           PageCase{PageKind::Output, kSubEqBank, 1}));
