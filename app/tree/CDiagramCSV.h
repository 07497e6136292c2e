// The tree as a diagram CSV file for a diagramming program's CSV import: three
// header lines, one shape line per node (children before their parent, leaves
// 1.26 apart from x = 1, each inner node over the mean of its children, one
// level 0.8 below the other from y = 10), then one link line per edge.
//
// The file is Windows-1252 with CR LF line ends; numbers always use "." as the
// decimal separator. A label holding a comma, a double quote or a line break is
// quoted (quotes doubled) so that it stays one field; other labels are written
// as they are.
#pragma once

#include <cstdint>
#include <string>

#include "CSafeFile.h"
#include "CTreeFields.h"

class CTreeModel;

class CDiagramCSV {
public:
    // tree: null when there is none, which Text and Write refuse.
    CDiagramCSV(const CTreeModel* tree, CTreeFields fields) : mTree(tree), mFields(fields) {}

    // The whole file as bytes.
    std::string Text();
    // Writes the file through CSafeFile: a failure leaves any old file as it
    // was, and a link of that name is replaced, not followed. False when check
    // refused the target; failures raise the program's numbered errors.
    bool Write(const std::string& path, const CSafeFile::Check& check = nullptr);

private:
    void PlaceSubtree(std::string& out, int32_t node, float* x);
    float WriteShape(std::string& out, int32_t node, float x);
    std::string Label(int32_t node) const;

    const CTreeModel* mTree;
    CTreeFields mFields;
    int32_t mDepth = 0;
    int32_t mLeaves = 0;
};
