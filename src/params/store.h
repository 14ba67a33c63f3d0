// SPDX-License-Identifier: GPL-3.0-or-later
// ParameterStore: the one record of every amplifier parameter the editor knows.
//
// It is shared by the GUI thread, the read thread and the transfer workers. Cells are atomics;
// the byte blocks sit behind one short lock and are copied in and out, so no access is a race.
#pragma once

#include "protocol/report.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

namespace q7 {

inline constexpr int kCellCount = 176;
inline constexpr int kSavedFirstCell = 26;
inline constexpr int kSavedLastCell = 172;
inline constexpr std::size_t kExtraSize = 6;
inline constexpr std::size_t kLevelReportSize = 8;
inline constexpr std::size_t kBandRecordSize = 7;
inline constexpr int kBandRecordCount = 163;
inline constexpr int kSpeakerCount = 8;

// Cells with a meaning outside the DSP tables.
namespace cell {
inline constexpr int KeyTable = 0;  // cells 0..3: the 16-byte remote key table
inline constexpr int SpeakerY = 4;  // 4..11: y of speakers 1..8
inline constexpr int SpeakerX = 12; // 12..19: x of speakers 1..8
inline constexpr int ListenerY = 20;
inline constexpr int ListenerX = 21;
inline constexpr int RoomLength = 22;
inline constexpr int RoomWidth = 23;
inline constexpr int CurrentMode = 25;
inline constexpr int MicVolume = 26;
inline constexpr int MusicVolume = 85;
inline constexpr int MusicMute = 86;
inline constexpr int MusicPitch = 88;
inline constexpr int MusicAgcOn = 171;
inline constexpr int MusicAgcLevel = 172;
inline constexpr int MusicSource = 173;
inline constexpr int LevelReport = 174; // 174..175: the last level report, 8 bytes
} // namespace cell

// Filter type codes of a band record.
namespace filter {
inline constexpr int Off = 0;
inline constexpr int Peq = 1;
inline constexpr int LowPass = 2;
inline constexpr int HighPass = 3;
inline constexpr int LowShelf = 4;
inline constexpr int HighShelf = 5;
} // namespace filter

// 7 bytes, big-endian: gain as (dB + 15) x 10, frequency in Hz, Q x 1000, then the type byte.
struct BandRecord {
    std::uint16_t gain = 150;
    std::uint16_t frequency = 0;
    std::uint16_t q = 0;
    std::uint8_t type = 0;

    // Truncating encoders; out-of-range fields saturate to 0..65535 instead of wrapping.
    static BandRecord encode(int type, double gainDb, double frequencyHz, double q);
    static BandRecord fromBytes(const std::uint8_t* p);
    void toBytes(std::uint8_t* p) const;
    std::array<std::uint8_t, kBandRecordSize> bytes() const;

    double gainDb() const { return gain / 10.0 - 15.0; }
    double qValue() const { return q / 1000.0; }
    bool operator==(const BandRecord&) const = default;
};

struct EqGroup {
    int group;   // 1..9, also the DSP module taking the coefficients
    int offset;  // byte offset in the band image
    int records; // records in the group
    int pushed;  // records, from 0, that the full download's EQ push designs and sends
};

const std::array<EqGroup, 9>& eqGroups();
// Null for a group outside 1..9.
const EqGroup* eqGroup(int group);
// Byte offset of a record, or -1 when the group or record does not exist.
int bandOffset(int group, int record);

// The speaker plan of the location page as the amplifier keeps it.
using PlanBlock = std::array<std::uint8_t, kPlanSize>;
using SpeakerLevelBlock = std::array<std::uint8_t, kSpeakerLevelSize>;
using BandImage = std::array<std::uint8_t, kBandImageSize>;
using ExtraBlock = std::array<std::uint8_t, kExtraSize>;
using KeyTable = std::array<std::uint8_t, kKeyTableSize>;

// Everything a mode file replaces, gathered before it is applied so that a load is all or
// nothing.
struct ModeImage {
    int firstCell = kSavedFirstCell;
    int lastCell = kSavedLastCell; // inclusive
    std::array<std::uint32_t, kCellCount> cells{};
    BandImage bandImage{};
    ExtraBlock extra{};
    SpeakerLevelBlock speakerLevels{};
    PlanBlock plan{};
};

class ParameterStore {
public:
    ParameterStore(); // cells zero, band image at its start values

    ParameterStore(const ParameterStore&) = delete;
    ParameterStore& operator=(const ParameterStore&) = delete;

    // ---- cells (out-of-range indexes read as 0 and are not written) ----
    std::uint32_t cellBits(int i) const;
    void setCellBits(int i, std::uint32_t bits);
    std::int32_t cellInt(int i) const { return std::int32_t(cellBits(i)); }
    void setCellInt(int i, std::int32_t v) { setCellBits(i, std::uint32_t(v)); }
    float cellFloat(int i) const { return bitsFloat(cellBits(i)); }
    void setCellFloat(int i, float v) { setCellBits(i, floatBits(v)); }

    // Byte views of cells, in the machine's little-endian order (key table, level report).
    std::uint8_t cellByte(int byteIndex) const;
    void setCellByte(int byteIndex, std::uint8_t v);

    KeyTable keyTable() const;
    void setKeyTable(std::span<const std::uint8_t, kKeyTableSize> table);
    std::array<std::uint8_t, kLevelReportSize> levelReport() const;
    void setLevelReport(std::span<const std::uint8_t, kLevelReportSize> bytes);
    void clearLevelReport();

    // ---- band image ----
    BandImage bandImage() const;
    void setBandImage(const BandImage& image);
    BandRecord band(int group, int record) const;             // zero record when out of range
    bool setBand(int group, int record, const BandRecord& r); // false when out of range
    // Copies bytes into the band image at offset; bytes past its end are dropped.
    std::size_t writeBandImage(std::size_t offset, std::span<const std::uint8_t> bytes);
    void clearBandImage();
    void resetBandImage();
    static BandImage startBandImage();

    // ---- plan block ----
    PlanBlock planBlock() const;
    std::size_t writePlanBlock(std::size_t offset, std::span<const std::uint8_t> bytes);
    // Fills cells 4..23 from the plan block.
    void decodePlanBlock();
    // Fills the plan block from cells 4..23 and returns it.
    PlanBlock encodePlanBlock();

    // ---- speaker level block ----
    SpeakerLevelBlock speakerLevelBlock() const;
    std::size_t writeSpeakerLevelBlock(std::size_t offset, std::span<const std::uint8_t> bytes);
    float speakerLevelSlot(int slot) const;
    void setSpeakerLevelSlot(int slot, float db);

    // ---- extra block ----
    ExtraBlock extraBlock() const;
    void setExtraByte(std::size_t index, std::uint8_t v);

    // ---- parameters-changed flag ----
    bool parametersChanged() const { return changed_.load(); }
    void setParametersChanged(bool v) { changed_.store(v); }

    // ---- mode file image ----
    ModeImage modeImage() const;
    // Replaces the cells image.firstCell..lastCell and the four blocks, then decodes the plan.
    void applyModeImage(const ModeImage& image);

private:
    std::array<std::atomic<std::uint32_t>, kCellCount> cells_{};
    mutable std::mutex blocks_;
    BandImage band_{};
    PlanBlock plan_{};
    SpeakerLevelBlock levels_{};
    ExtraBlock extra_{};
    std::atomic<bool> changed_{false};

    void decodePlanLocked();
};

} // namespace q7
