// The marked rows both export writers share: the query, the prediction column's
// name and the prediction value of each row.
#pragma once

#include "MdbUtils.h"
#include "com/oleauto.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CClassNames;
struct ExportContext;

class CMarkedRows {
public:
    // Scope -1: the marked rows of the current browse view; 0: of the whole table.
    // Reads the key and output fields, the test-range bounds and the class names.
    CMarkedRows(const ExportContext& ctx, int16_t scope);
    ~CMarkedRows();

    // SELECT Test.Predicted, LinkDataSource.* ... in key order.
    const std::string& Sql() const { return mSql; }
    // The first of "Predicted", "Predicted1", "Predicted2" ... that no data
    // column bears, compared as the database compares names.
    static std::string PredictionName(const std::vector<std::string>& dataColumns);
    // The class name of a row inside the test range, else "N/A". A row in the
    // range without a prediction (class number below 1) gets "N/A" too.
    std::string Prediction(const VARIANT& predicted, const VARIANT& key) const;
    // The leading number of a text as the runtime reads it ("12ab" -> 12, "x" -> 0).
    static double LeadingNumber(const std::string& text);
    const std::string& KeyName() const { return mKeyName; }
    int16_t OutputField() const { return mOutput; }
    CClassNames& ClassNames() const { return *mNames; }

private:
    enum class KeyKind { Number, Date, Text };
    bool InRange(const VARIANT& key) const;

    std::string mSql;
    std::string mKeyName;
    int16_t mOutput = -1;
    KeyKind mKind = KeyKind::Text;
    std::string mLowText, mHighText;
    double mLow = 0, mHigh = 0;
    std::unique_ptr<CClassNames> mNames;
};
