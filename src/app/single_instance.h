// SPDX-License-Identifier: GPL-3.0-or-later
// One editor per user: a second copy hands its file argument to the first, which comes to the
// front, and exits. The lock and the socket live in the user's runtime directory, so another
// user of the same machine runs his own editor.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QLocalServer;
class QLockFile;
class QMessageBox;

namespace q7 {

inline constexpr const char* kInstanceName = "DSP-Audio-X2060";

class Language;

// The box a second copy shows when the first runs without a window it could raise: its text and
// its button in the one language the user chose.
std::unique_ptr<QMessageBox> instanceErrorBox(const Language& language);

// XDG_RUNTIME_DIR, or a folder of this user's own when there is none.
QString instanceDirectory();

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name = kInstanceName,
                            const QString& directory = instanceDirectory(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy (it then listens for later ones).
    bool becomePrimary();
    // Tells the first copy to come forward, with an optional file to open; false if none runs.
    bool notifyPrimary(const QString& file);

    QString lockPath() const;
    QString socketPath() const;

signals:
    void activated(const QString& file);

private:
    QString name_;
    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace q7
