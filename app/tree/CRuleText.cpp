#include "CRuleText.h"

#include <cmath>

#include "CClassNames.h"
#include "CDataDef.h"
#include "CTreeModel.h"
#include "CTreeError.h"

namespace {

bool IsDateType(int16_t type) { return type == dao::dbDate || type == dao::dbTime || type == dao::dbTimeStamp; }

// A class text, "" for an index the table cannot have.
std::string ClassOf(const CClassNames* names, int16_t field, int32_t index) {
    if (!names || index < 0 || index > INT16_MAX) return {};
    return names->Class(field, int16_t(index));
}

}  // namespace

int16_t CRuleText::DataField(int16_t engineField) const {
    const auto map = mFields.fieldMap;
    if (engineField < 0 || size_t(engineField) >= map.size() || !mFields.dataDef)
        throw CTreeError(treeerr::kSubscript, "Subscript out of range");
    const int16_t f = map[size_t(engineField)];
    if (f < 0 || f >= mFields.dataDef->FieldCount()) throw CTreeError(treeerr::kSubscript, "Subscript out of range");
    return f;
}

std::string CRuleText::EdgeText(int32_t node) const {
    const TRXNode& t = mTree.Node(node);
    const int16_t f = DataField(t.FieldNum);
    std::string text = mFields.dataDef->FieldName(f);
    if (t.NodeType == 1) {
        const std::string value = ClassOf(mFields.classNames, f, t.DisClass - 1);
        text += " = ";
        text += value.empty() ? "InputClass#" + std::to_string(t.DisClass - 1) : value;
    } else if (t.NodeType == 2) {
        text += t.DisClass == 1 ? " <= " : " > ";
        const com::Variant cut =
            IsDateType(mFields.dataDef->FieldType(f)) ? com::Variant::Date(double(t.Cut)) : com::Variant::R4(t.Cut);
        text += cut.ToUtf8();
    }
    return text;
}

std::string CRuleText::OutputName() const {
    const auto map = mFields.fieldMap;
    if (map.empty()) return {};
    return mFields.dataDef->FieldName(DataField(int16_t(map.size() - 1)));
}

std::string CRuleText::ClassText(int32_t node) const {
    const auto map = mFields.fieldMap;
    if (map.empty()) return {};
    return ClassOf(mFields.classNames, map.back(), mTree.Node(node).Class);
}

std::string CRuleText::WholeNumber(float value) {
    const double r = value < 0 ? -std::floor(-double(value) + 0.5) : std::floor(double(value) + 0.5);
    return std::to_string(static_cast<long long>(r));
}
