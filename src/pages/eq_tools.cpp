// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/eq_tools.h"

#include "controls/eq_panel.h"
#include "pages/measure_dialog.h"
#include "pages/page.h"
#include "params/edit_path.h"
#include "ui/language.h"
#include "ui/local_path.h"
#include "ui/prompter.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace q7 {

namespace {

QString pick(bool english, const std::string& zh, const std::string& en) {
    return QString::fromStdString(english ? en : zh);
}

QString title(int bank, bool english) {
    const EqBankInfo* b = eqBankInfo(bank);
    return b ? QString::fromUtf8(english ? b->en : b->zh) : QString();
}

std::optional<QByteArray> readLimited(const QString& path, qint64 limit) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = f.read(limit + 1);
    if (bytes.size() > limit)
        return std::nullopt;
    return bytes;
}

// Saves the bytes, or says in a box why they could not be (the old file is kept).
bool writeOrSay(EditorContext& editor, QWidget* parent, const QString& path,
                std::span<const std::uint8_t> bytes) {
    const WriteResult r = editor.files().write(encodeLocalPath(path), bytes);
    if (!r)
        tellWriteFailure(editor.prompter(), editor.language(), parent, path, r);
    return bool(r);
}

bool writeText(EditorContext& editor, QWidget* parent, const QString& path,
               const std::string& text) {
    return writeOrSay(editor, parent, path,
                      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A measurement or target file, or a box saying why it cannot be used.
std::optional<ResponseCurve> readCurveOrSay(EditorContext& editor, QWidget* parent,
                                            const QString& path) {
    const auto bytes = readLimited(path, qint64(kMeasurementMaxBytes));
    MeasurementRead m;
    if (bytes)
        m = parseMeasurement(std::string_view(bytes->constData(), std::size_t(bytes->size())));
    else
        m.error = {"无法读取文件", "cannot read the file"};
    if (m.ok())
        return m.curve;
    const Language& l = editor.language();
    editor.prompter().tell(parent, BoxIcon::Error, l.pick("信息", "Information"),
                           QFileInfo(path).fileName() + ": " +
                               pick(l.english(), m.error.zh, m.error.en));
    return std::nullopt;
}

} // namespace

// ---- overlays ----

const BankOverlay* EqOverlays::find(int bank) const {
    const auto it = banks_.find(bank);
    return it == banks_.end() ? nullptr : &it->second;
}

void EqOverlays::set(int bank, BankOverlay overlay) {
    banks_[bank] = std::move(overlay);
}

void EqOverlays::setTarget(int bank, const Target& target) {
    const auto it = banks_.find(bank);
    if (it != banks_.end())
        it->second.target = target;
}

void EqOverlays::clear(int bank) {
    banks_.erase(bank);
}

void EqOverlays::clearAll() {
    banks_.clear();
}

void showOverlay(const EqOverlays& overlays, CEqPanel* graph) {
    if (!graph)
        return;
    if (const BankOverlay* o = overlays.find(graph->bank()))
        graph->setOverlay(o->measurement, o->target, o->name, o->alignLoHz, o->alignHiHz);
    else if (graph->hasOverlay())
        graph->clearOverlay();
}

// ---- menu ----

void addEqTools(QMenu* menu, CPage* page, EditorContext& editor, CEqPanel* graph) {
    const Language& l = editor.language();
    const int bank = graph->bank();
    const QString id = QString::fromUtf8(eqBankInfo(bank) ? eqBankInfo(bank)->id : "eq");
    menu->addSection(l.pick("测量与滤波器", "Measurement and filters"));
    auto add = [&](const char* name, const QString& text, auto fn) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString("eqTool:") + name);
        QObject::connect(a, &QAction::triggered, page, fn);
        return a;
    };
    QPointer<CEqPanel> g(graph);
    add("import", l.pick("导入滤波器…", "Import filters…"), [page, &editor, bank] {
        const Language& lang = editor.language();
        const QString path =
            editor.prompter().openFile(page, lang.pick("滤波器文本 (*.txt);;所有文件 (*)",
                                                       "Filter text (*.txt);;All files (*)"));
        if (!path.isEmpty())
            importFiltersFrom(page, editor, bank, path);
    });
    add("export", l.pick("导出滤波器…", "Export filters…"), [page, &editor, bank, id] {
        const Language& lang = editor.language();
        const QString path =
            editor.prompter().saveFile(page, lang.pick("滤波器文本 (*.txt)", "Filter text (*.txt)"),
                                       id + "-filters.txt", "txt");
        if (!path.isEmpty())
            writeText(editor, page, path, formatFilterText(readBank(editor.store(), bank)));
    });
    add("csv", l.pick("导出响应曲线(CSV)…", "Export response (CSV)…"), [page, &editor, bank, id] {
        const Language& lang = editor.language();
        const QString path = editor.prompter().saveFile(
            page, lang.pick("CSV 文件 (*.csv)", "CSV files (*.csv)"), id + "-response.csv", "csv");
        if (!path.isEmpty())
            writeText(editor, page, path, bankResponseCsv(readBank(editor.store(), bank)));
    });
    add("png", l.pick("导出曲线图(PNG)…", "Export graph (PNG)…"), [page, &editor, g, id] {
        if (!g)
            return;
        const Language& lang = editor.language();
        const QString path = editor.prompter().saveFile(
            page, lang.pick("PNG 图片 (*.png)", "PNG images (*.png)"), id + "-graph.png", "png");
        if (path.isEmpty())
            return;
        QImage image(g->size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        g->renderTo(image);
        QByteArray png;
        QBuffer buffer(&png);
        if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"))
            writeOrSay(editor, page, path,
                       std::span(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                 std::size_t(png.size())));
    });
    menu->addSeparator();
    add("measurement", l.pick("载入测量…", "Load measurement…"), [page, &editor, g] {
        if (!g)
            return;
        const Language& lang = editor.language();
        const QString path = editor.prompter().openFile(
            page, lang.pick("测量文件 (*.txt *.frd *.csv);;所有文件 (*)",
                            "Measurements (*.txt *.frd *.csv);;All files (*)"));
        if (!path.isEmpty())
            loadMeasurementFrom(editor, g, path);
    });
    if (editor.eqOverlays().find(bank))
        add("clear", l.pick("清除测量", "Clear measurement"), [g, &editor, bank] {
            editor.eqOverlays().clear(bank);
            if (g)
                g->clearOverlay();
        });
    add("auto", l.pick("自动均衡…", "Auto EQ…"), [page, &editor, g] {
        if (g)
            openAutoEq(page, editor, g);
    });
    if (isOutputBank(bank))
        add("measure", l.pick("测量…", "Measure…"), [page, &editor, g] {
            if (g)
                openMeasure(editor, g->bank(), page, g, page);
        });
}

bool importFiltersFrom(CPage* page, EditorContext& editor, int bank, const QString& path) {
    const Language& l = editor.language();
    const auto bytes = readLimited(path, qint64(kFilterTextMaxBytes));
    if (!bytes) {
        editor.prompter().tell(page, BoxIcon::Error, l.pick("信息", "Information"),
                               l.pick("无法读取滤波器文件：", "Cannot read the filter file: ") +
                                   path);
        return false;
    }
    const FilterText text =
        parseFilterText(std::string_view(bytes->constData(), std::size_t(bytes->size())));
    const ImportPlan plan = planImport(readBank(editor.store(), bank), text);
    const bool english = l.english();
    auto* dlg =
        new CEqImportDlg(plan, QFileInfo(path).fileName(), title(bank, english), english, page);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<CPage> p(page);
    QObject::connect(dlg, &QDialog::accepted, page, [p, &editor, bank, plan] {
        {
            const EqBankInfo* b = eqBankInfo(bank);
            EditPath::Scope step(editor.edits(), StepName{std::string("导入滤波器 ") + b->zh,
                                                          std::string("Import filters ") + b->en});
            sendBank(editor.edits().dsp(), editor.store(), plan.result);
        }
        if (p)
            p->refresh();
        const Language& lang = editor.language();
        editor.ShowInfo(lang.pick("已导入滤波器：", "Filters imported: ") +
                            QString::number(plan.applied),
                        1500);
    });
    dlg->open();
    return true;
}

bool loadMeasurementFrom(EditorContext& editor, CEqPanel* graph, const QString& path) {
    const auto curve = readCurveOrSay(editor, graph, path);
    if (!curve)
        return false;
    EqOverlays& overlays = editor.eqOverlays();
    const BankOverlay* old = overlays.find(graph->bank());
    overlays.set(graph->bank(), BankOverlay{*curve, old ? old->target : Target{},
                                            QFileInfo(path).fileName(), path, 20, 20000});
    showOverlay(overlays, graph);
    return true;
}

void openDroppedOnGraph(CPage* page, EditorContext& editor, CEqPanel* graph,
                        const QStringList& paths) {
    const Language& l = editor.language();
    auto refuse = [&](const QString& why) {
        editor.prompter().tell(page, BoxIcon::Warning, l.pick("信息", "Information"), why);
    };
    if (paths.isEmpty()) {
        refuse(l.pick("这里只能放入滤波器列表或测量文件。",
                      "Only a filter list or a measurement file can be dropped here."));
        return;
    }
    if (paths.size() > 1) {
        refuse(l.pick("请一次放入一个滤波器列表或测量文件。",
                      "Drop one filter list or measurement file at a time."));
        return;
    }
    const QString path = paths.front();
    const QString name = QFileInfo(path).fileName();
    const auto bytes = QFileInfo(path).isFile() ? readLimited(path, qint64(kMeasurementMaxBytes))
                                                : std::optional<QByteArray>{};
    if (!bytes) {
        refuse(name + ": " + l.pick("无法读取文件。", "cannot read the file."));
        return;
    }
    const std::string_view text(bytes->constData(), std::size_t(bytes->size()));
    // A filter list names its filters ("Filter 1: ON PK …"); anything else is read as a
    // measurement.
    if (std::size_t(bytes->size()) <= kFilterTextMaxBytes) {
        const FilterText filters = parseFilterText(text);
        if (!filters.filters.empty() || !filters.crossovers.empty() || !filters.skipped.empty()) {
            importFiltersFrom(page, editor, graph->bank(), path);
            return;
        }
    }
    const MeasurementRead m = parseMeasurement(text);
    if (!m.ok()) {
        refuse(name + ": " +
               l.pick("既不是滤波器列表，也不是测量文件（",
                      "neither a filter list nor a measurement (") +
               pick(l.english(), m.error.zh, m.error.en) + l.pick("）。", ")."));
        return;
    }
    EqOverlays& overlays = editor.eqOverlays();
    const BankOverlay* old = overlays.find(graph->bank());
    overlays.set(graph->bank(),
                 BankOverlay{m.curve, old ? old->target : Target{}, name, path, 20, 20000});
    showOverlay(overlays, graph);
}

void openAutoEq(CPage* page, EditorContext& editor, CEqPanel* graph) {
    auto* dlg = new CAutoEqDlg(page, editor, graph->bank(), page);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowModality(Qt::WindowModal);
    dlg->show();
}

// ---- import preview ----

CEqImportDlg::CEqImportDlg(const ImportPlan& plan, const QString& file, const QString& bankTitle,
                           bool english, QWidget* parent)
    : QDialog(parent) {
    setObjectName("EqImportDialog");
    setWindowTitle(
        (english ? QString("Import filters into %1") : QString("导入滤波器到%1")).arg(bankTitle));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    auto* head =
        new QLabel((english ? QString("%1: %2 filters go into %3; check them before applying.")
                            : QString("%1：%2 个滤波器将写入%3，请确认后应用。"))
                       .arg(file)
                       .arg(plan.applied)
                       .arg(bankTitle),
                   this);
    head->setWordWrap(true);
    layout->addWidget(head);

    table_ = new QTableWidget(int(plan.lines.size()), 4, this);
    table_->setObjectName("ImportLines");
    table_->setHorizontalHeaderLabels(english
                                          ? QStringList{"Line", "In the file", "Band", "Becomes"}
                                          : QStringList{"行", "文件中", "段", "结果"});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    for (int r = 0; r < int(plan.lines.size()); ++r) {
        const ImportLine& l = plan.lines[std::size_t(r)];
        QString becomes;
        if (l.band >= 0)
            becomes = QString::fromStdString(l.result);
        for (const Note& n : l.notes) {
            if (!becomes.isEmpty())
                becomes += english ? "; " : "；";
            becomes += pick(english, n.zh, n.en);
        }
        const QString cells[4] = {QString::number(l.line), QString::fromStdString(l.source),
                                  l.band >= 0 ? QString::number(l.band + 1) : QString("—"),
                                  becomes};
        QColor colour;
        switch (l.outcome) {
        case ImportLine::Outcome::Applied:
            colour = QColor(0, 140, 0);
            break;
        case ImportLine::Outcome::Adjusted:
            colour = QColor(190, 120, 0);
            break;
        case ImportLine::Outcome::Dropped:
        case ImportLine::Outcome::Skipped:
            colour = QColor(200, 0, 0);
            break;
        }
        for (int c = 0; c < 4; ++c) {
            auto* it = new QTableWidgetItem(cells[c]);
            if (c == 3)
                it->setForeground(colour);
            table_->setItem(r, c, it);
        }
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    const int rows = std::min(int(plan.lines.size()), 14);
    table_->setMinimumSize(780, table_->horizontalHeader()->height() + 4 +
                                    rows * table_->verticalHeader()->defaultSectionSize());
    layout->addWidget(table_);
    for (const Note& n : plan.notes) {
        auto* note = new QLabel(pick(english, n.zh, n.en), this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    apply_ = new QPushButton(english ? "Apply" : "应用", this);
    apply_->setObjectName("ImportApply");
    apply_->setEnabled(plan.applied > 0);
    apply_->setDefault(true);
    auto* cancel = new QPushButton(english ? "Cancel" : "取消", this);
    cancel->setObjectName("ImportCancel");
    buttons->addWidget(apply_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(apply_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

// ---- auto EQ ----

CAutoEqDlg::CAutoEqDlg(CPage* page, EditorContext& editor, int bank, QWidget* parent)
    : QDialog(parent), page_(page), editor_(editor), bank_(bank),
      english_(editor.language().english()) {
    setObjectName("AutoEqDialog");
    const bool en = english_;
    auto tr = [en](const char* zh, const char* e) { return QString::fromUtf8(en ? e : zh); };
    setWindowTitle(tr("自动均衡 - ", "Auto EQ - ") + title(bank, en));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;

    grid->addWidget(new QLabel(tr("测量：", "Measurement:"), this), row, 0);
    measurementLabel_ = new QLabel(tr("（未载入）", "(none loaded)"), this);
    measurementLabel_->setObjectName("MeasurementFile");
    grid->addWidget(measurementLabel_, row, 1, 1, 4);
    auto* browse = new QPushButton(tr("选择…", "Choose…"), this);
    browse->setObjectName("ChooseMeasurement");
    grid->addWidget(browse, row++, 5);

    grid->addWidget(new QLabel(tr("目标：", "Target:"), this), row, 0);
    targetKind_ = new QComboBox(this);
    targetKind_->setObjectName("TargetKind");
    targetKind_->addItems(
        {tr("平直", "Flat"), tr("房间曲线", "House curve"), tr("目标文件…", "Target file…")});
    grid->addWidget(targetKind_, row, 1);
    rise_ = new QDoubleSpinBox(this);
    rise_->setRange(0, 12);
    rise_->setDecimals(1);
    rise_->setValue(6.0);
    rise_->setSuffix(" dB");
    corner_ = new QDoubleSpinBox(this);
    corner_->setRange(30, 500);
    corner_->setDecimals(0);
    corner_->setValue(120);
    corner_->setSuffix(" Hz");
    tilt_ = new QDoubleSpinBox(this);
    tilt_->setRange(-3, 3);
    tilt_->setDecimals(2);
    tilt_->setSingleStep(0.1);
    tilt_->setValue(-0.5);
    tilt_->setSuffix(tr(" dB/倍频程", " dB/oct"));
    rise_->setPrefix(tr("低频 +", "bass +"));
    corner_->setPrefix(tr("低于 ", "below "));
    tilt_->setPrefix(tr("高频 ", "treble "));
    for (QDoubleSpinBox* b : {rise_, corner_, tilt_})
        b->setMinimumWidth(150);
    rise_->setToolTip(tr("低频提升", "Low-frequency rise"));
    corner_->setToolTip(tr("低频提升的转折频率", "Corner of the low-frequency rise"));
    tilt_->setToolTip(tr("1 kHz 以上每倍频程的倾斜", "Tilt per octave above 1 kHz"));
    grid->addWidget(rise_, row, 2);
    grid->addWidget(corner_, row, 3);
    grid->addWidget(tilt_, row, 4);
    targetFileLabel_ = new QLabel(this);
    grid->addWidget(targetFileLabel_, row++, 5);

    grid->addWidget(new QLabel(tr("频率范围：", "Range:"), this), row, 0);
    lo_ = new QDoubleSpinBox(this);
    hi_ = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* b : {lo_, hi_}) {
        b->setRange(20, 20000);
        b->setDecimals(0);
        b->setSuffix(" Hz");
    }
    lo_->setObjectName("RangeLow");
    hi_->setObjectName("RangeHigh");
    const EqBankState start = readBank(editor.store(), bank);
    // The Sub's range follows its crossover, so the fit never boosts above the low-pass.
    const FitRange range = defaultFitRange(start);
    lo_->setValue(std::round(range.loHz));
    hi_->setValue(std::round(range.hiHz));
    grid->addWidget(lo_, row, 1);
    grid->addWidget(hi_, row, 2);
    const int free = int(fittableBands(start).size());
    grid->addWidget(new QLabel(tr("使用段数：", "Bands:"), this), row, 3);
    bands_ = new QSpinBox(this);
    bands_->setObjectName("Bands");
    bands_->setRange(std::min(1, free), free);
    bands_->setValue(free);
    bands_->setSuffix((en ? QString(" of %1") : QString(" / %1")).arg(free));
    grid->addWidget(bands_, row++, 4);

    grid->addWidget(new QLabel(tr("最大提升：", "Max boost:"), this), row, 0);
    maxBoost_ = new QDoubleSpinBox(this);
    maxBoost_->setObjectName("MaxBoost");
    maxBoost_->setRange(0, 15);
    maxBoost_->setDecimals(1);
    maxBoost_->setValue(6.0);
    maxBoost_->setSuffix(" dB");
    grid->addWidget(maxBoost_, row, 1);
    cutOnly_ = new QCheckBox(tr("只衰减", "Cut only"), this);
    cutOnly_->setObjectName("CutOnly");
    grid->addWidget(cutOnly_, row++, 2, 1, 2);
    layout->addLayout(grid);

    // Bands the fit leaves as they are: one box per band it could set.
    auto* locks = new QGridLayout;
    locks->setHorizontalSpacing(10);
    locks->addWidget(new QLabel(tr("锁定：", "Lock:"), this), 0, 0);
    const std::vector<int> fittable = fittableBands(start);
    for (std::size_t i = 0; i < fittable.size(); ++i) {
        const int k = fittable[i];
        auto* box = new QCheckBox(QString::number(k + 1), this);
        box->setObjectName(QString("Lock%1").arg(k + 1));
        box->setToolTip(tr("拟合时保持此段不变", "The fit leaves this band as it is"));
        locks->addWidget(box, int(i / 12), 1 + int(i % 12));
        locks_.push_back({k, box});
    }
    locks->setColumnStretch(13, 1);
    layout->addLayout(locks);

    preview_ = new CEqPanel(this);
    preview_->setObjectName("AutoEqPreview");
    preview_->setLanguage(en ? 1 : 0);
    preview_->setMinimumSize(720, 300);
    preview_->setPreviewOnly();
    layout->addWidget(preview_, 1);
    summary_ = new QLabel(tr("选择测量文件后按“拟合”。", "Choose a measurement, then Fit."), this);
    summary_->setObjectName("AutoEqSummary");
    summary_->setWordWrap(true);
    layout->addWidget(summary_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    fit_ = new QPushButton(tr("拟合", "Fit"), this);
    fit_->setObjectName("AutoEqFit");
    apply_ = new QPushButton(tr("应用", "Apply"), this);
    apply_->setObjectName("AutoEqApply");
    apply_->setEnabled(false);
    auto* close = new QPushButton(tr("关闭", "Close"), this);
    close->setObjectName("AutoEqClose");
    buttons->addWidget(fit_);
    buttons->addWidget(apply_);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    preview_->showBank(start);
    auto showTargetRow = [this] {
        const int k = targetKind_->currentIndex();
        for (QWidget* w : {static_cast<QWidget*>(rise_), static_cast<QWidget*>(corner_),
                           static_cast<QWidget*>(tilt_)})
            w->setVisible(k == 1);
        targetFileLabel_->setVisible(k == 2);
    };
    showTargetRow();
    connect(targetKind_, &QComboBox::activated, this, [this, showTargetRow](int k) {
        if (k == 2) {
            const QString path = editor_.prompter().openFile(
                this, english_ ? "Target curves (*.txt *.frd *.csv);;All files (*)"
                               : "目标曲线 (*.txt *.frd *.csv);;所有文件 (*)");
            if (path.isEmpty() || !setTargetFile(path))
                targetKind_->setCurrentIndex(targetCurve_.empty() ? 0 : 2);
        }
        showTargetRow();
        updateOverlay();
    });
    for (QDoubleSpinBox* b : {rise_, corner_, tilt_, lo_, hi_})
        connect(b, &QDoubleSpinBox::valueChanged, this, [this] { updateOverlay(); });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = editor_.prompter().openFile(
            this, english_ ? "Measurements (*.txt *.frd *.csv);;All files (*)"
                           : "测量文件 (*.txt *.frd *.csv);;所有文件 (*)");
        if (!path.isEmpty())
            setMeasurementFile(path);
    });
    connect(fit_, &QPushButton::clicked, this, &CAutoEqDlg::fit);
    connect(apply_, &QPushButton::clicked, this, &CAutoEqDlg::applyFit);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    if (const BankOverlay* o = editor.eqOverlays().find(bank)) {
        measurement_ = o->measurement;
        measurementName_ = o->name;
        measurementLabel_->setText(o->path.isEmpty() ? o->name : o->path);
        if (o->target.kind == Target::Kind::House) {
            targetKind_->setCurrentIndex(1);
            rise_->setValue(o->target.bassRiseDb);
            corner_->setValue(o->target.cornerHz);
            tilt_->setValue(o->target.tiltDbPerOctave);
        } else if (o->target.kind == Target::Kind::Curve) {
            targetCurve_ = o->target.curve;
            targetKind_->setCurrentIndex(2);
            targetFileLabel_->setText(tr("（已载入）", "(loaded)"));
        }
        showTargetRow();
        updateOverlay();
    }
    fit_->setEnabled(!measurement_.empty());
}

CAutoEqDlg::~CAutoEqDlg() {
    if (worker_ && worker_->joinable())
        worker_->join();
}

bool CAutoEqDlg::setMeasurementFile(const QString& path) {
    const auto curve = readCurveOrSay(editor_, this, path);
    if (!curve)
        return false;
    measurement_ = *curve;
    measurementName_ = QFileInfo(path).fileName();
    measurementLabel_->setText(path);
    editor_.eqOverlays().set(
        bank_, BankOverlay{measurement_, target(), measurementName_, path, 20, 20000});
    updateOverlay();
    fit_->setEnabled(!worker_);
    return true;
}

bool CAutoEqDlg::setTargetFile(const QString& path) {
    const auto curve = readCurveOrSay(editor_, this, path);
    if (!curve)
        return false;
    targetCurve_ = *curve;
    targetFileLabel_->setText(QFileInfo(path).fileName());
    targetKind_->setCurrentIndex(2);
    return true;
}

Target CAutoEqDlg::target() const {
    Target t;
    switch (targetKind_->currentIndex()) {
    case 1:
        t.kind = Target::Kind::House;
        t.bassRiseDb = rise_->value();
        t.cornerHz = corner_->value();
        t.tiltDbPerOctave = tilt_->value();
        break;
    case 2:
        if (!targetCurve_.empty()) {
            t.kind = Target::Kind::Curve;
            t.curve = targetCurve_;
        }
        break;
    default:
        break;
    }
    return t;
}

void CAutoEqDlg::updateOverlay() {
    if (!measurement_.empty())
        preview_->setOverlay(measurement_, target(), measurementName_,
                             std::min(lo_->value(), hi_->value()),
                             std::max(lo_->value(), hi_->value()));
}

void CAutoEqDlg::fit() {
    if (worker_ || measurement_.empty())
        return;
    FitOptions o;
    o.loHz = std::min(lo_->value(), hi_->value());
    o.hiHz = std::max(lo_->value(), hi_->value());
    o.maxBands = bands_->value();
    o.maxBoostDb = maxBoost_->value();
    o.cutOnly = cutOnly_->isChecked();
    for (const auto& [band, box] : locks_)
        if (box->isChecked())
            o.locked.push_back(band);
    const EqBankState start = readBank(editor_.store(), bank_);
    fit_->setEnabled(false);
    apply_->setEnabled(false);
    summary_->setText(english_ ? "Fitting…" : "拟合中……");
    setCursor(Qt::BusyCursor);
    // The worker has copies of everything it reads; only the result crosses back.
    worker_ = std::make_unique<std::thread>([this, start, m = measurement_, t = target(), o] {
        auto r = std::make_shared<FitResult>(fitBank(start, m, t, o));
        QMetaObject::invokeMethod(
            this, [this, r] { showResult(std::make_unique<FitResult>(std::move(*r))); },
            Qt::QueuedConnection);
    });
}

void CAutoEqDlg::showResult(std::unique_ptr<FitResult> r) {
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    unsetCursor();
    fit_->setEnabled(true);
    result_ = std::move(r);
    if (!result_->ok) {
        summary_->setText(pick(english_, result_->error.zh, result_->error.en));
        emit finished();
        return;
    }
    preview_->showBank(result_->bank);
    updateOverlay();
    QString s =
        english_ ? QString("RMS error %1 dB → %2 dB, largest %3 dB → %4 dB (%5 bands, %6 points)")
                 : QString("均方根误差 %1 dB → %2 dB，最大误差 %3 dB → %4 dB（%5 段，%6 点）");
    s = s.arg(result_->before.rmsDb, 0, 'f', 2)
            .arg(result_->after.rmsDb, 0, 'f', 2)
            .arg(result_->before.maxAbsDb, 0, 'f', 2)
            .arg(result_->after.maxAbsDb, 0, 'f', 2)
            .arg(result_->bandsUsed.size())
            .arg(result_->hz.size());
    for (const Note& n : result_->notes)
        s += "\n" + pick(english_, n.zh, n.en);
    if (!result_->better)
        s += "\n" + QString(english_ ? "This fit does not lower the error, so it cannot be applied."
                                     : "此拟合没有降低误差，不能应用。");
    summary_->setText(s);
    apply_->setEnabled(result_->better);
    emit finished();
}

void CAutoEqDlg::applyFit() {
    if (!result_ || !result_->ok || !result_->better)
        return;
    {
        const EqBankInfo* b = eqBankInfo(bank_);
        EditPath::Scope step(editor_.edits(), StepName{std::string("自动均衡 ") + b->zh,
                                                       std::string("Auto EQ ") + b->en});
        sendBank(editor_.edits().dsp(), editor_.store(), result_->bank);
    }
    editor_.eqOverlays().set(bank_, BankOverlay{measurement_, target(), measurementName_,
                                                measurementLabel_->text(),
                                                std::min(lo_->value(), hi_->value()),
                                                std::max(lo_->value(), hi_->value())});
    if (page_)
        page_->refresh();
    editor_.ShowInfo(english_ ? "Auto EQ applied" : "已应用自动均衡", 1500);
    accept();
}

} // namespace q7
