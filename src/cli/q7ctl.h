// q7ctl, the command line: its commands run from a library so tests can call them directly.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

class AudioBackend;
class ChartPainter;
class Clock;
class HidBackend;

// What a test may put in place of the real world: a clock (virtual time) and a transport (a
// simulated amplifier it inspects). Unset members are created from the arguments.
struct Q7ctlEnvironment {
    Clock* clock = nullptr;
    HidBackend* backend = nullptr;
    // Audio devices for measurements: a test's stand-in, else those systemAudio makes.
    AudioBackend* audio = nullptr;
    std::unique_ptr<AudioBackend> (*systemAudio)() = nullptr;
    // Draws a tuning report's charts to PNG (null, or none made: the charts are SVG).
    std::unique_ptr<ChartPainter> (*chartPainter)() = nullptr;
};

// args excludes the program name. Returns the exit code: 0 success, 1 failure (a file, the
// amplifier or its check), 2 bad arguments.
int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const Q7ctlEnvironment& env = {});

} // namespace q7
