// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/output.h"

#include <cstdio>
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

bool writeWav(const std::string& path, const std::vector<float>& samples, int channels,
              double sampleRate, std::string& error) {
    SF_INFO info{};
    info.samplerate = int(sampleRate);
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = sf_count_t(samples.size() / std::size_t(channels));
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    if (!ok)
        error = "cannot write " + path + ": " + sf_strerror(f);
    if (sf_close(f) != 0 && ok) {
        error = "cannot write " + path;
        return false;
    }
    return ok;
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
