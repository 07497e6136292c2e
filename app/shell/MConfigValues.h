// Config texts as numbers, the way the workflow steps read them.
#pragma once

#include <cstdint>
#include <string>

namespace MConfigValues {

// A whole number held in 32 bits, halves to the even neighbour; error 13 for
// text that is no number, 6 for one outside the range.
int32_t Long(const std::string& text);
// A single-precision value; error 13 for text that is no number.
float Single(const std::string& text);
// A number, 0 for text that is none.
double Number(const std::string& text);
// The Config property of the open project as one of the above.
int32_t ConfigLong(const std::string& property, const std::string& defaultValue);
float ConfigSingle(const std::string& property, const std::string& defaultValue);
double ConfigNumber(const std::string& property, const std::string& defaultValue);

}  // namespace MConfigValues
