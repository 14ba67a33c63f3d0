// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include "ui/language.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <unistd.h>

namespace q7 {

std::unique_ptr<QMessageBox> instanceErrorBox(const Language& language) {
    auto box = std::make_unique<QMessageBox>(
        QMessageBox::Warning, "DSP-Q7-v1.1",
        language.pick("已有一个实例在运行，但找不到它的主窗口！",
                      "Another copy of the editor is running, but its window cannot be found!"),
        QMessageBox::Ok);
    // Named here, so that the button never stays in Qt's English under a Chinese text.
    box->button(QMessageBox::Ok)->setText(language.pick("确定", "OK"));
    return box;
}

QString instanceDirectory() {
    // Qt checks that XDG_RUNTIME_DIR belongs to this user, and falls back to a private folder
    // of the user's own when it is missing.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        dir = QDir::temp().filePath(QString("q7edit-%1").arg(getuid()));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
    }
    return dir;
}

SingleInstance::SingleInstance(const QString& name, const QString& directory, QObject* parent)
    : QObject(parent), name_(name), directory_(directory) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const {
    return QDir(directory_).filePath(name_ + ".lock");
}

QString SingleInstance::socketPath() const {
    return QDir(directory_).filePath(name_ + ".socket");
}

bool SingleInstance::notifyPrimary(const QString& file) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(1000))
        return false;
    // The first copy runs in another folder: it needs the whole path.
    const QString path = file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
    socket.write(("raise\n" + path + "\n").toUtf8());
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::becomePrimary() {
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(200))
        return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath()); // a socket left behind by a crashed copy
    if (!server_->listen(socketPath()))
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
