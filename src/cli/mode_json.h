// The JSON view of a mode image printed by `q7ctl mode dump` and `q7ctl pull --json`.
#pragma once

#include "params/store.h"

#include <string>

namespace q7 {

std::string modeImageJson(const ModeImage& image, int version);
// Shortest text that reads back to the same single; "null" for NaN and infinities.
std::string jsonFloat(float v);
std::string jsonDouble(double v);
std::string hexBytes(std::span<const std::uint8_t> bytes);

} // namespace q7
