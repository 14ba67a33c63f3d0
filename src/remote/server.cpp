// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/server.h"

namespace q7 {

struct RemoteServer::Impl {};

RemoteServer::RemoteServer(RemoteHost&, Clock&, QObject* parent) : QObject(parent) {}
RemoteServer::~RemoteServer() = default;
void RemoteServer::setConfig(const RemoteConfig&) {}
bool RemoteServer::listen(const QString&, QString* error) {
    if (error)
        *error = "not yet";
    return false;
}
void RemoteServer::close() {}
bool RemoteServer::isListening() const {
    return false;
}
quint16 RemoteServer::port() const {
    return 0;
}
QString RemoteServer::pageAddress() const {
    return {};
}
void RemoteServer::settingsChanged() {}
void RemoteServer::levelsChanged() {}

} // namespace q7
