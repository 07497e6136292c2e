// Table NodeData of the project file: one row holding the stored tree as long
// text (one Windows-1252 character per byte), the prune rate and the minimum
// items. Projects of earlier builds hold the tree in a binary column; their
// table is rewritten in the long-text form with its row kept.
#pragma once

#include <cstdint>
#include <string>

#include "MdbUtils.h"
#include "com/oleauto.h"

class CNodeData {
public:
    static constexpr const char* kCreate = "CREATE TABLE NodeData(NodeData LONGTEXT, PruneRate SINGLE, MinItems LONG);";

    struct Row {
        std::string blob;
        com::Variant pruneRate;
        com::Variant minItems;
    };

    // The first row; false when there is no table or no row.
    static bool Read(const DatabasePtr& db, Row* row);
    // Creates the table when missing and replaces (or adds) its first row.
    static void Write(const DatabasePtr& db, const std::string& blob, float pruneRate, int32_t minItems);
    // A binary tree column becomes the long-text one, the row kept, in one
    // transaction. True when the table was rewritten.
    static bool Upgrade(const DatabasePtr& db);

    static std::u16string ToText(const std::string& bytes);
    // Error 13 for a character that stands for no byte.
    static std::string FromText(const std::u16string& text);
};
