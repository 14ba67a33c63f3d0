// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/load_preview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace q7 {

QStringList loadPreviewLines(const ModeFileCheck& check, const QString& name, const QString& shown,
                             bool english) {
    QStringList lines;
    for (const ValueProblem& p : check.clamped)
        lines << QString::fromStdString(describeClamp(p, english));
    if (!name.isEmpty()) {
        // Control characters and the like would reach the amplifier's display as they are.
        QString visible = name;
        for (QChar& c : visible)
            if (c.unicode() < 0x20)
                c = QChar(0x2423); // shown as ␣ here, never sent
        lines << (english ? QString("Device mode name: \"%1\" → \"%2\" (characters the amplifier "
                                    "cannot show)")
                          : QString::fromUtf8("设备模式名称：“%1” → “%2”（功放无法显示的字符）"))
                     .arg(visible, shown);
    }
    return lines;
}

CLoadPreviewDlg::CLoadPreviewDlg(const QString& file, const QStringList& lines, bool english,
                                 QWidget* parent)
    : QDialog(parent) {
    setObjectName("LoadPreviewDialog");
    setWindowTitle(english ? QString("Load %1?").arg(file)
                           : QString::fromUtf8("载入 %1？").arg(file));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* head = new QLabel(
        (english ? QString("Loading %1 changes what it holds, as listed below. Nothing has been "
                           "loaded or sent yet.")
                 : QString::fromUtf8("载入 %1 时将作如下改动。目前尚未载入或发送任何设置。"))
            .arg(file),
        this);
    head->setObjectName("LoadPreviewHeading");
    head->setWordWrap(true);
    layout->addWidget(head);
    list_ = new QListWidget(this);
    list_->setObjectName("LoadPreviewList");
    list_->addItems(lines);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setMinimumSize(620, 280);
    layout->addWidget(list_, 1);
    auto* buttons = new QDialogButtonBox(this);
    load_ = buttons->addButton(english ? QString("Load") : QString::fromUtf8("载入"),
                               QDialogButtonBox::AcceptRole);
    load_->setObjectName("LoadPreviewLoad");
    load_->setAutoDefault(false);
    cancel_ = buttons->addButton(english ? QString("Cancel") : QString::fromUtf8("取消"),
                                 QDialogButtonBox::RejectRole);
    cancel_->setObjectName("LoadPreviewCancel");
    // A file that changes on loading is loaded only on purpose: Enter cancels.
    cancel_->setDefault(true);
    cancel_->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace q7
