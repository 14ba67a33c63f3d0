// SPDX-License-Identifier: GPL-3.0-or-later
// An up-down control: two arrow buttons and a position within a range. A click reports the
// direction; the page decides what happens (the position follows, within the range). An arrow
// held down repeats its click; the whole hold is announced, so that it can be one edit.
#pragma once

#include <QWidget>

class QToolButton;

namespace q7 {

class PressHold;

class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(int id, QWidget* parent);
    int id() const { return id_; }
    void setRange(int minimum, int maximum);
    void setPosition(int p);
    int position() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    // As a click does: reports the delta, then moves the position within the range.
    void click(int delta);
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    void stepping(int id, int delta);

private:
    class Arrow;
    PressHold* hold_;
    int id_;
    int minimum_ = 0, maximum_ = 100, position_ = 0;
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace q7
