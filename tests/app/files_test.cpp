// SPDX-License-Identifier: GPL-3.0-or-later
// Mode files, presets and shell open through the editor, with the ribbon's buttons and menus.
#include "app/load_preview.h"
#include "app/presets.h"
#include "editor_rig.h"
#include "params/mode_file.h"
#include "ui/info_popup.h"
#include "ui/local_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <cerrno>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

// The name patterns of a file dialog filter ("Mode Files (*.a *.b)" gives *.a and *.b).
QStringList patterns(const QString& filter) {
    QStringList out;
    const QRegularExpression group("\\(([^)]*)\\)");
    for (const QString& part : filter.split(";;")) {
        const QRegularExpressionMatch m = group.match(part);
        if (m.hasMatch())
            out += m.captured(1).split(' ', Qt::SkipEmptyParts);
    }
    return out;
}

} // namespace

TEST(Files, SaveAndReopenThroughTheUi) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->store().setCellInt(74, 33);
    rig.editor->store().setBand(4, 2, BandRecord::encode(1, 6.5, 77, 2.0));
    rig.editor->store().setParametersChanged(true);
    // The file dialog gives the name the user typed with the default extension.
    const QString path = rig.dir.filePath("m2 party.R3v9");
    rig.prompter.savePath = path;
    rig.clearTrace();
    rig.clickRibbon(cmd::SaveFile);
    ASSERT_EQ(rig.prompter.saveNames.size(), 1u);
    EXPECT_EQ(rig.prompter.saveNames.back(), "name");
    EXPECT_EQ(rig.prompter.saveSuffixes.back(), "R3v9");
    EXPECT_EQ(rig.firstSent(), shortCommand(CMD_MODE_STORE, 0)) << "saved to the current mode";
    EXPECT_FALSE(rig.editor->store().parametersChanged());
    EXPECT_EQ(QFile(path).size(), 1791);
    EXPECT_EQ(rig.editor->recentFiles().value(0), path);

    // Change things, then open the file again: the download restores it in the amplifier and
    // the name selects device mode 2.
    rig.editor->store().setCellInt(74, 90);
    rig.prompter.openPath = path;
    rig.clearTrace();
    rig.clickRibbon(cmd::LoadFile);
    ASSERT_EQ(rig.prompter.openFilters.size(), 1u);
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.editor->store().cellInt(74), 33);
    EXPECT_EQ(rig.sim.dspValue(3, 15), std::vector<std::uint32_t>{floatBits(0.33f)});
    EXPECT_EQ(rig.sim.current().memory[406 + 14 + 3], 77);
    EXPECT_EQ(rig.sim.modeName(0), u"m2 party") << "the current mode takes the file's name";
    EXPECT_EQ(rig.sim.currentMode(), 1);
    EXPECT_EQ(rig.sim.userMode(1), rig.sim.current());
    const auto sent = rig.sent();
    EXPECT_EQ(sent[sent.size() - 2], shortCommand(CMD_MODE_PREPARE, 1));
    EXPECT_EQ(sent.back(), shortCommand(CMD_MODE_STORE, 1));
}

// The profile's file is written off the window's thread: a setting reaches the disk while the
// event loop does not run, and the editor reads back what it set at once.
TEST(Profile, SettingsReachTheFileWithoutTheWindowWaitingForTheDisk) {
    EditorRig rig;
    const QString path = rig.dir.filePath("kept.q7M");
    rig.editor->addRecentFile(path);
    rig.editor->setLanguageIndex(kEnglish);
    rig.editor->flushSettings(); // no event is processed between the changes and this
    QFile file(rig.profile->fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("kept.q7M")) << text.toStdString();
    EXPECT_TRUE(text.contains("language=1")) << text.toStdString();
    EXPECT_EQ(rig.editor->recentFiles().value(0), QFileInfo(path).absoluteFilePath());
    EXPECT_EQ(rig.profile->value("language").toInt(), kEnglish);
    EXPECT_TRUE(rig.editor->language().english());
}

// Saving onto a full disk or over a read-only file keeps the old file, says why, and leaves the
// settings marked as unsaved.
TEST(Files, ASaveThatCannotBeWrittenKeepsTheOldFileAndSaysWhy) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    const QString path = rig.dir.filePath("show.q7M");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the old show");
    old.close();
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    rig.editor->store().setParametersChanged(true);
    rig.prompter.savePath = path;
    rig.editor->files().failWritesWith(ENOSPC);
    rig.clickRibbon(cmd::SaveFile);
    auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_EQ(contents(), "the old show");
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.contains(QString::fromUtf8("磁盘已满")))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_TRUE(rig.editor->store().parametersChanged()) << "closing must still ask";

    rig.editor->files().failWritesWith(0);
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::SaveFile);
    EXPECT_EQ(contents(), "the old show");
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told[1].text.contains("the file is read-only"));

    // Writable again: saved whole, and its owner-only mode stays.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    rig.clickRibbon(cmd::SaveFile);
    EXPECT_EQ(QFile(path).size(), 1791);
    EXPECT_EQ(QFile::permissions(path) & QFileDevice::Permissions(0x7077),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(Files, TheDialogsShowEveryModeFileTheEditorWritesOrReads) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    QDir folder(rig.dir.path());
    for (const char* name : {"a.q7M", "b.R3v9", "c.R3v8", "d.Q7test", "e.remo"})
        QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
    rig.prompter.savePath.clear(); // both dialogs cancelled
    rig.clearTrace();
    rig.clickRibbon(cmd::SaveFile);
    rig.clickRibbon(cmd::LoadFile);
    rig.ribbon().action(cmd::AppSave)->trigger();
    ASSERT_EQ(rig.prompter.saveFilters.size(), 2u);
    ASSERT_EQ(rig.prompter.openFilters.size(), 1u);
    const QStringList wanted = {"a.q7M", "b.R3v9", "c.R3v8", "d.Q7test"};
    for (const QString& filter : {rig.prompter.saveFilters[0], rig.prompter.saveFilters[1],
                                  rig.prompter.openFilters[0].split(";;").first()}) {
        folder.setNameFilters(patterns(filter));
        EXPECT_EQ(folder.entryList(QDir::Files, QDir::Name), wanted) << filter.toStdString();
    }
    EXPECT_TRUE(rig.sent().empty()) << "a cancelled save stores nothing";
}

TEST(Files, WithoutAnAmplifierFilesOpenEditAndSaveUnchanged) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.clickRibbon(cmd::LanguageSwitch);
    ParameterStore original;
    test::withinRanges(original);
    original.setCellInt(65, 37);
    original.setBand(5, 3, BandRecord::encode(filter::Peq, -4.5, 480, 2.5));
    const QString path = rig.dir.filePath("site.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), original));
    rig.prompter.openPath = path;
    rig.clickRibbon(cmd::LoadFile);
    EXPECT_EQ(rig.prompter.openFilters.size(), 1u) << "the file dialog opens";
    EXPECT_EQ(rig.editor->store().cellInt(65), 37);
    EXPECT_TRUE(rig.editor->frame()->windowTitle().endsWith("site.q7M"));
    EXPECT_TRUE(rig.sent().empty());

    // Saved again without a change: the very same bytes, and no device-mode step.
    rig.prompter.savePath = rig.dir.filePath("again.q7M");
    rig.clickRibbon(cmd::SaveFile);
    QFile a(path), b(rig.prompter.savePath);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());
    EXPECT_TRUE(rig.sent().empty());

    // A preset opens for editing too.
    rig.ribbon().action(cmd::PresetFirst)->trigger();
    EXPECT_EQ(rig.view().chosenPreset(), cmd::PresetFirst);
    EXPECT_TRUE(rig.sent().empty());
}

TEST(Files, ATruncatedFileIsRefusedAndNothingIsSent) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    const QString path = rig.dir.filePath("short.q7M");
    ParameterStore s;
    test::withinRanges(s);
    auto bytes = modeFileBytes(s.modeImage());
    bytes.resize(1000);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    f.close();
    const int mic = rig.editor->store().cellInt(26);
    rig.prompter.openPath = path;
    rig.clearTrace();
    rig.clickRibbon(cmd::LoadFile);
    rig.run(100);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "File open error");
    EXPECT_TRUE(rig.prompter.told[0].text.startsWith("The file was not loaded: too short"))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(rig.editor->store().cellInt(26), mic);
}

TEST(Presets, ADownloadEndsInTheSimulatorsState) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.ribbon().action(32013)->trigger(); // resource 430
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.view().chosenPreset(), 32013);
    EXPECT_TRUE(rig.ribbon().action(32013)->isChecked());
    EXPECT_FALSE(rig.ribbon().action(32000)->isChecked());

    QFile f(presetResourcePath(430));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ParameterStore preset;
    ASSERT_TRUE(loadModeFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       std::size_t(bytes.size())),
                             preset));
    const BandImage image = preset.bandImage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.sim.current().memory.begin()));
    EXPECT_EQ(rig.sim.dspValue(2, 15),
              std::vector<std::uint32_t>{floatBits(float(preset.cellInt(58) / 100.0))});
}

TEST(Presets, FifteenDistinctVersionTwoFilesWithNames) {
    std::vector<QByteArray> all;
    for (int r = 427; r <= 441; ++r) {
        QFile f(presetResourcePath(r));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << r;
        const QByteArray b = f.readAll();
        EXPECT_EQ(b.size(), 1791) << r;
        EXPECT_EQ(b.left(4), QByteArray("\x02\x00\x00\x00", 4)) << r;
        for (const QByteArray& other : all)
            EXPECT_NE(b, other) << r;
        all.push_back(b);
    }
    const QStringList zh = presetNames(kChinese), en = presetNames(kEnglish);
    EXPECT_EQ(zh.size(), 15);
    EXPECT_EQ(QSet<QString>(en.begin(), en.end()).size(), 15);
}

TEST(ShellOpen, ExtensionsAndMissingFiles) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    const QString lower = rig.dir.filePath("preset.r3v9");
    ParameterStore s;
    test::withinRanges(s);
    ASSERT_TRUE(writeModeFile(lower.toStdString(), s));
    EXPECT_TRUE(rig.editor->shellOpen(lower)) << "no device: opened for editing";
    EXPECT_TRUE(rig.prompter.told.empty());
    EXPECT_TRUE(rig.sent().empty());

    EXPECT_FALSE(rig.editor->shellOpen(rig.dir.filePath("gone.R3v9")));
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("文件不存在！"));
    EXPECT_EQ(rig.prompter.told[0].caption, QString::fromUtf8("文件打开错误"));
    rig.clickRibbon(cmd::LanguageSwitch);
    EXPECT_FALSE(rig.editor->shellOpen(rig.dir.filePath("gone.R3v9")));
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told[1].text, "The file does not exist!");
    EXPECT_EQ(rig.prompter.told[1].caption, "File open error");

    const QString text = rig.dir.filePath("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);
    EXPECT_FALSE(rig.editor->shellOpen(text));
    ASSERT_EQ(rig.prompter.told.size(), 3u) << "other names are refused, and it is said";
    EXPECT_TRUE(rig.prompter.told[2].text.contains("not a mode file"));
    EXPECT_EQ(QFileInfo(rig.editor->documentPath()).fileName(), "preset.r3v9")
        << "the refused file does not replace it";
}

// A name that is not UTF-8, as the command line hands it over, opens the file it names and a
// save goes back to that same file.
TEST(ShellOpen, ANameThatIsNotUtf8OpensAndSavesThatFile) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    const std::string raw = rig.dir.filePath("caf").toStdString() + "\xe9 \xff.R3v9";
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 12);
    ASSERT_TRUE(writeModeFile(raw, s));
    const QString path = decodeLocalPath(raw.c_str());
    EXPECT_EQ(encodeLocalPath(path), raw);
    EXPECT_EQ(encodeLocalPath(QString::fromUtf8("中文 é.q7M")), "中文 é.q7M");
    EXPECT_TRUE(rig.editor->shellOpen(path));
    EXPECT_TRUE(rig.prompter.told.empty()) << rig.prompter.told[0].text.toStdString();
    EXPECT_EQ(rig.editor->store().cellInt(65), 12);
}

TEST(ShellOpen, WithADeviceTheFileIsDownloaded) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 12);
    const QString path = rig.dir.filePath("show.R3v9");
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    EXPECT_TRUE(rig.editor->shellOpen(path));
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.sim.dspValue(2, 22), std::vector<std::uint32_t>{floatBits(0.12f)});
}

TEST(ShellOpen, AFileGivenBeforeTheAmplifierConnectsIsSentWhenTheUserSaysSo) {
    QTemporaryDir files;
    const QString first = files.filePath("first.R3v9"), path = files.filePath("show.R3v8");
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 12);
    ASSERT_TRUE(test::writeStartSettings(first));
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    // On the command line, with nothing plugged in yet: opened for editing.
    EditorRig rig(SimOptions{.startUnplugged = true}, [&](EditorOptions& o) { o.file = first; });
    rig.run(2000);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_TRUE(rig.editor->documentPath().endsWith("first.R3v9"));
    // Opened again from the file manager before the amplifier comes: the later file wins.
    EXPECT_TRUE(rig.editor->shellOpen(path));
    EXPECT_EQ(rig.editor->store().cellInt(65), 12);

    rig.prompter.answers = {Answer::Yes}; // send the editor's settings
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runUntil(
        [&] {
            return rig.sim.dspValue(2, 22) == std::vector<std::uint32_t>{floatBits(0.12f)} &&
                   !rig.editor->connection().session.workerRunning();
        },
        20000));
    ASSERT_FALSE(rig.prompter.asked.empty());
    EXPECT_TRUE(rig.prompter.asked.back().text.contains(QString::fromUtf8("尚未发送")));
    EXPECT_EQ(rig.editor->store().cellInt(65), 12);
    // The send the user agreed to follows the synchronisation without a notice that it waits.
    if (CInfoDlg* info = rig.editor->infoPopup()) {
        EXPECT_FALSE(info->text().contains(QString::fromUtf8("当前传输结束后执行")))
            << info->text().toStdString();
    }

    // Sent once: the next connection asks nothing and only reads.
    rig.clearTrace();
    const std::size_t asked = rig.prompter.asked.size();
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.run(2000);
    EXPECT_EQ(rig.prompter.asked.size(), asked);
    for (const Report& r : rig.sent())
        EXPECT_NE(r[1], CMD_MEM_WRITE) << "a synchronisation only reads";
}

TEST(ShellOpen, UsingTheAmplifiersSettingsOffersToSaveTheEditorsFirst) {
    QTemporaryDir files;
    const QString path = files.filePath("mine.q7M");
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 44);
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    EditorRig rig(SimOptions{.startUnplugged = true}, [&](EditorOptions& o) { o.file = path; });
    rig.run(500);
    rig.prompter.answers = {Answer::No, Answer::Yes}; // the amplifier's; save mine first
    rig.prompter.savePath = files.filePath("kept.q7M");
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.run(1000);
    EXPECT_NE(rig.editor->store().cellInt(65), 44) << "the amplifier's settings are shown";
    ParameterStore kept;
    ASSERT_TRUE(readModeFile(rig.prompter.savePath.toStdString(), kept));
    EXPECT_EQ(kept.cellInt(65), 44) << "nothing was lost";
    for (const Report& r : rig.sent())
        EXPECT_NE(r[1], CMD_MEM_WRITE);
}

namespace {

void writeImage(const QString& path, const ModeImage& m) {
    ASSERT_TRUE(writeFileAtomically(path.toStdString(), modeFileBytes(m)));
}

} // namespace

// A file whose version word is right and whose body is not never reaches the editor or the
// amplifier; one holding values a saved file may hold outside their ranges reaches them only
// after the preview that lists them is accepted (Cancel is the default).
TEST(Files, DamagedFilesAreRefusedAndClampedOnesWaitForThePreview) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    ParameterStore& s = rig.editor->store();
    const ModeImage amplifier = s.modeImage();
    const std::u16string modeName = rig.sim.modeName(0);

    ModeImage damaged = amplifier;
    damaged.cells[74] = std::uint32_t(-1793185536); // reverb level, channel A
    const QString bad = rig.dir.filePath("m1 rndbody.q7M");
    writeImage(bad, damaged);
    rig.prompter.openPath = bad;
    rig.clearTrace();
    rig.clickRibbon(cmd::LoadFile);
    rig.run(100);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].text,
              "The file was not loaded: Mic CH A Reverb Level (reverb.a.level) is "
              "-1793185536%, outside 0..100%.\n" +
                  bad);
    EXPECT_EQ(rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog"), nullptr);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(s.modeImage().cells, amplifier.cells);
    EXPECT_EQ(rig.sim.modeName(0), modeName) << "the mode keeps its name";

    // The start settings of an editor that never met an amplifier: zeros below the ranges.
    ParameterStore start;
    start.setCellInt(74, 33);
    const QString zeros = rig.dir.filePath("m1 start.q7M");
    writeImage(zeros, start.modeImage());
    rig.prompter.openPath = zeros;
    rig.clickRibbon(cmd::LoadFile);
    auto* preview = rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog");
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->list()->count(), 44);
    EXPECT_EQ(preview->list()->item(0)->text(),
              "Mic noise gate Attack time (mic.gate.attack): 101 → 100 (range 1..100)");
    EXPECT_TRUE(preview->cancelButton()->isDefault());
    // Enter takes the default: nothing changes, nothing is sent.
    QTest::keyClick(preview, Qt::Key_Return);
    rig.run(100);
    EXPECT_EQ(rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog"), nullptr);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_EQ(s.modeImage().cells, amplifier.cells);

    rig.clickRibbon(cmd::LoadFile);
    preview = rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog");
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(rig.sent().empty()) << "nothing before Load";
    rig.click(preview->loadButton());
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(s.cellInt(74), 33);
    EXPECT_EQ(s.cellFloat(98 + 1), 1.0f) << "the main compressor's ratio 0 loads as 1";
    EXPECT_EQ(rig.sim.dspValue(3, 15), std::vector<std::uint32_t>{floatBits(0.33f)});
    EXPECT_EQ(rig.sim.dspValue(5, 33).at(2), 0u) << "1 - 1/1, not the -inf of a ratio 0";
    EXPECT_EQ(rig.sim.modeName(0), u"m1 start");
}

// The file name names the device mode: characters the amplifier cannot show are replaced, and
// the preview says so first.
TEST(Files, ModeNamesFromFileNamesKeepWhatTheAmplifierShows) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    const QString path = rig.dir.filePath(QString::fromUtf8("m2\tparty\u0001.q7M"));
    writeImage(path, rig.editor->store().modeImage());
    rig.prompter.openPath = path;
    rig.clickRibbon(cmd::LoadFile);
    auto* preview = rig.view().findChild<CLoadPreviewDlg*>("LoadPreviewDialog");
    ASSERT_NE(preview, nullptr);
    ASSERT_EQ(preview->list()->count(), 1);
    EXPECT_EQ(preview->list()->item(0)->text(),
              QString::fromUtf8("Device mode name: \"m2␣party␣\" → \"m2_party_\" (characters the "
                                "amplifier cannot show)"));
    rig.click(preview->loadButton());
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.sim.modeName(0), u"m2_party_");
}
