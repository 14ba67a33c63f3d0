// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/mode_file.h"

#include "params/mode_check.h"
#include "params/text.h"
#include "protocol/file_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace q7 {

namespace {

constexpr std::size_t kV1CellBlock = 612;
constexpr int kV1LastCell = 175;
constexpr std::uint32_t kAgcLevelV1 = 0xC1400000; // -12.0 dB

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void writeLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

std::string fileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::u16string stemUnits(const std::string& path) {
    const std::string name = fileName(path);
    const std::size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    return truncateUnits(utf8ToUtf16(stem), 20);
}

} // namespace

std::string describe(const ModeFileResult& r, const std::string& path) {
    switch (r.status) {
    case ModeFileStatus::Ok:
        return "ok";
    case ModeFileStatus::CannotOpen:
        return "cannot open " + path + ": " + std::strerror(r.systemError);
    case ModeFileStatus::TooShort:
        if (r.needed == 0)
            return path + ": too short (" + std::to_string(r.size) + " bytes), not a mode file";
        return path + ": too short (" + std::to_string(r.size) + " of the " +
               std::to_string(r.needed) + " bytes of a version " + std::to_string(r.version) +
               " mode file)";
    case ModeFileStatus::UnknownVersion:
        if (r.laterVersion())
            return path + ": mode file version " + std::to_string(r.version) +
                   " not supported (versions 1 and 2 are)";
        return path + ": not a mode file";
    case ModeFileStatus::CannotWrite:
        return "cannot write " + path + ": " + std::strerror(r.systemError);
    }
    return "error";
}

ModeFileResult parseModeFile(std::span<const std::uint8_t> bytes, ModeImage& image) {
    ModeFileResult result;
    result.size = bytes.size();
    if (bytes.size() < 4) {
        result.status = ModeFileStatus::TooShort;
        return result;
    }
    result.version = std::int32_t(readLe32(bytes.data()));
    std::size_t cellBlock = 0;
    int lastCell = 0;
    if (result.version == 1) {
        cellBlock = kV1CellBlock;
        lastCell = kV1LastCell;
    } else if (result.version == 2) {
        cellBlock = std::size_t(kSavedLastCell - kSavedFirstCell + 1) * 4;
        lastCell = kSavedLastCell;
    } else {
        result.status = ModeFileStatus::UnknownVersion;
        return result;
    }
    const std::size_t needed =
        4 + cellBlock + kBandImageSize + kExtraSize + kSpeakerLevelSize + kPlanSize;
    result.needed = needed;
    if (bytes.size() < needed) {
        result.status = ModeFileStatus::TooShort;
        return result;
    }

    ModeImage m = image;
    m.firstCell = kSavedFirstCell;
    m.lastCell = lastCell;
    const std::uint8_t* p = bytes.data() + 4;
    for (int c = kSavedFirstCell; c <= lastCell; ++c)
        m.cells[std::size_t(c)] = readLe32(p + 4 * (c - kSavedFirstCell));
    p += cellBlock;
    std::copy_n(p, kBandImageSize, m.bandImage.begin());
    p += kBandImageSize;
    std::copy_n(p, kExtraSize, m.extra.begin());
    p += kExtraSize;
    std::copy_n(p, kSpeakerLevelSize, m.speakerLevels.begin());
    p += kSpeakerLevelSize;
    std::copy_n(p, kPlanSize, m.plan.begin());

    if (result.version == 1) {
        // Old files predate the music AGC and allowed a wider pitch.
        m.cells[cell::MusicAgcOn] = 0;
        m.cells[cell::MusicAgcLevel] = kAgcLevelV1;
        const std::int32_t pitch = std::int32_t(m.cells[cell::MusicPitch]);
        if (pitch < -5 || pitch > 5)
            m.cells[cell::MusicPitch] = 0;
    }
    image = m;
    return result;
}

ModeFileResult loadModeFile(std::span<const std::uint8_t> bytes, ParameterStore& store) {
    ModeImage image = store.modeImage();
    const ModeFileResult r = parseModeFile(bytes, image);
    if (r)
        store.applyModeImage(image);
    return r;
}

namespace {

// The head of a file: no layout is longer than a version-1 file, anything beyond is never
// looked at.
ModeFileResult readHead(const std::string& path, std::vector<std::uint8_t>& bytes) {
    ModeFileResult result;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        result.status = ModeFileStatus::CannotOpen;
        result.systemError = errno;
        return result;
    }
    bytes.assign(kModeFileV1Size, 0);
    const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        result.status = ModeFileStatus::CannotOpen;
        result.systemError = error;
        return result;
    }
    bytes.resize(n);
    return result;
}

} // namespace

ModeFileResult readModeFile(const std::string& path, ParameterStore& store) {
    std::vector<std::uint8_t> bytes;
    const ModeFileResult r = readHead(path, bytes);
    return r ? loadModeFile(bytes, store) : r;
}

ModeFileResult readModeImage(const std::string& path, ModeImage& image) {
    std::vector<std::uint8_t> bytes;
    const ModeFileResult r = readHead(path, bytes);
    return r ? parseModeFile(bytes, image) : r;
}

std::vector<std::uint8_t> modeFileBytes(const ModeImage& image) {
    std::vector<std::uint8_t> out(kModeFileV2Size);
    std::uint8_t* p = out.data();
    writeLe32(p, 2);
    p += 4;
    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c, p += 4)
        writeLe32(p, image.cells[std::size_t(c)]);
    p = std::copy(image.bandImage.begin(), image.bandImage.end(), p);
    p = std::copy(image.extra.begin(), image.extra.end(), p);
    p = std::copy(image.speakerLevels.begin(), image.speakerLevels.end(), p);
    std::copy(image.plan.begin(), image.plan.end(), p);
    return out;
}

ModeFileResult writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    ModeFileResult result;
    const WriteResult w = FileWriter().write(path, bytes);
    if (!w) {
        result.status = ModeFileStatus::CannotWrite;
        result.systemError = w.systemError;
        return result;
    }
    result.version = 2;
    return result;
}

ModeFileResult writeModeFile(const std::string& path, const ParameterStore& store) {
    const auto bytes = modeFileBytes(store.modeImage());
    return writeFileAtomically(path, bytes);
}

int modeIndexFromFileName(const std::string& path) {
    const std::u16string name = stemUnits(path);
    static const char16_t* const prefixes[4][3] = {
        {u"默认1", u"tripath1", u"m1"},
        {u"默认2", u"tripath2", u"m2"},
        {u"默认3", u"tripath3", u"m3"},
        {u"默认4", u"tripath4", u"m4"},
    };
    for (int mode = 0; mode < 4; ++mode)
        for (const char16_t* prefix : prefixes[mode])
            if (name.starts_with(prefix))
                return mode;
    return -1;
}

std::string modeNameFromFileName(const std::string& path) {
    return utf16ToUtf8(showableModeName(stemUnits(path)));
}

std::string unshowableModeName(const std::string& path) {
    const std::u16string name = stemUnits(path);
    return showableModeName(name) == name ? std::string() : utf16ToUtf8(name);
}

bool isOpenableModeFileName(const std::string& path) {
    const std::string name = fileName(path);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    // The historical extensions, and the ones our own save dialogs use.
    return ext == "r3v8" || ext == "r3v9" || ext == "q7m" || ext == "q7test";
}

} // namespace q7
