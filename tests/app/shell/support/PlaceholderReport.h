// Stands in for the reports panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IReportPanel.h"

#include <QStringList>

class PlaceholderReport : public base::IReportPanel {
public:
    explicit PlaceholderReport(QWidget* parent = nullptr);

    int16_t ColorItems() const override;
    void SetColorItems(int16_t mode) override;
    int16_t Contrast() const override;
    void SetContrast(int16_t value) override;
    void SetNavigate(int16_t index) override;
    void EnableLink(int16_t index) override;
    void DisableLink(int16_t index) override;
    void SetTotalValues(int32_t items, int16_t confidence) override;
    void SetLocalValues(int32_t items, float confidence) override;
    bool Changed() const override;

    QStringList calls;
    int16_t colorItems = 2, contrast = 50, navigate = -1;
    bool links[8] = {};

private:
    void Record(const QString& call) { calls << call; }
};
