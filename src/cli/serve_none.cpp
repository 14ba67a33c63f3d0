// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl built without Qt: no remote server.
#include "cli/serve_command.h"

namespace q7 {

ServeFunction serveDaemon() {
    return nullptr;
}

} // namespace q7
