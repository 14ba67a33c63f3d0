// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's one amplifier: store, state, reply handler, link, session and commands wired
// together.
#pragma once

#include "device/amp_commands.h"
#include "device/device_state.h"
#include "device/hid_backend.h"
#include "device/link.h"
#include "device/reply.h"
#include "device/session.h"
#include "params/store.h"
#include "protocol/clock.h"

namespace q7 {

class Connection {
public:
    Connection(HidBackend& backend, Clock& clock, ParameterStore& store)
        : clock(clock), store(store), handler(store, state), link(backend, clock),
          session(store, state, link, clock), commands(link, state, store) {
        handler.setAckSender([this](const Report& r) { link.writeUnpaced(r); });
        link.setReplyHandler([this](const Report& r) {
            handler.HandleReply(r);
            session.noteReply(r);
        });
        link.setLevelReset([this] { this->store.clearLevelReport(); });
    }
    ~Connection() {
        session.cancel();
        session.joinWorkers();
        link.CloseByRemoval();
    }

    void setObserver(LinkObserver* observer) {
        handler.setObserver(observer);
        link.setObserver(observer);
        session.setObserver(observer);
    }

    Clock& clock;
    ParameterStore& store;
    DeviceState state;
    ReplyHandler handler;
    Link link;
    Session session;
    // Everything the user asks of the amplifier beside editing settings.
    AmpCommands commands;
};

} // namespace q7
