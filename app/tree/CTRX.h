// The rule tree and the engine object that builds it. CTRX maps the field
// definitions to engine fields, loads training rows of the linked table into
// the engine, builds the tree, keeps it (CTreeModel), stores it in NodeData and
// reads it back, classifies test rows into Test, predicts single rows and
// turns a node into an SQL condition on LinkDataSource.
//
// Row numbers (training and test ranges) count from 1 in the order of the
// table's key field; every query here that walks rows by position uses that
// one order, so a range names the same rows wherever it is used.
//
// One instance per open project, on the UI thread. The CProject given to
// Initialize is the shell's and must outlive this object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CSafeFile.h"
#include "CTreeFields.h"
#include "CTreeModel.h"
#include "com/oleauto.h"

class CDataDef;
class CProject;
class CClassNames;
class CTRXEngine;
class CTestResults;
class ITreeDisplayTarget;
class ITreeView;
namespace dao {
class Recordset;
}

class CTRX {
public:
    CTRX();
    ~CTRX();
    CTRX(const CTRX&) = delete;
    CTRX& operator=(const CTRX&) = delete;

    // ---- engine driver and data loading
    // A new, empty engine object and the field map. False after showing the
    // error box (engine not registered, fewer than 2 fields ...).
    bool Initialize(std::shared_ptr<CDataDef> dataDef, CProject* project);
    // Loads rows trainLow..trainHigh (from 1) in batches of 100. False when it
    // did not finish (cancelled, or an error that was shown).
    bool LoadData(int32_t trainLow, int32_t trainHigh);
    // Builds the tree from the loaded rows. False when no tree came back
    // (cancelled, too many nodes, or an error that was shown).
    bool BuildTree();
    float PruneRate() const;
    void SetPruneRate(float rate);
    int32_t MinItems() const;
    void SetMinItems(int32_t items);
    int32_t LoadCount() const;
    void Cancel() { mCanceled = true; }
    bool Canceled() const { return mCanceled; }

    // Event Progress(percent 0..100), raised by LoadData, BuildTree and Classify.
    // The handler may call Cancel.
    std::function<void(int16_t percent)> OnProgress;
    // Lets the message loop run once while a long operation is in hand; by
    // default the application's event loop when there is one.
    std::function<void()> OnYield;

    // ---- tree model and persistence (errors reach the caller)
    // The older form, tables TreeNodes and TreeLinks: written only on request;
    // the loader reads a tree kept that way (silently nothing without them).
    void OldSaveTree(CProject* project);
    void OldLoadTree(CProject* project);
    void SaveTree(CProject* project);
    void LoadTree(CProject* project);
    int32_t Items() const;
    int32_t MissFits() const;
    // A weighted count as a whole number (halves to even), held to the 32-bit
    // range; 0 for no number.
    static int32_t WholeCount(float count);
    int32_t Nodes() const { return mHasTree ? mTree.Nodes() : 0; }
    float LocalItems(int32_t node) const { return mTree.Node(node).Items; }
    int32_t RangeMin() const { return mRangeMin; }
    int32_t RangeMax() const { return mRangeMax; }
    int16_t LeafCount() const { return mHasTree ? mTree.LeafCount() : 0; }
    void TestPIdx();
    const CTreeModel& Tree() const { return mTree; }

    // ---- classification and prediction
    // A prediction row has one entry per engine field in field-map order: a
    // number, a class number for a categorical field, Null for missing. The
    // result is the leaf's class (class number - 1) or -1 for no prediction.
    int16_t PredictRow(const std::vector<com::Variant>& row);
    int16_t SingleNormalClassify(const std::vector<com::Variant>& row);
    int32_t LastPredictNode() const { return mLastPredictNode; }
    float SingleNormalConfidence(int32_t node) const;
    bool HasTree() const { return mHasTree; }
    // Classifies rows testLow..testHigh into Test (Predicted, Actual),
    // committing at every progress step; data rows that Test lacks are added
    // to it first. What is done stays written on cancel, error or crash. A
    // value not among a categorical input's classes shows "BAD CLASS NAME" and
    // ends the run with false; other errors reach the caller.
    bool Classify(int32_t testLow, int32_t testHigh);
    // SQL condition (Jet syntax, locale-free) selecting the rows of
    // LinkDataSource that reach the node; "" for the root.
    std::string GetSQLLogic(int32_t node) const;
    bool IsFieldInTree(const std::string& fieldName) const;

    // ---- rule text and flow-chart display (CTreeDisplay)
    // BuildTree, then fills the rule-tree view when one is given, else the
    // panel's flow chart when a panel is given.
    bool BuildTree(ITreeView* treeView, ITreeDisplayTarget* graph);
    // Fills the view the panel shows now (rule text or flow chart).
    void Display(ITreeDisplayTarget& panel) const;
    // Colours the flow chart: mode 0 quantity, 1 confidence, 2 class; contrast 0..100.
    void SetContrast(ITreeDisplayTarget& panel, int16_t colorMode, int16_t contrast) const;
    std::string GetClassName(int32_t node) const;
    std::string NodeToolTip(int32_t node, int16_t colorMode) const;

    // ---- diagram export (CDiagramCSV)
    // Writes the tree as a diagram CSV file. False after showing the error box
    // titled "CTRX::Export2CSV", or when mayWrite refused the file when it was
    // to take its place; an old file of that name is then left as it was.
    bool Export2CSV(const std::string& fileName, const CSafeFile::Check& mayWrite = nullptr) const;

    // ---- what the display and export code read
    const std::vector<int16_t>& FieldMap() const { return mFieldMap; }
    CClassNames* ClassNames() const { return mCN.get(); }
    // The tree held now; null when there is none (a failed build keeps the old
    // model in Tree() but holds no tree).
    const CTreeModel* CurrentTree() const { return mHasTree ? &mTree : nullptr; }
    CTreeFields Fields() const { return {mDDO.get(), mFieldMap, mCN.get()}; }

private:
    void EngineProgress(int16_t percent, bool* cancel);
    void RaiseProgress(int16_t percent);
    void Yield();
    void RequireEngine() const;
    void TakeTree(CTreeModel tree, CProject* project);
    void LoadRows(int32_t trainLow, int32_t trainHigh);
    class TrainingRows;
    // Tells the engine how each field is compared and returns the SELECT that
    // reads the fields in map order; kinds gets each field's kind.
    std::string DeclareTrainingFields(std::vector<int16_t>* kinds);
    // Hands the first kept rows of the buffer to the engine.
    void SendRows(const std::vector<float>& buffer, int16_t fields, long kept);

    // Returns the key of row low (Empty when there is none).
    com::Variant StoreKeyRange(const std::string& lowName, const std::string& highName, int32_t low, int32_t high);
    int16_t OutputField() const;
    std::string KeyName() const;
    std::string OrderByKey() const;
    std::string ConditionOf(int32_t node) const;
    bool RowsBetween(const std::string& field, double low, double high) const;  // low < value <= high
    void CheckStoredTree(const CTreeModel& tree) const;

    // Classify's steps. How a run over the test rows ended: every row done,
    // cancelled at a progress step, or stopped at a value that is no class.
    enum class RunEnd { Done, Canceled, BadClassName };
    class RowInputs;
    // Adds the data rows Test lacks, making Test first when there is none.
    void PrepareTestTable();
    // The key, the engine fields and the output; from the row of key *fromKey
    // on when given. *outCol is the column that holds the output.
    std::string ClassifySelect(const std::string& key, int16_t output, const com::Variant* fromKey,
                               long* outCol) const;
    RunEnd ClassifyRows(dao::Recordset& rs, RowInputs& inputs, CTestResults& results, int64_t rows, long outCol);
    // Counts a row done; at each new percent commits the results and raises
    // Progress. False when that cancelled the run.
    bool StepClassified(int64_t done, int64_t rows, int16_t* shown, CTestResults& results);

    std::shared_ptr<CDataDef> mDDO;
    CProject* mProject = nullptr;
    std::unique_ptr<CTRXEngine> mTRX;
    std::unique_ptr<CClassNames> mCN;
    std::vector<int16_t> mFieldMap;  // engine field -> data field, output last

    CTreeModel mTree;
    bool mHasTree = false;
    float mItems = 0;
    float mMissFits = 0;
    int32_t mRangeMin = 0;
    int32_t mRangeMax = 0;
    bool mLoaded = false;
    bool mCanceled = false;
    int32_t mLastPredictNode = -1;
};
