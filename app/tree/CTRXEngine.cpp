#include "CTRXEngine.h"

#include <cstdio>

#include "CTreeError.h"
#include "CTreeModel.h"

#include "trx/ITRXTree.h"

namespace {

std::string HexOf(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", unsigned(hr));
    return buf;
}
}  // namespace

bool CTRXEngine::IsTooManyNodes(const std::string& description) {
    return description.rfind("BuildTree: Tree size exceeds", 0) == 0;
}

CTRXEngine::CTRXEngine(CTRXEventSink::Handler progress) {
    void* p = nullptr;
    const HRESULT hr = com::CreateInstance(kProgId, IID_ITRXTree, &p);
    if (FAILED(hr) || !p)
        throw CTreeError(429, "ActiveX component can't create object (" + std::string(kProgId) + ", error " +
                                  HexOf(hr) + ").");
    mTree.Attach(static_cast<ITRXTree*>(p));
    mSink = CTRXEventSink::Create(std::move(progress));
    const HRESULT adv = com::Advise(mTree.Get(), DIID_ITRXEvents, static_cast<IDispatch*>(mSink.Get()), &mCookie);
    if (FAILED(adv)) {
        mSink->Detach();
        throw CTreeError(adv, "The engine's Progress event cannot be connected (error " + HexOf(adv) + ").");
    }
}

CTRXEngine::~CTRXEngine() {
    if (mSink) mSink->Detach();
    if (mTree && mCookie) com::Unadvise(mTree.Get(), DIID_ITRXEvents, mCookie);
}

void CTRXEngine::Check(HRESULT hr, const char* member) {
    if (SUCCEEDED(hr)) return;
    std::string description;
    if (!com::TakeErrorInfo(mTree.Get(), IID_ITRXTree, &description) || description.empty()) {
        if (hr == E_INVALIDARG) description = "Invalid procedure call or argument";
        else if (hr == E_OUTOFMEMORY) description = "Out of memory";
        else description = "Automation error";
        description += " (ITRXTree::" + std::string(member) + ", error " + HexOf(hr) + ")";
    }
    throw CTreeError(hr, description);
}

void CTRXEngine::Initialize(int16_t fieldCount) { Check(mTree->Initialize(fieldCount), "Initialize"); }

int16_t CTRXEngine::FieldType(int16_t field) {
    SHORT v = 0;
    Check(mTree->get_FieldType(field, &v), "FieldType");
    return v;
}

void CTRXEngine::SetFieldType(int16_t field, int16_t kind) { Check(mTree->put_FieldType(field, kind), "FieldType"); }

void CTRXEngine::SetMaxClass(int16_t field, int16_t count) { Check(mTree->put_MaxClass(field, count), "MaxClass"); }

void CTRXEngine::AddData(SAFEARRAY* rows) {
    SAFEARRAY* p = rows;
    Check(mTree->AddData(&p), "AddData");
}

bool CTRXEngine::BuildTree(CTreeModel* tree) {
    SAFEARRAY* nodes = nullptr;
    SAFEARRAY* children = nullptr;
    const HRESULT hr = mTree->BuildTree(&nodes, &children);
    struct Free {
        SAFEARRAY*& a;
        SAFEARRAY*& b;
        ~Free() {
            if (a) SafeArrayDestroy(a);
            if (b) SafeArrayDestroy(b);
        }
    } free{nodes, children};
    Check(hr, "BuildTree");
    if (!nodes) return false;  // a cancelled build hands back nothing
    tree->AssignFromEngine(nodes, children);
    return true;
}

float CTRXEngine::PruneRate() {
    FLOAT v = 0;
    Check(mTree->get_PruneRate(&v), "PruneRate");
    return v;
}

void CTRXEngine::SetPruneRate(float rate) { Check(mTree->put_PruneRate(rate), "PruneRate"); }

int32_t CTRXEngine::MinItems() {
    LONG v = 0;
    Check(mTree->get_MinItems(&v), "MinItems");
    return v;
}

void CTRXEngine::SetMinItems(int32_t items) { Check(mTree->put_MinItems(items), "MinItems"); }

int32_t CTRXEngine::RowCount() {
    LONG v = 0;
    Check(mTree->get_RowCount(&v), "RowCount");
    return v;
}
