// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_view.h"

#include "app/about_dialog.h"
#include "app/editor.h"
#include "app/help_dialog.h"
#include "app/load_preview.h"
#include "app/main_frame.h"
#include "app/presets.h"
#include "app/ribbon.h"
#include "app/status_bar.h"
#include "app/sync_dialog.h"
#include "app/tooltips.h"
#include "app/tune_room.h"
#include "controls/eq_panel.h"
#include "pages/compressor_page.h"
#include "pages/delay_page.h"
#include "pages/dynamics_dialogs.h"
#include "pages/effects_page.h"
#include "pages/location_page.h"
#include "pages/measure_dialog.h"
#include "pages/music_page.h"
#include "pages/output_page.h"
#include "pages/remote_dialogs.h"
#include "pages/settings_dialog.h"
#include "pages/tool_dialog.h"
#include "params/device_modes.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "params/text.h"
#include "protocol/log.h"
#include "ui/info_popup.h"
#include "ui/local_path.h"
#include "ui/style.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cerrno>
#include <cstring>
#include <utility>

namespace q7 {

namespace {

// The master controls of the ribbon and what each of them drives.
struct Volume {
    int slider, label, cell;
    const char *zh, *en; // label prefix, "%s%3d"
    int maxByte;         // byte of the machine settings record limiting it, or -1
    const char *maxZh, *maxEn;
    int muteCell; // -1 when the control has no mute
    struct Write {
        int module, parameter, count;
    } writes[2];
    int writeCount;
    double divisor;
};

const Volume kVolumes[] = {
    {cmd::MicSlider,
     cmd::MicLabel,
     26,
     "话筒音量:",
     "Mic    Vol: ",
     3,
     "不能超过最大话筒音量!",
     "Mic vol can't over max value!",
     44,
     {{1, 30, 1}, {1, 43, 1}},
     2,
     100.0},
    {cmd::EffectSlider,
     cmd::EffectLabel,
     43,
     "总效果音量:",
     "Effect    Vol:",
     -1,
     nullptr,
     nullptr,
     -1,
     {{1, 32, 1}, {1, 45, 1}},
     2,
     100.0},
    {cmd::ReverbSlider,
     cmd::ReverbLabel,
     83,
     "混响音量:  ",
     "Reverb Vol:",
     -1,
     nullptr,
     nullptr,
     84,
     {{3, 26, 2}, {}},
     1,
     100.0},
    {cmd::EchoSlider,
     cmd::EchoLabel,
     71,
     "回声音量:",
     "Echo Vol:",
     -1,
     nullptr,
     nullptr,
     72,
     {{2, 28, 2}, {}},
     1,
     100.0},
    {cmd::MusicSlider,
     cmd::MusicLabel,
     85,
     "音乐音量:",
     "Music Vol:",
     4,
     "不能超过最大音乐音量!",
     "Music vol can't over max value!",
     86,
     {{4, 15, 2}, {}},
     1,
     100.0},
    {cmd::GateSlider,
     cmd::GateLabel,
     89,
     "音乐噪声门:",
     "Noisegate:   ",
     -1,
     nullptr,
     nullptr,
     -1,
     {{4, 21, 1}, {}},
     1,
     10000.0},
};

const Volume* volumeFor(int sliderBase) {
    for (const Volume& v : kVolumes)
        if (v.slider == sliderBase)
            return &v;
    return nullptr;
}

struct Mute {
    int check, cell;
};
constexpr Mute kMutes[] = {
    {cmd::MicMute, 44}, {cmd::ReverbMute, 84}, {cmd::EchoMute, 72}, {cmd::MusicMute, 86}};

const char* const kModeDigitZh[4] = {"一", "二", "三", "四"};

// Every extension a mode file is saved or opened under, in both file dialogs: a file saved with
// the default extension must show when it is opened again.
const QString kModeFilesFilter = QStringLiteral("Mode Files (*.q7M *.R3v9 *.R3v8 *.Q7test)");

QString fmtLabel(const QString& prefix, int value) {
    return prefix + QString::asprintf("%3d", value);
}

} // namespace

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
    connect(&ribbon_, &Ribbon::categoryChanged, this, &CHX2060v13View::onCategoryChanged);
    connect(&status_, &MainStatusBar::command, this, &CHX2060v13View::OnCommand);
    connect(this, &CHX2060v13View::noiseGateRequested, this, &CHX2060v13View::openNoiseGate);
    connect(this, &CHX2060v13View::machineSettingsRequested, this,
            &CHX2060v13View::openMachineSettings);
    qApp->installEventFilter(this);

    // Undo and redo work from every window of the editor.
    auto shortcut = [this](const QKeySequence& keys, void (CHX2060v13View::*f)()) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, f);
    };
    shortcut(QKeySequence::Undo, &CHX2060v13View::undo);
    shortcut(QKeySequence("Ctrl+Shift+Z"), &CHX2060v13View::redo);
    shortcut(QKeySequence("Ctrl+Y"), &CHX2060v13View::redo);
    addFileCommands();

    EditPath& e = editor_.edits();
    e.changed = [this] {
        refreshFromStore();
        if (editor_.frame())
            emit editor_.frame()->refreshModelessDialogs();
    };
    // Menus and title follow the history, once per turn of the event loop however many steps.
    e.stateChanged = [this] {
        if (uiPending_)
            return;
        uiPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                uiPending_ = false;
                updateUi();
            },
            Qt::QueuedConnection);
    };
}

CHX2060v13View::~CHX2060v13View() {
    qApp->removeEventFilter(this);
    editor_.edits().changed = nullptr;
    editor_.edits().stateChanged = nullptr;
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
    startupTimer_ = editor_.timeline().start(kStartupConnectMs, false, [this] {
        startupTimer_ = 0;
        startupConnect();
    });
    updateUi();
}

void CHX2060v13View::addFileCommands() {
    auto shortcut = [this](const char* keys, auto f) {
        auto* s = new QShortcut(QKeySequence(keys), this);
        s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, f);
    };
    shortcut("Ctrl+O", [this] { loadFile(); });
    shortcut("Ctrl+S", [this] { saveDocument(); });
    shortcut("Ctrl+Shift+S", [this] { saveDocumentAs(); });
    shortcut("Ctrl+Q", [this] {
        if (editor_.frame())
            editor_.frame()->close(); // through the closing questions
    });
    shortcut("F1", [this] { showHelp(); });

    // "Save As" after "Save", "Help" above "Exit" in the application menu.
    QMenu* menu = ribbon_.appMenu();
    const QList<QAction*> actions = menu->actions();
    const int save = int(actions.indexOf(ribbon_.action(cmd::AppSave)));
    saveAs_ = new QAction(this);
    saveAs_->setData(cmd::AppSaveAs);
    menu->insertAction(save >= 0 && save + 1 < actions.size() ? actions[save + 1] : nullptr,
                       saveAs_);
    connect(saveAs_, &QAction::triggered, this, [this] { saveDocumentAs(); });
    helpAction_ = new QAction(this);
    helpAction_->setData(cmd::AppHelp);
    QAction* exit = ribbon_.action(cmd::AppExit);
    menu->insertAction(exit, helpAction_);
    menu->insertSeparator(exit);
    connect(helpAction_, &QAction::triggered, this, &CHX2060v13View::showHelp);
}

void CHX2060v13View::labelFileCommands() {
    const Language& l = editor_.language();
    ribbon_.action(cmd::AppOpen)->setText(l.pick("打开(&O)", "Open(&O)") + "\tCtrl+O");
    ribbon_.action(cmd::AppSave)->setText(l.pick("保存(&S)", "Save(&S)") + "\tCtrl+S");
    saveAs_->setText(l.pick("另存为(&A)……", "Save As(&A)…") + "\tCtrl+Shift+S");
    helpAction_->setText(l.pick("帮助(&H)", "Help(&H)") + "\tF1");
    ribbon_.action(cmd::AppExit)->setText(l.pick("退出(&X)", "Exit(&X)") + "\tCtrl+Q");
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
        if (bank < 2 || bank > 11)
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

void CHX2060v13View::onCategoryChanged(int category) {
    if (category == kInputCategory)
        showPage(PageKind::Music);
    else
        showPage(PageKind::Output, lastOutput_);
    const int protocol = editor_.connection().state.protocol();
    const int range = protocol == 8 ? 8 : 5;
    ribbon_.setSliderRange(cmd::PitchSlider, -range, range);
    ribbon_.setSliderPair(cmd::PitchSlider, editor_.store().cellInt(cell::MusicPitch));
    setPitchText(category);
}

void CHX2060v13View::setPitchText(int category) {
    const Language& l = editor_.language();
    ribbon_.setPanelName(category, 5,
                         l.pick("音乐变调:", "Music Pitch:") +
                             QString::asprintf("%d", editor_.store().cellInt(cell::MusicPitch)));
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
    for (const Volume& v : kVolumes)
        ribbon_.setLabelPair(v.label,
                             fmtLabel(l.pick(v.zh, v.en), editor_.store().cellInt(v.cell)));
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

void CHX2060v13View::showVolumes() {
    const ParameterStore& s = editor_.store();
    const Language& l = editor_.language();
    for (const Volume& v : kVolumes) {
        ribbon_.setSliderPair(v.slider, s.cellInt(v.cell));
        ribbon_.setLabelPair(v.label, fmtLabel(l.pick(v.zh, v.en), s.cellInt(v.cell)));
    }
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
    for (const Mute& m : kMutes)
        ribbon_.setCheckPair(m.check, s.cellInt(m.cell) == 1);

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

// ---- commands ----

void CHX2060v13View::OnCommand(int id) {
    for (const Volume& v : kVolumes)
        if (id == v.slider || id == Ribbon::twin(v.slider))
            return volumeCommand(v.slider);
    if (id == cmd::PitchSlider || id == Ribbon::twin(cmd::PitchSlider))
        return pitchCommand();
    for (const Mute& m : kMutes)
        if (id == m.check || id == Ribbon::twin(m.check))
            return muteCommand(m.check);
    if (id >= cmd::LoadModeFirst && id < cmd::LoadModeFirst + 4)
        return loadMode(id - cmd::LoadModeFirst);
    if (id >= cmd::SaveModeFirst && id < cmd::SaveModeFirst + 4)
        return saveMode(id - cmd::SaveModeFirst);
    if (id >= cmd::DefaultModeFirst && id < cmd::DefaultModeFirst + 4)
        return defaultMode(id - cmd::DefaultModeFirst);
    if (id >= cmd::PresetFirst && id < cmd::PresetFirst + 15)
        return loadPreset(id);
    if (id >= cmd::RecentFirst && id < cmd::RecentFirst + 10) {
        const QStringList recent = editor_.recentFiles();
        if (id - cmd::RecentFirst < recent.size())
            editor_.shellOpen(recent[id - cmd::RecentFirst]);
        return;
    }
    Connection& c = editor_.connection();
    if (id >= cmd::HdmiFirst && id < cmd::HdmiFirst + 4) {
        c.commands.selectHdmi(id - cmd::HdmiFirst);
        return updateUi();
    }
    if (id >= cmd::SourceFirst && id < cmd::SourceFirst + 5) {
        c.commands.selectSource(id - cmd::SourceFirst);
        return updateUi();
    }
    switch (id) {
    case cmd::LoadFile:
    case 32881:
    case cmd::AppOpen:
        return loadFile();
    case cmd::SaveFile:
    case 32882:
        return saveFile();
    case cmd::AppSave:
        saveDocument();
        return;
    case cmd::AppExit:
        if (editor_.frame())
            editor_.frame()->close();
        return;
    case cmd::Reset:
        return resetMachine();
    case cmd::Undo:
        return undo();
    case cmd::Redo:
        return redo();
    case cmd::CompareFile:
        return compareWithFile();
    case cmd::CompareAB:
        return compareAB();
    case cmd::SlotA:
    case cmd::SlotB:
        return switchSlot(id == cmd::SlotA ? 0 : 1);
    case cmd::CopyAB:
        return copySlot(0, 1);
    case cmd::CopyBA:
        return copySlot(1, 0);
    case cmd::LanguageSwitch:
        return editor_.setLanguageIndex(editor_.language().index() == kEnglish ? kChinese
                                                                               : kEnglish);
    case cmd::About: {
        auto* about = new CAboutDlg(editor_.connection(), editor_.language(), window());
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->open();
        return;
    }
    case cmd::EqBypass:
        if (page_ && page_->hasEq())
            page_->setEqBypass(!page_->eqBypass());
        return updateUi();
    case cmd::EqReset:
        if (page_ && page_->hasEq() &&
            editor_.prompter().ask(
                this, editor_.language().pick("提示", "Prompt"),
                editor_.language().pick("您确定重置当前均衡吗?", "Are you sure reset the EQ?"),
                false) == Answer::Yes) {
            EditPath::Scope step(editor_.edits(), {"重置均衡", "Reset EQ"});
            page_->resetEq();
        }
        return;
    case cmd::ShowMusic:
    case 32797:
    case 32798:
        return showPage(PageKind::Music);
    case cmd::ShowOutputMain:
        return showPage(PageKind::Output, 5);
    case cmd::ShowOutputCenter:
        return showPage(PageKind::Output, 3);
    case cmd::ShowOutputSub:
        return showPage(PageKind::Output, 2);
    case cmd::ShowOutputRear:
        return showPage(PageKind::Output, 4);
    case cmd::ShowLocation:
        return showPage(PageKind::Location);
    case cmd::ShowDelay:
        return showPage(PageKind::Delay);
    case cmd::ShowCompressor:
        return showPage(PageKind::Compressor);
    case cmd::AutoSub:
        return openAutoSub();
    case cmd::MusicAgc:
        return openMusicAgc();
    case cmd::IrLearning:
        return openRemote();
    case cmd::TuneRoom:
        openTuneRoom(editor_, window());
        return;
    case cmd::Measure:
        return openMeasureDialog();
    default:
        return;
    }
}

void CHX2060v13View::volumeCommand(int sliderBase) {
    const Volume& v = *volumeFor(sliderBase);
    const Language& l = editor_.language();
    ParameterStore& s = editor_.store();
    StepSlider* active = ribbon_.slider(Ribbon::inCategory(v.slider, ribbon_.activeCategory()));
    int value = active ? active->value() : 0;
    if (v.maxByte >= 0) {
        // A maximum of 0 means no settings record has arrived yet: nothing to enforce.
        const int maximum = editor_.connection().state.currentSettings()[std::size_t(v.maxByte)];
        if (maximum > 0 && value > maximum) {
            editor_.ShowInfo(l.pick(v.maxZh, v.maxEn), 1100);
            value = maximum;
        }
    }
    ribbon_.setSliderPair(v.slider, value);
    s.setCellInt(v.cell, value);
    for (int i = 0; i < v.writeCount; ++i)
        editor_.dsp().WriteDspParam(v.writes[i].module, v.writes[i].parameter,
                                    float(value / v.divisor), v.writes[i].count);
    if (v.muteCell >= 0 && s.cellInt(v.muteCell) == 1)
        editor_.ShowInfo(l.pick("当前是静音状态", "vol is mute"), 1100);
    ribbon_.setLabelPair(v.label, fmtLabel(l.pick(v.zh, v.en), value));
}

void CHX2060v13View::pitchCommand() {
    StepSlider* active =
        ribbon_.slider(Ribbon::inCategory(cmd::PitchSlider, ribbon_.activeCategory()));
    const int p = active ? active->value() : 0;
    editor_.connection().commands.setPitch(editor_.dsp(), p);
    ribbon_.setSliderPair(cmd::PitchSlider, p);
    ribbon_.setPanelName(ribbon_.activeCategory(), 5,
                         editor_.language().pick("音乐变调:", "Music Pitch:") +
                             QString::asprintf("%3d", p));
}

void CHX2060v13View::muteCommand(int muteBase) {
    for (const Mute& m : kMutes) {
        if (m.check != muteBase)
            continue;
        ParameterStore& s = editor_.store();
        s.setCellInt(m.cell, s.cellInt(m.cell) == 1 ? 0 : 1);
        editor_.dsp().sendMute(m.cell); // the music channel fades in when unmuted
        updateUi();
    }
}

void CHX2060v13View::wheelOverRibbon(const QPoint& globalPos, int delta) {
    const int base = ribbon_.controlAt(globalPos);
    if (!base || delta == 0)
        return;
    StepSlider* s = ribbon_.slider(Ribbon::inCategory(base, ribbon_.activeCategory()));
    if (!s)
        return;
    const int value = std::clamp(s->value() + (delta > 0 ? 1 : -1), s->minimum(), s->maximum());
    ribbon_.setSliderPair(base, value);
    OnCommand(s->id());
}

bool CHX2060v13View::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Once per key: at the widget it goes to first, the focused one, or the window itself
        // when nothing has the focus (the ribbon's sliders never take it).
        auto* w = qobject_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        const bool first = w && (focus ? w == focus : w->isWindow());
        if ((key == Qt::Key_F6 || key == Qt::Key_F7) && !sync_ && editor_.linkOpen() &&
            !static_cast<QKeyEvent*>(event)->isAutoRepeat() && first) {
            if (key == Qt::Key_F6)
                emit noiseGateRequested();
            else
                emit machineSettingsRequested();
            return true;
        }
    }
    if (event->type() == QEvent::Wheel) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w == &ribbon_ || ribbon_.isAncestorOf(w))) {
            // The wheel never switches categories; over a volume it moves both twins.
            auto* e = static_cast<QWheelEvent*>(event);
            wheelOverRibbon(e->globalPosition().toPoint(), e->angleDelta().y());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- dialogs ----

void CHX2060v13View::openNoiseGate() {
    if (noiseGate_ || !editor_.linkOpen())
        return; // one at a time
    noiseGate_ = new CDialogNG(editor_, window());
    noiseGate_->setAttribute(Qt::WA_DeleteOnClose);
    noiseGate_->showCentred();
}

void CHX2060v13View::openMachineSettings() {
    if (!editor_.linkOpen())
        return;
    if (!settings_)
        settings_ = new CSetDlg(editor_, window());
    settings_->refresh();
    settings_->applyLanguage();
    settings_->showCentred();
}

void CHX2060v13View::openAutoSub() {
    if (!autoSub_)
        autoSub_ = new CAutoSubDlg(editor_, window());
    autoSub_->refresh();
    autoSub_->applyLanguage();
    autoSub_->showCentred();
}

void CHX2060v13View::openMusicAgc() {
    if (editor_.connection().state.protocol() <= 8)
        return;
    if (!agc_)
        agc_ = new CAutoMusicVolDlg(editor_, window());
    agc_->refresh();
    agc_->applyLanguage();
    agc_->showCentred();
}

// From the ribbon: over the output page shown, or the last output's.
void CHX2060v13View::openMeasureDialog() {
    if (!page_ || !page_->eqGraph() || !isOutputBank(page_->eqGraph()->bank()))
        showPage(PageKind::Output, lastOutput_);
    CEqPanel* graph = page_ ? page_->eqGraph() : nullptr;
    openMeasure(editor_, graph ? graph->bank() : lastOutput_, page_, graph,
                page_ ? static_cast<QWidget*>(page_.data()) : window());
}

void CHX2060v13View::openRemote() {
    if (!editor_.linkOpen())
        return;
    if (!remote_)
        remote_ = new CRemoteDlg(editor_, window());
    remote_->applyLanguage();
    remote_->showCentred();
}

CDialogNG* CHX2060v13View::noiseGateDialog() const {
    return noiseGate_;
}
CSetDlg* CHX2060v13View::settingsDialog() const {
    return settings_;
}
CAutoSubDlg* CHX2060v13View::autoSubDialog() const {
    return autoSub_;
}
CAutoMusicVolDlg* CHX2060v13View::musicAgcDialog() const {
    return agc_;
}
CRemoteDlg* CHX2060v13View::remoteDialog() const {
    return remote_;
}
CRemoteStudyDlg* CHX2060v13View::learningDialog() const {
    return learning_;
}

void CHX2060v13View::setLearningDialog(CRemoteStudyDlg* dialog) {
    learning_ = dialog;
    // The level poll would wait on the learning request's reply, which comes only when the key
    // is pressed: it rests while a key is learned.
    if (dialog)
        stopLevelPoll();
    else if (editor_.linkOpen())
        startLevelPoll();
}

void CHX2060v13View::OnKeyLearned(int code) {
    if (learning_)
        learning_->codeLearned(code);
}

void CHX2060v13View::closeDialogs() {
    // A dialog with a box open over it is still inside that box's event loop: closing deletes
    // it, so wait until every box has been answered.
    if (editor_.prompter().openDialogs() > 0) {
        if (!closeLater_)
            closeLater_ = editor_.timeline().start(50, true, [this] {
                if (editor_.prompter().openDialogs() > 0)
                    return;
                editor_.timeline().stop(closeLater_);
                closeLater_ = 0;
                closeDialogs();
                emit editor_.frame()->closeModelessDialogs();
            });
        return;
    }
    for (ToolDialog* d : std::initializer_list<ToolDialog*>{settings_, autoSub_, agc_, remote_})
        if (d)
            d->close();
}

// ---- device modes ----

void CHX2060v13View::loadMode(int mode) {
    if (!editor_.linkOpen())
        return;
    const Language& l = editor_.language();
    if (deferred(l.pick("载入模式%1", "Load mode %1").arg(mode + 1),
                 [this, mode] { loadMode(mode); }))
        return;
    if (editor_.store().parametersChanged()) {
        const QString text =
            l.english() ? QString("Setting changed ! Are you sure load mode%1?").arg(mode + 1)
                        : QString::fromUtf8("参数已更改，确定要直接载入模式") +
                              QString::fromUtf8(kModeDigitZh[mode]) + "?";
        if (editor_.prompter().ask(this, l.pick("信息", "Information"), text, false) != Answer::Yes)
            return;
    }
    editor_.connection().commands.loadMode(mode);
    StartSynchronisation();
    updateUi();
}

void CHX2060v13View::saveMode(int mode) {
    if (!editor_.linkOpen())
        return;
    const Language& l = editor_.language();
    if (deferred(l.pick("保存至模式%1", "Save to mode %1").arg(mode + 1),
                 [this, mode] { saveMode(mode); }))
        return;
    const QString text = l.english() ? QString("Save to machine mode %1?").arg(mode + 1)
                                     : QString::fromUtf8("确定要保存至机器模式") +
                                           QString::fromUtf8(kModeDigitZh[mode]) + "?";
    if (editor_.prompter().ask(this, l.pick("信息", "Information"), text, false) != Answer::Yes)
        return;
    editor_.connection().commands.storeMode(mode);
    // The amplifier is given half a second to store before anything else reaches it; the
    // window waits for nothing and says so when that time is up.
    editor_.connection().link.pause(kModeStoreMs);
    if (storedTimer_)
        editor_.timeline().stop(storedTimer_);
    storedTimer_ = editor_.timeline().start(kModeStoreMs, false, [this, mode] {
        storedTimer_ = 0;
        const Language& l = editor_.language();
        editor_.ShowInfo(l.english() ? QString("Saving Mode %1 ……").arg(mode + 1)
                                     : QString::fromUtf8("正在储存模式%1,请稍等")
                                           .arg(QString::fromUtf8(kModeDigitZh[mode])),
                         2500);
    });
    updateUi();
}

void CHX2060v13View::defaultMode(int mode) {
    if (!editor_.linkOpen())
        return;
    if (deferred(editor_.language().pick("恢复模式%1", "Default mode %1").arg(mode + 1),
                 [this, mode] { defaultMode(mode); }))
        return;
    editor_.connection().commands.defaultMode(mode);
    StartSynchronisation();
    updateUi();
}

void CHX2060v13View::resetMachine() {
    if (!editor_.linkOpen())
        return;
    const Language& l = editor_.language();
    if (deferred(l.pick("机器复位", "Reset the machine"), [this] { resetMachine(); }))
        return;
    if (editor_.prompter().ask(this, l.pick("提示", "Prompt"),
                               l.pick("您确定要将机器复位吗? \n机器复位后将自动重新启动并连接.",
                                      "Are you sure reset machine? "),
                               false) != Answer::Yes)
        return;
    editor_.connection().commands.resetMachine();
    editor_.ShowInfo(l.pick("机器正在重启……", "Restarting……"), 20000);
}

// ---- files and presets ----

void CHX2060v13View::loadFile() {
    const QString path = editor_.prompter().openFile(this, kModeFilesFilter + ";;All files (*)");
    if (!path.isEmpty())
        openModeFile(path, true);
}

QString CHX2060v13View::modeFileProblem(const ModeFileResult& r) const {
    const Language& l = editor_.language();
    switch (r.status) {
    case ModeFileStatus::Ok:
    case ModeFileStatus::CannotWrite:
        break;
    case ModeFileStatus::CannotOpen: {
        const char* zh = r.systemError == ENOENT   ? "文件不存在"
                         : r.systemError == EACCES ? "没有读取权限"
                         : r.systemError == EISDIR ? "这是一个文件夹"
                                                   : nullptr;
        return l.english() || !zh
                   ? QString("cannot open the file (%1)")
                         .arg(QString::fromLocal8Bit(std::strerror(r.systemError)))
                   : QString::fromUtf8("无法打开文件（%1）").arg(QString::fromUtf8(zh));
    }
    case ModeFileStatus::TooShort:
        if (r.needed == 0)
            return l.english() ? QString("too short (%1 bytes): not a mode file").arg(r.size)
                               : QString::fromUtf8("文件太短（%1 字节），不是模式文件").arg(r.size);
        return l.english()
                   ? QString("too short: %1 of the %2 bytes of a version %3 mode file")
                         .arg(r.size)
                         .arg(r.needed)
                         .arg(r.version)
                   : QString::fromUtf8("文件太短：只有 %1 字节，版本 %3 的模式文件有 %2 字节")
                         .arg(r.size)
                         .arg(r.needed)
                         .arg(r.version);
    case ModeFileStatus::UnknownVersion:
        if (r.laterVersion())
            return l.english()
                       ? QString("version %1 not supported (this editor reads mode files "
                                 "of versions 1 and 2)")
                             .arg(r.version)
                       : QString::fromUtf8("不支持的模式文件版本 %1（本软件可读取版本 1 和 2）")
                             .arg(r.version);
        return l.pick("不是模式文件", "not a mode file");
    }
    return {};
}

void CHX2060v13View::tellNotLoaded(const QString& path, const QString& problem) {
    const Language& l = editor_.language();
    editor_.prompter().tell(this, BoxIcon::Warning, l.pick("文件打开错误", "File open error"),
                            (l.english() ? QString("The file was not loaded: %1.\n%2")
                                         : QString::fromUtf8("文件未载入：%1。\n%2"))
                                .arg(problem, path));
}

bool CHX2060v13View::openModeFile(const QString& path, bool fromDialog) {
    // What a transfer reads or sends must not change under it: the file is loaded after it.
    if (deferred(
            editor_.language().pick("载入文件 %1", "Load file %1").arg(QFileInfo(path).fileName()),
            [this, path, fromDialog] { openModeFile(path, fromDialog); }))
        return true;
    const std::string file = encodeLocalPath(path);
    // The file is read and checked whole before anything in the editor changes: a refused file
    // is neither a step nor settings waiting to be sent.
    ModeImage image = editor_.store().modeImage();
    const ModeFileResult r = readModeImage(file, image);
    if (!r) {
        tellNotLoaded(path, modeFileProblem(r));
        return false;
    }
    // Every value is checked before the editor changes: a damaged file is refused, and values a
    // saved file may hold outside their ranges load clamped once the user has seen them.
    const bool english = editor_.language().english();
    const ModeFileCheck check = checkModeImage(image);
    if (check.refused()) {
        tellNotLoaded(path, QString::fromStdString(describeRefusal(*check.refusal, english)));
        return false;
    }
    const QString name = fromDialog && editor_.linkOpen()
                             ? QString::fromStdString(unshowableModeName(file))
                             : QString();
    if (check.clamped.empty() && name.isEmpty())
        return applyModeFile(path, image, fromDialog);
    const QStringList lines =
        loadPreviewLines(check, name, QString::fromStdString(modeNameFromFileName(file)), english);
    auto* preview = new CLoadPreviewDlg(QFileInfo(path).fileName(), lines, english, this);
    connect(preview, &QDialog::accepted, this, [this, path, fromDialog, clamped = check.image] {
        applyModeFile(path, clamped, fromDialog);
    });
    preview->open();
    return true;
}

bool CHX2060v13View::applyModeFile(const QString& path, const ModeImage& image, bool fromDialog) {
    const std::string file = path.toStdString();
    const std::string base = QFileInfo(path).fileName().toStdString();
    editor_.edits().editWithoutSending([&](ParameterStore& s) { s.applyModeImage(image); },
                                       {"载入文件 " + base, "Load file " + base});
    editor_.setDocumentPath(QFileInfo(path).absoluteFilePath());
    editor_.edits().markSaved();
    editor_.addRecentFile(path);
    if (!editor_.linkOpen()) {
        // Edited without an amplifier; sent when one connects and the user says so.
        refreshFromStore();
        emit editor_.frame()->refreshModelessDialogs();
        updateUi();
        return true;
    }
    if (fromDialog) {
        // The file's name names the current device mode and may select one to commit to.
        editor_.connection().session.pendingDeviceMode = modeIndexFromFileName(file);
        editor_.connection().commands.renameMode(editor_.store().cellInt(cell::CurrentMode),
                                                 utf8ToUtf16(modeNameFromFileName(file)));
    }
    StartDownload();
    return true;
}

bool CHX2060v13View::openNamedModeFile(const QString& path, bool fromDialog) {
    // Only names a mode file goes by are opened from outside the file dialog (command line,
    // file manager, recent list, a drop); anything else is said, not read.
    if (!isOpenableModeFileName(path.toStdString())) {
        tellNotLoaded(path, editor_.language().pick(
                                "不是模式文件（文件名不以 .q7M、.R3v9、.R3v8 或 .Q7test 结尾）",
                                "not a mode file (its name does not end in .q7M, .R3v9, .R3v8 "
                                "or .Q7test)"));
        return false;
    }
    return openModeFile(path, fromDialog);
}

void CHX2060v13View::dropped(const QMimeData* data) {
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() == 1 && urls[0].isLocalFile()) {
        // As LoadFile opens it: edited offline, sent when connected.
        openNamedModeFile(urls[0].toLocalFile(), true);
        return;
    }
    const Language& l = editor_.language();
    editor_.prompter().tell(this, BoxIcon::Information, l.pick("提示", "Prompt"),
                            l.pick("只能拖入一个模式文件（.q7M），一次一个。",
                                   "Only a mode file (.q7M) can be dropped here, one at a time."));
}

QString CHX2060v13View::askSavePath(const char* defaultName, const char* defaultSuffix) {
    // The dialog starts where the document's file is, with its name.
    const QString doc = editor_.documentPath();
    return editor_.prompter().saveFile(this, kModeFilesFilter,
                                       doc.isEmpty() ? QString(defaultName) : doc, defaultSuffix);
}

bool CHX2060v13View::writeDocument(const QString& path) {
    ParameterStore& s = editor_.store();
    // Connected, the file and the amplifier's current user mode hold the same settings.
    const bool changed = s.parametersChanged();
    if (editor_.linkOpen())
        editor_.connection().commands.storeMode(s.cellInt(cell::CurrentMode));
    const WriteResult r =
        editor_.files().write(encodeLocalPath(path), modeFileBytes(s.modeImage()));
    if (!r) {
        // Not saved: closing must still ask.
        s.setParametersChanged(changed);
        tellWriteFailure(editor_.prompter(), editor_.language(), this, path, r);
        return false;
    }
    editor_.addRecentFile(path);
    editor_.setDocumentPath(QFileInfo(path).absoluteFilePath());
    editor_.edits().markSaved();
    updateUi();
    return true;
}

bool CHX2060v13View::saveDocument(const char* defaultName, const char* defaultSuffix) {
    const QString doc = editor_.documentPath();
    if (!doc.isEmpty())
        return writeDocument(doc);
    return saveDocumentAs(defaultName, defaultSuffix);
}

bool CHX2060v13View::saveDocumentAs(const char* defaultName, const char* defaultSuffix) {
    const QString path = askSavePath(defaultName, defaultSuffix);
    return !path.isEmpty() && writeDocument(path);
}

void CHX2060v13View::saveFile() {
    saveDocumentAs("name", "R3v9");
}

// ---- undo, A/B and compare ----

void CHX2060v13View::afterEditPathSend(int sent) {
    if (EditPath::Sent(sent) == EditPath::Sent::NeedsFullDownload && editor_.linkOpen() && !sync_)
        StartDownload(); // what the amplifier holds is unknown: it gets everything
    refreshFromStore();
    emit editor_.frame()->refreshModelessDialogs();
    updateUi();
}

void CHX2060v13View::undo() {
    if (sync_ || !editor_.edits().canUndo())
        return;
    afterEditPathSend(int(editor_.edits().undo()));
}

void CHX2060v13View::redo() {
    if (sync_ || !editor_.edits().canRedo())
        return;
    afterEditPathSend(int(editor_.edits().redo()));
}

void CHX2060v13View::switchSlot(int slot) {
    if (sync_)
        return updateUi();
    afterEditPathSend(int(editor_.edits().switchTo(slot)));
}

void CHX2060v13View::copySlot(int from, int to) {
    if (sync_)
        return;
    afterEditPathSend(int(editor_.edits().copySlot(from, to)));
    editor_.ShowInfo(from == 0 ? editor_.language().pick("已复制 A→B", "Copied A→B")
                               : editor_.language().pick("已复制 B→A", "Copied B→A"),
                     1100);
}

void CHX2060v13View::showDifferences(const QString& title, const ModeImage& a, const ModeImage& b,
                                     const QString& aName, const QString& bName) {
    const Language& l = editor_.language();
    const std::vector<Difference> diffs = differences(a, b);
    auto* d = new QDialog(window());
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setObjectName("CompareDialog");
    d->setWindowTitle(title);
    auto* v = new QVBoxLayout(d);
    auto* head = new QLabel(d);
    head->setObjectName("CompareHeading");
    head->setText(diffs.empty()
                      ? l.pick("%1 与 %2 相同。", "%1 and %2 are the same.").arg(aName, bName)
                      : (l.english() ? QString("%1 differences: %2 → %3")
                                     : QString::fromUtf8("%1 处不同：%2 → %3"))
                            .arg(diffs.size())
                            .arg(aName, bName));
    v->addWidget(head);
    auto* list = new QListWidget(d);
    list->setObjectName("CompareList");
    for (const Difference& x : diffs)
        list->addItem(QString::fromStdString(describe(x, l.english())));
    list->setMinimumSize(560, 360);
    v->addWidget(list, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, d);
    connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
    v->addWidget(buttons);
    d->open();
}

void CHX2060v13View::compareWithFile() {
    const Language& l = editor_.language();
    const QString path = editor_.prompter().openFile(this, kModeFilesFilter + ";;All files (*)");
    if (path.isEmpty())
        return;
    ParameterStore other;
    const ModeFileResult r = readModeFile(encodeLocalPath(path), other);
    if (!r) {
        tellNotLoaded(path, modeFileProblem(r));
        return;
    }
    ModeImage file = settingsOf(other);
    ModeImage mine = settingsOf(editor_.store());
    showDifferences(l.pick("与文件比较", "Compare with file"), mine, file,
                    l.pick("当前设置", "current settings"), QFileInfo(path).fileName());
}

void CHX2060v13View::compareAB() {
    const Language& l = editor_.language();
    const EditPath& e = editor_.edits();
    showDifferences(l.pick("比较 A/B", "Compare A/B"), e.slotSettings(0), e.slotSettings(1), "A",
                    "B");
}

void CHX2060v13View::askAboutUnsent() {
    if (!unsent_)
        return;
    const Language& l = editor_.language();
    const ModeImage mine = std::move(*unsent_);
    unsent_.reset();
    const Answer a =
        editor_.prompter().ask(this, l.pick("提示", "Prompt"),
                               l.pick("编辑器中有尚未发送到功放的设置。\n\n"
                                      "选“是”：把编辑器的设置发送到功放。\n"
                                      "选“否”：使用功放中的设置。",
                                      "The editor holds settings the amplifier does not have.\n\n"
                                      "Yes: send the editor's settings to the amplifier.\n"
                                      "No: use the amplifier's settings."),
                               false);
    EditPath& e = editor_.edits();
    if (a == Answer::Yes) {
        e.replaceSettings(mine);
        refreshFromStore();
        if (editor_.linkOpen())
            StartDownload({}, false); // the synchronisation that asked may still be ending
        return updateUi();
    }
    if (editor_.prompter().ask(this, l.pick("保存?", "Save?"),
                               l.pick("是否先把编辑器的设置保存到文件?",
                                      "Save the editor's settings to a file first?"),
                               false) == Answer::Yes) {
        const QString path = editor_.prompter().saveFile(this, kModeFilesFilter, "name", "q7M");
        if (!path.isEmpty()) {
            const WriteResult r = editor_.files().write(encodeLocalPath(path), modeFileBytes(mine));
            if (r)
                editor_.addRecentFile(path);
            else
                tellWriteFailure(editor_.prompter(), editor_.language(), this, path, r);
        }
    }
    e.clearHistory();
    e.markSaved();
    editor_.setDocumentPath({});
    updateUi();
}

void CHX2060v13View::loadPreset(int command) {
    if (deferred(editor_.language().pick("载入预设", "Load preset"),
                 [this, command] { loadPreset(command); }))
        return;
    chosenPreset_ = command;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QFile f(presetResourcePath(presetResource(command)));
    const bool read = f.open(QIODevice::ReadOnly);
    const QByteArray bytes = read ? f.readAll() : QByteArray();
    // Checked whole before the editor changes: a preset that cannot be read is no step and no
    // settings waiting to be sent.
    ModeImage image = editor_.store().modeImage();
    const bool loaded =
        read &&
        bool(parseModeFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                     std::size_t(bytes.size())),
                           image));
    if (loaded)
        editor_.edits().editWithoutSending([&](ParameterStore& s) { s.applyModeImage(image); },
                                           {"载入预设", "Load preset"});
    QApplication::restoreOverrideCursor();
    if (loaded) {
        editor_.setDocumentPath({});
        if (editor_.linkOpen()) {
            StartDownload();
        } else {
            refreshFromStore();
            emit editor_.frame()->refreshModelessDialogs();
        }
    }
    updateUi();
}

// ---- connection ----

void CHX2060v13View::startupConnect() {
    const OpenResult r = editor_.connection().link.OpenLink();
    if (r.opened)
        return connected(5000);
    if (r.permissionDenied && !permissionTold_) {
        permissionTold_ = true;
        const Language& l = editor_.language();
        editor_.prompter().tell(
            this, BoxIcon::Warning, l.pick("错误", "Error"),
            l.pick("找到了功放，但没有权限打开它 (permission denied)。\n请安装 udev 规则 "
                   "packaging/60-q7edit.rules，然后重新插拔功放。",
                   "permission denied: install the udev rule packaging/60-q7edit.rules, "
                   "then unplug the amplifier and plug it in again."));
    }
}

void CHX2060v13View::connected(int balloonMs) {
    // The transfer of the link that went away ends first: its reports never reach this one.
    if (deferred(
            editor_.language().pick("连接设备", "Connect the device"),
            [this, balloonMs] {
                if (editor_.linkOpen())
                    connected(balloonMs);
            },
            false))
        return;
    // Until it has been read, nothing is known of what this amplifier holds; settings made
    // without it are kept aside so the user can choose between them and the amplifier's.
    EditPath& e = editor_.edits();
    e.forgetAmplifier();
    if (e.holdsUnsent() && !unsent_)
        unsent_ = settingsOf(editor_.store());
    balloon(editor_.language().pick("设备已连接，同步中……", "Device connected!"), balloonMs);
    StartSynchronisation();
    startLevelPoll();
    updateUi();
}

void CHX2060v13View::OnDeviceArrived(const QString& path) {
    (void)path;
    if (editor_.connection().link.closing()) {
        arrivalPending_ = true; // tried again when the close has ended
        return;
    }
    // The transfer of the link that went away ends before another amplifier is opened.
    if (deferred(
            editor_.language().pick("连接设备", "Connect the device"),
            [this, path] { OnDeviceArrived(path); }, false))
        return;
    const OpenResult r = editor_.connection().link.OpenLink();
    if (r.opened) {
        trouble_ = LinkTrouble::None;
        // Modeless dialogs of the previous amplifier would show stale values.
        closeDialogs(); // with the frame's other modeless dialogs, now or once no box is open
        if (!closeLater_)
            emit editor_.frame()->closeModelessDialogs();
        connected(4000);
    } else if (r.permissionDenied) {
        // udev grants access a moment after the node appears: look again once.
        editor_.timeline().start(1000, false, [this] {
            if (!editor_.linkOpen() && editor_.connection().link.OpenLink().opened)
                connected(4000);
        });
    }
}

void CHX2060v13View::OnDeviceRemoved(const QString& path) {
    debugLog("removed!\n");
    Link& link = editor_.connection().link;
    if (trouble_ != LinkTrouble::None && !link.isOpen() &&
        path.compare(reconnectPath_, Qt::CaseInsensitive) == 0) {
        // Unplugged while we tried to reach it again: it is simply gone.
        if (reconnectTimer_)
            editor_.timeline().stop(reconnectTimer_);
        reconnectTimer_ = 0;
        trouble_ = LinkTrouble::None;
        balloon(editor_.language().pick("设备已断开!", "Device Disconnected!"), 5000, true);
        return updateUi();
    }
    const QString open = QString::fromStdString(link.devicePath());
    if (open.isEmpty() || path.compare(open, Qt::CaseInsensitive) != 0 || !link.isOpen())
        return;
    if (!link.CloseByRemoval())
        return;
    stopLevelPoll();
    balloon(editor_.language().pick("设备已断开!", "Device Disconnected!"), 5000, true);
    updateUi();
}

void CHX2060v13View::OnLinkState(LinkState state) {
    if (state == LinkState::Broken)
        return linkBroken();
    if (state == LinkState::Closed) {
        stopLevelPoll();
        Link& link = editor_.connection().link;
        if (arrivalPending_ && !link.closing()) {
            // An amplifier arrived while our close was still sending: connect it now.
            arrivalPending_ = false;
            OnDeviceArrived({});
        }
    }
    updateUi();
}

// A read failed but the amplifier may still be there: say so, and open it again a few times a
// second apart before giving up.
void CHX2060v13View::linkBroken() {
    Link& link = editor_.connection().link;
    if (!link.isOpen() || !link.readThreadEnded())
        return;
    reconnectPath_ = QString::fromStdString(link.devicePath());
    editor_.edits().forgetAmplifier();
    stopLevelPoll();
    link.CloseByRemoval(); // every write is refused now; no CMD_CLOSE can go out
    trouble_ = LinkTrouble::Reconnecting;
    balloon(editor_.language().pick("与设备通信出错，正在重新连接……",
                                    "Communication with the device failed: reconnecting……"),
            5000, true);
    updateUi();
    reconnectTries_ = 0;
    if (reconnectTimer_)
        editor_.timeline().stop(reconnectTimer_);
    reconnectTimer_ = editor_.timeline().start(kReconnectMs, true, [this] { tryReconnect(); });
}

void CHX2060v13View::tryReconnect() {
    auto stop = [this] {
        editor_.timeline().stop(reconnectTimer_);
        reconnectTimer_ = 0;
    };
    if (editor_.linkOpen()) { // an arrival connected it meanwhile
        trouble_ = LinkTrouble::None;
        return stop();
    }
    if (editor_.connection().session.workerRunning())
        return; // the transfer of the broken link ends first; tried again on the next tick
    ++reconnectTries_;
    if (editor_.connection().link.OpenLink().opened) {
        stop();
        trouble_ = LinkTrouble::None;
        return connected(4000);
    }
    if (reconnectTries_ < kReconnectTries)
        return;
    stop();
    trouble_ = LinkTrouble::GaveUp;
    balloon(editor_.language().pick("无法重新连接设备，请拔下设备后重新插入。",
                                    "The device could not be reconnected: unplug it and plug it "
                                    "in again."),
            8000, true);
    updateUi();
}

void CHX2060v13View::OnDspError(const QString& text) {
    editor_.edits().forgetAmplifier(); // a write was refused
    const Language& l = editor_.language();
    QString shown = text;
    // The amplifier's own wording is Chinese; an English user reads what it says first.
    const QRegularExpressionMatch m =
        QRegularExpression("0x:([0-9A-Fa-f]{2}).*0x([0-9A-Fa-f]{2}).*0x([0-9A-Fa-f]{2})")
            .match(text);
    if (l.english() && m.hasMatch())
        shown = QString("The amplifier refused a parameter: error code 0x%1, command 1: 0x%2, "
                        "command 2: 0x%3.\n\n%4")
                    .arg(m.captured(1), m.captured(2), m.captured(3), text);
    editor_.prompter().tell(this, BoxIcon::None, "Error", shown);
}

void CHX2060v13View::startLevelPoll() {
    if (pollTimer_)
        return;
    pollTimer_ = editor_.timeline().start(kLevelPollMs, true,
                                          [this] { editor_.connection().session.pollLevels(); });
}

void CHX2060v13View::stopLevelPoll() {
    if (pollTimer_)
        editor_.timeline().stop(pollTimer_);
    pollTimer_ = 0;
}

void CHX2060v13View::showSyncDialog(const QString& text) {
    if (sync_) {
        // One dialog at a time. One that was about to close after its transfer stays for the
        // transfer that follows it, which gets the whole guard time.
        stopLingering();
        sync_->restartGuard();
        return;
    }
    Session& session = editor_.connection().session;
    sync_ = new CSyncDlg(text, editor_.language(), editor_.timeline(), window(),
                         [&session] { return session.progress(); });
    // The box runs an event loop of its own, in which the transfer may finish and the dialog
    // go away: it opens from the view's queue, never from inside the dialog.
    // The transfer stops when the guard fires, before the box says so.
    connect(sync_, &CSyncDlg::timedOut, this,
            [this] { editor_.connection().session.stopTransfer(); });
    connect(
        sync_, &CSyncDlg::timedOut, this, [this] { transferTimedOut(); }, Qt::QueuedConnection);
    sync_->show();
}

void CHX2060v13View::stopLingering() {
    if (lingerTimer_)
        editor_.timeline().stop(lingerTimer_);
    lingerTimer_ = 0;
}

void CHX2060v13View::StartSynchronisation(const QString& text, bool told) {
    if (deferred(
            editor_.language().pick("同步", "Synchronise"),
            [this, text] { StartSynchronisation(text); }, told))
        return;
    if (editor_.connection().session.startSynchronisation())
        showSyncDialog(text);
}

void CHX2060v13View::StartDownload(const QString& text, bool told) {
    if (deferred(
            editor_.language().pick("发送设置到机器", "Send the settings to the amplifier"),
            [this, text] { StartDownload(text); }, told))
        return;
    if (editor_.connection().session.startDownload())
        showSyncDialog(text);
}

bool CHX2060v13View::transferBusy() const {
    return editor_.connection().session.workerRunning() || (!waiting_.empty() && !runningWaiting_);
}

QStringList CHX2060v13View::waitingWork() const {
    QStringList out;
    for (const Waiting& w : waiting_)
        out << w.what;
    return out;
}

bool CHX2060v13View::deferred(const QString& what, std::function<void()> run, bool told) {
    if (!transferBusy())
        return false;
    waiting_.push_back({what, std::move(run)});
    const Language& l = editor_.language();
    if (told)
        editor_.ShowInfo(
            l.pick("当前传输结束后执行：%1", "Runs when the transfer has finished: %1").arg(what),
            2500);
    if (!waitTimer_)
        waitTimer_ = editor_.timeline().start(kSyncProgressMs, true, [this] { runWaiting(); });
    return true;
}

void CHX2060v13View::runWaiting() {
    // Each waits for the transfer the one before it started.
    while (!waiting_.empty() && !editor_.connection().session.workerRunning()) {
        Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        runningWaiting_ = true;
        w.run();
        runningWaiting_ = false;
    }
    if (waiting_.empty() && waitTimer_) {
        editor_.timeline().stop(waitTimer_);
        waitTimer_ = 0;
    }
}

QString CHX2060v13View::downloadUnfinishedText() const {
    return editor_.language().pick(
        "下载未完成：机器中只有部分新设置。编辑器保留这些设置，页面显示的就是它们；机器下次连接时"
        "会询问是否重新发送。",
        "The download did not finish: the amplifier holds only part of these settings. The "
        "editor keeps them and the pages show them; when the amplifier next connects you will "
        "be asked whether to send them again.");
}

// The amplifier holds part of the editor's settings: it is unknown until it has everything
// again, and the next connection offers to send them.
void CHX2060v13View::downloadFailed() {
    EditPath& e = editor_.edits();
    e.forgetAmplifier();
    e.setUnsent(true);
    refreshFromStore();
    emit editor_.frame()->refreshModelessDialogs();
    updateUi();
}

void CHX2060v13View::transferTimedOut() {
    const Language& l = editor_.language();
    const bool download = editor_.connection().session.progress().kind == TransferKind::Download;
    if (download) {
        downloadFailed();
    } else {
        // Part of the amplifier was read: what the pages show is neither side's whole.
        editor_.edits().forgetAmplifier();
        refreshFromStore();
        emit editor_.frame()->refreshModelessDialogs();
        updateUi();
    }
    QString text = l.pick("发生错误，与设备数据同步超时……",
                          "Error: synchronising with the device timed out……");
    if (download)
        text += "\n\n" + downloadUnfinishedText();
    editor_.prompter().tell(this, BoxIcon::Error, l.pick("错误", "Error"), text);
    if (!download && unsent_)
        askAboutUnsent(); // the editor's own settings were waiting for this synchronisation
}

void CHX2060v13View::OnTransferFinished(TransferKind kind) {
    Connection& c = editor_.connection();
    const CheckResult r = c.session.CheckConnection();
    if (r == CheckResult::Passed) {
        EditPath& e = editor_.edits();
        if (kind == TransferKind::Synchronisation) {
            if (c.session.unreadValues() > 0)
                e.forgetAmplifier();
            else
                e.amplifierHoldsStore();
            if (!unsent_) {
                // The amplifier's settings are the document now; a new history begins.
                e.clearHistory();
                e.markSaved();
                editor_.setDocumentPath({});
            } else {
                QMetaObject::invokeMethod(
                    this, [this] { askAboutUnsent(); }, Qt::QueuedConnection);
            }
        } else {
            e.amplifierHoldsStore();
        }
        refreshFromStore();
        emit editor_.frame()->refreshModelessDialogs();
        // The finished transfer stays in view a moment; the worker is not held meanwhile.
        if (sync_ && !lingerTimer_)
            lingerTimer_ = editor_.timeline().start(kTransferShownMs, false, [this] {
                lingerTimer_ = 0;
                if (sync_)
                    sync_->finish();
            });
        if (kind == TransferKind::Synchronisation && c.session.unreadValues() > 0) {
            // Shown as connected, the values that never arrived would pass for real ones.
            const int n = c.session.unreadValues();
            QMetaObject::invokeMethod(
                this,
                [this, n] {
                    const Language& l = editor_.language();
                    editor_.prompter().tell(
                        this, BoxIcon::Warning, l.pick("警告", "Warning"),
                        l.english() ? QString("%1 settings could not be read from the amplifier: "
                                              "the values shown for them may be wrong. Load the "
                                              "mode again to read them once more.")
                                          .arg(n)
                                    : QString::fromUtf8("有%1项参数未能从机器读取，其显示的数值可能"
                                                        "不正确。请重新载入模式以再次读取。")
                                          .arg(n));
                },
                Qt::QueuedConnection);
        }
        return updateUi();
    }
    stopLingering();
    if (sync_)
        sync_->finish();
    editor_.edits().forgetAmplifier();
    if (kind == TransferKind::Download)
        downloadFailed();
    if (r == CheckResult::LinkLost) {
        // Reset a broken link so that the next arrival can open it again; a link opened again
        // since that transfer began is a new one and stays.
        if (c.link.isOpen() && c.link.readThreadEnded())
            c.link.CloseByRemoval();
        stopLevelPoll();
        updateUi();
        if (kind == TransferKind::Download) {
            const Language& l = editor_.language();
            editor_.prompter().tell(this, BoxIcon::Warning, l.pick("错误", "Error"),
                                    downloadUnfinishedText());
        }
        return;
    }
    stopLevelPoll();
    updateUi();
    if (errorLatch_) {
        errorLatch_ = false;
        const Language& l = editor_.language();
        const auto message = [&](bool english) {
            return checkFailureMessage(r, english, c.session.lostReplies(),
                                       c.session.askedReplies());
        };
        const QString text = l.pick(message(false).c_str(), message(true).c_str());
        editor_.prompter().tell(this, BoxIcon::Error, l.pick("错误", "Error"), text);
        errorLatch_ = true;
    }
}

void CHX2060v13View::balloon(const QString& text, int ms, bool mustBeSeen) {
    const QString title = editor_.language().pick("信息", "Information");
    lastBalloon_ = {title, text};
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Many desktops have no notification area: what the user must know shows in the window.
        if (mustBeSeen)
            editor_.ShowInfo(text, ms);
        return;
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon(QIcon(":/images/app.png"), this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this] { tray_->hide(); });
        connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] { tray_->hide(); });
    }
    tray_->show();
    tray_->showMessage(title, text, QSystemTrayIcon::Information, ms);
    if (trayTimer_)
        editor_.timeline().stop(trayTimer_);
    trayTimer_ = editor_.timeline().start(ms, false, [this] {
        trayTimer_ = 0;
        if (tray_)
            tray_->hide();
    });
}

// ---- closing ----

QString CHX2060v13View::closingQuestion() const {
    const Language& l = editor_.language();
    const Connection& c = editor_.connection();
    const int mode = clampMode(editor_.store().cellInt(cell::CurrentMode));
    const QString name = QString::fromStdU16String(c.state.modeNames().get(mode));
    const QString doc = editor_.documentPath();
    const QString file = QFileInfo(doc).fileName();
    if (l.english())
        return QString("The settings have changed since they were last saved.\n\n"
                       "Yes: save them %1 and into the amplifier's current user mode, "
                       "Mode%2 (%3).\n"
                       "No: close without saving.\n"
                       "Cancel: go back to the editor.")
            .arg(doc.isEmpty() ? QString("to a file on this computer")
                               : QString("to the file %1").arg(file))
            .arg(mode + 1)
            .arg(name);
    QString text = QString::fromUtf8(
                       "参数已改动，请问是否需要保存?\r\n提示：保存成电脑文件并同时保存至机器的当前"
                       "模式（模式%1：%2）")
                       .arg(QString::fromUtf8(kModeDigitZh[mode]), name);
    if (!doc.isEmpty())
        text += QString::fromUtf8("\r\n文件：%1").arg(file);
    return text;
}

bool CHX2060v13View::canClose() {
    ParameterStore& s = editor_.store();
    const Language& l = editor_.language();
    if (!waiting_.empty()) {
        // Work waiting for a transfer dies with the window: say what.
        const QString list = "\n  • " + waitingWork().join("\n  • ");
        if (editor_.prompter().ask(
                this, l.pick("关闭?", "Close?"),
                l.pick("以下操作尚在等待，关闭后不会执行，也不会发送到机器：%1\n\n"
                       "仍然关闭?",
                       "These are still waiting and will not be done or sent "
                       "to the amplifier if you close now:%1\n\nClose anyway?")
                    .arg(list),
                false) != Answer::Yes)
            return false;
        waiting_.clear();
        if (waitTimer_)
            editor_.timeline().stop(waitTimer_);
        waitTimer_ = 0;
    }
    // A save the user cancelled, or one that failed, keeps the editor open: nothing is lost.
    if (!editor_.linkOpen() && editor_.edits().modified()) {
        // Settings edited without an amplifier live only in the editor.
        const Answer a = editor_.prompter().ask(
            this, l.pick("保存?", "Save?"),
            l.pick("设置已改动，尚未保存到文件。是否保存?",
                   "The settings have changed and are not saved in a file. Save them?"),
            true);
        if (a == Answer::Cancel)
            return false;
        if (a == Answer::Yes && !saveDocument("name", "q7M"))
            return false;
    } else if (editor_.linkOpen() && s.parametersChanged()) {
        const Answer a =
            editor_.prompter().ask(this, l.pick("保存?", "Save?"), closingQuestion(), true);
        if (a == Answer::Cancel)
            return false;
        if (a == Answer::Yes && !saveDocument("preset", "q7M"))
            return false;
    }
    stopLevelPoll();
    Link& link = editor_.connection().link;
    if (link.isOpen()) {
        s.clearLevelReport();
        link.CloseByEditor();
    }
    return true;
}

} // namespace q7

namespace q7 {
CSyncDlg* CHX2060v13View::syncDialog() const {
    return sync_;
}
} // namespace q7
