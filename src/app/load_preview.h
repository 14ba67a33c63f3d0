// SPDX-License-Identifier: GPL-3.0-or-later
// What loading a mode file would change before anything changes: the values clamped into
// their ranges, and the device mode's name with characters the amplifier cannot show. The
// user loads it so or cancels (the default); nothing is applied or sent before Load.
#pragma once

#include "params/mode_check.h"

#include <QDialog>

class QListWidget;
class QPushButton;

namespace q7 {

class CLoadPreviewDlg : public QDialog {
    Q_OBJECT
public:
    // lines: one per change, in the user's language.
    CLoadPreviewDlg(const QString& file, const QStringList& lines, bool english, QWidget* parent);
    QListWidget* list() const { return list_; }
    QPushButton* loadButton() const { return load_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    QListWidget* list_;
    QPushButton* load_;
    QPushButton* cancel_;
};

// The lines of the preview for a checked file; name is the device mode's name as the file name
// has it when characters of it were replaced (empty when none were, or none is set).
QStringList loadPreviewLines(const ModeFileCheck& check, const QString& name, const QString& shown,
                             bool english);

} // namespace q7
