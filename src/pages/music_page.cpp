// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/music_page.h"

#include "controls/bmp_slider.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "controls/small_eq_panel.h"
#include "device/connection.h"
#include "eq/eq_bank.h"
#include "pages/band_editor.h"
#include "pages/eq_editor.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QTableWidget>
#include <QWheelEvent>
#include <algorithm>

namespace q7 {

namespace {

struct ParameterRow {
    const char *zh, *en;
    int minimum, maximum;
    // A level row's cell for channel A and B (0 for the other rows), and the effect's mute cell
    // with what a level set on a muted effect warns (0 for none).
    int levelA = 0, levelB = 0;
    int muteCell = 0;
    const char *mutedZh = nullptr, *mutedEn = nullptr;
};
const ParameterRow kRows[9] = {
    {"混响电平", "Reverb Level", 0, 100, 74, 79, 84, "混响已静音", "Reverb vol is mute"},
    {"混响预延时", "Reverb Predelay", 3, 200},
    {"混响时长", "Reverb Time", 0, 100},
    {"回声电平", "Echo Level", 0, 100, 58, 65, 72, "回声已静音", "Echo vol is mute"},
    {"回声预延时", "Echo Predelay", 3, 200},
    {"回声间隔", "Echo Time", 180, 260},
    {"回声起始音量", "Echo Start Vol", 40, 100, 62, 69},
    {"回声衰减比例", "Echo Vol Decay", 20, 90, 63, 70},
    {"话筒移频", "Shift Frequency", 1, 5},
};

const QColor kCyan(0, 200, 255), kGreen(0, 220, 0), kGrey(100, 100, 100);

// The cell a mic port slider holds: 1052.. the ports' noise gates, 1056.. their volumes.
int portCell(int id) {
    const int k = (id - 1052) % 4;
    return id >= 1056 ? 45 + k : 49 + k;
}

} // namespace

CDialogMusic::CDialogMusic(EditorContext& editor, QWidget* parent)
    : CPage(PageKind::Music, editor, parent) {
    setObjectName("CDialogMusic");
    auto makeButton = [this](int id, int slot) {
        auto* b = new CGdipButton(id, this);
        buttons_[std::size_t(slot)] = b;
        return b;
    };
    for (int k = 0; k < 3; ++k) {
        static constexpr int banks[3] = {1, 8, 0};
        CGdipButton* b = makeButton(1068 + k, k);
        // As on the navigation rows, the shown bank's own button keeps what is being typed.
        connect(b, &CGdipButton::clicked, this, [this, k] {
            if (bank() != banks[k])
                showBank(banks[k]);
        });
    }

    eq_ = new EqEditor(this, editor_);

    params_ = new QTableWidget(9, 2, this);
    setControlId(params_, 1141);
    params_->verticalHeader()->hide();
    params_->setSelectionBehavior(QAbstractItemView::SelectRows);
    params_->setSelectionMode(QAbstractItemView::SingleSelection);
    params_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    params_->horizontalHeader()->setStretchLastSection(true);
    params_->verticalHeader()->setMinimumSectionSize(14);
    params_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    params_->verticalHeader()->setDefaultSectionSize(17);
    params_->horizontalHeader()->setFixedHeight(20);
    params_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    params_->setTabKeyNavigation(false); // Tab leaves the list; the arrows pick a row
    params_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    params_->setFont(songti(11));
    params_->installEventFilter(this);
    connect(params_, &QTableWidget::cellClicked, this,
            [this](int row, int) { selectParameter(row); });
    connect(params_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0 && row != selectedRow_)
            selectParameter(row);
    });

    paramName_ = new QLabel(this);
    setControlId(paramName_, 1124);
    paramName_->setFont(songti(12, true));
    value_ = new CXBmpSlider(1000, this);
    value_->SetMargin(7, 7, 3, 2);
    value_->SetClearColour(kPageBackground);
    connect(value_, &CXBmpSlider::positionChanged, this,
            [this](int, int p) { setParameterValue(p); });
    valueText_ = new QLabel(this);
    setControlId(valueText_, 1038);
    valueText_->setFont(uiFont("Arial", 12, true));

    for (int id : {1132, 1145})
        caption(id);
    for (int id : {1146, 1189}) {
        QLabel* hint = caption(id);
        hint->setFont(songti(10));
        hint->setStyleSheet("color: rgb(90,110,130);");
    }
    reverb_ = new CSmallEqPanel(this);
    setControlId(reverb_, 1144);
    echo_ = new CSmallEqPanel(this);
    setControlId(echo_, 1143);
    connect(reverb_, &CSmallEqPanel::clicked, this, [this] {
        if (micBank())
            editor_.showPage(PageKind::Effects, reverbBank());
    });
    connect(echo_, &CSmallEqPanel::clicked, this, [this] {
        if (micBank())
            editor_.showPage(PageKind::Effects, echoBank());
    });

    for (int k = 0; k < 4; ++k) {
        caption(1185 + k)->setAlignment(Qt::AlignCenter);
        for (int s : {0, 4}) {
            auto* slider = new CXBmpSlider(1052 + k + s, this, true);
            const ParamInfo& cell = *cellParam(portCell(1052 + k + s));
            slider->SetRange(int(cell.min), int(cell.max));
            slider->SetMargin(3, 2, 7, 7);
            slider->SetClearColour(kPageBackground);
            connect(slider, &CXBmpSlider::positionChanged, this,
                    [this](int id, int p) { portMoved(id, p); });
            ports_[std::size_t(k + s)] = slider;
            auto* value = new QLabel(this);
            setControlId(value, s ? 1160 + 2 * k : 1152 + 2 * k);
            value->setAlignment(Qt::AlignCenter);
            value->setFont(uiFont("Arial", 11));
            portValues_[std::size_t(k + s)] = value;
            caption(s ? 1161 + 2 * k : 1153 + 2 * k)->setAlignment(Qt::AlignCenter);
        }
        CGdipButton* a = makeButton(1190 + 2 * k, 4 + 2 * k);
        CGdipButton* b = makeButton(1191 + 2 * k, 5 + 2 * k);
        connect(a, &CGdipButton::clicked, this, [this, k] { routePort(k, true); });
        connect(b, &CGdipButton::clicked, this, [this, k] { routePort(k, false); });
    }
    CGdipButton* pair = makeButton(1071, 3);
    connect(pair, &CGdipButton::clicked, this,
            [this] { editor_.connection().commands.pairMics(); });

    caption(1142);
    for (int m = 0; m < 6; ++m)
        meters_[std::size_t(m)] = addLevelMeter(1168 + m);
    auto* status = new QGroupBox(this);
    setControlId(status, 1147);
    status->setFont(songti(12));
    status->lower();
    bluetooth_ = new QLabel(this);
    setControlId(bluetooth_, 1217);
    pairing_ = new QLabel(this);
    setControlId(pairing_, 1218);
    format_ = new QLabel("Stereo", this);
    setControlId(format_, 1219);
    format_->setFont(uiFont("Arial", 13, true));
    for (int id : {1220, 1221, 1222})
        caption(id);

    // The wheel anywhere over the page, its bare background included, goes to the focused value
    // control: the value slider, the graph, a microphone slider or a band slider.
    routeWheel([](int id) {
        return id == 1000 || id == 1040 || (id >= 1052 && id <= 1059) || (id >= 1209 && id <= 1211);
    });

    timer_ = editor_.timeline().start(300, true, [this] { statusTick(); });
    applyLanguage();
    refresh();
}

CDialogMusic::~CDialogMusic() {
    if (timer_)
        editor_.timeline().stop(timer_);
}

QLabel* CDialogMusic::caption(int id) {
    auto* l = new QLabel(this);
    setControlId(l, id);
    l->setFont(songti(12));
    return l;
}

int CDialogMusic::bank() const {
    return editor_.inputBank();
}

bool CDialogMusic::micBank() const {
    return micChannelOf(bank()).has_value();
}

bool CDialogMusic::channelB() const {
    return micChannelOf(bank()) == MicChannel::B;
}

int CDialogMusic::reverbBank() const {
    return effectBank(Effect::Reverb, channelB() ? MicChannel::B : MicChannel::A);
}

int CDialogMusic::echoBank() const {
    return effectBank(Effect::Echo, channelB() ? MicChannel::B : MicChannel::A);
}

CXBmpSlider* CDialogMusic::portSlider(int id) const {
    for (CXBmpSlider* s : ports_)
        if (s->id() == id)
            return s;
    return nullptr;
}

CGdipButton* CDialogMusic::button(int id) const {
    for (CGdipButton* b : buttons_)
        if (b && controlId(b) == id)
            return b;
    return nullptr;
}

// ---- banks ----

void CDialogMusic::refresh() {
    showBank(bank());
}

void CDialogMusic::showBank(int newBank) {
    editor_.setInputBank(newBank);
    const ParameterStore& s = editor_.store();
    for (int k = 0; k < 4; ++k) {
        const bool toA = s.cellInt(27 + k) != 0;
        buttons_[std::size_t(4 + 2 * k)]->setCurrent(toA);
        buttons_[std::size_t(5 + 2 * k)]->setCurrent(!toA);
    }
    static constexpr int banks[3] = {1, 8, 0};
    for (int k = 0; k < 3; ++k)
        buttons_[std::size_t(k)]->setCurrent(banks[k] == bank());
    params_->setEnabled(micBank());
    value_->setEnabled(micBank());
    valueText_->setEnabled(micBank());
    QPalette pal = params_->palette();
    pal.setColor(QPalette::Text, micBank() ? kCyan : kGrey);
    pal.setColor(QPalette::Base, QColor(20, 20, 20));
    params_->setPalette(pal);

    eq_->show(bank());
    fillParameters();
    fillPorts();
    fillPreviews();
    emit eqChanged();
}

// ---- echo and reverb parameters ----

int CDialogMusic::parameterValue(int row) const {
    if (!micBank())
        return 0;
    const ParameterStore& s = editor_.store();
    if (row >= 0 && row < 9 && kRows[row].levelA)
        return s.cellInt(channelCell(kRows[row].levelA, kRows[row].levelB));
    switch (row) {
    case 1:
        return int(s.cellFloat(channelCell(75, 80)) + s.cellFloat(channelCell(76, 81)));
    case 2:
        return int(s.cellFloat(channelCell(77, 82)));
    case 4:
        return int(s.cellFloat(channelCell(59, 66)) + s.cellFloat(channelCell(60, 67)));
    case 5:
        return int(s.cellFloat(channelCell(61, 68)));
    case 8:
        return s.cellInt(channelCell(33, 41));
    default:
        return 0;
    }
}

QString CDialogMusic::parameterText(int row, int v) const {
    switch (row) {
    case 1:
    case 4:
    case 5:
        return QString::asprintf("%dms", v);
    case 2:
        return QString::asprintf("%.0fms", v * 49.6 + 40);
    case 8:
        return v <= 1 ? editor_.language().pick("关闭", "Off") : QString::asprintf("%dHz", v);
    default:
        return QString::asprintf("%d%%", v);
    }
}

void CDialogMusic::fillParameters() {
    const Language& l = editor_.language();
    params_->setHorizontalHeaderLabels(
        {l.pick("参数名", "Parameter name"), l.pick("参数值", "Value")});
    for (int r = 0; r < 9; ++r) {
        for (int c = 0; c < 2; ++c)
            if (!params_->item(r, c))
                params_->setItem(r, c, new QTableWidgetItem);
        params_->item(r, 0)->setText(l.pick(kRows[r].zh, kRows[r].en));
        params_->item(r, 1)->setText(parameterText(r, parameterValue(r)));
    }
    if (selectedRow_ >= 0)
        selectParameter(selectedRow_);
}

void CDialogMusic::selectParameter(int row) {
    if (row < 0 || row >= 9)
        return;
    selectedRow_ = row;
    paramName_->setText(editor_.language().pick(kRows[row].zh, kRows[row].en));
    value_->SetRange(kRows[row].minimum, kRows[row].maximum);
    const int v = std::clamp(parameterValue(row), kRows[row].minimum, kRows[row].maximum);
    value_->SetPos(v);
    valueText_->setText(parameterText(row, v));
    if (params_->currentRow() != row)
        params_->setCurrentCell(row, 0);
}

void CDialogMusic::setParameterValue(int value) {
    EditPath::Scope step(editor_.edits());
    if (selectedRow_ < 0 || !micBank())
        return;
    const int row = selectedRow_;
    const int v = std::clamp(value, kRows[row].minimum, kRows[row].maximum);
    ParameterStore& s = editor_.store();
    Dsp& dsp = editor_.dsp();
    const bool b = channelB();
    const MicChannel ch = b ? MicChannel::B : MicChannel::A;
    const Language& l = editor_.language();
    const ParameterRow& p = kRows[row];
    if (p.levelA) {
        const int cell = channelCell(p.levelA, p.levelB);
        s.setCellInt(cell, v);
        dsp.sendLevel(cell);
        if (p.muteCell && v != 0 && s.cellInt(p.muteCell) != 0)
            editor_.ShowInfo(l.pick(p.mutedZh, p.mutedEn), 1100);
    }
    switch (row) {
    case 1:
        dsp.sendPredelay(Effect::Reverb, ch, v);
        break;
    case 2:
        dsp.sendReverbTime(ch, v);
        break;
    case 4:
        dsp.sendPredelay(Effect::Echo, ch, v);
        break;
    case 5:
        dsp.sendEchoTime(ch, v);
        break;
    case 8:
        dsp.sendMicShift(ch, v);
        break;
    default:
        break;
    }
    value_->SetPos(v);
    valueText_->setText(parameterText(row, v));
    params_->item(row, 1)->setText(parameterText(row, v));
}

// ---- microphone ports ----

void CDialogMusic::fillPorts() {
    const ParameterStore& s = editor_.store();
    for (int k = 0; k < 4; ++k) {
        const int gate = s.cellInt(49 + k), vol = s.cellInt(45 + k);
        ports_[std::size_t(k)]->SetPos(gate);
        ports_[std::size_t(k + 4)]->SetPos(vol);
        portValues_[std::size_t(k)]->setText(QString::number(ports_[std::size_t(k)]->GetPos()));
        portValues_[std::size_t(k + 4)]->setText(
            QString::number(ports_[std::size_t(k + 4)]->GetPos()));
    }
}

void CDialogMusic::portMoved(int id, int p) {
    EditPath::Scope step(editor_.edits());
    const int k = (id - 1052) % 4;
    const bool volume = id >= 1056;
    editor_.store().setCellInt(portCell(id), p);
    editor_.dsp().sendLevel(portCell(id));
    portValues_[std::size_t(k + (volume ? 4 : 0))]->setText(QString::number(p));
}

void CDialogMusic::routePort(int k, bool toA) {
    EditPath::Scope step(editor_.edits());
    ParameterStore& s = editor_.store();
    s.setCellInt(27 + k, toA ? 100 : 0);
    editor_.dsp().sendLevel(27 + k);
    s.setCellInt(35 + k, toA ? 0 : 100);
    editor_.dsp().sendLevel(35 + k);
    buttons_[std::size_t(4 + 2 * k)]->setCurrent(toA);
    buttons_[std::size_t(5 + 2 * k)]->setCurrent(!toA);
}

// ---- previews ----

void CDialogMusic::fillPreviews() {
    const ParameterStore& s = editor_.store();
    const QColor colour = !micBank() ? kGrey : channelB() ? kGreen : kCyan;
    for (auto [panel, effect] : {std::pair{echo_, echoBank()}, std::pair{reverb_, reverbBank()}}) {
        const EqBankState state = readBank(s, effect);
        for (int i = 0; i < std::min(CSmallEqPanel::kBands, state.bandCount()); ++i) {
            const BandRecord& r = state.band(i);
            panel->band(i).type = r.type <= 5 ? r.type : 0;
            panel->band(i).q = r.q ? float(r.qValue()) : 1.414f;
            panel->band(i).gain =
                std::clamp(float(r.gainDb()), float(kBandGainMinDb), float(kBandGainMaxDb));
            panel->band(i).frequency =
                float(std::clamp(int(r.frequency), kBandFreqMinHz, kBandFreqMaxHz));
        }
        panel->setBypass(s.cellInt(eqBypassCell(effect)) != 0);
        panel->setCurveColour(colour);
        panel->recompute();
    }
}

// ---- status ----

void CDialogMusic::statusTick() {
    const auto level = editor_.store().levelReport();
    // Cell 175's bytes 0 and 1 feed the music meters, cell 174's bytes 0..3 the ports.
    const int music[2] = {level[4], level[5]};
    meters_[0]->SetData(&music[0], 0, 1);
    meters_[1]->SetData(&music[1], 0, 1);
    for (int k = 0; k < 4; ++k) {
        const int v = level[std::size_t(k)];
        meters_[std::size_t(2 + k)]->SetData(&v, 0, 1);
    }
    const std::uint8_t flags = level[7];
    const QString format = flags & 0x01   ? "DOLBY"
                           : flags & 0x02 ? "DTS"
                           : flags & 0x04 ? "Multi-CH LPCM"
                                          : "Stereo";
    if (format_->text() != format)
        format_->setText(format);
    // The lamps are painted by the page: repaint them only when one changes (every tick would
    // repaint the cards and the group under them three times a second).
    const bool bluetooth = flags & 0x10, pairing = flags & 0x20;
    if (bluetooth == lastBluetooth_ && pairing == lastPairing_)
        return;
    lastBluetooth_ = bluetooth;
    lastPairing_ = pairing;
    bluetooth_->update();
    update(bluetooth_->geometry().adjusted(-2, -2, 2, 2));
    update(pairing_->geometry().adjusted(-2, -2, 2, 2));
}

void CDialogMusic::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The two indicator lamps.
    for (auto [lamp, on] :
         {std::pair{bluetooth_, lastBluetooth_}, std::pair{pairing_, lastPairing_}}) {
        const QRectF r = QRectF(lamp->geometry()).adjusted(2, 2, -2, -2);
        QRadialGradient g(r.center(), r.width() / 2);
        g.setColorAt(0, on ? QColor(120, 255, 140) : QColor(200, 205, 210));
        g.setColorAt(1, on ? QColor(0, 170, 40) : QColor(130, 135, 140));
        p.setPen(QPen(QColor(90, 100, 110), 1));
        p.setBrush(g);
        p.drawEllipse(r);
    }
}

// ---- language and layout ----

void CDialogMusic::applyLanguage() {
    const Language& l = editor_.language();
    // Texts the table may not carry keep a sensible default in the current language.
    const std::pair<int, std::pair<const char*, const char*>> defaults[] = {
        {1068, {"话筒通道A", "Mic CH A"}},
        {1069, {"话筒通道B", "Mic CH B"}},
        {1070, {"音乐", "Music"}},
        {1071, {"话筒配对", "Mic Pair"}},
    };
    for (const auto& [id, text] : defaults)
        if (CGdipButton* b = button(id))
            b->setText(l.pick(text.first, text.second));
    for (int k = 0; k < 4; ++k) {
        buttons_[std::size_t(4 + 2 * k)]->setText(l.pick("通道A", "CH A"));
        buttons_[std::size_t(5 + 2 * k)]->setText(l.pick("通道B", "CH B"));
    }
    CPage::applyLanguage();
    eq_->applyLanguage();
    fillParameters();
    layoutControls();
}

void CDialogMusic::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    for (int k = 0; k < 3; ++k)
        buttons_[std::size_t(k)]->setGeometry(12 + k * 100, 8, 94, 28);
    const int top = 44, topH = std::max(250, H - 270);
    eq_->place(QRect(12, top, 330, topH), QRect(352, top, W - 364, topH));

    const int y0 = top + topH + 10, bh = H - y0 - 8;
    params_->setGeometry(12, y0, 254, bh - 30);
    params_->setColumnWidth(0, 128);
    paramName_->setGeometry(12, y0 + bh - 26, 92, 22);
    value_->setGeometry(104, y0 + bh - 26, 100, 24);
    valueText_->setGeometry(206, y0 + bh - 26, 62, 24);

    const int px = 274, half = bh / 2;
    for (auto [preview, cap, hint, y] :
         {std::tuple{reverb_, 1132, 1146, y0}, std::tuple{echo_, 1145, 1189, y0 + half}}) {
        for (QObject* o : children())
            if (auto* w = qobject_cast<QWidget*>(o)) {
                if (controlId(w) == cap)
                    w->setGeometry(px, y, 176, 16);
                else if (controlId(w) == hint)
                    w->setGeometry(px, y + half - 16, 176, 14);
            }
        preview->setGeometry(px, y + 17, 176, half - 34);
    }

    const int cx = 462, colW = (W - 462 - 196) / 4;
    for (int k = 0; k < 4; ++k) {
        const int x = cx + k * colW;
        for (QObject* o : children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (!w)
                continue;
            const int id = controlId(w);
            if (id == 1185 + k)
                w->setGeometry(x, y0, colW, 16);
            else if (id == 1153 + 2 * k)
                w->setGeometry(x + colW / 2 - 44, y0 + bh - 44, 44, 16);
            else if (id == 1161 + 2 * k)
                w->setGeometry(x + colW / 2, y0 + bh - 44, 44, 16);
        }
        meters_[std::size_t(2 + k)]->setGeometry(x + 6, y0 + 19, colW - 12, 8);
        const int sliderTop = y0 + 30, sliderH = bh - 30 - 66;
        ports_[std::size_t(k)]->setGeometry(x + colW / 2 - 33, sliderTop, 22, sliderH);
        ports_[std::size_t(k + 4)]->setGeometry(x + colW / 2 + 11, sliderTop, 22, sliderH);
        portValues_[std::size_t(k)]->setGeometry(x + colW / 2 - 44, sliderTop + sliderH, 44, 14);
        portValues_[std::size_t(k + 4)]->setGeometry(x + colW / 2, sliderTop + sliderH, 44, 14);
        buttons_[std::size_t(4 + 2 * k)]->setGeometry(x + colW / 2 - 43, y0 + bh - 24, 42, 22);
        buttons_[std::size_t(5 + 2 * k)]->setGeometry(x + colW / 2 + 1, y0 + bh - 24, 42, 22);
    }

    const int dx = W - 184, dw = 172;
    for (QObject* o : children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w)
            continue;
        switch (controlId(w)) {
        case 1142:
            w->setGeometry(dx, y0, dw, 16);
            break;
        case 1147:
            w->setGeometry(dx, y0 + 50, dw, bh - 50 - 36);
            break;
        case 1220:
            w->setGeometry(dx + 30, y0 + 72, dw - 36, 18);
            break;
        case 1221:
            w->setGeometry(dx + 30, y0 + 96, dw - 36, 18);
            break;
        case 1222:
            w->setGeometry(dx + 10, y0 + 122, dw - 20, 16);
            break;
        default:
            break;
        }
    }
    meters_[0]->setGeometry(dx, y0 + 20, dw, 10);
    meters_[1]->setGeometry(dx, y0 + 34, dw, 10);
    bluetooth_->setGeometry(dx + 10, y0 + 73, 16, 16);
    pairing_->setGeometry(dx + 10, y0 + 97, 16, 16);
    format_->setGeometry(dx + 10, y0 + 140, dw - 20, 20);
    buttons_[3]->setGeometry(dx, y0 + bh - 30, dw, 28);
}

// ---- keys and wheel ----

void CDialogMusic::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape never close a page.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    CPage::keyPressEvent(e);
}

bool CDialogMusic::eventFilter(QObject* watched, QEvent* event) {
    if (watched == params_ && event->type() == QEvent::KeyPress && selectedRow_ >= 0) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        int delta = 0;
        if (key == Qt::Key_Left || key == Qt::Key_Down)
            delta = -1;
        else if (key == Qt::Key_Up || key == Qt::Key_Right)
            delta = 1;
        if (delta) {
            setParameterValue(parameterValue(selectedRow_) + delta);
            return true;
        }
    }
    if (event->type() == QEvent::Wheel) {
        QWidget* focus = focusWidget();
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (focus == params_ && selectedRow_ >= 0) {
            if (wheel->angleDelta().y() != 0)
                setParameterValue(parameterValue(selectedRow_) +
                                  (wheel->angleDelta().y() > 0 ? 1 : -1));
            return true;
        }
    }
    return CPage::eventFilter(watched, event);
}

} // namespace q7
