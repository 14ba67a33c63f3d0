// SPDX-License-Identifier: GPL-3.0-or-later
// The music and effects pages against the simulated amplifier, driven as a person drives them.
#include "app/status_bar.h"
#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "controls/small_eq_panel.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/band_editor.h"
#include "pages/effects_page.h"
#include "pages/music_page.h"
#include "ui/info_popup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

CDialogMusic* musicPage(EditorRig& rig) {
    rig.view().showPage(PageKind::Music);
    return dynamic_cast<CDialogMusic*>(rig.view().currentPage());
}

// Memory writes and coefficient writes of band records, as (group, record) pairs.
std::vector<std::pair<int, int>> bandsSent(const std::vector<Report>& sent) {
    std::vector<std::pair<int, int>> out;
    for (const Report& r : sent)
        if (r[1] == CMD_DSP_WRITE && r[5] == 5)
            out.push_back({r[3], r[4]});
    return out;
}

// A point of the graph no handle is near: low in the plot, left of the bands.
QPoint emptySpot(CEqPanel* g) {
    return QPoint(g->plotRect().left() + 6, g->plotRect().bottom() - 6);
}

} // namespace

TEST(MusicPage, ChannelBEditsSendItsRecordsOnly) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    ASSERT_NE(page, nullptr);
    click(page->button(1069)); // Mic CH B
    EXPECT_EQ(rig.editor->inputBank(), 8);
    EXPECT_TRUE(page->button(1069)->isCurrent());
    EXPECT_EQ(page->graph()->band(7).frequency, 630.0f);
    rig.clearTrace();
    ASSERT_TRUE(typeIntoCell(page->bands()->list(), 0, 2, "+3.5"));
    rig.run(10);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{1, 15}}));
    EXPECT_EQ(rig.editor->store().band(1, 15).gain, 185);
    EXPECT_EQ(rig.sim.current().memory[7 * 15 + 1], 185);
    EXPECT_EQ(page->bands()->list()->item(0, 2)->text(), "+3.5dB");

    // The type drop-down of the list.
    rig.clearTrace();
    ASSERT_TRUE(chooseInCell(page->bands()->list(), 2, 1, QString::fromUtf8("高架"))); // HS
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(1, 17).type, 5);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{1, 17}}));
    EXPECT_EQ(page->bands()->list()->item(2, 1)->text(), QString::fromUtf8("高架"));
}

TEST(MusicPage, GainBoxClampsAndTypeChoiceResetsGainAndQ) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    click(page->button(1068)); // Mic CH A
    BandEditor* e = page->bands();
    CEqPanel* g = page->graph();
    pickBand(g, 2);
    ASSERT_EQ(g->selected(), 2);
    EXPECT_TRUE(e->editorShown());
    EXPECT_EQ(e->numberText()->text(), "3");
    retype(e->gainEdit(), "+20");
    EXPECT_EQ(g->band(2).gain, 15.0f);
    EXPECT_EQ(e->gainEdit()->text(), "+15.0dB");
    EXPECT_EQ(rig.editor->store().band(1, 2).gain, 300);

    // The gain slider, dragged down to about -6 dB.
    const int gain = dragBmpSlider(e->gainSlider(), -60);
    EXPECT_NEAR(gain, -60, 2);
    EXPECT_EQ(e->gainEdit()->text(), QString::asprintf("%+-.1fdB", gain / 10.0));
    EXPECT_EQ(rig.editor->store().band(1, 2).gain, BandRecord::encode(1, gain / 10.0, 100, 1).gain);

    // The Q cell of the list, typed (the editor gives way to the list after an empty click).
    click(g, emptySpot(g));
    ASSERT_TRUE(typeIntoCell(e->list(), 2, 4, "2.5"));
    EXPECT_EQ(rig.editor->store().band(1, 2).q, 2500);
    EXPECT_EQ(e->list()->item(2, 4)->text(), "2.50");
    pickBand(g, 2);
    ASSERT_TRUE(e->editorShown());

    clickBox(e->radio(2)); // LP
    EXPECT_EQ(g->band(2).gain, 0.0f);
    EXPECT_FLOAT_EQ(g->band(2).q, 0.7f);
    EXPECT_EQ(e->qEdit()->text(), "0.70");
    EXPECT_EQ(e->qSlider()->maximum(), 200);
    EXPECT_FALSE(e->gainSlider()->isEnabled());
    EXPECT_EQ(rig.editor->store().band(1, 2).type, 2);

    const float f = g->band(2).frequency;
    retype(e->frequencyEdit(), "nonsense");
    EXPECT_EQ(g->band(2).frequency, f) << "a frequency of 0 is ignored";

    // The Q slider, dragged: the edit box, the graph and the store follow it.
    rig.clearTrace();
    const int q = dragBmpSlider(e->qSlider(), 150);
    rig.run(10);
    EXPECT_NEAR(q, 150, 3);
    EXPECT_EQ(e->qEdit()->text(), QString::asprintf("%.2f", q / 100.0));
    EXPECT_NEAR(rig.editor->store().band(1, 2).q, q * 10, 1);
    EXPECT_FALSE(bandsSent(rig.sent()).empty());

    click(g, emptySpot(g));
    EXPECT_FALSE(e->editorShown()) << "an empty click brings the list back";
}

TEST(MusicPage, EchoTimeRangeAndMuteWarnings) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    ParameterStore& s = rig.editor->store();
    s.setCellFloat(61, 150.0f);
    s.setCellInt(74, 4);
    s.setCellInt(84, 1);
    CDialogMusic* page = musicPage(rig);
    click(page->button(1068));
    QTableWidget* list = page->parameters();
    clickCell(list, 5, 0);
    EXPECT_EQ(page->valueSlider()->minimum(), 180);
    EXPECT_EQ(page->valueSlider()->maximum(), 260);
    EXPECT_EQ(page->valueSlider()->GetPos(), 180);

    // Arrow keys while the list has the focus; the mute warning at every change.
    clickCell(list, 0, 0);
    for (int v : {5, 6}) {
        rig.run(1200); // the popup closes itself
        QTest::keyClick(list, Qt::Key_Right);
        ASSERT_NE(rig.editor->infoPopup(), nullptr);
        EXPECT_EQ(rig.editor->infoPopup()->text(), "Reverb vol is mute") << "at every change";
        EXPECT_EQ(s.cellInt(74), v);
    }
    rig.run(10);
    EXPECT_EQ(rig.sim.dspValue(3, 15), std::vector<std::uint32_t>{floatBits(0.06f)});

    // The value slider, dragged.
    clickCell(list, 5, 0);
    const int t = dragBmpSlider(page->valueSlider(), 200);
    clickCell(list, 8, 0);
    const int shift = dragBmpSlider(page->valueSlider(), 3);
    rig.run(10);
    EXPECT_NEAR(t, 200, 2);
    EXPECT_FLOAT_EQ(s.cellFloat(61), float(t));
    EXPECT_EQ(rig.sim.dspValue(2, 18), std::vector<std::uint32_t>{std::uint32_t(t * 48)});
    EXPECT_EQ(shift, 3);
    EXPECT_EQ(rig.sim.dspValue(1, 39), std::vector<std::uint32_t>{2800}) << "mic shift 3 Hz";
    EXPECT_EQ(list->item(8, 1)->text(), "3Hz");
    EXPECT_EQ(page->parameterText(8, 1), "Off");
    EXPECT_EQ(page->parameterText(2, 10), "536ms");

    // The wheel over the list while it has the focus.
    clickCell(list, 6, 0);
    const int start = page->parameterValue(6);
    wheelOver(list, -1);
    EXPECT_EQ(page->parameterValue(6), start - 1);
}

TEST(MusicPage, PortsRoutingMetersAndStatus) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    rig.clearTrace();
    click(page->button(1193)); // port 2 to channel B
    const int volume = dragBmpSlider(page->portSlider(1057), 42);
    rig.run(10);
    EXPECT_NEAR(volume, 42, 2);
    EXPECT_EQ(rig.editor->store().cellInt(28), 0);
    EXPECT_EQ(rig.editor->store().cellInt(36), 100);
    EXPECT_EQ(rig.editor->store().cellInt(46), volume);
    const auto sent = rig.sent();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], dspWriteRepeated(1, 34, floatBits(0.0f), 1));
    EXPECT_EQ(sent[1], dspWriteRepeated(1, 47, floatBits(1.0f), 1));
    EXPECT_EQ(sent.back(), dspWriteRepeated(1, 57, floatBits(float(volume / 100.0)), 1));
    EXPECT_TRUE(page->button(1193)->isCurrent());
    EXPECT_FALSE(page->button(1192)->isCurrent());

    // The level poll feeds the meters and the status panel (the simulator turns to Dolby
    // after 8 s).
    ASSERT_TRUE(rig.runUntil([&] { return page->formatText()->text() == "DOLBY"; }, 20000));
    const auto level = rig.editor->store().levelReport();
    const int music = std::min(230, int(level[4])), port4 = std::min(230, int(level[3]));
    EXPECT_LE(page->meter(0)->bands()[0].value, music);
    EXPECT_GE(page->meter(0)->bands()[0].value, music - 30);
    EXPECT_LE(page->meter(5)->bands()[0].value, port4);
    EXPECT_GE(page->meter(5)->bands()[0].value, port4 - 30);

    rig.clearTrace();
    click(page->button(1071));
    rig.run(10);
    EXPECT_EQ(rig.lastSent(), shortCommand(CMD_MIC_PAIR, 1));
}

TEST(MusicPage, PreviewsOpenTheEffectsPageAndReturn) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    click(page->button(1070)); // Music
    click(page->echoPreview());
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music) << "music bank: nothing";
    click(page->button(1069));
    click(page->reverbPreview());
    rig.run(10);
    auto* efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    EXPECT_EQ(efx->bank(), 9);
    EXPECT_EQ(efx->graph()->title(), QString::fromUtf8("混响通道B均衡"));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(efx->graph()->band(i).frequency,
                  float(rig.editor->store().band(3, 7 + i).frequency));

    rig.clearTrace();
    ASSERT_TRUE(typeIntoCell(efx->bands()->list(), 0, 2, "-4"));
    rig.run(10);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{3, 7}}));
    EXPECT_EQ(rig.sim.current().memory[308 + 7 * 7 + 1], 110);

    // A drag on the effects graph sends the band of its group.
    rig.clearTrace();
    const QPoint h = handleOf(efx->graph(), 3);
    drag(efx->graph(), h, h + QPoint(40, -30));
    rig.run(10);
    ASSERT_FALSE(bandsSent(rig.sent()).empty());
    EXPECT_EQ(bandsSent(rig.sent()).back(), (std::pair<int, int>{3, 10}));
    EXPECT_EQ(rig.editor->store().band(3, 10).frequency,
              std::uint16_t(efx->graph()->band(3).frequency));

    click(efx->returnButton());
    rig.run(10);
    auto* back = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(rig.editor->inputBank(), 8) << "back on the bank that was current";
}

TEST(MusicPage, StatusBarBypassAndResetAct) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    click(page->button(1068));
    rig.clearTrace();
    clickBox(rig.status().bypass());
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(31), 1);
    EXPECT_TRUE(page->graph()->bypass());
    EXPECT_TRUE(rig.status().bypass()->isChecked());
    EXPECT_EQ(rig.firstSent(), dspWriteRepeated(1, 37, 1, 1));

    rig.editor->store().setBand(1, 3, BandRecord::encode(1, 9.0, 100, 1.41));
    rig.prompter.answers = {Answer::Yes};
    click(rig.status().resetEq(), rig.status().resetEq()->rect().center());
    EXPECT_EQ(rig.editor->store().band(1, 3).gain, 150);
    EXPECT_EQ(page->graph()->band(3).gain, 0.0f);
}

TEST(MusicPage, LanguageRelabelsTheLists) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    CDialogMusic* page = musicPage(rig);
    rig.editor->setLanguageIndex(kEnglish);
    EXPECT_EQ(page->parameters()->item(5, 0)->text(), "Echo Time");
    EXPECT_EQ(page->bands()->list()->horizontalHeaderItem(2)->text(), "Gain");
    EXPECT_EQ(page->button(1069)->text(), "Mic CH B");
    EXPECT_EQ(page->graph()->title(), "CH A Mic EQ");
    rig.editor->setLanguageIndex(kChinese);
    EXPECT_EQ(page->parameters()->item(5, 0)->text(), QString::fromUtf8("回声间隔"));
    EXPECT_EQ(page->bands()->list()->item(0, 1)->text(), QString::fromUtf8("参量"));
}

TEST(MusicPage, FixedBandsAreFixedOnlyOnTheGraph) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore& s = rig.editor->store();
    CDialogMusic* page = musicPage(rig);
    QTableWidget* list = page->bands()->list();
    // Band 8 of each input bank takes a typed frequency.
    for (auto [button, group, first] :
         {std::tuple{1070, 4, 0}, std::tuple{1069, 1, 15}, std::tuple{1068, 1, 0}}) {
        click(page->button(button));
        rig.clearTrace();
        ASSERT_TRUE(typeIntoCell(list, 7, 3, "1000"));
        rig.run(10);
        EXPECT_EQ(s.band(group, first + 7).frequency, 1000) << button;
        EXPECT_EQ(list->item(7, 3)->text(), "1000Hz");
        EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{group, first + 7}}))
            << "sent once, as typed";
    }
    ASSERT_TRUE(typeIntoCell(list, 7, 3, "5"));
    EXPECT_EQ(s.band(1, 7).frequency, 20) << "raised to 20 Hz";

    // Band 11 through the edit box and the slider.
    CEqPanel* g = page->graph();
    BandEditor* e = page->bands();
    pickBand(g, 10);
    ASSERT_EQ(g->selected(), 10);
    retype(e->frequencyEdit(), "3000");
    EXPECT_EQ(s.band(1, 10).frequency, 3000);
    EXPECT_EQ(e->frequencyEdit()->text(), "3000Hz");
    const int f = dragBmpSlider(e->frequencySlider(), 8000);
    EXPECT_NEAR(f, 8000, 200);
    EXPECT_EQ(s.band(1, 10).frequency, f);
    EXPECT_EQ(g->band(10).frequency, float(f));

    // On the graph it stays where the bank holds it; its gain still moves.
    const QPoint h = handleOf(g, 10);
    drag(g, h, h + QPoint(60, -25));
    EXPECT_EQ(g->band(10).frequency, 2500.0f);
    EXPECT_GT(g->band(10).gain, 0.0f);
    EXPECT_EQ(s.band(1, 10).frequency, 2500);
}

TEST(MusicPage, AStoredFrequencyOf0ShowsAs20Hz) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    ParameterStore& s = rig.editor->store();
    BandRecord zero = BandRecord::encode(1, 2.0, 100, 1.41);
    zero.frequency = 0;
    for (int i = 0; i < 15; ++i)
        s.setBand(1, i, zero);
    for (int i = 0; i < 7; ++i)
        s.setBand(3, i, zero);
    CDialogMusic* page = musicPage(rig);
    click(page->button(1069));
    click(page->button(1068)); // shows channel A from the store
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(page->graph()->band(i).frequency, 20.0f) << i;
        EXPECT_EQ(page->bands()->list()->item(i, 3)->text(), "20Hz") << i;
    }
    EXPECT_EQ(page->reverbPreview()->band(0).frequency, 20.0f);
    click(page->reverbPreview());
    auto* efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    EXPECT_EQ(efx->bands()->list()->item(6, 3)->text(), "20Hz");
}

TEST(MusicPage, TheShownBanksOwnButtonKeepsWhatIsBeingTyped) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    click(page->button(1068));
    pickBand(page->graph(), 4);
    retype(page->bands()->gainEdit(), "+4.4", false);
    click(page->button(1068));
    EXPECT_EQ(page->bands()->gainEdit()->text(), "+4.4");
    EXPECT_TRUE(page->bands()->editorShown());
    click(page->button(1069));
    EXPECT_EQ(rig.editor->inputBank(), 8);
    EXPECT_FALSE(page->bands()->editorShown());
}

TEST(EffectsPage, TellsWhatIsEditedAndHowToReturn) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogMusic* page = musicPage(rig);
    click(page->button(1068));
    click(page->echoPreview());
    auto* efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    EXPECT_TRUE(efx->infoText()->isVisible());
    const QString en = efx->infoText()->text();
    EXPECT_TRUE(en.contains("CH A Echo EQ")) << en.toStdString();
    EXPECT_TRUE(en.contains("echo of Mic CH A")) << en.toStdString();
    EXPECT_TRUE(en.contains("goes back to the music page, on Mic CH A")) << en.toStdString();
    EXPECT_LE(efx->infoText()->sizeHint().height(), efx->infoText()->height() + 4)
        << "the text fits its card";

    rig.editor->setLanguageIndex(kChinese);
    const QString zh = efx->infoText()->text();
    EXPECT_TRUE(zh.contains(QString::fromUtf8("回声通道A均衡"))) << zh.toStdString();
    EXPECT_TRUE(zh.contains(QString::fromUtf8("返回"))) << zh.toStdString();

    click(efx->returnButton());
    auto* back = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(back, nullptr);
    click(back->button(1069));
    click(back->reverbPreview());
    efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    EXPECT_TRUE(efx->infoText()->text().contains(QString::fromUtf8("话筒通道B的混响")));
}
