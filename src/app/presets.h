// SPDX-License-Identifier: GPL-3.0-or-later
// The fifteen factory presets: version-2 mode files carried as resources 427..441.
#pragma once

#include <QString>
#include <QStringList>

namespace q7 {

// Menu texts in ribbon command order (32000..32014).
QStringList presetNames(int language);
QString presetResourcePath(int resource);

} // namespace q7
