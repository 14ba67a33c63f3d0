// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/eq_copy.h"

#include "eq/eq_bank.h"
#include "params/edit_path.h"

#include <algorithm>
#include <string>

namespace q7 {

namespace {

// The Sub's bands carry crossover sections the other outputs have no counterpart for, and the
// music EQ has no twin: neither takes part.
constexpr EqCopyBank kBanks[] = {
    {1, 0, 15, "话筒通道A均衡", "Mic CH A EQ"}, {1, 15, 15, "话筒通道B均衡", "Mic CH B EQ"},
    {2, 0, 7, "回声A均衡", "Echo A EQ"},        {2, 7, 7, "回声B均衡", "Echo B EQ"},
    {3, 0, 7, "混响A均衡", "Reverb A EQ"},      {3, 7, 7, "混响B均衡", "Reverb B EQ"},
    {5, 0, 24, "前置均衡", "Main EQ"},          {6, 0, 10, "后置均衡", "Rear EQ"},
    {7, 0, 10, "中置均衡", "Center EQ"},        {9, 0, 10, "顶置均衡", "Top EQ"},
};

bool isOutput(const EqCopyBank& b) {
    return b.group >= 5;
}

// The microphone banks are the only ones here with fixed bands.
bool fixedBand(const EqCopyBank& b, int band) {
    return b.group == 1 && isFixedBand(1, band);
}

} // namespace

const EqCopyBank* eqCopyBank(int group, int firstRecord) {
    for (const EqCopyBank& b : kBanks)
        if (b.group == group && b.firstRecord == firstRecord)
            return &b;
    return nullptr;
}

std::vector<const EqCopyBank*> eqCopyTargets(const EqCopyBank& from) {
    std::vector<const EqCopyBank*> out;
    for (const EqCopyBank& b : kBanks) {
        if (&b == &from)
            continue;
        if (isOutput(from) ? isOutput(b) : b.group == from.group)
            out.push_back(&b);
    }
    return out;
}

bool copyEqBank(EditPath& edits, const EqCopyBank& from, const EqCopyBank& to) {
    const StepName name{std::string("复制") + from.zh + "→" + to.zh,
                        std::string("Copy ") + from.en + " → " + to.en};
    EditPath::Scope step(edits, name);
    ParameterStore& s = edits.store();
    Dsp& dsp = edits.dsp();
    bool ok = true;
    for (int i = 0; i < std::min(from.bands, to.bands); ++i) {
        const BandRecord src = s.band(from.group, from.firstRecord + i);
        const BandRecord dst = s.band(to.group, to.firstRecord + i);
        const bool fixed = fixedBand(to, i);
        const int type = fixed ? dst.type : src.type;
        const double hz = fixed ? dst.frequency : src.frequency;
        // recordQ, not qValue: q / 1000.0 encodes back one thousandth low for some Qs.
        if (BandRecord::encode(type, src.gainDb(), hz, recordQ(src)) == dst)
            continue;
        ok &= dsp.SendBand(to.group, to.firstRecord + i, type, src.gainDb(), hz, recordQ(src));
    }
    return ok;
}

} // namespace q7
