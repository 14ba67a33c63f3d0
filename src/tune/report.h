// SPDX-License-Identifier: GPL-3.0-or-later
// The report of a room tuning, to hand to a customer: a chart per speaker (measured before,
// predicted, measured after) and for the Sub with the mains, a summary page, and the settings
// before and after as mode files. Charts are data here, drawn as SVG by this layer and as PNG by
// a painter the programs bring (Qt's, where they are built with it).
#pragma once

#include "tune/verify.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace q7 {

struct ChartSeries {
    std::string name;
    std::uint32_t rgb = 0; // 0xRRGGBB
    bool dashed = false;
    double width = 2;
    std::vector<double> hz, db;
};

struct Chart {
    std::string file; // base name, "main-l"
    std::string title, subtitle;
    double loHz = 20, hiHz = 20000;
    double minDb = -40, maxDb = 0;
    double rangeLoHz = 0, rangeHiHz = 0; // the tuned range, shaded (0: none)
    double markHz = 0;                   // a frequency marked (the crossover), 0: none
    std::vector<ChartSeries> series;
};

// Where things go on a chart of a given size: both renderers place them alike.
struct ChartLayout {
    double width, height;
    double left = 62, right = 18, top = 52, bottom = 64; // margins
    const Chart& chart;
    ChartLayout(const Chart& c, double w, double h) : width(w), height(h), chart(c) {}
    double x(double hz) const;
    double y(double db) const;
    double plotLeft() const { return left; }
    double plotRight() const { return width - right; }
    double plotTop() const { return top; }
    double plotBottom() const { return height - bottom; }
    std::vector<double> hzTicks() const;   // 20, 50, 100, … within the chart
    std::vector<double> dbTicks() const;   // every 5 or 10 dB
    static std::string hzLabel(double hz); // "50", "1k", "20k"
};
inline constexpr int kChartWidth = 960, kChartHeight = 420;

// Every connected speaker's chart, then Sub + mains when both were tuned.
std::vector<Chart> tuneCharts(const TunePlan& plan, const TuneVerification* check, bool english);

std::string chartSvg(const Chart& chart, int width = kChartWidth, int height = kChartHeight);

// Draws charts to PNG files. Null from createChartPainter() where the program has none.
class ChartPainter {
public:
    virtual ~ChartPainter() = default;
    virtual bool writePng(const Chart& chart, const std::string& path, std::string& error) = 0;
};
std::unique_ptr<ChartPainter> createChartPainter();

struct TuneReportInfo {
    std::string dated;   // when it was measured
    std::string devices; // played and recorded through
    int positions = 1;
    double sweepSeconds = 3;
    std::string target; // "flat", "house", a file's name
    bool applied = false;
    bool english = true;
};

// The summary page; images names the chart files (in tuneCharts() order) beside it, or is empty
// to embed each chart as SVG.
std::string tuneReportHtml(const TunePlan& plan, const TuneVerification* check,
                           const TuneReportInfo& info, const std::vector<std::string>& images);

// The check's verdict as the summary puts it after a colon (": every figure within its limit"),
// saying so when some figure could not be checked.
std::string checkVerdict(const TuneVerification& check, bool english);

// The lines a summary prints: one per speaker, the crossover, notes, the check.
std::vector<std::string> tuneSummary(const TunePlan& plan, const TuneVerification* check,
                                     bool english);

// A figure's text as it should read: "-0.00" (something that rounds to zero) becomes "0.00",
// "+0.00" where the sign was asked for.
std::string tidyText(std::string text);
// A note shown on its own: tidied, and in English starting with a capital.
std::string noteSentence(const Note& note, bool english);

// Writes DIR/index.html, a chart per speaker (PNG with a painter, else SVG), before.q7M and
// tuned.q7M (the settings before and as the tuning leaves them). False with the reason in error.
bool writeTuneReport(const std::string& dir, const TunePlan& plan, const TuneVerification* check,
                     const TuneReportInfo& info, ChartPainter* painter, std::string& error);

} // namespace q7
