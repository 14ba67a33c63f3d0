// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/page.h"

#include "controls/peak_meter.h"
#include "pages/edit_holds.h"
#include "pages/eq_copy.h"
#include "pages/eq_editor.h"
#include "pages/eq_tools.h"
#include "pages/nav_row.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace q7 {

int dialogIdOf(PageKind kind) {
    switch (kind) {
    case PageKind::Music:
        return 313;
    case PageKind::Effects:
        return 421;
    case PageKind::Output:
        return 385;
    case PageKind::Compressor:
        return 346;
    case PageKind::Delay:
        return 333;
    case PageKind::Location:
        return 334;
    }
    return 0;
}

double leadingNumber(const QString& text) {
    const QByteArray s = text.trimmed().toLatin1();
    const char* first = s.constData();
    const char* last = first + s.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    // Only digits and a point start a number here: "inf" and "nan" read as 0.
    if (first == last || !(std::isdigit(static_cast<unsigned char>(*first)) || *first == '.'))
        return 0.0;
    double v = 0.0;
    const auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v))
        return 0.0;
    return negative ? -v : v;
}

CPage::CPage(PageKind kind, EditorContext& editor, QWidget* parent)
    : QWidget(parent), editor_(editor), kind_(kind) {
    setPageBackground(this);
    setMinimumSize(kMinPageWidth, kMinPageHeight);
}

void CPage::showEvent(QShowEvent* e) {
    holdEditsWhilePressed(this, editor_.edits());
    QWidget::showEvent(e);
}

CPeakMeterCtrl* CPage::addLevelMeter(int id) {
    auto* meter = new CPeakMeterCtrl(this);
    setControlId(meter, id);
    meter->SetMeterBands(1, 15);
    meter->SetHorizontal(true);
    meter->SetBackgroundColour(kPageBackground);
    meter->SetPeakLine(false);
    meter->Start(35);
    return meter;
}

void CPage::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    layoutControls();
}

void CPage::applyLanguage() {
    if (nav_)
        nav_->applyLanguage();
    editor_.language().ApplyLanguage(this, dialogId());
}

int truncatedTenths(float v) {
    if (!(v == v))
        return 0;
    const float tenths = v * 10.0f;
    return int(std::trunc(std::clamp(tenths, -1.0e6f, 1.0e6f)));
}

int spinStep(const QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        const int dy = static_cast<const QWheelEvent*>(event)->angleDelta().y();
        return dy > 0 ? 1 : dy < 0 ? -1 : 0;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        return key == Qt::Key_Up ? 1 : key == Qt::Key_Down ? -1 : 0;
    }
    return 0;
}

void paintCard(QPainter& p, const QRect& r, qreal radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(196, 214, 232));
    p.setBrush(QColor(250, 253, 255));
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.restore();
}

void forwardWheel(const QWheelEvent* wheel, QWidget* to) {
    QWheelEvent copy(wheel->position(), wheel->globalPosition(), wheel->pixelDelta(),
                     wheel->angleDelta(), wheel->buttons(), wheel->modifiers(), wheel->phase(),
                     wheel->inverted());
    QCoreApplication::sendEvent(to, &copy);
}

void watchWheels(QWidget* root) {
    root->installEventFilter(root);
    for (QWidget* w : root->findChildren<QWidget*>())
        w->installEventFilter(root);
}

bool wheelToFocus(QWidget* root, QObject* watched, QEvent* event,
                  const std::function<bool(int)>& accepts) {
    if (event->type() != QEvent::Wheel || !accepts)
        return false;
    QWidget* focus = root->focusWidget();
    if (!focus || focus == watched || !root->isAncestorOf(focus) || !accepts(controlId(focus)))
        return false;
    forwardWheel(static_cast<QWheelEvent*>(event), focus);
    return true;
}

void CPage::routeWheel(std::function<bool(int)> accepts) {
    wheelAccepts_ = std::move(accepts);
    watchWheels(this);
}

bool CPage::eventFilter(QObject* watched, QEvent* event) {
    return wheelToFocus(this, watched, event, wheelAccepts_) ||
           QWidget::eventFilter(watched, event);
}

void CPage::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

bool CPage::eqBypass() const {
    return eq_ && eq_->bypass();
}

void CPage::setEqBypass(bool on) {
    if (eq_)
        eq_->setBypass(on);
}

void CPage::resetEq() {
    if (!eq_)
        return;
    eq_->reset();
    refresh();
}

std::pair<int, int> CPage::eqShown() const {
    const EqBankInfo* info = eq_ ? eqBankInfo(eq_->bank()) : nullptr;
    return info ? std::pair{info->group, info->firstRecord} : std::pair{-1, -1};
}

CEqPanel* CPage::eqGraph() const {
    return eq_ ? eq_->graph() : nullptr;
}

BandEditor* CPage::bands() const {
    return eq_ ? eq_->bands() : nullptr;
}

void CPage::dropOnGraph(CEqPanel* graph, const QStringList& paths) {
    openDroppedOnGraph(this, editor_, graph, paths);
}

void CPage::showCopyMenu(const QPoint& globalPos) {
    const auto [group, first] = eqShown();
    const EqCopyBank* from = eqCopyBank(group, first);
    CEqPanel* graph = eqGraph();
    if (!from && !graph)
        return;
    if (!copyMenu_) {
        copyMenu_ = new QMenu(this);
        copyMenu_->setObjectName("EqCopyMenu");
    }
    copyMenu_->clear();
    const Language& l = editor_.language();
    if (from)
        copyMenu_->addSection(l.pick("复制本均衡到", "Copy this EQ to"));
    for (const EqCopyBank* to : from ? eqCopyTargets(*from) : std::vector<const EqCopyBank*>{}) {
        QAction* a = copyMenu_->addAction(l.pick(to->zh, to->en));
        connect(a, &QAction::triggered, this, [this, from, to] {
            copyEqBank(editor_.edits(), *from, *to);
            refresh();
            const Language& lang = editor_.language();
            editor_.ShowInfo(lang.pick("已复制到", "Copied to ") + lang.pick(to->zh, to->en), 1100);
        });
    }
    if (graph)
        addEqTools(copyMenu_, this, editor_, graph);
    copyMenu_->popup(globalPos);
}

} // namespace q7
