// The rule-extraction and pruning step panel as the shell sees it.
#pragma once

#include "INavPanel.h"
#include "UPanel.h"

#include <cstdint>

namespace base {

class IPrunePanel : public UPanel, public INavPanel {
    Q_OBJECT
public:
    explicit IPrunePanel(QWidget* parent = nullptr);
    ~IPrunePanel() override;

    virtual float PruneRate() const = 0;  // 0..100
    virtual void SetPruneRate(float rate) = 0;
    virtual int32_t MinItems() const = 0;
    virtual void SetMinItems(int32_t items) = 0;
    // The legend's ColorMode (0 quantity, 1 confidence, 2 class) and contrast 0..100.
    virtual int16_t ColorItems() const = 0;
    virtual void SetColorItems(int16_t mode) = 0;
    virtual int16_t Contrast() const = 0;
    virtual void SetContrast(int16_t contrast) = 0;
    virtual void EnableNext() = 0;
    virtual void DisableNext() = 0;
    // 1 flow chart (the legend's colour options on), 0 rule tree.
    virtual void ShowType(int16_t type) = 0;
    virtual void SetTotalValues(int32_t items, int16_t confidence, int16_t nodes) = 0;
    // -1, -1 shows "-".
    virtual void SetLocalValues(int32_t items, float confidence) = 0;

signals:
    void NavNext();
    void NavBack();
    void ReBuild();
    void ColorChange(int16_t mode, int16_t contrast);
    void ChartChange(int16_t mode);  // 1 flow chart, otherwise rule tree
    void Refresh();
};

}  // namespace base
