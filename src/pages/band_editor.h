// SPDX-License-Identifier: GPL-3.0-or-later
// The band list and the single-band editor that every EQ page shares with its graph: the list
// (1139) with an in-place type drop-down and numeric cells, and the editor (band number, type
// radios, gain/frequency/Q sliders and edit boxes). All widgets are direct children of the page
// so the language table reaches them.
#pragma once

#include "controls/eq_panel.h"
#include "params/store.h"

#include <QObject>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTableWidget;

namespace q7 {

class CXBmpSlider;
class Language;

class BandEditor : public QObject {
    Q_OBJECT
public:
    BandEditor(QWidget* page, Language& language, CEqPanel* graph);

    // Sends band b of the graph (the page writes the store and the device).
    std::function<void(int band)> send;
    // After the selection changes (pages show or hide their extra controls).
    std::function<void(int band)> selectionChanged;

    // A row of the list was clicked.
    std::function<void(int row)> rowClicked;
    // After any edit of a band, whichever path it took (graph, radios, sliders, boxes, list).
    std::function<void(int band)> edited;

    // Shows count graph records read with record(i); types outside 0..maxType show as 0. The
    // list shows the first listRows of them (all when -1).
    // Takes the graph's changes and empty clicks; a right click on the graph away from the
    // bands or on the list opens copyMenu at that screen point.
    void connectGraph(const std::function<void(const QPoint&)>& copyMenu);

    void load(int bank, int count, const std::function<BandRecord(int)>& record, int maxType = 5,
              int listRows = -1);
    void setNumberColour(const QColor& c);
    void place(const QRect& area);
    void applyLanguage();
    void clearSelection();
    int selected() const { return selected_; }
    // Rewrites a list row and, for the selected band, the editor from the graph.
    void showBand(int band);

    // The editor's controls (tests drive them).
    QTableWidget* list() const { return list_; }
    QRadioButton* radio(int type) const { return radios_[type - 1]; }
    CXBmpSlider* gainSlider() const { return sliders_[0]; }
    CXBmpSlider* frequencySlider() const { return sliders_[1]; }
    CXBmpSlider* qSlider() const { return sliders_[2]; }
    QLineEdit* gainEdit() const { return edits_[0]; }
    QLineEdit* frequencyEdit() const { return edits_[1]; }
    QLineEdit* qEdit() const { return edits_[2]; }
    QLabel* numberText() const { return number_; }
    bool editorShown() const;

    // The paths of a band edit, as the pages' controls take them.
    void onGraphBandSelected(int band);
    void onGraphBandChanged(int band);
    void onTypeChosen(int type);
    void onSliderMoved(int id, int position);
    // Enter in a box: 0 gain, 1 frequency, 2 Q.
    void applyEdit(int field);
    void onListEdited(int row, int column, const QString& text);

    // Reads a number as the edit boxes do: the leading numeric part, or 0.
    static double parseNumber(const QString& text);
    // The graph's Q for a typed one: the nearest thousandth, kept exactly when sent.
    static float typedQ(double q);
    QString typeName(int type) const;

private:
    QWidget* page_;
    Language& language_;
    CEqPanel* graph_;
    QTableWidget* list_;
    QLabel* number_;
    QGroupBox* groups_[4];
    QRadioButton* radios_[5];
    CXBmpSlider* sliders_[3];
    QLineEdit* edits_[3];
    QRect area_;
    int selected_ = -1;
    int count_ = 0;
    int rows_ = 0;
    bool filling_ = false;

    void finishEdit(int band);
    // A band picked (changed false) or changed on the graph becomes the selected band.
    void takeGraphBand(int band, bool changed);
    void applyValue(int field, double value);
    void updateEditor(int band);
    void showEditor(bool on);
    void fillRow(int band);
};

} // namespace q7
