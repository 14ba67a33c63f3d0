// SPDX-License-Identifier: GPL-3.0-or-later
// Files as the commands name them: "-" is standard input where a file is read and standard
// output where one is written.
#pragma once

#include "params/store.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace q7 {

inline bool isStdio(const std::string& path) {
    return path == "-";
}
// "standard input" or the path, for messages.
std::string inputName(const std::string& path);
std::string outputName(const std::string& path);

// The whole file, refused past limit bytes; nullopt with error set.
std::optional<std::string> readInput(const std::string& path, std::istream& in, std::size_t limit,
                                     std::string& error);
// A mode file into image, which is left alone on failure; the version read in *version.
bool readModeInput(const std::string& path, std::istream& in, ModeImage& image, std::string& error,
                   int* version = nullptr);
// A mode file read as for sending: readModeInput, then every value checked against its range.
// A value no saved file holds refuses the file (error names it); the values clamped into their
// ranges are described in clamped, one line each. image is left alone on failure.
bool readCheckedModeInput(const std::string& path, std::istream& in, ModeImage& image,
                          std::string& error, std::vector<std::string>& clamped);
// A file written whole or not at all (a temporary file renamed over it), or standard output.
bool writeOutput(const std::string& path, std::ostream& out, std::span<const std::uint8_t> bytes,
                 std::string& error);

// The local time now, as strftime writes it in format (the dates reports carry).
std::string localTimeText(const char* format);

} // namespace q7
