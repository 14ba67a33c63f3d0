// SPDX-License-Identifier: GPL-3.0-or-later
// CXBmpSlider: a slider drawn from images, with its own range, keys, wheel and clicks. It tells
// its page when the position changes (3025), when it gets the focus (3026) and when a change is
// finished (3027).
#pragma once

#include <QPixmap>
#include <QWidget>

namespace q7 {

class PressHold;

class CXBmpSlider : public QWidget {
    Q_OBJECT
public:
    CXBmpSlider(int id, QWidget* parent, bool vertical = false);

    int id() const { return id_; }
    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    int GetPos() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    bool vertical() const { return vertical_; }
    void SetMargin(int left, int right, int top, int bottom);
    void SetClearColour(const QColor& c);
    // Whether the focus shows as the focused thumb (the pages) or only by the focus frame, with
    // the normal thumb (the machine settings).
    void setFocusedThumb(bool distinct);
    // The thumb's offset along the travel for a position.
    double thumbOffset(int position) const;
    // The position the thumb's centre at a pointer coordinate stands for.
    int positionAt(double coordinate) const;
    QSize thumbSize() const;

signals:
    void positionChanged(int id, int position); // 3025
    void gotFocus(int id);                      // 3026
    void changeFinished(int id, int position);  // 3027

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    int id_;
    bool vertical_;
    int minimum_ = 0, maximum_ = 127, position_ = 0;
    int left_ = 0, right_ = 0, top_ = 0, bottom_ = 0;
    bool dragging_ = false;
    bool focusedThumb_ = true;
    QColor clear_ = QColor(199, 199, 199);
    qreal cachedDpr_ = 0;
    QPixmap channel_, filled_, channelDisabled_, filledDisabled_;
    QPixmap thumb_, thumbFocused_, thumbDisabled_;

    void step(int delta);
    void ensureImages();
    PressHold* hold_;
};

} // namespace q7
