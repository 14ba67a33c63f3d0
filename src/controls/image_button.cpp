// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/image_button.h"

#include "controls/focus_frame.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/skin.h"

#include <QFont>
#include <QPainter>

namespace q7 {

CGdipButton::CGdipButton(int id, QWidget* parent) : QAbstractButton(parent) {
    setControlId(this, id);
    setFont(uiFont("宋体", 12));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void CGdipButton::setCurrent(bool current) {
    current_ = current;
    update();
}

void CGdipButton::setTextColour(const QColor& c) {
    text_ = c;
    update();
}

QSize CGdipButton::sizeHint() const {
    return QSize(std::max(72, fontMetrics().horizontalAdvance(text()) + 20), 26);
}

void CGdipButton::render() {
    const qreal dpr = devicePixelRatioF();
    if (dpr == cachedDpr_ && size() == cachedSize_)
        return;
    cachedDpr_ = dpr;
    cachedSize_ = size();
    const QPixmap standard = skin::buttonFace(size(), dpr, false);
    const QPixmap alternate = skin::buttonFace(size(), dpr, true);
    auto fromImage = [dpr](const QImage& img) {
        QPixmap p = QPixmap::fromImage(img);
        p.setDevicePixelRatio(dpr);
        return p;
    };
    faces_[int(Face::Normal)] = standard;
    faces_[int(Face::Hot)] = fromImage(skin::brightened(standard.toImage()));
    faces_[int(Face::Disabled)] = fromImage(skin::greyed(standard.toImage()));
    faces_[int(Face::AltNormal)] = alternate;
    QPixmap pressed(alternate.size());
    pressed.setDevicePixelRatio(dpr);
    pressed.fill(Qt::transparent);
    {
        QPainter p(&pressed);
        p.drawPixmap(QPointF(1, 1), alternate);
    }
    faces_[int(Face::AltPressed)] = pressed;
    faces_[int(Face::AltHot)] = fromImage(skin::brightened(alternate.toImage()));
}

QPixmap CGdipButton::faceImage(Face f) {
    render();
    return faces_[int(f)];
}

CGdipButton::Face CGdipButton::face() const {
    if (!isEnabled())
        return Face::Disabled;
    if (isDown())
        return Face::AltPressed;
    if (current_)
        return hot_ ? Face::AltHot : Face::AltNormal;
    return hot_ ? Face::Hot : Face::Normal;
}

void CGdipButton::paintEvent(QPaintEvent*) {
    render();
    QPainter p(this);
    const Face f = face();
    p.drawPixmap(0, 0, faces_[int(f)]);
    p.setFont(font());
    p.setPen(isEnabled() ? text_ : QColor(235, 235, 235));
    QRect r = rect();
    if (f == Face::AltPressed)
        r.translate(1, 1);
    p.drawText(r, Qt::AlignCenter, text());
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
        paintFocusFrame(p, rect());
}

void CGdipButton::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void CGdipButton::leaveEvent(QEvent*) {
    hot_ = false;
    update();
}

void CGdipButton::resizeEvent(QResizeEvent*) {
    cachedDpr_ = 0;
}

} // namespace q7
