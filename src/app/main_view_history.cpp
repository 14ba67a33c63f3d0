// SPDX-License-Identifier: GPL-3.0-or-later
// Undo, redo, the A/B sets, the comparisons, and the editor's settings an amplifier found unsent.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/main_view_texts.h"
#include "app/sync_dialog.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/param_names.h"
#include "ui/local_path.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace q7 {

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
    const QString path = editor_.prompter().openFile(this, modeFilesFilter() + ";;All files (*)");
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
        const QString path = editor_.prompter().saveFile(this, modeFilesFilter(), "name", "q7M");
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

} // namespace q7
