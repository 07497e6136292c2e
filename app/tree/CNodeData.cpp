#include "CNodeData.h"

#include "CTreeError.h"
#include "MUtilities.h"

namespace {

std::string VariantBytes(const VARIANT& v) {
    if (v.vt == (VT_ARRAY | VT_UI1) && v.parray) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(v.parray, 1, &lo);
        SafeArrayGetUBound(v.parray, 1, &hi);
        void* p = nullptr;
        if (hi < lo || FAILED(SafeArrayAccessData(v.parray, &p))) return {};
        std::string out(static_cast<const char*>(p), size_t(hi - lo + 1));
        SafeArrayUnaccessData(v.parray);
        return out;
    }
    if (v.vt == VT_BSTR) return CNodeData::FromText(dao::VarToU16(v));
    return {};
}

void PutRow(const DatabasePtr& db, const com::Variant& tree, const com::Variant& rate, const com::Variant& items) {
    RecordsetPtr rs = db->OpenRecordset("NodeData", dao::RecordsetType::Dynaset);
    if (!rs->Eof()) {
        rs->MoveFirst();
        rs->Edit();
    } else {
        rs->AddNew();
    }
    rs->Fields("NodeData").SetValue(tree);
    rs->Fields("PruneRate").SetValue(rate);
    rs->Fields("MinItems").SetValue(items);
    rs->Update();
    rs->Close();
}

}  // namespace

std::u16string CNodeData::ToText(const std::string& bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (char c : bytes) text.push_back(MUtilities::Cp1252ToUnicode(uint8_t(c)));
    return text;
}

std::string CNodeData::FromText(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        int b = MUtilities::Cp1252FromUnicode(c);
        if (b < 0 && c <= 0xFF) b = int(c);
        if (b < 0)
            throw CTreeError(treeerr::kTypeMismatch,
                             "The stored tree in NodeData is damaged: it holds a character that is not a byte.");
        out.push_back(char(b));
    }
    return out;
}

bool CNodeData::Read(const DatabasePtr& db, Row* row) {
    if (!MdbUtils::TableExists(db, "NodeData")) return false;
    RecordsetPtr rs = db->OpenRecordset("NodeData", dao::RecordsetType::Dynaset);
    if (rs->Eof()) return false;
    rs->MoveFirst();
    row->blob = VariantBytes(rs->Fields("NodeData").Value());
    row->pruneRate = rs->Fields("PruneRate").Value();
    row->minItems = rs->Fields("MinItems").Value();
    rs->Close();
    return true;
}

void CNodeData::Write(const DatabasePtr& db, const std::string& blob, float pruneRate, int32_t minItems) {
    Upgrade(db);
    if (!MdbUtils::TableExists(db, "NodeData")) db->Execute(kCreate);
    PutRow(db, com::Variant::Str(ToText(blob)), com::Variant::R4(pruneRate), com::Variant::I4(minItems));
}

bool CNodeData::Upgrade(const DatabasePtr& db) {
    if (!MdbUtils::TableExists(db, "NodeData")) return false;
    if (db->TableDefs().Item("NodeData").Fields().Item("NodeData").Type() != dao::dbLongBinary) return false;
    Row row;
    const bool had = Read(db, &row);
    dao::Transaction upgraded(*db);
    db->Execute("DROP TABLE NodeData;");
    db->Execute(kCreate);
    if (had) {
        // Nulls stay Null; the settings go back exactly as they were stored.
        PutRow(db, com::Variant::Str(ToText(row.blob)), row.pruneRate, row.minItems);
    }
    upgraded.Commit();
    db->TableDefs().Refresh();
    return true;
}
