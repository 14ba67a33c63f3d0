// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/settings_dialog.h"

#include "controls/bmp_slider.h"
#include "controls/image_button.h"
#include "device/connection.h"
#include "device/device_state.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/prompter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace q7 {

namespace {

// Record bytes.
constexpr int kSaveMode = 0, kMicStart = 1, kMusicStart = 2, kMicMax = 3, kMusicMax = 4,
              kPanelLock = 5, kLockFlags = 6, kPowerOnMode = 9;
constexpr std::uint8_t kNoStartVolume = 255;
constexpr std::uint8_t kLockVolumeBits = 0x83, kLockModeBit = 0x10;
// Cells: the two volumes, the current mode and the microphone phases.
constexpr int kVolumeCells[2] = {26, 85};
constexpr int kCurrentModeCell = 25;
constexpr int kPhaseCells[2] = {32, 40};

} // namespace

CSetDlg::CSetDlg(EditorContext& editor, QWidget* parent) : ToolDialog(editor, 335, parent) {
    setObjectName("CSetDlg");
    setAttribute(Qt::WA_DeleteOnClose);
    auto group = [this](int id, const QRect& r) {
        auto* g = new QGroupBox(this);
        setControlId(g, id);
        g->setFont(songti(12, true));
        g->setGeometry(r);
        return g;
    };
    groups_ = {group(1197, QRect(12, 8, 430, 100)),  group(1199, QRect(12, 116, 430, 100)),
               group(1201, QRect(12, 224, 210, 88)), group(1202, QRect(232, 224, 210, 88)),
               group(1183, QRect(454, 8, 214, 100)), group(1200, QRect(454, 116, 214, 100))};
    constexpr int startCaptions[2] = {1005, 1002}, startLabels[2] = {1145, 1146};
    constexpr int maxCaptions[2] = {1006, 1131}, maxLabels[2] = {1147, 1150},
                  maxSliders[2] = {1016, 1019};
    // A caption, a slider and its value on the right, at height y.
    auto sliderRow = [this](int y, int captionId, int sliderId, int minimum, int maximum,
                            int valueId, QLabel*& caption, CXBmpSlider*& s, QLabel*& value) {
        caption = label(captionId);
        caption->setGeometry(24, y, 104, 24);
        s = slider(sliderId, minimum, maximum);
        s->setFocusedThumb(false); // this dialog keeps the normal thumb
        s->setGeometry(128, y, 190, 24);
        value = label(valueId, true);
        value->setGeometry(322, y, 50, 24);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    };
    for (int i = 0; i < 2; ++i) {
        const std::size_t k = std::size_t(i);
        const int y = 36 + 34 * i;
        sliderRow(y, startCaptions[i], 1014 + i, 0, 99, startLabels[i], startCaption_[k], start_[k],
                  startValue_[k]);
        connect(start_[k], &CXBmpSlider::positionChanged, this,
                [this, i](int, int p) { startMoved(i, p); });
        startOn_[k] = new QCheckBox(this);
        setControlId(startOn_[k], 1039 + i);
        startOn_[k]->setFont(songti(12));
        startOn_[k]->setGeometry(378, y, 62, 24);
        connect(startOn_[k], &QCheckBox::clicked, this,
                [this, i](bool on) { startEnableClicked(i, on); });

        sliderRow(144 + 34 * i, maxCaptions[i], maxSliders[i], 1, 99, maxLabels[i], maxCaption_[k],
                  max_[k], maxValue_[k]);
        connect(max_[k], &CXBmpSlider::positionChanged, this,
                [this, i](int, int p) { maxMoved(i, p); });
    }
    for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(this);
        setControlId(r, 1190 + i);
        r->setFont(songti(12));
        r->setGeometry(26, 250 + 28 * i, 190, 24);
        connect(r, &QRadioButton::clicked, this,
                [this, i] { setByte(kSaveMode, std::uint8_t(i)); });
        saveModes_[std::size_t(i)] = r;
    }
    powerOn_ = new QComboBox(this);
    setControlId(powerOn_, 1134);
    powerOn_->addItems({"Auto", "M1", "M2", "M3", "M4"});
    powerOn_->setGeometry(248, 256, 178, 26);
    connect(powerOn_, &QComboBox::activated, this,
            [this](int i) { setByte(kPowerOnMode, std::uint8_t(i)); });
    for (int m = 0; m < 4; ++m) {
        auto* b = new CGdipButton(32823 + m, this);
        b->setText(QString("M%1").arg(m + 1));
        b->setGeometry(466 + 50 * m, 48, 44, 36);
        connect(b, &CGdipButton::clicked, this, [this, m] { defaultModeClicked(m); });
        modes_[std::size_t(m)] = b;
    }
    for (int i = 0; i < 2; ++i) {
        auto* box = new QCheckBox(this);
        setControlId(box, 1193 + i);
        box->setFont(songti(12));
        box->setGeometry(470, 144 + 34 * i, 190, 24);
        connect(box, &QCheckBox::clicked, this, [this, i](bool checked) {
            EditPath::Scope step(editor_.edits());
            editor_.store().setCellInt(kPhaseCells[i], checked ? 0 : 1);
            editor_.dsp().sendSelector(kPhaseCells[i]);
        });
        phase_[std::size_t(i)] = box;
    }
    lockPanel_ = new QCheckBox(this);
    setControlId(lockPanel_, 1046);
    lockVolume_ = new QCheckBox(this);
    setControlId(lockVolume_, 1047);
    lockMode_ = new QCheckBox(this);
    setControlId(lockMode_, 1048);
    lockPanel_->setGeometry(470, 230, 190, 24);
    lockVolume_->setGeometry(492, 256, 170, 24);
    lockMode_->setGeometry(492, 282, 170, 24);
    for (QCheckBox* b : {lockPanel_, lockVolume_, lockMode_})
        b->setFont(songti(12));
    connect(lockPanel_, &QCheckBox::clicked, this, [this](bool on) {
        setByte(kPanelLock, on ? 1 : 0);
        lockVolume_->setEnabled(on);
        lockMode_->setEnabled(on);
    });
    connect(lockVolume_, &QCheckBox::clicked, this, [this](bool on) {
        const std::uint8_t b = editor_.connection().state.editSettings()[kLockFlags];
        setByte(kLockFlags, on ? std::uint8_t(b | kLockVolumeBits) : std::uint8_t(b & 0x7C));
    });
    connect(lockMode_, &QCheckBox::clicked, this, [this](bool on) {
        const std::uint8_t b = editor_.connection().state.editSettings()[kLockFlags];
        setByte(kLockFlags, on ? std::uint8_t(b | kLockModeBit) : std::uint8_t(b & 0xEF));
    });
    apply_ = new CGdipButton(1073, this);
    cancel_ = new CGdipButton(2, this);
    apply_->setGeometry(476, 324, 92, 30);
    cancel_->setGeometry(576, 324, 92, 30);
    connect(apply_, &CGdipButton::clicked, this, &CSetDlg::apply);
    connect(cancel_, &CGdipButton::clicked, this, &CSetDlg::reject);
    setFixedSize(680, 366);
    routeWheel([](int id) { return id >= 1014 && id <= 1019; });
    refresh();
    applyLanguage();
}

void CSetDlg::setByte(int index, std::uint8_t value) {
    DeviceState& state = editor_.connection().state;
    MachineSettings s = state.editSettings();
    s[std::size_t(index)] = value;
    state.setEditSettings(s);
}

QString CSetDlg::invalidText() const {
    return editor_.language().pick("无效", "Invalid");
}

void CSetDlg::showStart(int i, int byte) {
    CXBmpSlider* s = start_[std::size_t(i)];
    const bool on = byte != kNoStartVolume;
    startOn_[std::size_t(i)]->setChecked(on);
    if (on) {
        s->SetPos(byte);
        startValue_[std::size_t(i)]->setText(QString::number(s->GetPos()));
    } else {
        s->SetPos(s->minimum());
        startValue_[std::size_t(i)]->setText(invalidText());
    }
    startCaption_[std::size_t(i)]->setEnabled(on);
    startValue_[std::size_t(i)]->setEnabled(on);
    s->setEnabled(on);
}

void CSetDlg::refresh() {
    // The edit copy: it equals the current copy whenever nothing unapplied is pending, and it is
    // what "Apply" sends.
    const MachineSettings r = editor_.connection().state.editSettings();
    for (int i = 0; i < 2; ++i) {
        max_[std::size_t(i)]->SetPos(r[std::size_t(kMicMax + i)]);
        maxValue_[std::size_t(i)]->setText(QString::number(max_[std::size_t(i)]->GetPos()));
        start_[std::size_t(i)]->SetRange(0, r[std::size_t(kMicMax + i)]);
        showStart(i, r[std::size_t(kMicStart + i)]);
    }
    lockPanel_->setChecked(r[kPanelLock] != 0);
    lockVolume_->setChecked(r[kLockFlags] & 0x01);
    lockMode_->setChecked(r[kLockFlags] & kLockModeBit);
    lockVolume_->setEnabled(r[kPanelLock] != 0);
    lockMode_->setEnabled(r[kPanelLock] != 0);
    powerOn_->setCurrentIndex(r[kPowerOnMode] <= 4 ? r[kPowerOnMode] : -1);
    saveModes_[0]->setChecked(r[kSaveMode] == 0);
    saveModes_[1]->setChecked(r[kSaveMode] == 1);
    const ParameterStore& s = editor_.store();
    for (int i = 0; i < 2; ++i)
        phase_[std::size_t(i)]->setChecked(s.cellInt(kPhaseCells[i]) == 0);
    const int mode = s.cellInt(kCurrentModeCell);
    for (int m = 0; m < 4; ++m)
        modes_[std::size_t(m)]->setCurrent(m == mode);
}

void CSetDlg::startEnableClicked(int i, bool checked) {
    CXBmpSlider* s = start_[std::size_t(i)];
    if (checked) {
        const int volume = editor_.store().cellInt(kVolumeCells[i]);
        s->SetPos(volume);
        setByte(kMicStart + i, std::uint8_t(s->GetPos()));
        startValue_[std::size_t(i)]->setText(QString::number(s->GetPos()));
    } else {
        setByte(kMicStart + i, kNoStartVolume);
        s->SetPos(s->minimum());
        startValue_[std::size_t(i)]->setText(invalidText());
    }
    startCaption_[std::size_t(i)]->setEnabled(checked);
    startValue_[std::size_t(i)]->setEnabled(checked);
    s->setEnabled(checked);
}

void CSetDlg::startMoved(int i, int p) {
    EditPath::Scope step(editor_.edits());
    setByte(kMicStart + i, std::uint8_t(p));
    // The start volume is heard while it is set.
    editor_.store().setCellInt(kVolumeCells[i], p);
    editor_.dsp().sendLevel(kVolumeCells[i]);
    editor_.masterVolumesChanged();
    startValue_[std::size_t(i)]->setText(QString::number(p));
}

void CSetDlg::maxMoved(int i, int p) {
    setByte(kMicMax + i, std::uint8_t(p));
    CXBmpSlider* s = start_[std::size_t(i)];
    const int before = s->GetPos();
    s->SetRange(0, p);
    maxValue_[std::size_t(i)]->setText(QString::number(p));
    if (before > p) {
        s->SetPos(p);
        startMoved(i, p);
    }
}

void CSetDlg::defaultModeClicked(int m) {
    if (!editor_.linkOpen())
        return;
    // The factory values replace what the user stored in that mode: ask, No unless he says so.
    static const char* const digits[4] = {"一", "二", "三", "四"};
    const Language& l = editor_.language();
    const QString text =
        l.english()
            ? QString("Restore machine mode %1 to its factory settings?\nThe settings "
                      "stored in that mode will be overwritten.")
                  .arg(m + 1)
            : QString::fromUtf8("确定要将机器模式%1恢复为出厂设置吗?\n该模式中保存的参数将被覆盖。")
                  .arg(QString::fromUtf8(digits[m]));
    if (editor_.prompter().askDefaultNo(this, l.pick("提示", "Prompt"), text) != Answer::Yes)
        return;
    editor_.defaultMode(m);
    for (int k = 0; k < 4; ++k)
        modes_[std::size_t(k)]->setCurrent(k == m);
}

void CSetDlg::apply() {
    if (!editor_.linkOpen()) {
        // Nothing reaches the amplifier: the record stays as it was, and so does the edit.
        editor_.ShowInfo(editor_.language().pick("请先连接设备!", "Please connect device!"), 1100);
        return;
    }
    editor_.connection().commands.applyMachineSettings();
    editor_.ShowInfo(editor_.language().pick("机器设置已生效!", "Setting valid"), 1100);
}

void CSetDlg::reject() {
    editor_.connection().state.discardEditSettings();
    ToolDialog::reject();
}

void CSetDlg::closeEvent(QCloseEvent* e) {
    editor_.connection().state.discardEditSettings();
    ToolDialog::closeEvent(e);
}

void CSetDlg::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("机器设置", "Machine Set"));
    const char* groups[6][2] = {
        {"开机音量", "Start vol"},         {"限制音量", "Limit vol"},
        {"音量保存模式", "Vol save mode"}, {"开机指定模式", "Power on mode"},
        {"出厂机器模式", "Default mode"},  {"话筒反相", "Mic Phase Reverse "}};
    for (std::size_t g = 0; g < groups_.size(); ++g)
        groups_[g]->setTitle(l.pick(groups[g][0], groups[g][1]));
    startCaption_[0]->setText(l.pick("话筒开机音量", "Mic start vol"));
    startCaption_[1]->setText(l.pick("音乐开机音量", "Music start vol"));
    maxCaption_[0]->setText(l.pick("话筒最大音量", "Mic max vol"));
    maxCaption_[1]->setText(l.pick("音乐最大音量", "Music max vol"));
    for (QCheckBox* b : startOn_)
        b->setText(l.pick("启用", "Enable"));
    saveModes_[0]->setText(l.pick("随开关机保存", "By power"));
    saveModes_[1]->setText(l.pick("随模式保存", "By mode "));
    phase_[0]->setText(l.pick("话筒1组反相", "Mic1 reverse"));
    phase_[1]->setText(l.pick("话筒2组反相", "Mic2 reverse"));
    lockPanel_->setText(l.pick("锁定面板", "Lock panel"));
    lockVolume_->setText(l.pick("锁定音量", "Lock Vol"));
    lockMode_->setText(l.pick("锁定模式", "Lock Mode"));
    apply_->setText(l.pick("应用", "Apply"));
    cancel_->setText(l.pick("取消", "Cancel"));
    ToolDialog::applyLanguage();
    for (int i = 0; i < 2; ++i)
        if (!startOn_[std::size_t(i)]->isChecked())
            startValue_[std::size_t(i)]->setText(invalidText());
}

} // namespace q7
