#include "app/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace q7 {

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::notifyPrimary(const QString& file) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(("raise\n" + file + "\n").toUtf8());
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::becomePrimary() {
    lock_ = std::make_unique<QLockFile>(QDir::temp().filePath(name_ + ".lock"));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(200))
        return false;
    server_ = new QLocalServer(this);
    QLocalServer::removeServer(name_); // a server left behind by a crashed copy
    if (!server_->listen(name_))
        return false;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            // The whole message has arrived when the other copy hangs up.
            connect(s, &QLocalSocket::disconnected, this, [this, s] {
                const QStringList lines = QString::fromUtf8(s->readAll()).left(4096).split('\n');
                s->deleteLater();
                if (lines.value(0) == "raise")
                    emit activated(lines.value(1));
            });
        }
    });
    return true;
}

} // namespace q7
