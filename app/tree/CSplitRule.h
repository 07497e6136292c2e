// One rule for every place that decides a threshold branch: the engine learns
// from 4-byte floats, so loading, prediction and the SQL condition all compare
// the value as the float the engine saw. The SQL side writes the cut as it
// is, or the exact double bound between the branches where the stored values
// need it; always in a locale-free form.
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

    // The cut as the shortest text that reads back as the same 4-byte float.
    static std::string CutText(float cut);

    // "([f] <= v)" or "([f] > v)" for the threshold branch, value the number
    // valueText stands for. A term is added only where the bare comparison
    // would select other rows than the engine's test: a real -999 on the other
    // side of a cut just below it, and "?" (missing) in a text column.
    static std::string ThresholdClause(const std::string& field, const std::string& valueText, double value,
                                       float cut, bool first, bool textColumn);
};
