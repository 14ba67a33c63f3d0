// SPDX-License-Identifier: GPL-3.0-or-later
// The EQ graph's measurement and filter tools as a user reaches them: the right-click menu, the
// import preview, the measurement drawn over the graph while bands move, and the auto-EQ dialog,
// with what reaches the amplifier read back from the simulator.
#include "app/edit_steps.h"
#include "app/editor_rig.h"
#include "app/page_input.h"
#include "app/real_input.h"
#include "eq/synthetic_response.h"
#include "pages/eq_tools.h"
#include "pages/output_page.h"
#include "params/biquad.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/edit_path.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <cerrno>
#include <gtest/gtest.h>
#include <sstream>

using namespace q7;
using namespace q7::test;

namespace {

QString writeFile(EditorRig& rig, const QString& name, const std::string& text) {
    const QString path = rig.dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text.data(), qint64(text.size()));
    return path;
}

std::string rewText(const ResponseCurve& c) {
    std::ostringstream s;
    s << "* Measurement data measured by REW V5.20\n* Freq(Hz), SPL(dB), Phase(degrees)\n";
    for (std::size_t i = 0; i < c.hz.size(); ++i)
        s << c.hz[i] << ", " << c.db[i] << ", 0\n";
    return s.str();
}

// Right-clicks the graph away from its bands and clicks the menu entry, as the user does.
bool chooseFromGraphMenu(EditorRig& rig, CPage* page, const char* tool) {
    CEqPanel* g = page->eqGraph();
    QTest::mouseClick(g, Qt::RightButton, Qt::NoModifier, QPoint(g->width() - 40, 30));
    QMenu* menu = page->copyMenu();
    if (!menu || !menu->isVisible())
        return false;
    for (QAction* a : menu->actions())
        if (a->objectName() == QString("eqTool:") + tool) {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                              menu->actionGeometry(a).center());
            rig.run(10);
            return true;
        }
    return false;
}

BandImage amplifierBands(const EditorRig& rig) {
    BandImage image{};
    const AmpSettings amp = rig.sim.current();
    std::copy_n(amp.memory.begin(), image.size(), image.begin());
    return image;
}

void typeInto(QAbstractSpinBox* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

// The fit runs on a worker thread in real time; the dialog says when its result is shown.
bool waitForFit(CAutoEqDlg* dlg) {
    QSignalSpy shown(dlg, &CAutoEqDlg::finished);
    if (dlg->fitting())
        shown.wait(30000);
    QApplication::processEvents();
    return !dlg->fitting() && dlg->result();
}

} // namespace

TEST(EqTools, FiltersImportedThroughThePreviewAreOneStepOnTheAmplifier) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    ParameterStore& s = rig.editor->store();
    const ModeImage before = settingsOf(s);
    rig.prompter.openPath =
        writeFile(rig, "rew.txt",
                  "Filter Settings file\r\n\r\nRoom EQ V5.18\r\nEqualiser: Generic\r\n"
                  "Preamp: -3.5 dB\r\n"
                  "Filter  1: ON  PK       Fc    45,0 Hz  Gain  -6,5 dB  Q  5,00\r\n"
                  "Filter  2: ON  PK       Fc 1.000 Hz    Gain   2,0 dB  Q  1,41\r\n"
                  "Filter  3: ON  NO       Fc   300 Hz\r\n");
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "import"));
    auto* dlg = page->findChild<CEqImportDlg*>("EqImportDialog");
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(dlg->isVisible());
    ASSERT_EQ(dlg->table()->rowCount(), 3);
    EXPECT_EQ(dlg->table()->item(0, 3)->text(), "PK 45 Hz -6.5 dB Q 5.000");
    EXPECT_EQ(dlg->table()->item(1, 3)->text(), "PK 1000 Hz +2.0 dB Q 1.410");
    EXPECT_TRUE(dlg->table()->item(2, 3)->text().contains("skipped"));
    EXPECT_TRUE(sameSettings(before, settingsOf(s)));
    rig.click(dlg->applyButton());
    rig.run(100);
    const BandRecord b0{85, 45, 5000, filter::Peq};
    EXPECT_EQ(s.band(5, 0), b0);
    EXPECT_EQ(s.band(5, 1), (BandRecord{170, 1000, 1410, filter::Peq}));
    EXPECT_EQ(readBank(amplifierBands(rig), 5), readBank(s, 5));
    // The coefficients the amplifier got are the design of the record itself.
    const Biquad d = DesignBiquad(1, recordGainDb(b0), 45, recordQ(b0), 0, kEqSampleRate);
    const auto words = codec::coefficientWords(d);
    EXPECT_EQ(rig.sim.current().dsp.at(std::uint16_t(5 << 8 | 0)),
              std::vector<std::uint32_t>(words.begin(), words.end()));
    // The page shows it; one undo takes all of it back, on the amplifier too.
    EXPECT_FLOAT_EQ(page->graph()->band(0).gain, -6.5f);
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().action(cmd::Undo)->text().startsWith("Undo Import filters MAIN EQ"))
        << rig.ribbon().action(cmd::Undo)->text().toStdString();
    key(rig, Qt::Key_Z, Qt::ControlModifier);
    rig.run(50);
    EXPECT_TRUE(sameSettings(before, settingsOf(s)));
    EXPECT_EQ(readBank(amplifierBands(rig), 5), readBank(before.bandImage, 5));
}

TEST(EqTools, ImportWorksOfflineAndCancelChangesNothing) {
    EditorRig rig;
    rig.editor->setLanguageIndex(kChinese);
    ASSERT_FALSE(rig.editor->linkOpen());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    ParameterStore& s = rig.editor->store();
    rig.prompter.openPath = writeFile(rig, "apo.txt", "Filter 1: ON PK Fc 200 Hz Gain -4 dB Q 2\n");
    const BandRecord was = s.band(5, 0);
    const AmpSettings amplifier = rig.sim.current();
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "import"));
    auto* dlg = page->findChild<CEqImportDlg*>("EqImportDialog");
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->applyButton()->text(), "应用");
    rig.click(page->findChild<QPushButton*>("ImportCancel"));
    rig.run(10);
    EXPECT_EQ(s.band(5, 0), was);
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "import"));
    dlg = page->findChild<CEqImportDlg*>("EqImportDialog");
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->applyButton());
    rig.run(10);
    EXPECT_EQ(s.band(5, 0), (BandRecord{110, 200, 2000, filter::Peq}));
    EXPECT_EQ(rig.sim.current(), amplifier) << "offline: nothing was sent";
}

TEST(EqTools, ExportsWriteTheBankTheResponseAndTheGraph) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    const QPoint h = handleOf(page->graph(), 2);
    drag(page->graph(), h, h + QPoint(0, 40), 4);
    rig.run(20);
    rig.prompter.savePath = rig.dir.filePath("main.txt");
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "export"));
    QFile text(rig.prompter.savePath);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const std::string exported = text.readAll().toStdString();
    EXPECT_EQ(exported, formatFilterText(readBank(rig.editor->store(), 5)));
    EXPECT_EQ(rig.prompter.saveNames.back(), "main-filters.txt");

    rig.prompter.savePath = rig.dir.filePath("main.csv");
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "csv"));
    QFile csv(rig.prompter.savePath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readLine().startsWith("freq_hz,total_db,band1_db"));

    rig.prompter.savePath = rig.dir.filePath("main.png");
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "png"));
    const QImage png(rig.prompter.savePath);
    EXPECT_EQ(png.size(), page->graph()->size() * 2);
}

// An export that cannot be written keeps the file that was there and says why, in the user's
// language; it is never reported as written.
TEST(EqTools, AnExportOnAFullDiskKeepsTheOldFileAndSaysWhy) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    rig.prompter.savePath = writeFile(rig, "main.csv", "yesterday's response\n");
    rig.editor->files().failWritesWith(ENOSPC);
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "csv"));
    QFile csv(rig.prompter.savePath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll(), "yesterday's response\n");
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Can't write to file"); // the same in both languages
    EXPECT_TRUE(rig.prompter.told[0].text.contains(QString::fromUtf8("磁盘已满")))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_FALSE(rig.prompter.told[0].text.contains("Errcode"));

    // In English, the filter text into a read-only file: refused, kept, named.
    rig.editor->files().failWritesWith(0);
    rig.editor->setLanguageIndex(kEnglish);
    rig.prompter.savePath = writeFile(rig, "main.txt", "kept");
    QFile::setPermissions(rig.prompter.savePath, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "export"));
    QFile text(rig.prompter.savePath);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll(), "kept");
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told[1].caption, "Can't write to file");
    EXPECT_TRUE(rig.prompter.told[1].text.contains("the file is read-only"))
        << rig.prompter.told[1].text.toStdString();
}

TEST(EqTools, TheMeasurementFollowsBandDragsAndAutoEqIsWhatTheAmplifierPlays) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    CEqPanel* g = page->graph();
    ParameterStore& s = rig.editor->store();
    rig.prompter.openPath = writeFile(rig, "room.txt", rewText(synthetic::room(4)));
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "measurement"));
    ASSERT_TRUE(g->hasOverlay());
    // Predicted = measurement + bands, live while a band is dragged.
    const int i = 100;
    ASSERT_FALSE(std::isnan(g->overlayMeasurementAt(i)));
    EXPECT_FLOAT_EQ(g->predictedAt(i), g->overlayMeasurementAt(i) + g->summedAt(i));
    const float was = g->predictedAt(i);
    const QPoint h = handleOf(g, 3);
    const QPoint to(int(g->plotRect().left() + i * g->plotRect().width() / 512.0), h.y() - 60);
    QTest::mousePress(g, Qt::LeftButton, Qt::NoModifier, h);
    for (int k = 1; k <= 4; ++k) {
        QTest::mouseMove(g, h + (to - h) * k / 4);
        EXPECT_FLOAT_EQ(g->predictedAt(i), g->overlayMeasurementAt(i) + g->summedAt(i));
    }
    EXPECT_GT(g->predictedAt(i), was + 1.0f) << "the band lifted the prediction under it";
    QTest::mouseRelease(g, Qt::LeftButton, Qt::NoModifier, to);
    rig.run(20);
    // The overlay survives a page change.
    rig.view().showPage(PageKind::Delay);
    page = mainOutput(rig);
    g = page->graph();
    EXPECT_TRUE(g->hasOverlay());

    const EqBankState beforeFit = readBank(s, 5);
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "auto"));
    auto* dlg = page->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->fitButton()->isEnabled()) << "the graph's measurement is taken";
    EXPECT_EQ(dlg->bandsBox()->value(), 24);
    typeInto(dlg->bandsBox(), "8");
    typeInto(dlg->highBox(), "300");
    EXPECT_EQ(dlg->bandsBox()->value(), 8);
    rig.click(dlg->cutOnlyBox());
    ASSERT_TRUE(dlg->cutOnlyBox()->isChecked());
    EXPECT_FALSE(dlg->applyButton()->isEnabled());
    rig.click(dlg->fitButton());
    ASSERT_TRUE(waitForFit(dlg));
    const FitResult fit = *dlg->result();
    ASSERT_TRUE(fit.ok);
    EXPECT_NEAR(fit.hz.back(), 300, 300 * 0.015);
    EXPECT_LT(fit.after.rmsDb, fit.before.rmsDb);
    EXPECT_TRUE(dlg->summary()->text().contains("RMS error"));
    EXPECT_EQ(readBank(s, 5), beforeFit) << "nothing applied before Apply";
    rig.click(dlg->applyButton());
    rig.run(200);
    // What the amplifier holds is the fitted bank; its response is the prediction.
    const EqBankState amp = readBank(amplifierBands(rig), 5);
    EXPECT_EQ(amp, fit.bank);
    EXPECT_EQ(readBank(s, 5), fit.bank);
    EXPECT_EQ(bankResponseDb(amp, fit.hz), fit.eqAfter);
    const AmpSettings now = rig.sim.current();
    int sent = 0;
    for (int k = 0; k < 24; ++k) {
        const BandRecord& r = amp.band(k);
        EXPECT_LE(r.gain, 150) << "cut only";
        if (r == beforeFit.band(k))
            continue; // not sent: unchanged
        ++sent;
        const auto words = codec::coefficientWords(
            DesignBiquad(r.type, recordGainDb(r), r.frequency, recordQ(r), 0, kEqSampleRate));
        const auto it = now.dsp.find(std::uint16_t(5 << 8 | k));
        ASSERT_NE(it, now.dsp.end()) << k;
        EXPECT_EQ(it->second, std::vector<std::uint32_t>(words.begin(), words.end())) << k;
    }
    EXPECT_GT(sent, 0);
    int used = 0;
    for (int k = 0; k < 24; ++k)
        used += amp.band(k).gain != 150;
    EXPECT_LE(used, 8);
    rig.run(10);
    EXPECT_TRUE(rig.ribbon().action(cmd::Undo)->text().startsWith("Undo Auto EQ MAIN EQ"))
        << rig.ribbon().action(cmd::Undo)->text().toStdString();
    EXPECT_TRUE(mainOutput(rig)->graph()->hasOverlay());
}

TEST(EqTools, AutoEqDialogSaysWhatIsWrongWithAFile) {
    EditorRig rig;
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "auto"));
    auto* dlg = page->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->fitButton()->isEnabled()) << "no measurement yet";
    rig.prompter.openPath = writeFile(rig, "junk.txt", "not a measurement\n");
    rig.click(dlg->findChild<QPushButton*>("ChooseMeasurement"));
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.contains("no frequency response"));
    EXPECT_FALSE(dlg->fitButton()->isEnabled());
    rig.prompter.openPath = writeFile(rig, "ok.frd", rewText(synthetic::smooth(5)));
    rig.click(dlg->findChild<QPushButton*>("ChooseMeasurement"));
    EXPECT_TRUE(dlg->fitButton()->isEnabled());
    EXPECT_TRUE(dlg->preview()->hasOverlay());
}

TEST(EqTools, AutoEqStartsFromTheBanksRangeAndNeverOffersAWorseFit) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    // The Sub's range ends at its crossover, not at 500 Hz.
    rig.view().showPage(PageKind::Output, 2);
    auto* sub = dynamic_cast<CDialogOutput*>(rig.view().currentPage());
    ASSERT_NE(sub, nullptr);
    ASSERT_TRUE(chooseFromGraphMenu(rig, sub, "auto"));
    auto* subDlg = sub->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(subDlg, nullptr);
    const FitRange range = defaultFitRange(readBank(rig.editor->store(), 2));
    EXPECT_EQ(subDlg->lowBox()->value(), std::round(range.loHz));
    EXPECT_EQ(subDlg->highBox()->value(), std::round(range.hiHz));
    EXPECT_LT(subDlg->highBox()->value(), 120);
    subDlg->close();
    rig.run(10);

    // A flat room against a flat target: the fit cannot lower the error, so Apply stays off and
    // the dialog says why.
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    ResponseCurve flat;
    for (double hz = 10; hz <= 20000; hz *= 1.05) {
        flat.hz.push_back(hz);
        flat.db.push_back(75);
    }
    rig.prompter.openPath = writeFile(rig, "flat.txt", rewText(flat));
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "auto"));
    auto* dlg = page->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->highBox()->value(), 500);
    rig.click(dlg->findChild<QPushButton*>("ChooseMeasurement"));
    rig.click(dlg->fitButton());
    ASSERT_TRUE(waitForFit(dlg));
    ASSERT_TRUE(dlg->result()->ok);
    EXPECT_FALSE(dlg->result()->better);
    EXPECT_FALSE(dlg->applyButton()->isEnabled());
    EXPECT_TRUE(dlg->summary()->text().contains("cannot be applied"))
        << dlg->summary()->text().toStdString();
    EXPECT_TRUE(dlg->summary()->isVisible());
    dlg->close();
    rig.run(10);

    // A band locked with its box stays as it is; the others are fitted.
    const BandRecord kept = BandRecord::encode(filter::Peq, 3.0, 120, 4.0);
    rig.editor->store().setBand(5, 1, kept);
    rig.prompter.openPath = writeFile(rig, "room.txt", rewText(synthetic::room(3)));
    ASSERT_TRUE(chooseFromGraphMenu(rig, page, "auto"));
    dlg = page->findChild<CAutoEqDlg*>("AutoEqDialog");
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->findChild<QPushButton*>("ChooseMeasurement"));
    ASSERT_NE(dlg->lockBox(1), nullptr);
    rig.click(dlg->lockBox(1));
    ASSERT_TRUE(dlg->lockBox(1)->isChecked());
    rig.click(dlg->fitButton());
    ASSERT_TRUE(waitForFit(dlg));
    ASSERT_TRUE(dlg->result()->ok);
    EXPECT_EQ(dlg->result()->bank.band(1), kept);
    for (int k : dlg->result()->bandsUsed)
        EXPECT_NE(k, 1);
    EXPECT_TRUE(dlg->result()->better);
    EXPECT_TRUE(dlg->applyButton()->isEnabled());
}

TEST(EqTools, CopyingAnEqKeepsEveryThousandthOfQ) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    ParameterStore& s = rig.editor->store();
    // 1.001 / 1000.0 * 1000 truncates to 1000: the copy used to lose the thousandth.
    for (int b = 0; b < 10; ++b)
        s.setBand(5, b,
                  BandRecord{std::uint16_t(160 + b), std::uint16_t(100 + b),
                             std::uint16_t(1001 + 2 * b), 1});
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    CEqPanel* g = page->graph();
    QTest::mouseClick(g, Qt::RightButton, Qt::NoModifier, QPoint(g->width() - 40, 30));
    QMenu* menu = page->copyMenu();
    ASSERT_NE(menu, nullptr);
    QAction* rear = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == "Rear EQ")
            rear = a;
    ASSERT_NE(rear, nullptr);
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(rear).center());
    rig.run(100);
    for (int b = 0; b < 10; ++b) {
        EXPECT_EQ(s.band(6, b), s.band(5, b)) << b;
        EXPECT_EQ(BandRecord::fromBytes(&rig.sim.current().memory[std::size_t(bandOffset(6, b))]),
                  s.band(5, b))
            << b;
    }
}
