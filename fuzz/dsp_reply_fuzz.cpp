// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary 61-byte reports through every parser of amplifier replies the engine owns.
#include "params/dsp.h"
#include "protocol/report.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    q7::Report r{};
    std::copy_n(data, std::min(size, r.size()), r.begin());
    static q7::ParameterStore store;
    q7::decodeDspReply(store, r);
    const q7::MemReply m = q7::parseMem(r);
    store.writeBandImage(m.address, std::span(m.data, m.available));
    q7::decodeModeName(r);
    q7::replyText(r, 29);
    q7::parseTunnelMessage(r);
    q7::LevelReport::fromReport(r).format();
    return 0;
}
