// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON view of a mode image printed by `q7ctl mode dump` and `q7ctl pull --json`.
#pragma once

#include "eq/eq_bank.h"
#include "params/param_names.h"
#include "params/param_values.h"
#include "params/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace q7 {

// `q7ctl mode dump` and `pull`: {"version": 2, "params": {"mic.volume": 60, …}}, every value
// the image holds under its id as `params` lists it, in the units get prints.
std::string modeImageJson(const ModeImage& image, int version);
// `q7ctl mode diff --json`: {"equal": bool, "differences": [...]}, each difference with its
// kind, where it lies (cell; group, record and field; or index), its machine id as "name" and
// the two values in user units as "a" and "b".
std::string differencesJson(const std::vector<Difference>& differences);
// A bank's band records as a JSON list ({"record", "type", "gain_db", "freq_hz", "q"}).
std::string bandsJson(const EqBankState& s);
std::string hexBytes(std::span<const std::uint8_t> bytes);
// A JSON string of any text: quotes, backslashes and control bytes escaped, bytes that are not
// UTF-8 as U+FFFD (text read from files may hold anything).
std::string jsonString(std::string_view text);

} // namespace q7
