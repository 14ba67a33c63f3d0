// SPDX-License-Identifier: GPL-3.0-or-later
// Every source file says its licence in its first lines, so a file added without it is caught:
// C++, CMake, shell scripts (with or without a #! line), udev rules and man page sources.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr const char* kLine = "SPDX-License-Identifier: GPL-3.0-or-later";

// Folders of data, generated files and other people's trees.
bool skipped(const fs::path& dir) {
    const std::string name = dir.filename().string();
    return name == ".git" || name.starts_with("build") || name == "resources" || name == "docs" ||
           name == "corpus" || name == "node_modules";
}

bool isSource(const fs::path& p) {
    static const std::set<std::string> extensions = {".cpp", ".h",     ".hpp", ".cmake", ".sh",
                                                     ".py",  ".rules", ".in"};
    const std::string name = p.filename().string();
    if (name == "CMakeLists.txt" || extensions.count(p.extension().string()))
        return true;
    // Scripts without an extension: tools/check, .ci/run, the maintainer scripts.
    std::ifstream in(p);
    std::string first;
    std::getline(in, first);
    return first.starts_with("#!");
}

} // namespace

TEST(Licence, EverySourceFileNamesIt) {
    const fs::path root = Q7_SOURCE_DIR;
    int checked = 0;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_directory()) {
            if (skipped(it->path()))
                it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file() || !isSource(it->path()))
            continue;
        std::ifstream in(it->path());
        std::string line;
        bool found = false;
        for (int n = 0; n < 3 && std::getline(in, line); ++n)
            found = found || line.find(kLine) != std::string::npos;
        EXPECT_TRUE(found) << fs::relative(it->path(), root).string() << " lacks \"" << kLine
                           << "\" in its first three lines";
        ++checked;
    }
    EXPECT_GT(checked, 250);
}
