// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/delay_page.h"

#include "controls/bmp_slider.h"
#include "controls/delay_panel.h"
#include "controls/up_down.h"
#include "pages/nav_row.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <cmath>

namespace q7 {

namespace {

struct RowIds {
    int box, highFreq, channel, slider, hz, edit, spin, name;
    const char *zh, *en;
};
constexpr RowIds kRows[CDelayDlg::kChannels] = {
    {1293, 1190, 1191, 1014, 1008, 1038, 1242, 1123, "前置左", "Main L"},
    {1294, 1192, 1193, 1015, 1009, 1039, 1243, 1124, "前置右", "Main R"},
    {1295, 1194, 1195, 1016, 1010, 1040, 1244, 1125, "中置", "Center"},
    {1296, 1196, 1197, 1017, 1011, 1041, 1245, 1126, "超低", "Sub"},
    {1297, 1198, 1199, 1018, 1012, 1042, 1246, 1131, "后置左", "Rear L"},
    {1298, 1200, 1201, 1019, 1013, 1043, 1247, 1135, "后置右", "Rear R"},
    {1299, 1202, 1203, 1022, 1020, 1044, 1248, 1132, "顶置左", "Top L"},
    {1300, 1204, 1205, 1023, 1021, 1045, 1249, 1136, "顶置右", "Top R"},
};

// The delay's span in milliseconds, as the names table (and q7ctl) gives it.
const ParamInfo& delayParam() {
    return *cellParam(delayChannelInfo(DelayChannel(0)).delayCell);
}
const double kMinDelayMs = delayParam().min, kMaxDelayMs = delayParam().max;
// The delay spin counts tenths of a millisecond over the same span.
const int kMinSpin = int(std::lround(kMinDelayMs * 10)),
          kMaxSpin = int(std::lround(kMaxDelayMs * 10));

DelayChannel channelOf(int c) {
    return DelayChannel(c);
}

} // namespace

CDelayDlg::CDelayDlg(EditorContext& editor, QWidget* parent)
    : CPage(PageKind::Delay, editor, parent) {
    setObjectName("CDelayDlg");
    nav_ = new NavRow(this, editor_);
    panel_ = new CDelayPanel(this);
    setControlId(panel_, 1250);
    panel_->SetUp(kChannels);
    connect(panel_, &CDelayPanel::dragged, this, &CDelayDlg::panelDragged);
    for (int c = 0; c < kChannels; ++c) {
        const RowIds& ids = kRows[c];
        Row& row = rows_[std::size_t(c)];
        row.name = new QLabel(this);
        setControlId(row.name, ids.name);
        row.name->setFont(songti(13, true));
        row.on = new QCheckBox(this);
        setControlId(row.on, ids.box);
        row.on->setFont(songti(12));
        connect(row.on, &QCheckBox::clicked, this, [this, c](bool on) { onClicked(c, on); });
        row.highFreq = new QRadioButton(this);
        setControlId(row.highFreq, ids.highFreq);
        row.channel = new QRadioButton(this);
        setControlId(row.channel, ids.channel);
        row.modes = new QButtonGroup(this);
        row.modes->addButton(row.highFreq, 0);
        row.modes->addButton(row.channel, 1);
        for (QRadioButton* r : {row.highFreq, row.channel}) {
            r->setFont(songti(12));
            connect(r, &QRadioButton::clicked, this,
                    [this, c, r] { modeClicked(c, rows_[std::size_t(c)].modes->id(r)); });
        }
        row.highFreq->setChecked(true);
        row.split = new CXBmpSlider(ids.slider, this);
        row.split->SetMargin(7, 7, 3, 2);
        // The slider clears to the colour of its row in the table.
        row.split->SetClearColour(c % 2 ? QColor(236, 244, 252) : QColor(250, 253, 255));
        row.split->SetRange(0, kSplitCount - 1);
        row.split->setEnabled(false);
        connect(row.split, &CXBmpSlider::positionChanged, this,
                [this, c](int, int p) { splitMoved(c, p); });
        row.hz = new QLabel(this);
        setControlId(row.hz, ids.hz);
        row.hz->setFont(uiFont("Arial", 12, true));
        row.edit = new QLineEdit(this);
        setControlId(row.edit, ids.edit);
        row.edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(row.edit, &QLineEdit::returnPressed, this, [this, c] { applyTyped(c); });
        row.spin = new UpDown(ids.spin, this);
        // From 1.5 ms, the shortest delay, up is 1.6 ms: the spin's range starts there too.
        row.spin->setRange(kMinSpin, kMaxSpin);
        row.spin->setPosition(kMinSpin);
        connect(row.spin, &UpDown::stepping, this, [this, c](int, int d) { spinStepping(c, d); });
    }
    const char* headers[4] = {"", "", "", ""};
    for (int i = 0; i < 4; ++i) {
        headers_[std::size_t(i)] = new QLabel(headers[i], this);
        headers_[std::size_t(i)]->setFont(songti(12, true));
        headers_[std::size_t(i)]->setStyleSheet("color: rgb(60, 90, 130);");
    }
    routeWheel([](int id) { return (id >= 1014 && id <= 1023) || (id >= 1038 && id <= 1045); });
    refresh();
    applyLanguage();
}

void CDelayDlg::refresh() {
    const ParameterStore& s = editor_.store();
    for (int c = 0; c < kChannels; ++c) {
        const DelayChannelInfo& info = delayChannelInfo(channelOf(c));
        Row& row = rows_[std::size_t(c)];
        const float delay = s.cellFloat(info.delayCell);
        row.spin->setPosition(truncatedTenths(delay));
        row.edit->setText(QString::asprintf("%.1fms", double(delay)));
        panel_->SetValue(c, delay);
        const int index = splitIndexForHz(s.band(info.module, info.splitRecord).frequency);
        const QSignalBlocker quiet(row.split);
        row.split->SetPos(index);
        row.hz->setText(QString::asprintf("%dHz", splitLowerHz(row.split->GetPos())));
        row.on->setChecked(s.cellInt(info.offCell) == 0);
        const bool channel = s.cellInt(info.modeCell) != 0;
        row.channel->setChecked(channel);
        row.highFreq->setChecked(!channel);
        updateEnables(c);
    }
    nav_->setCurrent(1074);
}

void CDelayDlg::updateEnables(int c) {
    Row& row = rows_[std::size_t(c)];
    const bool on = row.on->isChecked();
    row.highFreq->setEnabled(on);
    row.channel->setEnabled(on);
    row.split->setEnabled(on && row.highFreq->isChecked());
    row.hz->setEnabled(row.split->isEnabled());
    row.name->setEnabled(on);
    row.edit->setEnabled(on);
    row.spin->setEnabled(on);
}

void CDelayDlg::onClicked(int c, bool checked) {
    EditPath::Scope step(editor_.edits());
    const DelayChannelInfo& info = delayChannelInfo(channelOf(c));
    editor_.store().setCellInt(info.offCell, checked ? 0 : 1);
    editor_.dsp().sendSelector(info.offCell);
    updateEnables(c);
}

void CDelayDlg::modeClicked(int c, int mode) {
    EditPath::Scope step(editor_.edits());
    updateEnables(c);
    editor_.dsp().sendDelayMode(channelOf(c), mode);
}

void CDelayDlg::splitMoved(int c, int index) {
    EditPath::Scope step(editor_.edits());
    editor_.dsp().sendSplitFilter(channelOf(c), index);
    rows_[std::size_t(c)].hz->setText(QString::asprintf("%dHz", splitLowerHz(index)));
}

void CDelayDlg::spinStepping(int c, int delta) {
    const int step = delta > 0 ? 1 : delta < 0 ? -1 : 0;
    // From the stored delay: a step made elsewhere may have changed it since the spin was set.
    const float stored = editor_.store().cellFloat(delayChannelInfo(channelOf(c)).delayCell);
    const int position = std::clamp(truncatedTenths(stored) + step, kMinSpin, kMaxSpin);
    rows_[std::size_t(c)].spin->setPosition(truncatedTenths(stored)); // it adds the step itself
    applyDelay(c, position / 10.0);
}

void CDelayDlg::applyTyped(int c) {
    const double v =
        std::clamp(leadingNumber(rows_[std::size_t(c)].edit->text()), kMinDelayMs, kMaxDelayMs);
    panelDragged(c, float(v));
}

void CDelayDlg::panelDragged(int c, float value) {
    if (c < 0 || c >= kChannels)
        return;
    Row& row = rows_[std::size_t(c)];
    row.edit->setText(QString::asprintf("%.1fms", double(value)));
    row.edit->setFocus();
    applyDelay(c, value);
    row.spin->setPosition(truncatedTenths(value));
}

void CDelayDlg::applyDelay(int c, double v) {
    EditPath::Scope step(editor_.edits());
    panel_->SetValue(c, float(v));
    rows_[std::size_t(c)].edit->setText(QString::asprintf("%.1fms", v));
    const DelayChannelInfo& info = delayChannelInfo(channelOf(c));
    if (float(v) != editor_.store().cellFloat(info.delayCell))
        editor_.dsp().sendDelay(channelOf(c), v);
}

bool CDelayDlg::eventFilter(QObject* watched, QEvent* event) {
    // Up, Down and the wheel in a delay edit step its spin, as a buddy spin does.
    if (const int delta = spinStep(event))
        for (Row& row : rows_)
            if (watched == row.edit && row.spin->isEnabled()) {
                row.spin->click(delta);
                return true;
            }
    return CPage::eventFilter(watched, event);
}

void CDelayDlg::applyLanguage() {
    const Language& l = editor_.language();
    for (int c = 0; c < kChannels; ++c)
        rows_[std::size_t(c)].name->setText(l.pick(kRows[c].zh, kRows[c].en));
    const char* heads[4][2] = {
        {"通道", "Channel"}, {"延时方式", "Delay mode"}, {"分频点", "Split"}, {"延时", "Delay"}};
    for (int i = 0; i < 4; ++i)
        headers_[std::size_t(i)]->setText(l.pick(heads[i][0], heads[i][1]));
    panel_->setLanguage(l.index());
    CPage::applyLanguage();
    update();
}

void CDelayDlg::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    nav_->place(12, 8, W - 24);
    const int top = 46;
    const int rowH = std::clamp((H - top - 40) / kChannels, 40, 64);
    // Columns: name, ON, the two radios, split slider and Hz, delay edit and spin.
    const int xName = 22, xOn = 96, xHigh = 156, xChan = 256, xSplit = 346, xHz = 490, xEdit = 552,
              xSpin = 626;
    table_ = QRect(12, top, xSpin + 18 + 10 - 12, 30 + rowH * kChannels + 6);
    headers_[0]->setGeometry(xName, top + 6, 70, 20);
    headers_[1]->setGeometry(xHigh, top + 6, 180, 20);
    headers_[2]->setGeometry(xSplit + 6, top + 6, 130, 20);
    headers_[3]->setGeometry(xEdit, top + 6, 90, 20);
    for (int c = 0; c < kChannels; ++c) {
        Row& row = rows_[std::size_t(c)];
        const int y = top + 30 + c * rowH + (rowH - 24) / 2;
        row.name->setGeometry(xName, y, 72, 24);
        row.on->setGeometry(xOn, y, 58, 24);
        row.highFreq->setGeometry(xHigh, y, 98, 24);
        row.channel->setGeometry(xChan, y, 88, 24);
        row.split->setGeometry(xSplit, y, 140, 24);
        row.hz->setGeometry(xHz, y, 58, 24);
        row.edit->setGeometry(xEdit, y, 72, 24);
        row.spin->setGeometry(xSpin, y, 18, 24);
    }
    const int px = table_.right() + 12;
    panel_->setGeometry(px, top, W - 12 - px, H - top - 10);
}

void CDelayDlg::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintCard(p, table_);
    // Zebra rows make the eight channels easy to follow across the table.
    const int rowH = (table_.height() - 36) / kChannels;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(236, 244, 252));
    for (int c = 1; c < kChannels; c += 2)
        p.drawRect(
            QRect(table_.left() + 1, table_.top() + 30 + c * rowH, table_.width() - 2, rowH));
}

} // namespace q7
