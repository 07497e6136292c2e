// The confusion-matrix view as the shell sees it.
#pragma once

#include "UPanel.h"

#include <cstdint>
#include <memory>

class CDataDef;
class CProject;

namespace base {

class IMatrixPanel : public UPanel {
    Q_OBJECT
public:
    explicit IMatrixPanel(QWidget* parent = nullptr);
    ~IMatrixPanel() override;

    // The matrix over test rows firstRow..lastRow (spelled as its callers know it).
    virtual void Intitalize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef, int32_t firstRow,
                            int32_t lastRow) = 0;
    virtual int32_t MissingRows() const = 0;
    virtual int32_t RecordCount() const = 0;

signals:
    // Class numbers of the clicked cell, -1 for a heading or totals cell.
    void ItemClick(int16_t actual, int16_t predicted);
};

}  // namespace base
