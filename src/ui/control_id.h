// SPDX-License-Identifier: GPL-3.0-or-later
// A widget's control id: the number its language text and its notifications are keyed by.
#pragma once

#include <QVariant>
#include <QWidget>

namespace q7 {

inline constexpr const char* kControlIdProperty = "controlId";

inline void setControlId(QWidget* w, int id) {
    w->setProperty(kControlIdProperty, id);
}
inline int controlId(const QWidget* w) {
    return w->property(kControlIdProperty).toInt();
}

} // namespace q7
