// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/effects_page.h"

#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "pages/band_editor.h"
#include "pages/eq_editor.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "ui/fonts.h"
#include "ui/language.h"

#include <QLabel>
#include <QPainter>
#include <QTableWidget>

namespace q7 {

CDialogEfx::CDialogEfx(EditorContext& editor, int bank, QWidget* parent)
    : CPage(PageKind::Effects, editor, parent), bank_(bank) {
    setObjectName("CDialogEfx");
    eq_ = new EqEditor(this, editor_);
    return_ = new CGdipButton(1068, this);
    info_ = new QLabel(this);
    info_->setWordWrap(true);
    info_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    info_->setTextFormat(Qt::RichText);
    info_->setFont(songti(13));
    info_->setStyleSheet("color: rgb(50, 70, 95);");
    connect(return_, &CGdipButton::clicked, this, [this] { editor_.showPage(PageKind::Music, 0); });
    // The wheel anywhere over the page goes to a focused band slider or the graph.
    routeWheel([](int id) { return id == 1040 || (id >= 1209 && id <= 1211); });
    applyLanguage();
    refresh();
}

void CDialogEfx::setBank(int bank) {
    bank_ = bank;
    refresh();
}

void CDialogEfx::refresh() {
    eq_->show(bank_);
    showInfo();
}

void CDialogEfx::showInfo() {
    const Language& l = editor_.language();
    const bool b = micChannelOf(bank_) == MicChannel::B;
    const bool reverb = effectOf(bank_) == Effect::Reverb;
    const QString channel = b ? l.pick("话筒通道B", "Mic CH B") : l.pick("话筒通道A", "Mic CH A");
    const QString effect = reverb ? l.pick("混响", "reverb") : l.pick("回声", "echo");
    const QString title = graph()->title().toHtmlEscaped();
    const QString what =
        l.english()
            ? QString("The seven bands of the %1 of %2. Every change goes to the "
                      "amplifier at once.")
                  .arg(effect, channel)
            : QString::fromUtf8("%1的%2的7段均衡，每次修改立即发送到功放。").arg(channel, effect);
    const QString how = l.pick("在右边的曲线上拖动频点，右键拖动改变Q值；或点选频点后输入数值。",
                               "Drag a band on the graph (with the right button for its Q), or "
                               "pick it and type its values.");
    const QString back =
        l.english() ? QString("\"Return\" goes back to the music page, on %1.").arg(channel)
                    : QString::fromUtf8("点击“返回”回到音乐页面（%1）。").arg(channel);
    info_->setText(
        QString("<p style='font-size:15px'><b>%1</b></p><p>%2</p><p>%3</p><p>%4</p>")
            .arg(title, what.toHtmlEscaped(), how.toHtmlEscaped(), back.toHtmlEscaped()));
}

void CDialogEfx::applyLanguage() {
    return_->setText(editor_.language().pick("返回", "Return"));
    CPage::applyLanguage();
    eq_->applyLanguage();
    showInfo();
}

void CDialogEfx::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    return_->setGeometry(12, 8, 94, 28);
    const int listH = std::min(H - 56, 300);
    eq_->place(QRect(12, 44, 330, listH), QRect(352, 44, W - 364, H - 56));
    infoCard_ = QRect(12, 44 + listH + 10, 330, H - 12 - (44 + listH + 10));
    info_->setGeometry(infoCard_.adjusted(12, 8, -12, -8));
}

void CDialogEfx::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    paintCard(p, infoCard_);
}

} // namespace q7
