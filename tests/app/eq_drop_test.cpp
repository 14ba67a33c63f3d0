// SPDX-License-Identifier: GPL-3.0-or-later
// Files dropped on an EQ graph, delivered as the window system delivers a drag: to the widget
// under the pointer and on to its parents until one takes it.
#include "edit_steps.h"
#include "editor_rig.h"
#include "page_input.h"
#include "pages/eq_tools.h"
#include "pages/output_page.h"
#include "params/mode_file.h"
#include "sim/simulated_amplifier.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

QString writeFile(EditorRig& rig, const QString& name, const QByteArray& bytes) {
    const QString path = rig.dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

// Drags mime over w at pos and drops it there. Returns the widget the drop was given to, or null
// when none took it. Qt itself hands a drag that a widget ignores on to its ancestors, so a
// drop the graph lets pass may still come back as the graph here: look at what happened.
QWidget* dropAt(QWidget* w, QPoint pos, QMimeData* mime) {
    QWidget* top = w->window();
    const QPoint at = w->mapTo(top, pos);
    QWidget* target = top->childAt(at);
    if (!target)
        target = top;
    for (QWidget* c = target; c; c = c->isWindow() ? nullptr : c->parentWidget()) {
        if (!c->acceptDrops() || !c->isEnabled())
            continue;
        const QPoint local = c->mapFrom(top, at);
        QDragEnterEvent enter(local, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c, &enter);
        if (!enter.isAccepted())
            continue;
        QDragMoveEvent move(local, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c, &move);
        if (!move.isAccepted())
            continue;
        QDropEvent drop(QPointF(local), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c, &drop);
        return drop.isAccepted() ? c : nullptr;
    }
    return nullptr;
}

QWidget* dropFiles(CEqPanel* g, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    return dropAt(g, g->rect().center(), &mime);
}

} // namespace

TEST(EqDrops, AFilterListOpensThePreviewForTheGraphsBank) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    const QString path = writeFile(rig, "room.txt",
                                   "Preamp: -3 dB\n"
                                   "Filter 1: ON PK Fc 120 Hz Gain -4.5 dB Q 2.00\n"
                                   "Filter 2: ON PK Fc 3000 Hz Gain 2.0 dB Q 1.41\n");
    EXPECT_EQ(dropFiles(page->graph(), {path}), page->graph()) << "the graph takes it";
    rig.run(10);
    auto* preview = page->findChild<CEqImportDlg*>();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_TRUE(preview->windowTitle().contains("MAIN EQ")) << preview->windowTitle().toStdString();
    click(preview->applyButton(), preview->applyButton()->rect().center());
    rig.run(10);
    EXPECT_EQ(rig.editor->store().band(5, 0), (BandRecord{105, 120, 2000, 1}));
    EXPECT_EQ(rig.editor->store().band(5, 1), (BandRecord{170, 3000, 1410, 1}));
}

TEST(EqDrops, AMeasurementIsDrawnOverTheGraph) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    QByteArray text = "* Freq(Hz) SPL(dB)\n";
    for (double f = 20; f <= 20000; f *= 1.1)
        text +=
            QByteArray::number(f) + " " + QByteArray::number(80.0 + 3 * std::sin(f / 300)) + "\n";
    const QString path = writeFile(rig, "main-left.frd", text);
    ASSERT_FALSE(page->graph()->hasOverlay());
    EXPECT_EQ(dropFiles(page->graph(), {path}), page->graph());
    rig.run(10);
    EXPECT_TRUE(page->graph()->hasOverlay());
    EXPECT_FALSE(std::isnan(page->graph()->overlayMeasurementAt(kCurvePoints / 2)));
    EXPECT_TRUE(rig.prompter.told.empty());
}

TEST(EqDrops, AnythingElseIsRefusedInTheUsersLanguage) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    CEqPanel* g = page->graph();
    const ModeImage before = settingsOf(rig.editor->store());
    const QString junk = writeFile(rig, "notes.txt", "shopping: milk, eggs\n");

    rig.editor->setLanguageIndex(kEnglish);
    EXPECT_EQ(dropFiles(g, {junk}), g) << "taken, to be refused with a word";
    rig.run(10);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.startsWith("notes.txt: neither a filter list"))
        << rig.prompter.told[0].text.toStdString();

    rig.editor->setLanguageIndex(kChinese);
    QMimeData words;
    words.setText("some words");
    EXPECT_EQ(dropAt(g, g->rect().center(), &words), g);
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_EQ(rig.prompter.told[1].text, QString::fromUtf8("这里只能放入滤波器列表或测量文件。"));
    dropFiles(g, {junk, junk});
    ASSERT_EQ(rig.prompter.told.size(), 3u);
    dropFiles(g, {rig.dir.filePath("gone.txt")});
    ASSERT_EQ(rig.prompter.told.size(), 4u);
    EXPECT_TRUE(rig.prompter.told[3].text.startsWith("gone.txt: "));
    EXPECT_FALSE(g->hasOverlay());
    EXPECT_TRUE(sameSettings(before, settingsOf(rig.editor->store())));

    // A mode file is the window's to open: the graph lets it pass (Qt hands the drop on to the
    // frame, which opens it).
    const QString mode = rig.dir.filePath("venue.q7M");
    ASSERT_TRUE(test::writeStartSettings(mode));
    dropFiles(g, {mode});
    rig.run(10);
    EXPECT_EQ(rig.prompter.told.size(), 4u) << "no word from the graph";
    EXPECT_EQ(rig.editor->documentPath(), mode);
}

TEST(EqDrops, EachEditorKeepsItsOwnMeasurements) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CDialogOutput* page = mainOutput(rig);
    ASSERT_NE(page, nullptr);
    QByteArray text;
    for (double f = 20; f <= 20000; f *= 1.2)
        text += QByteArray::number(f) + "\t" + QByteArray::number(75.0) + "\n";
    // Loaded from the graph's menu.
    rig.prompter.openPath = writeFile(rig, "room.txt", text);
    CEqPanel* g = page->graph();
    QTest::mouseClick(g, Qt::RightButton, Qt::NoModifier, QPoint(g->width() - 40, 30));
    ASSERT_NE(page->copyMenu(), nullptr);
    QAction* load = page->copyMenu()->findChild<QAction*>("eqTool:measurement");
    ASSERT_NE(load, nullptr);
    QTest::mouseClick(page->copyMenu(), Qt::LeftButton, Qt::NoModifier,
                      page->copyMenu()->actionGeometry(load).center());
    rig.run(10);
    ASSERT_TRUE(g->hasOverlay());

    {
        // A second editor in the same process, on the same time, with its own amplifier.
        SimulatedAmplifier amp(rig.clock, SimOptions{.startUnplugged = true});
        QSettings profile(rig.dir.filePath("second.ini"), QSettings::IniFormat);
        EditorOptions o;
        o.clock = &rig.clock;
        o.virtualTime = true;
        o.backend = &amp;
        o.prompter = &rig.prompter;
        o.profile = &profile;
        Editor second(o);
        second.InitInstance();
        second.frame()->view().showPage(PageKind::Output, 5);
        auto* other = dynamic_cast<CDialogOutput*>(second.frame()->view().currentPage());
        ASSERT_NE(other, nullptr);
        EXPECT_FALSE(other->graph()->hasOverlay()) << "the first editor's measurement is not here";
    }
    // The first editor still shows its own, also on a page built again.
    rig.view().showPage(PageKind::Delay);
    page = mainOutput(rig);
    EXPECT_TRUE(page->graph()->hasOverlay());
}
