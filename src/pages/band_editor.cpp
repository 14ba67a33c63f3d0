// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/band_editor.h"

#include "controls/bmp_slider.h"
#include "controls/number_text.h"
#include "eq/eq_bank.h"
#include "pages/page.h"
#include "ui/fonts.h"
#include "ui/language.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <cmath>

namespace q7 {

namespace {

const char* const kTypeNames[6][2] = {{"关闭", "OFF"}, {"参量", "PEQ"}, {"低通", "LP"},
                                      {"高通", "HP"},  {"低架", "LS"},  {"高架", "HS"}};

// The type column edits with a drop-down of the five filter types.
class TypeDelegate : public QStyledItemDelegate {
public:
    TypeDelegate(Language& l, QObject* parent) : QStyledItemDelegate(parent), language_(l) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* box = new QComboBox(parent);
        for (int t = 1; t <= 5; ++t)
            box->addItem(language_.pick(kTypeNames[t][0], kTypeNames[t][1]));
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        const int i = box->findText(index.data().toString());
        box->setCurrentIndex(std::max(0, i));
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText());
    }

private:
    Language& language_;
};

constexpr const char* kListStyle =
    "QTableWidget { background: rgb(20,20,20); color: rgb(220,220,220);"
    " gridline-color: rgb(55,55,55); selection-background-color: rgb(40,80,120); }"
    "QHeaderView::section { background: rgb(45,50,58); color: rgb(210,220,230);"
    " border: 1px solid rgb(30,30,30); padding: 2px; }";

// The frequencies the list, the edit box and the slider take: the whole range for every band.
// Only the graph holds the fixed bands of the input banks where they are.
double clampFrequency(double hz) {
    return std::clamp(hz, double(kBandFreqMinHz), double(kBandFreqMaxHz));
}

BandWish wishOf(const BandValues& v) {
    return {v.type, v.gainDb, v.frequencyHz, v.q};
}

} // namespace

BandEditor::BandEditor(QWidget* page, Language& language, CEqPanel* graph)
    : QObject(page), page_(page), language_(language), graph_(graph) {
    list_ = new QTableWidget(0, 5, page);
    setControlId(list_, 1139);
    list_->setStyleSheet(kListStyle);
    list_->verticalHeader()->hide();
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                           QAbstractItemView::EditKeyPressed);
    list_->setItemDelegateForColumn(1, new TypeDelegate(language_, list_));
    // Tab leaves the list for the next control; the arrows move between its cells.
    list_->setTabKeyNavigation(false);
    const int widths[5] = {30, 55, 60, 60, 50};
    for (int c = 0; c < 5; ++c)
        list_->setColumnWidth(c, widths[c]);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->verticalHeader()->setDefaultSectionSize(19);
    list_->setFont(songti(12));
    connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (rowClicked)
            rowClicked(row);
    });
    connect(list_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling_)
            onListEdited(item->row(), item->column(), item->text());
    });

    number_ = new QLabel(page);
    setControlId(number_, 1203);
    number_->setFont(uiFont("Arial", 22, true));
    number_->setAlignment(Qt::AlignCenter);
    for (int g = 0; g < 4; ++g) {
        groups_[g] = new QGroupBox(page);
        setControlId(groups_[g], 1199 + g);
        groups_[g]->setFont(songti(12));
    }
    for (int t = 1; t <= 5; ++t) {
        auto* r = new QRadioButton(page);
        setControlId(r, 1203 + t);
        r->setFont(songti(12));
        connect(r, &QRadioButton::clicked, this, [this, t] { onTypeChosen(t); });
        radios_[t - 1] = r;
    }
    // Gain in tenths of a dB, whole hertz, Q in hundredths: the bank model's limits.
    const int ranges[3][2] = {
        {int(std::lround(kBandGainMinDb * 10)), int(std::lround(kBandGainMaxDb * 10))},
        {kBandFreqMinHz, kBandFreqMaxHz},
        {int(std::lround(kPeqQMin * 100)), int(std::lround(kPeqQMax * 100))}};
    for (int s = 0; s < 3; ++s) {
        auto* slider = new CXBmpSlider(1209 + s, page);
        slider->SetRange(ranges[s][0], ranges[s][1]);
        slider->SetMargin(7, 7, 3, 2);
        slider->SetClearColour(QColor(240, 250, 255));
        connect(slider, &CXBmpSlider::positionChanged, this,
                [this](int id, int pos) { onSliderMoved(id, pos); });
        sliders_[s] = slider;
        auto* edit = new QLineEdit(page);
        setControlId(edit, 1212 + s);
        edit->setFont(uiFont("Arial", 13));
        connect(edit, &QLineEdit::returnPressed, this, [this, s] { applyEdit(s); });
        edits_[s] = edit;
    }
    showEditor(false);
    applyLanguage();
}

bool BandEditor::editorShown() const {
    return !number_->isHidden();
}

QString BandEditor::typeName(int type) const {
    int t = type;
    if (t > 5)
        t = t % 2 == 0 ? 2 : 3; // crossover sections belong to the low- or high-pass family
    if (t < 0)
        t = 0;
    return language_.pick(kTypeNames[t][0], kTypeNames[t][1]);
}

void BandEditor::applyLanguage() {
    const Language& l = language_;
    list_->setHorizontalHeaderLabels({"", l.pick("类型", "Type"), l.pick("增益", "Gain"),
                                      l.pick("频率", "Freq"), l.pick("Q值", "Q")});
    const char* groups[4][2] = {{"类型", "EQ Type"}, {"频率", "F"}, {"增益", "Gain"}, {"Q值", "Q"}};
    for (int g = 0; g < 4; ++g)
        groups_[g]->setTitle(l.pick(groups[g][0], groups[g][1]));
    for (int t = 1; t <= 5; ++t)
        radios_[t - 1]->setText(l.pick(kTypeNames[t][0], kTypeNames[t][1]));
    for (int b = 0; b < rows_; ++b)
        fillRow(b);
}

void BandEditor::setNumberColour(const QColor& c) {
    for (int r = 0; r < list_->rowCount(); ++r)
        if (QTableWidgetItem* it = list_->item(r, 0))
            it->setForeground(c);
    list_->setProperty("numberColour", c);
}

void BandEditor::load(int rows, std::function<BandRecord(int)> record, int maxType) {
    record_ = std::move(record);
    maxType_ = maxType;
    rows_ = rows;
    clearSelection();
    filling_ = true;
    list_->setRowCount(rows_);
    filling_ = false;
    for (int i = 0; i < rows_; ++i)
        fillRow(i);
}

BandValues BandEditor::shown(int band) const {
    return shownValues(record_ ? record_(band) : BandRecord{}, maxType_);
}

void BandEditor::fillRow(int b) {
    if (b < 0 || b >= list_->rowCount())
        return;
    const BandValues band = shown(b);
    filling_ = true;
    const QString texts[5] = {QString::number(b + 1), typeName(band.type),
                              signedFixed(band.gainDb, 1, "dB"),
                              QString::asprintf("%.0fHz", double(band.frequencyHz)),
                              QString::asprintf("%.2f", double(band.q))};
    for (int c = 0; c < 5; ++c) {
        QTableWidgetItem* it = list_->item(b, c);
        if (!it) {
            it = new QTableWidgetItem;
            if (c == 0) {
                it->setFlags(it->flags() & ~Qt::ItemIsEditable);
                it->setTextAlignment(Qt::AlignCenter);
                const QVariant colour = list_->property("numberColour");
                if (colour.isValid())
                    it->setForeground(colour.value<QColor>());
            }
            list_->setItem(b, c, it);
        }
        it->setText(texts[c]);
    }
    filling_ = false;
}

void BandEditor::showBand(int b) {
    fillRow(b);
    if (b == selected_)
        updateEditor(b);
}

void BandEditor::clearSelection() {
    selected_ = -1;
    graph_->setSelected(-1);
    showEditor(false);
    if (selectionChanged)
        selectionChanged(-1);
}

void BandEditor::showEditor(bool on) {
    list_->setVisible(!on);
    number_->setVisible(on);
    for (QGroupBox* g : groups_)
        g->setVisible(on);
    for (QRadioButton* r : radios_)
        r->setVisible(on);
    for (int s = 0; s < 3; ++s) {
        sliders_[s]->setVisible(on);
        edits_[s]->setVisible(on);
    }
}

void BandEditor::place(const QRect& a) {
    area_ = a;
    list_->setGeometry(a);
    // The editor: number and type on the first row, then one row each for F, Gain and Q.
    const int x = a.left(), w = a.width(), rowH = (a.height() - 4) / 4;
    number_->setGeometry(x, a.top() + 6, 44, rowH - 8);
    groups_[0]->setGeometry(x + 48, a.top(), w - 48, rowH);
    for (int t = 0; t < 5; ++t)
        radios_[t]->setGeometry(x + 58 + t * (w - 60) / 5, a.top() + rowH / 2 - 6, (w - 60) / 5,
                                24);
    const int order[3] = {1, 0, 2}; // frequency, gain, Q from top to bottom
    for (int k = 0; k < 3; ++k) {
        const int s = order[k];
        const int y = a.top() + (k + 1) * rowH + 2;
        groups_[s == 0 ? 2 : s == 1 ? 1 : 3]->setGeometry(x, y, w, rowH - 2);
        sliders_[s]->setGeometry(x + 8, y + rowH / 2 - 6, w - 120, 24);
        edits_[s]->setGeometry(x + w - 104, y + rowH / 2 - 6, 96, 24);
    }
}

void BandEditor::updateEditor(int b) {
    const BandValues band = shown(b);
    number_->setText(QString::number(b + 1));
    // A crossover section's code shows as the pass filter of its family, as in the list.
    const int shown = band.type > 5 ? (band.type % 2 == 0 ? 2 : 3) : band.type;
    for (int t = 1; t <= 5; ++t)
        radios_[t - 1]->setChecked(shown == t);
    const bool peq = band.type == 1;
    const bool withGain = band.type == 1 || band.type == 4 || band.type == 5;
    sliders_[2]->SetRange(int(std::lround((peq ? kPeqQMin : kPassQMin) * 100)),
                          int(std::lround((peq ? kPeqQMax : kPassQMax) * 100)));
    sliders_[0]->setEnabled(withGain);
    edits_[0]->setEnabled(withGain);
    sliders_[0]->SetPos(int(std::lround(band.gainDb * 10)));
    sliders_[1]->SetPos(int(band.frequencyHz));
    sliders_[2]->SetPos(int(std::lround(band.q * 100)));
    edits_[0]->setText(signedFixed(band.gainDb, 1, "dB"));
    edits_[1]->setText(QString::asprintf("%.0fHz", double(band.frequencyHz)));
    edits_[2]->setText(QString::asprintf("%.2f", double(band.q)));
}

void BandEditor::wantBand(int b, const BandWish& w) {
    if (want)
        want(b, w);
}

void BandEditor::select(int b) {
    if (b < 0)
        return;
    const bool changedSelection = b != selected_;
    selected_ = b;
    showEditor(true);
    updateEditor(b);
    if (changedSelection && selectionChanged)
        selectionChanged(b);
}

void BandEditor::onTypeChosen(int type) {
    if (selected_ < 0)
        return;
    wantBand(selected_, withType(wishOf(shown(selected_)), type));
}

void BandEditor::onSliderMoved(int id, int position) {
    if (selected_ < 0)
        return;
    const int field = id - 1209;
    if (field == 0)
        edits_[0]->setText(signedFixed(position / 10.0, 1, "dB"));
    else if (field == 1)
        edits_[1]->setText(QString::asprintf("%dHz", position));
    else
        edits_[2]->setText(QString::asprintf("%.2f", position / 100.0));
    applyValue(field, parseNumber(edits_[field]->text()));
}

double BandEditor::parseNumber(const QString& text) {
    return leadingNumber(text);
}

float BandEditor::typedQ(double q) {
    if (!(q > 0.0))
        return 0.0f; // ignored by the graph, as a Q of zero is
    // A typed Q means its thousandths: 4.318 is stored as 4318, not one below.
    return storedQ(int(std::lround(std::min(q, 65.535) * 1000.0)));
}

void BandEditor::applyEdit(int field) {
    if (selected_ < 0 || field < 0 || field > 2)
        return;
    // Enter in a box the user did not touch changes nothing: the box shows the value rounded.
    if (!edits_[field]->isModified())
        return;
    edits_[field]->setModified(false);
    applyValue(field, parseNumber(edits_[field]->text()));
}

void BandEditor::applyValue(int field, double v) {
    // Only this field changes: the others stay as stored, not as their boxes round them.
    editValue(selected_, field, v);
}

void BandEditor::editValue(int b, int field, double v) {
    BandWish w = wishOf(shown(b));
    if (field == 0) {
        const bool pass = w.type == 2 || w.type == 3 || w.type > 5;
        w.gainDb = pass ? 0.0 : float(std::clamp(v, kBandGainMinDb, kBandGainMaxDb));
    } else if (field == 1) {
        if (v != 0)
            w.frequencyHz = float(clampFrequency(v));
    } else {
        const float q = typedQ(v);
        if (std::fabs(q) >= 1e-7f)
            w.q = w.type == 1 ? std::clamp(q, float(kPeqQMin), float(kPeqQMax))
                              : std::clamp(q, float(kPassQMin), float(kPassQMax));
    }
    wantBand(b, w);
}

void BandEditor::onListEdited(int row, int column, const QString& text) {
    if (row < 0 || row >= rows_)
        return;
    if (column == 1) {
        BandWish w = wishOf(shown(row));
        for (int t = 1; t <= 5; ++t)
            if (text == typeName(t))
                w = withType(w, t);
        wantBand(row, w);
    } else if (column >= 2 && column <= 4) {
        editValue(row, column - 2, parseNumber(text));
    }
}

} // namespace q7
