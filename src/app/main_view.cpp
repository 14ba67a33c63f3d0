// SPDX-License-Identifier: GPL-3.0-or-later
// The page host: builds the view, shows one page at a time, keeps texts, the status bar and the
// window title current.
#include "app/main_view.h"

#include "app/editor.h"
#include "app/help_dialog.h"
#include "app/main_frame.h"
#include "app/main_view_texts.h"
#include "app/presets.h"
#include "app/remote_access.h"
#include "app/ribbon.h"
#include "app/status_bar.h"
#include "app/tooltips.h"
#include "eq/eq_bank.h"
#include "pages/compressor_page.h"
#include "pages/delay_page.h"
#include "pages/dynamics_dialogs.h"
#include "pages/edit_holds.h"
#include "pages/effects_page.h"
#include "pages/location_page.h"
#include "pages/music_page.h"
#include "pages/output_page.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "pages/tool_dialog.h"
#include "params/device_modes.h"
#include "params/edit_path.h"
#include "ui/info_popup.h"
#include "ui/style.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QPushButton>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <algorithm>

namespace q7 {

CHX2060v13View::CHX2060v13View(Editor& editor, Ribbon& ribbon, MainStatusBar& status,
                               QWidget* parent)
    : QWidget(parent), editor_(editor), ribbon_(ribbon), status_(status) {
    setObjectName("CHX2060v13View");
    setPageBackground(this);
    host_ = new QScrollArea(this);
    host_->setFrameShape(QFrame::NoFrame);
    host_->setWidgetResizable(false);
    host_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Tab goes from the ribbon into the page, not to an invisible stop on its frame.
    host_->setFocusPolicy(Qt::NoFocus);
    setPageBackground(host_->viewport());
    factory_ = [](PageKind kind, int bank, Editor& e, QWidget* p) -> CPage* {
        switch (kind) {
        case PageKind::Music:
            return new CDialogMusic(e, p);
        case PageKind::Effects:
            return new CDialogEfx(e, bank, p);
        case PageKind::Output:
            return new CDialogOutput(e, bank, p);
        case PageKind::Compressor:
            return new CCompDlg(e, p);
        case PageKind::Delay:
            return new CDelayDlg(e, p);
        case PageKind::Location:
            return new CSSVCDlg(e, p);
        }
        return nullptr;
    };
    connect(&ribbon_, &Ribbon::command, this, &CHX2060v13View::OnCommand);
    // A volume dragged on the ribbon is one step from press to release, as on the pages.
    holdEditsWhilePressed(&ribbon_, editor_.edits());
    connect(&ribbon_, &Ribbon::categoryChanged, this, &CHX2060v13View::onCategoryChanged);
    connect(&status_, &MainStatusBar::command, this, &CHX2060v13View::OnCommand);
    connect(this, &CHX2060v13View::noiseGateRequested, this, &CHX2060v13View::openNoiseGate);
    connect(this, &CHX2060v13View::machineSettingsRequested, this,
            &CHX2060v13View::openMachineSettings);
    qApp->installEventFilter(this);

    addShortcutsAndFileCommands();

    EditPath& e = editor_.edits();
    e.changed = [this] {
        refreshFromStore();
        if (editor_.frame())
            emit editor_.frame()->refreshModelessDialogs();
    };
    // A step made anywhere (a room tuning, a dialog, a phone) shows on the page at once; not in
    // the middle of a drag, whose own control shows what it sets.
    e.stepped = [this] { pageStale_ = true; };
    // Menus and title follow the history, once per turn of the event loop however many steps.
    e.stateChanged = [this] {
        if (uiPending_)
            return;
        uiPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                uiPending_ = false;
                if (pageStale_ && page_ && !editor_.edits().holding()) {
                    pageStale_ = false;
                    page_->refresh();
                }
                updateUi();
                emit settingsMayHaveChanged();
            },
            Qt::QueuedConnection);
    };
}

CHX2060v13View::~CHX2060v13View() {
    qApp->removeEventFilter(this);
    editor_.edits().changed = nullptr;
    editor_.edits().stateChanged = nullptr;
    editor_.edits().stepped = nullptr;
    Timeline& t = editor_.timeline();
    for (int id : {startupTimer_, pollTimer_, trayTimer_, lingerTimer_, storedTimer_, waitTimer_})
        if (id)
            t.stop(id);
    if (tray_)
        tray_->hide();
}

void CHX2060v13View::OnInitialUpdate() {
    editor_.language().setIndex(editor_.startLanguage());
    showPage(PageKind::Music);
    LoadLanguage();
    RemoteAccessService::of(editor_).restore();
    startupTimer_ = editor_.timeline().start(kStartupConnectMs, false, [this] {
        startupTimer_ = 0;
        startupConnect();
    });
    updateUi();
}

void CHX2060v13View::showHelp() {
    if (!help_) {
        help_ = new CHelpDlg(editor_.language(), window());
        help_->setAttribute(Qt::WA_DeleteOnClose);
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

// ---- pages ----

void CHX2060v13View::showPage(PageKind kind, int bank) {
    if (kind == PageKind::Output) {
        if (!isOutputBank(bank))
            bank = lastOutput_;
        lastOutput_ = bank;
    }
    if (page_ && page_->kind() == kind) {
        if (kind == PageKind::Output || kind == PageKind::Effects)
            page_->setBank(bank);
        page_->refresh();
        updateUi();
        return;
    }
    if (page_) {
        CPage* old = page_;
        host_->takeWidget();
        // Deleted once the event that asked for the new page is handled (it may come from the
        // old page itself); kept as the view's child so that it never outlives the view.
        old->hide();
        old->setParent(this);
        old->deleteLater();
    }
    page_ = factory_(kind, bank, editor_, nullptr);
    connect(page_, &CPage::eqChanged, this, &CHX2060v13View::updateUi);
    page_->applyLanguage();
    applyTooltips(page_, page_->dialogId(), editor_.language());
    page_->refresh();
    host_->setWidget(page_);
    placePage();
    page_->show();
    updateUi();
}

void CHX2060v13View::placePage() {
    host_->setGeometry(rect());
    if (page_) {
        const QSize area = host_->maximumViewportSize();
        // Never below 1024 x 520; smaller windows scroll.
        page_->resize(std::max(area.width(), kMinPageWidth),
                      std::max(area.height(), kMinPageHeight));
    }
}

void CHX2060v13View::resizeEvent(QResizeEvent*) {
    placePage();
}

// ---- texts and refresh ----

void CHX2060v13View::LoadLanguage() {
    const Language& l = editor_.language();
    ribbon_.relabel();
    labelFileCommands();
    if (auto* help = qobject_cast<CHelpDlg*>(help_.data()))
        help->applyLanguage();
    ribbon_.setPresetNames(presetNames(l.index()));
    for (int c = 0; c < 2; ++c)
        ribbon_.setPanelName(
            c, 5,
            l.pick("音乐变调:", "Music Pitch:") +
                QString::asprintf("%+-d", editor_.store().cellInt(cell::MusicPitch)));
    labelVolumes();
    if (editor_.connection().state.protocol() == 8)
        ribbon_.button(cmd::MusicAgc)->setText(" ");
    applyRibbonTooltips(ribbon_, l);
    applyTooltips(&status_, kMainWindowTips, l);
    if (page_) {
        page_->applyLanguage();
        applyTooltips(page_, page_->dialogId(), l);
    }
    for (ToolDialog* d : std::initializer_list<ToolDialog*>{settings_, autoSub_, agc_, remote_,
                                                            learning_, noiseGate_})
        if (d)
            d->applyLanguage();
    if (CInfoDlg* info = editor_.infoPopup())
        info->applyLanguage();
    updateUi();
}

void CHX2060v13View::refreshFromStore() {
    const ParameterStore& s = editor_.store();
    const Language& l = editor_.language();
    showVolumes();
    const int protocol = editor_.connection().state.protocol();
    const int range = protocol == 8 ? 8 : 5;
    ribbon_.setSliderRange(cmd::PitchSlider, -range, range);
    ribbon_.setSliderPair(cmd::PitchSlider, s.cellInt(cell::MusicPitch));
    for (int c = 0; c < 2; ++c)
        setPitchText(c);
    ribbon_.button(cmd::MusicAgc)
        ->setText(protocol == 8 ? QString(" ") : l.pick("音乐AGC", "Music AGC"));
    if (page_)
        page_->refresh();
    for (ToolDialog* d : std::initializer_list<ToolDialog*>{settings_, autoSub_, agc_})
        if (d)
            d->refresh();
    updateUi();
}

void CHX2060v13View::updateUi() {
    const Language& l = editor_.language();
    const ParameterStore& s = editor_.store();
    const Connection& c = editor_.connection();
    if (c.link.isOpen())
        status_.setUsb(l.pick("USB：已连接", "USB:Connected"), kConnectedColour);
    else if (trouble_ == LinkTrouble::Reconnecting)
        status_.setUsb(l.pick("USB：通信出错，重新连接中……", "USB:Error, reconnecting……"),
                       kDisconnectedColour);
    else if (trouble_ == LinkTrouble::GaveUp)
        status_.setUsb(l.pick("USB：通信出错，请重新插拔", "USB:Error, replug the device"),
                       kDisconnectedColour);
    else
        status_.setUsb(l.pick("USB：未连接", "USB:Disconnected"), kDisconnectedColour);
    const int mode = clampMode(s.cellInt(cell::CurrentMode));
    const QString label = l.english()
                              ? QString("Mode%1").arg(mode + 1)
                              : QString::fromUtf8("模式") + QString::fromUtf8(kModeDigitZh[mode]);
    const QString name = QString::fromStdU16String(c.state.modeNames().get(mode));
    status_.setMode(l.pick("当前模式:", "Current Mode:") + QString("%1[%2]").arg(label, name));

    const bool eq = page_ && page_->hasEq();
    status_.bypass()->setEnabled(eq);
    status_.bypass()->setChecked(eq && page_->eqBypass());
    status_.bypass()->setText(l.pick("均衡旁路", "Bypass"));
    status_.resetEq()->setEnabled(eq);
    status_.resetEq()->setText(l.pick("重置均衡", "Reset EQ"));

    for (int m = 0; m < 4; ++m) {
        const QString n = QString::fromStdU16String(c.state.modeNames().get(m));
        for (int first : {cmd::LoadModeFirst, cmd::SaveModeFirst}) {
            QAction* a = ribbon_.action(first + m);
            a->setText(QString("M%1: %2").arg(m + 1).arg(n));
            a->setChecked(m == mode);
        }
    }
    for (int k = 0; k < 4; ++k)
        ribbon_.action(cmd::HdmiFirst + k)->setChecked(c.state.hdmi() == k);
    for (int k = 0; k < 5; ++k)
        ribbon_.action(cmd::SourceFirst + k)->setChecked(s.cellInt(cell::MusicSource) == k);
    for (int p = 0; p < 15; ++p)
        ribbon_.action(cmd::PresetFirst + p)->setChecked(chosenPreset_ == cmd::PresetFirst + p);
    showMutes();

    // Undo and redo name their step; the A/B group lights the active set; the title names the
    // document and marks it modified.
    const EditPath& e = editor_.edits();
    auto stepText = [&](const char* zh, const char* en, const StepName& n) {
        const QString name = QString::fromStdString(l.english() ? n.en : n.zh);
        QString t = l.pick(zh, en);
        if (!name.isEmpty())
            t += " " + name;
        return t;
    };
    QAction* undoAction = ribbon_.action(cmd::Undo);
    undoAction->setText(stepText("撤销", "Undo", e.undoName()) + "\tCtrl+Z");
    undoAction->setEnabled(e.canUndo());
    QAction* redoAction = ribbon_.action(cmd::Redo);
    redoAction->setText(stepText("重做", "Redo", e.redoName()) + "\tCtrl+Shift+Z");
    redoAction->setEnabled(e.canRedo());
    ribbon_.setActiveSlot(e.activeSlot());
    if (QWidget* w = window()) {
        const QString doc = editor_.documentPath();
        QString title = "DSP-Q7-v1.1 2014-7-11";
        if (!doc.isEmpty())
            title += " - " + QFileInfo(doc).fileName();
        if (e.modified() && (!doc.isEmpty() || !c.link.isOpen()))
            title += " *";
        w->setWindowTitle(title);
    }
}

} // namespace q7
