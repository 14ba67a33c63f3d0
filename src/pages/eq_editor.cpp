// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/eq_editor.h"

#include "controls/eq_panel.h"
#include "pages/band_editor.h"
#include "pages/eq_tools.h"
#include "pages/page.h"
#include "params/dsp.h"
#include "ui/control_id.h"
#include "ui/language.h"

#include <QTableWidget>

namespace q7 {

EqEditor::EqEditor(CPage* page, EditorContext& editor)
    : QObject(page), page_(page), editor_(editor) {
    graph_ = new CEqPanel(page);
    setControlId(graph_, 1040);
    bands_ = new BandEditor(page, editor.language(), graph_);
    bands_->want = [this](int b, const BandWish& w) { want(b, w); };
    // A press held on the graph or a band slider is an EditPath::Hold the page opens for every
    // control (edit_holds): the edits below stay steps of their own, merged by the hold.
    connect(graph_, &CEqPanel::bandSelected, bands_, &BandEditor::select);
    connect(graph_, &CEqPanel::bandWanted, this, [this](int b, const BandWish& w) {
        bands_->select(b);
        want(b, w);
    });
    connect(graph_, &CEqPanel::subTypesWanted, this, [this](int b, const CEqPanel::SubTypes& t) {
        bands_->select(b);
        wantSubTypes(b, t);
    });
    connect(graph_, &CEqPanel::emptyClick, bands_, &BandEditor::clearSelection);
    // A right click on the graph away from the bands, or on the list: the copy menu and tools.
    connect(graph_, &CEqPanel::contextMenuAt, page, &CPage::showCopyMenu);
    QTableWidget* list = bands_->list();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, page, [page, list](const QPoint& p) {
        page->showCopyMenu(list->viewport()->mapToGlobal(p));
    });
    // What is dropped on the graph is the page's to open.
    CEqPanel* g = graph_;
    connect(graph_, &CEqPanel::filesDropped, page,
            [page, g](const QStringList& paths) { page->dropOnGraph(g, paths); });
    connect(graph_, &CEqPanel::dropRefused, page, [page, g] { page->dropOnGraph(g, {}); });
}

EqEditor::~EqEditor() = default;

void EqEditor::show(int bank) {
    if (shown_ && bank == bank_) {
        // The same bank again (a step made elsewhere): new values, the band picked stays.
        showStored();
    } else {
        shown_ = true;
        bank_ = bank;
        maxType_ = isOutputBank(bank) ? 31 : 5;
        const EqBankInfo* info = eqBankInfo(bank);
        if (info)
            bands_->setNumberColour(eqColour(info->numbers));
        bands_->load(
            info ? info->bands : 0,
            [this](int b) { return readBank(editor_.store(), bank_).band(b); }, maxType_);
        graph_->setSelected(-1);
        graph_->showBank(readBank(editor_.store(), bank_), maxType_);
    }
    graph_->setLanguage(editor_.language().index());
    graph_->setBypass(bypass());
    showOverlay(editor_.eqOverlays(), graph_);
}

bool EqEditor::bypass() const {
    return editor_.store().cellInt(eqBypassCell(bank_)) != 0;
}

void EqEditor::setBypass(bool on) {
    const int cell = eqBypassCell(bank_);
    EditPath::Scope step(editor_.edits());
    editor_.store().setCellInt(cell, on ? 1 : 0);
    editor_.dsp().sendSelector(cell);
    graph_->setBypass(on);
}

void EqEditor::reset() {
    EditPath::Scope step(editor_.edits());
    editor_.dsp().resetGroupEq(eqHalfOf(bank_));
}

void EqEditor::refresh() {
    showStored();
}

void EqEditor::showStored() {
    graph_->showBank(readBank(editor_.store(), bank_), maxType_);
    for (int b = 0; b < bands_->list()->rowCount(); ++b)
        bands_->showBand(b);
}

void EqEditor::edit(int band, const std::function<void(EqBankState&)>& change) {
    EditPath::Scope step(editor_.edits());
    EqBankState state = readBank(editor_.store(), bank_);
    change(state);
    sendBandOf(editor_.dsp(), state, band);
    graph_->showBank(readBank(editor_.store(), bank_), maxType_);
    bands_->showBand(band);
    if (edited)
        edited(band);
}

void EqEditor::want(int band, const BandWish& wish) {
    edit(band, [&](EqBankState& s) { applyWish(s, band, wish); });
}

void EqEditor::wantSubTypes(int band, const std::array<int, 4>& types) {
    edit(band, [&](EqBankState& s) { applySubTypes(s, band, types); });
}

void EqEditor::wantSlope(int band, int slope) {
    if (bank_ == kSubEqBank && band >= 0 && band < kSubBands)
        edit(band, [&](EqBankState& s) { applySlope(s, band, slope); });
}

void EqEditor::applyLanguage() {
    bands_->applyLanguage();
    graph_->setLanguage(editor_.language().index());
}

void EqEditor::place(const QRect& list, const QRect& graph) {
    bands_->place(list);
    graph_->setGeometry(graph);
}

} // namespace q7
