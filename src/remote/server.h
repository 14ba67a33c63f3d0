// SPDX-License-Identifier: GPL-3.0-or-later
// The remote server: the HTTP API, the WebSocket and the phone page on one port. It lives on the
// holder's thread and calls the RemoteHost directly; a slow or vanished client never makes it
// wait.
#pragma once

#include "remote/access.h"
#include "remote/host.h"

#include <QObject>
#include <QString>
#include <memory>

namespace q7 {

class RemoteServer : public QObject {
    Q_OBJECT
public:
    RemoteServer(RemoteHost& host, Clock& clock, QObject* parent = nullptr);
    ~RemoteServer() override;

    void setConfig(const RemoteConfig& config);
    // "127.0.0.1:8470", "0.0.0.0:8470", "[::1]:8470"; port 0 takes any free port.
    bool listen(const QString& addressAndPort, QString* error);
    void close();
    bool isListening() const;
    quint16 port() const;
    // WebSocket clients connected now (phones with the page open, scripts).
    int clientCount() const;
    // "http://ADDR:PORT/" a phone opens: a LAN address when listening on all addresses.
    QString pageAddress() const;

    // The holder says the settings may have changed, from any source: the server pushes
    // {"type":"changed","params":{…}} with what differs from what it pushed last.
    void settingsChanged();
    // New levels: pushes {"type":"levels",…} to the WebSocket clients.
    void levelsChanged();

    // Limits, changeable for tests.
    static constexpr qint64 kMaxBodyBytes = 256 * 1024;    // a mode file is far smaller
    static constexpr qint64 kMaxMessageBytes = 64 * 1024;  // one WebSocket message
    static constexpr qint64 kMaxQueuedBytes = 1024 * 1024; // unsent to one slow client
    // An HTTP request must be whole this long after its first byte (a new connection's first
    // after connecting): a trickle cannot hold a place. WebSockets keep their own liveness.
    static constexpr double kRequestTimeoutMs = 10'000;
    static constexpr double kIdleTimeoutMs = 60'000; // between requests on one connection

    // Closes the HTTP connections past their time; a timer does this every second, tests call
    // it after moving the clock.
    void closeStale();

signals:
    // "time role address: what changed" for the editor's and the daemon's log.
    void audited(const QString& line);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace q7
