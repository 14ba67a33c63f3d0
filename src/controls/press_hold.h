// SPDX-License-Identifier: GPL-3.0-or-later
// PressHold: a press held on a control, from the press to its release, or until the control
// hides or is disabled (its release then never comes): the page makes what changes in between
// one edit. Every control that can be held owns one, as a child the pages find and wire.
#pragma once

#include <QObject>

class QWidget;

namespace q7 {

class PressHold : public QObject {
    Q_OBJECT
public:
    explicit PressHold(QWidget* control);
    bool held() const { return held_; }
    // Each is said once however often it is called.
    void start();
    void end();

signals:
    void started();
    void ended();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool held_ = false;
};

} // namespace q7
