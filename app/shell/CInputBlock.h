// Keeps a person's keys, clicks, wheel and shortcuts from one window while
// on. The busy state uses it instead of disabling the window's central area,
// so the widgets there keep their own enabled state during a command. Other
// windows (progress, find, message boxes) and closing are left alone.
#pragma once

#include <QObject>

class QWidget;

class CInputBlock : public QObject {
public:
    explicit CInputBlock(QWidget* window);
    ~CInputBlock() override;

    bool On() const { return mOn; }
    void SetOn(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* mWindow;
    bool mOn = false;
};
