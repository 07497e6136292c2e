#include "COldTreeTables.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "CTreeError.h"

namespace {

[[noreturn]] void Damaged(const std::string& why) {
    throw CTreeError(treeerr::kTypeMismatch, "The stored tree in TreeNodes and TreeLinks is damaged: " + why + ".");
}

long Whole(const dao::Field& f, long low, long high) {
    const com::Variant v = f.Value();
    if (v.IsNull() || v.IsEmpty()) Damaged("a value is missing");
    const double d = dao::VarToDouble(v);
    if (!(d >= double(low) && d <= double(high)) || d != double(long(d))) Damaged("a value is out of range");
    return long(d);
}

// A node's threshold or count: stored as a double, it may be infinite or lie
// beyond what a single holds.
float Single(const dao::Field& f, size_t node, const char* what) {
    const com::Variant v = f.Value();
    if (v.IsNull() || v.IsEmpty()) Damaged("a value is missing");
    const double d = dao::VarToDouble(v);
    if (!(std::fabs(d) <= FLT_MAX)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", d);
        Damaged("node " + std::to_string(node) + " has the " + what + " " + text + ", which a single cannot hold");
    }
    return float(d);
}

}  // namespace

void COldTreeTables::Save(const DatabasePtr& db, const CTreeModel& tree) {
    for (const char* table : {"TreeNodes", "TreeLinks"})
        if (MdbUtils::TableExists(db, table)) db->Execute(std::string("DROP TABLE ") + table + ";");
    db->Execute("CREATE TABLE TreeNodes (NodeNum LONG CONSTRAINT PrimaryKey PRIMARY KEY, NodeType SHORT, Forks SHORT, "
                "FieldNum SHORT, Cut SINGLE, DisClass SHORT, [Class] SHORT, Items SINGLE, Errors SINGLE);");
    std::string links = "CREATE TABLE TreeLinks (NodeNum LONG CONSTRAINT PrimaryKey PRIMARY KEY";
    for (int b = 0; b < tree.Slots(); ++b) links += ", L" + std::to_string(b) + " LONG";
    db->Execute(links + ");");
    db->TableDefs().Refresh();

    dao::Transaction written(*db);
    RecordsetPtr nodes = db->OpenRecordset("TreeNodes", dao::RecordsetType::Dynaset);
    RecordsetPtr kids = db->OpenRecordset("TreeLinks", dao::RecordsetType::Dynaset);
    for (int32_t n = 0; n < tree.Nodes(); ++n) {
        const TRXNode& t = tree.Node(n);
        nodes->AddNew();
        nodes->Fields(0).SetValue(com::Variant::I4(n));
        nodes->Fields(1).SetValue(com::Variant::I2(t.NodeType));
        nodes->Fields(2).SetValue(com::Variant::I2(t.Forks));
        nodes->Fields(3).SetValue(com::Variant::I2(t.FieldNum));
        nodes->Fields(4).SetValue(com::Variant::R4(t.Cut));
        nodes->Fields(5).SetValue(com::Variant::I2(t.DisClass));
        nodes->Fields(6).SetValue(com::Variant::I2(t.Class));
        nodes->Fields(7).SetValue(com::Variant::R4(t.Items));
        nodes->Fields(8).SetValue(com::Variant::R4(t.Errors));
        nodes->Update();
        kids->AddNew();
        kids->Fields(0).SetValue(com::Variant::I4(n));
        for (int b = 0; b < tree.Slots(); ++b) kids->Fields(b + 1).SetValue(com::Variant::I4(tree.Child(n, b)));
        kids->Update();
    }
    nodes->Close();
    kids->Close();
    written.Commit();
}

bool COldTreeTables::Load(const DatabasePtr& db, CTreeModel* tree) {
    if (!MdbUtils::TableExists(db, "TreeNodes") || !MdbUtils::TableExists(db, "TreeLinks")) return false;
    std::vector<TRXNode> nodes;
    {
        RecordsetPtr rs = db->OpenRecordset("SELECT * FROM TreeNodes ORDER BY NodeNum;", dao::RecordsetType::Snapshot);
        if (rs->Fields().Count() < 9) Damaged("TreeNodes has too few columns");
        for (; !rs->Eof(); rs->MoveNext()) {
            if (nodes.size() >= size_t(CTreeModel::kMaxNodes)) Damaged("it has too many nodes");
            if (Whole(rs->Fields(0), 0, CTreeModel::kMaxNodes) != long(nodes.size())) Damaged("a node number is missing");
            TRXNode t;
            t.NodeType = int16_t(Whole(rs->Fields(1), -32768, 32767));
            t.Forks = int16_t(Whole(rs->Fields(2), 0, 32767));
            t.FieldNum = int16_t(Whole(rs->Fields(3), -32768, 32767));
            t.Cut = Single(rs->Fields(4), nodes.size(), "threshold");
            t.DisClass = int16_t(Whole(rs->Fields(5), -32768, 32767));
            t.Class = int16_t(Whole(rs->Fields(6), -32768, 32767));
            t.Items = Single(rs->Fields(7), nodes.size(), "item count");
            t.Errors = Single(rs->Fields(8), nodes.size(), "error count");
            if (const std::string fault = CTreeModel::CountsFault(t); !fault.empty())
                Damaged("node " + std::to_string(nodes.size()) + " " + fault);
            nodes.push_back(t);
        }
        rs->Close();
    }
    if (nodes.empty()) return false;

    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM TreeLinks ORDER BY NodeNum;", dao::RecordsetType::Snapshot);
    const int stored = rs->Fields().Count() - 1;
    const int slots = stored > 0 ? stored : 1;
    std::vector<int16_t> children(nodes.size() * size_t(slots), 0);
    size_t n = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++n) {
        if (n >= nodes.size() || Whole(rs->Fields(0), 0, CTreeModel::kMaxNodes) != long(n))
            Damaged("TreeLinks does not match TreeNodes");
        if (nodes[n].Forks > stored) Damaged("node " + std::to_string(n) + " has more branches than links");
        for (int b = 0; b < nodes[n].Forks; ++b)
            children[n * size_t(slots) + size_t(b)] = int16_t(Whole(rs->Fields(b + 1), 0, CTreeModel::kMaxNodes));
    }
    rs->Close();
    if (n != nodes.size()) Damaged("TreeLinks does not match TreeNodes");

    CTreeModel loaded;
    try {
        loaded.Assign(std::move(nodes), slots, std::move(children));
    } catch (const CTreeError& e) {
        Damaged(e.what());
    }
    *tree = std::move(loaded);
    return true;
}
