// The field-statistics view as the shell sees it.
#pragma once

#include "UPanel.h"

#include <QString>

#include <memory>

class CDataDef;
class CProject;

namespace base {

class IFieldViewPanel : public UPanel {
    Q_OBJECT
public:
    explicit IFieldViewPanel(QWidget* parent = nullptr);
    ~IFieldViewPanel() override;

    virtual void SelectField(const QString& fieldName) = 0;
    // The statistics of the project's fields; without a project, an empty view naming no source.
    virtual void Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef) = 0;
    // Names and types of a raw table's fields, under that table's source.
    virtual void AltInitialize(const QString& databaseName, const QString& tableName) = 0;

signals:
    void ItemSelect(const QString& fieldName);  // double click on a field
};

}  // namespace base
