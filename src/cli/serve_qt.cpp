// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/serve_command.h"
#include "cli/serve_daemon.h"

namespace q7 {

ServeFunction serveDaemon() {
    return &runServeDaemon;
}

} // namespace q7
