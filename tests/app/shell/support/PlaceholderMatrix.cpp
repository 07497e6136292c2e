#include "PlaceholderMatrix.h"

#include "PlaceholderLook.h"

PlaceholderMatrix::PlaceholderMatrix(QWidget* parent) : base::IMatrixPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Confusion Matrix"));
}

void PlaceholderMatrix::Intitalize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>, int32_t firstRow, int32_t lastRow) {
    Record(QStringLiteral("Intitalize(%1,%2)").arg(firstRow).arg(lastRow));
}

int32_t PlaceholderMatrix::MissingRows() const {
    return 0;
}

int32_t PlaceholderMatrix::RecordCount() const {
    return recordCount;
}
