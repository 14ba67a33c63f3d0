// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/editor.h"

#include "app/about_dialog.h"
#include "app/device_bridge.h"
#include "app/eq_screens.h"
#include "app/load_preview.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/profile_saver.h"
#include "app/ribbon.h"
#include "app/sync_dialog.h"
#include "app/tune_room.h"
#include "controls/eq_panel.h"
#include "device/hidapi_backend.h"
#include "device/replay_backend.h"
#include "device/udev_watcher.h"
#include "pages/dynamics_dialogs.h"
#include "pages/eq_tools.h"
#include "pages/music_page.h"
#include "pages/page.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "protocol/log.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"
#include "sim/simulated_audio.h"
#include "ui/fonts.h"
#include "ui/info_popup.h"
#include "ui/local_path.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
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

bool isOutputBank(int bank) {
    return bank == 2 || bank == 3 || bank == 4 || bank == 5 || bank == 11;
}
bool isEffectsBank(int bank) {
    return bank == 6 || bank == 7 || bank == 9 || bank == 10;
}

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

int CHX2060v13App::takeScreenshots(const QString& dir) {
    QDir().mkpath(dir);
    int failures = 0;
    auto save = [&](QWidget* w, const QString& name, const char* suffix) {
        QApplication::processEvents();
        const QString path = QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix));
        if (!w->grab().save(path))
            ++failures;
    };
    // The editor as it starts, before an amplifier is there.
    if (!linkOpen()) {
        for (int lang : {kChinese, kEnglish}) {
            setLanguageIndex(lang);
            save(frame_, "main-offline", lang == kEnglish ? "en" : "zh");
        }
    }
    // With a simulated amplifier, let it arrive and synchronise first so the screens show a
    // connected editor.
    if (simulator_) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000 && !(linkOpen() && frame_->view().syncDialog() == nullptr &&
                                             !connection_->session.workerRunning()))
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    for (int lang : {kChinese, kEnglish}) {
        const char* suffix = lang == kEnglish ? "en" : "zh";
        setLanguageIndex(lang);
        frame_->view().showPage(PageKind::Music);
        frame_->ribbon().setActiveCategory(kInputCategory);
        save(frame_, "main", suffix);
        if (CPage* music = frame_->view().currentPage())
            save(music, "music", suffix);
        // The EQ graph at two sizes and at pixel ratio 2, with a band selected.
        if (auto* music = dynamic_cast<CDialogMusic*>(frame_->view().currentPage())) {
            for (auto [name, size, dpr] : {std::tuple{"eq-graph-small", QSize(480, 240), 1.0},
                                           std::tuple{"eq-graph-large", QSize(1400, 560), 1.0},
                                           std::tuple{"eq-graph-hidpi", QSize(700, 320), 2.0}}) {
                CEqPanel graph;
                graph.resize(size);
                graph.SetBank(music->graph()->bank());
                graph.SetBandCount(music->graph()->bandCount());
                graph.setLanguage(language_.index());
                for (int i = 0; i < graph.bandCount(); ++i) {
                    const EqPanelBand& b = music->graph()->band(i);
                    graph.band(i).type = b.type;
                    graph.band(i).frequency = b.frequency;
                    graph.band(i).gain = b.gain;
                    graph.band(i).q = b.q;
                    graph.ComputeBandCurve(i);
                }
                graph.setSelected(3);
                QImage image(size * dpr, QImage::Format_ARGB32_Premultiplied);
                image.setDevicePixelRatio(dpr);
                graph.renderTo(image);
                if (!image.save(QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix))))
                    ++failures;
            }
        }
        frame_->view().showPage(PageKind::Effects, 6);
        QApplication::processEvents();
        if (CPage* effects = frame_->view().currentPage())
            save(effects, "effects", suffix);
        // The output group: each output, then the compressor, delay and location pages.
        frame_->ribbon().setActiveCategory(kOutputCategory);
        for (auto [bank, name] : {std::pair{5, "output-main"}, std::pair{4, "output-rear"},
                                  std::pair{3, "output-center"}, std::pair{2, "output-sub"},
                                  std::pair{11, "output-top"}}) {
            frame_->view().showPage(PageKind::Output, bank);
            QApplication::processEvents();
            if (CPage* page = frame_->view().currentPage())
                save(page, name, suffix);
        }
        for (auto [kind, name] :
             {std::pair{PageKind::Compressor, "compressor"}, std::pair{PageKind::Delay, "delay"},
              std::pair{PageKind::Location, "location"}}) {
            frame_->view().showPage(kind);
            QApplication::processEvents();
            if (CPage* page = frame_->view().currentPage())
                save(page, name, suffix);
        }
        frame_->view().showPage(PageKind::Output, 5);
        save(frame_, "main-output", suffix);
        // The ribbon (the same on both tabs) from the frame's narrowest width to a full HD screen.
        const QSize frameSize = frame_->size();
        for (int width : {1024, 1180, 1400, 1920}) {
            frame_->resize(width, frameSize.height());
            QApplication::processEvents();
            save(&frame_->ribbon(), QString("ribbon-%1").arg(width), suffix);
        }
        frame_->resize(frameSize);
        frame_->ribbon().setActiveCategory(kInputCategory);
        frame_->view().showPage(PageKind::Music);

        CAboutDlg about(*connection_, language_, frame_);
        about.modelLine()->setText(
            about.modelLine()->text().isEmpty()
                ? QString("Module:%1").arg(QString::fromStdString(connection_->state.model()))
                : about.modelLine()->text());
        about.modelLine()->show();
        about.peak()->show();
        about.adjustSize();
        about.show();
        save(&about, "about", suffix);
        about.hide();

        // A question as the message boxes ask it: Qt's own buttons in the chosen language.
        QMessageBox question(QMessageBox::Question, language_.pick("信息", "Information"),
                             language_.pick("确定要保存至机器模式一?", "Save to machine mode 1?"),
                             QMessageBox::Yes | QMessageBox::No, frame_);
        question.show();
        save(&question, "question", suffix);
        question.hide();

        // Notices that stand together: a reset's restart notice and the removal that follows.
        ShowInfo(language_.pick("机器正在重启……", "Restarting……"), 20000);
        ShowInfo(language_.pick("设备已断开!", "Device Disconnected!"), 5000);
        if (CInfoDlg* info = infoPopup()) {
            save(info, "notices", suffix);
            info->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // The closing question, as it names the mode that "Yes" stores into.
        QMessageBox closing(QMessageBox::Question, language_.pick("保存?", "Save?"),
                            frame_->view().closingQuestion(),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, frame_);
        closing.show();
        save(&closing, "closing-question", suffix);
        closing.hide();

        // Help: the tour.
        frame_->view().showHelp();
        if (QDialog* help = frame_->findChild<QDialog*>("HelpDialog")) {
            save(help, "help", suffix);
            help->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // The transfer dialog part-way: a synchronisation reading the EQ, a download writing it.
        const int downloadTotal =
            fullDownloadReports(store_, connection_->state.currentSettings()[0]);
        for (auto [name, progress] :
             {std::pair{"sync",
                        TransferProgress{TransferKind::Synchronisation, TransferStep::ReadingEq,
                                         170, kSynchronisationRequests}},
              std::pair{"download",
                        TransferProgress{TransferKind::Download, TransferStep::WritingEq,
                                         downloadTotal / 2, downloadTotal}}}) {
            CSyncDlg sync(QString(), language_, *timeline_, frame_);
            sync.setAttribute(Qt::WA_DeleteOnClose, false);
            sync.showProgress(progress);
            sync.show();
            save(&sync, name, suffix);
            sync.finish();
        }

        // The dialogs, each as the user opens it.
        CHX2060v13View& view = frame_->view();
        auto shot = [&](QWidget* w, const char* name) {
            if (!w) {
                ++failures;
                return;
            }
            save(w, name, suffix);
            w->close();
        };
        view.openNoiseGate();
        shot(view.noiseGateDialog(), "noise-gate");
        view.openAutoSub();
        shot(view.autoSubDialog(), "auto-sub");
        if (connection_->state.protocol() > 8) {
            view.openMusicAgc();
            shot(view.musicAgcDialog(), "music-agc");
        } else {
            CAutoMusicVolDlg agc(*this, frame_);
            agc.show();
            save(&agc, "music-agc", suffix);
        }
        view.openMachineSettings();
        shot(view.settingsDialog(), "settings");
        view.openRemote();
        if (CRemoteDlg* remote = view.remoteDialog()) {
            save(remote, "remote", suffix);
            CRemoteStudyDlg study(*this, learningPrompt(7, lang == kEnglish), remote);
            study.show();
            save(&study, "remote-learning", suffix);
            study.codeLearned(0x0A);
            save(&study, "remote-learned", suffix);
            study.hide();
            remote->close();
        } else {
            ++failures;
        }

        {
            // A file saved by an editor that never met an amplifier (zeros below the ranges),
            // named with a tab the amplifier cannot show: what loading it would change.
            ModeImage file = store_.modeImage();
            for (const char* id : {"echo.a.time_ms", "main.comp.ratio", "mic.gate.attack"})
                if (const ParamInfo* p = findParam(id); p && p->place == ParamPlace::Cell)
                    file.cells[std::size_t(p->index)] = 0;
            const bool english = lang == kEnglish;
            CLoadPreviewDlg preview(
                "party.q7M",
                loadPreviewLines(checkModeImage(file), "Party\tRoom", "Party Room", english),
                english, frame_);
            preview.show();
            save(&preview, "load-preview", suffix);
        }

        // Undo, A/B and compare: B differs from A in one band, and the menus name the steps.
        if (linkOpen()) {
            view.showPage(PageKind::Output, 5);
            edits_->switchTo(1);
            edits_->edit([](Dsp& d) { return d.SendBand(5, 2, filter::Peq, -4.5, 100, 2.0); });
            edits_->switchTo(0);
            edits_->edit([](Dsp& d) { return d.SendBand(5, 7, filter::Peq, 3.0, 200, 1.41); });
            view.refreshFromStore();
            view.updateUi();
            save(frame_, "main-ab", suffix);
            QMenu* menu = frame_->ribbon().appMenu();
            menu->adjustSize();
            save(menu, "app-menu", suffix);
            if (CPage* page = view.currentPage()) {
                page->showCopyMenu(page->mapToGlobal(QPoint(40, 40)));
                if (QMenu* copy = page->copyMenu()) {
                    save(copy, "eq-copy-menu", suffix);
                    copy->hide();
                }
            }
            view.compareAB();
            QApplication::processEvents();
            shot(frame_->findChild<QDialog*>("CompareDialog"), "compare-ab");
            edits_->undo(); // the amplifier is left as it was
            edits_->clearHistory();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            view.showPage(PageKind::Music);
        }
        failures += renderEqToolScreens(*this, view, dir, suffix);
        failures += renderTuneScreens(*this, frame_, dir, suffix);
        view.showPage(PageKind::Music);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return failures ? 1 : 0;
}

} // namespace q7

namespace q7 {
CInfoDlg* CHX2060v13App::infoPopup() const {
    return info_;
}
} // namespace q7
