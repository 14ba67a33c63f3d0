// SPDX-License-Identifier: GPL-3.0-or-later
// EQ banks as the graphs show them: which band records a bank owns, which bands are fixed, the
// bank's limits, the Sub's crossovers, the one rounding rule of a band record, and the bank's
// magnitude response computed with the amplifier's own section designs.
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
enum class EqHalf;
enum class Effect;
enum class MicChannel;

inline constexpr int kEqBankCount = 12;
inline constexpr int kSubEqBank = 2;

inline constexpr double kBandGainMinDb = -15.0;
inline constexpr double kBandGainMaxDb = 15.0;
inline constexpr int kBandFreqMinHz = 20;
inline constexpr int kBandFreqMaxHz = 20000;
inline constexpr double kPeqQMin = 0.1, kPeqQMax = 30.0;  // peaking bands
inline constexpr double kPassQMin = 0.1, kPassQMax = 2.0; // shelves and pass filters

// What a bank's EQ shapes: the music, a microphone channel, a channel's echo or reverb, or a
// speaker output (the outputs' speakers can be measured and their bands take every filter type).
enum class EqBankRole : std::uint8_t { Music, Mic, Echo, Reverb, Output };
// The colours a bank is drawn in, as families the UI maps to its own shades.
enum class EqColour : std::uint8_t { Cyan, Green, Gold };

struct EqBankInfo {
    int bank;
    const char* id; // the command line's name: "music", "mic-a", "sub", …
    int group;
    int firstRecord;
    int bands;   // visible bands
    int records; // records the bank owns (the Sub: each band and its three sections)
    const char *zh, *en;
    EqBankRole role;
    int channel;      // the microphone channel of a mic, echo or reverb bank: 0 A, 1 B; else -1
    EqColour numbers; // the band numbers in the list
    EqColour curve;   // the response on the graph
};

// Null outside 0..11.
const EqBankInfo* eqBankInfo(int bank);
// Whether the bank is a speaker output's EQ (Sub, Center, Rear, Main, Top) / a channel's echo or
// reverb EQ; false outside 0..11.
bool isOutputBank(int bank);
bool isEffectsBank(int bank);
// The microphone channel whose mic, echo or reverb EQ the bank is; none for the music, the outputs
// and outside 0..11.
std::optional<MicChannel> micChannelOf(int bank);
// The effect whose EQ an effects bank is; none for the other banks.
std::optional<Effect> effectOf(int bank);
// The bank of a microphone channel's echo or reverb EQ.
int effectBank(Effect effect, MicChannel channel);
// The selector cell that bypasses the bank's EQ, and the senders' half that resets it.
int eqBypassCell(int bank);
EqHalf eqHalfOf(int bank);
// "Music EQ", "超低均衡", …; empty outside 0..11.
const char* eqBankTitle(int bank, bool english);
// A bank by its number ("5") or its name ("main"); null when neither.
const EqBankInfo* eqBankByName(std::string_view text);

// The music and microphone EQs hold band 7 at 630 Hz and band 10 at 2500 Hz (bands from 0).
bool isFixedBand(int bank, int band);
// The frequency a fixed band stays at; 0 for a free band.
int fixedBandHz(int bank, int band);

// The Sub shows five bands, each a band record and three crossover sections. The store keeps
// band k at record 4k and its sections at 4k + 1 .. 4k + 3; the graph keeps band k at k and its
// sections after the five bands, at 5 + 3k .. 7 + 3k.
inline constexpr int kSubBands = 5;
inline constexpr int kSubGraphRecords = 20;
// Part p (0 the band, 1..3 its sections) of Sub band k, as the graph and as the store number it.
constexpr int subGraphRecord(int band, int part) {
    return part == 0 ? band : kSubBands + 3 * band + part - 1;
}
constexpr int subStoreRecord(int band, int part) {
    return 4 * band + part;
}
// The store record of graph record g (0..19).
constexpr int subStoreRecordOfGraph(int g) {
    return g < kSubBands ? subStoreRecord(g, 0)
                         : subStoreRecord((g - kSubBands) / 3, 1 + (g - kSubBands) % 3);
}

// Where a graph places its bands before a bank is loaded into it, by band count (4, 7, 10, 15,
// 20, 24; empty for another count): 100 Hz up in thirds of an octave for the large banks, octaves
// from 31 Hz for the small ones. Not the amplifier's reset layout (the senders' own table) nor
// its factory image: every shown band is overwritten from the store, so this only places bands no
// record describes.
struct LayoutBand {
    int hz;
    int type;
    double q;
};
std::vector<LayoutBand> graphLayout(int count);

// The records of one bank, in the order the band image keeps them. For the Sub, band k is
// records[4k] and its sections records[4k + 1 .. 4k + 3].
struct EqBankState {
    int bank = 0;
    std::vector<BandRecord> records;

    const EqBankInfo& info() const { return *eqBankInfo(bank); }
    int bandCount() const { return info().bands; }
    int recordOfBand(int band) const { return bank == kSubEqBank ? subStoreRecord(band, 0) : band; }
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

// The one rounding rule from the values a user gives to the record that keeps them: gain to the
// nearest 0.1 dB within -15..+15, frequency to the nearest hertz, Q to the nearest thousandth
// (halves away from zero; fields saturate to 0..65535).
BandRecord quantise(int type, double gainDb, double frequencyHz, double q);

// The single-precision values a record stands for, as the graph holds them and the band senders
// design from: gain in tenths, whole hertz, and the Q that encodes back to the same thousandths
// (the nearest single of 4.318 is 4.3179998, which the encoder would truncate to 4317).
struct BandValues {
    int type;
    float gainDb, frequencyHz, q;
};
BandValues bandValues(const BandRecord& r);
float storedQ(int thousandths);

// Sends one record with SendBand, designed from its own values, so the amplifier plays what the
// store keeps. False when a report failed.
bool sendRecord(Dsp& dsp, int group, int record, const BandRecord& r);
// Sends band k of the state with sendRecord (the Sub: with its three sections), whether or not
// the store holds it already: every edit of a band sends it.
bool sendBandOf(Dsp& dsp, const EqBankState& state, int band);

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
// Outside 0..10 a band and its sections are all PEQ.
std::array<int, 4> crossoverTypes(int slope, bool lowPass);
// The graph's type menu on a Sub band (1 PEQ .. 5 HS): what the band and its sections become.
std::array<int, 4> subMenuTypes(int menuType);
struct Crossover {
    int slope;
    bool lowPass;
};
// The slope band k of the Sub holds, if its four records make one.
std::optional<Crossover> crossoverOf(const EqBankState& state, int band);
// The slope four type codes (a band and its sections) make, if any.
std::optional<Crossover> crossoverOfTypes(const std::array<int, 4>& types);
// Sets band k of the Sub to a slope at hz and q (all four records, gain 0).
void setCrossover(EqBankState& state, int band, const Crossover& c, int hz, int qThousandths);

// ---- edits of one band, as the graph, the band list and the boxes ask for them ----

// What a user asks band k to be: the values as they want them, off the record's grid maybe.
struct BandWish {
    int type;
    double gainDb, frequencyHz, q;
};
// The values a record stands for, as a wish (what the views show and edits start from).
BandWish wishOf(const BandRecord& r);
// What the graph, the list and the boxes show of a record: a type above maxType as off, a
// missing Q as its type's default (1.41, 0.7 for shelves and pass filters), 0 dB on a pass
// filter, values inside the graph's limits; on the record's grid.
BandValues shownValues(const BandRecord& r, int maxType);
// A new type: a PEQ takes Q 1.41, a shelf or pass filter 0 dB and Q 0.7; other codes keep
// their values.
BandWish withType(BandWish w, int type);
// Band k takes the wish, on the record's grid; a Sub band's sections follow its frequency and Q
// at 0 dB.
void applyWish(EqBankState& state, int band, const BandWish& w);
// Sub band k and its sections take the types (the type menu of the graph or a crossover slope):
// each at 0 dB, the sections at the band's frequency and Q, then each type's own defaults.
void applySubTypes(EqBankState& state, int band, const std::array<int, 4>& types);
// Sub band k becomes a crossover of the slope (0..10), low or high pass as its type is now; 11
// makes it and its sections PEQ, anything else unknown is the first slope.
void applySlope(EqBankState& state, int band, int slope);

} // namespace q7
