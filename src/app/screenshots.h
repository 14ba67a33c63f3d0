// SPDX-License-Identifier: GPL-3.0-or-later
// The screenshot run (--screenshots DIR): every page and dialog in both languages as PNG files,
// offline first and then, with the simulated amplifier, connected.
#pragma once

#include "app/editor_fwd.h"

#include <QString>

namespace q7 {

// Returns the program's exit code: 0 when every screen was written.
int takeScreenshots(CHX2060v13App& app, const QString& dir);

} // namespace q7
