// The older way of storing the tree: table TreeNodes (one row per node, the
// eight node values) and table TreeLinks (one row per node, one 32-bit column
// L0, L1 ... per branch slot). Written only on request; read back by the
// older loader for projects that hold their tree only in this form.
#pragma once

#include "CTreeModel.h"
#include "MdbUtils.h"

class COldTreeTables {
public:
    // Drops and re-creates both tables and writes every node.
    static void Save(const DatabasePtr& db, const CTreeModel& tree);
    // False (tree untouched) when either table is missing or empty; throws
    // CTreeError 13 when the tables do not hold a well-formed tree.
    static bool Load(const DatabasePtr& db, CTreeModel* tree);
};
