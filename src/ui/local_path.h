// SPDX-License-Identifier: GPL-3.0-or-later
// File names as the system has them: bytes, not always valid UTF-8 (a name copied from an old
// disk or archive). Qt would turn such bytes into U+FFFD and then never find the file, so each
// byte that is not part of valid UTF-8 is carried in the QString as a lone surrogate
// (U+DC80..U+DCFF) and turned back into that byte when the file is opened.
#pragma once

#include <QString>
#include <string>

namespace q7 {

QString decodeLocalPath(const char* bytes);
std::string encodeLocalPath(const QString& path);
bool localPathExists(const QString& path);

} // namespace q7
