// SPDX-License-Identifier: GPL-3.0-or-later
// The "Measure…" dialog against the simulated amplifier and its room, driven as a user does:
// the level check, a sweep, the result over the graph, cancel and an unplugged amplifier, with
// the amplifier's mutes read back from the simulator after each.
#include "app/edit_steps.h"
#include "app/editor_rig.h"
#include "controls/eq_panel.h"
#include "measure/speakers.h"
#include "pages/eq_tools.h"
#include "pages/measure_dialog.h"
#include "pages/output_page.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

using namespace q7;
using namespace q7::test;

namespace {

// Right-clicks the graph away from its bands and clicks "Measure…".
CMeasureDlg* openFromGraph(EditorRig& rig, CPage* page) {
    CEqPanel* g = page->eqGraph();
    QTest::mouseClick(g, Qt::RightButton, Qt::NoModifier, QPoint(g->width() - 40, 30));
    QMenu* menu = page->copyMenu();
    if (!menu || !menu->isVisible())
        return nullptr;
    for (QAction* a : menu->actions())
        if (a->objectName() == "eqTool:measure") {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                              menu->actionGeometry(a).center());
            rig.run(10);
            return page->findChild<CMeasureDlg*>("MeasureDialog");
        }
    return nullptr;
}

void typeInto(QAbstractSpinBox* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

// What the amplifier holds in every output group's mute words.
std::vector<std::vector<std::uint32_t>> muteWords(EditorRig& rig) {
    std::vector<std::vector<std::uint32_t>> out;
    for (const DspWords& w : soloWords({}))
        out.push_back(rig.sim.dspValue(w.module, w.parameter));
    return out;
}

std::vector<std::vector<std::uint32_t>> wordsOf(const std::vector<DspWords>& words) {
    std::vector<std::vector<std::uint32_t>> out;
    for (const DspWords& w : words)
        out.push_back(w.words);
    return out;
}

bool finish(EditorRig& rig, CMeasureDlg* dlg) {
    return rig.runUntil([dlg] { return !dlg->busy(); }, 120000);
}

// An amplifier connected and the dialog opened from the Main output's graph.
class MeasureDialog : public ::testing::Test {
protected:
    EditorRig rig;
    CDialogOutput* page = nullptr;
    QPointer<CMeasureDlg> dlg;

    void open(int language) {
        ASSERT_TRUE(rig.connect());
        rig.editor->setLanguageIndex(language);
        page = mainOutput(rig);
        ASSERT_NE(page, nullptr);
        dlg = openFromGraph(rig, page);
        ASSERT_NE(dlg, nullptr);
    }
    // Once the link is quiet: every output plays as before the measurement.
    bool allPlaying() {
        rig.settle();
        return muteWords(rig) == wordsOf(soloWords({0, 1, 2, 3, 4, 5, 6, 7}));
    }
    // The amplifier plugged in again: the mutes the closed dialog kept aside go back.
    void plugBackAndExpectEveryOutputPlaying() {
        rig.sim.plug();
        ASSERT_TRUE(rig.connect());
        EXPECT_TRUE(rig.runUntil(
            [&] {
                return muteWords(rig) == wordsOf(soloWords({0, 1, 2, 3, 4, 5, 6, 7}));
            },
            5000))
            << "every output plays again";
        EXPECT_TRUE(allPlaying());
    }
    bool sweeping() {
        return rig.runUntil([this] { return dlg->progressBar()->value() > 50; }, 30000);
    }
};

} // namespace

TEST_F(MeasureDialog, MeasuresASpeakerOfTheSimulatedRoomAndPutsEveryMuteBack) {
    open(kEnglish);
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->playBox()->currentText(), "Simulated amplifier input");
    EXPECT_EQ(dlg->recordBox()->currentText(), "Simulated measurement microphone");
    EXPECT_EQ(dlg->speakerBox()->currentText(), "Main left");
    EXPECT_FALSE(dlg->connectionLabel()->isVisible());
    EXPECT_FALSE(dlg->saveButton()->isEnabled());
    typeInto(dlg->secondsBox(), "1");
    EXPECT_EQ(dlg->secondsBox()->value(), 1.0);

    // The level check: only the measured speaker plays while it runs.
    rig.click(dlg->checkButton());
    ASSERT_TRUE(dlg->busy());
    EXPECT_FALSE(dlg->measureButton()->isEnabled());
    EXPECT_TRUE(dlg->cancelButton()->isEnabled());
    ASSERT_TRUE(rig.runUntil([&] { return muteWords(rig) == wordsOf(soloWords({0})); }, 10000))
        << "the other outputs are muted for the burst";
    ASSERT_TRUE(finish(rig, dlg));
    ASSERT_TRUE(dlg->level().has_value());
    EXPECT_NE(dlg->level()->advice, LevelCheck::Advice::NoSignal);
    EXPECT_TRUE(dlg->statusLabel()->text().contains("headroom"))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(allPlaying()) << "every output plays again";
    EXPECT_FALSE(dlg->outputsSwitched());

    // Two positions averaged in dB: the result is their average with the spread between them.
    typeInto(dlg->positionsBox(), "2");
    EXPECT_EQ(dlg->averageBox()->currentText(), "Power (RMS)");
    dlg->averageBox()->setFocus();
    QTest::keyClick(dlg->averageBox(), Qt::Key_Down);
    ASSERT_EQ(dlg->averageBox()->currentText(), "dB");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->progressBar()->value() > 100; }, 30000))
        << "the progress bar moves while the sweep plays";
    EXPECT_TRUE(dlg->busy());
    ASSERT_TRUE(finish(rig, dlg));
    EXPECT_EQ(dlg->positionsDone(), 1);
    EXPECT_TRUE(dlg->result().empty());
    EXPECT_TRUE(dlg->statusLabel()->text().contains("position 2"))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_EQ(dlg->measureButton()->text(), "Measure position 2");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(finish(rig, dlg));
    ASSERT_FALSE(dlg->result().empty()) << dlg->statusLabel()->text().toStdString();
    EXPECT_NEAR(dlg->result().hz.front(), 20, 0.5);
    EXPECT_NEAR(dlg->result().hz.back(), 20000, 300);
    ASSERT_EQ(dlg->spread().size(), dlg->result().hz.size());
    EXPECT_TRUE(dlg->statusLabel()->text().contains("2 positions"));
    EXPECT_TRUE(allPlaying());

    // Over the dialog's graph at once, and the page's graph a moment later as a loaded
    // measurement is, with the prediction.
    EXPECT_TRUE(dlg->preview()->hasOverlay());
    CEqPanel* g = page->graph();
    ASSERT_TRUE(rig.runUntil([&] { return g->hasOverlay(); }, 1000));
    EXPECT_FLOAT_EQ(g->predictedAt(100), g->overlayMeasurementAt(100) + g->summedAt(100));
    EXPECT_FLOAT_EQ(dlg->preview()->overlayMeasurementAt(100), g->overlayMeasurementAt(100));

    // The impulse beside: the part it draws, 5 ms before the peak to 60 ms after it, with the
    // peak where the response is largest.
    const auto& ir = dlg->impulseView()->samples();
    ASSERT_FALSE(ir.empty());
    EXPECT_LE(ir.size(), std::size_t(0.065 * 48000) + 1);
    ASSERT_LT(dlg->impulseView()->peak(), ir.size());
    const auto largest = std::max_element(
        ir.begin(), ir.end(), [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_EQ(std::size_t(largest - ir.begin()), dlg->impulseView()->peak());
    EXPECT_NEAR(double(dlg->impulseView()->peak()), 0.005 * 48000, 1);

    // Saved as REW text.
    rig.prompter.savePath = rig.dir.filePath("main-l.txt");
    ASSERT_TRUE(dlg->saveButton()->isEnabled());
    rig.click(dlg->saveButton());
    QFile saved(rig.prompter.savePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.startsWith("* Measurement data measured by q7edit"));
    EXPECT_TRUE(text.contains("* Average: 2 positions, db")) << text.toStdString();
    EXPECT_EQ(rig.prompter.saveNames.back(), "main-l.txt");

    // Auto EQ takes the measurement at once.
    rig.click(dlg->autoEqButton());
    auto* fit = dlg->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(fit, nullptr);
    EXPECT_TRUE(fit->fitButton()->isEnabled());
    EXPECT_TRUE(fit->preview()->hasOverlay());
}

TEST_F(MeasureDialog, CancelAndAnUnpluggedAmplifierPutEveryMuteBack) {
    open(kEnglish);
    dlg->speakerBox()->setFocus();
    QTest::keyClick(dlg->speakerBox(), Qt::Key_Down); // Main right
    EXPECT_EQ(dlg->speakerBox()->currentText(), "Main right");
    typeInto(dlg->secondsBox(), "10");

    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    EXPECT_EQ(muteWords(rig), wordsOf(soloWords({1})));
    rig.click(dlg->cancelButton());
    ASSERT_TRUE(finish(rig, dlg));
    EXPECT_TRUE(dlg->statusLabel()->text().startsWith("Cancelled"))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(dlg->result().empty());
    EXPECT_TRUE(allPlaying());
    EXPECT_TRUE(dlg->measureButton()->isEnabled());

    // Unplugged in the middle of a sweep: it stops and says so; once the amplifier is back the
    // mutes go back.
    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    EXPECT_EQ(muteWords(rig), wordsOf(soloWords({1})));
    rig.sim.unplug();
    ASSERT_TRUE(finish(rig, dlg));
    EXPECT_TRUE(dlg->statusLabel()->text().contains("went away"))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(dlg->connectionLabel()->isVisible());
    EXPECT_FALSE(dlg->measureButton()->isEnabled());
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->outputsSwitched(); }, 5000));
    EXPECT_TRUE(allPlaying());
    EXPECT_TRUE(dlg->measureButton()->isEnabled());
}

TEST_F(MeasureDialog, ClosingWhileItSweepsPutsTheMutesBack) {
    open(kChinese);
    EXPECT_EQ(dlg->measureButton()->text(), "测量");
    typeInto(dlg->secondsBox(), "5");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    rig.click(dlg->findChild<QPushButton*>("CloseMeasure"));
    ASSERT_TRUE(rig.runUntil([&] { return !dlg || !dlg->isVisible(); }, 60000));
    EXPECT_TRUE(allPlaying());

    // The page goes (another page is shown) while a sweep plays: the dialog goes with it, and
    // the mutes still go back.
    dlg = openFromGraph(rig, page);
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    ASSERT_EQ(muteWords(rig), wordsOf(soloWords({0})));
    rig.view().showPage(PageKind::Delay);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(rig.runUntil([&] { return !dlg; }, 10000));
    EXPECT_TRUE(allPlaying());
}

TEST(MeasureDialogUnplugged, WithoutAnAmplifierItSaysSo) {
    SimOptions o;
    o.startUnplugged = true;
    EditorRig rig(o);
    rig.editor->setLanguageIndex(kEnglish);
    rig.run(100);
    ASSERT_FALSE(rig.editor->linkOpen());
    // From the ribbon's Output tab: over the output page, which it shows first.
    rig.view().showPage(PageKind::Music);
    rig.showCategory(kOutputCategory);
    ASSERT_NE(rig.ribbon().button(cmd::Measure), nullptr);
    rig.clickRibbon(cmd::Measure);
    rig.run(10);
    CPage* page = rig.view().currentPage();
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page->eqGraph(), nullptr);
    EXPECT_EQ(page->eqGraph()->bank(), 5);
    auto* dlg = page->findChild<CMeasureDlg*>("MeasureDialog");
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->connectionLabel()->isVisible());
    EXPECT_TRUE(dlg->connectionLabel()->text().contains("No amplifier connected"));
    EXPECT_FALSE(dlg->checkButton()->isEnabled());
    EXPECT_FALSE(dlg->measureButton()->isEnabled());
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.run(300);
    EXPECT_FALSE(dlg->connectionLabel()->isVisible());
    EXPECT_TRUE(dlg->measureButton()->isEnabled());
}

TEST_F(MeasureDialog, TimesFromAReferenceSpeakerAndSpeaksChineseInItsMessages) {
    open(kChinese);
    typeInto(dlg->secondsBox(), "1");
    // The simulated devices suggest their loopback; the user picks the Center as an acoustic
    // reference instead.
    QComboBox* ref = dlg->referenceBox();
    EXPECT_EQ(ref->currentText(), "环回声道");
    ref->setFocus();
    while (ref->currentText() != "声学参考：中置" && ref->currentIndex() < ref->count() - 1)
        QTest::keyClick(ref, Qt::Key_Down);
    ASSERT_EQ(ref->currentText(), "声学参考：中置");

    // The reference speaker plays alone first, then the measured one.
    rig.click(dlg->measureButton());
    ASSERT_TRUE(rig.runUntil([&] { return muteWords(rig) == wordsOf(soloWords({2})); }, 10000));
    ASSERT_TRUE(rig.runUntil([&] { return muteWords(rig) == wordsOf(soloWords({0})); }, 30000));
    ASSERT_TRUE(finish(rig, dlg));
    ASSERT_FALSE(dlg->result().empty()) << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(dlg->statusLabel()->text().startsWith("测量完成：延迟"))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(allPlaying());

    // A sweep far too soft: the note about its signal to noise is in Chinese, figures kept.
    typeInto(dlg->levelBox(), "-60");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(finish(rig, dlg));
    const QString text = dlg->statusLabel()->text();
    EXPECT_TRUE(text.contains("信号只比噪声高") || text.contains("麦克风没有收到信号"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QRegularExpression("[a-z]{4,}"))) << text.toStdString();
}

TEST_F(MeasureDialog, ClosedWhileTheAmplifierIsAwayItsMutesGoBackOnItsReturn) {
    open(kEnglish);
    typeInto(dlg->secondsBox(), "10");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    ASSERT_EQ(muteWords(rig), wordsOf(soloWords({0})));
    rig.sim.unplug();
    ASSERT_TRUE(finish(rig, dlg));
    rig.click(dlg->findChild<QPushButton*>("CloseMeasure"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(rig.runUntil([&] { return !dlg; }, 10000));

    plugBackAndExpectEveryOutputPlaying();
}

TEST_F(MeasureDialog, ClosedInTheMiddleOfASweepWhileTheAmplifierIsAwayItsMutesGoBackOnItsReturn) {
    open(kChinese);
    typeInto(dlg->secondsBox(), "10");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(sweeping());
    ASSERT_EQ(muteWords(rig), wordsOf(soloWords({0})));
    // Unplugged and closed at once, before the run has even noticed.
    rig.sim.unplug();
    rig.click(dlg->findChild<QPushButton*>("CloseMeasure"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(rig.runUntil(
        [&] {
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !dlg;
        },
        30000));
    plugBackAndExpectEveryOutputPlaying();
}

TEST_F(MeasureDialog, ClosedAtOnceAfterAResultThePageStillShowsIt) {
    open(kEnglish);
    typeInto(dlg->secondsBox(), "1");
    rig.click(dlg->measureButton());
    ASSERT_TRUE(finish(rig, dlg));
    ASSERT_FALSE(dlg->result().empty());
    QTest::mouseClick(dlg->findChild<QPushButton*>("CloseMeasure"), Qt::LeftButton);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(rig.runUntil([&] { return !dlg; }, 10000));
    EXPECT_TRUE(page->graph()->hasOverlay());
}

// Every fault and note the measurement can report has its own words in both languages, with
// its figures and names; no English is left inside the Chinese.
TEST(MeasureDialogTexts, EveryProblemIsSaidInBothLanguages) {
    const QRegularExpression english("[A-Za-z]{4,}");
    std::set<QString> said;
    for (int c = int(MeasureProblem::Cancelled); c <= int(MeasureProblem::RoomUnreadable); ++c) {
        MeasureIssue issue(MeasureProblem(c), 12.5, "设备 1");
        issue.channelsOut = 2;
        issue.channelsIn = 1;
        const QString en = measureProblemText(issue, true);
        const QString zh = measureProblemText(issue, false);
        EXPECT_FALSE(en.isEmpty()) << c;
        EXPECT_FALSE(zh.isEmpty()) << c;
        EXPECT_NE(en, zh) << c;
        EXPECT_FALSE(zh.contains(english)) << c << ": " << zh.toStdString();
        EXPECT_TRUE(en.contains(english)) << c << ": " << en.toStdString();
        said.insert(zh);
    }
    EXPECT_EQ(said.size(), std::size_t(MeasureProblem::RoomUnreadable)) << "each its own words";
    // Figures and names go into both.
    MeasureIssue soft(MeasureProblem::LowSnr, 23.46);
    EXPECT_TRUE(measureProblemText(soft, false).contains("23.5"));
    EXPECT_TRUE(measureProblemText(soft, true).contains("23.5"));
    MeasureIssue device(MeasureProblem::NoRecordingDevice, 0, "USB Mic");
    EXPECT_EQ(measureProblemText(device, false), "没有录音设备“USB Mic”");
    EXPECT_EQ(measureProblemText(device, true), "no recording device \"USB Mic\"");
    MeasureIssue format(MeasureProblem::FormatRefused, 48000);
    format.channelsOut = 2;
    format.channelsIn = 1;
    EXPECT_EQ(measureProblemText(format, false), "音频设备不支持 48000 Hz、2 和 1 个声道");
}

// A calibration file that holds no points is refused in the window's language.
TEST_F(MeasureDialog, RefusesAnEmptyCalibrationFileInEitherLanguage) {
    open(kChinese);
    const QString path = rig.dir.filePath("0.cal");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("* a header and nothing else\n");
    f.close();
    rig.prompter.openPath = path;
    rig.click(dlg->calibrationButton());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told.back().text.contains("没有校准数据"))
        << rig.prompter.told.back().text.toStdString();
    EXPECT_FALSE(rig.prompter.told.back().text.contains(QRegularExpression("[a-z]{4,}")))
        << rig.prompter.told.back().text.toStdString();
    rig.click(dlg->findChild<QPushButton*>("CloseMeasure"));

    rig.editor->setLanguageIndex(kEnglish);
    dlg = openFromGraph(rig, page);
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->calibrationButton());
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told.back().text.contains("no calibration points"))
        << rig.prompter.told.back().text.toStdString();
}
