// A small up/down arrow pair. It holds no value: every press, every repeat
// step while an arrow is held, and the arrow and page keys raise Change, and
// the owner steps its own value (Down true = one step down).
#pragma once

#include <QTimer>
#include <QWidget>

class USpin : public QWidget {
    Q_OBJECT
public:
    explicit USpin(QWidget* parent = nullptr);

    // The first repeat comes this long after a press ...
    static constexpr int kFirstDelayMs = 300;
    // ... and the next ones at this rate, one a person can still follow.
    static constexpr int kRepeatMs = 16;

    bool Repeating() const { return mTimer.isActive(); }
    bool OutlineShown() const { return mOutline; }

signals:
    void Change(bool Down);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    bool DownAt(const QPoint& p) const { return p.y() >= height() / 2; }
    void Raise(int times = 1);
    void Timer1_Timer();

    QTimer mTimer;
    bool mDown = false;
    bool mOutline = false;
};
