// SPDX-License-Identifier: GPL-3.0-or-later
// Every control the user can point at explains itself, in the language shown.
#include "controls/bmp_slider.h"
#include "controls/compress_panel.h"
#include "controls/delay_panel.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "controls/small_eq_panel.h"
#include "controls/speaker_panel.h"
#include "controls/up_down.h"
#include "editor_rig.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QShortcut>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

bool isControl(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const CXBmpSlider*>(w) || qobject_cast<const UpDown*>(w) ||
           qobject_cast<const CPeakMeterCtrl*>(w) || qobject_cast<const CEqPanel*>(w) ||
           qobject_cast<const CSmallEqPanel*>(w) || qobject_cast<const CCompressPanelPlus*>(w) ||
           qobject_cast<const CDelayPanel*>(w) || qobject_cast<const CSSVolumePanel*>(w);
}

bool hasChinese(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// The controls under root (a control's own parts, like a list's scroll bars, are the control).
std::vector<QWidget*> controlsOf(QWidget* root, bool visibleOnly) {
    std::vector<QWidget*> out;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!isControl(w) || (visibleOnly && !w->isVisible()))
            continue;
        bool part = false;
        for (QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
            part |= isControl(p) || qobject_cast<QTabBar*>(p); // the tabs are checked by tab
        if (!part)
            out.push_back(w);
    }
    return out;
}

std::string describe(const char* where, QWidget* w) {
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        text = b->text();
    return std::string(where) + " " + w->metaObject()->className() + " #" +
           std::to_string(controlId(w)) + " \"" + text.toStdString() + "\"";
}

// Fails for each control without a tooltip in the language shown.
void expectTips(const std::vector<QWidget*>& controls, const char* where, bool english) {
    for (QWidget* w : controls) {
        const QString tip = w->toolTip();
        EXPECT_FALSE(tip.isEmpty()) << describe(where, w);
        if (!tip.isEmpty()) {
            EXPECT_EQ(hasChinese(tip), !english) << describe(where, w) << ": " << tip.toStdString();
        }
    }
}

void expectPageTips(EditorRig& rig, const char* where, bool english) {
    rig.run(10);
    ASSERT_NE(rig.view().currentPage(), nullptr);
    const auto controls = controlsOf(rig.view().currentPage(), true);
    EXPECT_GT(controls.size(), 2u) << where;
    expectTips(controls, where, english);
}

CGdipButton* pageButton(EditorRig& rig, int id) {
    for (CGdipButton* b : rig.view().currentPage()->findChildren<CGdipButton*>())
        if (controlId(b) == id && b->isVisible())
            return b;
    return nullptr;
}

} // namespace

TEST(Tooltips, EveryRibbonElementAndPageControlInBothLanguages) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    for (bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "Chinese");
        if (rig.editor->language().english() != english)
            rig.clickRibbon(cmd::LanguageSwitch); // as the user switches, while running
        ASSERT_EQ(rig.editor->language().english(), english);

        // Both categories' elements, the shown and the hidden one.
        const auto ribbon = controlsOf(&rig.ribbon(), false);
        EXPECT_GT(ribbon.size(), 50u);
        expectTips(ribbon, "ribbon", english);
        for (int c : {kInputCategory, kOutputCategory}) {
            const QString tip = rig.ribbon().tabBar()->tabToolTip(c);
            EXPECT_FALSE(tip.isEmpty());
            EXPECT_EQ(hasChinese(tip), !english);
        }
        for (QAction* a : rig.ribbon().appMenu()->actions())
            if (!a->isSeparator() && !a->menu()) {
                EXPECT_FALSE(a->toolTip().isEmpty() || a->toolTip() == a->text())
                    << a->text().toStdString();
                EXPECT_EQ(hasChinese(a->toolTip()), !english) << a->toolTip().toStdString();
            }
        expectTips(controlsOf(&rig.status(), true), "status bar", english);

        // Every page as the user reaches it, each bank of the music page and each output.
        rig.showCategory(kInputCategory);
        for (int bank : {1068, 1069, 1070}) {
            rig.click(pageButton(rig, bank));
            expectPageTips(rig, "music", english);
        }
        rig.click(pageButton(rig, 1068));
        for (int effects : {1144, 1143}) {
            for (CSmallEqPanel* g : rig.view().currentPage()->findChildren<CSmallEqPanel*>())
                if (controlId(g) == effects)
                    rig.click(static_cast<QWidget*>(g));
            ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Effects);
            expectPageTips(rig, "effects", english);
            rig.click(pageButton(rig, 1068)); // return
            ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
        }
        rig.showCategory(kOutputCategory);
        for (int nav : {1069, 1072, 1070, 1071, 1076, 1073, 1074, 1075}) {
            rig.click(pageButton(rig, nav));
            expectPageTips(rig, "output group", english);
        }
        rig.showCategory(kInputCategory);
    }
}

TEST(Tooltips, NameTheShortcutsAndShowWhereThePointerRests) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    // Each application-wide shortcut is named in the tooltip of what it does.
    QStringList tips;
    for (QAction* a : rig.ribbon().appMenu()->actions())
        tips << a->toolTip();
    const auto shortcuts = rig.view().findChildren<QShortcut*>();
    ASSERT_GE(shortcuts.size(), 3);
    for (QShortcut* s : shortcuts) {
        const QString keys = s->key().toString(QKeySequence::NativeText);
        // The keys as a whole: Ctrl+S is not named by a tooltip that names Ctrl+Shift+S.
        const QRegularExpression named("(^|[^\\w+])" + QRegularExpression::escape(keys) +
                                       "($|[^\\w+])");
        EXPECT_TRUE(tips.filter(named).size() == 1) << keys.toStdString();
    }

    // The tooltip follows the language at run time, and is what shows under a resting pointer.
    StepSlider* mic = rig.ribbon().slider(cmd::MicSlider);
    const QString chinese = mic->toolTip();
    rig.clickRibbon(cmd::LanguageSwitch);
    const QString english = mic->toolTip();
    EXPECT_NE(chinese, english);
    EXPECT_TRUE(english.startsWith("Microphone volume")) << english.toStdString();
    const QPoint at = mic->rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, mic->mapToGlobal(at));
    QApplication::sendEvent(mic, &hover);
    EXPECT_EQ(QToolTip::text(), english);
    QToolTip::hideText();
}
