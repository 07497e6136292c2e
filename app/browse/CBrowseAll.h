// The all-rows view: the mark, the output field as stored, then the data fields.
#pragma once

#include "CBrowseView.h"

class CBrowseAll : public CBrowseView {
public:
    CBrowseAll();
    void Initialize(std::shared_ptr<CDataDef> dataDef) { mDataDef = std::move(dataDef); }
};
