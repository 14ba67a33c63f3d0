// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl, the command line: its commands run from a library so tests can call them directly.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

class AudioBackend;
class ChartPainter;
class Clock;
class HidBackend;
struct Invocation;
struct ServeOptions;

// Exit codes, the same for every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // at run time: the amplifier, a file, input or output
inline constexpr int kExitUsage = 2;    // bad usage: an unknown command or option, a bad value
inline constexpr int kExitNoAnswer = 3; // the amplifier does not answer, or its replies are lost

// What a test may put in place of the real world: a clock (virtual time), a transport (a
// simulated amplifier it inspects) and standard input. Unset members are created from the
// arguments (standard input: std::cin).
struct Q7ctlEnvironment {
    Clock* clock = nullptr;
    HidBackend* backend = nullptr;
    std::istream* in = nullptr;
    // Audio devices for measurements: a test's stand-in, else those systemAudio makes.
    AudioBackend* audio = nullptr;
    std::unique_ptr<AudioBackend> (*systemAudio)() = nullptr;
    // Draws a tuning report's charts to PNG (null, or none made: the charts are SVG).
    std::unique_ptr<ChartPainter> (*chartPainter)() = nullptr;
    // Runs q7ctl serve until it is stopped (null: this build has no server).
    int (*serve)(const ServeOptions& options, Invocation& run) = nullptr;
};

// args excludes the program name. Returns one of the exit codes above.
int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const Q7ctlEnvironment& env = {});

} // namespace q7
