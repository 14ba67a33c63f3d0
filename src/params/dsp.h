// SPDX-License-Identifier: GPL-3.0-or-later
// DSP addressing: which (module, parameter) each cell goes to and how, the senders the pages
// call, the DSP read list, the decoder for values read back, and the full download.
#pragma once

#include "params/codec.h"
#include "params/store.h"
#include "protocol/clock.h"
#include "protocol/report.h"
#include "protocol/report_sink.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace q7 {

inline constexpr int kEqSampleRate = 48000;

// How a cell travels to the DSP and back.
enum class CellCode : std::uint8_t {
    None,
    C100,
    C1e4,
    C1e5,
    C1e7,
    Sel,
    Pitch, // selector sent as cell + 5
    Mute,
    Flag,
    Ms,
    Hz,
    Raw,
    Comp,
    ReverbTime, // c100 held as a float, truncated to whole hundredths
};

struct DspAddress {
    std::uint8_t module = 0;
    std::uint8_t parameter = 0;
    bool operator==(const DspAddress&) const = default;
};

struct CellLayout {
    CellCode code = CellCode::None;
    std::uint8_t count = 1; // words per write
    std::uint8_t addressCount = 0;
    DspAddress address[2]{};
};

// How cell i travels (code None for cells without a DSP address).
const CellLayout& cellLayout(int cell);
// Whether a saved cell holds an IEEE single rather than an integer.
bool isFloatCell(int cell);

// ---- groups of related cells ----

// The band sender exists once per group and channel half.
enum class EqHalf {
    MicA,
    MicB,
    EchoA,
    EchoB,
    ReverbA,
    ReverbB,
    Music,
    Main,
    Rear,
    Center,
    Sub,
    Top
};
struct EqHalfInfo {
    int group;
    int firstRecord;
    int records; // records the half owns (bands and, for outputs, split filter pairs)
};
const EqHalfInfo& eqHalfInfo(EqHalf h);

// Output delay channels, in the delay page's row order.
enum class DelayChannel { MainL, MainR, Center, Sub, RearL, RearR, TopL, TopR };
inline constexpr int kDelayChannelCount = 8;
struct DelayChannelInfo {
    int delayCell, offCell, modeCell;
    int module, offParameter, modeParameter, delayParameter;
    int splitRecord; // first of the high-pass / low-pass pair in the module's band group
};
const DelayChannelInfo& delayChannelInfo(DelayChannel c);

// Crossover split table: 26 entries, lower 500 + 100 i Hz, upper lower + 500 Hz.
inline constexpr int kSplitCount = 26;
int splitLowerHz(int index);
int splitUpperHz(int index);
// The first entry whose lower frequency equals hz, or 0.
int splitIndexForHz(int hz);

enum class Effect { Echo, Reverb };
enum class MicChannel { A, B };

// Compressors, in the order the full push sends them.
enum class OutputGroup { Main, Rear, Top, Center, Sub };
struct CompressorInfo {
    int module, parameter, firstCell, offCell;
};
const CompressorInfo& compressorInfo(OutputGroup g);

// Speakers 1..8 (1 main L, 2 center, 3 main R, 4 rear L, 5 sub, 6 rear R, 7 top L, 8 top R);
// any other number is treated as 1.
struct SpeakerInfo {
    int slot, module, parameter;
};
const SpeakerInfo& speakerInfo(int speaker);
// The level the location page gives a speaker d metres from the listener.
float speakerLevelForDistance(double metres);

// ---- DSP read list ----

struct DspRequest {
    std::uint8_t module, parameter, count;
    bool operator==(const DspRequest&) const = default;
};
// The 148 reads of a synchronisation, in order.
const std::vector<DspRequest>& dspReadList();

// Stores the values of a RPL_DSP_VALUE report into the cells its (module, parameter) maps to.
// Addresses without a cell, and modules outside 1..9, change nothing.
void decodeDspReply(ParameterStore& store, const Report& r);

// ---- senders ----

// Every sender first writes the store, then writes its reports to the sink. A refused report is
// dropped (the sink logs it); the return value says whether every report went out whole.
class Dsp {
public:
    Dsp(ParameterStore& store, ReportSink& sink, Clock& clock)
        : store_(store), sink_(sink), clock_(clock) {}

    ParameterStore& store() { return store_; }

    // Where the fixed waits between the reports of a timed sequence (the music fade, the volume
    // ramp) go. Unset, the sending thread sleeps; the editor's window hands them to the link's
    // writer instead, so that it never waits itself.
    void setPause(std::function<void(double ms)> pause) { pause_ = std::move(pause); }

    bool WriteDspParam(int module, int parameter, std::uint32_t word, int count);
    bool WriteDspParam(int module, int parameter, float value, int count);
    bool writeWords(int module, int parameter, std::span<const std::uint32_t> words);
    bool readDspParam(int module, int parameter, int count);

    // The cell's current value to all its addresses, converted by its code: level, selector,
    // mute (with the music fade), flag pair or raw.
    bool sendCell(int cell);
    bool sendLevel(int cell) { return sendCell(cell); }
    bool sendSelector(int cell) { return sendCell(cell); }
    bool sendMute(int cell) { return sendCell(cell); }

    bool sendDelay(DelayChannel c, double ms);
    bool sendDelayMode(DelayChannel c, int mode);
    bool sendSplitFilter(DelayChannel c, int index);
    bool sendPredelay(Effect e, MicChannel c, double totalMs);
    bool sendEchoTime(MicChannel c, double ms);
    bool sendReverbTime(MicChannel c, double value);
    bool sendMicShift(MicChannel c, int shift);
    bool sendCompressor(OutputGroup g, const codec::Compressor& values);

    // The band's record goes to the band image and to the amplifier's memory, then its
    // coefficients to (group, record). Records outside the group are refused.
    bool SendBand(int group, int record, int type, double gainDb, double frequencyHz, double q,
                  double extraGainDb = 0.0);
    // Band number within the half; channel-B halves add 15 (mic) or 7 (echo, reverb).
    bool SendBand(EqHalf half, int band, int type, double gainDb, double frequencyHz, double q,
                  double extraGainDb = 0.0);
    bool resetGroupEq(EqHalf half);

    bool sendSpeakerLevel(int speaker, float db);
    bool sendSpeakerLevelBlock();
    bool sendPlanBlock();
    bool resetAllSpeakerLevels();
    bool sendBandImage();
    // The stored record to the amplifier's memory, then its coefficients designed from it, as
    // the full download designs them.
    bool sendBandRecord(int group, int record);

    // The full push of every cell, in the amplifier's fixed order.
    bool PushAll(int bymode);
    // The full push's sends, in its order, limited to those that carry a cell for which only()
    // holds (an empty only() sends all). A limited push never starts the volumes silent.
    bool pushCells(int bymode, const std::function<bool(int cell)>& only);
    // Coefficients of the pushed records of groups 1..9 from the band image.
    bool pushEq();
    bool volumeRamp();
    // PushAll, band image, plan and level blocks, each speaker's level record (1..8), EQ push,
    // volume ramp, closing reads. step, when given, hears each part as it begins (progress).
    enum class DownloadPart { Settings, BandImage, Speakers, Filters, Volume, Confirm };
    bool fullDownload(int bymode, const std::function<void(DownloadPart)>& step = {});

private:
    ParameterStore& store_;
    ReportSink& sink_;
    Clock& clock_;
    std::function<void(double)> pause_;

    bool send(const Report& r);
    void pause(double ms);
    bool sendFloatToAddresses(const CellLayout& how, float value);
    bool sendMusicFadeIn();
};

// The number of reports fullDownload(bymode) sends for the store as it is now (a dry run on a
// copy: nothing is sent and nothing waits).
int fullDownloadReports(const ParameterStore& store, int bymode);

// The start-of-reset plan used by "reset all speaker levels".
inline constexpr PlanBlock kFactoryPlan = {0x04, 0x04, 0x00, 0x00, 0x8A, 0x0A, 0x00,
                                           0x0A, 0x0A, 0x0A, 0x8A, 0x8A, 0x00, 0x8A,
                                           0x0A, 0x8A, 0x85, 0x00, 0x05, 0x00};

} // namespace q7
