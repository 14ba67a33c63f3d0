// SPDX-License-Identifier: GPL-3.0-or-later
// CEqPanel: the drawn equaliser graph. It draws one bank of up to 40 bands, as the records its
// owner shows it hold, with the summed response computed from the amplifier's own section
// designs. Drags, keys, wheel turns and its type menu change nothing here: they say what the
// user wants of a band, and the owner stores that and shows the graph the bank again.
#pragma once

#include "eq/eq_bank.h"
#include "eq/eq_curve.h"
#include "eq/measurement.h"

#include <QPainterPath>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>

namespace q7 {

class PressHold;

struct EqPanelBand {
    float x = 0, y = 0; // handle centre, relative to the plot's top-left corner
    int index = 0;
    int type = 1;
    float frequency = 100.0f;
    float gain = 0.0f;
    float q = 1.0f;
    BandCurve curve{};
    float frequencyMin = 20.0f, frequencyMax = 20000.0f;
    float gainMin = -15.0f, gainMax = 15.0f;
};

inline constexpr int kMaxEqBands = 40;

// The record a graph band stands for. The graph keeps its bands on the record's grid (0.1 dB,
// whole hertz, thousandths of Q), so this record, stored and sent, is the filter it shows.
BandRecord recordOf(const EqPanelBand& b);

// The UI's shade of a bank colour family.
QColor eqColour(EqColour c);

class CEqPanel : public QWidget {
    Q_OBJECT
public:
    explicit CEqPanel(QWidget* parent = nullptr);

    // Draws the bank's records (the Sub: its five bands and their sections); a type above
    // maxType draws as off.
    void showBank(const EqBankState& state, int maxType = 31);

    // ---- what is drawn, set directly (benches, screenshots) ----
    void SetBank(int bank);
    int bank() const { return bank_; }
    void SetBandCount(int count);
    int bandCount() const { return count_; }
    void SetBandType(int band, int type);
    void SetBandGain(int band, float gain);
    void SetBandQ(int band, float q);
    void ComputeBandCurve(int band);

    // Direct field access.
    EqPanelBand& band(int i) { return bands_[std::size_t(i)]; }
    const EqPanelBand& band(int i) const { return bands_[std::size_t(i)]; }
    int selected() const { return selected_; }
    void setSelected(int band);
    int hovered() const { return hover_; }
    bool bypass() const { return bypass_; }
    void setBypass(bool on);
    int language() const { return language_; }
    void setLanguage(int index);
    // Only shows (a dialog's preview): takes neither the focus nor the pointer.
    void setPreviewOnly();

    QRect plotRect() const;
    // The gain axis labels from the bottom line up ("-0dB" on the zero line, whose value is a
    // negative zero), and the font they and the frequency labels are drawn in, small enough that
    // the widest fits left of the plot.
    static QStringList gainLabels();
    QFont axisFont() const;
    static QColor bandColour(int band);
    QString title() const;
    // Bands that can be picked: 0..4 in the Sub bank, 0..count-1 elsewhere.
    int candidateCount() const;
    bool isFixedBand(int band) const;
    // The summed response at point i (bands with type != 0, sections included).
    float summedAt(int i) const;

    // A measurement drawn over the bands, level-aligned to a target, with the target and the
    // predicted response (measurement + the bands as they stand, live while they move).
    // The level is set once, here: the mean of measurement + bands is put on the target's mean
    // between alignLoHz and alignHiHz.
    void setOverlay(const ResponseCurve& measurement, const Target& target, const QString& name,
                    double alignLoHz = 20.0, double alignHiHz = 20000.0);
    void clearOverlay();
    bool hasOverlay() const { return overlay_.has_value(); }
    // At analysis point i; NaN where the measurement does not reach or without an overlay.
    float overlayMeasurementAt(int i) const;
    float overlayTargetAt(int i) const;
    float predictedAt(int i) const;

    // Tests answer the type menu here instead of a real popup; returns 2025..2029 or 0.
    void setMenuChooser(std::function<int(const QPoint&)> chooser) {
        chooser_ = std::move(chooser);
    }
    int menusOpened() const { return menusOpened_; }
    // Paints the whole control into an image (benchmarks, screenshots).
    void renderTo(QPaintDevice& device);

    using SubTypes = std::array<int, 4>;

signals:
    // A press picked a band: the page shows it, nothing about it changed.
    void bandSelected(int band);
    // The user wants band k to hold these values (a drag step, a key, a wheel step, the type menu;
    // a drag's release asks again for what it left).
    void bandWanted(int band, const q7::BandWish& wish);
    // The type menu on a Sub band: the types of the band and its three sections.
    void subTypesWanted(int band, const q7::CEqPanel::SubTypes& types);
    void emptyClick(); // WM_EQ_EMPTY_CLICK
    // A right click away from every band: the page may offer what applies to the whole EQ.
    void contextMenuAt(const QPoint& globalPos);
    // Local files dropped on the graph (the page decides what they are).
    void filesDropped(const QStringList& paths);
    // Something dropped that is no local file.
    void dropRefused();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool event(QEvent* e) override;

private:
    EqPanelBand bands_[kMaxEqBands];
    int bank_ = 0;
    int count_ = 10;
    int selected_ = -1;
    int hover_ = -1;
    bool leftDrag_ = false;
    bool rightButton_ = false;
    bool moved_ = false;
    // A press held on the graph: what is wanted in between is one edit. Keys and wheel turns are
    // edits of their own.
    PressHold* hold_;
    int lastX_ = 0; // the right drag's last pointer x
    // The left press: the pointer's offset from the handle (kept through the drag), where it
    // was and what the band held then. A drag on the press's own row or column keeps that value
    // exactly (a round trip through pixels would not), and a press released without change
    // sends nothing.
    double grabX_ = 0, grabY_ = 0;
    QPointF press_;
    float pressFrequency_ = 0, pressGain_ = 0;
    bool dragChanged_ = false;
    float rightStartQ_ = 0;
    bool bypass_ = false;
    int language_ = 0;
    QColor curveColour_{0, 200, 255};
    std::function<int(const QPoint&)> chooser_;
    int menusOpened_ = 0;
    struct Overlay {
        ResponseCurve measurement;
        Target target;
        QString name;
        double alignLo = 20, alignHi = 20000, shift = 0;
        std::array<float, kCurvePoints> shifted{}, target_{};
    };
    std::optional<Overlay> overlay_;
    void layoutOverlay(bool align);
    // layerOnly: the measurement, target and legend (into the grid); else the prediction.
    void paintOverlay(QPainter& p, bool layerOnly);
    QPixmap grid_; // the background, redrawn on resize, pixel ratio or language change
    int gridLanguage_ = -1;

    double plotWidth() const;
    double plotHeight() const;
    void placeHandle(EqPanelBand& b) const;
    int pick(double px, double py, double within, bool anyType) const;
    void want(const EqPanelBand& b);
    void paintInto(QPainter& p);
    void paintReadout(QPainter& p, const EqPanelBand& b);
    int showTypeMenu(const QPoint& globalPos);
    // The keys the graph acts on itself; every other key goes on to the page and the window.
    static bool ownKey(const QKeyEvent* e);
    void setHover(int band);
};

// Whether a drag would bring a mode file (opened by the window, not by a graph).
bool isModeFileName(const QString& path);

// A cardinal spline through points as a path of cubic Béziers (tension as the 2D library takes it).
QPainterPath cardinalSpline(const QPointF* points, int count, double tension, bool closed);

} // namespace q7
