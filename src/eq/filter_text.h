// SPDX-License-Identifier: GPL-3.0-or-later
// Filter lists as measurement programs write them ("Filter 1: ON PK Fc 100 Hz Gain -3.0 dB
// Q 1.41": Equalizer APO, REW's generic equaliser export, AutoEq's ParametricEQ.txt), read into
// an EQ bank and written from one.
#pragma once

#include "eq/eq_bank.h"
#include "eq/note.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

enum class TextFilterKind { Peaking, LowShelf, HighShelf, LowPass, HighPass };

struct TextFilter {
    int line = 0;       // 1-based line in the file
    std::string source; // the line as written (trimmed)
    int number = -1;    // the N of "Filter N:", -1 without one
    TextFilterKind kind = TextFilterKind::Peaking;
    double fcHz = 1000, gainDb = 0, q = 0.7071;
    bool qGiven = false; // Q, BW or a slope was written
    bool gainGiven = false;
    int slopeOf = -1;        // a section line of the crossover slopes[slopeOf] describes
    std::vector<Note> notes; // what reading it changed (an invalid Q taken as the default …)
};

// "# Sub band 5 crossover: LinkwitzRiely 24dB low-pass (slope 1, Fc 100 Hz, Q 0.707)": how an
// export names a Sub crossover, so that importing it gives the slope back; the section lines
// after it (same filter number) are for other programs.
struct TextCrossover {
    int line = 0;
    std::string source;
    int band = 0; // 1-based
    int slope = 0;
    bool lowPass = true;
    double fcHz = 100, q = 0.707;
};

struct SkippedLine {
    int line = 0;
    std::string source;
    Note why;
    int slopeOf = -1;
};

struct FilterText {
    std::vector<TextFilter> filters;
    std::vector<SkippedLine>
        skipped; // filter lines that are off, of a kind no bank holds, or unreadable
    std::vector<TextCrossover> crossovers;
    std::optional<double> preampDb;
};

inline constexpr std::size_t kFilterTextMaxBytes = 1 << 20;

// Never fails: lines it cannot use are skipped and reported; text past the size limit is ignored.
FilterText parseFilterText(std::string_view text);

// Reads a number as these files write it: "." or "," as the decimal mark, and for a frequency
// below 20 written with three-digit groups ("1.000", "12.500") the grouped thousands. A file
// that writes its frequencies grouped (groupedFile) has every grouped frequency read so
// ("20.000" is then 20 kHz).
std::optional<double> parseFilterNumber(std::string_view s, bool frequency,
                                        bool groupedFile = false);

struct ImportLine {
    int line = 0;
    std::string source;
    int band = -1;           // bank band it went to (0-based); -1 dropped or skipped
    std::string result;      // what it became, e.g. "PK 100 Hz -3.0 dB Q 1.410"
    std::vector<Note> notes; // clamped, rounded, dropped, skipped
    enum class Outcome { Applied, Adjusted, Dropped, Skipped } outcome = Outcome::Applied;
};

struct ImportPlan {
    EqBankState result;
    std::vector<ImportLine> lines; // in file order
    std::vector<Note> notes;       // the preamp, the bands set flat, the fixed bands kept
    int applied = 0;
};

// Maps the filters onto the bank: in order onto its free bands (the fixed bands keep their type
// and frequency; a line standing at a fixed band's number with its type and frequency sets its
// gain), within the bank's limits; filters beyond the bank's bands are dropped and the bank's
// other free bands set flat. The Sub takes its five bands by filter number where the lines
// have one; a crossover no line addresses stays.
ImportPlan planImport(const EqBankState& current, const FilterText& text);

// "Filter N: ON PK Fc … Hz Gain … dB Q …" for every band of the bank.
std::string formatFilterText(const EqBankState& state);

// "PK 100 Hz -3.0 dB Q 1.410": one band record for previews.
std::string describeRecord(const BandRecord& r);

} // namespace q7
