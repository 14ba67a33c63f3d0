// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl serve's daemon: the amplifier held as the editor holds it, the remote server in front of
// it, a Qt event loop until SIGTERM or SIGINT.
#pragma once

#include "cli/device_commands.h"
#include "params/edit_path.h"
#include "remote/host.h"

#include <functional>
#include <string>

namespace q7 {

struct ServeOptions;

// The daemon's side of the remote server: values go through an edit path, so each write goes
// out at once with the editor's senders. Reading the amplifier again (a mode recalled, the
// amplifier plugged back) runs on the session's worker; until it ends, writes are refused
// rather than lost in the middle of it.
class DaemonHost final : public RemoteHost {
public:
    // Made on the thread of the event loop that calls it.
    explicit DaemonHost(Connection& connection);

    ModeImage settings() const override;
    bool apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
               std::string& error) override;
    RemoteStatus status() const override;
    bool recallMode(int mode, const RemoteOrigin& who, std::string& error) override;
    std::string modeFile() const override;
    bool putModeFile(const std::string& bytes, const RemoteOrigin& who,
                     std::string& error) override;

    bool connected() const;
    bool reading() const { return reading_; }
    // Starts reading every setting on the worker (after a recall, or a reopened link).
    void startReading();
    // Called often while reading: true once the read ended (the settings changed).
    bool readingEnded();
    // The level poll's tick.
    void pollLevels();

    // After each change a client made (values, a mode file, a recalled mode), on the same call.
    std::function<void()> changed;

private:
    Connection& c_;
    EditPath edits_;
    bool reading_ = false;
    int mode_ = 0;

    bool writable(std::string& error) const;
    bool applyImage(const ModeImage& image, const RemoteOrigin& who, std::string& error);
};

// Runs the daemon until it is stopped; the exit code.
int runServeDaemon(const ServeOptions& options, Invocation& run);

} // namespace q7
