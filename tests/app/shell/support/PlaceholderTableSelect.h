// Stands in for the table selection panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "ITableSelectPanel.h"

#include <QStringList>

class PlaceholderTableSelect : public base::ITableSelectPanel {
public:
    explicit PlaceholderTableSelect(QWidget* parent = nullptr);

    QString DatabaseName() const override;
    QString TableName() const override;
    void Clear() override;
    bool Changed() const override;

    QStringList calls;
    QString databaseName, tableName;
    bool changed = false;

private:
    void Record(const QString& call) { calls << call; }
};
