// The rule-extraction step panel: the prune rate (0 to 100, one decimal shown)
// and the minimum items per node (1 to 30000) with their spin steps, typing
// rules and Enter to extract again; the tree's node count and confidence; the
// legend strip; Finish and Back. The shell stores the settings and builds the
// tree in answer to the panel's events.
#pragma once

#include "IPrunePanel.h"

#include <QString>

#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class UChartReport;
class USpin;

class UPrune : public base::IPrunePanel {
    Q_OBJECT
public:
    explicit UPrune(QWidget* parent = nullptr);

    bool Changed() const override { return mChanged; }
    float PruneRate() const override { return float(mRateWhole) + mRateFraction; }
    // 0..100; the box shows it with one decimal and the panel counts as unchanged.
    void SetPruneRate(float rate) override;
    // Held in 32 bits: the shell's default (1 % of the training rows) may pass 32767.
    int32_t MinItems() const override { return mMinItems; }
    void SetMinItems(int32_t items) override;
    int16_t ColorItems() const override;
    void SetColorItems(int16_t mode) override;
    int16_t Contrast() const override;
    void SetContrast(int16_t contrast) override;
    void EnableNext() override;
    void DisableNext() override;
    // 1 flow chart: the legend offers its colour choice; anything else withdraws it.
    void ShowType(int16_t type) override;
    void SetTotalValues(int32_t items, int16_t confidence, int16_t nodes) override;
    void SetLocalValues(int32_t items, float confidence) override;

    // Spin steps (Down true = one step down), as the arrows and the arrow keys give them.
    void StepPruneRate(bool down);
    void StepMinItems(bool down);

    // Left edge of the Finish button for a panel of this inner width (twips).
    static double NextButtonLeft(double innerWidth);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowPruneRate();
    void ShowMinItems();
    void TakePruneRate();
    void TakeMinItems();
    void RebuildAction();
    void Finish();
    bool FilterKey(QLineEdit* box, QKeyEvent* event);
    USpin* MakeSpin(QWidget* parent, const char* name, bool rate);

    int16_t mRateWhole = 75;
    float mRateFraction = 0;
    int32_t mMinItems = 2;
    bool mChanged = false;

    QPushButton* mBack;
    QPushButton* mNext;
    QLabel* mConfMain;
    QLabel* mNodesMain;
    QGroupBox* mExtract;
    QLineEdit* mRateBox;
    QLineEdit* mItemsBox;
    QPushButton* mRebuild;
    UChartReport* mChart;
};
