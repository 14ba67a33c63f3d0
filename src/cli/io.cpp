// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/io.h"

#include "params/mode_check.h"
#include "params/mode_file.h"
#include "protocol/file_writer.h"

#include <ctime>
#include <fstream>

namespace q7 {

namespace {

// Far more than any mode file, filter text or measurement the commands read.
constexpr std::size_t kModeInputLimit = 1 << 20;

} // namespace

std::string inputName(const std::string& path) {
    return isStdio(path) ? "standard input" : path;
}

std::string outputName(const std::string& path) {
    return isStdio(path) ? "standard output" : path;
}

std::optional<std::string> readInput(const std::string& path, std::istream& in, std::size_t limit,
                                     std::string& error) {
    std::ifstream file;
    std::istream* from = &in;
    if (!isStdio(path)) {
        file.open(path, std::ios::binary);
        if (!file) {
            error = "cannot open " + path;
            return std::nullopt;
        }
        from = &file;
    }
    std::string s;
    char buf[65536];
    while (from->read(buf, sizeof buf) || from->gcount() > 0) {
        s.append(buf, std::size_t(from->gcount()));
        if (s.size() > limit) {
            error = inputName(path) + " is too large";
            return std::nullopt;
        }
    }
    if (from->bad()) {
        error = "cannot read " + inputName(path);
        return std::nullopt;
    }
    return s;
}

bool readModeInput(const std::string& path, std::istream& in, ModeImage& image, std::string& error,
                   int* version) {
    ModeFileResult r;
    if (isStdio(path)) {
        const auto text = readInput(path, in, kModeInputLimit, error);
        if (!text)
            return false;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
        r = parseModeFile(std::span<const std::uint8_t>(bytes, text->size()), image);
    } else {
        r = readModeImage(path, image);
    }
    if (!r) {
        error = describe(r, inputName(path));
        return false;
    }
    if (version)
        *version = r.version;
    return true;
}

bool readCheckedModeInput(const std::string& path, std::istream& in, ModeImage& image,
                          std::string& error, std::vector<std::string>& clamped) {
    ModeImage read = image;
    if (!readModeInput(path, in, read, error))
        return false;
    const ModeFileCheck c = checkModeImage(read);
    if (c.refused()) {
        error = inputName(path) + ": not loaded: " + describeRefusal(*c.refusal, true);
        return false;
    }
    clamped.clear();
    for (const ValueProblem& p : c.clamped)
        clamped.push_back(describeClamp(p, true));
    image = c.image;
    return true;
}

bool writeOutput(const std::string& path, std::ostream& out, std::span<const std::uint8_t> bytes,
                 std::string& error) {
    if (isStdio(path)) {
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            error = "cannot write standard output";
            return false;
        }
        return true;
    }
    const WriteResult r = FileWriter().write(path, bytes);
    if (!r) {
        error = describeWrite(r, path);
        return false;
    }
    return true;
}

std::string localTimeText(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

} // namespace q7
