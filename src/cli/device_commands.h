// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's commands that talk to an amplifier (real, simulated or replayed), and the session
// the named-parameter commands open the same way.
#pragma once

#include "cli/command_line.h"
#include "device/connection.h"

#include <atomic>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

namespace q7 {

class AmplifierLock;
class ReplayBackend;
class TraceWriter;
class LinkObserver;

void addDeviceCommands(CommandLine& cli);

// The amplifier the global options name (the one on USB, --simulator or --replay), opened for
// one command. Each step that fails writes one line on err and leaves the exit code in code():
// 1 for a failure (none found, the wrong model, a file), 3 when the amplifier does not answer
// or its replies are lost.
class AmplifierSession {
public:
    explicit AmplifierSession(Invocation& run);
    ~AmplifierSession();
    AmplifierSession(const AmplifierSession&) = delete;
    AmplifierSession& operator=(const AmplifierSession&) = delete;

    // The transport, without opening the link (devices lists what it finds).
    HidBackend* backend();
    bool open();
    // Reads every setting and checks the amplifier.
    bool synchronise();
    // open() then synchronise(): nothing when the amplifier is ready, else the exit code the
    // command returns.
    std::optional<int> openAndSynchronise();
    // The identity check before acting on an amplifier that was not synchronised; with names,
    // the four mode names too.
    bool handshake(bool names = false);
    // A report that got no reply: the amplifier stopped answering.
    bool awaitReply();

    Connection& connection() { return *connection_; }
    ParameterStore& store() { return store_; }
    Clock& clock() { return *clock_; }
    int code() const { return code_; }
    int fail(const std::string& message, int code);
    // Standard output for the command's lines, after the trace lines that came before them
    // (with --trace -).
    std::ostream& out();
    // Closes the link; the exit code, 1 when a replay was not played to its end.
    int finish(int code);

private:
    Invocation& run_;
    int code_ = kExitOk;
    std::mutex traceMutex_;
    std::string traceLines_;
    std::unique_ptr<Clock> ownedClock_;
    Clock* clock_ = nullptr;
    std::unique_ptr<Clock::Participant> participant_;
    std::unique_ptr<HidBackend> ownedBackend_;
    HidBackend* backend_ = nullptr;
    ReplayBackend* replay_ = nullptr;
    std::unique_ptr<TraceWriter> trace_;
    std::unique_ptr<LinkObserver> observer_;
    ParameterStore store_;
    std::unique_ptr<Connection> connection_;
    bool onUsb_ = false;
    std::unique_ptr<AmplifierLock> lock_; // held while the amplifier on USB is open
    bool logging_ = false;
};

} // namespace q7
