// SPDX-License-Identifier: GPL-3.0-or-later
// Closing: what waits is said, changed settings are offered a save, the link is closed.
#include "app/editor.h"
#include "app/main_view.h"
#include "app/main_view_texts.h"
#include "params/device_modes.h"
#include "params/edit_path.h"

#include <QFileInfo>

namespace q7 {

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
