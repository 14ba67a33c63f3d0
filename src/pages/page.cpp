#include "pages/page.h"

#include "app/editor.h"
#include "app/fonts.h"
#include "app/style.h"
#include "controls/control_id.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>
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

CPage::CPage(PageKind kind, Editor& editor, QWidget* parent)
    : QWidget(parent), editor_(editor), kind_(kind) {
    setPageBackground(this);
    setMinimumSize(kMinPageWidth, kMinPageHeight);
}

void CPage::applyLanguage() {
    editor_.language().ApplyLanguage(this, dialogId());
}

void CPage::routeWheel(std::function<bool(int)> accepts) {
    wheelAccepts_ = std::move(accepts);
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
}

bool CPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && wheelAccepts_) {
        QWidget* focus = focusWidget();
        if (focus && focus != watched && isAncestorOf(focus) && wheelAccepts_(controlId(focus))) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            QWheelEvent copy(wheel->position(), wheel->globalPosition(), wheel->pixelDelta(),
                             wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                             wheel->phase(), wheel->inverted());
            QCoreApplication::sendEvent(focus, &copy);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CPage::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

PlaceholderPage::PlaceholderPage(PageKind kind, int bank, Editor& editor, QWidget* parent)
    : CPage(kind, editor, parent), bank_(bank) {}

void PlaceholderPage::applyLanguage() {
    update();
}

void PlaceholderPage::setBank(int bank) {
    bank_ = bank;
    update();
}

void PlaceholderPage::paintEvent(QPaintEvent*) {
    const Language& l = editor_.language();
    QString title;
    switch (kind()) {
    case PageKind::Music:
        title = l.pick("音乐与话筒", "Music and microphones");
        break;
    case PageKind::Effects:
        title = l.pick("效果均衡", "Effects EQ");
        break;
    case PageKind::Output: {
        const char* zh = bank_ == 3    ? "中置输出"
                         : bank_ == 2  ? "超低输出"
                         : bank_ == 4  ? "后置输出"
                         : bank_ == 11 ? "顶置输出"
                                       : "前置输出";
        const char* en = bank_ == 3    ? "Center output"
                         : bank_ == 2  ? "Sub output"
                         : bank_ == 4  ? "Rear output"
                         : bank_ == 11 ? "Top output"
                                       : "Main output";
        title = l.pick(zh, en);
        break;
    }
    case PageKind::Compressor:
        title = l.pick("输出压限", "Output compressors");
        break;
    case PageKind::Delay:
        title = l.pick("延时调整", "Delays");
        break;
    case PageKind::Location:
        title = l.pick("声场定位", "Speaker location");
        break;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect card = rect().adjusted(40, 40, -40, -40);
    p.setPen(QPen(QColor(180, 200, 220), 1, Qt::DashLine));
    p.setBrush(QColor(250, 253, 255));
    p.drawRoundedRect(card, 10, 10);
    p.setPen(QColor(40, 70, 100));
    p.setFont(songti(22, true));
    p.drawText(card.adjusted(0, -20, 0, -20), Qt::AlignCenter, title);
    p.setPen(QColor(110, 130, 150));
    p.setFont(songti(14));
    p.drawText(card.adjusted(0, 30, 0, 30), Qt::AlignCenter,
               l.pick("此页面将在后续版本中提供", "This page arrives in a later version"));
}

} // namespace q7
