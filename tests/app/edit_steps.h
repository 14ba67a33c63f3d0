// SPDX-License-Identifier: GPL-3.0-or-later
// What the undo and EQ tool tests share: the Main output page, a key as the user presses it
// in the window, and whether two settings hold the same values.
#pragma once

#include "editor_rig.h"
#include "pages/output_page.h"
#include "params/edit_path.h"

#include <QApplication>
#include <QTest>

namespace q7::test {

inline CDialogOutput* mainOutput(EditorRig& rig) {
    rig.view().showPage(PageKind::Output, 5);
    return dynamic_cast<CDialogOutput*>(rig.view().currentPage());
}

// Shortcuts reach the active window, as the user's keys do.
inline void key(EditorRig& rig, Qt::Key k, Qt::KeyboardModifiers m) {
    rig.frame().activateWindow();
    QApplication::setActiveWindow(&rig.frame());
    QTest::keyClick(&rig.frame(), k, m);
    rig.run(50);
}

inline bool sameSettings(const ModeImage& a, const ModeImage& b) {
    return Change::between(a, b).empty();
}

} // namespace q7::test
