// The data-grid view as the shell, the marks and the exports see it.
#pragma once

#include "IDataBrowse.h"
#include "UPanel.h"

#include "MdbUtils.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace base {

class IGridPanel : public UPanel {
    Q_OBJECT
public:
    explicit IGridPanel(QWidget* parent = nullptr);
    ~IGridPanel() override;

    // The database file the grid's binding opens.
    virtual QString DatabaseName() const = 0;
    virtual void SetDatabaseName(const QString& name) = 0;
    // The SQL of the rows shown; setting it rebinds the grid.
    virtual void SetRecordSource(const QString& sql) = 0;
    // The browse view that formats the grid; null detaches it.
    virtual std::shared_ptr<IDataBrowse> DataBrowse() const = 0;
    virtual void SetDataBrowse(std::shared_ptr<IDataBrowse> view) = 0;
    virtual DatabasePtr Database() const = 0;
    // Null when the grid is not bound; its current row is the grid's.
    virtual RecordsetPtr RecordSet() const = 0;
    virtual int32_t RecordCount() const = 0;
    virtual void Refresh() = 0;
    virtual QVariant GetTopRowValue(const QString& columnName) const = 0;
    virtual void HoldColumn() = 0;
    virtual void ReleaseColumn() = 0;
    virtual void CopyCell() = 0;
    virtual void CopyRecord() = 0;
    virtual void ShowFind() = 0;
    virtual void Disconnect() = 0;
    virtual void SetSpecialSelectEnable(bool enable) = 0;

signals:
    void AddSort(const QString& sourceField, bool descending);
    void Show();
    void Hide();
    void SelectSpecial();
};

}  // namespace base
