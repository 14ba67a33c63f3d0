// SPDX-License-Identifier: GPL-3.0-or-later
// The modeless tool dialogs the view opens and closes.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "controls/eq_panel.h"
#include "pages/dynamics_dialogs.h"
#include "pages/measure_dialog.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "pages/tool_dialog.h"
#include "params/device_modes.h"

namespace q7 {

void CHX2060v13View::openNoiseGate() {
    if (noiseGate_ || !editor_.linkOpen())
        return; // one at a time
    noiseGate_ = new CDialogNG(editor_, window());
    noiseGate_->setAttribute(Qt::WA_DeleteOnClose);
    noiseGate_->showCentred();
}

namespace {

// A tool dialog, made on first use and kept: brought up with the current texts (and values).
template <class Dialog>
void showTool(QPointer<Dialog>& dialog, Editor& editor, QWidget* parent, bool refresh = true) {
    if (!dialog)
        dialog = new Dialog(editor, parent);
    if (refresh)
        dialog->refresh();
    dialog->applyLanguage();
    dialog->showCentred();
}

} // namespace

void CHX2060v13View::openMachineSettings() {
    if (editor_.linkOpen())
        showTool(settings_, editor_, window());
}

void CHX2060v13View::openAutoSub() {
    showTool(autoSub_, editor_, window());
}

void CHX2060v13View::openMusicAgc() {
    if (editor_.connection().state.protocol() > 8)
        showTool(agc_, editor_, window());
}

// From the ribbon: over the output page shown, or the last output's.
void CHX2060v13View::openMeasureDialog() {
    if (!page_ || !page_->eqGraph() || !isOutputBank(page_->eqGraph()->bank()))
        showPage(PageKind::Output, lastOutput_);
    CEqPanel* graph = page_ ? page_->eqGraph() : nullptr;
    openMeasure(editor_, graph ? graph->bank() : lastOutput_, page_, graph,
                page_ ? static_cast<QWidget*>(page_.data()) : window());
}

void CHX2060v13View::openRemote() {
    if (editor_.linkOpen())
        showTool(remote_, editor_, window(), false);
}

CDialogNG* CHX2060v13View::noiseGateDialog() const {
    return noiseGate_;
}
CSetDlg* CHX2060v13View::settingsDialog() const {
    return settings_;
}
CAutoSubDlg* CHX2060v13View::autoSubDialog() const {
    return autoSub_;
}
CAutoMusicVolDlg* CHX2060v13View::musicAgcDialog() const {
    return agc_;
}
CRemoteDlg* CHX2060v13View::remoteDialog() const {
    return remote_;
}
CRemoteStudyDlg* CHX2060v13View::learningDialog() const {
    return learning_;
}

void CHX2060v13View::setLearningDialog(CRemoteStudyDlg* dialog) {
    learning_ = dialog;
    // The level poll would wait on the learning request's reply, which comes only when the key
    // is pressed: it rests while a key is learned.
    if (dialog)
        stopLevelPoll();
    else if (editor_.linkOpen())
        startLevelPoll();
}

void CHX2060v13View::OnKeyLearned(int code) {
    if (learning_)
        learning_->codeLearned(code);
}

void CHX2060v13View::closeDialogs() {
    // A dialog with a box open over it is still inside that box's event loop: closing deletes
    // it, so wait until every box has been answered.
    if (editor_.prompter().openDialogs() > 0) {
        if (!closeLater_)
            closeLater_ = editor_.timeline().start(50, true, [this] {
                if (editor_.prompter().openDialogs() > 0)
                    return;
                editor_.timeline().stop(closeLater_);
                closeLater_ = 0;
                closeDialogs();
                emit editor_.frame()->closeModelessDialogs();
            });
        return;
    }
    for (ToolDialog* d : std::initializer_list<ToolDialog*>{settings_, autoSub_, agc_, remote_})
        if (d)
            d->close();
}

} // namespace q7
