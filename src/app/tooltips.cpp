// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tooltips.h"

#include "app/main_view.h"
#include "app/ribbon.h"
#include "ui/control_id.h"
#include "ui/language.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QTabBar>
#include <QToolButton>
#include <map>
#include <string>
#include <utility>

namespace q7 {

namespace {

struct Tip {
    QString zh, en;
    QString keys; // shortcuts, in QKeySequence's portable text
};

using Table = std::map<std::pair<int, int>, Tip>;

constexpr int kMusic = 313, kEffects = 421, kOutput = 385, kCompressor = 346, kDelay = 333,
              kLocation = 334;

struct Text {
    std::string zh, en;
    const char* keys = nullptr;
};

void add(Table& t, int window, int id, const Text& text) {
    t[{window, id}] = {QString::fromStdString(text.zh), QString::fromStdString(text.en),
                       QString::fromLatin1(text.keys ? text.keys : "")};
}

void addMainWindow(Table& t) {
    const int w = kMainWindowTips;
    add(t, w, kAppButtonTip,
        {"文件：打开、保存、撤销与重做、比较", "File: open, save, undo and redo, compare"});
    add(t, w, cmd::Hdmi, {"选择HDMI输入", "Choose the HDMI input"});
    add(t, w, cmd::Source, {"选择音乐源", "Choose the music source"});
    add(t, w, cmd::MusicAgc, {"音乐自动音量控制", "Music automatic volume control"});
    add(t, w, cmd::Reset,
        {"机器复位：恢复出厂设置并重新同步（F7：机器设置）",
         "Reset the amplifier to its factory state and synchronise again (F7: machine settings)"});
    add(t, w, cmd::AutoSub, {"自动超低音设置", "Automatic subwoofer settings"});
    add(t, w, cmd::LanguageSwitch, {"切换中文/英文界面", "Switch between Chinese and English"});
    add(t, w, cmd::About, {"关于本软件与机器版本", "About this program and the amplifier"});
    add(t, w, cmd::MicLabel, {"话筒总音量", "Microphone master volume"});
    add(t, w, cmd::MicSlider,
        {"话筒音量（0–99），也可用鼠标滚轮调节", "Microphone volume (0–99); the wheel works too"});
    add(t, w, cmd::MicMute, {"话筒静音", "Mute the microphones"});
    add(t, w, cmd::EffectLabel, {"总效果音量", "Master effect volume"});
    add(t, w, cmd::EffectSlider,
        {"总效果音量（0–99），也可用鼠标滚轮调节", "Effect volume (0–99); the wheel works too"});
    add(t, w, cmd::ReverbLabel, {"混响音量", "Reverb volume"});
    add(t, w, cmd::ReverbSlider,
        {"混响音量（0–99），也可用鼠标滚轮调节", "Reverb volume (0–99); the wheel works too"});
    add(t, w, cmd::ReverbMute, {"混响静音", "Mute the reverb"});
    add(t, w, cmd::EchoLabel, {"回声音量", "Echo volume"});
    add(t, w, cmd::EchoSlider,
        {"回声音量（0–99），也可用鼠标滚轮调节", "Echo volume (0–99); the wheel works too"});
    add(t, w, cmd::EchoMute, {"回声静音", "Mute the echo"});
    add(t, w, cmd::MusicLabel, {"音乐音量", "Music volume"});
    add(t, w, cmd::MusicSlider,
        {"音乐音量（0–99），也可用鼠标滚轮调节", "Music volume (0–99); the wheel works too"});
    add(t, w, cmd::MusicMute, {"音乐静音（渐入恢复）", "Mute the music (it fades back in)"});
    add(t, w, cmd::GateLabel,
        {"音乐噪声门与变调（F6：噪声门设置）",
         "Music noise gate and pitch (F6: noise gate settings)"});
    add(t, w, cmd::GateSlider,
        {"音乐噪声门阈值（F6：噪声门设置）",
         "Music noise gate threshold (F6: noise gate settings)"});
    add(t, w, cmd::PitchSlider, {"音乐变调（半音）", "Music pitch shift, in semitones"});
    add(t, w, cmd::LoadMode, {"从机器调用模式一至模式四", "Load machine mode 1 to 4"});
    add(t, w, cmd::LoadFile,
        {"载入模式文件并发送到机器；箭头：出厂预设",
         "Open a mode file and send it to the amplifier; arrow: factory presets"});
    add(t, w, cmd::SaveMode,
        {"保存当前参数到机器模式一至模式四", "Store the settings in machine mode 1 to 4"});
    add(t, w, cmd::SaveFile, {"保存当前参数到模式文件", "Save the settings to a mode file"});
    add(t, w, cmd::SlotA, {"设置 A：切换到第一组参数", "Settings A: switch to the first set"});
    add(t, w, cmd::SlotB, {"设置 B：切换到第二组参数", "Settings B: switch to the second set"});
    add(t, w, cmd::CopyAB, {"把设置 A 复制到 B", "Copy settings A over B"});
    add(t, w, cmd::CopyBA, {"把设置 B 复制到 A", "Copy settings B over A"});
    add(t, w, cmd::IrLearning, {"红外遥控器按键学习", "Teach the amplifier an IR remote's keys"});
    add(t, w, cmd::RemoteAccess,
        {"让手机或脚本通过网络调节参数（默认关闭）",
         "Let phones or scripts change settings over the network (off by default)"});
    add(t, w, cmd::TuneRoom,
        {"测量每个音箱并调校电平、延时、超低分频与均衡",
         "Measure every speaker and tune levels, delays, the Sub's crossover and EQ"});
    add(t, w, cmd::Measure,
        {"用测量麦克风测量一只音箱在房间中的频率响应",
         "Measure one speaker's response in the room with a measurement microphone"});
    add(t, w, cmd::EqBypass, {"旁路当前页面的均衡", "Bypass the EQ of the page shown"});
    add(t, w, cmd::EqReset,
        {"把当前页面的均衡恢复为平直", "Reset the EQ of the page shown to flat"});
    // The application menu.
    add(t, w, cmd::AppOpen, {"打开模式文件", "Open a mode file", "Ctrl+O"});
    add(t, w, cmd::AppSave,
        {"保存到当前的模式文件（还没有文件时询问文件名）",
         "Save to the current mode file (asks for a name when there is none)", "Ctrl+S"});
    add(t, w, cmd::AppSaveAs, {"另存为新的模式文件", "Save to a new mode file", "Ctrl+Shift+S"});
    add(t, w, cmd::Undo, {"撤销上一步", "Undo the last step", "Ctrl+Z"});
    add(t, w, cmd::Redo, {"重做", "Redo the step undone", "Ctrl+Shift+Z, Ctrl+Y"});
    add(t, w, cmd::CompareFile, {"与模式文件比较参数", "Compare the settings with a mode file"});
    add(t, w, cmd::CompareAB, {"比较设置 A 与 B", "Compare settings A and B"});
    add(t, w, cmd::AppHelp, {"使用说明", "How to use the editor", "F1"});
    add(t, w, cmd::AppExit, {"退出程序", "Quit the editor", "Ctrl+Q"});
}

void addNavRow(Table& t, int w) {
    add(t, w, 1069, {"前置音箱输出", "Main speakers output"});
    add(t, w, 1072, {"后置音箱输出", "Rear speakers output"});
    add(t, w, 1070, {"中置音箱输出", "Center speaker output"});
    add(t, w, 1071, {"超低音箱输出", "Subwoofer output"});
    add(t, w, 1076, {"顶置音箱输出", "Top speakers output"});
    add(t, w, 1073, {"声场定位：房间与音箱位置", "Speaker location: room and positions"});
    add(t, w, 1074, {"各声道延时", "Delay of each channel"});
    add(t, w, 1075, {"输出压限器", "Output compressors"});
}

// The EQ graph and its band list, on every page with an EQ.
void addEq(Table& t, int w) {
    add(t, w, 1040,
        {"均衡曲线：拖动频点改变频率与增益，滚轮改变Q值，右键复制",
         "EQ curve: drag a band for frequency and gain, the wheel for Q, right click to copy"});
    add(t, w, 1139,
        {"均衡频段：选择频段，编辑类型、频率、增益与Q值",
         "EQ bands: pick a band and edit its type, frequency, gain and Q"});
}

void addPages(Table& t) {
    addEq(t, kMusic);
    add(t, kMusic, 1068, {"话筒A通道", "Microphone channel A"});
    add(t, kMusic, 1069, {"话筒B通道", "Microphone channel B"});
    add(t, kMusic, 1070, {"音乐通道", "Music channel"});
    add(t, kMusic, 1141,
        {"通道参数：选择一项后用下方滑块调节",
         "Channel settings: pick one and set it with the slider below"});
    add(t, kMusic, 1000, {"所选参数的数值", "The value of the setting picked above"});
    add(t, kMusic, 1144, {"混响均衡，单击进入", "Reverb EQ; click to edit it"});
    add(t, kMusic, 1143, {"回声均衡，单击进入", "Echo EQ; click to edit it"});
    for (int k = 0; k < 4; ++k) {
        const std::string n = std::to_string(k + 1);
        add(t, kMusic, 1052 + k, {"话筒" + n + "噪声门", "Microphone " + n + " noise gate"});
        add(t, kMusic, 1056 + k, {"话筒" + n + "音量", "Microphone " + n + " volume"});
        add(t, kMusic, 1190 + 2 * k,
            {"话筒" + n + "接入A通道", "Route microphone " + n + " to channel A"});
        add(t, kMusic, 1191 + 2 * k,
            {"话筒" + n + "接入B通道", "Route microphone " + n + " to channel B"});
    }
    add(t, kMusic, 1071, {"无线话筒配对", "Pair the wireless microphones"});
    for (int m = 0; m < 6; ++m)
        add(t, kMusic, 1168 + m, {"音乐与话筒电平", "Music and microphone level"});

    addEq(t, kEffects);
    add(t, kEffects, 1068, {"返回音乐与话筒页面", "Back to the music and microphone page"});

    addNavRow(t, kOutput);
    addEq(t, kOutput);
    add(t, kOutput, 1045, {"前置输出静音", "Mute the main output"});
    add(t, kOutput, 1050, {"后置输出静音", "Mute the rear output"});
    add(t, kOutput, 1047, {"中置输出静音", "Mute the center output"});
    add(t, kOutput, 1048, {"超低输出静音", "Mute the subwoofer output"});
    add(t, kOutput, 1049, {"顶置输出静音", "Mute the top output"});
    add(t, kOutput, 1041, {"直达声在本输出的音量", "Direct sound level in this output"});
    add(t, kOutput, 1042, {"混响在本输出的音量", "Reverb level in this output"});
    add(t, kOutput, 1043, {"回声在本输出的音量", "Echo level in this output"});
    add(t, kOutput, 1044, {"音乐在本输出的音量", "Music level in this output"});
    add(t, kOutput, 1168, {"本输出左声道电平", "Level of this output, left"});
    add(t, kOutput, 1169, {"本输出右声道电平", "Level of this output, right"});

    addNavRow(t, kCompressor);
    struct Group {
        int on, sliders[4], curve;
        const char *zh, *en;
    };
    static const Group groups[] = {
        {1045, {1014, 1015, 1016, 1017}, 1125, "前置", "main"},
        {1046, {1018, 1019, 1020, 1021}, 1126, "后置", "rear"},
        {1050, {1022, 1023, 1024, 1025}, 1127, "中置", "center"},
        {1055, {1028, 1029, 1030, 1032}, 1128, "超低", "subwoofer"},
        {1060, {1036, 1037, 1061, 1064}, 1129, "顶置", "top"},
    };
    const char* const parts[4][2] = {{"阈值", "threshold"},
                                     {"压缩比", "ratio"},
                                     {"启动时间", "attack time"},
                                     {"释放时间", "release time"}};
    for (const Group& g : groups) {
        const std::string zh = g.zh, en = g.en;
        add(t, kCompressor, g.on, {"开启" + zh + "压限器", "Turn the " + en + " compressor on"});
        for (int k = 0; k < 4; ++k)
            add(t, kCompressor, g.sliders[k],
                {zh + "压限器" + parts[k][0], "The " + en + " compressor's " + parts[k][1]});
        add(t, kCompressor, g.curve,
            {zh + "压限曲线：拖动改变阈值与压缩比",
             "The " + en + " compressor's curve: drag it to set threshold and ratio"});
    }

    addNavRow(t, kDelay);
    add(t, kDelay, 1250, {"各声道延时：拖动改变延时", "Delay of each channel: drag to change it"});
    static const char* const channels[8][2] = {{"前置左", "main left"}, {"前置右", "main right"},
                                               {"中置", "center"},      {"超低", "subwoofer"},
                                               {"后置左", "rear left"}, {"后置右", "rear right"},
                                               {"顶置左", "top left"},  {"顶置右", "top right"}};
    const int slider[8] = {1014, 1015, 1016, 1017, 1018, 1019, 1022, 1023};
    for (int c = 0; c < 8; ++c) {
        const std::string zh = channels[c][0], en = channels[c][1];
        const auto put = [&](int id, const std::string& z, const std::string& e) {
            add(t, kDelay, id, {z, e});
        };
        put(1293 + c, "开启" + zh + "延时", "Turn the " + en + " delay on");
        put(1190 + 2 * c, zh + "：只延时高频（按分频点）",
            "The " + en + " delay acts above the split frequency only");
        put(1191 + 2 * c, zh + "：延时整个声道", "The " + en + " delay acts on the whole channel");
        put(slider[c], zh + "延时的分频点", "The " + en + " delay's split frequency");
        put(1038 + c, zh + "延时（1.5–100 ms），回车确认",
            "The " + en + " delay (1.5–100 ms); Enter applies it");
        put(1242 + c, zh + "延时微调（0.1 ms）", "Step the " + en + " delay by 0.1 ms");
    }

    addNavRow(t, kLocation);
    add(t, kLocation, 1237,
        {"房间平面图：拖动听音位置或音箱", "Room plan: drag the listener or a speaker"});
    add(t, kLocation, 1038, {"房间宽度（米），回车确认", "Room width in metres; Enter applies it"});
    add(t, kLocation, 1039,
        {"房间长度（米），回车确认", "Room length in metres; Enter applies it"});
    add(t, kLocation, 1242, {"房间宽度加减一米", "Room width, a metre at a time"});
    add(t, kLocation, 1243, {"房间长度加减一米", "Room length, a metre at a time"});
    static const char* const points[9][2] = {
        {"听音位置", "the listener"}, {"前置左", "main left"}, {"中置", "center"},
        {"前置右", "main right"},     {"后置左", "rear left"}, {"超低", "the subwoofer"},
        {"后置右", "rear right"},     {"顶置左", "top left"},  {"顶置右", "top right"}};
    for (int i = 0; i < 18; ++i) {
        const int p = i / 2;
        const bool y = i % 2;
        const std::string zh = std::string(points[p][0]) + (y ? "前后位置" : "左右位置");
        const std::string en =
            std::string(y ? "Front–back" : "Left–right") + " position of " + points[p][1] + " (m)";
        add(t, kLocation, 1040 + i, {zh + "（米），回车确认", en + "; Enter applies it"});
        add(t, kLocation, 1244 + i, {zh + "微调（0.1米）", en + ", 0.1 m at a time"});
    }
    add(t, kLocation, 1239, {"按输入的尺寸修改房间", "Apply the room size typed in"});
    add(t, kLocation, 1238,
        {"把听音位置移到房间中央", "Put the listener in the middle of the room"});
    add(t, kLocation, 1216,
        {"所有位置与音箱电平恢复默认", "Put every position and speaker level back to default"});
}

const Table& table() {
    static const Table t = [] {
        Table t;
        addMainWindow(t);
        addPages(t);
        return t;
    }();
    return t;
}

QString compose(const Tip& tip, const Language& l) {
    QString text = l.english() ? tip.en : tip.zh;
    if (!tip.keys.isEmpty())
        text += QString(" (%1)").arg(QKeySequence(tip.keys).toString(QKeySequence::NativeText));
    return text;
}

} // namespace

QString tooltipText(int window, int id, const Language& l) {
    const Table& t = table();
    auto it = t.find({window, id});
    // The ribbon's Output twins share the Input element's text.
    if (it == t.end() && window == kMainWindowTips)
        it = t.find({window, Ribbon::twin(id)});
    return it == t.end() ? QString() : compose(it->second, l);
}

void applyTooltips(QWidget* root, int window, const Language& l) {
    if (!root)
        return;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const int id = controlId(w);
        if (!id)
            continue;
        const QString text = tooltipText(window, id, l);
        if (!text.isEmpty())
            w->setToolTip(text);
    }
}

void applyRibbonTooltips(Ribbon& ribbon, const Language& l) {
    applyTooltips(&ribbon, kMainWindowTips, l);
    for (QToolButton* b : ribbon.findChildren<QToolButton*>())
        if (b->objectName() == QLatin1String("AppButton"))
            b->setToolTip(tooltipText(kMainWindowTips, kAppButtonTip, l));
    QTabBar* tabs = ribbon.tabBar();
    tabs->setTabToolTip(kInputCategory,
                        l.pick("输入控制：音乐与话筒", "Input: music and microphones"));
    tabs->setTabToolTip(kOutputCategory,
                        l.pick("输出调节：各输出、延时、压限与声场定位",
                               "Output: each output, delay, compressors and speaker location"));
    QMenu* menu = ribbon.appMenu();
    menu->setToolTipsVisible(true);
    for (QAction* a : menu->actions()) {
        const QString text = tooltipText(kMainWindowTips, a->data().toInt(), l);
        if (!text.isEmpty())
            a->setToolTip(text);
    }
}

} // namespace q7
