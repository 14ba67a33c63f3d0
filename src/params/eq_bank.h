// SPDX-License-Identifier: GPL-3.0-or-later
// EQ banks as the graphs show them: which band records a bank owns, which bands are fixed, the
// bank's limits, and its magnitude response computed with the amplifier's own section designs.
//
// Banks are numbered as the graph numbers them: 0 music, 1 mic CH A, 2 Sub, 3 Center, 4 Rear,
// 5 Main, 6 CH A reverb, 7 CH A echo, 8 mic CH B, 9 CH B reverb, 10 CH B echo, 11 Top.
#pragma once

#include "params/store.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

class Dsp;

inline constexpr int kEqBankCount = 12;
inline constexpr int kSubEqBank = 2;

inline constexpr double kBandGainMinDb = -15.0;
inline constexpr double kBandGainMaxDb = 15.0;
inline constexpr int kBandFreqMinHz = 20;
inline constexpr int kBandFreqMaxHz = 20000;
inline constexpr double kPeqQMin = 0.1, kPeqQMax = 30.0;  // peaking bands
inline constexpr double kPassQMin = 0.1, kPassQMax = 2.0; // shelves and pass filters

struct EqBankInfo {
    int bank;
    const char* id; // the command line's name: "music", "mic-a", "sub", …
    int group;
    int firstRecord;
    int bands;   // visible bands
    int records; // records the bank owns (the Sub: each band and its three sections)
    const char *zh, *en;
};

// Null outside 0..11.
const EqBankInfo* eqBankInfo(int bank);
// A bank by its number ("5") or its name ("main"); null when neither.
const EqBankInfo* eqBankByName(std::string_view text);

// The music and microphone EQs hold band 7 at 630 Hz and band 10 at 2500 Hz (bands from 0).
bool isFixedBand(int bank, int band);

// The records of one bank, in the order the band image keeps them. For the Sub, band k is
// records[4k] and its sections records[4k + 1 .. 4k + 3].
struct EqBankState {
    int bank = 0;
    std::vector<BandRecord> records;

    const EqBankInfo& info() const { return *eqBankInfo(bank); }
    int bandCount() const { return info().bands; }
    int recordOfBand(int band) const { return bank == kSubEqBank ? 4 * band : band; }
    BandRecord& band(int k) { return records[std::size_t(recordOfBand(k))]; }
    const BandRecord& band(int k) const { return records[std::size_t(recordOfBand(k))]; }
    bool operator==(const EqBankState&) const = default;
};

EqBankState readBank(const ParameterStore& store, int bank);
EqBankState readBank(const BandImage& image, int bank);

// Sends every record that differs from the store, with the senders the pages use (the Sub: a
// band with its three sections). The arguments are the record's own values, so that the
// amplifier's coefficients are the ones the record describes. False when a report failed.
bool sendBank(Dsp& dsp, const ParameterStore& store, const EqBankState& state);

// The values a record stands for, as the designers take them. q() is chosen so that encoding
// it again gives back the same thousandths (k / 1000.0 alone would truncate to k - 1 for some k).
double recordGainDb(const BandRecord& r);
double recordQ(const BandRecord& r);
double qArgument(int thousandths);

// A record built from user values: gain rounded to 0.1 dB, frequency to whole hertz, Q to
// thousandths.
BandRecord makeRecord(int type, double gainDb, double frequencyHz, double q);

// Magnitude in dB of the whole bank (a band that is off counts 0).
std::vector<double> bankResponseDb(const EqBankState& state, const std::vector<double>& hz);
// The response of band k (the Sub: with its sections).
std::vector<double> bandResponseDb(const EqBankState& state, int band,
                                   const std::vector<double>& hz);

// Frequencies spaced 1/48 octave from lo up to hi (both included when hi falls on the grid).
std::vector<double> octaveGrid(double loHz, double hiHz, int perOctave = 48);

// CSV of the bank's response: "freq_hz,total_db,band1_db,…", 1/48 octave from 20 Hz to 20 kHz.
std::string bankResponseCsv(const EqBankState& state);

// The Sub's crossover slopes as the output page lists them (0 "LinkwitzRiely 12dB" …
// 10 "Chebyshev 12dB"): the type codes of a band and its three sections.
inline constexpr int kCrossoverSlopes = 11;
const char* crossoverName(int slope);
std::array<int, 4> crossoverTypes(int slope, bool lowPass);
struct Crossover {
    int slope;
    bool lowPass;
};
// The slope band k of the Sub holds, if its four records make one.
std::optional<Crossover> crossoverOf(const EqBankState& state, int band);
// Sets band k of the Sub to a slope at hz and q (all four records, gain 0).
void setCrossover(EqBankState& state, int band, const Crossover& c, int hz, int qThousandths);

} // namespace q7
