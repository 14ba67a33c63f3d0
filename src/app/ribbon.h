// SPDX-License-Identifier: GPL-3.0-or-later
// The ribbon: two categories ("Input" and "Output") with the same eight panels, so every master
// control exists twice (twins), the application menu and the tab-bar elements. It only shows
// controls and reports commands by id; the main view acts on them.
#pragma once

#include <QSlider>
#include <QToolButton>
#include <QWidget>
#include <map>
#include <vector>

class QAction;
class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace q7 {

class Language;
struct MasterVolume;

namespace cmd {
// Input category ids; the Output twins are found with Ribbon::twin().
inline constexpr int MicLabel = 32832, MicSlider = 32829, MicMute = 32847;
inline constexpr int EffectLabel = 32918, EffectSlider = 32920;
inline constexpr int ReverbLabel = 32833, ReverbSlider = 32830, ReverbMute = 32848;
inline constexpr int EchoLabel = 32837, EchoSlider = 32806, EchoMute = 32849;
inline constexpr int MusicLabel = 32834, MusicSlider = 32831, MusicMute = 32850;
inline constexpr int GateLabel = 32842, GateSlider = 32846, PitchSlider = 32841;
inline constexpr int LoadMode = 32815, LoadFile = 32827, SaveMode = 32819, SaveFile = 32828;
inline constexpr int LoadModeFirst = 32910, SaveModeFirst = 32914, DefaultModeFirst = 32823;
inline constexpr int PresetFirst = 32000;
inline constexpr int AppOpen = 57601, AppSave = 57603, AppExit = 57665, About = 57664;
inline constexpr int Hdmi = 32909, HdmiFirst = 12920, Source = 12929, SourceFirst = 12924;
inline constexpr int MusicAgc = 32908, Reset = 32811, AutoSub = 32883, LanguageSwitch = 32805;
inline constexpr int IrLearning = 32812;
inline constexpr int EqBypass = 1121, EqReset = 1122;
inline constexpr int ShowMusic = 32796, ShowOutputMain = 32799, ShowOutputCenter = 32800,
                     ShowOutputSub = 32801, ShowOutputRear = 32802, ShowLocation = 32803,
                     ShowDelay = 32804, ShowCompressor = 32835;
inline constexpr int RecentFirst = 57616; // the recent-file entries
inline constexpr int Undo = 33101, Redo = 33102, CompareFile = 33103, CompareAB = 33104;
inline constexpr int SlotA = 33105, SlotB = 33106, CopyAB = 33107, CopyBA = 33108;
inline constexpr int TuneRoom = 33109, Measure = 33110, RemoteAccess = 33111;
} // namespace cmd

inline constexpr int kInputCategory = 0;
inline constexpr int kOutputCategory = 1;
inline constexpr int kPanelCount = 8;

// A ribbon slider: a click on the track (not the thumb) moves one step towards the click and
// fires; a drag fires while moving.
class StepSlider : public QSlider {
    Q_OBJECT
public:
    StepSlider(int id, int width, int minimum, int maximum, QWidget* parent);
    int id() const { return id_; }

signals:
    void fired(int id);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    int id_;
};

// A value label of the ribbon ("Mic    Vol:  60"). Where the ribbon is narrow it shows only its
// icon and value (the panel's caption names it); text() is the whole label in every case.
class RibbonLabel : public QToolButton {
    Q_OBJECT
public:
    explicit RibbonLabel(QWidget* parent);
    void setCompact(bool on);
    bool compact() const { return compact_; }
    // What the button shows: the whole label, or only its value when compact.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool compact_ = false;
};

class Ribbon : public QWidget {
    Q_OBJECT
public:
    explicit Ribbon(Language& language, QWidget* parent = nullptr);

    int activeCategory() const;
    void setActiveCategory(int category);
    QString activeCategoryName() const;

    // The Output twin of an Input id and the reverse; the id itself when it has none.
    static int twin(int id);
    // The id of the element in the given category (Input ids are the base).
    static int inCategory(int baseId, int category);

    StepSlider* slider(int id) const;
    QCheckBox* check(int id) const;
    QToolButton* button(int id) const;
    QAction* action(int id) const;
    QLabel* panelCaption(int category, int panel) const;
    QTabBar* tabBar() const { return tabs_; }
    QMenu* appMenu() const { return appMenu_; }
    QWidget* panel(int category, int panel) const;

    // Sets both twins of a slider without firing.
    void setSliderPair(int baseId, int value);
    void setSliderRange(int baseId, int minimum, int maximum);
    void setLabelPair(int baseId, const QString& text);
    void setCheckPair(int baseId, bool checked);
    void setPanelName(int category, int panel, const QString& text);

    // The base id of the volume or slider control under a global position, or 0.
    int controlAt(const QPoint& globalPos) const;

    // Rewrites every fixed text in the current language (values come from the view).
    void relabel();
    void setRecentFiles(const QStringList& paths);
    // The A/B group: which slot is lit.
    void setActiveSlot(int slot);
    // The A/B group's buttons of a category (A, B, Copy A→B, Copy B→A).
    QToolButton* slotButton(int category, int id) const;
    void setPresetNames(const QStringList& names);

    // How far the ribbon has folded to fit its width: 0 everything in full; 1 the file buttons
    // small, one above the other, and the remote button only its icon; 2 the value labels only
    // their values; 3 the file buttons only their icons; 4 the tab-bar elements only their
    // icons. What a folded element no longer shows is in its tooltip.
    int fold() const { return fold_; }
    static constexpr int kMaxFold = 4;
    // The width the ribbon needs at a fold (the wider of the two categories, and the top row).
    int widthNeeded(int fold);

signals:
    void command(int id);
    void categoryChanged(int category);

private:
    Language& language_;
    QTabBar* tabs_;
    QStackedWidget* pages_;
    QToolButton* appButton_;
    QMenu* appMenu_;
    QMenu* recentMenu_;
    QMenu* presetMenu_;
    QMenu* loadModes_ = nullptr;
    QMenu* saveModes_ = nullptr;
    std::map<int, StepSlider*> sliders_;
    std::map<int, QCheckBox*> checks_;
    std::map<int, QToolButton*> buttons_;
    std::map<int, QAction*> actions_;
    QLabel* captions_[2][kPanelCount] = {};
    QLabel* remoteCaption_ = nullptr;
    QLabel* roomCaption_ = nullptr;
    QToolButton* roomMenuButton_ = nullptr; // both room buttons in one, at the narrowest
    std::vector<QAction*> roomActions_;
    QWidget* panels_[2][kPanelCount] = {};
    QStringList recent_;

    QWidget* buildCategory(int category);
    RibbonLabel* valueLabel(int category, const MasterVolume& volume, QWidget* parent);
    QWidget* volumePanel(int category, int panel, const MasterVolume& volume, int width);
    QWidget* pitchPanel(int category);
    QWidget* filePanel(int category, bool load);
    QWidget* remotePanel();
    QWidget* roomPanel();
    // A panel of large buttons side by side with one caption under them.
    QWidget* bigButtonPanel(std::initializer_list<std::pair<int, const char*>> buttons,
                            QLabel*& caption);
    QWidget* comparePanel(int category);
    std::map<int, QToolButton*> slotButtons_[2];
    QLabel* compareCaption_[2] = {};
    QWidget* wrapPanel(int category, int panel, QWidget* content);
    int fold_ = 0;
    bool fitting_ = false;
    std::vector<RibbonLabel*> labels_;
    std::vector<QToolButton*> fileButtons_;
    std::vector<QGridLayout*> fileGrids_;
    std::vector<QToolButton*> bigButtons_; // remote learning, measuring, room tuning
    std::vector<QToolButton*> tabElements_;
    QHBoxLayout* top_ = nullptr;
    QHBoxLayout* rows_[2] = {};
    void setFold(int fold);
    int measure() const;
    // Folds as little as the width allows.
    void fitWidth();

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* tabElement(int id, const char* icon, QMenu* menu = nullptr);
    // A large button with its icon over its text, found again by its command id.
    QToolButton* bigButton(QWidget* parent, int id, const char* icon);
    QAction* addAction(QMenu* menu, int id, bool checkable);
    void emitCommand(int id) { emit command(id); }
};

} // namespace q7
