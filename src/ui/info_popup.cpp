// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/info_popup.h"

#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace q7 {

CInfoDlg::CInfoDlg(Language& language, Timeline& timeline, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      language_(language), timeline_(timeline) {
    setObjectName("CInfoDlg");
    setAttribute(Qt::WA_DeleteOnClose);
    setPageBackground(this);
    setWindowTitle(language_.pick("信息", "Information"));
    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    label_->setFont(songti(14));
    label_->setMinimumWidth(260);
    label_->setWordWrap(true);
    close_ = new QPushButton(language_.pick("关闭", "Close"), this);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_, 1);
    layout->addWidget(close_, 0, Qt::AlignCenter);
    layout->setContentsMargins(18, 16, 18, 12);
}

CInfoDlg::~CInfoDlg() {
    if (timer_)
        timeline_.stop(timer_);
}

void CInfoDlg::showText(const QString& text, int ms) {
    label_->setText(text);
    if (timer_)
        timeline_.stop(timer_);
    timer_ = timeline_.start(ms, false, [this] {
        timer_ = 0;
        close();
    });
    adjustSize();
    if (parentWidget() && parentWidget()->isVisible()) {
        const QRect r = parentWidget()->geometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

void CInfoDlg::applyLanguage() {
    setWindowTitle(language_.pick("信息", "Information"));
    close_->setText(language_.pick("关闭", "Close"));
}

QString CInfoDlg::text() const {
    return label_->text();
}

} // namespace q7
