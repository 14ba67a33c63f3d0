// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/report.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace q7 {

std::uint32_t floatBits(float v) {
    return std::bit_cast<std::uint32_t>(v);
}
float bitsFloat(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

std::uint32_t readBe32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void writeBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

std::uint16_t readBe16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}

void writeBe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}

namespace {

Report header(std::uint8_t code) {
    Report r{};
    r[0] = kReportId;
    r[1] = code;
    return r;
}

} // namespace

Report dspWrite(int module, int parameter, std::span<const std::uint32_t> words) {
    Report r = header(CMD_DSP_WRITE);
    const std::size_t n = std::min<std::size_t>(words.size(), kMaxDspWords);
    r[2] = 0x00;
    r[3] = std::uint8_t(module);
    r[4] = std::uint8_t(parameter);
    r[5] = std::uint8_t(n);
    for (std::size_t i = 0; i < n; ++i)
        writeBe32(&r[6 + 4 * i], words[i]);
    return r;
}

Report dspWriteRepeated(int module, int parameter, std::uint32_t word, int count) {
    std::array<std::uint32_t, kMaxDspWords> words{};
    const int n = std::clamp(count, 0, kMaxDspWords);
    std::fill_n(words.begin(), n, word);
    return dspWrite(module, parameter, std::span(words.data(), std::size_t(n)));
}

Report dspRead(int module, int parameter, int count) {
    Report r = header(CMD_DSP_READ);
    r[2] = 0x00;
    r[3] = std::uint8_t(module);
    r[4] = std::uint8_t(parameter);
    r[5] = std::uint8_t(count);
    return r;
}

DspValueReply parseDspValue(const Report& r) {
    DspValueReply v;
    v.status = r[2];
    v.module = r[3];
    v.parameter = r[4];
    v.count = r[5];
    for (int i = 0; i < kMaxDspWords; ++i)
        v.words[i] = readBe32(&r[6 + 4 * i]);
    return v;
}

std::vector<MemWindow> splitMemory(std::uint16_t address, std::size_t length) {
    std::vector<MemWindow> windows;
    std::size_t done = 0;
    while (done < length) {
        const std::size_t n = std::min(kMaxMemWindow, length - done);
        windows.push_back({std::uint16_t(address + done), std::uint8_t(n)});
        done += n;
    }
    return windows;
}

const std::vector<MemWindow>& parameterMemoryWindows() {
    static const std::vector<MemWindow> windows = [] {
        auto w = splitMemory(kBandImageAddress, kBandImageSize);
        w.push_back({kPlanAddress, std::uint8_t(kPlanSize)});
        w.push_back({kSpeakerLevelAddress, std::uint8_t(kSpeakerLevelSize)});
        return w;
    }();
    return windows;
}

Report memWrite(std::uint16_t address, std::span<const std::uint8_t> data) {
    Report r = header(CMD_MEM_WRITE);
    const std::size_t n = std::min(data.size(), kMaxMemWindow);
    writeBe16(&r[2], address);
    r[4] = std::uint8_t(n);
    std::copy_n(data.begin(), n, r.begin() + 5);
    return r;
}

Report memRead(std::uint16_t address, std::uint8_t length) {
    Report r = header(CMD_MEM_READ);
    writeBe16(&r[2], address);
    r[4] = length;
    return r;
}

MemReply parseMem(const Report& r) {
    MemReply m;
    m.address = readBe16(&r[2]);
    m.length = r[4];
    m.available = std::min<std::size_t>(m.length, kReportSize - 5);
    m.data = &r[5];
    return m;
}

int clampMode(int mode) {
    return std::clamp(mode, 0, kModeCount - 1);
}

std::uint16_t modeNameAddress(int mode) {
    return std::uint16_t(kModeNameBase + 64 * clampMode(mode));
}

int modeFromNameAddress(std::uint16_t address) {
    for (int m = 0; m < kModeCount; ++m)
        if (address == modeNameAddress(m))
            return m;
    return -1;
}

Report modeNameWrite(int mode, std::u16string_view name) {
    Report r = header(CMD_MODE_NAME_WRITE);
    writeBe16(&r[2], modeNameAddress(mode));
    r[4] = kModeNameWriteLength;
    const std::size_t n = std::min(name.size(), kMaxModeNameWriteUnits);
    for (std::size_t i = 0; i < n; ++i)
        writeBe16(&r[5 + 2 * i], std::uint16_t(name[i]));
    return r;
}

Report modeNameRead(int mode) {
    Report r = header(CMD_MODE_NAME_READ);
    writeBe16(&r[2], modeNameAddress(mode));
    r[4] = kModeNameReadLength;
    return r;
}

std::u16string decodeModeName(const Report& r) {
    std::u16string name;
    const std::size_t length = r[4];
    for (std::size_t taken = 0; taken < length && 5 + taken + 1 < kReportSize; taken += 2) {
        const std::uint16_t unit = readBe16(&r[5 + taken]);
        if (unit == 0)
            break;
        name.push_back(char16_t(unit));
    }
    return name;
}

bool isErasedModeName(const Report& r) {
    return r[5] == 0xFF && r[6] == 0xFF && r[7] == 0xFF && r[8] == 0xFF;
}

std::uint8_t expectedReplyCode(const Report& request) {
    switch (request[1]) {
    case CMD_MODE_STORE:
    case CMD_MODE_RECALL:
    case CMD_MODE_DEFAULT:
    case CMD_GET_MODE:
        return RPL_MODE;
    case CMD_DSP_WRITE:
        return RPL_DSP_ACK;
    case CMD_DSP_READ:
        return RPL_DSP_VALUE;
    case CMD_SET_SOURCE:
    case CMD_GET_SOURCE:
        return RPL_SOURCE;
    case CMD_GET_LEVELS:
        return RPL_LEVELS;
    case CMD_SET_HDMI:
    case CMD_GET_HDMI:
        return RPL_HDMI;
    case CMD_SET_KEY_TABLE:
        return RPL_KEY_TABLE;
    case CMD_GET_DSP_VERSION:
        return RPL_DSP_VERSION;
    case CMD_GET_PROTOCOL:
        return RPL_PROTOCOL;
    case CMD_GET_MODEL:
        return RPL_MODEL;
    case CMD_GET_MCU_VERSION:
        return RPL_MCU_VERSION;
    case CMD_MEM_READ:
        return RPL_MEM;
    case CMD_GET_SETTINGS:
        return RPL_SETTINGS;
    case CMD_MODE_NAME_READ:
        return RPL_MODE_NAME;
    default:
        return 0;
    }
}

bool answers(const Report& request, const Report& reply) {
    const std::uint8_t code = expectedReplyCode(request);
    if (code == 0 || reply[1] != code)
        return false;
    switch (code) {
    case RPL_DSP_VALUE:
        return reply[3] == request[3] && reply[4] == request[4];
    case RPL_MEM:
    case RPL_MODE_NAME:
        return reply[2] == request[2] && reply[3] == request[3];
    default:
        return true;
    }
}

bool isUnsolicitedReply(std::uint8_t code) {
    return code == RPL_TUNNEL || code == RPL_KEY_LEARNED || code == RPL_EXTRA_A ||
           code == RPL_EXTRA_B;
}

bool isDecodedReply(std::uint8_t code) {
    switch (code) {
    case RPL_MODE:
    case RPL_DSP_ACK:
    case RPL_DSP_VALUE:
    case RPL_SOURCE:
    case RPL_LEVELS:
    case RPL_HDMI:
    case RPL_TUNNEL:
    case RPL_EXTRA_A:
    case RPL_KEY_LEARNED:
    case RPL_KEY_TABLE:
    case RPL_DSP_VERSION:
    case RPL_PROTOCOL:
    case RPL_MODEL:
    case RPL_MCU_VERSION:
    case RPL_MEM:
    case RPL_EXTRA_B:
    case RPL_SETTINGS:
    case RPL_MODE_NAME:
        return true;
    default:
        return false;
    }
}

std::string replyText(const Report& r, std::size_t maxChars) {
    std::string text;
    for (std::size_t i = 2; i < kReportSize && text.size() < maxChars && r[i] != 0; ++i)
        text.push_back(char(r[i]));
    return text;
}

std::uint8_t tunnelChecksum(std::span<const std::uint8_t> covered) {
    std::uint8_t sum = 0xFF;
    for (std::uint8_t b : covered)
        sum ^= b;
    return sum;
}

std::vector<std::uint8_t> makeTunnelPacket(std::uint8_t kind,
                                           std::span<const std::uint8_t> message) {
    const std::size_t n = std::min(message.size(), kMaxTunnelMessage);
    std::vector<std::uint8_t> p(n + 4);
    p[0] = kind;
    p[1] = std::uint8_t(n + 2);
    p[2] = 0x00;
    std::copy_n(message.begin(), n, p.begin() + 3);
    p[n + 3] = tunnelChecksum(std::span(p).subspan(1, n + 2));
    return p;
}

Report tunnelReport(std::span<const std::uint8_t> packet) {
    Report r = header(CMD_TUNNEL);
    const std::size_t n = std::min(packet.size(), kReportSize - 3);
    r[2] = std::uint8_t(n);
    std::copy_n(packet.begin(), n, r.begin() + 3);
    return r;
}

Report tunnelAcknowledgement() {
    return shortCommand(CMD_TUNNEL, 0x01, 0x06);
}

std::optional<std::vector<std::uint8_t>> parseTunnelMessage(const Report& r) {
    const std::size_t packetLength = r[2];
    if (packetLength < 4 || 3 + packetLength > kReportSize)
        return std::nullopt;
    const std::uint8_t* p = &r[3];
    const std::size_t n = packetLength - 4;
    if (p[1] != n + 2 || p[2] != 0x00)
        return std::nullopt;
    if (tunnelChecksum(std::span(p + 1, n + 2)) != p[n + 3])
        return std::nullopt;
    return std::vector<std::uint8_t>(p + 3, p + 3 + n);
}

LevelReport LevelReport::fromReport(const Report& r) {
    LevelReport l;
    std::copy_n(r.begin() + 2, l.bytes.size(), l.bytes.begin());
    return l;
}

std::array<std::uint8_t, 6> LevelReport::meters() const {
    return {bytes[4], bytes[5], bytes[0], bytes[1], bytes[2], bytes[3]};
}

AudioFormat LevelReport::format() const {
    const std::uint8_t status = bytes[7];
    if (status & 0x01)
        return AudioFormat::Dolby;
    if (status & 0x02)
        return AudioFormat::Dts;
    if (status & 0x04)
        return AudioFormat::Lpcm;
    return AudioFormat::Stereo;
}

const char* audioFormatName(AudioFormat f) {
    switch (f) {
    case AudioFormat::Dolby:
        return "Dolby";
    case AudioFormat::Dts:
        return "DTS";
    case AudioFormat::Lpcm:
        return "LPCM";
    case AudioFormat::Stereo:
        break;
    }
    return "Stereo";
}

Report setSettings(std::span<const std::uint8_t, kSettingsSize> record) {
    Report r = header(CMD_SET_SETTINGS);
    std::copy(record.begin(), record.end(), r.begin() + 2);
    return r;
}

Report setKeyTable(std::span<const std::uint8_t, kKeyTableSize> table) {
    Report r = header(CMD_SET_KEY_TABLE);
    std::copy(table.begin(), table.end(), r.begin() + 2);
    return r;
}

} // namespace q7
