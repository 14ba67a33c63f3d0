// SPDX-License-Identifier: GPL-3.0-or-later
// CSSVolumePanel: the room plan with the listener and eight speakers, each draggable; pressing
// and dragging report the point to the page.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>

namespace q7 {

class PressHold;

class CSSVolumePanel : public QWidget {
    Q_OBJECT
public:
    struct Point {
        int type = -1; // 0 listener, 1..8 speaker, -1 not drawn
        int px = 0, py = 0;
        float x = 0, y = 0;
    };

    explicit CSSVolumePanel(QWidget* parent = nullptr);

    void SetRoomSize(float width, float length);
    void SetPoint(float x, float y, int index);
    const Point& point(int i) const { return points_[std::size_t(i)]; }
    float roomWidth() const { return W_; }
    float roomLength() const { return L_; }
    QPoint pixelOf(float x, float y) const;
    // 0 Chinese, 1 English: the language of the speaker names.
    void setLanguage(int index);
    QString speakerName(int speaker) const;
    // The axis labels of the length axis from the top (for tests and the grid).
    QStringList lengthLabels() const;

signals:
    void pressed(const CSSVolumePanel::Point& p); // 2258
    void dragged(const CSSVolumePanel::Point& p); // 2259

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    PressHold* hold_;
    std::array<Point, 9> points_{};
    float W_ = 4.0f, L_ = 4.0f;
    bool dragging_ = false;
    int grabbed_ = 0;
    int language_ = 0;
    QPixmap background_;

    void placeAll();
    QStringList axisLabels(float size, bool vertical) const;
};

} // namespace q7

Q_DECLARE_METATYPE(q7::CSSVolumePanel::Point)
