// Stands in for the row selection panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "ISetLimitsPanel.h"

#include <QStringList>

class PlaceholderSetLimits : public base::ISetLimitsPanel {
public:
    explicit PlaceholderSetLimits(QWidget* parent = nullptr);

    int32_t TrainLow() const override;
    int32_t TrainHigh() const override;
    int32_t TestLow() const override;
    int32_t TestHigh() const override;
    int32_t RecordCount() const override;
    void Initialize(int32_t rc, int32_t tl, int32_t th, int32_t sl, int32_t sh) override;
    bool Changed() const override;

    QStringList calls;
    int32_t recordCount = 0, trainLow = 0, trainHigh = 0, testLow = 0, testHigh = 0;
    bool changed = false;

private:
    void Record(const QString& call) { calls << call; }
};
