// SPDX-License-Identifier: GPL-3.0-or-later
#include "eq/filter_text.h"

#include "params/text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace q7 {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// "1.000" or "12,500": digits in groups of three after the first.
bool grouped(std::string_view s, char sep) {
    std::size_t i = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    if (i == 0 || i > 3 || i == s.size())
        return false;
    while (i < s.size()) {
        if (s[i] != sep || i + 4 > s.size())
            return false;
        for (std::size_t k = i + 1; k < i + 4; ++k)
            if (!std::isdigit(static_cast<unsigned char>(s[k])))
                return false;
        i += 4;
    }
    return true;
}

const char* kindWord(TextFilterKind k) {
    switch (k) {
    case TextFilterKind::Peaking:
        return "PK";
    case TextFilterKind::LowShelf:
        return "LSC";
    case TextFilterKind::HighShelf:
        return "HSC";
    case TextFilterKind::LowPass:
        return "LPQ";
    case TextFilterKind::HighPass:
        return "HPQ";
    }
    return "PK";
}

int kindType(TextFilterKind k) {
    switch (k) {
    case TextFilterKind::Peaking:
        return filter::Peq;
    case TextFilterKind::LowShelf:
        return filter::LowShelf;
    case TextFilterKind::HighShelf:
        return filter::HighShelf;
    case TextFilterKind::LowPass:
        return filter::LowPass;
    case TextFilterKind::HighPass:
        return filter::HighPass;
    }
    return filter::Peq;
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// The quality factor of a shelf of slope s (in dB per octave, 12 for S = 1) and gain g.
double shelfQ(double slopeDb, double gainDb) {
    const double s = std::clamp(slopeDb / 12.0, 0.01, 1.0);
    const double a = std::pow(10.0, gainDb / 40.0);
    const double k = (a + 1.0 / a) * (1.0 / s - 1.0) + 2.0;
    return k > 0 ? 1.0 / std::sqrt(k) : 0.7071;
}

// Q of a peaking filter spanning n octaves between its half-gain points.
double bandwidthQ(double octaves) {
    const double p = std::exp2(octaves);
    return std::sqrt(p) / (p - 1.0);
}

struct LineResult {
    std::optional<TextFilter> filter;
    std::optional<Note> skip; // set for a filter line that is not used
};

std::optional<double> slopeOf(const std::vector<std::string>& w, std::size_t& i) {
    if (i >= w.size())
        return std::nullopt;
    const std::string t = lower(w[i]);
    if (t.size() > 2 && t.ends_with("db")) {
        if (const auto v = parseFilterNumber(t.substr(0, t.size() - 2), false)) {
            ++i;
            return v;
        }
    }
    if (i + 1 < w.size() && lower(w[i + 1]) == "db") {
        if (const auto v = parseFilterNumber(t, false)) {
            i += 2;
            return v;
        }
    }
    return std::nullopt;
}

LineResult parseFilterLine(std::string_view text, int line, bool groupedFile) {
    LineResult out;
    const auto colon = text.find(':');
    std::string head = lower(trim(text.substr(0, colon)));
    TextFilter f;
    f.line = line;
    f.source = std::string(text);
    if (head.size() > 6) {
        std::string n(trim(std::string_view(head).substr(6)));
        int v = 0;
        const auto r = std::from_chars(n.data(), n.data() + n.size(), v);
        if (r.ec == std::errc() && r.ptr == n.data() + n.size())
            f.number = v;
    }
    const std::vector<std::string> w = colon == std::string_view::npos
                                           ? std::vector<std::string>{}
                                           : splitWords(text.substr(colon + 1));
    if (w.empty()) {
        out.skip = Note{"无法读取", "unreadable"};
        return out;
    }
    const std::string state = lower(w[0]);
    if (state == "off") {
        out.skip = Note{"已关闭(OFF)，跳过", "switched OFF: skipped"};
        return out;
    }
    if (state != "on") {
        out.skip = Note{"无法读取", "unreadable"};
        return out;
    }
    const std::string kind = w.size() > 1 ? lower(w[1]) : "";
    if (kind == "pk" || kind == "peq" || kind == "modal")
        f.kind = TextFilterKind::Peaking;
    else if (kind == "ls" || kind == "lsc" || kind == "lsq")
        f.kind = TextFilterKind::LowShelf;
    else if (kind == "hs" || kind == "hsc" || kind == "hsq")
        f.kind = TextFilterKind::HighShelf;
    else if (kind == "lp" || kind == "lpq")
        f.kind = TextFilterKind::LowPass;
    else if (kind == "hp" || kind == "hpq")
        f.kind = TextFilterKind::HighPass;
    else if (kind == "none" || kind.empty()) {
        out.skip = Note{"无滤波器(None)，跳过", "no filter (None): skipped"};
        return out;
    } else {
        std::string up(w[1]);
        for (char& c : up)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        out.skip = Note{"均衡段不支持 " + up + " 类型，跳过",
                        "the EQ bands have no " + up + " type: skipped"};
        return out;
    }
    std::size_t i = 2;
    std::optional<double> slope;
    if (f.kind == TextFilterKind::LowShelf || f.kind == TextFilterKind::HighShelf)
        slope = slopeOf(w, i);
    std::optional<double> fc, gain, q, bw;
    bool bad = false;
    auto number = [&](std::size_t k, bool frequency) -> std::optional<double> {
        if (k >= w.size()) {
            bad = true;
            return std::nullopt;
        }
        auto v = parseFilterNumber(w[k], frequency, groupedFile);
        if (!v)
            bad = true;
        return v;
    };
    for (; i < w.size() && !bad; ++i) {
        const std::string key = lower(w[i]);
        if (key == "fc") {
            fc = number(++i, true);
            if (fc && i + 1 < w.size() && lower(w[i + 1]) == "khz") {
                *fc *= 1000.0;
                ++i;
            }
        } else if (key == "gain") {
            gain = number(++i, false);
        } else if (key == "q") {
            q = number(++i, false);
        } else if (key == "bw") {
            if (i + 1 < w.size() && lower(w[i + 1]) == "oct")
                ++i;
            bw = number(++i, false);
        }
    }
    if (bad || !fc || !(*fc > 0)) {
        out.skip = Note{"无法读取频率或数值，跳过", "unreadable frequency or value: skipped"};
        return out;
    }
    f.fcHz = *fc;
    f.gainDb = gain.value_or(0.0);
    f.gainGiven = gain.has_value();
    const bool pass = f.kind == TextFilterKind::LowPass || f.kind == TextFilterKind::HighPass;
    if (!gain && !pass)
        f.notes.push_back({"未给出增益：0 dB", "no gain given: 0 dB"});
    if (q && *q > 0) {
        f.q = *q;
        f.qGiven = true;
    } else if (bw && *bw > 0) {
        f.q = bandwidthQ(*bw);
        f.qGiven = true;
    } else if (slope && *slope > 0) {
        // The slope's Q for the gain the band will have.
        f.q = shelfQ(*slope, std::clamp(f.gainDb, kBandGainMinDb, kBandGainMaxDb));
        f.qGiven = true;
    } else {
        f.q = f.kind == TextFilterKind::Peaking ? 1.41 : 0.7071;
        if (q || bw)
            f.notes.push_back(
                {"Q值无效，取 " + fmt("%.2f", f.q), "invalid Q: " + fmt("%.2f", f.q) + " taken"});
    }
    out.filter = f;
    return out;
}

} // namespace

std::optional<double> parseFilterNumber(std::string_view in, bool frequency, bool groupedFile) {
    std::string s(trim(in));
    if (!s.empty() && s.front() == '+')
        s.erase(0, 1);
    if (s.empty())
        return std::nullopt;
    const auto dot = s.rfind('.'), comma = s.rfind(',');
    if (dot != std::string::npos && comma != std::string::npos) {
        const char thousands = dot > comma ? ',' : '.';
        std::erase(s, thousands);
        std::replace(s.begin(), s.end(), ',', '.');
        return parseFinite(s);
    }
    const char mark = comma != std::string::npos ? ',' : '.';
    std::string decimal = s;
    std::replace(decimal.begin(), decimal.end(), ',', '.');
    const auto v = parseFinite(decimal);
    if (frequency && v && (groupedFile || *v < kBandFreqMinHz) && grouped(s, mark)) {
        std::string whole = s;
        std::erase(whole, mark);
        return parseFinite(whole);
    }
    return v;
}

namespace {

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const auto nl = text.find_first_of("\r\n");
        out.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos)
            break;
        // CRLF, LF or a lone CR end a line.
        const std::size_t skip =
            (text[nl] == '\r' && nl + 1 < text.size() && text[nl + 1] == '\n') ? 2 : 1;
        text.remove_prefix(nl + skip);
    }
    return out;
}

// Whether the file writes frequencies in groups of three ("Fc 1.000 Hz" for 1 kHz).
bool writesGroupedFrequencies(const std::vector<std::string_view>& lines) {
    for (std::string_view l : lines) {
        const std::vector<std::string> w = splitWords(l);
        for (std::size_t i = 0; i + 1 < w.size(); ++i)
            if (lower(w[i]) == "fc") {
                const std::string& t = w[i + 1];
                const char mark = t.find(',') != std::string::npos ? ',' : '.';
                const auto v = parseFilterNumber(t, false);
                if (v && *v < kBandFreqMinHz && grouped(t, mark) &&
                    (t.find('.') == std::string::npos || t.find(',') == std::string::npos))
                    return true;
            }
    }
    return false;
}

// "# Sub band 5 crossover: LinkwitzRiely 24dB low-pass (slope 1, Fc 100 Hz, Q 0.707)".
std::optional<TextCrossover> parseCrossoverComment(std::string_view t, int line) {
    const std::string l = lower(t);
    const std::string head = "# sub band ";
    if (!l.starts_with(head) || l.find("crossover") == std::string::npos)
        return std::nullopt;
    TextCrossover c;
    c.line = line;
    c.source = std::string(t);
    auto intAfter = [&](const std::string& key, int& v) {
        const auto at = l.find(key);
        if (at == std::string::npos)
            return false;
        const char* b = l.data() + at + key.size();
        return std::from_chars(b, l.data() + l.size(), v).ec == std::errc();
    };
    auto numberAfter = [&](const std::string& key, double& v) {
        const auto at = l.find(key);
        if (at == std::string::npos)
            return false;
        const auto end = l.find_first_of(" ,)", at + key.size());
        const auto n = parseFilterNumber(l.substr(at + key.size(), end - at - key.size()), false);
        if (n)
            v = *n;
        return n.has_value();
    };
    if (!intAfter(head, c.band) || !intAfter("(slope ", c.slope) || !numberAfter(", fc ", c.fcHz) ||
        !numberAfter(", q ", c.q))
        return std::nullopt;
    if (c.slope < 0 || c.slope >= kCrossoverSlopes || !(c.fcHz > 0) || !(c.q > 0))
        return std::nullopt;
    c.lowPass = l.find("high-pass") == std::string::npos;
    return c;
}

int filterNumberOf(std::string_view t) {
    const auto colon = t.find(':');
    if (colon == std::string_view::npos)
        return -1;
    std::string head(trim(t.substr(0, colon)));
    if (head.size() <= 6)
        return -1;
    std::string n(trim(std::string_view(head).substr(6)));
    int v = -1;
    const auto r = std::from_chars(n.data(), n.data() + n.size(), v);
    return r.ec == std::errc() && r.ptr == n.data() + n.size() ? v : -1;
}

} // namespace

FilterText parseFilterText(std::string_view text) {
    FilterText out;
    if (text.size() > kFilterTextMaxBytes)
        text = text.substr(0, kFilterTextMaxBytes);
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const std::vector<std::string_view> lines = splitLines(text);
    const bool groupedFile = writesGroupedFrequencies(lines);
    int slope = -1; // the crossover whose section lines may follow
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const int line = int(n) + 1;
        const std::string_view t = trim(lines[n]);
        if (t.empty())
            continue;
        if (t[0] == '#' || t[0] == '*' || t[0] == ';') {
            if (auto c = parseCrossoverComment(t, line)) {
                out.crossovers.push_back(std::move(*c));
                slope = int(out.crossovers.size()) - 1;
            }
            continue;
        }
        const std::string l = lower(t.substr(0, std::min<std::size_t>(t.size(), 7)));
        if (l.starts_with("preamp")) {
            slope = -1;
            const auto colon = t.find(':');
            const auto w = colon == std::string_view::npos ? std::vector<std::string>{}
                                                           : splitWords(t.substr(colon + 1));
            if (!w.empty())
                if (const auto v = parseFilterNumber(w[0], false))
                    out.preampDb = *v;
            continue;
        }
        if (!l.starts_with("filter") || t.find(':') == std::string_view::npos)
            continue; // header lines: "Filter Settings file", "Room EQ V5.18", "Notes:" …
        const auto head = lower(t.substr(0, t.find(':')));
        if (head.find("settings") != std::string::npos)
            continue;
        if (slope >= 0 && filterNumberOf(t) != out.crossovers[std::size_t(slope)].band)
            slope = -1;
        LineResult r = parseFilterLine(t, line, groupedFile);
        if (r.filter) {
            r.filter->slopeOf = slope;
            out.filters.push_back(std::move(*r.filter));
        } else if (r.skip) {
            out.skipped.push_back({line, std::string(t), *r.skip, slope});
        }
    }
    return out;
}

std::string describeRecord(const BandRecord& r) {
    // By type code: off, PEQ, LP, HP, LS, HS; a crossover section reads as off.
    static constexpr const char* kWords[] = {"OFF", "PK", "LP", "HP", "LS", "HS"};
    const char* word = r.type < std::size(kWords) ? kWords[r.type] : "OFF";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s %d Hz %+.1f dB Q %.3f", word, int(r.frequency),
                  recordGainDb(r), r.q / 1000.0);
    return buf;
}

namespace {

// Sets band k of the state to type / values, the Sub's sections following (flat, the band's
// frequency and Q), and notes what the limits changed.
void placeBand(EqBankState& s, int k, int type, double gainDb, double hz, double q,
               std::vector<Note>& notes) {
    const bool pass = type == filter::LowPass || type == filter::HighPass;
    if (pass && std::abs(gainDb) > 1e-9) {
        notes.push_back({"通滤波器的增益不使用", "a pass filter's gain is not used"});
        gainDb = 0;
    }
    if (gainDb < kBandGainMinDb || gainDb > kBandGainMaxDb) {
        const double g = std::clamp(gainDb, kBandGainMinDb, kBandGainMaxDb);
        notes.push_back(
            {"增益限制为 " + fmt("%+.1f dB", g), "gain limited to " + fmt("%+.1f dB", g)});
        gainDb = g;
    }
    if (hz < kBandFreqMinHz || hz > kBandFreqMaxHz + 0.5) {
        const double f = std::clamp(hz, double(kBandFreqMinHz), double(kBandFreqMaxHz));
        notes.push_back(
            {"频率限制为 " + fmt("%.0f Hz", f), "frequency limited to " + fmt("%.0f Hz", f)});
        hz = f;
    }
    const double qMin = type == filter::Peq ? kPeqQMin : kPassQMin;
    const double qMax = type == filter::Peq ? kPeqQMax : kPassQMax;
    if (q < qMin || q > qMax + 0.0005) {
        const double v = std::clamp(q, qMin, qMax);
        notes.push_back({"Q值限制为 " + fmt("%.3f", v), "Q limited to " + fmt("%.3f", v)});
        q = v;
    }
    s.band(k) = quantise(type, gainDb, hz, q);
    if (s.bank == kSubEqBank)
        for (int i = 1; i <= 3; ++i)
            s.records[std::size_t(subStoreRecord(k, i))] = quantise(filter::Peq, 0.0, hz, q);
}

void flatten(EqBankState& s, int k) {
    BandRecord r = s.band(k);
    const int hz =
        r.frequency >= kBandFreqMinHz && r.frequency <= kBandFreqMaxHz ? r.frequency : 1000;
    const double q = r.q >= 100 && r.q <= 30000 ? r.q / 1000.0 : 1.41;
    std::vector<Note> ignored;
    placeBand(s, k, filter::Peq, 0.0, hz, q, ignored);
}

bool isFlat(const EqBankState& s, int k) {
    const BandRecord& r = s.band(k);
    if (r.type != filter::Peq || r.gain != 150)
        return false;
    if (s.bank != kSubEqBank)
        return true;
    for (int i = 1; i <= 3; ++i) {
        const BandRecord& x = s.records[std::size_t(subStoreRecord(k, i))];
        if (x.type != filter::Peq || x.gain != 150)
            return false;
    }
    return true;
}

std::string bandList(const std::vector<int>& bands) {
    std::string out;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        if (i)
            out += ", ";
        out += std::to_string(bands[i] + 1);
    }
    return out;
}

} // namespace

namespace {

std::string crossoverText(const Crossover& c, int hz) {
    return std::string(crossoverName(c.slope)) + (c.lowPass ? " LP " : " HP ") +
           std::to_string(hz) + " Hz";
}

// Whether a Sub band holds a pass filter or a crossover slope (kept unless a line names it).
bool subPass(const EqBankState& s, int k) {
    const int t = s.band(k).type;
    return t == filter::LowPass || t == filter::HighPass || (t >= 6 && t <= 21);
}

} // namespace

ImportPlan planImport(const EqBankState& current, const FilterText& text) {
    ImportPlan plan;
    plan.result = current;
    EqBankState& s = plan.result;
    const int n = s.bandCount();
    const bool sub = s.bank == kSubEqBank;
    std::vector<bool> used(std::size_t(n), false);
    int next = 0;
    auto nextFree = [&]() -> int {
        while (next < n && (isFixedBand(s.bank, next) || used[std::size_t(next)] ||
                            (sub && subPass(current, next))))
            ++next;
        return next < n ? next++ : -1;
    };
    std::vector<ImportLine> lines;

    // An exported Sub crossover comes back as its slope; its section lines are for others.
    if (sub)
        for (const TextCrossover& c : text.crossovers) {
            ImportLine l;
            l.line = c.line;
            l.source = c.source;
            const int k = c.band - 1;
            if (k < 0 || k >= n || used[std::size_t(k)]) {
                l.outcome = ImportLine::Outcome::Skipped;
                l.notes.push_back({"超低没有第 " + std::to_string(c.band) + " 段，跳过",
                                   "the Sub has no band " + std::to_string(c.band) + ": skipped"});
                lines.push_back(std::move(l));
                continue;
            }
            const int hz =
                int(std::clamp<long>(std::lround(c.fcHz), kBandFreqMinHz, kBandFreqMaxHz));
            const int q = int(std::clamp<long>(std::lround(c.q * 1000), 100, 2000));
            if (hz != std::lround(c.fcHz) || q != std::lround(c.q * 1000))
                l.notes.push_back({"频率或Q值限制在范围内", "frequency or Q limited to the range"});
            const Crossover x{c.slope, c.lowPass};
            setCrossover(s, k, x, hz, q);
            used[std::size_t(k)] = true;
            l.band = k;
            l.result = crossoverText(x, hz);
            l.outcome =
                l.notes.empty() ? ImportLine::Outcome::Applied : ImportLine::Outcome::Adjusted;
            ++plan.applied;
            lines.push_back(std::move(l));
        }

    for (const TextFilter& f : text.filters) {
        if (sub && f.slopeOf >= 0)
            continue; // a section of a crossover placed above
        ImportLine l;
        l.line = f.line;
        l.source = f.source;
        l.notes = f.notes;
        const int type = kindType(f.kind);
        const int at = f.number - 1;
        if (at >= 0 && at < n && isFixedBand(s.bank, at) && s.band(at).type == type &&
            std::lround(f.fcHz) == s.band(at).frequency && !used[std::size_t(at)]) {
            // The fixed band itself, as an export of this bank writes it: only its gain moves.
            BandRecord r = s.band(at);
            double g = f.gainDb;
            if (g < kBandGainMinDb || g > kBandGainMaxDb) {
                g = std::clamp(g, kBandGainMinDb, kBandGainMaxDb);
                l.notes.push_back(
                    {"增益限制为 " + fmt("%+.1f dB", g), "gain limited to " + fmt("%+.1f dB", g)});
            }
            r.gain = quantise(r.type, g, r.frequency, 1).gain;
            s.band(at) = r;
            used[std::size_t(at)] = true;
            l.band = at;
        } else {
            // The Sub takes its bands by number where a line has one.
            int k = sub && at >= 0 && at < n && !used[std::size_t(at)] ? at : nextFree();
            if (k < 0) {
                l.outcome = ImportLine::Outcome::Dropped;
                l.notes.push_back({"超出本均衡的 " + std::to_string(n) + " 段，未使用",
                                   "beyond the bank's " + std::to_string(n) + " bands: dropped"});
                lines.push_back(std::move(l));
                continue;
            }
            if (sub && subPass(current, k))
                if (const auto x = crossoverOf(current, k))
                    l.notes.push_back(
                        {"替换了分频 " + crossoverText(*x, current.band(k).frequency),
                         "replaces the crossover " + crossoverText(*x, current.band(k).frequency)});
            if (std::abs(f.fcHz - std::round(f.fcHz)) >= 0.05 && f.fcHz >= kBandFreqMinHz &&
                f.fcHz <= kBandFreqMaxHz)
                l.notes.push_back({"频率取整为 " + fmt("%.0f Hz", std::round(f.fcHz)),
                                   "frequency rounded to " + fmt("%.0f Hz", std::round(f.fcHz))});
            const double tenths = f.gainDb * 10;
            if (std::abs(tenths - std::round(tenths)) > 1e-6 && std::abs(f.gainDb) <= 15 &&
                type != filter::LowPass && type != filter::HighPass)
                l.notes.push_back({"增益取整为 " + fmt("%+.1f dB", std::round(tenths) / 10),
                                   "gain rounded to " + fmt("%+.1f dB", std::round(tenths) / 10)});
            placeBand(s, k, type, f.gainDb, f.fcHz, f.q, l.notes);
            used[std::size_t(k)] = true;
            l.band = k;
        }
        l.result = describeRecord(s.band(l.band));
        l.outcome = l.notes.empty() ? ImportLine::Outcome::Applied : ImportLine::Outcome::Adjusted;
        ++plan.applied;
        lines.push_back(std::move(l));
    }
    for (const SkippedLine& k : text.skipped) {
        if (sub && k.slopeOf >= 0)
            continue; // a section no text filter names (LP1): the crossover holds it
        ImportLine l;
        l.line = k.line;
        l.source = k.source;
        l.outcome = ImportLine::Outcome::Skipped;
        l.notes.push_back(k.why);
        lines.push_back(std::move(l));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const ImportLine& a, const ImportLine& b) { return a.line < b.line; });
    plan.lines = std::move(lines);

    std::vector<int> flattened, fixed, kept;
    for (int k = 0; k < n; ++k) {
        if (isFixedBand(s.bank, k)) {
            fixed.push_back(k);
            continue;
        }
        if (used[std::size_t(k)])
            continue;
        if (sub && subPass(current, k)) {
            kept.push_back(k);
            continue;
        }
        if (!isFlat(s, k))
            flattened.push_back(k);
        flatten(s, k);
    }
    if (text.preampDb)
        plan.notes.push_back({"文件的前级增益 " + fmt("%+.1f dB", *text.preampDb) +
                                  " 未使用：均衡没有前级增益，请用音量调整",
                              "the file's preamp of " + fmt("%+.1f dB", *text.preampDb) +
                                  " is not applied: no EQ bank holds a preamp; set the level "
                                  "with the volume"});
    if (!flattened.empty())
        plan.notes.push_back(
            {"第 " + bandList(flattened) + " 段设为平直",
             (flattened.size() > 1 ? "bands " : "band ") + bandList(flattened) + " set flat"});
    for (int k : kept) {
        const auto x = crossoverOf(current, k);
        const std::string what =
            x ? crossoverText(*x, current.band(k).frequency) : describeRecord(current.band(k));
        plan.notes.push_back({"第 " + std::to_string(k + 1) + " 段保留其分频：" + what,
                              "band " + std::to_string(k + 1) + " keeps its crossover: " + what});
    }
    if (!fixed.empty())
        plan.notes.push_back({"第 " + bandList(fixed) + " 段为固定频率段，保持不变",
                              (fixed.size() > 1 ? "bands " : "band ") + bandList(fixed) +
                                  (fixed.size() > 1 ? " keep their" : " keeps its") +
                                  " fixed frequency"});
    return plan;
}

namespace {

// A crossover section of the Sub as a text filter: its family and fixed Q.
struct SectionText {
    const char* word;
    double q;
};

std::optional<SectionText> sectionText(const BandRecord& r) {
    const double fixedQ[] = {1 / std::numbers::sqrt3,
                             std::numbers::sqrt2 / 2,
                             1.0,
                             0.5,
                             1 / (2 * std::sin(std::numbers::pi / 8)),
                             1 / (2 * std::sin(3 * std::numbers::pi / 8))};
    switch (r.type) {
    case filter::LowPass:
        return SectionText{"LPQ", r.q / 1000.0};
    case filter::HighPass:
        return SectionText{"HPQ", r.q / 1000.0};
    case 6:
        return SectionText{"LPQ", 0.7071};
    case 7:
        return SectionText{"HPQ", 0.7071};
    case 10:
        return SectionText{"LP1", 0};
    case 11:
        return SectionText{"HP1", 0};
    default:
        break;
    }
    static constexpr int kLow[] = {8, 12, 14, 16, 18, 20};
    for (int i = 0; i < 6; ++i) {
        if (r.type == kLow[i])
            return SectionText{"LPQ", fixedQ[i]};
        if (r.type == kLow[i] + 1)
            return SectionText{"HPQ", fixedQ[i]};
    }
    return std::nullopt;
}

} // namespace

std::string formatFilterText(const EqBankState& s) {
    std::string out;
    int number = 0;
    char buf[192];
    const bool sub = s.bank == kSubEqBank;
    auto line = [&](const char* state, const char* word, const BandRecord& r, double q,
                    bool withQ) {
        // The Sub numbers its lines by band: a crossover's sections share their band's number.
        if (sub)
            --number;
        if (withQ)
            std::snprintf(buf, sizeof buf, "Filter %d: %s %s Fc %d Hz Gain %.1f dB Q %.3f\n",
                          ++number, state, word, int(r.frequency), recordGainDb(r), q);
        else
            std::snprintf(buf, sizeof buf, "Filter %d: %s %s Fc %d Hz\n", ++number, state, word,
                          int(r.frequency));
        out += buf;
    };
    for (int k = 0; k < s.bandCount(); ++k) {
        if (sub)
            number = k + 1;
        const BandRecord& r = s.band(k);
        bool sectionsFlat = true;
        if (sub)
            for (int i = 1; i <= 3; ++i) {
                const BandRecord& x = s.records[std::size_t(subStoreRecord(k, i))];
                sectionsFlat &= x.type == filter::Peq && x.gain == 150;
            }
        if (r.type >= filter::Peq && r.type <= filter::HighShelf && sectionsFlat) {
            const TextFilterKind kinds[] = {TextFilterKind::Peaking, TextFilterKind::LowPass,
                                            TextFilterKind::HighPass, TextFilterKind::LowShelf,
                                            TextFilterKind::HighShelf};
            BandRecord shown = r;
            if (r.type == filter::LowPass || r.type == filter::HighPass)
                shown.gain = 150;
            line("ON", kindWord(kinds[r.type - 1]), shown, r.q / 1000.0, true);
            continue;
        }
        if (!sub || r.type == filter::Off || r.type > 21) {
            line("OFF", "PK", r, r.q / 1000.0, true);
            continue;
        }
        if (const auto x = crossoverOf(s, k)) {
            std::snprintf(buf, sizeof buf,
                          "# Sub band %d crossover: %s %s (slope %d, Fc %d Hz, Q %.3f)\n", k + 1,
                          crossoverName(x->slope), x->lowPass ? "low-pass" : "high-pass", x->slope,
                          int(r.frequency), r.q / 1000.0);
            out += buf;
        }
        // A crossover slope: one line per section that is not flat.
        for (int i = 0; i < 4; ++i) {
            const BandRecord& x = s.records[std::size_t(subStoreRecord(k, i))];
            if (x.type == filter::Peq && x.gain == 150)
                continue;
            if (x.type == filter::Peq || x.type == filter::LowShelf ||
                x.type == filter::HighShelf) {
                const char* w = x.type == filter::Peq        ? "PK"
                                : x.type == filter::LowShelf ? "LSC"
                                                             : "HSC";
                line("ON", w, x, x.q / 1000.0, true);
                continue;
            }
            if (const auto t = sectionText(x)) {
                BandRecord shown = x;
                shown.gain = 150;
                line("ON", t->word, shown, t->q, t->q > 0);
            }
        }
    }
    return out;
}

} // namespace q7
