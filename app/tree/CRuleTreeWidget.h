// The rule-tree view the tree-graph panel hosts: a tree widget whose nodes
// carry the keys the display gives them ("N" and the node number).
#pragma once

#include <QHash>
#include <QTreeWidget>

#include "ITreeView.h"

class CRuleTreeWidget : public QTreeWidget, public ITreeView {
    Q_OBJECT
public:
    explicit CRuleTreeWidget(QWidget* parent = nullptr);

    void SetVisible(bool visible) override;
    void Clear() override;
    void Add(const std::string& parentKey, const std::string& key, const std::string& text) override;
    void Expand(const std::string& key) override;
    void Select(const std::string& key) override;
    void Refresh() override;

    // The key of an item ("" for none).
    static QString KeyOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(const std::string& key) const;

private:
    QHash<QString, QTreeWidgetItem*> mByKey;
};
