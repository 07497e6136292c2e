// Stands in for the rule extraction panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IPrunePanel.h"

#include <QStringList>

class PlaceholderPrune : public base::IPrunePanel {
public:
    explicit PlaceholderPrune(QWidget* parent = nullptr);

    float PruneRate() const override;
    void SetPruneRate(float rate) override;
    int32_t MinItems() const override;
    void SetMinItems(int32_t items) override;
    int16_t ColorItems() const override;
    void SetColorItems(int16_t mode) override;
    int16_t Contrast() const override;
    void SetContrast(int16_t value) override;
    void EnableNext() override;
    void DisableNext() override;
    void ShowType(int16_t type) override;
    void SetTotalValues(int32_t items, int16_t confidence, int16_t nodes) override;
    void SetLocalValues(int32_t items, float confidence) override;
    bool Changed() const override;

    QStringList calls;
    float pruneRate = 75;
    int32_t minItems = 2;
    int16_t colorItems = 2, contrast = 50;
    bool changed = false;

private:
    void Record(const QString& call) { calls << call; }
};
