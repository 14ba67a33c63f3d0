// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/eq_panel.h"

#include "controls/focus_frame.h"
#include "controls/number_text.h"
#include "controls/press_hold.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace q7 {

BandRecord recordOf(const EqPanelBand& b) {
    return quantise(b.type, b.gain, b.frequency, b.q);
}

namespace {

constexpr int kPlotLeft = 36, kPlotTop = 18, kPlotRightGap = 6, kPlotBottomGap = 20;
const double kLogSpan = std::log10(kCurveHighHz / kCurveLowHz);

constexpr QRgb kBandColours[24] = {0xFA64B4, 0xFF50FF, 0x5050FF, 0x50FF64, 0xFFFF64, 0xFF6464,
                                   0xFFB414, 0xFF64B4, 0xB464FF, 0x8CB4FF, 0x14B4FF, 0x50FFFF,
                                   0x28FFA0, 0x145AFA, 0x50FFFF, 0xFFFF14, 0x5064FF, 0x14FF50,
                                   0x50FF28, 0xB4FF14, 0xFF50FF, 0x5078FA, 0xFAFAFA, 0xFA647B};

float clampQ(int type, double q) {
    return float(std::clamp(q, 0.1, (type >= 2 && type <= 5) ? 2.0 : 30.0));
}

// A band as its record keeps it: what the graph shows is what is stored and sent.
void snap(EqPanelBand& b) {
    const BandValues v = bandValues(recordOf(b));
    b.gain = v.gainDb;
    b.frequency = v.frequencyHz;
    b.q = v.q;
}

bool gainType(int type) {
    return type == 1 || type == 4 || type == 5;
}
bool lowPassFamily(int type) {
    return type == 2 || (type >= 6 && type % 2 == 0);
}
bool highPassFamily(int type) {
    return type == 3 || (type >= 7 && type % 2 == 1);
}

} // namespace

QPainterPath cardinalSpline(const QPointF* pts, int n, double tension, bool closed) {
    QPainterPath path;
    if (n <= 0)
        return path;
    path.moveTo(pts[0]);
    const double t = tension / 3.0;
    auto at = [&](int i) {
        if (closed)
            return pts[((i % n) + n) % n];
        return pts[std::clamp(i, 0, n - 1)];
    };
    const int segments = closed ? n : n - 1;
    for (int i = 0; i < segments; ++i) {
        const QPointF p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        path.cubicTo(p1 + t * (p2 - p0), p2 - t * (p3 - p1), p2);
    }
    if (closed)
        path.closeSubpath();
    return path;
}

CEqPanel::CEqPanel(QWidget* parent) : QWidget(parent), hold_(new PressHold(this)) {
    // A hold whose release never comes here (the page went away under the pointer) ends.
    connect(hold_, &PressHold::ended, this, [this] { leftDrag_ = rightButton_ = false; });
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(200, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
}

QRect CEqPanel::plotRect() const {
    return QRect(QPoint(kPlotLeft, kPlotTop),
                 QPoint(width() - kPlotRightGap - 1, height() - kPlotBottomGap - 1));
}

double CEqPanel::plotWidth() const {
    return std::max(1, width() - kPlotRightGap - kPlotLeft);
}
double CEqPanel::plotHeight() const {
    return std::max(1, height() - kPlotBottomGap - kPlotTop);
}

QStringList CEqPanel::gainLabels() {
    QStringList labels;
    for (int k = 0; k <= 10; ++k) {
        const int db = -15 + 3 * k;
        // "%+-.0f" of the zero line's -0.0, with the sign written out: the formatter drops it.
        const bool minus = db <= 0;
        labels << QString("%1%2dB").arg(minus ? '-' : '+').arg(std::abs(db));
    }
    return labels;
}

QFont CEqPanel::axisFont() const {
    QFont f = uiFontPoints("Arial", 8.4);
    const int room = kPlotLeft - 3 - 1;
    int widest = 0;
    for (const QString& l : gainLabels())
        widest = std::max(widest, QFontMetrics(f).horizontalAdvance(l));
    while (widest > room && f.pointSizeF() > 6.0) {
        f.setPointSizeF(f.pointSizeF() - 0.2);
        widest = 0;
        for (const QString& l : gainLabels())
            widest = std::max(widest, QFontMetrics(f).horizontalAdvance(l));
    }
    return f;
}

QColor CEqPanel::bandColour(int band) {
    return QColor::fromRgb(kBandColours[std::size_t(std::clamp(band, 0, 23))]);
}

QString CEqPanel::title() const {
    return QString::fromUtf8(eqBankTitle(std::clamp(bank_, 0, 11), language_ == 1));
}

int CEqPanel::candidateCount() const {
    return bank_ == kSubEqBank ? std::min(kSubBands, count_) : count_;
}

bool CEqPanel::isFixedBand(int b) const {
    return q7::isFixedBand(bank_, b);
}

void CEqPanel::setSelected(int b) {
    selected_ = b;
    update();
}

void CEqPanel::setBypass(bool on) {
    bypass_ = on;
    update();
}

QColor eqColour(EqColour c) {
    switch (c) {
    case EqColour::Green:
        return QColor(0, 220, 0);
    case EqColour::Gold:
        return QColor(255, 200, 0);
    case EqColour::Cyan:
        break;
    }
    return QColor(0, 200, 255);
}

void CEqPanel::setPreviewOnly() {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CEqPanel::setLanguage(int index) {
    language_ = index;
    update();
}

// ---- operations ----

void CEqPanel::SetBank(int bank) {
    // Another bank's band would be read out under this one's number.
    hover_ = -1;
    bank_ = std::clamp(bank, 0, 11);
    curveColour_ = eqColour(eqBankInfo(bank_)->curve);
    update();
}

void CEqPanel::SetBandCount(int count) {
    count_ = std::clamp(count, 0, kMaxEqBands);
    int i = 0;
    for (const LayoutBand& l : graphLayout(count_)) {
        EqPanelBand& b = bands_[i++];
        b.frequency = float(l.hz);
        b.q = storedQ(int(std::lround(l.q * 1000.0)));
        b.type = l.type;
    }
    for (int fixed : {7, 10}) {
        const int hz = fixedBandHz(bank_, fixed);
        bands_[fixed].frequencyMin = hz ? float(hz) : 20.0f;
        bands_[fixed].frequencyMax = hz ? float(hz) : 20000.0f;
    }
    for (int i = 0; i < count_; ++i) {
        bands_[i].index = i;
        bands_[i].gain = 0.0f;
        ComputeBandCurve(i);
    }
    update();
}

void CEqPanel::SetBandType(int b, int type) {
    if (b < 0 || b >= kMaxEqBands)
        return;
    bands_[b].type = type;
    if (type == 1) {
        SetBandQ(b, 1.41f);
    } else if (type >= 2 && type <= 5) {
        SetBandGain(b, 0.0f);
        SetBandQ(b, 0.7f);
    }
    ComputeBandCurve(b);
    update();
}

void CEqPanel::SetBandGain(int b, float gain) {
    if (b < 0 || b >= kMaxEqBands)
        return;
    EqPanelBand& r = bands_[b];
    if (r.type == 2 || r.type == 3 || r.type > 5)
        gain = 0.0f;
    r.gain = std::clamp(gain, -15.0f, 15.0f);
    snap(r);
    ComputeBandCurve(b);
    update();
}

void CEqPanel::SetBandQ(int b, float q) {
    if (b < 0 || b >= kMaxEqBands || std::fabs(q) < 1e-7f)
        return;
    EqPanelBand& r = bands_[b];
    r.q = std::clamp(q, 0.1f, r.type == 1 ? 30.0f : 2.0f);
    snap(r);
    ComputeBandCurve(b);
    update();
}

void CEqPanel::showBank(const EqBankState& state, int maxType) {
    const EqBankInfo* info = eqBankInfo(state.bank);
    if (!info || state.records.size() < std::size_t(info->records))
        return;
    const bool sub = state.bank == kSubEqBank;
    const int count = sub ? kSubGraphRecords : info->bands;
    if (state.bank != bank_ || count != count_) {
        SetBank(state.bank);
        SetBandCount(count);
    }
    for (int i = 0; i < count; ++i) {
        const BandRecord& r = state.records[std::size_t(sub ? subStoreRecordOfGraph(i) : i)];
        const BandValues b = shownValues(r, maxType);
        EqPanelBand& shown = bands_[i];
        if (b.type == shown.type && b.gainDb == shown.gain && b.frequencyHz == shown.frequency &&
            b.q == shown.q)
            continue;
        shown.type = b.type;
        shown.gain = b.gainDb;
        shown.frequency = b.frequencyHz;
        shown.q = b.q;
        computeBandCurve(shown.type, shown.gain, shown.frequency, shown.q, plotWidth(),
                         shown.curve);
    }
    update();
}

void CEqPanel::ComputeBandCurve(int b) {
    if (b < 0 || b >= kMaxEqBands)
        return;
    EqPanelBand& r = bands_[b];
    if (bank_ == kSubEqBank && b < kSubBands) {
        // The three sections follow their band's frequency and Q and stay at 0 dB.
        for (int part = 1; part <= 3; ++part) {
            EqPanelBand& sec = bands_[subGraphRecord(b, part)];
            sec.frequency = r.frequency;
            sec.q = r.q;
            sec.gain = 0.0f;
            computeBandCurve(sec.type, sec.gain, sec.frequency, sec.q, plotWidth(), sec.curve);
        }
    }
    computeBandCurve(r.type, r.gain, r.frequency, r.q, plotWidth(), r.curve);
}

float CEqPanel::summedAt(int i) const {
    float sum = 0;
    for (int b = 0; b < count_; ++b)
        if (bands_[b].type != 0)
            sum += bands_[b].curve[std::size_t(i)];
    return sum;
}

// ---- input ----

void CEqPanel::placeHandle(EqPanelBand& b) const {
    b.x = float(plotWidth() * std::log10(std::max(b.frequency, 1.0f) / kCurveLowHz) / kLogSpan);
    b.y = float(plotHeight() * (15.0 - b.gain) / 30.0);
}

int CEqPanel::pick(double px, double py, double within, bool anyType) const {
    for (int i = 0; i < candidateCount(); ++i) {
        EqPanelBand b = bands_[i];
        placeHandle(b);
        if (!anyType && b.type == 0)
            continue;
        if (std::fabs(b.x - px) < within && std::fabs(b.y - py) < within)
            return i;
    }
    return -1;
}

void CEqPanel::want(const EqPanelBand& b) {
    emit bandWanted(b.index, BandWish{b.type, b.gain, b.frequency, b.q});
}

void CEqPanel::mousePressEvent(QMouseEvent* e) {
    const double px = e->position().x() - 36, py = e->position().y() - 16;
    setHover(-1);
    if (e->button() == Qt::LeftButton || e->button() == Qt::RightButton)
        hold_->start();
    if (e->button() == Qt::LeftButton) {
        if (rightButton_)
            return;
        setFocus(Qt::MouseFocusReason);
        leftDrag_ = true;
        dragChanged_ = false;
        selected_ = pick(px, py, 10, false);
        if (selected_ >= 0) {
            EqPanelBand& b = bands_[selected_];
            placeHandle(b);
            grabX_ = px - b.x;
            grabY_ = py - b.y;
            press_ = QPointF(px, py);
            pressFrequency_ = b.frequency;
            pressGain_ = b.gain;
            emit bandSelected(selected_);
        }
    } else if (e->button() == Qt::RightButton) {
        if (leftDrag_)
            return;
        rightButton_ = true;
        moved_ = false;
        selected_ = -1;
        for (int i = 0; i < candidateCount(); ++i) {
            EqPanelBand b = bands_[i];
            placeHandle(b);
            if (std::fabs(b.x - px) < 16 && std::fabs(b.y - py) < 16) {
                selected_ = i;
                break;
            }
        }
        if (selected_ >= 0) {
            lastX_ = int(px);
            rightStartQ_ = bands_[selected_].q;
            emit bandSelected(selected_);
        }
    }
    repaint();
}

void CEqPanel::mouseMoveEvent(QMouseEvent* e) {
    const double px = e->position().x() - 36, py = e->position().y() - 16;
    if (leftDrag_ && selected_ >= 0) {
        const EqPanelBand& b = bands_[selected_];
        // The point keeps its offset from the pointer; on the press's own column or row the
        // value is the one it had, not one recomputed through pixels.
        double f = px == press_.x()
                       ? double(pressFrequency_)
                       : kCurveLowHz * std::pow(10.0, kLogSpan * (px - grabX_) / plotWidth());
        double g = !gainType(b.type)  ? 0.0
                   : py == press_.y() ? double(pressGain_)
                                      : 15.0 - (py - grabY_) / plotHeight() * 30.0;
        EqPanelBand moved = b;
        moved.gain = float(std::clamp(g, double(b.gainMin), double(b.gainMax)));
        moved.frequency = float(std::clamp(f, double(b.frequencyMin), double(b.frequencyMax)));
        snap(moved);
        if (moved.gain != b.gain || moved.frequency != b.frequency) {
            dragChanged_ = true;
            want(moved);
        }
    } else if (rightButton_ && selected_ >= 0) {
        if (isFixedBand(selected_))
            return;
        const EqPanelBand& b = bands_[selected_];
        EqPanelBand at = b;
        placeHandle(at);
        if (std::fabs(px - at.x) > 1 && std::fabs(py - at.y) > 1)
            moved_ = true;
        const double divisor = (b.type >= 2 && b.type <= 5) ? 80.0 : 12.0;
        EqPanelBand moved = b;
        moved.q = clampQ(b.type, b.q + (px - lastX_) / divisor);
        snap(moved);
        lastX_ = int(px);
        if (moved.q != b.q)
            want(moved);
    } else if (!leftDrag_ && !rightButton_) {
        int hover = -1;
        for (int i = 0; i < candidateCount(); ++i) {
            EqPanelBand b = bands_[i];
            placeHandle(b);
            if (b.type != 0 && std::fabs(b.x - px) < 16 && std::fabs(b.y - py) < 16)
                hover = i;
        }
        hover_ = hover;
    }
    repaint();
}

void CEqPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        if (leftDrag_) {
            if (selected_ < 0)
                emit emptyClick();
            else if (dragChanged_)
                want(bands_[selected_]);
        }
        leftDrag_ = false;
        dragChanged_ = false;
    } else if (e->button() == Qt::RightButton && rightButton_) {
        rightButton_ = false;
        if (selected_ < 0 && !moved_)
            emit contextMenuAt(e->globalPosition().toPoint());
        if (selected_ >= 0) {
            if (bands_[selected_].q != rightStartQ_)
                want(bands_[selected_]);
            if (!moved_ && !isFixedBand(selected_)) {
                const int item = showTypeMenu(e->globalPosition().toPoint());
                if (item >= 2025 && item <= 2029 && selected_ >= 0) {
                    const int type = item - 2024;
                    if (bank_ == kSubEqBank) {
                        if (selected_ < kSubBands)
                            emit subTypesWanted(selected_, subMenuTypes(type));
                    } else {
                        const EqPanelBand& b = bands_[selected_];
                        emit bandWanted(selected_,
                                        withType({b.type, b.gain, b.frequency, b.q}, type));
                    }
                }
            }
        }
    }
    if (!leftDrag_ && !rightButton_)
        hold_->end();
    update();
}

void CEqPanel::leaveEvent(QEvent* e) {
    // The pointer left: what it pointed at is no longer read out.
    setHover(-1);
    QWidget::leaveEvent(e);
}

void CEqPanel::setHover(int band) {
    if (hover_ == band)
        return;
    hover_ = band;
    update();
}

void CEqPanel::focusInEvent(QFocusEvent* e) {
    update();
    QWidget::focusInEvent(e);
}

void CEqPanel::focusOutEvent(QFocusEvent* e) {
    update();
    QWidget::focusOutEvent(e);
}

// ---- drops ----

bool isModeFileName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "q7m" || suffix == "r3v9" || suffix == "r3v8" || suffix == "q7test";
}

namespace {

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime && mime->hasUrls())
        for (const QUrl& u : mime->urls())
            if (u.isLocalFile())
                paths << u.toLocalFile();
    return paths;
}

// A mode file is the window's to open: the graph lets it pass.
bool forTheWindow(const QMimeData* mime) {
    const QStringList paths = localFiles(mime);
    return paths.size() == 1 && isModeFileName(paths.front());
}

} // namespace

void CEqPanel::dragEnterEvent(QDragEnterEvent* e) {
    if (forTheWindow(e->mimeData())) {
        e->ignore();
        return;
    }
    // Everything else is taken here, the files the graph cannot use too: they are refused with
    // a word, not silently.
    e->acceptProposedAction();
}

void CEqPanel::dragMoveEvent(QDragMoveEvent* e) {
    if (forTheWindow(e->mimeData()))
        e->ignore();
    else
        e->acceptProposedAction();
}

void CEqPanel::dropEvent(QDropEvent* e) {
    if (forTheWindow(e->mimeData())) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    const QStringList paths = localFiles(e->mimeData());
    if (paths.isEmpty())
        emit dropRefused();
    else
        emit filesDropped(paths);
}

int CEqPanel::showTypeMenu(const QPoint& globalPos) {
    ++menusOpened_;
    if (chooser_)
        return chooser_(globalPos);
    static const char* const items[5][2] = {{"参量(PEQ)", "PEQ"},
                                            {"低通(LP)", "LP"},
                                            {"高通(HP)", "HP"},
                                            {"低架(LS)", "LS"},
                                            {"高架(HS)", "HS"}};
    QMenu menu(this);
    for (int i = 0; i < 5; ++i)
        menu.addAction(QString::fromUtf8(items[i][language_ == 1 ? 1 : 0]))->setData(2025 + i);
    QAction* chosen = menu.exec(globalPos);
    return chosen ? chosen->data().toInt() : 0;
}

bool CEqPanel::ownKey(const QKeyEvent* e) {
    // Shortcuts with Ctrl, Alt or Meta are the application's.
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
        return e->modifiers() & Qt::KeypadModifier;
    default:
        return false;
    }
}

bool CEqPanel::event(QEvent* e) {
    // The graph's own keys reach it even where a shortcut would take them; everything else
    // (Tab, Escape, Ctrl+Z, ...) is left to focus handling and the application's shortcuts.
    if (e->type() == QEvent::ShortcutOverride && ownKey(static_cast<QKeyEvent*>(e))) {
        e->accept();
        return true;
    }
    return QWidget::event(e);
}

void CEqPanel::keyPressEvent(QKeyEvent* e) {
    if (!ownKey(e)) {
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
    if (selected_ < 0)
        return;
    const EqPanelBand& before = bands_[selected_];
    EqPanelBand b = before;
    switch (e->key()) {
    case Qt::Key_Left:
        b.frequency -= 1.0f;
        break;
    case Qt::Key_Right:
        b.frequency += 1.0f;
        break;
    case Qt::Key_Up:
        if (gainType(b.type))
            b.gain += 0.1f;
        break;
    case Qt::Key_Down:
        if (gainType(b.type))
            b.gain -= 0.1f;
        break;
    case Qt::Key_Plus:
        if (!isFixedBand(selected_))
            b.q += 0.01f;
        break;
    case Qt::Key_Minus:
        if (!isFixedBand(selected_))
            b.q -= 0.01f;
        break;
    default:
        break;
    }
    b.gain = std::clamp(b.gain, b.gainMin, b.gainMax);
    b.q = clampQ(b.type, b.q);
    b.frequency = std::clamp(b.frequency, b.frequencyMin, b.frequencyMax);
    snap(b);
    // A key that changes nothing (at a limit, or a gain key on a pass filter) sends nothing.
    if (b.gain == before.gain && b.q == before.q && b.frequency == before.frequency)
        return;
    want(b);
    repaint();
}

void CEqPanel::wheelEvent(QWheelEvent* e) {
    if (selected_ < 0 || !gainType(bands_[selected_].type) || e->angleDelta().y() == 0) {
        e->ignore();
        return;
    }
    const EqPanelBand& b = bands_[selected_];
    EqPanelBand moved = b;
    moved.gain =
        std::clamp(float(b.gain + (e->angleDelta().y() < 0 ? -0.1 : 0.1)), b.gainMin, b.gainMax);
    snap(moved);
    e->accept();
    if (moved.gain == b.gain)
        return;
    want(moved);
    repaint();
}

void CEqPanel::resizeEvent(QResizeEvent*) {
    grid_ = QPixmap();
    layoutOverlay(false);
    for (int i = 0; i < kMaxEqBands; ++i)
        computeBandCurve(bands_[i].type, bands_[i].gain, bands_[i].frequency, bands_[i].q,
                         plotWidth(), bands_[i].curve);
}

// ---- painting ----

void CEqPanel::paintEvent(QPaintEvent*) {
    // Through an off-screen image at the screen's pixel ratio: no flicker, crisp on HiDPI.
    const qreal dpr = devicePixelRatioF();
    QPixmap frame(size() * dpr);
    frame.setDevicePixelRatio(dpr);
    {
        QPainter p(&frame);
        paintInto(p);
        if (hasFocus())
            paintFocusFrame(p, rect());
    }
    QPainter(this).drawPixmap(0, 0, frame);
}

void CEqPanel::renderTo(QPaintDevice& device) {
    QPainter p(&device);
    paintInto(p);
}

void CEqPanel::paintInto(QPainter& p) {
    const QRect plot = plotRect();
    const double W = plotWidth(), H = plotHeight();
    const qreal dpr = p.device()->devicePixelRatioF();

    // 1-2. Background and grid, cached.
    if (grid_.isNull() || grid_.size() != size() * dpr || gridLanguage_ != language_) {
        // Drawn again into the same pixmap when only its content changed: a new one of this
        // size is fresh memory, which costs more to touch than the drawing.
        if (grid_.isNull() || grid_.size() != size() * dpr) {
            grid_ = QPixmap(size() * dpr);
            grid_.setDevicePixelRatio(dpr);
        }
        gridLanguage_ = language_;
        QPainter g(&grid_);
        g.fillRect(QRect(QPoint(0, 0), size()), QColor(20, 20, 20));
        const QFont axis = axisFont();
        g.setFont(axis);
        const QFontMetrics fm(axis);
        const QStringList gains = gainLabels();
        for (int k = 0; k <= 10; ++k) {
            const double db = -15.0 + 3 * k;
            const int y = int(plot.top() + H * (15 - db) / 30.0);
            g.setPen(QColor(64, 64, 64));
            g.drawLine(plot.left(), y, plot.right(), y);
            g.setPen(QColor(128, 128, 128));
            g.drawText(QRect(0, y - fm.height() / 2, plot.left() - 3, fm.height()),
                       Qt::AlignRight | Qt::AlignVCenter, gains[k]);
        }
        static constexpr int lines[30] = {18,   20,   30,   40,    50,    60,   70,   80,
                                          90,   100,  200,  300,   400,   500,  600,  700,
                                          800,  900,  1000, 2000,  3000,  4000, 5000, 6000,
                                          7000, 8000, 9000, 10000, 20000, 23000};
        for (int f : lines) {
            const int x = int(plot.left() + W * std::log10(f / kCurveLowHz) / kLogSpan);
            g.setPen(QColor(64, 64, 64));
            g.drawLine(x, plot.top() + 1, x, plot.bottom());
            const char* label = nullptr;
            switch (f) {
            case 20:
                label = "20Hz";
                break;
            case 50:
                label = "50Hz";
                break;
            case 100:
                label = "100Hz";
                break;
            case 200:
                label = "200Hz";
                break;
            case 500:
                label = "500Hz";
                break;
            case 1000:
                label = "1kHz";
                break;
            case 2000:
                label = "2kHz";
                break;
            case 5000:
                label = "5kHz";
                break;
            case 10000:
                label = "10kHz";
                break;
            case 20000:
                label = "20kHz";
                break;
            default:
                break;
            }
            if (label) {
                g.setPen(QColor(128, 128, 128));
                g.drawText(QRect(x - 30, plot.bottom() + 4, 60, fm.height()), Qt::AlignHCenter,
                           label);
            }
        }
        // A measurement and its target change only with the overlay: drawn with the grid.
        if (overlay_)
            paintOverlay(g, true);
    }
    p.drawPixmap(0, 0, grid_);
    p.setRenderHint(QPainter::Antialiasing);
    auto yOf = [&](double db) { return std::trunc(plot.top() + H * (15.0 - db) / 30.0); };

    // 3. Title.
    p.setFont(uiFont("宋体", 13));
    p.setPen(QColor(255, 255, 0));
    p.drawText(QRect(plot.left(), 0, plot.width() - 2, plot.top() - 1),
               Qt::AlignRight | Qt::AlignBottom, title());

    // 4. The selected band's region.
    if (selected_ >= 0 && selected_ < count_ && bands_[selected_].type != 0) {
        const EqPanelBand& sb = bands_[selected_];
        BandCurve sum = sb.curve;
        if (bank_ == kSubEqBank && selected_ < kSubBands)
            for (int part = 1; part <= 3; ++part)
                if (const int s = subGraphRecord(selected_, part); bands_[s].type != 0)
                    for (int i = 0; i < kCurvePoints; ++i)
                        sum[std::size_t(i)] += bands_[s].curve[std::size_t(i)];
        // Held just outside the plot: a pass filter's skirt runs hundreds of dB down, and the
        // spline's pull from there would swing the closing edge back up into the plot.
        const double low = plot.top() - 20.0, high = plot.bottom() + 20.0;
        QPointF pts[kCurvePoints + 2];
        for (int i = 0; i < kCurvePoints; ++i)
            pts[i + 1] = QPointF(plot.left() + std::trunc(i * W / kCurvePoints),
                                 std::clamp(yOf(sum[std::size_t(i)]), low, high));
        const bool pass = lowPassFamily(sb.type) || highPassFamily(sb.type);
        pts[0] = pass ? QPointF(pts[1].x(), plot.bottom() + 20) : QPointF(plot.left(), yOf(0));
        pts[kCurvePoints + 1] = pass ? QPointF(pts[kCurvePoints].x(), plot.bottom() + 20)
                                     : QPointF(plot.right(), yOf(0));
        QColor fill = bandColour(selected_);
        fill.setAlpha(0x20);
        p.save();
        p.setClipRect(plot);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawPath(cardinalSpline(pts, kCurvePoints + 2, 0.1, true));
        p.restore();
    }

    // 5. The summed response.
    {
        QPointF pts[kCurvePoints];
        for (int i = 0; i < kCurvePoints; ++i)
            pts[i] = QPointF(plot.left() + std::trunc(i * W / kCurvePoints), yOf(summedAt(i)));
        p.save();
        p.setClipRect(QRect(0, 0, width(), height()));
        p.setPen(QPen(curveColour_, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(cardinalSpline(pts, kCurvePoints, 0.1, false));
        p.restore();
    }

    // The prediction, under the handles (the measurement and target are in the grid).
    if (overlay_)
        paintOverlay(p, false);

    // 6. Handles.
    const QFont numberFont = uiFontPoints("Arial", 8);
    for (int i = 0; i < candidateCount(); ++i) {
        EqPanelBand& b = bands_[i];
        placeHandle(b);
        if (b.type == 0)
            continue;
        const QPointF c(plot.left() + b.x, plot.top() + b.y);
        QColor edge = bandColour(i), fill = bandColour(i);
        edge.setAlpha(0x7F);
        fill.setAlpha(i == selected_ ? 0x50 : 0x25);
        if (b.type == 1) {
            const QRectF box(c.x() - 9, c.y() - 9, 18, 18);
            p.setPen(QPen(edge, 2));
            p.setBrush(Qt::NoBrush);
            p.drawArc(box, -15 * 16, -150 * 16);
            p.drawArc(box, -195 * 16, -150 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawEllipse(c, 7, 7);
        } else {
            p.setPen(QPen(edge, 1.5, Qt::DashLine));
            p.setBrush(fill);
            p.drawRect(QRectF(c.x() - 7, c.y() - 7, 14, 14));
            if (i == selected_) {
                p.setPen(QPen(QColor(255, 0, 0), 1.5, Qt::DashLine));
                p.drawLine(QPointF(c.x(), plot.top()), QPointF(c.x(), plot.bottom()));
            }
        }
        p.setFont(numberFont);
        p.setPen(bandColour(i));
        p.drawText(QRectF(c.x() - 10, c.y() - 8, 20, 16), Qt::AlignCenter,
                   QString::number(b.index + 1));
    }

    // 7. Readout and status line of the selected band.
    if (selected_ >= 0 && selected_ < count_) {
        const EqPanelBand& b = bands_[selected_];
        if (hover_ < 0)
            paintReadout(p, b);
        const QFont status = uiFontPoints("宋体", 9);
        p.setFont(status);
        const QString head =
            language_ == 1 ? QString::asprintf("Index=%d     Frequency=%.0fHz    Q=%.2f     Gain=",
                                               b.index + 1, double(b.frequency), double(b.q))
                           : QString::fromUtf8("EQ号=%1    频率=%2Hz    Q值=%3     增益=")
                                 .arg(b.index + 1)
                                 .arg(QString::asprintf("%.0f", double(b.frequency)))
                                 .arg(QString::asprintf("%.2f", double(b.q)));
        const QFontMetrics fm(status);
        p.setPen(QColor(16, 255, 16));
        p.drawText(QPoint(36, 3 + fm.ascent()), head);
        const double g = b.gain;
        const QColor gc = (g >= -6 && g <= 6)                         ? QColor(16, 255, 16)
                          : (std::fabs(g) > 6 && std::fabs(g) < 10.1) ? QColor(255, 255, 0)
                                                                      : QColor(255, 0, 0);
        p.setPen(gc);
        p.drawText(QPoint(36 + fm.horizontalAdvance(head), 3 + fm.ascent()),
                   signedFixed(g, 1, "dB "));
    }

    // 8. Readout of the hovered band.
    if (hover_ >= 0 && hover_ < count_ && bands_[hover_].type != 0)
        paintReadout(p, bands_[hover_]);

    // 9. Bypass.
    if (bypass_) {
        p.setFont(uiFont("黑体", 72));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, "BYPASS");
    }
}

void CEqPanel::paintReadout(QPainter& p, const EqPanelBand& b) {
    const QRect plot = plotRect();
    const double x = plot.left() + b.x, y = plot.top() + b.y;
    const int ax = int(std::lround(x - (b.index + 1 >= 10 ? 7 : 4)));
    const int ay = int(std::lround(y - 4));
    const QString values[3] = {QString::asprintf("%.0fHz", double(b.frequency)),
                               signedFixed(b.gain, 1, "dB"),
                               QString::asprintf("%.2f", double(b.q))};
    const char* captions[3] = {"F:", "G:", "Q:"};
    const int offsets[3] = {b.gain < -0.01f ? -42 : 18, b.gain < -0.01f ? -33 : 27,
                            b.gain < -0.01f ? -24 : 36};
    p.setFont(uiFont("Arial", 10));
    for (int r = 0; r < 3; ++r) {
        const int w = (int(values[r].size()) * 6 + 12) / 2;
        const int baseline = ay + offsets[r] + 8;
        p.setPen(QColor(180, 180, 180));
        p.drawText(QPoint(ax - w + 1, baseline), captions[r]);
        p.setPen(QColor(16, 255, 16));
        p.drawText(QPoint(ax - w + 13, baseline), values[r]);
    }
}

// ---- measurement overlay ----

void CEqPanel::setOverlay(const ResponseCurve& measurement, const Target& target,
                          const QString& name, double alignLoHz, double alignHiHz) {
    overlay_ = Overlay{measurement, target, name, alignLoHz, alignHiHz, 0.0, {}, {}};
    gridLanguage_ = -1; // the grid is drawn again
    layoutOverlay(true);
    update();
}

void CEqPanel::clearOverlay() {
    overlay_.reset();
    gridLanguage_ = -1;
    update();
}

void CEqPanel::layoutOverlay(bool align) {
    if (!overlay_)
        return;
    Overlay& o = *overlay_;
    const double w = plotWidth();
    std::vector<double> hz(kCurvePoints);
    for (int i = 0; i < kCurvePoints; ++i)
        hz[std::size_t(i)] = curveFrequency(i, w);
    const std::vector<double> m = sampleCurve(o.measurement, hz);
    const std::vector<double> t = targetOn(o.target, hz);
    const double lo = o.measurement.hz.empty() ? 0 : o.measurement.hz.front();
    const double hi = o.measurement.hz.empty() ? 0 : o.measurement.hz.back();
    if (align) {
        double sum = 0;
        int n = 0;
        for (int i = 0; i < kCurvePoints; ++i) {
            const double f = hz[std::size_t(i)];
            if (f >= lo && f <= hi && f >= o.alignLo && f <= o.alignHi) {
                sum += t[std::size_t(i)] - m[std::size_t(i)] - summedAt(i);
                ++n;
            }
        }
        o.shift = n ? sum / n : 0.0;
    }
    const double shift = o.shift;
    for (int i = 0; i < kCurvePoints; ++i) {
        const double f = hz[std::size_t(i)];
        const bool in = f >= lo && f <= hi;
        o.shifted[std::size_t(i)] = in ? float(m[std::size_t(i)] + shift) : NAN;
        o.target_[std::size_t(i)] = float(t[std::size_t(i)]);
    }
}

float CEqPanel::overlayMeasurementAt(int i) const {
    if (!overlay_ || i < 0 || i >= kCurvePoints)
        return NAN;
    return overlay_->shifted[std::size_t(i)];
}

float CEqPanel::overlayTargetAt(int i) const {
    if (!overlay_ || i < 0 || i >= kCurvePoints)
        return NAN;
    return overlay_->target_[std::size_t(i)];
}

float CEqPanel::predictedAt(int i) const {
    const float m = overlayMeasurementAt(i);
    return std::isnan(m) ? NAN : m + summedAt(i);
}

void CEqPanel::paintOverlay(QPainter& p, bool layerOnly) {
    const QRect plot = plotRect();
    const double W = plotWidth(), H = plotHeight();
    // Polylines, split where the measurement does not reach.
    auto line = [&](QPainter& to, auto valueAt) {
        std::vector<QPointF> run;
        run.reserve(kCurvePoints);
        auto flush = [&] {
            if (run.size() > 1)
                to.drawPolyline(run.data(), int(run.size()));
            run.clear();
        };
        for (int i = 0; i < kCurvePoints; ++i) {
            const float v = valueAt(i);
            if (std::isnan(v)) {
                flush();
                continue;
            }
            run.emplace_back(plot.left() + i * W / kCurvePoints,
                             std::clamp(plot.top() + H * (15.0 - double(v)) / 30.0,
                                        double(plot.top()), double(plot.bottom())));
        }
        flush();
    };
    const QColor measured(190, 190, 190, 200), target(255, 255, 255, 170), predicted(255, 150, 40);
    if (layerOnly) {
        QPainter& q = p;
        q.save();
        // Held inside the plot and one pixel wide, as the prediction below: a clipped or wider
        // antialiased stroke costs several times more, and a new measurement redraws these.
        q.setRenderHint(QPainter::Antialiasing);
        q.setBrush(Qt::NoBrush);
        q.setPen(QPen(target, 1.0, Qt::DashLine));
        line(q, [&](int i) { return overlayTargetAt(i); });
        q.setPen(QPen(measured, 1.0));
        line(q, [&](int i) { return overlayMeasurementAt(i); });

        // Legend, bottom left inside the plot.
        const bool en = language_ == 1;
        const QString names[3] = {en ? QStringLiteral("Measurement") : QStringLiteral("测量"),
                                  en ? QStringLiteral("Target") : QStringLiteral("目标"),
                                  en ? QStringLiteral("Predicted") : QStringLiteral("预测")};
        const QFont f = uiFontPoints("Arial", 8);
        q.setFont(f);
        const QFontMetrics fm(f);
        int textW = 0;
        for (const QString& n : names)
            textW = std::max(textW, fm.horizontalAdvance(n));
        const QString file = fm.elidedText(overlay_->name, Qt::ElideMiddle, 220);
        const int rowH = fm.height() + 2;
        const int boxW = std::max(textW + 34, fm.horizontalAdvance(file) + 12);
        const QRect box(plot.left() + 6, plot.bottom() - 6 - rowH * 4 - 4, boxW, rowH * 4 + 6);
        q.setPen(Qt::NoPen);
        q.setBrush(QColor(0, 0, 0, 150));
        q.drawRoundedRect(box, 4, 4);
        q.setPen(QColor(200, 200, 200));
        q.drawText(QRect(box.left() + 6, box.top() + 3, box.width() - 8, rowH), Qt::AlignVCenter,
                   file);
        const QPen pens[3] = {QPen(measured, 1.0), QPen(target, 1.0, Qt::DashLine),
                              QPen(predicted, 1.0)};
        for (int k = 0; k < 3; ++k) {
            const int y = box.top() + 3 + rowH * (k + 1) + rowH / 2;
            q.setPen(pens[k]);
            q.drawLine(box.left() + 6, y, box.left() + 24, y);
            q.setPen(QColor(200, 200, 200));
            q.drawText(QRect(box.left() + 30, y - rowH / 2, textW + 4, rowH), Qt::AlignVCenter,
                       names[k]);
        }
        q.restore();
        return;
    }
    // Held inside the plot rather than clipped: a clipped antialiased stroke is several times
    // slower, and this one is redrawn at every drag step.
    QPainterPath path;
    bool open = false;
    const double top = plot.top(), bottom = plot.bottom();
    for (int i = 0; i < kCurvePoints; ++i) {
        const float v = predictedAt(i);
        if (std::isnan(v)) {
            open = false;
            continue;
        }
        const QPointF pt(plot.left() + i * W / kCurvePoints,
                         std::clamp(top + H * (15.0 - double(v)) / 30.0, top, bottom));
        if (open)
            path.lineTo(pt);
        else
            path.moveTo(pt);
        open = true;
    }
    // One pixel wide: Qt strokes a 1-pixel antialiased line on a fast path, a wider one at four
    // times the cost, too slow for every step of a drag.
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(predicted, 1.0));
    p.drawPath(path);
    p.restore();
}

} // namespace q7
