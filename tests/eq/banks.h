// SPDX-License-Identifier: GPL-3.0-or-later
// Banks the EQ tests start from.
#pragma once

#include "eq/eq_bank.h"

#include <cstdint>

namespace q7::test {

// A bank as a fresh store holds it.
inline EqBankState startBank(int bank) {
    ParameterStore s;
    return readBank(s, bank);
}

// The Sub with band 1 a Butterworth 24 dB low-pass at hz: section codes 18 and 20, then two
// flat sections.
inline EqBankState subWithLowPass24(int hz) {
    EqBankState s = startBank(2);
    const auto f = std::uint16_t(hz);
    s.records[0] = {150, f, 707, 18};
    s.records[1] = {150, f, 707, 20};
    s.records[2] = {150, f, 707, 1};
    s.records[3] = {150, f, 707, 1};
    return s;
}

} // namespace q7::test
