// SPDX-License-Identifier: GPL-3.0-or-later
// The ribbon at the widths a window takes, from the frame's minimum up, in both languages:
// nothing cut, nothing out of reach. With Q7_RIBBON_SHOTS=DIR it also saves what it checked.
#include "editor_rig.h"
#include "real_input.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTimer>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

QString nameOf(QWidget* w) {
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        text = b->text();
    else if (auto* l = qobject_cast<QLabel*>(w))
        text = l->text();
    return QString("%1 %2 \"%3\"").arg(w->metaObject()->className()).arg(controlId(w)).arg(text);
}

// Every control on the shown part of the ribbon: inside the ribbon and inside its parent (not
// clipped), as wide and as high as its text needs (not cut), and clear of its neighbours.
void expectNothingCut(Ribbon& ribbon, const std::string& where) {
    const QRect all = ribbon.rect();
    std::vector<QWidget*> shown;
    for (QWidget* w : ribbon.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow())
            continue;
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                             qobject_cast<QSlider*>(w);
        if (!control)
            continue;
        shown.push_back(w);
        const QRect r(w->mapTo(&ribbon, QPoint(0, 0)), w->size());
        EXPECT_TRUE(all.contains(r)) << where << ": " << nameOf(w).toStdString() << " reaches out";
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
            << where << ": " << nameOf(w).toStdString() << " clipped by its panel";
        const QSize need = w->sizeHint();
        if (!qobject_cast<QSlider*>(w)) {
            EXPECT_GE(w->width(), need.width())
                << where << ": " << nameOf(w).toStdString() << " cut (" << w->width() << " of "
                << need.width() << ")";
            EXPECT_GE(w->height(), std::min(need.height(), 24))
                << where << ": " << nameOf(w).toStdString() << " too low";
        } else {
            EXPECT_GE(w->width(), 90) << where << ": " << nameOf(w).toStdString();
        }
    }
    for (std::size_t i = 0; i < shown.size(); ++i)
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            QWidget *a = shown[i], *b = shown[j];
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            const QRect ra(a->mapTo(&ribbon, QPoint(0, 0)), a->size());
            const QRect rb(b->mapTo(&ribbon, QPoint(0, 0)), b->size());
            EXPECT_FALSE(ra.intersects(rb)) << where << ": " << nameOf(a).toStdString()
                                            << " overlaps " << nameOf(b).toStdString();
        }
}

} // namespace

TEST(RibbonLayout, NothingIsCutAtAnyWidthInEitherLanguage) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    const QString dir = qEnvironmentVariable("Q7_RIBBON_SHOTS");
    for (int lang : {kChinese, kEnglish}) {
        rig.editor->setLanguageIndex(lang);
        for (int category : {kInputCategory, kOutputCategory}) {
            rig.showCategory(category);
            for (int w : {1024, 1100, 1180, 1280, 1400, 1920}) {
                rig.frame().resize(w, 820);
                QApplication::processEvents();
                const std::string where = QString("%1 px, %2, %3")
                                              .arg(w)
                                              .arg(lang == kEnglish ? "English" : "Chinese")
                                              .arg(category == kInputCategory ? "Input" : "Output")
                                              .toStdString();
                ASSERT_LE(rig.ribbon().width(), w);
                expectNothingCut(rig.ribbon(), where);
                if (!dir.isEmpty())
                    rig.ribbon().grab().save(
                        QDir(dir).filePath(QString("ribbon-%1-%2.%3.png")
                                               .arg(w)
                                               .arg(category == kInputCategory ? "input" : "output")
                                               .arg(lang == kEnglish ? "en" : "zh")));
            }
        }
    }
}

TEST(RibbonLayout, FoldsOnlyAsFarAsTheWidthNeeds) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    for (int lang : {kChinese, kEnglish}) {
        rig.editor->setLanguageIndex(lang);
        rig.frame().resize(1920, 820);
        QApplication::processEvents();
        EXPECT_EQ(rig.ribbon().fold(), 0) << "a wide window shows everything in full";
        rig.frame().resize(1024, 820);
        QApplication::processEvents();
        const int folded = rig.ribbon().fold();
        EXPECT_GT(folded, 0);
        EXPECT_LE(rig.ribbon().widthNeeded(folded), rig.ribbon().width());
        EXPECT_GT(rig.ribbon().widthNeeded(folded - 1), rig.ribbon().width())
            << "one step less would not fit";
        rig.frame().resize(1920, 820);
        QApplication::processEvents();
        EXPECT_EQ(rig.ribbon().fold(), 0) << "and it unfolds again";
    }
}

TEST(RibbonLayout, ThePresetsAndEveryInputElementAreInReachAtTheDefaultSize) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    for (int lang : {kChinese, kEnglish}) {
        rig.editor->setLanguageIndex(lang);
        rig.showCategory(kInputCategory);
        for (int w : {1024, 1180}) {
            rig.frame().resize(w, 820);
            QApplication::processEvents();
            // The arrow of LoadFile opens the factory presets.
            QToolButton* file = rig.ribbon().button(cmd::LoadFile);
            ASSERT_TRUE(file->isVisible());
            // The menu runs its own loop while open: it is looked at and closed from there.
            QObject guard;
            QWidget* opened = nullptr;
            QTimer::singleShot(0, &guard, [&opened] {
                opened = QApplication::activePopupWidget();
                if (opened)
                    opened->close();
            });
            // Clicked where the arrow shows, on whatever is on top there.
            const QPoint arrow =
                file->mapTo(&rig.ribbon(), QPoint(file->width() - 4, file->height() / 2));
            QWidget* there = rig.ribbon().childAt(arrow);
            ASSERT_NE(there, nullptr);
            EXPECT_EQ(there, file) << w << " px: the arrow is covered";
            QTest::mouseClick(there, Qt::LeftButton, Qt::NoModifier,
                              there->mapFrom(&rig.ribbon(), arrow));
            EXPECT_EQ(opened, file->menu()) << w << " px: the presets open from the arrow";
            // The A/B group, whole.
            for (int id : {cmd::SlotA, cmd::SlotB, cmd::CopyAB, cmd::CopyBA}) {
                QToolButton* b = rig.ribbon().slotButton(kInputCategory, id);
                const QRect r(b->mapTo(&rig.ribbon(), QPoint(0, 0)), b->size());
                EXPECT_TRUE(b->isVisible() && rig.ribbon().rect().contains(r)) << w << " " << id;
                for (QPoint corner : {r.topLeft(), r.bottomRight(), r.center()})
                    EXPECT_EQ(rig.ribbon().childAt(corner), b) << w << " " << id << " covered";
            }
        }
    }
}
