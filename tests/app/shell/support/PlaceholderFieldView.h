// Stands in for the field statistics panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IFieldViewPanel.h"

#include <QStringList>

class PlaceholderFieldView : public base::IFieldViewPanel {
public:
    explicit PlaceholderFieldView(QWidget* parent = nullptr);

    void SelectField(const QString& fieldName) override;
    void Initialize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>) override;
    void AltInitialize(const QString& databaseName, const QString& tableName) override;

    QStringList calls;

private:
    void Record(const QString& call) { calls << call; }
};
