// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/effects_page.h"

#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "pages/band_editor.h"
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
    graph_ = new CEqPanel(this);
    setControlId(graph_, 1040);
    bands_ = new BandEditor(this, editor_.language(), graph_);
    bands_->send = [this](int b) { sendBand(b); };
    bands_->connectGraph([this](const QPoint& at) { showCopyMenu(at); });
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

int CDialogEfx::bypassCell() const {
    switch (bank_) {
    case 6:
        return 73;
    case 7:
        return 57;
    case 9:
        return 78;
    default:
        return 64;
    }
}

void CDialogEfx::setBank(int bank) {
    bank_ = bank;
    refresh();
}

void CDialogEfx::refresh() {
    const ParameterStore& s = editor_.store();
    const int group = groupOf(bank_), first = firstRecordOf(bank_);
    bands_->setNumberColour(bank_ == 7 ? QColor(0, 220, 0) : QColor(0, 200, 255));
    bands_->load(bank_, 7, [&](int i) { return s.band(group, first + i); });
    graph_->setLanguage(editor_.language().index());
    graph_->setBypass(eqBypass());
    showInfo();
}

void CDialogEfx::showInfo() {
    const Language& l = editor_.language();
    const bool b = bank_ == 9 || bank_ == 10;
    const bool reverb = groupOf(bank_) == 3;
    const QString channel = b ? l.pick("话筒通道B", "Mic CH B") : l.pick("话筒通道A", "Mic CH A");
    const QString effect = reverb ? l.pick("混响", "reverb") : l.pick("回声", "echo");
    const QString title = graph_->title().toHtmlEscaped();
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

void CDialogEfx::sendBand(int b) {
    EditPath::Scope step(editor_.edits());
    sendRecord(editor_.dsp(), groupOf(bank_), firstRecordOf(bank_) + b, recordOf(graph_->band(b)));
}

std::pair<int, int> CDialogEfx::eqShown() const {
    return {groupOf(bank_), firstRecordOf(bank_)};
}

bool CDialogEfx::eqBypass() const {
    return editor_.store().cellInt(bypassCell()) != 0;
}

void CDialogEfx::setEqBypass(bool on) {
    EditPath::Scope step(editor_.edits());
    editor_.store().setCellInt(bypassCell(), on ? 1 : 0);
    editor_.dsp().sendSelector(bypassCell());
    graph_->setBypass(on);
}

void CDialogEfx::resetEq() {
    EditPath::Scope step(editor_.edits());
    const bool b = bank_ == 9 || bank_ == 10;
    const bool reverb = groupOf(bank_) == 3;
    editor_.dsp().resetGroupEq(reverb ? (b ? EqHalf::ReverbB : EqHalf::ReverbA)
                                      : (b ? EqHalf::EchoB : EqHalf::EchoA));
    refresh();
}

void CDialogEfx::applyLanguage() {
    return_->setText(editor_.language().pick("返回", "Return"));
    CPage::applyLanguage();
    bands_->applyLanguage();
    graph_->setLanguage(editor_.language().index());
    showInfo();
}

void CDialogEfx::resizeEvent(QResizeEvent*) {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    return_->setGeometry(12, 8, 94, 28);
    const int listH = std::min(H - 56, 300);
    bands_->place(QRect(12, 44, 330, listH));
    graph_->setGeometry(352, 44, W - 364, H - 56);
    infoCard_ = QRect(12, 44 + listH + 10, 330, H - 12 - (44 + listH + 10));
    info_->setGeometry(infoCard_.adjusted(12, 8, -12, -8));
}

void CDialogEfx::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    paintCard(p, infoCard_);
}

} // namespace q7
