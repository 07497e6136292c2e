// Stands in for the field selection panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IFieldSelectPanel.h"

#include <QStringList>

class PlaceholderFieldSelect : public base::IFieldSelectPanel {
public:
    explicit PlaceholderFieldSelect(QWidget* parent = nullptr);

    void Initialize(std::shared_ptr<CDataDef> dataDef) override;
    void Refresh() override;
    std::shared_ptr<CDataDef> CurrentDDO() const override;
    bool MatchAsText(int16_t fieldNum) const override;
    bool Changed() const override;

    QStringList calls;
    std::shared_ptr<CDataDef> ddo;
    QList<int16_t> asText;
    bool changed = false;

private:
    void Record(const QString& call) { calls << call; }
};
