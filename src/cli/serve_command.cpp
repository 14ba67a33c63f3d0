// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/serve_command.h"

#include <cctype>

namespace q7 {

bool splitListen(const std::string& text, std::string& address, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() - colon - 1 > 5)
        return false;
    port = 0;
    for (std::size_t i = colon + 1; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        port = port * 10 + (text[i] - '0');
    }
    if (port > 65535)
        return false;
    address = text.substr(0, colon);
    if (address.front() == '[') {
        if (address.size() < 3 || address.back() != ']')
            return false;
        address = address.substr(1, address.size() - 2);
    } else if (address.find(':') != std::string::npos) {
        return false; // an IPv6 address needs its brackets, or the port is ambiguous
    }
    return true;
}

namespace {

int serve(const ServeOptions& o, Invocation& run) {
    std::string address;
    int port = 0;
    if (o.listen && !splitListen(*o.listen, address, port))
        return run.usage("--listen takes ADDR:PORT, e.g. " + std::string(kDefaultListen) +
                         " or [::1]:8470, not \"" + *o.listen + "\"");
    if (o.ownerPin && o.ownerPin->empty())
        return run.usage("--owner-pin needs a PIN");
    if (o.guestPin && o.guestPin->empty())
        return run.usage("--guest-pin needs a PIN; --guest-open lets guests in without one");
    if (!run.env.serve)
        return run.fail("serve is not in this build of q7ctl (it was built without Qt, "
                        "which the server needs)");
    return run.env.serve(o, run);
}

} // namespace

void addServeCommands(CommandLine& cli) {
    auto& o = cli.keep<ServeOptions>();
    CLI::App* c = cli.add(
        "serve", "serve the phone page and the HTTP API until stopped",
        "Holds the amplifier as the editor does and serves, on one port, the phone page, the "
        "HTTP API (/api/v1/...) and its WebSocket, until SIGTERM or SIGINT. Listens on " +
            std::string(kDefaultListen) +
            " (this computer only) unless --listen or the config file names another address; "
            "0.0.0.0:PORT opens it to the network. The owner's PIN gives every parameter, the "
            "modes and the mode file; guests change only what the config file's whitelist "
            "allows, within its limits. The config file is the one the editor's \"Remote "
            "access\" dialog writes; options given here override it. Each change is logged on "
            "stderr with the role and the address, never a PIN or token. Only in builds with "
            "Qt.\n",
        [&o](Invocation& run) { return serve(o, run); });
    c->add_option("--listen", o.listen,
                  "the address and port, default " + std::string(kDefaultListen) +
                      "; port 0 takes any")
        ->type_name("ADDR:PORT");
    c->add_option("--owner-pin", o.ownerPin, "the owner's PIN")->type_name("PIN");
    CLI::Option* guestPin =
        c->add_option("--guest-pin", o.guestPin, "the guests' PIN")->type_name("PIN");
    CLI::Option* guestOpen = c->add_flag("--guest-open", o.guestOpen, "guests need no PIN");
    guestPin->excludes(guestOpen);
    c->add_option("--config", o.config, "the settings file (JSON, readable by its owner only)")
        ->type_name("FILE");
    cli.usesAmplifier(c);
}

} // namespace q7
