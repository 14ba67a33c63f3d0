// SPDX-License-Identifier: GPL-3.0-or-later
// The room tuning assistant as the editor opens it: the audio devices (the simulated amplifier's
// own when it runs), the charts drawn with Qt, the report beside the mode file.
#pragma once

#include "pages/tune_dialog.h"

class QWidget;

namespace q7 {

class CHX2060v13App;

TuneServices tuneServices(CHX2060v13App& app);

// Opens the assistant (one at a time); returns it.
CTuneDlg* openTuneRoom(CHX2060v13App& app, QWidget* parent);

// The assistant's steps as screenshots (tune-setup, -place, -measure, -results, -check), each
// step as a user reaches it against the simulated amplifier; the editor is left as it was.
// Returns how many screens could not be made.
int renderTuneScreens(CHX2060v13App& app, QWidget* parent, const QString& dir, const char* suffix);

} // namespace q7
