// SPDX-License-Identifier: GPL-3.0-or-later
// Input as a person gives it: presses, drags in steps, releases, wheel turns delivered to the
// widget under the pointer, key clicks and typing. Tests drive controls only through these (or
// QTest's own mouse and key functions), never by emitting a control's signals.
#pragma once

#include <QAbstractSlider>
#include <QApplication>
#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <functional>

namespace q7::test {

// Presses at from, moves to `to` in `steps` moves, releases there. between, when given, runs
// after every move (to let the editor's time pass as a person's hand takes time).
inline void drag(QWidget* w, QPoint from, QPoint to, int steps = 8,
                 Qt::MouseButton button = Qt::LeftButton,
                 const std::function<void()>& between = {}) {
    QTest::mousePress(w, button, Qt::NoModifier, from);
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        QTest::mouseMove(w, p);
        if (between)
            between();
    }
    QTest::mouseRelease(w, button, Qt::NoModifier, to);
}

inline void click(QWidget* w, QPoint pos = {}) {
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, pos);
}

// One wheel turn of `notches` (negative: towards the user) at pos of `top`: delivered, as the
// window system delivers it, to the widget under the pointer and on to its parents while ignored.
// Returns the widget it went to first.
inline QWidget* wheelAt(QWidget* top, QPoint pos, int notches = 1,
                        Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = top->childAt(pos);
    if (!target)
        target = top;
    const QPoint local = target->mapFrom(top, pos);
    QWheelEvent e(QPointF(local), QPointF(top->mapToGlobal(pos)), QPoint(),
                  QPoint(0, 120 * notches), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&e);
    QApplication::instance()->notify(target, &e);
    return target;
}

// A wheel turn over the middle of a widget, through its window.
inline QWidget* wheelOver(QWidget* w, int notches = 1) {
    QWidget* top = w->window();
    return wheelAt(top, w->mapTo(top, w->rect().center()), notches);
}

// Selects all text of an edit, types text and presses Enter, as a user retypes a value.
inline void retype(QLineEdit* edit, const QString& text, bool enter = true) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
    if (enter)
        QTest::keyClick(edit, Qt::Key_Return);
}

// Where a QSlider's handle is, and where its handle would be at value (in slider coordinates).
inline QRect sliderHandle(QSlider* s) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = s->sliderPosition();
    opt.sliderValue = s->value();
    opt.upsideDown =
        s->orientation() == Qt::Vertical ? !s->invertedAppearance() : s->invertedAppearance();
    opt.subControls = QStyle::SC_All;
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
}

inline QPoint sliderPointFor(QSlider* s, int value) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = value;
    opt.sliderValue = value;
    opt.upsideDown =
        s->orientation() == Qt::Vertical ? !s->invertedAppearance() : s->invertedAppearance();
    opt.subControls = QStyle::SC_All;
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s).center();
}

// Drags a QSlider's handle to where value sits, in steps.
inline void dragSliderTo(QSlider* s, int value, int steps = 8,
                         const std::function<void()>& between = {}) {
    drag(s, sliderHandle(s).center(), sliderPointFor(s, value), steps, Qt::LeftButton, between);
}

} // namespace q7::test
