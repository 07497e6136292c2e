// One rule for every place that decides a threshold branch: the engine learns
// from 4-byte floats, so loading, prediction and the SQL condition all compare
// the value as the float the engine saw. The SQL side gets the exact double
// bound that separates the two branches, written in a locale-free form.
#pragma once

#include <string>

class CSplitRule {
public:
    // The engine's missing value; a real value of -999 is sent one step
    // below it (bit pattern C479C002) so that it is not taken as missing.
    static constexpr float kMissing = -999.0f;
    static float EngineValue(double value);

    // True when a value takes the first branch (value <= cut) of a threshold.
    static bool GoesFirst(double value, float cut);
    // The largest double whose 4-byte float is <= cut: value <= Bound(cut)
    // exactly when the float of value is <= cut.
    static double Bound(float cut);

    // Number as SQL text: shortest form that reads back exactly, '.' always.
    static std::string Number(double value);
    // Text literal in single quotes, quotes inside doubled.
    static std::string Quote(const std::string& text);

    // "([f] <= b)" or "([f] > b AND ...)" for the threshold branch; the second
    // branch also leaves out a "?" text, which is a missing value elsewhere.
    static std::string ThresholdClause(const std::string& field, float cut, bool first);
};
