// SPDX-License-Identifier: GPL-3.0-or-later
// Texts the main view's parts share.
#pragma once

#include <QString>

namespace q7 {

inline constexpr const char* kModeDigitZh[4] = {"一", "二", "三", "四"};

// Every extension a mode file is saved or opened under, in both file dialogs: a file saved with
// the default extension must show when it is opened again.
inline QString modeFilesFilter() {
    return QStringLiteral("Mode Files (*.q7M *.R3v9 *.R3v8 *.Q7test)");
}

} // namespace q7
