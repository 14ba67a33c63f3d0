// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/compressor_page.h"

#include "controls/bmp_slider.h"
#include "controls/compress_panel.h"
#include "pages/nav_row.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "ui/control_id.h"
#include "ui/fonts.h"
#include "ui/style.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <cmath>

namespace q7 {

namespace {

struct Group {
    OutputGroup group;
    int box;
    int sliders[4];
    int labels[4];
    int captions[4];
    int curve;
};
constexpr Group kGroupIds[CCompDlg::kGroups] = {
    {OutputGroup::Main,
     1045,
     {1014, 1015, 1016, 1017},
     {1038, 1039, 1040, 1041},
     {1005, 1007, 1006, 1002},
     1125},
    {OutputGroup::Rear,
     1046,
     {1018, 1019, 1020, 1021},
     {1042, 1043, 1044, 1047},
     {1008, 1009, 1010, 1003},
     1126},
    {OutputGroup::Center,
     1050,
     {1022, 1023, 1024, 1025},
     {1048, 1049, 1051, 1052},
     {1011, 1012, 1013, 1004},
     1127},
    {OutputGroup::Sub,
     1055,
     {1028, 1029, 1030, 1032},
     {1053, 1054, 1056, 1057},
     {1026, 1027, 1031, 1033},
     1128},
    {OutputGroup::Top,
     1060,
     {1036, 1037, 1061, 1064},
     {1058, 1059, 1062, 1065},
     {1034, 1035, 1063, 1066},
     1129},
};

struct Range {
    int minimum, maximum, initial;
};
// Threshold, ratio, attack and release as the sliders count them (the ratio in tenths), over the
// names table's ranges; the initial positions are the sliders' own before a store is shown.
Range sliderRange(int k) {
    static constexpr int initial[4] = {0, 10, 1, 100};
    const ParamInfo& p = *cellParam(compressorInfo(OutputGroup::Main).firstCell + k);
    const double scale = k == 1 ? 10.0 : 1.0;
    return {int(std::lround(p.min * scale)), int(std::lround(p.max * scale)),
            initial[std::size_t(k)]};
}
const Range kRanges[4] = {sliderRange(0), sliderRange(1), sliderRange(2), sliderRange(3)};

QString label(int k, double v) {
    switch (k) {
    case 0:
        return QString::asprintf("%.0fdB", v);
    case 1:
        return QString::asprintf("%.1f:1", v);
    default:
        return QString::asprintf("%.0fms", v);
    }
}

// Truncation toward zero, clamped to the slider's range; NaN lands on the minimum.
int sliderPosition(double v, const Range& r) {
    if (!(v == v))
        return r.minimum;
    const double t = std::trunc(std::clamp(v, double(r.minimum), double(r.maximum)));
    return int(t);
}

} // namespace

CCompDlg::CCompDlg(EditorContext& editor, QWidget* parent)
    : CPage(PageKind::Compressor, editor, parent) {
    setObjectName("CCompDlg");
    nav_ = new NavRow(this, editor_);
    for (int g = 0; g < kGroups; ++g) {
        const Group& ids = kGroupIds[g];
        Row& row = rows_[std::size_t(g)];
        row.on = new QCheckBox(this);
        setControlId(row.on, ids.box);
        row.on->setFont(songti(13, true));
        connect(row.on, &QCheckBox::clicked, this, [this, g](bool on) { onClicked(g, on); });
        for (int k = 0; k < 4; ++k) {
            auto* caption = new QLabel(this);
            setControlId(caption, ids.captions[k]);
            caption->setFont(songti(12));
            row.captions[std::size_t(k)] = caption;
            auto* s = new CXBmpSlider(ids.sliders[k], this);
            s->SetMargin(7, 7, 3, 2);
            s->SetClearColour(QColor(250, 253, 255)); // the group's card
            s->SetRange(kRanges[k].minimum, kRanges[k].maximum);
            s->SetPos(kRanges[k].initial);
            connect(s, &CXBmpSlider::positionChanged, this,
                    [this, g, k](int, int p) { sliderMoved(g, k, p); });
            row.sliders[std::size_t(k)] = s;
            auto* value = new QLabel(this);
            setControlId(value, ids.labels[k]);
            value->setFont(uiFont("Arial", 12, true));
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            row.values[std::size_t(k)] = value;
        }
        row.curve = new CCompressPanelPlus(this);
        setControlId(row.curve, ids.curve);
        // Below the threshold the curve is the unity line.
        row.curve->SetLowerKnee(-90.0f);
        row.curve->SetLowerSlope(1.0f);
    }
    routeWheel([](int id) { return id >= 1014 && id <= 1064; });
    refresh();
    applyLanguage();
}

void CCompDlg::refresh() {
    const ParameterStore& s = editor_.store();
    for (int g = 0; g < kGroups; ++g) {
        const CompressorInfo& c = compressorInfo(kGroupIds[g].group);
        Row& row = rows_[std::size_t(g)];
        const bool on = s.cellInt(c.offCell) == 0;
        row.on->setChecked(on);
        const double values[4] = {s.cellFloat(c.firstCell), s.cellFloat(c.firstCell + 1),
                                  s.cellFloat(c.firstCell + 2), s.cellFloat(c.firstCell + 3)};
        for (int k = 0; k < 4; ++k) {
            const double position = k == 1 ? double(float(values[1]) * 10.0f) : values[k];
            row.sliders[std::size_t(k)]->SetPos(sliderPosition(position, kRanges[k]));
            row.values[std::size_t(k)]->setText(label(k, values[k]));
        }
        row.curve->SetEnabled(on);
        row.curve->SetThreshold(float(values[0]));
        row.curve->SetRatio(float(values[1]));
        row.curve->update();
    }
    nav_->setCurrent(1075);
}

void CCompDlg::onClicked(int g, bool checked) {
    EditPath::Scope step(editor_.edits());
    const CompressorInfo& c = compressorInfo(kGroupIds[g].group);
    editor_.store().setCellInt(c.offCell, checked ? 0 : 1);
    editor_.dsp().sendSelector(c.offCell);
    CCompressPanelPlus* curve = rows_[std::size_t(g)].curve;
    curve->SetEnabled(checked);
    curve->update();
}

void CCompDlg::sliderMoved(int g, int k, int p) {
    EditPath::Scope step(editor_.edits());
    const CompressorInfo& c = compressorInfo(kGroupIds[g].group);
    const ParameterStore& s = editor_.store();
    codec::Compressor v;
    v.threshold = s.cellFloat(c.firstCell);
    v.ratio = s.cellFloat(c.firstCell + 1);
    // Stored times go out in whole milliseconds.
    v.attack = std::trunc(s.cellFloat(c.firstCell + 2));
    v.release = std::trunc(s.cellFloat(c.firstCell + 3));
    Row& row = rows_[std::size_t(g)];
    switch (k) {
    case 0:
        v.threshold = float(p);
        row.curve->SetThreshold(v.threshold);
        row.curve->update();
        break;
    case 1:
        v.ratio = float(p / 10.0);
        row.curve->SetRatio(v.ratio);
        break;
    case 2:
        v.attack = float(p);
        break;
    default:
        v.release = float(p);
        break;
    }
    row.values[std::size_t(k)]->setText(label(k, k == 1 ? p / 10.0 : double(p)));
    editor_.dsp().sendCompressor(kGroupIds[g].group, v);
}

void CCompDlg::applyLanguage() {
    CPage::applyLanguage();
    update();
}

void CCompDlg::layoutControls() {
    const int W = std::max(width(), kMinPageWidth), H = std::max(height(), kMinPageHeight);
    nav_->place(12, 8, W - 24);
    const int top = 46, gap = 10;
    const int cw = (W - 24 - gap * (kGroups - 1)) / kGroups;
    for (int g = 0; g < kGroups; ++g) {
        Row& row = rows_[std::size_t(g)];
        const int x = 12 + g * (cw + gap);
        row.frame = QRect(x, top, cw, H - top - 10);
        row.on->setGeometry(x + 10, top + 8, cw - 20, 24);
        int y = top + 38;
        for (int k = 0; k < 4; ++k) {
            row.captions[std::size_t(k)]->setGeometry(x + 10, y, cw - 80, 20);
            row.values[std::size_t(k)]->setGeometry(x + cw - 76, y, 66, 20);
            row.sliders[std::size_t(k)]->setGeometry(x + 6, y + 20, cw - 12, 24);
            y += 50;
        }
        row.curve->setGeometry(x + 6, y + 4, cw - 12, std::max(120, H - 10 - 6 - (y + 4)));
    }
}

void CCompDlg::paintEvent(QPaintEvent* e) {
    CPage::paintEvent(e);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (const Row& row : rows_)
        paintCard(p, row.frame);
}

} // namespace q7
