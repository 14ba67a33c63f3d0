// SPDX-License-Identifier: GPL-3.0-or-later
// EqEditor: the EQ of a page in one piece: the graph, the band list and band boxes, the copy menu
// and the EQ tools, wired once for the music, effects and output pages. What the user wants of a
// band goes through the edit path as one step (a held press on the graph or a slider: one step
// from press to release), and the graph, the list and the boxes then show the store again.
#pragma once

#include "eq/eq_bank.h"
#include "params/edit_path.h"

#include <QObject>
#include <QRect>
#include <functional>
#include <optional>

namespace q7 {

class BandEditor;
class CEqPanel;
class CPage;
class EditorContext;

class EqEditor : public QObject {
    Q_OBJECT
public:
    // The graph (control 1040) and the band controls become children of page.
    EqEditor(CPage* page, EditorContext& editor);
    ~EqEditor() override;

    CEqPanel* graph() const { return graph_; }
    BandEditor* bands() const { return bands_; }
    int bank() const { return bank_; }

    // Shows a bank as the store holds it; the selection is cleared.
    void show(int bank);
    // Shows the store again (after undo, a copy, a tool), keeping the selection.
    void refresh();

    // ---- edits: each one step, or part of the step a held press makes ----
    void want(int band, const BandWish& wish);
    // Sub band k and its sections take these types.
    void wantSubTypes(int band, const std::array<int, 4>& types);
    // Sub band k becomes a crossover of the slope (as applySlope takes it).
    void wantSlope(int band, int slope);

    // The bank's bypass (one step), and its reset to the amplifier's layout (one step; the caller
    // shows the page again).
    bool bypass() const;
    void setBypass(bool on);
    void reset();

    // After any edit of band k, whichever control made it.
    std::function<void(int band)> edited;

    void applyLanguage();
    void place(const QRect& list, const QRect& graph);

private:
    CPage* page_;
    EditorContext& editor_;
    CEqPanel* graph_;
    BandEditor* bands_;
    int bank_ = 0;
    bool shown_ = false; // a bank was loaded into the list
    int maxType_ = 5;
    void edit(int band, const std::function<void(EqBankState&)>& change);
    void showStored();
};

} // namespace q7
