// The field-selection step panel as the shell sees it.
#pragma once

#include "INavPanel.h"
#include "UPanel.h"

#include <cstdint>
#include <memory>

class CDataDef;

namespace base {

class IFieldSelectPanel : public UPanel, public INavPanel {
    Q_OBJECT
public:
    explicit IFieldSelectPanel(QWidget* parent = nullptr);
    ~IFieldSelectPanel() override;

    // Fills the lists from the field definitions (kept for Refresh).
    virtual void Initialize(std::shared_ptr<CDataDef> dataDef) = 0;
    virtual void Refresh() = 0;
    virtual std::shared_ptr<CDataDef> CurrentDDO() const = 0;
    // True when the input field is compared as text.
    virtual bool MatchAsText(int16_t fieldNum) const = 0;

signals:
    void NavNext();
    void NavBack();
    void FieldSelect(int16_t fieldNum);
    // Asked before the first change to a stored selection; set cancel to refuse it.
    void VerifyModification(bool& cancel);
    void KeyDown(int16_t& keyCode, int16_t& shift);
    void KeyUp(int16_t& keyCode, int16_t& shift);
};

}  // namespace base
