// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/screenshots.h"

#include "app/about_dialog.h"
#include "app/editor.h"
#include "app/eq_screens.h"
#include "app/load_preview.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/remote_access.h"
#include "app/ribbon.h"
#include "app/sync_dialog.h"
#include "app/tune_room.h"
#include "controls/eq_panel.h"
#include "pages/dynamics_dialogs.h"
#include "pages/music_page.h"
#include "pages/page.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "params/mode_check.h"
#include "params/param_names.h"
#include "ui/info_popup.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <tuple>

namespace q7 {

int takeScreenshots(CHX2060v13App& app, const QString& dir) {
    CMainFrame* const frame = app.frame();
    QDir().mkpath(dir);
    int failures = 0;
    auto save = [&](QWidget* w, const QString& name, const char* suffix) {
        QApplication::processEvents();
        const QString path = QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix));
        if (!w->grab().save(path))
            ++failures;
    };
    // The editor as it starts, before an amplifier is there.
    if (!app.linkOpen()) {
        for (int lang : {kChinese, kEnglish}) {
            app.setLanguageIndex(lang);
            save(frame, "main-offline", lang == kEnglish ? "en" : "zh");
        }
    }
    // With a simulated amplifier, let it arrive and synchronise first so the screens show a
    // connected editor.
    if (app.simulator()) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000 &&
               !(app.linkOpen() && frame->view().syncDialog() == nullptr &&
                 !app.connection().session.workerRunning()))
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    for (int lang : {kChinese, kEnglish}) {
        const char* suffix = lang == kEnglish ? "en" : "zh";
        app.setLanguageIndex(lang);
        frame->view().showPage(PageKind::Music);
        frame->ribbon().setActiveCategory(kInputCategory);
        save(frame, "main", suffix);
        if (CPage* music = frame->view().currentPage())
            save(music, "music", suffix);
        // The EQ graph at two sizes and at pixel ratio 2, with a band selected.
        if (auto* music = dynamic_cast<CDialogMusic*>(frame->view().currentPage())) {
            for (auto [name, size, dpr] : {std::tuple{"eq-graph-small", QSize(480, 240), 1.0},
                                           std::tuple{"eq-graph-large", QSize(1400, 560), 1.0},
                                           std::tuple{"eq-graph-hidpi", QSize(700, 320), 2.0}}) {
                CEqPanel graph;
                graph.resize(size);
                graph.SetBank(music->graph()->bank());
                graph.SetBandCount(music->graph()->bandCount());
                graph.setLanguage(app.language().index());
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
        frame->view().showPage(PageKind::Effects, 6);
        QApplication::processEvents();
        if (CPage* effects = frame->view().currentPage())
            save(effects, "effects", suffix);
        // The output group: each output, then the compressor, delay and location pages.
        frame->ribbon().setActiveCategory(kOutputCategory);
        for (auto [bank, name] : {std::pair{5, "output-main"}, std::pair{4, "output-rear"},
                                  std::pair{3, "output-center"}, std::pair{2, "output-sub"},
                                  std::pair{11, "output-top"}}) {
            frame->view().showPage(PageKind::Output, bank);
            QApplication::processEvents();
            if (CPage* page = frame->view().currentPage())
                save(page, name, suffix);
        }
        for (auto [kind, name] :
             {std::pair{PageKind::Compressor, "compressor"}, std::pair{PageKind::Delay, "delay"},
              std::pair{PageKind::Location, "location"}}) {
            frame->view().showPage(kind);
            QApplication::processEvents();
            if (CPage* page = frame->view().currentPage())
                save(page, name, suffix);
        }
        frame->view().showPage(PageKind::Output, 5);
        save(frame, "main-output", suffix);
        // The ribbon (the same on both tabs) from the frame's narrowest width to a full HD screen.
        const QSize frameSize = frame->size();
        for (int width : {1024, 1180, 1400, 1920}) {
            frame->resize(width, frameSize.height());
            QApplication::processEvents();
            save(&frame->ribbon(), QString("ribbon-%1").arg(width), suffix);
        }
        frame->resize(frameSize);
        frame->ribbon().setActiveCategory(kInputCategory);
        frame->view().showPage(PageKind::Music);

        CAboutDlg about(app.connection(), app.language(), frame);
        about.modelLine()->setText(
            about.modelLine()->text().isEmpty()
                ? QString("Module:%1").arg(QString::fromStdString(app.connection().state.model()))
                : about.modelLine()->text());
        about.modelLine()->show();
        about.peak()->show();
        about.adjustSize();
        about.show();
        save(&about, "about", suffix);
        about.hide();

        // A question as the message boxes ask it: Qt's own buttons in the chosen language.
        QMessageBox question(
            QMessageBox::Question, app.language().pick("信息", "Information"),
            app.language().pick("确定要保存至机器模式一?", "Save to machine mode 1?"),
            QMessageBox::Yes | QMessageBox::No, frame);
        question.show();
        save(&question, "question", suffix);
        question.hide();

        // Notices that stand together: a reset's restart notice and the removal that follows.
        app.ShowInfo(app.language().pick("机器正在重启……", "Restarting……"), 20000);
        app.ShowInfo(app.language().pick("设备已断开!", "Device Disconnected!"), 5000);
        if (CInfoDlg* info = app.infoPopup()) {
            save(info, "notices", suffix);
            info->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // The closing question, as it names the mode that "Yes" stores into.
        QMessageBox closing(QMessageBox::Question, app.language().pick("保存?", "Save?"),
                            frame->view().closingQuestion(),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, frame);
        closing.show();
        save(&closing, "closing-question", suffix);
        closing.hide();

        // Help: the tour.
        frame->view().showHelp();
        if (QDialog* help = frame->findChild<QDialog*>("HelpDialog")) {
            save(help, "help", suffix);
            help->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // The transfer dialog part-way: a synchronisation reading the EQ, a download writing it.
        const int downloadTotal =
            fullDownloadReports(app.store(), app.connection().state.currentSettings()[0]);
        for (auto [name, progress] :
             {std::pair{"sync",
                        TransferProgress{TransferKind::Synchronisation, TransferStep::ReadingEq,
                                         170, kSynchronisationRequests}},
              std::pair{"download",
                        TransferProgress{TransferKind::Download, TransferStep::WritingEq,
                                         downloadTotal / 2, downloadTotal}}}) {
            CSyncDlg sync(QString(), app.language(), app.timeline(), frame);
            sync.setAttribute(Qt::WA_DeleteOnClose, false);
            sync.showProgress(progress);
            sync.show();
            save(&sync, name, suffix);
            sync.finish();
        }

        // The dialogs, each as the user opens it.
        CHX2060v13View& view = frame->view();
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
        if (app.connection().state.protocol() > 8) {
            view.openMusicAgc();
            shot(view.musicAgcDialog(), "music-agc");
        } else {
            CAutoMusicVolDlg agc(app, frame);
            agc.show();
            save(&agc, "music-agc", suffix);
        }
        view.openMachineSettings();
        shot(view.settingsDialog(), "settings");
        view.openRemote();
        if (CRemoteDlg* remote = view.remoteDialog()) {
            save(remote, "remote", suffix);
            CRemoteStudyDlg study(app, learningPrompt(7, lang == kEnglish), remote);
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
            ModeImage file = app.store().modeImage();
            for (const char* id : {"echo.a.time_ms", "main.comp.ratio", "mic.gate.attack"})
                if (const ParamInfo* p = findParam(id); p && p->place == ParamPlace::Cell)
                    file.cells[std::size_t(p->index)] = 0;
            const bool english = lang == kEnglish;
            CLoadPreviewDlg preview(
                "party.q7M",
                loadPreviewLines(checkModeImage(file), "Party\tRoom", "Party Room", english),
                english, frame);
            preview.show();
            save(&preview, "load-preview", suffix);
        }

        // Undo, A/B and compare: B differs from A in one band, and the menus name the steps.
        if (app.linkOpen()) {
            view.showPage(PageKind::Output, 5);
            app.edits().switchTo(1);
            app.edits().edit([](Dsp& d) { return d.SendBand(5, 2, filter::Peq, -4.5, 100, 2.0); });
            app.edits().switchTo(0);
            app.edits().edit([](Dsp& d) { return d.SendBand(5, 7, filter::Peq, 3.0, 200, 1.41); });
            view.refreshFromStore();
            view.updateUi();
            save(frame, "main-ab", suffix);
            QMenu* menu = frame->ribbon().appMenu();
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
            shot(frame->findChild<QDialog*>("CompareDialog"), "compare-ab");
            app.edits().undo(); // the amplifier is left as it was
            app.edits().clearHistory();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            view.showPage(PageKind::Music);
        }
        failures += renderEqToolScreens(app, view, dir, suffix);
        failures += renderTuneScreens(app, frame, dir, suffix);
        failures += renderRemoteAccessScreens(app, frame, dir, suffix);
        view.showPage(PageKind::Music);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return failures ? 1 : 0;
}

} // namespace q7
