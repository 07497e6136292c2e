#include "MBrowseViews.h"

#include "CBrowseAll.h"
#include "CBrowseTest.h"

namespace MBrowseViews {

std::shared_ptr<base::IDataBrowse> NewBrowseView(int16_t browseType, std::shared_ptr<CDataDef> dataDef,
                                                  std::shared_ptr<CProject> project) {
    if (browseType == 0) {
        auto view = std::make_shared<CBrowseAll>();
        view->Initialize(std::move(dataDef));
        return view;
    }
    if (browseType == 1) {
        auto view = std::make_shared<CBrowseTest>();
        view->Initialize(std::move(dataDef), std::move(project));
        return view;
    }
    return nullptr;
}

}  // namespace MBrowseViews
