// SPDX-License-Identifier: GPL-3.0-or-later
// What the remote server asks of whoever holds the amplifier: the editor, or q7ctl serve. The
// server runs on the holder's thread (the editor's window thread, the daemon's event loop) and
// calls these directly; none of them may wait on the amplifier.
#pragma once

#include "params/param_names.h"
#include "params/store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace q7 {

// One value a client asked for, already checked against its role and the parameter's range.
struct RemoteValue {
    const ParamInfo* param = nullptr;
    std::uint32_t raw = 0; // the stored bits
};

// Who made a remote edit: the step's name and the log say it.
struct RemoteOrigin {
    std::string role;    // "owner" or "guest"
    std::string address; // the client's address, e.g. "192.168.1.20"
};

struct RemoteStatus {
    bool connected = false;
    std::string model;       // as the amplifier names itself; empty while none is connected
    int mode = 0;            // the user mode last recalled, 1..4; 0 when not known
    std::string inputFormat; // the music input as the status bar shows it; empty when not known
    // Live levels in dB as the level meters show them, one per meter, in the meters' order.
    std::vector<double> levelsDb;
};

class RemoteHost {
public:
    virtual ~RemoteHost() = default;

    // The settings now, as a mode file holds them.
    virtual ModeImage settings() const = 0;
    // Applies every value as one edit step (one undo step in the editor), sent at once. False,
    // with error in English, when it cannot (no amplifier connected while one is needed).
    virtual bool apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
                       std::string& error) = 0;
    virtual RemoteStatus status() const = 0;
    // Recalls user mode 1..4 on the amplifier.
    virtual bool recallMode(int mode, const RemoteOrigin& who, std::string& error) = 0;
    // The whole settings as a mode file's bytes; and a mode file put in their place (one edit
    // step, sent as a download).
    virtual std::string modeFile() const = 0;
    virtual bool putModeFile(const std::string& bytes, const RemoteOrigin& who,
                             std::string& error) = 0;
};

} // namespace q7
