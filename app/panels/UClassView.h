// The class distribution view: for one field with classes, every value with
// its row count and share of all rows, and a last row for the missing values.
#pragma once

#include "CListSort.h"
#include "IClassViewPanel.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

class UClassView : public base::IClassViewPanel {
    Q_OBJECT
public:
    explicit UClassView(QWidget* parent = nullptr);

    void Initialize(std::shared_ptr<CProject> project) override;
    // A name that is not a field with classes, or an empty name while no
    // field has classes, leaves the view as it was.
    void SetField(const QString& fieldName = QString()) override;
    void Refresh() override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void cmbClass_Click();

    std::shared_ptr<CProject> mProject;
    QString mField;
    bool mBusy = false;
    QComboBox* mCombo;
    QLabel* mCount;
    QPushButton* mFieldStats;
    QTreeWidget* mList;
    CListSort mSort;
};
