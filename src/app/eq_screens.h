// SPDX-License-Identifier: GPL-3.0-or-later
// The measurement-driven EQ screens for --screenshots: the import preview, a measurement over the
// Main EQ and the auto-EQ dialog after a fit, all from sample files written on the spot.
#pragma once

#include <QString>

namespace q7 {

class CHX2060v13App;
class CHX2060v13View;

// Returns how many screens could not be made.
int renderEqToolScreens(CHX2060v13App& app, CHX2060v13View& view, const QString& dir,
                        const char* suffix);

} // namespace q7
