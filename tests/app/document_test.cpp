// SPDX-License-Identifier: GPL-3.0-or-later
// The document as the user keeps it: closing with changed settings, Save, Save As, the file
// shortcuts, help, files dropped on the window, files that are not mode files, and which
// volumes the window shows after the editor's settings went to an amplifier.
#include "controls/image_button.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "pages/settings_dialog.h"
#include "params/mode_file.h"

#include <QDialog>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <QWindow>
#include <cmath>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;
using q7::test::key;

namespace {

// A real edit through the ribbon: the reverb mute goes to the amplifier and its
// acknowledgement marks the settings changed.
void editSomething(EditorRig& rig) {
    rig.click(rig.ribbon().check(cmd::ReverbMute));
    rig.settle();
    rig.run(50);
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A drag over the window to pos (window coordinates), dropped there: the window system hands
// the window enter, move and drop, and the window gives them to the widget under the pointer
// that takes drops. Returns whether the drop was taken.
bool dropAt(QWidget* top, QPoint pos, QMimeData* data) {
    QWindow* w = top->windowHandle();
    if (!w)
        return false;
    QDragEnterEvent enter(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
    QCoreApplication::processEvents(); // the window opens what was dropped once the drag is over
    return drop.isAccepted();
}

// Where a file is dropped: the middle of the status bar, away from any graph.
bool dropFile(EditorRig& rig, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QWidget* bar = &rig.status();
    return dropAt(&rig.frame(), bar->mapTo(&rig.frame(), bar->rect().center()), &data);
}

void showWindow(EditorRig& rig) {
    rig.frame().show();
    rig.frame().activateWindow();
    QApplication::setActiveWindow(&rig.frame());
}

} // namespace

// ---- closing ----

TEST(Closing, ACancelledOrFailedSaveWhileConnectedKeepsTheWindowOpen) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    showWindow(rig);
    editSomething(rig);
    ASSERT_TRUE(rig.editor->store().parametersChanged());

    // Yes, then Cancel in the save dialog: nothing is stored, the window stays.
    rig.prompter.answers = {Answer::Yes};
    rig.prompter.savePath.clear();
    rig.clearTrace();
    key(rig, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_EQ(rig.prompter.saveNames.size(), 1u) << "the save dialog was offered";
    EXPECT_TRUE(rig.frame().isVisible());
    EXPECT_TRUE(rig.editor->linkOpen());
    EXPECT_TRUE(rig.sent().empty()) << "nothing stored into the device mode";
    EXPECT_TRUE(rig.editor->store().parametersChanged());

    // Yes, then a file that cannot be written: said, and the window stays.
    rig.prompter.answers = {Answer::Yes};
    rig.prompter.savePath = rig.dir.filePath("no such folder/show.q7M");
    rig.frame().close();
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Can't write to file");
    EXPECT_TRUE(rig.frame().isVisible());
    EXPECT_TRUE(rig.editor->linkOpen());

    // Yes with a good name: stored into the device mode, written, closed.
    rig.prompter.answers = {Answer::Yes};
    rig.prompter.savePath = rig.dir.filePath("show.q7M");
    rig.frame().close();
    EXPECT_FALSE(rig.frame().isVisible());
    EXPECT_EQ(QFile(rig.prompter.savePath).size(), 1791);
    // The close goes out on the writer thread after every report queued before it.
    const auto closed = [&rig] {
        for (const Report& r : rig.sent())
            if (r[1] == CMD_CLOSE)
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(closed, 10000)) << "the link was closed";
    bool stored = false;
    for (const Report& r : rig.sent())
        stored |= r == shortCommand(CMD_MODE_STORE, 0);
    EXPECT_TRUE(stored);
}

TEST(Closing, TheQuestionSaysWhatYesDoesAndNamesTheMode) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    showWindow(rig);
    editSomething(rig);
    rig.prompter.answers = {Answer::Cancel};
    rig.frame().close();
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    const QString zh = rig.prompter.asked[0].text;
    EXPECT_TRUE(zh.startsWith(QString::fromUtf8("参数已改动，请问是否需要保存?")));
    EXPECT_TRUE(zh.contains(QString::fromUtf8("模式一"))) << zh.toStdString();
    EXPECT_TRUE(zh.contains("KTV")) << zh.toStdString();

    rig.clickRibbon(cmd::LanguageSwitch);
    rig.prompter.answers = {Answer::Cancel};
    rig.frame().close();
    ASSERT_EQ(rig.prompter.asked.size(), 2u);
    const QString en = rig.prompter.asked[1].text;
    EXPECT_EQ(rig.prompter.asked[1].caption, "Save?");
    EXPECT_FALSE(en.contains("parameter value is changed")) << en.toStdString();
    EXPECT_TRUE(en.contains("Yes")) << en.toStdString();
    EXPECT_TRUE(en.contains("user mode")) << en.toStdString();
    EXPECT_TRUE(en.contains("Mode1")) << en.toStdString();
    EXPECT_TRUE(en.contains("KTV")) << en.toStdString();
    EXPECT_TRUE(rig.frame().isVisible());
}

TEST(Closing, ADocumentWithAFileIsSavedToItWithoutAName) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    showWindow(rig);
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 21);
    const QString path = rig.dir.filePath("club.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    rig.prompter.openPath = path;
    key(rig, Qt::Key_O, Qt::ControlModifier); // opened and sent
    ASSERT_EQ(rig.prompter.openFilters.size(), 1u);
    ASSERT_TRUE(rig.connect());
    ASSERT_EQ(rig.editor->documentPath(), QFileInfo(path).absoluteFilePath());

    // Ctrl+S writes the file it came from, and stores into the device mode, asking nothing.
    editSomething(rig);
    rig.clearTrace();
    key(rig, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(rig.prompter.saveNames.empty()) << "no file dialog";
    EXPECT_TRUE(rig.prompter.asked.empty());
    ParameterStore saved;
    ASSERT_TRUE(readModeFile(path.toStdString(), saved));
    EXPECT_EQ(saved.cellInt(84), rig.editor->store().cellInt(84));
    EXPECT_EQ(rig.firstSent(), shortCommand(CMD_MODE_STORE, 0));
    EXPECT_FALSE(rig.frame().windowTitle().endsWith("*"));

    // Closing with a change: Yes saves to the same file.
    editSomething(rig);
    rig.prompter.answers = {Answer::Yes};
    key(rig, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(rig.prompter.saveNames.empty()) << "no file dialog";
    EXPECT_FALSE(rig.frame().isVisible());
    ASSERT_TRUE(readModeFile(path.toStdString(), saved));
    EXPECT_EQ(saved.cellInt(84), rig.editor->store().cellInt(84));
}

TEST(Closing, OfflineYesSavesToTheOpenedFile) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    showWindow(rig);
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 30);
    const QString path = rig.dir.filePath("site.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    rig.prompter.openPath = path;
    key(rig, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(rig.editor->store().cellInt(65), 30);
    editSomething(rig);
    ASSERT_TRUE(rig.editor->edits().modified());
    rig.prompter.answers = {Answer::Yes};
    key(rig, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(rig.prompter.saveNames.empty());
    EXPECT_FALSE(rig.frame().isVisible());
    ParameterStore saved;
    ASSERT_TRUE(readModeFile(path.toStdString(), saved));
    EXPECT_EQ(saved.cellInt(84), 1) << "the reverb mute set offline is in the file";
}

// ---- Save As, the File menu, help ----

TEST(Files, SaveAsStartsAtTheCurrentFileAndTheMenuShowsTheShortcuts) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    showWindow(rig);
    const QString path = rig.dir.filePath("first.q7M");
    ASSERT_TRUE(test::writeStartSettings(path));
    rig.prompter.openPath = path;
    key(rig, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(rig.editor->documentPath(), QFileInfo(path).absoluteFilePath());

    const QString other = rig.dir.filePath("second.q7M");
    rig.prompter.savePath = other;
    key(rig, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(rig.prompter.saveNames.size(), 1u);
    EXPECT_EQ(rig.prompter.saveNames[0], QFileInfo(path).absoluteFilePath())
        << "the dialog starts in the file's folder with its name";
    EXPECT_EQ(fileBytes(other), fileBytes(path));
    EXPECT_EQ(rig.editor->documentPath(), QFileInfo(other).absoluteFilePath());

    // The File menu names each shortcut beside its command, in both languages.
    for (int round = 0; round < 2; ++round) {
        QStringList texts;
        for (QAction* a : rig.ribbon().appMenu()->actions())
            texts << a->text();
        const QString all = texts.join("|");
        for (const char* shortcut : {"Ctrl+O", "Ctrl+S", "Ctrl+Shift+S", "Ctrl+Q", "F1"})
            EXPECT_TRUE(all.contains(QString("\t") + shortcut))
                << shortcut << " in " << all.toStdString();
        rig.clickRibbon(cmd::LanguageSwitch);
    }
}

TEST(Files, SaveAsWithoutAFileStartsWithTheUsualName) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    showWindow(rig);
    rig.prompter.savePath.clear();
    key(rig, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(rig.prompter.saveNames.size(), 1u);
    EXPECT_EQ(rig.prompter.saveNames[0], "name");
    // Ctrl+S without a file asks for the name too.
    key(rig, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(rig.prompter.saveNames.size(), 2u);
}

TEST(Help, F1OpensTheTourShippedWithTheProgram) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    showWindow(rig);
    key(rig, Qt::Key_F1, Qt::NoModifier);
    auto* help = rig.frame().findChild<QDialog*>("HelpDialog");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    auto* text = help->findChild<QTextBrowser*>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().contains("A tour"))
        << text->toPlainText().left(200).toStdString();
    EXPECT_TRUE(text->toPlainText().contains("Offline, undo and A/B"));
    // Its pictures come with it.
    EXPECT_FALSE(
        text->document()
            ->resource(QTextDocument::ImageResource, QUrl("docs/screenshots/main-offline.en.png"))
            .isNull());
    // F1 again brings the same window forward.
    key(rig, Qt::Key_F1, Qt::NoModifier);
    EXPECT_EQ(rig.frame().findChildren<QDialog*>("HelpDialog").size(), 1);
}

// ---- files dropped on the window ----

TEST(Drop, AModeFileOpensAsLoadFileDoesAndAnythingElseIsRefused) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    showWindow(rig);
    rig.clickRibbon(cmd::LanguageSwitch);
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 55);
    const QString path = rig.dir.filePath("dropped.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    EXPECT_TRUE(dropFile(rig, path));
    EXPECT_EQ(rig.editor->store().cellInt(65), 55) << "opened for editing";
    EXPECT_EQ(rig.editor->documentPath(), QFileInfo(path).absoluteFilePath());
    EXPECT_TRUE(rig.prompter.told.empty());
    EXPECT_TRUE(rig.sent().empty());

    // A text file: refused with what is wrong; nothing changes.
    const QString notes = rig.dir.filePath("notes.q7M");
    writeBytes(notes, "these are my notes about the party room\n");
    EXPECT_TRUE(dropFile(rig, notes));
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.contains("not a mode file"))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_EQ(rig.editor->store().cellInt(65), 55);
    EXPECT_EQ(rig.editor->documentPath(), QFileInfo(path).absoluteFilePath());

    // Text dragged from another program, and two files at once: refused with a message.
    QMimeData text;
    text.setText("hello");
    QWidget* bar = &rig.status();
    dropAt(&rig.frame(), bar->mapTo(&rig.frame(), bar->rect().center()), &text);
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told[1].text.contains("mode file"))
        << rig.prompter.told[1].text.toStdString();
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(notes)});
    dropAt(&rig.frame(), bar->mapTo(&rig.frame(), bar->rect().center()), &two);
    ASSERT_EQ(rig.prompter.told.size(), 3u);
    EXPECT_TRUE(rig.sent().empty());
}

TEST(Drop, WhileConnectedADroppedModeFileIsSent) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    showWindow(rig);
    ParameterStore s;
    test::withinRanges(s);
    s.setCellInt(65, 12);
    const QString path = rig.dir.filePath("night.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), s));
    EXPECT_TRUE(dropFile(rig, path));
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.sim.dspValue(2, 22), std::vector<std::uint32_t>{floatBits(0.12f)});
    EXPECT_EQ(rig.editor->documentPath(), QFileInfo(path).absoluteFilePath());
}

// ---- files that are not mode files ----

TEST(Files, ARefusedFileSaysWhatIsWrongAndIsNeverUnsentSettings) {
    QTemporaryDir files;
    const QString junk = files.filePath("junk.q7M");
    writeBytes(junk, QByteArray(2000, 'x'));
    // On the command line, before the amplifier comes.
    EditorRig rig(SimOptions{.startUnplugged = true}, [&](EditorOptions& o) { o.file = junk; });
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, QString::fromUtf8("文件打开错误"));
    EXPECT_TRUE(rig.prompter.told[0].text.contains(QString::fromUtf8("不是模式文件")))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_TRUE(rig.editor->documentPath().isEmpty());
    EXPECT_FALSE(rig.editor->edits().holdsUnsent());

    // The amplifier arrives: no question, nothing written, its settings are shown.
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.run(1000);
    EXPECT_TRUE(rig.prompter.asked.empty());
    for (const Report& r : rig.sent())
        EXPECT_NE(r[1], CMD_MEM_WRITE) << "only read";
    EXPECT_EQ(rig.editor->store().cellInt(26), 60);

    // File -> Open of a file of a later version, and of a short one, in English.
    rig.clickRibbon(cmd::LanguageSwitch);
    QByteArray v7 = QByteArray(1791, '\0');
    v7[0] = 7;
    const QString later = files.filePath("later.q7M");
    writeBytes(later, v7);
    rig.prompter.openPath = later;
    rig.clearTrace();
    rig.ribbon().action(cmd::AppOpen)->trigger();
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told[1].caption, "File open error");
    EXPECT_TRUE(rig.prompter.told[1].text.contains("version 7 not supported"))
        << rig.prompter.told[1].text.toStdString();
    QByteArray shortFile = QByteArray(900, '\0');
    shortFile[0] = 2;
    const QString cut = files.filePath("cut.q7M");
    writeBytes(cut, shortFile);
    rig.prompter.openPath = cut;
    rig.ribbon().action(cmd::AppOpen)->trigger();
    ASSERT_EQ(rig.prompter.told.size(), 3u);
    EXPECT_TRUE(rig.prompter.told[2].text.contains("too short"))
        << rig.prompter.told[2].text.toStdString();
    EXPECT_TRUE(rig.prompter.told[2].text.contains("900"))
        << rig.prompter.told[2].text.toStdString();
    rig.run(100);
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_FALSE(rig.editor->edits().canUndo()) << "a refused file is no step";
}

// ---- volumes after the editor's settings went to an amplifier ----

namespace {

struct Volumes {
    int mic, music;
};

// What the amplifier plays, as q7ctl pull reads it: the words at the volumes' DSP addresses.
Volumes amplifiers(EditorRig& rig) {
    auto percent = [&](int module, int parameter) {
        const std::vector<std::uint32_t> w = rig.sim.dspValue(module, parameter);
        return w.empty() ? -1 : int(std::lround(bitsFloat(w[0]) * 100));
    };
    return {percent(1, 30), percent(4, 15)};
}

Volumes shown(EditorRig& rig) {
    return {rig.ribbon().slider(cmd::MicSlider)->value(),
            rig.ribbon().slider(cmd::MusicSlider)->value()};
}

// Offline with a file of loud volumes; the amplifier arrives and the user sends the editor's
// settings. volumesByMode: the user first set the amplifier to keep its volumes in its modes.
void sendFileOnConnect(EditorRig& rig, bool volumesByMode) {
    if (volumesByMode) {
        ASSERT_TRUE(rig.connect());
        rig.frame().show();
        rig.frame().activateWindow();
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &rig.frame(), Qt::Key_F7); // machine settings
        CSetDlg* settings = rig.view().settingsDialog();
        ASSERT_NE(settings, nullptr);
        rig.click(settings->saveMode(1));
        rig.click(settings->applyButton());
        rig.settle();
        ASSERT_EQ(rig.sim.settings()[0], 1);
        rig.sim.unplug();
        ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    }
    ParameterStore loud;
    test::withinRanges(loud);
    loud.setCellInt(cell::MicVolume, 95);
    loud.setCellInt(cell::MusicVolume, 97);
    loud.setCellInt(65, 12);
    const QString path = rig.dir.filePath("loud.q7M");
    ASSERT_TRUE(writeModeFile(path.toStdString(), loud));
    rig.editor->shellOpen(path);
    ASSERT_EQ(shown(rig).mic, 95);
    rig.prompter.answers = {Answer::Yes}; // send the editor's settings
    const std::size_t asked = rig.prompter.asked.size();
    rig.sim.plug();
    ASSERT_TRUE(rig.runUntil([&] { return rig.prompter.asked.size() > asked; }, 20000));
    ASSERT_TRUE(rig.connect());
    ASSERT_EQ(rig.sim.dspValue(2, 22), std::vector<std::uint32_t>{floatBits(0.12f)});
}

} // namespace

TEST(Connecting, SentSettingsKeepTheAmplifiersVolumesWhenItSavesThemByPower) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    sendFileOnConnect(rig, false);
    const Volumes window = shown(rig);
    EXPECT_EQ(window.mic, 60) << "the amplifier's volume, not the file's 95";
    EXPECT_EQ(rig.editor->store().cellInt(cell::MicVolume), window.mic);
    EXPECT_EQ(rig.editor->store().cellInt(cell::MusicVolume), window.music);
    const Volumes amp = amplifiers(rig);
    EXPECT_EQ(amp.mic, window.mic);
    EXPECT_EQ(amp.music, window.music);
}

TEST(Connecting, SentSettingsCarryTheFilesVolumesWhenTheyBelongToTheMode) {
    EditorRig rig;
    sendFileOnConnect(rig, true);
    const Volumes window = shown(rig);
    EXPECT_EQ(window.mic, 95);
    EXPECT_EQ(window.music, 97);
    const Volumes amp = amplifiers(rig);
    EXPECT_EQ(amp.mic, 95);
    EXPECT_EQ(amp.music, 97);
}
