// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/editor.h"

#include "app/device_bridge.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/profile_saver.h"
#include "app/ribbon.h"
#include "device/hidapi_backend.h"
#include "device/replay_backend.h"
#include "device/udev_watcher.h"
#include "eq/eq_bank.h"
#include "pages/eq_tools.h"
#include "pages/page.h"
#include "pages/remote_dialogs.h"
#include "params/mode_file.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"
#include "sim/simulated_audio.h"
#include "ui/fonts.h"
#include "ui/info_popup.h"
#include "ui/local_path.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QSettings>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <cstdio>
#include <thread>

namespace q7 {

CHX2060v13App::CHX2060v13App(EditorOptions options)
    : options_(std::move(options)), overlays_(std::make_unique<EqOverlays>()) {
    const bool screenshots = !options_.screenshots.isEmpty();
    // Screens that need an amplifier are shown with the built-in one when none is named.
    if (screenshots && !options_.backend && !options_.simulator && !options_.replay)
        options_.simulator = "";
    if (options_.verbose)
        setDebugLogSink([](std::string_view t) {
            std::fprintf(stderr, "debug: %.*s\n", int(t.size()), t.data());
        });

    if (options_.clock) {
        clock_ = options_.clock;
    } else {
        ownedClock_ = std::make_unique<SystemClock>();
        clock_ = ownedClock_.get();
    }
    HidBackend* backend = options_.backend;
    if (!backend) {
        if (options_.simulator) {
            std::string error;
            auto parsed = SimOptions::parse(*options_.simulator, error);
            SimOptions sim = parsed ? *parsed : SimOptions{};
            if (!parsed)
                std::fprintf(stderr, "q7edit: %s; using the default simulator\n", error.c_str());
            sim.startUnplugged = true; // it arrives shortly after start-up, as a device would
            auto amp = std::make_unique<SimulatedAmplifier>(*clock_, sim);
            simulator_ = amp.get();
            ownedBackend_ = std::move(amp);
        } else if (options_.replay) {
            auto replay = std::make_unique<ReplayBackend>(
                *clock_, [](const std::string& p) { std::fprintf(stderr, "%s\n", p.c_str()); });
            std::string error;
            if (!replay->load(*options_.replay, error))
                std::fprintf(stderr, "q7edit: %s\n", error.c_str());
            ownedBackend_ = std::move(replay);
        } else {
            ownedBackend_ = std::make_unique<HidapiBackend>();
        }
        backend = ownedBackend_.get();
    } else {
        simulator_ = dynamic_cast<SimulatedAmplifier*>(backend);
    }

    connection_ = std::make_unique<Connection>(*backend, *clock_, store_);
    // The window never waits on the amplifier: its writes are queued for the link's writer.
    connection_->link.setNonWaitingThread(std::this_thread::get_id());
    edits_ = std::make_unique<EditPath>(store_, connection_->link, *clock_,
                                        [this] { return connection_->link.isOpen(); });
    // The music fade's steps are timed on the link's writer: the window never sleeps.
    edits_->dsp().setPause([this](double ms) { connection_->link.pause(ms); });
    if (options_.trace) {
        trace_ = std::make_unique<TraceWriter>();
        if (!trace_->open(*options_.trace))
            std::fprintf(stderr, "q7edit: cannot write %s\n", options_.trace->c_str());
        connection_->link.setTrace(trace_.get());
    }
    timeline_ = std::make_unique<Timeline>(*clock_, options_.virtualTime);
    if (options_.prompter) {
        prompter_ = options_.prompter;
    } else {
        ownedPrompter_ = std::make_unique<QtPrompter>();
        prompter_ = ownedPrompter_.get();
    }
    if (options_.profile) {
        profile_ = options_.profile;
    } else if (screenshots) {
        // Taking pictures switches languages: the user's own profile is left as it is.
        scratch_ = std::make_unique<QTemporaryDir>();
        ownedProfile_ =
            std::make_unique<QSettings>(scratch_->filePath("profile.ini"), QSettings::IniFormat);
        profile_ = ownedProfile_.get();
    } else {
        ownedProfile_ = std::make_unique<QSettings>("DSP_2060_V2.5", "DSP-Q7-v1.1");
        profile_ = ownedProfile_.get();
    }
    recent_ = profile_->value("recentFileList").toStringList().mid(0, 10);
    profileSaver_ = std::make_unique<ProfileSaver>(*profile_);
    bridge_ = std::make_unique<DeviceBridge>(*timeline_);
    connection_->setObserver(bridge_.get());
}

CHX2060v13App::~CHX2060v13App() {
    shutDownLink();
    delete frame_;
    // Nothing may call back into the windows or the bridge from here on.
    connection_->setObserver(nullptr);
    if (connection_->link.isOpen())
        connection_->link.CloseByEditor();
    if (simulator_)
        simulator_->setHotplugListener(nullptr);
}

std::vector<AudioBackend*> CHX2060v13App::audioBackends() {
    // Made when first asked for: the computer's devices are not opened for an editor that
    // never measures.
    if (simulator_ && !simulatedAudio_) {
        std::string error;
        const auto parsed = SimOptions::parse(options_.simulator.value_or(""), error);
        auto audio =
            std::make_unique<SimulatedAudio>(*simulator_, parsed.value_or(SimOptions{}),
                                             options_.screenshots.isEmpty() ? clock_ : nullptr);
        if (audio->ok())
            simulatedAudio_ = std::move(audio);
        else
            std::fprintf(stderr, "q7edit: %s\n", audio->error().c_str());
    }
    if (!systemAudioMade_ && options_.systemAudio) {
        systemAudioMade_ = true;
        systemAudio_ = options_.systemAudio();
    }
    // (Screenshots do not wait for the sound to play: runs end as fast as they compute.)
    std::vector<AudioBackend*> out;
    for (AudioBackend* b : {simulatedAudio_.get(), systemAudio_.get()})
        if (b)
            out.push_back(b);
    return out;
}

CHX2060v13View* CHX2060v13App::view() const {
    return frame_ ? &frame_->view() : nullptr;
}

void CHX2060v13App::showPage(PageKind kind, int bank) {
    if (CHX2060v13View* v = view())
        v->showPage(kind, bank);
}

void CHX2060v13App::setLastOutput(int bank) {
    if (CHX2060v13View* v = view())
        v->setLastOutput(bank);
}

void CHX2060v13App::defaultMode(int mode) {
    if (CHX2060v13View* v = view())
        v->defaultMode(mode);
}

void CHX2060v13App::setLearningDialog(CRemoteStudyDlg* dialog) {
    if (CHX2060v13View* v = view())
        v->setLearningDialog(dialog);
}

void CHX2060v13App::masterVolumesChanged() {
    if (CHX2060v13View* v = view())
        v->showVolumes();
}

bool CHX2060v13App::InitInstance() {
    installFontSubstitutions();
    frame_ = new CMainFrame(*this);
    CHX2060v13View* v = &frame_->view();
    bridge_->onTransferFinished = [v](TransferKind k) { v->OnTransferFinished(k); };
    bridge_->onLinkState = [v](LinkState s) { v->OnLinkState(s); };
    bridge_->onDspError = [v](const std::string& t) { v->OnDspError(QString::fromStdString(t)); };
    bridge_->onKeyLearned = [v](int code) { v->OnKeyLearned(code); };
    bridge_->onArrived = [v](const std::string& p) {
        v->OnDeviceArrived(QString::fromStdString(p));
    };
    bridge_->onRemoved = [v](const std::string& p) {
        v->OnDeviceRemoved(QString::fromStdString(p));
    };

    if (simulator_) {
        simulator_->setHotplugListener(bridge_.get());
        if (options_.simulator && !simulator_->plugged())
            timeline_->start(options_.simulatorArrivalMs, false, [this] { simulator_->plug(); });
    } else if (!options_.replay && !options_.backend) {
        udev_ = std::make_unique<UdevWatcher>();
        if (udev_->ok()) {
            udevNotifier_ = new QSocketNotifier(udev_->fd(), QSocketNotifier::Read, this);
            connect(udevNotifier_, &QSocketNotifier::activated, this,
                    [this] { udev_->dispatch(*bridge_); });
        }
    }

    frame_->ribbon().setRecentFiles(recentFiles());
    v->OnInitialUpdate();
    restoreWindow();
    frame_->show();
    if (!options_.file.isEmpty())
        shellOpen(options_.file);
    return true;
}

void CHX2060v13App::ShowInfo(const QString& text, int ms) {
    if (!info_)
        info_ = new CInfoDlg(language_, *timeline_, frame_);
    info_->showText(text, ms);
}

bool CHX2060v13App::shellOpen(const QString& path) {
    if (!localPathExists(path)) {
        prompter_->tell(frame_, BoxIcon::Information,
                        language_.pick("文件打开错误", "File open error"),
                        language_.pick("文件不存在！", "The file does not exist!"));
        return false;
    }
    if (!frame_)
        return isOpenableModeFileName(path.toStdString());
    // Without an amplifier the file is opened for editing; when one connects, the user
    // chooses whether it gets these settings.
    return frame_->view().openNamedModeFile(path, false);
}

void CHX2060v13App::setSetting(const QString& key, const QVariant& value) {
    profileSaver_->set(key, value);
}

void CHX2060v13App::flushSettings() {
    profileSaver_->flush();
}

QStringList CHX2060v13App::recentFiles() const {
    return recent_;
}

void CHX2060v13App::addRecentFile(const QString& path) {
    QStringList list = recentFiles();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > 10)
        list.removeLast();
    recent_ = list;
    setSetting("recentFileList", list);
    if (frame_)
        frame_->ribbon().setRecentFiles(list);
}

int CHX2060v13App::startLanguage() {
    return startLanguageIndex(profile_, options_.locale.isEmpty() ? QLocale::system().name()
                                                                  : options_.locale);
}

void CHX2060v13App::setLanguageIndex(int index) {
    language_.setIndex(index);
    setSetting("language", language_.index());
    if (frame_)
        frame_->view().LoadLanguage();
}

namespace {

const char* const kGeometryKey = "window/geometry";
const char* const kPageKey = "window/page";
const char* const kBankKey = "window/bank";
const char* const kOutputKey = "window/output";

} // namespace

void CHX2060v13App::saveWindow() {
    if (!options_.screenshots.isEmpty() || !frame_)
        return;
    setSetting(kGeometryKey, frame_->saveGeometry());
    CHX2060v13View& v = frame_->view();
    if (CPage* page = v.currentPage()) {
        setSetting(kPageKey, int(page->kind()));
        setSetting(kBankKey, page->bank());
    }
    setSetting(kOutputKey, v.lastOutput());
    flushSettings(); // the window is closing: nothing is left unwritten
}

void CHX2060v13App::restoreWindow() {
    if (!options_.screenshots.isEmpty() || !frame_)
        return;
    // The profile is the user's file: anything in it may be stale or damaged.
    const QByteArray geometry = profile_->value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty())
        frame_->restoreGeometry(geometry); // keeps the default size when it refuses
    CHX2060v13View& v = frame_->view();
    bool ok = false;
    const int output = profile_->value(kOutputKey).toInt(&ok);
    if (ok && isOutputBank(output))
        v.setLastOutput(output);
    const int page = profile_->value(kPageKey).toInt(&ok);
    if (!ok || page < int(PageKind::Music) || page > int(PageKind::Location))
        return;
    const auto kind = PageKind(page);
    const int bank = profile_->value(kBankKey).toInt();
    const bool input = kind == PageKind::Music || kind == PageKind::Effects;
    frame_->ribbon().setActiveCategory(input ? kInputCategory : kOutputCategory);
    if (kind == PageKind::Effects && !isEffectsBank(bank))
        return;
    v.showPage(kind, kind == PageKind::Output && !isOutputBank(bank) ? v.lastOutput() : bank);
}

void CHX2060v13App::setDocumentPath(const QString& path) {
    documentPath_ = path;
    if (CHX2060v13View* v = view())
        v->updateUi();
}

void CHX2060v13App::shutDownLink() {
    if (shutDown_)
        return;
    shutDown_ = true;
    bridge_->shutDown();
    connection_->session.cancel();
    connection_->session.joinWorkers();
}

} // namespace q7

namespace q7 {
CInfoDlg* CHX2060v13App::infoPopup() const {
    return info_;
}
} // namespace q7
