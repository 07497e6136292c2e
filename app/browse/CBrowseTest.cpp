#include "CBrowseTest.h"

#include "CBrowseGrid.h"
#include "CClassNames.h"
#include "CDataDef.h"
#include "ErrorGuard.h"
#include "MUtilities.h"

// Fixed columns 0-2; a right click on a row and the locked widths reach
// column 3; the format hook on the class columns 1-2.
CBrowseTest::CBrowseTest() : CBrowseView({3, 3, 3, 1, 2, true}) {}

CBrowseTest::~CBrowseTest() { Destroy(); }

void CBrowseTest::Initialize(std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CProject> project) {
    mDataDef = std::move(dataDef);
    mProject = std::move(project);
}

void CBrowseTest::Destroy() {
    if (mTG && mTG->BoundView() == this) mTG->Model()->rowStyle = nullptr;
    CBrowseView::Destroy();
    mDataDef.reset();
    mProject.reset();
    mClassNames.reset();
}

void CBrowseTest::FinishLayout(const std::string& outputName) {
    auto& cols = mTG->Model()->Columns();
    if (cols.size() > 1) cols[1].caption = QString::fromStdString(outputName);
    mTG->Model()->rowStyle = [this](int row) { return FetchRowStyle(row); };
    for (int col : {1, 2}) {
        base::RecordErrors("CBrowseTest::FinishLayout", [&] {
            LoadClassValueItems(col);
        });
    }
}

void CBrowseTest::LoadClassValueItems(int colIndex) {
    auto& cols = mTG->Model()->Columns();
    if (colIndex >= int(cols.size())) return;
    if (!mClassNames) {
        mClassNames = std::make_unique<CClassNames>();
        mClassNames->Initialize(mProject.get(), mDataDef);
    }
    const int16_t output = mClassNames->OutputClass();
    GridColumn& c = cols[size_t(colIndex)];
    c.valueItems = {{-1, QStringLiteral("N/A"), QPixmap()}, {0, QStringLiteral("N/A"), QPixmap()}};
    const int16_t classes = output >= 0 ? mDataDef->MaxClass(output) : 0;
    for (int16_t j = 0; j < classes; ++j)
        c.valueItems.push_back({double(j + 1),
                                MUtilities::FitTextToWidth(*mTG, QString::fromStdString(mClassNames->Class(output, j)), 100),
                                QPixmap()});
    c.translate = true;
}

QColor CBrowseTest::FetchRowStyle(int row) const {
    try {
        if (!mTG) return {};
        const QVariant actual = mTG->Model()->Value(row, 1);
        const QVariant predicted = mTG->Model()->Value(row, 2);
        if (!actual.isValid()) return {};
        const double a = actual.toDouble();
        if (a > 0 && (!predicted.isValid() || predicted.toDouble() != a)) return QColor(0xFF, 0, 0);
    } catch (...) {
        // A row that cannot be read has no colour of its own.
        base::RecordCaught("CBrowseTest::FetchRowStyle");
    }
    return {};
}
