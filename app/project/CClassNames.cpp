#include "CClassNames.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CDataDef.h"
#include "CProject.h"

#include <algorithm>

void CClassNames::Initialize(CProject* project, std::shared_ptr<CDataDef>& dataDef) {
    if (!project || mInitialized) return;
    base::ShowErrors("CClassNames::Initialize", [&] {
        DatabasePtr db = project->OpenProject(false);
        if (!db) app::RaiseError(91);
        if (!dataDef) {
            dataDef = std::make_shared<CDataDef>();
            dataDef->Load(db);
        }
        mFieldSlot.assign(dataDef->FieldCount(), -1);
        mSlots.clear();
        for (int16_t i = 0; i < dataDef->FieldCount(); ++i) {
            if (dataDef->MaxClass(i) >= 1) {
                mFieldSlot[i] = static_cast<int16_t>(mSlots.size());
                Slot slot;
                slot.field = i;
                slot.names.resize(dataDef->MaxClass(i));
                mSlots.push_back(std::move(slot));
            }
            if (dataDef->UserMatchType(i) == MatchType::Output) mOutputField = i;
        }
        for (Slot& slot : mSlots) {
            auto rs = db->OpenRecordset("DValues_" + std::to_string(slot.field), dao::RecordsetType::ForwardOnly);
            while (!rs->Eof()) {
                const int32_t valueNum = rs->Fields("ValueNum").AsLong();
                if (valueNum < 1 || valueNum > static_cast<int32_t>(slot.names.size())) app::RaiseError(9);
                com::Variant v = rs->Fields("DValues").Value();
                slot.names[valueNum - 1] = v.IsNull() ? std::string() : dao::VarToString(v);
                rs->MoveNext();
            }
            rs->Close();
            slot.order.resize(slot.names.size());
            for (size_t k = 0; k < slot.order.size(); ++k) slot.order[k] = static_cast<int16_t>(k);
            std::stable_sort(slot.order.begin(), slot.order.end(), [&](int16_t a, int16_t b) {
                return dao::CompareText(slot.names[a], slot.names[b]) < 0;
            });
        }
        mInitialized = true;
    });
}

const CClassNames::Slot* CClassNames::SlotOf(int16_t field) const {
    if (field < 0 || field >= static_cast<int16_t>(mFieldSlot.size())) app::RaiseError(9);
    const int16_t slot = mFieldSlot[field];
    return slot < 0 ? nullptr : &mSlots[slot];
}

std::string CClassNames::Class(int16_t field, int16_t index) const {
    if (!mInitialized) return {};
    try {
        const Slot* slot = SlotOf(field);
        if (!slot || index > static_cast<int16_t>(slot->names.size()) - 1) return {};
        if (index < 0) app::RaiseError(9);
        return slot->names[index];
    } catch (...) {
        // Shown; the class has no name.
        base::ShowCaught("CClassNames::Class");
    }
    return {};
}

int16_t CClassNames::ClassNumber(int16_t field, const std::string& name) const {
    if (!mInitialized) return -1;
    try {
        const Slot* slot = SlotOf(field);
        if (!slot) return -1;
        auto it = std::lower_bound(slot->order.begin(), slot->order.end(), name, [&](int16_t k, const std::string& n) {
            return dao::CompareText(slot->names[k], n) < 0;
        });
        if (it != slot->order.end() && dao::CompareText(slot->names[*it], name) == 0) return *it;
    } catch (...) {
        // Shown; the name is not found.
        base::ShowCaught("BinarySearchVariant");
    }
    return -1;
}
