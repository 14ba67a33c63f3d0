// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompter.h"

#include <QFileDialog>
#include <QMessageBox>

namespace q7 {

namespace {

Answer askWith(QWidget* parent, const QString& caption, const QString& text, bool withCancel,
               QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::Question, caption, text,
                    QMessageBox::Yes | QMessageBox::No |
                        (withCancel ? QMessageBox::Cancel : QMessageBox::NoButton),
                    parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return withCancel ? Answer::Cancel : Answer::No;
    }
}

} // namespace

Answer QtPrompter::ask(QWidget* parent, const QString& caption, const QString& text,
                       bool withCancel) {
    Open open(*this);
    return askWith(parent, caption, text, withCancel, QMessageBox::NoButton);
}

Answer QtPrompter::askDefaultNo(QWidget* parent, const QString& caption, const QString& text) {
    Open open(*this);
    return askWith(parent, caption, text, false, QMessageBox::No);
}

void QtPrompter::tell(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text) {
    const QMessageBox::Icon i = icon == BoxIcon::Warning    ? QMessageBox::Warning
                                : icon == BoxIcon::Error    ? QMessageBox::Critical
                                : icon == BoxIcon::Question ? QMessageBox::Question
                                : icon == BoxIcon::None     ? QMessageBox::NoIcon
                                                            : QMessageBox::Information;
    Open open(*this);
    QMessageBox box(i, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString QtPrompter::openFile(QWidget* parent, const QString& filter) {
    Open open(*this);
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

QString QtPrompter::saveFile(QWidget* parent, const QString& filter, const QString& defaultName,
                             const QString& defaultSuffix) {
    Open open(*this);
    QFileDialog dialog(parent, QString(), defaultName, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace q7
