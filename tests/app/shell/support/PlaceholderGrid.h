// Stands in for the data grid in the shell's tests: keeps what the
// shell sets, opens the database it names read-only, records the calls.
#pragma once

#include "IGridPanel.h"

#include <QStringList>

class QLabel;

class PlaceholderGrid : public base::IGridPanel {
public:
    explicit PlaceholderGrid(QWidget* parent = nullptr);

    QString DatabaseName() const override { return mDatabaseName; }
    void SetDatabaseName(const QString& name) override;
    void SetRecordSource(const QString& sql) override;
    std::shared_ptr<base::IDataBrowse> DataBrowse() const override { return mBrowse; }
    void SetDataBrowse(std::shared_ptr<base::IDataBrowse> view) override;
    DatabasePtr Database() const override;
    RecordsetPtr RecordSet() const override { return nullptr; }
    int32_t RecordCount() const override { return recordCount; }
    void Refresh() override;
    QVariant GetTopRowValue(const QString& columnName) const override;
    void HoldColumn() override;
    void ReleaseColumn() override;
    void CopyCell() override;
    void CopyRecord() override;
    void ShowFind() override;
    void Disconnect() override;
    void SetSpecialSelectEnable(bool enable) override;

    QStringList calls;
    QString recordSource;
    bool specialSelect = false;
    int32_t recordCount = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString mDatabaseName;
    std::shared_ptr<base::IDataBrowse> mBrowse;
    mutable DatabasePtr mDatabase;
    QLabel* mNote = nullptr;
};
