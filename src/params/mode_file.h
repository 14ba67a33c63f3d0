// SPDX-License-Identifier: GPL-3.0-or-later
// Mode files: a version word and five raw blocks of the store. Untrusted input: a file is read
// whole, checked against its version's layout, and only then applied to the store.
#pragma once

#include "params/store.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace q7 {

inline constexpr std::size_t kModeFileV1Size = 1815;
inline constexpr std::size_t kModeFileV2Size = 1791;

enum class ModeFileStatus { Ok, CannotOpen, TooShort, UnknownVersion, CannotWrite };

struct ModeFileResult {
    ModeFileStatus status = ModeFileStatus::Ok;
    int version = 0;
    int systemError = 0;    // errno of a failed open or write
    std::size_t size = 0;   // bytes the file held (of its head: a layout's length at most)
    std::size_t needed = 0; // bytes its version's layout takes; 0 when the version is unknown
    explicit operator bool() const { return status == ModeFileStatus::Ok; }
    // An unknown version word that a later editor could have written (a small number), rather
    // than the first bytes of some other kind of file.
    bool laterVersion() const {
        return status == ModeFileStatus::UnknownVersion && version > 2 && version < 100;
    }
};

// Plain-text reason for logs and the command line: "not a mode file", "version N not
// supported", "too short".
std::string describe(const ModeFileResult& r, const std::string& path);

// Fills image from the bytes; on failure image is left as it was.
ModeFileResult parseModeFile(std::span<const std::uint8_t> bytes, ModeImage& image);
// Parses and, only on success, replaces the saved part of the store.
ModeFileResult loadModeFile(std::span<const std::uint8_t> bytes, ParameterStore& store);
ModeFileResult readModeFile(const std::string& path, ParameterStore& store);
// Reads and parses a file into image without touching any store (comparing two files).
ModeFileResult readModeImage(const std::string& path, ModeImage& image);

// A version-2 file of the image (1791 bytes).
std::vector<std::uint8_t> modeFileBytes(const ModeImage& image);
// Written to a temporary file beside the target and renamed over it, so a failed save never
// destroys the previous file.
ModeFileResult writeModeFile(const std::string& path, const ParameterStore& store);
ModeFileResult writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// The device mode a file name selects: "默认1", "tripath1" or "m1" at the start of the name
// (without extension, first 20 characters) give 0, and so on up to 3; anything else -1.
int modeIndexFromFileName(const std::string& path);
// The file name without its extension, cut to 20 characters (UTF-8), with the characters the
// amplifier cannot show replaced (showableModeName).
std::string modeNameFromFileName(const std::string& path);
// That name as the file name has it when some of its characters were replaced; else empty.
std::string unshowableModeName(const std::string& path);
// Whether a path from the recent-file list or the command line may be opened as a mode file.
bool isOpenableModeFileName(const std::string& path);

} // namespace q7
