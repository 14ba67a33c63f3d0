// SPDX-License-Identifier: GPL-3.0-or-later
// The application object, for headers that only pass it around.
#pragma once

namespace q7 {
class CHX2060v13App;
using Editor = CHX2060v13App;
} // namespace q7
