// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/info_popup.h"

#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace q7 {

CInfoDlg::CInfoDlg(Language& language, Timeline& timeline, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      language_(language), timeline_(timeline) {
    setObjectName("CInfoDlg");
    setAttribute(Qt::WA_DeleteOnClose);
    setPageBackground(this);
    setWindowTitle(language_.pick("信息", "Information"));
    close_ = new QPushButton(language_.pick("关闭", "Close"), this);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    notices_ = new QVBoxLayout;
    notices_->setSpacing(12);
    layout->addLayout(notices_, 1);
    layout->addWidget(close_, 0, Qt::AlignCenter);
    layout->setContentsMargins(18, 16, 18, 12);
}

CInfoDlg::~CInfoDlg() {
    for (const Notice& n : shown_)
        timeline_.stop(n.timer);
}

void CInfoDlg::showText(const QString& text, int ms) {
    auto same = std::find_if(shown_.begin(), shown_.end(),
                             [&](const Notice& n) { return n.label->text() == text; });
    QLabel* label = nullptr;
    if (same != shown_.end()) {
        label = same->label;
        timeline_.stop(same->timer);
        shown_.erase(same);
    } else {
        label = new QLabel(text, this);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(songti(14));
        label->setMinimumWidth(260);
        label->setWordWrap(true);
        notices_->addWidget(label);
    }
    const int timer = timeline_.start(ms, false, [this, label] { expire(label); });
    // The list keeps the order they were first shown in; a restarted one keeps its place.
    const int at = notices_->indexOf(label);
    auto pos = std::find_if(shown_.begin(), shown_.end(),
                            [&](const Notice& n) { return notices_->indexOf(n.label) > at; });
    shown_.insert(pos, Notice{label, timer});
    latest_ = label;
    place();
    show();
    raise();
}

void CInfoDlg::expire(QLabel* label) {
    auto it = std::find_if(shown_.begin(), shown_.end(),
                           [&](const Notice& n) { return n.label == label; });
    if (it == shown_.end())
        return;
    shown_.erase(it);
    if (shown_.empty()) {
        close();
        return;
    }
    notices_->removeWidget(label);
    label->deleteLater();
    place();
}

void CInfoDlg::place() {
    adjustSize();
    if (parentWidget() && parentWidget()->isVisible()) {
        const QRect r = parentWidget()->geometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
}

void CInfoDlg::applyLanguage() {
    setWindowTitle(language_.pick("信息", "Information"));
    close_->setText(language_.pick("关闭", "Close"));
}

QString CInfoDlg::text() const {
    for (const Notice& n : shown_)
        if (n.label == latest_)
            return n.label->text();
    return shown_.empty() ? QString() : shown_.back().label->text();
}

QStringList CInfoDlg::texts() const {
    QStringList out;
    for (const Notice& n : shown_)
        out << n.label->text();
    return out;
}

} // namespace q7
