// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompter.h"

#include "protocol/file_writer.h"
#include "ui/language.h"

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

QString QtPrompter::chooseFolder(QWidget* parent, const QString& caption, const QString& start) {
    Open open(*this);
    return QFileDialog::getExistingDirectory(parent, caption, start);
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

void tellWriteFailure(Prompter& prompter, const Language& l, QWidget* parent, const QString& path,
                      const WriteResult& r) {
    const WriteReason why = writeReason(r);
    const QString reason = QString::fromStdString(l.english() ? why.en : why.zh);
    prompter.tell(parent, BoxIcon::Warning, "Can't write to file",
                  l.english() ? QString("Can't write to file:\n%1\n\nReason: %2.\nThe file was not "
                                        "saved; an existing file keeps its previous contents.")
                                    .arg(path, reason)
                              : QString::fromUtf8("无法写入文件：\n%1\n\n原因：%2。\n文件没有保存；"
                                                  "原有的文件保持不变。")
                                    .arg(path, reason));
}

} // namespace q7
