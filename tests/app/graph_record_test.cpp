// SPDX-License-Identifier: GPL-3.0-or-later
// One filter per band: after a drag on the EQ graph, the amplifier plays the coefficients
// designed from the record the store keeps, and the graph, the list and the boxes show that
// record, whatever pixel the pointer stopped on.
#include "edit_steps.h"
#include "editor_rig.h"
#include "eq/eq_curve.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/music_page.h"
#include "pages/output_page.h"
#include "params/biquad.h"
#include "params/codec.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

constexpr int kMainGroup = 5;

std::array<std::uint32_t, 5> designedFrom(const BandRecord& r) {
    const BandValues v = bandValues(r);
    return codec::coefficientWords(
        DesignBiquad(v.type, v.gainDb, v.frequencyHz, v.q, 0.0, kEqSampleRate));
}

// What the amplifier holds for record `record` of the group: its 7 bytes and its coefficients.
struct OnTheAmplifier {
    BandRecord record;
    std::vector<std::uint32_t> words;
};
OnTheAmplifier onTheAmplifier(EditorRig& rig, int group, int record) {
    rig.settle();
    const AmpSettings now = rig.sim.current();
    const int at = bandOffset(group, record);
    return {BandRecord::fromBytes(&now.memory[std::size_t(at)]), rig.sim.dspValue(group, record)};
}

// An EQ page's graph and band editor, and where its bands are kept.
struct EqUnderTest {
    CEqPanel* graph;
    BandEditor* bands;
    int group;
    int firstRecord;
};

// The band as stored, as played, as drawn and as listed are one filter.
void expectOneFilter(EditorRig& rig, const EqUnderTest& eq, int band, const std::string& what) {
    SCOPED_TRACE(what);
    const int record = eq.firstRecord + band;
    const BandRecord stored = rig.editor->store().band(eq.group, record);
    const OnTheAmplifier amp = onTheAmplifier(rig, eq.group, record);
    EXPECT_EQ(amp.record, stored) << "the amplifier's memory holds the stored record";
    const auto want = designedFrom(stored);
    EXPECT_EQ(amp.words, std::vector<std::uint32_t>(want.begin(), want.end()))
        << "the coefficients played are the stored record's";

    const EqPanelBand& g = eq.graph->band(band);
    const BandValues v = bandValues(stored);
    EXPECT_EQ(g.gain, v.gainDb);
    EXPECT_EQ(g.frequency, v.frequencyHz);
    EXPECT_EQ(g.q, v.q);

    QTableWidget* list = eq.bands->list();
    EXPECT_EQ(list->item(band, 3)->text(), QString("%1Hz").arg(stored.frequency));
    EXPECT_EQ(list->item(band, 4)->text(), QString::asprintf("%.2f", double(v.q)));
    EXPECT_EQ(eq.bands->frequencyEdit()->text(), QString("%1Hz").arg(stored.frequency));
}

// Diagonal drags of odd lengths in uneven steps stop between the grid's hertz and tenths; the
// left button moves frequency and gain, the right one Q. Returns the record at the end.
BandRecord dragAround(EditorRig& rig, const EqUnderTest& eq, int band) {
    CEqPanel* g = eq.graph;
    g->setMenuChooser([](const QPoint&) { return 0; });
    const QPoint moves[] = {{37, -23}, {-11, 17}, {5, 3}, {-29, -7}, {13, 0}, {0, 19}};
    int n = 0;
    for (const QPoint& by : moves) {
        const QPoint from = handleOf(g, band);
        drag(g, from, from + by, 3 + n % 4, Qt::LeftButton, [&rig] { rig.run(5); });
        rig.run(20);
        expectOneFilter(rig, eq, band, "left drag " + std::to_string(n));
        const QPoint at = handleOf(g, band);
        drag(g, at, at + QPoint(by.x() / 3 + (by.x() < 0 ? -4 : 4), 4), 2 + n % 3, Qt::RightButton,
             [&rig] { rig.run(5); });
        rig.run(20);
        expectOneFilter(rig, eq, band, "right drag " + std::to_string(n));
        ++n;
    }
    EXPECT_EQ(g->menusOpened(), 0) << "every right press moved";
    return rig.editor->store().band(eq.group, eq.firstRecord + band);
}

// A connected editor; bands are put into the store as a synchronisation would, then shown.
class GraphAndRecord : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.connect()); }
    template <class Page> void storeAndShow(Page* page, int group, int record, BandRecord r) {
        rig.editor->store().setBand(group, record, r);
        page->refresh();
        QApplication::processEvents();
    }
    EditorRig rig;
};

} // namespace

TEST_F(GraphAndRecord, EveryDragPlaysTheStoredRecord) {
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    const BandRecord start{150, 1000, 5000, 1};
    storeAndShow(page, kMainGroup, 6, start);
    const BandRecord end = dragAround(rig, {page->graph(), page->bands(), kMainGroup, 0}, 6);
    EXPECT_NE(end, start) << "the drags changed the band";

    // A full download designs the band from the same record: the amplifier keeps the same
    // filter (to the last bits of single precision).
    const Biquad pushed =
        DesignBiquad(end.type, end.gainDb(), end.frequency, end.qValue(), 0.0, kEqSampleRate);
    const BandValues v = bandValues(end);
    const Biquad edited = DesignBiquad(v.type, v.gainDb, v.frequencyHz, v.q, 0.0, kEqSampleRate);
    for (double hz : {20.0, 100.0, 1000.0, 5000.0, 15000.0})
        EXPECT_NEAR(sectionMagnitudeDb(pushed, hz), sectionMagnitudeDb(edited, hz), 1e-4) << hz;
}

TEST_F(GraphAndRecord, TheMicrophoneEqPlaysTheStoredRecordToo) {
    rig.view().showPage(PageKind::Music);
    auto* page = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(page, nullptr);
    // The page opens on microphone CH A: group 1 from record 0.
    const BandRecord start{150, 180, 2000, 1};
    storeAndShow(page, 1, 3, start);
    EXPECT_NE(dragAround(rig, {page->graph(), page->bands(), 1, 0}, 3), start);
}

TEST_F(GraphAndRecord, AnOffGridTypedValueIsStoredAsShown) {
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    storeAndShow(page, kMainGroup, 4, BandRecord{150, 100, 1410, 1});
    pickBand(page->graph(), 4);
    BandEditor* e = page->bands();
    const EqUnderTest eq{page->graph(), e, kMainGroup, 0};
    // 2042.6 Hz shows as 2043 Hz and is kept so; 5.0009 is kept as 5.001; 1.37 dB as 1.4 dB.
    retype(e->frequencyEdit(), "2042.6");
    retype(e->qEdit(), "5.0009");
    retype(e->gainEdit(), "1.37");
    rig.run(20);
    EXPECT_EQ(rig.editor->store().band(kMainGroup, 4), (BandRecord{164, 2043, 5001, 1}));
    expectOneFilter(rig, eq, 4, "typed");
}
