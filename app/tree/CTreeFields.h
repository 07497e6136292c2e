// What the rule texts, the tree display and the diagram export read besides the
// tree itself: the field definitions, the engine's field map (engine field ->
// data field, output last) and the class names. The driver lends them for one
// call; nothing here keeps them.
#pragma once

#include <cstdint>
#include <span>

class CClassNames;
class CDataDef;

struct CTreeFields {
    const CDataDef* dataDef = nullptr;
    std::span<const int16_t> fieldMap;
    const CClassNames* classNames = nullptr;
};
