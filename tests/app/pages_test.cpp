// The music and effects pages against the simulated amplifier.
#include "ui/info_popup.h"
#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "controls/small_eq_panel.h"
#include "editor_rig.h"
#include "pages/band_editor.h"
#include "pages/effects_page.h"
#include "pages/music_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

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

} // namespace

TEST(MusicPage, ChannelBEditsSendItsRecordsOnly) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    ASSERT_NE(page, nullptr);
    page->showBank(8);
    EXPECT_EQ(currentInputBank(), 8);
    EXPECT_EQ(page->graph()->band(7).frequency, 630.0f);
    rig.clearTrace();
    page->bands()->onListEdited(0, 2, "+3.5");
    rig.run(10);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{1, 15}}));
    EXPECT_EQ(rig.editor->store().band(1, 15).gain, 185);
    EXPECT_EQ(rig.sim.current().memory[7 * 15 + 1], 185);
}

TEST(MusicPage, GainBoxClampsAndTypeChoiceResetsGainAndQ) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    page->showBank(1);
    BandEditor* e = page->bands();
    page->graph()->setSelected(2);
    e->onGraphBandChanged(2);
    EXPECT_TRUE(e->editorShown());
    EXPECT_EQ(e->numberText()->text(), "3");
    e->gainEdit()->setText("+20");
    e->applyEdits();
    EXPECT_EQ(page->graph()->band(2).gain, 15.0f);
    EXPECT_EQ(e->gainEdit()->text(), "+15.0dB");
    EXPECT_EQ(rig.editor->store().band(1, 2).gain, 300);

    e->onTypeChosen(2); // LP
    EXPECT_EQ(page->graph()->band(2).gain, 0.0f);
    EXPECT_FLOAT_EQ(page->graph()->band(2).q, 0.7f);
    EXPECT_EQ(e->qEdit()->text(), "0.70");
    EXPECT_EQ(e->qSlider()->maximum(), 200);
    EXPECT_FALSE(e->gainSlider()->isEnabled());
    EXPECT_EQ(rig.editor->store().band(1, 2).type, 2);

    e->frequencyEdit()->setText("nonsense");
    e->applyEdits();
    EXPECT_GT(page->graph()->band(2).frequency, 0.0f) << "a frequency of 0 is ignored";
    page->graph()->emptyClick();
    EXPECT_FALSE(e->editorShown()) << "an empty click brings the list back";
}

TEST(MusicPage, EchoTimeRangeAndMuteWarnings) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogMusic* page = musicPage(rig);
    rig.editor->store().setCellFloat(61, 150.0f);
    page->showBank(1);
    page->selectParameter(5);
    EXPECT_EQ(page->valueSlider()->minimum(), 180);
    EXPECT_EQ(page->valueSlider()->maximum(), 260);
    EXPECT_EQ(page->valueSlider()->GetPos(), 180);

    rig.editor->store().setCellInt(84, 1);
    page->selectParameter(0);
    for (int v : {5, 6}) {
        if (rig.editor->infoPopup())
            rig.editor->infoPopup()->close();
        rig.run(10);
        page->setParameterValue(v);
        ASSERT_NE(rig.editor->infoPopup(), nullptr);
        EXPECT_EQ(rig.editor->infoPopup()->text(), "Reverb vol is mute") << "at every change";
    }
    EXPECT_EQ(rig.editor->store().cellInt(74), 6);
    EXPECT_EQ(rig.sim.dspValue(3, 15), std::vector<std::uint32_t>{floatBits(0.06f)});

    rig.clearTrace();
    page->selectParameter(5);
    page->setParameterValue(200);
    page->selectParameter(8);
    page->setParameterValue(3);
    rig.run(10);
    EXPECT_FLOAT_EQ(rig.editor->store().cellFloat(61), 200.0f);
    EXPECT_EQ(rig.sim.dspValue(2, 18), std::vector<std::uint32_t>{9600});
    EXPECT_EQ(rig.sim.dspValue(1, 39), std::vector<std::uint32_t>{2800}) << "mic shift 3 Hz";
    EXPECT_EQ(page->parameterText(8, 1), "Off");
    EXPECT_EQ(page->parameterText(2, 10), "536ms");
}

TEST(MusicPage, PortsRoutingMetersAndStatus) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    rig.clearTrace();
    page->button(1193)->click(); // port 2 to channel B
    emit page->portSlider(1057)->positionChanged(1057, 42);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(28), 0);
    EXPECT_EQ(rig.editor->store().cellInt(36), 100);
    const auto sent = rig.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], dspWriteRepeated(1, 34, floatBits(0.0f), 1));
    EXPECT_EQ(sent[1], dspWriteRepeated(1, 47, floatBits(1.0f), 1));
    EXPECT_EQ(sent[2], dspWriteRepeated(1, 57, floatBits(0.42f), 1));
    EXPECT_TRUE(page->button(1193)->isCurrent());
    EXPECT_FALSE(page->button(1192)->isCurrent());

    const std::array<std::uint8_t, 8> level = {10, 20, 30, 40, 200, 100, 0, 0x11};
    rig.editor->store().setLevelReport(level);
    page->statusTick();
    EXPECT_EQ(page->meter(0)->bands()[0].value, 200);
    EXPECT_EQ(page->meter(1)->bands()[0].value, 100);
    EXPECT_EQ(page->meter(5)->bands()[0].value, 40);
    EXPECT_EQ(page->formatText()->text(), "DOLBY");

    rig.clearTrace();
    page->button(1071)->click();
    rig.run(10);
    EXPECT_EQ(rig.sent().back(), shortCommand(CMD_MIC_PAIR, 1));
}

TEST(MusicPage, PreviewsOpenTheEffectsPageAndReturn) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    page->showBank(0);
    emit page->echoPreview()->clicked();
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music) << "music bank: nothing";
    page->showBank(8);
    emit page->reverbPreview()->clicked();
    rig.run(10);
    auto* efx = dynamic_cast<CDialogEfx*>(rig.view().currentPage());
    ASSERT_NE(efx, nullptr);
    EXPECT_EQ(efx->bank(), 9);
    EXPECT_EQ(efx->graph()->title(), QString::fromUtf8("混响通道B均衡"));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(efx->graph()->band(i).frequency,
                  float(rig.editor->store().band(3, 7 + i).frequency));

    rig.clearTrace();
    efx->bands()->onListEdited(0, 2, "-4");
    rig.run(10);
    EXPECT_EQ(bandsSent(rig.sent()), (std::vector<std::pair<int, int>>{{3, 7}}));
    EXPECT_EQ(rig.sim.current().memory[308 + 7 * 7 + 1], 110);

    efx->returnButton()->click();
    rig.run(10);
    auto* back = dynamic_cast<CDialogMusic*>(rig.view().currentPage());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(currentInputBank(), 8) << "back on the bank that was current";
}

TEST(MusicPage, StatusBarBypassAndResetAct) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogMusic* page = musicPage(rig);
    page->showBank(1);
    rig.clearTrace();
    rig.view().OnCommand(cmd::EqBypass);
    rig.run(10);
    EXPECT_EQ(rig.editor->store().cellInt(31), 1);
    EXPECT_TRUE(page->graph()->bypass());
    EXPECT_TRUE(rig.status().bypass()->isChecked());
    EXPECT_EQ(rig.sent().front(), dspWriteRepeated(1, 37, 1, 1));

    rig.editor->store().setBand(1, 3, BandRecord::encode(1, 9.0, 100, 1.41));
    rig.prompter.answers = {Answer::Yes};
    rig.view().OnCommand(cmd::EqReset);
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
