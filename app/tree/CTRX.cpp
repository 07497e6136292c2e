#include "CTRX.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "AppErrors.h"
#include "AppServices.h"
#include "CClassNames.h"
#include "CDataDef.h"
#include "CNodeData.h"
#include "COldTreeTables.h"
#include "CProject.h"
#include "CSplitRule.h"
#include "CTRXEngine.h"
#include "CTestResults.h"
#include "CDiagramCSV.h"
#include "CTreeDisplay.h"
#include "CTreeBlob.h"
#include "CTreeError.h"
#include "ErrorGuard.h"
#include "MUtilities.h"
#include "MdbUtils.h"
#include "ui/dialogs.h"

namespace {

constexpr int16_t kKindContinuous = 0;
constexpr int16_t kKindDiscrete = 2;
constexpr int16_t kKindClass = 3;
constexpr int32_t kBatch = 100;        // rows per AddData call
constexpr long kClassifyChunk = 1000;  // rows fetched at once while classifying

[[noreturn]] void NotSet() {
    throw CTreeError(treeerr::kObjectNotSet, "Object variable or With block variable not set");
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Null, Empty, or a text that is "?" after trimming: a missing value.
bool IsMissing(const VARIANT& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return true;
    if (v.vt == VT_BSTR) return Trim(dao::VarToString(v)) == "?";
    return false;
}

// The class numbers of one field's texts, remembered by the text as a row
// block holds it: a field repeats a few values on every row, and converting
// and searching each one again was most of a row's time.
class TextCodes {
public:
    static constexpr int16_t kMissingValue = -2;

    // kMissingValue for a value IsMissing calls missing, else
    // CClassNames::ClassNumber of its text (-1 when the field has no such value).
    int16_t Of(const CClassNames& names, int16_t field, const VARIANT& v) {
        if (v.vt == VT_NULL || v.vt == VT_EMPTY) return kMissingValue;
        if (v.vt != VT_BSTR) return names.ClassNumber(field, dao::VarToString(v));
        const std::u16string_view text(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
        const auto it = mCodes.find(text);
        if (it != mCodes.end()) return it->second;
        const std::string utf8 = dao::VarToString(v);
        const int16_t code = Trim(utf8) == "?" ? kMissingValue : names.ClassNumber(field, utf8);
        // A field of mostly distinct texts gains nothing here; its memory stays bounded.
        if (mCodes.size() < kMaxKept) mCodes.emplace(text, code);
        return code;
    }

private:
    static constexpr size_t kMaxKept = 1 << 16;
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
    };
    std::unordered_map<std::u16string, int16_t, Hash, std::equal_to<>> mCodes;
};

int16_t PercentOf(int64_t done, int64_t total) {
    // Rounded to nearest, halves to even, as the runtime rounds.
    return int16_t(std::nearbyint(double(done) * 100.0 / double(total)));
}

// The 2-D (field, row) array of a GetRows result: element access and row count.
struct RowBlock {
    const VARIANT* data = nullptr;
    long fields = 0;
    long rows = 0;
    SAFEARRAY* psa = nullptr;

    explicit RowBlock(const com::Variant& v) {
        if (!(v.vt & VT_ARRAY) || !v.parray) return;
        psa = v.parray;
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(psa, 1, &lo);
        SafeArrayGetUBound(psa, 1, &hi);
        fields = hi - lo + 1;
        SafeArrayGetLBound(psa, 2, &lo);
        SafeArrayGetUBound(psa, 2, &hi);
        rows = hi - lo + 1;
        void* p = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(psa, &p))) data = static_cast<const VARIANT*>(p);
        else rows = 0;
    }
    ~RowBlock() {
        if (data) SafeArrayUnaccessData(psa);
    }
    RowBlock(const RowBlock&) = delete;
    RowBlock& operator=(const RowBlock&) = delete;
    const VARIANT& At(long field, long row) const { return data[size_t(row) * size_t(fields) + size_t(field)]; }
};

int32_t ValLong(const std::string& text) { return int32_t(std::strtol(text.c_str(), nullptr, 10)); }

}  // namespace

CTRX::CTRX() = default;

CTRX::~CTRX() = default;

// ------------------------------------------------------------------ engine side

void CTRX::EngineProgress(int16_t percent, bool* cancel) {
    RaiseProgress(percent);
    Yield();
    // A cancel asked for while the message loop ran counts at once.
    if (mCanceled) *cancel = true;
}

void CTRX::RaiseProgress(int16_t percent) {
    if (OnProgress) OnProgress(percent);
}

void CTRX::Yield() {
    if (OnYield) OnYield();
    else if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void CTRX::RequireEngine() const {
    if (!mTRX) NotSet();
}

bool CTRX::Initialize(std::shared_ptr<CDataDef> dataDef, CProject* project) {
    if (!dataDef || !project) return false;
    return base::ShowErrors("CTRX::Initialize", [&] {
        mDDO = std::move(dataDef);
        mProject = project;
        mTRX.reset();  // the old engine and its connection go first
        if (mDDO->FieldCount() == 0)
            throw CTreeError(treeerr::kObjectNotSet,
                             "The project has no field definitions. Choose its data table and fields first.");
        mLoaded = false;
        auto engine = std::make_unique<CTRXEngine>([this](int16_t p, bool* c) { EngineProgress(p, c); });

        int16_t count = 0;
        for (int16_t i = 0; i < mDDO->FieldCount(); ++i) {
            const int16_t mt = mDDO->UserMatchType(i);
            if (mt != MatchType::NotUsed && mt != MatchType::Unusable) ++count;
        }
        engine->Initialize(count);

        mFieldMap.assign(size_t(count), 0);
        int16_t next = 0;
        int16_t output = -1;
        for (int16_t i = 0; i < mDDO->FieldCount(); ++i) {
            const int16_t mt = mDDO->UserMatchType(i);
            if (mt == MatchType::NotUsed || mt == MatchType::Unusable) continue;
            if (mt == MatchType::Output) {
                if (output < 0) output = i;
                continue;
            }
            if (next < count) mFieldMap[size_t(next++)] = i;
        }
        if (output >= 0 && count > 0) mFieldMap[size_t(count - 1)] = output;
        mTRX = std::move(engine);

        if (!mCN) {
            auto names = std::make_unique<CClassNames>();
            names->Initialize(mProject, mDDO);
            mCN = std::move(names);
        }
        return true;
    });
}

float CTRX::PruneRate() const {
    RequireEngine();
    return mTRX->PruneRate();
}

void CTRX::SetPruneRate(float rate) {
    RequireEngine();
    mTRX->SetPruneRate(rate);
}

int32_t CTRX::MinItems() const {
    RequireEngine();
    return mTRX->MinItems();
}

void CTRX::SetMinItems(int32_t items) {
    RequireEngine();
    mTRX->SetMinItems(items);
}

int32_t CTRX::LoadCount() const {
    RequireEngine();
    return mTRX->RowCount();
}

int16_t CTRX::OutputField() const {
    for (int16_t i = 0; i < mDDO->FieldCount(); ++i)
        if (mDDO->UserMatchType(i) == MatchType::Output) return i;
    return -1;
}

std::string CTRX::KeyName() const {
    const int16_t key = mDDO->PrimaryKeyField();
    if (key < 0 || key >= mDDO->FieldCount()) return {};
    return mDDO->FieldName(key);
}

std::string CTRX::OrderByKey() const {
    const std::string key = KeyName();
    return key.empty() ? std::string() : " ORDER BY " + MdbUtils::BracketName(key);
}

com::Variant CTRX::StoreKeyRange(const std::string& lowName, const std::string& highName, int32_t low, int32_t high) {
    const std::string key = KeyName();
    if (key.empty()) return {};
    com::Variant first, last;
    {
        DatabasePtr db = mProject->OpenProject(false);
        if (!db) NotSet();
        RecordsetPtr rs = db->OpenRecordset(
            "SELECT " + MdbUtils::BracketName(key) + " FROM LinkDataSource" + OrderByKey() + ";",
            dao::RecordsetType::ForwardOnly);
        if (low > 1 && !rs->Eof()) rs->Move(low - 1);
        if (!rs->Eof()) first = rs->Fields(0).Value();
        if (high > low && !rs->Eof()) rs->Move(high - low);
        if (!rs->Eof()) last = rs->Fields(0).Value();
        rs->Close();
    }
    // Written after the reading cursor is gone: the settings go through their own connection.
    // A failure ends the step that needs them, with its own box.
    if (!first.IsEmpty()) mProject->StoreConfig(lowName, first);
    if (!last.IsEmpty()) mProject->StoreConfig(highName, last);
    return first;
}

bool CTRX::LoadData(int32_t trainLow, int32_t trainHigh) {
    return base::ShowErrors("CTRX::LoadData", [&] {
        if (!mTRX) NotSet();
        mCanceled = false;
        if (mLoaded && trainLow == mRangeMin && trainHigh == mRangeMax) return true;
        // Rows of another range, or of a load that did not finish, must not mix
        // with the new ones: start from an empty engine.
        if (mLoaded || mTRX->RowCount() > 0) {
            if (!Initialize(mDDO, mProject)) return false;
        }
        if (trainLow < 1 || trainHigh < trainLow)
            throw CTreeError(5, "Invalid procedure call or argument");
        mRangeMin = trainLow;
        mRangeMax = trainHigh;
        LoadRows(trainLow, trainHigh);
        return mLoaded;
    });
}

// The engine's numbers for the rows of a training block, in field-map order
// (the output last). A value that is not among its field's classes is told
// once per field and load, not once per row.
class CTRX::TrainingRows {
public:
    TrainingRows(const CDataDef& dataDef, const CClassNames& names, const std::vector<int16_t>& fieldMap,
                 std::vector<int16_t> kinds)
        : mDDO(dataDef), mCN(names), mFieldMap(fieldMap), mKinds(std::move(kinds)), mCodes(mKinds.size()),
          mWarned(mKinds.size(), 0) {}

    // Writes row r of the block to out; false for a row the engine does not
    // get, its output missing or not among the output's classes.
    bool Code(const RowBlock& block, long r, float* out) {
        const int16_t fields = int16_t(mKinds.size());
        for (int16_t k = 0; k < fields; ++k) {
            const VARIANT& v = block.At(k, r);
            const int16_t f = mFieldMap[size_t(k)];
            const bool boolean = mDDO.FieldType(f) == dao::dbBoolean;
            switch (mKinds[size_t(k)]) {
            case kKindContinuous:
                out[k] = IsMissing(v) ? CSplitRule::kMissing : CSplitRule::EngineValue(dao::VarToDouble(v));
                break;
            case kKindDiscrete:
                out[k] = Category(k, f, boolean, v);
                break;
            default:  // the output
                if (!OutputClass(k, f, boolean, v, &out[k])) return false;
                break;
            }
        }
        return true;
    }

private:
    // An input's class number from 1, or the engine's missing value.
    float Category(int16_t k, int16_t f, bool boolean, const VARIANT& v) {
        if (boolean) return IsMissing(v) ? CSplitRule::kMissing : dao::VarToBool(v) ? 1.0f : 2.0f;
        const int16_t idx = mCodes[size_t(k)].Of(mCN, f, v);
        if (idx == TextCodes::kMissingValue) return CSplitRule::kMissing;
        if (idx < 0) {
            BadName(k, "Input");
            return CSplitRule::kMissing;
        }
        return float(idx + 1);
    }

    // The output's class number from 0; false when the row has none.
    bool OutputClass(int16_t k, int16_t f, bool boolean, const VARIANT& v, float* out) {
        if (boolean) {
            if (IsMissing(v)) return false;
            *out = dao::VarToBool(v) ? 0.0f : 1.0f;
            return true;
        }
        const int16_t idx = mCodes[size_t(k)].Of(mCN, f, v);
        if (idx == TextCodes::kMissingValue) return false;
        if (idx < 0) {
            BadName(k, "Output");
            return false;
        }
        *out = float(idx);
        return true;
    }

    void BadName(int16_t k, const char* what) {
        if (mWarned[size_t(k)]) return;
        mWarned[size_t(k)] = 1;
        ui::MsgBox(QStringLiteral("BAD CLASS NAME (%1 Field #%2)").arg(what).arg(mFieldMap[size_t(k)]),
                   ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("TRX Load Data"));
    }

    const CDataDef& mDDO;
    const CClassNames& mCN;
    const std::vector<int16_t>& mFieldMap;
    std::vector<int16_t> mKinds;
    std::vector<TextCodes> mCodes;
    std::vector<char> mWarned;
};

void CTRX::LoadRows(int32_t trainLow, int32_t trainHigh) {
    StoreKeyRange("TrainKeyMin", "TrainKeyMax", trainLow, trainHigh);
    const int16_t output = OutputField();
    if (output < 0 || mFieldMap.empty()) return;

    const int16_t fields = int16_t(mFieldMap.size());
    std::vector<int16_t> kinds;
    const std::string sql = DeclareTrainingFields(&kinds);
    const int32_t rows = trainHigh - trainLow + 1;
    const int32_t batch = rows < kBatch ? rows : kBatch;
    TrainingRows coder(*mDDO, *mCN, mFieldMap, std::move(kinds));

    DatabasePtr db = mProject->OpenProject(false);
    if (!db) NotSet();
    RecordsetPtr rs = db->OpenRecordset(sql, dao::RecordsetType::ForwardOnly);
    if (trainLow > 1 && !rs->Eof()) rs->Move(trainLow - 1);

    std::vector<float> buffer(size_t(fields) * size_t(batch));
    int32_t processed = 0;
    int16_t shown = 0;
    while (!rs->Eof() && trainLow + processed <= trainHigh) {
        int32_t want = batch;
        if (trainLow + processed + want > trainHigh + 1) want = trainHigh + 1 - trainLow - processed;
        const com::Variant got = rs->GetRows(want);
        RowBlock block(got);
        if (block.rows <= 0) break;
        if (block.fields != fields) throw CTreeError(treeerr::kTypeMismatch, "Type mismatch");

        long kept = 0;
        for (long r = 0; r < block.rows; ++r)
            if (coder.Code(block, r, buffer.data() + size_t(kept) * size_t(fields))) ++kept;
        // A batch in which every row was dropped is not sent: the engine refuses empty arrays.
        if (kept > 0) SendRows(buffer, fields, kept);

        processed += int32_t(block.rows);
        const int16_t percent = PercentOf(processed, rows);
        if (percent != shown) {
            shown = percent;
            Yield();
            RaiseProgress(percent);
            if (mCanceled) return;
        }
        if (block.rows < want) break;
    }
    rs->Close();
    mLoaded = true;
}

std::string CTRX::DeclareTrainingFields(std::vector<int16_t>* kinds) {
    const int16_t fields = int16_t(mFieldMap.size());
    const int16_t last = int16_t(fields - 1);
    kinds->assign(size_t(fields), 0);
    std::string sql = "SELECT ";
    for (int16_t k = 0; k < fields; ++k) {
        const int16_t f = mFieldMap[size_t(k)];
        sql += MdbUtils::BracketName(mDDO->FieldName(f));
        sql += k == last ? " FROM LinkDataSource" : ", ";
        int16_t& kind = (*kinds)[size_t(k)];
        if (k == last) kind = kKindClass;
        else if (mDDO->UserMatchType(f) == MatchType::Text) kind = kKindDiscrete;
        else kind = kKindContinuous;
        mTRX->SetFieldType(k, kind);
        if (kind == kKindDiscrete) mTRX->SetMaxClass(k, mDDO->MaxClass(f));
    }
    return sql + OrderByKey() + ";";
}

void CTRX::SendRows(const std::vector<float>& buffer, int16_t fields, long kept) {
    const SAFEARRAYBOUND bounds[2] = {{ULONG(fields), 0}, {ULONG(kept), 0}};
    SAFEARRAY* psa = SafeArrayCreate(VT_R4, 2, bounds);
    if (!psa) throw CTreeError(7, "Out of memory");
    void* p = nullptr;
    SafeArrayAccessData(psa, &p);
    std::copy(buffer.begin(), buffer.begin() + long(kept) * fields, static_cast<float*>(p));
    SafeArrayUnaccessData(psa);
    try {
        mTRX->AddData(psa);
    } catch (...) {
        // The array is freed on every way out.
        SafeArrayDestroy(psa);
        throw;
    }
    SafeArrayDestroy(psa);
}

bool CTRX::BuildTree() {
    try {
        mHasTree = false;
        mCanceled = false;
        RequireEngine();
        RaiseProgress(0);
        CTreeModel tree;
        const bool built = mTRX->BuildTree(&tree);
        if (mCanceled || !built) return false;
        RaiseProgress(100);
        mTree = std::move(tree);
        mItems = mTree.Node(0).Items;
        mMissFits = mTree.Node(0).Errors;
        mHasTree = true;
        return true;
    } catch (const CTreeError& e) {
        mHasTree = false;
        if (CTRXEngine::IsTooManyNodes(e.what())) {
            ui::MsgBox(QStringLiteral("Tree exceeds maximum (32000) nodes.  Try increasing the prune rate."),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Too Many Rules"));
        } else if (e.Number() == E_OUTOFMEMORY) {
            // The engine refuses a build past its memory budget, with memory free or not.
            ui::MsgBox(QStringLiteral("Building this tree needs more memory than the engine may take.  Build it from "
                                      "fewer rows, or leave out input fields with many values, or choose an output "
                                      "field with fewer classes."),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Not Enough Memory"));
        } else if (e.Number() == E_INVALIDARG) {
            // BuildTree's only range error: the engine's memory limit is set to something unreadable.
            const char* set = std::getenv("TESSARY_ENGINE_MEMORY_MB");
            ui::MsgBox(QStringLiteral("TESSARY_ENGINE_MEMORY_MB is set to \"%1\", which is not a size in megabytes.  "
                                      "Set it to a whole number such as 512 (or 512MB), or remove it.")
                           .arg(QString::fromLocal8Bit(set ? set : "")),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Engine Memory Limit"));
        } else {
            base::ShowCaught("CTRX::BuildTree");
        }
        return false;
    } catch (...) {
        // No tree stands after a failed build.
        mHasTree = false;
        base::ShowCaught("CTRX::BuildTree");
        return false;
    }
}

// ------------------------------------------------------------------ tree model and persistence

int32_t CTRX::WholeCount(float count) {
    const double r = std::nearbyint(double(count));
    if (std::isnan(r)) return 0;
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return int32_t(r);
}

int32_t CTRX::Items() const { return mHasTree ? WholeCount(mItems) : 0; }

int32_t CTRX::MissFits() const { return mHasTree ? WholeCount(mMissFits) : 0; }

void CTRX::TestPIdx() {
    app::Screen().SetMousePointer(app::vbHourglass);
    if (!mTree.Empty()) {
        CTreeModel copy = mTree;
        mTree.Assign(std::vector<TRXNode>(copy.AllNodes()), copy.Slots(), std::vector<int16_t>(copy.AllChildren()));
    }
    app::Screen().SetMousePointer(app::vbDefault);
}

void CTRX::SaveTree(CProject* project) {
    if (!project || !mHasTree) NotSet();
    RequireEngine();
    const float rate = mTRX->PruneRate();
    const int32_t items = mTRX->MinItems();
    const std::string blob = CTreeBlob::Pack(mTree);

    DatabasePtr db = project->OpenProject(false);
    if (!db) NotSet();
    CNodeData::Write(db, blob, rate, items);
}

void CTRX::LoadTree(CProject* project) {
    if (!project) NotSet();
    DatabasePtr db = project->OpenProject(false);
    if (!db) NotSet();
    // A tree column of an earlier build (binary) becomes long text first.
    CNodeData::Upgrade(db);
    CNodeData::Row row;
    if (!CNodeData::Read(db, &row)) return;
    CTreeModel tree;
    if (CTreeBlob::Unpack(row.blob, &tree) != CTreeBlob::Result::Loaded) return;
    RequireEngine();
    CheckStoredTree(tree);
    if (!row.pruneRate.IsNull() && !row.pruneRate.IsEmpty()) mTRX->SetPruneRate(dao::VarToSingle(row.pruneRate));
    if (!row.minItems.IsNull() && !row.minItems.IsEmpty()) mTRX->SetMinItems(dao::VarToLong(row.minItems));

    TakeTree(std::move(tree), project);
}

void CTRX::TakeTree(CTreeModel tree, CProject* project) {
    mTree = std::move(tree);
    mItems = mTree.Node(0).Items;
    mMissFits = mTree.Node(0).Errors;
    mHasTree = true;
    mRangeMin = ValLong(project->GetConfig("LastTrainLow", "0"));
    mRangeMax = ValLong(project->GetConfig("LastTrainHigh", "0"));
}

void CTRX::OldSaveTree(CProject* project) {
    if (!project || !mHasTree) NotSet();
    DatabasePtr db = project->OpenProject(false);
    if (!db) NotSet();
    COldTreeTables::Save(db, mTree);
}

void CTRX::OldLoadTree(CProject* project) {
    if (!project) NotSet();
    DatabasePtr db = project->OpenProject(false);
    if (!db) NotSet();
    CTreeModel tree;
    if (!COldTreeTables::Load(db, &tree)) return;
    CheckStoredTree(tree);
    TakeTree(std::move(tree), project);
}

// A stored tree must fit the fields it is used with: every test on an input
// field of the map, of the kind that field is compared by, a categorical branch
// among its classes, and every class among the output's. A tree that does not
// would send rows nowhere or to a class that does not exist.
void CTRX::CheckStoredTree(const CTreeModel& tree) const {
    auto damaged = [](int32_t n, const std::string& why) {
        throw CTreeError(treeerr::kTypeMismatch, "The stored tree in NodeData is damaged: node " +
                                                         std::to_string(n) + " " + why + ".");
    };
    auto classes = [this](int16_t f) -> int32_t {
        return mDDO->FieldType(f) == dao::dbBoolean ? 2 : mDDO->MaxClass(f);
    };
    const int32_t inputs = int32_t(mFieldMap.size()) - 1;
    const int16_t output = OutputField();
    const int32_t outputClasses = output >= 0 ? classes(output) : 0;
    for (int32_t n = 0; n < tree.Nodes(); ++n) {
        const TRXNode& t = tree.Node(n);
        if (t.Class < 0 || (outputClasses > 0 && t.Class >= outputClasses))
            damaged(n, "predicts class " + std::to_string(t.Class) + ", which the output field does not have");
        if (n == 0) continue;
        if (t.FieldNum < 0 || t.FieldNum >= inputs)
            damaged(n, "tests field " + std::to_string(t.FieldNum) + ", which is not an input field");
        const int16_t f = mFieldMap[size_t(t.FieldNum)];
        const bool categorical = mDDO->UserMatchType(f) == MatchType::Text;
        if (t.NodeType == 1) {
            if (!categorical) damaged(n, "tests a numeric field by its classes");
            if (t.DisClass < 1 || t.DisClass > classes(f))
                damaged(n, "follows class " + std::to_string(t.DisClass) + ", which its field does not have");
        } else if (t.NodeType == 2) {
            if (categorical) damaged(n, "tests a categorical field by a threshold");
            // A cut that is no number would compare false with every value and be written into SQL as is.
            if (std::isnan(t.Cut)) damaged(n, "has a threshold that is not a number");
            if (std::isinf(t.Cut)) damaged(n, std::string("has an infinite threshold (") + (t.Cut < 0 ? "-" : "+") + "inf)");
        } else {
            damaged(n, "has the unknown test kind " + std::to_string(t.NodeType));
        }
    }
}

// ------------------------------------------------------------------ classification and prediction

int16_t CTRX::PredictRow(const std::vector<com::Variant>& row) {
    mLastPredictNode = -1;
    if (!mHasTree || row.size() != mFieldMap.size()) return -1;
    int32_t n = 0;
    for (;;) {
        const TRXNode& node = mTree.Node(n);
        if (node.Forks == 0) {
            mLastPredictNode = n;
            return node.Class;
        }
        const TRXNode& first = mTree.Node(mTree.Child(n, 0));
        if (first.FieldNum < 0 || size_t(first.FieldNum) >= row.size()) return -1;
        const com::Variant& v = row[size_t(first.FieldNum)];
        if (v.IsNull() || v.IsEmpty()) return -1;
        int branch;
        if (first.NodeType == 1) {
            // A value beyond the node's branches has no branch to follow.
            const double value = dao::VarToDouble(v);
            if (!(value >= 1.0 && value <= double(node.Forks)) || value != std::floor(value)) return -1;
            branch = int(value) - 1;
        } else if (first.NodeType == 2) {
            if (node.Forks < 2) return -1;
            branch = CSplitRule::GoesFirst(dao::VarToDouble(v), first.Cut) ? 0 : 1;
        } else {
            return -1;
        }
        // Children always follow their parent, so the walk ends.
        n = mTree.Child(n, branch);
    }
}

int16_t CTRX::SingleNormalClassify(const std::vector<com::Variant>& row) {
    const int16_t c = PredictRow(row);
    return c < 0 ? int16_t(-1) : c;
}

float CTRX::SingleNormalConfidence(int32_t node) const { return mTree.Confidence(node); }

// A classified row's inputs as PredictRow takes them, and its actual class.
// What each field needs is looked up once per run, not once per row.
class CTRX::RowInputs {
public:
    RowInputs(const CDataDef& dataDef, const std::vector<int16_t>& fieldMap, int16_t output)
        : mRow(fieldMap.size()), mOutputField(output) {
        for (const int16_t f : fieldMap) {
            mMatchTypes.push_back(dataDef.UserMatchType(f));
            mBooleans.push_back(dataDef.FieldType(f) == dao::dbBoolean);
        }
        mCodes.resize(fieldMap.size());
        mOutputBoolean = dataDef.FieldType(output) == dao::dbBoolean;
    }

    // Fills Row() from row r of the block, whose column 0 is the key. False at a
    // value not among its categorical field's classes: the run ends there.
    bool Read(const CClassNames& names, const std::vector<int16_t>& fieldMap, const RowBlock& block, long r) {
        for (size_t k = 0; k < fieldMap.size(); ++k) {
            const int16_t f = fieldMap[k];
            const VARIANT& v = block.At(long(k) + 1, r);
            com::Variant& slot = mRow[k];
            if (mMatchTypes[k] == MatchType::Text && !mBooleans[k]) {
                const int16_t idx = mCodes[k].Of(names, f, v);
                if (idx == TextCodes::kMissingValue) {
                    slot = com::Variant::Null();
                } else {
                    slot = com::Variant::I2(int16_t(idx + 1));
                    if (idx < 0) return false;  // this row is not written
                }
            } else if (IsMissing(v)) {
                slot = com::Variant::Null();
            } else if (mMatchTypes[k] == MatchType::Text) {
                // The coding training used: True is value 1, anything else 2.
                slot = com::Variant::I2(dao::VarToBool(v) ? 1 : 2);
            } else if (mMatchTypes[k] == MatchType::Output) {
                slot = com::Variant::Null();  // never read
            } else {
                slot = com::Variant(v);
            }
        }
        return true;
    }

    // The output's class number of row r (from 1), -1 when it is missing.
    int16_t Actual(const CClassNames& names, const RowBlock& block, long outCol, long r) {
        const VARIANT& ov = block.At(outCol, r);
        if (mOutputBoolean) return IsMissing(ov) ? -1 : dao::VarToBool(ov) ? 1 : 2;
        const int16_t idx = mOutputCodes.Of(names, mOutputField, ov);
        return idx == TextCodes::kMissingValue ? -1 : int16_t(idx + 1);
    }

    const std::vector<com::Variant>& Row() const { return mRow; }

private:
    std::vector<com::Variant> mRow;
    std::vector<int16_t> mMatchTypes;
    std::vector<char> mBooleans;
    std::vector<TextCodes> mCodes;
    TextCodes mOutputCodes;
    int16_t mOutputField;
    bool mOutputBoolean = false;
};

bool CTRX::Classify(int32_t testLow, int32_t testHigh) {
    mCanceled = false;
    if (!mHasTree || !mDDO || !mProject || !mCN) NotSet();
    if (testLow < 1 || testHigh < testLow) throw CTreeError(5, "Invalid procedure call or argument");
    int16_t output = OutputField();
    if (output < 0) output = 0;
    const std::string key = KeyName();
    if (key.empty())
        throw CTreeError(treeerr::kNoKeyField,
                         "The linked table has no single primary-key field to match Test rows by.");
    const int16_t keyField = mDDO->PrimaryKeyField();
    const bool textKey = MdbUtils::IsTextType(mDDO->FieldType(keyField));
    const int64_t rows = int64_t(testHigh) - testLow + 1;

    PrepareTestTable();
    const com::Variant firstKey = StoreKeyRange("TestKeyMin", "TestKeyMax", testLow, testHigh);
    // The rows before the first test row are passed over by its key instead
    // of being read: the key is unique and the rows come in its order (Nulls
    // first). Whole-number keys only, which compare the same in any collation.
    const bool fromKey = testLow > 1 && (firstKey.vt == VT_I2 || firstKey.vt == VT_I4 || firstKey.vt == VT_UI1);
    long outCol = 0;
    const std::string sql = ClassifySelect(key, output, fromKey ? &firstKey : nullptr, &outCol);

    DatabasePtr db = mProject->OpenProject(false);
    if (!db) NotSet();
    RecordsetPtr rs = db->OpenRecordset(sql, dao::RecordsetType::ForwardOnly);
    if (testLow > 1 && !fromKey && !rs->Eof()) rs->Move(testLow - 1);

    RowInputs inputs(*mDDO, mFieldMap, output);
    CTestResults results(db, key, textKey);
    results.Begin();
    try {
        const RunEnd end = ClassifyRows(*rs, inputs, results, rows, outCol);
        if (end == RunEnd::Canceled) {
            rs->Close();
            return true;
        }
        results.Commit();
        if (end == RunEnd::BadClassName) {
            rs->Close();
            ui::MsgBox(QStringLiteral("BAD CLASS NAME"), ui::Buttons::OK, ui::Icon::Critical,
                       QStringLiteral("TRX Load Data (Classify)"));
            return false;
        }
    } catch (...) {
        // The rows counted so far keep their new values; the failing one is not written.
        base::RecordErrors("CTRX::Classify", [&] {
            results.Commit();
        });
        throw;
    }
    rs->Close();
    return true;
}

void CTRX::PrepareTestTable() {
    DatabasePtr db = mProject->OpenProject(false);
    if (!db) NotSet();
    if (!MdbUtils::TableExists(db, "Test")) MdbUtils::CreateTestTable(*mProject, *mDDO);
    else MdbUtils::AddMissingTestRows(*mProject, *mDDO);
}

std::string CTRX::ClassifySelect(const std::string& key, int16_t output, const com::Variant* fromKey,
                                 long* outCol) const {
    // Columns: the key, the engine fields in map order (the output last), and
    // the output again only when the map does not end with it.
    std::string sql = "SELECT " + MdbUtils::BracketName(key);
    for (int16_t f : mFieldMap) sql += ", " + MdbUtils::BracketName(mDDO->FieldName(f));
    *outCol = long(mFieldMap.size());
    if (mFieldMap.empty() || mFieldMap.back() != output) {
        sql += ", " + MdbUtils::BracketName(mDDO->FieldName(output));
        *outCol = long(mFieldMap.size()) + 1;
    }
    sql += " FROM LinkDataSource";
    if (fromKey) sql += " WHERE " + MdbUtils::BracketName(key) + " >= " + CSplitRule::Number(dao::VarToDouble(*fromKey));
    return sql + OrderByKey() + ";";
}

CTRX::RunEnd CTRX::ClassifyRows(dao::Recordset& rs, RowInputs& inputs, CTestResults& results, int64_t rows,
                                long outCol) {
    int64_t done = 0;
    int16_t shown = 0;
    while (!rs.Eof() && done < rows) {
        const long want = long(std::min<int64_t>(rows - done, kClassifyChunk));
        const com::Variant got = rs.GetRows(want);
        RowBlock block(got);
        if (block.rows <= 0) break;
        for (long r = 0; r < block.rows && done < rows; ++r) {
            if (!inputs.Read(*mCN, mFieldMap, block, r)) return RunEnd::BadClassName;
            int16_t predicted = int16_t(PredictRow(inputs.Row()) + 1);
            if (predicted <= 0) predicted = -1;
            const int16_t actual = inputs.Actual(*mCN, block, outCol, r);
            results.Add(predicted, actual, block.At(0, r));
            ++done;
            if (!StepClassified(done, rows, &shown, results)) return RunEnd::Canceled;
        }
        if (block.rows < want) break;
    }
    return RunEnd::Done;
}

bool CTRX::StepClassified(int64_t done, int64_t rows, int16_t* shown, CTestResults& results) {
    int16_t percent = PercentOf(done, rows);
    if (percent == 100 && done < rows) percent = *shown;  // 99.5 % rounds up; 100 means all stored
    if (percent == *shown) return true;
    *shown = percent;
    results.Commit();
    RaiseProgress(percent);
    if (mCanceled) return false;
    results.Begin();
    return true;
}

std::string CTRX::ConditionOf(int32_t n) const {
    const TRXNode& t = mTree.Node(n);
    if (t.FieldNum < 0 || size_t(t.FieldNum) >= mFieldMap.size())
        throw CTreeError(treeerr::kSubscript, "Subscript out of range");
    const int16_t f = mFieldMap[size_t(t.FieldNum)];
    const std::string field = MdbUtils::BracketName(mDDO->FieldName(f));
    const int16_t type = mDDO->FieldType(f);
    if (t.NodeType == 1) {
        if (type == dao::dbBoolean) return "(" + field + (t.DisClass == 1 ? " <> 0)" : " = 0)");
        const std::string name = mCN ? mCN->Class(f, int16_t(t.DisClass - 1)) : std::string();
        if (MdbUtils::IsNumericType(type)) {
            char* end = nullptr;
            const double value = std::strtod(name.c_str(), &end);
            // A class that does not read as a number matches by its text, as loading matched it.
            if (name.empty() || (end && *end)) return "(CStr(" + field + ") = " + MdbUtils::SqlText(name) + ")";
            return "(" + field + " = " + CSplitRule::Number(value) + ")";
        }
        return "(" + field + " = " + MdbUtils::SqlText(name) + ")";
    }
    // The cut as it reads, unless a stored value lies between it and the exact
    // bound: such a row would land on the other side than in the engine.
    const double bound = CSplitRule::Bound(t.Cut);
    std::string text = CSplitRule::CutText(t.Cut);
    double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(t.Cut) || (value != bound && RowsBetween(field, value, bound))) {
        value = bound;
        text = CSplitRule::Number(bound);
    }
    if (MdbUtils::IsDateType(type)) text = "CVDate('" + text + "')";
    return CSplitRule::ThresholdClause(field, text, value, t.Cut, mTree.ParentSlot(n) == 0,
                                       MdbUtils::IsTextType(type));
}

bool CTRX::RowsBetween(const std::string& field, double low, double high) const {
    DatabasePtr db = mProject ? mProject->OpenProject(false) : nullptr;
    if (!db) NotSet();
    RecordsetPtr rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE " + field + " > " +
                                            CSplitRule::Number(low) + " AND " + field +
                                            " <= " + CSplitRule::Number(high) + ";",
                                        dao::RecordsetType::Snapshot);
    const bool any = !rs->Eof() && rs->Fields(0).AsLong() > 0;
    rs->Close();
    return any;
}

std::string CTRX::GetSQLLogic(int32_t node) const {
    if (!mHasTree || !mDDO) NotSet();
    mTree.Node(node);
    std::string text;
    for (int32_t n = node; n != 0; n = mTree.Parent(n)) {
        if (!text.empty()) text += " AND ";
        text += ConditionOf(n);
    }
    return text;
}

bool CTRX::IsFieldInTree(const std::string& fieldName) const {
    return base::RecordErrors("CTRX::IsFieldInTree", [&] {
        if (!mHasTree || !mDDO) return false;
        int16_t field = -1;
        for (int16_t i = 0; i < mDDO->FieldCount(); ++i)
            if (mDDO->FieldName(i) == fieldName) {
                field = i;
                break;
            }
        if (field < 0) return false;
        for (int32_t n = 1; n < mTree.Nodes(); ++n) {
            const int16_t fn = mTree.Node(n).FieldNum;
            if (fn >= 0 && size_t(fn) < mFieldMap.size() && mFieldMap[size_t(fn)] == field) return true;
        }
        return false;
    });
}

// ------------------------------------------------------------------ display and export

bool CTRX::BuildTree(ITreeView* treeView, ITreeDisplayTarget* graph) {
    if (!BuildTree()) return false;
    if (treeView)
        CTreeDisplay(CurrentTree(), Fields()).DisplayTree(*treeView);
    else if (graph)
        CTreeDisplay(CurrentTree(), Fields()).DisplayGraph(*graph);
    return true;
}

void CTRX::Display(ITreeDisplayTarget& panel) const { CTreeDisplay(CurrentTree(), Fields()).Display(panel); }

void CTRX::SetContrast(ITreeDisplayTarget& panel, int16_t colorMode, int16_t contrast) const {
    CTreeDisplay(CurrentTree(), Fields()).SetContrast(panel, colorMode, contrast);
}

std::string CTRX::GetClassName(int32_t node) const { return CTreeDisplay(CurrentTree(), Fields()).GetClassName(node); }

std::string CTRX::NodeToolTip(int32_t node, int16_t colorMode) const {
    return CTreeDisplay(CurrentTree(), Fields()).NodeToolTip(node, colorMode);
}

bool CTRX::Export2CSV(const std::string& fileName, const CSafeFile::Check& mayWrite) const {
    return base::ShowErrors("CTRX::Export2CSV", [&] {
        return CDiagramCSV(CurrentTree(), Fields()).Write(fileName, mayWrite);
    });
}
