// SPDX-License-Identifier: GPL-3.0-or-later
// Tuning a room from measurements of its speakers: levels matched at the main seat, arrivals
// aligned with the output delays, the Sub's crossover, polarity and delay chosen so that it adds
// to the mains, and each output's EQ fitted to its position-averaged response. Everything is
// computed, and predicted, before anything is sent; the result is a set of settings that one
// edit applies.
//
// The amplifier has no polarity switch: where the Sub sums better inverted, an all-pass section
// in a free Sub band (type "off", which the amplifier runs as a unit all-pass at the band's
// frequency and Q) turns its phase by half a turn at the crossover. Reversing the Sub's speaker
// wires does the same exactly.
#pragma once

#include "eq/auto_eq.h"
#include "eq/measurement.h"
#include "measure/calibration.h"
#include "measure/speakers.h"
#include "measure/sweep.h"
#include "params/param_names.h"
#include "tune/chain.h"
#include "tune/room_sweeps.h"
#include "tune/settings.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

inline constexpr int kMaxTunePositions = 9;
inline constexpr int kTuneSub = 3; // speakerOutputs() index of the Sub
// The speaker levels the location page can give: +3 dB on the listener, down to a speaker in the
// far corner of the largest room (10 m x 10 m).
inline constexpr double kSpeakerLevelMaxDb = 3.0;
inline constexpr double kSpeakerLevelMinDb = -39.4;
inline constexpr double kDelayMaxMs = 100.0;
// The Main bank's filters a full download sends: the fit keeps to them.
inline constexpr int kMainBandsDownloaded = 10;

// What a tuning aims for; the limits it keeps to.
struct TuneTolerance {
    double levelDb = 0.5;      // each level within this of the others' mean
    double arrivalMs = 0.05;   // each arrival within this of the others' mean
    double dipDb = 3.0;        // Sub + mains around the crossover, at the main seat
    double predictionDb = 2.0; // measured after against predicted (RMS of the difference)
};

struct TuneOptions {
    std::vector<int> speakers; // speakerOutputs() indices; empty: every output, as detected
    int positions = 1;         // 1..9; the first is the main seat
    Target target;             // flat, the house curve, or a curve read from a file
    double maxBoostDb = 6.0;   // what an output's EQ may raise any frequency by
    // Frequency limits per speaker (0: the default: the Sub from 20 Hz up to its crossover, the
    // others from where their own bass rolls off up to 16 kHz).
    std::array<double, kSpeakerOutputs> lowHz{}, highHz{};
    SweepSetup sweep;                // the measuring sweep
    double verifySweepSeconds = 1.0; // the verification's (shorter: it only checks)
    int referenceSpeaker = 0;        // times each position; main L
    std::optional<MicCalibration> calibration;
    TuneTolerance tolerance;
};

// The measuring run for one position with these options (every output asked for plays).
RoomSweepSetup tuneSweepSetup(const TuneOptions& o, bool verification);

// What was measured, and what the amplifier held meanwhile.
struct RoomMeasurement {
    ModeImage settings;
    std::vector<PositionSweeps> positions; // [0] is the main seat
};

struct TuneSpeaker {
    int speaker = -1;
    bool asked = false;                            // among the speakers to tune
    bool connected = false;                        // its sweep arrived at the main seat
    double levelBeforeDb = 0, levelDb = 0;         // speaker level setting
    double delayBeforeMs = 0, delayMs = 0;         // the delay stage's delay (0: off)
    bool delayWhole = true;                        // "Channel" mode (else "High Freq")
    bool inverted = false;                         // the Sub, inverted with an all-pass band
    double loHz = 20, hiHz = 20000;                // the range its EQ and figures keep to
    double arrivalBeforeMs = 0;                    // at the main seat, after the reference's
    double seatLevelBeforeDb = 0, seatLevelDb = 0; // its level at the main seat (dB re target)
    // Deviation from the target over the range, 1/6 octave, level-free.
    double rmsBeforeDb = 0, rmsPredictedDb = 0;               // at the main seat
    double averageRmsBeforeDb = 0, averageRmsPredictedDb = 0; // over the positions
    // The least any EQ on its bank could leave at the main seat, with a free correction at every
    // point within the maximum boost: one correction shared with the bank's other speaker and
    // all positions (what the bank can do at best), and one for this speaker at this seat alone
    // (what the nulls the boost may not fill leave).
    double rmsReachableDb = 0, rmsSeatReachableDb = 0;
    int bankBands = 0; // the bands its bank's fit could use
    // At the main seat, 1/6 octave, on hz: measured before and predicted after.
    std::vector<double> beforeDb, predictedDb;
};

struct TuneBank {
    int bank = -1; // eq_bank numbering
    std::vector<int> speakers;
    bool applied = false; // the fit is better than the bands as they were
    FitResult fit;
};

struct TunePlan {
    bool ok = false;
    Note error;
    std::vector<double> hz;       // the measurements' grid
    std::vector<double> targetDb; // the target on it
    ModeImage before, after;
    std::array<TuneSpeaker, kSpeakerOutputs> speakers;
    std::vector<TuneBank> banks;
    // The Sub's crossover (a low pass in one of its bands) and its polarity.
    int crossoverBand = -1; // -1: none to set
    int slopeBefore = -1, slope = -1;
    double crossoverBeforeHz = 0, crossoverHz = 0;
    int allPassBand = -1; // the band turning the Sub's phase, -1 when it plays as wired
    double allPassHz = 0, allPassQ = 0;
    // Sub + mains at the main seat, how far the sum falls under its parts' power sum at worst
    // within an octave of the crossover.
    double dipBeforeDb = 0, dipPredictedDb = 0;
    std::vector<double> sumBeforeDb, sumPredictedDb; // on hz, 1/6 octave
    TuneSettings settings;                           // what applying sends
    double streamOffsetSeconds = -1;                 // the main seat's recording's (-1: not known)
    std::vector<Difference> changes;                 // what it changes, in the pages' terms
    std::vector<Note> notes;
};

TunePlan computeTune(const RoomMeasurement& measured, const TuneOptions& options);

// ---- the pieces, for the editor's assistant and the tests ----

// 1/6-octave power smoothing of a transfer on the 1/48-octave grid, in dB.
std::vector<double> sixthOctaveDb(const std::vector<Complex>& h);
// The level of a response over [loHz, hiHz] against the target: the mean of (dB - target).
double bandLevelDb(const std::vector<double>& hz, const std::vector<double>& db,
                   const std::vector<double>& target, double loHz, double hiHz);
// The RMS deviation from the target over [loHz, hiHz], level-free.
double rmsDeviationDb(const std::vector<double>& hz, const std::vector<double>& db,
                      const std::vector<double>& target, double loHz, double hiHz);
// How far sub + mains fall under the power sum of the two at worst over [loHz, hiHz] (1/6
// octave); 0 when they never do.
double summingDipDb(const std::vector<double>& hz, const std::vector<Complex>& sub,
                    const std::vector<Complex>& mains, double loHz, double hiHz);
// The level band a speaker is matched over: 500 Hz-2 kHz, the Sub its own pass band.
std::pair<double, double> levelBand(const TunePlan& plan, int speaker);
// The RMS deviation (level-free) that remains of `seat` (dB re target) when a correction that
// follows -`shared` as closely as it can, raising nothing by more than maxBoostDb and leaving
// the typical level within 3 dB, is added.
double reachableRmsDb(const std::vector<double>& seat, const std::vector<double>& shared,
                      double maxBoostDb);

} // namespace q7
