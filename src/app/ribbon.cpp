// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ribbon.h"

#include "app/master_controls.h"
#include "params/param_names.h"
#include "params/store.h"
#include "ui/fonts.h"
#include "ui/language.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QTabBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

namespace q7 {

namespace {

const std::map<int, int>& twins() {
    static const std::map<int, int> t = {
        {32832, 32857}, {32829, 32858}, {32847, 32859}, {32918, 32919}, {32920, 32921},
        {32833, 32860}, {32830, 32861}, {32848, 32862}, {32837, 32863}, {32806, 32864},
        {32849, 32865}, {32834, 32866}, {32831, 32867}, {32850, 32868}, {32842, 32878},
        {32846, 32879}, {32841, 32880}, {32815, 32900}, {32827, 32881}, {32819, 32904},
        {32828, 32882},
    };
    return t;
}

QIcon icon(const char* name) {
    return QIcon(QString(":/images/%1.png").arg(name));
}

constexpr const char* kRibbonStyle = R"(
q7--Ribbon { background: #eef3f9; }
QTabBar::tab { padding: 5px 18px; margin-right: 2px; border: 1px solid transparent;
               border-top-left-radius: 4px; border-top-right-radius: 4px; color: #1f3b5a; }
QTabBar::tab:selected { background: #f9fbfd; border-color: #b8c9dc; border-bottom-color: #f9fbfd; }
QTabBar::tab:!selected:hover { background: #e2ebf5; }
#RibbonCategory { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfdff, stop:1 #e9f0f8);
                  border: 1px solid #b8c9dc; }
#RibbonPanel { border-right: 1px solid #c9d6e4; }
#PanelCaption { color: #4a607a; }
#LabelButton { border: none; color: #17324d; text-align: left; padding: 1px 2px; }
#LabelButton:hover { background: #dde8f4; border-radius: 3px; }
#TabElement, #AppButton, #BigButton { border: 1px solid transparent; border-radius: 3px; padding: 2px 6px; }
#TabElement:hover, #BigButton:hover { background: #dde8f4; border-color: #b8c9dc; }
#SlotButton { border: 1px solid #b8c9dc; border-radius: 4px; background: #f9fbfd; color: #1f3b5a; font-weight: bold; }
#SlotButton:hover { background: #dde8f4; }
#SlotButton:checked { background: #ffd54a; border-color: #c99a00; color: #3a2a00; }
#SmallButton { border: 1px solid transparent; border-radius: 3px; padding: 1px 4px; color: #1f3b5a; }
#SmallButton:hover { background: #dde8f4; border-color: #b8c9dc; }
#AppButton { background: #2f6db5; color: white; font-weight: bold; padding: 4px 12px; }
#AppButton:hover { background: #3b7fcc; }
#LabelButton:focus, #TabElement:focus, #BigButton:focus, #SmallButton:focus, #SlotButton:focus,
#AppButton:focus { border: 2px solid #308cff; }
)";

} // namespace

// ---- slider ----

StepSlider::StepSlider(int id, int width, int minimum, int maximum, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), id_(id) {
    setControlId(this, id);
    setRange(minimum, maximum);
    setSingleStep(1);
    setPageStep(1);
    setFixedWidth(width);
    // Reached with Tab or a click; the arrow keys then step it (keyPressEvent).
    setFocusPolicy(Qt::StrongFocus);
    // sliderMoved comes before value() follows the thumb: take the new position first, or the
    // command reads the old value and writes it back, and the thumb never leaves its place.
    connect(this, &QSlider::sliderMoved, this, [this](int position) {
        setValue(position);
        emit fired(id_);
    });
}

void StepSlider::mousePressEvent(QMouseEvent* e) {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    if (e->button() == Qt::LeftButton && !handle.contains(e->pos())) {
        // One step towards the click, as the original ribbon slider does.
        const int step = e->pos().x() < handle.center().x() ? -1 : 1;
        setValue(value() + (invertedAppearance() ? -step : step));
        emit fired(id_);
        e->accept();
        return;
    }
    QSlider::mousePressEvent(e);
}

void StepSlider::keyPressEvent(QKeyEvent* e) {
    // Each key step goes out as a drag step does.
    const int before = value();
    QSlider::keyPressEvent(e);
    if (value() != before)
        emit fired(id_);
}

void StepSlider::wheelEvent(QWheelEvent* e) {
    // The main view handles the wheel over the ribbon (both twins move together).
    e->ignore();
}

// ---- value label ----

RibbonLabel::RibbonLabel(QWidget* parent) : QToolButton(parent) {}

void RibbonLabel::setCompact(bool on) {
    if (compact_ == on)
        return;
    compact_ = on;
    updateGeometry();
    update();
}

QString RibbonLabel::shownText() const {
    const QString full = text();
    if (!compact_)
        return full;
    const int colon = std::max(full.lastIndexOf(':'), full.lastIndexOf(QChar(0xFF1A)));
    return colon < 0 ? full : full.mid(colon + 1).trimmed();
}

QSize RibbonLabel::sizeHint() const {
    // As QToolButton measures itself, from the text it shows.
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text = shownText();
    const QFontMetrics fm = fontMetrics();
    int w = opt.iconSize.width(), h = opt.iconSize.height();
    QSize text = fm.size(Qt::TextShowMnemonic, opt.text);
    text.setWidth(text.width() + fm.horizontalAdvance(QLatin1Char(' ')) * 2);
    w += 4 + text.width();
    h = std::max(h, text.height());
    opt.rect.setSize(QSize(w, h));
    return style()->sizeFromContents(QStyle::CT_ToolButton, &opt, QSize(w, h), this);
}

void RibbonLabel::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text = shownText();
    p.drawComplexControl(QStyle::CC_ToolButton, opt);
}

// ---- ribbon ----

Ribbon::Ribbon(Language& language, QWidget* parent) : QWidget(parent), language_(language) {
    setObjectName("Ribbon");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(kRibbonStyle);

    appMenu_ = new QMenu(this);
    addAction(appMenu_, cmd::AppOpen, false);
    addAction(appMenu_, cmd::AppSave, false);
    appMenu_->addSeparator();
    addAction(appMenu_, cmd::Undo, false);
    addAction(appMenu_, cmd::Redo, false);
    appMenu_->addSeparator();
    addAction(appMenu_, cmd::CompareFile, false);
    addAction(appMenu_, cmd::CompareAB, false);
    appMenu_->addSeparator();
    recentMenu_ = appMenu_->addMenu(QString());
    recentMenu_->setMinimumWidth(300);
    appMenu_->addSeparator();
    addAction(appMenu_, cmd::AppExit, false);

    appButton_ = new QToolButton(this);
    appButton_->setObjectName("AppButton");
    appButton_->setPopupMode(QToolButton::InstantPopup);
    appButton_->setMenu(appMenu_);
    appButton_->setIcon(icon("app"));
    appButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    tabs_ = new QTabBar(this);
    tabs_->addTab(QString());
    tabs_->addTab(QString());
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);

    presetMenu_ = new QMenu(this);
    for (int i = 0; i < 15; ++i)
        addAction(presetMenu_, cmd::PresetFirst + i, true);

    auto* hdmiMenu = new QMenu(this);
    for (int k = 0; k < 4; ++k)
        addAction(hdmiMenu, cmd::HdmiFirst + k, true)->setText(QString("HDMI%1").arg(k + 1));
    auto* sourceMenu = new QMenu(this);
    const char* sources[] = {"AUTO", "SPDIF1", "SPDIF2", "HDMI", "BlueTooth"};
    for (int k = 0; k < 5; ++k)
        addAction(sourceMenu, cmd::SourceFirst + k, true)->setText(sources[k]);

    auto* top = top_ = new QHBoxLayout;
    top->setContentsMargins(4, 4, 4, 0);
    top->setSpacing(2);
    top->addWidget(appButton_);
    top->addSpacing(8);
    top->addWidget(tabs_, 0, Qt::AlignBottom);
    top->addStretch(1);
    top->addWidget(tabElement(cmd::Hdmi, "hdmi", hdmiMenu));
    top->addWidget(tabElement(cmd::Source, "source", sourceMenu));
    top->addWidget(tabElement(cmd::MusicAgc, "agc"));
    top->addWidget(tabElement(cmd::Reset, "reset"));
    top->addWidget(tabElement(cmd::AutoSub, "autosub"));
    top->addWidget(tabElement(cmd::LanguageSwitch, "language"));
    top->addWidget(tabElement(cmd::About, "about"));

    pages_ = new QStackedWidget(this);
    pages_->addWidget(buildCategory(kInputCategory));
    pages_->addWidget(buildCategory(kOutputCategory));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->setSpacing(0);
    layout->addLayout(top);
    layout->addWidget(pages_);

    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        pages_->setCurrentIndex(index);
        emit categoryChanged(index);
    });
    relabel();
}

int Ribbon::twin(int id) {
    for (const auto& [a, b] : twins()) {
        if (a == id)
            return b;
        if (b == id)
            return a;
    }
    return id;
}

int Ribbon::inCategory(int baseId, int category) {
    return category == kOutputCategory ? twin(baseId) : baseId;
}

int Ribbon::activeCategory() const {
    return tabs_->currentIndex();
}
void Ribbon::setActiveCategory(int category) {
    tabs_->setCurrentIndex(category);
}
QString Ribbon::activeCategoryName() const {
    return tabs_->tabText(tabs_->currentIndex());
}

QAction* Ribbon::addAction(QMenu* menu, int id, bool checkable) {
    QAction* a = menu->addAction(QString());
    a->setCheckable(checkable);
    a->setData(id);
    actions_[id] = a;
    // The view owns the check marks: a click asks it to act, and it shows what really happened
    // (a declined or refused choice leaves the old mark).
    connect(a, &QAction::triggered, this, [this, a, id](bool checked) {
        if (a->isCheckable())
            a->setChecked(!checked);
        emit command(id);
    });
    return a;
}

QToolButton* Ribbon::tabElement(int id, const char* iconName, QMenu* menu) {
    auto* b = new QToolButton(this);
    b->setObjectName("TabElement");
    setControlId(b, id);
    b->setIcon(icon(iconName));
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(id == cmd::About ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    b->setAutoRaise(true);
    if (menu) {
        b->setMenu(menu);
        b->setPopupMode(QToolButton::InstantPopup);
    } else {
        connect(b, &QToolButton::clicked, this, [this, id] { emit command(id); });
    }
    buttons_[id] = b;
    if (id != cmd::About) {
        tabElements_.push_back(b);
        b->installEventFilter(this);
    }
    return b;
}

QWidget* Ribbon::wrapPanel(int category, int panelIndex, QWidget* content) {
    auto* p = new QWidget;
    p->setObjectName("RibbonPanel");
    p->setAttribute(Qt::WA_StyledBackground);
    auto* caption = new QLabel(p);
    caption->setObjectName("PanelCaption");
    caption->setAlignment(Qt::AlignCenter);
    caption->setFont(songti(12));
    auto* v = new QVBoxLayout(p);
    v->setContentsMargins(6, 4, 6, 2);
    v->setSpacing(2);
    v->addWidget(content, 1);
    v->addWidget(caption);
    captions_[category][panelIndex] = caption;
    panels_[category][panelIndex] = p;
    return p;
}

RibbonLabel* Ribbon::valueLabel(int category, const MasterVolume& volume, QWidget* parent) {
    const int label = inCategory(volume.label, category);
    auto* b = new RibbonLabel(parent);
    b->setObjectName("LabelButton");
    setControlId(b, label);
    b->setIcon(icon(volume.icon));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setFont(songti(12));
    b->installEventFilter(this);
    labels_.push_back(b);
    connect(b, &QToolButton::clicked, this, [this, label] { emit command(label); });
    buttons_[label] = b;
    return b;
}

QWidget* Ribbon::volumePanel(int category, int panelIndex, const MasterVolume& volume, int width) {
    const ParamInfo& range = masterParam(volume.cell);
    auto* content = new QWidget;
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(3);
    v->addWidget(valueLabel(category, volume, content));
    const int sid = inCategory(volume.slider, category);
    auto* s = new StepSlider(sid, width, int(range.min), int(range.max), content);
    connect(s, &StepSlider::fired, this, &Ribbon::emitCommand);
    sliders_[sid] = s;
    v->addWidget(s);
    if (volume.mute) {
        const int mid = inCategory(volume.mute, category);
        auto* c = new QCheckBox(content);
        setControlId(c, mid);
        c->setFont(songti(12));
        // The view owns the state: a click asks it to toggle, the refresh shows the result.
        connect(c, &QCheckBox::clicked, this, [this, c, mid](bool checked) {
            c->setChecked(!checked);
            emit command(mid);
        });
        checks_[mid] = c;
        v->addWidget(c);
    } else {
        v->addStretch(1);
    }
    return wrapPanel(category, panelIndex, content);
}

QWidget* Ribbon::pitchPanel(int category) {
    auto* content = new QWidget;
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(3);
    const MasterVolume& gate = masterVolumes().back();
    v->addWidget(valueLabel(category, gate, content));
    for (auto [base, cell] :
         {std::pair{gate.slider, gate.cell}, std::pair{cmd::PitchSlider, int(cell::MusicPitch)}}) {
        const ParamInfo& range = masterParam(cell);
        const int sid = inCategory(base, category);
        auto* s = new StepSlider(sid, 100, int(range.min), int(range.max), content);
        if (base == cmd::PitchSlider) {
            s->setTickPosition(QSlider::TicksBelow);
            s->setTickInterval(1);
        }
        connect(s, &StepSlider::fired, this, &Ribbon::emitCommand);
        sliders_[sid] = s;
        v->addWidget(s);
    }
    return wrapPanel(category, 5, content);
}

QWidget* Ribbon::filePanel(int category, bool load) {
    auto* content = new QWidget;
    // Side by side in full; one above the other when the ribbon folds (filePair).
    auto* h = new QGridLayout(content);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    fileGrids_.push_back(h);

    // The mode split button shares its M1..M4 menu between the twins.
    QMenu*& modes = load ? loadModes_ : saveModes_;
    if (!modes) {
        modes = new QMenu(this);
        for (int k = 0; k < 4; ++k)
            addAction(modes, (load ? cmd::LoadModeFirst : cmd::SaveModeFirst) + k, true);
    }
    const int modeId = inCategory(load ? cmd::LoadMode : cmd::SaveMode, category);
    QToolButton* mode = bigButton(content, modeId, load ? "load_mode" : "save_mode");
    mode->setMenu(modes);
    mode->setPopupMode(QToolButton::InstantPopup);
    fileButtons_.push_back(mode);
    h->addWidget(mode, 0, 0);

    const int fileId = inCategory(load ? cmd::LoadFile : cmd::SaveFile, category);
    QToolButton* file = bigButton(content, fileId, load ? "load_file" : "save_file");
    fileButtons_.push_back(file);
    if (load) {
        // The factory presets hang off the load-file button.
        file->setMenu(presetMenu_);
        file->setPopupMode(QToolButton::MenuButtonPopup);
    }
    connect(file, &QToolButton::clicked, this, [this, fileId] { emit command(fileId); });
    h->addWidget(file, 0, 1);
    return wrapPanel(category, load ? 6 : 7, content);
}

QWidget* Ribbon::remotePanel() {
    return bigButtonPanel({{cmd::IrLearning, "remote"}}, remoteCaption_);
}

// Measuring one speaker and tuning the whole room, side by side.
// At the narrowest they share one button with a menu.
QWidget* Ribbon::roomPanel() {
    QWidget* p = bigButtonPanel(
        {{cmd::Measure, "mic"}, {cmd::TuneRoom, "autosub"}, {cmd::RemoteAccess, "phone"}},
        roomCaption_);
    roomMenuButton_ = new QToolButton(p);
    roomMenuButton_->setObjectName("BigButton");
    roomMenuButton_->setIcon(icon("mic"));
    roomMenuButton_->setIconSize(QSize(32, 32));
    roomMenuButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    roomMenuButton_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(roomMenuButton_);
    // At the narrowest, remote access waits in this menu too.
    for (int id : {cmd::Measure, cmd::TuneRoom, cmd::RemoteAccess}) {
        QAction* a = menu->addAction(QString());
        connect(a, &QAction::triggered, this, [this, id] { emit command(id); });
        roomActions_.push_back(a);
    }
    roomMenuButton_->setMenu(menu);
    roomMenuButton_->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(p->layout()))
        grid->addWidget(roomMenuButton_, 0, grid->columnCount() - 1, Qt::AlignHCenter);
    return p;
}

QToolButton* Ribbon::bigButton(QWidget* parent, int id, const char* iconName) {
    auto* b = new QToolButton(parent);
    b->setObjectName("BigButton");
    setControlId(b, id);
    b->setIcon(icon(iconName));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFont(songti(12));
    b->setMinimumWidth(76);
    b->installEventFilter(this);
    buttons_[id] = b;
    return b;
}

QWidget* Ribbon::bigButtonPanel(std::initializer_list<std::pair<int, const char*>> buttons,
                                QLabel*& caption) {
    auto* p = new QWidget;
    p->setObjectName("RibbonPanel");
    p->setAttribute(Qt::WA_StyledBackground);
    // One layout for the panel: a nested one would keep the size of a fold before.
    auto* grid = new QGridLayout(p);
    grid->setContentsMargins(6, 4, 6, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    int column = 0;
    for (auto [id, iconName] : buttons) {
        QToolButton* b = bigButton(p, id, iconName);
        bigButtons_.push_back(b);
        connect(b, &QToolButton::clicked, this, [this, id = id] { emit command(id); });
        grid->addWidget(b, 0, column++, Qt::AlignHCenter);
    }
    caption = new QLabel(p);
    caption->setObjectName("PanelCaption");
    caption->setAlignment(Qt::AlignCenter);
    caption->setFont(songti(12));
    grid->setRowStretch(0, 1);
    // The caption also spans the column a menu button may take at the narrowest.
    grid->addWidget(caption, 1, 0, 1, column + 1);
    return p;
}

QWidget* Ribbon::comparePanel(int category) {
    auto* p = new QWidget;
    p->setObjectName("RibbonPanel");
    p->setAttribute(Qt::WA_StyledBackground);
    auto* grid = new QGridLayout;
    grid->setSpacing(3);
    auto make = [&](int id, bool big) {
        auto* b = new QToolButton(p);
        b->setObjectName(big ? "SlotButton" : "SmallButton");
        setControlId(b, id);
        b->setFont(songti(big ? 16 : 11));
        b->setCheckable(big);
        b->setAutoRaise(!big);
        if (big)
            b->setFixedSize(40, 40);
        connect(b, &QToolButton::clicked, this, [this, id] { emit command(id); });
        slotButtons_[category][id] = b;
        return b;
    };
    grid->addWidget(make(cmd::SlotA, true), 0, 0);
    grid->addWidget(make(cmd::SlotB, true), 0, 1);
    grid->addWidget(make(cmd::CopyAB, false), 1, 0, 1, 2);
    grid->addWidget(make(cmd::CopyBA, false), 2, 0, 1, 2);
    slotButtons_[category][cmd::SlotA]->setText("A");
    slotButtons_[category][cmd::SlotB]->setText("B");
    slotButtons_[category][cmd::SlotA]->setChecked(true);
    compareCaption_[category] = new QLabel(p);
    compareCaption_[category]->setObjectName("PanelCaption");
    compareCaption_[category]->setAlignment(Qt::AlignCenter);
    compareCaption_[category]->setFont(songti(12));
    auto* v = new QVBoxLayout(p);
    v->setContentsMargins(6, 4, 6, 2);
    v->setSpacing(2);
    v->addLayout(grid, 1);
    v->addWidget(compareCaption_[category]);
    return p;
}

void Ribbon::setActiveSlot(int slot) {
    for (auto& buttons : slotButtons_) {
        buttons[cmd::SlotA]->setChecked(slot == 0);
        buttons[cmd::SlotB]->setChecked(slot == 1);
    }
}

QToolButton* Ribbon::slotButton(int category, int id) const {
    const auto& buttons = slotButtons_[category & 1];
    const auto it = buttons.find(id);
    return it == buttons.end() ? nullptr : it->second;
}

QWidget* Ribbon::buildCategory(int category) {
    auto* w = new QWidget;
    w->setObjectName("RibbonCategory");
    w->setAttribute(Qt::WA_StyledBackground);
    auto* h = rows_[category] = new QHBoxLayout(w);
    h->setContentsMargins(2, 2, 2, 2);
    h->setSpacing(0);
    // The five volumes, then the music noise gate with the pitch.
    const std::span<const MasterVolume> volumes = masterVolumes();
    for (int panel = 0; panel < 5; ++panel)
        h->addWidget(volumePanel(category, panel, volumes[std::size_t(panel)], 90));
    h->addWidget(pitchPanel(category));
    h->addWidget(filePanel(category, true));
    h->addWidget(filePanel(category, false));
    h->addWidget(comparePanel(category));
    if (category == kInputCategory)
        h->addWidget(remotePanel());
    else
        h->addWidget(roomPanel());
    h->addStretch(1);
    return w;
}

StepSlider* Ribbon::slider(int id) const {
    const auto it = sliders_.find(id);
    return it == sliders_.end() ? nullptr : it->second;
}
QCheckBox* Ribbon::check(int id) const {
    const auto it = checks_.find(id);
    return it == checks_.end() ? nullptr : it->second;
}
QToolButton* Ribbon::button(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}
QAction* Ribbon::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}
QLabel* Ribbon::panelCaption(int category, int p) const {
    return captions_[category][p];
}
QWidget* Ribbon::panel(int category, int p) const {
    return panels_[category][p];
}

void Ribbon::setSliderPair(int baseId, int value) {
    for (int id : {baseId, twin(baseId)})
        if (StepSlider* s = slider(id)) {
            const QSignalBlocker block(s);
            s->setValue(value);
        }
}

void Ribbon::setSliderRange(int baseId, int minimum, int maximum) {
    for (int id : {baseId, twin(baseId)})
        if (StepSlider* s = slider(id)) {
            const QSignalBlocker block(s);
            s->setRange(minimum, maximum);
        }
}

void Ribbon::setLabelPair(int baseId, const QString& text) {
    bool wider = false;
    for (int id : {baseId, twin(baseId)})
        if (QToolButton* b = button(id)) {
            b->setText(text);
            wider |= b->isVisible() && b->sizeHint().width() > b->width();
        }
    if (wider)
        fitWidth();
}

void Ribbon::setCheckPair(int baseId, bool checked) {
    for (int id : {baseId, twin(baseId)})
        if (QCheckBox* c = check(id))
            c->setChecked(checked);
}

void Ribbon::setPanelName(int category, int p, const QString& text) {
    if (QLabel* l = panelCaption(category, p)) {
        l->setText(text);
        if (l->isVisible() && l->sizeHint().width() > l->width())
            fitWidth();
    }
}

// ---- folding ----

void Ribbon::setFold(int fold) {
    fold_ = std::clamp(fold, 0, kMaxFold);
    // The file buttons: big with their names under; small with their names beside, one above
    // the other; only their icons.
    for (QGridLayout* grid : fileGrids_) {
        QLayoutItem* second = grid->itemAtPosition(0, 1);
        if (!second)
            second = grid->itemAtPosition(1, 0);
        QWidget* file = second->widget();
        grid->removeWidget(file);
        const bool stacked = fold_ == 1 || fold_ == 2;
        grid->addWidget(file, stacked ? 1 : 0, stacked ? 0 : 1);
    }
    for (QToolButton* b : fileButtons_) {
        const bool big = fold_ == 0, icons = fold_ >= 3;
        b->setToolButtonStyle(big     ? Qt::ToolButtonTextUnderIcon
                              : icons ? Qt::ToolButtonIconOnly
                                      : Qt::ToolButtonTextBesideIcon);
        b->setIconSize(big || icons ? QSize(32, 32) : QSize(20, 20));
        b->setMinimumWidth(big ? 76 : 0);
    }
    // The big buttons (remote, room tuning): as wide as their words, or only their icons.
    for (QToolButton* b : bigButtons_) {
        b->setToolButtonStyle(fold_ >= 1 ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
        b->setMinimumWidth(
            fold_ >= 1 ? 0
                       : std::max(76, QFontMetrics(b->font()).horizontalAdvance(b->text()) + 20));
    }
    const bool roomMenu = fold_ >= kMaxFold;
    if (roomMenuButton_) {
        button(cmd::Measure)->setHidden(roomMenu);
        button(cmd::TuneRoom)->setHidden(roomMenu);
        button(cmd::RemoteAccess)->setHidden(roomMenu);
        roomMenuButton_->setHidden(!roomMenu);
    }
    for (RibbonLabel* l : labels_)
        l->setCompact(fold_ >= 2);
    for (QToolButton* b : tabElements_)
        b->setToolButtonStyle(fold_ >= 4 ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    // The panels take the new sizes now, not when the posted layout requests come round: the
    // width is measured at once.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (QLayout* l = w->layout())
            l->invalidate();
        w->updateGeometry();
    }
    layout()->invalidate();
}

int Ribbon::measure() const {
    int need = top_->sizeHint().width();
    for (QHBoxLayout* row : rows_)
        need = std::max(need, row->sizeHint().width() + 2); // and the category's border
    return need;
}

int Ribbon::widthNeeded(int fold) {
    const int was = fold_;
    setFold(fold);
    const int need = measure();
    setFold(was);
    return need;
}

void Ribbon::fitWidth() {
    if (fitting_)
        return;
    fitting_ = true;
    for (int fold = 0; fold <= kMaxFold; ++fold) {
        setFold(fold);
        if (measure() <= width())
            break;
    }
    layout()->activate();
    fitting_ = false;
}

void Ribbon::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    fitWidth();
}

bool Ribbon::eventFilter(QObject* watched, QEvent* event) {
    // A folded element names itself in its tooltip, above what it does.
    if (event->type() == QEvent::ToolTip) {
        auto* b = qobject_cast<QToolButton*>(watched);
        auto* label = qobject_cast<RibbonLabel*>(watched);
        const bool folded = (label && label->compact()) ||
                            (b && !label && b->toolButtonStyle() == Qt::ToolButtonIconOnly);
        if (b && folded && !b->text().isEmpty()) {
            QString name = b->text().simplified();
            const QString tip = b->toolTip();
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                               tip.isEmpty() ? name : name + "\n" + tip, b);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int Ribbon::controlAt(const QPoint& globalPos) const {
    const int c = activeCategory();
    static constexpr int panelSliders[5] = {cmd::MicSlider, cmd::EffectSlider, cmd::ReverbSlider,
                                            cmd::EchoSlider, cmd::MusicSlider};
    for (int p = 0; p < 5; ++p) {
        QWidget* w = panels_[c][p];
        if (w && w->isVisible() && w->rect().contains(w->mapFromGlobal(globalPos)))
            return panelSliders[p];
    }
    for (int base : {cmd::GateSlider, cmd::PitchSlider}) {
        StepSlider* s = slider(inCategory(base, c));
        if (s && s->isVisible() && s->rect().contains(s->mapFromGlobal(globalPos)))
            return base;
    }
    return 0;
}

void Ribbon::relabel() {
    const Language& l = language_;
    tabs_->setTabText(kInputCategory, l.pick("输入控制", "Input"));
    tabs_->setTabText(kOutputCategory, l.pick("输出调节", "Output"));
    appButton_->setText(l.pick("文件", "File"));
    static const char* const names[kPanelCount][2] = {
        {"话筒音量", "Mic  Vol"},   {"总效果音量", "Effect Vol"},
        {"混响音量", "Reverb Vol"}, {"回声音量", "Echo Vol"},
        {"音乐音量", "Music Vol"},  {"", ""},
        {"调用", "Load"},           {"保存", "Save"},
    };
    for (int c = 0; c < 2; ++c) {
        for (int p = 0; p < kPanelCount; ++p)
            if (p != 5)
                setPanelName(c, p, l.pick(names[p][0], names[p][1]));
        for (int base : {cmd::MicMute, cmd::ReverbMute, cmd::EchoMute, cmd::MusicMute})
            if (QCheckBox* cb = check(inCategory(base, c)))
                cb->setText(l.pick("静音", "Mute"));
        button(inCategory(cmd::LoadMode, c))->setText(l.pick("载入模式", "LoadMode"));
        button(inCategory(cmd::LoadFile, c))->setText(l.pick("载入文件", "LoadFile"));
        button(inCategory(cmd::SaveMode, c))->setText(l.pick("保存模式", "SaveMode"));
        button(inCategory(cmd::SaveFile, c))->setText(l.pick("保存文件", "SaveFile"));
    }
    button(cmd::IrLearning)->setText(l.pick("遥控学习", "Remote"));
    button(cmd::RemoteAccess)->setText(l.pick("远程访问…", "Remote access…"));
    remoteCaption_->setText(l.pick("红外遥控", "IR remote"));
    button(cmd::TuneRoom)->setText(l.pick("房间调校…", "Tune room…"));
    button(cmd::Measure)->setText(l.pick("测量…", "Measure…"));
    roomCaption_->setText(l.pick("房间", "Room"));
    roomActions_[0]->setText(button(cmd::Measure)->text());
    roomActions_[1]->setText(button(cmd::TuneRoom)->text());
    roomActions_[2]->setText(button(cmd::RemoteAccess)->text());
    roomMenuButton_->setToolTip(
        l.pick("测量一只音箱，或调校整个房间", "Measure one speaker, or tune the whole room"));
    action(cmd::AppOpen)->setText(l.pick("打开(&O)", "Open(&O)"));
    action(cmd::AppSave)->setText(l.pick("保存(&S)", "Save(&S)"));
    action(cmd::AppExit)->setText(l.pick("退出(&X)", "Exit(&X)"));
    action(cmd::CompareFile)->setText(l.pick("与文件比较……", "Compare with file…"));
    action(cmd::CompareAB)->setText(l.pick("比较 A/B", "Compare A/B"));
    for (int c = 0; c < 2; ++c) {
        compareCaption_[c]->setText(l.pick("A/B 比较", "A/B compare"));
        slotButtons_[c][cmd::CopyAB]->setText(l.pick("复制 A→B", "Copy A→B"));
        slotButtons_[c][cmd::CopyBA]->setText(l.pick("复制 B→A", "Copy B→A"));
        slotButtons_[c][cmd::SlotA]->setToolTip(l.pick("设置 A", "Settings A"));
        slotButtons_[c][cmd::SlotB]->setToolTip(l.pick("设置 B", "Settings B"));
    }
    recentMenu_->setTitle(l.pick("最近的文档(Last documents)", "Last documents(最近的文档)"));
    button(cmd::Hdmi)->setText("HDMI");
    button(cmd::Source)->setText(l.pick("音乐源", "Music Source"));
    button(cmd::MusicAgc)->setText(l.pick("音乐AGC", "Music AGC"));
    button(cmd::Reset)->setText(l.pick("机器复位", "Reset"));
    button(cmd::AutoSub)->setText(l.pick("自动超低", "Auto SUB"));
    button(cmd::LanguageSwitch)->setText("中/EN");
    button(cmd::About)->setToolTip(l.pick("关于", "About"));
    for (auto& [id, b] : buttons_)
        b->setFont(songti(12));
    setRecentFiles(recent_);
    // Texts of the other language take another width.
    fitWidth();
}

void Ribbon::setRecentFiles(const QStringList& paths) {
    recent_ = paths;
    recentMenu_->clear();
    for (int i = 0; i < paths.size(); ++i) {
        QAction* a = recentMenu_->addAction(
            QString("&%1 %2").arg(i + 1).arg(QFileInfo(paths[i]).fileName()));
        a->setToolTip(paths[i]);
        const int id = cmd::RecentFirst + i;
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { emit command(id); });
    }
    recentMenu_->setEnabled(!paths.isEmpty());
}

void Ribbon::setPresetNames(const QStringList& names) {
    for (int i = 0; i < names.size() && i < 15; ++i)
        if (QAction* a = action(cmd::PresetFirst + i))
            a->setText(names[i]);
}

} // namespace q7
