// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/tool_dialog.h"

#include "controls/bmp_slider.h"
#include "pages/edit_holds.h"
#include "pages/page.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QWheelEvent>

namespace q7 {

ToolDialog::ToolDialog(EditorContext& editor, int templateId, QWidget* parent)
    : QDialog(parent), editor_(editor), templateId_(templateId) {
    setPageBackground(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

void ToolDialog::showEvent(QShowEvent* e) {
    holdEditsWhilePressed(this, editor_.edits());
    QDialog::showEvent(e);
}

void ToolDialog::applyLanguage() {
    editor_.language().ApplyLanguage(this, templateId_);
}

void ToolDialog::showCentred() {
    adjustSize();
    const QWidget* anchor = parentWidget() ? parentWidget()->window() : nullptr;
    QRect area = anchor ? anchor->frameGeometry() : QRect();
    if (area.isEmpty() && screen())
        area = screen()->availableGeometry();
    if (!area.isEmpty())
        move(area.center() - QPoint(width() / 2, height() / 2));
    show();
    raise();
    activateWindow();
}

CXBmpSlider* ToolDialog::slider(int id, int minimum, int maximum) {
    auto* s = new CXBmpSlider(id, this);
    s->SetMargin(7, 7, 3, 2);
    s->SetClearColour(kPageBackground);
    s->SetRange(minimum, maximum);
    s->setMinimumSize(160, 24);
    return s;
}

QLabel* ToolDialog::label(int id, bool bold) {
    auto* l = new QLabel(this);
    if (id)
        setControlId(l, id);
    l->setFont(songti(12, bold));
    return l;
}

void ToolDialog::routeWheel(std::function<bool(int)> accepts) {
    wheelAccepts_ = std::move(accepts);
    watchWheels(this);
}

bool ToolDialog::eventFilter(QObject* watched, QEvent* event) {
    return wheelToFocus(this, watched, event, wheelAccepts_) ||
           QDialog::eventFilter(watched, event);
}

void ToolDialog::keyPressEvent(QKeyEvent* e) {
    // Enter never closes these dialogs; Esc does, as their close box.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace q7
