// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/param_names.h"

#include "params/dsp.h"

#include <array>
#include <cstdio>
#include <map>
#include <tuple>

namespace q7 {

namespace {

constexpr int kSavedCells = kSavedLastCell - kSavedFirstCell + 1;
constexpr int kBandFields = 4;

struct Texts {
    const char *zh, *en;
};

// The band list's type names, then the crossover sections of the filter designer.
constexpr Texts kTypeNames[22] = {
    {"关闭", "OFF"},
    {"参量", "PEQ"},
    {"低通", "LP"},
    {"高通", "HP"},
    {"低架", "LS"},
    {"高架", "HS"},
    {"切比雪夫低通", "Chebyshev LP"},
    {"切比雪夫高通", "Chebyshev HP"},
    {"低通 Q0.577", "LP Q0.577"},
    {"高通 Q0.577", "HP Q0.577"},
    {"一阶低通", "LP 1st order"},
    {"一阶高通", "HP 1st order"},
    {"低通 Q0.707", "LP Q0.707"},
    {"高通 Q0.707", "HP Q0.707"},
    {"低通 Q1.000", "LP Q1.000"},
    {"高通 Q1.000", "HP Q1.000"},
    {"低通 Q0.500", "LP Q0.500"},
    {"高通 Q0.500", "HP Q0.500"},
    {"低通 Q1.307", "LP Q1.307"},
    {"高通 Q1.307", "HP Q1.307"},
    {"低通 Q0.541", "LP Q0.541"},
    {"高通 Q0.541", "HP Q0.541"},
};

constexpr Texts kFieldNames[kBandFields] = {
    {"类型", "type"}, {"增益", "gain"}, {"频率", "frequency"}, {"Q值", "Q"}};
constexpr const char* kFieldIds[kBandFields] = {"type", "gain_db", "freq_hz", "q"};

// Delay channels in DelayChannel order, with the delay page's names.
struct Channel {
    const char* id;
    Texts name;
};
constexpr Channel kChannels[kDelayChannelCount] = {
    {"main.l", {"前置左", "Main L"}}, {"main.r", {"前置右", "Main R"}},
    {"center", {"中置", "Center"}},   {"sub", {"超低", "Sub"}},
    {"rear.l", {"后置左", "Rear L"}}, {"rear.r", {"后置右", "Rear R"}},
    {"top.l", {"顶置左", "Top L"}},   {"top.r", {"顶置右", "Top R"}},
};

// Speakers 1..8 with the location page's names.
constexpr Texts kSpeakers[kSpeakerCount] = {
    {"前置左", "Main.L"}, {"中置", "Center"},   {"前置右", "Main.R"}, {"后置左", "Rear.L"},
    {"超低", "Sub"},      {"后置右", "Rear.R"}, {"顶置左", "Top.L"},  {"顶置右", "Top.R"}};
// The speaker of each level slot.
constexpr int kSlotSpeaker[kSpeakerCount] = {1, 3, 4, 6, 2, 5, 7, 8};

struct Table {
    std::vector<ParamInfo> params;
    std::array<int, kCellCount> cells{};
    int bandStart = 0, planStart = 0, levelStart = 0, extraStart = 0;
    std::map<std::string, std::size_t, std::less<>> ids;
};

ParamInfo& number(ParamInfo& p, const char* unit, double lo, double hi, int decimals = 0) {
    p.kind = ValueKind::Number;
    p.unit = unit;
    p.decimals = decimals;
    p.hasRange = true;
    p.min = lo;
    p.max = hi;
    return p;
}

ParamInfo& switched(ParamInfo& p, ValueKind kind) {
    p.kind = kind;
    p.hasRange = true;
    p.min = 0;
    p.max = 1;
    return p;
}

// ---- cells ----

void addCells(std::array<ParamInfo, kSavedCells>& cells) {
    auto cell = [&](int c, const std::string& id, const std::string& zh,
                    const std::string& en) -> ParamInfo& {
        ParamInfo& p = cells[std::size_t(c - kSavedFirstCell)];
        p.id = id;
        p.nameZh = zh;
        p.nameEn = en;
        p.place = ParamPlace::Cell;
        p.index = c;
        p.storage = isFloatCell(c) ? ParamStorage::Float32 : ParamStorage::Int32;
        return p;
    };
    auto volume = [&](int c, const char* id, const char* zh, const char* en) {
        number(cell(c, id, zh, en), "", 0, 99);
    };
    auto onOff = [&](int c, const std::string& id, const std::string& zh, const std::string& en) {
        switched(cell(c, id, zh, en), ValueKind::OnOff);
    };

    // The ribbon's master controls.
    volume(26, "mic.volume", "话筒音量", "Mic Vol");
    volume(43, "effect.volume", "总效果音量", "Effect Vol");
    volume(71, "echo.volume", "回声音量", "Echo Vol");
    volume(83, "reverb.volume", "混响音量", "Reverb Vol");
    volume(85, "music.volume", "音乐音量", "Music Vol");
    onOff(44, "mic.mute", "话筒静音", "Mic Mute");
    onOff(72, "echo.mute", "回声静音", "Echo Mute");
    onOff(84, "reverb.mute", "混响静音", "Reverb Mute");
    onOff(86, "music.mute", "音乐静音", "Music Mute");
    number(cell(89, "music.gate", "音乐噪声门", "Noisegate"), "", 0, 100);
    number(cell(88, "music.pitch", "音乐变调", "Music Pitch"), "", -5, 5).explicitSign = true;
    onOff(87, "music.eq.bypass", "音乐均衡 旁路", "Music EQ bypass");

    // Microphone ports and channels.
    for (int k = 1; k <= 4; ++k) {
        const std::string n = std::to_string(k);
        const std::string zh = "话筒口" + n, en = "Mic " + n;
        onOff(26 + k, "mic.port." + n + ".to_a", zh + " 通道A", en + " CH A");
        onOff(34 + k, "mic.port." + n + ".to_b", zh + " 通道B", en + " CH B");
        number(cell(44 + k, "mic.port." + n + ".volume", zh + " 音量", en + " Vol"), "", 0, 100);
        number(cell(48 + k, "mic.port." + n + ".gate", zh + " 噪声门", en + " MNG"), "", 0, 100);
    }
    for (int ch = 0; ch < 2; ++ch) {
        const std::string x = ch ? "b" : "a", X = ch ? "B" : "A";
        const int base = ch ? 39 : 31; // EQ bypass, phase, shift frequency, shift bypass
        const std::string mic = "话筒通道" + X, micEn = "Mic CH " + X;
        onOff(base, "mic." + x + ".eq.bypass", mic + "均衡 旁路", "CH " + X + " Mic EQ bypass");
        const std::string group = std::to_string(ch + 1);
        // 1 is the normal phase; the settings dialog's box is checked when the cell is 0.
        switched(cell(base + 1, "mic.group." + group + ".reverse", "话筒" + group + "组反相",
                      "Mic" + group + " reverse"),
                 ValueKind::OnWhenZero);
        ParamInfo& shift = cell(base + 2, "mic." + x + ".shift.freq_hz", mic + " 话筒移频",
                                micEn + " Shift Frequency");
        number(shift, "Hz", 1, 5).kind = ValueKind::Shift;
        onOff(base + 3, "mic." + x + ".shift.bypass", mic + " 移频旁路", micEn + " shift bypass");

        // Echo and reverb of the channel, as the music page's parameter list names them. Both
        // start with the EQ bypass, the level and the predelay in two halves (the page shows
        // their sum, 3..200 ms).
        auto effect = [&](int first, const std::string& id, const std::string& zh,
                          const std::string& en) {
            onOff(first, id + "." + x + ".eq.bypass", zh + "通道" + X + "均衡 旁路",
                  "CH " + X + " " + en + " EQ bypass");
            number(cell(first + 1, id + "." + x + ".level", mic + " " + zh + "电平",
                        micEn + " " + en + " Level"),
                   "%", 0, 100);
            for (int half = 0; half < 2; ++half)
                number(
                    cell(first + 2 + half,
                         id + "." + x + ".predelay." + (half ? "second_ms" : "first_ms"),
                         mic + " " + zh + (half ? "预延时(后半)" : "预延时(前半)"),
                         micEn + " " + en + " Predelay (" + (half ? "second" : "first") + " half)"),
                    "ms", 1.5, 100, 1);
        };
        const int echo = ch ? 64 : 57, reverb = ch ? 78 : 73;
        effect(echo, "echo", "回声", "Echo");
        number(cell(echo + 4, "echo." + x + ".time_ms", mic + " 回声间隔", micEn + " Echo Time"),
               "ms", 180, 260);
        number(cell(echo + 5, "echo." + x + ".start_volume", mic + " 回声起始音量",
                    micEn + " Echo Start Vol"),
               "%", 40, 100);
        number(cell(echo + 6, "echo." + x + ".decay", mic + " 回声衰减比例",
                    micEn + " Echo Vol Decay"),
               "%", 20, 90);

        effect(reverb, "reverb", "混响", "Reverb");
        // Held as the slider's 0..100; the page shows it as 40 ms + 49.6 ms a step.
        ParamInfo& time =
            cell(reverb + 4, "reverb." + x + ".time_ms", mic + " 混响时长", micEn + " Reverb Time");
        number(time, "ms", 40, 5000);
        time.mul = 49.6;
        time.add = 40;
    }

    // Noise gate dialog: the slider stands at 101 - n.
    auto gate = [&](int c, const std::string& id, const std::string& zh, const std::string& en) {
        ParamInfo& p = number(cell(c, id, zh, en), "", 1, 100);
        p.mul = -1;
        p.add = 101;
    };
    gate(53, "mic.gate.attack", "话筒噪声门 启动时间", "Mic noise gate Attack time");
    gate(54, "mic.gate.release", "话筒噪声门 关闭时间", "Mic noise gate Release time");
    gate(90, "music.gate.attack", "音乐噪声门 启动时间", "Music noise gate Attack time");
    gate(91, "music.gate.release", "音乐噪声门 关闭时间", "Music noise gate Release time");

    onOff(55, "auto_sub.on", "自动超低", "Auto SUB");
    number(cell(56, "auto_sub.level", "自动超低 超低比例", "Auto SUB level"), "%", 0, 100);
    onOff(171, "music.agc.on", "音乐AGC", "Music AGC");
    // The dialog shows the level 12 dB above the value kept and sent.
    ParamInfo& agc =
        number(cell(172, "music.agc.level_db", "音乐AGC电平", "Music AGC Level"), "dB", -6, 6, 1);
    agc.add = 12;
    agc.explicitSign = true;

    // Outputs.
    struct Output {
        const char* id;
        Texts nav, eq, comp, compOn, mute;
        OutputGroup group;
        int mix, eqBypass, muteCell;
    };
    const Output outputs[5] = {
        {"main",
         {"前置音箱", "Main"},
         {"前置均衡", "MAIN EQ"},
         {"前置压限", "Main Comp"},
         {"前置压限启用", "Main Comp ON"},
         {"前置静音", "Main Mute"},
         OutputGroup::Main,
         92,
         96,
         108},
        {"rear",
         {"后置音箱", "Rear"},
         {"后置均衡", "REAR EQ"},
         {"后置压限", "Rear Comp"},
         {"后置压限启用", "Rear Comp ON"},
         {"后置静音", "Rear Mute"},
         OutputGroup::Rear,
         109,
         113,
         125},
        {"top",
         {"顶置音箱", "Top"},
         {"顶置均衡", "TOP EQ"},
         {"顶置压限", "Top Comp"},
         {"顶置压限启用", "Top Comp ON"},
         {"顶置静音", "Top Mute"},
         OutputGroup::Top,
         126,
         130,
         142},
        {"center",
         {"中置音箱", "Center"},
         {"中置均衡", "Center EQ"},
         {"中置压限", "Center Comp"},
         {"中置压限启用", "Center Comp ON"},
         {"中置静音", "Center Mute"},
         OutputGroup::Center,
         143,
         147,
         156},
        {"sub",
         {"超低音箱", "Sub"},
         {"超低均衡", "SUB EQ"},
         {"超低压限", "Sub Comp"},
         {"超低压限启用", "Sub Comp ON"},
         {"超低静音", "Sub Mute"},
         OutputGroup::Sub,
         157,
         161,
         170},
    };
    constexpr Texts kMix[4] = {{"直达音量", "Direct"},
                               {"混响音量", "Reverb"},
                               {"回声音量", "Echo"},
                               {"音乐音量", "Music"}};
    constexpr const char* kMixIds[4] = {"direct", "reverb", "echo", "music"};
    for (const Output& o : outputs) {
        const std::string id = o.id;
        for (int k = 0; k < 4; ++k)
            number(cell(o.mix + k, id + ".mix." + kMixIds[k],
                        o.nav.zh + std::string(" ") + kMix[k].zh,
                        o.nav.en + std::string(" ") + kMix[k].en),
                   "%", 0, 100);
        onOff(o.eqBypass, id + ".eq.bypass", o.eq.zh + std::string(" 旁路"),
              o.eq.en + std::string(" bypass"));
        onOff(o.muteCell, id + ".mute", o.mute.zh, o.mute.en);

        const CompressorInfo& c = compressorInfo(o.group);
        switched(cell(c.offCell, id + ".comp.on", o.compOn.zh, o.compOn.en), ValueKind::OnWhenZero);
        const std::string zh = o.comp.zh + std::string(" "), en = o.comp.en + std::string(" ");
        number(cell(c.firstCell, id + ".comp.threshold_db", zh + "阀(阈)", en + "Threshold"), "dB",
               -60, 0, 1);
        number(cell(c.firstCell + 1, id + ".comp.ratio", zh + "衰减比例", en + "Ratio"), "", 1, 30,
               1)
            .kind = ValueKind::Ratio;
        number(cell(c.firstCell + 2, id + ".comp.attack_ms", zh + "启动时间", en + "Attack time"),
               "ms", 1, 100);
        number(cell(c.firstCell + 3, id + ".comp.release_ms", zh + "释放时间", en + "Release time"),
               "ms", 1, 1000);
    }
    for (int ch = 0; ch < kDelayChannelCount; ++ch) {
        const DelayChannelInfo& d = delayChannelInfo(DelayChannel(ch));
        const Channel& c = kChannels[ch];
        const std::string id = c.id, zh = c.name.zh + std::string(" "),
                          en = c.name.en + std::string(" ");
        number(cell(d.delayCell, id + ".delay_ms", zh + "延时", en + "Delay"), "ms", 1.5, 100, 1);
        switched(cell(d.offCell, id + ".delay.on", zh + "延时开关", en + "Delay ON"),
                 ValueKind::OnWhenZero);
        switched(cell(d.modeCell, id + ".delay.mode", zh + "延时方式", en + "Delay mode"),
                 ValueKind::DelayMode);
    }
}

// ---- bands ----

struct Bank {
    std::string id;
    Texts title;
    int band; // 1-based, as the band list numbers it
    int section = 0;
};

void bandNames(ParamInfo& p, const Bank& b) {
    const std::string n = std::to_string(b.band);
    p.id = b.id + ".eq." + n;
    p.nameZh = b.title.zh + (" 第" + n + "段");
    p.nameEn = b.title.en + (" band " + n);
    if (b.section) {
        const std::string s = std::to_string(b.section);
        p.id += ".section." + s;
        p.nameZh += " 第" + s + "节";
        p.nameEn += " section " + s;
    }
}

// Names the record of the band image, or returns false for a split filter record.
bool bankOf(int group, int record, Bank& out) {
    auto half = [&](int size, const char* a, Texts ta, const char* b, Texts tb) {
        out = record < size ? Bank{a, ta, record + 1} : Bank{b, tb, record - size + 1};
        return true;
    };
    switch (group) {
    case 1:
        return half(15, "mic.a", {"话筒通道A均衡", "CH A Mic EQ"}, "mic.b",
                    {"话筒通道B均衡", "CH B Mic EQ"});
    case 2:
        return half(7, "echo.a", {"回声通道A均衡", "CH A Echo EQ"}, "echo.b",
                    {"回声通道B均衡", "CH B Echo EQ"});
    case 3:
        return half(7, "reverb.a", {"混响通道A均衡", "CH A Reverb EQ"}, "reverb.b",
                    {"混响通道B均衡", "CH B Reverb EQ"});
    case 4:
        out = {"music", {"音乐均衡", "Music EQ"}, record + 1};
        return true;
    case 5:
        out = {"main", {"前置均衡", "MAIN EQ"}, record + 1};
        return record < 24;
    case 6:
        out = {"rear", {"后置均衡", "REAR EQ"}, record + 1};
        return record < 10;
    case 7:
        out = {"center", {"中置均衡", "Center EQ"}, record + 1};
        return record < 10;
    case 8:
        // Each visible band is followed by its three sections.
        out = {"sub", {"超低均衡", "SUB EQ"}, record / 4 + 1, record % 4};
        return record < 20;
    case 9:
        out = {"top", {"顶置均衡", "TOP EQ"}, record + 1};
        return record < 10;
    }
    return false;
}

void splitNames(ParamInfo& p, int group, int record) {
    for (int ch = 0; ch < kDelayChannelCount; ++ch) {
        const DelayChannelInfo& d = delayChannelInfo(DelayChannel(ch));
        if (d.module != group || (record != d.splitRecord && record != d.splitRecord + 1))
            continue;
        const bool hp = record == d.splitRecord; // a high-pass, then a low-pass record
        const Channel& c = kChannels[ch];
        p.id = std::string(c.id) + (hp ? ".xover.hp" : ".xover.lp");
        p.nameZh = c.name.zh + std::string(hp ? " 分频高通" : " 分频低通");
        p.nameEn = c.name.en + std::string(hp ? " split HP" : " split LP");
        return;
    }
}

void addBand(std::vector<ParamInfo>& t, int group, int record) {
    ParamInfo base;
    base.place = ParamPlace::Band;
    base.storage = ParamStorage::Unsigned;
    base.group = group;
    base.record = record;
    Bank bank;
    const bool visible = bankOf(group, record, bank);
    if (visible)
        bandNames(base, bank);
    else
        splitNames(base, group, record);
    // The split pairs are set from the delay page's table and the Sub's sections follow their
    // band: no page gives them a range of their own.
    const bool ranged = visible && bank.section == 0;
    const bool crossover = group == 8; // the Sub's slopes use the section codes

    for (int f = 0; f < kBandFields; ++f) {
        ParamInfo p = base;
        p.field = BandField(f);
        p.id += std::string(".") + kFieldIds[f];
        p.fieldZh = kFieldNames[f].zh;
        p.fieldEn = kFieldNames[f].en;
        switch (p.field) {
        case BandField::Type:
            p.kind = ValueKind::FilterType;
            p.hasRange = true;
            p.max = crossover ? 21 : 5;
            break;
        case BandField::GainDb:
            number(p, "dB", -15, 15, 1);
            p.add = -150;
            p.div = 10;
            p.explicitSign = true;
            break;
        case BandField::FreqHz:
            number(p, "Hz", 20, 20000);
            break;
        case BandField::Q:
            number(p, "", 0.1, 30, 2);
            p.div = 1000;
            break;
        }
        if (!ranged) {
            p.hasRange = false;
            p.min = p.max = 0;
        }
        t.push_back(std::move(p));
    }
}

// ---- plan, levels, extra ----

void addPlan(std::vector<ParamInfo>& t) {
    for (int byte = 0; byte < int(kPlanSize); ++byte) {
        ParamInfo p;
        p.place = ParamPlace::Plan;
        p.index = byte;
        if (byte < 2) {
            p.storage = ParamStorage::Unsigned;
            p.id = byte ? "location.room.length_m" : "location.room.width_m";
            p.nameZh = byte ? "房间长度" : "房间宽度";
            p.nameEn = byte ? "Room length" : "Room width";
            number(p, "m", 1, 10);
        } else {
            // Positions: tenths of a metre, kept inside the room (at most 10 m across).
            p.storage = ParamStorage::SignMagnitude;
            const bool y = byte % 2 == 1;
            const std::string axis = y ? "y" : "x";
            if (byte < 4) {
                p.id = "location.listener." + axis + "_m";
                p.nameZh = "听众位置 " + axis;
                p.nameEn = "Listener location " + axis;
            } else {
                const int speaker = (byte - 4) / 2 + 1;
                const Texts& s = kSpeakers[speaker - 1];
                p.id = "location.speaker." + std::to_string(speaker) + "." + axis + "_m";
                p.nameZh = s.zh + (" " + axis);
                p.nameEn = s.en + (" " + axis);
            }
            number(p, "m", -5, 5, 1);
            p.div = 10;
            p.explicitSign = true;
        }
        t.push_back(std::move(p));
    }
}

void addLevels(std::vector<ParamInfo>& t) {
    for (int slot = 0; slot < kSpeakerCount; ++slot) {
        const int speaker = kSlotSpeaker[slot];
        const Texts& s = kSpeakers[speaker - 1];
        ParamInfo p;
        p.place = ParamPlace::SpeakerLevel;
        p.storage = ParamStorage::Float32;
        p.index = slot;
        p.id = "location.speaker." + std::to_string(speaker) + ".level_db";
        p.nameZh = s.zh + std::string(" 电平");
        p.nameEn = s.en + std::string(" level");
        // Computed from the plan; no page sets it directly.
        p.unit = "dB";
        p.decimals = 1;
        p.explicitSign = true;
        t.push_back(std::move(p));
    }
}

void addExtra(std::vector<ParamInfo>& t) {
    for (int byte = 0; byte < int(kExtraSize); ++byte) {
        ParamInfo p;
        p.place = ParamPlace::Extra;
        p.storage = ParamStorage::Unsigned;
        p.kind = ValueKind::Hex;
        p.index = byte;
        p.id = "extra." + std::to_string(byte);
        p.nameZh = "附加字节" + std::to_string(byte);
        p.nameEn = "Extra byte " + std::to_string(byte);
        t.push_back(std::move(p));
    }
}

Table buildTable() {
    Table t;
    std::array<ParamInfo, kSavedCells> cells;
    addCells(cells);
    t.cells.fill(-1);
    for (ParamInfo& p : cells) {
        t.cells[std::size_t(p.index)] = int(t.params.size());
        t.params.push_back(std::move(p));
    }
    t.bandStart = int(t.params.size());
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r)
            addBand(t.params, g.group, r);
    t.planStart = int(t.params.size());
    addPlan(t.params);
    t.levelStart = int(t.params.size());
    addLevels(t.params);
    t.extraStart = int(t.params.size());
    addExtra(t.params);
    for (std::size_t i = 0; i < t.params.size(); ++i)
        t.ids.emplace(t.params[i].id, i);
    return t;
}

const Table& table() {
    static const Table t = buildTable();
    return t;
}

// ---- values ----

std::string printf1(const char* format, double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, decimals, v);
    return buf;
}

std::string numberText(const ParamInfo& p, double v, int decimals) {
    std::string s = printf1(p.explicitSign ? "%+.*f" : "%.*f", v, decimals);
    if (p.kind == ValueKind::Ratio)
        return s + ":1";
    if (p.unit.empty())
        return s;
    return p.unit == "%" ? s + "%" : s + " " + p.unit;
}

std::string rawText(const ParamInfo& p, std::uint32_t raw) {
    char buf[32];
    if (p.storage == ParamStorage::Float32)
        std::snprintf(buf, sizeof buf, "0x%08X", raw);
    else if (p.storage == ParamStorage::SignMagnitude)
        std::snprintf(buf, sizeof buf, "0x%02X", raw);
    else if (p.storage == ParamStorage::Int32)
        std::snprintf(buf, sizeof buf, "%d", int(std::int32_t(raw)));
    else
        std::snprintf(buf, sizeof buf, "%u", raw);
    return buf;
}

bool numeric(const ParamInfo& p) {
    return p.kind == ValueKind::Number || p.kind == ValueKind::Ratio;
}

// Two texts for two different stored values that never read alike: more digits where the
// values differ beyond those shown, else the stored value itself (0x00 and 0x80 are both
// 0.0 m, two flags may both be on, NaNs differ in their bits).
std::pair<std::string, std::string> formatPair(const ParamInfo& p, std::uint32_t a, std::uint32_t b,
                                               bool english) {
    const std::pair<std::string, std::string> t{formatValue(p, a, english),
                                                formatValue(p, b, english)};
    if (t.first != t.second || a == b)
        return t;
    const double ua = userValue(p, a), ub = userValue(p, b);
    if (numeric(p) && ua != ub) {
        for (int d = p.decimals + 1; d <= 9; ++d) {
            std::pair<std::string, std::string> finer{numberText(p, ua, d), numberText(p, ub, d)};
            if (finer.first != finer.second)
                return finer;
        }
    }
    return {t.first + " [" + rawText(p, a) + "]", t.second + " [" + rawText(p, b) + "]"};
}

Difference::Kind kindOf(ParamPlace place) {
    switch (place) {
    case ParamPlace::Cell:
        return Difference::Kind::Cell;
    case ParamPlace::Band:
        return Difference::Kind::Band;
    case ParamPlace::Plan:
        return Difference::Kind::Plan;
    case ParamPlace::SpeakerLevel:
        return Difference::Kind::SpeakerLevels;
    case ParamPlace::Extra:
        break;
    }
    return Difference::Kind::Extra;
}

const ParamInfo* at(int index) {
    const auto& params = table().params;
    if (index < 0 || std::size_t(index) >= params.size())
        return nullptr;
    return &params[std::size_t(index)];
}

} // namespace

const std::vector<ParamInfo>& paramTable() {
    return table().params;
}

const ParamInfo* findParam(std::string_view id) {
    const auto& ids = table().ids;
    const auto it = ids.find(id);
    return it == ids.end() ? nullptr : &table().params[it->second];
}

const ParamInfo* cellParam(int cell) {
    if (cell < 0 || cell >= kCellCount)
        return nullptr;
    return at(table().cells[std::size_t(cell)]);
}

const ParamInfo* bandParam(int group, int record, BandField field) {
    const int offset = bandOffset(group, record);
    if (offset < 0)
        return nullptr;
    return at(table().bandStart + offset / int(kBandRecordSize) * kBandFields + int(field));
}

const ParamInfo* planParam(int byte) {
    return byte >= 0 && byte < int(kPlanSize) ? at(table().planStart + byte) : nullptr;
}

const ParamInfo* speakerLevelParam(int slot) {
    return slot >= 0 && slot < kSpeakerCount ? at(table().levelStart + slot) : nullptr;
}

const ParamInfo* extraParam(int byte) {
    return byte >= 0 && byte < int(kExtraSize) ? at(table().extraStart + byte) : nullptr;
}

const char* bandFieldId(BandField f) {
    return kFieldIds[std::size_t(f)];
}

std::string paramName(const ParamInfo& p, bool english) {
    const std::string& name = english ? p.nameEn : p.nameZh;
    const std::string& field = english ? p.fieldEn : p.fieldZh;
    return field.empty() ? name : name + " " + field;
}

std::uint32_t rawValue(const ParamInfo& p, const ModeImage& image) {
    switch (p.place) {
    case ParamPlace::Cell:
        return p.index >= 0 && p.index < kCellCount ? image.cells[std::size_t(p.index)] : 0;
    case ParamPlace::Band: {
        const int offset = bandOffset(p.group, p.record);
        if (offset < 0)
            return 0;
        const BandRecord r = BandRecord::fromBytes(&image.bandImage[std::size_t(offset)]);
        switch (p.field) {
        case BandField::Type:
            return r.type;
        case BandField::GainDb:
            return r.gain;
        case BandField::FreqHz:
            return r.frequency;
        case BandField::Q:
            return r.q;
        }
        return 0;
    }
    case ParamPlace::Plan:
        return p.index >= 0 && p.index < int(kPlanSize) ? image.plan[std::size_t(p.index)] : 0;
    case ParamPlace::SpeakerLevel:
        if (p.index < 0 || p.index >= kSpeakerCount)
            return 0;
        return readBe32(&image.speakerLevels[std::size_t(4 * p.index)]);
    case ParamPlace::Extra:
        return p.index >= 0 && p.index < int(kExtraSize) ? image.extra[std::size_t(p.index)] : 0;
    }
    return 0;
}

double userValue(const ParamInfo& p, std::uint32_t raw) {
    double stored = 0;
    switch (p.storage) {
    case ParamStorage::Int32:
        stored = std::int32_t(raw);
        break;
    case ParamStorage::Float32:
        stored = bitsFloat(raw);
        break;
    case ParamStorage::Unsigned:
        stored = raw;
        break;
    case ParamStorage::SignMagnitude:
        // 0x80 reads as 0.0 m, like 0x00: the plan encoder writes it for 0.0.
        stored = (raw & 0x80) ? -double(raw & 0x7F) : double(raw & 0x7F);
        break;
    }
    switch (p.kind) {
    case ValueKind::Number:
    case ValueKind::Ratio:
        if (p.storage == ParamStorage::Float32) {
            // In single precision, so a stored single reads back as itself.
            const float f = (float(stored) * float(p.mul) + float(p.add)) / float(p.div);
            return f;
        }
        return (stored * p.mul + p.add) / p.div;
    case ValueKind::OnOff:
    case ValueKind::DelayMode:
        return stored != 0 ? 1 : 0;
    case ValueKind::OnWhenZero:
        return stored == 0 ? 1 : 0;
    case ValueKind::Shift:
    case ValueKind::FilterType:
    case ValueKind::Hex:
        break;
    }
    return stored;
}

double userValue(const ParamInfo& p, const ModeImage& image) {
    return userValue(p, rawValue(p, image));
}

std::string formatValue(const ParamInfo& p, std::uint32_t raw, bool english) {
    const double v = userValue(p, raw);
    auto pick = [english](const char* zh, const char* en) { return english ? en : zh; };
    switch (p.kind) {
    case ValueKind::Number:
    case ValueKind::Ratio:
        return numberText(p, v, p.decimals);
    case ValueKind::OnOff:
    case ValueKind::OnWhenZero:
        return v != 0 ? pick("开", "on") : pick("关", "off");
    case ValueKind::DelayMode:
        return v != 0 ? pick("通道延时", "Channel") : pick("高频延时", "High Freq");
    case ValueKind::Shift:
        if (v <= 1)
            return pick("关闭", "Off");
        return printf1("%.*f Hz", v, 0);
    case ValueKind::FilterType: {
        const int code = int(v);
        if (code >= 0 && code < 22)
            return pick(kTypeNames[code].zh, kTypeNames[code].en);
        return pick("类型", "type ") + std::to_string(code);
    }
    case ValueKind::Hex: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%02X", unsigned(raw & 0xFF));
        return buf;
    }
    }
    return {};
}

std::vector<Difference> differences(const ModeImage& a, const ModeImage& b) {
    std::vector<Difference> out;
    for (const ParamInfo& p : paramTable()) {
        const std::uint32_t ra = rawValue(p, a), rb = rawValue(p, b);
        if (ra == rb)
            continue;
        Difference d;
        d.kind = kindOf(p.place);
        if (p.place == ParamPlace::Cell) {
            d.cell = p.index;
        } else if (p.place == ParamPlace::Band) {
            d.group = p.group;
            d.record = p.record;
            d.field = bandFieldId(p.field);
        } else {
            d.index = p.index;
        }
        d.id = p.id;
        d.nameZh = p.nameZh;
        d.nameEn = p.nameEn;
        d.a = userValue(p, ra);
        d.b = userValue(p, rb);
        std::tie(d.textA, d.textB) = formatPair(p, ra, rb, true);
        std::tie(d.textAZh, d.textBZh) = formatPair(p, ra, rb, false);
        d.param = &p;
        out.push_back(std::move(d));
    }
    return out;
}

std::string describe(const Difference& d, bool english) {
    std::string field;
    if (d.param)
        field = english ? d.param->fieldEn : d.param->fieldZh;
    else
        field = d.field;
    std::string line = english ? d.nameEn + ": " : d.nameZh + "：";
    if (!field.empty())
        line += field + " ";
    line += english ? d.textA + " → " + d.textB : d.textAZh + " → " + d.textBZh;
    return line;
}

} // namespace q7
