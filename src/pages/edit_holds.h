// SPDX-License-Identifier: GPL-3.0-or-later
// Held presses as edits: while a control of a page or dialog is held (a slider or panel point
// dragged, a spin arrow held down while it repeats, an EQ handle moved), the steps its handlers
// make merge into one, so undo takes back the whole drag.
#pragma once

class QWidget;

namespace q7 {

class EditPath;

// Opens a hold of edits for every held press on the controls under root (bitmap sliders, spins,
// the delay and speaker panels, EQ graphs, Qt sliders). Controls wired before are left as they
// are, so a page calls it again when it shows, for controls made since.
void holdEditsWhilePressed(QWidget* root, EditPath& edits);

} // namespace q7
