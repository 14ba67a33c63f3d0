// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/measure_dialog.h"

#include "controls/eq_panel.h"
#include "device/connection.h"
#include "eq/eq_bank.h"
#include "eq/eq_curve.h"
#include "measure/output.h"
#include "measure/speaker_switch.h"
#include "measure/speakers.h"
#include "pages/eq_tools.h"
#include "pages/page.h"
#include "ui/editor_context.h"
#include "ui/language.h"
#include "ui/local_path.h"
#include "ui/prompter.h"
#include "ui/timeline.h"

#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPolygonF>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace q7 {

namespace {

struct SpeakerName {
    const char *zh, *en;
};
// In speakerOutputs() order.
constexpr SpeakerName kSpeakerNames[kSpeakerOutputs] = {
    {"主音箱 左", "Main left"}, {"主音箱 右", "Main right"}, {"中置", "Center"},
    {"低音炮", "Sub"},          {"环绕 左", "Rear left"},    {"环绕 右", "Rear right"},
    {"天空 左", "Top left"},    {"天空 右", "Top right"},
};

// The music sources the amplifier switches to by their codes.
struct Source {
    int code;
    const char *zh, *en;
};
constexpr Source kSources[] = {
    {3, "HDMI", "HDMI"},
    {1, "光纤/同轴 1 (SPDIF1)", "S/PDIF 1"},
    {2, "光纤/同轴 2 (SPDIF2)", "S/PDIF 2"},
    {4, "蓝牙", "Bluetooth"},
};

// How long the worker waits for the window to take a switching request, and for the link to
// hand the writes to the amplifier.
constexpr double kSwitchWaitMs = 5000;

// Between the turns in which the window takes a result: a frame, so that each is painted alone.
constexpr double kTurnMs = 16;

// The timing reference box's data besides the speakers' indices.
constexpr int kNoReference = -2;
constexpr int kLoopbackReference = -1;

QString dbText(double v, int decimals = 1) {
    return QString::number(v, 'f', decimals);
}

} // namespace

int defaultSpeakerOfBank(int bank) {
    switch (bank) {
    case 2:
        return speakerOutputIndex("sub");
    case 3:
        return speakerOutputIndex("center");
    case 4:
        return speakerOutputIndex("rear-l");
    case 11:
        return speakerOutputIndex("top-l");
    default:
        return speakerOutputIndex("main-l");
    }
}

// ---- the impulse view ----

CImpulseView::CImpulseView(bool english, QWidget* parent) : QWidget(parent), english_(english) {
    setObjectName("ImpulseView");
    setMinimumSize(240, 150);
}

void CImpulseView::setImpulse(std::vector<float> samples, std::size_t peak, double rate) {
    samples_ = std::move(samples);
    peak_ = peak;
    rate_ = rate;
    update();
}

std::vector<float> CImpulseView::window(const std::vector<float>& samples, double peak, double rate,
                                        std::size_t& peakInWindow) {
    const double at = std::clamp(peak, 0.0, double(samples.size()));
    const auto from = std::size_t(std::max(0.0, at - 0.005 * rate));
    const auto to = std::size_t(std::min(double(samples.size()), at + 0.060 * rate));
    peakInWindow = std::size_t(at) - from;
    if (from >= to)
        return {};
    return std::vector<float>(samples.begin() + std::ptrdiff_t(from),
                              samples.begin() + std::ptrdiff_t(to));
}

void CImpulseView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 24, 30));
    const QRect plot = rect().adjusted(8, 20, -8, -18);
    p.setPen(QColor(70, 80, 90));
    p.drawRect(plot);
    p.setPen(QColor(200, 200, 200));
    QFont f = font();
    f.setPointSizeF(std::max(7.0, f.pointSizeF() - 1));
    p.setFont(f);
    p.drawText(QRect(8, 2, width() - 16, 16), Qt::AlignLeft | Qt::AlignVCenter,
               english_ ? QStringLiteral("Impulse response") : QStringLiteral("脉冲响应"));
    if (samples_.empty())
        return;
    // 5 ms before the peak to 60 ms after it, scaled to the peak.
    const double before = 0.005 * rate_, after = 0.060 * rate_;
    const double from = std::max(0.0, double(peak_) - before);
    const double to = std::min(double(samples_.size()), double(peak_) + after);
    float top = 1e-12f;
    for (std::size_t i = std::size_t(from); i < std::size_t(to); ++i)
        top = std::max(top, std::abs(samples_[i]));
    const double mid = plot.center().y();
    p.setPen(QColor(70, 80, 90));
    p.drawLine(QPointF(plot.left(), mid), QPointF(plot.right(), mid));
    const double x0 = plot.left() + (double(peak_) - from) / (to - from) * plot.width();
    p.drawLine(QPointF(x0, plot.top()), QPointF(x0, plot.bottom()));
    // One vertical stroke per pixel column: its minimum to its maximum.
    p.setPen(QColor(90, 200, 255));
    const int columns = std::max(1, plot.width());
    for (int c = 0; c < columns; ++c) {
        const auto a = std::size_t(from + (to - from) * c / columns);
        const auto b = std::max(a + 1, std::size_t(from + (to - from) * (c + 1) / columns));
        float lo = 0, hi = 0;
        for (std::size_t i = a; i < b && i < samples_.size(); ++i) {
            lo = std::min(lo, samples_[i]);
            hi = std::max(hi, samples_[i]);
        }
        const double h = plot.height() / 2.0 - 2;
        p.drawLine(QPointF(plot.left() + c, mid - hi / top * h),
                   QPointF(plot.left() + c, mid - lo / top * h));
    }
    p.setPen(QColor(160, 160, 160));
    p.drawText(QRect(plot.left(), plot.bottom() + 1, plot.width(), 16), Qt::AlignRight, "60 ms");
    p.drawText(QRect(int(x0) - 20, plot.bottom() + 1, 40, 16), Qt::AlignHCenter, "0");
}

// ---- the spread, drawn over the preview graph ----

namespace {

// The position spread as a shaded band around the measurement the graph draws, in the graph's
// own coordinates (the measurement's level as the graph aligned it). The band's outline is made
// once per result or size, not per paint.
class SpreadLayer : public QWidget {
public:
    SpreadLayer(CEqPanel* graph) : QWidget(graph), graph_(graph) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        graph->installEventFilter(this);
        setGeometry(graph->rect());
    }
    void set(const FrequencyResponse& mean, const std::vector<double>& spread) {
        mean_ = mean;
        spread_ = spread;
        // One position: no band to draw.
        wide_ = std::any_of(spread_.begin(), spread_.end(), [](double v) { return v >= 0.05; });
        band_.clear();
        update();
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == graph_ && e->type() == QEvent::Resize) {
            setGeometry(graph_->rect());
            band_.clear();
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        if (!wide_ || !graph_->hasOverlay() || spread_.size() != mean_.hz.size() ||
            mean_.hz.size() < 2)
            return;
        if (band_.isEmpty())
            band_ = outline();
        if (band_.size() < 4)
            return;
        QPainter p(this);
        p.setClipRect(graph_->plotRect());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 190, 255, 70));
        p.drawPolygon(band_);
    }

private:
    CEqPanel* graph_;
    FrequencyResponse mean_;
    std::vector<double> spread_;
    bool wide_ = false;
    QPolygonF band_;

    QPolygonF outline() const {
        const QRect plot = graph_->plotRect();
        const double W = plot.width(), H = plot.height();
        auto y = [&](double v) {
            return plot.top() + H * (15.0 - std::clamp(v, -40.0, 40.0)) / 30.0;
        };
        std::vector<QPointF> upper, lower;
        for (int i = 0; i < kCurvePoints; ++i) {
            const float m = graph_->overlayMeasurementAt(i);
            if (std::isnan(m))
                continue;
            const double hz = curveFrequency(i, W);
            const auto it = std::lower_bound(mean_.hz.begin(), mean_.hz.end(), hz);
            if (it == mean_.hz.end())
                continue;
            const double half = spread_[std::size_t(it - mean_.hz.begin())] / 2;
            const double x = plot.left() + i * W / kCurvePoints;
            upper.emplace_back(x, y(m + half));
            lower.emplace_back(x, y(m - half));
        }
        QPolygonF band;
        if (upper.size() < 2)
            return band;
        band.reserve(qsizetype(upper.size() * 2));
        for (const QPointF& pt : upper)
            band << pt;
        for (auto it = lower.rbegin(); it != lower.rend(); ++it)
            band << *it;
        return band;
    }
};

} // namespace

// ---- the worker's link to the window ----

struct CMeasureDlg::Shared {
    CMeasureDlg* owner = nullptr; // read and cleared on the GUI thread only
    std::atomic<bool> stopping{false};
};

struct CMeasureDlg::Sweep {
    MeasureOutcome outcome; // its impulse response cut to the impulse view's part
    // With the last position: the average of every position (a single one with no spread).
    std::optional<AveragedResponse> result;
};

namespace {

// On the worker: what the window shows of a finished sweep, computed before it gets it.
void prepareSweep(MeasureOutcome& outcome, std::vector<FrequencyResponse> earlier, int positions,
                  AverageKind kind, std::optional<AveragedResponse>& result) {
    if (!outcome.ok())
        return;
    std::size_t peak = 0;
    outcome.ir.samples =
        CImpulseView::window(outcome.ir.samples, outcome.peak, outcome.ir.sampleRate, peak);
    outcome.peak = double(peak);
    earlier.push_back(outcome.response);
    if (int(earlier.size()) < positions)
        return;
    result = earlier.size() == 1
                 ? AveragedResponse{earlier.front(),
                                    std::vector<double>(earlier.front().hz.size(), 0.0),
                                    {}}
                 : averageResponses(earlier, kind);
}

} // namespace

// The speaker switching the worker asks for: the window sends it (its writes never wait on the
// amplifier); the worker waits until they are handed to the amplifier.
class CMeasureDlg::GuiSwitch final : public SpeakerSwitch {
public:
    GuiSwitch(std::shared_ptr<Shared> shared, Timeline& timeline, Link& link)
        : shared_(std::move(shared)), timeline_(timeline), clock_(timeline.clock()), link_(link) {}
    bool solo(const std::vector<int>& speakers) override {
        return onGui([speakers](CMeasureDlg& d) { return d.soloNow(speakers); });
    }
    bool restore() override {
        return onGui([](CMeasureDlg& d) { return d.restoreNow(); });
    }

private:
    std::shared_ptr<Shared> shared_;
    Timeline& timeline_;
    Clock& clock_;
    Link& link_;

    bool onGui(std::function<bool(CMeasureDlg&)> fn) {
        auto state = std::make_shared<std::atomic<int>>(0); // 1 done, 2 refused
        timeline_.post([shared = shared_, state, fn, &clock = clock_] {
            const bool ok = shared->owner && fn(*shared->owner);
            state->store(ok ? 1 : 2);
            clock.notify();
        });
        const double until = clock_.nowMs() + kSwitchWaitMs;
        clock_.waitUntil([&](double) { return state->load() != 0 || shared_->stopping.load(); },
                         until);
        if (state->load() != 1)
            return false;
        // The writes are queued on the link's writer; the sweep starts once they are out.
        while (!link_.handedOver() && link_.isOpen() && !shared_->stopping.load() &&
               clock_.nowMs() < until)
            clock_.waitUntil([this](double) { return shared_->stopping.load(); },
                             clock_.nowMs() + 5);
        return link_.isOpen() && !link_.readThreadEnded();
    }
};

// ---- the dialog ----

namespace {

// Closed while the amplifier is away with the other outputs muted for a measurement: the mutes
// go back once it returns, and the user is told.
void restoreOnReturn(EditorContext& editor) {
    struct Pending {
        Dsp dsp;
        int timer = 0;
        explicit Pending(EditorContext& e)
            : dsp(e.store(), e.connection().link, e.timeline().clock()) {}
    };
    auto pending = std::make_shared<Pending>(editor);
    const QString told = editor.language().pick("功放已重新连接：测量时静音的输出已恢复。",
                                                "The amplifier is back: the outputs muted for "
                                                "the measurement play again.");
    pending->timer = editor.timeline().start(200, true, [&editor, pending, told] {
        if (!editor.linkOpen() || !DspSpeakerSwitch(pending->dsp).restore())
            return;
        editor.timeline().stop(pending->timer);
        editor.ShowInfo(told, 5000);
    });
}

} // namespace

QString CMeasureDlg::t(const char* zh, const char* en) const {
    return QString::fromUtf8(english_ ? en : zh);
}

QString measureProblemText(const MeasureIssue& i, bool english) {
    auto pick = [english](const char* zh, const char* en) {
        return QString::fromUtf8(english ? en : zh);
    };
    const QString name = QString::fromStdString(i.name);
    const QString count = QString::number(int(i.value));
    switch (i.code) {
    case MeasureProblem::None:
        return {};
    case MeasureProblem::Cancelled:
        return pick("已取消", "cancelled");
    case MeasureProblem::SwitchRefused:
        return pick("功放没有接受输出切换", "the amplifier did not take the speaker switching");
    case MeasureProblem::MutesNotConfirmed:
        return pick("功放没有确认各输出的静音都已恢复",
                    "the amplifier did not confirm that every mute was put back");
    case MeasureProblem::NothingRecorded:
        return pick("什么也没有录到", "nothing was recorded");
    case MeasureProblem::ReferenceMissing:
        return pick("计时参考的扫频没有到达麦克风",
                    "the timing reference's sweep did not reach the microphone");
    case MeasureProblem::ReferencesDisagree:
        return pick("前后两次计时参考不一致（%1 ppm）：没有清楚地听到参考音箱的扫频",
                    "the two timing references disagree (%1 ppm): the reference speaker's "
                    "sweep was not heard cleanly")
            .arg(dbText(i.value, 0));
    case MeasureProblem::RecordingTooShort:
        return pick("录音太短", "the recording is too short");
    case MeasureProblem::NoLoopbackChannel:
        return pick("没有录到环回声道", "no loopback channel was recorded");
    case MeasureProblem::NothingOnLoopback:
        return pick("环回声道上没有信号", "nothing arrived on the loopback channel");
    case MeasureProblem::NoSignal:
        return pick("麦克风没有收到信号（高于噪声 %1 dB）",
                    "no signal arrived at the microphone (%1 dB over the noise)")
            .arg(dbText(i.value));
    case MeasureProblem::Clipped:
        return pick("录音削波（%1 个采样达到满刻度）：请降低电平",
                    "the recording clipped (%1 samples at full scale): lower the level")
            .arg(count);
    case MeasureProblem::LowSnr:
        return pick("信号只比噪声高 %1 dB（需要 40 dB 以上）：请提高电平",
                    "the signal is only %1 dB over the noise (40 dB or more is wanted): raise "
                    "the level")
            .arg(dbText(i.value));
    case MeasureProblem::LoopbackChannelMissing:
        return pick("录音设备只给出 %1 个声道；环回参考需要第二个声道",
                    "the recording device gave %1 channel(s); a loopback reference needs a "
                    "second one")
            .arg(count);
    case MeasureProblem::MicChannelMissing:
        return i.value < 0 ? pick("没有麦克风的声道", "the microphone's channel is missing")
                           : pick("录音设备只给出 %1 个声道；没有麦克风的声道",
                                  "the recording device gave %1 channel(s); the microphone's "
                                  "channel is missing")
                                 .arg(count);
    case MeasureProblem::CalibrationEmpty:
        return pick("没有校准数据（频率和 dB 的行）",
                    "no calibration points (lines of frequency and dB)");
    case MeasureProblem::CalibrationUnreadable:
        return pick("无法打开 %1", "cannot open %1").arg(name);
    case MeasureProblem::CalibrationTooLarge:
        return pick("%1 太大，不是校准文件", "%1 is too large for a calibration file").arg(name);
    case MeasureProblem::NoPlaybackDevice:
        return pick("没有播放设备“%1”", "no playback device \"%1\"").arg(name);
    case MeasureProblem::NoRecordingDevice:
        return pick("没有录音设备“%1”", "no recording device \"%1\"").arg(name);
    case MeasureProblem::SimulatedFormat:
        return pick("模拟设备只接受 48 kHz、一个或两个声道",
                    "the simulated devices take 48 kHz, one or two channels");
    case MeasureProblem::FormatRefused:
        return pick("音频设备不支持 %1 Hz、%2 和 %3 个声道",
                    "the devices do not take %1 Hz with %2 and %3 channels")
            .arg(count)
            .arg(i.channelsOut)
            .arg(i.channelsIn);
    case MeasureProblem::RecordingNotOpened:
        return pick("无法打开录音设备", "the recording device could not be opened");
    case MeasureProblem::PlaybackNotOpened:
        return pick("无法打开播放设备", "the playback device could not be opened");
    case MeasureProblem::RecordingFailed:
        return pick("录音设备出错", "the recording device failed");
    case MeasureProblem::PlaybackFailed:
        return pick("播放设备出错", "the playback device failed");
    case MeasureProblem::DevicesStopped:
        return pick("音频设备停止了数据传输", "the audio devices stopped delivering");
    case MeasureProblem::RoomUnreadable:
        // The room's reason names its file; the simulator's own words follow.
        return pick("无法读取模拟房间：%1", "the simulated room cannot be read: %1").arg(name);
    }
    return pick("未知错误", "an unknown fault");
}

CMeasureDlg::CMeasureDlg(EditorContext& editor, std::vector<AudioBackend*> audio, int bank,
                         CPage* page, CEqPanel* graph, QWidget* parent)
    : QDialog(parent), editor_(editor), audio_(std::move(audio)), bank_(bank), page_(page),
      pageGraph_(graph), english_(editor.language().english()),
      muteDsp_(editor.store(), editor.connection().link, editor.timeline().clock()),
      shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
    setObjectName("MeasureDialog");
    const EqBankInfo* info = eqBankInfo(bank);
    setWindowTitle(t("测量 - ", "Measure - ") +
                   (info ? QString::fromUtf8(english_ ? info->en : info->zh) : QString()));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;
    auto label = [&](const char* zh, const char* en) { return new QLabel(t(zh, en), this); };

    grid->addWidget(label("播放设备：", "Play on:"), row, 0);
    play_ = new QComboBox(this);
    play_->setObjectName("PlayDevice");
    grid->addWidget(play_, row, 1, 1, 2);
    grid->addWidget(label("录音设备：", "Record from:"), row, 3);
    record_ = new QComboBox(this);
    record_->setObjectName("RecordDevice");
    grid->addWidget(record_, row++, 4, 1, 2);
    for (std::size_t b = 0; b < audio_.size(); ++b) {
        for (const AudioDevice& d : audio_[b]->playbackDevices())
            play_->addItem(QString::fromStdString(d.name), QVariant(int(b)));
        for (const AudioDevice& d : audio_[b]->recordingDevices())
            record_->addItem(QString::fromStdString(d.name), QVariant(int(b)));
    }
    // The first back-end's default devices (the simulated amplifier's, when it is there).
    auto pickDefault = [this](QComboBox* box, bool playback) {
        for (std::size_t b = 0; b < audio_.size(); ++b) {
            const auto list =
                playback ? audio_[b]->playbackDevices() : audio_[b]->recordingDevices();
            for (const AudioDevice& d : list)
                if (d.isDefault) {
                    box->setCurrentText(QString::fromStdString(d.name));
                    return;
                }
        }
    };
    pickDefault(play_, true);
    pickDefault(record_, false);
    for (QComboBox* box : {play_, record_})
        box->setMinimumWidth(240);

    grid->addWidget(label("输入：", "Input:"), row, 0);
    input_ = new QComboBox(this);
    input_->setObjectName("Input");
    input_->addItem(t("保持当前输入", "As it is"), QVariant(-1));
    for (const Source& s : kSources)
        input_->addItem(t(s.zh, s.en), QVariant(s.code));
    grid->addWidget(input_, row, 1, 1, 2);
    grid->addWidget(label("音箱：", "Speaker:"), row, 3);
    speaker_ = new QComboBox(this);
    speaker_->setObjectName("Speaker");
    for (const SpeakerName& n : kSpeakerNames)
        speaker_->addItem(t(n.zh, n.en));
    speaker_->setCurrentIndex(std::max(0, defaultSpeakerOfBank(bank)));
    grid->addWidget(speaker_, row++, 4, 1, 2);

    grid->addWidget(label("扫频时长：", "Sweep length:"), row, 0);
    seconds_ = new QDoubleSpinBox(this);
    seconds_->setObjectName("SweepSeconds");
    seconds_->setRange(1, 20);
    seconds_->setDecimals(1);
    seconds_->setValue(3);
    seconds_->setSuffix(" s");
    grid->addWidget(seconds_, row, 1);
    grid->addWidget(label("电平：", "Level:"), row, 2, Qt::AlignRight);
    levelDb_ = new QDoubleSpinBox(this);
    levelDb_->setObjectName("SweepLevel");
    levelDb_->setRange(-60, 0);
    levelDb_->setDecimals(1);
    levelDb_->setValue(-12);
    levelDb_->setSuffix(" dBFS");
    grid->addWidget(levelDb_, row, 3);
    grid->addWidget(label("位置数：", "Positions:"), row, 4, Qt::AlignRight);
    positions_ = new QSpinBox(this);
    positions_->setObjectName("Positions");
    positions_->setRange(1, 16);
    positions_->setValue(1);
    grid->addWidget(positions_, row++, 5);

    grid->addWidget(label("麦克风校准：", "Microphone calibration:"), row, 0);
    calLabel_ = new QLabel(t("（无）", "(none)"), this);
    calLabel_->setObjectName("CalibrationFile");
    grid->addWidget(calLabel_, row, 1, 1, 2);
    calButton_ = new QPushButton(t("选择…", "Choose…"), this);
    calButton_->setObjectName("ChooseCalibration");
    grid->addWidget(calButton_, row, 3);
    // How the positions are made into one response, as the command line's --average.
    grid->addWidget(label("平均：", "Average:"), row, 4, Qt::AlignRight);
    average_ = new QComboBox(this);
    average_->setObjectName("Average");
    average_->addItem(t("功率（RMS）", "Power (RMS)"), QVariant(int(AverageKind::Power)));
    average_->addItem(t("分贝", "dB"), QVariant(int(AverageKind::Db)));
    average_->addItem(t("矢量（对齐后）", "Vector (aligned)"), QVariant(int(AverageKind::Vector)));
    average_->setToolTip(
        t("功率：房间的平均声级。分贝：各位置 dB 值的平均。矢量：各位置在峰值对齐后"
          "按幅度和相位平均，只适合彼此靠近的位置。",
          "Power: the room's average level. dB: the mean of the positions' dB "
          "values. Vector: magnitude and phase averaged after aligning each "
          "position at its peak; for positions close together."));
    grid->addWidget(average_, row, 5);
    ++row;
    grid->addWidget(label("平滑：", "Smoothing:"), row, 0);
    smoothing_ = new QComboBox(this);
    smoothing_->setObjectName("Smoothing");
    // As REW names them; "variable" suits EQ work and is the default.
    struct Kind {
        const char *id, *zh;
    };
    for (const Kind& k :
         {Kind{"variable", "可变平滑"}, Kind{"psy", "心理声学平滑"}, Kind{"1/3", "1/3 倍频程平滑"},
          Kind{"1/6", "1/6 倍频程平滑"}, Kind{"1/12", "1/12 倍频程平滑"},
          Kind{"1/24", "1/24 倍频程平滑"}, Kind{"1/48", "1/48 倍频程平滑"}}) {
        const QString rew = QString::fromStdString(Smoothing::parse(k.id)->name());
        smoothing_->addItem(english_ ? rew : QString::fromUtf8(k.zh) + " (" + rew + ")",
                            QString::fromUtf8(k.id));
    }
    grid->addWidget(smoothing_, row, 1, 1, 2);
    grid->addWidget(label("计时参考：", "Timing reference:"), row, 3);
    reference_ = new QComboBox(this);
    reference_->setObjectName("TimingReference");
    reference_->addItem(t("录音开始（同一时钟）", "Recording start (one clock)"),
                        QVariant(kNoReference));
    reference_->addItem(t("环回声道", "Loopback channel"), QVariant(kLoopbackReference));
    for (int k = 0; k < kSpeakerOutputs; ++k)
        reference_->addItem(t("声学参考：", "Acoustic from ") +
                                t(kSpeakerNames[k].zh, kSpeakerNames[k].en),
                            QVariant(k));
    reference_->setToolTip(t(
        "环回：录音设备的第二声道接回播放输出，延迟精确到采样。声学参考：每次扫频前后由参考音箱播放"
        "一段短扫频，两个设备各有时钟时，各音箱之间的到达时间差仍然准确。",
        "Loopback: the recorder's second channel wired back from the playback, the delay to the "
        "sample. Acoustic: a short sweep from the reference speaker before and after each "
        "sweep, so that the speakers' arrival times compare right on two devices with their "
        "own clocks."));
    grid->addWidget(reference_, row++, 4, 1, 2);
    layout->addLayout(grid);

    connection_ = new QLabel(this);
    connection_->setObjectName("MeasureConnection");
    connection_->setWordWrap(true);
    connection_->setStyleSheet("color: #c03030;");
    layout->addWidget(connection_);

    auto* result = new QHBoxLayout;
    preview_ = new CEqPanel(this);
    preview_->setObjectName("MeasurePreview");
    preview_->setLanguage(english_ ? 1 : 0);
    preview_->setMinimumSize(620, 280);
    preview_->setPreviewOnly();
    previewBank_ = readBank(editor.store(), bank);
    preview_->showBank(previewBank_);
    spreadLayer_ = new SpreadLayer(preview_);
    result->addWidget(preview_, 3);
    impulse_ = new CImpulseView(english_, this);
    result->addWidget(impulse_, 1);
    layout->addLayout(result, 1);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("MeasureProgress");
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);
    status_ =
        new QLabel(t("先做电平检查，再开始测量。", "Check the level first, then measure."), this);
    status_->setObjectName("MeasureStatus");
    status_->setWordWrap(true);
    status_->setMinimumHeight(status_->fontMetrics().height() * 3);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    auto button = [this](const char* zh, const char* en, const char* name, bool enabled) {
        auto* b = new QPushButton(t(zh, en), this);
        b->setObjectName(name);
        b->setEnabled(enabled);
        return b;
    };
    check_ = button("电平检查", "Check level", "CheckLevel", true);
    measure_ = button("测量", "Measure", "StartMeasure", true);
    measure_->setDefault(true);
    // Cancelling, saving and fitting wait for a run.
    cancel_ = button("取消", "Cancel", "CancelMeasure", false);
    save_ = button("保存测量…", "Save measurement…", "SaveMeasurement", false);
    autoEq_ = button("自动均衡…", "Auto EQ…", "MeasureAutoEq", false);
    close_ = button("关闭", "Close", "CloseMeasure", true);
    for (QPushButton* b : {check_, measure_, cancel_})
        buttons->addWidget(b);
    buttons->addStretch();
    for (QPushButton* b : {save_, autoEq_, close_})
        buttons->addWidget(b);
    layout->addLayout(buttons);

    connect(calButton_, &QPushButton::clicked, this, &CMeasureDlg::chooseCalibration);
    connect(check_, &QPushButton::clicked, this, &CMeasureDlg::startLevelCheck);
    connect(measure_, &QPushButton::clicked, this, &CMeasureDlg::startSweep);
    connect(cancel_, &QPushButton::clicked, this, &CMeasureDlg::cancelRun);
    connect(save_, &QPushButton::clicked, this, &CMeasureDlg::saveMeasurement);
    connect(autoEq_, &QPushButton::clicked, this, &CMeasureDlg::openAutoEq);
    connect(close_, &QPushButton::clicked, this, &CMeasureDlg::reject);
    // A new position count starts the average again.
    connect(positions_, &QSpinBox::valueChanged, this, [this] {
        if (!busy() && !responses_.empty() && result_.mean.empty()) {
            responses_.clear();
            measure_->setText(t("测量", "Measure"));
        }
    });
    // The simulated devices have a loopback channel; real ones are timed from the recording
    // until the user says otherwise.
    auto suggestReference = [this] {
        reference_->setCurrentIndex(reference_->findData(
            play_->currentText() == "Simulated amplifier input" ? kLoopbackReference
                                                                : kNoReference));
    };
    connect(play_, &QComboBox::currentIndexChanged, this, [this, suggestReference] {
        suggestReference();
        updateAvailability();
    });
    connect(record_, &QComboBox::currentIndexChanged, this, [this] { updateAvailability(); });
    suggestReference();

    // The amplifier comes and goes: whether a measurement can start, and a run that loses it
    // stops.
    watchTimer_ = editor_.timeline().start(200, true, [this] { showAvailability(); });
    updateAvailability();
}

CMeasureDlg::~CMeasureDlg() {
    editor_.timeline().stop(watchTimer_);
    // Closed before the page's graph took the result: it takes it now.
    if (pageTimer_ || turnTimer_) {
        stopTimer(pageTimer_);
        stopTimer(turnTimer_);
        showOnPage();
    }
    shared_->owner = nullptr;
    shared_->stopping = true;
    stop_ = true;
    editor_.timeline().clock().notify();
    if (worker_ || ended_) {
        // The worker may be waiting on the clock: this thread does not hold time back meanwhile.
        Clock::Idle idle(editor_.timeline().clock());
        for (auto* t : {worker_.get(), ended_.get()})
            if (t && t->joinable())
                t->join();
    }
    // Closed in the middle of a run: the window puts back what the worker could not, now or
    // when the amplifier is back.
    if (switched_ && !restoreNow())
        restoreOnReturn(editor_);
    if (previousSource_ >= 0 && editor_.linkOpen())
        editor_.connection().commands.switchSource(previousSource_);
}

void CMeasureDlg::updateAvailability() {
    sweepLook_ = false;
    showAvailability();
}

void CMeasureDlg::showAvailability() {
    const bool connected = editor_.linkOpen();
    // Mutes the amplifier could not take back while it was away go back once it is here.
    if (!busy() && switched_ && connected)
        restoreNow();
    if (busy() && !connected && !lost_) {
        lost_ = true;
        stop_ = true;
        editor_.timeline().clock().notify();
    }
    QString why;
    if (!connected)
        why = t("未连接功放：连接功放（或以 --simulator 启动模拟功放）后才能测量。",
                "No amplifier connected: measuring needs the amplifier (or the simulator, "
                "--simulator) on USB.");
    else if (play_->count() == 0 || record_->count() == 0)
        why = t("没有可用的音频设备。", "No audio devices were found.");
    else if (play_->currentData() != record_->currentData())
        why = t("模拟设备只能一起使用：播放和录音都选模拟设备，或都选真实设备。",
                "Play and record on the simulated devices together, or on real ones.");
    connection_->setText(why);
    connection_->setVisible(!why.isEmpty());
    // A screenshot of a sweep keeps the look of one while nothing runs.
    const bool running = busy() || sweepLook_;
    const bool can = why.isEmpty() && !running;
    check_->setEnabled(can);
    measure_->setEnabled(can);
    cancel_->setEnabled(running);
    for (QWidget* w :
         std::initializer_list<QWidget*>{play_, record_, input_, speaker_, seconds_, levelDb_,
                                         positions_, reference_, calButton_, smoothing_, average_})
        w->setEnabled(!running);
    save_->setEnabled(!running && !result_.mean.empty());
    autoEq_->setEnabled(!running && !result_.mean.empty());
}

bool CMeasureDlg::pickDevices(AudioBackend*& backend, MeasureDevices& devices, QString& why) const {
    const int b = play_->currentData().toInt();
    if (play_->count() == 0 || record_->count() == 0 || b < 0 || b >= int(audio_.size()) ||
        record_->currentData().toInt() != b) {
        why = t("请选择播放和录音设备。", "Choose the playback and recording devices.");
        return false;
    }
    backend = audio_[std::size_t(b)];
    devices.play = play_->currentText().toStdString();
    devices.record = record_->currentText().toStdString();
    for (const AudioDevice& d : backend->recordingDevices())
        if (d.name == devices.record)
            devices.recordChannels = std::clamp(d.channels, 1, 2);
    for (const AudioDevice& d : backend->playbackDevices())
        if (d.name == devices.play)
            devices.playChannels = std::clamp(d.channels, 1, 2);
    if (reference_->currentData().toInt() == kLoopbackReference && devices.recordChannels < 2) {
        why = t("录音设备只有一个声道：环回计时需要两个。",
                "The recording device has one channel: loopback timing needs two.");
        return false;
    }
    return true;
}

MeasureSetup CMeasureDlg::setup() const {
    MeasureSetup s;
    s.sweep.seconds = seconds_->value();
    s.sweep.levelDbfs = levelDb_->value();
    s.speaker = speaker_->currentIndex();
    const int ref = reference_->currentData().toInt();
    s.reference = ref == kLoopbackReference ? TimingReference::Loopback
                  : ref >= 0                ? TimingReference::Acoustic
                                            : TimingReference::None;
    s.referenceSpeaker = std::max(ref, 0);
    s.calibration = calibration_;
    if (const auto sm = Smoothing::parse(smoothing_->currentData().toString().toStdString()))
        s.analysis.smoothing = *sm;
    return s;
}

std::optional<ChosenCalibration> askMicCalibration(QWidget* parent, Prompter& prompter,
                                                   bool english) {
    auto t = [english](const char* zh, const char* en) {
        return QString::fromUtf8(english ? en : zh);
    };
    const QString path =
        prompter.openFile(parent, t("校准文件 (*.txt *.cal *.frd);;所有文件 (*)",
                                    "Calibration files (*.txt *.cal *.frd);;All files (*)"));
    if (path.isEmpty())
        return std::nullopt;
    MicCalibration cal = readMicCalibration(path.toStdString());
    if (!cal.ok()) {
        prompter.tell(parent, BoxIcon::Error, t("信息", "Information"),
                      QFileInfo(path).fileName() + ": " +
                          t("不是麦克风校准文件", "not a microphone calibration file") + " (" +
                          measureProblemText(cal.problem, english) + ")");
        return std::nullopt;
    }
    return ChosenCalibration{path, std::move(cal)};
}

void CMeasureDlg::chooseCalibration() {
    std::optional<ChosenCalibration> chosen = askMicCalibration(this, editor_.prompter(), english_);
    if (!chosen)
        return;
    calibration_ = std::move(chosen->calibration);
    calibrationPath_ = chosen->path;
    QString text = QFileInfo(chosen->path).fileName();
    if (calibration_->dbfsAt94)
        text += t("（含灵敏度：读数为 dB SPL）", " (with its sensitivity: readings in dB SPL)");
    calLabel_->setText(text);
}

bool CMeasureDlg::begin(Stage stage, AudioBackend*& backend, MeasureDevices& devices) {
    updateAvailability();
    if (busy() || !check_->isEnabled())
        return false;
    QString why;
    if (!pickDevices(backend, devices, why)) {
        status_->setText(why);
        return false;
    }
    stage_ = stage;
    lost_ = false;
    stop_ = false;
    progress_->setValue(0);
    // The input the amplifier listens to, for the run only (the store keeps the user's).
    const int source = input_->currentData().toInt();
    const int now = editor_.store().cellInt(cell::MusicSource);
    if (source >= 0 && source != now) {
        editor_.connection().commands.switchSource(source);
        previousSource_ = now;
    }
    updateAvailability();
    return true;
}

void CMeasureDlg::runWorker(std::function<void()> work) {
    Clock& clock = editor_.timeline().clock();
    if (ended_) {
        // It told its end a run ago: long gone, nothing to wait for.
        Clock::Idle idle(clock);
        ended_->join();
        ended_.reset();
    }
    clock.reserveParticipant();
    worker_ = std::make_unique<std::thread>([&clock, work = std::move(work)] {
        Clock::Participant participant(clock, Clock::Participant::Reserved{});
        work();
    });
}

void CMeasureDlg::onProgress(double fraction) {
    progress_->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
}

// A progress callback that hands the window a new value only when it moved a step.
static std::function<void(double)> progressTo(Timeline& timeline,
                                              std::function<void(double)> show) {
    auto last = std::make_shared<int>(-1);
    return [&timeline, show, last](double f) {
        const int step = int(f * 200);
        if (step == *last)
            return;
        *last = step;
        timeline.post([show, f] { show(f); });
    };
}

void CMeasureDlg::startLevelCheck() {
    AudioBackend* backend = nullptr;
    MeasureDevices devices;
    if (!begin(Stage::Checking, backend, devices))
        return;
    status_->setText(t("电平检查：播放一段噪声……", "Level check: playing a burst of noise…"));
    LevelCheckSetup ls;
    ls.levelDbfs = levelDb_->value();
    const int speaker = speaker_->currentIndex();
    Timeline& timeline = editor_.timeline();
    auto shared = shared_;
    PlayRecordCallbacks cb;
    cb.cancel = &stop_;
    cb.progress = progressTo(timeline, [shared](double f) {
        if (shared->owner)
            shared->owner->onProgress(f);
    });
    runWorker([this, backend, devices, ls, speaker, cb, shared, &timeline] {
        GuiSwitch sw(shared, timeline, editor_.connection().link);
        MeasureIssue error;
        LevelCheck level = checkLevel(*backend, &sw, speaker, ls, devices, cb, error);
        if (stop_)
            error = {MeasureProblem::Cancelled};
        timeline.post([shared, level, error] {
            if (shared->owner)
                shared->owner->endLevelCheck(level, error);
        });
    });
}

void CMeasureDlg::startSweep() {
    // A finished average starts again.
    if (!result_.mean.empty()) {
        responses_.clear();
        warnings_.clear();
        result_ = {};
    }
    AudioBackend* backend = nullptr;
    MeasureDevices devices;
    if (!begin(Stage::Sweeping, backend, devices))
        return;
    const MeasureSetup s = setup();
    lastSetup_ = s;
    const int n = positions_->value();
    status_->setText(n > 1 ? t("扫频中：位置 %1 / %2……", "Sweeping: position %1 of %2…")
                                 .arg(responses_.size() + 1)
                                 .arg(n)
                           : t("扫频中……", "Sweeping…"));
    Timeline& timeline = editor_.timeline();
    auto shared = shared_;
    PlayRecordCallbacks cb;
    cb.cancel = &stop_;
    cb.progress = progressTo(timeline, [shared](double f) {
        if (shared->owner)
            shared->owner->onProgress(f);
    });
    const auto kind = AverageKind(average_->currentData().toInt());
    averaged_ = kind;
    runWorker([this, backend, devices, s, cb, shared, &timeline, earlier = responses_, n, kind] {
        GuiSwitch sw(shared, timeline, editor_.connection().link);
        auto sweep = std::make_shared<Sweep>();
        sweep->outcome = measure(*backend, &sw, s, devices, cb);
        if (stop_ && sweep->outcome.ok())
            sweep->outcome.fail({MeasureProblem::Cancelled});
        prepareSweep(sweep->outcome, earlier, n, kind, sweep->result);
        timeline.post([shared, sweep] {
            if (shared->owner)
                shared->owner->endSweep(std::move(*sweep));
        });
    });
}

void CMeasureDlg::cancelRun() {
    if (!busy())
        return;
    stop_ = true;
    editor_.timeline().clock().notify();
    status_->setText(t("正在取消……", "Cancelling…"));
}

void CMeasureDlg::reject() {
    if (busy()) {
        closeWhenDone_ = true;
        cancelRun();
        return;
    }
    QDialog::reject();
}

void CMeasureDlg::finishRun() {
    // The worker's last act was to hand over its result; it is joined later, so that the
    // window never waits for it to leave on a loaded machine.
    ended_ = std::move(worker_);
    if (previousSource_ >= 0) {
        if (editor_.linkOpen())
            editor_.connection().commands.switchSource(previousSource_);
        previousSource_ = -1;
    }
    stage_ = Stage::Idle;
    updateAvailability();
}

QString CMeasureDlg::failureText(const MeasureIssue& error) const {
    if (lost_)
        return t("功放已断开，测量停止。重新连接后，编辑器会恢复各输出的静音设置。",
                 "The amplifier went away; the measurement stopped. Once it is back, the "
                 "editor puts every mute back.");
    if (error.code == MeasureProblem::Cancelled)
        return t("已取消。各输出的静音已恢复。", "Cancelled. Every mute is back as it was.");
    if (error.code == MeasureProblem::SwitchRefused)
        return t("功放没有接受输出切换。", "The amplifier did not take the speaker switching.");
    return t("测量失败：", "The measurement failed: ") + measureProblemText(error, english_);
}

void CMeasureDlg::endLevelCheck(LevelCheck level, MeasureIssue error) {
    finishRun();
    progress_->setValue(error.empty() ? 1000 : 0);
    if (!error.empty()) {
        status_->setText(failureText(error));
    } else {
        level_ = level;
        showLevelForScreenshot(level);
    }
    emit finished();
    if (closeWhenDone_)
        QDialog::reject();
}

void CMeasureDlg::showLevelForScreenshot(const LevelCheck& l) {
    level_ = l;
    progress_->setValue(1000);
    QString advice;
    switch (l.advice) {
    case LevelCheck::Advice::Good:
        advice = t("电平合适，可以开始测量。", "The level is good: measure now.");
        break;
    case LevelCheck::Advice::Louder:
        advice = t("太小声：调高功放音量或扫频电平。",
                   "Too quiet: raise the amplifier's volume or the sweep level.");
        break;
    case LevelCheck::Advice::Softer:
        advice = t("太大声：调低功放音量或扫频电平，以免削波。",
                   "Too loud: lower the amplifier's volume or the sweep level, or it will clip.");
        break;
    case LevelCheck::Advice::NoSignal:
        advice = t("麦克风没有收到信号：检查输入、音箱和麦克风。",
                   "The microphone heard nothing: check the input, the speaker and the "
                   "microphone.");
        break;
    }
    const QString figures =
        l.advice == LevelCheck::Advice::NoSignal
            ? QString()
            : t("麦克风电平 %1 dBFS，峰值 %2 dBFS，余量 %3 dB，信噪比 %4 dB。",
                "At the microphone %1 dBFS, peak %2 dBFS, headroom %3 dB, signal to noise "
                "%4 dB.")
                  .arg(dbText(l.levelDbfs), dbText(l.peakDbfs), dbText(l.headroomDb),
                       dbText(l.snrDb));
    status_->setText(figures.isEmpty() ? advice : figures + "\n" + advice);
}

void CMeasureDlg::showProgressForScreenshot(double fraction) {
    sweepLook_ = true; // only the look: nothing runs
    onProgress(fraction);
    status_->setText(t("扫频中……", "Sweeping…"));
    showAvailability();
}

void CMeasureDlg::endSweep(Sweep sweep) {
    if (!sweep.outcome.ok()) {
        finishRun();
        progress_->setValue(0);
        status_->setText(failureText(sweep.outcome.problem));
        emit finished();
        if (closeWhenDone_)
            QDialog::reject();
        return;
    }
    last_ = std::move(sweep.outcome);
    responses_.push_back(last_.response);
    for (const MeasureIssue& w : last_.notes)
        warnings_.push_back(w);
    if (!sweep.result) {
        finishRun();
        status_->setText(t("位置 %1 完成。把麦克风移到位置 %2，然后按“测量”。",
                           "Position %1 done. Move the microphone to position %2, then press "
                           "Measure.")
                             .arg(responses_.size())
                             .arg(responses_.size() + 1));
        measure_->setText(t("测量位置 %1", "Measure position %1").arg(responses_.size() + 1));
        emit finished();
        return;
    }
    result_ = std::move(*sweep.result);
    // The window takes the result in three turns, each repainting only its part: the graphs
    // here, while the controls still show the run; the controls and the figures next; the
    // page's graph last.
    showGraphs();
    turnTimer_ = editor_.timeline().start(kTurnMs, false, [this] {
        turnTimer_ = 0;
        finishRun();
        measure_->setText(t("测量", "Measure"));
        showSummary();
        showOnPageLater();
        emit finished();
        if (closeWhenDone_)
            QDialog::reject();
    });
}

void CMeasureDlg::showResultForScreenshot(const AveragedResponse& result, const ImpulseResponse& ir,
                                          double peak) {
    result_ = result;
    last_ = {};
    std::size_t at = 0;
    last_.ir.samples = CImpulseView::window(ir.samples, peak, ir.sampleRate, at);
    last_.ir.sampleRate = ir.sampleRate;
    last_.peak = double(at);
    last_.delayMs = 0;
    last_.quality.snrDb = 62;
    // As many positions as the spread was made from.
    const bool spread =
        std::any_of(result.spreadDb.begin(), result.spreadDb.end(), [](double v) { return v > 0; });
    responses_.assign(spread ? 3 : 1, result.mean);
    showResult();
}

void CMeasureDlg::showResult() {
    showGraphs();
    showSummary();
    stopTimer(pageTimer_);
    showOnPage();
}

void CMeasureDlg::showGraphs() {
    progress_->setValue(1000);
    ResponseCurve curve{result_.mean.hz, result_.mean.db};
    const QString name =
        speaker_->currentText() + " " + QDateTime::currentDateTime().toString("HH:mm") +
        (responses_.size() > 1 ? t("（%1 个位置）", " (%1 positions)").arg(responses_.size())
                               : QString());
    const BankOverlay* old = editor_.eqOverlays().find(bank_);
    editor_.eqOverlays().set(
        bank_, BankOverlay{curve, old ? old->target : Target{}, name, QString(), 20, 20000});
    // The result shows over this dialog's graph and the page's, which follows the bands live.
    // The preview's band curves are made again only when the bands changed since.
    EqBankState bands = readBank(editor_.store(), bank_);
    if (bands != previewBank_) {
        preview_->showBank(bands);
        previewBank_ = std::move(bands);
    }
    showOverlay(editor_.eqOverlays(), preview_);
    static_cast<SpreadLayer*>(spreadLayer_)->set(result_.mean, result_.spreadDb);
    impulse_->setImpulse(last_.ir.samples,
                         std::size_t(std::clamp(last_.peak, 0.0, double(last_.ir.samples.size()))),
                         last_.ir.sampleRate);
}

void CMeasureDlg::showSummary() {
    double spreadMax = 0;
    for (double s : result_.spreadDb)
        spreadMax = std::max(spreadMax, s);
    QString text =
        t("测量完成：延迟 %1 ms，信噪比 %2 dB", "Measured: delay %1 ms, signal to noise %2 dB")
            .arg(dbText(last_.delayMs, 2), dbText(last_.quality.snrDb));
    if (last_.thdPercent1k >= 0)
        text += t("，1 kHz 失真 %1 %", ", THD at 1 kHz %1 %").arg(dbText(last_.thdPercent1k, 2));
    if (responses_.size() > 1)
        text += spreadMax >= 0.05
                    ? t("；%1 个位置的平均，最大差异 %2 dB（阴影）",
                        "; the average of %1 positions, spread up to %2 dB (shaded)")
                          .arg(responses_.size())
                          .arg(dbText(spreadMax))
                    : t("；%1 个位置的平均，各位置相同", "; the average of %1 positions, all alike")
                          .arg(responses_.size());
    text += t("。", ".");
    for (const MeasureIssue& w : warnings_)
        text += "\n" + t("注意：", "Note: ") + measureProblemText(w, english_);
    status_->setText(text);
    updateAvailability();
}

void CMeasureDlg::showOnPageLater() {
    stopTimer(pageTimer_);
    pageTimer_ = editor_.timeline().start(50, false, [this] {
        pageTimer_ = 0;
        showOnPage();
    });
}

void CMeasureDlg::stopTimer(int& id) {
    if (id)
        editor_.timeline().stop(id);
    id = 0;
}

void CMeasureDlg::showOnPage() {
    if (pageGraph_)
        showOverlay(editor_.eqOverlays(), pageGraph_);
}

void CMeasureDlg::saveMeasurement() {
    if (result_.mean.empty())
        return;
    const int sp = speaker_->currentIndex();
    const QString id = QString::fromUtf8(speakerOutputs()[std::size_t(std::clamp(sp, 0, 7))].id);
    const QString path = editor_.prompter().saveFile(
        this, t("REW 文本 (*.txt)", "REW text (*.txt)"), id + ".txt", "txt");
    if (path.isEmpty())
        return;
    std::vector<std::string> header = {
        "Measurement data measured by q7edit",
        "Source: " + play_->currentText().toStdString() + " -> " +
            record_->currentText().toStdString() + ", speaker " + id.toStdString(),
        "Format: " + lastSetup_.analysis.smoothing.name() + ", frequency step 1/48 octave",
        "Dated: " + QDateTime::currentDateTime().toString("MMM dd, yyyy HH:mm:ss").toStdString(),
        "Sweep: " + QString::number(lastSetup_.sweep.seconds, 'f', 1).toStdString() + " s at " +
            QString::number(lastSetup_.sweep.levelDbfs, 'f', 1).toStdString() + " dBFS",
        "Calibration: " +
            (calibrationPath_.isEmpty() ? std::string("none") : calibrationPath_.toStdString()),
    };
    if (responses_.size() > 1)
        header.push_back("Average: " + std::to_string(responses_.size()) + " positions, " +
                         averageKindName(averaged_));
    const std::string text = rewText(result_.mean, header);
    const WriteResult w = editor_.files().write(encodeLocalPath(path), text);
    if (!w) {
        tellWriteFailure(editor_.prompter(), editor_.language(), this, path, w);
        return;
    }
    if (const BankOverlay* o = editor_.eqOverlays().find(bank_)) {
        BankOverlay kept = *o;
        kept.path = path;
        kept.name = QFileInfo(path).fileName();
        editor_.eqOverlays().set(bank_, kept);
    }
    editor_.ShowInfo(t("测量已保存", "Measurement saved"), 1500);
}

void CMeasureDlg::openAutoEq() {
    if (result_.mean.empty())
        return;
    auto* dlg = new CAutoEqDlg(page_, editor_, bank_, this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowModality(Qt::WindowModal);
    // After Apply the bands changed: this graph shows them.
    connect(dlg, &QDialog::accepted, this, [this] {
        previewBank_ = readBank(editor_.store(), bank_);
        preview_->showBank(previewBank_);
        showOverlay(editor_.eqOverlays(), preview_);
        if (pageGraph_)
            showOverlay(editor_.eqOverlays(), pageGraph_);
    });
    dlg->show();
}

bool CMeasureDlg::soloNow(const std::vector<int>& speakers) {
    if (!editor_.linkOpen())
        return false;
    switched_ = true;
    return DspSpeakerSwitch(muteDsp_).solo(speakers);
}

bool CMeasureDlg::restoreNow() {
    if (!editor_.linkOpen())
        return false; // kept: put back when the amplifier is there again
    switched_ = false;
    return DspSpeakerSwitch(muteDsp_).restore();
}

CMeasureDlg* openMeasure(EditorContext& editor, int bank, CPage* page, CEqPanel* graph,
                         QWidget* parent) {
    auto* dlg = new CMeasureDlg(editor, editor.audioBackends(), bank, page, graph, parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowModality(Qt::WindowModal);
    dlg->show();
    return dlg;
}

} // namespace q7
