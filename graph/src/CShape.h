// One entry of the shape table.
#pragma once

#include <cstdint>
#include <string>

namespace nodars {

class CShape {
public:
    CShape(uint16_t flags, std::u16string name) : Flags(flags), Name(std::move(name)) {}

    uint16_t Flags;  // 1 for every built-in shape
    std::u16string Name;
};

}  // namespace nodars
