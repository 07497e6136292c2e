// What the rule-tree display needs of a tree view: nodes added under a parent
// by key, one expanded and selected node. The panels host a CRuleTreeWidget;
// tests may hand in their own.
#pragma once

#include <string>

class ITreeView {
public:
    virtual ~ITreeView() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual void Clear() = 0;
    // An empty parentKey adds a top-level node. Texts are UTF-8.
    virtual void Add(const std::string& parentKey, const std::string& key, const std::string& text) = 0;
    virtual void Expand(const std::string& key) = 0;
    virtual void Select(const std::string& key) = 0;
    virtual void Refresh() = 0;
};
