// The table-selection step panel as the shell sees it.
#pragma once

#include "INavPanel.h"
#include "UPanel.h"

#include <QString>

#include <cstdint>

namespace base {

class ITableSelectPanel : public UPanel, public INavPanel {
    Q_OBJECT
public:
    explicit ITableSelectPanel(QWidget* parent = nullptr);
    ~ITableSelectPanel() override;

    // The path or ODBC connect text of the open data source, and the chosen table.
    virtual QString DatabaseName() const = 0;
    virtual QString TableName() const = 0;
    // Empties the table list and its labels and disables OK.
    virtual void Clear() = 0;

signals:
    void NavNext();
    void NavBack();
    // A table was picked; the handler answers hasKey (a primary, or for ODBC a unique, index).
    void TableSelect(const QString& databaseName, const QString& tableName, bool& hasKey);
    void KeyDown(int16_t& keyCode, int16_t& shift);
    void KeyUp(int16_t& keyCode, int16_t& shift);
};

}  // namespace base
