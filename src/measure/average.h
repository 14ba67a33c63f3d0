// SPDX-License-Identifier: GPL-3.0-or-later
// Several microphone positions made into one response, with their spread kept for display.
#pragma once

#include "measure/response.h"

#include <optional>
#include <string>
#include <vector>

namespace q7 {

enum class AverageKind {
    Power,  // RMS of the magnitudes: the room's average level
    Db,     // mean of the dB values: what EQ targets are made from
    Vector, // complex mean, each response aligned at its own peak first
};

std::optional<AverageKind> parseAverageKind(const std::string& text); // power, db, vector
const char* averageKindName(AverageKind k);

struct AveragedResponse {
    FrequencyResponse mean;
    std::vector<double> spreadDb; // max - min over the positions, per frequency
    std::vector<std::string> positions;
};

// All responses must share one frequency grid; empty otherwise.
AveragedResponse averageResponses(const std::vector<FrequencyResponse>& responses, AverageKind kind,
                                  std::vector<std::string> positions = {});

} // namespace q7
