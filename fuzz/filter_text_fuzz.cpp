// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as a filter list and as a measurement: the readers never misbehave, an import
// stays within the bank's limits, and a fit on whatever curve comes out stays within them too.
#include "eq/auto_eq.h"
#include "eq/filter_text.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const q7::ParameterStore store;
    const int bank = size ? data[0] % q7::kEqBankCount : 0;
    const q7::ImportPlan plan =
        q7::planImport(q7::readBank(store, bank), q7::parseFilterText(text));
    for (int k = 0; k < plan.result.bandCount(); ++k) {
        const q7::BandRecord& r = plan.result.band(k);
        if (r.gain > 300 || r.frequency < 20 || r.frequency > 20000)
            std::abort();
    }
    const q7::MeasurementRead m = q7::parseMeasurement(text);
    if (m.ok()) {
        for (std::size_t i = 0; i < m.curve.hz.size(); ++i)
            if (!(m.curve.hz[i] > 0) || !std::isfinite(m.curve.db[i]) ||
                (i && !(m.curve.hz[i] > m.curve.hz[i - 1])))
                std::abort();
        q7::FitOptions o;
        o.maxBands = 2;
        const q7::FitResult r = q7::fitBank(q7::readBank(store, bank), m.curve, q7::Target{}, o);
        if (r.ok && !std::isfinite(r.after.rmsDb))
            std::abort();
    }
    return 0;
}
