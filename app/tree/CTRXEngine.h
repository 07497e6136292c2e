// The engine object as the driver uses it: created by ProgID through the
// component runtime (never linked), its Progress event heard through a
// connection point. Every failed call throws CTreeError carrying the engine's
// own description when it gave one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CTRXEventSink.h"
#include "com/server.h"

struct ITRXTree;
class CTreeModel;

class CTRXEngine {
public:
    static constexpr const char* kProgId = "TRXTree.TRXTree";
    // Number reported for the engine's own errors: the HRESULT it returned,
    // as the runtime reports a failed call.
    static bool IsTooManyNodes(const std::string& description);

    // Creates the engine and connects `progress` to its events.
    explicit CTRXEngine(CTRXEventSink::Handler progress);
    ~CTRXEngine();
    CTRXEngine(const CTRXEngine&) = delete;
    CTRXEngine& operator=(const CTRXEngine&) = delete;

    void Initialize(int16_t fieldCount);
    int16_t FieldType(int16_t field);
    void SetFieldType(int16_t field, int16_t kind);
    void SetMaxClass(int16_t field, int16_t count);
    // rows: 2-D array of 4-byte floats (field, row).
    void AddData(SAFEARRAY* rows);
    // False when the engine returned without arrays (a cancelled build).
    bool BuildTree(CTreeModel* tree);
    float PruneRate();
    void SetPruneRate(float rate);
    int32_t MinItems();
    void SetMinItems(int32_t items);
    int32_t RowCount();

private:
    void Check(HRESULT hr, const char* member);

    com::ComPtr<ITRXTree> mTree;
    com::ComPtr<CTRXEventSink> mSink;
    DWORD mCookie = 0;
};
