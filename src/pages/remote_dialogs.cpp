// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/remote_dialogs.h"

#include "controls/image_button.h"
#include "device/connection.h"
#include "pages/page.h"
#include "params/store.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/local_path.h"
#include "ui/prompter.h"
#include "ui/timeline.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStringList>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>

namespace q7 {

namespace {

struct Key {
    const char *en, *zh;
};
const Key kPrompts[kLearnableKeys] = {
    {"Learning key: load user mode 1", "您正在学习的键：载入模式一"},
    {"Learning key: load user mode 2", "您正在学习的键：载入模式二"},
    {"Learning key: load user mode 3", "您正在学习的键：载入模式三"},
    {"Learning key: load user mode 4", "您正在学习的键：载入模式四"},
    {"Learning key: mic vol+,increment mic vol", "您正在学习的键：增加话筒音量"},
    {"Learning key: mic vol-,decrement mic vol", "您正在学习的键：降低话筒音量"},
    {"Learning key: music vol+,increment music vol", "您正在学习的键：增加音乐音量"},
    {"Learning key: music vol-,decrement music vol", "您正在学习的键：降低音乐音量"},
    {"Learning key:  music mute", "您正在学习的键：音乐静音"},
    {"Learning key: tone increment ", "您正在学习的键：升调"},
    {"Learning key:  reset tone", "您正在学习的键：原调"},
    {"Learning key: tone decrement", "您正在学习的键：降调"},
    {"Learning key: Change music input", "您正在学习的键：音乐输入切换"},
    {"Learning key: Effect vol+,increment effect vol", "您正在学习的键：增加效果音量"},
    {"Learning key: Effect vol-,decrement effect vol", "您正在学习的键：降低效果音量"},
};

constexpr int kUnsupportedKeys = 3;
const QString kFilter = QStringLiteral("Remote Data File(*.remo)");

// Where each key sits on the drawn remote (column, row on a 3-column grid; 4 columns in the mode
// row) and what its cap says.
struct Cap {
    int key;
    double column, row;
    int span; // 3 for a 3-column row, 4 for the mode row
    const char *text, *textZh;
};
const Cap kCaps[kLearnableKeys + kUnsupportedKeys] = {
    {16, 0, 0, 3, "POWER", "电源"}, {9, 2, 0, 3, "MUTE", "静音"},    {1, 0, 1, 4, "M1", "M1"},
    {2, 1, 1, 4, "M2", "M2"},       {3, 2, 1, 4, "M3", "M3"},        {4, 3, 1, 4, "M4", "M4"},
    {5, 0, 2, 3, "MIC+", "话筒+"},  {7, 1, 2, 3, "MUSIC+", "音乐+"}, {14, 2, 2, 3, "EFF+", "效果+"},
    {6, 0, 3, 3, "MIC-", "话筒-"},  {8, 1, 3, 3, "MUSIC-", "音乐-"}, {15, 2, 3, 3, "EFF-", "效果-"},
    {10, 0, 4, 3, "♯", "♯"},        {11, 1, 4, 3, "♮", "♮"},         {12, 2, 4, 3, "♭", "♭"},
    {13, 0, 5, 3, "INPUT", "输入"}, {17, 1, 5, 3, "BT", "蓝牙"},     {18, 2, 5, 3, "HDMI", "HDMI"},
};

// The short name of key n as its cap shows it.
QString keyName(int key, bool english) {
    for (const Cap& c : kCaps)
        if (c.key == key)
            return QString::fromUtf8(english ? c.text : c.textZh);
    return {};
}

// "M1, MIC+, ..." for the keys of a mask.
QString keyNames(std::uint16_t keys, bool english) {
    QStringList names;
    for (int k = 1; k <= kLearnableKeys; ++k)
        if (keys & (1u << k))
            names << keyName(k, english);
    return names.join(english ? ", " : "、");
}

constexpr std::uint16_t kAllKeys = 0xFFFE; // keys 1..15

} // namespace

int remoteKeyId(int key) {
    if (key == 1)
        return 1587;
    if (key >= 2 && key <= kLearnableKeys + kUnsupportedKeys)
        return 1598 + key;
    return 0;
}

QString learningPrompt(int key, bool english) {
    if (key < 1 || key > kLearnableKeys)
        return {};
    const Key& k = kPrompts[key - 1];
    return QString::fromUtf8(english ? k.en : k.zh);
}

QString remoteFileName(const QString& chosen) {
    const QFileInfo info(chosen);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    const QString dir = info.path();
    const QString name = base + ".remo";
    return dir == "." && !chosen.startsWith("./") ? name : dir + "/" + name;
}

// ---- the drawn remote ----

// A transparent area over a key: the hand cursor, and a click.
class HotArea : public QWidget {
public:
    HotArea(int key, QWidget* parent, std::function<void(int)> clicked)
        : QWidget(parent), key_(key), clicked_(std::move(clicked)) {
        setControlId(this, remoteKeyId(key));
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
    }
    int key() const { return key_; }
    bool hovered() const { return underMouse(); }

protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
            clicked_(key_);
    }
    void enterEvent(QEnterEvent*) override { parentWidget()->update(); }
    void leaveEvent(QEvent*) override { parentWidget()->update(); }

private:
    int key_;
    std::function<void(int)> clicked_;
};

class RemotePicture : public QWidget {
public:
    RemotePicture(EditorContext& editor, QWidget* parent, std::function<void(int)> clicked)
        : QWidget(parent), editor_(editor) {
        for (const Cap& c : kCaps)
            areas_.push_back(new HotArea(c.key, this, clicked));
        setFixedSize(250, 520);
        place();
    }
    HotArea* area(int key) const {
        for (HotArea* a : areas_)
            if (a->key() == key)
                return a;
        return nullptr;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF body = QRectF(rect()).adjusted(14, 6, -14, -6);
        QLinearGradient g(body.topLeft(), body.topRight());
        g.setColorAt(0, QColor(46, 50, 58));
        g.setColorAt(0.5, QColor(70, 76, 88));
        g.setColorAt(1, QColor(40, 44, 52));
        p.setPen(QPen(QColor(24, 26, 30), 2));
        p.setBrush(g);
        p.drawRoundedRect(body, 36, 36);
        // The IR window.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 20, 30));
        p.drawRoundedRect(QRectF(body.center().x() - 24, body.top() + 12, 48, 10), 5, 5);
        const bool english = editor_.language().english();
        const KeyTable table = editor_.store().keyTable();
        for (std::size_t i = 0; i < std::size(kCaps); ++i) {
            const Cap& c = kCaps[i];
            const HotArea* a = areas_[i];
            const QRectF r = QRectF(a->geometry()).adjusted(2, 2, -2, -14);
            const bool learnable = c.key <= kLearnableKeys;
            QColor cap = c.key == 16  ? QColor(112, 62, 66)
                         : c.key <= 4 ? QColor(52, 120, 200)
                         : learnable  ? QColor(96, 104, 118)
                                      : QColor(78, 82, 90);
            if (a->hovered())
                cap = cap.lighter(135);
            p.setPen(QPen(cap.darker(160), 1));
            p.setBrush(cap);
            p.drawRoundedRect(r, 9, 9);
            p.setPen(learnable ? Qt::white : QColor(160, 164, 170));
            p.setFont(uiFont("Arial", c.text[0] & 0x80 ? 18 : 11, true));
            p.drawText(r, Qt::AlignCenter, QString::fromUtf8(english ? c.text : c.textZh));
            // The learned code under the key.
            // A code the editor never learned nor loaded is unknown, not 00.
            if (learnable) {
                const bool known = editor_.knownKeys() & (1u << c.key);
                p.setPen(known ? QColor(150, 220, 255) : QColor(150, 154, 160));
                p.setFont(uiFont("Tahoma", 10));
                p.drawText(QRectF(r.left(), r.bottom() + 1, r.width(), 12), Qt::AlignCenter,
                           known ? QString::asprintf("%02X", table[std::size_t(c.key)])
                                 : QStringLiteral("--"));
            }
        }
    }

private:
    EditorContext& editor_;
    std::vector<HotArea*> areas_;

    void place() {
        const int left = 34, right = width() - 34, top = 52, rowH = 74;
        for (std::size_t i = 0; i < std::size(kCaps); ++i) {
            const Cap& c = kCaps[i];
            const double w = double(right - left) / c.span;
            const int x = int(left + c.column * w), y = top + int(c.row * rowH);
            areas_[i]->setGeometry(x + 3, y, int(w) - 6, c.span == 4 ? 52 : 58);
        }
    }
};

// ---- remote dialog ----

CRemoteDlg::CRemoteDlg(EditorContext& editor, QWidget* parent) : ToolDialog(editor, 373, parent) {
    setObjectName("CRemoteDlg");
    setAttribute(Qt::WA_DeleteOnClose);
    picture_ = new RemotePicture(editor_, this, [this](int key) { keyClicked(key); });
    picture_->move(12, 12);
    load_ = new CGdipButton(3, this);
    save_ = new CGdipButton(4, this);
    apply_ = new CGdipButton(1, this);
    banner_ = QRect(276, 12, 300, 300);
    load_->setGeometry(296, 330, 260, 34);
    save_->setGeometry(296, 374, 260, 34);
    apply_->setGeometry(296, 418, 260, 34);
    connect(load_, &CGdipButton::clicked, this, &CRemoteDlg::loadFile);
    connect(save_, &CGdipButton::clicked, this, &CRemoteDlg::saveFile);
    connect(apply_, &CGdipButton::clicked, this, &CRemoteDlg::applyTable);
    known_ = new QLabel(this);
    known_->setObjectName("knownKeys");
    known_->setWordWrap(true);
    known_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    known_->setGeometry(284, 458, 296, 80);
    known_->setStyleSheet("color: rgb(60, 76, 96);");
    setFixedSize(590, 544);
    applyLanguage();
}

QWidget* CRemoteDlg::hotArea(int key) const {
    return picture_->area(key);
}

CRemoteStudyDlg* CRemoteDlg::learning() const {
    return findChild<CRemoteStudyDlg*>();
}

void CRemoteDlg::keyClicked(int key) {
    const Language& l = editor_.language();
    if (key > kLearnableKeys) {
        editor_.prompter().tell(this, BoxIcon::Information, l.pick("提示", "Information"),
                                l.pick("不支持该功能", "No support!"));
        return;
    }
    if (key < 1 || learning())
        return;
    if (!editor_.linkOpen()) {
        // No amplifier would answer: the learning dialog would wait for ever.
        editor_.ShowInfo(l.pick("请先连接设备!", "Please connect device!"), 1100);
        return;
    }
    editor_.connection().commands.startLearning(key);
    auto* study = new CRemoteStudyDlg(editor_, learningPrompt(key, l.english()), this);
    editor_.setLearningDialog(study);
    connect(study, &QDialog::finished, this, [this, study, key] {
        editor_.setLearningDialog(nullptr);
        if (study->learned())
            editor_.markKeysKnown(1u << key);
        study->deleteLater();
        picture_->update(); // the learned code shows under its key
        showKnownKeys();
    });
    study->showCentred();
}

bool CRemoteDlg::confirmEmptyTable(bool saving) {
    const KeyTable table = editor_.store().keyTable();
    if (std::any_of(table.begin(), table.end(), [](std::uint8_t b) { return b != 0; }))
        return true;
    // The amplifier cannot report its table: empty means nothing was learned or loaded since the
    // editor started, not that the amplifier knows no keys.
    const Language& l = editor_.language();
    const QString text =
        saving ? l.pick("遥控器键码表是空的：本次运行中既没有学习也没有载入按键。\n"
                        "仍要把16个空键码保存到文件吗?",
                        "The key table is empty: no key was learned or loaded since the editor "
                        "started.\nSave 16 empty codes to the file anyway?")
               : l.pick("遥控器键码表是空的：本次运行中既没有学习也没有载入按键。\n"
                        "仍要把16个空键码发送到机器吗? 机器中已学习的按键将被清除。",
                        "The key table is empty: no key was learned or loaded since the editor "
                        "started.\nSend 16 empty codes to the amplifier anyway? The keys it has "
                        "learned will be erased.");
    return editor_.prompter().askDefaultNo(this, l.pick("提示", "Prompt"), text) == Answer::Yes;
}

QString CRemoteDlg::connectFirstText() const {
    return editor_.language().pick("请先连接机器再进行此操作!",
                                   "Please connect the amplifier first!");
}

void CRemoteDlg::showKnownKeys() {
    const Language& l = editor_.language();
    const std::uint16_t known = editor_.knownKeys() & kAllKeys;
    const int count = std::popcount(known);
    QString text;
    if (count == kLearnableKeys)
        text = l.pick("已知全部15个按键的键码（本次学习或从文件载入）。",
                      "The codes of all 15 keys are known (learned or loaded from a file).");
    else if (count == 0)
        text = l.pick("尚不知道任何按键的键码：机器无法报告它学过的按键。请学习按键或载入遥控文件；"
                      "显示 -- 的按键是未知的。",
                      "No key's code is known yet: the amplifier cannot report the keys it has "
                      "learned. Learn keys or load a key file; keys showing -- are unknown.");
    else
        text = (l.english() ? QString("Known (learned or loaded): %1.\nUnknown (shown --): %2.")
                            : QString::fromUtf8("已知（学习或载入）：%1。\n未知（显示 --）：%2。"))
                   .arg(keyNames(known, l.english()), keyNames(kAllKeys & ~known, l.english()));
    known_->setText(text);
}

bool CRemoteDlg::confirmUnknownKeys(bool offerLoad) {
    const std::uint16_t unknown = kAllKeys & ~editor_.knownKeys();
    if (unknown == 0)
        return true;
    // Sending the table writes 00 over what the amplifier learned for every key named here.
    const Language& l = editor_.language();
    const QString names = keyNames(unknown, l.english());
    const int n = std::popcount(unknown);
    const QString text =
        l.english()
            ? QString("The editor does not know the codes of %1 keys: %2.\nThe amplifier cannot "
                      "report them; sending the table sets these keys to 00 and erases what the "
                      "amplifier learned for them.\n\nSend the table anyway?")
                  .arg(n)
                  .arg(names)
            : QString::fromUtf8("编辑器不知道 %1 个按键的键码：%2。\n机器无法报告这些键码；"
                                "发送键码表会把这些按键设为 00，清除机器已学习的键码。\n\n"
                                "仍要发送吗?")
                  .arg(n)
                  .arg(names);
    if (editor_.prompter().askDefaultNo(this, l.pick("提示", "Prompt"), text) == Answer::Yes)
        return true;
    if (offerLoad &&
        editor_.prompter().ask(this, l.pick("载入遥控文件?", "Load a key file?"),
                               l.pick("先载入一个遥控文件吗?", "Load a key file first?"),
                               false) == Answer::Yes)
        loadFile();
    return false;
}

void CRemoteDlg::applyTable() {
    const Language& l = editor_.language();
    if (!editor_.linkOpen()) {
        editor_.ShowInfo(l.pick("请先连接设备!", "Please connect device!"), 1100);
        return;
    }
    if (!confirmUnknownKeys(true))
        return;
    editor_.connection().commands.sendKeyTable();
    editor_.ShowInfo(editor_.language().pick("遥控器键码保存成功!", "Save successed !"), 1100);
}

void CRemoteDlg::loadFile() {
    const Language& l = editor_.language();
    if (!editor_.linkOpen()) {
        editor_.ShowInfo(connectFirstText(), 1100);
        return;
    }
    const QString chosen = editor_.prompter().openFile(this, kFilter);
    if (chosen.isEmpty())
        return;
    // The file the user chose, whatever its extension.
    const QString path = chosen;
    QFile f(path);
    QByteArray bytes;
    if (f.open(QIODevice::ReadOnly))
        bytes = f.read(qint64(kKeyTableSize));
    const QString failed = l.pick("载入遥控文件失败", "Loading the remote key file failed");
    if (!f.isOpen() || f.error() != QFileDevice::NoError) {
        editor_.prompter().tell(this, BoxIcon::Warning, failed,
                                l.pick("无法读取文件:\n", "Can't read the file:\n") + path);
        editor_.ShowInfo(failed, 1100);
        return;
    }
    if (bytes.isEmpty()) {
        editor_.prompter().tell(
            this, BoxIcon::Warning, failed,
            l.pick("文件是空的，其中没有按键:\n", "The file is empty: it holds no keys.\n") + path);
        editor_.ShowInfo(failed, 1100);
        return;
    }
    // A file shorter than the table loads the bytes it has; the other keys keep their codes.
    KeyTable table = editor_.store().keyTable();
    std::memcpy(table.data(), bytes.constData(), std::size_t(bytes.size()));
    editor_.store().setKeyTable(table);
    // Byte 0 is no key's code: a file of n bytes holds keys 1..n-1.
    const std::uint16_t held = std::uint16_t(((1u << bytes.size()) - 1) & kAllKeys);
    editor_.markKeysKnown(held);
    picture_->update();
    showKnownKeys();
    if (bytes.size() < qsizetype(kKeyTableSize)) {
        const int keys = int(bytes.size()) - 1;
        editor_.prompter().tell(
            this, BoxIcon::Information, l.pick("提示", "Prompt"),
            (l.english()
                 ? QString("The file is short: %1 bytes of 16. It holds %2 of the 15 keys "
                           "(%3); they were loaded, the other keys keep their codes.\n%4")
                 : QString::fromUtf8("文件不完整：16 字节中只有 %1 字节，只含 15 个按键中的 "
                                     "%2 个（%3）；已载入这些按键，其余按键保持原有键码。\n%4"))
                .arg(bytes.size())
                .arg(keys)
                .arg(keys > 0 ? keyNames(held, l.english()) : l.pick("无", "none"))
                .arg(path));
        // The amplifier gets the table only when the keys still unknown may be erased.
        if (!confirmUnknownKeys(false)) {
            editor_.ShowInfo(l.pick("键码表没有发送到机器", "The key table was not sent"), 1100);
            return;
        }
    }
    editor_.connection().commands.sendKeyTable();
    editor_.ShowInfo(l.pick("载入遥控文件成功", "Remote key file loaded"), 1100);
}

void CRemoteDlg::saveFile() {
    const Language& l = editor_.language();
    if (!editor_.linkOpen()) {
        editor_.ShowInfo(connectFirstText(), 1100);
        return;
    }
    if (!confirmEmptyTable(true))
        return;
    const QString chosen = editor_.prompter().saveFile(this, kFilter, QString(), "remo");
    if (chosen.isEmpty())
        return;
    const QString path = remoteFileName(chosen);
    const KeyTable table = editor_.store().keyTable();
    // Written whole or not at all: an old key file is never left half replaced.
    const WriteResult r =
        editor_.files().write(encodeLocalPath(path), std::span<const std::uint8_t>(table));
    if (!r) {
        tellWriteFailure(editor_.prompter(), l, this, path, r);
        editor_.ShowInfo(l.pick("保存遥控文件失败", "Saving the remote key file failed"), 1100);
        return;
    }
    editor_.ShowInfo(l.pick("保存遥控文件成功", "Remote key file saved"), 1100);
}

void CRemoteDlg::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("遥控学习", "Learn remoter control "));
    load_->setText(l.pick("载入参数", "Load file"));
    save_->setText(l.pick("保存参数", "Save file"));
    apply_->setText(l.pick("应用参数", "Apply"));
    showKnownKeys();
    ToolDialog::applyLanguage();
    picture_->update();
    update();
}

void CRemoteDlg::paintEvent(QPaintEvent* e) {
    ToolDialog::paintEvent(e);
    // The instructions beside the remote, in the current language.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintCard(p, banner_, 8);
    const Language& l = editor_.language();
    p.setPen(QColor(32, 96, 170));
    p.setFont(songti(17, true));
    p.drawText(banner_.adjusted(18, 16, -18, 0), Qt::AlignTop | Qt::AlignLeft,
               l.pick("遥控器学习", "Remote learning"));
    p.setPen(QColor(60, 76, 96));
    p.setFont(songti(13));
    const QString steps =
        l.pick("1. 点击左侧遥控器图上要学习的按键。\n\n"
               "2. 将您的遥控器对准机器的红外接收窗，按下对应的按键。\n\n"
               "3. 学习到的键码显示在按键下方；全部学习完成后按\"应用参数\"保存到机器。\n\n"
               "灰色按键不支持学习。",
               "1. Click the key to learn on the remote at the left.\n\n"
               "2. Point your remote at the amplifier's IR window and press the matching key.\n\n"
               "3. The learned code shows under each key; press \"Apply\" to store the table in "
               "the amplifier.\n\nGrey keys cannot be learned.");
    p.drawText(banner_.adjusted(18, 52, -18, -12), Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap,
               steps);
}

// ---- learning dialog ----

CRemoteStudyDlg::CRemoteStudyDlg(EditorContext& editor, const QString& prompt, QWidget* parent)
    : ToolDialog(editor, 372, parent) {
    setObjectName("CRemoteStudyDlg");
    setModal(true);
    prompt_ = label(1167, true);
    prompt_->setText(prompt);
    prompt_->setWordWrap(true);
    prompt_->setGeometry(20, 16, 360, 40);
    keyCaption_ = label(1007);
    keyCaption_->setGeometry(20, 66, 220, 26);
    code_ = new QLineEdit(this);
    setControlId(code_, 1038);
    code_->setReadOnly(true);
    code_->setAlignment(Qt::AlignCenter);
    code_->setFont(uiFont("Arial", 16, true));
    code_->setGeometry(250, 62, 130, 34);
    status_ = label(1006);
    status_->setGeometry(20, 108, 360, 24);
    status_->setStyleSheet("color: rgb(32, 96, 170);");
    cancel_ = new QPushButton(this);
    setControlId(cancel_, 3);
    close_ = new QPushButton(this);
    setControlId(close_, 1);
    for (QPushButton* b : {cancel_, close_}) {
        b->setGeometry(290, 144, 90, 28);
        b->setAutoDefault(false);
    }
    close_->hide();
    connect(cancel_, &QPushButton::clicked, this, &CRemoteStudyDlg::reject);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(400, 186);
    applyLanguage();
}

CRemoteStudyDlg::~CRemoteStudyDlg() {
    if (timer_)
        editor_.timeline().stop(timer_);
}

void CRemoteStudyDlg::codeLearned(int code) {
    if (learned_)
        return;
    learned_ = true;
    code_->setText(QString::asprintf("%02X", code & 0xFF));
    cancel_->hide();
    close_->show();
    status_->setText(editor_.language().pick("窗口将自动关闭", "Window will be closed!"));
    timer_ = editor_.timeline().start(1000, false, [this] {
        timer_ = 0;
        accept();
    });
}

void CRemoteStudyDlg::reject() {
    if (!learned_ && !cancelled_) {
        editor_.connection().commands.cancelLearning();
        cancelled_ = true;
    }
    ToolDialog::reject();
}

void CRemoteStudyDlg::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("学习中……", "Learning"));
    keyCaption_->setText(l.pick("请您按下遥控器上的对应的按键", "Key code:"));
    status_->setText(learned_ ? l.pick("窗口将自动关闭", "Window will be closed!")
                              : l.pick("等待遥控器按键……",
                                       "Press the matching key on your remote control now."));
    cancel_->setText(l.pick("放弃学习", "Cancel"));
    close_->setText(l.pick("关闭", "Close"));
    ToolDialog::applyLanguage();
}

} // namespace q7
