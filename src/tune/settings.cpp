// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/settings.h"

#include "measure/speakers.h"
#include "params/edit_path.h"
#include "protocol/report_sink.h"

namespace q7 {

bool sendTuneSettings(Dsp& dsp, const TuneSettings& s) {
    ParameterStore& store = dsp.store();
    bool ok = true;
    for (const EqBankState& bank : s.banks)
        ok &= sendBank(dsp, store, bank);
    for (const auto& [speaker, ms] : s.delays) {
        const DelayChannel ch = DelayChannel(speaker);
        const DelayChannelInfo& info = delayChannelInfo(ch);
        const int off = ms > 0 ? 0 : 1;
        if (store.cellInt(info.offCell) != off) {
            store.setCellInt(info.offCell, off);
            ok &= dsp.sendCell(info.offCell);
        }
        if (ms > 0)
            ok &= dsp.sendDelay(ch, ms);
    }
    for (const auto& [speaker, db] : s.levels)
        ok &= dsp.sendSpeakerLevel(speakerOutputs()[std::size_t(speaker)].speaker, db);
    return ok;
}

ModeImage settingsAfter(const ModeImage& before, const TuneSettings& s) {
    ParameterStore scratch;
    applySettings(scratch, before);
    NullSink nowhere;
    VirtualClock clock;
    Dsp dsp(scratch, nowhere, clock);
    sendTuneSettings(dsp, s);
    return settingsOf(scratch);
}

} // namespace q7
