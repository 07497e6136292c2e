// Stands in for the live predictions panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IInteractivePanel.h"

#include <QStringList>

class PlaceholderInteractive : public base::IInteractivePanel {
public:
    explicit PlaceholderInteractive(QWidget* parent = nullptr);

    void Initialize(std::shared_ptr<CProject>, std::shared_ptr<CDataDef>, std::shared_ptr<CTRX>) override;
    void SetRow(const QVariant& key) override;

    QStringList calls;

private:
    void Record(const QString& call) { calls << call; }
};
