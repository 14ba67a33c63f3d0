// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/tune_dialog.h"

#include "device/connection.h"
#include "measure/audio.h"
#include "measure/calibration.h"
#include "measure/speakers.h"
#include "pages/measure_dialog.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/store.h"
#include "protocol/clock.h"
#include "tune/apply.h"
#include "tune/link_switch.h"
#include "ui/editor_context.h"
#include "ui/language.h"
#include "ui/prompter.h"
#include "ui/timeline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <tuple>

namespace q7 {

namespace {

// The chart's least size; it grows with the window.
constexpr int kChartW = 600, kChartH = 220;

// As the delay page names them.
const char* const kSpeakerZh[kSpeakerOutputs] = {"前置左", "前置右", "中置",   "超低",
                                                 "后置左", "后置右", "顶置左", "顶置右"};
const char* const kSpeakerEn[kSpeakerOutputs] = {"Main L", "Main R", "Center", "Sub",
                                                 "Rear L", "Rear R", "Top L",  "Top R"};

// The results and the check tabs: a summary, a table, and the chart chosen beside the tab's
// button. The widgets are named prefix + "Summary", "ChartChoice" and "Chart"; they are made in
// the order the Tab key visits them.
struct ResultTab {
    QLabel* summary;
    QLabel* notes;
    QTableWidget* table;
    QComboBox* choice;
    QLabel* chart;
    QPushButton* button;
    auto widgets() const { return std::tuple(summary, notes, table, choice, chart, button); }
};

ResultTab buildResultTab(QWidget* page, const QString& prefix, const QString& tableName,
                         const QStringList& columns, const QString& buttonText,
                         const QString& buttonName) {
    ResultTab tab;
    auto* v = new QVBoxLayout(page);
    tab.summary = new QLabel(page);
    tab.summary->setObjectName(prefix + "Summary");
    tab.summary->setWordWrap(true);
    v->addWidget(tab.summary);
    tab.table = new QTableWidget(page);
    tab.table->setObjectName(tableName);
    tab.table->setColumnCount(int(columns.size()));
    tab.table->setHorizontalHeaderLabels(columns);
    tab.table->verticalHeader()->setVisible(false);
    tab.table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tab.table->horizontalHeader()->setStretchLastSection(true);
    tab.table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every speaker's row without scrolling.
    tab.table->setMinimumHeight(tab.table->horizontalHeader()->sizeHint().height() +
                                kSpeakerOutputs *
                                    tab.table->verticalHeader()->defaultSectionSize() +
                                2 * tab.table->frameWidth() + 2);
    tab.table->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    tab.table->setMaximumHeight(tab.table->minimumHeight());
    // The notes beside the table, a bulleted list that scrolls when long.
    tab.notes = new QLabel(page);
    tab.notes->setObjectName(prefix + "Notes");
    tab.notes->setWordWrap(true);
    tab.notes->setTextFormat(Qt::RichText);
    tab.notes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(prefix + "NotesArea");
    scroll->setWidget(tab.notes);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMaximumHeight(tab.table->minimumHeight());
    auto* row = new QHBoxLayout;
    row->addWidget(tab.table, 3);
    row->addWidget(scroll, 2);
    v->addLayout(row);
    tab.choice = new QComboBox(page);
    tab.choice->setObjectName(prefix + "ChartChoice");
    tab.chart = new QLabel(page);
    tab.chart->setObjectName(prefix + "Chart");
    // Grows with the window; drawn again at its size.
    tab.chart->setMinimumSize(kChartW, kChartH);
    tab.chart->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    tab.chart->setAlignment(Qt::AlignCenter);
    tab.button = new QPushButton(buttonText, page);
    tab.button->setObjectName(buttonName);
    auto* h = new QHBoxLayout;
    h->addWidget(tab.choice, 1);
    h->addSpacing(24);
    h->addWidget(tab.button);
    v->addLayout(h);
    v->addWidget(tab.chart, 1);
    return tab;
}

QTableWidgetItem* tableItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    return item;
}

// A row at the end of a results table, named for its speaker; its number.
int addSpeakerRow(QTableWidget* table, const QString& speaker) {
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, tableItem(speaker));
    return row;
}

// The charts a choice box offers, by title, each with its file; quietly, so that the chart shown
// is drawn once, after.
void listCharts(QComboBox* choice, const std::vector<Chart>& charts) {
    choice->blockSignals(true);
    choice->clear();
    for (const Chart& c : charts)
        choice->addItem(QString::fromStdString(c.title), QString::fromStdString(c.file));
    choice->blockSignals(false);
}

// Notes as a bulleted list, each a sentence.
QString noteList(const std::vector<Note>& notes, bool english) {
    if (notes.empty())
        return {};
    QString html = "<ul style=\"margin-left:0px;-qt-list-indent:1\">";
    for (const Note& n : notes)
        html += "<li>" + QString::fromStdString(noteSentence(n, english)).toHtmlEscaped() + "</li>";
    return html + "</ul>";
}

// The speaker switch the sweeps use, telling who plays as each speaker's sweep begins.
class ReportingSwitch final : public SpeakerSwitch {
public:
    ReportingSwitch(SpeakerSwitch& inner, std::function<void(int)> playing)
        : inner_(inner), playing_(std::move(playing)) {}
    bool solo(const std::vector<int>& speakers) override {
        if (speakers.size() == 1)
            playing_(speakers.front());
        return inner_.solo(speakers);
    }
    bool restore() override { return inner_.restore(); }

private:
    SpeakerSwitch& inner_;
    std::function<void(int)> playing_;
};

QString number(double v, int decimals, const char* unit) {
    // No "-0.00": what rounds to zero reads as zero.
    const double step = std::pow(10.0, -decimals);
    if (std::abs(v) < step / 2)
        v = 0;
    return QString::number(v, 'f', decimals) + QString::fromUtf8(unit);
}

} // namespace

QString CTuneDlg::tr2(const char* zh, const char* en) const {
    return QString::fromUtf8(english_ ? en : zh);
}

QString CTuneDlg::speakerName(int speaker) const {
    return QString::fromUtf8(english_ ? kSpeakerEn[speaker] : kSpeakerZh[speaker]);
}

CTuneDlg::CTuneDlg(EditorContext& editor, TuneServices services, QWidget* parent)
    : QDialog(parent), editor_(editor), services_(std::move(services)),
      english_(editor.language().english()) {
    setObjectName("TuneDialog");
    setWindowTitle(tr2("房间调校", "Tune room"));
    auto* layout = new QVBoxLayout(this);
    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_);
    for (int i = 0; i < 4; ++i)
        pages_->addWidget(new QWidget(pages_));
    buildSetup(pages_->widget(Setup));
    buildMeasure(pages_->widget(Measure));
    buildResults(pages_->widget(Results));
    buildCheck(pages_->widget(Check));

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton(tr2("< 返回设置", "< Back to set-up"), this);
    back_->setObjectName("TuneBack");
    close_ = new QPushButton(tr2("关闭", "Close"), this);
    close_->setObjectName("TuneClose");
    buttons->addWidget(back_);
    buttons->addStretch();
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    back_->setVisible(false);
    connect(back_, &QPushButton::clicked, this, [this] {
        pages_->setCurrentIndex(Setup);
        back_->setVisible(false);
    });
    connect(close_, &QPushButton::clicked, this, &CTuneDlg::reject);
    pages_->setCurrentIndex(Setup);
    listDevices();
}

CTuneDlg::~CTuneDlg() {
    if (mutesTimer_)
        editor_.timeline().stop(mutesTimer_);
    cancelled_ = true;
    answerPlacement(-1);
    if (worker_ && worker_->joinable()) {
        Clock::Idle idle(editor_.connection().clock);
        worker_->join();
    }
}

CTuneDlg::Step CTuneDlg::step() const {
    return Step(pages_->currentIndex());
}

void CTuneDlg::buildSetup(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* intro = new QLabel(
        tr2("每个音箱在每个听音位置单独播放扫频（其余输出静音，结束后恢复）。"
            "第一个位置是主座位。计算结果在发送前显示，可作为一步撤销。",
            "Each speaker plays a sweep alone at each listening position (the other outputs "
            "muted, and put back afterwards). The first position is the main seat. The "
            "result is shown before anything is sent, and undoes as one step."),
        page);
    intro->setWordWrap(true);
    v->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr2("音箱", "Speaker"), page), 0, 0);
    grid->addWidget(new QLabel(tr2("最低频率", "Lowest frequency"), page), 0, 1);
    grid->addWidget(new QLabel(tr2("最高频率", "Highest frequency"), page), 0, 2);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        auto* box = new QCheckBox(speakerName(k), page);
        box->setObjectName(QString("TuneSpeaker_%1").arg(speakerOutputs()[std::size_t(k)].id));
        box->setChecked(true);
        auto* lo = new QSpinBox(page);
        auto* hi = new QSpinBox(page);
        lo->setObjectName(QString("TuneLow_%1").arg(speakerOutputs()[std::size_t(k)].id));
        hi->setObjectName(QString("TuneHigh_%1").arg(speakerOutputs()[std::size_t(k)].id));
        lo->setRange(0, 2000);
        hi->setRange(0, 20000);
        for (QSpinBox* s : {lo, hi}) {
            s->setSpecialValueText(tr2("自动", "auto"));
            s->setSuffix(" Hz");
            s->setMinimumWidth(110);
        }
        connect(box, &QCheckBox::toggled, lo, &QWidget::setEnabled);
        connect(box, &QCheckBox::toggled, hi, &QWidget::setEnabled);
        speakers_[std::size_t(k)] = box;
        low_[std::size_t(k)] = lo;
        high_[std::size_t(k)] = hi;
        grid->addWidget(box, k + 1, 0);
        grid->addWidget(lo, k + 1, 1);
        grid->addWidget(hi, k + 1, 2);
    }
    detect_ = new QPushButton(tr2("检测连接的音箱", "Detect speakers"), page);
    detect_->setObjectName("TuneDetect");
    grid->addWidget(detect_, kSpeakerOutputs + 1, 0);
    grid->setRowStretch(kSpeakerOutputs + 2, 1);

    auto* form = new QGridLayout;
    int row = 0;
    form->addWidget(new QLabel(tr2("听音位置：", "Listening positions:"), page), row, 0);
    positions_ = new QSpinBox(page);
    positions_->setObjectName("TunePositions");
    positions_->setRange(1, kMaxTunePositions);
    positions_->setValue(1);
    form->addWidget(positions_, row++, 1);
    form->addWidget(new QLabel(tr2("目标曲线：", "Target:"), page), row, 0);
    target_ = new QComboBox(page);
    target_->setObjectName("TuneTarget");
    target_->addItems({tr2("平直", "Flat"), tr2("房间曲线", "House curve")});
    form->addWidget(target_, row++, 1);
    form->addWidget(new QLabel(tr2("最大总提升：", "Maximum total boost:"), page), row, 0);
    maxBoost_ = new QDoubleSpinBox(page);
    maxBoost_->setObjectName("TuneMaxBoost");
    maxBoost_->setRange(0, kBandGainMaxDb);
    maxBoost_->setDecimals(1);
    maxBoost_->setValue(6.0);
    maxBoost_->setSuffix(" dB");
    form->addWidget(maxBoost_, row++, 1);
    form->addWidget(new QLabel(tr2("扫频长度：", "Sweep length:"), page), row, 0);
    sweepSeconds_ = new QDoubleSpinBox(page);
    sweepSeconds_->setObjectName("TuneSweepSeconds");
    sweepSeconds_->setRange(1, 20);
    sweepSeconds_->setDecimals(0);
    sweepSeconds_->setValue(3);
    sweepSeconds_->setSuffix(tr2(" 秒", " s"));
    form->addWidget(sweepSeconds_, row++, 1);
    form->addWidget(new QLabel(tr2("播放设备：", "Playback:"), page), row, 0);
    play_ = new QComboBox(page);
    play_->setObjectName("TunePlayDevice");
    form->addWidget(play_, row++, 1);
    form->addWidget(new QLabel(tr2("录音设备：", "Recording:"), page), row, 0);
    record_ = new QComboBox(page);
    record_->setObjectName("TuneRecordDevice");
    form->addWidget(record_, row++, 1);
    form->addWidget(new QLabel(tr2("麦克风校准：", "Microphone calibration:"), page), row, 0);
    auto* cal = new QHBoxLayout;
    calLabel_ = new QLabel(tr2("（无）", "(none)"), page);
    calLabel_->setObjectName("TuneCalibrationFile");
    calButton_ = new QPushButton(tr2("选择…", "Choose…"), page);
    calButton_->setObjectName("TuneChooseCalibration");
    cal->addWidget(calLabel_, 1);
    cal->addWidget(calButton_);
    form->addLayout(cal, row++, 1);
    form->setRowStretch(row, 1);
    connect(calButton_, &QPushButton::clicked, this, &CTuneDlg::chooseCalibration);

    auto* h = new QHBoxLayout;
    h->addLayout(grid);
    h->addSpacing(24);
    h->addLayout(form);
    v->addLayout(h);
    v->addStretch(1);
    start_ = new QPushButton(tr2("开始测量", "Start measuring"), page);
    start_->setObjectName("TuneStart");
    start_->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(start_);
    v->addLayout(bottom);
    connect(detect_, &QPushButton::clicked, this, [this] { startWork(true); });
    connect(start_, &QPushButton::clicked, this, [this] { startWork(false); });
}

void CTuneDlg::buildMeasure(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    status_ = new QLabel(page);
    status_->setObjectName("TuneStatus");
    status_->setWordWrap(true);
    progress_ = new QProgressBar(page);
    progress_->setObjectName("TuneProgress");
    progress_->setRange(0, 1000);
    prompt_ = new QLabel(page);
    prompt_->setObjectName("TunePrompt");
    prompt_->setWordWrap(true);
    QFont big = prompt_->font();
    if (big.pointSizeF() > 0)
        big.setPointSizeF(big.pointSizeF() * 1.2);
    else if (big.pixelSize() > 0)
        big.setPixelSize(big.pixelSize() * 6 / 5);
    big.setBold(true);
    prompt_->setFont(big);
    continue_ = new QPushButton(tr2("麦克风已就位，继续", "Microphone placed: continue"), page);
    continue_->setObjectName("TuneContinue");
    continue_->setVisible(false);
    cancel_ = new QPushButton(tr2("取消", "Cancel"), page);
    cancel_->setObjectName("TuneCancel");
    v->addStretch();
    v->addWidget(prompt_);
    v->addWidget(status_);
    v->addWidget(progress_);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(continue_);
    h->addWidget(cancel_);
    v->addLayout(h);
    v->addStretch();
    connect(continue_, &QPushButton::clicked, this, [this] {
        continue_->setVisible(false);
        prompt_->clear();
        status_->setText(tr2("正在开始扫频……", "Starting the sweeps…"));
        answerPlacement(1);
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancelled_ = true;
        answerPlacement(-1);
        cancel_->setEnabled(false);
        status_->setText(tr2("正在取消……", "Cancelling…"));
    });
}

void CTuneDlg::buildResults(QWidget* page) {
    std::tie(summary_, notes_, results_, chartChoice_, chart_, apply_) =
        buildResultTab(page, "Tune", "TuneResults",
                       {tr2("音箱", "Speaker"), tr2("电平", "Level"), tr2("延时", "Delay"),
                        tr2("极性", "Polarity"),
                        tr2("偏差（前 → 预测）", "Deviation (before → predicted)"),
                        tr2("均衡", "EQ")},
                       tr2("应用（一步，可撤销）", "Apply (one step, undoable)"), "TuneApply")
            .widgets();
    connect(chartChoice_, &QComboBox::currentIndexChanged, this,
            [this] { showChart(chartChoice_, chart_, nullptr); });
    connect(apply_, &QPushButton::clicked, this, &CTuneDlg::applyPlan);
}

void CTuneDlg::buildCheck(QWidget* page) {
    std::tie(checkSummary_, checkNotes_, checks_, checkChartChoice_, checkChart_, save_) =
        buildResultTab(page, "TuneCheck", "TuneChecks",
                       {tr2("音箱", "Speaker"), tr2("电平误差", "Level error"),
                        tr2("到达误差", "Arrival error"),
                        tr2("偏差（预测 / 实测）", "Deviation (predicted / measured)"),
                        tr2("实测与预测之差", "Measured against predicted")},
                       tr2("保存报告", "Save report"), "TuneSaveReport")
            .widgets();
    connect(checkChartChoice_, &QComboBox::currentIndexChanged, this,
            [this] { showChart(checkChartChoice_, checkChart_, verification()); });
    connect(save_, &QPushButton::clicked, this, &CTuneDlg::saveReport);
}

TuneOptions CTuneDlg::options() const {
    TuneOptions o;
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        if (speakers_[std::size_t(k)]->isChecked())
            o.speakers.push_back(k);
        o.lowHz[std::size_t(k)] = low_[std::size_t(k)]->value();
        o.highHz[std::size_t(k)] = high_[std::size_t(k)]->value();
    }
    o.positions = positions_->value();
    o.target.kind = target_->currentIndex() == 1 ? Target::Kind::House : Target::Kind::Flat;
    o.maxBoostDb = maxBoost_->value();
    o.sweep.seconds = sweepSeconds_->value();
    o.calibration = calibration_;
    // Timed by main L, or the first full-range speaker chosen.
    for (int k : o.speakers)
        if (k != kTuneSub) {
            o.referenceSpeaker = k;
            if (k == 0)
                break;
        }
    if (std::find(o.speakers.begin(), o.speakers.end(), 0) != o.speakers.end())
        o.referenceSpeaker = 0;
    return o;
}

bool CTuneDlg::haveAudio() {
    // Made once: the devices listed are the ones measured with.
    if (!audio_ && services_.makeAudio)
        audio_ = services_.makeAudio();
    return audio_ != nullptr;
}

void CTuneDlg::listDevices() {
    if (!haveAudio())
        return;
    auto fill = [](QComboBox* box, const std::vector<AudioDevice>& devices) {
        for (const AudioDevice& d : devices) {
            box->addItem(QString::fromStdString(d.name), std::clamp(d.channels, 1, 2));
            if (d.isDefault)
                box->setCurrentIndex(box->count() - 1);
        }
    };
    fill(play_, audio_->playbackDevices());
    fill(record_, audio_->recordingDevices());
}

MeasureDevices CTuneDlg::chosenDevices() const {
    MeasureDevices d;
    d.play = play_->currentText().toStdString();
    d.record = record_->currentText().toStdString();
    if (play_->currentIndex() >= 0)
        d.playChannels = play_->currentData().toInt();
    if (record_->currentIndex() >= 0)
        d.recordChannels = record_->currentData().toInt();
    return d;
}

void CTuneDlg::chooseCalibration() {
    std::optional<ChosenCalibration> chosen = askMicCalibration(this, editor_.prompter(), english_);
    if (!chosen)
        return;
    calibration_ = std::move(chosen->calibration);
    QString text = QFileInfo(chosen->path).fileName();
    if (calibration_->dbfsAt94)
        text += tr2("（含灵敏度）", " (with its sensitivity)");
    calLabel_->setText(text);
}

TuneCallbacks CTuneDlg::callbacks() {
    TuneCallbacks cb;
    cb.cancel = &cancelled_;
    cb.progress = [this](const std::string& stage, double fraction) {
        const QString s = QString::fromStdString(stage);
        QMetaObject::invokeMethod(
            this, [this, s, fraction] { onProgress(s, fraction); }, Qt::QueuedConnection);
    };
    cb.placeMicrophone = [this](int position, int positions, bool returning) {
        QMetaObject::invokeMethod(
            this,
            [this, position, positions, returning] {
                askPlacement(position, positions, returning);
            },
            Qt::QueuedConnection);
        // Waiting for the user, not for time; on the clock, so that time stands still from the
        // moment the answer is given until this thread runs again.
        editor_.connection().clock.waitUntil(
            [this](double) {
                std::lock_guard lock(placeMutex_);
                return placeAnswer_ != 0 || cancelled_;
            },
            kForever);
        std::unique_lock lock(placeMutex_);
        const bool go = placeAnswer_ > 0 && !cancelled_;
        placeAnswer_ = 0;
        lock.unlock();
        if (go && services_.placeSimulatedMicrophone)
            services_.placeSimulatedMicrophone(returning ? 0 : position);
        return go;
    };
    return cb;
}

void CTuneDlg::askPlacement(int position, int positions, bool returning) {
    position_ = returning ? 0 : position;
    playing_ = -1;
    status_->setText(
        returning ? tr2("等待麦克风回到主座位。", "Waiting for the microphone at the main seat.")
        : english_ ? QString("Waiting for the microphone at position %1 of %2.")
                         .arg(position + 1)
                         .arg(positions)
                   : QString("等待麦克风就位：位置 %1 / %2。").arg(position + 1).arg(positions));
    if (returning)
        prompt_->setText(
            tr2("请把麦克风放回主座位。", "Put the microphone back at the main seat."));
    else
        prompt_->setText(english_ ? QString("Place the microphone at position %1 of %2%3.")
                                        .arg(position + 1)
                                        .arg(positions)
                                        .arg(position == 0 ? " (the main seat)" : "")
                                  : QString("请把麦克风放在第 %1 个位置（共 %2 个）%3。")
                                        .arg(position + 1)
                                        .arg(positions)
                                        .arg(position == 0 ? "（主座位）" : ""));
    continue_->setVisible(true);
    continue_->setFocus();
}

void CTuneDlg::answerPlacement(int answer) {
    {
        std::lock_guard lock(placeMutex_);
        placeAnswer_ = answer;
    }
    editor_.connection().clock.notify();
}

void CTuneDlg::onProgress(const QString&, double fraction) {
    // The whole run: each position a share, this one's part of it.
    const int shares = checking_ ? 1 : std::max(ran_.positions, 1);
    const double overall =
        (std::min(position_, shares - 1) + std::clamp(fraction, 0.0, 1.0)) / double(shares);
    progress_->setValue(std::max(progress_->value(), int(std::lround(overall * 1000))));
}

void CTuneDlg::onPlaying(int speaker) {
    playing_ = speaker;
    const auto at = std::find(order_.begin(), order_.end(), speaker);
    if (at == order_.end())
        return;
    const int n = int(at - order_.begin()) + 1, of = int(order_.size());
    const int positions = checking_ ? 1 : std::max(ran_.positions, 1);
    QString s;
    if (english_) {
        s = QString(checking_    ? "Checking %1 (%2 of %3)"
                    : detecting_ ? "Detecting %1 (%2 of %3)"
                                 : "Measuring %1 (%2 of %3)")
                .arg(speakerName(speaker))
                .arg(n)
                .arg(of);
        if (positions > 1)
            s += QString(", position %1 of %2").arg(position_ + 1).arg(positions);
    } else {
        s = QString(checking_    ? "正在检查%1（第 %2 个，共 %3 个）"
                    : detecting_ ? "正在检测%1（第 %2 个，共 %3 个）"
                                 : "正在测量%1（第 %2 个，共 %3 个）")
                .arg(speakerName(speaker))
                .arg(n)
                .arg(of);
        if (positions > 1)
            s += QString("，位置 %1 / %2").arg(position_ + 1).arg(positions);
    }
    status_->setText(s);
}

void CTuneDlg::startWork(bool detect) {
    if (worker_)
        return;
    if (!editor_.linkOpen()) {
        editor_.ShowInfo(tr2("测量需要连接功放。", "Measuring needs the amplifier connected."),
                         3000);
        return;
    }
    if (!haveAudio() || play_->count() == 0 || record_->count() == 0) {
        editor_.ShowInfo(tr2("没有可用的音频设备。", "No audio devices to measure with."), 3000);
        return;
    }
    TuneOptions o = options();
    if (detect) {
        o.speakers.clear();
        o.positions = 1;
        o.sweep.seconds = 1;
        o.referenceSpeaker = 0;
    } else if (o.speakers.empty()) {
        editor_.ShowInfo(tr2("请至少选择一个音箱。", "Choose at least one speaker."), 3000);
        return;
    }
    detecting_ = detect;
    ran_ = o;
    cancelled_ = false;
    placeAnswer_ = 0;
    plan_.reset();
    verification_.reset();
    applied_ = false;
    muteCells_ = groupMuteCells();
    mutesBefore_.clear();
    for (int c : muteCells_)
        mutesBefore_.push_back(editor_.store().cellInt(c));
    mutesOwed_ = false;
    pages_->setCurrentIndex(Measure);
    back_->setVisible(false);
    close_->setEnabled(false);
    cancel_->setEnabled(true);
    continue_->setVisible(false);
    prompt_->clear();
    progress_->setValue(0);
    checking_ = false;
    position_ = 0;
    playing_ = -1;
    order_ = o.speakers;
    if (order_.empty())
        for (int k = 0; k < kSpeakerOutputs; ++k)
            order_.push_back(k);
    status_->setText(detect ? tr2("检测中……", "Detecting…") : tr2("准备中……", "Preparing…"));
    const ModeImage settings = settingsOf(editor_.store());
    ranDevices_ = chosenDevices();
    runWorker([this, o, settings, detect, devices = ranDevices_](const TuneCallbacks& cb) {
        Dsp dsp(editor_.store(), editor_.connection().link, editor_.connection().clock);
        DspSpeakerSwitch link = linkSpeakerSwitch(editor_.connection().link, dsp);
        ReportingSwitch speakers(link, playingReporter());
        auto run =
            std::make_shared<RoomRun>(measureRoom(*audio_, speakers, o, devices, settings, cb));
        // The computation takes a second or two: here, not on the window's thread.
        std::shared_ptr<TunePlan> plan;
        if (!detect && run->ok())
            plan = std::make_shared<TunePlan>(computeTune(run->measured, o));
        QMetaObject::invokeMethod(
            this, [this, run, plan, detect] { detect ? onDetected(run) : onMeasured(run, plan); },
            Qt::QueuedConnection);
    });
}

std::function<void(int)> CTuneDlg::playingReporter() {
    return [this](int speaker) {
        QMetaObject::invokeMethod(
            this, [this, speaker] { onPlaying(speaker); }, Qt::QueuedConnection);
    };
}

void CTuneDlg::runWorker(std::function<void(const TuneCallbacks&)> work) {
    const TuneCallbacks cb = callbacks();
    Clock& clock = editor_.connection().clock;
    clock.reserveParticipant();
    worker_ = std::make_unique<std::thread>([work = std::move(work), cb, &clock] {
        Clock::Participant participant(clock, Clock::Participant::Reserved{});
        work(cb);
    });
}

void CTuneDlg::finishWorker() {
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    close_->setEnabled(true);
    continue_->setVisible(false);
    prompt_->clear();
}

void CTuneDlg::failed(const QString& why, bool linkLost) {
    pages_->setCurrentIndex(Measure);
    status_->setText(why);
    cancel_->setEnabled(false);
    back_->setVisible(true);
    if (linkLost) {
        // The amplifier went away with outputs muted for a sweep: its mutes go back as they
        // were once it is here again and synchronised.
        mutesOwed_ = true;
        status_->setText(why + "\n" +
                         tr2("功放重新连接后将恢复所有静音设置。",
                             "Every mute is put back as it was when the amplifier is here again."));
        Timeline& timeline = editor_.timeline();
        if (!mutesTimer_ || !timeline.isActive(mutesTimer_))
            mutesTimer_ = timeline.start(250, true, [this] {
                if (mutesOwed_ && editor_.linkOpen() &&
                    !editor_.connection().session.workerRunning())
                    putMutesBack();
            });
    }
    emit workDone();
}

void CTuneDlg::putMutesBack() {
    mutesOwed_ = false;
    editor_.timeline().stop(mutesTimer_);
    mutesTimer_ = 0;
    for (std::size_t i = 0; i < muteCells_.size() && i < mutesBefore_.size(); ++i) {
        editor_.store().setCellInt(muteCells_[i], mutesBefore_[i]);
        editor_.dsp().sendCell(muteCells_[i]);
    }
    status_->setText(
        tr2("功放已重新连接：所有静音已恢复。", "The amplifier is back: every mute is as it was."));
    emit workDone();
}

void CTuneDlg::onDetected(std::shared_ptr<RoomRun> run) {
    finishWorker();
    if (!run->ok()) {
        if (run->cancelled) {
            pages_->setCurrentIndex(Setup);
            emit workDone();
            return;
        }
        failed(QString::fromStdString(run->error), !editor_.linkOpen());
        return;
    }
    QStringList missing;
    if (!run->measured.positions.empty())
        for (const SpeakerSweep& s : run->measured.positions.front().speakers) {
            speakers_[std::size_t(s.speaker)]->setChecked(s.arrived);
            if (!s.arrived)
                missing << speakerName(s.speaker);
        }
    pages_->setCurrentIndex(Setup);
    editor_.ShowInfo(missing.isEmpty() ? tr2("所有音箱都已连接。", "Every speaker is connected.")
                                       : tr2("未连接：", "Not connected: ") + missing.join(", "),
                     3000);
    emit workDone();
}

void CTuneDlg::onMeasured(std::shared_ptr<RoomRun> run, std::shared_ptr<TunePlan> plan) {
    finishWorker();
    if (!run->ok()) {
        if (run->cancelled) {
            pages_->setCurrentIndex(Setup);
            editor_.ShowInfo(tr2("已取消：所有静音已恢复。", "Cancelled: every mute is as it was."),
                             3000);
            emit workDone();
            return;
        }
        failed(QString::fromStdString(run->error), !editor_.linkOpen());
        return;
    }
    measured_ = run->measured;
    plan_ = std::move(*plan);
    pages_->setCurrentIndex(Results);
    back_->setVisible(true);
    fillResults();
    emit workDone();
}

void CTuneDlg::fillResults() {
    if (!plan_)
        return;
    const TunePlan& p = *plan_;
    if (!p.ok) {
        summary_->setText(QString::fromStdString(p.error.text(english_)));
        notes_->clear();
        apply_->setEnabled(false);
        results_->setRowCount(0);
        return;
    }
    QString s;
    if (p.crossoverHz > 0)
        s = english_ ? QString("Sub crossover: %1 Hz, %2. Sub + mains dip at the main seat: "
                               "%3 dB before, %4 dB predicted.")
                           .arg(p.crossoverHz, 0, 'f', 0)
                           .arg(crossoverName(p.slope))
                           .arg(p.dipBeforeDb, 0, 'f', 1)
                           .arg(p.dipPredictedDb, 0, 'f', 1)
                     : QString("超低音分频：%1 Hz，%2。主座位超低音与主音箱叠加的凹陷：之前 %3 "
                               "dB，预测 %4 dB。")
                           .arg(p.crossoverHz, 0, 'f', 0)
                           .arg(crossoverName(p.slope))
                           .arg(p.dipBeforeDb, 0, 'f', 1)
                           .arg(p.dipPredictedDb, 0, 'f', 1);
    s += english_
             ? QString(" %1 settings change; nothing is sent before Apply.").arg(p.changes.size())
             : QString(" 将更改 %1 项设置；按“应用”前不发送任何内容。").arg(p.changes.size());
    summary_->setText(s);
    notes_->setText(noteList(p.notes, english_));

    results_->setRowCount(0);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const TuneSpeaker& t = p.speakers[std::size_t(k)];
        if (!t.asked)
            continue;
        const int row = addSpeakerRow(results_, speakerName(k));
        if (!t.connected) {
            results_->setItem(row, 1, tableItem(tr2("未连接", "not connected")));
            continue;
        }
        results_->setItem(
            row, 1, tableItem(number(t.levelBeforeDb, 1, " → ") + number(t.levelDb, 1, " dB")));
        results_->setItem(
            row, 2, tableItem(number(t.delayBeforeMs, 2, " → ") + number(t.delayMs, 2, " ms")));
        results_->setItem(row, 3,
                          tableItem(t.inverted ? tr2("反相（全通）", "inverted (all-pass)")
                                               : tr2("正常", "normal")));
        results_->setItem(
            row, 4,
            tableItem(number(t.rmsBeforeDb, 2, " → ") + number(t.rmsPredictedDb, 2, " dB")));
        QString eq = "-";
        for (const TuneBank& b : p.banks)
            if (std::find(b.speakers.begin(), b.speakers.end(), k) != b.speakers.end())
                eq = b.applied
                         ? (english_ ? QString(b.fit.bandsUsed.size() == 1 ? "%1 band" : "%1 bands")
                                           .arg(b.fit.bandsUsed.size())
                                     : QString("%1 段").arg(b.fit.bandsUsed.size()))
                         : tr2("不变", "unchanged");
        results_->setItem(row, 5, tableItem(eq));
    }
    listCharts(chartChoice_, tuneCharts(p, nullptr, english_));
    showChart(chartChoice_, chart_, nullptr);
    apply_->setEnabled(!p.changes.empty());
}

void CTuneDlg::showChart(QComboBox* choice, QLabel* into, const TuneVerification* check) {
    if (!plan_ || !services_.drawChart || choice->currentIndex() < 0) {
        into->clear();
        return;
    }
    const std::string file = choice->currentData().toString().toStdString();
    for (const Chart& c : tuneCharts(*plan_, check, english_))
        if (c.file == file) {
            into->setPixmap(QPixmap::fromImage(services_.drawChart(
                c, std::max(into->width(), kChartW), std::max(into->height(), kChartH))));
            return;
        }
}

void CTuneDlg::applyPlan() {
    if (!plan_ || !plan_->ok || worker_)
        return;
    const TuneApplied r = applyTune(editor_.edits(), *plan_);
    switch (r) {
    case TuneApplied::Stale:
        editor_.ShowInfo(tr2("测量后设置已更改：请重新测量。",
                             "The settings changed since the measurement: measure again."),
                         4000);
        return;
    case TuneApplied::Nothing:
        editor_.ShowInfo(tr2("调校没有更改任何设置。", "The tuning changes nothing."), 3000);
        return;
    case TuneApplied::Offline:
        applied_ = true;
        apply_->setEnabled(false);
        editor_.ShowInfo(tr2("已应用到文档；下次下载时发送到功放。",
                             "Applied to the document: it goes to the amplifier with the next "
                             "download."),
                         4000);
        emit workDone();
        return;
    case TuneApplied::Failed:
        editor_.ShowInfo(tr2("功放未接受所有设置。", "The amplifier did not take every setting."),
                         4000);
        return;
    case TuneApplied::Sent:
        break;
    }
    applied_ = true;
    apply_->setEnabled(false);
    // The check: every tuned speaker again at the main seat.
    if (!haveAudio() || !editor_.linkOpen()) {
        emit workDone();
        return;
    }
    cancelled_ = false;
    placeAnswer_ = 0;
    pages_->setCurrentIndex(Measure);
    back_->setVisible(false);
    close_->setEnabled(false);
    cancel_->setEnabled(true);
    progress_->setValue(0);
    checking_ = true;
    position_ = 0;
    playing_ = -1;
    order_.clear();
    for (int k = 0; k < kSpeakerOutputs; ++k)
        if (plan_->speakers[std::size_t(k)].connected)
            order_.push_back(k);
    status_->setText(tr2("检查中……", "Checking…"));
    const TunePlan plan = *plan_;
    const TuneOptions o = ran_;
    runWorker([this, plan, o, devices = ranDevices_](const TuneCallbacks& cb) {
        Dsp dsp(editor_.store(), editor_.connection().link, editor_.connection().clock);
        DspSpeakerSwitch link = linkSpeakerSwitch(editor_.connection().link, dsp);
        ReportingSwitch speakers(link, playingReporter());
        auto run =
            std::make_shared<TuneCheckRun>(checkTune(*audio_, speakers, o, plan, devices, cb));
        QMetaObject::invokeMethod(
            this, [this, run] { onChecked(run); }, Qt::QueuedConnection);
    });
}

void CTuneDlg::onChecked(std::shared_ptr<TuneCheckRun> run) {
    finishWorker();
    if (!run->ok()) {
        failed((run->cancelled ? tr2("检查已取消", "The check was cancelled")
                               : QString::fromStdString(run->error)) +
                   tr2("（已发送的设置保留）", " (the settings sent stay)"),
               !editor_.linkOpen());
        return;
    }
    verification_ = run->verification;
    pages_->setCurrentIndex(Check);
    back_->setVisible(false);
    fillChecks();
    emit workDone();
}

void CTuneDlg::fillChecks() {
    if (!plan_ || !verification_)
        return;
    const TuneVerification& v = *verification_;
    QString s = !v.ok() ? tr2("检查未达标（已发送的设置保留），见右。",
                              "The check falls short (what was sent stays): see the "
                              "notes.")
                : v.notChecked.empty()
                    ? tr2("检查通过：调校在限度之内。", "Checked: the tuning is within its limits.")
                    : tr2("检查通过：检查的各项都在限度之内；未检查的见右。",
                          "Checked: every figure checked is within its limit; "
                          "what could not be checked is in the notes.");
    s += english_
             ? QString("\nLevels within ±%1 dB, arrivals within ±%2 ms, Sub + mains dip %3 dB.")
                   .arg(v.levelSpreadDb, 0, 'f', 2)
                   .arg(v.arrivalSpreadMs, 0, 'f', 3)
                   .arg(v.dipAfterDb, 0, 'f', 1)
             : QString("\n电平相差 ±%1 dB，到达时间相差 ±%2 ms，超低音与主音箱叠加凹陷 %3 dB。")
                   .arg(v.levelSpreadDb, 0, 'f', 2)
                   .arg(v.arrivalSpreadMs, 0, 'f', 3)
                   .arg(v.dipAfterDb, 0, 'f', 1);
    checkSummary_->setText(s);
    std::vector<Note> notes = v.shortfalls;
    for (const Note& n : v.notChecked)
        notes.push_back({std::string("未检查：") + n.zh, "Not checked: " + n.en});
    checkNotes_->setText(noteList(notes, english_));
    checks_->setRowCount(0);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const SpeakerCheck& c = v.speakers[std::size_t(k)];
        if (!c.measured)
            continue;
        const TuneSpeaker& t = plan_->speakers[std::size_t(k)];
        const int row = addSpeakerRow(checks_, speakerName(k));
        checks_->setItem(row, 1, tableItem(number(c.levelErrorDb, 2, " dB")));
        checks_->setItem(
            row, 2, tableItem(k == kTuneSub ? QString("-") : number(c.arrivalErrorMs, 3, " ms")));
        checks_->setItem(
            row, 3, tableItem(number(t.rmsPredictedDb, 2, " / ") + number(c.rmsAfterDb, 2, " dB")));
        checks_->setItem(row, 4, tableItem(number(c.predictionErrorDb, 2, " dB")));
    }
    listCharts(checkChartChoice_, tuneCharts(*plan_, &v, english_));
    showChart(checkChartChoice_, checkChart_, &v);
}

void CTuneDlg::saveReport() {
    if (!plan_)
        return;
    QString dir = services_.reportDir ? services_.reportDir() : QString();
    if (dir.isEmpty()) {
        // No mode file to put it beside: the user says where, and it goes into a folder of its
        // own there, so that nothing already in that folder is overwritten.
        const QString parent = editor_.prompter().chooseFolder(
            this, tr2("报告保存到", "Save the report in"), QDir::homePath());
        if (parent.isEmpty())
            return;
        dir = QDir(parent).filePath("room-tuning-" +
                                    QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
    }
    TuneReportInfo info;
    info.dated = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm").toStdString();
    info.devices = ranDevices_.play + " -> " + ranDevices_.record;
    if (ran_.calibration)
        info.devices += english_ ? ", calibrated microphone" : "，已校准麦克风";
    info.positions = ran_.positions;
    info.sweepSeconds = ran_.sweep.seconds;
    info.target = ran_.target.kind == Target::Kind::House ? "house" : "flat";
    info.applied = applied_;
    info.english = english_;
    std::unique_ptr<ChartPainter> painter =
        services_.makePainter ? services_.makePainter() : nullptr;
    std::string error;
    if (!writeTuneReport(dir.toStdString(), *plan_, verification(), info, painter.get(), error)) {
        editor_.ShowInfo(QString::fromStdString(error), 4000);
        return;
    }
    reportPath_ = QDir(dir).filePath("index.html");
    editor_.ShowInfo(tr2("报告已保存：", "Report saved: ") + reportPath_, 4000);
    emit workDone();
}

void CTuneDlg::reject() {
    // A run in progress stops first; every mute goes back before the window closes.
    if (worker_) {
        // Esc or the window's close button while measuring: exactly what Cancel does.
        if (cancel_->isEnabled())
            cancel_->click();
        return;
    }
    QDialog::reject();
}

QSize CTuneDlg::sizeHint() const {
    // Every speaker's row and the whole chart, on a 1280 x 720 screen.
    return QSize(1180, 660).expandedTo(minimumSizeHint());
}

void CTuneDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    // The charts follow the window once its layout has settled.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (step() == Results)
                showChart(chartChoice_, chart_, nullptr);
            else if (step() == Check)
                showChart(checkChartChoice_, checkChart_, verification());
        },
        Qt::QueuedConnection);
}

} // namespace q7
