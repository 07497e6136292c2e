// Class numbers of the categorical fields and their value texts, read from the
// project's DValues_ tables. Speaks in class indexes: ValueNum - 1, from 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDataDef;
class CProject;

class CClassNames {
public:
    // Fills the tables once; a second call, or one without a project, does
    // nothing. Without field definitions, loads them from the project and hands
    // them back through dataDef.
    void Initialize(CProject* project, std::shared_ptr<CDataDef>& dataDef);

    // The number of the output field (-1 when there is none).
    int16_t OutputClass() const { return mOutputField; }
    // The value text of class index Index of Field; "" when the field has no
    // classes or Index is beyond its last class. A negative Index is reported.
    std::string Class(int16_t field, int16_t index) const;
    // The class index of the value text Name, compared as the database compares
    // text (letter case ignored); -1 when Field has no such value.
    int16_t ClassNumber(int16_t field, const std::string& name) const;

private:
    struct Slot {
        int16_t field = 0;
        std::vector<std::string> names;  // by class index
        // Class indexes in the database's text order, for the search. Kept
        // apart from the numbering so that a table numbered in another order
        // still finds every value.
        std::vector<int16_t> order;
    };
    const Slot* SlotOf(int16_t field) const;

    bool mInitialized = false;
    int16_t mOutputField = -1;
    std::vector<int16_t> mFieldSlot;  // per field: its slot, -1 without classes
    std::vector<Slot> mSlots;
};
