// SPDX-License-Identifier: GPL-3.0-or-later
// The tooltips of the ribbon, the status bar and the pages: one table in both languages, keyed
// by window and control id, applied to whatever is on screen when it appears and when the
// language changes.
#pragma once

#include <QString>

class QWidget;

namespace q7 {

class Language;
class Ribbon;

// The ribbon's and the status bar's table (their ids are command ids).
inline constexpr int kMainWindowTips = 0;
// The application button carries no command id.
inline constexpr int kAppButtonTip = -1;

// The tooltip of a control of a window (a page's dialog id, or kMainWindowTips), with its
// keyboard shortcut when it has one; empty when the table has none.
QString tooltipText(int window, int controlId, const Language& language);

// Sets the tooltip of every control under root that the window's table knows.
void applyTooltips(QWidget* root, int window, const Language& language);
// The same for the ribbon, its tabs and its menus.
void applyRibbonTooltips(Ribbon& ribbon, const Language& language);

} // namespace q7
