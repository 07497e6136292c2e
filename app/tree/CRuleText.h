// The texts of the rules: the test on the edge into a node, the output field's
// name and a node's class, as the rule tree, the flow chart and the diagram
// export show them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "CTreeFields.h"

class CTreeModel;

class CRuleText {
public:
    CRuleText(const CTreeModel& tree, CTreeFields fields) : mTree(tree), mFields(fields) {}

    // "Field = value", "Field <= 2.5", "Field > 01/05/2024 12:00:00", or the
    // field name alone for another kind of test. A categorical value without a
    // name shows as "InputClass#" and its 0-based index. Raises error 9 for a
    // node whose field is not among the engine's fields.
    std::string EdgeText(int32_t node) const;
    // Name of the output field (the last engine field).
    std::string OutputName() const;
    // Value text of the node's predicted class in the output field; "" when it has none.
    std::string ClassText(int32_t node) const;
    // A whole percentage, halves away from zero (the runtime's "0" pattern).
    static std::string WholeNumber(float value);

private:
    int16_t DataField(int16_t engineField) const;

    const CTreeModel& mTree;
    CTreeFields mFields;
};
