// The browse view that fits a browse type, initialised from the program's
// single instances; what the shell's browse set-up asks of the browse code.
#pragma once

#include "IDataBrowse.h"

#include <cstdint>
#include <memory>

class CDataDef;
class CProject;

namespace MBrowseViews {

// Type 0: CBrowseAll with the field definitions; 1: CBrowseTest with the field
// definitions and the project; null for any other type.
std::shared_ptr<base::IDataBrowse> NewBrowseView(int16_t browseType, std::shared_ptr<CDataDef> dataDef,
                                                  std::shared_ptr<CProject> project);

}  // namespace MBrowseViews
