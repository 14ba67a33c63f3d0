// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/mode_commands.h"

#include "cli/command_line.h"
#include "cli/io.h"
#include "cli/mode_json.h"
#include "cli/param_commands.h"
#include "params/biquad.h"
#include "params/codec.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "params/param_names.h"

#include <cmath>
#include <cstdio>

namespace q7 {

namespace {

struct DumpOptions {
    std::string file;
    bool json = false;
};

struct NewOptions {
    std::string file;
};

struct DiffOptions {
    std::string a, b;
    bool json = false;
};

struct BiquadOptions {
    int type = 0;
    double gain = 0, freq = 0, q = 0;
    bool json = false;
};

int modeDump(const DumpOptions& o, Invocation& run) {
    ModeImage image = ParameterStore().modeImage();
    std::string error;
    int version = 0;
    if (!readModeInput(o.file, run.in, image, error, &version))
        return run.fail(error);
    run.out << modeImageJson(image, version) << "\n";
    return kExitOk;
}

int modeNew(const NewOptions& o, Invocation& run) {
    std::string error;
    if (!writeOutput(o.file, run.out, modeFileBytes(newModeImage()), error))
        return run.fail(error);
    return kExitOk;
}

// 0 when the files hold the same settings, 1 when they differ (or one cannot be read).
int modeDiff(const DiffOptions& o, Invocation& run) {
    if (isStdio(o.a) && isStdio(o.b))
        return run.usage("only one of the files can be standard input");
    // Both start from the same image, so only what the files hold can differ.
    const ModeImage start = ParameterStore().modeImage();
    ModeImage images[2] = {start, start};
    const std::string* paths[2] = {&o.a, &o.b};
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (!readModeInput(*paths[i], run.in, images[i], error))
            return run.fail(error);
    }
    const std::vector<Difference> d = differences(images[0], images[1]);
    if (o.json)
        run.out << differencesJson(d) << "\n";
    else
        for (const Difference& x : d)
            run.out << describe(x, true) << "\n";
    return d.empty() ? kExitOk : kExitFailure;
}

int biquad(const BiquadOptions& o, Invocation& run) {
    // Values the designer would turn into NaN or unstable coefficients are refused.
    if (o.type < 0 || o.type > 21)
        return run.usage("TYPE " + std::to_string(o.type) + " is not a band type (0..21)");
    if (!std::isfinite(o.gain))
        return run.usage("GAIN_DB must be a number");
    if (!std::isfinite(o.freq) || o.freq <= 0 || o.freq >= kEqSampleRate / 2)
        return run.usage("FREQ_HZ must be above 0 and below " +
                         std::to_string(int(kEqSampleRate / 2)) + " Hz");
    if (!std::isfinite(o.q) || o.q <= 0)
        return run.usage("Q must be above 0");
    const Biquad b = DesignBiquad(o.type, o.gain, o.freq, o.q, 0.0, kEqSampleRate);
    const auto words = codec::coefficientWords(b);
    char line[256];
    if (o.json) {
        std::string j = "{\"type\": " + std::to_string(o.type) +
                        ", \"gain_db\": " + jsonDouble(o.gain) +
                        ", \"freq_hz\": " + jsonDouble(o.freq) + ", \"q\": " + jsonDouble(o.q) +
                        ", \"b0\": " + jsonDouble(b.b0) + ", \"b1\": " + jsonDouble(b.b1) +
                        ", \"b2\": " + jsonDouble(b.b2) + ", \"a1\": " + jsonDouble(b.a1) +
                        ", \"a2\": " + jsonDouble(b.a2) + ", \"words\": [";
        for (std::size_t i = 0; i < words.size(); ++i) {
            std::snprintf(line, sizeof line, "%s\"%08X\"", i ? ", " : "", words[i]);
            j += line;
        }
        run.out << j << "]}\n";
        return kExitOk;
    }
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g\n", b.b0, b.b1, b.b2, b.a1,
                  b.a2);
    run.out << line;
    std::snprintf(line, sizeof line, "%08X %08X %08X %08X %08X\n", words[0], words[1], words[2],
                  words[3], words[4]);
    run.out << line;
    return kExitOk;
}

} // namespace

void addModeFileCommands(CommandLine& cli) {
    CLI::App* mode = cli.group("mode", "the amplifier's user modes and mode files");

    auto& dump = cli.keep<DumpOptions>();
    CLI::App* c = cli.add(
        "dump", "print a mode file as JSON",
        "Prints every value the mode file holds as one JSON object, {\"version\": 2, "
        "\"params\": {\"mic.volume\": 60, ...}}, named as q7ctl params lists them, in the units "
        "get prints.\n",
        [&dump](Invocation& run) { return modeDump(dump, run); }, mode);
    c->add_option("FILE", dump.file, "the mode file; - reads standard input")->required();
    addJsonFlag(c, dump.json, "JSON, as without it");

    auto& made = cli.keep<NewOptions>();
    c = cli.add(
        "new", "write a mode file of the start settings",
        "Writes a mode file holding the settings the editor starts with, each brought within the "
        "range set accepts (the pages' ranges), so set takes back every value it holds.\n",
        [&made](Invocation& run) { return modeNew(made, run); }, mode);
    c->add_option("FILE", made.file, "the file to write; - writes standard output")->required();

    auto& diff = cli.keep<DiffOptions>();
    c = cli.add(
        "diff", "list what differs between two mode files",
        "Names every stored value that differs between two mode files, one a line, in the "
        "editor's terms (\"MAIN EQ band 3: gain -2.0 dB -> +1.5 dB\"). Exit 0 when they hold "
        "the same settings, 1 when they differ or one cannot be read.\n",
        [&diff](Invocation& run) { return modeDiff(diff, run); }, mode);
    c->add_option("A", diff.a, "the first mode file; - reads standard input")->required();
    c->add_option("B", diff.b, "the second mode file")->required();
    addJsonFlag(c, diff.json,
                "print {\"equal\": ..., \"differences\": [...]} with ids and both values");

    auto& bq = cli.keep<BiquadOptions>();
    c = cli.add("biquad", "the coefficients of one EQ band",
                "Prints the coefficients b0 b1 b2 a1 a2 of a band at 48 kHz and the words sent "
                "for them. TYPE: 0 off, 1 PEQ, 2 LP, 3 HP, 4 LS, 5 HS, 6..21 crossover sections.\n",
                [&bq](Invocation& run) { return biquad(bq, run); });
    c->add_option("TYPE", bq.type, "the band's type code")->required();
    c->add_option("GAIN_DB", bq.gain, "gain in dB")->required();
    c->add_option("FREQ_HZ", bq.freq, "frequency in Hz")->required();
    c->add_option("Q", bq.q, "Q")->required();
    addJsonFlag(c, bq.json);
}

} // namespace q7
