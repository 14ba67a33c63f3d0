// SPDX-License-Identifier: GPL-3.0-or-later
// The drawn controls, driven with real input events.
#include "controls/bmp_slider.h"
#include "controls/compress_panel.h"
#include "controls/delay_panel.h"
#include "controls/eq_panel.h"
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "controls/press_hold.h"
#include "controls/small_eq_panel.h"
#include "controls/speaker_panel.h"
#include "eq/eq_curve.h"
#include "page_input.h"
#include "params/biquad.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

// A graph of a known size with its handles where the pointer can reach them, and an owner that
// keeps its records and does what the graph asks, as a page's EQ editor does with the store.
struct Graph {
    CEqPanel panel;
    EqBankState state;
    Graph(int bank, int count) {
        panel.resize(700, 320);
        panel.SetBank(bank);
        panel.SetBandCount(count);
        state.bank = bank;
        state.records.resize(std::size_t(eqBankInfo(bank)->records));
        QObject::connect(&panel, &CEqPanel::bandWanted, [this](int b, const BandWish& w) {
            take();
            applyWish(state, b, w);
            panel.showBank(state);
        });
        QObject::connect(&panel, &CEqPanel::subTypesWanted,
                         [this](int b, const CEqPanel::SubTypes& t) {
                             take();
                             applySubTypes(state, b, t);
                             panel.showBank(state);
                         });
    }
    // The records take what the tests drew directly.
    void take() {
        const bool sub = state.bank == kSubEqBank;
        for (int i = 0; i < panel.bandCount(); ++i) {
            const EqPanelBand& b = panel.band(i);
            state.records[std::size_t(sub ? subStoreRecordOfGraph(i) : i)] =
                quantise(b.type, b.gain, b.frequency, b.q);
        }
    }
    void slope(int band, int s) {
        take();
        applySlope(state, band, s);
        panel.showBank(state);
    }
    QPoint handle(int band) { return handleOf(&panel, band); }
};

} // namespace

TEST(EqCurve, ClosedFormMatchesTheTransferFunctionAndOwnPointIsExact) {
    BandCurve curve;
    const double W = 658;
    computeBandCurve(1, 6.0, 1000, 1.41, W, curve);
    EXPECT_EQ(curve[std::size_t(ownPointIndex(1000, W))], 6.0f);
    const Biquad b = DesignBiquad(1, 6.0, 1000, 1.41, 0, 48000);
    for (int i = 0; i < kCurvePoints; i += 7) {
        if (i == ownPointIndex(1000, W))
            continue;
        EXPECT_NEAR(curve[std::size_t(i)], biquadMagnitudeDb(b, curveFrequency(i, W), 48000), 1e-4)
            << i;
    }
    EXPECT_FLOAT_EQ(curveFrequency(0, W), 18.0f);
    computeBandCurve(3, 0, 500, 0.707, W, curve);
    EXPECT_NEAR(curve[511], 0.0, 0.01) << "high-pass passes at the top";
    EXPECT_LT(curve[0], -40.0f);
}

TEST(EqPanel, DragClampsGainAndPassFiltersStayAtZero) {
    Graph g(5, 10);
    QSignalSpy changed(&g.panel, &CEqPanel::bandWanted);
    const QPoint h = g.handle(3);
    QTest::mousePress(&g.panel, Qt::LeftButton, {}, h);
    EXPECT_EQ(g.panel.selected(), 3);
    for (int y = h.y(); y >= -40; y -= 20)
        QTest::mouseMove(&g.panel, QPoint(h.x(), y));
    EXPECT_EQ(g.panel.band(3).gain, 15.0f) << "never more than the band's maximum";
    QTest::mouseMove(&g.panel, QPoint(h.x(), h.y() - 40));
    const float g1 = g.panel.band(3).gain;
    EXPECT_FLOAT_EQ(g1 * 10, std::round(g1 * 10)) << "gains move in tenths";
    QTest::mouseRelease(&g.panel, Qt::LeftButton, {}, QPoint(h.x(), h.y() - 40));
    EXPECT_GE(changed.count(), 4);
    EXPECT_EQ(g.panel.selected(), 3) << "the selection stays after the release";

    g.panel.SetBandType(5, 2);
    const QPoint lp = g.handle(5);
    drag(&g.panel, lp, QPoint(lp.x() + 30, 10));
    EXPECT_EQ(g.panel.band(5).gain, 0.0f);
    EXPECT_GT(g.panel.band(5).frequency, 500.0f);
    // Dragged past the right end the frequency stops at 20 kHz.
    drag(&g.panel, g.handle(5), QPoint(g.panel.width() + 50, 100));
    EXPECT_EQ(g.panel.band(5).frequency, 20000.0f);
}

TEST(EqPanel, OwnPointOfAPeqReadsItsGainExactly) {
    Graph g(5, 10);
    g.panel.band(4).frequency = 1000;
    g.panel.SetBandQ(4, 1.41f);
    g.panel.SetBandGain(4, 6.0f);
    const int c = ownPointIndex(1000, g.panel.plotRect().width() + 1);
    EXPECT_EQ(g.panel.band(4).curve[std::size_t(c)], 6.0f);
}

TEST(EqPanel, FixedBandsOfTheMusicBank) {
    Graph g(0, 15);
    g.panel.band(4).frequency = 300; // the start layout puts band 5 at 630 Hz too
    g.panel.ComputeBandCurve(4);
    g.panel.band(7).frequency = 630;
    g.panel.band(7).type = 4;
    g.panel.SetBandQ(7, 0.707f);
    g.panel.ComputeBandCurve(7);
    int menus = 0;
    g.panel.setMenuChooser([&](const QPoint&) {
        ++menus;
        return 0;
    });
    const QPoint h = g.handle(7);
    QTest::mousePress(&g.panel, Qt::LeftButton, {}, h);
    QTest::mouseMove(&g.panel, QPoint(h.x() + 80, h.y() - 30));
    QTest::mouseRelease(&g.panel, Qt::LeftButton, {}, QPoint(h.x() + 80, h.y() - 30));
    EXPECT_EQ(g.panel.band(7).frequency, 630.0f) << "held at 630 Hz";
    EXPECT_NE(g.panel.band(7).gain, 0.0f) << "its gain still moves";
    const float q = g.panel.band(7).q;
    const QPoint h2 = g.handle(7);
    drag(&g.panel, h2, QPoint(h2.x() + 40, h2.y() + 40), 6, Qt::RightButton);
    QTest::keyClick(&g.panel, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(g.panel.band(7).q, q);
    QTest::mouseClick(&g.panel, Qt::RightButton, {}, g.handle(7));
    EXPECT_EQ(menus, 0) << "no type menu for a fixed band";
}

TEST(EqPanel, RightClickMenuAndItsSuppression) {
    Graph g(5, 10);
    std::vector<QPoint> asked;
    g.panel.setMenuChooser([&](const QPoint& p) {
        asked.push_back(p);
        return 2026; // LP
    });
    const QPoint h = g.handle(2);
    QTest::mousePress(&g.panel, Qt::RightButton, {}, h);
    QTest::mouseRelease(&g.panel, Qt::RightButton, {}, h);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(g.panel.band(2).type, 2);
    EXPECT_EQ(g.panel.band(2).gain, 0.0f);
    EXPECT_FLOAT_EQ(g.panel.band(2).q, 0.7f);

    const QPoint h3 = g.handle(3);
    drag(&g.panel, h3, h3 + QPoint(12, 12), 4, Qt::RightButton);
    EXPECT_EQ(asked.size(), 1u) << "moving first suppresses the menu";
    EXPECT_GT(g.panel.band(3).q, 1.41f) << "and the right drag widened Q";
}

TEST(EqPanel, SubBankMenuAndCrossoverSlopes) {
    Graph g(kSubEqBank, 20);
    // LP from the menu of band 2 (handles 1 and 2 of the start layout lie apart).
    g.panel.setMenuChooser([](const QPoint&) { return 2026; });
    QTest::mouseClick(&g.panel, Qt::RightButton, {}, g.handle(1));
    EXPECT_EQ(g.panel.band(1).type, 18);
    EXPECT_EQ(g.panel.band(8).type, 20);
    EXPECT_EQ(g.panel.band(9).type, 1);
    EXPECT_EQ(g.panel.band(10).type, 1);
    for (int r : {1, 8, 9, 10})
        EXPECT_EQ(g.panel.band(r).gain, 0.0f);

    g.panel.SetBandType(0, 3);
    g.slope(0, 2);
    EXPECT_EQ((std::array<int, 4>{g.panel.band(0).type, g.panel.band(5).type, g.panel.band(6).type,
                                  g.panel.band(7).type}),
              (std::array<int, 4>{15, 11, 15, 11}));
    g.panel.SetBandType(2, 2);
    g.slope(2, 2);
    EXPECT_EQ((std::array<int, 4>{g.panel.band(2).type, g.panel.band(11).type,
                                  g.panel.band(12).type, g.panel.band(13).type}),
              (std::array<int, 4>{14, 10, 14, 10}));
    g.slope(5, 2); // not a visible band: nothing
    EXPECT_EQ(g.panel.band(5).type, 11);
    // The sections follow their band's frequency.
    g.panel.band(2).frequency = 90;
    g.panel.ComputeBandCurve(2);
    EXPECT_EQ(g.panel.band(12).frequency, 90.0f);
    EXPECT_EQ(g.panel.candidateCount(), 5);
}

TEST(EqPanel, EmptyClickKeysAndWheel) {
    QWidget window;
    window.resize(760, 380);
    Graph g(5, 10);
    g.panel.setParent(&window);
    auto* other = new QLineEdit(&window);
    other->setGeometry(0, 330, 100, 24);
    window.show();
    QSignalSpy empty(&g.panel, &CEqPanel::emptyClick);
    QTest::mouseClick(&g.panel, Qt::LeftButton, {}, QPoint(60, 280));
    EXPECT_EQ(empty.count(), 1);
    EXPECT_EQ(g.panel.selected(), -1);
    EXPECT_EQ(window.focusWidget(), &g.panel) << "a press takes the focus";

    QTest::keyClick(&g.panel, Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), other) << "Tab moves on: the graph keeps only its own keys";
    g.panel.setFocus();

    pickBand(&g.panel, 4);
    ASSERT_EQ(g.panel.selected(), 4);
    const float f = g.panel.band(4).frequency;
    QTest::keyClick(&g.panel, Qt::Key_Right);
    QTest::keyClick(&g.panel, Qt::Key_Up);
    QTest::keyClick(&g.panel, Qt::Key_Up);
    EXPECT_EQ(g.panel.band(4).frequency, f + 1);
    EXPECT_FLOAT_EQ(g.panel.band(4).gain, 0.2f);
    wheelOver(&g.panel, -1);
    EXPECT_FLOAT_EQ(g.panel.band(4).gain, 0.1f) << "towards the user lowers the gain";
    QTest::keyClick(&g.panel, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(g.panel.band(4).q, 1.42f);
}

TEST(BmpSlider, StepsTowardsAClickAndReportsChanges) {
    CXBmpSlider s(1014, nullptr);
    s.resize(200, 24);
    s.SetMargin(7, 7, 3, 2);
    s.SetRange(-60, 0);
    s.SetPos(0);
    QSignalSpy changed(&s, &CXBmpSlider::positionChanged);
    QSignalSpy finished(&s, &CXBmpSlider::changeFinished);
    QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(20, 12));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 1014);
    EXPECT_EQ(changed[0][1].toInt(), -1);
    QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(finished.count(), 1);

    QTest::keyClick(&s, Qt::Key_Right);
    EXPECT_EQ(s.GetPos(), 0);
    const int finishedBefore = finished.count();
    wheelOver(&s, 1);
    EXPECT_EQ(changed.last()[1].toInt(), 0) << "at the maximum the wheel still reports";
    EXPECT_EQ(finished.count(), finishedBefore + 1);

    QTest::keyClick(&s, Qt::Key_Left);
    EXPECT_EQ(s.GetPos(), -1);
    // Dragging the thumb follows the pointer, in every step.
    const int before = changed.count();
    EXPECT_EQ(dragBmpSlider(&s, -30, 5), -30);
    EXPECT_EQ(changed.count(), before + 6) << "the press and each move";
    EXPECT_EQ(changed.last()[1].toInt(), -30);
    EXPECT_EQ(dragBmpSlider(&s, -80), -60) << "held at the minimum";

    s.setEnabled(false);
    const int count = changed.count();
    QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(20, 12));
    QTest::keyClick(&s, Qt::Key_Right);
    wheelOver(&s, 1);
    dragBmpSlider(&s, -10);
    EXPECT_EQ(changed.count(), count) << "a disabled slider ignores input";
    s.SetPos(-12);
    EXPECT_EQ(s.GetPos(), -12) << "but the program can still set it";
}

TEST(BmpSlider, VerticalSliderHasItsMaximumAtTheTop) {
    CXBmpSlider s(1052, nullptr, true);
    s.resize(22, 200);
    s.SetMargin(3, 2, 7, 7);
    s.SetRange(0, 100);
    s.SetPos(50);
    QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(11, 5));
    EXPECT_EQ(s.GetPos(), 51);
    EXPECT_EQ(s.positionAt(0), 100);
    EXPECT_EQ(s.positionAt(200), 0);
    const int reached = dragBmpSlider(&s, 80);
    EXPECT_NEAR(reached, 80, 1);
    EXPECT_GT(bmpSliderPointFor(&s, 80).y(), bmpSliderPointFor(&s, 90).y()) << "up is more";
}

TEST(PeakMeter, HoldsThePeakThenFallsByHalfSteps) {
    CPeakMeterCtrl m;
    m.SetMeterBands(1, 15);
    int v = 300;
    m.SetData(&v, 0, 1);
    EXPECT_EQ(m.bands()[0].value, 230) << "above the range shows full scale";
    EXPECT_EQ(m.litLeds(230), 15);
    v = 200;
    CPeakMeterCtrl n;
    n.SetMeterBands(1, 15);
    n.SetData(&v, 0, 1);
    n.DecayStep();
    EXPECT_EQ(n.bands()[0].value, 185) << "a whole step (230 / 15) per tick";
    for (int t = 2; t <= 9; ++t)
        n.DecayStep();
    EXPECT_EQ(n.bands()[0].peak, 200) << "held for the hold ticks";
    n.DecayStep();
    EXPECT_EQ(n.bands()[0].peak, 193) << "then half a step per tick";
    n.DecayStep();
    EXPECT_EQ(n.bands()[0].peak, 186);
    EXPECT_EQ(n.litLeds(100), 6);
}

TEST(SmallEqPanel, MappingClampsAndFlatLine) {
    CSmallEqPanel p;
    p.resize(176, 64);
    p.recompute();
    const int W = 176 - 4;
    p.setBandFrequency(2, 15000);
    EXPECT_EQ(p.band(2).x, float(2 + int(std::log10(1500.0) * W / 3.4)));
    p.setBandGain(3, 20);
    EXPECT_EQ(p.band(3).gain, 15.0f);
    p.setBandGain(3, 0);
    p.setBandFrequency(2, 125);
    for (const QPointF& pt : p.summed())
        EXPECT_NEAR(pt.y(), 2 + (64 - 4) / 2.0, 1e-6)
            << "seven flat bands: a flat line at half height";
}

TEST(ImageButton, FacesFollowTheState) {
    CGdipButton b(1069, nullptr);
    b.resize(90, 26);
    EXPECT_EQ(b.face(), CGdipButton::Face::Normal);
    b.setCurrent(true);
    EXPECT_EQ(b.face(), CGdipButton::Face::AltNormal);
    b.setEnabled(false);
    EXPECT_EQ(b.face(), CGdipButton::Face::Disabled);
    const QImage normal = b.faceImage(CGdipButton::Face::Normal).toImage();
    const QImage hot = b.faceImage(CGdipButton::Face::Hot).toImage();
    const QImage grey = b.faceImage(CGdipButton::Face::Disabled).toImage();
    const QColor n = normal.pixelColor(45, 13), h = hot.pixelColor(45, 13),
                 d = grey.pixelColor(45, 13);
    EXPECT_NEAR(h.red(), std::min(255.0, n.red() * 1.05 + 12.75), 2);
    EXPECT_EQ(d.red(), d.green());
    EXPECT_EQ(d.green(), d.blue());
}

TEST(CompressPanel, CurveEndsFollowThresholdAndRatio) {
    CCompressPanelPlus c;
    c.resize(300, 245); // a 240 x 200 plot
    c.SetLowerKnee(-90);
    c.SetLowerSlope(1);
    c.SetThreshold(0);
    c.SetRatio(1);
    EXPECT_EQ(c.startPoint(), QPointF(40, 220)) << "bottom-left corner";
    EXPECT_EQ(c.endPoint().x(), 280);
    EXPECT_NEAR(c.endPoint().y(), 20, 1) << "top-right corner";

    c.SetThreshold(-60);
    c.SetRatio(30);
    EXPECT_EQ(c.thresholdPoint(), QPointF(c.xOf(-60), c.yOf(-60)));
    // 66 dB above the threshold rise by 2.2 dB: the band's top lies at output -57.8 dB.
    const double y = c.yOf(-60) - 66.0 * 200 / 96 / 30;
    EXPECT_NEAR(c.endPoint().y(), y, 1e-4);
    EXPECT_NEAR(c.endPoint().y(), std::fabs(-57.8 - 6) * 200 / 96 + 20, 1.0);

    // Disabled still draws: the picture differs from an enabled one only by the word.
    QImage on(c.size(), QImage::Format_ARGB32), off(c.size(), QImage::Format_ARGB32);
    c.SetEnabled(true);
    c.render(&on);
    c.SetEnabled(false);
    c.render(&off);
    EXPECT_NE(on, off);
    EXPECT_EQ(on.pixel(c.xOf(-80), c.yOf(-80)), off.pixel(c.xOf(-80), c.yOf(-80)));
}

TEST(DelayPanel, MarkersClampAndTheUpperRowWinsAPress) {
    CDelayPanel p;
    p.resize(596, 200); // 500 px for 106 ms, rows of 21.875 px
    p.show();
    QSignalSpy dragged(&p, &CDelayPanel::dragged);
    EXPECT_EQ(p.channel(3).markerX, 78) << "value 0 before the first refresh";
    p.SetValue(0, 250.0f);
    EXPECT_EQ(p.channel(0).value, 100.0f);
    p.SetValue(9, 5.0f); // no such row
    EXPECT_EQ(p.channel(1).rowY, 27);

    // Rows 0 and 1 at the same delay: a press between their centres takes row 0.
    p.SetValue(0, 10.0f);
    p.SetValue(1, 10.0f);
    const int x = p.channel(0).markerX + p.markerSize().width() / 2;
    QTest::mousePress(&p, Qt::LeftButton, {}, QPoint(x, 27));
    EXPECT_EQ(p.grabbed(), 0);
    QTest::mouseMove(&p, QPoint(x - 20, 27));
    QTest::mouseMove(&p, QPoint(-50, 27));
    ASSERT_EQ(dragged.size(), 2);
    EXPECT_EQ(dragged.last().at(1).toFloat(), 1.5f);
    QTest::mouseMove(&p, QPoint(300, 27));
    QTest::mouseMove(&p, QPoint(900, 27));
    EXPECT_EQ(dragged.last().at(1).toFloat(), 100.0f);
    QTest::mouseRelease(&p, Qt::LeftButton, {}, QPoint(900, 27));
    EXPECT_EQ(p.grabbed(), 0) << "stays marked after the release";

    // A press far from every marker grabs nothing and moves nothing.
    drag(&p, QPoint(500, 190), QPoint(300, 190));
    EXPECT_EQ(p.grabbed(), -1);
    EXPECT_EQ(dragged.size(), 4);
}

// A press held on a control is announced once, from the press to its release; a control hidden
// or disabled under the pointer never sees the release, so that ends the hold, and a later move
// drags nothing.
TEST(PressHold, EndsOnceAtTheReleaseOrWhenTheControlGoesAway) {
    CDelayPanel p;
    p.resize(596, 200);
    p.show();
    p.SetValue(0, 10.0f);
    auto* hold = p.findChild<PressHold*>();
    ASSERT_NE(hold, nullptr);
    QSignalSpy started(hold, &PressHold::started), ended(hold, &PressHold::ended);
    QSignalSpy dragged(&p, &CDelayPanel::dragged);
    const QPoint marker(p.channel(0).markerX + p.markerSize().width() / 2, 27);

    QTest::mousePress(&p, Qt::LeftButton, {}, marker);
    QTest::mouseMove(&p, marker + QPoint(20, 0));
    QTest::mouseRelease(&p, Qt::LeftButton, {}, marker + QPoint(20, 0));
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(ended.count(), 1);

    for (bool hide : {true, false}) {
        QTest::mousePress(&p, Qt::LeftButton, {}, marker);
        EXPECT_TRUE(hold->held());
        if (hide)
            p.hide();
        else
            p.setEnabled(false);
        EXPECT_FALSE(hold->held()) << (hide ? "hidden" : "disabled");
        const int ends = ended.count();
        p.show();
        p.setEnabled(true);
        const qsizetype moves = dragged.count();
        QTest::mouseMove(&p, marker + QPoint(60, 0));
        EXPECT_EQ(dragged.count(), moves) << "no drag outlives its hold";
        QTest::mouseRelease(&p, Qt::LeftButton, {}, marker + QPoint(60, 0));
        EXPECT_EQ(ended.count(), ends) << "a hold ends once";
    }
    EXPECT_EQ(started.count(), 3);
    EXPECT_EQ(ended.count(), 3);
}

TEST(SpeakerPanel, AxisLabelsDragClampAndPressOrder) {
    CSSVolumePanel p;
    p.resize(460, 460);
    p.show();
    p.SetRoomSize(4, 5);
    EXPECT_EQ(p.lengthLabels(), (QStringList{"+2.5m", "+2m", "+1m", "0", "-1m", "-2m", "-2.5m"}));
    p.SetRoomSize(4, 4);
    EXPECT_EQ(p.lengthLabels(), (QStringList{"+2m", "+1m", "0", "-1m", "-2m"}));

    // Listener and speaker 2 on the same spot: the listener is picked.
    p.SetPoint(0, 0, 0);
    p.SetPoint(0, 0.05f, 2);
    QSignalSpy pressed(&p, &CSSVolumePanel::pressed);
    QSignalSpy dragged(&p, &CSSVolumePanel::dragged);
    QTest::mousePress(&p, Qt::LeftButton, {}, QPoint(p.point(2).px, p.point(2).py));
    ASSERT_EQ(pressed.size(), 1);
    EXPECT_EQ(pressed.last().at(0).value<CSSVolumePanel::Point>().type, 0);
    QTest::mouseMove(&p, QPoint(100, 400));
    QTest::mouseMove(&p, QPoint(-100, 900));
    ASSERT_EQ(dragged.size(), 2);
    EXPECT_NEAR(p.point(0).x, -2.0f, 0.01f);
    EXPECT_NEAR(p.point(0).y, -2.0f, 0.01f);
    QTest::mouseRelease(&p, Qt::LeftButton, {}, QPoint(30, 430));
    QTest::mousePress(&p, Qt::LeftButton, {}, QPoint(230, 100)); // nothing there
    EXPECT_EQ(pressed.size(), 1);
}

TEST(EqPanel, GainAxisReadsMinusZeroAndNoLabelIsClipped) {
    EXPECT_EQ(CEqPanel::gainLabels(), (QStringList{"-15dB", "-12dB", "-9dB", "-6dB", "-3dB", "-0dB",
                                                   "+3dB", "+6dB", "+9dB", "+12dB", "+15dB"}));
    Graph g(0, 15);
    const QFont f = g.panel.axisFont();
    EXPECT_EQ(QFontInfo(f).family(), "Liberation Sans") << "metric-compatible with Arial";
    for (const QString& l : CEqPanel::gainLabels())
        EXPECT_LE(QFontMetrics(f).horizontalAdvance(l), g.panel.plotRect().left() - 4)
            << l.toStdString();
    // Drawn, the labels leave the control's first column of pixels untouched.
    QImage image(g.panel.size(), QImage::Format_ARGB32_Premultiplied);
    g.panel.renderTo(image);
    for (int y = 0; y < image.height(); ++y)
        ASSERT_EQ(image.pixelColor(0, y), QColor(20, 20, 20)) << y;
}

TEST(CompressPanel, EveryInputLabelShowsAtTheCompressorPagesWidths) {
    for (int w : {180, 211, 300}) {
        CCompressPanelPlus c;
        c.resize(w, 300);
        const QList<QRect> r = c.inputLabelRects();
        ASSERT_EQ(r.size(), 6) << w;
        for (int i = 0; i < 6; ++i) {
            EXPECT_GE(r[i].left(), 0) << w << " " << i;
            EXPECT_LT(r[i].right(), w) << w << " " << i;
            if (i) {
                EXPECT_GT(r[i].left(), r[i - 1].right() + 1) << w << " " << i;
            }
        }
        EXPECT_GE(c.inputLabelFont().pixelSize(), 7);
    }
    CCompressPanelPlus wide;
    wide.resize(600, 300);
    EXPECT_EQ(wide.inputLabelFont().pixelSize(), 12) << "the design's size where there is room";
}

TEST(BmpSlider, ADisabledSliderIsGreyFromEndToEnd) {
    CXBmpSlider s(1000, nullptr);
    s.resize(200, 24);
    s.SetMargin(7, 7, 3, 2);
    s.SetRange(0, 100);
    s.SetPos(50);
    auto saturation = [&](int x) { return s.grab().toImage().pixelColor(x, 12).hsvSaturation(); };
    EXPECT_GT(saturation(40), 100) << "the filled part is coloured";
    s.setEnabled(false);
    for (int x : {40, 60, 150, 180})
        EXPECT_LT(saturation(x), 12) << x;
    s.setEnabled(true);
    EXPECT_GT(saturation(40), 100);
}

TEST(PeakMeter, KeepsFallingAfterASilence) {
    CPeakMeterCtrl m;
    m.SetMeterBands(1, 15);
    m.Start(35);
    int v = 200;
    m.SetData(&v, 0, 1);
    for (int tick = 0; tick < 100 && m.running(); ++tick)
        m.DecayStep();
    EXPECT_FALSE(m.running()) << "at rest the decay timer stops";
    EXPECT_EQ(m.bands()[0].value, 0);
    v = 150;
    m.SetData(&v, 0, 1);
    EXPECT_TRUE(m.running()) << "a level after the silence falls again";
    m.DecayStep();
    EXPECT_EQ(m.bands()[0].value, 135);
    m.Stop();
    m.SetData(&v, 0, 1);
    EXPECT_FALSE(m.running()) << "a stopped meter stays stopped";
}

TEST(EqPanel, APassBandsRegionStaysUnderItsCurve) {
    Graph g(kSubEqBank, 20);
    for (int b = 1; b < 5; ++b)
        g.panel.band(b).type = 0;
    g.take();
    applySubTypes(g.state, 0, subMenuTypes(2)); // a 24 dB low pass
    g.panel.showBank(g.state);
    g.panel.band(0).frequency = 90;
    g.panel.ComputeBandCurve(0);
    QImage plain(g.panel.size(), QImage::Format_ARGB32_Premultiplied);
    g.panel.renderTo(plain);
    g.panel.setSelected(0);
    QImage selected(g.panel.size(), QImage::Format_ARGB32_Premultiplied);
    g.panel.renderTo(selected);
    // Far above the cut-off the curve is off the bottom of the plot: nothing is tinted there.
    const QRect plot = g.panel.plotRect();
    int tinted = 0;
    for (int x = plot.left() + plot.width() / 2; x < plot.right() - 40; x += 7)
        for (int y = plot.top() + 40; y < plot.bottom() - 1; y += 7)
            tinted += selected.pixel(x, y) != plain.pixel(x, y);
    EXPECT_EQ(tinted, 0);
}

// What the meters cost while music plays: a reading or a tick that lights no other LED paints
// nothing.
TEST(PeakMeter, RepaintsOnlyWhatChanges) {
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::Paint;
            return false;
        }
    };
    QWidget page;
    auto* a = new CPeakMeterCtrl(&page);
    auto* b = new CPeakMeterCtrl(&page);
    for (CPeakMeterCtrl* m : {a, b}) {
        m->SetMeterBands(1, 15);
        m->SetPeakLine(false);
        m->setGeometry(0, m == a ? 0 : 20, 120, 12);
    }
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    Paints paints;
    a->installEventFilter(&paints);
    int v = 100; // 6 LEDs
    a->SetData(&v, 0, 1);
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 1);
    v = 105; // still 6 LEDs
    a->SetData(&v, 0, 1);
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 1) << "the same LEDs are not painted again";

    // A falling step that takes an LED off paints; the steps below one LED do not.
    a->DecayStep(); // 105 - 15 = 90: 5 LEDs
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 2);
    v = 95; // 6 LEDs again, then 80 after a step: 5 LEDs
    a->SetData(&v, 0, 1);
    QApplication::processEvents();
    const int before = paints.count;
    b->SetData(&v, 0, 1);
    QApplication::processEvents();
    EXPECT_EQ(paints.count, before) << "the other meter's reading paints only itself";
}
