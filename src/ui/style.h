// SPDX-License-Identifier: GPL-3.0-or-later
// The look shared by the editor's pages and dialogs.
#pragma once

#include <QColor>

class QWidget;

namespace q7 {

inline const QColor kPageBackground(240, 250, 255);
inline const QColor kConnectedColour(0, 150, 0);
inline const QColor kDisconnectedColour(220, 0, 0);

// Paints a widget's background in the page colour.
void setPageBackground(QWidget* w);

} // namespace q7
