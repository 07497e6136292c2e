// Keeps a person's keys, clicks, wheel and shortcuts from one window while
// on. The busy state uses it instead of disabling the window's central area,
// so the widgets there keep their own enabled state during a command. Other
// windows (progress, find, message boxes) and closing are left alone.
// Input made while on but not yet delivered (a command that does not yield
// leaves it queued in the window system) is taken and dropped by Drain.
#pragma once

#include <QObject>

class QWidget;

class CInputBlock : public QObject {
public:
    explicit CInputBlock(QWidget* window);
    ~CInputBlock() override;

    void SetOn(bool on);
    // Delivers, and so drops, what the window system holds for the window;
    // every other pending event runs too.
    void Drain();
    bool Draining() const { return mDraining; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* mWindow;
    bool mOn = false;
    bool mDraining = false;
};
