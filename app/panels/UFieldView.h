// The field statistics view: one row per field of the data table with its
// type, missing count, range, mean, deviation and class count, and the data
// source's name above. A double click on a row raises ItemSelect.
#pragma once

#include "CListSort.h"
#include "IFieldViewPanel.h"

#include <QString>

class QLabel;
class QTreeWidget;

class UFieldView : public base::IFieldViewPanel {
    Q_OBJECT
public:
    explicit UFieldView(QWidget* parent = nullptr);

    void SelectField(const QString& fieldName) override;
    void Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef) override;
    void AltInitialize(const QString& databaseName, const QString& tableName) override;

    // The pattern of the four numbers of a numeric field with this range.
    static QString RangeFormat(double range);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    QLabel* mDataSource;
    QTreeWidget* mList;
    CListSort mSort;
};
