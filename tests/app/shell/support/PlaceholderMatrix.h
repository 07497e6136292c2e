// Stands in for the confusion matrix panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IMatrixPanel.h"

#include <QStringList>

class PlaceholderMatrix : public base::IMatrixPanel {
public:
    explicit PlaceholderMatrix(QWidget* parent = nullptr);

    void Intitalize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>, int32_t firstRow, int32_t lastRow) override;
    int32_t MissingRows() const override;
    int32_t RecordCount() const override;

    QStringList calls;
    int32_t recordCount = 0;

private:
    void Record(const QString& call) { calls << call; }
};
