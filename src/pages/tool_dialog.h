// SPDX-License-Identifier: GPL-3.0-or-later
// The base of the editor's small dialogs: page colour, texts from the language table of their
// template, and Enter that never closes them.
#pragma once

#include "ui/editor_context.h"

#include <QDialog>
#include <functional>

class QLabel;

namespace q7 {

class CXBmpSlider;

class ToolDialog : public QDialog {
    Q_OBJECT
public:
    ToolDialog(EditorContext& editor, int templateId, QWidget* parent);
    int templateId() const { return templateId_; }

    // Re-reads the store (after a synchronisation or a mode load).
    virtual void refresh() {}
    // The dialog's own texts in the current language, then the language table's.
    virtual void applyLanguage();
    // Centres the dialog on its parent window (or the screen) and shows it.
    void showCentred();

protected:
    EditorContext& editor_;

    // A bitmap slider set up as the dialogs use them.
    CXBmpSlider* slider(int id, int minimum, int maximum);
    QLabel* label(int id, bool bold = false);
    // Wheel turns over the dialog go to the focused control when accepts(its id).
    void routeWheel(std::function<bool(int id)> accepts);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    int templateId_;
    std::function<bool(int)> wheelAccepts_;
};

} // namespace q7
