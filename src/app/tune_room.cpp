// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tune_room.h"

#include "app/editor.h"
#include "audio/qt_audio_backend.h"
#include "plot/qt_chart_painter.h"
#include "sim/simulated_audio.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

namespace q7 {

TuneServices tuneServices(CHX2060v13App& app) {
    TuneServices s;
    if (SimulatedAmplifier* sim = app.simulator()) {
        // The microphone of the run in progress, moved between positions by the worker.
        auto current = std::make_shared<std::atomic<SimulatedAudio*>>(nullptr);
        const EditorOptions& o = app.options();
        Clock* pace = &app.clock();
        s.makeAudio = [sim, current, o, pace]() -> std::unique_ptr<AudioBackend> {
            std::string error;
            const auto options = SimOptions::parse(o.simulator.value_or(""), error);
            auto audio =
                std::make_unique<SimulatedAudio>(*sim, options ? *options : SimOptions{}, pace);
            if (!audio->ok())
                return nullptr;
            *current = audio.get();
            return audio;
        };
        s.placeSimulatedMicrophone = [current](int position) {
            if (SimulatedAudio* a = *current)
                a->setPosition(position);
        };
    } else if (!app.options().replay) {
        s.makeAudio = []() -> std::unique_ptr<AudioBackend> {
            return std::make_unique<QtAudioBackend>();
        };
    }
    auto painter = std::make_shared<QtChartPainter>();
    s.drawChart = [painter](const Chart& c, int w, int h) { return painter->render(c, w, h); };
    s.makePainter = []() -> std::unique_ptr<ChartPainter> {
        return std::make_unique<QtChartPainter>();
    };
    QPointer<CHX2060v13App> guard(&app);
    s.reportDir = [guard]() -> QString {
        if (!guard || guard->documentPath().isEmpty())
            return {};
        const QFileInfo mode(guard->documentPath());
        return mode.dir().filePath(mode.completeBaseName() + "-tuning-" +
                                   QDateTime::currentDateTime().toString("yyyyMMdd-HHmm"));
    };
    return s;
}

CTuneDlg* openTuneRoom(CHX2060v13App& app, QWidget* parent) {
    if (parent)
        if (auto* open = parent->findChild<CTuneDlg*>("TuneDialog", Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dlg = new CTuneDlg(app, tuneServices(app), parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setModal(true);
    // Its own size, within the screen (less the window's frame).
    QSize size = dlg->sizeHint();
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 40));
    dlg->resize(size);
    dlg->show();
    return dlg;
}

int renderTuneScreens(CHX2060v13App& app, QWidget* parent, const QString& dir, const char* suffix) {
    if (!app.simulator() || !app.linkOpen())
        return 0;
    int failures = 0;
    auto save = [&](QWidget* w, const char* name) {
        QApplication::processEvents();
        w->resize(w->sizeHint().expandedTo(w->minimumSizeHint()));
        QApplication::processEvents();
        if (!w->grab().save(QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix))))
            ++failures;
    };
    auto waitFor = [](const std::function<bool()>& ready) {
        QElapsedTimer t;
        t.start();
        while (!ready() && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return ready();
    };
    TuneServices services = tuneServices(app);
    // The run goes as fast as the simulated devices can; the window's steps are the same.
    const auto simulator = app.options().simulator.value_or("");
    SimulatedAmplifier* sim = app.simulator();
    auto current = std::make_shared<std::atomic<SimulatedAudio*>>(nullptr);
    services.makeAudio = [sim, simulator, current]() -> std::unique_ptr<AudioBackend> {
        std::string error;
        const auto o = SimOptions::parse(simulator, error);
        auto audio = std::make_unique<SimulatedAudio>(*sim, o ? *o : SimOptions{});
        *current = audio.get();
        return audio;
    };
    services.placeSimulatedMicrophone = [current](int position) {
        if (SimulatedAudio* a = *current)
            a->setPosition(position);
    };
    services.reportDir = {};
    CTuneDlg dlg(app, std::move(services), parent);
    dlg.setAttribute(Qt::WA_DeleteOnClose, false);
    dlg.show();
    save(&dlg, "tune-setup");
    // Main L and R, the centre and the Sub from two seats, 1 s sweeps.
    for (int k : {4, 5, 6, 7})
        dlg.speakerBox(k)->setChecked(false);
    dlg.sweepBox()->setValue(1);
    dlg.positionsBox()->setValue(2);
    dlg.startButton()->click();
    if (!waitFor([&] { return dlg.continueButton()->isVisible(); }))
        return failures + 1;
    save(&dlg, "tune-place");
    dlg.continueButton()->click();
    waitFor([&] { return dlg.progressBar()->value() > 400 || !dlg.busy(); });
    save(&dlg, "tune-measure");
    for (int i = 0; i < 2 && dlg.step() == CTuneDlg::Measure; ++i) {
        waitFor([&] { return dlg.continueButton()->isVisible() || !dlg.busy(); });
        if (dlg.continueButton()->isVisible())
            dlg.continueButton()->click();
    }
    if (!waitFor([&] { return dlg.step() == CTuneDlg::Results; }))
        return failures + 1;
    save(&dlg, "tune-results");
    dlg.applyButton()->click();
    waitFor([&] { return dlg.continueButton()->isVisible() || !dlg.busy(); });
    if (dlg.continueButton()->isVisible())
        dlg.continueButton()->click();
    if (!waitFor([&] { return dlg.step() == CTuneDlg::Check; }))
        ++failures;
    else
        save(&dlg, "tune-check");
    dlg.close();
    // The editor as it was.
    if (dlg.applied())
        app.edits().undo();
    app.edits().clearHistory();
    return failures;
}

} // namespace q7
