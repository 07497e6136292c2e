// The progress window of the long operations: a meter, a percentage and
// Cancel. It watches one working object (field definitions collecting their
// statistics, or the tree driver) through the object's progress callback and
// yields to the event loop once per event, so that Cancel can be pressed.
#pragma once

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <memory>

class CDataDef;
class CTRX;
class QLabel;
class QProgressBar;
class QPushButton;

class FStatus : public QDialog {
    Q_OBJECT
public:
    explicit FStatus(QWidget* parent = nullptr);
    ~FStatus() override;

    bool Canceled() const { return mCanceled; }
    int16_t Progress() const;
    // Clamped to 0..100; shown only when it differs from the last value shown.
    void SetProgress(int16_t value);
    // Hides the window, centres it on parent, resets meter, label, Canceled and
    // the last value shown, and watches the given object (one of the two, or none).
    void Initialize(const QString& caption, std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CTRX> trx,
                    QWidget* parent);
    // What the Cancel button does.
    void CancelClick();
    // True while a working object is watched.
    bool Watching() const { return mDDO || mTRX; }
    QPushButton* CancelButton() const { return mCancel; }
    QProgressBar* Meter() const { return mMeter; }
    QLabel* PercentLabel() const { return mPercent; }
    // Paint events made by value changes (a repeat of the shown value makes none).
    int Repaints() const { return mRepaints; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void Show(int16_t value);
    void DropReferences();
    void OnDataDefProgress(int16_t percent);
    void OnTRXProgress(int16_t percent);

    bool mCanceled = false;
    int16_t mLastShown = 0;
    int mRepaints = 0;
    std::shared_ptr<CDataDef> mDDO;
    std::shared_ptr<CTRX> mTRX;
    QProgressBar* mMeter = nullptr;
    QLabel* mPercent = nullptr;
    QPushButton* mCancel = nullptr;
};
