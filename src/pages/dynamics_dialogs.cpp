// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/dynamics_dialogs.h"

#include "controls/bmp_slider.h"
#include "pages/page.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/language.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

namespace q7 {

namespace {

constexpr int kGateCells[4] = {53, 54, 90, 91};
constexpr int kAutoSubOn = 55, kAutoSubLevel = 56, kAgcOn = 171, kAgcLevel = 172;

QGroupBox* group(QWidget* parent, int id, const QRect& r) {
    auto* g = new QGroupBox(parent);
    setControlId(g, id);
    g->setFont(songti(12, true));
    g->setGeometry(r);
    g->lower();
    return g;
}

} // namespace

// ---- noise gate ----

CDialogNG::CDialogNG(EditorContext& editor, QWidget* parent) : ToolDialog(editor, 423, parent) {
    setObjectName("CDialogNG");
    setModal(true);
    mic_ = group(this, 1178, QRect(12, 8, 416, 96));
    music_ = group(this, 1179, QRect(12, 112, 416, 96));
    constexpr int captionIds[4] = {1123, 1124, 1125, 1126};
    for (int i = 0; i < 4; ++i) {
        const int y = 36 + (i / 2) * 104 + (i % 2) * 32;
        captions_[std::size_t(i)] = label(captionIds[i]);
        captions_[std::size_t(i)]->setGeometry(26, y, 96, 24);
        sliders_[std::size_t(i)] = slider(1041 + i, 1, 100);
        sliders_[std::size_t(i)]->setGeometry(124, y, 236, 24);
        connect(sliders_[std::size_t(i)], &CXBmpSlider::positionChanged, this,
                [this, i](int, int p) { moved(i, p); });
        values_[std::size_t(i)] = label(1127 + i, true);
        values_[std::size_t(i)]->setGeometry(366, y, 50, 24);
        values_[std::size_t(i)]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    ok_ = new QPushButton(this);
    setControlId(ok_, 1);
    cancel_ = new QPushButton(this);
    setControlId(cancel_, 2);
    ok_->setGeometry(246, 220, 86, 28);
    cancel_->setGeometry(342, 220, 86, 28);
    for (QPushButton* b : {ok_, cancel_})
        b->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(440, 260);
    routeWheel([](int id) { return id >= 1041 && id <= 1044; });
    refresh();
    applyLanguage();
}

void CDialogNG::refresh() {
    const ParameterStore& s = editor_.store();
    for (int i = 0; i < 4; ++i) {
        const int n = s.cellInt(kGateCells[i]);
        // Clamped in 64 bits: a stored value near INT_MIN must not overflow 101 - n.
        const int p = int(std::clamp<long long>(101LL - n, 1, 100));
        sliders_[std::size_t(i)]->SetPos(p);
        values_[std::size_t(i)]->setText(QString::number(p));
    }
}

void CDialogNG::moved(int i, int p) {
    EditPath::Scope step(editor_.edits());
    const int n = 101 - p;
    editor_.store().setCellInt(kGateCells[i], n);
    editor_.dsp().sendCell(kGateCells[i]);
    values_[std::size_t(i)]->setText(QString::number(p));
}

void CDialogNG::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("噪声门设置", "Noise gate setting"));
    mic_->setTitle(l.pick("话筒噪声门", "Mic "));
    music_->setTitle(l.pick("音乐噪声门", "Music "));
    for (int i = 0; i < 4; ++i)
        captions_[std::size_t(i)]->setText(i % 2 ? l.pick("关闭时间", "Release time")
                                                 : l.pick("启动时间", "Attack time"));
    ok_->setText(l.pick("确定", "OK"));
    cancel_->setText(l.pick("取消", "Cancel"));
    ToolDialog::applyLanguage();
}

// ---- ON box and level ----

OnOffLevelDialog::OnOffLevelDialog(EditorContext& editor, int templateId, int onCell,
                                   QWidget* parent)
    : ToolDialog(editor, templateId, parent), onCell_(onCell) {
    setAttribute(Qt::WA_DeleteOnClose);
    on_ = new QCheckBox(this);
    setControlId(on_, 1045);
    on_->setFont(songti(12, true));
    on_->setGeometry(20, 14, 200, 24);
    caption_ = label(1123);
    caption_->setGeometry(20, 50, 90, 24);
    slider_ = new CXBmpSlider(1000, this);
    slider_->SetMargin(7, 7, 3, 2);
    slider_->SetClearColour(QColor(240, 250, 255));
    slider_->setGeometry(110, 50, 220, 24);
    value_ = label(1127, true);
    value_->setGeometry(334, 50, 66, 24);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    explanation_ = label(1005);
    explanation_->setWordWrap(true);
    explanation_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    explanation_->setGeometry(20, 88, 380, 60);
    explanation_->setStyleSheet("color: rgb(70, 90, 110);");
    connect(on_, &QCheckBox::clicked, this, [this](bool checked) {
        EditPath::Scope step(editor_.edits());
        editor_.store().setCellInt(onCell_, checked ? 1 : 0);
        editor_.dsp().sendCell(onCell_);
        setEnables();
    });
    connect(slider_, &CXBmpSlider::positionChanged, this, [this](int, int p) { moved(p); });
    setFixedSize(420, 160);
}

void OnOffLevelDialog::refresh() {
    showLevel();
    on_->setChecked(editor_.store().cellInt(onCell_) != 0);
    setEnables();
}

void OnOffLevelDialog::setEnables() {
    const bool on = on_->isChecked();
    caption_->setEnabled(on);
    value_->setEnabled(on);
    slider_->setEnabled(on);
}

// ---- auto-SUB ----

CAutoSubDlg::CAutoSubDlg(EditorContext& editor, QWidget* parent)
    : OnOffLevelDialog(editor, 410, kAutoSubOn, parent) {
    setObjectName("CAutoSubDlg");
    const ParamInfo& level = *cellParam(kAutoSubLevel);
    slider_->SetRange(int(level.min), int(level.max));
    refresh();
    applyLanguage();
}

void CAutoSubDlg::showLevel() {
    slider_->SetPos(editor_.store().cellInt(kAutoSubLevel));
    value_->setText(QString::asprintf("%d%%", slider_->GetPos()));
}

void CAutoSubDlg::moved(int p) {
    EditPath::Scope step(editor_.edits());
    editor_.store().setCellInt(kAutoSubLevel, p);
    editor_.dsp().sendCell(kAutoSubLevel);
    value_->setText(QString::asprintf("%d%%", p));
}

void CAutoSubDlg::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("自动超低音量衰减", "Auto SUB vol decay"));
    on_->setText(l.pick("启用", "ON"));
    caption_->setText(l.pick("超低比例", "SUB Vol"));
    explanation_->setText(l.pick("当检测到话筒信号时，超低音量自动调节成所设置的超低比例，1秒之后，"
                                 "超低音量逐渐恢复成正常比例",
                                 "When detected mic level,the SUB vol is auto decay."));
    ToolDialog::applyLanguage();
}

// ---- music AGC ----

CAutoMusicVolDlg::CAutoMusicVolDlg(EditorContext& editor, QWidget* parent)
    : OnOffLevelDialog(editor, 424, kAgcOn, parent) {
    setObjectName("CAutoMusicVolDlg");
    // The slider counts tenths of the level kept; the names table gives it as shown.
    const ParamInfo& level = *cellParam(kAgcLevel);
    slider_->SetRange(int(std::lround((level.min - level.add) * 10)),
                      int(std::lround((level.max - level.add) * 10)));
    refresh();
    applyLanguage();
}

void CAutoMusicVolDlg::showLevel() {
    const float level = editor_.store().cellFloat(kAgcLevel);
    slider_->SetPos(std::isfinite(level) ? truncatedTenths(level) : slider_->minimum());
    // Shown 12 dB above the level kept and sent.
    value_->setText(QString::asprintf("%.1fdB", double(level) + 12.0));
}

void CAutoMusicVolDlg::moved(int p) {
    EditPath::Scope step(editor_.edits());
    editor_.store().setCellFloat(kAgcLevel, float(p / 10.0));
    editor_.dsp().sendCell(kAgcLevel);
    value_->setText(QString::asprintf("%.1fdB", (p + 120) / 10.0));
}

void CAutoMusicVolDlg::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("音乐AGC", "Music AGC"));
    on_->setText(l.pick("启用", "ON"));
    caption_->setText(l.pick("AGC电平", "AGC Level"));
    explanation_->setText(l.pick("音乐输入增益自动调节", "Auto Music Level"));
    ToolDialog::applyLanguage();
}

} // namespace q7
