// SPDX-License-Identifier: GPL-3.0-or-later
// CHX2060v13View: hosts one page at a time, runs the ribbon's commands, keeps the status bar
// current, and carries the connection flows (start-up connect, arrival and removal, the
// synchronisation dialog, the connection check, the level poll). Its parts live in one file per
// job: main_view.cpp (the page host), main_view_commands.cpp, main_view_connection.cpp,
// main_view_transfers.cpp, main_view_files.cpp, main_view_history.cpp, main_view_modes.cpp,
// main_view_dialogs.cpp and main_view_closing.cpp.
#pragma once

#include "app/commands.h"
#include "app/editor_fwd.h"
#include "device/link.h"
#include "device/link_observer.h"
#include "pages/page.h"
#include "params/mode_file.h"
#include "params/store.h"

#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QDialog;
class QMimeData;
class QScrollArea;
class QSystemTrayIcon;

namespace q7 {

class CAutoMusicVolDlg;
class CAutoSubDlg;
class CDialogNG;
class CRemoteDlg;
class CRemoteStudyDlg;
class CSetDlg;
class CSyncDlg;

class MainStatusBar;
class Ribbon;

namespace cmd {
// The application menu's commands the view adds to the ribbon's.
inline constexpr int AppSaveAs = 33201, AppHelp = 33202;
} // namespace cmd

inline constexpr int kStartupConnectMs = 250;
inline constexpr int kLevelPollMs = 300;
// After a read error: tries to open the amplifier again, a second apart.
inline constexpr int kReconnectMs = 1000;
inline constexpr int kReconnectTries = 5;
// Stores into a device mode are left this long before the next report goes out.
inline constexpr int kModeStoreMs = 500;
// A finished transfer's dialog stays this long.
inline constexpr int kTransferShownMs = 200;

using PageFactory = std::function<CPage*(PageKind kind, int bank, Editor& editor, QWidget* parent)>;

class CHX2060v13View : public QWidget {
    Q_OBJECT
public:
    CHX2060v13View(Editor& editor, Ribbon& ribbon, MainStatusBar& status, QWidget* parent);
    ~CHX2060v13View() override;

    // View creation: language from the profile, the music page, the texts, the start-up timer.
    void OnInitialUpdate();

    // ---- pages ----
    void setPageFactory(PageFactory factory) { factory_ = std::move(factory); }
    CPage* currentPage() const { return page_; }
    // Shows a page of the kind (and, for outputs, bank); an existing page of that kind is kept.
    void showPage(PageKind kind, int bank = 0);
    int lastOutput() const { return lastOutput_; }
    void setLastOutput(int bank) { lastOutput_ = bank; }

    // ---- commands and texts ----
    // A control's id (ribbon, application menu, status bar) runs its command.
    void OnCommand(int id);
    // Runs a command; one that changes the settings is one undo step named after it.
    void run(const CommandCall& call);
    void LoadLanguage();
    void refreshFromStore();
    // The ribbon's master volume sliders and labels from the store.
    void showVolumes();
    void updateUi();

    // ---- connection ----
    // A transfer asked for while another runs waits for it; `told` says so in a notice (the
    // editor's own follow-ups, such as the send the user agreed to as a synchronisation ends,
    // wait without one).
    void StartSynchronisation(const QString& text = {}, bool told = true);
    void StartDownload(const QString& text = {}, bool told = true);
    void OnTransferFinished(TransferKind kind);
    void OnDeviceArrived(const QString& path);
    void OnDeviceRemoved(const QString& path);
    void OnLinkState(LinkState state);
    void OnDspError(const QString& text);
    bool levelPollRunning() const { return pollTimer_ != 0; }
    CSyncDlg* syncDialog() const;
    // A transfer runs (or ends), or work waits for one: a load, a mode command or a connection
    // that comes now waits its turn.
    bool transferBusy() const;
    // What waits for the running transfer, in the order it will run.
    QStringList waitingWork() const;
    // The last tray notice (title, text), also when no tray exists to show it.
    QStringList lastBalloon() const { return lastBalloon_; }

    // ---- files and modes ----
    void loadFile();
    // The ribbon's "SaveFile": always asks for the name.
    void saveFile();
    // Reads a mode file into the editor (checked whole first; a refusal says what is wrong) and
    // sends it when connected. fromDialog: the name may select a device mode, as LoadFile's does.
    bool openModeFile(const QString& path, bool fromDialog);
    // The checked image of the file into the editor (and, connected, the amplifier).
    bool applyModeFile(const QString& path, const ModeImage& image, bool fromDialog);
    // The same for a path from outside the file dialog: its name must be a mode file's.
    bool openNamedModeFile(const QString& path, bool fromDialog);
    // What was dropped on the window: one mode file opens as LoadFile opens it; anything else is
    // refused with a message.
    void dropped(const QMimeData* data);
    int chosenPreset() const { return chosenPreset_; }

    // ---- undo, A/B and compare ----
    void undo();
    void redo();
    void switchSlot(int slot);
    void copySlot(int from, int to);
    void compareWithFile();
    void compareAB();
    // Saves the settings to the document's file, or to one the user picks when it has none
    // (Save As: always picks, starting at the document's file). Connected, they are stored into
    // the current device mode as well. False when the user cancelled or the write failed.
    bool saveDocument(const char* defaultName = "name", const char* defaultSuffix = "R3v9");
    bool saveDocumentAs(const char* defaultName = "name", const char* defaultSuffix = "R3v9");

    // The closing prompt and disconnect; false keeps the editor open.
    bool canClose();
    // What closing asks when the amplifier holds changed settings (names the mode "Yes" stores
    // into).
    QString closingQuestion() const;
    // The help window (the tour), opened or brought forward.
    void showHelp();

    // ---- dialogs ----
    // Restores a device mode to its factory state and resynchronises (only while connected).
    void defaultMode(int mode);
    void openNoiseGate();
    void openMachineSettings();
    void openAutoSub();
    void openMusicAgc();
    void openRemote();
    void openMeasureDialog();
    CDialogNG* noiseGateDialog() const;
    CSetDlg* settingsDialog() const;
    CAutoSubDlg* autoSubDialog() const;
    CAutoMusicVolDlg* musicAgcDialog() const;
    CRemoteDlg* remoteDialog() const;
    // The learning dialog that receives learned codes, or none.
    void setLearningDialog(CRemoteStudyDlg* dialog);
    CRemoteStudyDlg* learningDialog() const;
    void OnKeyLearned(int code);
    // Closes every modeless dialog (a new amplifier arrived).
    void closeDialogs();

signals:
    // F6 and F7 released while connected and no synchronisation runs: the noise gate and the
    // machine settings dialogs open from anywhere.
    void noiseGateRequested();
    void machineSettingsRequested();
    // Once per turn of the event loop after the settings may have changed, from any source;
    // and at each level poll. The remote server follows them.
    void settingsMayHaveChanged();
    void levelsPolled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    Editor& editor_;
    Ribbon& ribbon_;
    MainStatusBar& status_;
    QScrollArea* host_;
    QPointer<CPage> page_;
    PageFactory factory_;
    int lastOutput_ = 5;
    int startupTimer_ = 0;
    int pollTimer_ = 0;
    bool errorLatch_ = true;
    bool permissionTold_ = false;
    int chosenPreset_ = -1;
    QPointer<CSyncDlg> sync_;
    int lingerTimer_ = 0; // a finished transfer's dialog closes when it fires
    int storedTimer_ = 0; // the notice of a device mode being stored
    QSystemTrayIcon* tray_ = nullptr;
    int trayTimer_ = 0;
    int closeLater_ = 0; // closing the modeless dialogs waits for open boxes
    enum class LinkTrouble { None, Reconnecting, GaveUp };
    LinkTrouble trouble_ = LinkTrouble::None;
    QString reconnectPath_;
    int reconnectTimer_ = 0;
    int reconnectTries_ = 0;
    bool arrivalPending_ = false;
    bool uiPending_ = false;
    bool pageStale_ = false; // a step was recorded since the page last read the store
    // The editor's settings that were not sent when an amplifier connected: kept until the user
    // has chosen between them and the amplifier's.
    std::optional<ModeImage> unsent_;
    QStringList lastBalloon_;
    QPointer<CDialogNG> noiseGate_;
    QPointer<CSetDlg> settings_;
    QPointer<CAutoSubDlg> autoSub_;
    QPointer<CAutoMusicVolDlg> agc_;
    QPointer<CRemoteDlg> remote_;
    QPointer<CRemoteStudyDlg> learning_;
    QPointer<QDialog> help_;
    QAction* saveAs_ = nullptr;
    QAction* helpAction_ = nullptr;

    // One transfer at a time: work that would start or change one while another runs waits
    // for it (said in the window) and runs after it, in the order it came.
    struct Waiting {
        QString what;
        std::function<void()> run;
    };
    std::deque<Waiting> waiting_;
    int waitTimer_ = 0;
    bool runningWaiting_ = false;
    bool deferred(const QString& what, std::function<void()> run, bool told = true);
    void runWaiting();
    void transferTimedOut();
    void startTransfer(TransferKind kind, const QString& text, bool told);
    void downloadFailed();
    QString downloadUnfinishedText() const;

    // Opens the amplifier, unless another program holds it (then says so, once). The USB
    // amplifier's lock is taken only for the open and kept only while the link has its handle.
    OpenResult openLink();
    bool lockedOpens() const;
    void releaseLockWhenClosed();
    bool lockTold_ = false;
    void startupConnect();
    void linkBroken();
    void tryReconnect();
    void connected(int balloonMs);
    void startLevelPoll();
    void stopLevelPoll();
    void showSyncDialog(const QString& text);
    void stopLingering();
    // A notification-area balloon; mustBeSeen ones show in the window where no such area exists.
    void balloon(const QString& text, int ms, bool mustBeSeen = false);
    void placePage();

    void volumeCommand(int sliderBase);
    void pitchCommand();
    void muteCommand(int muteBase);
    void loadMode(int mode);
    void saveMode(int mode);
    void loadPreset(int command);
    void resetMachine();
    void wheelOverRibbon(const QPoint& globalPos, int delta);
    void onCategoryChanged(int category);
    void setPitchText(int category);
    QString modeFileProblem(const ModeFileResult& r) const;
    void tellNotLoaded(const QString& path, const QString& problem);
    QString askSavePath(const char* defaultName, const char* defaultSuffix);
    bool writeDocument(const QString& path);
    void addShortcutsAndFileCommands();
    void perform(const CommandCall& call);
    void labelVolumes();
    void showMutes();
    void labelFileCommands();
    void afterEditPathSend(int sent);
    void askAboutUnsent();
    void showDifferences(const QString& title, const ModeImage& a, const ModeImage& b,
                         const QString& aName, const QString& bName);
};

} // namespace q7
