// SPDX-License-Identifier: GPL-3.0-or-later
// Remote access in the editor: the server over the editor's settings, its configuration file
// (the one `q7ctl serve --config` reads, kept beside the profile, readable by its owner only),
// the log of who changed what, and the "Remote access…" dialog that sets it all.
#pragma once

#include "app/editor_fwd.h"
#include "remote/access.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace q7 {

class EditorRemoteHost;
class RemoteServer;

inline constexpr quint16 kRemoteDefaultPort = 8470;
// Lines the log keeps; older ones go.
inline constexpr int kRemoteLogLines = 500;

class RemoteAccessService : public QObject {
    Q_OBJECT
public:
    // The editor's one service, made on first use; it lives as long as the editor.
    static RemoteAccessService& of(Editor& editor);
    explicit RemoteAccessService(Editor& editor);
    ~RemoteAccessService() override;

    const RemoteConfig& config() const { return config_; }
    // Beside the profile, so each user (and each test) has their own.
    QString configPath() const;
    // Writes the file and hands the rules to the server (at once, while it runs). False, with
    // error in the user's language, when the file cannot be written.
    bool setConfig(const RemoteConfig& config, QString* error);
    // Listens where the configuration says; remembered for the next start.
    bool start(QString* error);
    void stop();
    bool running() const;
    QString pageAddress() const;
    QStringList log() const { return log_; }
    RemoteServer& server() { return *server_; }
    // At start-up: turned on again when it was on as the editor closed.
    void restore();
    // A line in the log, stamped with the time unless it carries one.
    void note(const QString& line);
    void clearLog() { log_.clear(); }

signals:
    void logged(const QString& line);
    void runningChanged(bool on);

private:
    Editor& editor_;
    std::unique_ptr<EditorRemoteHost> host_;
    std::unique_ptr<RemoteServer> server_;
    RemoteConfig config_;
    QStringList log_;
    void followView();
};

// The guests' choices in the dialog: the ribbon's master controls.
const std::vector<std::string>& remoteGuestChoices();

// A QR code of the text, each module `scale` pixels, with the quiet zone around it; a null
// image when the text does not fit one.
QImage qrCodeImage(const QString& text, int scale);

class RemoteAccessDialog : public QDialog {
    Q_OBJECT
public:
    RemoteAccessDialog(Editor& editor, QWidget* parent);

    // The form's values as a configuration; empty problem when they make a valid one.
    RemoteConfig formConfig(QString* problem) const;
    // Children tests find by object name: "on", "loopback", "lan", "address", "port", "ownerPin",
    // "guestPin", "guestPinOn", "guestOpen", "guests", "guestModes", "apply", "pageAddress",
    // "qr", "status", "log".
    void applyLanguage();

private:
    Editor& editor_;
    RemoteAccessService& service_;
    QCheckBox* on_;
    QLabel* status_;
    QLabel *whereCaption_, *whoCaption_, *guestsCaption_, *pageCaption_, *logCaption_;
    QRadioButton *loopback_, *lan_;
    QComboBox* address_;
    QLabel* portLabel_;
    QSpinBox* port_;
    QLabel *ownerLabel_, *ownerHint_;
    QLineEdit* ownerPin_;
    QRadioButton *guestPinOn_, *guestOpen_;
    QLineEdit* guestPin_;
    QTableWidget* guests_;
    QCheckBox* guestModes_;
    QLabel* page_;
    QLabel* qr_;
    QPlainTextEdit* log_;
    QPushButton *apply_, *close_;
    QString problem_; // the last refusal, shown until the form changes

    void fill(const RemoteConfig& c);
    void fillAddresses(const QString& chosen);
    void showState();
    void formChanged();
    bool applyForm();
    void toggled(bool on);
};

// Opens the dialog (one at a time) and returns it.
RemoteAccessDialog* openRemoteAccess(Editor& editor, QWidget* parent);

// The dialog off, and on with a guest's edits in the log (remote-access, remote-access-on);
// remote access is left off. Returns how many screens could not be made.
int renderRemoteAccessScreens(Editor& editor, QWidget* parent, const QString& dir,
                              const char* suffix);

} // namespace q7
