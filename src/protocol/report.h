// SPDX-License-Identifier: GPL-3.0-or-later
// The 61-byte report exchanged with the amplifier in both directions, its command and reply
// codes, and pure builders and parsers. Nothing here touches a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace q7 {

inline constexpr std::size_t kReportSize = 61;
inline constexpr std::uint8_t kReportId = 0x02;

using Report = std::array<std::uint8_t, kReportSize>;

// Editor to amplifier.
enum Command : std::uint8_t {
    CMD_MODE_PREPARE = 0x03,
    CMD_MODE_STORE = 0x04,
    CMD_MODE_RECALL = 0x05,
    CMD_MODE_DEFAULT = 0x06,
    CMD_GET_MODE = 0x07,
    CMD_DSP_WRITE = 0x09,
    CMD_DSP_READ = 0x0A,
    CMD_SET_SOURCE = 0x0B,
    CMD_GET_SOURCE = 0x0C,
    CMD_GET_LEVELS = 0x0E,
    CMD_MIC_PAIR = 0x0F,
    CMD_SET_HDMI = 0x10,
    CMD_GET_HDMI = 0x11,
    CMD_TUNNEL = 0x12,
    CMD_LEARN_KEY = 0x60,
    CMD_LEARN_CANCEL = 0x61,
    CMD_SET_KEY_TABLE = 0x63,
    CMD_RESET_MACHINE = 0x68,
    CMD_GET_DSP_VERSION = 0x7E,
    CMD_GET_PROTOCOL = 0x7F,
    CMD_GET_MODEL = 0x80,
    CMD_GET_MCU_VERSION = 0x81,
    CMD_MEM_WRITE = 0x85,
    CMD_MEM_READ = 0x86,
    CMD_CLOSE = 0x8A,
    CMD_SET_SETTINGS = 0x91,
    CMD_GET_SETTINGS = 0x92,
    CMD_MODE_NAME_WRITE = 0xDA,
    CMD_MODE_NAME_READ = 0xDB,
};

// Amplifier to editor.
enum ReplyCode : std::uint8_t {
    RPL_MODE = 0x07,
    RPL_DSP_ACK = 0x09,
    RPL_DSP_VALUE = 0x0A,
    RPL_SOURCE = 0x0C,
    RPL_LEVELS = 0x0E,
    RPL_HDMI = 0x11,
    RPL_TUNNEL = 0x12,
    RPL_EXTRA_A = 0x20,
    RPL_KEY_LEARNED = 0x60,
    RPL_KEY_TABLE = 0x62,
    RPL_DSP_VERSION = 0x7E,
    RPL_PROTOCOL = 0x7F,
    RPL_MODEL = 0x80,
    RPL_MCU_VERSION = 0x81,
    RPL_MEM = 0x86,
    RPL_EXTRA_B = 0x8F,
    RPL_SETTINGS = 0x92,
    RPL_MODE_NAME = 0xDB,
};

// ---- which report answers which request ----

// The reply code a request is answered with; 0 when the editor relies on no specific reply.
std::uint8_t expectedReplyCode(const Report& request);
// Whether `reply` is the answer to `request`: its code, and where the reply repeats them, the
// module and parameter, the memory address or the name slot asked for.
bool answers(const Report& request, const Report& reply);
// Codes the amplifier sends of its own accord (tunnel messages, learned keys, the extra block).
bool isUnsolicitedReply(std::uint8_t code);
// Codes whose contents the editor takes into its store or identity.
bool isDecodedReply(std::uint8_t code);

// ---- big-endian fields and IEEE singles ----

std::uint32_t floatBits(float v);
float bitsFloat(std::uint32_t bits);
std::uint32_t readBe32(const std::uint8_t* p);
void writeBe32(std::uint8_t* p, std::uint32_t v);
std::uint16_t readBe16(const std::uint8_t* p);
void writeBe16(std::uint8_t* p, std::uint16_t v);

// ---- short commands ----

inline constexpr std::size_t kMaxShortPayload = kReportSize - 2; // bytes 2..60

// A command with up to 59 single-byte payload values; each value contributes its low byte.
// (<type_traits> rather than <concepts>: Qt's moc cannot read the latter.)
template <typename... Values>
requires((std::is_integral_v<Values> && ...) && sizeof...(Values) <= kMaxShortPayload) Report
    shortCommand(Command code, Values... payload) {
    Report r{};
    r[0] = kReportId;
    r[1] = code;
    std::size_t i = 2;
    ((r[i++] = static_cast<std::uint8_t>(payload & 0xFF)), ...);
    return r;
}

// ---- DSP access ----

inline constexpr int kMaxDspWords = 13;

// A CMD_DSP_WRITE carrying the given words (at most 13; more are not representable and are cut).
Report dspWrite(int module, int parameter, std::span<const std::uint32_t> words);
// A CMD_DSP_WRITE carrying `count` copies of one word.
Report dspWriteRepeated(int module, int parameter, std::uint32_t word, int count);
Report dspRead(int module, int parameter, int count);

// Fields of a RPL_DSP_VALUE (or of a CMD_DSP_WRITE, which shares the layout).
struct DspValueReply {
    std::uint8_t status = 0;
    std::uint8_t module = 0;
    std::uint8_t parameter = 0;
    std::uint8_t count = 0;
    // Words from bytes 6 + 4i; the report holds 13 of them whatever the count byte says.
    std::array<std::uint32_t, kMaxDspWords> words{};
};
DspValueReply parseDspValue(const Report& r);

// ---- parameter memory ----

inline constexpr std::size_t kMaxMemWindow = 56;
inline constexpr std::uint16_t kBandImageAddress = 0;
inline constexpr std::uint16_t kBandImageSize = 1141;
inline constexpr std::uint16_t kPlanAddress = 1141;
inline constexpr std::uint16_t kPlanSize = 20;
inline constexpr std::uint16_t kSpeakerLevelAddress = 1161;
inline constexpr std::uint16_t kSpeakerLevelSize = 32;

struct MemWindow {
    std::uint16_t address;
    std::uint8_t length;
    bool operator==(const MemWindow&) const = default;
};

// Consecutive windows of at most 56 bytes covering [address, address + length).
std::vector<MemWindow> splitMemory(std::uint16_t address, std::size_t length);
// The 21 band-image windows, then 20 bytes at 1141 and 32 at 1161.
const std::vector<MemWindow>& parameterMemoryWindows();

// CMD_MEM_WRITE of up to 56 bytes (longer data is cut to 56).
Report memWrite(std::uint16_t address, std::span<const std::uint8_t> data);
Report memRead(std::uint16_t address, std::uint8_t length);

struct MemReply {
    std::uint16_t address = 0;
    std::uint8_t length = 0;   // as reported
    std::size_t available = 0; // data bytes the report actually holds, min(length, 56)
    const std::uint8_t* data = nullptr;
};
MemReply parseMem(const Report& r);

// ---- device mode names ----

inline constexpr int kModeCount = 4;
inline constexpr std::uint16_t kModeNameBase = 0x0F00;
inline constexpr std::uint8_t kModeNameWriteLength = 44;
inline constexpr std::uint8_t kModeNameReadLength = 40;
inline constexpr std::size_t kMaxModeNameWriteUnits = kModeNameWriteLength / 2;

int clampMode(int mode);
std::uint16_t modeNameAddress(int mode);
// -1 unless the address is one of the four name slots.
int modeFromNameAddress(std::uint16_t address);
// The name's first 22 units go out big-endian from byte 5; byte 4 is always 44.
Report modeNameWrite(int mode, std::u16string_view name);
Report modeNameRead(int mode);
// Units from byte 5 while fewer than L bytes were taken, up to the first zero unit, never past
// the report's end.
std::u16string decodeModeName(const Report& r);
bool isErasedModeName(const Report& r);

// ---- text replies ----

// Bytes from byte 2 up to the first 0x00 (or the report's end), at most maxChars of them.
std::string replyText(const Report& r, std::size_t maxChars);

// ---- tunnel packets ----

inline constexpr std::uint8_t kTunnelMessage = 0x01;
inline constexpr std::uint8_t kTunnelAck = 0x06;
inline constexpr std::size_t kMaxTunnelMessage = 54;

// 0xFF XOR every covered byte; a packet's checksum covers its bytes 1 .. N + 2 (the length byte,
// the 0x00 byte and the message).
std::uint8_t tunnelChecksum(std::span<const std::uint8_t> covered);
// Packet of N + 4 bytes for an N-byte message (N at most 54).
std::vector<std::uint8_t> makeTunnelPacket(std::uint8_t kind,
                                           std::span<const std::uint8_t> message);
// A RPL_TUNNEL/CMD_TUNNEL report carrying the packet.
Report tunnelReport(std::span<const std::uint8_t> packet);
// The fixed acknowledgement the editor sends for every received tunnel message.
Report tunnelAcknowledgement();
// The message bytes of a well-formed tunnel report whose checksum matches; nothing otherwise.
std::optional<std::vector<std::uint8_t>> parseTunnelMessage(const Report& r);

// ---- level report ----

enum class AudioFormat { Stereo, Dolby, Dts, Lpcm };

struct LevelReport {
    std::array<std::uint8_t, 8> bytes{}; // report bytes 2..9
    static LevelReport fromReport(const Report& r);
    // The six meter values in the order the music page feeds its meters: bytes 6, 7, 2, 3, 4, 5.
    std::array<std::uint8_t, 6> meters() const;
    AudioFormat format() const;
    bool indicatorA() const { return (bytes[7] & 0x10) != 0; }
    bool indicatorB() const { return (bytes[7] & 0x20) != 0; }
};

const char* audioFormatName(AudioFormat f);

// ---- machine settings and key table ----

inline constexpr std::size_t kSettingsSize = 10;
inline constexpr std::size_t kKeyTableSize = 16;

Report setSettings(std::span<const std::uint8_t, kSettingsSize> record);
Report setKeyTable(std::span<const std::uint8_t, kKeyTableSize> table);

} // namespace q7
