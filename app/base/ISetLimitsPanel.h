// The training and test row-range step panel as the shell sees it.
#pragma once

#include "INavPanel.h"
#include "UPanel.h"

#include <cstdint>

namespace base {

class ISetLimitsPanel : public UPanel, public INavPanel {
    Q_OBJECT
public:
    explicit ISetLimitsPanel(QWidget* parent = nullptr);
    ~ISetLimitsPanel() override;

    virtual int32_t TrainLow() const = 0;
    virtual int32_t TrainHigh() const = 0;
    virtual int32_t TestLow() const = 0;
    virtual int32_t TestHigh() const = 0;
    virtual int32_t RecordCount() const = 0;
    // Sets all five values.
    virtual void Initialize(int32_t recordCount, int32_t trainLow, int32_t trainHigh, int32_t testLow,
                            int32_t testHigh) = 0;

signals:
    void NavNext();
    void NavBack();
};

}  // namespace base
