// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a mode file: the reader must refuse or load them, never misbehave.
#include "params/mode_check.h"
#include "params/mode_file.h"
#include "params/param_names.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static q7::ParameterStore store;
    const q7::ModeImage before = store.modeImage();
    const auto r = q7::loadModeFile(std::span(data, size), store);
    if (!r) {
        const q7::ModeImage after = store.modeImage();
        if (after.cells != before.cells || after.bandImage != before.bandImage)
            std::abort(); // a refused file changed the store
    } else {
        // Whatever a file holds has a name and never reads "x → x".
        for (const q7::Difference& d : q7::differences(before, store.modeImage()))
            if (d.textA == d.textB || d.textAZh == d.textBZh || q7::describe(d, true).empty())
                std::abort();
    }
    // The range check: a file it lets through loads as a fixed point, whatever was clamped.
    q7::ModeImage image = before;
    if (q7::parseModeFile(std::span(data, size), image)) {
        const q7::ModeFileCheck c = q7::checkModeImage(image);
        if (c.refused()) {
            if (q7::describeRefusal(*c.refusal, true).empty())
                std::abort();
        } else {
            const q7::ModeFileCheck again = q7::checkModeImage(c.image);
            if (again.refused() || !again.clamped.empty())
                std::abort(); // clamping must land inside the ranges
        }
    }
    const std::string name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 64));
    q7::modeIndexFromFileName(name);
    q7::modeNameFromFileName(name);
    return 0;
}
