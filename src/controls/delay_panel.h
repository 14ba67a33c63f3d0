// SPDX-License-Identifier: GPL-3.0-or-later
// CDelayPanel: the eight output delays as markers on one time axis; dragging a marker reports the
// channel's new value to the page.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>

namespace q7 {

class PressHold;

class CDelayPanel : public QWidget {
    Q_OBJECT
public:
    struct Channel {
        int index = 0;
        int markerX = 0;
        int rowY = 0;
        float value = 0.0f;
        float minimum = 1.5f, maximum = 100.0f;
    };
    static constexpr int kMaxChannels = 8;

    explicit CDelayPanel(QWidget* parent = nullptr);

    void SetUp(int count);
    void SetValue(int channel, float value);
    const Channel& channel(int i) const { return channels_[std::size_t(i)]; }
    int grabbed() const { return grabbed_; }
    int count() const { return count_; }
    // Pixel of a value and value of a pixel.
    int xOf(double value) const;
    double valueOf(int x) const;
    double rowHeight() const { return (height() - 25) / double(count_); }
    QSize markerSize() const { return QSize(9, 9); }
    // 0 Chinese, 1 English: the language of the channel names.
    void setLanguage(int index);
    QString channelName(int row) const;

signals:
    void dragged(int channel, float value); // 4345

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    PressHold* hold_;
    std::array<Channel, kMaxChannels> channels_{};
    int count_ = 8;
    double axisMin_ = 0.0, axisMax_ = 106.0;
    int grabbed_ = -1;
    bool dragging_ = false;
    int language_ = 0;
    QPixmap background_;

    void place();
    int markerTop(int row) const;
};

} // namespace q7
