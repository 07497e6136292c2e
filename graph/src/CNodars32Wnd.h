// The control's window: a scroll area whose viewport shows the graph. It forwards
// size, first showing, scrolling, painting, mouse and keys to the control object.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <cstdint>

namespace nodars {

class CNodars32Ctrl;

class CNodars32Wnd : public QAbstractScrollArea {
    Q_OBJECT
public:
    CNodars32Wnd(CNodars32Ctrl* control, QWidget* parent);

    // The control is going away: stop calling it.
    void Detach() { mControl = nullptr; }

    // Scroll ranges and positions in pixels (32-bit). A bar counts in units of
    // several pixels when the range does not fit its 16-bit scale.
    void SetScrollState(int32_t hMax, int32_t hPos, int32_t vMax, int32_t vPos);
    int32_t ScrollPosition(Qt::Orientation bar) const;
    int32_t ScrollMaximum(Qt::Orientation bar) const;
    int ScrollUnit(Qt::Orientation bar) const { return bar == Qt::Horizontal ? mHUnit : mVUnit; }
    // The 50 ms timer that keeps a mouse operation scrolling while the pointer
    // stands outside the window.
    void StartMouseTimer();
    void StopMouseTimer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void SetBar(Qt::Orientation bar, int32_t max, int32_t pos);

    CNodars32Ctrl* mControl;
    int mHUnit = 1;
    int mVUnit = 1;
    int32_t mHMax = 0;
    int32_t mVMax = 0;
    bool mSetting = false;
    QBasicTimer mMouseTimer;
};

}  // namespace nodars
