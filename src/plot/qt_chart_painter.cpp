// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot/qt_chart_painter.h"

#include "protocol/file_writer.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace q7 {

namespace {

int gArgc = 3;
char gArg0[] = "q7ctl";
char gArg1[] = "-platform";
char gArg2[] = "offscreen";
char* gArgv[] = {gArg0, gArg1, gArg2, nullptr};

QColor colour(std::uint32_t rgb) {
    return QColor(int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff));
}

} // namespace

QtChartPainter::QtChartPainter() {
    if (!QCoreApplication::instance())
        app_ = std::make_unique<QGuiApplication>(gArgc, gArgv);
    ready_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QtChartPainter::~QtChartPainter() = default;

QImage QtChartPainter::render(const Chart& chart, int width, int height) const {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const ChartLayout l(chart, width, height);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    QFont title = font;
    title.setPixelSize(16);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0x22, 0x22, 0x22));
    p.drawText(QPointF(l.plotLeft(), 20), QString::fromStdString(chart.title));
    p.setFont(font);
    p.setPen(QColor(0x44, 0x44, 0x44));
    p.drawText(QPointF(l.plotLeft(), 38), QString::fromStdString(chart.subtitle));
    const QRectF plot(QPointF(l.plotLeft(), l.plotTop()), QPointF(l.plotRight(), l.plotBottom()));
    if (chart.rangeHiHz > chart.rangeLoHz) {
        const double x0 = l.x(std::max(chart.rangeLoHz, chart.loHz));
        const double x1 = l.x(std::min(chart.rangeHiHz, chart.hiHz));
        p.fillRect(QRectF(QPointF(x0, l.plotTop()), QPointF(x1, l.plotBottom())),
                   QColor(0xee, 0xf3, 0xfb));
    }
    p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
    for (double f : l.hzTicks())
        p.drawLine(QPointF(l.x(f), l.plotTop()), QPointF(l.x(f), l.plotBottom()));
    for (double d : l.dbTicks())
        p.drawLine(QPointF(l.plotLeft(), l.y(d)), QPointF(l.plotRight(), l.y(d)));
    p.setPen(QColor(0x22, 0x22, 0x22));
    for (double f : l.hzTicks())
        p.drawText(QRectF(l.x(f) - 30, l.plotBottom() + 4, 60, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromStdString(ChartLayout::hzLabel(f)));
    for (double d : l.dbTicks())
        p.drawText(QRectF(0, l.y(d) - 8, l.plotLeft() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(d, 'f', 0));
    p.drawText(QRectF(l.plotLeft(), l.plotBottom() + 22, l.plotRight() - l.plotLeft(), 16),
               Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Hz"));
    p.save();
    p.translate(14, (l.plotTop() + l.plotBottom()) / 2);
    p.rotate(-90);
    p.drawText(QRectF(-20, -8, 40, 16), Qt::AlignCenter, QStringLiteral("dB"));
    p.restore();
    if (chart.markHz > 0) {
        p.setPen(QPen(QColor(0x99, 0x99, 0x99), 1, Qt::DotLine));
        p.drawLine(QPointF(l.x(chart.markHz), l.plotTop()),
                   QPointF(l.x(chart.markHz), l.plotBottom()));
    }
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    p.save();
    p.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (const ChartSeries& s : chart.series) {
        if (s.hz.empty())
            continue;
        QPainterPath path(QPointF(l.x(s.hz[0]), l.y(s.db[0])));
        for (std::size_t i = 1; i < s.hz.size(); ++i)
            path.lineTo(QPointF(l.x(s.hz[i]), l.y(s.db[i])));
        QPen pen(colour(s.rgb), s.width);
        if (s.dashed)
            pen.setDashPattern({3.5, 2});
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        p.drawPath(path);
    }
    p.restore();
    // The legend, along the bottom.
    double x = l.plotLeft();
    const double y = height - 12;
    const QFontMetricsF metrics(font);
    for (const ChartSeries& s : chart.series) {
        QPen pen(colour(s.rgb), s.width);
        if (s.dashed)
            pen.setDashPattern({3.5, 2});
        p.setPen(pen);
        p.drawLine(QPointF(x, y - 4), QPointF(x + 24, y - 4));
        p.setPen(QColor(0x22, 0x22, 0x22));
        const QString name = QString::fromStdString(s.name);
        p.drawText(QPointF(x + 30, y), name);
        x += 46 + metrics.horizontalAdvance(name);
    }
    return image;
}

bool QtChartPainter::writePng(const Chart& chart, const std::string& path, std::string& error) {
    if (!ready_) {
        error = "charts cannot be drawn here (no Qt GUI application)";
        return false;
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !render(chart).save(&buffer, "PNG")) {
        error = "cannot draw " + path;
        return false;
    }
    const WriteResult w =
        FileWriter().write(path, std::span(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                           std::size_t(png.size())));
    if (!w) {
        error = describeWrite(w, path);
        return false;
    }
    return true;
}

std::unique_ptr<ChartPainter> createChartPainter() {
    return std::make_unique<QtChartPainter>();
}

} // namespace q7
