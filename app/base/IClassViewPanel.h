// The class-distribution view as the shell sees it.
#pragma once

#include "UPanel.h"

#include <QString>

#include <memory>

class CProject;

namespace base {

class IClassViewPanel : public UPanel {
    Q_OBJECT
public:
    explicit IClassViewPanel(QWidget* parent = nullptr);
    ~IClassViewPanel() override;

    virtual void Initialize(std::shared_ptr<CProject> project) = 0;
    // Empty: the first field of the list.
    virtual void SetField(const QString& fieldName = QString()) = 0;
    virtual void Refresh() = 0;
};

}  // namespace base
