// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/synthetic_room.h"

#include "measure/output.h"
#include "params/biquad.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <random>

namespace q7 {

namespace {

constexpr double kFs = 48000.0;
constexpr double kSoundSpeed = 343.0;
constexpr std::size_t kLength = 24000; // 0.5 s
constexpr int kSub = 3;                // speakerOutputs() index of the Sub

// A tap at a fractional delay: a windowed sinc.
void tap(std::vector<double>& ir, double at, double gain) {
    constexpr int kHalf = 16;
    const long centre = long(std::floor(at));
    for (long i = centre - kHalf + 1; i <= centre + kHalf; ++i) {
        if (i < 0 || i >= long(ir.size()))
            continue;
        const double d = double(i) - at;
        const double sinc =
            std::abs(d) < 1e-9 ? 1.0 : std::sin(std::numbers::pi * d) / (std::numbers::pi * d);
        ir[std::size_t(i)] += gain * sinc * (0.5 + 0.5 * std::cos(std::numbers::pi * d / 17));
    }
}

Biquad design(int type, double gainDb, double hz, double q) {
    return DesignBiquad(type, gainDb, hz, q, 0.0, kFs);
}

// What stays of a speaker from one position to the next.
struct Speaker {
    double distance, levelDb;
    double bassHz, bassQ;          // the box's own high pass (the Sub: its low pass)
    double presenceHz, presenceDb; // a colouring of the mid range
    double trebleDb;               // a shelf above 8 kHz
    double wallM;                  // the wall behind it (0: none)
    double modeHz;                 // a room mode it excites
};

// The wall behind a speaker at m metres: where its reflection (in phase, twice through the low
// pass below, as the speaker radiates backwards only in the bass) first cancels the direct sound
// most.
Biquad wallFilter() {
    return design(2, 0, 300, 0.707);
}

double firstNotch(double m) {
    const Biquad b = wallFilter();
    const double delay = 2 * m / kSoundSpeed;
    double best = 0, least = 1e9;
    for (double f = 40; f < 600; f *= std::exp2(1.0 / 96)) {
        const std::complex<double> z = std::polar(1.0, -2 * std::numbers::pi * f / kFs);
        std::complex<double> h = (b.b0 + b.b1 * z + b.b2 * z * z) / (1.0 + b.a1 * z + b.a2 * z * z);
        h *= h; // the filter runs twice
        const double v =
            std::abs(1.0 + 0.8 * h * std::polar(1.0, -2 * std::numbers::pi * f * delay));
        if (v < least) {
            least = v;
            best = f;
        }
        if (v > least * 1.5 && best > 0)
            break;
    }
    return best;
}

} // namespace

Room syntheticRoom(const SyntheticRoomSetup& setup, SyntheticRoomTruth* truth) {
    std::mt19937 rng(setup.seed * 7919u + 17u);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    std::array<Speaker, kSpeakerOutputs> speakers{};
    const double subMode = uniform(38, 58);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        Speaker& s = speakers[std::size_t(k)];
        s.distance = uniform(setup.minDistanceM, setup.maxDistanceM);
        s.levelDb = uniform(-setup.levelSpreadDb, setup.levelSpreadDb);
        s.bassHz = k == kSub ? uniform(120, 160) : uniform(45, 80);
        s.bassQ = uniform(0.7, 1.0);
        s.presenceHz = uniform(1500, 4000);
        s.presenceDb = uniform(-3, 3);
        s.trebleDb = uniform(-2, 2);
        // The fronts stand before a wall: its reflection cancels in the mid bass.
        const bool front = k <= 2;
        const double wall = uniform(0.35, 0.7);
        s.wallM = setup.boundaryDip && front ? wall : 0.0;
        s.modeHz = k == kSub ? subMode : uniform(38, 65);
    }
    if (truth) {
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const Speaker& s = speakers[std::size_t(k)];
            truth->distanceM[std::size_t(k)] = s.distance;
            truth->levelDb[std::size_t(k)] = s.levelDb;
            truth->dipHz[std::size_t(k)] = s.wallM > 0 ? firstNotch(s.wallM) : 0.0;
        }
        truth->subModeHz = subMode;
    }

    Room room;
    const int positions = std::clamp(setup.positions, 1, 16);
    for (int p = 0; p < positions; ++p) {
        RoomImpulses at;
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const Speaker& s = speakers[std::size_t(k)];
            // Every position draws the same numbers, so speakers left out change nothing else.
            const double move = p == 0 ? 0.0 : uniform(-setup.positionMoveM, setup.positionMoveM);
            const double jitter = uniform(-setup.jitterMs, setup.jitterMs) / 1000;
            const double modeScale = p == 0 ? 1.0 : uniform(0.6, 1.4);
            std::array<double, 5> reflections{}, gains{};
            // The floor's reflection first (in phase, a little later than the direct sound),
            // then weaker ones from further walls. The Sub stands in a corner: its walls are
            // all near.
            for (std::size_t r = 0; r < reflections.size(); ++r) {
                const bool floor = r == 0;
                reflections[r] = (k == kSub ? uniform(1.0, 4.0)
                                  : floor   ? uniform(1.5, 4.0)
                                            : uniform(5.0, 15.0)) /
                                 1000;
                gains[r] = k == kSub ? uniform(0.2, 0.5)
                           : floor   ? uniform(0.12, 0.25)
                                     : uniform(0.03, 0.07);
            }
            const unsigned tailSeed = unsigned(rng());
            if (!setup.connected[std::size_t(k)])
                continue;

            const double r = std::max(0.3, s.distance + move);
            const double t0 = (r / kSoundSpeed + jitter) * kFs;
            const double level = std::pow(10.0, s.levelDb / 20);
            const double g = level * 0.5 / r;
            std::vector<double> ir(kLength, 0.0);
            tap(ir, t0, g);
            // Reflections and the diffuse tail lose their highs to the room's absorption.
            std::vector<double> room(kLength, 0.0);
            for (std::size_t i = 0; i < reflections.size(); ++i)
                tap(room, t0 + reflections[i] * kFs, g * gains[i]);
            // The diffuse tail: noise decaying with a reverberation time of 0.4 s, as loud
            // wherever the speaker stands.
            std::mt19937 tail(tailSeed);
            std::normal_distribution<double> noise(0.0, 1.0);
            const double tau = 0.4 / 6.91;
            for (std::size_t i = std::size_t(t0 + 0.005 * kFs); i < kLength; ++i) {
                const double t = (double(i) - t0) / kFs;
                room[i] += level * 0.0004 * noise(tail) * std::exp(-t / tau);
            }
            filterInPlace(room, design(2, 0, 2000, 0.707));
            for (std::size_t i = 0; i < kLength; ++i)
                ir[i] += room[i];
            if (s.wallM > 0) {
                // The wall's reflection, in phase, only where the speaker radiates backwards.
                std::vector<double> wall(kLength, 0.0);
                tap(wall, t0 + 2 * s.wallM / kSoundSpeed * kFs, 0.8 * g);
                filterInPlace(wall, wallFilter());
                filterInPlace(wall, wallFilter());
                for (std::size_t i = 0; i < kLength; ++i)
                    ir[i] += wall[i];
            }
            if (k == kSub) {
                // A strong mode, and the Sub's own band.
                filterInPlace(ir, design(1, 8 * modeScale, s.modeHz, 7));
                filterInPlace(ir, design(3, 0, 25, 0.707));
                filterInPlace(ir, design(2, 0, s.bassHz, 0.707));
                if (setup.subInverted)
                    for (double& v : ir)
                        v = -v;
            } else {
                const double f = s.modeHz;
                for (std::size_t i = std::size_t(t0); i < kLength; ++i) {
                    const double t = (double(i) - t0) / kFs;
                    ir[i] += g * 0.0006 * modeScale * std::sin(2 * std::numbers::pi * f * t) *
                             std::exp(-t / 0.12);
                }
                filterInPlace(ir, design(3, 0, s.bassHz, s.bassQ));
                filterInPlace(ir, design(1, s.presenceDb, s.presenceHz, 1.2));
                filterInPlace(ir, design(5, s.trebleDb, 8000, 0.707));
            }
            const std::size_t fade = kLength / 10;
            for (std::size_t i = 0; i < fade; ++i)
                ir[kLength - 1 - i] *=
                    0.5 - 0.5 * std::cos(std::numbers::pi * double(i) / double(fade));
            at[std::size_t(k)].assign(ir.begin(), ir.end());
        }
        room.positions.push_back(std::move(at));
    }
    return room;
}

bool writeRoomFolder(const Room& room, const std::string& dir, std::string& error) {
    std::error_code ec;
    for (std::size_t p = 0; p < room.positions.size(); ++p) {
        const std::filesystem::path folder =
            room.positions.size() == 1 ? std::filesystem::path(dir)
                                       : std::filesystem::path(dir) / std::to_string(p + 1);
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            error = "cannot make " + folder.string() + ": " + ec.message();
            return false;
        }
        for (int k = 0; k < kSpeakerOutputs; ++k) {
            const auto& ir = room.positions[p][std::size_t(k)];
            if (ir.empty())
                continue;
            const std::string path =
                (folder / (std::string(speakerOutputs()[std::size_t(k)].id) + ".wav")).string();
            if (!writeWav(path, ir, 1, kFs, error))
                return false;
        }
    }
    return true;
}

} // namespace q7
