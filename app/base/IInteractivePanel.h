// The live-prediction view as the shell sees it.
#pragma once

#include "UPanel.h"

#include <QVariant>

#include <memory>

class CDataDef;
class CProject;
class CTRX;

namespace base {

class IInteractivePanel : public UPanel {
    Q_OBJECT
public:
    explicit IInteractivePanel(QWidget* parent = nullptr);
    ~IInteractivePanel() override;

    virtual void Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef,
                            std::shared_ptr<CTRX> trx) = 0;
    // A non-null key fills the inputs from that LinkDataSource row; null reads nothing.
    virtual void SetRow(const QVariant& key) = 0;
};

}  // namespace base
