// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl serve: the remote server without the editor, for a small always-on computer beside the
// amplifier. The command and its options are plain C++; the daemon itself needs Qt and is
// handed in through Q7ctlEnvironment::serve, so a build without Qt says it has none.
#pragma once

#include "cli/command_line.h"

#include <optional>
#include <string>

namespace q7 {

// What the command line gave; each one given overrides the config file's.
struct ServeOptions {
    std::optional<std::string> listen; // "ADDR:PORT"
    std::optional<std::string> ownerPin;
    std::optional<std::string> guestPin;
    bool guestOpen = false;
    std::optional<std::string> config;
};

inline constexpr const char* kDefaultListen = "127.0.0.1:8470";

void addServeCommands(CommandLine& cli);

using ServeFunction = int (*)(const ServeOptions&, Invocation&);
// The daemon of this build for Q7ctlEnvironment::serve: null without Qt (serve_none.cpp).
ServeFunction serveDaemon();

// "ADDR:PORT" split; false when it is not that shape (port 0..65535; an IPv6 address in
// brackets). Whether ADDR is an address is the server's to say.
bool splitListen(const std::string& text, std::string& address, int& port);

} // namespace q7
