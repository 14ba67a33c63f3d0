// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's own commands, said as what the user wants: the input it plays, the HDMI port,
// the music pitch, a restart, the remote's learning and key table, mic pairing, the machine
// settings, the user modes, and the questions q7ctl asks. The window and q7ctl both call these;
// the reports are built here and nowhere above. Each goes to the link's ordinary paced write,
// so the window's calls are queued behind what is already waiting and return at once.
#pragma once

#include "device/device_state.h"
#include "device/link.h"
#include "params/store.h"

#include <string_view>

namespace q7 {

class Dsp;

// Counts the user can choose from: the ribbon's five inputs, four HDMI ports.
inline constexpr int kSourceCount = 5;
inline constexpr int kHdmiCount = 4;

class AmpCommands {
public:
    AmpCommands(Link& link, DeviceState& state, ParameterStore& store)
        : link_(link), state_(state), store_(store) {}

    // ---- what the amplifier plays ----
    // The music input 0..4; the store keeps it as the user's choice.
    bool selectSource(int source);
    // The same input change without storing it: a measurement borrows an input for its run
    // and gives the user's back afterwards.
    bool switchSource(int source);
    // HDMI port 0..3, kept in the device state.
    bool selectHdmi(int port);
    // The music pitch (a settings value): stored, then sent by the given senders, which are the
    // edit path's in the window so that the edit is routed and recorded like any other.
    bool setPitch(Dsp& senders, int pitch);

    // ---- the machine ----
    // Restarts the amplifier; it drops off USB and comes back.
    bool resetMachine();
    bool pairMics();
    // The settings dialog's edited record becomes the current one and goes to the amplifier.
    bool applyMachineSettings();

    // ---- the remote control ----
    // Asks the amplifier to learn the remote's key 1..15. It answers only when the key is
    // pressed.
    bool startLearning(int key);
    // Ends a learning request nobody answered: the wait for its reply is released first, so the
    // cancel goes out at once.
    bool cancelLearning();
    // The key table the store holds.
    bool sendKeyTable();

    // ---- user modes (0..3; out of range is clamped) ----
    bool loadMode(int mode);
    bool storeMode(int mode);
    bool defaultMode(int mode);
    bool renameMode(int mode, std::u16string_view name);

    // ---- questions; the answers land in the device state and the store ----
    bool askModel();
    bool askProtocol();
    bool askSettings();
    bool askSource();
    bool askLevels();
    bool askModeName(int mode);

private:
    Link& link_;
    DeviceState& state_;
    ParameterStore& store_;

    bool send(const Report& r);
};

} // namespace q7
