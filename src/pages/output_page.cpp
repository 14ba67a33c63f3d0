// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/output_page.h"

#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/peak_meter.h"
#include "pages/band_editor.h"
#include "pages/eq_editor.h"
#include "pages/nav_row.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QTableWidget>

namespace q7 {

namespace {

constexpr OutputInfo kOutputs[5] = {
    {5, "前置输出", "MAIN OUTPUT"},   {4, "后置输出", "REAR OUTPUT"},
    {3, "中置输出", "CENTER OUTPUT"}, {2, "超低输出", "SUB OUTPUT"},
    {11, "顶置输出", "TOP OUTPUT"},
};

// The names table knows an output's cells by the bank's name: "main.mix.direct", "main.mute".
const ParamInfo& outputParam(int bank, const char* field) {
    return *findParam(std::string(eqBankInfo(outputInfo(bank).bank)->id) + field);
}

// The five mute boxes: id, and the output whose mute they hold.
constexpr std::pair<int, int> kMuteBoxes[5] = {
    {1045, 5}, {1050, 4}, {1047, 3}, {1048, 2}, {1049, 11}};

} // namespace

const OutputInfo& outputInfo(int bank) {
    for (const OutputInfo& o : kOutputs)
        if (o.bank == bank)
            return o;
    return kOutputs[0];
}

int outputMixCell(int bank) {
    return outputParam(bank, ".mix.direct").index;
}

int outputMuteCell(int bank) {
    return outputParam(bank, ".mute").index;
}

CDialogOutput::CDialogOutput(EditorContext& editor, int bank, QWidget* parent)
    : CPage(PageKind::Output, editor, parent), bank_(outputInfo(bank).bank) {
    setObjectName("CDialogOutput");
    nav_ = new NavRow(this, editor_);
    for (std::size_t i = 0; i < 5; ++i) {
        auto* box = new QCheckBox(this);
        setControlId(box, kMuteBoxes[i].first);
        box->setFont(songti(12));
        const int id = kMuteBoxes[i].first;
        connect(box, &QCheckBox::clicked, this, [this, id](bool on) { muteClicked(id, on); });
        mutes_[i] = box;
    }
    eq_ = new EqEditor(this, editor_);
    bands()->rowClicked = [this](int row) { updateSlopeList(row); };
    bands()->selectionChanged = [this](int b) { updateSlopeList(b); };
    // A new type (radio or the list's drop-down) may show or hide the slope list.
    eq_->edited = [this](int b) {
        if (b == slopeFor_)
            updateSlopeList(b);
    };

    slopeCaption_ = new QLabel(this);
    setControlId(slopeCaption_, 1215);
    slopeCaption_->setFont(songti(12));
    slopes_ = new QComboBox(this);
    setControlId(slopes_, 1134);
    for (int slope = 0; slope < kCrossoverSlopes; ++slope)
        slopes_->addItem(crossoverName(slope));
    connect(slopes_, &QComboBox::activated, this, [this](int i) { chooseSlope(i); });

    for (int i = 0; i < 4; ++i) {
        mixCaption_[std::size_t(i)] = new QLabel(this);
        setControlId(mixCaption_[std::size_t(i)], 1123 + i);
        mixCaption_[std::size_t(i)]->setFont(songti(12));
        auto* s = new CXBmpSlider(1041 + i, this);
        const ParamInfo& mix = *cellParam(outputMixCell(bank_) + i);
        s->SetRange(int(mix.min), int(mix.max));
        s->SetMargin(7, 7, 3, 2);
        s->SetClearColour(kPageBackground);
        connect(s, &CXBmpSlider::positionChanged, this, [this, i](int, int p) { mixMoved(i, p); });
        mix_[std::size_t(i)] = s;
        mixText_[std::size_t(i)] = new QLabel(this);
        setControlId(mixText_[std::size_t(i)], 1127 + i);
        mixText_[std::size_t(i)]->setFont(uiFont("Arial", 12, true));
    }
    for (int m = 0; m < 2; ++m)
        meters_[std::size_t(m)] = addLevelMeter(1168 + m);
    timer_ = editor_.timeline().start(300, true, [this] {
        const auto level = editor_.store().levelReport();
        for (int m = 0; m < 2; ++m) {
            const int v = level[std::size_t(4 + m)];
            meters_[std::size_t(m)]->SetData(&v, 0, 1);
        }
    });
    // The wheel anywhere over the page goes to a focused mix slider, band slider or the graph.
    routeWheel([](int id) {
        return id == 1040 || (id >= 1041 && id <= 1044) || (id >= 1209 && id <= 1211);
    });
    applyLanguage();
    refresh();
}

CDialogOutput::~CDialogOutput() {
    if (timer_)
        editor_.timeline().stop(timer_);
}

QCheckBox* CDialogOutput::muteBox(int id) const {
    for (QCheckBox* b : mutes_)
        if (controlId(b) == id)
            return b;
    return nullptr;
}

void CDialogOutput::setBank(int bank) {
    const int b = outputInfo(bank).bank;
    if (b != bank_)
        slopeFor_ = slopeBand_ = -1;
    bank_ = b;
    refresh();
}

void CDialogOutput::refresh() {
    editor_.setLastOutput(bank_);
    const ParameterStore& s = editor_.store();
    eq_->show(bank_);
    for (int i = 0; i < 4; ++i) {
        const int v = s.cellInt(outputMixCell(bank_) + i);
        mix_[std::size_t(i)]->SetPos(v);
        mixText_[std::size_t(i)]->setText(
            QString::asprintf("%d%%", mix_[std::size_t(i)]->GetPos()));
    }
    for (std::size_t i = 0; i < 5; ++i)
        mutes_[i]->setChecked(s.cellInt(outputMuteCell(kMuteBoxes[i].second)) != 0);
    // The slope list of the band picked stays, with the band's slope as stored now.
    updateSlopeList(slopeFor_);
    static const std::pair<int, int> buttons[5] = {
        {5, 1069}, {4, 1072}, {3, 1070}, {2, 1071}, {11, 1076}};
    for (auto [b, id] : buttons)
        if (b == bank_)
            nav_->setCurrent(id);
    update();
}

int CDialogOutput::matchingSlope(int b) const {
    if (bank_ != kSubEqBank || b < 0 || b >= kSubBands)
        return -1;
    const auto slope = crossoverOf(readBank(editor_.store(), bank_), b);
    return slope ? slope->slope : -1;
}

void CDialogOutput::updateSlopeList(int b) {
    const int type = b >= 0 && b <= 4 ? bands()->shown(b).type : 0;
    const bool show =
        bank_ == kSubEqBank && b >= 0 && b <= 4 && (type == 2 || type == 3 || type > 5);
    slopeFor_ = b;
    slopeBand_ = show ? b : -1;
    slopes_->setVisible(show);
    slopeCaption_->setVisible(show);
    if (show)
        slopes_->setCurrentIndex(matchingSlope(b));
}

void CDialogOutput::chooseSlope(int index) {
    if (slopeBand_ < 0)
        return;
    eq_->wantSlope(slopeBand_, index);
}

void CDialogOutput::mixMoved(int slot, int p) {
    EditPath::Scope step(editor_.edits());
    const int cell = outputMixCell(bank_) + slot;
    editor_.store().setCellInt(cell, p);
    editor_.dsp().sendLevel(cell);
    mixText_[std::size_t(slot)]->setText(QString::asprintf("%d%%", p));
    if (mutes_[0]->isChecked())
        editor_.ShowInfo(editor_.language().pick("当前是静音状态", "vol is mute"), 1100);
}

void CDialogOutput::muteClicked(int id, bool checked) {
    EditPath::Scope step(editor_.edits());
    for (auto [box, bank] : kMuteBoxes)
        if (box == id) {
            const int cell = outputMuteCell(bank);
            editor_.store().setCellInt(cell, checked ? 1 : 0);
            editor_.dsp().sendMute(cell);
        }
}

void CDialogOutput::applyLanguage() {
    const Language& l = editor_.language();
    const char* captions[4][2] = {{"直达音量", "Direct"},
                                  {"混响音量", "Reverb"},
                                  {"回声音量", "Echo"},
                                  {"音乐音量", "Music"}};
    for (int i = 0; i < 4; ++i)
        mixCaption_[std::size_t(i)]->setText(l.pick(captions[i][0], captions[i][1]));
    // The mute boxes read as the names table names their cells: "Main Mute", "前置静音".
    for (std::size_t i = 0; i < 5; ++i) {
        const ParamInfo& mute = *cellParam(outputMuteCell(kMuteBoxes[i].second));
        mutes_[i]->setText(l.pick(mute.nameZh.c_str(), mute.nameEn.c_str()));
    }
    slopeCaption_->setText(l.pick("类型", "Type"));
    CPage::applyLanguage();
    eq_->applyLanguage();
    layoutControls();
    update();
}

void CDialogOutput::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    nav_->place(12, 8, W - 270);
    banner_ = QRect(W - 250, 6, 238, 32);
    for (std::size_t i = 0; i < 5; ++i)
        mutes_[i]->setGeometry(352 + int(i) * 118, 44, 112, 22);
    eq_->place(QRect(12, 44, 330, H - 44 - 168), QRect(352, 72, W - 364, H - 72 - 36));
    slopeCaption_->setGeometry(12, H - 160, 44, 24);
    slopes_->setGeometry(58, H - 160, 284, 24);
    for (int i = 0; i < 4; ++i) {
        const int y = H - 128 + i * 30;
        mixCaption_[std::size_t(i)]->setGeometry(12, y, 90, 24);
        mix_[std::size_t(i)]->setGeometry(100, y, 176, 24);
        mixText_[std::size_t(i)]->setGeometry(282, y, 60, 24);
    }
    meters_[0]->setGeometry(352, H - 30, W - 364, 9);
    meters_[1]->setGeometry(352, H - 18, W - 364, 9);
}

void CDialogOutput::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    // The output's banner, in the current language.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(banner_.topLeft(), banner_.topRight());
    g.setColorAt(0, QColor(32, 96, 170));
    g.setColorAt(1, QColor(74, 150, 222));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(banner_, 6, 6);
    const QRectF icon(banner_.left() + 8, banner_.top() + 5, 16, 22);
    p.setBrush(QColor(235, 240, 248));
    p.drawRoundedRect(icon, 3, 3);
    p.setBrush(QColor(32, 96, 170));
    p.drawEllipse(icon.center() + QPointF(0, 4), 5, 5);
    p.drawEllipse(icon.center() + QPointF(0, -6), 2.5, 2.5);
    p.setPen(Qt::white);
    p.setFont(songti(15, true));
    p.drawText(banner_.adjusted(32, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
               editor_.language().pick(info().zh, info().en));
}

} // namespace q7
