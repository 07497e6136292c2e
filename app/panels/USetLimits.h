// The row-range step: two range bars, the training rows in red and the test
// rows in blue, each with its row total, and Back and Next. Only the user's
// own changes on the bars set Changed.
#pragma once

#include "ISetLimitsPanel.h"

#include <QRect>

class QLabel;
class QPushButton;
class URecordSelect;

class USetLimits : public base::ISetLimitsPanel {
    Q_OBJECT
public:
    explicit USetLimits(QWidget* parent = nullptr);

    int32_t TrainLow() const override;
    int32_t TrainHigh() const override;
    int32_t TestLow() const override;
    int32_t TestHigh() const override;
    int32_t RecordCount() const override;
    void Initialize(int32_t recordCount, int32_t trainLow, int32_t trainHigh, int32_t testLow,
                    int32_t testHigh) override;
    bool Changed() const override { return mChanged; }

    void SetRecordCount(int32_t n);
    void SetTrainLow(int32_t v);
    void SetTrainHigh(int32_t v);
    void SetTestLow(int32_t v);
    void SetTestHigh(int32_t v);

    // Places in twips for an inner size, given the heights of the two titles
    // and the widths of the two buttons.
    struct Layout {
        QRect train, test, label1, label2, trainTotal, testTotal;
        int backLeft, nextLeft;
    };
    static Layout ComputeLayout(int width, int height, int label1Height, int label2Height, int label1Width,
                                int label2Width, int backWidth, int nextWidth);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void RefreshTotals();

    URecordSelect* mTrain;
    URecordSelect* mTest;
    QLabel* mLabel1;
    QLabel* mLabel2;
    QLabel* mTrainTotal;
    QLabel* mTestTotal;
    QPushButton* mBack;
    QPushButton* mNext;
    bool mChanged = false;
};
