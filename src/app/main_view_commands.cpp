// SPDX-License-Identifier: GPL-3.0-or-later
// The ribbon's and menus' commands: one table from ids to named commands, one dispatcher that
// runs each command that changes settings as one step, and the master controls.
#include "app/about_dialog.h"
#include "app/commands.h"
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/master_controls.h"
#include "app/remote_access.h"
#include "app/ribbon.h"
#include "app/sync_dialog.h"
#include "app/tune_room.h"
#include "params/edit_path.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QWheelEvent>
#include <algorithm>
#include <optional>

namespace q7 {

namespace {

QString volumeLabel(const QString& prefix, int value) {
    return prefix + QString::asprintf("%3d", value);
}

} // namespace

void CHX2060v13View::addShortcutsAndFileCommands() {
    auto shortcut = [this](const QKeySequence& keys, ViewCommand what) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, [this, what] { run({what}); });
    };
    // Undo and redo work from every window of the editor.
    shortcut(QKeySequence::Undo, ViewCommand::Undo);
    shortcut(QKeySequence("Ctrl+Shift+Z"), ViewCommand::Redo);
    shortcut(QKeySequence("Ctrl+Y"), ViewCommand::Redo);
    shortcut(QKeySequence("Ctrl+O"), ViewCommand::OpenFile);
    shortcut(QKeySequence("Ctrl+S"), ViewCommand::SaveDocument);
    shortcut(QKeySequence("Ctrl+Shift+S"), ViewCommand::SaveDocumentAs);
    shortcut(QKeySequence("Ctrl+Q"), ViewCommand::Exit);
    shortcut(QKeySequence("F1"), ViewCommand::Help);

    // "Save As" after "Save", "Help" above "Exit" in the application menu.
    QMenu* menu = ribbon_.appMenu();
    const QList<QAction*> actions = menu->actions();
    const int save = int(actions.indexOf(ribbon_.action(cmd::AppSave)));
    saveAs_ = new QAction(this);
    saveAs_->setData(cmd::AppSaveAs);
    menu->insertAction(save >= 0 && save + 1 < actions.size() ? actions[save + 1] : nullptr,
                       saveAs_);
    connect(saveAs_, &QAction::triggered, this, [this] { OnCommand(cmd::AppSaveAs); });
    helpAction_ = new QAction(this);
    helpAction_->setData(cmd::AppHelp);
    QAction* exit = ribbon_.action(cmd::AppExit);
    menu->insertAction(exit, helpAction_);
    menu->insertSeparator(exit);
    connect(helpAction_, &QAction::triggered, this, [this] { OnCommand(cmd::AppHelp); });
}

void CHX2060v13View::labelFileCommands() {
    const Language& l = editor_.language();
    ribbon_.action(cmd::AppOpen)->setText(l.pick("打开(&O)", "Open(&O)") + "\tCtrl+O");
    ribbon_.action(cmd::AppSave)->setText(l.pick("保存(&S)", "Save(&S)") + "\tCtrl+S");
    saveAs_->setText(l.pick("另存为(&A)……", "Save As(&A)…") + "\tCtrl+Shift+S");
    helpAction_->setText(l.pick("帮助(&H)", "Help(&H)") + "\tF1");
    ribbon_.action(cmd::AppExit)->setText(l.pick("退出(&X)", "Exit(&X)") + "\tCtrl+Q");
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

void CHX2060v13View::showVolumes() {
    const ParameterStore& s = editor_.store();
    for (const MasterVolume& v : masterVolumes())
        ribbon_.setSliderPair(v.slider, s.cellInt(v.cell));
    labelVolumes();
}

void CHX2060v13View::labelVolumes() {
    const Language& l = editor_.language();
    for (const MasterVolume& v : masterVolumes())
        ribbon_.setLabelPair(v.label,
                             volumeLabel(l.pick(v.zh, v.en), editor_.store().cellInt(v.cell)));
}

void CHX2060v13View::showMutes() {
    for (const MasterVolume& v : masterVolumes())
        if (v.mute)
            ribbon_.setCheckPair(v.mute, editor_.store().cellInt(v.muteCell) == 1);
}

// ---- commands ----

void CHX2060v13View::OnCommand(int id) {
    run(commandFor(id));
}

void CHX2060v13View::run(const CommandCall& call) {
    // A question comes before the step: nothing is changed while it is open.
    if (call.what == ViewCommand::EqReset &&
        (!page_ || !page_->hasEq() ||
         editor_.prompter().ask(
             this, editor_.language().pick("提示", "Prompt"),
             editor_.language().pick("您确定重置当前均衡吗?", "Are you sure reset the EQ?"),
             false) != Answer::Yes))
        return;
    // However the command came (a click, a key, a menu, QAction::trigger()), what it changes in
    // the settings is one undo step named after it.
    const StepName name = stepOf(call);
    std::optional<EditPath::Scope> step;
    if (!name.empty())
        step.emplace(editor_.edits(), name);
    perform(call);
}

void CHX2060v13View::perform(const CommandCall& call) {
    const int arg = call.arg;
    Connection& c = editor_.connection();
    switch (call.what) {
    case ViewCommand::None:
        return;
    case ViewCommand::Volume:
        return volumeCommand(arg);
    case ViewCommand::Pitch:
        return pitchCommand();
    case ViewCommand::Mute:
        return muteCommand(arg);
    case ViewCommand::LoadMode:
        return loadMode(arg);
    case ViewCommand::SaveMode:
        return saveMode(arg);
    case ViewCommand::DefaultMode:
        return defaultMode(arg);
    case ViewCommand::ResetMachine:
        return resetMachine();
    case ViewCommand::SelectHdmi:
        c.commands.selectHdmi(arg);
        return updateUi();
    case ViewCommand::SelectSource:
        c.commands.selectSource(arg);
        return updateUi();
    case ViewCommand::OpenFile:
        return loadFile();
    case ViewCommand::OpenRecent: {
        const QStringList recent = editor_.recentFiles();
        if (arg < recent.size())
            editor_.shellOpen(recent[arg]);
        return;
    }
    case ViewCommand::SaveFileAs:
        return saveFile();
    case ViewCommand::SaveDocument:
        saveDocument();
        return;
    case ViewCommand::SaveDocumentAs:
        saveDocumentAs();
        return;
    case ViewCommand::LoadPreset:
        return loadPreset(cmd::PresetFirst + arg);
    case ViewCommand::Exit:
        if (editor_.frame())
            editor_.frame()->close(); // through the closing questions
        return;
    case ViewCommand::Undo:
        return undo();
    case ViewCommand::Redo:
        return redo();
    case ViewCommand::CompareFile:
        return compareWithFile();
    case ViewCommand::CompareAB:
        return compareAB();
    case ViewCommand::SwitchSlot:
        return switchSlot(arg);
    case ViewCommand::CopySlot:
        return copySlot(arg, 1 - arg);
    case ViewCommand::EqBypass:
        if (page_ && page_->hasEq())
            page_->setEqBypass(!page_->eqBypass());
        return updateUi();
    case ViewCommand::EqReset:
        if (page_ && page_->hasEq())
            page_->resetEq();
        return;
    case ViewCommand::ShowMusic:
        return showPage(PageKind::Music);
    case ViewCommand::ShowOutput:
        return showPage(PageKind::Output, arg);
    case ViewCommand::ShowLocation:
        return showPage(PageKind::Location);
    case ViewCommand::ShowDelay:
        return showPage(PageKind::Delay);
    case ViewCommand::ShowCompressor:
        return showPage(PageKind::Compressor);
    case ViewCommand::AutoSub:
        return openAutoSub();
    case ViewCommand::MusicAgc:
        return openMusicAgc();
    case ViewCommand::Remote:
        return openRemote();
    case ViewCommand::RemoteAccess:
        openRemoteAccess(editor_, window());
        return;
    case ViewCommand::TuneRoom:
        openTuneRoom(editor_, window());
        return;
    case ViewCommand::Measure:
        return openMeasureDialog();
    case ViewCommand::Help:
        return showHelp();
    case ViewCommand::About: {
        auto* about = new CAboutDlg(editor_.connection(), editor_.language(), window());
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->open();
        return;
    }
    case ViewCommand::SwitchLanguage:
        return editor_.setLanguageIndex(editor_.language().index() == kEnglish ? kChinese
                                                                               : kEnglish);
    }
}

void CHX2060v13View::volumeCommand(int sliderBase) {
    const MasterVolume& v = *masterVolumeBySlider(sliderBase);
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
    editor_.dsp().sendCell(v.cell);
    if (v.muteCell >= 0 && s.cellInt(v.muteCell) == 1)
        editor_.ShowInfo(l.pick("当前是静音状态", "vol is mute"), 1100);
    ribbon_.setLabelPair(v.label, volumeLabel(l.pick(v.zh, v.en), value));
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
    const MasterVolume& v = *masterVolumeByMute(muteBase);
    ParameterStore& s = editor_.store();
    s.setCellInt(v.muteCell, s.cellInt(v.muteCell) == 1 ? 0 : 1);
    editor_.dsp().sendMute(v.muteCell); // the music channel fades in when unmuted
    updateUi();
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

} // namespace q7
