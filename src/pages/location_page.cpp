// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/location_page.h"

#include "controls/image_button.h"
#include "controls/number_text.h"
#include "controls/speaker_panel.h"
#include "controls/up_down.h"
#include "pages/nav_row.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <cmath>

namespace q7 {

namespace {

// Cells of the plan.
constexpr int kListenerYCell = 20, kListenerXCell = 21, kLengthCell = 22, kWidthCell = 23;
int speakerYCell(int s) {
    return 3 + s;
}
int speakerXCell(int s) {
    return 11 + s;
}

// Speaker row captions in speaker order 1..8.
struct Name {
    int id;
    const char *zh, *en;
};
constexpr Name kNames[8] = {{1011, "前置左", "Main.L"}, {1012, "中置", "Center"},
                            {1013, "前置右", "Main.R"}, {1022, "后置左", "Rear.L"},
                            {1023, "超低", "Sub"},      {1017, "后置右", "Rear.R"},
                            {1018, "顶置左", "Top.L"},  {1019, "顶置右", "Top.R"}};

// The room's sides in whole metres, as the names table (and q7ctl) limits them.
int roomMin() {
    return int(planParam(0)->min);
}
int roomMax() {
    return int(planParam(0)->max);
}

QString metres(double v) {
    return signedFixed(v, 1, "m");
}

float finiteOr0(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

} // namespace

float CSSVCDlg::levelForDistance(double d) {
    return speakerLevelForDistance(d);
}

CSSVCDlg::CSSVCDlg(EditorContext& editor, QWidget* parent)
    : CPage(PageKind::Location, editor, parent) {
    setObjectName("CSSVCDlg");
    nav_ = new NavRow(this, editor_);
    panel_ = new CSSVolumePanel(this);
    setControlId(panel_, 1237);
    connect(panel_, &CSSVolumePanel::pressed, this,
            [this](const CSSVolumePanel::Point& p) { panelPoint(p.type, p.x, p.y); });
    connect(panel_, &CSSVolumePanel::dragged, this,
            [this](const CSSVolumePanel::Point& p) { panelPoint(p.type, p.x, p.y); });

    auto label = [this](int id, bool bold = false) {
        auto* l = new QLabel(this);
        if (id)
            setControlId(l, id);
        l->setFont(songti(12, bold));
        return l;
    };
    auto edit = [this](int id) {
        auto* e = new QLineEdit(this);
        setControlId(e, id);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return e;
    };
    roomCaption_ = label(1007, true);
    widthCaption_ = label(1003);
    lengthCaption_ = label(1131);
    listenerCaption_ = label(1006, true);
    sourceCaption_ = label(1002, true);
    unitCaption_ = label(1005);
    unitCaption_->setStyleSheet("color: rgb(90, 110, 130);");
    widthEdit_ = edit(1038);
    lengthEdit_ = edit(1039);
    widthSpin_ = new UpDown(1242, this);
    lengthSpin_ = new UpDown(1243, this);
    for (UpDown* s : {widthSpin_, lengthSpin_})
        s->setRange(roomMin(), roomMax());
    connect(widthSpin_, &UpDown::stepping, this, [this](int, int d) { roomSpin(false, d); });
    connect(lengthSpin_, &UpDown::stepping, this, [this](int, int d) { roomSpin(true, d); });
    connect(widthEdit_, &QLineEdit::returnPressed, this, [this] { applyRoomSize(true); });
    connect(lengthEdit_, &QLineEdit::returnPressed, this, [this] { applyRoomSize(true); });

    for (int i = 0; i < 18; ++i) {
        edits_[std::size_t(i)] = edit(1040 + i);
        const int point = i / 2;
        connect(edits_[std::size_t(i)], &QLineEdit::returnPressed, this,
                [this, point] { applyPointEdits(point, true); });
        spins_[std::size_t(i)] = new UpDown(1244 + i, this);
        connect(spins_[std::size_t(i)], &UpDown::stepping, this,
                [this, i](int, int d) { positionSpin(i, d); });
    }
    for (int s = 0; s < 8; ++s)
        names_[std::size_t(s)] = label(kNames[s].id);

    modify_ = new CGdipButton(1239, this);
    center_ = new CGdipButton(1238, this);
    reset_ = new CGdipButton(1216, this);
    connect(modify_, &CGdipButton::clicked, this, [this] { applyRoomSize(true); });
    connect(center_, &CGdipButton::clicked, this, [this] { centerListener(); });
    connect(reset_, &CGdipButton::clicked, this, [this] { resetAll(); });

    routeWheel([](int id) { return id >= 1038 && id <= 1057; });
    refresh();
    applyLanguage();
}

int CSSVCDlg::roomWidth() const {
    return widthSpin_->position();
}
int CSSVCDlg::roomLength() const {
    return lengthSpin_->position();
}

void CSSVCDlg::setPositionRanges(int width, int length) {
    const int x = width * 10 / 2, y = length * 10 / 2;
    for (int i = 0; i < 18; ++i) {
        const int r = i % 2 ? y : x;
        spins_[std::size_t(i)]->setRange(-r, r);
    }
}

void CSSVCDlg::refresh() {
    const ParameterStore& s = editor_.store();
    const int W = s.cellInt(kWidthCell), L = s.cellInt(kLengthCell);
    widthSpin_->setPosition(W);
    lengthSpin_->setPosition(L);
    // The panel gets a drawable room even from a store that holds none yet.
    panel_->SetRoomSize(float(std::clamp(W, roomMin(), roomMax())),
                        float(std::clamp(L, roomMin(), roomMax())));
    widthEdit_->setText(QString::asprintf("%dm", W));
    lengthEdit_->setText(QString::asprintf("%dm", L));
    setPositionRanges(roomWidth(), roomLength());
    showPoint(0, finiteOr0(s.cellFloat(kListenerXCell)), finiteOr0(s.cellFloat(kListenerYCell)),
              true);
    for (int sp = 1; sp <= 8; ++sp)
        showPoint(sp, finiteOr0(s.cellFloat(speakerXCell(sp))),
                  finiteOr0(s.cellFloat(speakerYCell(sp))), true);
    nav_->setCurrent(1073);
}

void CSSVCDlg::showPoint(int point, float x, float y, bool setSpins) {
    panel_->SetPoint(x, y, point);
    edits_[std::size_t(2 * point)]->setText(metres(x));
    edits_[std::size_t(2 * point + 1)]->setText(metres(y));
    if (setSpins) {
        spins_[std::size_t(2 * point)]->setPosition(truncatedTenths(x));
        spins_[std::size_t(2 * point + 1)]->setPosition(truncatedTenths(y));
    }
}

void CSSVCDlg::storePoint(int point, float x, float y) {
    ParameterStore& s = editor_.store();
    s.setCellFloat(point == 0 ? kListenerXCell : speakerXCell(point), x);
    s.setCellFloat(point == 0 ? kListenerYCell : speakerYCell(point), y);
}

void CSSVCDlg::sendLevel(int speaker, float lx, float ly) {
    const CSSVolumePanel::Point& p = panel_->point(speaker);
    const double d = std::hypot(double(lx) - p.x, double(ly) - p.y);
    editor_.dsp().sendSpeakerLevel(speaker, levelForDistance(d));
}

void CSSVCDlg::sendAllLevels() {
    const CSSVolumePanel::Point& listener = panel_->point(0);
    for (int s = 1; s <= 8; ++s)
        sendLevel(s, listener.x, listener.y);
}

void CSSVCDlg::applyRoomSize(bool fromButton) {
    EditPath::Scope step(editor_.edits());
    const int W =
        std::clamp(int(std::trunc(leadingNumber(widthEdit_->text()))), roomMin(), roomMax());
    const int L =
        std::clamp(int(std::trunc(leadingNumber(lengthEdit_->text()))), roomMin(), roomMax());
    widthEdit_->setText(QString::asprintf("%dm", W));
    lengthEdit_->setText(QString::asprintf("%dm", L));
    if (fromButton) {
        widthSpin_->setPosition(W);
        lengthSpin_->setPosition(L);
    }
    panel_->SetRoomSize(float(W), float(L));
    editor_.store().setCellInt(kWidthCell, W);
    editor_.store().setCellInt(kLengthCell, L);
    editor_.dsp().sendPlanBlock();
    // The spin ranges follow the edits: a room spin has not taken its new position yet.
    setPositionRanges(W, L);
}

void CSSVCDlg::roomSpin(bool length, int delta) {
    refresh(); // steps from the store: one made elsewhere may have changed it since
    UpDown* spin = length ? lengthSpin_ : widthSpin_;
    const int v = std::clamp(spin->position() + (delta > 0   ? 1
                                                 : delta < 0 ? -1
                                                             : 0),
                             roomMin(), roomMax());
    (length ? lengthEdit_ : widthEdit_)->setText(QString::number(v));
    applyRoomSize(false);
}

void CSSVCDlg::applyPointEdits(int point, bool fromEnter) {
    EditPath::Scope step(editor_.edits());
    if (point < 0 || point > 8)
        return;
    const double halfW = roomWidth() / 2.0, halfL = roomLength() / 2.0;
    const float x =
        float(std::clamp(leadingNumber(edits_[std::size_t(2 * point)]->text()), -halfW, halfW));
    const float y =
        float(std::clamp(leadingNumber(edits_[std::size_t(2 * point + 1)]->text()), -halfL, halfL));
    showPoint(point, x, y, fromEnter);
    storePoint(point, x, y);
    editor_.dsp().sendPlanBlock();
    if (point == 0)
        sendAllLevels();
    else
        sendLevel(point, panel_->point(0).x, panel_->point(0).y);
}

void CSSVCDlg::positionSpin(int i, int delta) {
    refresh(); // steps from the store: the other coordinate and the listener go out as well
    UpDown* spin = spins_[std::size_t(i)];
    const int v = std::clamp(spin->position() + (delta > 0   ? 1
                                                 : delta < 0 ? -1
                                                             : 0),
                             spin->minimum(), spin->maximum());
    QLineEdit* e = edits_[std::size_t(i)];
    e->setText(metres(v / 10.0));
    e->setFocus();
    applyPointEdits(i / 2, false);
}

void CSSVCDlg::panelPoint(int type, float x, float y) {
    EditPath::Scope step(editor_.edits());
    if (type < 0 || type > 8)
        return;
    if (type == 0) {
        storePoint(0, x, y);
        editor_.dsp().sendPlanBlock();
        sendAllLevels();
    } else {
        sendLevel(type, panel_->point(0).x, panel_->point(0).y);
        storePoint(type, x, y);
        editor_.dsp().sendPlanBlock();
    }
    edits_[std::size_t(2 * type)]->setText(metres(x));
    edits_[std::size_t(2 * type + 1)]->setText(metres(y));
    spins_[std::size_t(2 * type)]->setPosition(truncatedTenths(x));
    spins_[std::size_t(2 * type + 1)]->setPosition(truncatedTenths(y));
}

void CSSVCDlg::centerListener() {
    EditPath::Scope step(editor_.edits());
    panel_->SetPoint(0, 0, 0);
    storePoint(0, 0, 0);
    editor_.dsp().sendPlanBlock();
    showPoint(0, 0, 0, true);
    sendAllLevels();
}

void CSSVCDlg::resetAll() {
    EditPath::Scope step(editor_.edits());
    editor_.dsp().resetAllSpeakerLevels();
    refresh();
}

int CSSVCDlg::pointOfWidget(const QObject* w) const {
    for (int i = 0; i < 18; ++i)
        if (edits_[std::size_t(i)] == w)
            return i;
    return -1;
}

bool CSSVCDlg::eventFilter(QObject* watched, QEvent* event) {
    // Up, Down and the wheel in a position or room edit step its spin, as a buddy spin does.
    const int i = pointOfWidget(watched);
    UpDown* spin = i >= 0                   ? spins_[std::size_t(i)]
                   : watched == widthEdit_  ? widthSpin_
                   : watched == lengthEdit_ ? lengthSpin_
                                            : nullptr;
    if (const int delta = spin ? spinStep(event) : 0) {
        spin->click(delta);
        return true;
    }
    return CPage::eventFilter(watched, event);
}

void CSSVCDlg::applyLanguage() {
    const Language& l = editor_.language();
    modify_->setText(l.pick("立即修改", "Modify"));
    center_->setText(l.pick("居中", "Center"));
    reset_->setText(l.pick("全部复位", "Reset all"));
    roomCaption_->setText(l.pick("房间大小", "Room size"));
    widthCaption_->setText(l.pick("宽(m)", "Width(m)"));
    lengthCaption_->setText(l.pick("长(m)", "Height(m)"));
    listenerCaption_->setText(l.pick("听众位置", "Listener location"));
    sourceCaption_->setText(l.pick("声源的位置", "Audio source location"));
    unitCaption_->setText(l.pick("长度单位:米(m)", "Length unit: Meter"));
    for (int s = 0; s < 8; ++s)
        names_[std::size_t(s)]->setText(l.pick(kNames[s].zh, kNames[s].en));
    panel_->setLanguage(l.index());
    CPage::applyLanguage();
    update();
}

void CSSVCDlg::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    nav_->place(12, 8, W - 24);
    const int left = 12, top = 46, formW = 330;
    const int ex = left + 96, ew = 78, sw = 18, gap = 8;
    const int ey = ex + ew + sw + gap; // the y column
    auto pair = [&](QLineEdit* e, UpDown* s, int x, int y) {
        e->setGeometry(x, y, ew, 24);
        s->setGeometry(x + ew, y, sw, 24);
    };
    // Room size.
    roomBox_ = QRect(left, top, formW, 92);
    roomCaption_->setGeometry(left + 10, top + 6, 200, 20);
    widthCaption_->setGeometry(left + 12, top + 32, 80, 24);
    pair(widthEdit_, widthSpin_, ex, top + 32);
    lengthCaption_->setGeometry(left + 12, top + 60, 80, 24);
    pair(lengthEdit_, lengthSpin_, ex, top + 60);
    modify_->setGeometry(ey, top + 44, formW - (ey - left) - 10, 28);
    // Listener.
    const int ly = top + 100;
    listenerBox_ = QRect(left, ly, formW, 66);
    listenerCaption_->setGeometry(left + 10, ly + 6, 200, 20);
    pair(edits_[0], spins_[0], ex, ly + 32);
    pair(edits_[1], spins_[1], ey, ly + 32);
    center_->setGeometry(left + 12, ly + 32, 76, 26);
    // Speakers.
    const int sy = ly + 74;
    const int rowH = std::clamp((H - sy - 92) / 8, 26, 34);
    sourceBox_ = QRect(left, sy, formW, 34 + 8 * rowH);
    sourceCaption_->setGeometry(left + 10, sy + 6, 200, 20);
    for (int s = 1; s <= 8; ++s) {
        const int y = sy + 30 + (s - 1) * rowH;
        names_[std::size_t(s - 1)]->setGeometry(left + 12, y, 80, 24);
        pair(edits_[std::size_t(2 * s)], spins_[std::size_t(2 * s)], ex, y);
        pair(edits_[std::size_t(2 * s + 1)], spins_[std::size_t(2 * s + 1)], ey, y);
    }
    const int by = sourceBox_.bottom() + 10;
    reset_->setGeometry(left, by, 120, 30);
    unitCaption_->setGeometry(left + 132, by, formW - 132, 30);
    const int px = left + formW + 12;
    panel_->setGeometry(px, top, W - 12 - px, H - top - 10);
}

void CSSVCDlg::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (const QRect& r : {roomBox_, listenerBox_, sourceBox_})
        paintCard(p, r);
    // Column heads over the speaker table.
    p.setPen(QColor(60, 90, 130));
    p.setFont(uiFont("Arial", 12, true));
    const int ex = 12 + 96, ey = ex + 78 + 18 + 8;
    p.drawText(QRect(ex, sourceBox_.top() + 6, 96, 20), Qt::AlignCenter, "x");
    p.drawText(QRect(ey, sourceBox_.top() + 6, 96, 20), Qt::AlignCenter, "y");
}

} // namespace q7
