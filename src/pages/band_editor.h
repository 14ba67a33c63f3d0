// SPDX-License-Identifier: GPL-3.0-or-later
// The band list and the single-band editor of an EQ page: the list (1139) with an in-place type
// drop-down and numeric cells, and the editor (band number, type radios, gain/frequency/Q sliders
// and edit boxes). They show the records they are given to read and say what the user wants of
// a band; they change nothing themselves. All widgets are direct children of the page so the
// language table reaches them.
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

    // The user wants band k to hold these values (a radio, a slider step, a box, a list cell).
    std::function<void(int band, const BandWish& wish)> want;
    // After the selection changes (pages show or hide their extra controls).
    std::function<void(int band)> selectionChanged;
    // A row of the list was clicked.
    std::function<void(int row)> rowClicked;

    // Shows rows bands read with record(band) (the store's); types outside 0..maxType show as 0.
    void load(int rows, std::function<BandRecord(int)> record, int maxType);
    // What band k shows.
    BandValues shown(int band) const;
    void setNumberColour(const QColor& c);
    void place(const QRect& area);
    void applyLanguage();
    void clearSelection();
    int selected() const { return selected_; }
    // Rewrites a list row and, for the selected band, the editor from the record.
    void showBand(int band);
    // Band k becomes the selected band and the editor shows it (a band picked or moved on the
    // graph).
    void select(int band);

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

    // The paths of a band edit, as the controls take them.
    void onTypeChosen(int type);
    void onSliderMoved(int id, int position);
    // Enter in a box: 0 gain, 1 frequency, 2 Q.
    void applyEdit(int field);
    void onListEdited(int row, int column, const QString& text);

    // Reads a number as the edit boxes do: the leading numeric part, or 0.
    static double parseNumber(const QString& text);
    // The Q wanted for a typed one: the nearest thousandth, kept exactly when sent.
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
    int rows_ = 0;
    int maxType_ = 5;
    std::function<BandRecord(int)> record_;
    bool filling_ = false;

    void wantBand(int band, const BandWish& wish);
    void applyValue(int field, double value);
    // Field 0 gain, 1 frequency, 2 Q of band b takes a typed value.
    void editValue(int band, int field, double value);
    void updateEditor(int band);
    void showEditor(bool on);
    void fillRow(int band);
};

} // namespace q7
