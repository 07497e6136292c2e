// The about window, with its hidden credits on the picture.
#pragma once

#include <QDialog>
#include <QVariant>

class QLabel;
class QTimer;

class FAbout : public QDialog {
    Q_OBJECT
public:
    explicit FAbout(QWidget* mainWindow);

    // Opens a document or web address with the desktop's handler.
    QVariant ShellOpen(const QString& address);
    int CreditFrame() const { return mFrame; }
    QTimer* CreditTimer() const { return mTimer; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Tick();

    QLabel* mPicture = nullptr;
    QTimer* mTimer = nullptr;
    int mStage = 0;
    Qt::KeyboardModifiers mLastModifiers;
    int mFrame = 0;
};
