// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as a microphone calibration file: the reader keeps its promises (points sorted
// and strictly increasing, every value finite, the phase column whole or absent), and applying
// it to a response leaves every value finite.
#include "measure/calibration.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const q7::MicCalibration cal = q7::parseMicCalibration(text);
    if (cal.hz.size() != cal.db.size() ||
        (!cal.phaseDeg.empty() && cal.phaseDeg.size() != cal.hz.size()))
        std::abort();
    for (std::size_t i = 0; i < cal.hz.size(); ++i)
        if (!std::isfinite(cal.hz[i]) || !std::isfinite(cal.db[i]) || !(cal.hz[i] > 0) ||
            (i > 0 && !(cal.hz[i] > cal.hz[i - 1])))
            std::abort();
    if (cal.dbfsAt94 && !std::isfinite(*cal.dbfsAt94))
        std::abort();
    q7::FrequencyResponse r{{5, 20, 1000, 20000, 40000}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
    q7::applyCalibration(r, cal);
    for (std::size_t i = 0; i < r.hz.size(); ++i)
        if (!std::isfinite(r.db[i]) || !std::isfinite(r.phaseDeg[i]))
            std::abort();
    return 0;
}
