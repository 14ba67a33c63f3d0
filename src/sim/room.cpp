// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/room.h"

#include "measure/output.h"
#include "params/biquad.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

namespace q7 {

namespace {

// One folder of speaker files; false with the reason in error.
bool loadImpulses(const std::filesystem::path& dir, RoomImpulses& out, std::string& error) {
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const std::string path =
            (dir / (std::string(speakerOutputs()[std::size_t(k)].id) + ".wav")).string();
        if (!std::filesystem::exists(path))
            continue;
        WavData w = readWav(path, 10.0);
        if (!w.ok()) {
            error = "room: " + w.error;
            return false;
        }
        if (w.channels != 1 || w.sampleRate != 48000) {
            error = "room: " + path + " is not mono 48 kHz";
            return false;
        }
        out[std::size_t(k)] = std::move(w.samples);
    }
    return true;
}

} // namespace

Room loadRoom(const std::string& dir) {
    Room room;
    if (!std::filesystem::is_directory(dir)) {
        room.error = "room: " + dir + " is not a folder";
        return room;
    }
    const std::filesystem::path base(dir);
    if (!std::filesystem::is_directory(base / "1")) {
        room.positions.resize(1);
        if (!loadImpulses(base, room.positions[0], room.error))
            room.positions.clear();
        return room;
    }
    for (int p = 1; std::filesystem::is_directory(base / std::to_string(p)); ++p) {
        RoomImpulses at;
        if (!loadImpulses(base / std::to_string(p), at, room.error)) {
            room.positions.clear();
            return room;
        }
        room.positions.push_back(std::move(at));
    }
    return room;
}

namespace {

struct Point {
    double x, y, z;
};

constexpr double kSoundSpeed = 343.0;
constexpr double kFs = 48000.0;
constexpr Point kRoomSize{5.6, 4.2, 2.6};
// The listening positions: the middle of the sofa, then its ends and a little forward and back.
constexpr std::array<Point, kBuiltInRoomPositions> kListeners = {{
    {3.4, 2.2, 1.05},
    {3.4, 1.75, 1.05},
    {3.4, 2.65, 1.05},
    {3.05, 2.2, 1.1},
    {3.75, 2.2, 1.0},
    {3.05, 1.75, 1.05},
    {3.05, 2.65, 1.05},
    {3.75, 1.75, 1.1},
    {3.75, 2.65, 1.1},
}};
// By speakerOutputs() index: fronts on the short wall, the sub in a corner, rears behind the
// sofa, tops in the ceiling.
constexpr std::array<Point, kSpeakerOutputs> kSpeakers = {{
    {0.45, 1.05, 1.0},
    {0.45, 3.15, 1.0},
    {0.35, 2.1, 0.75},
    {0.3, 0.35, 0.3},
    {5.25, 0.5, 1.7},
    {5.25, 3.7, 1.7},
    {2.2, 1.3, 2.55},
    {2.2, 2.9, 2.55},
}};
constexpr double kReflection = 0.75; // pressure reflection of walls, floor and ceiling (rigid)
constexpr double kLengthSeconds = 0.45;

// One image at a fractional delay: a short windowed sinc. sin(pi d) only changes sign from one
// tap to the next, and the window's cosine turns by a fixed angle: each is computed once.
void addTap(std::vector<double>& ir, double at, double gain) {
    constexpr int kHalf = 8;
    constexpr double kTurn = std::numbers::pi / (kHalf + 1);
    static const double turnCos = std::cos(kTurn), turnSin = std::sin(kTurn);
    const long centre = long(std::floor(at));
    const long first = centre - kHalf + 1;
    const double d0 = double(first) - at;
    double s = std::sin(std::numbers::pi * d0);
    double wc = std::cos(kTurn * d0), ws = std::sin(kTurn * d0);
    for (long i = first; i <= centre + kHalf; ++i) {
        if (i >= 0 && i < long(ir.size())) {
            const double d = double(i) - at;
            const double sinc = std::abs(d) < 1e-9 ? 1.0 : s / (std::numbers::pi * d);
            ir[std::size_t(i)] += gain * sinc * (0.5 + 0.5 * wc);
        }
        s = -s;
        const double c = wc * turnCos - ws * turnSin;
        ws = ws * turnCos + wc * turnSin;
        wc = c;
    }
}

std::vector<float> speakerInRoom(int k, const Point& listener) {
    const Point s = kSpeakers[std::size_t(k)];
    const std::size_t n = std::size_t(kLengthSeconds * kFs);
    std::vector<double> ir(n, 0.0);
    const double maxPath = kLengthSeconds * kSoundSpeed;
    std::vector<double> loss(256);
    for (std::size_t o = 0; o < loss.size(); ++o)
        loss[o] = std::pow(kReflection, double(o));
    const int rx = int(maxPath / (2 * kRoomSize.x)) + 1, ry = int(maxPath / (2 * kRoomSize.y)) + 1,
              rz = int(maxPath / (2 * kRoomSize.z)) + 1;
    // Reflection losses by order, and the image sources: each axis mirrors the speaker
    // (2 m L ± s); the count of walls crossed is the reflection order.
    for (int i = -rx; i <= rx; ++i)
        for (int j = -ry; j <= ry; ++j)
            for (int l = -rz; l <= rz; ++l)
                for (int m = 0; m < 8; ++m) {
                    const int mx = m & 1, my = (m >> 1) & 1, mz = (m >> 2) & 1;
                    const Point img{2 * i * kRoomSize.x + (mx ? -s.x : s.x),
                                    2 * j * kRoomSize.y + (my ? -s.y : s.y),
                                    2 * l * kRoomSize.z + (mz ? -s.z : s.z)};
                    const double dx = img.x - listener.x, dy = img.y - listener.y,
                                 dz = img.z - listener.z;
                    const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
                    if (r > maxPath)
                        continue;
                    const int order =
                        std::abs(2 * i - mx) + std::abs(2 * j - my) + std::abs(2 * l - mz);
                    // Higher orders also lose their highs: folded into a level here, the
                    // bass modes keep the reflection's full strength.
                    const double gain =
                        loss[std::size_t(std::min(order, int(loss.size()) - 1))] / std::max(r, 0.3);
                    addTap(ir, r / kSoundSpeed * kFs, gain);
                }
    // The speaker itself: a sealed box's bass roll-off (the sub's lower), and the sub plays
    // only the bass.
    std::vector<Biquad> speaker;
    if (k == 3) {
        speaker = {DesignBiquad(3, 0, 24, 0.707, 0, kFs), DesignBiquad(2, 0, 160, 0.707, 0, kFs)};
    } else {
        speaker = {DesignBiquad(3, 0, 55, 0.8, 0, kFs), DesignBiquad(5, -1.5, 12000, 0.7, 0, kFs)};
    }
    for (const Biquad& b : speaker)
        filterInPlace(ir, b);
    // A fade over the last tenth, so the response has no cut edge.
    const std::size_t fade = n / 10;
    for (std::size_t i = 0; i < fade; ++i)
        ir[n - 1 - i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * double(i) / double(fade));
    return std::vector<float>(ir.begin(), ir.end());
}

} // namespace

RoomImpulses builtInRoomAt(int position) {
    const Point& listener =
        kListeners[std::size_t(std::clamp(position, 0, kBuiltInRoomPositions - 1))];
    RoomImpulses r;
    for (int k = 0; k < kSpeakerOutputs; ++k)
        r[std::size_t(k)] = speakerInRoom(k, listener);
    return r;
}

const Room& builtInRoom() {
    static const Room room = [] {
        Room r;
        r.positions.push_back(builtInRoomAt(0));
        return r;
    }();
    return room;
}

} // namespace q7
