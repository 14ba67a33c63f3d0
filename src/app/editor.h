// SPDX-License-Identifier: GPL-3.0-or-later
// CHX2060v13App: the editor's application object. It owns the amplifier connection, the store,
// the language, the user's profile, the time service and the windows, and is the context that
// pages and dialogs reach the rest of the program through.
#pragma once

#include "app/editor_fwd.h"
#include "device/amplifier_lock.h"
#include "device/connection.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "ui/editor_context.h"
#include "ui/language.h"
#include "ui/prompter.h"
#include "ui/timeline.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QSettings;
class QSocketNotifier;
class QTemporaryDir;

namespace q7 {

class CHX2060v13View;
class CInfoDlg;
class CMainFrame;
class DeviceBridge;
class ProfileSaver;
class SimulatedAmplifier;
class TraceWriter;
class UdevWatcher;

struct EditorOptions {
    std::optional<std::string> simulator; // options text of --simulator
    std::optional<std::string> replay;
    std::optional<std::string> trace;
    bool verbose = false;
    QString screenshots;
    QString file;                     // a mode file to open (command line or shell)
    double simulatorArrivalMs = 1000; // the simulated amplifier is plugged in after this
    QString locale;                   // the system's locale name; empty: asked of the system

    // Put in place by tests.
    Clock* clock = nullptr;
    bool virtualTime = false;
    HidBackend* backend = nullptr;
    // Set, the amplifier lock is taken in this file, and by the injected backend's opens too,
    // as by the USB amplifier's.
    std::string lockFile;
    Prompter* prompter = nullptr;
    QSettings* profile = nullptr;
    // The computer's audio devices for measuring (the program sets it; tests leave it out).
    std::function<std::unique_ptr<AudioBackend>()> systemAudio;
};

class CHX2060v13App : public QObject, public EditorContext {
    Q_OBJECT
public:
    explicit CHX2060v13App(EditorOptions options);
    ~CHX2060v13App() override;

    // Builds and shows the main window; false when the editor cannot start.
    bool InitInstance();

    ParameterStore& store() override { return store_; }
    Connection& connection() override { return *connection_; }
    Dsp& dsp() override { return edits_->dsp(); }
    EditPath& edits() override { return *edits_; }
    Clock& clock() { return *clock_; }
    Timeline& timeline() override { return *timeline_; }
    Language& language() override { return language_; }
    Prompter& prompter() override { return *prompter_; }
    EqOverlays& eqOverlays() override { return *overlays_; }
    QSettings& profile() { return *profile_; }
    // Writes one value of the profile; the file is written off the window's thread.
    void setSetting(const QString& key, const QVariant& value);
    // Waits until the profile's file holds every value set so far.
    void flushSettings();
    // The language to start in (the profile's choice, or the system's at the first start).
    int startLanguage();
    CMainFrame* frame() const { return frame_; }
    CHX2060v13View* view() const;
    SimulatedAmplifier* simulator() const { return simulator_; }
    const EditorOptions& options() const { return options_; }
    bool linkOpen() const override { return connection_->link.isOpen(); }
    // Held while the USB amplifier's link is open or its close is still sending.
    AmplifierLock& amplifierLock() { return amplifierLock_; }
    std::vector<AudioBackend*> audioBackends() override;

    // The transient information popup.
    void ShowInfo(const QString& text, int ms) override;
    CInfoDlg* infoPopup() const;

    // The main window's part of the context.
    void showPage(PageKind kind, int bank) override;
    void setLastOutput(int bank) override;
    void defaultMode(int mode) override;
    void setLearningDialog(CRemoteStudyDlg* dialog) override;
    void masterVolumesChanged() override;

    // Opens a mode file handed over by the command line, the shell, a second copy of the
    // editor or the recent-file list.
    bool shellOpen(const QString& path);

    QStringList recentFiles() const;
    void addRecentFile(const QString& path);

    // Language switch: stores the index in the profile and relabels every window.
    void setLanguageIndex(int index);

    // The window's size and place, its page and output, kept in the profile between runs (not
    // while taking screenshots, which must look the same on every machine).
    void saveWindow();
    void restoreWindow();

    // Stops everything that could still call back into the windows (closing).
    void shutDownLink();

    // The mode file the settings came from or were last saved to, if any.
    QString documentPath() const { return documentPath_; }
    void setDocumentPath(const QString& path);

private:
    EditorOptions options_;
    std::unique_ptr<Clock> ownedClock_;
    Clock* clock_;
    std::unique_ptr<HidBackend> ownedBackend_;
    SimulatedAmplifier* simulator_ = nullptr;
    std::unique_ptr<TraceWriter> trace_;
    ParameterStore store_;
    AmplifierLock amplifierLock_; // outlives the connection: its close may still be sending
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<AudioBackend> simulatedAudio_, systemAudio_;
    bool systemAudioMade_ = false;
    std::unique_ptr<EditPath> edits_;
    std::unique_ptr<Timeline> timeline_;
    Language language_;
    std::unique_ptr<Prompter> ownedPrompter_;
    Prompter* prompter_;
    std::unique_ptr<QTemporaryDir> scratch_;
    std::unique_ptr<QSettings> ownedProfile_;
    QSettings* profile_;
    std::unique_ptr<ProfileSaver> profileSaver_;
    QStringList recent_; // the profile's recent files, read once: the window never waits on it
    std::unique_ptr<DeviceBridge> bridge_;
    std::unique_ptr<UdevWatcher> udev_;
    QSocketNotifier* udevNotifier_ = nullptr;
    CMainFrame* frame_ = nullptr;
    QPointer<CInfoDlg> info_;
    bool shutDown_ = false;
    QString documentPath_;
    std::unique_ptr<EqOverlays> overlays_;
};

} // namespace q7
