// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/live_levels.h"

#include "protocol/report.h"

#include <algorithm>
#include <cmath>

namespace q7 {

double meterDb(int reading) {
    if (reading <= 0)
        return kMeterFloorDb;
    const double db = std::round(200.0 * std::log10(std::min(reading, 255) / 255.0)) / 10.0;
    return std::max(kMeterFloorDb, db);
}

LiveLevels liveLevels(const ParameterStore& store) {
    const auto bytes = store.levelReport();
    LevelReport l;
    std::copy(bytes.begin(), bytes.end(), l.bytes.begin());
    LiveLevels out;
    for (const std::uint8_t m : l.meters())
        out.db.push_back(meterDb(m));
    out.inputFormat = audioFormatName(l.format());
    return out;
}

} // namespace q7
