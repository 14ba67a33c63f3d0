// SPDX-License-Identifier: GPL-3.0-or-later
// CGdipButton: a push button drawn from a standard and an alternate face with a text over it.
// The "current" flag shows the alternate face (the navigation rows mark the page shown).
#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace q7 {

class CGdipButton : public QAbstractButton {
    Q_OBJECT
public:
    CGdipButton(int id, QWidget* parent);

    void setCurrent(bool current);
    bool isCurrent() const { return current_; }
    void setTextColour(const QColor& c);
    QSize sizeHint() const override;

    enum class Face { Normal, Hot, Disabled, AltNormal, AltPressed, AltHot };
    // The face painted in the present state.
    Face face() const;
    // The pre-rendered image of a face.
    QPixmap faceImage(Face f);

protected:
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    bool current_ = false;
    bool hot_ = false;
    QColor text_ = Qt::white;
    qreal cachedDpr_ = 0;
    QSize cachedSize_;
    QPixmap faces_[6];

    void render();
};

} // namespace q7
