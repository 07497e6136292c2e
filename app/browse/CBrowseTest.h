// The test-rows view: the mark, the actual and the predicted class as class
// names, then the data fields; rows predicted wrongly are painted red.
#pragma once

#include "CBrowseView.h"

class CClassNames;
class CProject;

class CBrowseTest : public CBrowseView {
public:
    CBrowseTest();
    ~CBrowseTest() override;
    void Initialize(std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CProject> project);
    void Destroy() override;

    // Red for a row whose actual class is known and whose prediction differs.
    QColor FetchRowStyle(int row) const;

protected:
    void FinishLayout(const std::string& outputName) override;

private:
    void LoadClassValueItems(int colIndex);

    std::shared_ptr<CProject> mProject;
    std::unique_ptr<CClassNames> mClassNames;
};
