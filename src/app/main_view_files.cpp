// SPDX-License-Identifier: GPL-3.0-or-later
// Mode files and presets: open (checked whole first), drop, save, save as.
#include "app/editor.h"
#include "app/load_preview.h"
#include "app/main_frame.h"
#include "app/main_view.h"
#include "app/main_view_texts.h"
#include "app/presets.h"
#include "params/device_modes.h"
#include "params/edit_path.h"
#include "params/mode_file.h"
#include "params/text.h"
#include "ui/local_path.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <span>

namespace q7 {

void CHX2060v13View::loadFile() {
    const QString path = editor_.prompter().openFile(this, modeFilesFilter() + ";;All files (*)");
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
    return editor_.prompter().saveFile(this, modeFilesFilter(),
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

} // namespace q7
