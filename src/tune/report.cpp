// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/report.h"

#include "eq/eq_bank.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "protocol/file_writer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace q7 {

namespace {

struct Names {
    const char *zh, *en;
};
// By speakerOutputs() index, as the delay page names them.
constexpr Names kSpeakerNames[kSpeakerOutputs] = {
    {"前置左", "Main L"}, {"前置右", "Main R"}, {"中置", "Center"},  {"超低", "Sub"},
    {"后置左", "Rear L"}, {"后置右", "Rear R"}, {"顶置左", "Top L"}, {"顶置右", "Top R"},
};

const char* pick(bool english, const char* zh, const char* en) {
    return english ? en : zh;
}

std::string speakerName(int k, bool english) {
    return pick(english, kSpeakerNames[k].zh, kSpeakerNames[k].en);
}

std::string fmt(const char* f, double v) {
    char buf[128];
    std::snprintf(buf, sizeof buf, f, v);
    // What rounds to zero prints as zero ("+0.00", never "-0.00").
    if (std::strtod(buf, nullptr) == 0)
        std::snprintf(buf, sizeof buf, f, 0.0);
    return buf;
}

std::string hzText(double hz) {
    return hz >= 1000 ? fmt("%.1f kHz", hz / 1000) : fmt("%.0f Hz", hz);
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The points of a curve within [lo, hi].
ChartSeries series(const std::string& name, std::uint32_t rgb, const std::vector<double>& hz,
                   const std::vector<double>& db, double lo, double hi, bool dashed = false,
                   double width = 2) {
    ChartSeries s;
    s.name = name;
    s.rgb = rgb;
    s.dashed = dashed;
    s.width = width;
    for (std::size_t i = 0; i < hz.size() && i < db.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi && std::isfinite(db[i])) {
            s.hz.push_back(hz[i]);
            s.db.push_back(db[i]);
        }
    return s;
}

void scale(Chart& c) {
    double top = -1e9;
    for (const ChartSeries& s : c.series)
        for (double d : s.db)
            top = std::max(top, d);
    if (top < -1e8)
        top = 0;
    c.maxDb = std::ceil((top + 3) / 5) * 5;
    c.minDb = c.maxDb - 50;
}

constexpr std::uint32_t kBefore = 0xa0a6ae, kPredicted = 0x1f5fd0, kAfter = 0xd9412b,
                        kTarget = 0x2e8540;

} // namespace

std::string tidyText(std::string s) {
    auto digit = [&](std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
    // Signed figures ("+0.50 → -0.25 dB") keep a sign on zero: "+0.00".
    bool signedFigures = false;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        signedFigures = signedFigures || (s[i] == '+' && digit(i + 1));
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '-' || !digit(i + 1) || (i > 0 && digit(i - 1)))
            continue;
        std::size_t end = i + 1;
        bool zero = true;
        while (digit(end) || (end < s.size() && s[end] == '.' && digit(end + 1))) {
            zero = zero && (s[end] == '0' || s[end] == '.');
            ++end;
        }
        if (!zero)
            continue;
        if (signedFigures)
            s[i] = '+';
        else
            s.erase(i, 1);
    }
    return s;
}

std::string noteSentence(const Note& note, bool english) {
    std::string s = tidyText(note.text(english));
    if (english && !s.empty() && s[0] >= 'a' && s[0] <= 'z')
        s[0] = char(s[0] - 'a' + 'A');
    return s;
}

// ---- layout ----

double ChartLayout::x(double hz) const {
    const double t = std::log(hz / chart.loHz) / std::log(chart.hiHz / chart.loHz);
    return plotLeft() + t * (plotRight() - plotLeft());
}

double ChartLayout::y(double db) const {
    const double t = (db - chart.minDb) / (chart.maxDb - chart.minDb);
    return plotBottom() - std::clamp(t, -0.02, 1.02) * (plotBottom() - plotTop());
}

std::vector<double> ChartLayout::hzTicks() const {
    std::vector<double> out;
    for (double decade = 10; decade <= 100000; decade *= 10)
        for (double m : {1.0, 2.0, 5.0})
            if (decade * m >= chart.loHz * 0.999 && decade * m <= chart.hiHz * 1.001)
                out.push_back(decade * m);
    return out;
}

std::vector<double> ChartLayout::dbTicks() const {
    std::vector<double> out;
    const double step = chart.maxDb - chart.minDb > 40 ? 10 : 5;
    for (double d = std::ceil(chart.minDb / step) * step; d <= chart.maxDb + 1e-9; d += step)
        out.push_back(d);
    return out;
}

std::string ChartLayout::hzLabel(double hz) {
    return hz >= 1000 ? fmt("%gk", hz / 1000) : fmt("%g", hz);
}

// ---- charts ----

std::vector<Chart> tuneCharts(const TunePlan& plan, const TuneVerification* check, bool english) {
    std::vector<Chart> charts;
    const std::vector<double>& hz = plan.hz;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan.speakers[std::size_t(k)];
        if (!t.connected || t.beforeDb.size() != hz.size())
            continue;
        Chart c;
        c.file = speakerOutputs()[std::size_t(k)].id;
        c.title = speakerName(k, english);
        const bool sub = k == kTuneSub;
        c.loHz = 20;
        c.hiHz = sub ? 500 : 20000;
        c.rangeLoHz = t.loHz;
        c.rangeHiHz = t.hiHz;
        const SpeakerCheck* after = check && check->speakers[std::size_t(k)].measured
                                        ? &check->speakers[std::size_t(k)]
                                        : nullptr;
        c.subtitle = std::string(pick(english, "与目标的偏差（1/6 倍频程，均方根）：之前 ",
                                      "Deviation from the target (1/6 octave, RMS): before ")) +
                     fmt("%.1f dB", t.rmsBeforeDb) + pick(english, "，预测 ", ", predicted ") +
                     fmt("%.1f dB", t.rmsPredictedDb) +
                     (after ? std::string(pick(english, "，实测 ", ", measured after ")) +
                                  fmt("%.1f dB", after->rmsAfterDb)
                            : std::string()) +
                     " (" + hzText(t.loHz) + "–" + hzText(t.hiHz) + ")";
        c.series.push_back(
            series(pick(english, "调校前", "before"), kBefore, hz, t.beforeDb, c.loHz, c.hiHz));
        if (after)
            c.series.push_back(series(pick(english, "调校后实测", "measured after"), kAfter, hz,
                                      after->afterDb, c.loHz, c.hiHz));
        c.series.push_back(series(pick(english, "预测", "predicted"), kPredicted, hz, t.predictedDb,
                                  c.loHz, c.hiHz, true));
        // The target, at the level of the prediction over the range.
        std::vector<double> target = plan.targetDb;
        const double level = bandLevelDb(hz, t.predictedDb, plan.targetDb, t.loHz, t.hiHz);
        for (double& d : target)
            d += level;
        c.series.push_back(
            series(pick(english, "目标", "target"), kTarget, hz, target, t.loHz, t.hiHz, false, 1));
        scale(c);
        charts.push_back(std::move(c));
    }
    if (!plan.sumBeforeDb.empty() && plan.crossoverHz > 0) {
        Chart c;
        c.file = "sub-mains";
        c.title = pick(english, "超低 + 主音箱（主座位）", "Sub + mains at the main seat");
        c.subtitle = std::string(pick(english, "分频点附近相消：之前 ",
                                      "Cancelling around the crossover: before ")) +
                     fmt("%.1f dB", std::max(plan.dipBeforeDb, 0.0)) +
                     pick(english, "，预测 ", ", predicted ") +
                     fmt("%.1f dB", std::max(plan.dipPredictedDb, 0.0)) +
                     (check && !check->sumAfterDb.empty()
                          ? std::string(pick(english, "，实测 ", ", measured after ")) +
                                fmt("%.1f dB", std::max(check->dipAfterDb, 0.0))
                          : std::string()) +
                     pick(english, "；分频点 ", "; crossover ") + hzText(plan.crossoverHz);
        c.loHz = 20;
        c.hiHz = 500;
        c.markHz = plan.crossoverHz;
        c.rangeLoHz = plan.crossoverHz / 2;
        c.rangeHiHz = plan.crossoverHz * 2;
        c.series.push_back(series(pick(english, "调校前", "before"), kBefore, hz, plan.sumBeforeDb,
                                  c.loHz, c.hiHz));
        if (check && !check->sumAfterDb.empty())
            c.series.push_back(series(pick(english, "调校后实测", "measured after"), kAfter, hz,
                                      check->sumAfterDb, c.loHz, c.hiHz));
        c.series.push_back(series(pick(english, "预测", "predicted"), kPredicted, hz,
                                  plan.sumPredictedDb, c.loHz, c.hiHz, true));
        scale(c);
        charts.push_back(std::move(c));
    }
    return charts;
}

std::string chartSvg(const Chart& chart, int width, int height) {
    const ChartLayout l(chart, width, height);
    auto colour = [](std::uint32_t rgb) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "#%06x", rgb & 0xffffff);
        return std::string(buf);
    };
    auto num = [](double v) { return fmt("%.1f", v); };
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                    std::to_string(width) + " " + std::to_string(height) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s += "<text x=\"" + num(l.plotLeft()) + "\" y=\"20\" font-size=\"16\" font-weight=\"bold\">" +
         escape(chart.title) + "</text>\n";
    s += "<text x=\"" + num(l.plotLeft()) + "\" y=\"38\" fill=\"#444444\">" +
         escape(chart.subtitle) + "</text>\n";
    if (chart.rangeHiHz > chart.rangeLoHz) {
        const double x0 = l.x(std::max(chart.rangeLoHz, chart.loHz));
        const double x1 = l.x(std::min(chart.rangeHiHz, chart.hiHz));
        s += "<rect x=\"" + num(x0) + "\" y=\"" + num(l.plotTop()) + "\" width=\"" + num(x1 - x0) +
             "\" height=\"" + num(l.plotBottom() - l.plotTop()) + "\" fill=\"#eef3fb\"/>\n";
    }
    for (double f : l.hzTicks()) {
        s += "<line x1=\"" + num(l.x(f)) + "\" y1=\"" + num(l.plotTop()) + "\" x2=\"" +
             num(l.x(f)) + "\" y2=\"" + num(l.plotBottom()) + "\" stroke=\"#dddddd\"/>\n";
        s += "<text x=\"" + num(l.x(f)) + "\" y=\"" + num(l.plotBottom() + 16) +
             "\" text-anchor=\"middle\">" + ChartLayout::hzLabel(f) + "</text>\n";
    }
    for (double d : l.dbTicks()) {
        s += "<line x1=\"" + num(l.plotLeft()) + "\" y1=\"" + num(l.y(d)) + "\" x2=\"" +
             num(l.plotRight()) + "\" y2=\"" + num(l.y(d)) + "\" stroke=\"#dddddd\"/>\n";
        s += "<text x=\"" + num(l.plotLeft() - 6) + "\" y=\"" + num(l.y(d) + 4) +
             "\" text-anchor=\"end\">" + fmt("%.0f", d) + "</text>\n";
    }
    s += "<text x=\"" + num((l.plotLeft() + l.plotRight()) / 2) + "\" y=\"" +
         num(l.plotBottom() + 34) + "\" text-anchor=\"middle\">Hz</text>\n";
    s += "<text x=\"14\" y=\"" + num((l.plotTop() + l.plotBottom()) / 2) +
         "\" text-anchor=\"middle\" transform=\"rotate(-90 14 " +
         num((l.plotTop() + l.plotBottom()) / 2) + ")\">dB</text>\n";
    if (chart.markHz > 0)
        s += "<line x1=\"" + num(l.x(chart.markHz)) + "\" y1=\"" + num(l.plotTop()) + "\" x2=\"" +
             num(l.x(chart.markHz)) + "\" y2=\"" + num(l.plotBottom()) +
             "\" stroke=\"#999999\" stroke-dasharray=\"2 3\"/>\n";
    s += "<rect x=\"" + num(l.plotLeft()) + "\" y=\"" + num(l.plotTop()) + "\" width=\"" +
         num(l.plotRight() - l.plotLeft()) + "\" height=\"" + num(l.plotBottom() - l.plotTop()) +
         "\" fill=\"none\" stroke=\"#888888\"/>\n";
    for (const ChartSeries& c : chart.series) {
        if (c.hz.empty())
            continue;
        s += "<polyline fill=\"none\" stroke=\"" + colour(c.rgb) + "\" stroke-width=\"" +
             num(c.width) + "\"" + (c.dashed ? " stroke-dasharray=\"7 4\"" : "") + " points=\"";
        for (std::size_t i = 0; i < c.hz.size(); ++i)
            s += (i ? " " : "") + num(l.x(c.hz[i])) + "," + num(l.y(c.db[i]));
        s += "\"/>\n";
    }
    // The legend, along the bottom.
    double x = l.plotLeft();
    const double y = height - 12;
    for (const ChartSeries& c : chart.series) {
        s += "<line x1=\"" + num(x) + "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(x + 24) +
             "\" y2=\"" + num(y - 4) + "\" stroke=\"" + colour(c.rgb) + "\" stroke-width=\"" +
             num(c.width) + "\"" + (c.dashed ? " stroke-dasharray=\"7 4\"" : "") + "/>\n";
        s += "<text x=\"" + num(x + 30) + "\" y=\"" + num(y) + "\">" + escape(c.name) + "</text>\n";
        x += 40 + 8.0 * double(c.name.size());
    }
    return s + "</svg>\n";
}

// ---- summary ----

std::string checkVerdict(const TuneVerification& check, bool english) {
    if (!check.ok())
        return pick(english, "：未达标", ": short of the limits");
    if (check.notChecked.empty())
        return pick(english, "：全部在限度之内", ": every figure within its limit");
    return pick(english, "：检查的各项都在限度之内（部分未检查，见下）",
                ": every figure checked is within its limit (some could not be checked, below)");
}

std::vector<std::string> tuneSummary(const TunePlan& plan, const TuneVerification* check,
                                     bool english) {
    std::vector<std::string> lines;
    if (!plan.ok) {
        lines.push_back(plan.error.text(english));
        return lines;
    }
    std::string missing;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan.speakers[std::size_t(k)];
        const std::string id = speakerOutputs()[std::size_t(k)].id;
        if (!t.asked)
            continue;
        if (!t.connected) {
            missing += (missing.empty() ? "" : ", ") + id;
            continue;
        }
        std::string line =
            id + ": " + pick(english, "电平 ", "level ") + fmt("%+.2f", t.levelBeforeDb) + " → " +
            fmt("%+.2f dB", t.levelDb) + pick(english, "，延时 ", ", delay ") +
            (t.delayBeforeMs > 0 ? fmt("%.3f", t.delayBeforeMs)
                                 : std::string(pick(english, "关", "off"))) +
            " → " +
            (t.delayMs > 0 ? fmt("%.3f ms", t.delayMs) : std::string(pick(english, "关", "off"))) +
            pick(english, "，偏差 ", ", RMS ") + fmt("%.1f", t.rmsBeforeDb) + " → " +
            fmt("%.1f dB", t.rmsPredictedDb) + pick(english, "（预测", " predicted");
        if (check && check->speakers[std::size_t(k)].measured)
            line += std::string(pick(english, "，实测 ", ", ")) +
                    fmt("%.1f dB", check->speakers[std::size_t(k)].rmsAfterDb) +
                    pick(english, "", " measured");
        line += pick(english, "）", "");
        if (k == kTuneSub && t.inverted)
            line += std::string(pick(english, "，反相（超低第 ",
                                     ", polarity inverted (all-pass in Sub band ")) +
                    std::to_string(plan.allPassBand + 1) + pick(english, " 段全通，", " at ") +
                    hzText(plan.allPassHz) + ", Q " + fmt("%.2f", plan.allPassQ) + ")";
        lines.push_back(line);
    }
    if (!missing.empty())
        lines.push_back(std::string(pick(english, "未连接：", "not connected: ")) + missing);
    if (plan.crossoverHz > 0) {
        std::string line = std::string(pick(english, "分频：", "crossover: ")) +
                           crossoverName(plan.slope) + " " + hzText(plan.crossoverHz);
        if (plan.slope != plan.slopeBefore || plan.crossoverHz != plan.crossoverBeforeHz)
            line += std::string(pick(english, "（原为 ", " (was ")) +
                    (plan.slopeBefore >= 0 ? std::string(crossoverName(plan.slopeBefore)) + " " +
                                                 hzText(plan.crossoverBeforeHz)
                                           : std::string(pick(english, "无", "none"))) +
                    pick(english, "）", ")");
        line += std::string(pick(english, "；超低 + 主音箱相消 ", "; Sub + mains dip ")) +
                fmt("%.1f", std::max(plan.dipBeforeDb, 0.0)) + " → " +
                fmt("%.1f dB", std::max(plan.dipPredictedDb, 0.0)) +
                pick(english, "（预测", " predicted");
        if (check && !check->sumAfterDb.empty())
            line += std::string(pick(english, "，实测 ", ", ")) +
                    fmt("%.1f dB", std::max(check->dipAfterDb, 0.0)) +
                    pick(english, "", " measured");
        line += pick(english, "）", "");
        lines.push_back(line);
    }
    for (const Note& n : plan.notes)
        lines.push_back(tidyText(n.text(english)));
    if (check && check->measured) {
        lines.push_back(std::string(pick(english, "检查（主座位）：电平相差 ±",
                                         "check at the main seat: levels within ±")) +
                        fmt("%.2f dB", check->levelSpreadDb) +
                        pick(english, "，到达时间相差 ±", ", arrivals within ±") +
                        fmt("%.3f ms", check->arrivalSpreadMs) + checkVerdict(*check, english));
        for (const Note& n : check->shortfalls)
            lines.push_back("  " + n.text(english));
        for (const Note& n : check->notChecked)
            lines.push_back(std::string(pick(english, "  未检查：", "  not checked: ")) +
                            n.text(english));
    }
    return lines;
}

std::string tuneReportHtml(const TunePlan& plan, const TuneVerification* check,
                           const TuneReportInfo& info, const std::vector<std::string>& images) {
    const bool en = info.english;
    std::string h = std::string("<!DOCTYPE html>\n<html lang=\"") + (en ? "en" : "zh") +
                    "\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                    pick(en, "房间调校报告", "Room tuning report") + "</title>\n";
    h += "<style>\nbody{font-family:sans-serif;max-width:1000px;margin:2em auto;color:#222}\n"
         "table{border-collapse:collapse;margin:1em 0}td,th{border:1px solid #ccc;padding:4px "
         "8px;text-align:right}th{background:#f0f3f8}td:first-child,th:first-child{text-align:"
         "left}\n.ok{color:#1a7f37}.short{color:#b3261e}.meta{color:#555}img,svg{max-width:100%;"
         "margin:0.5em 0}\n</style>\n</head>\n<body>\n";
    h += std::string("<h1>") + pick(en, "房间调校报告", "Room tuning report") + "</h1>\n";
    h += "<p class=\"meta\">" + escape(info.dated) +
         (info.devices.empty() ? "" : " · " + escape(info.devices)) + " · " +
         std::to_string(info.positions) +
         pick(en, " 个测量位置", info.positions == 1 ? " position" : " positions") + " · " +
         fmt("%.0f s", info.sweepSeconds) + pick(en, " 扫频", " sweeps") + " · " +
         pick(en, "目标 ", "target ") + escape(info.target) + "</p>\n";
    if (!plan.ok) {
        h += "<p class=\"short\">" + escape(plan.error.text(en)) + "</p>\n</body>\n</html>\n";
        return h;
    }
    h +=
        "<p>" +
        std::string(info.applied ? pick(en, "设置已作为一步应用（可撤销）。",
                                        "The settings were applied as one step (it can be undone).")
                                 : pick(en, "设置尚未应用。", "The settings were not applied.")) +
        "</p>\n";
    if (check && check->measured) {
        std::string verdict =
            checkVerdict(*check, en).substr(std::string(pick(en, "：", ": ")).size());
        if (en)
            verdict[0] = char(std::toupper(static_cast<unsigned char>(verdict[0])));
        h += std::string("<p class=\"") + (check->ok() ? "ok" : "short") + "\">" +
             pick(en, "检查：", "Check: ") + escape(verdict) + pick(en, "。", ".") + "</p>\n";
        if (!check->notChecked.empty()) {
            h += std::string("<p>") + pick(en, "未检查：", "Not checked:") + "</p>\n<ul>\n";
            for (const Note& n : check->notChecked)
                h += "<li>" + escape(noteSentence(n, en)) + "</li>\n";
            h += "</ul>\n";
        }
    }
    h += std::string("<table>\n<tr><th>") + pick(en, "音箱", "Speaker") + "</th><th>" +
         pick(en, "电平 (dB)", "Level (dB)") + "</th><th>" + pick(en, "延时 (ms)", "Delay (ms)") +
         "</th><th>" + pick(en, "极性", "Polarity") + "</th><th>" +
         pick(en, "偏差 之前/预测/实测 (dB)", "Deviation before / predicted / after (dB)") +
         "</th><th>" + pick(en, "范围", "Range") + "</th></tr>\n";
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = plan.speakers[std::size_t(k)];
        if (!t.asked)
            continue;
        h += "<tr><td>" + escape(speakerName(k, en)) + "</td>";
        if (!t.connected) {
            h += std::string("<td colspan=\"5\">") + pick(en, "未连接", "not connected") +
                 "</td></tr>\n";
            continue;
        }
        const SpeakerCheck* c = check && check->speakers[std::size_t(k)].measured
                                    ? &check->speakers[std::size_t(k)]
                                    : nullptr;
        auto delay = [&](double ms) {
            return ms > 0 ? fmt("%.3f", ms) : std::string(pick(en, "关", "off"));
        };
        h += "<td>" + fmt("%+.2f", t.levelBeforeDb) + " → " + fmt("%+.2f", t.levelDb) +
             "</td><td>" + delay(t.delayBeforeMs) + " → " + delay(t.delayMs) + "</td><td>" +
             (t.inverted ? pick(en, "反相（全通）", "inverted (all-pass)")
                         : pick(en, "正常", "normal")) +
             "</td><td>" + fmt("%.1f", t.rmsBeforeDb) + " / " + fmt("%.1f", t.rmsPredictedDb) +
             " / " + (c ? fmt("%.1f", c->rmsAfterDb) : std::string("–")) + "</td><td>" +
             hzText(t.loHz) + "–" + hzText(t.hiHz) + "</td></tr>\n";
    }
    h += "</table>\n";
    std::vector<std::string> lines = tuneSummary(plan, check, en);
    h += std::string("<h2>") + pick(en, "说明", "Notes") + "</h2>\n<ul>\n";
    for (const std::string& l : lines)
        h += "<li>" + escape(l) + "</li>\n";
    h += "</ul>\n";
    h += std::string("<h2>") + pick(en, "频响", "Responses") + "</h2>\n";
    const std::vector<Chart> charts = tuneCharts(plan, check, en);
    for (std::size_t i = 0; i < charts.size(); ++i)
        h += i < images.size() ? "<p><img src=\"" + escape(images[i]) + "\" alt=\"" +
                                     escape(charts[i].title) + "\"></p>\n"
                               : chartSvg(charts[i]);
    h += std::string("<h2>") + pick(en, "更改的设置", "Settings changed") + "</h2>\n<ul>\n";
    for (const Difference& d : plan.changes)
        h += "<li>" + escape(tidyText(describe(d, en))) + "</li>\n";
    if (plan.changes.empty())
        h += std::string("<li>") + pick(en, "无", "none") + "</li>\n";
    h += "</ul>\n</body>\n</html>\n";
    return h;
}

bool writeTuneReport(const std::string& dir, const TunePlan& plan, const TuneVerification* check,
                     const TuneReportInfo& info, ChartPainter* painter, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot make " + dir + ": " + ec.message();
        return false;
    }
    const std::filesystem::path base(dir);
    std::vector<std::string> images;
    for (const Chart& c : tuneCharts(plan, check, info.english)) {
        std::string name = c.file + (painter ? ".png" : ".svg");
        const std::string path = (base / name).string();
        if (painter) {
            if (!painter->writePng(c, path, error))
                return false;
        } else {
            const WriteResult w = FileWriter().write(path, chartSvg(c));
            if (!w) {
                error = describeWrite(w, path);
                return false;
            }
        }
        images.push_back(name);
    }
    if (plan.ok) {
        for (const auto& [name, image] :
             {std::pair{"before.q7M", &plan.before}, std::pair{"tuned.q7M", &plan.after}}) {
            ParameterStore store;
            applySettings(store, *image);
            const std::string path = (base / name).string();
            const ModeFileResult r = writeModeFile(path, store);
            if (!r) {
                error = describe(r, path);
                return false;
            }
        }
    }
    const std::string path = (base / "index.html").string();
    const WriteResult w = FileWriter().write(path, tuneReportHtml(plan, check, info, images));
    if (!w) {
        error = describeWrite(w, path);
        return false;
    }
    return true;
}

} // namespace q7
