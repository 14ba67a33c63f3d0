// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/reply.h"

#include "params/dsp.h"

#include <cstdio>

namespace q7 {

std::string dspErrorText(const Report& r) {
    char text[96];
    std::snprintf(text, sizeof text, "参数错误,代码0x:%02X,指令1:0x%02X,指令2:0x%02X ", r[2], r[3],
                  r[4]);
    return text;
}

void ReplyHandler::handleMemory(const Report& r) {
    const MemReply m = parseMem(r);
    const std::span<const std::uint8_t> data(m.data, m.available);
    if (m.address < kPlanAddress) {
        // Erased memory clears the whole image rather than loading 0xFF records.
        if (r[5] == 0xFF && r[6] == 0xFF)
            store_.clearBandImage();
        else
            store_.writeBandImage(m.address, data); // cut at the image's end
    } else if (m.address == kPlanAddress) {
        store_.writePlanBlock(0, data);
    } else if (m.address == kSpeakerLevelAddress) {
        store_.writeSpeakerLevelBlock(0, data);
    }
}

void ReplyHandler::HandleReply(const Report& r) {
    switch (r[1]) {
    case RPL_MODE:
        store_.setCellInt(cell::CurrentMode, clampMode(r[2]));
        break;
    case RPL_DSP_ACK:
        store_.setParametersChanged(true);
        break;
    case RPL_DSP_VALUE:
        if (r[2] != 0 && state_.claimErrorReport() && observer_)
            observer_->dspError(dspErrorText(r));
        decodeDspReply(store_, r);
        break;
    case RPL_SOURCE:
        store_.setCellInt(cell::MusicSource, r[2]);
        break;
    case RPL_LEVELS:
        store_.setLevelReport(std::span<const std::uint8_t, kLevelReportSize>(&r[2], 8));
        break;
    case RPL_HDMI:
        state_.setHdmi(r[2]);
        break;
    case RPL_TUNNEL:
        if (r[3] != kTunnelAck && sendAck_)
            sendAck_(tunnelAcknowledgement());
        break;
    case RPL_EXTRA_A:
        if (r[2] == 1)
            for (std::size_t i = 0; i < 3; ++i)
                store_.setExtraByte(i, r[3 + i]);
        break;
    case RPL_KEY_LEARNED: {
        const int position = r[3];
        if (position >= int(kKeyTableSize))
            break; // beyond the table: nothing is written
        store_.setCellByte(0, r[2]);
        store_.setCellByte(position, r[4]);
        if (observer_)
            observer_->keyLearned(r[4]);
        break;
    }
    case RPL_KEY_TABLE:
        store_.setKeyTable(std::span<const std::uint8_t, kKeyTableSize>(&r[2], kKeyTableSize));
        break;
    case RPL_DSP_VERSION:
        state_.setDspVersion(replyText(r, kVersionStorage));
        break;
    case RPL_PROTOCOL:
        state_.setProtocol(r[2]);
        break;
    case RPL_MODEL:
        state_.setModel(replyText(r, kModelStorage));
        break;
    case RPL_MCU_VERSION:
        state_.setMcuVersion(replyText(r, kVersionStorage));
        break;
    case RPL_MEM:
        handleMemory(r);
        break;
    case RPL_EXTRA_B:
        store_.setExtraByte(5, r[3]);
        break;
    case RPL_SETTINGS: {
        MachineSettings s{};
        std::copy_n(r.begin() + 2, s.size(), s.begin());
        state_.setReceivedSettings(s);
        break;
    }
    case RPL_MODE_NAME: {
        if (isErasedModeName(r))
            break; // an erased slot keeps the name we have
        const int mode = modeFromNameAddress(readBe16(&r[2]));
        if (mode >= 0)
            state_.modeNames().set(mode, decodeModeName(r));
        break;
    }
    default:
        break;
    }
}

} // namespace q7
