// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's device modes: load, store, restore the factory state, and the machine reset.
#include "app/editor.h"
#include "app/main_view.h"
#include "app/main_view_texts.h"

namespace q7 {

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

} // namespace q7
