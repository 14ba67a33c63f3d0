// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/store.h"

#include "params/codec.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace q7 {

namespace {

std::uint16_t saturate16(double v) {
    if (!(v > 0.0))
        return 0;
    if (v >= 65535.0)
        return 65535;
    return std::uint16_t(int(v));
}

constexpr std::array<EqGroup, 9> kGroups = {{
    {1, 0, 30, 30},
    {2, 210, 14, 14},
    {3, 308, 14, 14},
    {4, 406, 15, 15},
    {5, 511, 28, 10},
    {6, 707, 14, 10},
    {7, 805, 12, 10},
    {8, 889, 22, 20},
    {9, 1043, 14, 10},
}};

std::size_t copyInto(std::span<std::uint8_t> target, std::size_t offset,
                     std::span<const std::uint8_t> bytes) {
    if (offset >= target.size())
        return 0;
    const std::size_t n = std::min(bytes.size(), target.size() - offset);
    std::copy_n(bytes.begin(), n, target.begin() + offset);
    return n;
}

} // namespace

BandRecord BandRecord::encode(int type, double gainDb, double frequencyHz, double q) {
    BandRecord r;
    r.gain = saturate16((gainDb + 0.05 + 15.0) * 10.0);
    r.frequency = saturate16(frequencyHz);
    r.q = saturate16(q * 1000.0);
    r.type = std::uint8_t(type);
    return r;
}

BandRecord BandRecord::fromBytes(const std::uint8_t* p) {
    BandRecord r;
    r.gain = readBe16(p);
    r.frequency = readBe16(p + 2);
    r.q = readBe16(p + 4);
    r.type = p[6];
    return r;
}

void BandRecord::toBytes(std::uint8_t* p) const {
    writeBe16(p, gain);
    writeBe16(p + 2, frequency);
    writeBe16(p + 4, q);
    p[6] = type;
}

std::array<std::uint8_t, kBandRecordSize> BandRecord::bytes() const {
    std::array<std::uint8_t, kBandRecordSize> b{};
    toBytes(b.data());
    return b;
}

const std::array<EqGroup, 9>& eqGroups() {
    return kGroups;
}

const EqGroup* eqGroup(int group) {
    if (group < 1 || group > 9)
        return nullptr;
    return &kGroups[std::size_t(group - 1)];
}

int bandOffset(int group, int record) {
    const EqGroup* g = eqGroup(group);
    if (!g || record < 0 || record >= g->records)
        return -1;
    return g->offset + int(kBandRecordSize) * record;
}

ParameterStore::ParameterStore() {
    band_ = startBandImage();
}

std::uint32_t ParameterStore::cellBits(int i) const {
    if (i < 0 || i >= kCellCount)
        return 0;
    return cells_[std::size_t(i)].load(std::memory_order_relaxed);
}

void ParameterStore::setCellBits(int i, std::uint32_t bits) {
    if (i < 0 || i >= kCellCount)
        return;
    cells_[std::size_t(i)].store(bits, std::memory_order_relaxed);
}

std::uint8_t ParameterStore::cellByte(int byteIndex) const {
    if (byteIndex < 0 || byteIndex >= kCellCount * 4)
        return 0;
    return std::uint8_t(cellBits(byteIndex / 4) >> (8 * (byteIndex % 4)));
}

void ParameterStore::setCellByte(int byteIndex, std::uint8_t v) {
    if (byteIndex < 0 || byteIndex >= kCellCount * 4)
        return;
    auto& c = cells_[std::size_t(byteIndex / 4)];
    const int shift = 8 * (byteIndex % 4);
    const std::uint32_t mask = ~(0xFFu << shift);
    std::uint32_t old = c.load(std::memory_order_relaxed);
    while (!c.compare_exchange_weak(old, (old & mask) | (std::uint32_t(v) << shift),
                                    std::memory_order_relaxed)) {
    }
}

KeyTable ParameterStore::keyTable() const {
    KeyTable t{};
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = cellByte(int(cell::KeyTable * 4 + i));
    return t;
}

void ParameterStore::setKeyTable(std::span<const std::uint8_t, kKeyTableSize> table) {
    for (std::size_t i = 0; i < table.size(); ++i)
        setCellByte(int(cell::KeyTable * 4 + i), table[i]);
}

std::array<std::uint8_t, kLevelReportSize> ParameterStore::levelReport() const {
    std::array<std::uint8_t, kLevelReportSize> b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = cellByte(int(cell::LevelReport * 4 + i));
    return b;
}

void ParameterStore::setLevelReport(std::span<const std::uint8_t, kLevelReportSize> bytes) {
    for (int c = 0; c < 2; ++c) {
        const std::uint8_t* p = &bytes[std::size_t(4 * c)];
        setCellBits(cell::LevelReport + c, std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                               std::uint32_t(p[2]) << 16 |
                                               std::uint32_t(p[3]) << 24);
    }
}

void ParameterStore::clearLevelReport() {
    setCellBits(cell::LevelReport, 0);
    setCellBits(cell::LevelReport + 1, 0);
}

BandImage ParameterStore::bandImage() const {
    std::lock_guard lock(blocks_);
    return band_;
}

void ParameterStore::setBandImage(const BandImage& image) {
    std::lock_guard lock(blocks_);
    band_ = image;
}

BandRecord ParameterStore::band(int group, int record) const {
    const int offset = bandOffset(group, record);
    if (offset < 0)
        return BandRecord{0, 0, 0, 0};
    std::lock_guard lock(blocks_);
    return BandRecord::fromBytes(&band_[std::size_t(offset)]);
}

bool ParameterStore::setBand(int group, int record, const BandRecord& r) {
    const int offset = bandOffset(group, record);
    if (offset < 0)
        return false;
    std::lock_guard lock(blocks_);
    r.toBytes(&band_[std::size_t(offset)]);
    return true;
}

std::size_t ParameterStore::writeBandImage(std::size_t offset,
                                           std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(blocks_);
    return copyInto(band_, offset, bytes);
}

void ParameterStore::clearBandImage() {
    std::lock_guard lock(blocks_);
    band_.fill(0);
}

void ParameterStore::resetBandImage() {
    const BandImage start = startBandImage();
    std::lock_guard lock(blocks_);
    band_ = start;
}

// What a new amplifier holds (998 Hz, the split filters after the EQ bands), not the layout an EQ
// reset writes (Dsp::resetGroupEq): an untouched amplifier reads so.
BandImage ParameterStore::startBandImage() {
    BandImage image{};
    constexpr std::uint16_t q1414 = 1414, q707 = 707;
    auto put = [&image](int group, int record, std::uint16_t hz, std::uint16_t q, int type) {
        const int offset = bandOffset(group, record);
        BandRecord{150, hz, q, std::uint8_t(type)}.toBytes(&image[std::size_t(offset)]);
    };
    auto fill = [&](int group, int first, std::initializer_list<std::uint16_t> hz) {
        int r = first;
        for (std::uint16_t f : hz)
            put(group, r++, f, q1414, filter::Peq);
    };
    auto splitPair = [&](int group, int first) {
        put(group, first, 500, q707, filter::HighPass);
        put(group, first + 1, 1000, q707, filter::LowPass);
    };

    const std::initializer_list<std::uint16_t> fifteen = {
        25, 40, 63, 100, 160, 250, 400, 630, 998, 1600, 2500, 4000, 6300, 10000, 16000};
    for (auto [group, first] : {std::pair{1, 0}, std::pair{1, 15}, std::pair{4, 0}}) {
        fill(group, first, fifteen);
        put(group, first + 7, 630, q707, filter::LowShelf);
        put(group, first + 10, 2500, q707, filter::HighShelf);
    }
    for (int group : {2, 3})
        for (int first : {0, 7})
            fill(group, first, {31, 62, 125, 250, 500, 1000, 2000});

    fill(5, 0, {25,   36,   50,   75,   100,  150,  200,  260,  360,  485,   630,   860,
                1088, 1396, 1680, 2160, 2800, 3586, 5096, 6868, 8288, 11010, 14566, 20000});
    splitPair(5, 24);
    splitPair(5, 26);

    const std::initializer_list<std::uint16_t> ten = {31,   62,   125,  250,  500,
                                                      1000, 2000, 4000, 8000, 16000};
    for (int group : {6, 9}) {
        fill(group, 0, ten);
        splitPair(group, 10);
        splitPair(group, 12);
    }
    fill(7, 0, ten);
    splitPair(7, 10);

    fill(8, 0, {20, 20, 20, 20, 31, 31, 31});
    put(8, 7, 31, q707, filter::Peq);
    put(8, 8, 40, q707, filter::Peq);
    put(8, 9, 40, q707, filter::Peq);
    fill(8, 10, {40, 40, 62, 62, 62, 62});
    put(8, 16, 100, q1414, 18);
    put(8, 17, 100, q707, 20);
    put(8, 18, 100, q707, filter::Peq);
    put(8, 19, 100, q707, filter::Peq);
    splitPair(8, 20);
    return image;
}

PlanBlock ParameterStore::planBlock() const {
    std::lock_guard lock(blocks_);
    return plan_;
}

std::size_t ParameterStore::writePlanBlock(std::size_t offset,
                                           std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(blocks_);
    const std::size_t n = copyInto(plan_, offset, bytes);
    decodePlanLocked();
    return n;
}

void ParameterStore::decodePlanBlock() {
    std::lock_guard lock(blocks_);
    decodePlanLocked();
}

void ParameterStore::decodePlanLocked() {
    setCellInt(cell::RoomWidth, plan_[0]);
    setCellInt(cell::RoomLength, plan_[1]);
    setCellFloat(cell::ListenerX, codec::tenthsValue(plan_[2]));
    setCellFloat(cell::ListenerY, codec::tenthsValue(plan_[3]));
    for (int k = 0; k < kSpeakerCount; ++k) {
        setCellFloat(cell::SpeakerX + k, codec::tenthsValue(plan_[std::size_t(4 + 2 * k)]));
        setCellFloat(cell::SpeakerY + k, codec::tenthsValue(plan_[std::size_t(5 + 2 * k)]));
    }
}

PlanBlock ParameterStore::encodePlanBlock() {
    PlanBlock p{};
    p[0] = std::uint8_t(cellInt(cell::RoomWidth));
    p[1] = std::uint8_t(cellInt(cell::RoomLength));
    p[2] = codec::tenthsByte(cellFloat(cell::ListenerX));
    p[3] = codec::tenthsByte(cellFloat(cell::ListenerY));
    for (int k = 0; k < kSpeakerCount; ++k) {
        p[std::size_t(4 + 2 * k)] = codec::tenthsByte(cellFloat(cell::SpeakerX + k));
        p[std::size_t(5 + 2 * k)] = codec::tenthsByte(cellFloat(cell::SpeakerY + k));
    }
    std::lock_guard lock(blocks_);
    plan_ = p;
    return p;
}

SpeakerLevelBlock ParameterStore::speakerLevelBlock() const {
    std::lock_guard lock(blocks_);
    return levels_;
}

std::size_t ParameterStore::writeSpeakerLevelBlock(std::size_t offset,
                                                   std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(blocks_);
    return copyInto(levels_, offset, bytes);
}

float ParameterStore::speakerLevelSlot(int slot) const {
    if (slot < 0 || slot >= kSpeakerCount)
        return 0.0f;
    std::lock_guard lock(blocks_);
    return bitsFloat(readBe32(&levels_[std::size_t(4 * slot)]));
}

void ParameterStore::setSpeakerLevelSlot(int slot, float db) {
    if (slot < 0 || slot >= kSpeakerCount)
        return;
    std::lock_guard lock(blocks_);
    writeBe32(&levels_[std::size_t(4 * slot)], floatBits(db));
}

ExtraBlock ParameterStore::extraBlock() const {
    std::lock_guard lock(blocks_);
    return extra_;
}

void ParameterStore::setExtraByte(std::size_t index, std::uint8_t v) {
    if (index >= kExtraSize)
        return;
    std::lock_guard lock(blocks_);
    extra_[index] = v;
}

ModeImage ParameterStore::modeImage() const {
    ModeImage m;
    for (int i = 0; i < kCellCount; ++i)
        m.cells[std::size_t(i)] = cellBits(i);
    std::lock_guard lock(blocks_);
    m.bandImage = band_;
    m.extra = extra_;
    m.speakerLevels = levels_;
    m.plan = plan_;
    return m;
}

void ParameterStore::applyModeImage(const ModeImage& image) {
    const int first = std::max(0, image.firstCell);
    const int last = std::min(kCellCount - 1, image.lastCell);
    for (int i = first; i <= last; ++i)
        setCellBits(i, image.cells[std::size_t(i)]);
    std::lock_guard lock(blocks_);
    band_ = image.bandImage;
    extra_ = image.extra;
    levels_ = image.speakerLevels;
    plan_ = image.plan;
    decodePlanLocked();
}

} // namespace q7
