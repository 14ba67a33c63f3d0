// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/q7ctl.h"
#include "cli/serve_command.h"
#include "measure/audio.h"
#include "tune/report.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    q7::Q7ctlEnvironment env;
    env.systemAudio = &q7::createSystemAudioBackend;
    env.chartPainter = &q7::createChartPainter;
    env.serve = q7::serveDaemon();
    return q7::runQ7ctl(args, std::cout, std::cerr, env);
}
