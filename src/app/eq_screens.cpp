// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/eq_screens.h"

#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "controls/eq_panel.h"
#include "eq/synthetic_response.h"
#include "pages/eq_tools.h"
#include "pages/measure_dialog.h"
#include "pages/page.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

namespace q7 {

namespace {

// A room as a measurement program exports it: three modes, a boundary dip, a port roll-off.
QByteArray sampleMeasurement() {
    QByteArray out =
        "* Measurement data measured by REW V5.20\n* Source: sample room\n"
        "* Format: 1/48 octave, 20 Hz to 20 kHz\n* Freq(Hz), SPL(dB), Phase(degrees)\n";
    struct Mode {
        double f, q, g;
    } modes[] = {{42, 6, 8}, {87, 5, 6}, {150, 8, 5}};
    for (double f = 15; f <= 20000; f *= std::exp2(1.0 / 48)) {
        double db = 82.0;
        for (const Mode& m : modes)
            db += synthetic::modeDb(f, m.f, m.q, m.g);
        // The floor reflection, fading out as the room turns diffuse.
        db += synthetic::reflectionDb(f, 0.45 / (1 + f / 400), 4.1e-3);
        db += synthetic::rollOffDb(f, 28) - 1.5 * std::log2(std::max(f, 1000.0) / 1000);
        out += QByteArray::number(f, 'f', 3) + ", " + QByteArray::number(db, 'f', 3) + ", 0.0\n";
    }
    return out;
}

constexpr const char* kSampleFilters =
    "Filter Settings file\r\n\r\nRoom EQ V5.20\r\nDated: 9 Dec 2026\r\n\r\nNotes:\r\n\r\n"
    "Equaliser: Generic\r\nAverage 1\r\nPreamp: -4.5 dB\r\n"
    "Filter  1: ON  PK       Fc    42.0 Hz  Gain  -7.5 dB  Q  5.80\r\n"
    "Filter  2: ON  PK       Fc    87.0 Hz  Gain  -5.8 dB  Q  4.90\r\n"
    "Filter  3: ON  PK       Fc   150.0 Hz  Gain  -4.6 dB  Q  7.70\r\n"
    "Filter  4: ON  LS 6dB   Fc    30.0 Hz  Gain  18.0 dB\r\n"
    "Filter  5: ON  PK       Fc 1.000 Hz    Gain   2,5 dB  BW Oct 1.0\r\n"
    "Filter  6: ON  NO       Fc   250.0 Hz\r\n"
    "Filter  7: ON  None\r\n"
    "Filter  8: OFF PK       Fc   500.0 Hz  Gain  -3.0 dB  Q  2.00\r\n";

// The Measure dialog through the simulated amplifier: the level check, a sweep under way and the
// result of two positions over the Main EQ.
template <class Save>
int renderMeasureScreens(CHX2060v13App& app, CPage* page, CEqPanel* graph, Save& save) {
    if (!app.linkOpen())
        return 0; // nothing to measure without the simulator
    CMeasureDlg* dlg = openMeasure(app, 5, page, graph, page);
    auto wait = [dlg] {
        QElapsedTimer t;
        t.start();
        while (dlg->busy() && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return !dlg->busy();
    };
    int failures = 0;
    dlg->adjustSize();
    dlg->checkButton()->click();
    if (!wait() || !dlg->level())
        ++failures;
    save(dlg, "measure-level");
    dlg->showProgressForScreenshot(0.45);
    save(dlg, "measure-sweep");
    dlg->updateAvailability();
    dlg->positionsBox()->setValue(2);
    for (int k = 0; k < 2; ++k) {
        dlg->measureButton()->click();
        if (!wait())
            ++failures;
    }
    if (dlg->result().empty())
        ++failures;
    save(dlg, "measure-result");
    dlg->reject();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return failures;
}

} // namespace

int renderEqToolScreens(CHX2060v13App& app, CHX2060v13View& view, const QString& dir,
                        const char* suffix) {
    int failures = 0;
    auto save = [&](QWidget* w, const char* name) {
        QApplication::processEvents();
        if (!w || !w->grab().save(QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix))))
            ++failures;
    };
    QTemporaryDir tmp;
    const QString meas = tmp.filePath("living-room.txt"), filters = tmp.filePath("rew-filters.txt");
    {
        QFile m(meas), f(filters);
        if (!m.open(QIODevice::WriteOnly) || !f.open(QIODevice::WriteOnly))
            return 1;
        m.write(sampleMeasurement());
        f.write(kSampleFilters);
    }
    // The Output tab, as a user reaches the output pages.
    if (auto* frame = qobject_cast<CMainFrame*>(view.window()))
        frame->ribbon().setActiveCategory(kOutputCategory);
    view.showPage(PageKind::Output, 5);
    QApplication::processEvents();
    CPage* page = view.currentPage();
    CEqPanel* graph = page ? page->eqGraph() : nullptr;
    if (!graph)
        return 1;

    // The import preview, cancelled.
    importFiltersFrom(page, app, 5, filters);
    QDialog* preview = page->findChild<QDialog*>("EqImportDialog");
    if (preview) {
        preview->adjustSize();
        save(preview, "eq-import");
        preview->reject();
    } else {
        ++failures;
    }

    // The measurement over the Main EQ with a house curve.
    loadMeasurementFrom(app, graph, meas);
    Target house;
    house.kind = Target::Kind::House;
    app.eqOverlays().setTarget(5, house);
    showOverlay(app.eqOverlays(), graph);
    save(view.window(), "eq-overlay");

    // The auto-EQ dialog after its fit.
    openAutoEq(page, app, graph);
    auto* dlg = page->findChild<CAutoEqDlg*>("AutoEqDialog");
    if (dlg) {
        dlg->fit();
        QElapsedTimer t;
        t.start();
        while (dlg->fitting() && t.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        dlg->adjustSize();
        save(dlg, "auto-eq");
        dlg->reject();
    } else {
        ++failures;
    }
    failures += renderMeasureScreens(app, page, graph, save);
    if (page->copyMenu())
        page->copyMenu()->hide();
    app.eqOverlays().clearAll();
    showOverlay(app.eqOverlays(), graph);
    if (auto* frame = qobject_cast<CMainFrame*>(view.window()))
        frame->ribbon().setActiveCategory(kInputCategory);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return failures;
}

} // namespace q7
