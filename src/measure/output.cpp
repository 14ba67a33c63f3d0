// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/output.h"

#include "protocol/file_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sndfile.h>

namespace q7 {

std::string rewText(const FrequencyResponse& r, const std::vector<std::string>& header) {
    std::string out;
    for (const std::string& h : header) {
        out += "* ";
        // A header line never breaks into a data line.
        for (char c : h)
            out += (c == '\n' || c == '\r') ? ' ' : c;
        out += '\n';
    }
    out += "* Freq(Hz) SPL(dB) Phase(degrees)\n";
    char line[96];
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        const double phase = i < r.phaseDeg.size() ? r.phaseDeg[i] : 0.0;
        std::snprintf(line, sizeof line, "%.6f %.3f %.4f\n", r.hz[i], r.db[i], phase);
        out += line;
    }
    return out;
}

namespace {

// A growing in-memory file for libsndfile, so that the WAV reaches the disk through the checked
// writer in one piece.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    sf_count_t at = 0;
};

sf_count_t memLength(void* user) {
    return sf_count_t(static_cast<MemoryFile*>(user)->bytes.size());
}
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? m->at
                            : whence == SEEK_END ? sf_count_t(m->bytes.size())
                                                 : 0;
    m->at = std::max<sf_count_t>(0, base + offset);
    return m->at;
}
sf_count_t memRead(void* to, sf_count_t n, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t size = sf_count_t(m->bytes.size());
    const sf_count_t k = std::max<sf_count_t>(0, std::min(n, size - m->at));
    std::memcpy(to, m->bytes.data() + m->at, std::size_t(k));
    m->at += k;
    return k;
}
sf_count_t memWrite(const void* from, sf_count_t n, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    if (std::size_t(m->at + n) > m->bytes.size())
        m->bytes.resize(std::size_t(m->at + n));
    std::memcpy(m->bytes.data() + m->at, from, std::size_t(n));
    m->at += n;
    return n;
}
sf_count_t memTell(void* user) {
    return static_cast<MemoryFile*>(user)->at;
}

} // namespace

bool writeWav(const std::string& path, const std::vector<float>& samples, int channels,
              double sampleRate, std::string& error) {
    SF_INFO info{};
    info.samplerate = int(sampleRate);
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    MemoryFile memory;
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SNDFILE* f = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!f) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = sf_count_t(samples.size() / std::size_t(channels));
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    if (!ok)
        error = "cannot write " + path + ": " + sf_strerror(f);
    if (sf_close(f) != 0 || !ok) {
        if (ok)
            error = "cannot write " + path;
        return false;
    }
    const WriteResult w = FileWriter().write(path, memory.bytes);
    if (!w) {
        error = describeWrite(w, path);
        return false;
    }
    return true;
}

WavData readWav(const std::string& path, double maxSeconds) {
    WavData w;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        w.error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return w;
    }
    if (info.channels < 1 || info.channels > 64 || info.samplerate < 8000 ||
        info.samplerate > 384000) {
        w.error = path + ": unsupported channel count or sample rate";
    } else if (double(info.frames) > maxSeconds * info.samplerate) {
        w.error = path + " is longer than " + std::to_string(int(maxSeconds)) + " s";
    } else {
        w.channels = info.channels;
        w.sampleRate = info.samplerate;
        w.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
        const sf_count_t got = sf_readf_float(f, w.samples.data(), info.frames);
        w.samples.resize(std::size_t(std::max<sf_count_t>(got, 0)) * std::size_t(info.channels));
        if (got <= 0)
            w.error = path + " holds no audio";
    }
    sf_close(f);
    if (!w.error.empty())
        w.channels = 0;
    return w;
}

} // namespace q7
