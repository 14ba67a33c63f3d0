// SPDX-License-Identifier: GPL-3.0-or-later
// Real input for the editor's own controls: the drawn sliders, the spins, the EQ graph's
// handles, the band list's in-place editors and table rows. Built on real_input.h.
#pragma once

#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/up_down.h"
#include "real_input.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QTableWidget>
#include <QToolButton>
#include <cmath>

namespace q7::test {

// Where the pointer holds a bitmap slider's thumb when it stands at position p: on the thumb, and
// far enough along that the slider's own mapping (which floors) gives back p.
inline QPoint bmpSliderPointFor(const CXBmpSlider* s, int p) {
    const QSize t = s->thumbSize();
    const int span = std::max(1, s->maximum() - s->minimum());
    const bool vertical = s->vertical();
    const double per =
        std::fabs(s->thumbOffset(s->maximum()) - s->thumbOffset(s->minimum())) / span;
    const double along = s->thumbOffset(p) + (vertical ? t.height() : t.width()) / 2.0;
    const int c = per >= 1 ? int(std::ceil(along)) : int(std::lround(along + per / 2));
    return vertical ? QPoint(s->width() / 2, c) : QPoint(c, s->height() / 2);
}

// Presses a bitmap slider's thumb and drags it in steps to where position p sits; returns the
// position it reached (where a pixel stands for several positions, the nearest it could).
inline int dragBmpSlider(CXBmpSlider* s, int p, int steps = 6) {
    drag(s, bmpSliderPointFor(s, s->GetPos()), bmpSliderPointFor(s, p), steps);
    return s->GetPos();
}

inline void clickSpin(UpDown* spin, bool up, int times = 1) {
    QToolButton* b = up ? spin->upButton() : spin->downButton();
    for (int i = 0; i < times; ++i)
        click(b, b->rect().center());
}

// The pointer position of an EQ band's handle, in the graph's coordinates.
inline QPoint handleOf(const CEqPanel* g, int band) {
    const EqPanelBand& b = g->band(band);
    const QRect plot = g->plotRect();
    const double x =
        (plot.width() + 1) * std::log10(b.frequency / 18.0) / std::log10(23000.0 / 18.0);
    const double y = (plot.height() + 1) * (15.0 - b.gain) / 30.0;
    return QPoint(int(std::lround(36 + x)), int(std::lround(16 + y)));
}

// Picks a band on the graph with a left click on its handle.
inline void pickBand(CEqPanel* g, int band) {
    click(g, handleOf(g, band));
}

inline QPoint cellCentre(QTableWidget* t, int row, int column) {
    return t->visualRect(t->model()->index(row, column)).center();
}

inline void clickCell(QTableWidget* t, int row, int column) {
    click(t->viewport(), cellCentre(t, row, column));
}

// Opens a cell's in-place editor with a double click; returns the editor it shows.
inline QWidget* openCellEditor(QTableWidget* t, int row, int column) {
    // As the window system delivers a double click: a click, then a second press that arrives
    // as the double click, then its release.
    QWidget* v = t->viewport();
    const QPoint at = cellCentre(t, row, column);
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(v, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();
    for (QComboBox* box : t->viewport()->findChildren<QComboBox*>())
        if (box->isVisible())
            return box;
    for (QLineEdit* edit : t->viewport()->findChildren<QLineEdit*>())
        if (edit->isVisible())
            return edit;
    return nullptr;
}

// Types into a numeric cell's in-place editor and presses Enter.
inline bool typeIntoCell(QTableWidget* t, int row, int column, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(openCellEditor(t, row, column));
    if (!edit)
        return false;
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
    QApplication::processEvents();
    return true;
}

// Moves a drop-down with the arrow keys to the item reading text; false if it has none.
inline bool arrowTo(QComboBox* box, const QString& text) {
    const int target = box->findText(text);
    if (target < 0)
        return false;
    while (box->currentIndex() != target)
        QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return true;
}

// Picks an item of a cell's in-place drop-down with the arrow keys and Enter.
inline bool chooseInCell(QTableWidget* t, int row, int column, const QString& text) {
    auto* box = qobject_cast<QComboBox*>(openCellEditor(t, row, column));
    if (!box || !arrowTo(box, text))
        return false;
    QTest::keyClick(box, Qt::Key_Return);
    QApplication::processEvents();
    return true;
}

// A point of w (in its coordinates) with no child under it: its bare background.
inline QPoint bareSpot(QWidget* w, QRect within = {}) {
    if (within.isNull())
        within = w->rect();
    for (int y = within.top() + 3; y < within.bottom(); y += 5)
        for (int x = within.left() + 3; x < within.right(); x += 5)
            if (!w->childAt(QPoint(x, y)))
                return QPoint(x, y);
    return {};
}

// A wheel turn over the bare background of w, delivered through its window.
inline QWidget* wheelOverBackground(QWidget* w, int notches, QRect within = {}) {
    QWidget* top = w->window();
    return wheelAt(top, w->mapTo(top, bareSpot(w, within)), notches);
}

// Clicks a check box or radio button on its indicator, a push button in its middle.
inline void clickBox(QAbstractButton* b) {
    click(b, QPoint(std::min(8, b->width() / 2), b->height() / 2));
}

// Opens a drop-down with a click and clicks the item reading text in its list.
inline bool pickFromDropDown(QComboBox* box, const QString& text) {
    const int i = box->findText(text);
    if (i < 0)
        return false;
    click(box, box->rect().center());
    QAbstractItemView* view = box->view();
    if (!view->isVisible())
        return false;
    const QRect r = view->visualRect(view->model()->index(i, 0));
    QTest::mouseMove(view->viewport(), r.center());
    click(view->viewport(), r.center());
    QApplication::processEvents();
    return true;
}

} // namespace q7::test
