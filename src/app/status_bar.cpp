// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/status_bar.h"

#include "ui/fonts.h"
#include "ui/language.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace q7 {

MainStatusBar::MainStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    usb_ = new QLabel(QString::fromUtf8("USB:未连接"), this);
    setControlId(usb_, 120);
    mode_ = new QLabel(QString::fromUtf8("当前模式：模式一"), this);
    setControlId(mode_, 121);
    blank_ = new QLabel(this);
    setControlId(blank_, 32923);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    for (QLabel* l : {usb_, mode_}) {
        l->setFont(songti(12));
        l->setMinimumWidth(150);
        l->setContentsMargins(6, 0, 6, 0);
    }
    addWidget(usb_);
    addWidget(separator);
    addWidget(mode_);
    addWidget(blank_, 1);

    bypass_ = new QCheckBox(QString::fromUtf8("均衡旁路"), this);
    setControlId(bypass_, 1121);
    bypass_->setFont(songti(12));
    reset_ = new QPushButton(QString::fromUtf8("重置均衡"), this);
    setControlId(reset_, 1122);
    reset_->setFont(songti(12));
    reset_->setFlat(true);
    // A flat button draws no focus of its own: a frame shows when Tab reaches it.
    reset_->setStyleSheet("QPushButton { border: 2px solid transparent; padding: 1px 8px; }"
                          "QPushButton:hover { border-color: #b8c9dc; }"
                          "QPushButton:focus { border-color: #308cff; }");
    addPermanentWidget(bypass_);
    addPermanentWidget(reset_);
    connect(bypass_, &QCheckBox::clicked, this, [this](bool checked) {
        bypass_->setChecked(!checked); // shown from the page's state after the command
        emit command(1121);
    });
    connect(reset_, &QPushButton::clicked, this, [this] { emit command(1122); });
}

void MainStatusBar::setUsb(const QString& text, const QColor& colour) {
    usb_->setText(text);
    QPalette p = usb_->palette();
    p.setColor(QPalette::WindowText, colour);
    usb_->setPalette(p);
}

void MainStatusBar::setMode(const QString& text) {
    mode_->setText(text);
}

} // namespace q7
