// SPDX-License-Identifier: GPL-3.0-or-later
// The room tuning assistant as a user drives it against the simulated amplifier and its room:
// from the Output tab's button through the set-up, the microphone placed at each position, the
// result shown before anything is sent, Apply as one undo step, the check and the report; and a
// Cancel or an unplug in the middle of the sweeps leaving every mute as it was.
#include "app/editor_rig.h"
#include "app/page_input.h"
#include "app/tune_room.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "sim/room.h"
#include "sim/synthetic_room.h"
#include "ui/info_popup.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace q7::test {
namespace {

// The five group mute words the amplifier holds.
std::vector<std::vector<std::uint32_t>> mutes(const SimulatedAmplifier& sim) {
    return {sim.dspValue(5, 41), sim.dspValue(6, 27), sim.dspValue(9, 27), sim.dspValue(7, 22),
            sim.dspValue(8, 32)};
}

// What differs between two sets of settings, in the pages' terms.
std::vector<std::string> changed(const ModeImage& a, const ModeImage& b) {
    std::vector<std::string> ids;
    for (const Difference& d : differences(a, b))
        ids.push_back(d.id);
    return ids;
}

void typeInto(QAbstractSpinBox* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

// Opens the assistant from the Output tab and chooses main L, main R and the Sub, 1 s sweeps.
CTuneDlg* openAssistant(EditorRig& rig) {
    rig.showCategory(kOutputCategory);
    rig.clickRibbon(cmd::TuneRoom);
    auto* dlg = rig.frame().findChild<CTuneDlg*>("TuneDialog");
    if (!dlg)
        return nullptr;
    for (int k : {2, 4, 5, 6, 7})
        rig.click(dlg->speakerBox(k));
    typeInto(dlg->sweepBox(), "1");
    return dlg;
}

// The simulated amplifier's devices under other names too, as a computer lists a USB interface
// beside its own; keeps what each run asked for.
struct NamedDevices : AudioBackend {
    std::unique_ptr<AudioBackend> inner;
    std::vector<std::string>* asked;
    NamedDevices(std::unique_ptr<AudioBackend> a, std::vector<std::string>* log)
        : inner(std::move(a)), asked(log) {}
    std::vector<AudioDevice> playbackDevices() override {
        auto list = inner->playbackDevices();
        list.push_back({"USB Audio Out", 2, false});
        return list;
    }
    std::vector<AudioDevice> recordingDevices() override {
        auto list = inner->recordingDevices();
        list.push_back({"USB Mic", 1, false});
        return list;
    }
    PlayRecordResult playAndRecord(const PlayRecordRequest& r,
                                   const PlayRecordCallbacks& cb) override {
        // The worker runs this; the test reads the log once the run has ended.
        asked->push_back(r.playDevice + " -> " + r.recordDevice + " (" +
                         std::to_string(r.recordChannels) + ")");
        PlayRecordRequest same = r;
        same.playDevice.clear();
        same.recordDevice.clear();
        return inner->playAndRecord(same, cb);
    }
};

double mainLeftAt1k(const CTuneDlg& dlg) {
    const SpeakerSweep* s = dlg.measured()->positions.at(0).find(0);
    const auto& r = s->response;
    const auto at = std::lower_bound(r.hz.begin(), r.hz.end(), 1000.0) - r.hz.begin();
    return r.db.at(std::size_t(at));
}

} // namespace

TEST(TuneRoom, DevicesCalibrationAndReportFolderAreTheUsersChoice) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    std::vector<std::string> asked;
    TuneServices services = tuneServices(*rig.editor);
    services.makeAudio = [make = services.makeAudio, &asked]() -> std::unique_ptr<AudioBackend> {
        return std::make_unique<NamedDevices>(make(), &asked);
    };
    CTuneDlg dlg(*rig.editor, services, &rig.frame());
    dlg.show();
    for (int k : {2, 3, 4, 5, 6, 7})
        rig.click(dlg.speakerBox(k));
    typeInto(dlg.sweepBox(), "1");
    // The system's default devices are offered first.
    EXPECT_EQ(dlg.playBox()->currentText(), "Simulated amplifier input");
    ASSERT_EQ(dlg.recordBox()->count(), 2);
    EXPECT_EQ(dlg.calibrationLabel()->text(), "(none)");

    auto measure = [&] {
        rig.click(dlg.startButton());
        return rig.runUntil([&] { return !dlg.busy() && dlg.step() == CTuneDlg::Results; });
    };
    ASSERT_TRUE(measure()) << dlg.statusLabel()->text().toStdString();
    const double uncalibrated = mainLeftAt1k(dlg);
    rig.click(dlg.backButton());

    // A file that is no calibration is refused and the choice stays as it was.
    const QString junk = rig.dir.filePath("notes.txt"), cal = rig.dir.filePath("mic.txt");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("shopping list\nmilk\n");
    f.close();
    QFile c(cal);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly));
    c.write("* reads 6 dB hot\n10 6.0\n1000 6.0\n24000 6.0\n");
    c.close();
    rig.prompter.openPath = junk;
    rig.click(dlg.calibrationButton());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.contains("not a microphone calibration file"));
    EXPECT_EQ(dlg.calibrationLabel()->text(), "(none)");
    rig.prompter.openPath = cal;
    rig.click(dlg.calibrationButton());
    EXPECT_EQ(dlg.calibrationLabel()->text(), "mic.txt");

    ASSERT_TRUE(pickFromDropDown(dlg.playBox(), "USB Audio Out"));
    ASSERT_TRUE(pickFromDropDown(dlg.recordBox(), "USB Mic"));
    asked.clear();
    ASSERT_TRUE(measure()) << dlg.statusLabel()->text().toStdString();
    EXPECT_EQ(asked, (std::vector<std::string>{"USB Audio Out -> USB Mic (1)"}));
    // The microphone's 6 dB taken out of what it read.
    EXPECT_NEAR(mainLeftAt1k(dlg) - uncalibrated, -6.0, 0.3);

    // Applied and checked with the same devices.
    rig.click(dlg.applyButton());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg.busy() && dlg.step() == CTuneDlg::Check; }))
        << dlg.statusLabel()->text().toStdString();
    EXPECT_EQ(asked.back(), "USB Audio Out -> USB Mic (1)");

    // No mode file: the report goes where the user says, into a folder of its own; nothing is
    // written when the user cancels.
    rig.prompter.folderPath.clear();
    rig.click(dlg.saveButton());
    EXPECT_EQ(rig.prompter.folderCaptions.size(), 1u);
    EXPECT_TRUE(dlg.reportPath().isEmpty());
    const QString reports = rig.dir.filePath("reports");
    ASSERT_TRUE(QDir().mkpath(reports));
    rig.prompter.folderPath = reports;
    rig.click(dlg.saveButton());
    ASSERT_FALSE(dlg.reportPath().isEmpty());
    const QFileInfo report(dlg.reportPath());
    EXPECT_TRUE(report.exists());
    EXPECT_EQ(QFileInfo(report.absolutePath()).absolutePath(),
              QFileInfo(reports).absoluteFilePath());
}

TEST(TuneRoom, MeasuresTwoSeatsShowsTheTuningAppliesItAsOneStepAndChecksIt) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.editor->setDocumentPath(rig.dir.filePath("living-room.q7M"));
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->speakerBox(2)->isChecked());
    EXPECT_FALSE(dlg->lowBox(2)->isEnabled()) << "a speaker left out has no limits to set";
    typeInto(dlg->positionsBox(), "2");
    typeInto(dlg->maxBoostBox(), "4");
    EXPECT_EQ(dlg->options().speakers, (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(dlg->options().maxBoostDb, 4.0);
    const ModeImage before = settingsOf(rig.editor->store());
    const AmpSettings amplifierBefore = rig.sim.current();

    rig.click(dlg->startButton());
    EXPECT_EQ(dlg->step(), CTuneDlg::Measure);
    // The microphone at the main seat, then at the second seat: the user says when. The status
    // line says who plays where, one line replacing the last; the bar runs over both seats.
    QStringList statuses;
    auto watch = [&](const std::function<bool()>& until) {
        return rig.runUntil([&] {
            const QString now = dlg->statusLabel()->text();
            if (statuses.isEmpty() || statuses.back() != now)
                statuses << now;
            return until();
        });
    };
    for (int position = 0; position < 2; ++position) {
        ASSERT_TRUE(watch([&] { return dlg->continueButton()->isVisible(); }))
            << "position " << position + 1;
        EXPECT_TRUE(dlg->findChild<QLabel*>("TunePrompt")
                        ->text()
                        .contains(QString("position %1 of 2").arg(position + 1)));
        EXPECT_EQ(dlg->statusLabel()->text(),
                  QString("Waiting for the microphone at position %1 of 2.").arg(position + 1));
        if (position == 1) {
            EXPECT_NEAR(dlg->progressBar()->value(), 500, 20) << "one seat of two measured";
            EXPECT_TRUE(statuses.contains("Measuring Sub (3 of 3), position 1 of 2"))
                << statuses.join(" | ").toStdString();
        }
        rig.click(dlg->continueButton());
    }
    ASSERT_TRUE(watch([&] { return dlg->step() == CTuneDlg::Results; }))
        << dlg->statusLabel()->text().toStdString();
    EXPECT_TRUE(statuses.contains("Measuring Main L (1 of 3), position 2 of 2"))
        << statuses.join(" | ").toStdString();
    // Shown, not sent: the settings and the amplifier as they were, every mute back.
    ASSERT_NE(dlg->plan(), nullptr);
    ASSERT_TRUE(dlg->plan()->ok);
    EXPECT_EQ(dlg->resultsTable()->rowCount(), 3);
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    rig.settle();
    EXPECT_EQ(rig.sim.current(), amplifierBefore);
    EXPECT_TRUE(dlg->resultsTable()->item(2, 0)->text() == "Sub");
    EXPECT_EQ(dlg->resultsTable()->item(0, 3)->text(), "normal") << "as the report says it";
    EXPECT_FALSE(dlg->chartLabel()->pixmap().isNull()) << "a chart of the first speaker";
    // The notes: a bulleted list of sentences.
    const QString notes = dlg->notesLabel()->text();
    EXPECT_TRUE(notes.contains("<li>")) << notes.toStdString();
    for (const QString& item : notes.split("<li>").mid(1))
        EXPECT_TRUE(item.at(0).isUpper()) << item.toStdString();
    // At its own size the page shows every speaker's row and the whole chart, on a 1280 x 720
    // screen; a larger window draws a larger chart.
    const QSize size = dlg->sizeHint();
    EXPECT_LE(size.width(), 1280);
    EXPECT_LE(size.height(), 680);
    dlg->resize(size);
    rig.settle();
    QTableWidget* table = dlg->resultsTable();
    EXPECT_GE(table->viewport()->height(), 8 * table->verticalHeader()->defaultSectionSize());
    const QRect chart(dlg->chartLabel()->mapTo(dlg, QPoint(0, 0)), dlg->chartLabel()->size());
    EXPECT_TRUE(dlg->rect().contains(chart));
    EXPECT_LE(dlg->chartLabel()->pixmap().width(), chart.width());
    const int drawn = dlg->chartLabel()->pixmap().width();
    dlg->resize(size + QSize(200, 100));
    ASSERT_TRUE(rig.runUntil([&] { return dlg->chartLabel()->pixmap().width() > drawn; }));
    // Every speaker's chart and the Sub with the mains are offered.
    EXPECT_EQ(dlg->chartBox()->count(), 4);

    // Apply: one step, then the check (the microphone back at the main seat).
    rig.click(dlg->applyButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->continueButton()->isVisible(); }));
    EXPECT_TRUE(dlg->findChild<QLabel*>("TunePrompt")->text().contains("main seat"));
    rig.click(dlg->continueButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->step() == CTuneDlg::Check; }))
        << dlg->statusLabel()->text().toStdString();
    ASSERT_NE(dlg->verification(), nullptr);
    EXPECT_TRUE(dlg->verification()->levelsOk);
    EXPECT_TRUE(dlg->verification()->arrivalsOk);
    EXPECT_EQ(dlg->checkTable()->rowCount(), 3);
    // The built-in room's Sub delays only above its split: what was not checked is said so.
    EXPECT_TRUE(
        dlg->findChild<QLabel*>("TuneCheckSummary")->text().contains("every figure checked"));
    EXPECT_TRUE(dlg->checkNotesLabel()->text().contains("Not checked: the Sub&#39;s arrival") ||
                dlg->checkNotesLabel()->text().contains("Not checked: the Sub's arrival"))
        << dlg->checkNotesLabel()->text().toStdString();
    const ModeImage tuned = settingsOf(rig.editor->store());
    EXPECT_TRUE(changed(tuned, dlg->plan()->after).empty());

    // The report beside the mode file.
    rig.click(dlg->saveButton());
    ASSERT_FALSE(dlg->reportPath().isEmpty());
    EXPECT_TRUE(QFileInfo(dlg->reportPath()).absolutePath().startsWith(rig.dir.path()));
    EXPECT_TRUE(QFileInfo::exists(dlg->reportPath()));
    EXPECT_TRUE(QFileInfo::exists(QFileInfo(dlg->reportPath()).dir().filePath("sub.png")));

    // One undo takes the whole tuning back, on the amplifier too.
    rig.click(dlg->findChild<QPushButton*>("TuneClose"));
    rig.settle();
    rig.clearTrace();
    QAction* undo = rig.ribbon().action(cmd::Undo);
    ASSERT_TRUE(undo->isEnabled());
    undo->trigger();
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    EXPECT_FALSE(rig.ribbon().action(cmd::Undo)->isEnabled()) << "the tuning was one step";
    rig.settle();
    EXPECT_FALSE(rig.sent().empty());
    // What the amplifier held before holds again (undo also sends what it had never been sent).
    const AmpSettings after = rig.sim.current();
    EXPECT_EQ(after.memory, amplifierBefore.memory);
    for (const auto& [address, words] : amplifierBefore.dsp)
        EXPECT_EQ(after.dsp.at(address), words)
            << "module " << (address >> 8) << " parameter " << (address & 0xff);
}

TEST(TuneRoom, CancelInTheMiddleLeavesEveryMuteAndSettingAsBefore) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    const auto mutesBefore = mutes(rig.sim);
    const ModeImage before = settingsOf(rig.editor->store());
    rig.click(dlg->startButton());
    // Cancelled once the sweeps are under way.
    ASSERT_TRUE(rig.runUntil([&] { return dlg->progressBar()->value() > 0; }));
    rig.click(dlg->cancelButton());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    EXPECT_EQ(dlg->step(), CTuneDlg::Setup);
    EXPECT_EQ(dlg->plan(), nullptr);
    EXPECT_EQ(rig.editor->infoPopup()->text(), "Cancelled: every mute is as it was.");
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    // Esc while it measures is Cancel: the window stays, back at the set-up, and says so.
    rig.click(rig.editor->infoPopup()->findChild<QPushButton*>());
    rig.click(dlg->startButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->progressBar()->value() > 0; }));
    QTest::keyClick(dlg, Qt::Key_Escape);
    EXPECT_EQ(dlg->statusLabel()->text(), "Cancelling…");
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->step(), CTuneDlg::Setup);
    EXPECT_EQ(rig.editor->infoPopup()->text(), "Cancelled: every mute is as it was.");
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
}

TEST(TuneRoom, AnUnplugMidSweepPutsEveryMuteBackWhenTheAmplifierReturns) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    const auto mutesBefore = mutes(rig.sim);
    rig.click(dlg->startButton());
    // Gone once the first speaker plays alone.
    ASSERT_TRUE(rig.runUntil([&] { return mutes(rig.sim) != mutesBefore; }));
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    EXPECT_NE(dlg->step(), CTuneDlg::Results);
    rig.run(2000);
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runUntil([&] {
        return dlg->statusLabel()->text().contains(QString::fromUtf8("所有静音已恢复"));
    })) << dlg->statusLabel()->text().toStdString();
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
}

TEST(TuneRoom, DetectUnticksTheSpeakersThatDoNotArrive) {
    // A room without its centre and rear left speakers.
    QTemporaryDir room;
    SyntheticRoomSetup setup;
    setup.seed = 3;
    setup.connected[2] = false;
    setup.connected[4] = false;
    std::string error;
    ASSERT_TRUE(writeRoomFolder(syntheticRoom(setup), room.path().toStdString(), error)) << error;
    EditorRig rig({}, [&](EditorOptions& o) { o.simulator = "room=" + room.path().toStdString(); });
    ASSERT_TRUE(rig.connect());
    rig.showCategory(kOutputCategory);
    rig.clickRibbon(cmd::TuneRoom);
    auto* dlg = rig.frame().findChild<CTuneDlg*>("TuneDialog");
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->detectButton());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy() && dlg->step() == CTuneDlg::Setup; }));
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(dlg->speakerBox(k)->isChecked(), k != 2 && k != 4) << k;
    EXPECT_EQ(dlg->options().speakers, (std::vector<int>{0, 1, 3, 5, 6, 7}));
}

} // namespace q7::test
