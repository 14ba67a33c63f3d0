// One editor per user session: a second copy hands its file argument to the first, which comes
// to the front, and exits.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QLocalServer;
class QLockFile;

namespace q7 {

inline constexpr const char* kInstanceName = "DSP-Audio-X2060";

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name = kInstanceName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy (it then listens for later ones).
    bool becomePrimary();
    // Tells the first copy to come forward, with an optional file to open; false if none runs.
    bool notifyPrimary(const QString& file);

signals:
    void activated(const QString& file);

private:
    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace q7
