// SPDX-License-Identifier: GPL-3.0-or-later
// What the page host needs of a page: its kind, refresh, language and EQ hooks.
#pragma once

#include "ui/editor_context.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class QMenu;
class QPainter;
class QWheelEvent;

namespace q7 {

class BandEditor;
class CEqPanel;
class CPeakMeterCtrl;
class EqEditor;
class NavRow;

// Dialog template numbers (also the language table's key prefixes).
int dialogIdOf(PageKind kind);

// The leading decimal number of a text as the edit boxes read it ("1.6ms" is 1.6), whatever the
// process locale; no number, or one that is not finite, reads as 0.
double leadingNumber(const QString& text);

// Hands a wheel turn to another control (the focused one) as if it had happened over it.
void forwardWheel(const QWheelEvent* wheel, QWidget* to);
// Wheel turns over root or any of its children pass root's event filter, which hands them with
// wheelToFocus to root's focused control when accepts(its id) (true: the turn was taken).
void watchWheels(QWidget* root);
bool wheelToFocus(QWidget* root, QObject* watched, QEvent* event,
                  const std::function<bool(int id)>& accepts);

// A stored single in tenths, truncated toward zero; NaN and huge values stay inside an int.
// The product is taken in single precision, where every tenth the store can hold comes back
// whole (0.7f * 10 is 7 in single precision, 6.99999988 in double).
int truncatedTenths(float v);
// The step a buddy spin takes for an event on its edit: +1 or -1 for a wheel turn or an Up or
// Down key, 0 for anything else.
int spinStep(const QEvent* event);
// The light rounded card the pages group their controls on.
void paintCard(QPainter& p, const QRect& r, qreal radius = 6);

inline constexpr int kMinPageWidth = 1024;
inline constexpr int kMinPageHeight = 520;

class CPage : public QWidget {
    Q_OBJECT
public:
    CPage(PageKind kind, EditorContext& editor, QWidget* parent);
    PageKind kind() const { return kind_; }
    EditorContext& context() const { return editor_; }
    int dialogId() const { return dialogIdOf(kind_); }

    // Re-reads the store (after a synchronisation, a mode load or a preset).
    virtual void refresh() {}
    // Re-applies the current language.
    virtual void applyLanguage();
    // The music, output and effects pages have an EQ the status bar can bypass or reset.
    bool hasEq() const { return eq_ != nullptr; }
    bool eqBypass() const;
    void setEqBypass(bool on);
    void resetEq();
    EqEditor* eq() const { return eq_; }
    // The output pages' navigation row, on the pages that show one.
    NavRow* nav() const { return nav_; }
    // Output pages: the bank shown (5 main, 4 rear, 3 center, 2 sub, 11 top).
    virtual int bank() const { return 0; }
    virtual void setBank(int bank) { (void)bank; }
    // The EQ on screen as (group, first record), or (-1, -1): what the copy menu copies from.
    std::pair<int, int> eqShown() const;

    // The EQ graph on screen and its band controls, or null.
    CEqPanel* eqGraph() const;
    CEqPanel* graph() const { return eqGraph(); }
    BandEditor* bands() const;

    // The copy menu of the EQ on screen (after a right click on the graph or the band list);
    // null until it was first shown.
    QMenu* copyMenu() const { return copyMenu_; }
    void showCopyMenu(const QPoint& globalPos);
    // Files dropped on an EQ graph of the page: a filter list opens the import preview for the
    // graph's bank, a measurement is drawn over it, anything else is refused with a word (an
    // empty list: what was dropped is no file).
    void dropOnGraph(CEqPanel* graph, const QStringList& paths);

signals:
    // The EQ shown changed by the page's own controls (the music page's bank buttons), so the
    // status bar's bypass box shows the bank on screen.
    void eqChanged();

protected:
    EditorContext& editor_;
    EqEditor* eq_ = nullptr; // the page's EQ, if it has one
    NavRow* nav_ = nullptr;  // made by the pages that show it; its language follows the page's

    // Wheel turns anywhere over the page go to the focused control when accepts(its id); call
    // after the page's controls exist.
    void routeWheel(std::function<bool(int id)> accepts);
    // A level meter of the page (control id): one horizontal row of 15 segments, running.
    CPeakMeterCtrl* addLevelMeter(int id);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Wires the held presses of the page's controls to edit holds.
    void showEvent(QShowEvent* e) override;
    // Places the page's controls for its size; every resize calls it.
    virtual void layoutControls() {}
    void resizeEvent(QResizeEvent* e) override;
    // Enter and Escape never close a page.
    void keyPressEvent(QKeyEvent* e) override;

private:
    PageKind kind_;
    std::function<bool(int)> wheelAccepts_;
    QMenu* copyMenu_ = nullptr;
};

} // namespace q7
