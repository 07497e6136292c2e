#include "CRuleTreeWidget.h"

CRuleTreeWidget::CRuleTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
}

void CRuleTreeWidget::SetVisible(bool visible) { setVisible(visible); }

void CRuleTreeWidget::Clear() {
    clear();
    mByKey.clear();
}

void CRuleTreeWidget::Add(const std::string& parentKey, const std::string& key, const std::string& text) {
    QTreeWidgetItem* parent = parentKey.empty() ? nullptr : ItemOf(parentKey);
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    const QString k = QString::fromStdString(key);
    item->setText(0, QString::fromStdString(text));
    item->setData(0, Qt::UserRole, k);
    mByKey.insert(k, item);
}

QTreeWidgetItem* CRuleTreeWidget::ItemOf(const std::string& key) const {
    return mByKey.value(QString::fromStdString(key), nullptr);
}

QString CRuleTreeWidget::KeyOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toString() : QString();
}

void CRuleTreeWidget::Expand(const std::string& key) {
    if (QTreeWidgetItem* item = ItemOf(key)) item->setExpanded(true);
}

void CRuleTreeWidget::Select(const std::string& key) {
    if (QTreeWidgetItem* item = ItemOf(key)) setCurrentItem(item);
}

void CRuleTreeWidget::Refresh() { viewport()->update(); }
