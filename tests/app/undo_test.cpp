// SPDX-License-Identifier: GPL-3.0-or-later
// Undo, redo, A/B and compare as a user reaches them: drags, clicks, keys and menu entries.
#include "app/ribbon.h"
#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/up_down.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/music_page.h"
#include "pages/output_page.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_names.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace q7;
using namespace q7::test;

namespace {

std::vector<std::uint8_t> bandMemory(EditorRig& rig) {
    const AmpSettings s = rig.sim.current();
    return {s.memory.begin(), s.memory.begin() + kBandImageSize};
}

} // namespace

TEST(Undo, DragsClicksAndKeysAreUndoneAndRedoneOnTheAmplifierToo) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    const ModeImage start = settingsOf(rig.editor->store());
    const auto startMemory = bandMemory(rig);
    const auto startMix = rig.sim.dspValue(5, 28);

    // Three steps: a band dragged in many moves, a mix slider dragged, a mute clicked.
    const QPoint h = handleOf(page->graph(), 2);
    drag(page->graph(), h, h + QPoint(20, -30), 8);
    dragBmpSlider(page->mixSlider(0), 20);
    clickBox(page->muteBox(1045));
    rig.run(50);
    const ModeImage end = settingsOf(rig.editor->store());
    const auto endMemory = bandMemory(rig);
    ASSERT_FALSE(sameSettings(start, end));
    EXPECT_EQ(rig.editor->edits().history().size(), 3u);

    key(rig, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rig.editor->store().cellInt(108), start.cells[108]) << "the mute came back first";
    EXPECT_EQ(rig.ribbon().action(cmd::Redo)->isEnabled(), true);
    key(rig, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rig.sim.dspValue(5, 28), startMix) << "the mix level is back on the amplifier";
    // The menu names the step it would undo, and does it.
    QAction* undo = rig.ribbon().action(cmd::Undo);
    EXPECT_TRUE(undo->text().startsWith("Undo MAIN EQ band 3")) << undo->text().toStdString();
    undo->trigger();
    rig.run(50);
    EXPECT_TRUE(sameSettings(start, settingsOf(rig.editor->store())));
    EXPECT_EQ(bandMemory(rig), startMemory);
    EXPECT_FALSE(rig.ribbon().action(cmd::Undo)->isEnabled());
    EXPECT_EQ(page->graph()->band(2).gain,
              float(BandRecord::fromBytes(&start.bandImage[511 + 14]).gainDb()))
        << "the graph shows the undone band";

    key(rig, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    key(rig, Qt::Key_Y, Qt::ControlModifier);
    key(rig, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(sameSettings(end, settingsOf(rig.editor->store())));
    EXPECT_EQ(bandMemory(rig), endMemory);
    EXPECT_FALSE(rig.ribbon().action(cmd::Redo)->isEnabled());

    // History survives a page change; a synchronisation starts a new one.
    rig.view().showPage(PageKind::Music);
    key(rig, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rig.editor->store().cellInt(108), start.cells[108]);
    rig.view().StartSynchronisation();
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(rig.ribbon().action(cmd::Undo)->isEnabled());
}

TEST(Undo, AAndBOnTheRibbonSwitchWhatTheAmplifierPlays) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    QToolButton* a = rig.ribbon().slotButton(kInputCategory, cmd::SlotA);
    QToolButton* b = rig.ribbon().slotButton(kInputCategory, cmd::SlotB);
    EXPECT_TRUE(a->isChecked());
    const auto memoryA = bandMemory(rig);

    click(b);
    rig.run(50);
    EXPECT_TRUE(b->isChecked());
    EXPECT_FALSE(a->isChecked());
    const QPoint h = handleOf(page->graph(), 5);
    drag(page->graph(), h, h + QPoint(0, 40), 6);
    rig.run(50);
    const auto memoryB = bandMemory(rig);
    ASSERT_NE(memoryA, memoryB);

    rig.clearTrace();
    click(a);
    rig.run(50);
    EXPECT_EQ(bandMemory(rig), memoryA);
    EXPECT_LE(rig.sent().size(), 4u) << "only the band that differs";
    EXPECT_TRUE(a->isChecked());

    // Compare A/B lists the one band that differs.
    rig.ribbon().action(cmd::CompareAB)->trigger();
    rig.run(20);
    auto* list = rig.frame().findChild<QListWidget*>("CompareList");
    ASSERT_NE(list, nullptr);
    EXPECT_GE(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().contains(QString::fromUtf8("第6段")))
        << list->item(0)->text().toStdString();
    list->window()->close();

    // Copy A→B, then B plays what A plays.
    click(rig.ribbon().slotButton(kInputCategory, cmd::CopyAB));
    click(b);
    rig.run(50);
    EXPECT_EQ(bandMemory(rig), memoryA);
}

TEST(Undo, OfflineEditsMarkTheTitleAndTheClosingPromptOffersToSave) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.editor->setLanguageIndex(kEnglish);
    const QString path = rig.dir.filePath("venue.q7M");
    ASSERT_TRUE(test::writeStartSettings(path));
    ASSERT_TRUE(rig.editor->shellOpen(path));
    rig.run(20);
    EXPECT_FALSE(rig.frame().windowTitle().endsWith("*"));

    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    dragBmpSlider(page->mixSlider(1), 40);
    rig.run(20);
    EXPECT_TRUE(rig.frame().windowTitle().endsWith("venue.q7M *"))
        << rig.frame().windowTitle().toStdString();
    EXPECT_TRUE(rig.sent().empty());

    // Yes saves to the file the settings came from, without asking for a name.
    rig.prompter.answers = {Answer::Yes};
    EXPECT_TRUE(rig.view().canClose());
    EXPECT_TRUE(rig.prompter.saveNames.empty());
    ParameterStore saved;
    ASSERT_TRUE(readModeFile(path.toStdString(), saved));
    EXPECT_EQ(saved.cellInt(93), rig.editor->store().cellInt(93));
    EXPECT_NE(saved.cellInt(93), 0);
}

TEST(Undo, AnEqCopiedFromTheGraphsMenuIsOneStepAndReachesTheAmplifier) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    ParameterStore& s = rig.editor->store();
    const QPoint h = handleOf(page->graph(), 1);
    drag(page->graph(), h, h + QPoint(10, 30), 5);
    const ModeImage before = settingsOf(s);

    // A right click away from the bands offers the other outputs.
    QTest::mouseClick(page->graph(), Qt::RightButton, Qt::NoModifier,
                      QPoint(page->graph()->width() - 40, 30));
    QMenu* menu = page->copyMenu();
    ASSERT_NE(menu, nullptr);
    QStringList targets;
    QAction* rear = nullptr;
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && !a->objectName().startsWith("eqTool:")) {
            targets << a->text();
            if (a->text() == "Rear EQ")
                rear = a;
        }
    EXPECT_EQ(targets, (QStringList{"Rear EQ", "Center EQ", "Top EQ"}));
    ASSERT_NE(rear, nullptr);
    rear->trigger();
    rig.run(50);
    for (int b = 0; b < 10; ++b) {
        EXPECT_EQ(s.band(6, b), s.band(5, b)) << b;
        const AmpSettings amp = rig.sim.current();
        EXPECT_EQ(BandRecord::fromBytes(&amp.memory[std::size_t(bandOffset(6, b))]), s.band(5, b));
    }
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().action(cmd::Undo)->text().startsWith("Undo Copy Main EQ → Rear EQ"))
        << rig.ribbon().action(cmd::Undo)->text().toStdString();
    key(rig, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(sameSettings(before, settingsOf(s))) << "the copy is one step";
}

TEST(Undo, MicChannelACopiedToBKeepsTheFixedShelves) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    s.setBand(1, 7, BandRecord::encode(filter::LowShelf, 3.0, 500, 0.707));
    s.setBand(1, 15 + 7, BandRecord::encode(filter::LowShelf, 0.0, 630, 0.707));
    rig.view().showPage(PageKind::Music);
    auto* page = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(page->eqShown(), (std::pair{1, 0}));
    QTest::mouseClick(page->graph(), Qt::RightButton, Qt::NoModifier,
                      QPoint(page->graph()->width() - 40, 30));
    ASSERT_NE(page->copyMenu(), nullptr);
    QAction* toB = nullptr;
    for (QAction* a : page->copyMenu()->actions())
        if (!a->isSeparator() && !a->objectName().startsWith("eqTool:"))
            toB = a;
    ASSERT_NE(toB, nullptr);
    toB->trigger();
    rig.run(50);
    EXPECT_EQ(s.band(1, 15 + 3), s.band(1, 3));
    EXPECT_DOUBLE_EQ(s.band(1, 15 + 7).gainDb(), 3.0);
    EXPECT_EQ(s.band(1, 15 + 7).frequency, 630) << "a fixed band keeps its frequency";
}

namespace {

// What the amplifier's memory and DSP words hold, minus the words a bypassed microphone shift
// ignores (they keep whatever was last sent).
struct AmpView {
    std::vector<std::uint8_t> memory;
    std::map<std::uint16_t, std::vector<std::uint32_t>> dsp;
    bool operator==(const AmpView&) const = default;
};

AmpView ampView(EditorRig& rig) {
    const AmpSettings s = rig.sim.current();
    AmpView v{{s.memory.begin(), s.memory.end()}, s.dsp};
    // Band coefficients are designed from the graph's unrounded values while it is dragged, so a
    // drag that ends on the record it started from may leave other low bits: the bands are
    // compared by their records in memory.
    std::erase_if(v.dsp, [](const auto& entry) {
        const EqGroup* g = eqGroup(entry.first >> 8);
        return g && (entry.first & 0xFF) < g->records;
    });
    for (auto [bypass, first] : {std::pair{40, 38}, std::pair{53, 51}}) {
        auto it = v.dsp.find(std::uint16_t(1 << 8 | bypass));
        if (it != v.dsp.end() && !it->second.empty() && it->second[0] == 1) {
            v.dsp.erase(std::uint16_t(1 << 8 | first));
            v.dsp.erase(std::uint16_t(1 << 8 | (first + 1)));
        }
    }
    return v;
}

// One thing a person might do on a page: drag a slider or a band, click a box or a spin arrow.
void randomAction(EditorRig& rig, CPage* page, std::mt19937& rng) {
    auto pick = [&](int n) { return int(rng() % unsigned(std::max(1, n))); };
    auto usable = [](QWidget* w) { return w->isVisible() && w->isEnabled(); };
    std::vector<CXBmpSlider*> sliders;
    for (CXBmpSlider* s : page->findChildren<CXBmpSlider*>())
        if (usable(s))
            sliders.push_back(s);
    std::vector<QCheckBox*> boxes;
    for (QCheckBox* b : page->findChildren<QCheckBox*>())
        if (usable(b))
            boxes.push_back(b);
    std::vector<UpDown*> spins;
    for (UpDown* u : page->findChildren<UpDown*>())
        if (usable(u))
            spins.push_back(u);
    std::vector<CEqPanel*> graphs;
    for (CEqPanel* g : page->findChildren<CEqPanel*>())
        if (usable(g))
            graphs.push_back(g);
    switch (pick(4)) {
    case 0:
        if (!sliders.empty()) {
            CXBmpSlider* s = sliders[std::size_t(pick(int(sliders.size())))];
            dragBmpSlider(s, s->minimum() + pick(s->maximum() - s->minimum() + 1));
        }
        break;
    case 1:
        if (!boxes.empty())
            clickBox(boxes[std::size_t(pick(int(boxes.size())))]);
        break;
    case 2:
        if (!spins.empty())
            clickSpin(spins[std::size_t(pick(int(spins.size())))], pick(2) == 0, 1 + pick(3));
        break;
    default:
        if (!graphs.empty()) {
            CEqPanel* g = graphs[std::size_t(pick(int(graphs.size())))];
            const int band = pick(std::min(5, g->bandCount()));
            const QPoint h = handleOf(g, band);
            drag(g, h, h + QPoint(pick(61) - 30, pick(61) - 30), 5);
        }
        break;
    }
    rig.run(20);
}

} // namespace

TEST(Undo, RandomInputOnEveryPageUndoneLeavesStoreAndAmplifierAsTheyWere) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    // The amplifier first holds what the editor sends for these settings, not factory words.
    rig.view().StartDownload();
    ASSERT_TRUE(rig.connect());
    std::mt19937 rng(2026);
    const ModeImage start = settingsOf(rig.editor->store());
    const AmpView ampStart = ampView(rig);
    const std::pair<PageKind, int> pages[] = {{PageKind::Music, 0},   {PageKind::Effects, 6},
                                              {PageKind::Output, 5},  {PageKind::Output, 2},
                                              {PageKind::Output, 11}, {PageKind::Compressor, 0},
                                              {PageKind::Delay, 0},   {PageKind::Location, 0}};
    for (auto [kind, bank] : pages) {
        rig.view().showPage(kind, bank);
        CPage* page = rig.view().currentPage();
        ASSERT_NE(page, nullptr);
        for (int i = 0; i < 6; ++i)
            randomAction(rig, page, rng);
    }
    const ModeImage end = settingsOf(rig.editor->store());
    const AmpView ampEnd = ampView(rig);
    ASSERT_FALSE(sameSettings(start, end));

    int undone = 0;
    while (rig.ribbon().action(cmd::Undo)->isEnabled() && undone < 200) {
        key(rig, Qt::Key_Z, Qt::ControlModifier);
        ++undone;
    }
    EXPECT_GT(undone, 10);
    EXPECT_TRUE(sameSettings(start, settingsOf(rig.editor->store())));
    EXPECT_TRUE(ampView(rig).memory == ampStart.memory);
    // Words the start never had (a crossover's coefficients, first written by an edit) stay.
    for (const auto& [k, w] : ampStart.dsp)
        if (ampView(rig).dsp[k] != w)
            ADD_FAILURE() << "dsp " << (k >> 8) << "," << (k & 0xFF);

    while (rig.ribbon().action(cmd::Redo)->isEnabled())
        key(rig, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(sameSettings(end, settingsOf(rig.editor->store())));
    for (const Difference& d : differences(end, settingsOf(rig.editor->store())))
        ADD_FAILURE() << describe(d, true);
    for (const Change::Cell& c : Change::between(end, settingsOf(rig.editor->store())).cells)
        ADD_FAILURE() << "cell " << c.index << " " << bitsFloat(c.before) << " "
                      << bitsFloat(c.after);
    EXPECT_TRUE(ampView(rig).memory == ampEnd.memory);
    for (std::size_t i = 0; i < ampEnd.memory.size(); ++i)
        if (ampView(rig).memory[i] != ampEnd.memory[i])
            ADD_FAILURE() << "memory " << i;
}
