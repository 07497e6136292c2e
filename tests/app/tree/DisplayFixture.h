// Trees for the display and export tests: a panel with a real rule-tree view
// and graph control, the fruit data set, and hand-made trees put into a
// driver through the stored-tree path.
#pragma once

#include <QApplication>
#include <functional>

#include "CRuleTreeWidget.h"
#include "CTRX.h"
#include "CTreeBlob.h"
#include "ITreeDisplayTarget.h"
#include "TreeFixture.h"
#include "nodars/Nodars32.h"

namespace treetest {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tree_display";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// The panel as the tree-graph panel will be: a rule-tree view and a graph control.
class Panel : public ITreeDisplayTarget {
public:
    Panel() {
        App();
        host.resize(800, 600);
        HRESULT hr = com::CreateInstance(nodars::kProgId, IID_IDispatch, graph.PutVoid());
        if (FAILED(hr)) throw com::Error(hr, "no graph control");
        graph.As(nodars::IID_IControlHosting, &hosting);
        hosting->SetParentWidget(&host);
        hosting->SetBounds(0, 0, 800, 600);
        tree = new CRuleTreeWidget(&host);
        tree->setGeometry(0, 0, 800, 600);
        host.show();
    }
    ~Panel() override {
        hosting.Reset();
        graph.Reset();
    }
    int16_t TreeType() const override { return type; }
    ITreeView* TreeView() override { return tree; }
    IDispatch* GraphControl() override { return graph.Get(); }
    void SetGraphVisible(bool v) override {
        graphVisible = v;
        hosting->Widget()->setVisible(v);
    }

    // Lines of the rule tree, indented two spaces per level, in view order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
            out.push_back(std::string(size_t(depth) * 2, ' ') + item->text(0).toStdString());
            for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
        };
        for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
        return out;
    }
    int32_t Int(DISPID id, int ix = -1) {
        com::Variant v;
        std::vector<VARIANT> index;
        if (ix >= 0) index.push_back(com::Variant::I2(int16_t(ix)));
        EXPECT_EQ(com::PropertyGet(graph.Get(), id, &v, index), S_OK);
        return v.ToI4();
    }
    std::string Item(int ix) {
        com::Variant v;
        EXPECT_EQ(com::PropertyGet(graph.Get(), nodars::dispidList, &v, {com::Variant::I2(int16_t(ix))}), S_OK);
        return v.ToUtf8();
    }
    uint32_t Fill(int ix) { return uint32_t(Int(nodars::dispidItemFillColor, ix)); }
    uint32_t TextColour(int ix) { return uint32_t(Int(nodars::dispidItemTextColor, ix)); }

    QWidget host;
    com::ComPtr<IDispatch> graph;
    com::ComPtr<nodars::IControlHosting> hosting;
    CRuleTreeWidget* tree = nullptr;
    int16_t type = 1;
    bool graphVisible = false;
};

inline const std::vector<Column>& FruitColumns() {
    static const std::vector<Column> cols = {
        {"Size", "REAL", MatchType::Numeric},
        {"Colour", "TEXT", MatchType::Text},
        {"Kind", "TEXT", MatchType::Output},
    };
    return cols;
}

// 52 rows. Red fruit are apples. Green ones up to size 5 are limes, one in four
// a melon; above 5 they are melons, except that every size-8 one is a lime.
inline std::vector<std::vector<Cell>> FruitRows() {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 20; ++i) rows.push_back({Cell::D(1 + i % 10), Cell::T("red"), Cell::T("apple")});
    for (int i = 0; i < 16; ++i)
        rows.push_back({Cell::D(1 + i % 5), Cell::T("green"), Cell::T(i % 4 == 3 ? "melon" : "lime")});
    for (int i = 0; i < 16; ++i)
        rows.push_back({Cell::D(6 + i % 5), Cell::T("green"), Cell::T(i % 5 == 2 ? "lime" : "melon")});
    return rows;
}

inline std::unique_ptr<CTRX> Built(GeneratedProject& p, float pruneRate, int32_t rows) {
    auto trx = std::make_unique<CTRX>();
    EXPECT_TRUE(trx->Initialize(p.dataDef, &p.project));
    EXPECT_TRUE(trx->LoadData(1, rows));
    trx->SetPruneRate(pruneRate);
    trx->SetMinItems(2);
    EXPECT_TRUE(trx->BuildTree());
    return trx;
}

// A driver over the project holding the given tree (by way of NodeData).
inline std::unique_ptr<CTRX> Holding(GeneratedProject& p, std::vector<TRXNode> nodes, int slotCount,
                                     std::vector<int16_t> children, int32_t rows) {
    {
        auto first = Built(p, 0, rows);
        first->SaveTree(&p.project);
    }
    CTreeModel model;
    model.Assign(std::move(nodes), slotCount, std::move(children));
    p.SetNodeDataBytes(CTreeBlob::Pack(model));
    auto trx = std::make_unique<CTRX>();
    EXPECT_TRUE(trx->Initialize(p.dataDef, &p.project));
    trx->LoadTree(&p.project);
    EXPECT_TRUE(trx->HasTree());
    return trx;
}

}  // namespace treetest
