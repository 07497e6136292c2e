// Stands in for the class details panel in the shell's tests: shows
// its caption and records the calls it receives.
#pragma once

#include "IClassViewPanel.h"

#include <QStringList>

class PlaceholderClassView : public base::IClassViewPanel {
public:
    explicit PlaceholderClassView(QWidget* parent = nullptr);

    void Initialize(std::shared_ptr<CProject>) override;
    void SetField(const QString& fieldName) override;
    void Refresh() override;

    QStringList calls;

private:
    void Record(const QString& call) { calls << call; }
};
