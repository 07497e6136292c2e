// The splash window: shown at start-up, closed by its timer, by a click
// anywhere in the program, or by the first use of the menu bar. Keys are
// handed to the menu bar and do not close it.
#pragma once

#include <QWidget>

#include <cstdint>

class QTimer;

class FSplash : public QWidget {
    Q_OBJECT
public:
    explicit FSplash(QWidget* parent = nullptr);
    ~FSplash() override;

    int32_t WaitTime() const;
    void SetWaitTime(int32_t ms);
    QTimer* Timer() const { return mTimer; }
    // Centres the window on the screen, shows it and starts the 8000 ms count.
    void Load();
    // What the timer does: stop it and close the window.
    void TimerTick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* mTimer = nullptr;
    bool mFiltering = false;
};
