// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/q7ctl.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return q7::runQ7ctl(args, std::cout, std::cerr);
}
