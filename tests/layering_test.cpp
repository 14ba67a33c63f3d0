// SPDX-License-Identifier: GPL-3.0-or-later
// Every quoted include under src/ points down the layers: a folder may include itself and the
// folders its row names, nothing else. The UI never builds a report: it neither includes the
// report builders nor calls them, and asks the amplifier's commands or the senders instead.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lowest first. protocol and ini are the bottom; eq sits on the engine; measure sits beside
// device; tune sits on both; the remote server sits on device; sim and cli sit on device beside
// the UI stack (audio, ui, controls, pages, app). controls never reach device; only app includes
// app.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"protocol", {}},
    {"ini", {}},
    {"params", {"protocol", "ini"}},
    {"eq", {"params", "protocol", "ini"}},
    {"measure", {"eq", "params", "protocol", "ini"}},
    {"device", {"eq", "params", "protocol", "ini"}},
    {"sim", {"measure", "device", "eq", "params", "protocol", "ini"}},
    {"tune", {"measure", "device", "eq", "params", "protocol", "ini"}},
    {"remote", {"device", "eq", "params", "protocol", "ini"}},
    {"cli", {"remote", "tune", "sim", "measure", "device", "eq", "params", "protocol", "ini"}},
    {"audio", {"measure", "eq", "params", "protocol", "ini"}},
    {"plot", {"tune", "measure", "eq", "params", "protocol", "ini"}},
    {"ui", {"device", "eq", "params", "protocol", "ini"}},
    {"controls", {"ui", "eq", "params", "protocol", "ini"}},
    {"pages",
     {"controls", "ui", "audio", "tune", "measure", "device", "eq", "params", "protocol", "ini"}},
    {"app",
     {"remote", "pages", "controls", "ui", "audio", "plot", "sim", "tune", "measure", "device",
      "eq", "params", "protocol", "ini"}},
};

// The folders of the Qt UI, and the headers that build reports, which none of them may include.
const std::set<std::string> kUiFolders = {"ui", "controls", "pages", "app"};
const std::set<std::string> kReportBuilderHeaders = {"protocol/report.h"};
// The builders those headers declare. The store reaches the UI through its own header, which
// brings the builders with it, so calling one is checked as well as including its header. A
// member call of the same name (the store's setKeyTable) is no builder.
const std::set<std::string> kReportBuilders = {
    "shortCommand",    "dspWrite",    "dspWriteRepeated",      "dspRead",
    "memWrite",        "memRead",     "modeNameWrite",         "modeNameRead",
    "setSettings",     "setKeyTable", "tunnelAcknowledgement", "tunnelReport",
    "makeTunnelPacket"};

struct Include {
    int line;
    std::string target; // as written between the quotes
};

// The target of a line `#include "x"` (spaces allowed around '#'), or nothing.
std::optional<std::string> quotedInclude(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos || text[i] != '#')
        return std::nullopt;
    i = text.find_first_not_of(" \t", i + 1);
    if (i == std::string::npos || text.compare(i, 7, "include") != 0)
        return std::nullopt;
    i = text.find_first_not_of(" \t", i + 7);
    if (i == std::string::npos || text[i] != '"')
        return std::nullopt;
    const std::size_t end = text.find('"', i + 1);
    if (end == std::string::npos)
        return std::nullopt;
    return text.substr(i + 1, end - i - 1);
}

std::vector<Include> quotedIncludes(std::istream& in) {
    std::vector<Include> out;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line)
        if (auto target = quotedInclude(text))
            out.push_back({line, *target});
    return out;
}

// The folder an include names ("params/dsp.h" -> "params"); a bare name is the including
// file's own folder.
std::string folderOf(const std::string& target, const std::string& own) {
    const auto slash = target.find('/');
    return slash == std::string::npos ? own : target.substr(0, slash);
}

// "" when the edge is allowed, else why not.
std::string checkEdge(const std::string& from, const std::string& to) {
    const auto row = kAllowed.find(from);
    if (row == kAllowed.end())
        return "folder '" + from + "' has no row in the layering table";
    if (to == from)
        return {};
    if (!kAllowed.count(to))
        return "'" + to + "' is not a folder of src/";
    if (!row->second.count(to))
        return "'" + from + "' may not include '" + to + "'";
    return {};
}

std::vector<fs::path> filesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Every violation under root, one "file:line: include \"x\": why" each.
std::vector<std::string> violations(const fs::path& root) {
    std::vector<std::string> out;
    for (const fs::path& file : filesUnder(root)) {
        const fs::path rel = fs::relative(file, root);
        if (rel.begin() == rel.end() || std::next(rel.begin()) == rel.end())
            continue; // a file directly under src/ belongs to no layer
        const std::string from = rel.begin()->string();
        std::ifstream in(file);
        for (const Include& inc : quotedIncludes(in)) {
            const std::string why = checkEdge(from, folderOf(inc.target, from));
            if (!why.empty())
                out.push_back(rel.string() + ":" + std::to_string(inc.line) + ": include \"" +
                              inc.target + "\": " + why);
        }
    }
    return out;
}

bool startsWord(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

// Where a file of the UI includes a report builder's header, calls a builder or names a command
// code, one "file:line: why" each. Line comments are not read.
std::vector<std::string> reportBuilding(const fs::path& root) {
    std::vector<std::string> out;
    for (const fs::path& file : filesUnder(root)) {
        const fs::path rel = fs::relative(file, root);
        if (rel.begin() == rel.end() || !kUiFolders.count(rel.begin()->string()))
            continue;
        std::ifstream in(file);
        std::string text;
        for (int line = 1; std::getline(in, text); ++line) {
            const std::string where = rel.string() + ":" + std::to_string(line) + ": ";
            if (auto target = quotedInclude(text); target && kReportBuilderHeaders.count(*target)) {
                out.push_back(where + "includes the report builders \"" + *target + "\"");
                continue;
            }
            const std::string code = text.substr(0, text.find("//"));
            for (std::size_t at = 0; at < code.size();) {
                if (!startsWord(code[at])) {
                    ++at;
                    continue;
                }
                std::size_t end = at + 1;
                while (end < code.size() && (startsWord(code[end]) ||
                                             std::isdigit(static_cast<unsigned char>(code[end]))))
                    ++end;
                const std::string name = code.substr(at, end - at);
                const std::size_t before = code.find_last_not_of(" \t", at == 0 ? 0 : at - 1);
                const bool member = at > 0 && before != std::string::npos &&
                                    (code[before] == '.' || (code[before] == '>' && before > 0 &&
                                                             code[before - 1] == '-'));
                if (name.rfind("CMD_", 0) == 0)
                    out.push_back(where + "names the command code " + name);
                else if (kReportBuilders.count(name) && !member)
                    out.push_back(where + "builds a report with " + name);
                at = end;
            }
        }
    }
    return out;
}

TEST(Layering, EveryIncludeUnderSrcPointsDown) {
    const fs::path src = fs::path(Q7_SOURCE_DIR) / "src";
    ASSERT_TRUE(fs::is_directory(src)) << src;
    for (const std::string& v : violations(src))
        ADD_FAILURE() << v;
}

TEST(Layering, TheUiNeverBuildsAReport) {
    const fs::path src = fs::path(Q7_SOURCE_DIR) / "src";
    for (const std::string& v : reportBuilding(src))
        ADD_FAILURE() << v;
}

TEST(Layering, EveryFolderOfSrcHasARow) {
    const fs::path src = fs::path(Q7_SOURCE_DIR) / "src";
    for (const auto& e : fs::directory_iterator(src)) {
        if (e.is_directory()) {
            EXPECT_TRUE(kAllowed.count(e.path().filename().string()))
                << e.path().filename() << " needs a row in the layering table";
        }
    }
}

TEST(Layering, TheCheckCatchesUpwardAndSidewaysIncludes) {
    const fs::path root = fs::temp_directory_path() / ("q7_layering_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& rel, const std::string& text) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    };
    write("params/a.cpp",
          "#include \"params/a.h\"\n#include <vector>\n  # include \"device/link.h\"\n");
    write("controls/b.h", "#pragma once\n#include \"ui/style.h\"\n#include \"device/link.h\"\n");
    write("pages/c.cpp", "// #include \"app/editor.h\" in a comment is not an include\n"
                         "#include \"app/editor.h\"\n#include \"c.h\"\n");
    write("sim/d.cpp", "#include \"ui/fonts.h\"\n#include \"cli/q7ctl.h\"\n");
    write("app/e.cpp", "#include \"app/x.h\"\n#include \"sim/d.h\"\n#include \"nowhere/y.h\"\n");
    write("extra/f.cpp", "#include \"protocol/report.h\"\n");
    write("eq/g.cpp", "#include \"params/store.h\"\n#include \"measure/fft.h\"\n");
    write("params/h.cpp", "#include \"eq/eq_bank.h\"\n");
    const std::vector<std::string> got = violations(root);
    fs::remove_all(root);
    const std::vector<std::string> want = {
        "app/e.cpp:3: include \"nowhere/y.h\": 'nowhere' is not a folder of src/",
        "controls/b.h:3: include \"device/link.h\": 'controls' may not include 'device'",
        "eq/g.cpp:2: include \"measure/fft.h\": 'eq' may not include 'measure'",
        "extra/f.cpp:1: include \"protocol/report.h\": folder 'extra' has no row in the layering "
        "table",
        "pages/c.cpp:2: include \"app/editor.h\": 'pages' may not include 'app'",
        "params/a.cpp:3: include \"device/link.h\": 'params' may not include 'device'",
        "params/h.cpp:1: include \"eq/eq_bank.h\": 'params' may not include 'eq'",
        "sim/d.cpp:1: include \"ui/fonts.h\": 'sim' may not include 'ui'",
        "sim/d.cpp:2: include \"cli/q7ctl.h\": 'sim' may not include 'cli'",
    };
    EXPECT_EQ(got, want);
}

TEST(Layering, TheCheckCatchesAReportBuiltInTheUi) {
    const fs::path root =
        fs::temp_directory_path() / ("q7_layering_builders_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& rel, const std::string& text) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    };
    write("pages/a.cpp", "#include \"protocol/report.h\"\n"
                         "void f(Link& l) { l.write(shortCommand(CMD_MIC_PAIR, 1)); }\n");
    write("controls/b.cpp",
          "// shortCommand(CMD_SET_SOURCE) in a comment builds nothing\n"
          "void g(Store& s, Store* p) { s.setKeyTable(t); p -> setKeyTable(t); }\n"
          "Report r = q7::setKeyTable(t);\n");
    write("app/c.cpp",
          "  #  include \"protocol/report.h\"\nauto r = dspWriteRepeated(4, 20, 5, 1);\n");
    write("ui/d.h", "#include \"protocol/report_sink.h\"\nint myShortCommandCount = 0;\n");
    write("device/e.cpp",
          "#include \"protocol/report.h\"\nauto r = shortCommand(CMD_SET_HDMI, 1);\n");
    const std::vector<std::string> got = reportBuilding(root);
    fs::remove_all(root);
    const std::vector<std::string> want = {
        "app/c.cpp:1: includes the report builders \"protocol/report.h\"",
        "app/c.cpp:2: builds a report with dspWriteRepeated",
        "controls/b.cpp:3: builds a report with setKeyTable",
        "pages/a.cpp:1: includes the report builders \"protocol/report.h\"",
        "pages/a.cpp:2: builds a report with shortCommand",
        "pages/a.cpp:2: names the command code CMD_MIC_PAIR",
    };
    EXPECT_EQ(got, want);
}

} // namespace
