// SPDX-License-Identifier: GPL-3.0-or-later
// The names of everything a mode file holds, in the user's terms: one entry per saved cell, per
// field of every band record, per plan byte, per speaker level slot and per extra byte, with
// the texts the pages show, the unit, the page's range and how the stored value reads.
//
// Machine ids are dotted lower-case words; a physical unit ends the last word (_ms, _db, _hz,
// _m), levels and percentages have none:
//   cells      mic.volume, mic.port.2.to_a, mic.a.shift.freq_hz, echo.b.predelay.first_ms,
//              reverb.a.time_ms, music.agc.level_db, main.mix.music, main.comp.threshold_db,
//              rear.l.delay_ms, rear.l.delay.on, center.delay.mode, top.mute, sub.eq.bypass
//   bands      <bank>.eq.<band>.<field> with bank mic.a, mic.b, echo.a, echo.b, reverb.a,
//              reverb.b, music, main, rear, center, sub, top and the band numbered from 1 as
//              the band list shows it (sub.eq.2.gain_db); the Sub's hidden sections are
//              sub.eq.<band>.section.<1..3>.<field>; the delay page's split filter pairs are
//              <channel>.xover.hp / .lp (main.l.xover.hp.freq_hz, center.xover.lp.q)
//   fields     type, gain_db, freq_hz, q
//   plan       location.room.width_m, location.room.length_m, location.listener.x_m / y_m,
//              location.speaker.<1..8>.x_m / y_m
//   levels     location.speaker.<1..8>.level_db
//   extra      extra.<0..5>
// Speakers are numbered 1 main L, 2 center, 3 main R, 4 rear L, 5 sub, 6 rear R, 7 top L,
// 8 top R, in the plan and the levels alike.
#pragma once

#include "params/store.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

enum class ParamPlace : std::uint8_t { Cell, Band, Plan, SpeakerLevel, Extra };
enum class BandField : std::uint8_t { Type, GainDb, FreqHz, Q };

// How the stored bits read as a number.
enum class ParamStorage : std::uint8_t {
    Int32,
    Float32,       // an IEEE single (float cells; the big-endian speaker levels)
    Unsigned,      // band fields, room sizes, extra bytes
    SignMagnitude, // plan positions: tenths of a metre, bit 7 the sign
};

// How the user sees the value.
enum class ValueKind : std::uint8_t {
    Number,     // user = (stored x mul + add) / div, printed with decimals and the unit
    Ratio,      // a Number printed as "4.0:1"
    OnOff,      // non-zero is on (1)
    OnWhenZero, // zero is on (1): the pages show off flags and the phase cells negated
    DelayMode,  // 0 High Freq, anything else Channel (1)
    Shift,      // mic shift in Hz; 0 and 1 mean off
    FilterType, // band type code
    Hex,        // an opaque byte
};

struct ParamInfo {
    std::string id;
    std::string nameZh, nameEn;   // "前置左 延时" / "Main L Delay"; for a band field, the band
    std::string fieldZh, fieldEn; // a band field: "增益" / "gain"; empty otherwise
    std::string unit;             // "dB", "ms", "Hz", "m", "%" or empty
    ValueKind kind = ValueKind::Number;
    ParamPlace place = ParamPlace::Cell;
    ParamStorage storage = ParamStorage::Int32;
    int index = -1;              // cell, plan byte, level slot or extra byte
    int group = -1, record = -1; // bands: EqGroup and record in the band image
    BandField field = BandField::Type;
    double mul = 1.0, add = 0.0, div = 1.0; // Number and Ratio
    int decimals = 0;
    bool explicitSign = false;
    bool hasRange = false; // where a page limits the value, in user units
    double min = 0.0, max = 0.0;
};

// Every entry, in the order differences are listed: cells ascending, bands by group, record
// and field, then plan bytes, speaker level slots and extra bytes.
const std::vector<ParamInfo>& paramTable();
const ParamInfo* findParam(std::string_view id);
// Null outside the saved cells 26..172, the band image, the plan, the slots or the extra block.
const ParamInfo* cellParam(int cell);
const ParamInfo* bandParam(int group, int record, BandField field);
const ParamInfo* planParam(int byte);
const ParamInfo* speakerLevelParam(int slot);
const ParamInfo* extraParam(int byte);

const char* bandFieldId(BandField f); // "type", "gain_db", "freq_hz", "q"

// Name and, for a band field, the field: "MAIN EQ band 3 gain".
std::string paramName(const ParamInfo& p, bool english);
// The stored bits: a cell's 32 bits, a band field, a plan or extra byte, a level slot's single.
std::uint32_t rawValue(const ParamInfo& p, const ModeImage& image);
double userValue(const ParamInfo& p, std::uint32_t raw);
double userValue(const ParamInfo& p, const ModeImage& image);
// "12.5 ms", "-2.0 dB", "on" / "开", "HP" / "高通".
std::string formatValue(const ParamInfo& p, std::uint32_t raw, bool english);

struct Difference {
    enum class Kind { Cell, Band, Plan, SpeakerLevels, Extra } kind = Kind::Cell;
    int cell = -1, group = -1, record = -1;
    int index = -1;    // plan byte, level slot or extra byte
    std::string id;    // the machine id, field included
    std::string field; // bands: "type", "gain_db", "freq_hz", "q"
    std::string nameZh, nameEn;
    double a = 0, b = 0; // user values
    // Formatted user values; when two different stored values would print alike they carry
    // more digits (or the stored value), so a line never reads "x → x".
    std::string textA, textB;     // English
    std::string textAZh, textBZh; // Chinese
    const ParamInfo* param = nullptr;
};

// Every stored value that differs, bit for bit, between two images, in paramTable() order.
std::vector<Difference> differences(const ModeImage& a, const ModeImage& b);

// "MAIN EQ band 3: gain -2.0 dB → +1.5 dB", "前置均衡 第3段：增益 -2.0 dB → +1.5 dB".
std::string describe(const Difference& d, bool english);

} // namespace q7
