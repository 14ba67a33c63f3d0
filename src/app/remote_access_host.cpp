// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_access_host.h"

#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "device/live_levels.h"
#include "params/edit_path.h"
#include "params/mode_check.h"
#include "params/mode_file.h"
#include "params/param_values.h"

#include <algorithm>
#include <cmath>

namespace q7 {

StepName remoteStepPrefix(const RemoteOrigin& who) {
    const bool owner = who.role == "owner";
    return {std::string("遥控（") + (owner ? "管理员 " : "访客 ") + who.address + "）",
            std::string("Remote (") + (owner ? "owner " : "guest ") + who.address + ")"};
}

ModeImage EditorRemoteHost::settings() const {
    return settingsOf(editor_.store());
}

bool EditorRemoteHost::ready(std::string& error) const {
    CHX2060v13View* view = editor_.view();
    if (!view) {
        error = "the editor is closing";
        return false;
    }
    if (view->transferBusy()) {
        error = "the editor is synchronising with the amplifier; try again in a moment";
        return false;
    }
    return true;
}

void EditorRemoteHost::showStore() {
    if (CHX2060v13View* view = editor_.view())
        view->refreshFromStore();
    if (CMainFrame* frame = editor_.frame())
        emit frame->refreshModelessDialogs();
}

bool EditorRemoteHost::apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
                             std::string& error) {
    if (values.empty())
        return true;
    if (!ready(error))
        return false;
    EditPath& edits = editor_.edits();
    const ModeImage before = settingsOf(edits.store());
    ModeImage after = before;
    for (const RemoteValue& v : values)
        if (v.param)
            setParamValue(after, *v.param, v.raw);
    const Change change = Change::between(before, after);
    if (change.empty())
        return true;
    // What changed, after whom: "Remote (guest 192.168.1.20): Mic Vol".
    StepName name = remoteStepPrefix(who);
    const StepName what = edits.namer ? edits.namer(change) : nameOfChange(change);
    name.zh += "：" + what.zh;
    name.en += ": " + what.en;
    // A step of its own, never part of a step a control still has open.
    edits.flush();
    edits.edit(
        [&](Dsp& dsp) {
            applySettings(dsp.store(), after);
            return sendSettingsDifferences(dsp, before);
        },
        name);
    showStore();
    return true;
}

RemoteStatus EditorRemoteHost::status() const {
    RemoteStatus s;
    const Connection& c = editor_.connection();
    s.connected = editor_.linkOpen();
    if (s.connected && c.state.modelReceived())
        s.model = c.state.model();
    s.mode = std::clamp(editor_.store().cellInt(cell::CurrentMode), 0, 3) + 1;
    if (!s.connected)
        return s;
    LiveLevels levels = liveLevels(editor_.store());
    s.levelsDb = std::move(levels.db);
    s.inputFormat = std::move(levels.inputFormat);
    return s;
}

bool EditorRemoteHost::recallMode(int mode, const RemoteOrigin&, std::string& error) {
    if (mode < 1 || mode > 4) {
        error = "modes are 1 to 4";
        return false;
    }
    if (!editor_.linkOpen()) {
        error = "no amplifier is connected";
        return false;
    }
    if (!ready(error))
        return false;
    // A recall replaces the editor's settings: changes made here and not stored in a mode would
    // be lost without the question the ribbon asks, which nobody at the PC is there to answer.
    if (editor_.store().parametersChanged()) {
        error = "the editor holds changes not stored in a mode; store them there first";
        return false;
    }
    // As the ribbon's Load mode, without its question: nobody at the PC asked for it.
    editor_.connection().commands.loadMode(mode - 1);
    editor_.view()->StartSynchronisation();
    return true;
}

std::string EditorRemoteHost::modeFile() const {
    const auto bytes = modeFileBytes(editor_.store().modeImage());
    return std::string(bytes.begin(), bytes.end());
}

bool EditorRemoteHost::putModeFile(const std::string& bytes, const RemoteOrigin& who,
                                   std::string& error) {
    if (!ready(error))
        return false;
    ModeImage image = editor_.store().modeImage();
    const ModeFileResult r = parseModeFile(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), image);
    if (!r) {
        error = describe(r, "mode file");
        return false;
    }
    const ModeFileCheck check = checkModeImage(image);
    if (check.refused()) {
        error = describeRefusal(*check.refusal, true);
        return false;
    }
    StepName name = remoteStepPrefix(who);
    name.zh += "：载入模式文件";
    name.en += ": Load mode file";
    editor_.edits().editWithoutSending([&](ParameterStore& s) { s.applyModeImage(check.image); },
                                       name);
    editor_.setDocumentPath({});
    if (editor_.linkOpen())
        editor_.view()->StartDownload();
    else
        showStore();
    return true;
}

} // namespace q7
