// SPDX-License-Identifier: GPL-3.0-or-later
// The whole editor against the simulated amplifier on virtual time, with the user's answers
// scripted and every report recorded.
#pragma once

#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "app/status_bar.h"
#include "params/mode_check.h"
#include "params/mode_file.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>

namespace q7::test {

// Settings as a file saved after a synchronisation holds them: the start settings' zeros
// brought into their ranges, so that loading the file asks nothing.
inline void withinRanges(ParameterStore& s) {
    s.applyModeImage(checkModeImage(s.modeImage()).image);
}
inline bool writeStartSettings(const QString& path) {
    ParameterStore s;
    withinRanges(s);
    return bool(writeModeFile(path.toStdString(), s));
}

struct ScriptedPrompter : Prompter {
    struct Box {
        QString caption, text;
        bool defaultNo = false;
    };
    std::vector<Box> asked, told;
    std::deque<Answer> answers; // Yes when empty
    QString openPath, savePath;
    std::vector<QString> saveSuffixes, saveNames, saveFilters, openFilters;

    Answer ask(QWidget*, const QString& caption, const QString& text, bool) override {
        asked.push_back({caption, text});
        runWhileOpen();
        return next();
    }
    Answer askDefaultNo(QWidget*, const QString& caption, const QString& text) override {
        asked.push_back({caption, text, true});
        runWhileOpen();
        return next();
    }
    void tell(QWidget*, BoxIcon icon, const QString& caption, const QString& text) override {
        told.push_back({caption, text});
        icons.push_back(icon);
        runWhileOpen();
    }
    std::vector<BoxIcon> icons;
    std::function<void()> whileOpen; // runs once, inside the next box
    // A real box runs its own event loop until the user answers it.
    void runWhileOpen() {
        if (!whileOpen)
            return;
        auto open = std::move(whileOpen);
        Open scope(*this);
        open();
    }
    QString openFile(QWidget*, const QString& filter) override {
        openFilters.push_back(filter);
        return openPath;
    }
    QString folderPath; // what chooseFolder answers
    std::vector<QString> folderCaptions;
    QString chooseFolder(QWidget*, const QString& caption, const QString&) override {
        folderCaptions.push_back(caption);
        return folderPath;
    }
    QString saveFile(QWidget*, const QString& filter, const QString& name,
                     const QString& suffix) override {
        saveFilters.push_back(filter);
        saveNames.push_back(name);
        saveSuffixes.push_back(suffix);
        return savePath;
    }

private:
    Answer next() {
        if (answers.empty())
            return Answer::Yes;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

struct EditorRig {
    // adjust may change the editor's options (a file on the command line).
    explicit EditorRig(SimOptions simOptions = {},
                       const std::function<void(EditorOptions&)>& adjust = {})
        : sim(clock, simOptions) {
        profile = std::make_unique<QSettings>(dir.filePath("profile.ini"), QSettings::IniFormat);
        EditorOptions o;
        o.clock = &clock;
        o.virtualTime = true;
        o.backend = &sim;
        o.prompter = &prompter;
        o.profile = profile.get();
        o.locale = "zh_CN"; // a first start in Chinese, as the tests expect
        if (adjust)
            adjust(o);
        editor = std::make_unique<Editor>(o);
        trace.setListener([this](const TraceLine& t) {
            std::lock_guard l(mutex);
            lines.push_back(t);
        });
        editor->connection().link.setTrace(&trace);
        editor->InitInstance();
    }
    ~EditorRig() { editor.reset(); }

    void run(double ms) { editor->timeline().runFor(ms); }
    bool runUntil(const std::function<bool()>& ready, double ms = 60000) {
        return editor->timeline().runUntil(ready, ms);
    }
    // Start-up connect and the first synchronisation finished, with any transfer that waited
    // for it (a send the user agreed to while it ran).
    bool connect() {
        return runUntil([this] {
            return editor->linkOpen() && !view().syncDialog() && !view().transferBusy();
        });
    }

    // Clicks the category's tab, as the user switches between "Input" and "Output".
    void showCategory(int category) {
        QTabBar* tabs = ribbon().tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(category).center());
    }
    // Clicks a ribbon element, a status bar element or any button in the middle.
    void click(QWidget* w) {
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    }
    // A check box or radio button is clicked on its indicator (a wide box is only live over its
    // indicator and text).
    void click(QCheckBox* b) { clickIndicator(b, QStyle::SE_CheckBoxIndicator); }
    void click(QRadioButton* b) { clickIndicator(b, QStyle::SE_RadioButtonIndicator); }
    void clickRibbon(int id) { click(ribbon().button(id)); }

    static void clickIndicator(QAbstractButton* b, QStyle::SubElement element) {
        QStyleOptionButton option;
        option.initFrom(b);
        const QRect r = b->style()->subElementRect(element, &option, b);
        QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, r.center());
    }

    CMainFrame& frame() { return *editor->frame(); }
    CHX2060v13View& view() { return frame().view(); }
    // Shows a page as the navigation does and hands it over as its own type.
    template <class Page> Page* showPage(PageKind kind, int bank = 0) {
        view().showPage(kind, bank);
        return dynamic_cast<Page*>(view().currentPage());
    }
    Ribbon& ribbon() { return frame().ribbon(); }
    MainStatusBar& status() { return frame().statusBarPanes(); }

    // Reports the editor sent, without the level poll's requests, which come every 300 ms.
    // Lets the link's writer hand over what the window queued: its writes are traced as they go
    // to the transport, on the writer's thread.
    void settle() {
        runUntil([this] { return editor->connection().link.handedOver(); }, 1000);
    }
    // The first and last report sent, once the window's writes are handed over.
    Report firstSent() {
        settle();
        const auto s = sent();
        if (s.empty()) {
            ADD_FAILURE() << "nothing was sent";
            return {};
        }
        return s.front();
    }
    Report lastSent() {
        settle();
        const auto s = sent();
        if (s.empty()) {
            ADD_FAILURE() << "nothing was sent";
            return {};
        }
        return s.back();
    }
    std::vector<Report> sent() {
        std::vector<Report> out;
        for (const TraceLine& t : sentLines())
            out.push_back(t.report);
        return out;
    }
    std::vector<TraceLine> sentLines() {
        std::lock_guard l(mutex);
        std::vector<TraceLine> out;
        for (const TraceLine& t : lines)
            if (t.direction == Direction::ToAmplifier && t.report[1] != CMD_GET_LEVELS)
                out.push_back(t);
        return out;
    }
    void clearTrace() {
        std::lock_guard l(mutex);
        lines.clear();
    }

    QTemporaryDir dir;
    VirtualClock clock;
    // The GUI thread takes part in virtual time: time stands still while it runs.
    Clock::Participant gui{clock};
    SimulatedAmplifier sim;
    ScriptedPrompter prompter;
    std::unique_ptr<QSettings> profile;
    TraceWriter trace;
    std::mutex mutex;
    std::vector<TraceLine> lines;
    std::unique_ptr<Editor> editor;
};

inline std::uint32_t word(const Report& r, int i) {
    return readBe32(&r[6 + 4 * std::size_t(i)]);
}

} // namespace q7::test
