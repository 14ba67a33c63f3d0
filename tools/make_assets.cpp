// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the editor's own assets into resources/: the icons (painted here, so they can be
// redrawn at any size) and the fifteen factory presets (mode files made by our own writer).
// Given a second folder it also writes the application icon in the desktop's icon sizes there,
// as hicolor/NxN/apps/io.github.q7edit.Q7Edit.png (packaging/icons is made this way).
// Usage: make_assets RESOURCES_DIR [ICONS_DIR]
#include "params/dsp.h"
#include "params/mode_file.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace q7;

namespace {

// ---------------------------------------------------------------- icons

constexpr int kIconSize = 64;
const QColor kInk(31, 78, 135);
const QColor kAccent(0, 170, 230);
const QColor kWarm(240, 140, 20);

QPen pen(const QColor& c, double w) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The drawings are made on a 64 px grid and scaled, so every size is drawn, not resampled.
void paintIcon(const QString& path, const std::function<void(QPainter&)>& draw,
               int size = kIconSize) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(double(size) / kIconSize, double(size) / kIconSize);
    draw(p);
    p.end();
    image.save(path);
}

void mic(QPainter& p) {
    p.setPen(pen(kInk, 4));
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(22, 6, 20, 32), 10, 10);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(14, 18, 36, 30), 200 * 16, 140 * 16);
    p.drawLine(QPointF(32, 48), QPointF(32, 58));
    p.drawLine(QPointF(22, 58), QPointF(42, 58));
}

void effect(QPainter& p) {
    QPainterPath star;
    for (int i = 0; i < 8; ++i) {
        const double r = i % 2 ? 10 : 26;
        const double a = i * M_PI / 4 - M_PI / 2;
        const QPointF pt(32 + r * std::cos(a), 32 + r * std::sin(a));
        i ? star.lineTo(pt) : star.moveTo(pt);
    }
    star.closeSubpath();
    p.setPen(pen(kInk, 3));
    p.setBrush(kAccent);
    p.drawPath(star);
    p.setBrush(kWarm);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(52, 12), 5, 5);
    p.drawEllipse(QPointF(12, 52), 4, 4);
}

void reverb(QPainter& p) {
    p.setBrush(kInk);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(14, 32), 7, 7);
    for (int i = 0; i < 3; ++i) {
        p.setPen(pen(i == 0 ? kInk : kAccent, 4));
        p.setBrush(Qt::NoBrush);
        const double r = 16 + i * 11;
        p.drawArc(QRectF(14 - r, 32 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }
}

void echo(QPainter& p) {
    p.setPen(Qt::NoPen);
    const double heights[] = {44, 32, 22, 14, 8};
    for (int i = 0; i < 5; ++i) {
        QColor c = i ? kAccent : kInk;
        c.setAlphaF(1.0 - i * 0.15);
        p.setBrush(c);
        p.drawRoundedRect(QRectF(6 + i * 11, 32 - heights[i] / 2, 7, heights[i]), 3, 3);
    }
}

void music(QPainter& p) {
    p.setPen(pen(kInk, 5));
    p.drawLine(QPointF(26, 46), QPointF(26, 12));
    p.drawLine(QPointF(50, 40), QPointF(50, 8));
    p.setBrush(kInk);
    QPainterPath beam;
    beam.moveTo(26, 12);
    beam.lineTo(50, 6);
    beam.lineTo(50, 14);
    beam.lineTo(26, 20);
    beam.closeSubpath();
    p.drawPath(beam);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(18, 48), 10, 8);
    p.drawEllipse(QPointF(42, 42), 10, 8);
}

void gate(QPainter& p) {
    p.setPen(pen(kInk, 4));
    p.drawLine(QPointF(6, 54), QPointF(58, 54));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        const double h = 8 + (i * 37 % 40);
        p.setBrush(h > 24 ? kAccent : QColor(170, 185, 200));
        p.drawRect(QRectF(8 + i * 8.5, 50 - h, 6, h));
    }
    p.setPen(pen(kWarm, 3));
    p.drawLine(QPointF(6, 30), QPointF(58, 30));
}

void chip(QPainter& p, bool save) {
    p.setPen(pen(kInk, 3));
    p.setBrush(QColor(230, 240, 250));
    p.drawRoundedRect(QRectF(10, 14, 44, 40), 6, 6);
    for (int i = 0; i < 4; ++i) {
        p.drawLine(QPointF(18 + i * 9.5, 8), QPointF(18 + i * 9.5, 14));
        p.drawLine(QPointF(18 + i * 9.5, 54), QPointF(18 + i * 9.5, 60));
    }
    p.setPen(pen(save ? kWarm : kAccent, 5));
    if (save) {
        p.drawLine(QPointF(32, 22), QPointF(32, 44));
        p.drawLine(QPointF(23, 35), QPointF(32, 44));
        p.drawLine(QPointF(41, 35), QPointF(32, 44));
    } else {
        p.drawLine(QPointF(32, 44), QPointF(32, 22));
        p.drawLine(QPointF(23, 31), QPointF(32, 22));
        p.drawLine(QPointF(41, 31), QPointF(32, 22));
    }
}

void fileIcon(QPainter& p, bool save) {
    if (save) {
        p.setPen(pen(kInk, 3));
        p.setBrush(kAccent);
        p.drawRoundedRect(QRectF(8, 8, 48, 48), 5, 5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(18, 8, 28, 16));
        p.setBrush(QColor(230, 240, 250));
        p.drawRoundedRect(QRectF(16, 34, 32, 22), 2, 2);
        p.setPen(pen(kInk, 2));
        p.drawLine(QPointF(21, 41), QPointF(43, 41));
        p.drawLine(QPointF(21, 48), QPointF(43, 48));
    } else {
        p.setPen(pen(kInk, 3));
        p.setBrush(QColor(250, 210, 120));
        QPainterPath folder;
        folder.moveTo(6, 52);
        folder.lineTo(6, 14);
        folder.lineTo(24, 14);
        folder.lineTo(29, 20);
        folder.lineTo(52, 20);
        folder.lineTo(52, 52);
        folder.closeSubpath();
        p.drawPath(folder);
        p.setBrush(kWarm);
        QPainterPath front;
        front.moveTo(6, 52);
        front.lineTo(14, 30);
        front.lineTo(60, 30);
        front.lineTo(52, 52);
        front.closeSubpath();
        p.drawPath(front);
    }
}

void hdmi(QPainter& p) {
    p.setPen(pen(kInk, 3));
    p.setBrush(kAccent);
    QPainterPath plug;
    plug.moveTo(6, 22);
    plug.lineTo(58, 22);
    plug.lineTo(58, 36);
    plug.lineTo(50, 44);
    plug.lineTo(14, 44);
    plug.lineTo(6, 36);
    plug.closeSubpath();
    p.drawPath(plug);
    p.setPen(pen(Qt::white, 3));
    for (int i = 0; i < 6; ++i)
        p.drawLine(QPointF(16 + i * 6.5, 29), QPointF(16 + i * 6.5, 35));
}

void source(QPainter& p) {
    p.setPen(pen(kInk, 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(40, 32), 16, 16);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(40, 32), 6, 6);
    p.setPen(pen(kWarm, 5));
    p.drawLine(QPointF(4, 32), QPointF(22, 32));
    p.drawLine(QPointF(14, 24), QPointF(22, 32));
    p.drawLine(QPointF(14, 40), QPointF(22, 32));
}

void agc(QPainter& p) {
    p.setPen(pen(kInk, 4));
    p.drawArc(QRectF(8, 12, 48, 48), 20 * 16, 140 * 16);
    p.setPen(pen(kWarm, 4));
    p.drawLine(QPointF(32, 36), QPointF(46, 20));
    p.setBrush(kInk);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(32, 36), 5, 5);
    p.setPen(kInk);
    QFont f("DejaVu Sans");
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, 42, 64, 20), Qt::AlignCenter, "AGC");
}

void resetIcon(QPainter& p) {
    p.setPen(pen(QColor(200, 60, 40), 6));
    p.drawArc(QRectF(12, 12, 40, 40), 100 * 16, 290 * 16);
    p.setBrush(QColor(200, 60, 40));
    p.setPen(Qt::NoPen);
    QPainterPath head;
    head.moveTo(30, 2);
    head.lineTo(40, 14);
    head.lineTo(26, 20);
    head.closeSubpath();
    p.drawPath(head);
}

void autosub(QPainter& p) {
    p.setPen(pen(kInk, 3));
    p.setBrush(QColor(60, 70, 85));
    p.drawRoundedRect(QRectF(8, 8, 34, 48), 5, 5);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(25, 36), 11, 11);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kWarm, 4));
    p.drawArc(QRectF(34, 18, 20, 28), -60 * 16, 120 * 16);
    p.drawArc(QRectF(36, 10, 26, 44), -60 * 16, 120 * 16);
}

void language(QPainter& p) {
    p.setPen(pen(kInk, 3));
    p.setBrush(QColor(230, 240, 250));
    p.drawEllipse(QPointF(32, 32), 26, 26);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(20, 6, 24, 52));
    p.drawLine(QPointF(6, 32), QPointF(58, 32));
    p.drawLine(QPointF(32, 6), QPointF(32, 58));
    p.drawArc(QRectF(10, 4, 44, 22), 200 * 16, 140 * 16);
    p.drawArc(QRectF(10, 38, 44, 22), 20 * 16, 140 * 16);
}

void about(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(32, 32), 28, 28);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 17), 5, 5);
    p.drawRoundedRect(QRectF(27, 26, 10, 26), 3, 3);
}

// A remote control sending infrared waves (the IR learning command).
void remote(QPainter& p) {
    p.save();
    p.translate(24, 40);
    p.rotate(30);
    p.setPen(pen(kInk, 3));
    p.setBrush(QColor(60, 70, 85));
    p.drawRoundedRect(QRectF(-10, -20, 20, 44), 7, 7);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 70, 50));
    p.drawEllipse(QPointF(0, -12), 3.5, 3.5);
    p.setBrush(kAccent);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 2; ++col)
            p.drawRoundedRect(QRectF(-7 + col * 8, -4 + row * 8, 6, 5), 1.5, 1.5);
    p.restore();
    // Waves from the tip, towards the upper right.
    const QPointF tip(36, 20);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kWarm, 4));
    for (double r : {9.0, 17.0})
        p.drawArc(QRectF(tip.x() - r, tip.y() - r, 2 * r, 2 * r), 5 * 16, 80 * 16);
}

// A phone with the network's waves (remote access from a phone or a script).
void phone(QPainter& p) {
    p.setPen(pen(kInk, 3));
    p.setBrush(QColor(60, 70, 85));
    p.drawRoundedRect(QRectF(10, 14, 26, 44), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 225, 250));
    p.drawRect(QRectF(14, 20, 18, 28));
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(17, 36, 12, 8), 2, 2);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(23, 53), 2, 2);
    // Waves from the top right corner.
    const QPointF tip(40, 12);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kWarm, 4));
    for (double r : {8.0, 16.0})
        p.drawArc(QRectF(tip.x() - r, tip.y() - r, 2 * r, 2 * r), -80 * 16, 80 * 16);
}

void appIcon(QPainter& p) {
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(52, 120, 200));
    g.setColorAt(1, QColor(20, 60, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setPen(pen(QColor(255, 255, 255, 90), 3));
    p.drawArc(QRectF(12, 12, 40, 40), -130 * 16, 260 * 16 * -1);
    p.setPen(pen(kWarm, 4));
    p.drawLine(QPointF(32, 32), QPointF(46, 20));
    p.setPen(Qt::white);
    QFont f("DejaVu Sans");
    f.setPixelSize(22);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, 30, 64, 30), Qt::AlignCenter, "Q7");
}

// ---------------------------------------------------------------- presets

struct Tuning {
    int micVolume, musicVolume, effect, echoLevel, reverbLevel, echoTime, reverbTime, predelay;
    int echoStart, echoDecay;
    double musicEq[15]; // gain per music band
    double micEq[15];
    int subLevel, centerLevel, rearLevel;
    double subCrossoverHz;
    float threshold, ratio;
    float mainDelay, rearDelay;
    int pitch;
};

void applyTuning(ParameterStore& s, const Tuning& t) {
    VirtualClock clock;
    NullSink sink;
    Dsp dsp(s, sink, clock);
    s.setCellInt(26, t.micVolume);
    s.setCellInt(85, t.musicVolume);
    s.setCellInt(43, t.effect);
    for (int c : {27, 28, 37, 38, 45, 46, 47, 48})
        s.setCellInt(c, 100);
    s.setCellInt(58, t.echoLevel);
    s.setCellInt(65, t.echoLevel);
    s.setCellInt(74, t.reverbLevel);
    s.setCellInt(79, t.reverbLevel);
    s.setCellInt(62, t.echoStart);
    s.setCellInt(69, t.echoStart);
    s.setCellInt(63, t.echoDecay);
    s.setCellInt(70, t.echoDecay);
    s.setCellInt(71, 80);
    s.setCellInt(83, 70);
    s.setCellInt(53, 20);
    s.setCellInt(54, 20);
    s.setCellInt(90, 20);
    s.setCellInt(91, 20);
    s.setCellInt(88, t.pitch);
    s.setCellBits(172, floatBits(-12.0f));
    for (MicChannel ch : {MicChannel::A, MicChannel::B}) {
        dsp.sendPredelay(Effect::Echo, ch, t.predelay);
        dsp.sendPredelay(Effect::Reverb, ch, t.predelay);
        dsp.sendEchoTime(ch, t.echoTime);
        dsp.sendReverbTime(ch, t.reverbTime);
        dsp.sendMicShift(ch, 1);
    }
    // Mix: direct and music into every output; effects into main and center.
    const int mixes[5] = {92, 109, 126, 143, 157};
    for (int first : mixes) {
        s.setCellInt(first, 100);
        s.setCellInt(first + 1, first == 92 || first == 143 ? 80 : 40);
        s.setCellInt(first + 2, first == 92 || first == 143 ? 80 : 40);
        s.setCellInt(first + 3, 100);
    }
    s.setCellInt(157 + 3, t.subLevel);
    s.setCellInt(143 + 3, t.centerLevel);
    s.setCellInt(109 + 3, t.rearLevel);
    for (OutputGroup g : {OutputGroup::Main, OutputGroup::Rear, OutputGroup::Top,
                          OutputGroup::Center, OutputGroup::Sub})
        dsp.sendCompressor(g, {t.threshold, t.ratio, 10.0f, 150.0f});
    for (int d = 0; d < kDelayChannelCount; ++d) {
        const DelayChannel ch = DelayChannel(d);
        const float ms = (ch == DelayChannel::RearL || ch == DelayChannel::RearR)   ? t.rearDelay
                         : (ch == DelayChannel::MainL || ch == DelayChannel::MainR) ? t.mainDelay
                                                                                    : 1.5f;
        dsp.sendDelay(ch, ms);
        dsp.sendDelayMode(ch, 1);
    }
    static const int freqs[15] = {25,   40,   63,   100,  160,  250,   400,  630,
                                  1000, 1600, 2500, 4000, 6300, 10000, 16000};
    for (int b = 0; b < 15; ++b) {
        const int type = b == 7 ? 4 : b == 10 ? 5 : 1;
        const double q = (b == 7 || b == 10) ? 0.707 : 1.414;
        dsp.SendBand(EqHalf::Music, b, type, t.musicEq[b], freqs[b], q);
        dsp.SendBand(EqHalf::MicA, b, type, t.micEq[b], freqs[b], q);
        dsp.SendBand(EqHalf::MicB, b, type, t.micEq[b], freqs[b], q);
    }
    // Sub: a 24 dB Linkwitz-Riley low-pass on its first band.
    dsp.SendBand(8, 0, 13, 0.0, t.subCrossoverHz, 0.707);
    s.writePlanBlock(0, kFactoryPlan);
}

const Tuning kTunings[15] = {
    // mic music eff echo rev echoT revT pre start decay
    {70,
     60,
     80,
     60,
     40,
     220,
     150,
     20,
     80,
     60,
     {2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0},
     {-3, -2, -1, 0, 0, 0, 0, 0, 1, 1, 2, 2, 1, 0, -1},
     100,
     90,
     70,
     90,
     -12,
     3,
     1.5f,
     10,
     0},
    {75,
     55,
     85,
     70,
     50,
     240,
     180,
     30,
     85,
     65,
     {3, 3, 2, 1, 0, 0, -1, 0, 0, 0, 1, 1, 2, 2, 1},
     {-6, -4, -2, -1, 0, 0, 0, 1, 2, 2, 3, 3, 2, 1, 0},
     100,
     90,
     80,
     85,
     -10,
     4,
     1.5f,
     12,
     0},
    {72,
     58,
     80,
     55,
     45,
     200,
     140,
     15,
     80,
     55,
     {1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 1},
     {-4, -3, -1, 0, 0, -1, 0, 1, 2, 3, 3, 2, 1, 0, -1},
     95,
     90,
     70,
     90,
     -12,
     3,
     1.5f,
     10,
     0},
    {70,
     55,
     75,
     50,
     55,
     230,
     200,
     25,
     75,
     60,
     {0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0},
     {-5, -4, -2, -1, 0, 1, 1, 2, 2, 2, 2, 1, 0, 0, 0},
     90,
     95,
     65,
     80,
     -14,
     2.5f,
     1.5f,
     8,
     0},
    {78,
     65,
     70,
     40,
     30,
     190,
     120,
     10,
     70,
     50,
     {4, 4, 3, 2, 0, -1, -2, -1, 0, 1, 2, 3, 3, 2, 1},
     {-6, -5, -3, -1, 0, 0, 1, 2, 3, 3, 2, 1, 0, -1, -2},
     100,
     85,
     75,
     100,
     -8,
     5,
     1.5f,
     14,
     0},
    {60,
     70,
     50,
     20,
     20,
     180,
     100,
     10,
     60,
     40,
     {3, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2},
     {-3, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     100,
     100,
     90,
     80,
     -16,
     2,
     3.0f,
     18,
     0},
    {55,
     65,
     40,
     10,
     15,
     180,
     80,
     5,
     50,
     30,
     {0, 0, 0, -1, -1, 0, 1, 2, 3, 3, 2, 1, 0, 0, 0},
     {-2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     80,
     100,
     70,
     80,
     -18,
     2,
     2.5f,
     15,
     0},
    {50,
     72,
     30,
     10,
     25,
     200,
     160,
     15,
     50,
     30,
     {2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2},
     {-2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     85,
     60,
     85,
     70,
     -20,
     1.5f,
     2.0f,
     12,
     0},
    {80,
     75,
     80,
     65,
     40,
     210,
     130,
     15,
     85,
     70,
     {6, 5, 4, 2, 0, -1, -2, -1, 0, 1, 2, 3, 4, 3, 2},
     {-6, -4, -2, 0, 0, 0, 1, 1, 2, 2, 2, 1, 0, 0, -1},
     100,
     80,
     90,
     110,
     -8,
     6,
     1.5f,
     10,
     0},
    {72,
     58,
     80,
     60,
     45,
     220,
     160,
     20,
     80,
     60,
     {2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0},
     {-4, -2, 0, 1, 2, 1, 0, -1, 0, 1, 2, 1, 0, -1, -2},
     100,
     90,
     70,
     90,
     -12,
     3,
     1.5f,
     10,
     -2},
    {72,
     58,
     80,
     60,
     45,
     220,
     160,
     20,
     80,
     60,
     {2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0},
     {-8, -6, -4, -2, -1, 0, 0, 1, 2, 3, 3, 2, 2, 1, 0},
     100,
     90,
     70,
     90,
     -12,
     3,
     1.5f,
     10,
     2},
    {65,
     40,
     20,
     0,
     5,
     180,
     50,
     3,
     40,
     20,
     {-2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {-9, -8, -6, -4, -2, 0, 1, 2, 3, 3, 2, 1, 0, -2, -4},
     60,
     100,
     50,
     120,
     -18,
     4,
     1.5f,
     8,
     0},
    {50,
     40,
     50,
     40,
     30,
     200,
     120,
     15,
     70,
     50,
     {-3, -3, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -2},
     {-4, -3, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -2},
     50,
     80,
     50,
     80,
     -24,
     6,
     1.5f,
     10,
     0},
    {70,
     65,
     75,
     55,
     40,
     220,
     150,
     20,
     80,
     60,
     {8, 7, 5, 3, 1, 0, -1, 0, 0, 0, 0, 1, 1, 1, 0},
     {-3, -2, -1, 0, 0, 0, 0, 0, 1, 1, 2, 2, 1, 0, -1},
     100,
     85,
     80,
     70,
     -10,
     4,
     1.5f,
     10,
     0},
    {72,
     55,
     70,
     45,
     35,
     200,
     120,
     10,
     70,
     50,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1},
     {-8, -6, -4, -2, 0, 0, 1, 2, 3, 4, 4, 3, 2, 1, 0},
     90,
     95,
     70,
     100,
     -12,
     3,
     1.5f,
     10,
     0},
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication gui(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_assets RESOURCES_DIR [ICONS_DIR]\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath("images");
    root.mkpath("presets");
    const std::pair<const char*, std::function<void(QPainter&)>> icons[] = {
        {"mic", mic},
        {"effect", effect},
        {"reverb", reverb},
        {"echo", echo},
        {"music", music},
        {"gate", gate},
        {"load_mode", [](QPainter& p) { chip(p, false); }},
        {"save_mode", [](QPainter& p) { chip(p, true); }},
        {"load_file", [](QPainter& p) { fileIcon(p, false); }},
        {"save_file", [](QPainter& p) { fileIcon(p, true); }},
        {"hdmi", hdmi},
        {"source", source},
        {"agc", agc},
        {"reset", resetIcon},
        {"autosub", autosub},
        {"language", language},
        {"about", about},
        {"remote", remote},
        {"phone", phone},
        {"app", appIcon},
    };
    for (const auto& [name, draw] : icons)
        paintIcon(root.filePath(QString("images/%1.png").arg(name)), draw);
    if (argc == 3) {
        const QDir icons(QString::fromLocal8Bit(argv[2]));
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString dir = QString("hicolor/%1x%1/apps").arg(size);
            icons.mkpath(dir);
            paintIcon(icons.filePath(dir + "/io.github.q7edit.Q7Edit.png"), appIcon, size);
        }
    }

    for (int i = 0; i < 15; ++i) {
        ParameterStore s;
        applyTuning(s, kTunings[i]);
        const std::string path =
            root.filePath(QString("presets/%1.q7M").arg(427 + i)).toStdString();
        if (!writeModeFile(path, s)) {
            std::fprintf(stderr, "make_assets: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
