// The report step panel: eight links to the result views (the one on show
// highlighted) and under them either the browse filter, the legend strip or
// nothing, as the view shown asks. A link click raises Navigate; the shell
// shows the view and answers with SetNavigate.
#pragma once

#include "IReportPanel.h"

#include <cstdint>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;
class UChartReport;
class ULink;

class UReport : public base::IReportPanel {
    Q_OBJECT
public:
    static constexpr int kLinks = 8;
    static constexpr int kFilters = 5;

    explicit UReport(QWidget* parent = nullptr);

    bool Changed() const override { return false; }
    // An index outside 0..7 names no link and changes nothing.
    void SetNavigate(int16_t index) override;
    void EnableLink(int16_t index) override;
    void DisableLink(int16_t index) override;
    // 6 (the flow chart) offers the legend's colour choice; anything else withdraws it.
    void ShowType(int32_t type);
    void SetTotalValues(int32_t items, int16_t confidence) override;
    void SetLocalValues(int32_t items, float confidence) override;
    int16_t ColorItems() const override;
    void SetColorItems(int16_t mode) override;
    int16_t Contrast() const override;
    void SetContrast(int16_t contrast) override;

    ULink* Link(int index) const { return mLinks[index]; }

signals:
    void NavBack();  // declared for the step protocol; never raised

private:
    void LinkClicked(int index);
    void FilterSelected(int index);
    void HighlightOnly(int index);

    ULink* mLinks[kLinks];
    QGroupBox* mFilterFrame;
    QButtonGroup* mFilterGroup;
    QRadioButton* mFilters[kFilters];
    UChartReport* mChart;
    QPushButton* mRedo;
    int16_t mFilter = 0;
    bool mTestView = false;
};
